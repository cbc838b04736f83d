// SPDX-License-Identifier: GPL-3.0-or-later
// Codominant conversion: the null-allele root, the rounding and the file layout.
#include <gtest/gtest.h>

#include <cmath>

#include "config.h"
#include "data/codominant.h"
#include "observed_data.h"
#include "support.h"

namespace {

// Loads the (n, k) counts of J populations of I loci into pop_target.
void set_counts(Job& job, const std::vector<std::vector<std::pair<int, int>>>& pops) {
  job.J = static_cast<int>(pops.size());
  job.I = static_cast<int>(pops[0].size());
  job.pop_target.assign(static_cast<size_t>(job.J) * job.I, LocusRecord{0, 0, 0.0});
  for (int p = 0; p < job.J; ++p)
    for (int l = 0; l < job.I; ++l)
      job.pop_target[job.record_index(p, l)] =
          LocusRecord{pops[p][l].first, pops[p][l].second, 0.0};
}

std::string convert(Job& job, TempDir& dir, const std::vector<double>& fis) {
  job.odir = dir.path() + "/";
  job.file_prefix = "alleles";
  write_codominant(job, fis);
  return read_file(dir.file("alleles_codominant.txt"));
}

}  // namespace

TEST(Round2, HalvesGoAwayFromZero) {
  struct Case {
    double x;
    int expected;
  } cases[] = {{2.5, 3}, {-2.5, -3}, {2.4999, 2}, {-2.4999, -2}, {0.0, 0}, {17.18, 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(round2(c.x), c.expected);
  }
}

// The sample data set of the input format, converted with Fis 0.1 and 0.2.
TEST(Codominant, WorkedExampleByteForByte) {
  Job job;
  TempDir dir;
  set_counts(job, {{{20, 5}, {20, 12}, {19, 0}}, {{15, 15}, {16, 3}, {16, 7}}});
  EXPECT_EQ(convert(job, dir, {0.1, 0.2}),
            "#value of Fis used to convert from dominant data: \n"
            "#Population 1: 0.1\n"
            "#Population 2: 0.2\n"
            "\n"
            "[loci]=3\n"
            "\n"
            "[populations]=2\n"
            "\n"
            "[pop]=1\n"
            "  1  20  2    3 17\n"
            "  2  20  2    8 12\n"
            "  3  19  2    0 19\n"
            "\n"
            "[pop]=2\n"
            "  1  15  2   15 0\n"
            "  2  16  2    2 14\n"
            "  3  16  2    4 12\n"
            "\n");
}

TEST(Codominant, NullAlleleFrequencyCases) {
  struct Case {
    double P, F, q;
    const char* why;
  } cases[] = {
      {0.0, 0.3, 0.0, "k = n: nobody lacks the band"},
      {1.0, 0.3, 1.0, "k = 0: everybody lacks the band"},
      {0.25, 0.0, 0.5, "F = 0: Hardy-Weinberg, q = sqrt(P)"},
      {0.36, 0.0, 0.6, "F = 0"},
      {0.25, 1.0, 0.25, "F = 1: all homozygous, q = P (the formula divides by 0)"},
      {0.75, 1.0, 0.75, "F = 1"},
      // With F = 0.5: 0.5 q^2 + 0.5 q - P = 0 at q = 0.5 gives P = 0.375.
      {0.375, 0.5, 0.5, "inbreeding lowers q below sqrt(P) = 0.612"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    double q = null_allele_frequency(c.P, c.F);
    EXPECT_NEAR(q, c.q, 1e-12);
    // q solves P = q^2 + F q (1 - q).
    EXPECT_NEAR(q * q + c.F * q * (1 - q), c.P, 1e-12);
  }
}

TEST(Codominant, EdgeCountsAndWideFields) {
  Job job;
  TempDir dir;
  // k = n, k = 0, then a population of 1000 individuals whose fields widen.
  set_counts(job, {{{20, 20}, {20, 0}}, {{1000, 750}, {1000, 0}}});
  std::string text = convert(job, dir, {1.0, 0.0});
  // F = 1: q = P, so counts are k and n - k exactly; F = 0: q = sqrt(0.25) = 0.5.
  EXPECT_NE(text.find("[pop]=1\n  1  20  2   20 0\n  2  20  2    0 20\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("[pop]=2\n  1  1000  2  500 500\n  2  1000  2    0 1000\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("#Population 1: 1\n#Population 2: 0\n"), std::string::npos);
}

TEST(Codominant, UncreatableFileIsAnError) {
  Job job;
  TempDir dir;
  set_counts(job, {{{20, 5}}});
  job.odir = dir.path() + "/missing-folder/";
  job.file_prefix = "alleles";
  EXPECT_EXIT(write_codominant(job, {0.1}), testing::ExitedWithCode(1),
              "Cannot create codominant file .*missing-folder/alleles_codominant.txt");
}
