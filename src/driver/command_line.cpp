#include "driver/command_line.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "config.h"
#include "data/input_error.h"
#include "data/read_input.h"
#include "driver/interrupts.h"
#include "driver/run_driver.h"
#include "driver/run_record.h"
#include "errors.h"
#include "observed_data.h"
#include "options/anyoption.h"

namespace {

// The one option parser; created before main. Only this file reads it: everything the rest
// of the program needs from the command line is copied into the run configuration.
AnyOption* opt = new AnyOption();

// The usage text, one registered line each (the trailing blanks are part of the text).
const char* const USAGE_LINES[] = {
    "",
    "Usage: ",
    "",
    " -help        Prints this help ",
    " -nfis 15     Number of stats for Fis, default is 15 ",
    " -nfst 25     Number of stats for Fst, default is 25 ",
    " -n 5000      Number of output data sets, default is 5000 ",
    " -ar 0.005    Acceptance ratio in ABC algorithm, default is 0.005 ",
    " -nprocs 2    Number of processors used, default is 1 ",
    " -o alleles   Output file prefix, default is input file without the extention ",
    " -od .        Output directory, default is the same as program file  ",
    " -s stats.txt Statistics file, no statistics output by default",
    " -hpdi 0.95   HDPI percentage if -s is defined, 0.95 by default ",
    " -keep        Keep output files with simulated summary statistics ",
    " -convert     Convert data as codominant markers based on Fis estimates ",
    " -bh          Minimum total nb of indivs with a band, default is 1 for AFLP ",
    " -bf          Minimum total nb of indivs without a band, default is 0 for AFLP ",
    " -format dart Input format: counts, genalex, table or dart, default is read from the file ",
    " -pops p.csv  Population of each sample of a DArT report (columns id,pop) ",
    " -seed 42     Seed of the random numbers, default is a new seed per job (in _run.txt) ",
    " -cv 100      Cross-validate on 100 simulated data sets, no cross-validation by default ",
    " -plot        Write figures of the posteriors (and of -cv) as SVG ",
    " -method     Estimation: regression, or joint (all statistics at once), default is "
    "regression ",
    " -sims 200000 Simulations of the reference table of -method joint, default is 200000 ",
    " alleles.txt  Name of the input file ",
    "",
};

// The options: flags (given or not) and options that take a value.
const char* const FLAG_NAMES[] = {"help", "keep", "convert", "plot"};
const char* const VALUE_OPTION_NAMES[] = {"nfis",   "nfst", "n",  "ar",     "o",      "od",
                                          "s",      "hpdi", "bh", "bf",     "nprocs", "seed",
                                          "format", "pops", "cv", "method", "sims"};

// -cv and -sims take a whole number written as one: "10", not "1e1", "10.5" or "10x".
// Returns -1 for anything else, which the checks refuse.
int parse_whole_number(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v < 0 || v > INT_MAX) return -1;
  return static_cast<int>(v);
}

// The value text of an option for a refusal message ("(default)" when it was not given).
std::string shown(const char* name) {
  const char* v = opt->getValue(name);
  return v ? std::string("\"") + v + "\"" : std::string("(default)");
}

EstimationMethod parse_method(const std::string& value) {
  if (value == "regression") return EstimationMethod::regression;
  if (value == "joint") return EstimationMethod::joint;
  fail("Invalid value for -method: \"%s\"; the methods are regression and joint", value.c_str());
}

// -method joint: a table large enough that the accepted fraction of it can carry a
// regression on every feature (at most twice nfis + nfst of them) and leave rows over for
// the kernel's threshold.
void check_joint_method() {
  if (estimation_method != EstimationMethod::joint) {
    if (opt->getValue("sims"))
      fail("Invalid value for -sims: %s; -sims sets the reference table of -method joint",
           shown("sims").c_str());
    return;
  }
  if (sims_count < 1)
    fail("Invalid value for -sims: %s; give a whole number of simulations", shown("sims").c_str());
  const long long features = 2LL * (nb_class_fis + nb_class_fst);
  const long long draws = static_cast<long long>(ratio * sims_count);
  if (draws < features + 2 || draws + 2 > sims_count)
    fail(
        "Invalid value for -sims: %s; with -ar %g each estimate uses %lld of the simulations, and "
        "its regression needs at least %lld (raise -sims or -ar)",
        shown("sims").c_str(), ratio, draws, features + 2);
  if (opt->getValue("cv") && (cv_count < 2 || cv_count > sims_count))
    fail(
        "Invalid value for -cv: %s; give a whole number of pseudo-observed data sets, from 2 to "
        "the %d simulations of the reference table",
        shown("cv").c_str(), sims_count);
}

// -seed: a whole number that fits in 32 bits, in decimal digits only (no sign, no
// fraction), so that the seed written in the run record is the one typed.
bool parse_seed(const char* text, uint32_t& seed) {
  if (*text == '\0') return false;
  unsigned long long value = 0;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<unsigned>(*c - '0');
    if (value > UINT32_MAX) return false;
  }
  seed = static_cast<uint32_t>(value);
  return true;
}

InputFormat parse_input_format(const std::string& value) {
  if (value == "counts") return InputFormat::counts;
  if (value == "genalex") return InputFormat::genalex;
  if (value == "table") return InputFormat::table;
  if (value == "dart") return InputFormat::dart;
  fail("Invalid value for -format: \"%s\"; the formats are counts, genalex, table and dart",
       value.c_str());
}

// The cross-validation needs at least two pseudo-observed sets (the prediction error divides
// by the spread of their true values), no more than the pilot run has, and estimation
// samples (threshold index rows of the table, the next row giving the threshold) large
// enough for the regression.
void check_cross_validation(const DerivedCounts& counts) {
  if (!opt->getValue("cv")) return;
  if (cv_count < 2)
    fail("Invalid value for -cv: %s; give a whole number of pseudo-observed data sets, at least 2",
         shown("cv").c_str());
  if (cv_count > counts.pilot_size)
    fail(
        "Invalid value for -cv: %s; the pilot run has only %lld simulations to choose from "
        "(raise -n or lower -ar)",
        shown("cv").c_str(), counts.pilot_size);
  const int stats = std::max(nb_class_fis, nb_class_fst);
  if (counts.threshold_index < stats + 1 || counts.threshold_index + 2 > counts.pilot_size)
    fail(
        "Invalid value for -cv: %s; each cross-validation estimate uses %lld simulations "
        "(about n / 10), and its regression needs at least %d (raise -n)",
        shown("cv").c_str(), counts.threshold_index, stats + 1);
}

// Values that would make a run impossible or unbounded are refused before any job starts.
void check_configuration() {
  if (opt->getValue("pops") != nullptr && !std::ifstream(pops_file).is_open())
    fail("Invalid value for -pops: %s; the population file cannot be opened",
         shown("pops").c_str());
  if (nb_procs < 1)
    fail("Invalid value for -nprocs: %s; at least 1 worker thread is needed",
         shown("nprocs").c_str());
  if (!(ratio > 0.0 && ratio < 1.0))
    fail("Invalid value for -ar: %s; the acceptance ratio must lie strictly between 0 and 1",
         shown("ar").c_str());
  if (nb_final < 2)
    fail("Invalid value for -n: %s; at least 2 accepted draws are needed", shown("n").c_str());
  if (nb_class_fis < 1)
    fail("Invalid value for -nfis: %s; at least 1 statistic is needed", shown("nfis").c_str());
  if (nb_class_fst < 1)
    fail("Invalid value for -nfst: %s; at least 1 statistic is needed", shown("nfst").c_str());
  if (hpdi_pc < 0.0f)
    fail("Invalid value for -hpdi: %s; the HPDI coverage cannot be negative",
         shown("hpdi").c_str());
  if (nb_final <= nb_class_fis || nb_final <= nb_class_fst)
    fail(
        "Invalid value for -n: %s; the regression needs more accepted draws than statistics "
        "(-nfis %d, -nfst %d)",
        shown("n").c_str(), nb_class_fis, nb_class_fst);
  // The counts themselves: derived_counts refuses values outside an int.
  DerivedCounts counts = derived_counts(nb_final, ratio);
  if (counts.pilot_size < 1)
    fail("Invalid values for -n %s and -ar %s: the pilot run would have no simulation",
         shown("n").c_str(), shown("ar").c_str());
  if (counts.threshold_index < 1)
    fail(
        "Invalid values for -n %s and -ar %s: the acceptance threshold would be the smallest "
        "of %lld pilot distances (index %lld); raise -n",
        shown("n").c_str(), shown("ar").c_str(), counts.pilot_size, counts.threshold_index);
  check_joint_method();
  // The joint method has no pilot run: its -cv draws from its own table.
  if (estimation_method != EstimationMethod::joint) check_cross_validation(counts);
}

}  // namespace

void register_options(AnyOption& parser) {
  parser.noPOSIX();
  for (const char* line : USAGE_LINES) parser.addUsage(line);
  for (const char* name : FLAG_NAMES) parser.setFlag(name);
  for (const char* name : VALUE_OPTION_NAMES) parser.setOption(name);
}

std::vector<std::string> option_names() {
  std::vector<std::string> names(std::begin(FLAG_NAMES), std::end(FLAG_NAMES));
  names.insert(names.end(), std::begin(VALUE_OPTION_NAMES), std::end(VALUE_OPTION_NAMES));
  return names;
}

std::string output_stem(const std::string& input_name) {
  std::string stem = input_name;
  // Any "." after the first character marks an extension of four characters (".txt").
  // A name shorter than that loses what there is.
  if (stem.find('.', 1) != std::string::npos) stem.erase(stem.size() >= 4 ? stem.size() - 4 : 0);
  // The directory goes, except a lone leading "/".
  std::string::size_type slash = stem.rfind('/');
  if (slash != std::string::npos && slash > 0) stem.erase(0, slash + 1);
  return stem;
}

int run_program(int argc, char** argv) {
  // First, before any thread starts: every thread inherits the blocked signals.
  install_interrupt_handling();
  remember_command_line(argc, argv);
  register_options(*opt);
  opt->processCommandArgs(argc, argv);

  if (!opt->hasOptions() || opt->getArgc() == 0) {
    opt->printUsage();
    delete opt;
    opt = nullptr;
    return 0;
  }
  // A refused command line is a failed run, so the status is 1.
  if (opt->getValue("s") == nullptr && opt->getFlag("convert"))
    fail_on_stdout(
        "Statistics calculation required to convert to codominant data (use -s option)\n");
  if (opt->getFlag("help")) opt->printUsage();

  if (const char* v = opt->getValue("nfis")) nb_class_fis = std::atoi(v);
  if (const char* v = opt->getValue("nfst")) nb_class_fst = std::atoi(v);
  if (const char* v = opt->getValue("n")) nb_final = std::atoi(v);
  if (const char* v = opt->getValue("nprocs")) nb_procs = std::atoi(v);
  if (const char* v = opt->getValue("ar")) ratio = std::atof(v);
  if (const char* v = opt->getValue("s")) stats_prefix = v;
  if (const char* v = opt->getValue("hpdi")) hpdi_pc = static_cast<float>(std::atof(v));
  if (const char* v = opt->getValue("bh")) bias_hidden = std::atoi(v);
  if (const char* v = opt->getValue("bf")) bias_fixed = std::atoi(v);
  if (const char* v = opt->getValue("seed")) {
    if (!parse_seed(v, user_seed))
      fail("Invalid value for -seed: \"%s\"; the seed must be a whole number from 0 to %u", v,
           UINT32_MAX);
    user_seed_given = true;
  }
  stats_wanted = opt->getValue("s") != nullptr;
  keep_draws = opt->getFlag("keep");
  convert_data = opt->getFlag("convert");
  if (const char* v = opt->getValue("format")) input_format = parse_input_format(v);
  if (const char* v = opt->getValue("pops")) pops_file = v;
  if (const char* v = opt->getValue("cv")) cv_count = parse_whole_number(v);
  plot_figures = opt->getFlag("plot");
  if (const char* v = opt->getValue("method")) estimation_method = parse_method(v);
  if (const char* v = opt->getValue("sims")) sims_count = parse_whole_number(v);
  check_configuration();

  for (int i = 0; i < opt->getArgc(); ++i) {
    file_name = opt->getArgv(i);
    if (const char* v = opt->getValue("od")) odir = v;
    if (const char* v = opt->getValue("o"))
      file_prefix = v;
    else
      file_prefix = output_stem(file_name);

    std::ifstream in(file_name);
    // Jobs not yet run are not run.
    if (!in.is_open()) fail_on_stdout("Could not open file %s\n", file_name.c_str());
    try {
      read_input(in);
    } catch (const InputError& e) {
      fail("%s", e.what());
    }
    run_job();
  }
  delete opt;
  opt = nullptr;
  return 0;
}
