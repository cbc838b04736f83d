// SPDX-License-Identifier: GPL-3.0-or-later
// The regression adjustment of a job (adjustment.cpp): the accepted-draw files read back
// into one design per population and parameter, each fitted, and the two posterior sample
// files written.
#pragma once

#include <vector>

#include "posterior/regression.h"

// Opens the two output files, reads back every accepted-draw file, fits one weighted
// regression per population and parameter and fills reg_* and noreg_*. `thresholds_fis`,
// `thresholds_fst`: the production run's acceptance thresholds, per population.
void perform_regression(const std::vector<double>& thresholds_fis,
                        const std::vector<double>& thresholds_fst);

// Opens "_regression.txt" and "_no_regression.txt" under their temporary names
// (perform_regression does it first; the joint estimation, which reads no files, too).
void open_regression_outputs();

// Writes "_regression.txt" and "_no_regression.txt" (after the accepted-draw files are
// deleted) and closes them.
void write_regression_outputs();

// Filled by perform_regression (or the joint estimation); index population - 1. Live until
// the next job.
extern std::vector<RegressionDesign> design_fis;
extern std::vector<RegressionDesign> design_fst;

// Fits `design` and writes every draw's adjusted value to `reg`; a fit that fails (or has
// fewer draws than coefficients) ends the run naming the parameter and population k + 1.
void fit_and_adjust(const char* parameter, int k, const RegressionDesign& design,
                    std::vector<float>& reg);
