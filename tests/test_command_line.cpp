// The command line of the program: usage, option values, refusals and the output stem.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "config.h"
#include "driver/command_line.h"
#include "driver/run_driver.h"
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
    " -method     Estimation: regression, or joint (all statistics at once), default is "
    "regression \n"
    " -sims 200000 Simulations of the reference table of -method joint, default is 200000 \n"
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
      {{"-nprocs", "x", "in.txt"}, "-nprocs: \"x\""},
      {{"-ar", "0", "in.txt"}, "-ar: \"0\""},
      {{"-ar", "1", "in.txt"}, "-ar: \"1\""},
      {{"-ar", "-0.5", "in.txt"}, "-ar: \"-0.5\""},
      {{"-n", "1", "in.txt"}, "-n: \"1\""},
      {{"-nfis", "0", "in.txt"}, "-nfis: \"0\""},
      {{"-nfst", "-3", "in.txt"}, "-nfst: \"-3\""},
      {{"-hpdi", "-0.1", "in.txt"}, "-hpdi: \"-0.1\""},
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
      // A missing input file is a failure, not a success.
      {{"in.txt"}, "Could not open file in.txt"},
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

TEST(CommandLine, AMissingSecondFileStopsAfterTheFirstJob) {
  TempDir dir;
  CommandResult r = run_bandstat({"missing1.txt", "missing2.txt"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Could not open file missing1.txt"), std::string::npos);
  EXPECT_EQ(r.out.find("missing2.txt"), std::string::npos);
}

namespace {

// The line of `text` that starts with `prefix`, or "" when none does.
std::string line_starting(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  return "";
}

}  // namespace

// Every option the program registers is explained in the usage text and in the README's
// options table, so an option added without its documentation fails here.
TEST(CommandLine, EveryRegisteredOptionIsDocumented) {
  TempDir dir;
  const std::string usage = run_bandstat({}, dir.path()).out;
  const std::string readme = read_file(source_dir() + "/README.md");
  ASSERT_FALSE(readme.empty());
  const std::vector<std::string> names = option_names();
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(line_starting(usage, " -" + name + " ").empty()) << "no usage line";
    const bool in_table = !line_starting(readme, "| `-" + name + "`").empty() ||
                          !line_starting(readme, "| `-" + name + " ").empty();
    EXPECT_TRUE(in_table) << "no row in the README's options table";
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
