// SPDX-License-Identifier: GPL-3.0-or-later
// The verdict on one row of the diagnostics, and the warning that explains it to the user.
#include "posterior/diagnostics_warning.h"

#include <cmath>
#include <sstream>

#include "posterior/diagnostics.h"

namespace {

// Warn when a rerun would move the adjusted mean by more than a quarter of the posterior
// standard deviation: the estimate is then dominated by which draws happened to be accepted.
constexpr double MC_ERROR_SHARE_OF_SD = 0.25;

bool mc_error_small(const DiagnosticsRow& row) {
  return row.mc_error_adjusted <= MC_ERROR_SHARE_OF_SD * row.sd_adjusted;
}

}  // namespace

bool row_trusted(const DiagnosticsRow& row) {
  return mc_error_small(row) && row.share_at_bounds == 0 && row.extrapolated == 0;
}

std::string diagnostics_warning(const char* parameter, int population, const DiagnosticsRow& row,
                                const std::string& no_regression_file) {
  if (row_trusted(row)) return "";
  std::ostringstream s;
  s.precision(3);
  s << "Warning: the adjusted " << parameter << " of population " << population
    << " is not to be trusted:";
  const char* sep = " ";
  if (std::isnan(row.mc_error_adjusted)) {
    s << sep << "its Monte Carlo error could not be estimated (the resampled fits failed)";
    sep = "; ";
  } else if (!mc_error_small(row)) {
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
