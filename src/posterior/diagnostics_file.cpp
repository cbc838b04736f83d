// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostics file of a job and the warnings on standard error.
#include "posterior/diagnostics_file.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/output_file.h"
#include "core/output_names.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"
#include "posterior/adjustment.h"
#include "posterior/diagnostics.h"
#include "posterior/diagnostics_warning.h"
#include "posterior/posterior_samples.h"
#include "posterior/written_values.h"

namespace {

void write_rows(const std::string& name, const std::vector<DiagnosticsRow>& rows) {
  OutputFile file(name);
  if (!file.is_open()) fail("Cannot create diagnostics file %s", name.c_str());
  std::ofstream& out = file.stream();
  out << "parameter mean_adjusted mean_unadjusted sd_adjusted mc_error_adjusted "
         "mc_error_unadjusted ess extrapolated share_at_bounds trusted\n";
  for (const DiagnosticsRow& r : rows)
    out << r.label << " " << written(r.mean_adjusted) << " " << written(r.mean_unadjusted) << " "
        << written(r.sd_adjusted) << " " << written(r.mc_error_adjusted) << " "
        << written(r.mc_error_unadjusted) << " " << written(r.ess) << " " << r.extrapolated << " "
        << written(r.share_at_bounds) << " " << (row_trusted(r) ? "TRUE" : "FALSE") << "\n";
  if (!file.commit()) fail("Cannot write diagnostics file %s", name.c_str());
}

void print_warnings(const std::vector<std::string>& warnings) {
  std::fflush(stdout);
  // The console line of the regression ("Fst: population 1, 2, ") has no line end yet; on a
  // terminal the first warning would run on from it.
  if (!warnings.empty()) std::fputc('\n', stderr);
  for (const std::string& w : warnings) std::fprintf(stderr, "%s\n", w.c_str());
  std::fflush(stderr);
}

}  // namespace

std::vector<DiagnosticsRow> write_diagnostics(const Job& job, const PosteriorSamples& posterior) {
  std::vector<DiagnosticsRow> rows;
  std::vector<std::string> warnings;
  const std::string no_regression = no_regression_file_name(job);
  for (int t = 0; t < 2; ++t) {
    const char* parameter = t == 0 ? "Fis" : "Fst";
    const std::vector<RegressionDesign>& designs =
        t == 0 ? posterior.design_fis : posterior.design_fst;
    const std::vector<std::vector<float>>& reg = t == 0 ? posterior.reg_fis : posterior.reg_fst;
    const std::vector<std::vector<float>>& noreg =
        t == 0 ? posterior.noreg_fis : posterior.noreg_fst;
    if (designs.size() != static_cast<size_t>(job.J) || reg.size() != static_cast<size_t>(job.J))
      fail("Bug detected: diagnostics before the regression adjustment");
    for (int k = 0; k < job.J; ++k) {
      unsigned long seed = DIAGNOSTICS_SEED + rows.size();
      rows.push_back(
          diagnose(parameter + std::to_string(k + 1), designs[k], reg[k], noreg[k], seed));
      std::string warning = diagnostics_warning(parameter, k + 1, rows.back(), no_regression);
      if (!warning.empty()) warnings.push_back(warning);
    }
  }
  write_rows(diagnostics_file_name(job), rows);
  print_warnings(warnings);
  return rows;
}
