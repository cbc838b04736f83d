// SPDX-License-Identifier: GPL-3.0-or-later
// Reproducible streams: the random stream of a replicate belongs to the replicate, not to
// the thread that happens to simulate it.
//
// Replicates are grouped in blocks; every block has its own generator state, obtained by
// the array initialisation of the generator from {job seed, run, block number}. A block is
// thus simulated alike by whichever worker takes it, and the results of a job depend only
// on its input, options and seed, never on the number of workers or their interleaving.
#pragma once

#include <cstdint>

#include "random/mtrand.h"

// Streams of the simulation runs. Features that need a reproducible stream of their own
// take the next free number.
enum : uint32_t {
  STREAM_PILOT = 0,             // the pilot run
  STREAM_PRODUCTION = 1,        // the production run
  STREAM_CROSS_VALIDATION = 2,  // the choice of the cross-validation's data sets (-cv)
  STREAM_GOODNESS_OF_FIT = 3,   // the choice of the goodness-of-fit test's data sets (-gof)
  STREAM_PREDICTIVE = 4,        // the posterior predictive data sets of -gof
  STREAM_JOINT_TABLE = 5,       // the reference table of -method joint
};

// Seeds `g` for block `block` of run `run` of the job seeded by `seed`.
void seed_block_generator(MTRand& g, uint32_t seed, uint32_t run, uint32_t block);

// A job seed from the generator's own seeding sources (the random device, else time and
// clock), for a job run without -seed; recorded so that the job can be repeated.
uint32_t draw_job_seed();
