// SPDX-License-Identifier: GPL-3.0-or-later
// The one definition of every process-wide variable declared in include/.
#include "config.h"
#include "observed_data.h"

int nb_class_fis = DEFAULT_NB_CLASS_FIS;
int nb_class_fst = DEFAULT_NB_CLASS_FST;
int nb_final = DEFAULT_NB_FINAL;
double ratio = DEFAULT_RATIO;
int nb_procs = DEFAULT_NB_PROCS;
float hpdi_pc = DEFAULT_HPDI_PC;
int bias_hidden = DEFAULT_BIAS_HIDDEN;
int bias_fixed = DEFAULT_BIAS_FIXED;
bool user_seed_given = false;
uint32_t user_seed = 0;
int cv_count = 0;
int gof_count = 0;
bool plot_figures = false;
EstimationMethod estimation_method = EstimationMethod::regression;
int sims_count = DEFAULT_SIMS_COUNT;
int checkpoint_seconds = DEFAULT_CHECKPOINT_SECONDS;

std::string file_name;
std::string file_prefix;
std::string odir;
std::string stats_prefix;
bool stats_wanted = false;
bool keep_draws = false;
bool convert_data = false;
InputFormat input_format = InputFormat::recognised;
std::string pops_file;

void reset_run_configuration() {
  nb_class_fis = DEFAULT_NB_CLASS_FIS;
  nb_class_fst = DEFAULT_NB_CLASS_FST;
  nb_final = DEFAULT_NB_FINAL;
  ratio = DEFAULT_RATIO;
  nb_procs = DEFAULT_NB_PROCS;
  hpdi_pc = DEFAULT_HPDI_PC;
  bias_hidden = DEFAULT_BIAS_HIDDEN;
  bias_fixed = DEFAULT_BIAS_FIXED;
  user_seed_given = false;
  user_seed = 0;
  cv_count = 0;
  gof_count = 0;
  plot_figures = false;
  estimation_method = EstimationMethod::regression;
  sims_count = DEFAULT_SIMS_COUNT;
  checkpoint_seconds = DEFAULT_CHECKPOINT_SECONDS;
  file_name.clear();
  file_prefix.clear();
  odir.clear();
  stats_prefix.clear();
  stats_wanted = false;
  keep_draws = false;
  convert_data = false;
  input_format = InputFormat::recognised;
  pops_file.clear();
}

int I = 0;
int J = 0;
std::vector<LocusRecord> pop_target;
std::vector<double> target_fis;
std::vector<double> target_fst;
