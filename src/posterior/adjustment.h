// SPDX-License-Identifier: GPL-3.0-or-later
// The regression adjustment of a job (adjustment.cpp): the accepted-draw files read back
// into one design per population and parameter, each fitted, and the two posterior sample
// files written.
#pragma once

#include <vector>

#include "job.h"
#include "posterior/posterior_samples.h"
#include "posterior/regression.h"

// Reads back every accepted-draw file and fits one weighted regression per population and
// parameter, with each population's acceptance thresholds (sums of squares); returns the
// adjusted and unadjusted samples. Checks first that the two posterior sample files can be
// created, so that a job that could not write them stops before the fits.
PosteriorSamples perform_regression(const Job& job, const std::vector<double>& thresholds_fis,
                                    const std::vector<double>& thresholds_fst);

// Ends the run with "Cannot create output file" when "_regression.txt" or
// "_no_regression.txt" cannot be created (nothing is left behind by the check).
void check_regression_outputs(const Job& job);

// Writes "_regression.txt" and "_no_regression.txt" from the samples (after the
// accepted-draw files are deleted).
void write_regression_outputs(const Job& job, const PosteriorSamples& posterior);

// Fits `design` and writes every draw's adjusted value to `reg`; a fit that fails (or has
// fewer draws than coefficients) ends the run naming the parameter and population k + 1.
void fit_and_adjust(const char* parameter, int k, const RegressionDesign& design,
                    std::vector<float>& reg);
