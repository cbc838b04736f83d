// Posterior diagnostics of the regression adjustment.
//
// The adjustment extrapolates a linear fit from the cloud of accepted draws to the observed
// statistics. When the observed statistics lie outside that cloud, or when few draws carry
// the weight, the fitted slopes are poorly determined and the adjusted sample moves from run
// to run, sometimes all the way to 0 or 1 on the logit scale. Four figures show it:
// - the Monte Carlo error of the posterior mean, by the nonparametric bootstrap (Efron and
//   Tibshirani, An Introduction to the Bootstrap, 1993, ch. 6): the accepted draws are
//   resampled with replacement, the weighted regression is refitted on each resample, and
//   the standard deviation of the resampled means is the spread a rerun would show;
// - the effective sample size of the kernel weights, (sum w)^2 / sum w^2 (Kish);
// - the number of statistics whose observed value lies outside the range of the weighted
//   draws (the fit extrapolates along them);
// - the share of adjusted values that are exactly 0 or 1 in single precision.
#include "posterior/diagnostics.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "config.h"
#include "core/output_file.h"
#include "errors.h"
#include "observed_data.h"
#include "posterior_samples.h"
#include "random/mtrand.h"

namespace {

// Warn when a rerun would move the adjusted mean by more than a quarter of the posterior
// standard deviation: the estimate is then dominated by which draws happened to be accepted.
constexpr double MC_ERROR_SHARE_OF_SD = 0.25;

double sample_sd(const std::vector<double>& values) {
  const size_t n = values.size();
  if (n < 2) return NAN;
  double mean = 0;
  for (double v : values) mean += v;
  mean /= n;
  double ss = 0;
  for (double v : values) ss += (v - mean) * (v - mean);
  return std::sqrt(ss / (n - 1));
}

// NaN written as NA, which R's read.table and pandas both read as missing.
std::string number(double v) {
  if (std::isnan(v)) return "NA";
  std::ostringstream s;
  s << v;
  return s.str();
}

bool trusted(const DiagnosticsRow& row) {
  return row.mc_error_adjusted <= MC_ERROR_SHARE_OF_SD * row.sd_adjusted &&
         row.share_at_bounds == 0 && row.extrapolated == 0;
}

}  // namespace

NormalEquations::NormalEquations(int p)
    : a(gsl_matrix_alloc(p > 0 ? p : 1, p > 0 ? p : 1), gsl_matrix_free),
      b(gsl_vector_alloc(p > 0 ? p : 1), gsl_vector_free),
      work(gsl_vector_alloc(3 * (p > 0 ? p : 1)), gsl_vector_free),
      mean(p),
      scale(p),
      lo(p),
      hi(p) {
  if (!a || !b || !work) fail("Out of memory for the diagnostics of %d statistics", p);
}

bool fit_slopes_by_normal_equations(const RegressionDesign& design, const std::vector<int>& counts,
                                    NormalEquations& ne, std::vector<double>& slopes) {
  const int n = design.n;
  const int p = design.p;
  slopes.assign(p, 0.0);

  // Pass 1: the weighted means, and the range of every statistic over the rows that carry
  // weight (a statistic without spread there is left out, as in the full fit).
  double sw = 0, ybar = 0;
  std::fill(ne.mean.begin(), ne.mean.end(), 0.0);
  bool first = true;
  for (int i = 0; i < n; ++i) {
    const double cw = counts[i] * design.w[i];
    if (!(cw > 0)) continue;
    const float* row = &design.x[static_cast<size_t>(i) * p];
    sw += cw;
    ybar += cw * design.y[i];
    for (int j = 0; j < p; ++j) {
      ne.mean[j] += cw * row[j];
      if (first || row[j] < ne.lo[j]) ne.lo[j] = row[j];
      if (first || row[j] > ne.hi[j]) ne.hi[j] = row[j];
    }
    first = false;
  }
  if (!(sw > 0)) return false;
  ybar /= sw;
  std::vector<int>& kept = ne.kept;
  kept.clear();
  for (int j = 0; j < p; ++j) {
    ne.mean[j] /= sw;
    if (ne.lo[j] != ne.hi[j]) kept.push_back(j);
  }
  const int q = static_cast<int>(kept.size());
  if (q == 0) return true;

  // Pass 2: the centred cross-products (centring removes the intercept, whose collinearity
  // with the statistics would square into the condition of the system).
  gsl_matrix_view a = gsl_matrix_submatrix(ne.a.get(), 0, 0, q, q);
  gsl_vector_view b = gsl_vector_subvector(ne.b.get(), 0, q);
  gsl_matrix_set_zero(&a.matrix);
  gsl_vector_set_zero(&b.vector);
  std::vector<double>& dx = ne.scale;  // scratch for the centred row, then the scales
  for (int i = 0; i < n; ++i) {
    const double cw = counts[i] * design.w[i];
    if (!(cw > 0)) continue;
    const float* row = &design.x[static_cast<size_t>(i) * p];
    for (int r = 0; r < q; ++r) dx[r] = row[kept[r]] - ne.mean[kept[r]];
    const double dy = design.y[i] - ybar;
    for (int r = 0; r < q; ++r) {
      const double cr = cw * dx[r];
      double* arow = gsl_matrix_ptr(&a.matrix, r, 0);
      for (int c = r; c < q; ++c) arow[c] += cr * dx[c];
      *gsl_vector_ptr(&b.vector, r) += cr * dy;
    }
  }
  // Scale to a unit diagonal so that the condition test below judges the statistics'
  // correlation, not their units.
  for (int r = 0; r < q; ++r) dx[r] = 1 / std::sqrt(gsl_matrix_get(&a.matrix, r, r));
  for (int r = 0; r < q; ++r) {
    for (int c = r; c < q; ++c) {
      double v = gsl_matrix_get(&a.matrix, r, c) * dx[r] * dx[c];
      gsl_matrix_set(&a.matrix, r, c, v);
      gsl_matrix_set(&a.matrix, c, r, v);
    }
    gsl_vector_set(&b.vector, r, gsl_vector_get(&b.vector, r) * dx[r]);
  }

  gsl_error_handler_t* previous = gsl_set_error_handler_off();
  int status = gsl_linalg_cholesky_decomp1(&a.matrix);
  double rcond = 0;
  gsl_vector_view work = gsl_vector_subvector(ne.work.get(), 0, 3 * q);
  if (status == GSL_SUCCESS) status = gsl_linalg_cholesky_rcond(&a.matrix, &rcond, &work.vector);
  // The normal equations square the condition number of the design; beyond 1e10 the
  // solution would keep fewer than 6 good digits, and the decomposition with truncation
  // that the full fit uses is the sound one.
  if (status == GSL_SUCCESS && rcond > 1e-10)
    status = gsl_linalg_cholesky_svx(&a.matrix, &b.vector);
  else
    status = GSL_ESING;
  gsl_set_error_handler(previous);
  if (status != GSL_SUCCESS) return false;
  for (int r = 0; r < q; ++r) {
    slopes[kept[r]] = gsl_vector_get(&b.vector, r) * dx[r];
    if (!std::isfinite(slopes[kept[r]])) return false;
  }
  return true;
}

DiagnosticsRow diagnose(const std::string& label, const RegressionDesign& design,
                        const std::vector<float>& reg, const std::vector<float>& noreg,
                        unsigned long seed) {
  const int n = design.n;
  const int p = design.p;
  DiagnosticsRow row;
  row.label = label;

  double sum = 0, sum_noreg = 0;
  int at_bounds = 0;
  for (int i = 0; i < n; ++i) {
    sum += reg[i];
    sum_noreg += noreg[i];
    if (reg[i] == 0.0f || reg[i] == 1.0f) ++at_bounds;
  }
  row.mean_adjusted = sum / n;
  row.mean_unadjusted = sum_noreg / n;
  row.share_at_bounds = static_cast<double>(at_bounds) / n;
  double ss = 0;
  for (int i = 0; i < n; ++i) ss += (reg[i] - row.mean_adjusted) * (reg[i] - row.mean_adjusted);
  row.sd_adjusted = n > 1 ? std::sqrt(ss / (n - 1)) : 0.0;

  double sw = 0, sw2 = 0;
  for (double w : design.w) {
    sw += w;
    sw2 += w * w;
  }
  row.ess = sw2 > 0 ? sw * sw / sw2 : NAN;

  for (int j = 0; j < p; ++j) {
    float lo = 0, hi = 0;
    bool seen = false;
    for (int i = 0; i < n; ++i) {
      if (!(design.w[i] > 0)) continue;
      float v = design.x[static_cast<size_t>(i) * p + j];
      if (!seen || v < lo) lo = v;
      if (!seen || v > hi) hi = v;
      seen = true;
    }
    // The observed statistics sit at difference 0.
    if (seen && (lo > 0 || hi < 0)) ++row.extrapolated;
  }

  MTRand rng;
  rng.seed(seed);
  NormalEquations ne(p);
  std::unique_ptr<FitWorkspace> ws;  // only for resamples the normal equations refuse
  std::vector<int> rows(n), counts(n);
  std::vector<double> slopes, means, means_noreg;
  means.reserve(DIAGNOSTICS_RESAMPLES);
  means_noreg.reserve(DIAGNOSTICS_RESAMPLES);
  for (int b = 0; b < DIAGNOSTICS_RESAMPLES; ++b) {
    // randExc() is in [0, 1), so the index stays below n; its bias is below 2^-32 * n.
    std::fill(counts.begin(), counts.end(), 0);
    for (int i = 0; i < n; ++i) {
      rows[i] = static_cast<int>(rng.randExc() * n);
      ++counts[rows[i]];
    }
    double s_noreg = 0;
    for (int i = 0; i < n; ++i) s_noreg += counts[i] * static_cast<double>(noreg[i]);
    means_noreg.push_back(s_noreg / n);
    // A resample is the same weighted fit with each weight times the draw's multiplicity.
    if (!fit_slopes_by_normal_equations(design, counts, ne, slopes)) {
      if (!ws) ws.reset(new FitWorkspace(n, p));
      // A resample can fail to fit (every drawn weight 0); it then adds no adjusted mean.
      if (fit_slopes(design, rows.data(), *ws, slopes) != GSL_SUCCESS) continue;
    }
    double s = 0;
    for (int i = 0; i < n; ++i)
      if (counts[i] > 0) s += counts[i] * static_cast<double>(adjusted_value(design, i, slopes));
    means.push_back(s / n);
  }
  row.mc_error_adjusted = sample_sd(means);
  row.mc_error_unadjusted = sample_sd(means_noreg);
  return row;
}

std::string diagnostics_warning(const char* parameter, int population, const DiagnosticsRow& row,
                                const std::string& no_regression_file) {
  if (trusted(row)) return "";
  std::ostringstream s;
  s.precision(3);
  s << "Warning: the adjusted " << parameter << " of population " << population
    << " is not to be trusted:";
  const char* sep = " ";
  if (std::isnan(row.mc_error_adjusted)) {
    s << sep << "its Monte Carlo error could not be estimated (the resampled fits failed)";
    sep = "; ";
  } else if (!(row.mc_error_adjusted <= MC_ERROR_SHARE_OF_SD * row.sd_adjusted)) {
    s << sep << "Monte Carlo error " << row.mc_error_adjusted
      << " exceeds a quarter of its posterior sd " << row.sd_adjusted;
    sep = "; ";
  }
  if (row.share_at_bounds > 0) {
    s << sep << 100 * row.share_at_bounds << "% of its adjusted values are exactly 0 or 1";
    sep = "; ";
  }
  if (row.extrapolated > 0) {
    s << sep << "the regression extrapolates: " << row.extrapolated
      << " observed statistic(s) lie outside the range of the accepted draws";
  }
  s << ". Use the unadjusted sample in \"" << no_regression_file
    << "\", or rerun with more accepted draws (-n) or a larger acceptance ratio (-ar).";
  return s.str();
}

void write_diagnostics() {
  const std::string name = odir + file_prefix + "_diagnostics.txt";
  std::vector<DiagnosticsRow> rows;
  std::vector<std::string> warnings;
  const std::string no_regression = odir + file_prefix + "_no_regression.txt";
  for (int t = 0; t < 2; ++t) {
    const char* parameter = t == 0 ? "Fis" : "Fst";
    const std::vector<RegressionDesign>& designs = t == 0 ? design_fis : design_fst;
    const std::vector<std::vector<float>>& reg = t == 0 ? reg_fis : reg_fst;
    const std::vector<std::vector<float>>& noreg = t == 0 ? noreg_fis : noreg_fst;
    if (designs.size() != static_cast<size_t>(J) || reg.size() != static_cast<size_t>(J))
      fail("Bug detected: diagnostics before the regression adjustment");
    for (int k = 0; k < J; ++k) {
      unsigned long seed = DIAGNOSTICS_SEED + rows.size();
      rows.push_back(
          diagnose(parameter + std::to_string(k + 1), designs[k], reg[k], noreg[k], seed));
      std::string warning = diagnostics_warning(parameter, k + 1, rows.back(), no_regression);
      if (!warning.empty()) warnings.push_back(warning);
    }
  }

  OutputFile file(name);
  if (!file.is_open()) fail("Cannot create diagnostics file %s", name.c_str());
  std::ofstream& out = file.stream();
  out << "parameter mean_adjusted mean_unadjusted sd_adjusted mc_error_adjusted "
         "mc_error_unadjusted ess extrapolated share_at_bounds trusted\n";
  for (const DiagnosticsRow& r : rows)
    out << r.label << " " << number(r.mean_adjusted) << " " << number(r.mean_unadjusted) << " "
        << number(r.sd_adjusted) << " " << number(r.mc_error_adjusted) << " "
        << number(r.mc_error_unadjusted) << " " << number(r.ess) << " " << r.extrapolated << " "
        << number(r.share_at_bounds) << " " << (trusted(r) ? "TRUE" : "FALSE") << "\n";
  if (!file.commit()) fail("Cannot write diagnostics file %s", name.c_str());

  std::fflush(stdout);
  // The console line of the regression ("Fst: population 1, 2, ") has no line end yet; on a
  // terminal the first warning would run on from it.
  if (!warnings.empty()) std::fputc('\n', stderr);
  for (const std::string& w : warnings) std::fprintf(stderr, "%s\n", w.c_str());
  std::fflush(stderr);
}
