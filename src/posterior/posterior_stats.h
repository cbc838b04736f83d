// Posterior summaries (mean, variance, HPDI, mode) and the statistics file.
#pragma once

// Summaries of one sample of n values; the sample is sorted ascending in place. coverage is
// the HPDI coverage P (the interval is the narrowest holding n - m + 1 values, with
// m = ceil(n (1 - P) - 1e-9), at least 1 and at most n).
void calculate_stats(float* sample, double coverage, int n, double* mean, double* variance,
                     double* hpdi_low, double* hpdi_high, double* mode);

// Index of the smallest of the first count values; the first one among equals.
int minindex(double* values, int count);

// Writes odir + stats_prefix and fills fis_estimate with the posterior mean of each
// population's adjusted Fis.
void write_statistics_file();
