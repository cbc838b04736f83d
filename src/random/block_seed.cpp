// SPDX-License-Identifier: GPL-3.0-or-later
#include "random/block_seed.h"

#include <mutex>

namespace {

// Guards the generator's seeding sources, drawn from to make a job seed. Those sources
// belong to the process (the clock and a counter that every seeding advances), not to a run
// or a job: two jobs drawing seeds in one process must still take turns, so the lock stays
// process-wide.
std::mutex mutex_randseed;

}  // namespace

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
