// SPDX-License-Identifier: GPL-3.0-or-later
// Run configuration: set from the command line before the first job, read-only afterwards
// (worker threads read it without locking). The strings file_name, odir and file_prefix are
// set again at the start of every job, while no worker runs.
#pragma once

#include <cstdint>
#include <string>

extern int nb_class_fis;        // -nfis: Fis summary statistics (quantiles) per population
extern int nb_class_fst;        // -nfst: Fst summary statistics per population
extern int nb_final;            // -n: accepted draws wanted per population and parameter
extern double ratio;            // -ar: acceptance ratio of the rejection step
extern int nb_procs;            // -nprocs: worker threads per simulation run
extern float hpdi_pc;           // -hpdi: HPDI coverage, kept in single precision on purpose
extern int bias_hidden;         // -bh: least total number of individuals with the band
extern int bias_fixed;          // -bf: least total number of individuals without the band
extern bool user_seed_given;    // -seed given: every job uses user_seed
extern uint32_t user_seed;      // -seed: the seed of every job's random streams
extern int cv_count;            // -cv: pseudo-observed data sets of the cross-validation; 0: none
extern int gof_count;           // -gof: simulated data sets of the goodness-of-fit test; 0: none
extern bool plot_figures;       // -plot: write the SVG figures of the posterior (and of -cv)
extern int checkpoint_seconds;  // -checkpoint: seconds between checkpoints; 0: none

// How a job estimates its parameters: `regression`, the rejection step with its pilot and
// production runs and a regression on each parameter's own statistics; `joint`, every
// parameter of a population from all of its statistics and the other populations' mean,
// on one reference table of sims_count simulations (posterior/joint.h).
enum class EstimationMethod { regression, joint };
extern EstimationMethod estimation_method;  // -method
extern int sims_count;                      // -sims: simulations of the joint reference table

extern std::string file_name;     // input file of the current job
extern std::string file_prefix;   // -o, or the stem of file_name
extern std::string odir;          // -od: raw prefix of every output name (no separator added)
extern std::string stats_prefix;  // -s: statistics file name after odir
extern bool stats_wanted;         // -s given (even with an empty value): write the statistics
extern bool keep_draws;           // -keep: the accepted-draw files stay after the job
extern bool convert_data;         // -convert: write the codominant conversion (needs -s)

// How an input file is laid out. `recognised`: decided from the file's content.
enum class InputFormat { recognised, counts, genalex, table, dart };
extern InputFormat input_format;  // -format: forces one layout for every input file
extern std::string pops_file;     // -pops: population of every sample of a DArT report; empty: none

// The defaults of the numeric options above: the globals start from them, and the usage
// text and the README state them.
constexpr int DEFAULT_NB_CLASS_FIS = 15;
constexpr int DEFAULT_NB_CLASS_FST = 25;
constexpr int DEFAULT_NB_FINAL = 5000;
constexpr double DEFAULT_RATIO = 0.005;
constexpr int DEFAULT_NB_PROCS = 1;
constexpr float DEFAULT_HPDI_PC = 0.95f;
constexpr int DEFAULT_BIAS_HIDDEN = 1;
constexpr int DEFAULT_BIAS_FIXED = 0;
constexpr int DEFAULT_SIMS_COUNT = 200000;
constexpr int DEFAULT_CHECKPOINT_SECONDS = 600;

// Puts every global above back to its value before the command line was read. The program
// reads its command line once; tests run many configurations in one process.
void reset_run_configuration();
