// Regression adjustment of the accepted draws (local-linear, logit scale, weighted).
#pragma once

// Opens the two output files, reads back every accepted-draw file, fits one weighted
// regression per population and parameter and fills reg_* and noreg_*.
void perform_regression();

// Writes "_regression.txt" and "_no_regression.txt" (after the accepted-draw files are
// deleted) and closes them.
void write_regression_outputs();
