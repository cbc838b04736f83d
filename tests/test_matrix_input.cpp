// SPDX-License-Identifier: GPL-3.0-or-later
// Band matrices as input: GenAlEx, tables and DArT reports tallied into band counts, the
// cell rules (separators, quotes, missing codes, BOM, line ends, padding), the derived
// counts file, and every refusal with its message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "config.h"
#include "data/input_error.h"
#include "data/matrix_input.h"
#include "data/read_input.h"
#include "observed_data.h"
#include "support.h"

namespace {

struct Counts {
  int n, k;
  bool operator==(const Counts& o) const { return n == o.n && k == o.k; }
};

std::ostream& operator<<(std::ostream& os, const Counts& c) {
  return os << "{" << c.n << ", " << c.k << "}";
}

// The counts in pop_target, population by population.
std::vector<std::vector<Counts>> stored_counts(const Job& job) {
  std::vector<std::vector<Counts>> out(job.J);
  for (int p = 0; p < job.J; ++p)
    for (int l = 0; l < job.I; ++l)
      out[p].push_back(
          {job.pop_target[job.record_index(p, l)].n, job.pop_target[job.record_index(p, l)].k});
  return out;
}

// Each test works in a fresh folder that is also the working directory, with the default
// configuration.
class MatrixInput : public testing::Test {
 protected:
  Job job;
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    job.bias_hidden = 0;  // the small fixtures hold bandless loci; that warning is tested elsewhere
    job.I = 0;
    job.J = 0;
  }
  void TearDown() override { (void)!chdir(old_cwd_); }

  // Reads `name` (written with `bytes` unless empty) as the job loop does, returning what the
  // reader printed on standard error.
  std::string read(const std::string& name, const std::string& bytes) {
    if (!bytes.empty()) write_file(name, bytes);
    job.file_name = name;
    job.file_prefix = "data";
    std::ifstream in(name);
    testing::internal::CaptureStderr();
    try {
      read_input(job, in);
    } catch (...) {
      testing::internal::GetCapturedStderr();
      throw;
    }
    return testing::internal::GetCapturedStderr();
  }

  TempDir dir_;
  char old_cwd_[4096];
};

// ---------------------------------------------------------------------------------------
// The real GenAlEx file gives the counts of its band-count version, and the derived counts
// file reads back to the same counts.

TEST_F(MatrixInput, RootrotGivesTheCountsOfItsBandCountVersion) {
  const std::string data = test_data_dir();
  ASSERT_TRUE(file_exists(data + "/rootrot.csv")) << data;
  read("rootrot.csv", read_file(data + "/rootrot.csv"));
  EXPECT_EQ(job.I, 56);
  EXPECT_EQ(job.J, 18);
  const auto from_matrix = stored_counts(job);
  const std::string counts_file = read_file("data_counts.txt");
  const std::string check = read_file("data_check-input.txt");
  EXPECT_NE(check.find("Input file is \"rootrot.csv\"\nInput format is GenAlEx (individuals x "
                       "loci), cells separated by commas\n\nThere are 56 loci.\n"),
            std::string::npos);
  EXPECT_NE(check.find("\nPopulation 11 \"Mt. Vernon_1\": 10 individuals, missing cells: none\n"),
            std::string::npos);

  job.I = job.J = 0;
  read("rootrot_18pops.txt", read_file(data + "/rootrot_18pops.txt"));
  EXPECT_EQ(stored_counts(job), from_matrix);
  // The counts file's block part is the published band-count file's, byte for byte.
  const std::string published = read_file(data + "/rootrot_18pops.txt");
  EXPECT_EQ(counts_file.substr(counts_file.find("[loci]=")),
            published.substr(published.find("[loci]=")));
  EXPECT_FALSE(file_exists("data_counts.txt.part"));

  job.I = job.J = 0;
  read("again.txt", counts_file);
  EXPECT_EQ(stored_counts(job), from_matrix);
}

// ---------------------------------------------------------------------------------------
// Tables: the same small table in every separator style, with every missing code, quoted
// names holding separators and apostrophes, padding, BOM and each kind of line end.

struct TableStyle {
  const char* what;
  std::string sep;  // blanks for runs of blanks
  std::string eol;
  bool bom;
  bool padding;  // spreadsheet padding: empty cells at the ends of rows
  const char* described;
};

std::string render_table(const TableStyle& s) {
  const bool blanks = s.sep.find_first_not_of(' ') == std::string::npos;
  // The empty cell needs quotes where blanks separate cells.
  const std::string empty = blanks ? "\"\"" : "";
  const std::vector<std::vector<std::string>> rows = {
      {"Ind", "Pop", "L1", "L2", "L3"},
      {"ind1", "North", "1", "0", "1"},
      {"O'Brien", "North", "0", empty, "1"},
      {"  ind3 ", "North", "1", "-1", "NA"},
      {"\"ind \"\"4\"\"\"", "\"South, upper; 'B'\"", "1", "1", "-"},
      {"ind5", "\"South, upper; 'B'\"", "?", "0", "-9"},
      {"ind6", "\"South, upper; 'B'\"", ".", "1", "0"},
  };
  std::string text = s.bom ? "\xEF\xBB\xBF" : "";
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) text += (c > 0 ? s.sep : "") + rows[r][c];
    if (s.padding && r % 2 == 0) text += s.sep + s.sep;
    text += s.eol;
  }
  if (s.padding) text += s.sep + s.sep + s.sep + s.eol;  // a row of bare separators
  return text;
}

TEST_F(MatrixInput, TableInEverySeparatorStyleGivesTheHandTally) {
  // North: L1 1,0,1; L2 0,(empty),(-1); L3 1,1,(NA).
  // South: L1 1,(?),(.); L2 1,0,1; L3 (-),(-9),0.
  const std::vector<std::vector<Counts>> tally = {{{3, 2}, {1, 0}, {2, 2}},
                                                  {{1, 1}, {3, 2}, {1, 0}}};
  const TableStyle styles[] = {
      {"commas, BOM, CRLF, padding", ",", "\r\n", true, true, "commas"},
      {"semicolons, CRLF, padding", ";", "\r\n", false, true, "semicolons"},
      {"tabs, LF", "\t", "\n", true, false, "tabs"},
      {"runs of blanks, CR", "   ", "\r", false, false, "blanks"},
      {"single blanks, BOM, CRLF", " ", "\r\n", true, false, "blanks"},
  };
  for (const TableStyle& s : styles) {
    SCOPED_TRACE(s.what);
    job.I = job.J = 0;
    const std::string err = read("table.csv", render_table(s));
    EXPECT_EQ(err, "");
    EXPECT_EQ(job.I, 3);
    ASSERT_EQ(job.J, 2);
    EXPECT_EQ(stored_counts(job), tally);
    const std::string check = read_file("data_check-input.txt");
    EXPECT_NE(check.find(std::string("Input format is table (individuals x loci), cells "
                                     "separated by ") +
                         s.described + "\n"),
              std::string::npos);
    EXPECT_NE(check.find("Pop. 2 locus 3 :   1 0\n\n"
                         "Population 1 \"North\": 3 individuals, missing cells: 1 empty, 1 "
                         "\"-1\", 1 \"NA\"\n"
                         "Population 2 \"South, upper; 'B'\": 3 individuals, missing cells: 1 "
                         "\"-\", 1 \"-9\", 1 \"?\", 1 \".\"\n\n"),
              std::string::npos)
        << check;
  }
}

TEST_F(MatrixInput, CountsFileNamesThePopulationsAndReadsBack) {
  read("table.csv", render_table({"", ",", "\n", false, false, ""}));
  const auto from_matrix = stored_counts(job);
  const std::string counts = read_file("data_counts.txt");
  EXPECT_EQ(counts,
            "Band counts of \"table.csv\", read as table (individuals x loci), cells separated by "
            "commas; 6 individuals.\n"
            "Populations: 1: \"North\" (3 individuals), 2: \"South, upper; 'B'\" (3 "
            "individuals)\n"
            "Loci: 1: \"L1\", 2: \"L2\", 3: \"L3\"\n"
            "\n[loci]=3\n\n[populations]=2\n\n"
            "[pop]=1\n1 3 2\n2 1 0\n3 2 2\n\n"
            "[pop]=2\n1 1 1\n2 3 2\n3 1 0\n\n");
  job.I = job.J = 0;
  read("back.txt", counts);
  EXPECT_EQ(stored_counts(job), from_matrix);
  EXPECT_FALSE(file_exists("data_counts.txt.part"));
}

// A name that would complete a key in the counts file's leading text is defused there.
TEST_F(MatrixInput, NamesCannotForgeKeysInTheCountsFile) {
  read("table.csv", "id,pop,L1\na,\"x[pop]=9\",1\nb,\"y\ny\",0\n");
  const std::string counts = read_file("data_counts.txt");
  EXPECT_NE(counts.find("1: \"x[pop] =9\""), std::string::npos) << counts;
  EXPECT_NE(counts.find("2: \"y y\""), std::string::npos) << counts;
  job.I = job.J = 0;
  read("back.txt", counts);
  EXPECT_EQ(job.J, 2);
  EXPECT_EQ(stored_counts(job), (std::vector<std::vector<Counts>>{{{1, 1}}, {{1, 0}}}));
}

// Loci some population never scored are left out with one warning; the rest are numbered
// anew. A duplicated locus name is a warning and both loci stay.
TEST_F(MatrixInput, UnusableLociLeftOutAndDuplicateNamesKept) {
  const std::string text =
      "id,pop,A,B,C,A,D\n"
      "i1,P1,1,NA,1,0,\n"
      "i2,P1,0,NA,1,1,\n"
      "i3,P2,1,1,-,0,\n"
      "i4,P2,1,0,-,1,\n";
  const std::string err = read("t.csv", text);
  EXPECT_NE(err.find("Warning: Input file \"t.csv\": 1 locus name(s) given more than once; each "
                     "such locus is kept as a locus of its own: \"A\" (loci 1 and 4)\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Warning: Input file \"t.csv\": 3 of the 5 loci are left out, because some "
                     "population has no scored individual there: \"B\", \"C\", \"D\"\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(job.I, 2);
  EXPECT_EQ(stored_counts(job),
            (std::vector<std::vector<Counts>>{{{2, 1}, {2, 1}}, {{2, 2}, {2, 1}}}));
  EXPECT_NE(read_file("data_check-input.txt")
                .find("Loci left out, not scored in every population: \"B\", \"C\", \"D\"\n"),
            std::string::npos);
  EXPECT_NE(read_file("data_counts.txt").find("Loci: 1: \"A\", 2: \"A\"\n"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// DArT: loci x samples, "*" rows skipped, populations from -pops numbered in that file's
// order (among those with a sample in the report).

const char* const DART_REPORT =
    "*,*,*,*,*,plate1,plate1,plate1,plate1\n"
    "*,*,*,*,*,A01,B01,C01,D01\n"
    "CloneID,AlleleSequence,CallRate,OneRatio,Reproducibility,S1,S2,S3,S4\n"
    "1001|F|0,ACGT,0.9,0.5,1,1,0,-,1\n"
    "1002|F|0,ACGG,1,0.5,1,0,0,1,1\n"
    "1003|F|0,ACGA,1,0.5,1,1,1,1,0\n";

const char* const DART_POPS = "id,pop\nS9,Extra\nS3,East\nS1,West\nS2,West\nS4,East\n";

TEST_F(MatrixInput, DartReportWithItsPopulationFileGivesTheHandTally) {
  write_file("pops.csv", DART_POPS);
  job.pops_file = "pops.csv";
  const std::string err = read("report.csv", DART_REPORT);
  EXPECT_EQ(err,
            "Warning: Population file \"pops.csv\": 1 sample(s) not in the report "
            "\"report.csv\" (ignored): \"S9\"\n");
  // East = S3, S4; West = S1, S2.
  EXPECT_EQ(stored_counts(job),
            (std::vector<std::vector<Counts>>{{{1, 1}, {2, 2}, {2, 1}}, {{2, 1}, {2, 0}, {2, 2}}}));
  const std::string check = read_file("data_check-input.txt");
  EXPECT_NE(check.find("Input format is DArT presence/absence report (loci x samples), cells "
                       "separated by commas\n"),
            std::string::npos);
  EXPECT_NE(check.find("Population 1 \"East\": 2 individuals, missing cells: 1 \"-\"\n"
                       "Population 2 \"West\": 2 individuals, missing cells: none\n"),
            std::string::npos);
  EXPECT_NE(read_file("data_counts.txt").find("Loci: 1: \"1001|F|0\""), std::string::npos);
}

// The bundled examples read as they say.
TEST_F(MatrixInput, BundledExamplesRead) {
  const std::string examples = source_dir() + "/examples/";
  read(examples + "table.csv", "");
  EXPECT_EQ(job.J, 3);
  job.pops_file = examples + "dart_pops.csv";
  job.I = job.J = 0;
  read(examples + "dart.csv", "");
  EXPECT_EQ(job.J, 2);
}

// ---------------------------------------------------------------------------------------
// Recognition from content, and a forced format.

TEST(RecogniseFormat, FromTheContent) {
  struct Case {
    const char* text;
    InputFormat format;
  };
  const Case cases[] = {
      {"Header\n[loci]=3\n", InputFormat::counts},
      {"56,187,18,9,12\n,,,A,B\n", InputFormat::genalex},
      {"56;187;18;9;12\n", InputFormat::genalex},
      {"*,*,S1\n", InputFormat::dart},
      {"CloneID\tReproducibility\tS1\n", InputFormat::dart},
      {"id,pop,L1\n", InputFormat::table},
      {"id pop L1 L2\n", InputFormat::table},
      // Nothing recognisable: the band-count reader gives its own messages.
      {"[populations]=2\n", InputFormat::counts},
      {"id,pop\n", InputFormat::counts},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(recognise_format(c.text, "f"), c.format);
  }
}

TEST_F(MatrixInput, AForcedFormatOverridesRecognition) {
  // Three numbers make a header look like GenAlEx; forced, it is a table of loci "1", "2"...
  const std::string text = "1,2,3,4\na,p,1,0\nb,p,0,0\n";
  job.input_format = InputFormat::table;
  read("t.csv", text);
  EXPECT_EQ(job.I, 2);
  EXPECT_EQ(stored_counts(job), (std::vector<std::vector<Counts>>{{{2, 1}, {2, 0}}}));
}

// ---------------------------------------------------------------------------------------
// Refusals: each one a message naming the file and the line, column or locus at fault.

// A table of more populations than the program once held: every population is its own
// block, in the order of the file. The GenAlEx header's population count is believed only
// as far as line 1 lists sizes.
TEST_F(MatrixInput, ManyPopulations) {
  std::string text = "id,pop,L1,L2\n";
  for (int p = 1; p <= 100; ++p)
    text += "i" + std::to_string(p) + ",P" + std::to_string(p) + "," + (p % 2 ? "1" : "0") + ",1\n";
  read("many.csv", text);
  ASSERT_EQ(job.J, 100);
  ASSERT_EQ(job.I, 2);
  const std::vector<std::vector<Counts>> got = stored_counts(job);
  for (int p = 0; p < job.J; ++p) {
    EXPECT_EQ(got[p][0], (Counts{1, p % 2 == 0 ? 1 : 0})) << p;
    EXPECT_EQ(got[p][1], (Counts{1, 1})) << p;
  }
  try {
    read("huge.csv", "999999999999,2,999999999999,1,1\n");
    FAIL() << "a GenAlEx header of 10^12 populations was accepted";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("column 6: the size of population 3 is missing"),
              std::string::npos)
        << e.what();
  }
}

std::string refusal(const std::string& text, InputFormat format, const std::string& pops = {}) {
  try {
    const std::string_view usable = usable_text(text, "f.csv");
    read_matrix(usable, format, "f.csv", pops, pops.empty() ? "" : "p.csv");
  } catch (const InputError& e) {
    return e.what();
  }
  return "(not refused)";
}

TEST(MatrixRefusals, EachWithItsMessage) {
  const InputFormat table = InputFormat::table, genalex = InputFormat::genalex,
                    dart = InputFormat::dart;
  const std::string genalex_head = "2,3,2,2,1\n,,,A,B\nInd,Pop,L1,L2\n";
  const std::string dart_head = "CloneID,CallRate,Reproducibility,S1,S2\n";
  const std::string pops = "id,pop\nS1,P\nS2,Q\n";
  struct Case {
    const char* what;
    std::string text;
    InputFormat format;
    std::string pops;
    const char* message;
  };
  const Case cases[] = {
      // Cells.
      {"a cell that is no score", "id,pop,L1,L2\na,P,1,2\n", table, "",
       "Input file \"f.csv\", line 2, column 4 (locus \"L2\"): \"2\" is not a score; a cell must "
       "be 1 (band), 0 (no band) or a missing code (empty, -1, -, -9, NA, ?, .)."},
      {"lower-case na is no code", "id,pop,L1\na,P,na\n", table, "", "line 2, column 3"},
      {"a read count in a DArT report", dart_head + "c1,1,1,1,14\n", dart, pops,
       "Input file \"f.csv\", line 2, column 5 (locus \"c1\", sample \"S2\"): \"14\" is a read "
       "count; a presence/absence report (1 for presence, 0 for absence) is needed."},
      {"a quote never closed", "id,pop,L1\n\"a,P,1\nb,P,0\n", table, "",
       "Input file \"f.csv\", line 2, column 1: a quote opened here is never closed."},
      {"text after a closing quote", "id,pop,L1\n\"a\"x,P,1\n", table, "",
       "line 2, column 1: text after the closing quote"},
      // Row widths: padding is fine, a missing or extra value is not.
      {"too few cells", "id,pop,L1,L2\na,P,1\n", table, "",
       "Input file \"f.csv\", line 2: 3 cells, but the header (line 1) has 4 (individual, "
       "population and 2 loci)."},
      {"too many cells", "id,pop,L1,L2\na,P,1,0,,1\n", table, "",
       "line 2: 6 cells, but the header (line 1) has 4"},
      {"too many cells in a DArT row", dart_head + "c1,1,1,1,0,1\n", dart, pops,
       "line 2: 6 cells, but the header (line 1) has 5."},
      // Ids.
      {"a duplicated individual", "id,pop,L1\na,P,1\n b ,P,0\nb,Q,1\n", table, "",
       "Input file \"f.csv\", line 4, column 1: individual \"b\" is given twice (first on line "
       "3)."},
      {"a duplicated DArT sample", "CloneID,Reproducibility,S1,S1\nc,1,1,0\n", dart, pops,
       "line 1, column 4: sample \"S1\" is given twice (first in column 3)."},
      {"a duplicated id in the population file", dart_head + "c1,1,1,1,0\n", dart,
       "id,pop\nS1,P\nS2,Q\nS1,Q\n",
       "Population file \"p.csv\", line 4, column 1: sample \"S1\" is given twice (first on line "
       "2)."},
      {"an empty id", "id,pop,L1\n,P,1\n", table, "",
       "line 2, column 1: the individual's id is empty"},
      // GenAlEx header against the rows, all disagreements at once.
      {"GenAlEx counts disagree", genalex_head + "i1,A,1,0\ni2,A,0,1\ni3,A,1,1\ni4,B,1,1\n",
       genalex, "",
       "Input file \"f.csv\", line 1: the GenAlEx header disagrees with the rows; it gives 3 "
       "individuals, the file has 4 rows; population \"A\": 2 on line 1, 3 rows."},
      {"GenAlEx locus count", "3,3,2,2,1\n,,,A,B\nInd,Pop,L1,L2\n", genalex, "",
       "line 3: 2 locus name(s) from column 3, but line 1 gives 3 loci."},
      {"GenAlEx population not on line 2", genalex_head + "i1,C,1,0\n", genalex, "",
       "line 4, column 2: population \"C\" is not among the populations named on line 2."},
      {"GenAlEx population without any individual",
       "2,2,2,2,0\n,,,A,B\nInd,Pop,L1,L2\n"
       "i1,A,1,0\ni2,A,0,1\n",
       genalex, "", "Input file \"f.csv\", line 2, column 5: population \"B\" has no individual."},
      // A huge count on line 1 is refused by line 3, before any room is taken for it.
      {"GenAlEx locus count beyond memory", "999999999999,3,2,2,1\n,,,A,B\nInd,Pop,L1\n", genalex,
       "", "line 3: 1 locus name(s) from column 3, but line 1 gives 999999999999 loci."},
      {"GenAlEx line 1", "2,x,1\n", genalex, "", "line 1: a GenAlEx file begins with the numbers"},
      // DArT and its population file.
      {"a sample missing from -pops", dart_head + "c1,1,1,1,0\n", dart, "id,pop\nS1,P\n",
       "Input file \"f.csv\", line 1: 1 sample(s) missing from the population file \"p.csv\": "
       "\"S2\" (column 5)."},
      {"a DArT report without -pops", dart_head + "c1,1,1,1,0\n", dart, "",
       "Input file \"f.csv\" is a DArT report; give the population of each sample with -pops"},
      {"-pops with a table", "id,pop,L1\na,P,1\n", table, pops,
       "Input file \"f.csv\" is not a DArT report; -pops applies to DArT reports only"},
      {"no Reproducibility column", "CloneID,S1\nc,1\n", dart, pops,
       "line 1: the header row has no \"Reproducibility\" column"},
      // Files.
      {"an empty file", "", table, "", "Input file \"f.csv\" is empty."},
      {"blank lines only", " \r\n\n\t\n", table, "", "Input file \"f.csv\" is empty."},
      {"UTF-16 with its mark",
       std::string("\xFF\xFE"
                   "i\0d\0",
                   6),
       table, "", "Input file \"f.csv\" is UTF-16 text; save it as UTF-8"},
      {"UTF-16 without a mark", std::string("i\0d\0,\0", 6), table, "",
       "Input file \"f.csv\" holds NUL bytes: it is UTF-16 text or not a text file"},
      {"an empty population file", dart_head + "c1,1,1,1,0\n", dart, "\n",
       "Input file \"p.csv\" is empty."},
      {"a header and nothing else", "id,pop,L1\n", table, "",
       "the table has a header but no individual"},
      {"no locus scored everywhere", "id,pop,L1\na,P,1\nb,Q,NA\n", table, "",
       "Input file \"f.csv\": no locus is scored in every population"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string message = refusal(c.text, c.format, c.pops);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

// Through the program: status 1, the message on standard error, nothing simulated.
TEST(MatrixThroughTheProgram, RefusalEndsTheRunWithStatusOne) {
  TempDir dir;
  write_file(dir.file("bad.csv"), "id,pop,L1\na,P,1\nb,P,x\n");
  CommandResult r = run_bandstat({"bad.csv"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Input file \"bad.csv\", line 3, column 3 (locus \"L1\"): \"x\" is not a score; a cell "
            "must be 1 (band), 0 (no band) or a missing code (empty, -1, -, -9, NA, ?, .).\n");
  EXPECT_FALSE(file_exists(dir.file("bad_counts.txt")));
  EXPECT_FALSE(file_exists(dir.file("bad_regression.txt")));

  // A band-count file is no DArT report.
  write_file(dir.file("c.txt"), "[loci]=1\n[populations]=1\n[pop]=1\n1 5 2\n");
  write_file(dir.file("p.csv"), "id,pop\nS1,P\n");
  r = run_bandstat({"-pops", "p.csv", "c.txt"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-pops applies to DArT reports only"), std::string::npos) << r.err;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Inputs the fuzz targets (tests/fuzz/) found: each the smallest that showed the fault. Under
// AddressSanitizer + UndefinedBehaviorSanitizer a regression shows as a sanitizer report.

TEST(FuzzFindings, EmptyViewsAreRefusedAsEmpty) {
  // A default string_view holds a null pointer; looking for NUL bytes in it was undefined.
  try {
    usable_text(std::string_view(), "f.csv");
    ADD_FAILURE() << "not refused";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "Input file \"f.csv\" is empty.");
  }
  try {
    read_matrix("CloneID,Reproducibility,S1\nc,1,1\n", InputFormat::dart, "f.csv",
                std::string_view(), "p.csv");
    ADD_FAILURE() << "not refused";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), "Input file \"p.csv\" is empty.");
  }
}
