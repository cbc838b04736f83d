// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "data/input_error.h"
#include "data/read_input.h"
#include "driver/checkpoint.h"
#include "driver/interrupts.h"
#include "driver/run_driver.h"
#include "driver/run_record.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"
#include "options/anyoption.h"
#include "posterior/regression.h"

namespace {

// The one option parser; created before main. Only this file reads it: everything the rest
// of the program needs from the command line is copied into the run configuration.

// Every option, one row each in the order of the usage text: its name, whether it takes a
// value (the next word) or is a flag (given or not), and its usage line (the trailing
// blanks are part of the text).
struct OptionRow {
  const char* name;
  bool takes_value;
  const char* usage;
};
const OptionRow OPTIONS[] = {
    {"help", false, " -help        Prints this help "},
    {"nfis", true, " -nfis 15     Number of stats for Fis, default is 15 "},
    {"nfst", true, " -nfst 25     Number of stats for Fst, default is 25 "},
    {"n", true, " -n 5000      Number of output data sets, default is 5000 "},
    {"ar", true, " -ar 0.005    Acceptance ratio in ABC algorithm, default is 0.005 "},
    {"nprocs", true, " -nprocs 2    Number of processors used, default is 1 "},
    {"o", true, " -o alleles   Output file prefix, default is input file without the extention "},
    {"od", true, " -od .        Output directory, default is the same as program file  "},
    {"s", true, " -s stats.txt Statistics file, no statistics output by default"},
    {"hpdi", true, " -hpdi 0.95   HDPI percentage if -s is defined, 0.95 by default "},
    {"keep", false, " -keep        Keep output files with simulated summary statistics "},
    {"convert", false, " -convert     Convert data as codominant markers based on Fis estimates "},
    {"bh", true, " -bh          Minimum total nb of indivs with a band, default is 1 for AFLP "},
    {"bf", true, " -bf          Minimum total nb of indivs without a band, default is 0 for AFLP "},
    {"format", true,
     " -format dart Input format: counts, genalex, table or dart, default is read from the file "},
    {"pops", true, " -pops p.csv  Population of each sample of a DArT report (columns id,pop) "},
    {"seed", true,
     " -seed 42     Seed of the random numbers, default is a new seed per job (in _run.txt) "},
    {"cv", true,
     " -cv 100      Cross-validate on 100 simulated data sets, no cross-validation by default "},
    {"plot", false, " -plot        Write figures of the posteriors (and of -cv) as SVG "},
    {"version", false, " -version     Prints the version and exits "},
    {"gof", true,
     " -gof 100     Test the fit of the model on 100 simulated data sets, no test by default "},
    {"method", true,
     " -method joint Estimation method, regression or joint, default is regression "},
    {"sims", true,
     " -sims 200000 Simulations of the reference table of -method joint, default is 200000 "},
    {"checkpoint", true,
     " -checkpoint 600 Seconds between checkpoints of a job, default is 600 (0: none) "},
    {"resume", true, " -resume f_checkpoint Go on with the job saved in a checkpoint "},
};
// The usage text around the option lines.
const char* const USAGE_HEAD[] = {"", "Usage: ", ""};
const char* const USAGE_TAIL[] = {" alleles.txt  Name of the input file ", ""};

// The distance between two option names: the edits (a character inserted, removed or
// changed, or two neighbours swapped) that turn one into the other.
size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// Refuses the option word `typed` ("-nproc", "--nproc=2") that names no option, suggesting
// the nearest name where one is close: an edit for every three characters at most, so that
// "-x" suggests nothing rather than any one-letter option. Case does not count.
[[noreturn]] void refuse_unknown_option(const std::string& typed) {
  const size_t start = typed.find_first_not_of('-');
  std::string name = start == std::string::npos ? "" : typed.substr(start, typed.find('=') - start);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const char* nearest = nullptr;
  size_t best = 0;
  for (const OptionRow& row : OPTIONS) {
    const std::string candidate = row.name;
    const size_t d = edit_distance(name, candidate);
    if (d * 3 <= std::max(name.size(), candidate.size()) && (!nearest || d < best)) {
      nearest = row.name;
      best = d;
    }
  }
  if (nearest) fail("Unknown option %s (did you mean -%s?)", typed.c_str(), nearest);
  fail("Unknown option %s; -help lists the options", typed.c_str());
}

// The value of option `name` as a whole number (digits, an optional sign, nothing else, and
// within an int), or `fallback` when the option is not given.
int whole_value(AnyOption& opt, const char* name, int fallback) {
  const char* text = opt.getValue(name);
  if (!text) return fallback;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || std::isspace(static_cast<unsigned char>(*text)))
    fail("Invalid value for -%s: \"%s\"; a whole number is expected", name, text);
  if (errno == ERANGE || v < INT_MIN || v > INT_MAX)
    fail("Invalid value for -%s: \"%s\"; the number is out of range", name, text);
  return static_cast<int>(v);
}

// The value of option `name` as a finite number ("0.05", "5e-2"; nothing after it), or
// `fallback` when the option is not given.
double number_value(AnyOption& opt, const char* name, double fallback) {
  const char* text = opt.getValue(name);
  if (!text) return fallback;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || std::isspace(static_cast<unsigned char>(*text)) ||
      !std::isfinite(v))
    fail("Invalid value for -%s: \"%s\"; a number is expected", name, text);
  return v;
}

// -cv, -gof and -sims take a whole number written as one: "10", not "1e1", "10.5" or "10x".
// Returns -1 for anything else, which the checks refuse.
int parse_count(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v < 0 || v > INT_MAX) return -1;
  return static_cast<int>(v);
}

// The value text of an option for a refusal message ("(default)" when it was not given).
std::string shown(AnyOption& opt, const char* name) {
  const char* v = opt.getValue(name);
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
void check_joint_method(AnyOption& opt, const Config& config) {
  if (config.estimation_method != EstimationMethod::joint) {
    if (opt.getValue("sims"))
      fail("Invalid value for -sims: %s; -sims sets the reference table of -method joint",
           shown(opt, "sims").c_str());
    return;
  }
  if (config.sims_count < 1)
    fail("Invalid value for -sims: %s; give a whole number of simulations",
         shown(opt, "sims").c_str());
  const long long features = 2LL * (config.nb_class_fis + config.nb_class_fst);
  const long long draws = static_cast<long long>(config.ratio * config.sims_count);
  if (draws < features + 2 || draws + 2 > config.sims_count)
    fail(
        "Invalid value for -sims: %s; with -ar %g each estimate uses %lld of the simulations, and "
        "its regression needs at least %lld (raise -sims or -ar)",
        shown(opt, "sims").c_str(), config.ratio, draws, features + 2);
  if (opt.getValue("cv") && (config.cv_count < 2 || config.cv_count > config.sims_count))
    fail(
        "Invalid value for -cv: %s; give a whole number of pseudo-observed data sets, from 2 to "
        "the %d simulations of the reference table",
        shown(opt, "cv").c_str(), config.sims_count);
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
void check_cross_validation(AnyOption& opt, const Config& config, const DerivedCounts& counts) {
  if (!opt.getValue("cv")) return;
  if (config.cv_count < 2)
    fail("Invalid value for -cv: %s; give a whole number of pseudo-observed data sets, at least 2",
         shown(opt, "cv").c_str());
  if (config.cv_count > counts.pilot_size)
    fail(
        "Invalid value for -cv: %s; the pilot run has only %lld simulations to choose from "
        "(raise -n or lower -ar)",
        shown(opt, "cv").c_str(), counts.pilot_size);
  const int stats = std::max(config.nb_class_fis, config.nb_class_fst);
  if (counts.threshold_index < stats + 1 || counts.threshold_index + 2 > counts.pilot_size)
    fail(
        "Invalid value for -cv: %s; each cross-validation estimate uses %lld simulations "
        "(about n / 10), and its regression needs at least %d (raise -n)",
        shown(opt, "cv").c_str(), counts.threshold_index, stats + 1);
}

// The goodness-of-fit test needs at least two simulated data sets for a null distribution
// and no more than the pilot run has. Each of them, left out of the table, still has the
// threshold index of nearest rows: that index is below the pilot size whenever -ar < 1.
void check_goodness_of_fit(AnyOption& opt, const Config& config, const DerivedCounts& counts) {
  if (!opt.getValue("gof")) return;
  if (config.gof_count < 2)
    fail("Invalid value for -gof: %s; give a whole number of simulated data sets, at least 2",
         shown(opt, "gof").c_str());
  if (config.estimation_method == EstimationMethod::joint) {
    if (config.gof_count > config.sims_count)
      fail(
          "Invalid value for -gof: %s; the reference table has only %d simulations to choose "
          "from (raise -sims)",
          shown(opt, "gof").c_str(), config.sims_count);
  } else if (config.gof_count > counts.pilot_size) {
    fail(
        "Invalid value for -gof: %s; the pilot run has only %lld simulations to choose from "
        "(raise -n or lower -ar)",
        shown(opt, "gof").c_str(), counts.pilot_size);
  }
}

// Values that would make a run impossible or unbounded are refused before any job starts.
void check_configuration(AnyOption& opt, const Config& config) {
  if (opt.getValue("pops") != nullptr && !std::ifstream(config.pops_file).is_open())
    fail("Invalid value for -pops: %s; the population file cannot be opened",
         shown(opt, "pops").c_str());
  if (config.nb_procs < 1)
    fail("Invalid value for -nprocs: %s; at least 1 worker thread is needed",
         shown(opt, "nprocs").c_str());
  if (!(config.ratio > 0.0 && config.ratio < 1.0))
    fail("Invalid value for -ar: %s; the acceptance ratio must lie strictly between 0 and 1",
         shown(opt, "ar").c_str());
  if (config.nb_final < 2)
    fail("Invalid value for -n: %s; at least 2 accepted draws are needed", shown(opt, "n").c_str());
  if (config.nb_class_fis < 1)
    fail("Invalid value for -nfis: %s; at least 1 statistic is needed", shown(opt, "nfis").c_str());
  if (config.nb_class_fst < 1)
    fail("Invalid value for -nfst: %s; at least 1 statistic is needed", shown(opt, "nfst").c_str());
  if (config.nb_final <= config.nb_class_fis || config.nb_final <= config.nb_class_fst)
    fail(
        "Invalid value for -n: %s; the regression needs more accepted draws than statistics "
        "(-nfis %d, -nfst %d)",
        shown(opt, "n").c_str(), config.nb_class_fis, config.nb_class_fst);
  // The counts themselves: derived_counts refuses values outside an int.
  DerivedCounts counts = derived_counts(config.nb_final, config.ratio);
  if (counts.pilot_size < 1)
    fail("Invalid values for -n %s and -ar %s: the pilot run would have no simulation",
         shown(opt, "n").c_str(), shown(opt, "ar").c_str());
  if (counts.threshold_index < 1)
    fail(
        "Invalid values for -n %s and -ar %s: the acceptance threshold would be the smallest "
        "of %lld pilot distances (index %lld); raise -n",
        shown(opt, "n").c_str(), shown(opt, "ar").c_str(), counts.pilot_size,
        counts.threshold_index);
  check_joint_method(opt, config);
  // The joint method has no pilot run: its -cv and -gof draw from its own table.
  if (config.estimation_method != EstimationMethod::joint)
    check_cross_validation(opt, config, counts);
  check_goodness_of_fit(opt, config, counts);
}

// Every input file is opened before the first job starts, so that a missing one stops the
// run at once rather than after the jobs before it.
void check_input_files(AnyOption& opt, int first) {
  for (int i = first; i < opt.getArgc(); ++i) {
    const char* name = opt.getArgv(i);
    struct stat info;
    if (stat(name, &info) == 0 && S_ISDIR(info.st_mode))
      fail_on_stdout("Could not open file %s: it is a folder\n", name);
    if (!std::ifstream(name).is_open()) fail_on_stdout("Could not open file %s\n", name);
  }
}

// The options a resumed run may set itself: how it runs, not what it computes.
bool allowed_with_resume(const std::string& name) {
  return name == "resume" || name == "nprocs" || name == "checkpoint";
}

// -nprocs and -checkpoint as given now (negative where not given).
struct RunOverrides {
  int nprocs = -1;
  int checkpoint = -1;
};

RunOverrides read_overrides(AnyOption& opt) {
  RunOverrides o;
  o.nprocs = whole_value(opt, "nprocs", -1);
  o.checkpoint = whole_value(opt, "checkpoint", -1);
  if (opt.getValue("nprocs") && o.nprocs < 1)
    fail("Invalid value for -nprocs: %s; at least 1 worker thread is needed",
         shown(opt, "nprocs").c_str());
  if (opt.getValue("checkpoint") && o.checkpoint < 0)
    fail("Invalid value for -checkpoint: %s; give the seconds between checkpoints, 0 for none",
         shown(opt, "checkpoint").c_str());
  return o;
}

// The words of a saved command line, which the parser that reads them points into.
struct SavedWords {
  std::vector<std::string> words;
  std::vector<char*> pointers;
};

// -resume FILE: reads the checkpoint and puts the command line of the job it saved in place
// of this one, in its working folder. The refusals leave the checkpoint as it is.
Checkpoint prepare_resume(std::unique_ptr<AnyOption>& parser, SavedWords& saved,
                          const std::string& path) {
  AnyOption& opt = *parser;
  for (const OptionRow& row : OPTIONS)
    if (!allowed_with_resume(row.name) &&
        (row.takes_value ? opt.getValue(row.name) != nullptr : opt.getFlag(row.name)))
      fail(
          "Option -%s cannot be given with -resume: the job's configuration comes from the "
          "checkpoint (only -nprocs and -checkpoint may be given)",
          row.name);
  if (opt.getArgc() > 0)
    fail("-resume takes no input file (%s): the checkpoint names the job's input", opt.getArgv(0));
  Checkpoint c = read_checkpoint(path);
  if (chdir(c.directory.c_str()) != 0)
    fail("Cannot resume from %s: its working folder %s cannot be entered", path.c_str(),
         c.directory.c_str());
  uint64_t sum = 0;
  if (!std::ifstream(c.input_name).is_open())
    fail("Cannot resume from %s: the input file %s is missing", path.c_str(), c.input_name.c_str());
  if (!file_checksum(c.input_name, sum) || sum != c.input_checksum)
    fail("Cannot resume from %s: the input file %s has changed since the checkpoint", path.c_str(),
         c.input_name.c_str());
  if (!c.pops_name.empty() && !std::ifstream(c.pops_name).is_open())
    fail("Cannot resume from %s: the pops file %s is missing", path.c_str(), c.pops_name.c_str());
  if (!c.pops_name.empty() && (!file_checksum(c.pops_name, sum) || sum != c.pops_checksum))
    fail("Cannot resume from %s: the pops file %s has changed since the checkpoint", path.c_str(),
         c.pops_name.c_str());

  // The saved command line, parsed as the first run parsed it. The parser keeps pointers
  // to the words, so they live as long as the parser.
  saved.words = c.command_words;
  saved.pointers.clear();
  for (std::string& word : saved.words) saved.pointers.push_back(&word[0]);
  parser.reset(new AnyOption());
  AnyOption& again = *parser;
  register_options(again);
  again.processCommandArgs(static_cast<int>(saved.pointers.size()), saved.pointers.data());
  if (again.getArgc() <= c.job_index || c.input_name != again.getArgv(c.job_index))
    fail(
        "Cannot resume from %s: its command line does not name its input file (a damaged "
        "checkpoint)",
        path.c_str());
  return c;
}

}  // namespace

void register_options(AnyOption& parser) {
  parser.noPOSIX();
  for (const char* line : USAGE_HEAD) parser.addUsage(line);
  for (const OptionRow& row : OPTIONS) {
    parser.addUsage(row.usage);
    if (row.takes_value)
      parser.setOption(row.name);
    else
      parser.setFlag(row.name);
  }
  for (const char* line : USAGE_TAIL) parser.addUsage(line);
}

std::vector<std::string> option_names() {
  std::vector<std::string> names;
  for (const OptionRow& row : OPTIONS) names.push_back(row.name);
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

void refuse_unusable_words(AnyOption& parser) {
  // A mistyped option or a value left out would otherwise run with the default.
  if (const char* word = parser.unknownOption()) refuse_unknown_option(word);
  if (const char* word = parser.optionWithoutValue())
    fail("Option %s needs a value (the next word)", word);
}

void refuse_conversion_without_statistics(AnyOption& opt) {
  // A refused command line is a failed run, so the status is 1.
  if (opt.getValue("s") == nullptr && opt.getFlag("convert"))
    fail_on_stdout(
        "Statistics calculation required to convert to codominant data (use -s option)\n");
}

Config read_configuration(AnyOption& opt) {
  Config config;
  config.nb_class_fis = whole_value(opt, "nfis", config.nb_class_fis);
  config.nb_class_fst = whole_value(opt, "nfst", config.nb_class_fst);
  config.nb_final = whole_value(opt, "n", config.nb_final);
  config.nb_procs = whole_value(opt, "nprocs", config.nb_procs);
  config.ratio = number_value(opt, "ar", config.ratio);
  if (const char* v = opt.getValue("s")) config.stats_prefix = v;
  if (const char* v = opt.getValue("od")) config.odir = v;
  if (const char* v = opt.getValue("o")) {
    config.output_prefix_given = true;
    config.output_prefix = v;
  }
  // Checked as read, in double: the coverage must also stay inside (0, 1) as a float.
  const double hpdi = number_value(opt, "hpdi", config.hpdi_pc);
  if (!(hpdi > 0.0 && hpdi < 1.0 && static_cast<float>(hpdi) > 0.0f &&
        static_cast<float>(hpdi) < 1.0f))
    fail("Invalid value for -hpdi: %s; the HPDI coverage must lie strictly between 0 and 1",
         shown(opt, "hpdi").c_str());
  config.hpdi_pc = static_cast<float>(hpdi);
  config.bias_hidden = whole_value(opt, "bh", config.bias_hidden);
  config.bias_fixed = whole_value(opt, "bf", config.bias_fixed);
  if (const char* v = opt.getValue("seed")) {
    if (!parse_seed(v, config.user_seed))
      fail("Invalid value for -seed: \"%s\"; the seed must be a whole number from 0 to %u", v,
           UINT32_MAX);
    config.user_seed_given = true;
  }
  config.stats_wanted = opt.getValue("s") != nullptr;
  config.keep_draws = opt.getFlag("keep");
  config.convert_data = opt.getFlag("convert");
  if (const char* v = opt.getValue("format")) config.input_format = parse_input_format(v);
  if (const char* v = opt.getValue("pops")) config.pops_file = v;
  if (const char* v = opt.getValue("cv")) config.cv_count = parse_count(v);
  if (const char* v = opt.getValue("gof")) config.gof_count = parse_count(v);
  config.plot_figures = opt.getFlag("plot");
  if (const char* v = opt.getValue("method")) config.estimation_method = parse_method(v);
  if (const char* v = opt.getValue("sims")) config.sims_count = parse_count(v);
  config.checkpoint_seconds = whole_value(opt, "checkpoint", config.checkpoint_seconds);
  if (config.checkpoint_seconds < 0)
    fail("Invalid value for -checkpoint: %s; give the seconds between checkpoints, 0 for none",
         shown(opt, "checkpoint").c_str());
  check_configuration(opt, config);
  return config;
}

Config configuration_of_options(const std::vector<std::string>& options) {
  // The parser reads words as the program's main receives them, the program's name first.
  std::vector<std::string> words = {"bandstat"};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  AnyOption parser;
  register_options(parser);
  parser.processCommandArgs(static_cast<int>(argv.size()), argv.data());
  refuse_unusable_words(parser);
  if (parser.getValue("resume")) fail("-resume is for the command line: a job resumes from it");
  if (parser.getArgc() > 0)
    fail("An input file (%s) is not an option: give it to load_job", parser.getArgv(0));
  refuse_conversion_without_statistics(parser);
  Config config = read_configuration(parser);
  config.command_words = words;
  return config;
}

Job make_job(const Config& config, int job_index, const std::string& input_name) {
  Job job(config);
  job.job_index = job_index;
  job.file_name = input_name;
  job.file_prefix = config.output_prefix_given ? config.output_prefix : output_stem(input_name);
  std::ifstream in(job.file_name);
  if (!in.is_open()) fail_on_stdout("Could not open file %s\n", job.file_name.c_str());
  try {
    read_input(job, in);
  } catch (const InputError& e) {
    fail("%s", e.what());
  }
  return job;
}

int run_program(int argc, char** argv, const RemoteRanks& remote) {
  // First, before any thread starts: every thread inherits the blocked signals.
  install_interrupt_handling();
  return_gsl_errors_as_statuses();
  std::unique_ptr<AnyOption> parser(new AnyOption());
  register_options(*parser);
  parser->processCommandArgs(argc, argv);
  std::vector<std::string> command_words(argv, argv + argc);

  // -version (or --version) answers alone, whatever else the command line holds.
  if (parser->getFlag("version")) {
    std::printf("bandstat %s\n", PROGRAM_VERSION);
    return 0;
  }
  refuse_unusable_words(*parser);

  Checkpoint resumed;
  RunOverrides overrides;
  // With -resume, the parser is replaced by one of the saved command line, which points
  // into `saved`.
  SavedWords saved;
  if (const char* path = parser->getValue("resume")) {
    overrides = read_overrides(*parser);
    resumed = prepare_resume(parser, saved, path);
    command_words = saved.words;
  }
  AnyOption& opt = *parser;
  const bool resuming = !resumed.path.empty();

  if (!opt.hasOptions() || opt.getArgc() == 0) {
    opt.printUsage();
    return 0;
  }
  refuse_conversion_without_statistics(opt);
  if (opt.getFlag("help")) opt.printUsage();

  Config config = read_configuration(opt);
  config.command_words = command_words;
  // A resumed job runs with the -nprocs and -checkpoint given now, if any.
  if (overrides.nprocs > 0) config.nb_procs = overrides.nprocs;
  if (overrides.checkpoint >= 0) config.checkpoint_seconds = overrides.checkpoint;
  const int first_job = resuming ? resumed.job_index : 0;
  check_input_files(opt, first_job);

  for (int i = first_job; i < opt.getArgc(); ++i) {
    // Jobs not yet run are not run when one cannot be read.
    const Job job = make_job(config, i, opt.getArgv(i));
    // The resumed job goes on from its checkpoint; the ones after it run from the start.
    run_job(job, resuming && i == first_job ? &resumed : nullptr, remote);
  }
  return 0;
}
