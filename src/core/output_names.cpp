// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/output_names.h"

#include <sys/stat.h>

#include "job.h"

namespace {

std::string output_name(const Job& job, const std::string& suffix) {
  return job.odir + job.file_prefix + suffix;
}

}  // namespace

std::string accepted_draw_file_name(const Job& job, const char* parameter, int population) {
  return output_name(job, std::string("_") + parameter + std::to_string(population) + ".txt");
}

std::string regression_file_name(const Job& job) { return output_name(job, "_regression.txt"); }

std::string no_regression_file_name(const Job& job) {
  return output_name(job, "_no_regression.txt");
}

std::string diagnostics_file_name(const Job& job) { return output_name(job, "_diagnostics.txt"); }

std::string cv_file_name(const Job& job) { return output_name(job, "_cv.txt"); }

std::string cv_summary_file_name(const Job& job) { return output_name(job, "_cv_summary.txt"); }

std::string gof_file_name(const Job& job) { return output_name(job, "_gof.txt"); }

std::string gof_null_file_name(const Job& job) { return output_name(job, "_gof_null.txt"); }

std::string ppc_file_name(const Job& job) { return output_name(job, "_ppc.txt"); }

std::string posterior_figure_file_name(const Job& job) {
  return output_name(job, "_posterior.svg");
}

std::string cv_figure_file_name(const Job& job) { return output_name(job, "_cv.svg"); }

std::string gof_figure_file_name(const Job& job) { return output_name(job, "_gof.svg"); }

std::string check_input_file_name(const Job& job) { return output_name(job, "_check-input.txt"); }

std::string counts_file_name(const Job& job) { return output_name(job, "_counts.txt"); }

std::string codominant_file_name(const Job& job) { return output_name(job, "_codominant.txt"); }

std::string run_record_file_name(const Job& job) { return output_name(job, "_run.txt"); }

std::string checkpoint_file_name(const Job& job) { return output_name(job, "_checkpoint"); }

std::string checkpoint_rows_file_name(const Job& job) {
  return output_name(job, "_checkpoint_rows");
}

std::vector<std::string> existing_output_files(const Job& job) {
  std::vector<std::string> names = {check_input_file_name(job),      counts_file_name(job),
                                    regression_file_name(job),       no_regression_file_name(job),
                                    diagnostics_file_name(job),      codominant_file_name(job),
                                    run_record_file_name(job),       cv_file_name(job),
                                    cv_summary_file_name(job),       gof_file_name(job),
                                    gof_null_file_name(job),         ppc_file_name(job),
                                    posterior_figure_file_name(job), cv_figure_file_name(job),
                                    gof_figure_file_name(job)};
  if (job.stats_wanted) names.push_back(job.odir + job.stats_prefix);
  for (const char* parameter : {"Fis", "Fst"})
    for (int k = 1; k <= job.J; ++k) names.push_back(accepted_draw_file_name(job, parameter, k));
  std::vector<std::string> existing;
  for (const std::string& name : names) {
    struct stat info;
    if (stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode)) existing.push_back(name);
  }
  return existing;
}
