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

// Divide and conquer over the wanted ranks: place the middle rank with nth_element, then
// the ranks below it only need the elements left of it and the ranks above only those
// right of it. Every placed element is exactly the one a full sort puts there, so the
// statistics equal those of a sort; the work is about count * log2(nc) instead of
// count * log2(count). The loop handles the upper half, recursion the lower, so the stack
// depth stays at log2(nc).
static void select_ranks(double* values, int lo, int hi, int count, int nc, int clo, int chi,
                         double* out) {
  while (clo < chi) {
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

// Below this many values a plain sort is as fast as the selection (bench_statistics).
constexpr int SORT_BELOW = 0;

static void order_statistics(double* values, int count, int nc, double* out) {
  if (count < SORT_BELOW)
    sort_order_statistics(values, count, nc, out);
  else
    select_order_statistics(values, count, nc, out);
}

void compute_fis_statistics(const LocusRecord* data, int npop, const int* loci, int nloci,
                            int nc, double* stat, double* scratch) {
  for (int p = 0; p < npop; ++p) {
    const LocusRecord* block = data + record_index(p, 0);
    for (int i = 0; i < nloci; ++i) {
      const LocusRecord& r = block[loci[i]];
      scratch[i] = static_cast<double>(r.k) / r.n;
    }
    order_statistics(scratch, nloci, nc, stat + p * nc);
  }
}

void compute_fst_statistics(const LocusRecord* data, int npop, const int* loci, int nloci,
                            const int* T0, const int* T1, int nc, double* stat,
                            double* scratch) {
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
    order_statistics(scratch, nloci, nc, stat + p * nc);
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
