// The one definition of every process-wide variable declared in include/.
#include "config.h"
#include "observed_data.h"
#include "posterior_samples.h"
#include "run_state.h"

int nb_class_fis = 15;
int nb_class_fst = 25;
int nb_final = 5000;
double ratio = 0.005;
int nb_procs = 1;
float hpdi_pc = 0.95f;
int bias_hidden = 1;
int bias_fixed = 0;
bool user_seed_given = false;
uint32_t user_seed = 0;

std::string file_name;
std::string file_prefix;
std::string odir;
std::string stats_prefix;
bool stats_wanted = false;
bool keep_draws = false;
bool convert_data = false;
InputFormat input_format = InputFormat::recognised;
std::string pops_file;

int I = 0;
int J = 0;
std::vector<LocusRecord> pop_target;
double target_fis[MAX_STATS];
double target_fst[MAX_STATS];

bool pilot = true;
int nbreps = 0;
std::atomic<int> rep{0};
int last_printf = 0;
std::atomic<bool> finished{false};
uint32_t job_seed = 0;
int block_size = 1;
long long replicates_done = 0;

std::vector<std::vector<double>> v_dist_fis;
std::vector<std::vector<double>> v_dist_fst;
std::vector<double> quantile_fis;
std::vector<double> quantile_fst;
std::unique_ptr<std::atomic<int>[]> nb_fis;
std::unique_ptr<std::atomic<int>[]> nb_fst;
std::vector<std::ofstream> outfile_fis;
std::vector<std::ofstream> outfile_fst;

std::mutex mutex_counter;
std::mutex mutex_outfile;
std::mutex mutex_gauge;
std::mutex mutex_randseed;

std::vector<std::vector<float>> reg_fis;
std::vector<std::vector<float>> reg_fst;
std::vector<std::vector<float>> noreg_fis;
std::vector<std::vector<float>> noreg_fst;
std::vector<double> fis_estimate;
