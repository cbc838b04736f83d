// SPDX-License-Identifier: GPL-3.0-or-later
// Regression adjustment of the accepted draws (local-linear, logit scale, weighted).
//
// Model: for the accepted draws i of one population and parameter, with statistic
// differences x_i (simulated minus observed) and kernel weights w_i, fit by weighted least
// squares  logit(theta_i) = c_0 + x_i . c + e_i  and move every draw to the observed
// statistics (x = 0):  theta_i* = invlogit(logit(theta_i) - x_i . c).
// M. A. Beaumont, W. Zhang and D. J. Balding, "Approximate Bayesian computation in
// population genetics", Genetics 162 (2002) 2025-2035.
#pragma once

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit.h>
#include <gsl/gsl_vector.h>

#include <memory>
#include <string>
#include <vector>

// GSL's default error handler aborts the process. Every GSL call of the program checks the
// status it returns instead, so the handler is switched off, once for the whole process: it
// is a process-wide setting, and switching it off and back around each fit would race
// between the threads that fit at once (the cross-validation's). Called at start-up and by
// every workspace's constructor, so that a caller of the library gets it too; only the first
// call acts.
void return_gsl_errors_as_statuses();

// The data of one regression (one population, one parameter), kept after the fit so that
// the diagnostics can refit resamples once the accepted-draw files are gone.
struct RegressionDesign {
  int n = 0;              // draws
  int p = 0;              // statistics per draw
  std::vector<float> x;   // statistic differences, row-major n by p, as read
  std::vector<double> y;  // logit of the parameter (after the 0/1 replacement)
  std::vector<double> w;  // kernel weights, negative ones already set to 0
  // The adjusted draws carry their in-sample residuals (the default method), or their
  // leave-one-out residuals r_i / (1 - h_ii) (-method joint); see fit_and_adjust_rows.
  bool leave_one_out_residuals = false;
};

// GSL objects of a weighted fit with at most n rows and p + 1 coefficients, owned by guards
// and reused from fit to fit (the diagnostics refit a hundred resamples per population).
struct FitWorkspace {
  FitWorkspace(int n, int p);
  int n_max, p_max;
  std::unique_ptr<gsl_matrix, decltype(&gsl_matrix_free)> x;
  std::unique_ptr<gsl_vector, decltype(&gsl_vector_free)> y;
  std::unique_ptr<gsl_vector, decltype(&gsl_vector_free)> w;
  std::unique_ptr<gsl_vector, decltype(&gsl_vector_free)> c;
  std::unique_ptr<gsl_matrix, decltype(&gsl_matrix_free)> cov;
  std::unique_ptr<gsl_multifit_linear_workspace, decltype(&gsl_multifit_linear_free)> work;
};

// The kernel weight of a draw at distance d (as written in its file) under the acceptance
// threshold t on the squared distance: 1 - d^2 / t, and 0 beyond the threshold.
double kernel_weight(double distance, double threshold);

// A parameter value in [0, 1] with the bounds replaced by values whose logit is finite (the
// replaced value is the one kept as the unadjusted sample, too).
double off_bounds(double theta);

// log(theta / (1 - theta)): the regression's response.
double logit(double theta);

// The range [lo[j], hi[j]] of every statistic j over the rows `rows[0..count)` of `design`
// that carry positive weight (all rows, in order, when `rows` is null). Returns false, with
// lo and hi unspecified, when no such row exists.
bool weighted_statistic_ranges(const RegressionDesign& design, const int* rows, int count,
                               std::vector<float>& lo, std::vector<float>& hi);

// The statistics that vary over the rows of positive weight (lo != hi), ascending. The
// others are collinear with the intercept: every fit leaves them out with slope 0.
void varying_statistics(const std::vector<float>& lo, const std::vector<float>& hi,
                        std::vector<int>& kept);

// Fits the weighted regression on the rows `rows` of `design` (all rows, in order, when
// `rows` is null; otherwise `design.n` row indices, repeats allowed) and writes the p slopes
// to `slopes` (the intercept is not needed by the adjustment). A statistic that is constant
// over the rows of positive weight is left out of the fit and gets slope 0. Returns the GSL
// status; on failure `slopes` is unspecified.
int fit_slopes(const RegressionDesign& design, const int* rows, FitWorkspace& ws,
               std::vector<double>& slopes);

// Fits `design` on all its rows and writes every row's adjusted value to `adjusted` (the
// slopes to `slopes`). By default, adjusted_value of each row: the fitted value at the
// observed statistics (the intercept) plus the row's in-sample residual r_i. With
// design.leave_one_out_residuals, the intercept plus r_i / (1 - h_ii), where
// h_ii = w_i u_i' (U'WU)^-1 u_i is the row's leverage (u_i = (1, x_i) over the fitted
// statistics): the residual of row i under the same fit on the other rows. A fit of many
// coefficients on few draws follows each draw's own error, so the in-sample residuals are
// too small and the adjusted sample too narrow for its intervals to hold the truth as
// often as they claim; the leave-one-out residual is a prediction error, as the truth's
// distance from the fitted value is. Returns the GSL status; on failure `adjusted` is
// unspecified.
int fit_and_adjust_rows(const RegressionDesign& design, FitWorkspace& ws,
                        std::vector<double>& slopes, std::vector<float>& adjusted);

// The cap on h_ii in the leave-one-out residuals: a draw that alone fixes a direction of
// the fit (a statistic that no other draw varies, h_ii = 1) has a residual of rounding
// noise and no leave-one-out residual at all; it is moved by at most 10 times its residual.
constexpr double MAX_LEVERAGE = 0.9;

// The adjusted value of row i: invlogit(y_i - x_i . slopes), rounded to single precision.
float adjusted_value(const RegressionDesign& design, int i, const std::vector<double>& slopes);

// exp(z) / (exp(z) + 1), with the limits 1 and 0 where exp overflows.
double inverse_logit(double z);
