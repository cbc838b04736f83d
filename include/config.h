// SPDX-License-Identifier: GPL-3.0-or-later
// The run configuration: what the command line (or a caller of the library) asks of every
// job. Read-only once a job starts: the worker threads read it without locking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How a job estimates its parameters: `regression`, the rejection step with its pilot and
// production runs and a regression on each parameter's own statistics; `joint`, every
// parameter of a population from all of its statistics and the other populations' mean,
// on one reference table of sims_count simulations (posterior/joint.h).
enum class EstimationMethod { regression, joint };

// How an input file is laid out. `recognised`: decided from the file's content.
enum class InputFormat { recognised, counts, genalex, table, dart };

// The defaults of the numeric options above: a Config starts from them, and the usage
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

// Every option of a run, typed. The field names are the ones the code has always used.
struct Config {
  int nb_class_fis = DEFAULT_NB_CLASS_FIS;  // -nfis: Fis statistics (quantiles) per population
  int nb_class_fst = DEFAULT_NB_CLASS_FST;  // -nfst: Fst statistics per population
  int nb_final = DEFAULT_NB_FINAL;          // -n: accepted draws per population and parameter
  double ratio = DEFAULT_RATIO;             // -ar: acceptance ratio of the rejection step
  int nb_procs = DEFAULT_NB_PROCS;          // -nprocs: worker threads per simulation run
  float hpdi_pc = DEFAULT_HPDI_PC;          // -hpdi: HPDI coverage, in single precision on purpose
  int bias_hidden = DEFAULT_BIAS_HIDDEN;    // -bh: least individuals with the band, in total
  int bias_fixed = DEFAULT_BIAS_FIXED;      // -bf: least individuals without the band, in total
  bool user_seed_given = false;             // -seed given: every job uses user_seed
  uint32_t user_seed = 0;                   // -seed: the seed of every job's random streams
  int cv_count = 0;           // -cv: pseudo-observed data sets of the cross-validation; 0: none
  int gof_count = 0;          // -gof: simulated data sets of the goodness-of-fit test; 0: none
  bool plot_figures = false;  // -plot: the SVG figures of the posterior (and of -cv, -gof)
  // -checkpoint: seconds between checkpoints; 0: none
  int checkpoint_seconds = DEFAULT_CHECKPOINT_SECONDS;
  EstimationMethod estimation_method = EstimationMethod::regression;  // -method
  int sims_count = DEFAULT_SIMS_COUNT;  // -sims: simulations of the joint reference table

  std::string odir;                  // -od: raw prefix of every output name (no separator added)
  bool output_prefix_given = false;  // -o given: every job's outputs use output_prefix
  std::string output_prefix;         // -o: the stem of every job's output names
  std::string stats_prefix;          // -s: statistics file name after odir
  bool stats_wanted = false;         // -s given (even with an empty value): write the statistics
  bool keep_draws = false;           // -keep: the accepted-draw files stay after the job
  bool convert_data = false;         // -convert: write the codominant conversion (needs -s)
  // -format: forces one layout for every input file
  InputFormat input_format = InputFormat::recognised;
  std::string pops_file;  // -pops: population of every sample of a DArT report; empty: none

  // The command line as typed (the program's name first), for the run record and the
  // checkpoints; a resumed job's is the one it first ran with.
  std::vector<std::string> command_words;
};
