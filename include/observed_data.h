// SPDX-License-Identifier: GPL-3.0-or-later
// Observed data: written by the input reader when a job is made, read-only afterwards (the
// simulation workers read it without locking).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One population at one locus. The floating-point slot is used by simulated data sets
// only (the simulated band-allele frequency); the reader never touches it.
struct LocusRecord {
  int32_t n;  // individuals sampled
  int32_t k;  // individuals that show the band
  double q;
};

struct ObservedData {
  int I = 0;  // number of loci
  int J = 0;  // number of populations

  // Record p * I + l is population p, locus l (both from 0): every population block holds
  // exactly the job's loci, in pop_target and in the workers' simulated data sets alike.
  size_t record_index(int p, int l) const { return static_cast<size_t>(p) * I + l; }

  // J * I records, sized by the reader.
  std::vector<LocusRecord> pop_target;

  // Observed summary statistics: population p, class c at p * nb_class_fis + c
  // (p * nb_class_fst + c for Fst). J * nb_class_fis and J * nb_class_fst values.
  std::vector<double> target_fis;
  std::vector<double> target_fst;
};
