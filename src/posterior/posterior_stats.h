// Posterior summaries (mean, variance, HPDI, mode) and the statistics file.
#pragma once

void calculate_stats(float* sample, double coverage, int n, double* mean, double* variance,
                     double* hpdi_low, double* hpdi_high, double* mode);
int minindex(double* values, int count);

// Writes odir + stats_prefix and fills fis_estimate.
void write_statistics_file();
