// SPDX-License-Identifier: GPL-3.0-or-later
// Summary statistics of a data set, shared by the observed side (input reader) and the
// simulated side (workers): acceptance rests on both computing them identically.
#pragma once

#include "observed_data.h"

// Fis statistics: for each population p = 0 .. npop-1, whose records start at
// data + p * stride, the nc quantiles of the band frequencies k/n over the used loci,
// written to stat[p * nc + c]. `loci` lists the I used
// locus indices (positions inside each population block) in order. `scratch` holds at
// least I doubles. Allocates nothing.
void compute_fis_statistics(const LocusRecord* data, int stride, int npop, const int* loci,
                            int nloci, int nc, double* stat, double* scratch);

// Fst statistics: the nc quantiles of the relative deviation of each population's band
// frequency from the pooled one. T0[l] and T1[l] are the totals of n and k over all
// populations at locus l (indexed like the positions in `loci`). `scratch` holds at least
// nloci doubles; the pooled frequencies and the sort keys live in buffers of the calling
// thread, allocated only when it first sees this many loci.
void compute_fst_statistics(const LocusRecord* data, int stride, int npop, const int* loci,
                            int nloci, const int* T0, const int* T1, int nc, double* stat,
                            double* scratch);

// Sum over c of (stat[p*nc + c] - target[p*nc + c])^2, summed in the order of c.
double statistics_distance(const double* stat, const double* target, int p, int nc);

// Rank of the statistic of class c among nloci sorted values: ((c + 1) * nloci) / (nc + 1)
// in integer division, so always in 0 .. nloci - 1 for c < nc.
int quantile_index(int c, int nloci, int nc);

// The nc order statistics at quantile_index(c, count, nc) of values[0 .. count-1] into
// out[0 .. nc-1]; both reorder `values`. The selection gives exactly the values of the
// full sort; compute_* use whichever is faster for the kind and number of values.
void select_order_statistics(double* values, int count, int nc, double* out);
void sort_order_statistics(double* values, int count, int nc, double* out);
