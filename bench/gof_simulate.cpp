// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a band-count data set for the calibration of the goodness-of-fit test
// (bench/gof_calibration.sh), drawn by the program's own model or by one it cannot produce:
//
//   model      Fis and Fst of every population from their priors, a from its prior, loci
//              through the model and its filter: data the test must accept (p uniform);
//   clonal     the same frequencies, but every population reproduces clonally: its
//              individuals are copies of a few multilocus genotypes (CLONES, 3 unless
//              given; individual i a copy of genotype i mod CLONES), so band frequencies
//              take only a few values;
//   selection  a SELECTED share of the loci under strong divergent selection: band-allele
//              frequency 0.95 in odd-numbered populations and 0.05 in even-numbered ones,
//              the other loci through the model.
//
// Usage: gof_simulate MODE SEED POPULATIONS LOCI INDIVIDUALS [CLONES] > data.txt
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "job.h"
#include "random/block_seed.h"
#include "simulation/worker.h"

namespace {

constexpr int DEFAULT_CLONES = 3;
constexpr double SELECTED = 0.3;
constexpr double SELECTED_HIGH = 0.95;

// A band shown by an individual of band-allele frequency q and inbreeding fis.
bool shows_band(MTRand& mt, double q, double fis) {
  return mt.randExc() < band_probability(q, fis);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr,
                 "Usage: gof_simulate model|clonal|selection SEED POPULATIONS LOCI "
                 "INDIVIDUALS [CLONES]\n");
    return 1;
  }
  const std::string mode = argv[1];
  const uint32_t seed = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const int npop = std::atoi(argv[3]), nloci = std::atoi(argv[4]), nind = std::atoi(argv[5]);
  const int clones = argc == 7 ? std::atoi(argv[6]) : DEFAULT_CLONES;
  if ((mode != "model" && mode != "clonal" && mode != "selection") || npop < 1 || nloci < 1 ||
      nind < 1 || clones < 1) {
    std::fprintf(stderr, "gof_simulate: bad arguments\n");
    return 1;
  }
  // Twice the loci asked for: the clonal copies can hide a locus from every population (no
  // band anywhere), and such loci are dropped as the observed data's filter would.
  const int drawn = 2 * nloci;
  // A job of the default configuration with that design: the worker simulates against it.
  Job job;
  job.I = drawn;
  job.J = npop;
  job.pop_target.assign(static_cast<size_t>(npop) * drawn, LocusRecord{nind, 0, 0.0});
  WorkerState w(job);
  // A run number that no job uses, so that no job simulates these very data sets.
  seed_block_generator(w.mt, seed, 1000, 0);
  MTRand& mt = w.mt;
  for (int p = 0; p < npop; ++p) w.fis[p] = mt.randDblExc();
  for (int p = 0; p < npop; ++p) w.fst[p] = mt.randDblExc();
  w.a = std::exp(mt.randNorm(0.0, 1.0)) + 0.1;
  simulate_loci(w);

  std::vector<int> k(static_cast<size_t>(npop) * drawn);
  for (int l = 0; l < drawn; ++l) {
    const bool selected = mode == "selection" && l < SELECTED * nloci;
    for (int p = 0; p < npop; ++p) {
      const LocusRecord& r = w.data[static_cast<size_t>(p) * drawn + l];
      int& count = k[static_cast<size_t>(p) * drawn + l];
      if (mode == "clonal") {
        std::vector<char> clone(static_cast<size_t>(clones));
        for (char& c : clone) c = shows_band(mt, r.q, w.fis[p]);
        count = 0;
        for (int i = 0; i < nind; ++i) count += clone[i % clones];
      } else if (selected) {
        const double q = p % 2 == 0 ? SELECTED_HIGH : 1.0 - SELECTED_HIGH;
        count = mt.Binomial(nind, band_probability(q, w.fis[p]));
      } else {
        count = r.k;
      }
    }
  }
  std::vector<int> kept;
  for (int l = 0; l < drawn && static_cast<int>(kept.size()) < nloci; ++l) {
    int total = 0;
    for (int p = 0; p < npop; ++p) total += k[static_cast<size_t>(p) * drawn + l];
    if (total >= job.bias_hidden) kept.push_back(l);
  }
  if (static_cast<int>(kept.size()) < nloci) {
    std::fprintf(stderr, "gof_simulate: too few loci with a band (seed %u)\n", seed);
    return 1;
  }
  std::printf("%s data from gof_simulate, seed %u (truth: Fis", mode.c_str(), seed);
  for (int p = 0; p < npop; ++p) std::printf(" %.3f", w.fis[p]);
  std::printf("; Fst");
  for (int p = 0; p < npop; ++p) std::printf(" %.3f", w.fst[p]);
  std::printf("; a %.3f)\n[loci]=%d\n[populations]=%d\n", w.a, nloci, npop);
  for (int p = 0; p < npop; ++p) {
    std::printf("[pop]=%d\n", p + 1);
    for (int i = 0; i < nloci; ++i)
      std::printf("%d %d %d\n", i + 1, nind, k[static_cast<size_t>(p) * drawn + kept[i]]);
  }
  return 0;
}
