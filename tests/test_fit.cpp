// SPDX-License-Identifier: GPL-3.0-or-later
// The weighted least-squares fit behind the regression adjustment, against a certified
// data set and against identities that any weighted fit must satisfy.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "posterior/diagnostics.h"
#include "posterior/normal_equations.h"
#include "posterior/regression.h"
#include "support.h"

namespace {

// The Longley data as a design of 16 draws and 6 statistics with unit weights, and the
// certified coefficients b0 .. b6 from the file's trailing comment lines.
struct Longley {
  RegressionDesign design;
  std::map<std::string, double> certified;
};

Longley read_longley() {
  const std::string path = test_data_dir() + "/longley.txt";
  std::ifstream in(path);
  EXPECT_TRUE(in.is_open()) << path;
  Longley l;
  l.design.p = 6;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    if (line.rfind("# b", 0) == 0) {
      std::string hash, name;
      double value;
      fields >> hash >> name >> value;
      l.certified[name] = value;
      continue;
    }
    double y;
    if (line.empty() || line[0] == '#' || !(fields >> y)) continue;  // comments, header
    double x[6];
    for (double& v : x) fields >> v;
    EXPECT_TRUE(fields) << line;
    // The design holds statistics in single precision (they are read from files with 5
    // significant digits). Every Longley predictor is an integer below 2^24, exact in a
    // float, except x1, which has one decimal: it enters in tenths, and its slope is b1/10.
    x[0] = std::round(x[0] * 10);
    for (double v : x) {
      EXPECT_EQ(double(float(v)), v) << line;
      l.design.x.push_back(float(v));
    }
    l.design.y.push_back(y);
    l.design.w.push_back(1.0);
    ++l.design.n;
  }
  return l;
}

// Slope j of the fit in the units of the certified values.
double certified_slope(const Longley& l, int j) {
  const double b = l.certified.at("b" + std::to_string(j + 1));
  return j == 0 ? b / 10 : b;
}

// A design of n draws whose logit depends on three correlated statistics, with weights.
RegressionDesign small_design(uint64_t seed, int n) {
  FixtureUniform u{seed};
  RegressionDesign d;
  d.n = n;
  d.p = 3;
  for (int i = 0; i < n; ++i) {
    const double a = u() - 0.5, b = u() - 0.5;
    const float row[3] = {float(a), float(a + 0.3 * b), float(u())};
    d.x.insert(d.x.end(), row, row + 3);
    d.y.push_back(0.2 + 1.5 * a - 0.7 * b + 0.4 * (u() - 0.5));
    d.w.push_back(1.0);
  }
  return d;
}

}  // namespace

// NIST StRD Longley: a highly collinear problem with certified least-squares coefficients.
// With unit weights the weighted fit must reproduce the unweighted certified solution, to
// 1e-10 relative as GSL's own multifit test asks (it reaches about 1e-13 here).
TEST(LeastSquares, UnitWeightsReproduceTheCertifiedLongleyFit) {
  const Longley l = read_longley();
  ASSERT_EQ(l.design.n, 16);
  ASSERT_EQ(l.certified.size(), 7u);
  FitWorkspace ws(l.design.n, l.design.p);
  std::vector<double> slopes;
  ASSERT_EQ(fit_slopes(l.design, nullptr, ws, slopes), 0);
  ASSERT_EQ(slopes.size(), 6u);
  for (int j = 0; j < 6; ++j) {
    const double expected = certified_slope(l, j);
    EXPECT_NEAR(slopes[j], expected, 1e-10 * std::fabs(expected)) << "b" << j + 1;
  }
}

// The refits by the normal equations square the condition number; on Longley they must
// either hand the fit back to the full decomposition or still get the certified slopes.
TEST(LeastSquares, NormalEquationsOnLongleyDeclineOrAgree) {
  const Longley l = read_longley();
  ASSERT_EQ(l.design.n, 16);
  NormalEquations ne(l.design.p);
  std::vector<double> slopes;
  if (!fit_slopes_by_normal_equations(l.design, std::vector<int>(l.design.n, 1), ne, slopes))
    return;
  for (int j = 0; j < 6; ++j) {
    const double expected = certified_slope(l, j);
    EXPECT_NEAR(slopes[j], expected, 1e-10 * std::fabs(expected)) << "b" << j + 1;
  }
}

// A weight is a multiplicity: integer weights give the fit of the unit-weight design in
// which every draw is repeated that many times (a weight of 0 drops it), and scaling all
// weights changes nothing. A fit that used the square roots of the weights, or ignored
// them, fails both.
TEST(LeastSquares, WeightsActAsMultiplicities) {
  const int n = 60;
  RegressionDesign weighted = small_design(31, n);
  std::vector<int> repeated_rows;
  for (int i = 0; i < n; ++i) {
    const int times = i % 4;  // 0, 1, 2, 3
    weighted.w[i] = times;
    for (int t = 0; t < times; ++t) repeated_rows.push_back(i);
  }
  // The repeated design has unit weights and one row per repeat.
  RegressionDesign unit = small_design(31, n);
  RegressionDesign repeated;
  repeated.p = unit.p;
  repeated.n = static_cast<int>(repeated_rows.size());
  for (int r : repeated_rows) {
    repeated.x.insert(repeated.x.end(), unit.x.begin() + r * unit.p,
                      unit.x.begin() + (r + 1) * unit.p);
    repeated.y.push_back(unit.y[r]);
    repeated.w.push_back(1.0);
  }

  // One workspace for both: it serves any fit of at most its rows.
  FitWorkspace ws(repeated.n, 3);
  std::vector<double> by_weight, by_repeat, scaled;
  ASSERT_EQ(fit_slopes(weighted, nullptr, ws, by_weight), 0);
  ASSERT_EQ(fit_slopes(repeated, nullptr, ws, by_repeat), 0);
  for (double& w : weighted.w) w *= 0.037;
  ASSERT_EQ(fit_slopes(weighted, nullptr, ws, scaled), 0);
  for (int j = 0; j < 3; ++j) {
    SCOPED_TRACE(j);
    EXPECT_NEAR(by_weight[j], by_repeat[j], 1e-10 * (1 + std::fabs(by_repeat[j])));
    EXPECT_NEAR(scaled[j], by_repeat[j], 1e-10 * (1 + std::fabs(by_repeat[j])));
  }
  // The weights matter: the unit-weight fit of the original draws differs.
  std::vector<double> unweighted;
  ASSERT_EQ(fit_slopes(unit, nullptr, ws, unweighted), 0);
  double largest = 0;
  for (int j = 0; j < 3; ++j) largest = std::max(largest, std::fabs(unweighted[j] - by_repeat[j]));
  EXPECT_GT(largest, 1e-3);
}

// Four draws on one statistic, x = -1, 0, 0, 1 with weights 1, 2, 2, 1 and logits 1, 1, -1,
// 0: weighted means 0 and 1/6, slope -1/2, intercept 1/6, residuals 1/3, 5/6, -7/6, 1/3 and
// leverages w_i (1/6 + x_i^2 / 2) = 2/3, 1/3, 1/3, 2/3. Corrected, each draw is the
// intercept plus its residual over 1 - h_ii; uncorrected, the intercept plus its residual.
TEST(LeverageCorrection, HandComputedFit) {
  RegressionDesign d;
  d.n = 4;
  d.p = 1;
  d.x = {-1, 0, 0, 1};
  d.w = {1, 2, 2, 1};
  d.y = {1, 1, -1, 0};
  const double intercept = 1.0 / 6, residual[4] = {1.0 / 3, 5.0 / 6, -7.0 / 6, 1.0 / 3};
  const double leverage[4] = {2.0 / 3, 1.0 / 3, 1.0 / 3, 2.0 / 3};
  FitWorkspace ws(4, 1);
  std::vector<double> slopes;
  std::vector<float> plain, corrected;
  ASSERT_EQ(fit_and_adjust_rows(d, ws, slopes, plain), 0);
  EXPECT_NEAR(slopes[0], -0.5, 1e-12);
  d.leave_one_out_residuals = true;
  ASSERT_EQ(fit_and_adjust_rows(d, ws, slopes, corrected), 0);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(plain[i], adjusted_value(d, i, slopes));
    EXPECT_NEAR(plain[i], inverse_logit(intercept + residual[i]), 1e-7);
    EXPECT_NEAR(corrected[i], inverse_logit(intercept + residual[i] / (1 - leverage[i])), 1e-7);
  }
}

// r_i / (1 - h_ii) is the residual of draw i under the fit on the other draws: each
// corrected draw is the full fit's intercept plus that leave-one-out residual.
TEST(LeverageCorrection, DrawsMoveByTheirLeaveOneOutResiduals) {
  RegressionDesign d = small_design(7, 14);
  for (int i = 0; i < d.n; ++i) d.w[i] = 0.2 + 0.1 * (i % 5);
  FitWorkspace ws(d.n, d.p);
  std::vector<double> slopes;
  std::vector<float> corrected;
  d.leave_one_out_residuals = true;
  ASSERT_EQ(fit_and_adjust_rows(d, ws, slopes, corrected), 0);
  // The intercept: the weighted mean of the logits less the slopes times the mean statistics.
  auto intercept_of = [](const RegressionDesign& r, const std::vector<double>& b) {
    double sw = 0, c = 0;
    for (int i = 0; i < r.n; ++i) {
      double fit = r.y[i];
      for (int j = 0; j < r.p; ++j) fit -= b[j] * r.x[static_cast<size_t>(i) * r.p + j];
      sw += r.w[i];
      c += r.w[i] * fit;
    }
    return c / sw;
  };
  const double intercept = intercept_of(d, slopes);
  for (int i = 0; i < d.n; ++i) {
    SCOPED_TRACE(i);
    RegressionDesign others = d;
    others.w[i] = 0;
    std::vector<double> b;
    ASSERT_EQ(fit_slopes(others, nullptr, ws, b), 0);
    double predicted = intercept_of(others, b);
    for (int j = 0; j < d.p; ++j) predicted += b[j] * d.x[static_cast<size_t>(i) * d.p + j];
    EXPECT_NEAR(corrected[i], inverse_logit(intercept + d.y[i] - predicted), 1e-6);
  }
}
