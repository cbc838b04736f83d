// SPDX-License-Identifier: GPL-3.0-or-later
// The weighted local-linear fit on the logit scale and the adjustment of one draw.
//
// Kernel: Epanechnikov-type weight w = 1 - d^2 / t, where d is the distance of a draw (as
// written in its file) and t the acceptance threshold on the squared distance; so w = 1 at
// the observed statistics and 0 at the edge of the acceptance region.
#include "posterior/regression.h"

#include <gsl/gsl_errno.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "errors.h"

namespace {

// Stand-ins for the parameter bounds, whose logit is infinite: logit(1 - 1e-8) is about
// 18.42 and logit(1e-8) about -18.42, far outside any fitted value yet finite.
constexpr double THETA_ONE = 0.99999999;
constexpr double THETA_ZERO = 1e-8;

}  // namespace

void return_gsl_errors_as_statuses() {
  static std::once_flag once;
  std::call_once(once, [] { gsl_set_error_handler_off(); });
}

FitWorkspace::FitWorkspace(int n, int p)
    : n_max(n),
      p_max(p),
      x(nullptr, gsl_matrix_free),
      y(nullptr, gsl_vector_free),
      w(nullptr, gsl_vector_free),
      c(nullptr, gsl_vector_free),
      cov(nullptr, gsl_matrix_free),
      work(nullptr, gsl_multifit_linear_free) {
  // A refused allocation is reported here, with the sizes, rather than by GSL.
  return_gsl_errors_as_statuses();
  x.reset(gsl_matrix_alloc(n, p + 1));
  y.reset(gsl_vector_alloc(n));
  w.reset(gsl_vector_alloc(n));
  c.reset(gsl_vector_alloc(p + 1));
  cov.reset(gsl_matrix_alloc(p + 1, p + 1));
  work.reset(gsl_multifit_linear_alloc(n, p + 1));
  if (!x || !y || !w || !c || !cov || !work)
    fail("Out of memory for a regression of %d draws and %d statistics", n, p);
}

double kernel_weight(double distance, double threshold) {
  double w;
  if (threshold > 0) {
    w = 1.0 - distance * distance / threshold;
  } else {
    // A threshold of 0 accepts only draws at distance 0 (few loci, discrete statistics);
    // they all match the observed statistics exactly, and 1 - 0/0 would poison the fit.
    w = 1.0;
  }
  // The distance is written with 5 significant digits, so a draw at the threshold can come
  // out a hair beyond it; such a draw carries no weight (the fit would ignore it anyway).
  return w > 0 ? w : 0.0;
}

double off_bounds(double theta) {
  if (theta == 1.0) return THETA_ONE;
  if (theta == 0.0) return THETA_ZERO;
  return theta;
}

double logit(double theta) { return std::log(theta / (1.0 - theta)); }

double inverse_logit(double z) {
  double e = std::exp(z);
  // exp overflows above z of about 709.78, and inf / inf is NaN; the limit is 1. (At the
  // other end exp(z) underflows to 0 and the formula gives 0 by itself.)
  if (std::isinf(e)) return 1.0;
  return e / (e + 1.0);
}

bool weighted_statistic_ranges(const RegressionDesign& design, const int* rows, int count,
                               std::vector<float>& lo, std::vector<float>& hi) {
  const int p = design.p;
  lo.resize(p);
  hi.resize(p);
  bool seen = false;
  for (int i = 0; i < count; ++i) {
    const int r = rows ? rows[i] : i;
    if (!(design.w[r] > 0)) continue;
    const float* row = &design.x[static_cast<size_t>(r) * p];
    for (int j = 0; j < p; ++j) {
      if (!seen || row[j] < lo[j]) lo[j] = row[j];
      if (!seen || row[j] > hi[j]) hi[j] = row[j];
    }
    seen = true;
  }
  return seen;
}

void varying_statistics(const std::vector<float>& lo, const std::vector<float>& hi,
                        std::vector<int>& kept) {
  kept.clear();
  for (size_t j = 0; j < lo.size(); ++j)
    if (lo[j] != hi[j]) kept.push_back(static_cast<int>(j));
}

namespace {

// The leverages h_ii of the fit that fit_slopes just made in `ws` on n rows: gsl_multifit_wlinear
// leaves in the workspace the singular value decomposition of the weighted design sqrt(W) U (its
// columns balanced), A holding the left singular vectors, so h_ii is the squared norm of
// row i of A over the directions the fit keeps. Orthonormal columns keep every h_ii in
// [0, 1] even where U'WU is nearly singular and its inverse useless.
void leverages(const FitWorkspace& ws, int n, std::vector<double>& h) {
  const gsl_multifit_linear_workspace* work = ws.work.get();
  const size_t rank = gsl_multifit_linear_rank(GSL_DBL_EPSILON, work);
  h.assign(n, 0.0);
  for (int i = 0; i < n; ++i) {
    const double* u = gsl_matrix_const_ptr(work->A, i, 0);
    double sum = 0.0;
    for (size_t j = 0; j < rank; ++j) sum += u[j] * u[j];
    h[i] = sum;
  }
}

}  // namespace

int fit_slopes(const RegressionDesign& design, const int* rows, FitWorkspace& ws,
               std::vector<double>& slopes) {
  const int n = design.n;
  const int p = design.p;
  auto row_of = [rows](int i) { return rows ? rows[i] : i; };

  // A statistic that does not vary over the draws that carry weight is collinear with the
  // intercept. GSL's decomposition may not truncate that direction (column balancing leaves
  // a tiny but non-zero singular value) and then returns slopes of order 1e13 that send
  // every adjusted value to 0 or 1. The data say nothing about such a statistic: slope 0.
  std::vector<float> lo, hi;
  std::vector<int> kept;
  if (weighted_statistic_ranges(design, rows, n, lo, hi)) varying_statistics(lo, hi, kept);
  const int q = static_cast<int>(kept.size());

  gsl_matrix_view x = gsl_matrix_submatrix(ws.x.get(), 0, 0, n, q + 1);
  gsl_vector_view c = gsl_vector_subvector(ws.c.get(), 0, q + 1);
  gsl_matrix_view cov = gsl_matrix_submatrix(ws.cov.get(), 0, 0, q + 1, q + 1);
  // The workspace may hold more rows than this fit: GSL wants y and w as long as x.
  gsl_vector_view y = gsl_vector_subvector(ws.y.get(), 0, n);
  gsl_vector_view w = gsl_vector_subvector(ws.w.get(), 0, n);
  for (int i = 0; i < n; ++i) {
    int r = row_of(i);
    const float* row = &design.x[static_cast<size_t>(r) * p];
    gsl_matrix_set(&x.matrix, i, 0, 1.0);
    for (int j = 0; j < q; ++j) gsl_matrix_set(&x.matrix, i, j + 1, row[kept[j]]);
    gsl_vector_set(&y.vector, i, design.y[r]);
    gsl_vector_set(&w.vector, i, design.w[r]);
  }

  double chisq = 0.0;
  int status = gsl_multifit_wlinear(&x.matrix, &w.vector, &y.vector, &c.vector, &cov.matrix, &chisq,
                                    ws.work.get());

  slopes.assign(p, 0.0);
  for (int j = 0; j < q; ++j) {
    slopes[kept[j]] = gsl_vector_get(&c.vector, j + 1);
    if (status == GSL_SUCCESS && !std::isfinite(slopes[kept[j]])) status = GSL_ESING;
  }
  return status;
}

int fit_and_adjust_rows(const RegressionDesign& design, FitWorkspace& ws,
                        std::vector<double>& slopes, std::vector<float>& adjusted) {
  const int n = design.n;
  adjusted.resize(n);
  const int status = fit_slopes(design, nullptr, ws, slopes);
  if (status != GSL_SUCCESS) return status;
  if (!design.leave_one_out_residuals) {
    for (int i = 0; i < n; ++i) adjusted[i] = adjusted_value(design, i, slopes);
    return status;
  }
  // fit_slopes leaves its coefficients (the intercept first) and decomposition in `ws`.
  const double intercept = gsl_vector_get(ws.c.get(), 0);
  std::vector<double> h;
  leverages(ws, n, h);
  for (int i = 0; i < n; ++i) {
    const float* row = &design.x[static_cast<size_t>(i) * design.p];
    double z = design.y[i];
    for (int j = 0; j < design.p; ++j) z -= row[j] * slopes[j];
    const double residual = z - intercept;
    const double loo = residual / (1 - std::min(h[i], MAX_LEVERAGE));
    adjusted[i] = static_cast<float>(inverse_logit(intercept + loo));
  }
  return status;
}

float adjusted_value(const RegressionDesign& design, int i, const std::vector<double>& slopes) {
  const float* row = &design.x[static_cast<size_t>(i) * design.p];
  double z = design.y[i];
  for (int j = 0; j < design.p; ++j) z -= row[j] * slopes[j];
  return static_cast<float>(inverse_logit(z));
}
