// SPDX-License-Identifier: GPL-3.0-or-later
#include "random/block_seed.h"

#include <mutex>

#include "run_state.h"

void seed_block_generator(MTRand& g, uint32_t seed, uint32_t run, uint32_t block) {
  // The array initialisation spreads every bit of the three keys over the whole state,
  // so neighbouring blocks (or runs, or seeds) start from unrelated states.
  unsigned long key[3] = {seed, run, block};
  g.seed(key, 3);
}

uint32_t draw_job_seed() {
  MTRand g;
  {
    // The time-and-clock fallback advances a process-wide counter.
    std::lock_guard<std::mutex> hold(mutex_randseed);
    g.seed();
  }
  return g.randInt();
}
