// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulation/summary_stats.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// The statistic of class c is the element of rank ((c + 1) * I) / (nc + 1) of the sorted
// values: the (c + 1)-th of nc + 1 equal slices, with no interpolation. The ranks ascend
// with c and repeat when I < nc + 1.
int quantile_index(int c, int nloci, int nc) { return ((c + 1) * nloci) / (nc + 1); }

void sort_order_statistics(double* values, int count, int nc, double* out) {
  std::sort(values, values + count);
  for (int c = 0; c < nc; ++c) out[c] = values[quantile_index(c, count, nc)];
}

// Ranges of at most this many values are sorted rather than split further.
constexpr int SORT_RANGE = 64;

// Divide and conquer over the wanted ranks: place the middle rank with nth_element, then
// the ranks below it only need the elements left of it and the ranks above only those
// right of it. Every placed element is exactly the one a full sort puts there, so the
// statistics equal those of a sort; the work is about count * log2(nc) instead of
// count * log2(count). The loop handles the upper half, recursion the lower, so the stack
// depth stays at log2(nc).
static void select_ranks(double* values, int lo, int hi, int count, int nc, int clo, int chi,
                         double* out) {
  while (clo < chi) {
    // On a short range one sort beats a cascade of selections (bench_statistics).
    if (hi - lo <= SORT_RANGE) {
      std::sort(values + lo, values + hi);
      for (int c = clo; c < chi; ++c) out[c] = values[quantile_index(c, count, nc)];
      return;
    }
    const int cm = clo + (chi - clo) / 2;
    const int m = quantile_index(cm, count, nc);
    std::nth_element(values + lo, values + m, values + hi);
    const double v = values[m];
    int left = cm, right = cm + 1;
    out[cm] = v;
    // Repeated ranks (I < nc + 1) take the same element without another selection.
    while (left > clo && quantile_index(left - 1, count, nc) == m) out[--left] = v;
    while (right < chi && quantile_index(right, count, nc) == m) out[right++] = v;
    select_ranks(values, lo, m, count, nc, clo, left, out);
    lo = m + 1;
    clo = right;
  }
}

void select_order_statistics(double* values, int count, int nc, double* out) {
  select_ranks(values, 0, count, count, nc, 0, nc, out);
}

// Which method is faster depends on the values (bench_statistics, 2-core shared machine,
// CPU time per population with 25 classes): band frequencies k/n take few distinct values,
// and a full sort of them beat the selection at every size (5.0 vs 6.7 us at 500 values,
// 172 vs 203 us at 5000); the deviations y are nearly all distinct, and there the sort wins
// up to about 2000 values (5.7 vs 6.2 us at 500) and the selection above (231 vs 370 us at
// 5000). Both give the same values, so the choice changes only the time.
constexpr int SELECT_DEVIATIONS_FROM = 2500;

// Largest common sample size for which the band counts are sorted by counting.
constexpr int MAX_COUNTED_N = 1024;

// When a population has the same sample size n at every used locus (the usual design), the
// band frequencies k/n are ordered like the counts k, and the value of rank i is exactly
// k_(i)/n, the same double a sort of the frequencies would put there. Counting the k
// (0 .. n) costs I + n steps instead of a sort. Returns false when the sizes differ.
static bool counted_fis_statistics(const LocusRecord* block, const int* loci, int nloci, int nc,
                                   double* out) {
  const int n = block[loci[0]].n;
  if (n <= 0 || n > MAX_COUNTED_N) return false;
  int counts[MAX_COUNTED_N + 1];
  std::fill(counts, counts + n + 1, 0);
  for (int i = 0; i < nloci; ++i) {
    const LocusRecord& r = block[loci[i]];
    if (r.n != n || r.k < 0 || r.k > n) return false;
    ++counts[r.k];
  }
  int k = 0;
  int below = counts[0];  // values of rank < below have count <= k
  for (int c = 0; c < nc; ++c) {
    const int rank = quantile_index(c, nloci, nc);
    while (below <= rank) below += counts[++k];
    out[c] = static_cast<double>(k) / n;
  }
  return true;
}

void compute_fis_statistics(const LocusRecord* data, int stride, int npop, const int* loci,
                            int nloci, int nc, double* stat, double* scratch) {
  for (int p = 0; p < npop; ++p) {
    const LocusRecord* block = data + static_cast<size_t>(p) * stride;
    if (nloci > 0 && counted_fis_statistics(block, loci, nloci, nc, stat + p * nc)) continue;
    for (int i = 0; i < nloci; ++i) {
      const LocusRecord& r = block[loci[i]];
      scratch[i] = static_cast<double>(r.k) / r.n;
    }
    sort_order_statistics(scratch, nloci, nc, stat + p * nc);
  }
}

// Sorting the deviations is most of what a replicate costs beyond its random variates, and a
// comparison sort of a few hundred distinct doubles mispredicts a branch at nearly every
// comparison. A radix sort on the bits of the doubles has no such branches: map each value
// to an unsigned key that orders like the value (flip every bit of a negative number, only
// the sign bit of a positive one), sort the keys by their upper BYTES bytes (sign, exponent
// and leading mantissa bits) byte by byte from the lowest, skipping bytes that all keys
// share, then put the keys that share those bits in order by insertion: they lie next to
// each other, so that costs one predictable comparison per key plus a few local moves.
// Equal values have equal bits, so the values of every rank are exactly those of std::sort.
// -0.0 and NaN, which a comparison sort orders differently from their bits, never arise from
// the deviations; if one appears the comparison sort is used instead.
constexpr uint64_t SIGN_BIT = 0x8000000000000000ULL;

// Below this many values the comparison sort (insertion sort on short ranges) is as fast.
constexpr int RADIX_SORT_FROM = 32;

template <int BYTES>
static bool radix_order_statistics(double* values, int count, int nc, double* out) {
  static_assert(sizeof(double) == sizeof(uint64_t), "doubles must be 64-bit");
  // The key buffers of the calling thread, grown to the largest count it has sorted: a
  // replicate allocates nothing once its worker has sorted its first data set.
  thread_local std::vector<uint64_t> key_space;
  if (key_space.size() < 2 * static_cast<size_t>(count))
    key_space.resize(2 * static_cast<size_t>(count));
  uint64_t* keys = key_space.data();
  uint64_t* spare = keys + count;
  constexpr int LOWEST = 64 - 8 * BYTES;
  unsigned histogram[BYTES][256] = {};
  for (int i = 0; i < count; ++i) {
    const double v = values[i];
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    if (v != v || u == SIGN_BIT) return false;  // NaN or -0.0
    u = (u & SIGN_BIT) ? ~u : (u | SIGN_BIT);
    keys[i] = u;
    for (int b = 0; b < BYTES; ++b) ++histogram[b][(u >> (LOWEST + 8 * b)) & 0xFF];
  }
  uint64_t* from = keys;
  uint64_t* to = spare;
  for (int b = 0; b < BYTES; ++b) {
    const int shift = LOWEST + 8 * b;
    unsigned* h = histogram[b];
    if (h[(from[0] >> shift) & 0xFF] == static_cast<unsigned>(count)) continue;  // shared byte
    unsigned start = 0;
    for (int d = 0; d < 256; ++d) {
      const unsigned n = h[d];
      h[d] = start;
      start += n;
    }
    for (int i = 0; i < count; ++i) to[h[(from[i] >> shift) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  for (int i = 1; i < count; ++i) {
    const uint64_t key = from[i];
    int j = i;
    for (; j > 0 && from[j - 1] > key; --j) from[j] = from[j - 1];
    from[j] = key;
  }
  for (int c = 0; c < nc; ++c) {
    uint64_t u = from[quantile_index(c, count, nc)];
    u = (u & SIGN_BIT) ? (u & ~SIGN_BIT) : ~u;
    std::memcpy(&out[c], &u, sizeof u);
  }
  return true;
}

// Below 128 values the fixed cost of a pass (256 buckets) dominates, and two passes with a
// little more insertion work beat three (bench_replicate at 50 x 2); more values take three
// (values closer than about 1 in 4000 then share their key bits).
static bool bit_order_statistics(double* values, int count, int nc, double* out) {
  if (count < 128) return radix_order_statistics<2>(values, count, nc, out);
  return radix_order_statistics<3>(values, count, nc, out);
}

void compute_fst_statistics(const LocusRecord* data, int stride, int npop, const int* loci,
                            int nloci, const int* T0, const int* T1, int nc, double* stat,
                            double* scratch) {
  // The pooled frequency of each locus, once for all populations. A locus without the band
  // anywhere has no pooled frequency to deviate from; it counts as no deviation (0 marks it:
  // a pooled frequency is never 0 otherwise).
  thread_local std::vector<double> pooled_space;
  if (pooled_space.size() < static_cast<size_t>(nloci))
    pooled_space.resize(static_cast<size_t>(nloci));
  double* pooled = pooled_space.data();
  for (int i = 0; i < nloci; ++i) {
    const int l = loci[i];
    pooled[i] = T1[l] == 0 ? 0.0 : static_cast<double>(T1[l]) / T0[l];
  }
  // The band frequencies k/n of the usual design (one sample size per population) come
  // from a table of the n + 1 possible quotients, computed by the same division.
  double frequency[MAX_COUNTED_N + 1];
  for (int p = 0; p < npop; ++p) {
    const LocusRecord* block = data + static_cast<size_t>(p) * stride;
    const int n = nloci > 0 ? block[loci[0]].n : 0;
    const bool tabulated = n > 0 && n <= MAX_COUNTED_N;
    if (tabulated)
      for (int k = 0; k <= n; ++k) frequency[k] = static_cast<double>(k) / n;
    for (int i = 0; i < nloci; ++i) {
      const LocusRecord& r = block[loci[i]];
      const double x = tabulated && r.n == n && r.k >= 0 && r.k <= n
                           ? frequency[r.k]
                           : static_cast<double>(r.k) / r.n;
      scratch[i] = pooled[i] == 0.0 ? 0.0 : (x - pooled[i]) / pooled[i];
    }
    if (nloci >= RADIX_SORT_FROM && bit_order_statistics(scratch, nloci, nc, stat + p * nc))
      continue;
    if (nloci >= SELECT_DEVIATIONS_FROM)
      select_order_statistics(scratch, nloci, nc, stat + p * nc);
    else
      sort_order_statistics(scratch, nloci, nc, stat + p * nc);
  }
}

double statistics_distance(const double* stat, const double* target, int p, int nc) {
  double sum = 0.0;
  for (int c = 0; c < nc; ++c) {
    const double d = stat[p * nc + c] - target[p * nc + c];
    sum += d * d;
  }
  return sum;
}
