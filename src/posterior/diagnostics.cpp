// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior diagnostics of the regression adjustment.
//
// The adjustment extrapolates a linear fit from the cloud of accepted draws to the observed
// statistics. When the observed statistics lie outside that cloud, or when few draws carry
// the weight, the fitted slopes are poorly determined and the adjusted sample moves from run
// to run, sometimes all the way to 0 or 1 on the logit scale. Four figures show it:
// - the Monte Carlo error of the posterior mean, by the bootstrap (bootstrap.cpp);
// - the effective sample size of the kernel weights, (sum w)^2 / sum w^2 (Kish);
// - the number of statistics whose observed value lies outside the range of the weighted
//   draws (the fit extrapolates along them);
// - the share of adjusted values that are exactly 0 or 1 in single precision.
#include "posterior/diagnostics.h"

#include <cmath>

#include "posterior/bootstrap.h"
#include "posterior/posterior_stats.h"

namespace {

// The means, the adjusted sample's standard deviation and its share at the bounds.
void summarise_samples(const std::vector<float>& reg, const std::vector<float>& noreg,
                       DiagnosticsRow& row) {
  const int n = static_cast<int>(reg.size());
  const SampleMoments adjusted = sample_moments(reg.data(), nullptr, n);
  row.mean_adjusted = adjusted.mean;
  row.mean_unadjusted = sample_moments(noreg.data(), nullptr, n).mean;
  row.sd_adjusted = n > 1 ? std::sqrt(adjusted.variance) : 0.0;
  int at_bounds = 0;
  for (float v : reg)
    if (v == 0.0f || v == 1.0f) ++at_bounds;
  row.share_at_bounds = static_cast<double>(at_bounds) / n;
}

double kish_effective_size(const std::vector<double>& weights) {
  double sw = 0, sw2 = 0;
  for (double w : weights) {
    sw += w;
    sw2 += w * w;
  }
  return sw2 > 0 ? sw * sw / sw2 : NAN;
}

// The observed statistics sit at difference 0: a statistic whose weighted draws all lie on
// one side of 0 is extrapolated along.
int count_extrapolated(const RegressionDesign& design) {
  std::vector<float> lo, hi;
  if (!weighted_statistic_ranges(design, nullptr, design.n, lo, hi)) return 0;
  int extrapolated = 0;
  for (int j = 0; j < design.p; ++j)
    if (lo[j] > 0 || hi[j] < 0) ++extrapolated;
  return extrapolated;
}

}  // namespace

DiagnosticsRow diagnose(const std::string& label, const RegressionDesign& design,
                        const std::vector<float>& reg, const std::vector<float>& noreg,
                        unsigned long seed) {
  DiagnosticsRow row;
  row.label = label;
  summarise_samples(reg, noreg, row);
  row.ess = kish_effective_size(design.w);
  row.extrapolated = count_extrapolated(design);
  const BootstrapErrors errors = bootstrap_mc_errors(design, noreg, seed);
  row.mc_error_adjusted = errors.adjusted;
  row.mc_error_unadjusted = errors.unadjusted;
  return row;
}
