// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior diagnostics: the file, the warnings, and the Monte Carlo error against theory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "config.h"
#include "observed_data.h"
#include "posterior/adjustment.h"
#include "posterior/diagnostics.h"
#include "posterior/diagnostics_file.h"
#include "posterior/diagnostics_warning.h"
#include "posterior/normal_equations.h"
#include "posterior/posterior_samples.h"
#include "posterior/regression.h"
#include "support.h"

namespace {

// n accepted draws in the file format: logit(theta) = -0.5 + slope * (x_1 + x_2) + noise,
// statistics x_j = offset + u - 0.5 (offset 0: the observed statistics sit in the middle of
// the cloud; offset 1: every draw lies on one side of them), distances inside threshold 1.
std::string draws_text(uint64_t seed, int n, double offset, double slope) {
  FixtureUniform u{seed};
  std::string text;
  char buf[160];
  for (int i = 0; i < n; ++i) {
    double x1 = offset + u() - 0.5, x2 = offset + u() - 0.5;
    double z = -0.5 + slope * (x1 + x2) + 0.4 * (u() - 0.5);
    std::snprintf(buf, sizeof buf, " %.5g %.5g %.5g %.5g\n", std::sqrt(u()), 1 / (1 + std::exp(-z)),
                  x1, x2);
    text += buf;
  }
  return text;
}

// Two populations, each parameter with two statistics; population 2's Fst lies outside
// its cloud when `outside` is set.
PosteriorSamples run_job(Job& job, const TempDir& dir, int n, bool outside) {
  job.J = 2;
  job.nb_final = n;
  job.nb_class_fis = 2;
  job.nb_class_fst = 2;
  job.odir = dir.path() + "/";
  job.file_prefix = "job";
  write_file(dir.file("job_Fis1.txt"), draws_text(1, n, 0, 1));
  write_file(dir.file("job_Fis2.txt"), draws_text(2, n, 0, 1));
  write_file(dir.file("job_Fst1.txt"), draws_text(3, n, 0, 1));
  write_file(dir.file("job_Fst2.txt"), draws_text(4, n, outside ? 1.0 : 0.0, outside ? 6 : 1));
  const std::vector<double> thresholds(job.J, 1.0);
  PosteriorSamples posterior = perform_regression(job, thresholds, thresholds);
  write_regression_outputs(job, posterior);
  return posterior;
}

std::vector<std::vector<std::string>> table_of(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (std::string f; fields >> f;) rows.back().push_back(f);
  }
  return rows;
}

}  // namespace

TEST(Diagnostics, InsideTheCloudNoWarning) {
  Job job;
  TempDir dir;
  const PosteriorSamples posterior = run_job(job, dir, 500, false);
  testing::internal::CaptureStderr();
  write_diagnostics(job, posterior);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "");
  auto table = table_of(read_file(dir.file("job_diagnostics.txt")));
  ASSERT_EQ(table.size(), 5u);
  EXPECT_EQ(table[0],
            (std::vector<std::string>{"parameter", "mean_adjusted", "mean_unadjusted",
                                      "sd_adjusted", "mc_error_adjusted", "mc_error_unadjusted",
                                      "ess", "extrapolated", "share_at_bounds", "trusted"}));
  const char* labels[] = {"Fis1", "Fis2", "Fst1", "Fst2"};
  for (int r = 1; r <= 4; ++r) {
    SCOPED_TRACE(labels[r - 1]);
    ASSERT_EQ(table[r].size(), 10u);
    EXPECT_EQ(table[r][0], labels[r - 1]);
    EXPECT_EQ(table[r][7], "0");
    EXPECT_EQ(table[r][8], "0");
    EXPECT_EQ(table[r][9], "TRUE");
    // Weights 1 - u with u uniform: ESS = n (E w)^2 / E w^2 = n (1/4) / (1/3) = 0.75 n.
    EXPECT_NEAR(std::stod(table[r][6]), 375, 30);
  }
}

TEST(Diagnostics, OutsideTheCloudWarnsForThatRowOnly) {
  Job job;
  TempDir dir;
  const PosteriorSamples posterior = run_job(job, dir, 500, true);
  testing::internal::CaptureStderr();
  write_diagnostics(job, posterior);
  std::string err = testing::internal::GetCapturedStderr();
  // One warning line, for Fst of population 2, giving the reason and the fallback file; a
  // line end first closes the regression's console line.
  EXPECT_EQ(err.rfind("\nWarning: ", 0), 0u) << err;
  EXPECT_EQ(err.find("Warning: ", 2), std::string::npos) << err;
  EXPECT_NE(err.find("the adjusted Fst of population 2 is not to be trusted"), std::string::npos)
      << err;
  EXPECT_NE(err.find("extrapolates: 2 observed statistic(s)"), std::string::npos) << err;
  EXPECT_NE(err.find(dir.file("job_no_regression.txt")), std::string::npos) << err;
  auto table = table_of(read_file(dir.file("job_diagnostics.txt")));
  ASSERT_EQ(table.size(), 5u);
  EXPECT_EQ(table[4][0], "Fst2");
  EXPECT_EQ(table[4][7], "2");
  EXPECT_EQ(table[4][9], "FALSE");
  for (int r = 1; r <= 3; ++r) EXPECT_EQ(table[r][9], "TRUE") << table[r][0];
  // Extrapolating far makes the adjusted mean much less stable than the unadjusted one.
  EXPECT_GT(std::stod(table[4][4]), 2 * std::stod(table[4][5]));
}

// Each reason alone, and the file name, in the warning text.
TEST(Diagnostics, WarningReasons) {
  struct Case {
    double mc_error, sd, share;
    int extrapolated;
    const char* expected;  // empty: no warning
  } cases[] = {
      {0.01, 0.1, 0, 0, ""},
      {0.025, 0.1, 0, 0, ""},  // exactly a quarter: still trusted
      {0.03, 0.1, 0, 0, "Monte Carlo error 0.03 exceeds a quarter of its posterior sd 0.1"},
      {0.01, 0.1, 0.002, 0, "0.2% of its adjusted values are exactly 0 or 1"},
      {0.01, 0.1, 0, 3, "extrapolates: 3 observed statistic(s)"},
      {NAN, 0.1, 0, 0, "Monte Carlo error could not be estimated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    DiagnosticsRow row;
    row.mc_error_adjusted = c.mc_error;
    row.sd_adjusted = c.sd;
    row.share_at_bounds = c.share;
    row.extrapolated = c.extrapolated;
    std::string w = diagnostics_warning("Fis", 3, row, "out/job_no_regression.txt");
    if (*c.expected == '\0') {
      EXPECT_EQ(w, "");
      continue;
    }
    EXPECT_EQ(w.rfind("Warning: the adjusted Fis of population 3 is not to be trusted: ", 0), 0u)
        << w;
    EXPECT_NE(w.find(c.expected), std::string::npos) << w;
    EXPECT_NE(w.find("\"out/job_no_regression.txt\""), std::string::npos) << w;
  }
}

// With equal weights and no statistic effect, the bootstrap error of the unadjusted mean is
// the textbook sd / sqrt(n). From B = 100 resamples it is known within about 7% (one
// standard error); the tolerance is three of those.
TEST(Diagnostics, MonteCarloErrorOfUnadjustedMeanIsSdOverRootN) {
  const int n = 2000;
  RegressionDesign design;
  design.n = n;
  design.p = 1;
  FixtureUniform u{99};
  std::vector<float> noreg(n), reg(n);
  for (int i = 0; i < n; ++i) {
    noreg[i] = static_cast<float>(0.2 + 0.6 * u());
    reg[i] = noreg[i];
    design.x.push_back(static_cast<float>(u() - 0.5));
    design.y.push_back(std::log(noreg[i] / (1 - noreg[i])));
    design.w.push_back(1.0);
  }
  double mean = 0, ss = 0;
  for (float v : noreg) mean += v;
  mean /= n;
  for (float v : noreg) ss += (v - mean) * (v - mean);
  const double expected = std::sqrt(ss / (n - 1)) / std::sqrt(double(n));

  DiagnosticsRow row = diagnose("Fis1", design, reg, noreg, DIAGNOSTICS_SEED);
  EXPECT_NEAR(row.mc_error_unadjusted / expected, 1.0, 0.21);
  EXPECT_NEAR(row.ess, n, 1e-9);
  EXPECT_DOUBLE_EQ(row.mean_unadjusted, mean);
  // The same seed gives the same figures: the file is reproducible.
  DiagnosticsRow again = diagnose("Fis1", design, reg, noreg, DIAGNOSTICS_SEED);
  EXPECT_EQ(again.mc_error_adjusted, row.mc_error_adjusted);
  EXPECT_EQ(again.mc_error_unadjusted, row.mc_error_unadjusted);
}

TEST(Diagnostics, ShareAtBoundsCountsExactZerosAndOnes) {
  RegressionDesign design;
  design.n = 4;
  design.p = 1;
  design.x = {0.1f, -0.1f, 0.2f, -0.2f};
  design.y = {0, 0.1, 0.2, 0.3};
  design.w = {1, 1, 1, 1};
  std::vector<float> reg{0.0f, 1.0f, 0.5f, 0.99999994f}, noreg{0.5f, 0.5f, 0.5f, 0.5f};
  DiagnosticsRow row = diagnose("Fst1", design, reg, noreg, 1);
  EXPECT_DOUBLE_EQ(row.share_at_bounds, 0.5);
  EXPECT_EQ(row.extrapolated, 0);
}

TEST(DiagnosticsDeathTest, UncreatableFileIsAnError) {
  Job job;
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  TempDir dir;
  const PosteriorSamples posterior = run_job(job, dir, 50, false);
  job.odir = dir.path() + "/no-such-folder/";
  EXPECT_EXIT(write_diagnostics(job, posterior), testing::ExitedWithCode(1),
              "Cannot create diagnostics file .*no-such-folder/job_diagnostics.txt");
}

// The refits of the resamples go through the normal equations; they must give the slopes of
// the full decomposition on the same resample, leave out the same constant statistic, and
// hand back a design they cannot solve soundly.
TEST(Diagnostics, NormalEquationsMatchTheFullFit) {
  const int n = 400, p = 4;
  FixtureUniform u{7};
  RegressionDesign d;
  d.n = n;
  d.p = p;
  for (int i = 0; i < n; ++i) {
    double a = u() - 0.5, b = u() - 0.5, e = u() - 0.5;
    // Correlated statistics like neighbouring quantiles, and one constant column.
    float row[p] = {float(a), float(a + 0.1 * e), float(0.3), float(b + 0.2)};
    d.x.insert(d.x.end(), row, row + p);
    d.y.push_back(0.5 + 2 * a - b + 0.3 * (u() - 0.5));
    d.w.push_back(i % 10 == 0 ? 0.0 : u());
  }
  std::vector<int> rows(n), counts(n, 0);
  for (int i = 0; i < n; ++i) ++counts[rows[i] = static_cast<int>(u() * n)];
  FitWorkspace ws(n, p);
  NormalEquations ne(p);
  std::vector<double> full, normal;
  ASSERT_EQ(fit_slopes(d, rows.data(), ws, full), 0);
  ASSERT_TRUE(fit_slopes_by_normal_equations(d, counts, ne, normal));
  for (int j = 0; j < p; ++j) EXPECT_NEAR(normal[j], full[j], 1e-9 * (1 + std::fabs(full[j]))) << j;
  EXPECT_EQ(normal[2], 0.0);

  // Two identical statistics: singular; the full decomposition must take over.
  for (int i = 0; i < n; ++i) d.x[i * p + 3] = d.x[i * p + 0];
  EXPECT_FALSE(fit_slopes_by_normal_equations(d, counts, ne, normal));
  // No draw with weight: nothing to fit.
  std::fill(d.w.begin(), d.w.end(), 0.0);
  EXPECT_FALSE(fit_slopes_by_normal_equations(d, counts, ne, normal));
}
