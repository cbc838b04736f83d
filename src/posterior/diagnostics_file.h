// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostics file of a job and its warnings (diagnostics_file.cpp).
#pragma once

#include <vector>

#include "job.h"
#include "job_results.h"
#include "posterior/posterior_samples.h"

// Writes odir + file_prefix + "_diagnostics.txt" (after the regression, whose designs it
// refits) and then warns on standard error for every population and parameter whose
// adjusted estimate is not to be trusted. Returns the file's rows.
std::vector<DiagnosticsRow> write_diagnostics(const Job& job, const PosteriorSamples& posterior);
