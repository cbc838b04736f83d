// SPDX-License-Identifier: GPL-3.0-or-later
// The refits of the bootstrap by the normal equations of the centred statistics.
//
// For the rows i of positive weight c_i w_i (multiplicity times kernel weight), with the
// weighted means xbar and ybar, the slopes b solve  A b = r  with
//   A = sum_i c_i w_i (x_i - xbar)(x_i - xbar)',  r = sum_i c_i w_i (x_i - xbar)(y_i - ybar);
// the intercept drops out with the centring. A is scaled to a unit diagonal and solved by
// Cholesky (Golub and Van Loan, Matrix Computations, 4th ed., 2013, sec. 4.2 and 6.1).
#include "posterior/normal_equations.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>

#include <algorithm>
#include <cmath>

#include "errors.h"
#include "posterior/regression.h"

namespace {

// The rows that count in the resample: drawn at least once and of positive kernel weight.
void rows_of_positive_weight(const RegressionDesign& design, const std::vector<int>& counts,
                             std::vector<int>& rows) {
  rows.clear();
  for (int i = 0; i < design.n; ++i)
    if (counts[i] * design.w[i] > 0) rows.push_back(i);
}

// The weighted means of the statistics (in ne.mean) and of the response (returned).
double weighted_means(const RegressionDesign& design, const std::vector<int>& counts,
                      NormalEquations& ne) {
  const int p = design.p;
  double sw = 0, ybar = 0;
  std::fill(ne.mean.begin(), ne.mean.end(), 0.0);
  for (int i : ne.rows) {
    const double cw = counts[i] * design.w[i];
    const float* row = &design.x[static_cast<size_t>(i) * p];
    sw += cw;
    ybar += cw * design.y[i];
    for (int j = 0; j < p; ++j) ne.mean[j] += cw * row[j];
  }
  for (int j = 0; j < p; ++j) ne.mean[j] /= sw;
  return ybar / sw;
}

// A and r over the kept statistics, into the leading q x q block of ne.a and q entries of
// ne.b (upper triangle of A only). Centring removes the intercept, whose collinearity with
// the statistics would square into the condition of the system.
void centred_cross_products(const RegressionDesign& design, const std::vector<int>& counts,
                            double ybar, NormalEquations& ne, gsl_matrix* a, gsl_vector* b) {
  const int p = design.p;
  const int q = static_cast<int>(ne.kept.size());
  const std::vector<int>& kept = ne.kept;
  std::vector<double>& dx = ne.scale;  // scratch for the centred row
  gsl_matrix_set_zero(a);
  gsl_vector_set_zero(b);
  for (int i : ne.rows) {
    const double cw = counts[i] * design.w[i];
    const float* row = &design.x[static_cast<size_t>(i) * p];
    for (int r = 0; r < q; ++r) dx[r] = row[kept[r]] - ne.mean[kept[r]];
    const double dy = design.y[i] - ybar;
    for (int r = 0; r < q; ++r) {
      const double cr = cw * dx[r];
      double* arow = gsl_matrix_ptr(a, r, 0);
      for (int c = r; c < q; ++c) arow[c] += cr * dx[c];
      *gsl_vector_ptr(b, r) += cr * dy;
    }
  }
}

// Scales A to a unit diagonal (filling both triangles) and r alike, the scales kept in
// ne.scale, so that the condition test judges the statistics' correlation, not their units.
void scale_to_unit_diagonal(NormalEquations& ne, gsl_matrix* a, gsl_vector* b) {
  const int q = static_cast<int>(ne.kept.size());
  std::vector<double>& s = ne.scale;
  for (int r = 0; r < q; ++r) s[r] = 1 / std::sqrt(gsl_matrix_get(a, r, r));
  for (int r = 0; r < q; ++r) {
    for (int c = r; c < q; ++c) {
      double v = gsl_matrix_get(a, r, c) * s[r] * s[c];
      gsl_matrix_set(a, r, c, v);
      gsl_matrix_set(a, c, r, v);
    }
    gsl_vector_set(b, r, gsl_vector_get(b, r) * s[r]);
  }
}

// Solves the scaled system in place (the solution in b); false when A is not positive
// definite or too ill-conditioned for this route.
bool solve_by_cholesky(NormalEquations& ne, gsl_matrix* a, gsl_vector* b) {
  const int q = static_cast<int>(ne.kept.size());
  int status = gsl_linalg_cholesky_decomp1(a);
  double rcond = 0;
  gsl_vector_view work = gsl_vector_subvector(ne.work.get(), 0, 3 * q);
  if (status == GSL_SUCCESS) status = gsl_linalg_cholesky_rcond(a, &rcond, &work.vector);
  // The normal equations square the condition number of the design; beyond 1e10 the
  // solution would keep fewer than 6 good digits, and the decomposition with truncation
  // that the full fit uses is the sound one.
  if (status == GSL_SUCCESS && rcond > 1e-10)
    status = gsl_linalg_cholesky_svx(a, b);
  else
    status = GSL_ESING;
  return status == GSL_SUCCESS;
}

}  // namespace

namespace {

// Allocated with GSL's handler off, so that a refused allocation comes back as null.
gsl_matrix* new_matrix(int n) {
  return_gsl_errors_as_statuses();
  return gsl_matrix_alloc(n, n);
}
gsl_vector* new_vector(int n) {
  return_gsl_errors_as_statuses();
  return gsl_vector_alloc(n);
}

}  // namespace

NormalEquations::NormalEquations(int p)
    : a(new_matrix(p > 0 ? p : 1), gsl_matrix_free),
      b(new_vector(p > 0 ? p : 1), gsl_vector_free),
      work(new_vector(3 * (p > 0 ? p : 1)), gsl_vector_free),
      mean(p),
      scale(p),
      lo(p),
      hi(p) {
  if (!a || !b || !work) fail("Out of memory for the diagnostics of %d statistics", p);
}

bool fit_slopes_by_normal_equations(const RegressionDesign& design, const std::vector<int>& counts,
                                    NormalEquations& ne, std::vector<double>& slopes) {
  slopes.assign(design.p, 0.0);
  rows_of_positive_weight(design, counts, ne.rows);
  if (ne.rows.empty()) return false;
  const double ybar = weighted_means(design, counts, ne);
  // A statistic without spread over these rows is left out, as in the full fit.
  weighted_statistic_ranges(design, ne.rows.data(), static_cast<int>(ne.rows.size()), ne.lo, ne.hi);
  varying_statistics(ne.lo, ne.hi, ne.kept);
  const int q = static_cast<int>(ne.kept.size());
  if (q == 0) return true;

  gsl_matrix_view a = gsl_matrix_submatrix(ne.a.get(), 0, 0, q, q);
  gsl_vector_view b = gsl_vector_subvector(ne.b.get(), 0, q);
  centred_cross_products(design, counts, ybar, ne, &a.matrix, &b.vector);
  scale_to_unit_diagonal(ne, &a.matrix, &b.vector);
  if (!solve_by_cholesky(ne, &a.matrix, &b.vector)) return false;
  for (int r = 0; r < q; ++r) {
    slopes[ne.kept[r]] = gsl_vector_get(&b.vector, r) * ne.scale[r];
    if (!std::isfinite(slopes[ne.kept[r]])) return false;
  }
  return true;
}
