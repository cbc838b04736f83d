// SPDX-License-Identifier: GPL-3.0-or-later
// MTRand: reference streams of the generator, seeding paths, and the variates tested
// against their exact distributions with fixed seeds.
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_randist.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "random/mtrand.h"
#include "support.h"

namespace {

// ---- Generator -------------------------------------------------------------------------

TEST(MTRandGenerator, ReproducesTheReferenceStreamOfSeed5489) {
  MTRand r;
  r.seed(5489UL);
  const uint32_t first[] = {3499211612u, 581869302u, 3890346734u, 3586334585u, 545404204u};
  for (uint32_t expected : first) EXPECT_EQ(r.randInt(), expected);
  // The 10000th word of this seed is the published check value of MT19937; reaching it
  // crosses sixteen regenerations of the state.
  for (int i = 6; i < 10000; ++i) r.randInt();
  EXPECT_EQ(r.randInt(), 4123659995u);
}

TEST(MTRandGenerator, ReproducesTheReferenceStreamOfTheArraySeed) {
  MTRand r;
  unsigned long key[] = {0x123, 0x234, 0x345, 0x456};
  r.seed(key, 4);
  const uint32_t first[] = {1067595299u, 955945823u, 477289528u, 4107218783u, 4228976476u};
  for (uint32_t expected : first) EXPECT_EQ(r.randInt(), expected);
}

TEST(MTRandGenerator, ReseedingRestartsTheStream) {
  MTRand r;
  r.seed(42UL);
  std::vector<uint32_t> a;
  for (int i = 0; i < 1500; ++i) a.push_back(r.randInt());
  r.seed(42UL);
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(r.randInt(), a[i]) << "word " << i;
}

TEST(MTRandGenerator, UniformConversionsAtTheirExtremes) {
  const double two32 = 4294967296.0;
  struct Row {
    uint32_t word;
    double exc, dbl_exc;
  } rows[] = {
      {0u, 0.0, 0.5 / two32},  // randExc can be 0; randDblExc's least value is 2^-33
      {0xffffffffu, 1.0 - 1.0 / two32, 1.0 - 0.5 / two32},  // neither ever reaches 1
      {0x80000000u, 0.5, 0.5 + 0.5 / two32},
      {1u, 1.0 / two32, 1.5 / two32},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.word);
    EXPECT_EQ(MTRand::uniformExc(row.word), row.exc);
    EXPECT_EQ(MTRand::uniformDblExc(row.word), row.dbl_exc);
    EXPECT_LT(MTRand::uniformDblExc(row.word), 1.0);
    EXPECT_GT(MTRand::uniformDblExc(row.word), 0.0);
  }
  MTRand r;
  r.seed(7UL);
  MTRand twin;
  twin.seed(7UL);
  EXPECT_EQ(r.randExc(), MTRand::uniformExc(twin.randInt()));
  EXPECT_EQ(r.randDblExc(), MTRand::uniformDblExc(twin.randInt()));
}

TEST(MTRandSeeding, HashMixesTimeBytesLowFirstAndCountsCalls) {
  const uint32_t base = MTRand::hash(0, 0);  // the counter's current value
  // Bytes 04 03 02 01 in that order: ((4 * 257 + 3) * 257 + 2) * 257 + 1.
  EXPECT_EQ(MTRand::hash(0x01020304L, 0), 68097034u + base + 1);
  // The same time and clock a moment later give a different value.
  const uint32_t a = MTRand::hash(1700000000L, 12345L);
  const uint32_t b = MTRand::hash(1700000000L, 12345L);
  EXPECT_NE(a, b);
}

TEST(MTRandSeeding, FallbackSeedsInTheSameSecondGiveDifferentStreams) {
  MTRand a, b;
  a.seedFromTimeAndClock();
  b.seedFromTimeAndClock();
  int same = 0;
  for (int i = 0; i < 10; ++i) same += a.randInt() == b.randInt();
  EXPECT_LT(same, 10);
}

TEST(MTRandSeeding, SeedFromFileNeedsAllWords) {
  TempDir dir;
  // 624 little words: the seed must equal the array seed by the same words.
  std::string bytes;
  std::vector<unsigned long> words;
  for (uint32_t i = 0; i < 624; ++i) {
    const uint32_t w = i * 2654435761u;
    bytes.append(reinterpret_cast<const char*>(&w), sizeof w);
    words.push_back(w);
  }
  write_file(dir.file("full"), bytes);
  write_file(dir.file("short"), bytes.substr(0, 623 * 4 + 3));

  MTRand r, expected;
  expected.seed(words.data(), words.size());
  ASSERT_TRUE(r.seedFromFile(dir.file("full").c_str()));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(r.randInt(), expected.randInt());

  // A short or missing source leaves the generator where it was.
  for (const char* name : {"short", "missing"}) {
    SCOPED_TRACE(name);
    MTRand s, twin;
    s.seed(3UL);
    twin.seed(3UL);
    EXPECT_FALSE(s.seedFromFile(dir.file(name).c_str()));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.randInt(), twin.randInt());
  }
}

TEST(MTRandSeeding, SeedTakesTheRandomDeviceWhenThereIsOne) {
  if (!MTRand().seedFromFile("/dev/urandom"))
    GTEST_SKIP() << "no readable /dev/urandom here: every seed comes from time and clock";
  // Distinct streams alone prove nothing: the time-and-clock fallback gives them too. But
  // the fallback goes through hash(), which counts its calls, and the device does not:
  // hash(0, 0) returns the count, so it must advance by exactly its own call.
  const uint32_t before = MTRand::hash(0, 0);
  MTRand a, b;
  a.seed();
  b.seed();
  EXPECT_EQ(MTRand::hash(0, 0), before + 1) << "seed() fell back to time and clock";
  EXPECT_NE(a.randInt() ^ a.randInt(), b.randInt() ^ b.randInt());
}

// ---- Log-factorial ---------------------------------------------------------------------

TEST(MTRandLnFac, MatchesLogGammaOnBothSidesOfTheTable) {
  const long rows[] = {
      0, 1, 2, 10, 500, 1023 /* last table entry */, 1024 /* first from Stirling */, 5000, 1000000};
  MTRand r;
  for (long n : rows) {
    SCOPED_TRACE(n);
    const double expected = std::lgamma(double(n) + 1.0);
    EXPECT_NEAR(r.LnFac(n), expected, 1e-12 * std::max(1.0, expected));
  }
  EXPECT_EQ(r.LnFac(0), 0.0);
  EXPECT_EQ(r.LnFac(1), 0.0);
}

// ---- Binomial --------------------------------------------------------------------------

// Chi-square of `draws` (values 0..n) against the exact pmf, pooling cells whose expected
// count is below 5 into their neighbours; returns the upper-tail probability. Values with
// probability zero (outside 0..n) fail at once.
double binomial_chisq_p(const std::vector<long>& counts, long n, double p, long draws) {
  double stat = 0, obs = 0, expct = 0;
  int cells = 0;
  for (long k = 0; k <= n; ++k) {
    obs += counts[k];
    expct += draws * gsl_ran_binomial_pdf(unsigned(k), p, unsigned(n));
    if (expct >= 5 || k == n) {
      if (expct > 0) {
        stat += (obs - expct) * (obs - expct) / expct;
        ++cells;
      }
      obs = expct = 0;
    }
  }
  return gsl_cdf_chisq_Q(stat, std::max(1, cells - 1));
}

TEST(MTRandBinomial, EachMethodDrawsFromTheBinomial) {
  struct Row {
    long n;
    double p;
    const char* why;
  } rows[] = {
      {5, 0.2, "inversion, small n"},
      {20, 0.3, "inversion"},
      {40, 0.8, "inversion with reflection (m = 32)"},
      {69, 0.5, "inversion just below the switch (m = 34.5)"},
      {70, 0.5, "ratio of uniforms at the switch (m = 35)"},
      {200, 0.3, "ratio of uniforms"},
      {40, 0.99, "ratio of uniforms on the reflected p = 0.01"},
      {2000, 0.45, "ratio of uniforms, large n"},
      {1000, 0.97, "ratio of uniforms, reflected, mean 30 after reflection"},
  };
  const long draws = 200000;
  MTRand r;
  r.seed(20240611UL);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    std::vector<long> counts(row.n + 1, 0);
    for (long i = 0; i < draws; ++i) {
      const int x = r.Binomial(row.n, row.p);
      ASSERT_GE(x, 0);
      ASSERT_LE(x, row.n);
      ++counts[x];
    }
    EXPECT_GT(binomial_chisq_p(counts, row.n, row.p, draws), 1e-4);
  }
}

TEST(MTRandBinomial, ChoosesTheMethodByTheMeanOfTheReceivedP) {
  enum Method { POISSON, INVERSION, RATIO };
  struct Row {
    long n;
    double p;
    Method method;
    bool reflected;
  } rows[] = {
      {1000000, 5e-13, POISSON, false},  // m = 5e-7
      {10, 0.3, INVERSION, false},
      {40, 0.8, INVERSION, true},  // m = 32 < 35 although n(1 - p) = 8
      {69, 0.5, INVERSION, false},
      {70, 0.5, RATIO, false},  // m = 35 exactly
      {40, 0.99, RATIO, true},  // m = 39.6 although n(1 - p) = 0.4
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.n) + ", " + std::to_string(row.p));
    MTRand a, b;
    a.seed(99UL);
    b.seed(99UL);
    const double q = row.reflected ? 1.0 - row.p : row.p;
    for (int i = 0; i < 500; ++i) {
      int x = 0;
      switch (row.method) {
        case POISSON:
          x = b.PoissonLow(double(row.n) * row.p);
          break;
        case INVERSION:
          x = b.BinomialInver(row.n, q);
          break;
        case RATIO:
          x = b.BinomialRatioOfUniforms(row.n, q);
          break;
      }
      ASSERT_EQ(a.Binomial(row.n, row.p), row.reflected ? row.n - x : x) << "draw " << i;
    }
    EXPECT_EQ(a.randInt(), b.randInt());  // same number of words consumed
  }
}

TEST(MTRandBinomial, PoissonLowDrawsItsTwoStepLaw) {
  // For L below 1e-6, P(1) = L(1 - L)(1 - L/2) and P(2) = L^2(1 - L)/2 agree with the
  // Poisson law to far below any sampling error; L = 0.04 makes the counts testable.
  const double L = 0.04;
  const long draws = 400000;
  MTRand r;
  r.seed(11UL);
  long counts[3] = {0, 0, 0};
  for (long i = 0; i < draws; ++i) {
    const int x = r.PoissonLow(L);
    ASSERT_GE(x, 0);
    ASSERT_LE(x, 2);
    ++counts[x];
  }
  const double p2 = 0.5 * L * L * (1 - L);
  const double p1 = L * (1 - L) - p2;
  const double pr[3] = {1 - p1 - p2, p1, p2};
  double stat = 0;
  for (int k = 0; k < 3; ++k) {
    const double e = draws * pr[k];
    stat += (counts[k] - e) * (counts[k] - e) / e;
  }
  EXPECT_GT(gsl_cdf_chisq_Q(stat, 2), 1e-4);

  // Through Binomial with a mean below 1e-6: only 0, 1 or 2, and almost always 0.
  long nonzero = 0;
  for (long i = 0; i < 100000; ++i) {
    const int x = r.Binomial(100, 9e-9);
    ASSERT_GE(x, 0);
    ASSERT_LE(x, 2);
    nonzero += x;
  }
  EXPECT_LE(nonzero, 3);
}

TEST(MTRandBinomial, EdgeValues) {
  MTRand r;
  r.seed(5UL);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(r.Binomial(0, 0.3), 0);
    EXPECT_EQ(r.Binomial(0, 1.0), 0);
    EXPECT_EQ(r.Binomial(17, 0.0), 0);
    EXPECT_EQ(r.Binomial(17, 1.0), 17);
    EXPECT_EQ(r.Binomial(1000000, 1.0), 1000000);
  }
}

TEST(MTRandBinomial, RatioSetUpFollowsEveryChangeOfNOrP) {
  // A cache keyed on n alone (or p alone) would keep the previous hat and draw from the
  // wrong law: after a change the draws must equal those of a generator that never saw
  // the first pair.
  const struct {
    long n1;
    double p1;
    long n2;
    double p2;
  } rows[] = {{100, 0.4, 200, 0.4}, {200, 0.4, 200, 0.45}, {200, 0.45, 100, 0.45}};
  for (const auto& row : rows) {
    MTRand a, fresh;
    a.seed(8UL);
    a.BinomialRatioOfUniforms(row.n1, row.p1);
    a.seed(8UL);
    fresh.seed(8UL);
    for (int i = 0; i < 300; ++i) {
      ASSERT_EQ(a.BinomialRatioOfUniforms(row.n2, row.p2),
                fresh.BinomialRatioOfUniforms(row.n2, row.p2));
    }
  }
}

// ---- Beta ------------------------------------------------------------------------------

TEST(MTRandBeta, BothAlgorithmsDrawFromTheBeta) {
  struct Row {
    double a, b;
    const char* why;
  } rows[] = {
      {2, 2, "BB"},
      {10, 10, "BB, concentrated"},
      {2, 5, "BB, first parameter the smaller"},
      {5, 2, "BB, first parameter the larger"},
      {1.0001, 3, "BB just above 1"},
      {1, 1, "BC at the switch"},
      {0.5, 0.5, "BC"},
      {0.1, 0.1, "BC, mass at both ends"},
      {0.3, 2, "BC, mixed"},
      {2, 0.3, "BC, mixed, order swapped"},
      {0.9, 8.1, "BC, model-like theta P and (1 - P) theta"},
  };
  const int bins = 40;
  const long draws = 200000;
  MTRand r;
  r.seed(314159UL);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.why) + " " + std::to_string(row.a) + "," + std::to_string(row.b));
    std::vector<long> counts(bins, 0);
    for (long i = 0; i < draws; ++i) {
      const double x = r.randBeta(row.a, row.b);
      ASSERT_GE(x, 0.0);
      ASSERT_LE(x, 1.0);
      ++counts[std::min(bins - 1, int(x * bins))];
    }
    double stat = 0;
    int cells = 0;
    for (int k = 0; k < bins; ++k) {
      const double e = draws * (gsl_cdf_beta_P((k + 1.0) / bins, row.a, row.b) -
                                gsl_cdf_beta_P(double(k) / bins, row.a, row.b));
      if (e < 5) {
        EXPECT_LT(counts[k], 30) << "bin " << k;
        continue;
      }
      stat += (counts[k] - e) * (counts[k] - e) / e;
      ++cells;
    }
    EXPECT_GT(gsl_cdf_chisq_Q(stat, cells - 1), 1e-4);
  }
}

TEST(MTRandBeta, SmallShapesReachExactlyOne) {
  // With shapes 0.1, w overflows to 1e38 for u1 close to 1, and w / (b + w) rounds to 1.
  MTRand r;
  r.seed(2UL);
  long ones = 0;
  for (long i = 0; i < 200000; ++i) ones += r.randBeta(0.1, 0.1) == 1.0;
  EXPECT_GT(ones, 0);
}

// ---- Normal ----------------------------------------------------------------------------

TEST(MTRandNorm, OneValuePerTwoWordsWithTheRightMoments) {
  MTRand a, b;
  a.seed(17UL);
  b.seed(17UL);
  // The radius takes the open uniform, the angle the next word.
  const double u = b.randDblExc();
  const double v = b.randExc();
  EXPECT_DOUBLE_EQ(
      a.randNorm(1.5, 2.0),
      std::sqrt(-2.0 * std::log(1.0 - u)) * 2.0 * std::cos(6.283185307179586 * v) + 1.5);
  EXPECT_EQ(a.randInt(), b.randInt());

  const long draws = 200000;
  double sum = 0, sum2 = 0;
  for (long i = 0; i < draws; ++i) {
    const double x = a.randNorm(3.0, 2.0);
    sum += x;
    sum2 += x * x;
  }
  const double mean = sum / draws;
  const double var = sum2 / draws - mean * mean;
  EXPECT_NEAR(mean, 3.0, 5 * 2.0 / std::sqrt(double(draws)));
  EXPECT_NEAR(var, 4.0, 5 * 4.0 * std::sqrt(2.0 / draws));
}

// ---- The fixed stream ------------------------------------------------------------------

TEST(MTRandStream, VariatesOfSeed5489AreFixed) {
  // A run's results depend on the order in which the variates take their uniforms (u1
  // before u2 in the beta trials, the radius before the angle in the normal). Swapping two
  // independent draws leaves every distribution intact, so only pinned values catch it.
  // Change detectors: apart from the first beta value, which was derived by hand from the
  // reference words 3499211612 and 581869302 of this seed (algorithm BB accepts at its
  // first squeeze), these values were captured from the program itself. They prove no
  // distribution (the tests above do); they flag any change to the stream.
  MTRand r;
  r.seed(5489UL);
  const double bb[] = {0.5950911382443751 /* derived */, 0.17036277324900179 /* captured */,
                       0.70888701573080193 /* captured */};
  for (double expected : bb) EXPECT_DOUBLE_EQ(r.randBeta(2.5, 4.0), expected);
  // Captured from the program.
  const double bc[] = {0.057332969872702727, 0.24240626920217279, 0.0035084101469025843};
  for (double expected : bc) EXPECT_DOUBLE_EQ(r.randBeta(0.9, 8.1), expected);
  const double norm[] = {0.34312134983447118, -0.5226998907809226, 0.55295666749864403};
  for (double expected : norm) EXPECT_DOUBLE_EQ(r.randNorm(0.0, 1.0), expected);
  for (int expected : {6, 4, 9}) EXPECT_EQ(r.Binomial(20, 0.3), expected);
  for (int expected : {66, 64, 72}) EXPECT_EQ(r.Binomial(200, 0.3), expected);
  EXPECT_EQ(r.randInt(), 910208076u);  // captured: the words left after these draws
}

// ---- Refusals --------------------------------------------------------------------------

TEST(MTRandDeathTest, InvalidArgumentsStopWithAMessage) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    long n;
    double p;
  } binomial_rows[] = {{-1, 0.5}, {-5, 0.0}, {10, -0.1}, {10, 1.5}, {0, 2.0}, {10, nan}};
  for (const auto& row : binomial_rows) {
    SCOPED_TRACE(std::to_string(row.n) + ", " + std::to_string(row.p));
    EXPECT_EXIT(
        {
          MTRand r;
          r.seed(1UL);
          r.Binomial(row.n, row.p);
        },
        testing::ExitedWithCode(1), "^Binomial\\(n=" + std::to_string(row.n) + ", p=");
  }
  EXPECT_EXIT(MTRand().LnFac(-1), testing::ExitedWithCode(1), "^LnFac\\(-1\\)");
  EXPECT_EXIT(MTRand().seed(nullptr, 0), testing::ExitedWithCode(1), "seed array is empty");
}

TEST(MTRandDeathTest, RandBetaRefusesNonPositiveShapes) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double a, b;
    const char* message;
  } rows[] = {
      {0, 1, " AA or BB <= 0 in GENBET - Abort! AA:     0.000000E+00 BB     1.000000E+00\n"},
      {1, -2.5, " AA or BB <= 0 in GENBET - Abort! AA:     1.000000E+00 BB    -2.500000E+00\n"},
      {inf, 2, " AA or BB <= 0 in GENBET - Abort! AA:              INF BB     2.000000E+00\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_EXIT(
        {
          MTRand r;
          r.seed(1UL);
          r.randBeta(row.a, row.b);
        },
        testing::ExitedWithCode(1), testing::Eq(std::string(row.message)));
  }
}

}  // namespace
