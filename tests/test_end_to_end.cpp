// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs of the built program on the bundled example and on the real data set.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

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
