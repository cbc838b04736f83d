// SPDX-License-Identifier: GPL-3.0-or-later
// The record and cell layer under every matrix reader, alone: quoting, separators, line
// ends, the byte-order mark, spreadsheet padding and the codes a cell may hold.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "data/input_error.h"
#include "data/records.h"

namespace {

using records::RecordReader;

struct Record {
  int line;
  std::vector<std::string> cells;
  bool operator==(const Record& o) const { return line == o.line && cells == o.cells; }
};

std::ostream& operator<<(std::ostream& os, const Record& r) {
  os << "line " << r.line << ":";
  for (const std::string& c : r.cells) os << " [" << c << "]";
  return os;
}

std::vector<Record> records_of(std::string_view text, Separator sep) {
  const std::string name = "f.csv";
  RecordReader rr(text, sep, name);
  std::vector<std::string_view> cells;
  std::vector<Record> out;
  while (rr.next(cells)) out.push_back({rr.line(), {cells.begin(), cells.end()}});
  return out;
}

TEST(RecordReader, SplitsCellsAndRecords) {
  const Separator comma = Separator::comma;
  struct Case {
    const char* what;
    std::string text;
    Separator sep;
    std::vector<Record> records;
  };
  const Case cases[] = {
      {"a quoted cell holds separators and doubled quotes",
       "a,\"b,c \"\"d\"\"\",e\n",
       comma,
       {{1, {"a", "b,c \"d\"", "e"}}}},
      {"a quoted cell holds a line break, which counts as a line",
       "\"x\r\ny\",z\nw\n",
       comma,
       {{1, {"x\r\ny", "z"}}, {3, {"w"}}}},
      {"CRLF line ends", "a,b\r\nc,d\r\n", comma, {{1, {"a", "b"}}, {2, {"c", "d"}}}},
      {"lone CR line ends, no final break",
       "a;b\rc;d",
       Separator::semicolon,
       {{1, {"a", "b"}}, {2, {"c", "d"}}}},
      {"blank lines and rows of bare separators are passed over",
       "a,b\n\n , ,,\r\nc,d\n",
       comma,
       {{1, {"a", "b"}}, {4, {"c", "d"}}}},
      {"trailing padding stays as empty cells", "a,b,,\n", comma, {{1, {"a", "b", "", ""}}}},
      {"cells are trimmed of blanks, inside quotes too",
       " a ,\" b \" ,c\t\n",
       comma,
       {{1, {"a", "b", "c"}}}},
      {"an apostrophe or an inner quote is a letter",
       "O'Brien,a\"b\n",
       comma,
       {{1, {"O'Brien", "a\"b"}}}},
      {"with tabs, spaces belong to the cell", "a b\tc\n", Separator::tab, {{1, {"a b", "c"}}}},
      {"runs of blanks separate, a quoted cell keeps its blanks",
       "  a   b\t\"c d\"  \nx\n",
       Separator::blanks,
       {{1, {"a", "b", "c d"}}, {2, {"x"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(records_of(c.text, c.sep), c.records);
  }
}

TEST(RecordReader, RefusesBrokenQuotesWithLineAndColumn) {
  const struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"id,pop\na,\"P,1\nb,P\n",
       "Input file \"f.csv\", line 2, column 2: a quote opened here is never closed."},
      {"id,pop\n\"a\"x,P\n",
       "Input file \"f.csv\", line 2, column 1: text after the closing quote of a quoted cell."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      records_of(c.text, Separator::comma);
      ADD_FAILURE() << "accepted";
    } catch (const InputError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(UsableText, DropsTheUtf8MarkAndRefusesWhatIsNoText) {
  EXPECT_EQ(usable_text("\xEF\xBB\xBF"
                        "a,b\n",
                        "f.csv"),
            "a,b\n");
  const struct {
    std::string bytes;
    const char* message;
  } refused[] = {
      {"\xFF\xFE"
       "a",
       "Input file \"f.csv\" is UTF-16 text"},
      {"\xFE\xFF"
       "a",
       "Input file \"f.csv\" is UTF-16 text"},
      {std::string("a\0,\0b\0", 6), "Input file \"f.csv\" holds NUL bytes"},
      {"\xEF\xBB\xBF \t\r\n\n", "Input file \"f.csv\" is empty."},
  };
  for (const auto& c : refused) {
    try {
      usable_text(c.bytes, "f.csv");
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

TEST(DetectSeparator, TheMostFrequentOutsideQuotesOnTheFirstLine) {
  const struct {
    const char* text;
    Separator sep;
  } cases[] = {
      {"a,b;c,d\n", Separator::comma},
      {"\"a,b,c\";d\n", Separator::semicolon},   // commas inside quotes do not count
      {"a\tb,c\n", Separator::tab},              // a tie goes to the tab
      {"a b  c\n1,2,3\n", Separator::blanks},    // only the first line counts
      {" \t\r\n\na;b\n", Separator::semicolon},  // blank lines before it are passed over
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(detect_separator(c.text), c.sep);
  }
}

TEST(Cells, ScoresAndMissingCodes) {
  // Every missing code reads as its own index, so the check file names it rightly.
  for (int c = 0; c < NB_MISSING_CODES; ++c)
    EXPECT_EQ(records::classify(MISSING_CODES[c]), records::MISSING + c) << MISSING_CODES[c];
  EXPECT_EQ(records::classify("1"), records::BAND);
  EXPECT_EQ(records::classify("0"), records::ABSENT);
  for (const char* cell : {"na", "2", "01", "1.0", "-0", "??"})
    EXPECT_EQ(records::classify(cell), records::INVALID) << cell;
}

TEST(Cells, WidthAsideFromPadding) {
  const struct {
    std::vector<std::string_view> cells;
    bool fits;
    size_t shown;
  } cases[] = {
      {{"a", "b", "", ""}, true, 2},
      {{"a"}, false, 1},
      {{"a", "b", "c"}, false, 3},
      {{"a", "b", "", "c", ""}, false, 4},
  };
  for (const auto& c : cases) {
    size_t shown = 99;
    EXPECT_EQ(records::fits_width(c.cells, 2, shown), c.fits);
    EXPECT_EQ(shown, c.shown);
  }
}

TEST(Cells, Counts) {
  long long v = -1;
  EXPECT_TRUE(records::parse_count("012", v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(records::parse_count("999999999999", v));
  EXPECT_EQ(v, 999999999999LL);
  for (const char* cell : {"", "1a", "-1", "+1", " 1", "1000000000000"})
    EXPECT_FALSE(records::parse_count(cell, v)) << cell;
}

}  // namespace
