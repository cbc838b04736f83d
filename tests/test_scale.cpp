// SPDX-License-Identifier: GPL-3.0-or-later
// Data sets beyond the sizes the program once held, and the memory check before a job.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace {

// A band-count file of `loci` x `pops` with sample sizes 10 to 20 and band counts spread
// over every value, so that every locus passes the locus filter.
std::string counts_file(int loci, int pops) {
  std::string text;
  text.reserve(static_cast<size_t>(loci) * pops * 12);
  text += "[loci]=" + std::to_string(loci) + "\n\n[populations]=" + std::to_string(pops) + "\n\n";
  for (int p = 1; p <= pops; ++p) {
    text += "[pop]=" + std::to_string(p) + "\n";
    for (int l = 1; l <= loci; ++l) {
      const int n = 10 + (l + 3 * p) % 11;
      const int k = (7 * l + 5 * p) % (n + 1);
      text += std::to_string(l) + ' ' + std::to_string(n) + ' ' + std::to_string(k) + '\n';
    }
    text += '\n';
  }
  return text;
}

}  // namespace

// 6000 loci, 64 populations and 64 * (15 + 25) statistics: past every former limit. A tiny
// run (30 accepted draws, a pilot of 6, 85 replicates) goes through every step.
TEST(Scale, LargeDataSetRunsThrough) {
  TempDir dir;
  write_file(dir.file("big.txt"), counts_file(6000, 64));
  CommandResult r = run_bandstat(
      {"-n", "30", "-ar", "0.5", "-seed", "3", "-nprocs", "2", "-s", "st.txt", "big.txt"},
      dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(read_file(dir.file("big_check-input.txt")).find("There are 6000 loci."),
            std::string::npos);
  const std::string reg = read_file(dir.file("big_regression.txt"));
  EXPECT_EQ(count_lines(reg), 30);
  std::istringstream first_line(reg.substr(0, reg.find('\n')));
  int columns = 0;
  for (double v; first_line >> v; ++columns) {
    EXPECT_GE(v, 0.0);
    EXPECT_LE(v, 1.0);
  }
  EXPECT_EQ(columns, 128);
  const std::string stats = read_file(dir.file("st.txt"));
  EXPECT_NE(stats.find("Fis64 "), std::string::npos);
  EXPECT_NE(stats.find("Fst64 "), std::string::npos);
}

// 10^9 accepted draws of 64 populations need terabytes for the posterior samples alone: the
// job is refused before its pilot run, naming what it needs and what there is.
TEST(Scale, JobTooLargeForMemoryIsRefusedWithTheFigures) {
  TempDir dir;
  write_file(dir.file("wide.txt"), counts_file(2, 64));
  CommandResult r =
      run_bandstat({"-n", "1000000000", "-ar", "0.5", "-seed", "3", "wide.txt"}, dir.path());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.out.find("Pilot run"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Not enough memory for the job on \"wide.txt\" (2 loci, 64 populations): "
                       "it needs about "),
            std::string::npos)
      << r.err;
  // The posterior samples alone: 64 populations x 10^9 draws x 4 floats, about 0.9 TiB.
  EXPECT_NE(r.err.find(" TiB (observed data "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" are available."), std::string::npos) << r.err;
  EXPECT_FALSE(file_exists(dir.file("wide_Fis1.txt")));
}
