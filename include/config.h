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

// The defaults of the numeric options below: a Config starts from them, and the usage
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

// Every option of a run, typed, as FIELD(type, name, initial value), once: the struct below
// declares them from this list, and the message that carries a job to the other processes
// of a cluster run (core/job_message.h) is written and read from the same list, so that a
// field added here travels with the job by itself. The names are the ones the code has
// always used.
// clang-format off
#define BANDSTAT_CONFIG_FIELDS(FIELD)                                                          \
  FIELD(int, nb_class_fis, DEFAULT_NB_CLASS_FIS)  /* -nfis: Fis statistics per population */   \
  FIELD(int, nb_class_fst, DEFAULT_NB_CLASS_FST)  /* -nfst: Fst statistics per population */   \
  FIELD(int, nb_final, DEFAULT_NB_FINAL)      /* -n: accepted draws per population, parameter */ \
  FIELD(double, ratio, DEFAULT_RATIO)         /* -ar: acceptance ratio of the rejection step */ \
  FIELD(int, nb_procs, DEFAULT_NB_PROCS)      /* -nprocs: worker threads per simulation run */  \
  FIELD(float, hpdi_pc, DEFAULT_HPDI_PC)      /* -hpdi: coverage, in single precision on purpose */ \
  FIELD(int, bias_hidden, DEFAULT_BIAS_HIDDEN) /* -bh: least individuals with the band */      \
  FIELD(int, bias_fixed, DEFAULT_BIAS_FIXED)   /* -bf: least individuals without the band */   \
  FIELD(bool, user_seed_given, false)         /* -seed given: every job uses user_seed */       \
  FIELD(uint32_t, user_seed, 0)               /* -seed: the seed of every job's streams */      \
  FIELD(int, cv_count, 0)          /* -cv: pseudo-observed sets of the cross-validation; 0: none */ \
  FIELD(int, gof_count, 0)         /* -gof: simulated sets of the goodness-of-fit test; 0: none */ \
  FIELD(bool, plot_figures, false) /* -plot: SVG figures of the posterior (and of -cv, -gof) */ \
  FIELD(int, checkpoint_seconds, DEFAULT_CHECKPOINT_SECONDS) /* -checkpoint; 0: none */          \
  FIELD(EstimationMethod, estimation_method, EstimationMethod::regression) /* -method */         \
  FIELD(int, sims_count, DEFAULT_SIMS_COUNT)  /* -sims: simulations of the joint table */       \
  FIELD(std::string, odir, {})       /* -od: raw prefix of every output name (no separator) */  \
  FIELD(bool, output_prefix_given, false) /* -o given: every job's outputs use output_prefix */ \
  FIELD(std::string, output_prefix, {})   /* -o: the stem of every job's output names */        \
  FIELD(std::string, stats_prefix, {})    /* -s: statistics file name after odir */             \
  FIELD(bool, stats_wanted, false)  /* -s given (even with an empty value) */                   \
  FIELD(bool, keep_draws, false)    /* -keep: the accepted-draw files stay after the job */     \
  FIELD(bool, convert_data, false)  /* -convert: the codominant conversion (needs -s) */        \
  FIELD(InputFormat, input_format, InputFormat::recognised) /* -format: one layout for all */   \
  FIELD(std::string, pops_file, {}) /* -pops: population of each sample of a DArT report */     \
  /* The command line as typed (the program's name first), for the run record and the */       \
  /* checkpoints; a resumed job's is the one it first ran with. */                              \
  FIELD(std::vector<std::string>, command_words, {})
// clang-format on

struct Config {
#define BANDSTAT_DECLARE_FIELD(type, name, initial) type name = initial;
  BANDSTAT_CONFIG_FIELDS(BANDSTAT_DECLARE_FIELD)
#undef BANDSTAT_DECLARE_FIELD
};
