// SPDX-License-Identifier: GPL-3.0-or-later
// Summary statistics: the ranks of the quantiles, selection against a full sort, the
// relative deviation y at its special loci, the distance, and the locus list's positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "observed_data.h"
#include "simulation/summary_stats.h"

namespace {

// Records per population block in these tests' data sets (the job's I in the program); the
// statistics read only the positions their `loci` list.
constexpr int BLOCK = 20000;

// Record p * BLOCK + l: population p, position l.
size_t at(int p, int l) { return static_cast<size_t>(p) * BLOCK + l; }

// A data set of npop blocks with every record zeroed.
std::vector<LocusRecord> empty_data(int npop) {
  return std::vector<LocusRecord>(static_cast<size_t>(npop) * BLOCK, LocusRecord{0, 0, 0.0});
}

TEST(QuantileRanks, MatchTheWorkedLists) {
  struct Case {
    int nloci, nc;
    std::vector<int> ranks;
  };
  const Case cases[] = {
      {100, 15, {6, 12, 18, 25, 31, 37, 43, 50, 56, 62, 68, 75, 81, 87, 93}},
      {100, 25, {3,  7,  11, 15, 19, 23, 26, 30, 34, 38, 42, 46, 50,
                 53, 57, 61, 65, 69, 73, 76, 80, 84, 88, 92, 96}},
      // Fewer loci than classes + 1: ranks repeat, so statistics repeat.
      {10, 15, {0, 1, 1, 2, 3, 3, 4, 5, 5, 6, 6, 7, 8, 8, 9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "I=" << c.nloci << " nc=" << c.nc);
    std::vector<int> ranks;
    for (int i = 0; i < c.nc; ++i) ranks.push_back(quantile_index(i, c.nloci, c.nc));
    EXPECT_EQ(ranks, c.ranks);

    // The Fis statistics pick those ranks: band frequency of locus l is rank(l) / I, with
    // the loci stored in scrambled order so that only a correct sort recovers them.
    std::vector<LocusRecord> data = empty_data(1);
    std::vector<int> loci(c.nloci);
    for (int l = 0; l < c.nloci; ++l) loci[l] = l;
    for (int l = 0; l < c.nloci; ++l) data[l] = {c.nloci, (l * 7 + 3) % c.nloci, 0.0};
    std::vector<double> stat(c.nc), scratch(c.nloci);
    compute_fis_statistics(data.data(), BLOCK, 1, loci.data(), c.nloci, c.nc, stat.data(),
                           scratch.data());
    for (int i = 0; i < c.nc; ++i)
      EXPECT_EQ(stat[i], static_cast<double>(c.ranks[i]) / c.nloci) << "class " << i;
  }
}

// Selection must give bit for bit what a full sort gives, ties and repeated ranks included.
TEST(OrderStatistics, SelectionEqualsFullSort) {
  std::mt19937 gen(2024);
  for (int count : {1, 2, 3, 7, 16, 50, 99, 500, 1001, 5000}) {
    for (int nc : {1, 2, 15, 25, 200}) {
      for (int ties : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "count=" << count << " nc=" << nc << " ties=" << ties);
        std::vector<double> values(count);
        std::uniform_int_distribution<int> k(0, 20);
        std::normal_distribution<double> y(0.0, 1.0);
        for (double& v : values) v = ties ? k(gen) / 20.0 : y(gen);
        std::vector<double> a = values, b = values;
        std::vector<double> by_select(nc), by_sort(nc);
        select_order_statistics(a.data(), count, nc, by_select.data());
        sort_order_statistics(b.data(), count, nc, by_sort.data());
        EXPECT_EQ(by_select, by_sort);
      }
    }
  }
}

// With one locus every class takes that locus's value, so each row reads y directly.
TEST(FstStatistics, RelativeDeviationAtSpecialLoci) {
  struct Case {
    const char* what;
    std::vector<LocusRecord> pops;  // one locus, one record per population
    std::vector<double> y;
  };
  const Case cases[] = {
      {"no band anywhere: no pooled frequency, y = 0", {{20, 0, 0}, {15, 0, 0}}, {0.0, 0.0}},
      {"one population lacks the band: y = -1", {{20, 0, 0}, {20, 10, 0}}, {-1.0, 1.0}},
      {"band at the pooled proportion: y = 0", {{20, 5, 0}, {40, 10, 0}}, {0.0, 0.0}},
      {"unequal sizes", {{10, 10, 0}, {30, 0, 0}}, {3.0, -1.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int npop = static_cast<int>(c.pops.size());
    std::vector<LocusRecord> data = empty_data(npop);
    int T0 = 0, T1 = 0;
    for (int p = 0; p < npop; ++p) {
      data[at(p, 0)] = c.pops[p];
      T0 += c.pops[p].n;
      T1 += c.pops[p].k;
    }
    const int loci[] = {0};
    const int nc = 3;
    std::vector<double> stat(npop * nc), scratch(1);
    compute_fst_statistics(data.data(), BLOCK, npop, loci, 1, &T0, &T1, nc, stat.data(),
                           scratch.data());
    for (int p = 0; p < npop; ++p)
      for (int i = 0; i < nc; ++i) EXPECT_DOUBLE_EQ(stat[p * nc + i], c.y[p]) << "pop " << p;
  }
}

// The list names positions inside each block, and T0/T1 are indexed by those positions:
// unused positions hold poison that must not leak into the statistics.
TEST(Statistics, UseOnlyTheListedPositionsOfEveryBlock) {
  const int npop = 2, nc = 4;
  std::vector<LocusRecord> data = empty_data(npop);
  std::vector<int> T0(10, -1), T1(10, 999);  // poison at unlisted positions
  for (int p = 0; p < npop; ++p)
    for (int l = 0; l < 10; ++l) data[at(p, l)] = {0, 5, 0.0};  // 0/0 if used
  const int loci[] = {7, 2, 5};
  const int k[2][3] = {{1, 2, 3}, {3, 2, 1}};  // band counts out of 4 at positions 7, 2, 5
  for (int i = 0; i < 3; ++i) {
    T0[loci[i]] = 8;
    T1[loci[i]] = k[0][i] + k[1][i];  // 4 at every listed locus: pooled frequency 1/2
    for (int p = 0; p < npop; ++p) data[at(p, loci[i])] = {4, k[p][i], 0.0};
  }
  std::vector<double> fis(npop * nc), fst(npop * nc), scratch(3);
  compute_fis_statistics(data.data(), BLOCK, npop, loci, 3, nc, fis.data(), scratch.data());
  compute_fst_statistics(data.data(), BLOCK, npop, loci, 3, T0.data(), T1.data(), nc, fst.data(),
                         scratch.data());
  // Ranks for I = 3, nc = 4: 0, 1, 1, 2 (sorted x: 0.25, 0.5, 0.75; y: -0.5, 0, 0.5).
  const std::vector<double> want_fis = {0.25, 0.5, 0.5, 0.75, 0.25, 0.5, 0.5, 0.75};
  const std::vector<double> want_fst = {-0.5, 0.0, 0.0, 0.5, -0.5, 0.0, 0.0, 0.5};
  EXPECT_EQ(fis, want_fis);
  EXPECT_EQ(fst, want_fst);
}

TEST(StatisticsDistance, SumOfSquaresOfOnePopulation) {
  const double target[] = {0.1, 0.2, 0.3, 9.0, 9.0, 9.0};
  const double same[] = {0.1, 0.2, 0.3, 9.0, 9.0, 9.0};
  const double other[] = {0.0, 0.0, 0.0, 8.0, 9.5, 7.0};
  EXPECT_EQ(statistics_distance(same, target, 0, 3), 0.0);
  EXPECT_EQ(statistics_distance(same, target, 1, 3), 0.0);
  // Population 1 starts at element 3: 1 + 0.25 + 4.
  EXPECT_DOUBLE_EQ(statistics_distance(other, target, 1, 3), 5.25);
  EXPECT_DOUBLE_EQ(statistics_distance(other, target, 0, 3), 0.01 + 0.04 + 0.09);
}

}  // namespace

// Band frequencies of a population with one sample size everywhere are ranked by counting
// the band counts; with differing sizes by a sort. Both must give what a sort of k/n gives.
TEST(FisStatistics, CountingEqualsSortingTheFrequencies) {
  struct Case {
    const char* what;
    int nloci, nc, n_low, n_high;
  };
  const Case cases[] = {
      {"one sample size, many ties", 200, 15, 20, 20},
      {"one sample size, fewer loci than classes", 7, 25, 12, 12},
      {"one locus", 1, 15, 5, 5},
      {"large sample size beyond the counting table", 300, 25, 2000, 2000},
      {"sample sizes differ between loci", 300, 25, 15, 20},
  };
  std::mt19937 gen(7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<LocusRecord> data = empty_data(2);
    std::vector<int> loci;
    for (int i = 0; i < c.nloci; ++i) loci.push_back(3 * i);  // not contiguous on purpose
    std::vector<double> reference(static_cast<size_t>(2) * c.nc);
    for (int p = 0; p < 2; ++p) {
      std::vector<double> x;
      for (int l : loci) {
        LocusRecord& r = data[at(p, l)];
        r.n = std::uniform_int_distribution<int>(c.n_low, c.n_high)(gen);
        r.k = std::uniform_int_distribution<int>(0, r.n)(gen);
        x.push_back(static_cast<double>(r.k) / r.n);
      }
      std::sort(x.begin(), x.end());
      for (int k = 0; k < c.nc; ++k) reference[p * c.nc + k] = x[quantile_index(k, c.nloci, c.nc)];
    }
    std::vector<double> stat(reference.size()), scratch(c.nloci);
    compute_fis_statistics(data.data(), BLOCK, 2, loci.data(), c.nloci, c.nc, stat.data(),
                           scratch.data());
    EXPECT_EQ(stat, reference);  // exact: the same doubles
  }
}

// The deviations are sorted by their bits above a few dozen loci; the statistics must be
// the very doubles a comparison sort gives, negative values, zeros and ties included.
TEST(FstStatistics, BitSortEqualsComparisonSort) {
  struct Case {
    const char* what;
    int nloci, nc, n_low, n_high;
  };
  const Case cases[] = {
      {"just below the bit sort", 63, 25, 20, 20},
      {"at the bit sort", 64, 25, 20, 20},
      {"many ties (one sample size)", 500, 25, 20, 20},
      {"few ties (sizes differ)", 500, 25, 5, 60},
      {"5000 loci", 5000, 25, 10, 40},
      {"20000 loci, after smaller sorts on the same thread", 20000, 25, 10, 40},
      {"back to fewer loci", 700, 25, 10, 40},
  };
  std::mt19937 gen(11);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int npop = 3;
    std::vector<LocusRecord> data = empty_data(npop);
    std::vector<int> loci(c.nloci), T0(c.nloci, 0), T1(c.nloci, 0);
    for (int i = 0; i < c.nloci; ++i) loci[i] = i;
    for (int p = 0; p < npop; ++p) {
      for (int l = 0; l < c.nloci; ++l) {
        LocusRecord& r = data[at(p, l)];
        r.n = std::uniform_int_distribution<int>(c.n_low, c.n_high)(gen);
        // Every tenth locus has no band anywhere (deviation 0 by definition).
        r.k = l % 10 == 0 ? 0 : std::uniform_int_distribution<int>(0, r.n)(gen);
        T0[l] += r.n;
        T1[l] += r.k;
      }
    }
    std::vector<double> reference(static_cast<size_t>(npop) * c.nc);
    for (int p = 0; p < npop; ++p) {
      std::vector<double> y;
      for (int l = 0; l < c.nloci; ++l) {
        const LocusRecord& r = data[at(p, l)];
        const double pooled = static_cast<double>(T1[l]) / T0[l];
        y.push_back(T1[l] == 0 ? 0.0 : (static_cast<double>(r.k) / r.n - pooled) / pooled);
      }
      std::sort(y.begin(), y.end());
      for (int k = 0; k < c.nc; ++k) reference[p * c.nc + k] = y[quantile_index(k, c.nloci, c.nc)];
    }
    std::vector<double> stat(reference.size()), scratch(c.nloci);
    compute_fst_statistics(data.data(), BLOCK, npop, loci.data(), c.nloci, T0.data(), T1.data(),
                           c.nc, stat.data(), scratch.data());
    EXPECT_EQ(stat, reference);
  }
}
