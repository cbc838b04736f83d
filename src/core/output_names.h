// SPDX-License-Identifier: GPL-3.0-or-later
// Names of every file a job writes, built here from the job's odir and file_prefix and
// nowhere else (both are raw prefixes: "-od out/" gives "out/stem_...").
#pragma once

#include <string>
#include <vector>

struct Job;

// Accepted draws of population number `population` (from 1) and parameter "Fis" or "Fst":
// odir + file_prefix + "_" + parameter + population + ".txt".
std::string accepted_draw_file_name(const Job& job, const char* parameter, int population);

// The regression-adjusted and the unadjusted posterior samples.
std::string regression_file_name(const Job& job);
std::string no_regression_file_name(const Job& job);

// The diagnostics table of the regression adjustment.
std::string diagnostics_file_name(const Job& job);

// The cross-validation's estimates and summary (-cv).
std::string cv_file_name(const Job& job);
std::string cv_summary_file_name(const Job& job);

// The goodness-of-fit test (-gof): its results, its null distributions and the posterior
// predictive check.
std::string gof_file_name(const Job& job);
std::string gof_null_file_name(const Job& job);
std::string ppc_file_name(const Job& job);

// The input as the reader understood it, the counts derived from a band matrix, and the
// codominant conversion (-convert).
std::string check_input_file_name(const Job& job);
std::string counts_file_name(const Job& job);
std::string codominant_file_name(const Job& job);

// The run record, and the checkpoint of a job in progress with the rows file beside it.
std::string run_record_file_name(const Job& job);
std::string checkpoint_file_name(const Job& job);
std::string checkpoint_rows_file_name(const Job& job);

// The figures (-plot).
std::string posterior_figure_file_name(const Job& job);
std::string cv_figure_file_name(const Job& job);
std::string gof_figure_file_name(const Job& job);

// The files of the list above that exist once the job is over (the statistics file, odir +
// stats_prefix, among them), in the order of the list.
std::vector<std::string> existing_output_files(const Job& job);
