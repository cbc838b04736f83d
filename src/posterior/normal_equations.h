// SPDX-License-Identifier: GPL-3.0-or-later
// The refits of the diagnostics by the normal equations (normal_equations.cpp).
#pragma once

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include <memory>
#include <vector>

#include "posterior/regression.h"

// Work space of the refits by the normal equations, for p statistics.
struct NormalEquations {
  explicit NormalEquations(int p);
  std::unique_ptr<gsl_matrix, decltype(&gsl_matrix_free)> a;
  std::unique_ptr<gsl_vector, decltype(&gsl_vector_free)> b;
  std::unique_ptr<gsl_vector, decltype(&gsl_vector_free)> work;
  std::vector<double> mean, scale;
  std::vector<float> lo, hi;
  std::vector<int> rows;  // rows of positive weight in the current resample
  std::vector<int> kept;  // statistics in the fit
};

// The slopes of the weighted fit in which draw i counts counts[i] times (a resample with
// replacement), by the normal equations of the centred statistics: some twenty times
// faster than the full decomposition for 5000 draws and 25 statistics. Leaves out the same
// statistics as fit_slopes. Returns false, leaving the fit to fit_slopes, when no draw
// carries weight or the system is too ill-conditioned to solve this way.
bool fit_slopes_by_normal_equations(const RegressionDesign& design, const std::vector<int>& counts,
                                    NormalEquations& ne, std::vector<double>& slopes);
