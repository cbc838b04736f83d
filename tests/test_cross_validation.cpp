// SPDX-License-Identifier: GPL-3.0-or-later
// Cross-validation: the choice of pseudo-observed sets, the leave-one-out estimation on a
// reference table with a known relation between parameter and statistics, the summaries,
// and whole runs with -cv.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "posterior/cross_validation.h"
#include "support.h"

namespace {

// A reference table of one population in which each parameter's statistics are the
// parameter itself plus noise of the given size (0: the statistics determine it exactly;
// large: they say nothing).
ReferenceTable table_with_noise(long long size, double noise_fis, double noise_fst) {
  ReferenceTable t;
  t.size = size;
  t.npop = 1;
  t.nc_fis = 2;
  t.nc_fst = 3;
  t.parameters.resize(2 * size);
  t.stats_fis.resize(size * 2);
  t.stats_fst.resize(size * 3);
  FixtureUniform u{0x9e3779b97f4a7c15ULL};
  for (long long r = 0; r < size; ++r) {
    const double fis = u(), fst = u();
    t.parameters[r] = static_cast<float>(fis);
    t.parameters[size + r] = static_cast<float>(fst);
    for (int c = 0; c < 2; ++c) t.stats_fis[r * 2 + c] = static_cast<float>(fis + noise_fis * u());
    for (int c = 0; c < 3; ++c) t.stats_fst[r * 3 + c] = static_cast<float>(fst + noise_fst * u());
  }
  return t;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::istringstream s(line);
  std::vector<std::string> out;
  for (std::string f; s >> f;) out.push_back(f);
  return out;
}

std::vector<std::vector<std::string>> table_of(const std::string& text) {
  std::istringstream s(text);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(s, line);) rows.push_back(fields_of(line));
  return rows;
}

}  // namespace

TEST(CrossValidation, PseudoObservedSetsAreDistinctAndReproducible) {
  const std::vector<long long> a = choose_pseudo_observed(1000, 100, 7);
  ASSERT_EQ(a.size(), 100u);
  EXPECT_EQ(std::set<long long>(a.begin(), a.end()).size(), 100u);
  for (long long r : a) {
    EXPECT_GE(r, 0);
    EXPECT_LT(r, 1000);
  }
  EXPECT_EQ(choose_pseudo_observed(1000, 100, 7), a);
  EXPECT_NE(choose_pseudo_observed(1000, 100, 8), a);
  // Every row when all are asked for.
  std::vector<long long> all = choose_pseudo_observed(50, 50, 1);
  std::sort(all.begin(), all.end());
  for (long long r = 0; r < 50; ++r) EXPECT_EQ(all[r], r);
}

TEST(CrossValidation, EstimatesFollowWhatTheStatisticsDetermine) {
  // Fis statistics without noise determine Fis; Fst statistics of pure noise (ten times the
  // parameter's range) say almost nothing about Fst.
  const ReferenceTable t = table_with_noise(4000, 0.0, 10.0);
  const std::vector<long long> pods = choose_pseudo_observed(t.size, 60, 3);
  const std::vector<CvEstimate> e = cross_validate(t, pods, 200, 0.95, 2);
  ASSERT_EQ(e.size(), 120u);
  const std::vector<CvSummaryRow> s = summarise_cross_validation(e, 1);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].label, "Fis1");
  EXPECT_EQ(s[3].label, "Fst");
  EXPECT_LT(s[0].prediction_error_adjusted, 0.01);
  EXPECT_GT(s[1].prediction_error_adjusted, 0.7);
  EXPECT_GT(s[1].prediction_error_unadjusted, 0.7);
  for (const CvSummaryRow& r : s) {
    SCOPED_TRACE(r.label);
    EXPECT_GE(r.coverage_unadjusted, 0.8);
  }
  for (const CvEstimate& x : e) {
    EXPECT_GE(x.truth, 0.0);
    EXPECT_LE(x.truth, 1.0);
    EXPECT_LE(x.hpdi_low, x.hpdi_high);
  }
}

TEST(CrossValidation, ResultsDoNotDependOnTheNumberOfThreads) {
  const ReferenceTable t = table_with_noise(1500, 0.05, 0.2);
  const std::vector<long long> pods = choose_pseudo_observed(t.size, 13, 5);
  const std::vector<CvEstimate> one = cross_validate(t, pods, 60, 0.9, 1);
  const std::vector<CvEstimate> three = cross_validate(t, pods, 60, 0.9, 3);
  ASSERT_EQ(one.size(), three.size());
  for (size_t i = 0; i < one.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(one[i].pod, three[i].pod);
    EXPECT_EQ(one[i].parameter, three[i].parameter);
    EXPECT_EQ(one[i].mean_adjusted, three[i].mean_adjusted);
    EXPECT_EQ(one[i].hpdi_low, three[i].hpdi_low);
    EXPECT_EQ(one[i].mean_unadjusted, three[i].mean_unadjusted);
  }
}

TEST(CrossValidation, TheLeftOutSetIsNotItsOwnNeighbour) {
  // Every row has a twin except the pseudo-observed one, whose parameter is unique: were it
  // left in, its sample would hold its own parameter.
  ReferenceTable t;
  t.size = 41;
  t.npop = 1;
  t.nc_fis = 1;
  t.nc_fst = 1;
  t.parameters.assign(2 * t.size, 0.5f);
  t.stats_fis.assign(t.size, 0.0f);
  t.stats_fst.assign(t.size, 0.0f);
  for (long long r = 0; r < t.size; ++r) t.stats_fis[r] = t.stats_fst[r] = r * 0.01f;
  t.parameters[20] = 0.9f;  // Fis of row 20, the pseudo-observed set
  const std::vector<CvEstimate> e = cross_validate(t, {20}, 5, 0.95, 1);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_FLOAT_EQ(e[0].truth, 0.9f);
  EXPECT_FLOAT_EQ(e[0].hpdi_high_unadjusted, 0.5f);
}

TEST(CrossValidation, SummaryFiguresFromAFixture) {
  // Two populations, three pseudo-observed sets; Fis2's second adjusted estimate failed.
  auto est = [](int pod, int parameter, double truth, double adj, double unadj, double lo,
                double hi) {
    CvEstimate e;
    e.pod = pod;
    e.parameter = parameter;
    e.truth = truth;
    e.mean_adjusted = adj;
    e.mean_unadjusted = unadj;
    e.hpdi_low = e.hpdi_low_unadjusted = lo;
    e.hpdi_high = e.hpdi_high_unadjusted = hi;
    return e;
  };
  const std::vector<CvEstimate> e = {
      est(1, 0, 0.2, 0.3, 0.5, 0.1, 0.2),  // truth on the upper bound: inside
      est(1, 1, 0.1, 0.1, 0.5, 0.0, 0.5), est(1, 2, 0.5, 0.5, 0.5, 0.4, 0.6),
      est(1, 3, 0.5, 0.5, 0.5, 0.4, 0.6), est(2, 0, 0.4, 0.4, 0.5, 0.5, 0.9),
      est(2, 1, 0.3, NAN, 0.5, 0.0, 0.5), est(2, 2, 0.5, 0.5, 0.5, 0.4, 0.6),
      est(2, 3, 0.5, 0.5, 0.5, 0.4, 0.6), est(3, 0, 0.6, 0.5, 0.5, 0.0, 1.0),
      est(3, 1, 0.5, 0.4, 0.5, 0.0, 0.5), est(3, 2, 0.5, 0.5, 0.5, 0.4, 0.6),
      est(3, 3, 0.5, 0.5, 0.5, 0.4, 0.6),
  };
  const std::vector<CvSummaryRow> s = summarise_cross_validation(e, 2);
  ASSERT_EQ(s.size(), 6u);
  // Fis1: truths 0.2 0.4 0.6 (spread 0.08); adjusted errors 0.1 0 -0.1; unadjusted 0.3 0.1 -0.1.
  EXPECT_NEAR(s[0].prediction_error_adjusted, 0.02 / 0.08, 1e-12);
  EXPECT_NEAR(s[0].prediction_error_unadjusted, 0.11 / 0.08, 1e-12);
  EXPECT_NEAR(s[0].coverage_adjusted, 2.0 / 3, 1e-12);
  // Fis2: the failed estimate leaves the adjusted figures: truths 0.1 0.5 (spread 0.08).
  EXPECT_NEAR(s[1].prediction_error_adjusted, 0.01 / 0.08, 1e-12);
  EXPECT_NEAR(s[1].coverage_adjusted, 1.0, 1e-12);
  EXPECT_NEAR(s[1].coverage_unadjusted, 1.0, 1e-12);
  // Fst1: every truth equal: no spread, no prediction error.
  EXPECT_TRUE(std::isnan(s[2].prediction_error_adjusted));
  EXPECT_EQ(s[4].label, "Fis");
  // Pooled Fis: five adjusted estimates, truths 0.2 0.4 0.6 0.1 0.5.
  EXPECT_NEAR(s[4].prediction_error_adjusted, (0.01 + 0 + 0.01 + 0 + 0.01) / 0.172, 1e-12);
  EXPECT_NEAR(s[4].coverage_unadjusted, 5.0 / 6, 1e-12);
}

TEST(CrossValidation, VerdictWords) {
  struct Case {
    double error, coverage;
    const char* expected;
  };
  const Case cases[] = {
      {0.12, 0.93,
       "Fst: prediction error 0.12; the 95% HPDI holds 93% of the true values: well "
       "estimated by these data"},
      {0.45, 0.95, "only partly determined"},
      {0.71, 0.95, "these data say little about Fst"},
      {0.2, 0.80, "its HPDI is too narrow"},  // more than 0.1 below 0.95
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    CvSummaryRow row;
    row.label = "Fst";
    row.prediction_error_adjusted = row.prediction_error_unadjusted = c.error;
    row.coverage_adjusted = c.coverage;
    EXPECT_NE(cv_verdict(row, 0.95).find(c.expected), std::string::npos) << cv_verdict(row, 0.95);
  }
}

namespace {

// A cross-validated run of the bundled example (four populations): 50 pseudo-observed sets
// from a pilot of 1999 simulations, estimation samples of 99, five statistics.
// clang-format off
const std::vector<std::string> CV_RUN = {"-n", "1000", "-ar", "0.05", "-nfis", "5", "-nfst", "5",
                                         "-cv", "50", "-plot", "-nprocs", "2", "-seed", "2026",
                                         "-o", "ex"};
// clang-format on

struct Scored {
  double error_adjusted, error_unadjusted, coverage_adjusted;
};

// The prediction errors and the adjusted coverage recomputed from the rows of STEM_cv.txt
// whose parameter label starts with `prefix` (and has a population number only when `pooled`
// is false): the figures the summary file must hold.
Scored recompute(const std::vector<std::vector<std::string>>& rows, const std::string& label,
                 bool pooled) {
  std::vector<double> truth, adj, unadj, low, high;
  for (size_t i = 1; i < rows.size(); ++i) {
    const std::string& p = rows[i][1];
    if (pooled ? p.compare(0, 3, label) != 0 : p != label) continue;
    truth.push_back(std::stod(rows[i][2]));
    adj.push_back(std::stod(rows[i][3]));
    unadj.push_back(std::stod(rows[i][4]));
    low.push_back(std::stod(rows[i][5]));
    high.push_back(std::stod(rows[i][6]));
  }
  double mean = 0;
  for (double t : truth) mean += t / truth.size();
  double spread = 0, se_adj = 0, se_unadj = 0, held = 0;
  for (size_t i = 0; i < truth.size(); ++i) {
    spread += (truth[i] - mean) * (truth[i] - mean);
    se_adj += (adj[i] - truth[i]) * (adj[i] - truth[i]);
    se_unadj += (unadj[i] - truth[i]) * (unadj[i] - truth[i]);
    held += low[i] <= truth[i] && truth[i] <= high[i];
  }
  return {se_adj / spread, se_unadj / spread, held / truth.size()};
}

}  // namespace

TEST(CrossValidationRun, SummaryMatchesTheEstimatesAndFstIsCovered) {
  TempDir dir;
  std::vector<std::string> args = CV_RUN;
  args.push_back(source_dir() + "/examples/example.txt");
  CommandResult r = run_bandstat(args, dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The job's own lines come first, the verdicts after them.
  const size_t job_end = r.out.find("Job made in ");
  ASSERT_NE(job_end, std::string::npos);
  EXPECT_GT(r.out.find("\nFis: prediction error "), job_end) << r.out;
  EXPECT_GT(r.out.find("\nFst: prediction error "), job_end) << r.out;

  const auto rows = table_of(read_file(dir.file("ex_cv.txt")));
  ASSERT_EQ(rows.size(), 1u + 50 * 8);
  EXPECT_EQ(rows[0], fields_of("pod parameter true mean_adjusted mean_unadjusted hpdi_low "
                               "hpdi_high"));
  EXPECT_EQ(rows[1][0], "1");
  EXPECT_EQ(rows[1][1], "Fis1");
  EXPECT_EQ(rows[8][1], "Fst4");
  EXPECT_EQ(rows.back()[0], "50");

  const auto summary = table_of(read_file(dir.file("ex_cv_summary.txt")));
  ASSERT_EQ(summary.size(), 1u + 8 + 2);
  EXPECT_EQ(summary[0], fields_of("parameter prediction_error_adjusted "
                                  "prediction_error_unadjusted coverage_adjusted "
                                  "coverage_unadjusted"));
  for (size_t i = 1; i < summary.size(); ++i) {
    const std::string& label = summary[i][0];
    SCOPED_TRACE(label);
    const bool pooled = label.size() == 3;
    EXPECT_EQ(pooled, i > 8);
    const Scored s = recompute(rows, label, pooled);
    EXPECT_NEAR(std::stod(summary[i][1]), s.error_adjusted, 1e-5 * s.error_adjusted);
    EXPECT_NEAR(std::stod(summary[i][2]), s.error_unadjusted, 1e-5 * s.error_unadjusted);
    EXPECT_NEAR(std::stod(summary[i][3]), s.coverage_adjusted, 1e-6);
    const double coverage_unadjusted = std::stod(summary[i][4]);
    EXPECT_GE(coverage_unadjusted, 0.0);
    EXPECT_LE(coverage_unadjusted, 1.0);
  }
  // Fst is well identified by band counts: its 95% HPDI holds most true values.
  const double fst_coverage = std::stod(summary.back()[3]);
  EXPECT_GE(fst_coverage, 0.8);
  EXPECT_LE(fst_coverage, 1.0);

  // The pseudo-observed sets come from the prior, uniform on (0, 1): 200 values of each
  // parameter fill every quarter (each holds 25%, standard error 3%).
  for (const char* parameter : {"Fis", "Fst"}) {
    SCOPED_TRACE(parameter);
    int quarter[4] = {0, 0, 0, 0}, n = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
      if (rows[i][1].compare(0, 3, parameter) != 0) continue;
      const double t = std::stod(rows[i][2]);
      ASSERT_GT(t, 0.0);
      ASSERT_LT(t, 1.0);
      ++quarter[std::min(3, static_cast<int>(t * 4))];
      ++n;
    }
    ASSERT_EQ(n, 200);
    for (int q : quarter) {
      EXPECT_GE(q, 30);
      EXPECT_LE(q, 70);
    }
  }
  EXPECT_TRUE(file_exists(dir.file("ex_posterior.svg")));
  EXPECT_TRUE(file_exists(dir.file("ex_cv.svg")));
}

TEST(CrossValidationRun, SameSeedSameEstimates) {
  TempDir a, b;
  std::vector<std::string> args = CV_RUN;
  args.push_back(source_dir() + "/examples/example.txt");
  ASSERT_EQ(run_bandstat(args, a.path()).status, 0);
  *(std::find(args.begin(), args.end(), "-nprocs") + 1) = "1";  // one worker instead of two
  ASSERT_EQ(run_bandstat(args, b.path()).status, 0);
  // Compared as a whole; a difference prints only the first line that differs.
  const std::string x = read_file(a.file("ex_cv.txt")), y = read_file(b.file("ex_cv.txt"));
  size_t at = 0;
  while (at < x.size() && at < y.size() && x[at] == y[at]) ++at;
  const size_t line = x.rfind('\n', at) == std::string::npos ? 0 : x.rfind('\n', at) + 1;
  EXPECT_EQ(x.size(), y.size());
  EXPECT_EQ(x.substr(line, x.find('\n', line) - line), y.substr(line, y.find('\n', line) - line));
}

TEST(CrossValidationRun, ATableThatCannotFitIsRefusedWithItsSize) {
  TempDir dir;
  // 200 million pilot simulations of 4 populations and 502 values each: about 1.5 TiB.
  CommandResult r =
      run_bandstat({"-cv", "10", "-n", "1000000000", "-ar", "0.5", "-nfis", "250", "-nfst", "250",
                    "-o", "big", source_dir() + "/examples/example.txt"},
                   dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Not enough memory for the cross-validation: its reference table of "
                       "200000000 simulations in 4 populations needs 1496.08 GiB"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(file_exists(dir.file("big_Fis1.txt")));
}
