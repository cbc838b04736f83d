// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/records.h"

#include "data/input_error.h"

const char* const MISSING_CODES[NB_MISSING_CODES] = {"", "-1", "-", "-9", "NA", "?", "."};

namespace records {

const char* const CELL_RULE =
    "a cell must be 1 (band), 0 (no band) or a missing code (empty, -1, -, -9, NA, ?, .)";

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

RecordReader::RecordReader(std::string_view text, Separator sep, const std::string& name)
    : text_(text), name_(name), blanks_(sep == Separator::blanks) {
  sep_ = sep == Separator::comma ? ',' : sep == Separator::semicolon ? ';' : '\t';
}

bool RecordReader::next(std::vector<std::string_view>& cells) {
  for (;;) {
    if (pos_ >= text_.size()) return false;
    read_record(cells);
    for (std::string_view c : cells)
      if (!c.empty()) return true;
  }
}

// Consumes a line break at pos_ if there is one; true if it did.
bool RecordReader::take_line_break() {
  if (pos_ >= text_.size()) return false;
  if (text_[pos_] == '\n') {
    ++pos_;
  } else if (text_[pos_] == '\r') {
    ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  } else {
    return false;
  }
  ++next_line_;
  return true;
}

bool RecordReader::at_separator() const {
  if (pos_ >= text_.size()) return false;
  const char c = text_[pos_];
  return blanks_ ? is_blank(c) : c == sep_;
}

bool RecordReader::at_line_end() const {
  return pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r';
}

std::string_view RecordReader::quoted_cell(int column) {
  const int opened_on = next_line_;
  ++pos_;  // the opening quote
  const size_t start = pos_;
  std::string* unescaped = nullptr;
  for (;;) {
    if (pos_ >= text_.size())
      throw_input_error(
          "Input file \"%s\", line %d, column %d: a quote opened here is never "
          "closed.",
          name_.c_str(), opened_on, column);
    const char c = text_[pos_];
    if (c == '"') {
      if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
        // A doubled quote stands for one: from here on the cell is copied.
        if (unescaped == nullptr) {
          owned_.emplace_back(text_.substr(start, pos_ - start));
          unescaped = &owned_.back();
        }
        unescaped->push_back('"');
        pos_ += 2;
        continue;
      }
      break;
    }
    if (c == '\n' || c == '\r') {
      const size_t from = pos_;
      take_line_break();
      if (unescaped) unescaped->append(text_.substr(from, pos_ - from));
      continue;
    }
    if (unescaped) unescaped->push_back(c);
    ++pos_;
  }
  std::string_view cell =
      unescaped ? std::string_view(*unescaped) : text_.substr(start, pos_ - start);
  ++pos_;  // the closing quote
  if (!blanks_)
    while (pos_ < text_.size() && is_blank(text_[pos_]) && text_[pos_] != sep_) ++pos_;
  if (!at_separator() && !at_line_end())
    throw_input_error(
        "Input file \"%s\", line %d, column %d: text after the closing quote of "
        "a quoted cell.",
        name_.c_str(), next_line_, column);
  return trim(cell);
}

// A record whose cells are separated by runs of blanks.
void RecordReader::read_blank_separated(std::vector<std::string_view>& cells) {
  for (;;) {
    while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
    if (at_line_end()) break;
    const int column = static_cast<int>(cells.size()) + 1;
    if (text_[pos_] == '"') {
      cells.push_back(quoted_cell(column));
    } else {
      const size_t start = pos_;
      while (!at_line_end() && !is_blank(text_[pos_])) ++pos_;
      cells.push_back(text_.substr(start, pos_ - start));
    }
  }
  take_line_break();
}

void RecordReader::read_record(std::vector<std::string_view>& cells) {
  cells.clear();
  owned_.clear();
  line_ = next_line_;
  if (blanks_) {
    read_blank_separated(cells);
    return;
  }
  for (;;) {
    while (pos_ < text_.size() && is_blank(text_[pos_]) && text_[pos_] != sep_) ++pos_;
    const int column = static_cast<int>(cells.size()) + 1;
    if (pos_ < text_.size() && text_[pos_] == '"') {
      cells.push_back(quoted_cell(column));
    } else {
      const size_t start = pos_;
      // The hot loop of a large table: most cells are one character.
      const char* p = text_.data() + pos_;
      const char* end = text_.data() + text_.size();
      while (p < end && *p != sep_ && *p != '\n' && *p != '\r') ++p;
      pos_ = static_cast<size_t>(p - text_.data());
      cells.push_back(trim(text_.substr(start, pos_ - start)));
    }
    if (pos_ < text_.size() && text_[pos_] == sep_) {
      ++pos_;
      continue;
    }
    take_line_break();
    return;
  }
}

bool parse_count(std::string_view c, long long& value) {
  if (c.empty() || c.size() > 12) return false;
  value = 0;
  for (char ch : c) {
    if (ch < '0' || ch > '9') return false;
    value = value * 10 + (ch - '0');
  }
  return true;
}

}  // namespace records

std::string_view usable_text(std::string_view bytes, const std::string& name) {
  if (bytes.size() >= 2 && ((static_cast<unsigned char>(bytes[0]) == 0xFF &&
                             static_cast<unsigned char>(bytes[1]) == 0xFE) ||
                            (static_cast<unsigned char>(bytes[0]) == 0xFE &&
                             static_cast<unsigned char>(bytes[1]) == 0xFF)))
    throw_input_error(
        "Input file \"%s\" is UTF-16 text; save it as UTF-8 or plain text (in a "
        "spreadsheet: CSV, UTF-8).",
        name.c_str());
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  // UTF-16 without a byte-order mark shows a NUL beside every ASCII letter; so does a binary
  // file (a spreadsheet saved in its own format). Neither can be read as text.
  // (find, not memchr: an empty view may hold a null pointer, which memchr must not get.)
  if (bytes.find('\0') != std::string_view::npos)
    throw_input_error(
        "Input file \"%s\" holds NUL bytes: it is UTF-16 text or not a text file; "
        "save it as UTF-8 or plain text (in a spreadsheet: CSV, UTF-8).",
        name.c_str());
  bool empty = true;
  for (char c : bytes)
    if (!records::is_blank(c) && c != '\n' && c != '\r') {
      empty = false;
      break;
    }
  if (empty) throw_input_error("Input file \"%s\" is empty.", name.c_str());
  return bytes;
}

Separator detect_separator(std::string_view text) {
  size_t pos = 0;
  // The first line that holds something other than blanks.
  for (;;) {
    size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    bool blank = true;
    for (size_t i = pos; i < end && blank; ++i) blank = records::is_blank(text[i]);
    if (!blank || end >= text.size()) break;
    pos = end + 1;
  }
  long tabs = 0, commas = 0, semicolons = 0;
  bool in_quotes = false;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') in_quotes = !in_quotes;
    if (in_quotes) continue;
    if (c == '\n' || c == '\r') break;
    tabs += c == '\t';
    commas += c == ',';
    semicolons += c == ';';
  }
  if (tabs == 0 && commas == 0 && semicolons == 0) return Separator::blanks;
  if (tabs >= commas && tabs >= semicolons) return Separator::tab;
  return commas >= semicolons ? Separator::comma : Separator::semicolon;
}
