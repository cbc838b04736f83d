#include "simulation/summary_stats.h"

#include <algorithm>

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

void compute_fis_statistics(const LocusRecord* data, int npop, const int* loci, int nloci, int nc,
                            double* stat, double* scratch) {
  for (int p = 0; p < npop; ++p) {
    const LocusRecord* block = data + record_index(p, 0);
    if (nloci > 0 && counted_fis_statistics(block, loci, nloci, nc, stat + p * nc)) continue;
    for (int i = 0; i < nloci; ++i) {
      const LocusRecord& r = block[loci[i]];
      scratch[i] = static_cast<double>(r.k) / r.n;
    }
    sort_order_statistics(scratch, nloci, nc, stat + p * nc);
  }
}

void compute_fst_statistics(const LocusRecord* data, int npop, const int* loci, int nloci,
                            const int* T0, const int* T1, int nc, double* stat, double* scratch) {
  for (int p = 0; p < npop; ++p) {
    const LocusRecord* block = data + record_index(p, 0);
    for (int i = 0; i < nloci; ++i) {
      const int l = loci[i];
      const LocusRecord& r = block[l];
      const double x = static_cast<double>(r.k) / r.n;
      // A locus without the band anywhere has no pooled frequency to deviate from; it
      // counts as no deviation.
      if (T1[l] == 0) {
        scratch[i] = 0.0;
      } else {
        const double pooled = static_cast<double>(T1[l]) / T0[l];
        scratch[i] = (x - pooled) / pooled;
      }
    }
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
