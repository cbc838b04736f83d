// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/output_names.h"

#include "config.h"

namespace {

std::string output_name(const std::string& suffix) { return odir + file_prefix + suffix; }

}  // namespace

std::string accepted_draw_file_name(const char* parameter, int population) {
  return output_name(std::string("_") + parameter + std::to_string(population) + ".txt");
}

std::string regression_file_name() { return output_name("_regression.txt"); }

std::string no_regression_file_name() { return output_name("_no_regression.txt"); }

std::string diagnostics_file_name() { return output_name("_diagnostics.txt"); }

std::string cv_file_name() { return output_name("_cv.txt"); }

std::string cv_summary_file_name() { return output_name("_cv_summary.txt"); }

std::string gof_file_name() { return output_name("_gof.txt"); }

std::string gof_null_file_name() { return output_name("_gof_null.txt"); }

std::string ppc_file_name() { return output_name("_ppc.txt"); }

std::string posterior_figure_file_name() { return output_name("_posterior.svg"); }

std::string cv_figure_file_name() { return output_name("_cv.svg"); }

std::string gof_figure_file_name() { return output_name("_gof.svg"); }

std::string check_input_file_name() { return output_name("_check-input.txt"); }

std::string counts_file_name() { return output_name("_counts.txt"); }

std::string codominant_file_name() { return output_name("_codominant.txt"); }

std::string run_record_file_name() { return output_name("_run.txt"); }

std::string checkpoint_file_name() { return output_name("_checkpoint"); }

std::string checkpoint_rows_file_name() { return output_name("_checkpoint_rows"); }
