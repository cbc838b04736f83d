// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of the program: usage, option values, refusals and the output stem.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "config.h"
#include "driver/command_line.h"
#include "driver/run_driver.h"
#include "driver/run_record.h"
#include "support.h"

namespace {

const char* const EXPECTED_USAGE =
    "\n"
    "\n"
    "Usage: \n"
    "\n"
    " -help        Prints this help \n"
    " -nfis 15     Number of stats for Fis, default is 15 \n"
    " -nfst 25     Number of stats for Fst, default is 25 \n"
    " -n 5000      Number of output data sets, default is 5000 \n"
    " -ar 0.005    Acceptance ratio in ABC algorithm, default is 0.005 \n"
    " -nprocs 2    Number of processors used, default is 1 \n"
    " -o alleles   Output file prefix, default is input file without the extention \n"
    " -od .        Output directory, default is the same as program file  \n"
    " -s stats.txt Statistics file, no statistics output by default\n"
    " -hpdi 0.95   HDPI percentage if -s is defined, 0.95 by default \n"
    " -keep        Keep output files with simulated summary statistics \n"
    " -convert     Convert data as codominant markers based on Fis estimates \n"
    " -bh          Minimum total nb of indivs with a band, default is 1 for AFLP \n"
    " -bf          Minimum total nb of indivs without a band, default is 0 for AFLP \n"
    " -format dart Input format: counts, genalex, table or dart, default is read from the file \n"
    " -pops p.csv  Population of each sample of a DArT report (columns id,pop) \n"
    " -seed 42     Seed of the random numbers, default is a new seed per job (in _run.txt) \n"
    " -cv 100      Cross-validate on 100 simulated data sets, no cross-validation by default \n"
    " -plot        Write figures of the posteriors (and of -cv) as SVG \n"
    " -version     Prints the version and exits \n"
    " -gof 100     Test the fit of the model on 100 simulated data sets, no test by default \n"
    " -method joint Estimation method, regression or joint, default is regression \n"
    " -sims 200000 Simulations of the reference table of -method joint, default is 200000 \n"
    " -checkpoint 600 Seconds between checkpoints of a job, default is 600 (0: none) \n"
    " -resume f_checkpoint Go on with the job saved in a checkpoint \n"
    " alleles.txt  Name of the input file \n"
    "\n"
    "\n";

}  // namespace

TEST(OutputStem, FollowsTheExtensionAndDirectoryRule) {
  struct Case {
    const char* input;
    const char* stem;
  };
  const Case cases[] = {
      {"alleles.txt", "alleles"},
      {"data/run1/alleles.txt", "alleles"},
      {"alleles", "alleles"},
      {"alleles.dat1", "alleles."},
      // The "." in the directory name triggers the four-character cut: 16 - 4 characters,
      // then the directory goes.
      {"old.runs/alleles", "all"},
      {"/alleles.txt", "/alleles"},
      {".hidden", ".hidden"},  // a leading "." alone is no extension
      {"a.b", ""},             // shorter than the cut: nothing is left, and no crash
      {"x.", ""},
      {"dir\\alleles.txt", "dir\\alleles"},  // only "/" separates directories
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(output_stem(c.input), c.stem);
  }
}

TEST(DerivedCounts, AreTruncatedFromExtendedPrecision) {
  struct Case {
    int n;
    double ratio;
    long long pilot, index, minimum;
  };
  const Case cases[] = {
      // The doubles nearest 0.005 and 0.01 lie above them, so the quotients fall just short.
      {5000, 0.005, 99999, 499, 999999},
      {1000, 0.01, 9999, 99, 99999},
      {1000, 0.0625, 1600, 100, 16000},  // exact in binary
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ratio);
    DerivedCounts d = derived_counts(c.n, c.ratio);
    EXPECT_EQ(d.pilot_size, c.pilot);
    EXPECT_EQ(d.threshold_index, c.index);
    EXPECT_EQ(d.production_minimum, c.minimum);
  }
}

TEST(CommandLine, WithoutAnInputFilePrintsTheUsageAndSucceeds) {
  TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-n", "100"}, {"-help"}, {"-keep", "-nprocs", "2"}}) {
    CommandResult r = run_bandstat(args, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, EXPECTED_USAGE);
    EXPECT_EQ(r.err, "");
  }
}

// -version prints one line, the project version of CMakeLists.txt (which the run record and
// the package use too), and nothing else happens: no usage, no job, no refusal.
TEST(CommandLine, VersionPrintsTheProjectVersionAlone) {
  const std::string cmake = read_file(source_dir() + "/CMakeLists.txt");
  const std::string key = "project(bandstat VERSION ";
  const size_t at = cmake.find(key);
  ASSERT_NE(at, std::string::npos);
  const std::string version =
      cmake.substr(at + key.size(), cmake.find(' ', at + key.size()) - at - key.size());
  EXPECT_EQ(version, PROGRAM_VERSION);
  TempDir dir;
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-version"},
                                               {"--version"},
                                               {"-version", "missing.txt"},
                                               {"-convert", "-n", "abc", "--version", "-help"}}) {
    SCOPED_TRACE(args.back());
    CommandResult r = run_bandstat(args, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "bandstat " + version + "\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST(CommandLine, RefusesImpossibleSettingsBeforeAnyJob) {
  struct Case {
    std::vector<std::string> args;
    const char* message;  // expected inside the output
  };
  const Case cases[] = {
      // -convert needs -s; checked before -help, so no usage is printed.
      {{"-convert", "-help", "in.txt"},
       "Statistics calculation required to convert to codominant data (use -s option)"},
      {{"-nprocs", "0", "in.txt"}, "-nprocs: \"0\""},
      // Mistyped options and values left out.
      {{"-nproc", "2", "in.txt"}, "Unknown option -nproc (did you mean -nprocs?)"},
      {{"--hdpi=0.9", "in.txt"}, "Unknown option --hdpi=0.9 (did you mean -hpdi?)"},
      {{"-Seed", "1", "in.txt"}, "Unknown option -Seed (did you mean -seed?)"},
      {{"-x", "in.txt"}, "Unknown option -x; -help lists the options"},
      {{"-", "in.txt"}, "Unknown option -;"},
      {{"-frobnicate"}, "Unknown option -frobnicate;"},  // refused even without an input file
      {{"in.txt", "-n"}, "Option -n needs a value"},
      // Numbers: nothing but the number, within range.
      {{"-nprocs", "x", "in.txt"}, "-nprocs: \"x\"; a whole number is expected"},
      {{"-n", "abc", "in.txt"}, "-n: \"abc\"; a whole number is expected"},
      {{"-n", "10x", "in.txt"}, "-n: \"10x\"; a whole number is expected"},
      {{"-n", "1e4", "in.txt"}, "-n: \"1e4\"; a whole number is expected"},
      {{"-n", " 10", "in.txt"}, "-n: \" 10\"; a whole number is expected"},
      {{"-n", "", "in.txt"}, "-n: \"\"; a whole number is expected"},
      {{"-nfis", "99999999999", "in.txt"}, "-nfis: \"99999999999\"; the number is out of range"},
      {{"-bh", "1.5", "in.txt"}, "-bh: \"1.5\"; a whole number is expected"},
      {{"-bf", "two", "in.txt"}, "-bf: \"two\"; a whole number is expected"},
      {{"-nfst", "5;", "in.txt"}, "-nfst: \"5;\"; a whole number is expected"},
      {{"-ar", "0.1q", "in.txt"}, "-ar: \"0.1q\"; a number is expected"},
      {{"-ar", "nan", "in.txt"}, "-ar: \"nan\"; a number is expected"},
      {{"-hpdi", "0.9.5", "in.txt"}, "-hpdi: \"0.9.5\"; a number is expected"},
      {{"-hpdi", "inf", "in.txt"}, "-hpdi: \"inf\"; a number is expected"},
      {{"-ar", "0", "in.txt"}, "-ar: \"0\""},
      {{"-ar", "1", "in.txt"}, "-ar: \"1\""},
      {{"-ar", "-0.5", "in.txt"}, "-ar: \"-0.5\""},
      {{"-n", "1", "in.txt"}, "-n: \"1\""},
      {{"-nfis", "0", "in.txt"}, "-nfis: \"0\""},
      {{"-nfst", "-3", "in.txt"}, "-nfst: \"-3\""},
      // -hpdi: a coverage strictly between 0 and 1, also once it is a float.
      {{"-hpdi", "-0.1", "in.txt"}, "-hpdi: \"-0.1\"; the HPDI coverage must lie strictly"},
      {{"-hpdi", "0", "in.txt"}, "-hpdi: \"0\"; the HPDI coverage must lie strictly"},
      {{"-hpdi", "1", "in.txt"}, "-hpdi: \"1\"; the HPDI coverage must lie strictly"},
      {{"-hpdi", "95", "in.txt"}, "-hpdi: \"95\"; the HPDI coverage must lie strictly"},
      {{"-hpdi", "0.9999999999", "in.txt"}, "-hpdi: \"0.9999999999\"; the HPDI coverage"},
      {{"-hpdi", "1e-60", "in.txt"}, "-hpdi: \"1e-60\"; the HPDI coverage"},
      {{"-format", "csv", "in.txt"}, "Invalid value for -format: \"csv\"; the formats are"},
      {{"-format", "", "in.txt"}, "Invalid value for -format: \"\""},
      {{"-pops", "no_such.csv", "in.txt"},
       "Invalid value for -pops: \"no_such.csv\"; the population"},
      {{"-pops", "", "in.txt"}, "Invalid value for -pops: \"\""},
      {{"-seed", "-1", "in.txt"},
       "-seed: \"-1\"; the seed must be a whole number from 0 to 4294967295"},
      {{"-seed", "4294967296", "in.txt"}, "-seed: \"4294967296\""},
      {{"-seed", "12abc", "in.txt"}, "-seed: \"12abc\""},
      {{"-seed", "1.5", "in.txt"}, "-seed: \"1.5\""},
      {{"-seed=", "in.txt"}, "-seed: \"\""},
      // The regression needs more draws than coefficients.
      {{"-n", "20", "in.txt"}, "more accepted draws than statistics"},
      {{"-n", "30", "-nfis", "30", "-nfst", "5", "in.txt"}, "more accepted draws than statistics"},
      // Pilot size below 1, and simulation counts beyond an int.
      {{"-n", "5", "-ar", "0.9", "-nfis", "2", "-nfst", "2", "in.txt"}, "no simulation"},
      {{"-ar", "1e-9", "in.txt"}, "would exceed"},
      // Pilot size 1 and threshold index 0.
      {{"-n", "2", "-ar", "0.15", "-nfis", "1", "-nfst", "1", "in.txt"}, "(index 0)"},
      // -cv: a whole number of at least 2 (the prediction error divides by the spread of
      // the true values), written as one.
      {{"-cv", "x", "in.txt"}, "-cv: \"x\""},
      {{"-cv", "1", "in.txt"}, "-cv: \"1\""},
      {{"-cv", "-2", "in.txt"}, "-cv: \"-2\""},
      {{"-cv", "1.5", "in.txt"}, "-cv: \"1.5\""},
      {{"-cv", "10x", "in.txt"}, "-cv: \"10x\""},
      {{"-cv", "99999999999", "in.txt"}, "-cv: \"99999999999\""},
      // More pseudo-observed sets than pilot simulations (199 here).
      {{"-cv", "200", "-n", "100", "-ar", "0.05", "-nfis", "2", "-nfst", "2", "in.txt"},
       "only 199 simulations"},
      // Estimation samples of 9 simulations for a regression on 25 statistics.
      {{"-cv", "10", "-n", "100", "-ar", "0.05", "in.txt"}, "needs at least 26"},
      // -gof: a whole number of at least 2 (a null distribution), written as one, and no
      // more than the pilot run's simulations (199 here).
      {{"-gof", "x", "in.txt"}, "Invalid value for -gof: \"x\"; give a whole number"},
      {{"-gof", "1", "in.txt"}, "-gof: \"1\""},
      {{"-gof", "0", "in.txt"}, "-gof: \"0\""},
      {{"-gof", "-5", "in.txt"}, "-gof: \"-5\""},
      {{"-gof", "2.5", "in.txt"}, "-gof: \"2.5\""},
      {{"-gof", "1e2", "in.txt"}, "-gof: \"1e2\""},
      {{"-gof", "200", "-n", "100", "-ar", "0.05", "-nfis", "2", "-nfst", "2", "in.txt"},
       "-gof: \"200\"; the pilot run has only 199 simulations"},
      // -method: one of two names.
      {{"-method", "bayes", "in.txt"},
       "Invalid value for -method: \"bayes\"; the methods are regression and joint"},
      {{"-method", "", "in.txt"}, "Invalid value for -method: \"\""},
      // -sims: a whole number, only with -method joint, and a table whose accepted 0.5%
      // (1000 of 200000 by default) can carry a regression on 2 x (15 + 25) features.
      {{"-sims", "5000", "in.txt"}, "-sims: \"5000\"; -sims sets the reference table"},
      {{"-method", "regression", "-sims", "5000", "in.txt"}, "-sims sets the reference table"},
      {{"-method", "joint", "-sims", "0", "in.txt"}, "-sims: \"0\"; give a whole number"},
      {{"-method", "joint", "-sims", "x", "in.txt"}, "-sims: \"x\""},
      {{"-method", "joint", "-sims", "1e6", "in.txt"}, "-sims: \"1e6\""},
      {{"-method", "joint", "-sims", "99999999999", "in.txt"}, "-sims: \"99999999999\""},
      {{"-method", "joint", "-sims", "16000", "in.txt"},
       "-sims: \"16000\"; with -ar 0.005 each estimate uses 80 of the simulations, and its "
       "regression needs at least 82"},
      // Every simulation accepted leaves none for the kernel's threshold.
      {{"-method", "joint", "-sims", "100", "-ar", "0.99", "-nfis", "2", "-nfst", "2", "in.txt"},
       "each estimate uses 99"},
      // -cv with -method joint draws from the reference table.
      {{"-method", "joint", "-cv", "1", "in.txt"}, "-cv: \"1\"; give a whole number"},
      {{"-method", "joint", "-sims", "20000", "-cv", "20001", "in.txt"},
       "-cv: \"20001\"; give a whole number of pseudo-observed data sets, from 2 to the 20000"},
      // -gof with -method joint draws from the reference table.
      {{"-method", "joint", "-sims", "20000", "-gof", "20001", "in.txt"},
       "-gof: \"20001\"; the reference table has only 20000 simulations"},
      // A missing input file is a failure, not a success; so is a folder.
      {{"in.txt"}, "Could not open file in.txt"},
      {{"."}, "Could not open file .: it is a folder"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    CommandResult r = run_bandstat(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.out.find("Usage:"), std::string::npos);
  }
}

// Every input file is opened before the first job: a missing second file is refused before
// the first (readable) file's job runs or writes anything.
TEST(CommandLine, AMissingSecondFileIsRefusedBeforeTheFirstJob) {
  TempDir dir;
  const std::string first = source_dir() + "/examples/example.txt";
  CommandResult r =
      run_bandstat({"-n", "100", "-ar", "0.05", first, "missing2.txt", "missing3.txt"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Could not open file missing2.txt\n");
  EXPECT_EQ(run_shell("ls -A", dir.path()).out, "");
}

namespace {

// The line of `text` that starts with `prefix`, or "" when none does.
std::string line_starting(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  return "";
}

// Whether the man page has a bold option line (.B, .BI, .BR) naming "-name".
bool man_page_names(const std::string& page, const std::string& name) {
  std::istringstream in(page);
  const std::string word = "\\-" + name;
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 2, ".B") != 0) continue;
    for (size_t at = line.find(word); at != std::string::npos; at = line.find(word, at + 1)) {
      const size_t end = at + word.size();
      if (line[at - 1] == ' ' && (end == line.size() || line[end] == ' ' || line[end] == '"'))
        return true;
    }
  }
  return false;
}

}  // namespace

// Every option the program registers is explained in the usage text, in the README's
// options table and in the man page, so an option added without its documentation fails
// here.
TEST(CommandLine, EveryRegisteredOptionIsDocumented) {
  TempDir dir;
  const std::string usage = run_bandstat({}, dir.path()).out;
  const std::string readme = read_file(source_dir() + "/README.md");
  ASSERT_FALSE(readme.empty());
  const std::string man_page = read_file(source_dir() + "/docs/bandstat.1");
  ASSERT_FALSE(man_page.empty());
  EXPECT_FALSE(man_page_names(man_page, "nonesuch"));
  const std::vector<std::string> names = option_names();
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(line_starting(usage, " -" + name + " ").empty()) << "no usage line";
    const bool in_table = !line_starting(readme, "| `-" + name + "`").empty() ||
                          !line_starting(readme, "| `-" + name + " ").empty();
    EXPECT_TRUE(in_table) << "no row in the README's options table";
    EXPECT_TRUE(man_page_names(man_page, name)) << "no entry in docs/bandstat.1";
  }
}

// The defaults that the usage text and the README state are the values the program starts
// from.
TEST(CommandLine, UsageAndReadmeStateTheProgramsDefaults) {
  auto text = [](double v) {
    std::ostringstream s;
    s << v;
    return s.str();
  };
  const struct {
    const char* name;
    std::string value;
  } rows[] = {
      {"nfis", text(DEFAULT_NB_CLASS_FIS)}, {"nfst", text(DEFAULT_NB_CLASS_FST)},
      {"n", text(DEFAULT_NB_FINAL)},        {"ar", text(DEFAULT_RATIO)},
      {"nprocs", text(DEFAULT_NB_PROCS)},   {"hpdi", text(DEFAULT_HPDI_PC)},
      {"bh", text(DEFAULT_BIAS_HIDDEN)},    {"bf", text(DEFAULT_BIAS_FIXED)},
  };
  TempDir dir;
  const std::string usage = run_bandstat({}, dir.path()).out;
  const std::string readme = read_file(source_dir() + "/README.md");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string line = line_starting(usage, std::string(" -") + row.name + " ");
    const bool stated = line.find("default is " + row.value + " ") != std::string::npos ||
                        line.find(row.value + " by default") != std::string::npos;
    EXPECT_TRUE(stated) << line;
    // README row: | `-name ARG` | default | meaning |
    const std::string readme_row = line_starting(readme, std::string("| `-") + row.name + " ");
    ASSERT_FALSE(readme_row.empty());
    const size_t open = readme_row.find(" | ");
    EXPECT_EQ(readme_row.substr(open + 3, readme_row.find(" |", open + 3) - open - 3), row.value)
        << readme_row;
  }
}
