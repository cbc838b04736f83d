// SPDX-License-Identifier: GPL-3.0-or-later
// Input reader: the check file byte for byte, the segment grammar's corners, the observed
// statistics, the filtered-locus warning, and every refusal (message and status 1).
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "config.h"
#include "data/input_error.h"
#include "data/read_input.h"
#include "observed_data.h"
#include "simulation/summary_stats.h"
#include "support.h"

namespace {

const char* const WORKED_EXAMPLE =
    "[loci]=3\n\n[populations]=2\n\n[pop]=1\n1 20 5\n2 20 12\n3 19 0\n\n"
    "[pop]=2\n1 15 15\n2 16 3\n3 16 7\n";

const char* const WORKED_CHECK_HEAD =
    "File to check that the input file is read correctly.\n"
    "\n"
    "There are 15 quantiles for each population used as summary statistics for Fis.\n"
    "There are 25 quantiles for each population used as summary statistics for each Fst.\n"
    "There are 5000 outputs.\n"
    "Acceptance ration is 0.005\n"
    "\n"
    "Output file names prefix is \"alleles\"\n"
    "Output file directory is \"\"\n";

const char* const WORKED_CHECK_TAIL =
    "Input file is \"alleles.txt\"\n"
    "\n"
    "There are 3 loci.\n"
    "\n"
    "There are 2 populations.\n"
    "\n"
    "Allele counts:\n"
    "Pop. 1 locus 1 :  20 5\n"
    "Pop. 1 locus 2 :  20 12\n"
    "Pop. 1 locus 3 :  19 0\n"
    "\n"
    "Pop. 2 locus 1 :  15 15\n"
    "Pop. 2 locus 2 :  16 3\n"
    "Pop. 2 locus 3 :  16 7\n"
    "\n";

// Each test reads one file from a fresh folder that is also the working directory, with the
// default configuration and a parser that saw `args` (e.g. {"-s", "stats.txt"}).
class ReadInput : public testing::Test {
 protected:
  Job job;
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    job.I = 0;
    job.J = 0;
    parse_args({});
  }
  void TearDown() override { (void)!chdir(old_cwd_); }

  // The configuration the command line derives from `args`: only -s matters to the reader.
  void parse_args(const std::vector<std::string>& args) {
    job.stats_wanted = false;
    job.stats_prefix.clear();
    for (size_t i = 0; i + 1 < args.size(); ++i)
      if (args[i] == "-s") {
        job.stats_wanted = true;
        job.stats_prefix = args[i + 1];
      }
  }

  // Writes `text` as alleles.txt and reads it as the job loop does.
  void read(const std::string& text) {
    write_file("alleles.txt", text);
    job.file_name = "alleles.txt";
    job.file_prefix = "alleles";
    std::ifstream in(job.file_name);
    read_input(job, in);
  }

  std::string check_file() { return read_file("alleles_check-input.txt"); }

  TempDir dir_;
  char old_cwd_[4096];
};

TEST_F(ReadInput, WorkedExampleCheckFileWithoutStatisticsOption) {
  read(WORKED_EXAMPLE);
  EXPECT_EQ(check_file(), std::string(WORKED_CHECK_HEAD) + WORKED_CHECK_TAIL);
  EXPECT_FALSE(file_exists("alleles_counts.txt"));  // only a matrix input has derived counts
}

TEST_F(ReadInput, WorkedExampleCheckFileWithStatisticsOption) {
  parse_args({"-s", "stats.txt"});
  read(WORKED_EXAMPLE);
  EXPECT_EQ(check_file(), std::string(WORKED_CHECK_HEAD) +
                              "Output file names prefix for appending statistics is "
                              "\"stats.txt\"\n\n" +
                              WORKED_CHECK_TAIL);
}

TEST_F(ReadInput, CheckFileGoesToOutputDirectoryWithOptionsEchoed) {
  job.odir = "out_";  // a raw prefix: no separator is inserted
  job.nb_class_fis = 7;
  job.nb_final = 1234;
  job.ratio = 0.0125;
  read(WORKED_EXAMPLE);
  const std::string text = read_file("out_alleles_check-input.txt");
  EXPECT_NE(text.find("There are 7 quantiles for each population used as summary statistics "
                      "for Fis.\nThere are 25"),
            std::string::npos);
  EXPECT_NE(text.find("There are 1234 outputs.\nAcceptance ration is 0.0125\n\n"),
            std::string::npos);
  EXPECT_NE(text.find("Output file directory is \"out_\"\n"), std::string::npos);
}

// The reader on bytes in memory (how the fuzz targets drive it): the same check file as from
// the file, and a refused call in between leaves nothing that changes the next one.
TEST_F(ReadInput, BytesInMemoryReadAsTheFileWould) {
  job.file_name = "alleles.txt";
  job.file_prefix = "alleles";
  const std::string expected = std::string(WORKED_CHECK_HEAD) + WORKED_CHECK_TAIL;
  read_input_bytes(job, WORKED_EXAMPLE);
  EXPECT_EQ(check_file(), expected);
  EXPECT_THROW(read_input_bytes(job, "[loci]=3\n[populations]=1\n[pop]=1\n1 9 9\n2 9 10\n3 9 0\n"),
               InputError);
  read_input_bytes(job, WORKED_EXAMPLE);
  EXPECT_EQ(check_file(), expected);
  EXPECT_EQ(job.pop_target[job.record_index(0, 1)].k, 12);
}

// Observed statistics: all loci, totals over all populations, Fis then Fst per population.
TEST_F(ReadInput, ObservedStatisticsOfTheWorkedExample) {
  read(WORKED_EXAMPLE);
  // I = 3, nc = 15: ranks 0 for classes 0-4, 1 for 5-9, 2 for 10-14.
  const double fis1[3] = {0.0, 0.25, 0.6};           // 0/19, 5/20, 12/20
  const double fis2[3] = {3.0 / 16, 7.0 / 16, 1.0};  // 3/16, 7/16, 15/15
  for (int c = 0; c < 15; ++c) {
    EXPECT_EQ(job.target_fis[c], fis1[c / 5]) << c;
    EXPECT_EQ(job.target_fis[15 + c], fis2[c / 5]) << c;
  }
  // Pooled: 20/35, 15/36, 7/35. Population 1 lacks the band at locus 3: y = -1 is its least.
  EXPECT_EQ(job.target_fst[0], -1.0);
  const double pooled2 = 15.0 / 36;
  EXPECT_DOUBLE_EQ(job.target_fst[24], (0.6 - pooled2) / pooled2);
  // Population 2's deviations: 0.75 at locus 1, about -0.55 at locus 2, 1.1875 at locus 3.
  EXPECT_DOUBLE_EQ(job.target_fst[25 + 24], (7.0 / 16 - 0.2) / 0.2);
  EXPECT_DOUBLE_EQ(job.target_fst[25 + 12], 0.75);  // rank (13 * 3) / 26 = 1
}

// Corners of the grammar. Each file is complete; the row states what must come out.
TEST_F(ReadInput, GrammarCorners) {
  struct Case {
    const char* what;
    std::string text;
    int loci, pops;
    std::string check_keys;  // the key lines of the check file, in file order
    LocusRecord pop2_locus1;
  };
  const std::string block1 = "[pop]=1\n1 10 1\n2 10 2\n";
  const std::string block2 = "[pop]=2\n1 12 3\n2 12 4\n";
  const std::string keys2x2 = "There are 2 loci.\n\nThere are 2 populations.\n\n";
  const Case cases[] = {
      {"headers and text before a key on its line",
       "My data, 2 loci\nsite:[loci]=2\nnote[populations]=2\n" + block1 + block2,
       2,
       2,
       keys2x2,
       {12, 3, 0}},
      {"words after a key's number and after a locus line's counts",
       "[loci]=2 loci here\n[populations]=2 pops\n[pop]=1 first\n1 10 1 extra\n2 10 2\n" + block2,
       2,
       2,
       keys2x2,
       {12, 3, 0}},
      {"a blank before = hides the key",
       "[loci] =5\n[loci]=2\n[populations]=2\n" + block1 + block2,
       2,
       2,
       keys2x2,
       {12, 3, 0}},
      {"a key given twice keeps its last value, both echoed",
       "[loci]=2\n[populations]=7\n" + block1 + block2 + "[populations]=2\n",
       2,
       2,
       "There are 2 loci.\n\nThere are 7 populations.\n\nThere are 2 populations.\n\n",
       {12, 3, 0}},
      {"blocks in any order, populations key last",
       "[loci]=2\n" + block2 + block1 + "[populations]=2\n",
       2,
       2,
       keys2x2,
       {12, 3, 0}},
      {"a block given twice overwrites",
       "[loci]=2\n[populations]=2\n" + block1 + block2 + "[pop]=2\n1 14 9\n2 14 8\n",
       2,
       2,
       keys2x2,
       {14, 9, 0}},
      {"a block before [loci]= reads no lines; its lines pass as text",
       "[pop]=1\n1 99 99\n2 99 99\n[loci]=2\n[populations]=2\n" + block1 + block2,
       2,
       2,
       keys2x2,
       {12, 3, 0}},
      {"CRLF line ends and blanks after =",
       "[loci]= 2\r\n[populations]=\t2\r\n[pop]=1\r\n1 10 1\r\n2 10 2\r\n[pop]= 2\r\n1 12 "
       "3\r\n2 12 4\r\n",
       2,
       2,
       keys2x2,
       {12, 3, 0}},
      {"free text with = between blocks is skipped",
       "[loci]=2\n[populations]=2\n" + block1 + "# ratio=1/2, x=y\n" + block2,
       2,
       2,
       keys2x2,
       {12, 3, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    job.I = 0;
    job.J = 0;
    read(c.text);
    EXPECT_EQ(job.I, c.loci);
    EXPECT_EQ(job.J, c.pops);
    const std::string text = check_file();
    const size_t from = text.find("There are 2 loci.");
    const size_t to = text.find("Allele counts:");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    EXPECT_EQ(text.substr(from, to - from), c.check_keys);
    EXPECT_EQ(job.pop_target[job.record_index(0, 1)].n, 10);
    EXPECT_EQ(job.pop_target[job.record_index(0, 1)].k, 2);
    EXPECT_EQ(job.pop_target[job.record_index(1, 0)].n, c.pop2_locus1.n);
    EXPECT_EQ(job.pop_target[job.record_index(1, 0)].k, c.pop2_locus1.k);
  }
}

// A job's storage is reused by the next one: a smaller file after a larger one is laid out
// by its own shape, with nothing of the first left in its records or statistics.
TEST_F(ReadInput, SmallerFileAfterALargerOne) {
  std::string large = "[loci]=7\n[populations]=3\n";
  for (int p = 1; p <= 3; ++p) {
    large += "[pop]=" + std::to_string(p) + "\n";
    for (int l = 1; l <= 7; ++l) large += std::to_string(l) + " 20 " + std::to_string(l + p) + "\n";
  }
  read(large);
  ASSERT_EQ(job.pop_target.size(), 21u);
  read("[loci]=2\n[populations]=2\n[pop]=1\n1 10 1\n2 10 2\n[pop]=2\n1 8 3\n2 8 4\n");
  ASSERT_EQ(job.pop_target.size(), 4u);
  const int expected[4][2] = {{10, 1}, {10, 2}, {8, 3}, {8, 4}};
  for (int p = 0; p < 2; ++p)
    for (int l = 0; l < 2; ++l) {
      EXPECT_EQ(job.pop_target[job.record_index(p, l)].n, expected[2 * p + l][0]);
      EXPECT_EQ(job.pop_target[job.record_index(p, l)].k, expected[2 * p + l][1]);
    }
  EXPECT_EQ(job.target_fis.size(), 2u * job.nb_class_fis);
  EXPECT_EQ(job.target_fst.size(), 2u * job.nb_class_fst);
}

// Loci the simulation's filter rejects stay in the statistics but are reported.
TEST_F(ReadInput, WarnsAboutLociTheSimulationFilterRejects) {
  const std::string text =
      "[loci]=4\n[populations]=2\n[pop]=1\n1 10 0\n2 10 3\n3 10 0\n4 10 10\n"
      "[pop]=2\n1 10 0\n2 10 5\n3 10 0\n4 10 10\n";
  struct Case {
    int hidden, fixed;
    std::string part;  // "" when no warning is due
  };
  const Case cases[] = {
      {1, 0, "2 of the 4 loci of \"alleles.txt\" fail"},  // loci 1 and 3 have no band
      {1, 0, "Loci: 1, 3\n"},
      {0, 1, "Loci: 4\n"},  // locus 4: every individual has the band
      {0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "-bh " << c.hidden << " -bf " << c.fixed);
    job.bias_hidden = c.hidden;
    job.bias_fixed = c.fixed;
    testing::internal::CaptureStderr();
    read(text);
    const std::string err = testing::internal::GetCapturedStderr();
    if (c.part.empty())
      EXPECT_EQ(err, "");
    else
      EXPECT_NE(err.find(c.part), std::string::npos) << err;
    // The bandless loci take part: population 1's least x is 0, its y at them 0.
    EXPECT_EQ(job.target_fis[0], 0.0);
  }
}

TEST_F(ReadInput, ReadsTheRealDataSets) {
  const std::string dir = test_data_dir();
  ASSERT_TRUE(file_exists(dir + "/rootrot_18pops.txt")) << dir;
  job.bias_hidden = 0;  // the data hold bandless loci; the warning is not under test here
  testing::internal::CaptureStderr();
  read(read_file(dir + "/rootrot_18pops.txt"));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(job.I, 56);
  EXPECT_EQ(job.J, 18);
  for (int p = 0; p < job.J; ++p)
    EXPECT_GT(job.pop_target[job.record_index(p, job.I - 1)].n, 0) << p;
}

// Every refusal: an InputError carrying a message that names what is wrong (the job loop
// turns it into the message on standard error and status 1, tested through the program).
std::string refusal_of(const std::function<void()>& read) {
  try {
    read();
  } catch (const InputError& e) {
    return e.what();
  }
  return "(not refused)";
}

TEST_F(ReadInput, RefusesUnusableInput) {
  struct Case {
    const char* what;
    std::string text;
    std::string message;
    int hidden = DEFAULT_BIAS_HIDDEN, fixed = DEFAULT_BIAS_FIXED, nfis = DEFAULT_NB_CLASS_FIS;
  };
  const std::string head = "[loci]=2\n[populations]=2\n";
  const std::string block1 = "[pop]=1\n1 10 1\n2 10 2\n";
  const std::string block2 = "[pop]=2\n1 12 3\n2 12 4\n";
  const Case cases[] = {
      // The reader's own locus error, text and all.
      {"wrong locus number", "[loci]=3\n[populations]=1\n[pop]=1\n1 20 5\n3 20 12\n3 19 0\n",
       "Could not find allele count for population 1 at locus 2"},
      {"file ends inside a block", head + block1 + "[pop]=2\n1 12 3\n",
       "Could not find allele count for population 2 at locus 2"},
      {"empty line inside a block", head + "[pop]=1\n1 10 1\n\n2 10 2\n" + block2,
       "Could not find allele count for population 1 at locus 2"},
      {"a locus line without k", head + "[pop]=1\n1 10\n2 10 2\n" + block2,
       "Could not find allele count for population 1 at locus 1"},
      {"an empty file", "", "Input file \"alleles.txt\" is empty."},
      // Key lines.
      {"[loci]= without a number", "[loci]=many\n" + block1,
       "\"alleles.txt\", line 1: no number after \"[loci]=\""},
      {"[populations]= without a number", "[loci]=2\n\n[populations]=\n",
       "\"alleles.txt\", line 3: no number after \"[populations]=\""},
      {"[pop]= without a number", head + "[pop]=first\n", "line 3: no number after \"[pop]=\""},
      {"a key as the file's last text", head + block1 + block2 + "[pop]",
       "no number after \"[pop]=\""},
      {"a number beyond int", "[loci]=99999999999\n", "no number after \"[loci]=\""},
      // The shape: announced sizes are believed only as far as the blocks bear them out.
      {"no [loci]= key", "[populations]=2\n",
       "\"alleles.txt\": 0 loci; at least one locus is needed."},
      {"a huge [loci]= with a one-line block",
       "[loci]=2000000000\n[populations]=1\n[pop]=1\n1 1 1\n",
       "Could not find allele count for population 1 at locus 2"},
      {"a huge [loci]=, no block", "[loci]=2000000000\n[populations]=1\n",
       "population 1 has no \"[pop]=\" block"},
      {"negative loci", "[loci]=-3\n[populations]=1\n", "-3 loci"},
      {"no [populations]= key", "[loci]=2\n" + block1,
       "0 populations; at least one population is needed."},
      {"a huge [populations]=, one block", "[loci]=2\n[populations]=2000000000\n" + block1,
       "population 2 has no \"[pop]=\" block"},
      {"population number above J", head + block1 + block2 + "[pop]=3\n1 5 1\n2 5 1\n",
       "a block for population 3, but the populations are numbered 1 to 2"},
      {"population number 0", head + "[pop]=0\n1 5 1\n2 5 1\n" + block1 + block2,
       "a block for population 0"},
      {"a population number far beyond J",
       head + block1 + block2 + "[pop]=2000000000\n1 5 1\n2 5 1\n",
       "a block for population 2000000000"},
      {"a population without a block", "[loci]=2\n[populations]=3\n" + block1 + block2,
       "population 3 has no \"[pop]=\" block"},
      // Blocks read while "[loci]=" was smaller leave loci unread (their records would hold
      // whatever an earlier file put there).
      {"blocks shorter than a later [loci]=",
       "[loci]=1\n[populations]=2\n[pop]=1\n1 12 3\n[pop]=2\n1 12 4\n[loci]=2\n",
       "population 1, locus 2: no line for this locus (the population's block holds 1 loci"},
      {"a block before [loci]=", "[populations]=1\n[pop]=1\n[loci]=2\n1 5 1\n2 5 2\n",
       "population 1, locus 1: no line for this locus"},
      // Counts.
      {"n = 0", head + block1 + "[pop]=2\n1 12 3\n2 0 0\n",
       "\"alleles.txt\": population 2, locus 2: 0 individuals sampled; the sample size must be "
       "positive"},
      {"negative n", head + "[pop]=1\n1 -4 0\n2 10 2\n" + block2,
       "population 1, locus 1: -4 individuals sampled"},
      {"negative k", head + block1 + "[pop]=2\n1 12 -1\n2 12 4\n",
       "population 2, locus 1: -1 individuals with the band out of 12 sampled"},
      {"k above n", head + "[pop]=1\n1 10 1\n2 10 11\n" + block2,
       "population 1, locus 2: 11 individuals with the band out of 10 sampled"},
      {"totals that overflow",
       head + "[pop]=1\n1 2000000000 1\n2 10 2\n" + "[pop]=2\n1 2000000000 3\n2 12 4\n",
       "locus 1: 4000000000 individuals sampled over all populations, more than"},
      {"a locus no simulated locus can match", head + block1 + block2,
       "locus 1: 22 individuals sampled over all populations, fewer than the 23 that -bh 20 and "
       "-bf 3 require",
       20, 3},
      // A negative -bf does not make room for more bands than individuals.
      {"a band count beyond the sample", head + block1 + block2,
       "locus 1: 22 individuals sampled over all populations, fewer than the 30 that -bh 30 and "
       "-bf -10 require",
       30, -10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    job.bias_hidden = c.hidden;
    job.bias_fixed = c.fixed;
    job.nb_class_fis = c.nfis;
    job.I = 0;  // a key the file lacks keeps the previous file's value
    job.J = 0;
    const std::string message = refusal_of([&] { read(c.text); });
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

TEST_F(ReadInput, RefusesACheckFileThatCannotBeCreated) {
  job.odir = "no_such_folder/";
  EXPECT_EQ(refusal_of([&] { read(WORKED_EXAMPLE); }),
            "Could not create the check file \"no_such_folder/alleles_check-input.txt\".");
}

// Through the program: a refused file ends the run with status 1 before any simulation.
TEST(InputThroughTheProgram, RefusalStopsTheRunBeforeSimulating) {
  TempDir dir;
  write_file(dir.file("bad.txt"), "[loci]=2\n[populations]=2\n[pop]=1\n1 10 1\n2 10 2\n");
  CommandResult r = run_bandstat({"bad.txt"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("population 2 has no \"[pop]=\" block"), std::string::npos) << r.err;
  EXPECT_TRUE(file_exists(dir.file("bad_check-input.txt")));
  EXPECT_FALSE(file_exists(dir.file("bad_Fis1.txt")));
  EXPECT_FALSE(file_exists(dir.file("bad_regression.txt")));
  // The reader's own locus error keeps its exact text, on standard error.
  write_file(dir.file("short.txt"), "[loci]=2\n[populations]=1\n[pop]=1\n1 10 1\n");
  r = run_bandstat({"short.txt"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Could not find allele count for population 1 at locus 2\n");
}

}  // namespace
