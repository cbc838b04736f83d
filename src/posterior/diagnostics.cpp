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

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <gsl/gsl_errno.h>

#include "config.h"
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
  FitWorkspace ws(n, p);
  std::vector<int> rows(n);
  std::vector<double> slopes, means, means_noreg;
  means.reserve(DIAGNOSTICS_RESAMPLES);
  means_noreg.reserve(DIAGNOSTICS_RESAMPLES);
  for (int b = 0; b < DIAGNOSTICS_RESAMPLES; ++b) {
    // randExc() is in [0, 1), so the index stays below n; its bias is below 2^-32 * n.
    for (int i = 0; i < n; ++i) rows[i] = static_cast<int>(rng.randExc() * n);
    double s_noreg = 0;
    for (int i = 0; i < n; ++i) s_noreg += noreg[rows[i]];
    means_noreg.push_back(s_noreg / n);
    // A resample can fail to fit (every drawn weight 0); it then adds no adjusted mean.
    if (fit_slopes(design, rows.data(), ws, slopes) != GSL_SUCCESS) continue;
    double s = 0;
    for (int i = 0; i < n; ++i) s += adjusted_value(design, rows[i], slopes);
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
      rows.push_back(diagnose(parameter + std::to_string(k + 1), designs[k], reg[k], noreg[k],
                              seed));
      std::string warning = diagnostics_warning(parameter, k + 1, rows.back(), no_regression);
      if (!warning.empty()) warnings.push_back(warning);
    }
  }

  std::ofstream out(name, std::ios::out | std::ios::trunc);
  if (!out) fail("Cannot create diagnostics file %s", name.c_str());
  out << "parameter mean_adjusted mean_unadjusted sd_adjusted mc_error_adjusted "
         "mc_error_unadjusted ess extrapolated share_at_bounds trusted\n";
  for (const DiagnosticsRow& r : rows)
    out << r.label << " " << number(r.mean_adjusted) << " " << number(r.mean_unadjusted) << " "
        << number(r.sd_adjusted) << " " << number(r.mc_error_adjusted) << " "
        << number(r.mc_error_unadjusted) << " " << number(r.ess) << " " << r.extrapolated << " "
        << number(r.share_at_bounds) << " " << (trusted(r) ? "TRUE" : "FALSE") << "\n";
  out.close();
  if (!out) fail("Cannot write diagnostics file %s", name.c_str());

  std::fflush(stdout);
  for (const std::string& w : warnings) std::fprintf(stderr, "%s\n", w.c_str());
  std::fflush(stderr);
}
