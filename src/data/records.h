// SPDX-License-Identifier: GPL-3.0-or-later
// Records and cells of the text files users bring (band matrices, DArT reports, population
// files): the byte-order mark and encodings, the separator, quoting, line ends, spreadsheet
// padding and what a single cell says. Nothing here knows a layout; the layout readers stand
// on it.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// The codes of a missing cell, in the order the check file reports them; the empty cell is
// code 0.
constexpr int NB_MISSING_CODES = 7;
extern const char* const MISSING_CODES[NB_MISSING_CODES];

enum class Separator { comma, semicolon, tab, blanks };

// The text of a file ready for parsing: a UTF-8 byte-order mark is dropped. Refuses UTF-16
// (and any text holding NUL bytes) and a file with nothing but blanks and line breaks.
std::string_view usable_text(std::string_view bytes, const std::string& name);

// The separator of a file, from its first non-empty line: the most frequent of tab, comma and
// semicolon outside quotes, or runs of blanks when there is none.
Separator detect_separator(std::string_view text);

namespace records {

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Splits text into records of cells. Line breaks are LF, CRLF or a lone CR (spreadsheets on
// old Macs). Only the double quote quotes, with the usual rules: a quoted cell may hold
// separators, line breaks and doubled quotes; a quote inside an unquoted cell is a letter,
// and so is an apostrophe anywhere. Every cell is trimmed of blanks. With Separator::blanks a
// run of spaces and tabs separates cells, so no cell is empty unless quoted.
class RecordReader {
 public:
  // `name` is the file's name in messages ("Input file ..."); it must outlive the reader.
  RecordReader(std::string_view text, Separator sep, const std::string& name);

  // The next record that holds a non-empty cell (blank lines and rows of bare separators,
  // spreadsheet padding, are passed over). False at the end of the text. The cells stay
  // valid until the next call.
  bool next(std::vector<std::string_view>& cells);

  int line() const { return line_; }  // the line on which the last record began

 private:
  bool take_line_break();
  bool at_separator() const;
  bool at_line_end() const;
  std::string_view quoted_cell(int column);
  void read_record(std::vector<std::string_view>& cells);
  void read_blank_separated(std::vector<std::string_view>& cells);

  std::string_view text_;
  const std::string& name_;
  bool blanks_;
  char sep_;
  size_t pos_ = 0;
  int next_line_ = 1;
  int line_ = 1;
  std::deque<std::string> owned_;  // unescaped quoted cells (a deque keeps them in place)
};

// The number of cells up to the last non-empty one: spreadsheets pad rows with empty cells.
inline size_t used_width(const std::vector<std::string_view>& cells) {
  size_t w = cells.size();
  while (w > 0 && cells[w - 1].empty()) --w;
  return w;
}

// Whether a record holds exactly `width` cells, padding aside. Either way `shown` is the
// number a refusal names: the cells the record has when they are too few, else the cells it
// uses.
inline bool fits_width(const std::vector<std::string_view>& cells, size_t width, size_t& shown) {
  const size_t used = used_width(cells);
  shown = cells.size() < width ? cells.size() : used;
  return cells.size() >= width && used <= width;
}

// What a cell says. Values 0 and 1 are the scores; MISSING + c is missing code c.
constexpr int ABSENT = 0, BAND = 1, MISSING = 2, INVALID = -1;

inline int classify(std::string_view c) {
  if (c.size() == 1) {
    switch (c[0]) {
      case '1':
        return BAND;
      case '0':
        return ABSENT;
      case '-':
        return MISSING + 2;
      case '?':
        return MISSING + 5;
      case '.':
        return MISSING + 6;
      default:
        return INVALID;
    }
  }
  if (c.empty()) return MISSING + 0;
  if (c == "-1") return MISSING + 1;
  if (c == "-9") return MISSING + 3;
  if (c == "NA") return MISSING + 4;
  return INVALID;
}

// The rule a cell breaks when classify finds no score in it, for messages.
extern const char* const CELL_RULE;

// A cell that must hold a count (digits only, at most 12 of them); false if it does not.
bool parse_count(std::string_view c, long long& value);

}  // namespace records
