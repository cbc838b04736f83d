// SPDX-License-Identifier: GPL-3.0-or-later
// The memory a job will need, estimated before any simulation, against the memory the
// machine can give it: a job that cannot fit is refused at once rather than failing (or
// swapping) hours into its run.
#pragma once

#include <string>

#include "job.h"

// Bytes, as doubles: the products of the data's dimensions and the run's counts can exceed
// any integer type long before they could be allocated.
struct JobMemory {
  double observed = 0.0;           // counts, totals and observed statistics
  double pilot_distances = 0.0;    // two per population and pilot replicate
  double worker_states = 0.0;      // one simulated data set per worker thread, with its buffers
  double posterior_samples = 0.0;  // accepted draws, their statistics and the adjusted samples
  double total() const { return observed + pilot_distances + worker_states + posterior_samples; }
};

// The needs of a job of I loci and J populations with the configured statistics and
// -nprocs, a pilot run of `pilot_size` replicates (0 for -method joint, whose table is
// checked with the cross-validation's) and `draws` accepted draws per population and
// parameter (-n).
JobMemory estimate_job_memory(const Job& job, long long pilot_size, long long draws);

// Bytes this process can still use: the kernel's estimate of available memory
// (MemAvailable), or the physical memory where that cannot be read, lowered to what the
// process's memory control group still allows (a cluster's batch system confines jobs so).
double available_memory();

// "512.0 KiB", "1.5 GiB": a size for messages.
std::string format_bytes(double bytes);

// Ends the run (status 1) with both figures when the job's estimate exceeds `available`.
void check_job_memory(const Job& job, const JobMemory& need, double available);
