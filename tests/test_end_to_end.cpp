// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs of the built program on the bundled example and on the real data set.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "posterior/posterior_stats.h"
#include "support.h"

namespace {

// Small but complete runs: 40 accepted draws from a pilot of 39 and at least 399 replicates,
// seeded, so that what the tests assert about the results holds on every run.
const std::vector<std::string> SMALL = {"-n", "40",    "-ar", "0.1",   "-nfis",
                                        "5",  "-nfst", "5",   "-seed", "20240611"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::string example() { return source_dir() + "/examples/example.txt"; }

}  // namespace

TEST(EndToEnd, ExampleRunWritesEveryOutput) {
  TempDir dir;
  CommandResult r = run_bandstat(
      with(SMALL, {"-s", "stats.txt", "-convert", "-keep", "-nprocs", "2", "-o", "ex", example()}),
      dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Pilot run to determine threshold acceptance value..."), std::string::npos);
  EXPECT_NE(r.out.find("done!"), std::string::npos);
  EXPECT_NE(r.out.find("Job made in "), std::string::npos);
  for (const char* name : {"ex_check-input.txt", "ex_regression.txt", "ex_no_regression.txt",
                           "ex_codominant.txt", "stats.txt", "ex_Fis1.txt", "ex_Fst4.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(file_exists(dir.file(name)));
  }
  // Four populations: Fis and Fst columns of each, one line per accepted draw.
  std::string reg = read_file(dir.file("ex_regression.txt"));
  EXPECT_EQ(count_lines(reg), 40);
  std::istringstream first_line(reg.substr(0, reg.find('\n')));
  int columns = 0;
  for (double v; first_line >> v; ++columns) {
    EXPECT_GE(v, 0.0);
    EXPECT_LE(v, 1.0);
  }
  EXPECT_EQ(columns, 8);
  std::string stats = read_file(dir.file("stats.txt"));
  EXPECT_EQ(stats.substr(0, stats.find('\n')), "      mean  mode variance 95% HPDI");
  EXPECT_EQ(count_lines(stats), 9);
  EXPECT_EQ(count_lines(read_file(dir.file("ex_Fis1.txt"))), 40);
}

TEST(EndToEnd, AcceptedDrawFilesAreRemovedWithoutKeep) {
  TempDir dir;
  CommandResult r = run_bandstat(with(SMALL, {"-o", "ex", example()}), dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(file_exists(dir.file("ex_regression.txt")));
  EXPECT_FALSE(file_exists(dir.file("stats.txt")));
  for (int k = 1; k <= 4; ++k) {
    EXPECT_FALSE(file_exists(dir.file("ex_Fis" + std::to_string(k) + ".txt")));
    EXPECT_FALSE(file_exists(dir.file("ex_Fst" + std::to_string(k) + ".txt")));
  }
}

TEST(EndToEnd, OptionValuesReachTheRunAsConverted) {
  TempDir dir;
  write_file(dir.file("in.txt"),
             "[loci]=3\n[populations]=2\n[pop]=1\n1 20 5\n2 20 12\n3 19 3\n"
             "[pop]=2\n1 15 15\n2 16 3\n3 16 7\n");
  // -hpdi 0.9 is announced as 90%; -od without "/" is a raw prefix; -help prints the usage
  // once and the run goes on.
  CommandResult r = run_bandstat({"-help", "-n", "12", "-ar", "0.2", "-nfis", "3", "-nfst", "3",
                                  "-hpdi", "0.9", "-s", "st.txt", "-od", "out", "in.txt"},
                                 dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("Usage: "), r.out.rfind("Usage: "));
  EXPECT_NE(r.out.find("Usage: "), std::string::npos);
  std::string check = read_file(dir.file("outin_check-input.txt"));
  EXPECT_NE(check.find("There are 12 outputs."), std::string::npos);
  EXPECT_NE(check.find("Acceptance ration is 0.2\n"), std::string::npos);
  std::string stats = read_file(dir.file("outst.txt"));
  EXPECT_EQ(stats.substr(0, stats.find('\n')), "      mean  mode variance 90% HPDI");
  EXPECT_EQ(count_lines(read_file(dir.file("outin_regression.txt"))), 12);
}

TEST(EndToEnd, TwoInputFilesRunTwoJobs) {
  TempDir dir;
  write_file(dir.file("a.txt"), "[loci]=3\n[populations]=1\n[pop]=1\n1 20 5\n2 20 12\n3 19 3\n");
  write_file(dir.file("b.txt"),
             "[loci]=2\n[populations]=2\n[pop]=1\n1 10 5\n2 10 1\n[pop]=2\n1 10 9\n2 10 4\n");
  CommandResult r = run_bandstat(with(SMALL, {"a.txt", "b.txt"}), dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  size_t first = r.out.find("Job made in ");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(r.out.find("Job made in ", first + 1), std::string::npos);
  // The second job prints its own pilot progress from the start.
  size_t second_pilot = r.out.find("Pilot run", first);
  ASSERT_NE(second_pilot, std::string::npos);
  EXPECT_NE(r.out.find(" 100%", second_pilot), std::string::npos);
  EXPECT_TRUE(file_exists(dir.file("a_regression.txt")));
  EXPECT_TRUE(file_exists(dir.file("b_regression.txt")));
}

TEST(EndToEnd, RealDataTwoRegions) {
  const std::string data = test_data_dir() + "/rootrot_2pops.txt";
  ASSERT_TRUE(file_exists(data)) << data;
  TempDir dir;
  CommandResult r = run_bandstat({"-n", "500", "-ar", "0.02", "-nprocs", "2", "-seed", "17", "-s",
                                  "stats.txt", "-convert", data},
                                 dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::string stats = read_file(dir.file("stats.txt"));
  EXPECT_EQ(count_lines(stats), 5);
  EXPECT_NE(stats.find("Fis1 "), std::string::npos);
  EXPECT_NE(stats.find("Fst2 "), std::string::npos);
  std::string converted = read_file(dir.file("rootrot_2pops_codominant.txt"));
  EXPECT_NE(converted.find("[loci]=56\n"), std::string::npos);

  // The regression's slopes add their own uncertainty to the adjusted Fst means, so their
  // Monte Carlo error exceeds that of the unadjusted means (by about ten times here).
  std::istringstream diagnostics(read_file(dir.file("rootrot_2pops_diagnostics.txt")));
  std::string header;
  std::getline(diagnostics, header);
  EXPECT_EQ(header.rfind("parameter mean_adjusted mean_unadjusted sd_adjusted mc_error_adjusted "
                         "mc_error_unadjusted",
                         0),
            0u);
  int rows = 0;
  for (std::string name, mean_adj, mean_unadj, sd, mc_adj, mc_unadj, rest;
       diagnostics >> name >> mean_adj >> mean_unadj >> sd >> mc_adj >> mc_unadj &&
       std::getline(diagnostics, rest);) {
    ++rows;
    if (name.rfind("Fst", 0) == 0) {
      SCOPED_TRACE(name);
      EXPECT_GT(std::stod(mc_adj), std::stod(mc_unadj));
    }
  }
  EXPECT_EQ(rows, 4);
}

namespace {

// A joint run of the example: a table of 2000 simulations of its four populations of 20,
// pooled into 8000 training rows, of which the nearest 5% (400) make each sample.
const std::vector<std::string> JOINT = {"-method", "joint", "-sims", "2000", "-ar",   "0.05",
                                        "-nfis",   "5",     "-nfst", "5",    "-seed", "31"};

// The line of `text` that starts with `prefix` (without its line end), or "" when none does.
std::string line_starting(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) return line;
  return "";
}

}  // namespace

TEST(EndToEnd, JointMethodWritesTheSameOutputsAndItsSummariesRecompute) {
  TempDir dir;
  CommandResult r = run_bandstat(
      with(JOINT, {"-s", "st.txt", "-keep", "-convert", "-cv", "20", "-o", "ex", example()}),
      dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Simulating the reference table of 2000 data sets..."), std::string::npos);
  EXPECT_EQ(r.out.find("Pilot run"), std::string::npos);
  for (const char* name : {"ex_no_regression.txt", "ex_diagnostics.txt", "ex_codominant.txt",
                           "ex_cv.txt", "ex_Fst4.txt"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(file_exists(dir.file(name)));
  }

  // The statistics file summarises the columns of the posterior sample file.
  std::istringstream samples(read_file(dir.file("ex_regression.txt")));
  std::vector<std::vector<float>> columns(8);
  int lines = 0;
  for (std::string line; std::getline(samples, line); ++lines) {
    std::istringstream fields(line);
    for (std::vector<float>& c : columns) {
      float v;
      ASSERT_TRUE(fields >> v) << line;
      c.push_back(v);
    }
  }
  EXPECT_EQ(lines, 400);
  const std::string stats = read_file(dir.file("st.txt"));
  for (int k = 0; k < 8; ++k) {
    const std::string label = (k < 4 ? "Fis" : "Fst") + std::to_string(k % 4 + 1);
    SCOPED_TRACE(label);
    double mean, variance, low, high, mode;
    calculate_stats(columns[k].data(), 0.95f, lines, &mean, &variance, &low, &high, &mode);
    std::ostringstream expected;
    expected.precision(3);
    expected << label << " " << mean << " " << mode << " " << variance << " [" << low << ";" << high
             << "]";
    EXPECT_EQ(line_starting(stats, label + " "), expected.str());
  }

  // -keep: the accepted rows with their scaled feature differences (at most 2 x (5 + 5)).
  const std::string draws = read_file(dir.file("ex_Fis1.txt"));
  EXPECT_EQ(count_lines(draws), 400);
  std::istringstream first(draws.substr(0, draws.find('\n')));
  int numbers = 0;
  for (double v; first >> v;) ++numbers;
  EXPECT_GE(numbers, 2 + 10);
  EXPECT_LE(numbers, 2 + 20);

  // The run record names the method, the table and the features instead of the pilot.
  const std::string record = read_file(dir.file("ex_run.txt"));
  EXPECT_NE(record.find("\nmethod: joint\nreference table: 2000 simulations\nfeatures: fis1 fis2"),
            std::string::npos)
      << record;
  EXPECT_NE(record.find(" others_fst5\ndraws per population: 400\n"), std::string::npos) << record;
  EXPECT_NE(record.find("\npopulation 4: 8000 training rows, pool 1 2 3 4"), std::string::npos);
  EXPECT_EQ(record.find("pilot size"), std::string::npos);

  // The cross-validation: 20 data sets of 8 parameters, and its summary.
  EXPECT_EQ(count_lines(read_file(dir.file("ex_cv.txt"))), 1 + 20 * 8);
  EXPECT_EQ(count_lines(read_file(dir.file("ex_cv_summary.txt"))), 1 + 8 + 2);
  EXPECT_NE(r.out.find("\nFst: prediction error "), std::string::npos);
}

TEST(EndToEnd, JointMethodWithUnequalSamplesAndATableThatCannotFit) {
  TempDir dir;
  // Population 2 has other sample sizes: it trains on its own 2000 rows, and every sample
  // has the 5% of those (100 draws).
  write_file(dir.file("in.txt"),
             "[loci]=3\n[populations]=3\n[pop]=1\n1 20 5\n2 20 12\n3 20 3\n"
             "[pop]=2\n1 15 15\n2 16 3\n3 16 7\n[pop]=3\n1 20 9\n2 20 4\n3 20 11\n");
  CommandResult r = run_bandstat(with(JOINT, {"in.txt"}), dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(count_lines(read_file(dir.file("in_regression.txt"))), 100);
  const std::string record = read_file(dir.file("in_run.txt"));
  EXPECT_NE(record.find("\npopulation 1: 4000 training rows, pool 1 3"), std::string::npos);
  EXPECT_NE(record.find("\npopulation 2: 2000 training rows, pool 2"), std::string::npos);

  // Two thousand million simulations of three populations: about 0.9 TiB of table.
  r = run_bandstat({"-method", "joint", "-sims", "2000000000", "-o", "big", "in.txt"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Not enough memory for -method joint: its reference table of 2000000000 "
                       "simulations in 3 populations needs"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(file_exists(dir.file("big_run.txt")));
}
