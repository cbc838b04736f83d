// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostics file of a job and its warnings (diagnostics_file.cpp).
#pragma once

#include "job.h"
#include "posterior/posterior_samples.h"

// Writes odir + file_prefix + "_diagnostics.txt" (after the regression, whose designs it
// refits) and then warns on standard error for every population and parameter whose
// adjusted estimate is not to be trusted.
void write_diagnostics(const Job& job, const PosteriorSamples& posterior);
