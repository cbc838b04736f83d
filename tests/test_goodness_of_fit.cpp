// SPDX-License-Identifier: GPL-3.0-or-later
// Goodness of fit (-gof): D and its null distribution on small reference tables, the
// p-values and quantiles, the statistics of the posterior predictive check, and whole runs
// (the files recompute from the kept null distribution, do not depend on -nprocs, leave
// every other output as it is, and reject a clonal data set).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "posterior/goodness_of_fit.h"
#include "simulation/predictive_check.h"
#include "support.h"

namespace {

// One set of one feature per row, the values given.
GofSet one_feature_set(const std::vector<float>& values) {
  GofSet s;
  s.label = "Fis1";
  s.rows = static_cast<long long>(values.size());
  s.features = 1;
  s.reference = values.data();
  return s;
}

std::vector<std::vector<std::string>> table_of(const std::string& text) {
  std::istringstream s(text);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(s, line);) {
    std::istringstream f(line);
    rows.emplace_back();
    for (std::string x; f >> x;) rows.back().push_back(x);
  }
  return rows;
}

}  // namespace

TEST(GoodnessOfFit, DIsTheMeanDistanceToTheNearestRowsOtherThanTheLeftOutOne) {
  const std::vector<float> values = {0, 1, 2, 3, 10, NAN};
  GofSet s = one_feature_set(values);
  std::vector<double> scratch;
  const double two = 2.0;
  // Nearest to 2: itself (0) and 1 or 3 (1).
  EXPECT_DOUBLE_EQ(mean_nearest_distance(s, &two, -1, 2, scratch), 0.5);
  // Row 2 left out: 1 and 3, both at 1.
  EXPECT_DOUBLE_EQ(mean_nearest_distance(s, &two, 2, 2, scratch), 1.0);
  // The NaN row counts as the farthest: every row but it.
  EXPECT_DOUBLE_EQ(mean_nearest_distance(s, &two, -1, 5, scratch), (0 + 1 + 1 + 2 + 8) / 5.0);
  // The set's own distance, where it has one (another method's, scaled).
  s.squared_distance = [](const float* row, const double* point) {
    return 4.0 * (row[0] - point[0]) * (row[0] - point[0]);
  };
  EXPECT_DOUBLE_EQ(mean_nearest_distance(s, &two, 2, 2, scratch), 2.0);
}

// Pooled rows (-method joint): two members of three data sets, row m * 3 + r. Leaving out a
// data set takes both of its members' rows, since they share that data set's simulation.
TEST(GoodnessOfFit, PooledRowsLeaveTheirDataSetTogether) {
  const std::vector<float> values = {0, 5, 9, 0.5f, 6, 9.5f};
  GofSet s = one_feature_set(values);
  s.data_sets = 3;
  std::vector<double> scratch;
  const double zero = 0.0;
  // Data set 0 left out (rows 0 and 3): the nearest are 5 and 6.
  EXPECT_DOUBLE_EQ(mean_nearest_distance(s, &zero, 3, 2, scratch), 5.5);
  // Without pooling only row 3 goes, and row 0 (at 0) is the nearest.
  s.data_sets = 0;
  EXPECT_DOUBLE_EQ(mean_nearest_distance(s, &zero, 3, 2, scratch), 2.5);
}

TEST(GoodnessOfFit, PValuesAndQuantiles) {
  struct Case {
    double observed;
    std::vector<double> null;
    double p;
  };
  const Case cases[] = {
      {5, {1, 2, 3, 4}, 1.0 / 5},    // farther than every null value: the smallest p
      {0, {1, 2, 3, 4}, 1.0},        // nearer than all
      {3, {1, 2, 3, 4}, 3.0 / 5},    // a tie counts as at least as far
      {2.5, {1, 2, 3, 4}, 3.0 / 5},  // between
      {1, {1, 1, 1, 1}, 1.0},        // all tied
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.observed);
    EXPECT_DOUBLE_EQ(gof_p_value(c.observed, c.null), c.p);
  }
  EXPECT_DOUBLE_EQ(sample_quantile({4, 1, 3, 2}, 0.5), 2.5);
  EXPECT_DOUBLE_EQ(sample_quantile({4, 1, 3, 2}, 0.0), 1.0);
  EXPECT_DOUBLE_EQ(sample_quantile({4, 1, 3, 2}, 1.0), 4.0);
  EXPECT_DOUBLE_EQ(sample_quantile({0, 10}, 0.95), 9.5);
  EXPECT_TRUE(std::isnan(sample_quantile({}, 0.5)));

  // Two-sided predictive p-values over M = 4 replicates.
  const std::vector<double> rep = {1, 2, 3, 4};
  EXPECT_DOUBLE_EQ(predictive_p_value(0, rep), 2.0 / 5);      // below all: 2 (1 + 0) / 5
  EXPECT_DOUBLE_EQ(predictive_p_value(9, rep), 2.0 / 5);      // above all
  EXPECT_DOUBLE_EQ(predictive_p_value(2.5, rep), 1.0);        // in the middle: capped at 1
  EXPECT_DOUBLE_EQ(predictive_p_value(1, {1, 2, NAN}), 1.0);  // NaN replicates left out
  EXPECT_TRUE(std::isnan(predictive_p_value(NAN, rep)));
  EXPECT_TRUE(std::isnan(predictive_p_value(1, {NAN})));
}

TEST(GoodnessOfFit, NullDistributionIsKeptAndDoesNotDependOnThreads) {
  // Two features, 300 rows spread uniformly; an observed point far outside and one inside.
  FixtureUniform u{77};
  std::vector<float> rows(600);
  for (float& v : rows) v = static_cast<float>(u());
  std::vector<GofSet> sets(2);
  for (int k = 0; k < 2; ++k) {
    sets[k].label = k == 0 ? "Fis1" : "Fst1";
    sets[k].fst = k == 1;
    sets[k].rows = 300;
    sets[k].features = 2;
    sets[k].reference = rows.data();
  }
  sets[0].observed = {5.0, 5.0};
  sets[1].observed = {0.5, 0.5};
  std::vector<long long> null_rows;
  for (long long r = 0; r < 300; r += 7) null_rows.push_back(r);
  const std::vector<GofResult> one = goodness_of_fit(sets, null_rows, 10, 1);
  const std::vector<GofResult> three = goodness_of_fit(sets, null_rows, 10, 3);
  ASSERT_EQ(one.size(), 2u);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(one[k].null, three[k].null);
    EXPECT_EQ(one[k].observed, three[k].observed);
    ASSERT_EQ(one[k].null.size(), null_rows.size());
    // Each null value is the D of its row left out, as written (6 digits).
    std::vector<double> scratch;
    const float* r = rows.data() + 2 * null_rows[3];
    const double point[2] = {r[0], r[1]};
    EXPECT_NEAR(one[k].null[3], mean_nearest_distance(sets[k], point, null_rows[3], 10, scratch),
                1e-6 * one[k].null[3]);
    EXPECT_NEAR(one[k].p_value, gof_p_value(one[k].observed, one[k].null), 1e-6);
    EXPECT_DOUBLE_EQ(one[k].null_median, sample_quantile(one[k].null, 0.5));
  }
  EXPECT_NEAR(one[0].p_value, 1.0 / (null_rows.size() + 1), 1e-6);  // far outside: rejected
  EXPECT_GT(one[1].p_value, 0.05);                                  // inside: accepted
  EXPECT_NE(
      gof_verdict(one[0]).find(
          "farther from the simulations than all 43 data sets simulated by the model (p = 0.0227)"),
      std::string::npos)
      << gof_verdict(one[0]);
  EXPECT_NE(gof_verdict(one[1]).find("the model fits"), std::string::npos);
  const std::string warning = gof_warning(0, {&one[0], &one[1]}, "x_gof.txt");
  EXPECT_EQ(warning.rfind("Warning: the model does not fit population 1: its Fis statistics (p = "
                          "0.0227) and its Fst statistics (p = ",
                          0),
            0u)
      << warning;
}

TEST(GoodnessOfFit, ProjectionFindsTheSharedDirection) {
  // Three features: the first two move together, the third is independent, all with the
  // same spread after standardising: the first component is (1, 1, 0) / sqrt 2 with 2/3 of
  // the variance, the second the third feature with 1/3. A constant fourth feature is left
  // out.
  FixtureUniform u{0x9e3779b97f4a7c15ULL};
  std::vector<float> rows;
  for (int r = 0; r < 2000; ++r) {
    const double t = u() - 0.5, e = u() - 0.5;
    rows.insert(rows.end(),
                {static_cast<float>(t), static_cast<float>(t), static_cast<float>(e), 1.0f});
  }
  GofSet s;
  s.rows = 2000;
  s.features = 4;
  s.reference = rows.data();
  const double sd = std::sqrt(1.0 / 12);
  s.observed = {sd, sd, 0.0, 1.0};  // one standard deviation along the shared direction
  const GofProjection g = principal_projection({&s}, "title", 50);
  EXPECT_EQ(g.x.size(), 50u);
  EXPECT_NEAR(g.share_1, 2.0 / 3, 0.03);
  EXPECT_NEAR(g.share_2, 1.0 / 3, 0.03);
  EXPECT_NEAR(std::fabs(g.observed_x), std::sqrt(2.0), 0.1);
  EXPECT_NEAR(g.observed_y, 0.0, 0.1);
}

TEST(PredictiveCheck, StatisticsOfAFixture) {
  // Three populations of 4 individuals at 4 loci; band counts:
  //   population 1: 4 0 2 2  (frequencies 1 0 .5 .5)
  //   population 2: 4 0 1 3  (1 0 .25 .75)
  //   population 3: 2 2 2 2  (no variation: left out of the correlations)
  const int k[3][4] = {{4, 0, 2, 2}, {4, 0, 1, 3}, {2, 2, 2, 2}};
  std::vector<LocusRecord> data;
  for (const auto& pop : k)
    for (int l = 0; l < 4; ++l) data.push_back(LocusRecord{4, pop[l], 0.0});
  double s[PPC_STATISTICS];
  predictive_statistics(data.data(), 3, 4, 0, s);
  EXPECT_DOUBLE_EQ(s[0], 0.25);
  EXPECT_DOUBLE_EQ(s[1], 0.25);
  EXPECT_DOUBLE_EQ(s[2], 0.5);
  EXPECT_DOUBLE_EQ(s[3], 0.5 / 3);
  EXPECT_NEAR(s[4], 0.5 / std::sqrt(0.5 * 0.625), 1e-12);
  predictive_statistics(data.data(), 3, 4, 2, s);
  EXPECT_DOUBLE_EQ(s[3], 0.0);
  EXPECT_TRUE(std::isnan(s[4]));
  // One population: no correlation.
  predictive_statistics(data.data(), 1, 4, 0, s);
  EXPECT_TRUE(std::isnan(s[4]));
}

namespace {

// A small run of the bundled example with the test: a pilot of 1999 simulations, 40 null sets.
// clang-format off
const std::vector<std::string> GOF_RUN = {"-n", "1000", "-ar", "0.05", "-nfis", "5", "-nfst", "5",
                                          "-gof", "40", "-nprocs", "3", "-seed", "11", "-o", "ex"};
// clang-format on

std::vector<std::string> with_input(std::vector<std::string> args, const std::string& input) {
  args.push_back(input);
  return args;
}

}  // namespace

TEST(GoodnessOfFitRun, FilesRecomputeFromTheNullDistributionAndDoNotDependOnThreads) {
  TempDir a, b, plain;
  const std::string example = source_dir() + "/examples/example.txt";
  const CommandResult r = run_bandstat(with_input(GOF_RUN, example), a.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> args = GOF_RUN;
  *(std::find(args.begin(), args.end(), "-nprocs") + 1) = "1";
  ASSERT_EQ(run_bandstat(with_input(args, example), b.path()).status, 0);
  for (const char* name : {"ex_gof.txt", "ex_gof_null.txt", "ex_ppc.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(read_file(a.file(name)), read_file(b.file(name)));
  }

  const auto gof = table_of(read_file(a.file("ex_gof.txt")));
  const auto null = table_of(read_file(a.file("ex_gof_null.txt")));
  ASSERT_EQ(gof.size(), 1u + 8);
  EXPECT_EQ(gof[0], (std::vector<std::string>{"parameter", "D_observed", "null_median", "null_q95",
                                              "p_value"}));
  ASSERT_EQ(null.size(), 1u + 40);
  for (size_t i = 1; i < gof.size(); ++i) {
    const std::string& label = gof[i][0];
    SCOPED_TRACE(label);
    EXPECT_EQ(label, (i <= 4 ? "Fis" : "Fst") + std::to_string((i - 1) % 4 + 1));
    ASSERT_EQ(null[0][i + 1], label);
    std::vector<double> d;
    for (size_t j = 1; j < null.size(); ++j) d.push_back(std::stod(null[j][i + 1]));
    const double observed = std::stod(gof[i][1]);
    long long farther = 0;
    for (double x : d) farther += x >= observed;
    EXPECT_NEAR(std::stod(gof[i][4]), (1.0 + farther) / 41, 1e-6);
    EXPECT_NEAR(std::stod(gof[i][2]), sample_quantile(d, 0.5), 5e-6 * std::stod(gof[i][2]));
    EXPECT_NEAR(std::stod(gof[i][3]), sample_quantile(d, 0.95), 5e-6 * std::stod(gof[i][3]));
  }
  // Null rows: distinct rows of the pilot's 1999.
  std::vector<long long> rows;
  for (size_t j = 1; j < null.size(); ++j) rows.push_back(std::stoll(null[j][1]));
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(std::unique(rows.begin(), rows.end()), rows.end());
  EXPECT_GE(rows.front(), 1);
  EXPECT_LE(rows.back(), 1999);

  const auto ppc = table_of(read_file(a.file("ex_ppc.txt")));
  ASSERT_EQ(ppc.size(), 1u + 4 * PPC_STATISTICS);
  EXPECT_EQ(ppc[1][0], "1");
  EXPECT_EQ(ppc[1][1], "all_band");
  EXPECT_EQ(ppc[5][1], "correlation");
  for (size_t i = 1; i < ppc.size(); ++i) {
    SCOPED_TRACE(ppc[i][1]);
    const double low = std::stod(ppc[i][4]), high = std::stod(ppc[i][5]);
    const double p = std::stod(ppc[i][6]);
    EXPECT_LE(low, high);
    EXPECT_GT(p, 0.0);
    EXPECT_LE(p, 1.0);
  }

  // The summary comes after the job's own lines, which are those of a run without -gof.
  const size_t job_end = r.out.find("Job made in ");
  ASSERT_NE(job_end, std::string::npos);
  EXPECT_GT(r.out.find("Population 4 (Fst statistics): "), job_end) << r.out;
  EXPECT_NE(r.out.find("tests fail at p < 0.05"), std::string::npos);
  args = GOF_RUN;
  args.erase(std::find(args.begin(), args.end(), "-gof"),
             std::find(args.begin(), args.end(), "-gof") + 2);
  const CommandResult p = run_bandstat(with_input(args, example), plain.path());
  ASSERT_EQ(p.status, 0);
  EXPECT_EQ(r.out.substr(0, job_end), p.out.substr(0, p.out.find("Job made in ")));
  for (const char* name :
       {"ex_regression.txt", "ex_no_regression.txt", "ex_diagnostics.txt", "ex_check-input.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(read_file(a.file(name)), read_file(plain.file(name)));
  }
  EXPECT_FALSE(file_exists(plain.file("ex_gof.txt")));
}

// Under -method joint the test runs on the joint table and its scaled features: the same
// files (without the predictive check, which needs the production run's draws) on 1 and 3
// threads, p-values from the kept null, and the estimation's files as without -gof.
TEST(GoodnessOfFitRun, JointMethodTestsOnItsOwnTable) {
  // clang-format off
  const std::vector<std::string> joint = {"-method", "joint", "-sims", "3000", "-ar", "0.05",
                                          "-nfis", "5", "-nfst", "5", "-gof", "30",
                                          "-nprocs", "3", "-seed", "11", "-o", "ex"};
  // clang-format on
  TempDir a, b, plain;
  const std::string example = source_dir() + "/examples/example.txt";
  const CommandResult r = run_bandstat(with_input(joint, example), a.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::string> args = joint;
  *(std::find(args.begin(), args.end(), "-nprocs") + 1) = "1";
  ASSERT_EQ(run_bandstat(with_input(args, example), b.path()).status, 0);
  for (const char* name : {"ex_gof.txt", "ex_gof_null.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(read_file(a.file(name)), read_file(b.file(name)));
  }
  EXPECT_FALSE(file_exists(a.file("ex_ppc.txt")));
  EXPECT_NE(r.out.find("Posterior predictive check: not made with -method joint"),
            std::string::npos);
  const auto gof = table_of(read_file(a.file("ex_gof.txt")));
  const auto null = table_of(read_file(a.file("ex_gof_null.txt")));
  ASSERT_EQ(gof.size(), 1u + 8);
  ASSERT_EQ(null.size(), 1u + 30);
  for (size_t i = 1; i < gof.size(); ++i) {
    SCOPED_TRACE(gof[i][0]);
    const double observed = std::stod(gof[i][1]);
    long long farther = 0;
    for (size_t j = 1; j < null.size(); ++j) farther += std::stod(null[j][i + 1]) >= observed;
    EXPECT_NEAR(std::stod(gof[i][4]), (1.0 + farther) / 31, 1e-6);
  }
  args = joint;
  args.erase(std::find(args.begin(), args.end(), "-gof"),
             std::find(args.begin(), args.end(), "-gof") + 2);
  ASSERT_EQ(run_bandstat(with_input(args, example), plain.path()).status, 0);
  for (const char* name : {"ex_regression.txt", "ex_no_regression.txt", "ex_diagnostics.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(read_file(a.file(name)), read_file(plain.file(name)));
  }
}

TEST(GoodnessOfFitRun, AClonalDataSetIsRejected) {
  TempDir dir;
  const CommandResult r =
      run_bandstat({"-n", "1000", "-ar", "0.05", "-gof", "100", "-nprocs", "2", "-seed", "5", "-o",
                    "clonal", source_dir() + "/tests/data/gof_clonal.txt"},
                   dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto gof = table_of(read_file(dir.file("clonal_gof.txt")));
  int rejected = 0;
  for (size_t i = 1; i < gof.size(); ++i) rejected += std::stod(gof[i][4]) < 0.05;
  EXPECT_GE(rejected, 2);
  EXPECT_NE(r.err.find("Warning: the model does not fit population "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("The model does not describe this population"), std::string::npos);
}

TEST(GoodnessOfFitRun, ATableThatCannotFitIsRefusedWithItsSize) {
  TempDir dir;
  const CommandResult r =
      run_bandstat({"-gof", "10", "-n", "1000000000", "-ar", "0.5", "-nfis", "250", "-nfst", "250",
                    "-o", "big", source_dir() + "/examples/example.txt"},
                   dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Not enough memory for the goodness-of-fit test: its reference table of "
                       "200000000 simulations in 4 populations needs 1496.08 GiB"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("leave out -gof)"), std::string::npos) << r.err;
}
