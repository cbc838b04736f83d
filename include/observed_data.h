// Observed data: written by the input reader at the start of each job, read-only afterwards
// (the simulation workers read it without locking).
#pragma once

#include <cstdint>
#include <vector>

constexpr int MAX_POPS = 60;     // populations a data set can hold
constexpr int MAX_LOCI = 5000;   // loci per population block
constexpr int MAX_STATS = 1000;  // J * nb_class_fis and J * nb_class_fst at most

// One population at one locus. The floating-point slot is used by simulated data sets
// only (the simulated band-allele frequency); the reader never touches it.
struct LocusRecord {
  int32_t n;  // individuals sampled
  int32_t k;  // individuals that show the band
  double q;
};

// Record p * MAX_LOCI + l is population p, locus l (both from 0).
inline int record_index(int p, int l) { return p * MAX_LOCI + l; }

extern int I;  // number of loci
extern int J;  // number of populations

// Allocated once (MAX_POPS * MAX_LOCI records) before the first job and reused.
extern std::vector<LocusRecord> pop_target;

// Observed summary statistics: population p, class c at p * nb_class_fis + c
// (p * nb_class_fst + c for Fst).
extern double target_fis[MAX_STATS];
extern double target_fst[MAX_STATS];
