// Run state of the two simulation runs of a job. The driver writes it only while no worker
// runs; during a run the workers share it under the four mutexes below and never hold two
// of them at once. rep, finished and the acceptance counters are also read outside the
// locks, hence atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

extern bool pilot;                  // true in the pilot run, false in the production run
extern int nbreps;                  // pilot: simulations; production: least simulations
extern std::atomic<int> rep;        // indices handed out so far (incremented under mutex_counter)
extern int last_printf;             // last gauge percentage printed (under mutex_gauge)
extern std::atomic<bool> finished;  // production: every counter has reached nb_final

// The job's seed: -seed, or one drawn from the generator's seeding sources. Set by the run
// driver at the start of each job, before any worker starts; every random stream of the
// job derives from it (seed_block_generator).
extern uint32_t job_seed;

// Per population, created by the driver at the start of each job.
extern std::vector<std::vector<double>> v_dist_fis;  // pilot distances, pilot-size each
extern std::vector<std::vector<double>> v_dist_fst;
extern std::vector<double> quantile_fis;  // acceptance thresholds (sums of squares)
extern std::vector<double> quantile_fst;
extern std::unique_ptr<std::atomic<int>[]> nb_fis;  // acceptance counts
extern std::unique_ptr<std::atomic<int>[]> nb_fst;
extern std::vector<std::ofstream> outfile_fis;  // accepted-draw files (under mutex_outfile)
extern std::vector<std::ofstream> outfile_fst;

extern std::mutex mutex_counter;   // rep, nb_fis, nb_fst, finished, pilot distance stores
extern std::mutex mutex_outfile;   // appending to outfile_fis / outfile_fst
extern std::mutex mutex_gauge;     // last_printf and the gauge printing
extern std::mutex mutex_randseed;  // seeding of each worker's generator
