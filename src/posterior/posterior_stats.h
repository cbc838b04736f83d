// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior summaries (mean, variance, HPDI, mode) and the statistics file.
#pragma once

#include <cstddef>
#include <vector>

#include "job.h"
#include "job_results.h"
#include "posterior/posterior_samples.h"

// Mean and variance (divisor count - 1) of a sample in which value i is counted counts[i]
// times (once each when counts is null): a resample with replacement is summarised without
// being copied out. Sums in double in index order. The variance is NaN below two values.
struct SampleMoments {
  double mean = 0;
  double variance = 0;
};
SampleMoments sample_moments(const float* values, const int* counts, size_t n);
SampleMoments sample_moments(const double* values, const int* counts, size_t n);

// Summaries of one sample of n values; the sample is sorted ascending in place. coverage is
// the HPDI coverage P (the interval is the narrowest holding n - m + 1 values, with
// m = ceil(n (1 - P) - 1e-9), at least 1 and at most n).
void calculate_stats(float* sample, double coverage, int n, double* mean, double* variance,
                     double* hpdi_low, double* hpdi_high, double* mode);

// The HPDI of a sample sorted ascending, by the same rule as calculate_stats; returns its
// width.
double narrowest_interval(const float* sorted, int n, double coverage, double* low, double* high);

// The density estimate's bandwidth for a sample of n values with this variance (Silverman's
// rule; a fixed small bandwidth for a sample without spread).
double density_bandwidth(double variance, int n);

// Unnormalised Gaussian kernel density of the n values at the grid points: the sum over
// values of phi((grid - v) / h); divide by n h for a density.
void kernel_density(const float* v, int n, double h, const double* grid, int points,
                    double* density);

// Index of the smallest of the first count values; the first one among equals.
int minindex(double* values, int count);

// The posterior summaries of every population's adjusted samples: Fis1 .. FisJ, then Fst1 ..
// FstJ. With `sort_in_place` each sample is left sorted ascending, as calculate_stats
// sorts it: the statistics file's steps after it (the figure) have always read them so;
// otherwise copies are sorted and the samples stay as they are.
std::vector<ParameterEstimate> summarise_posterior(const Job& job, PosteriorSamples& posterior,
                                                   bool sort_in_place);

// Writes odir + stats_prefix: a header, then one line per estimate.
void write_statistics_file(const Job& job, const std::vector<ParameterEstimate>& estimates);
