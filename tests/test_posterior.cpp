// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior analysis: the regression adjustment against an independent weighted least-squares
// solution, its files and refusals; the posterior summaries and the statistics file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "config.h"
#include "observed_data.h"
#include "posterior/adjustment.h"
#include "posterior/normal_equations.h"
#include "posterior/posterior_samples.h"
#include "posterior/posterior_stats.h"
#include "posterior/regression.h"
#include "support.h"

namespace {

// One accepted draw as the simulation writes it.
struct Draw {
  double d;
  double theta;
  std::vector<double> x;
};

// Lines in the accepted-draw format: a space before every number, 5 significant digits.
std::string format_draws(const std::vector<Draw>& draws) {
  std::string text;
  char buf[64];
  for (const Draw& r : draws) {
    std::snprintf(buf, sizeof buf, " %.5g %.5g", r.d, r.theta);
    text += buf;
    for (double v : r.x) {
      std::snprintf(buf, sizeof buf, " %.5g", v);
      text += buf;
    }
    text += "\n";
  }
  return text;
}

// Each population's acceptance thresholds, as the rejection step hands them on.
struct Thresholds {
  std::vector<double> fis, fst;
};

// Sets up `job` with J populations, n draws and the given statistic counts,
// writing outputs to `dir` with prefix "job"; returns the given thresholds.
Thresholds set_job(Job& job, const TempDir& dir, int pops, int n, int pfis, int pfst,
                   double t_fis = 1.0, double t_fst = 1.0) {
  job.J = pops;
  job.nb_final = n;
  job.nb_class_fis = pfis;
  job.nb_class_fst = pfst;
  job.odir = dir.path() + "/";
  job.file_prefix = "job";
  return {std::vector<double>(pops, t_fis), std::vector<double>(pops, t_fst)};
}

PosteriorSamples regress(const Job& job, const Thresholds& t) {
  return perform_regression(job, t.fis, t.fst);
}

void write_draws(const TempDir& dir, const char* parameter, int pop,
                 const std::vector<Draw>& draws) {
  write_file(dir.file(std::string("job_") + parameter + std::to_string(pop) + ".txt"),
             format_draws(draws));
}

// Draws whose logit parameter depends linearly on the statistics, plus noise.
std::vector<Draw> linear_draws(uint64_t seed, int n, int p, double threshold) {
  FixtureUniform u{seed};
  std::vector<Draw> draws(n);
  for (Draw& r : draws) {
    r.x.resize(p);
    double z = -0.4;
    for (int j = 0; j < p; ++j) {
      r.x[j] = u() - 0.4;
      z += (j + 1) * 0.8 * r.x[j];
    }
    z += 0.5 * (u() - 0.5);
    r.theta = 1 / (1 + std::exp(-z));
    r.d = std::sqrt(threshold * u());
  }
  return draws;
}

// The adjusted values computed independently: parse the file text exactly as the reader
// does (single-precision distance and statistics, double parameter), solve the weighted
// normal equations X'WX c = X'Wy by Gaussian elimination in long double, adjust.
std::vector<double> reference_adjusted(const std::string& text, int n, int p, double threshold,
                                       const std::vector<int>& columns) {
  std::istringstream in(text);
  const int q = static_cast<int>(columns.size()) + 1;
  std::vector<std::vector<double>> xs(n);
  std::vector<double> ys(n), ws(n);
  std::vector<long double> a(q * q, 0.0L), b(q, 0.0L);
  for (int i = 0; i < n; ++i) {
    std::string s;
    in >> s;
    float d = std::strtof(s.c_str(), nullptr);
    in >> s;
    double theta = std::strtod(s.c_str(), nullptr);
    std::vector<double> all(p);
    for (int j = 0; j < p; ++j) {
      in >> s;
      all[j] = std::strtof(s.c_str(), nullptr);
    }
    double w = std::max(0.0, 1.0 - double(d) * d / threshold);
    double y = std::log(theta / (1 - theta));
    std::vector<double> row{1.0};
    for (int c : columns) row.push_back(all[c]);
    for (int r = 0; r < q; ++r) {
      b[r] += (long double)w * row[r] * y;
      for (int c = 0; c < q; ++c) a[r * q + c] += (long double)w * row[r] * row[c];
    }
    xs[i] = row;
    ys[i] = y;
    ws[i] = w;
  }
  for (int c = 0; c < q; ++c) {
    int piv = c;
    for (int r = c + 1; r < q; ++r)
      if (std::fabs((double)a[r * q + c]) > std::fabs((double)a[piv * q + c])) piv = r;
    for (int k = 0; k < q; ++k) std::swap(a[c * q + k], a[piv * q + k]);
    std::swap(b[c], b[piv]);
    for (int r = c + 1; r < q; ++r) {
      long double f = a[r * q + c] / a[c * q + c];
      for (int k = c; k < q; ++k) a[r * q + k] -= f * a[c * q + k];
      b[r] -= f * b[c];
    }
  }
  std::vector<long double> coef(q);
  for (int r = q - 1; r >= 0; --r) {
    long double s = b[r];
    for (int k = r + 1; k < q; ++k) s -= a[r * q + k] * coef[k];
    coef[r] = s / a[r * q + r];
  }
  std::vector<double> adjusted(n);
  for (int i = 0; i < n; ++i) {
    double z = ys[i];
    for (int k = 1; k < q; ++k) z -= xs[i][k] * (double)coef[k];
    adjusted[i] = 1 / (1 + std::exp(-z));
  }
  return adjusted;
}

std::vector<int> all_columns(int p) {
  std::vector<int> c(p);
  for (int j = 0; j < p; ++j) c[j] = j;
  return c;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int count_fields(const std::string& line) {
  std::istringstream in(line);
  int n = 0;
  for (std::string s; in >> s;) ++n;
  return n;
}

}  // namespace

TEST(Regression, MatchesWeightedNormalEquations) {
  Job job;
  TempDir dir;
  const int n = 300;
  const Thresholds t = set_job(job, dir, 2, n, 3, 2, 0.5, 2.0);
  std::vector<std::string> texts;
  for (int pop = 1; pop <= 2; ++pop) {
    texts.push_back(format_draws(linear_draws(10 + pop, n, 3, 0.5)));
    write_file(dir.file("job_Fis" + std::to_string(pop) + ".txt"), texts.back());
  }
  for (int pop = 1; pop <= 2; ++pop) {
    texts.push_back(format_draws(linear_draws(20 + pop, n, 2, 2.0)));
    write_file(dir.file("job_Fst" + std::to_string(pop) + ".txt"), texts.back());
  }
  const PosteriorSamples s = regress(job, t);
  for (int t = 0; t < 4; ++t) {
    SCOPED_TRACE(t);
    const bool fis = t < 2;
    const std::vector<float>& reg = fis ? s.reg_fis[t % 2] : s.reg_fst[t % 2];
    const std::vector<float>& noreg = fis ? s.noreg_fis[t % 2] : s.noreg_fst[t % 2];
    int p = fis ? 3 : 2;
    std::vector<double> expected =
        reference_adjusted(texts[t], n, p, fis ? 0.5 : 2.0, all_columns(p));
    ASSERT_EQ(reg.size(), size_t(n));
    std::istringstream in(texts[t]);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(reg[i], expected[i], 2e-6) << "draw " << i;
      std::string d, theta;
      in >> d >> theta;
      for (int j = 0; j < p; ++j) in >> d;
      EXPECT_EQ(noreg[i], float(std::strtod(theta.c_str(), nullptr)));
    }
  }
  write_regression_outputs(job, s);
}

TEST(Regression, KernelWeights) {
  Job job;
  struct Case {
    float d;
    double threshold, w;
    const char* why;
  } cases[] = {
      {0.0f, 4.0, 1.0, "distance 0: weight 1"},
      {2.0f, 4.0, 0.0, "at the threshold: weight 0"},
      {1.0f, 4.0, 0.75, "1 - 1/4"},
      {2.00001f, 4.0, 0.0, "written a hair beyond the threshold: 0, not negative"},
      {0.0f, 0.0, 1.0, "threshold 0: 1 rather than 0/0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir dir;
    const Thresholds t = set_job(job, dir, 1, 3, 1, 1, c.threshold, c.threshold);
    std::vector<Draw> draws{{c.d, 0.3, {0.1}}, {0, 0.4, {0.2}}, {0, 0.5, {0.3}}};
    write_draws(dir, "Fis", 1, draws);
    write_draws(dir, "Fst", 1, draws);
    const PosteriorSamples s = regress(job, t);
    EXPECT_NEAR(s.design_fis[0].w[0], c.w, 1e-6);
    for (float v : s.reg_fis[0]) EXPECT_TRUE(std::isfinite(v));
  }
}

// Weighted draws lie exactly on logit(theta) = 0.5 + 2 x; a draw at the threshold is far off
// the line. It must not move the fit, and every on-line draw moves to invlogit(0.5).
TEST(Regression, DrawAtThresholdDoesNotMoveTheFit) {
  Job job;
  TempDir dir;
  const Thresholds t = set_job(job, dir, 1, 6, 1, 1, 1.0, 1.0);
  std::vector<Draw> draws;
  for (double x : {-0.2, -0.1, 0.0, 0.1, 0.25})
    draws.push_back({0.5, 1 / (1 + std::exp(-(0.5 + 2 * x))), {x}});
  draws.push_back({1.0, 0.99, {-0.3}});
  write_draws(dir, "Fis", 1, draws);
  write_draws(dir, "Fst", 1, draws);
  const PosteriorSamples s = regress(job, t);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(s.reg_fis[0][i], 1 / (1 + std::exp(-0.5)), 2e-4) << i;
}

TEST(Regression, ExactBoundsAreReplacedAndWritten) {
  Job job;
  TempDir dir;
  const Thresholds t = set_job(job, dir, 1, 4, 1, 1);
  std::vector<Draw> draws{
      {0.1, 1.0, {0.1}}, {0.2, 0.0, {-0.1}}, {0.3, 0.5, {0.2}}, {0.4, 0.25, {0.0}}};
  write_draws(dir, "Fis", 1, draws);
  write_draws(dir, "Fst", 1, draws);
  const PosteriorSamples s = regress(job, t);
  EXPECT_NEAR(s.design_fis[0].y[0], 18.420680733952367, 1e-6);
  EXPECT_NEAR(s.design_fis[0].y[1], -18.420680733952367, 1e-6);
  EXPECT_EQ(s.noreg_fis[0][0], float(0.99999999));
  EXPECT_EQ(s.noreg_fis[0][1], float(1e-8));
  write_regression_outputs(job, s);
  std::vector<std::string> lines = lines_of(read_file(dir.file("job_no_regression.txt")));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], " 1 1");
  EXPECT_EQ(lines[1], " 1e-08 1e-08");
  EXPECT_EQ(lines[2], " 0.5 0.5");
}

// A statistic that is the same in every draw carries no information; the fit must equal the
// fit without it, and no adjusted value may be pushed to 0 or 1.
TEST(Regression, ConstantStatisticIsLeftOut) {
  Job job;
  std::string fixture;
  for (const std::string& line :
       lines_of(read_file(source_dir() + "/tests/data/posterior_constant_stat.txt")))
    if (line.empty() || line[0] != '#') fixture += line + "\n";
  TempDir dir;
  const Thresholds t = set_job(job, dir, 1, 12, 2, 2, 0.1, 0.1);
  write_file(dir.file("job_Fis1.txt"), fixture);
  write_file(dir.file("job_Fst1.txt"), fixture);
  const PosteriorSamples s = regress(job, t);
  std::vector<double> expected = reference_adjusted(fixture, 12, 2, 0.1, {0});
  for (int i = 0; i < 12; ++i) {
    EXPECT_NEAR(s.reg_fis[0][i], expected[i], 2e-6) << i;
    EXPECT_GT(s.reg_fis[0][i], 0.0f);
    EXPECT_LT(s.reg_fis[0][i], 1.0f);
  }
}

TEST(Regression, InverseLogitLimits) {
  EXPECT_EQ(inverse_logit(800.0), 1.0);
  EXPECT_EQ(inverse_logit(-800.0), 0.0);
  EXPECT_DOUBLE_EQ(inverse_logit(0.0), 0.5);
  EXPECT_DOUBLE_EQ(inverse_logit(std::log(3.0)), 0.75);
}

TEST(Regression, OutputLayout) {
  Job job;
  for (int pops : {1, 2}) {
    SCOPED_TRACE(pops);
    TempDir dir;
    const Thresholds t = set_job(job, dir, pops, 5, 1, 1);
    // Every slope is 0 (the statistic is constant), so each adjusted value is its draw's.
    // Records beyond nb_final are ignored.
    for (int k = 1; k <= pops; ++k) {
      std::vector<Draw> fis, fst;
      for (int i = 0; i < 7; ++i) {
        fis.push_back({0.1, 0.1 * k + 0.01 * i, {0.5}});
        fst.push_back({0.1, 0.5 + 0.1 * k + 0.01 * i, {0.5}});
      }
      write_draws(dir, "Fis", k, fis);
      write_draws(dir, "Fst", k, fst);
    }
    const PosteriorSamples s = regress(job, t);
    write_regression_outputs(job, s);
    for (const char* file : {"job_regression.txt", "job_no_regression.txt"}) {
      std::vector<std::string> lines = lines_of(read_file(dir.file(file)));
      ASSERT_EQ(lines.size(), 5u) << file;
      for (const std::string& line : lines) EXPECT_EQ(count_fields(line), 2 * pops) << file;
      EXPECT_EQ(lines[2], pops == 1 ? " 0.12 0.62" : " 0.12 0.22 0.62 0.72") << file;
    }
  }
}

TEST(RegressionDeathTest, BadInputIsRefused) {
  Job job;
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  const std::string good = " 0.1 0.3 0.2\n 0.2 0.4 0.1\n 0.1 0.5 -0.1\n";
  struct Case {
    std::string fis1;  // empty: no file
    int n;
    const char* message;
  } cases[] = {
      {"", 3, "Could not open the accepted-draw file .*job_Fis1.txt for reading"},
      {" 0.1 0.3 0.2\n 0.2 0.4 0.1\n 0.1 0.5", 3, "job_Fis1.txt: record 3 of 3: statistic missing"},
      {" 0.1 0.3 0.2\n 0.2 abc 0.1\n 0.1 0.5 -0.1\n", 3,
       "job_Fis1.txt: record 2 of 3: parameter is not a number"},
      {" 0.1 0.3 0.2\n nan 0.4 0.1\n 0.1 0.5 -0.1\n", 3,
       "job_Fis1.txt: record 2 of 3: distance is not a finite number"},
      {" 0.1 1.3 0.2\n", 1, "record 1 of 1: parameter 1.3 lies outside"},
      {good, 1, "Regression failed for Fis of population 1: 1 accepted draws for 2 coeff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir dir;
    const Thresholds t = set_job(job, dir, 1, c.n, 1, 1);
    if (!c.fis1.empty()) write_file(dir.file("job_Fis1.txt"), c.fis1);
    write_file(dir.file("job_Fst1.txt"), good);
    EXPECT_EXIT(regress(job, t), testing::ExitedWithCode(1), c.message);
  }
  TempDir dir;
  const Thresholds t = set_job(job, dir, 1, 3, 1, 1);
  job.odir = dir.path() + "/no-such-folder/";
  EXPECT_EXIT(regress(job, t), testing::ExitedWithCode(1),
              "Cannot create output file .*no-such-folder/job_regression.txt");
}

TEST(PosteriorStats, MinindexTakesFirstOfEqual) {
  double v[] = {3, 1, 2, 1};
  EXPECT_EQ(minindex(v, 4), 1);
  EXPECT_EQ(minindex(v, 1), 0);
}

// On the sample 0, 1, ..., n - 1 every candidate interval has width n - m, the first wins,
// and its upper bound is n - m: so the HPDI reveals m.
TEST(PosteriorStats, CandidateCountTable) {
  struct Case {
    int n;
    float pc;
    int m;
  } cases[] = {{5000, 0.95f, 251}, {1000, 0.95f, 51}, {100, 0.95f, 6},
               {5000, 0.99f, 50},  {5000, 0.9f, 501}, {5000, 0.5f, 2500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.n << " " << c.pc);
    std::vector<float> v(c.n);
    for (int i = 0; i < c.n; ++i) v[c.n - 1 - i] = float(i);  // reversed: sorting matters
    double mean, var, low, high, mode;
    calculate_stats(v.data(), c.pc, c.n, &mean, &var, &low, &high, &mode);
    EXPECT_EQ(low, 0.0);
    EXPECT_EQ(c.n - high, c.m);
    EXPECT_DOUBLE_EQ(mean, (c.n - 1) / 2.0);
    EXPECT_NEAR(var, c.n * (c.n + 1) / 12.0, 1e-9 * c.n * c.n);
    EXPECT_EQ(v[0], 0.0f);  // sorted in place
  }
}

TEST(PosteriorStats, EdgeCases) {
  double mean, var, low, high, mode;
  {
    SCOPED_TRACE("all equal: variance 0, bandwidth 0.01, HPDI and mode the value");
    std::vector<float> v(50, 0.3f);
    calculate_stats(v.data(), 0.95, 50, &mean, &var, &low, &high, &mode);
    EXPECT_EQ(var, 0.0);
    EXPECT_EQ(low, double(0.3f));
    EXPECT_EQ(high, double(0.3f));
    EXPECT_EQ(mode, double(0.3f));
  }
  for (double pc : {1.0, 95.0}) {
    SCOPED_TRACE("coverage 1 or above: m = 1, the whole range");
    std::vector<float> v{0.5f, 0.1f, 0.9f, 0.4f};
    calculate_stats(v.data(), pc, 4, &mean, &var, &low, &high, &mode);
    EXPECT_EQ(low, double(0.1f));
    EXPECT_EQ(high, double(0.9f));
  }
  {
    SCOPED_TRACE("m = 2: the narrower second candidate wins");
    std::vector<float> v{0, 5, 6, 7, 8};
    calculate_stats(v.data(), 0.6, 5, &mean, &var, &low, &high, &mode);
    EXPECT_EQ(low, 5.0);
    EXPECT_EQ(high, 8.0);
  }
  {
    SCOPED_TRACE("density highest at the top: the mode is the last grid point, below max");
    std::vector<float> v(100, 1.0f);
    v[0] = 0.0f;
    calculate_stats(v.data(), 0.95, 100, &mean, &var, &low, &high, &mode);
    EXPECT_DOUBLE_EQ(mode, 0.995);
  }
  {
    SCOPED_TRACE("one value: variance 0, not 0/0");
    float v = 0.2f;
    calculate_stats(&v, 0.95, 1, &mean, &var, &low, &high, &mode);
    EXPECT_EQ(var, 0.0);
    EXPECT_EQ(low, double(0.2f));
  }
}

TEST(StatisticsFile, HeaderLinesAndEstimate) {
  Job job;
  struct Case {
    float pc;
    const char* header;
  } cases[] = {{0.95f, "      mean  mode variance 95% HPDI"},
               {0.975f, "      mean  mode variance 98% HPDI"},
               // 0.945f is 0.94499999...: 94, though float arithmetic would give 95.
               {0.945f, "      mean  mode variance 94% HPDI"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    TempDir dir;
    set_job(job, dir, 2, 4, 1, 1);
    job.stats_prefix = "stats.txt";
    job.hpdi_pc = c.pc;
    PosteriorSamples posterior(2);
    posterior.reg_fis = {{0.5f, 0.5f, 0.5f, 0.5f}, {0.1f, 0.2f, 0.3f, 0.4f}};
    posterior.reg_fst = {{0.123456f, 0.123456f, 0.123456f, 0.123456f}, {0.2f, 0.2f, 0.2f, 0.2f}};
    const std::vector<ParameterEstimate> estimates = summarise_posterior(job, posterior, true);
    write_statistics_file(job, estimates);
    std::vector<std::string> lines = lines_of(read_file(dir.file("stats.txt")));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], c.header);
    EXPECT_EQ(lines[1], "Fis1 0.5 0.5 0 [0.5;0.5]");
    EXPECT_EQ(lines[2].substr(0, 10), "Fis2 0.25 ");
    EXPECT_NE(lines[2].find(" 0.0167 [0.1;0.4]"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3], "Fst1 0.123 0.123 0 [0.123;0.123]");
    EXPECT_EQ(lines[4], "Fst2 0.2 0.2 0 [0.2;0.2]");
    ASSERT_EQ(estimates.size(), 4u);
    EXPECT_EQ(estimates[1].label, "Fis2");
    EXPECT_DOUBLE_EQ(estimates[0].mean, double(0.5f));
    EXPECT_NEAR(estimates[1].mean, 0.25, 1e-7);  // the posterior mean
    EXPECT_EQ(estimates[3].label, "Fst2");
  }
}

// Summaries sort the samples in place only when asked (the statistics file's way, which the
// figure after it reads), and are the same either way.
TEST(StatisticsFile, SummariesOfCopiesLeaveTheSamplesAsTheyAre) {
  Job job;
  TempDir dir;
  set_job(job, dir, 1, 4, 1, 1);
  PosteriorSamples posterior(1);
  posterior.reg_fis = {{0.4f, 0.1f, 0.3f, 0.2f}};
  posterior.reg_fst = {{0.9f, 0.7f, 0.8f, 0.6f}};
  const std::vector<ParameterEstimate> copies = summarise_posterior(job, posterior, false);
  EXPECT_EQ(posterior.reg_fis[0], std::vector<float>({0.4f, 0.1f, 0.3f, 0.2f}));
  const std::vector<ParameterEstimate> sorted = summarise_posterior(job, posterior, true);
  EXPECT_EQ(posterior.reg_fis[0], std::vector<float>({0.1f, 0.2f, 0.3f, 0.4f}));
  for (size_t k = 0; k < copies.size(); ++k) {
    EXPECT_EQ(copies[k].mean, sorted[k].mean);
    EXPECT_EQ(copies[k].mode, sorted[k].mode);
    EXPECT_EQ(copies[k].hpdi_low, sorted[k].hpdi_low);
  }
}

TEST(StatisticsFileDeathTest, UncreatableFileIsAnError) {
  Job job;
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  TempDir dir;
  set_job(job, dir, 1, 2, 1, 1);
  job.stats_prefix = "no-such-folder/stats.txt";
  PosteriorSamples posterior(1);
  posterior.reg_fis = {{0.1f, 0.2f}};
  posterior.reg_fst = {{0.1f, 0.2f}};
  EXPECT_EXIT(write_statistics_file(job, summarise_posterior(job, posterior, true)),
              testing::ExitedWithCode(1),
              "Cannot create statistics file .*no-such-folder/stats.txt");
}
