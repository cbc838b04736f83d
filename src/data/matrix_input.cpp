// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/matrix_input.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <unordered_map>

#include "data/input_error.h"
#include "observed_data.h"

const char* const MISSING_CODES[NB_MISSING_CODES] = {"", "-1", "-", "-9", "NA", "?", "."};

namespace {

// ---------------------------------------------------------------------------------------
// Cells and records

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Splits text into records of cells. Line breaks are LF, CRLF or a lone CR (spreadsheets on
// old Macs). Only the double quote quotes, with the usual rules: a quoted cell may hold
// separators, line breaks and doubled quotes; a quote inside an unquoted cell is a letter,
// and so is an apostrophe anywhere. Every cell is trimmed of blanks. With Separator::blanks a
// run of spaces and tabs separates cells, so no cell is empty unless quoted.
class RecordReader {
 public:
  RecordReader(std::string_view text, Separator sep, const std::string& name)
      : text_(text), name_(name), blanks_(sep == Separator::blanks) {
    sep_ = sep == Separator::comma ? ',' : sep == Separator::semicolon ? ';' : '\t';
  }

  // The next record that holds a non-empty cell (blank lines and rows of bare separators,
  // spreadsheet padding, are passed over). False at the end of the text. The cells stay
  // valid until the next call.
  bool next(std::vector<std::string_view>& cells) {
    for (;;) {
      if (pos_ >= text_.size()) return false;
      read_record(cells);
      for (std::string_view c : cells)
        if (!c.empty()) return true;
    }
  }

  int line() const { return line_; }  // the line on which the last record began

 private:
  // Consumes a line break at pos_ if there is one; true if it did.
  bool take_line_break() {
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

  bool at_separator() const {
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    return blanks_ ? is_blank(c) : c == sep_;
  }

  bool at_line_end() const {
    return pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r';
  }

  std::string_view quoted_cell(int column) {
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

  void read_record(std::vector<std::string_view>& cells) {
    cells.clear();
    owned_.clear();
    line_ = next_line_;
    if (blanks_) {
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
size_t used_width(const std::vector<std::string_view>& cells) {
  size_t w = cells.size();
  while (w > 0 && cells[w - 1].empty()) --w;
  return w;
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

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

const char* const CELL_RULE =
    "a cell must be 1 (band), 0 (no band) or a missing code (empty, -1, -, -9, NA, ?, .)";

// A number above 1 in a DArT report: the file counts reads instead of scoring presence.
bool is_read_count(std::string_view c) {
  const std::string s(c);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  return end != s.c_str() && *end == '\0' && v > 1.0;
}

// ---------------------------------------------------------------------------------------
// Tallies

// Counts grown one population at a time: population p's loci at p * loci + l.
struct Tally {
  explicit Tally(size_t loci) : loci(loci) {}
  size_t loci;
  std::vector<std::string> pop_names;
  std::unordered_map<std::string, int> pop_index;
  std::vector<int> individuals;
  std::vector<std::array<long long, NB_MISSING_CODES>> missing;
  std::vector<int32_t> n, k;

  int add_population(const std::string& name) {
    const int p = static_cast<int>(pop_names.size());
    pop_names.push_back(name);
    pop_index.emplace(name, p);
    individuals.push_back(0);
    missing.push_back({});
    n.resize(n.size() + loci, 0);
    k.resize(k.size() + loci, 0);
    return p;
  }
};

// The warning for locus names given more than once; such loci are kept.
void warn_duplicate_loci(const std::vector<std::string>& names, const std::string& file,
                         std::vector<std::string>& warnings) {
  std::unordered_map<std::string, int> first;
  std::string list;
  int count = 0;
  for (size_t l = 0; l < names.size(); ++l) {
    auto [it, fresh] = first.emplace(names[l], static_cast<int>(l));
    if (fresh) continue;
    if (count++ > 0) list += ", ";
    list += quoted(names[l]) + " (loci " + std::to_string(it->second + 1) + " and " +
            std::to_string(l + 1) + ")";
  }
  if (count > 0)
    warnings.push_back("Input file \"" + file + "\": " + std::to_string(count) +
                       " locus name(s) given more than once; each such locus is kept as a "
                       "locus of its own: " +
                       list);
}

// Moves a finished tally into the result and leaves out the loci that some population never
// scored: with n = 0 there, no band frequency exists for that population.
MatrixCounts finish(Tally& t, std::vector<std::string> locus_names, const std::string& file,
                    MatrixCounts result) {
  const size_t loci = t.loci;
  const size_t pops = t.pop_names.size();
  std::vector<size_t> kept;
  for (size_t l = 0; l < loci; ++l) {
    bool scored = true;
    for (size_t p = 0; p < pops && scored; ++p) scored = t.n[p * loci + l] > 0;
    if (scored)
      kept.push_back(l);
    else
      result.left_out.push_back(locus_names[l]);
  }
  if (!result.left_out.empty()) {
    std::string list;
    for (size_t i = 0; i < result.left_out.size(); ++i)
      list += (i > 0 ? ", " : "") + quoted(result.left_out[i]);
    result.warnings.push_back("Input file \"" + file +
                              "\": " + std::to_string(result.left_out.size()) + " of the " +
                              std::to_string(loci) +
                              " loci are left out, because some population has no scored "
                              "individual there: " +
                              list);
  }
  if (kept.empty())
    throw_input_error(
        "Input file \"%s\": no locus is scored in every population, so none can "
        "be used.",
        file.c_str());
  result.n.resize(pops * kept.size());
  result.k.resize(pops * kept.size());
  for (size_t p = 0; p < pops; ++p)
    for (size_t i = 0; i < kept.size(); ++i) {
      result.n[p * kept.size() + i] = t.n[p * loci + kept[i]];
      result.k[p * kept.size() + i] = t.k[p * loci + kept[i]];
    }
  for (size_t l : kept) result.locus_names.push_back(std::move(locus_names[l]));
  result.pop_names = std::move(t.pop_names);
  result.individuals = std::move(t.individuals);
  result.missing = std::move(t.missing);
  return result;
}

// Refuses a record with fewer cells than the header's `width`, or more unless the extra ones
// are empty.
void check_width(const std::vector<std::string_view>& cells, size_t width, int line,
                 int header_line, const std::string& file) {
  const size_t used = used_width(cells);
  if (cells.size() < width || used > width)
    throw_input_error("Input file \"%s\", line %d: %zu cells, but the header (line %d) has %zu.",
                      file.c_str(), line, cells.size() < width ? cells.size() : used, header_line,
                      width);
}

// Names of loci taken from a header's cells; an unnamed locus is called by its number.
std::vector<std::string> locus_names_of(const std::vector<std::string_view>& cells, size_t from,
                                        size_t to) {
  std::vector<std::string> names;
  for (size_t c = from; c < to; ++c)
    names.push_back(cells[c].empty() ? std::to_string(c - from + 1) : std::string(cells[c]));
  return names;
}

// Tallies the locus cells of one individual's row (columns from `first`, 1-based in messages).
void tally_row(const std::vector<std::string_view>& cells, size_t first, Tally& t, int p,
               const std::vector<std::string>& locus_names, int line, const std::string& file) {
  int32_t* n = &t.n[p * t.loci];
  int32_t* k = &t.k[p * t.loci];
  auto& missing = t.missing[p];
  for (size_t l = 0; l < t.loci; ++l) {
    const int v = classify(cells[first + l]);
    if (v == BAND) {
      ++n[l];
      ++k[l];
    } else if (v == ABSENT) {
      ++n[l];
    } else if (v >= MISSING) {
      ++missing[v - MISSING];
    } else {
      throw_input_error(
          "Input file \"%s\", line %d, column %zu (locus \"%s\"): \"%s\" is not a "
          "score; %s.",
          file.c_str(), line, first + l + 1, locus_names[l].c_str(),
          std::string(cells[first + l]).c_str(), CELL_RULE);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Individuals x loci: a table, and the rows of a GenAlEx sheet

// The rows after the header: id, population, one cell per locus. `known` (GenAlEx) lists the
// populations allowed; without it a new name starts a new population.
void read_individual_rows(RecordReader& rr, Tally& t, const std::vector<std::string>& locus_names,
                          const std::string& file, bool known_only, int header_line,
                          std::vector<int>& rows_of_pop) {
  const size_t width = 2 + t.loci;
  std::unordered_map<std::string, int> id_line;
  std::vector<std::string_view> cells;
  std::string id, pop;
  while (rr.next(cells)) {
    const int line = rr.line();
    // Padding aside: a spreadsheet may end rows with empty cells.
    const size_t used = used_width(cells);
    if (cells.size() < width || used > width)
      throw_input_error(
          "Input file \"%s\", line %d: %zu cells, but the header (line %d) has %zu "
          "(individual, population and %zu loci).",
          file.c_str(), line, cells.size() < width ? cells.size() : used, header_line, width,
          t.loci);
    id.assign(cells[0]);
    pop.assign(cells[1]);
    if (id.empty())
      throw_input_error("Input file \"%s\", line %d, column 1: the individual's id is empty.",
                        file.c_str(), line);
    if (pop.empty())
      throw_input_error(
          "Input file \"%s\", line %d, column 2: the population of individual "
          "\"%s\" is empty.",
          file.c_str(), line, id.c_str());
    auto [seen, fresh] = id_line.emplace(id, line);
    if (!fresh)
      throw_input_error(
          "Input file \"%s\", line %d, column 1: individual \"%s\" is given twice "
          "(first on line %d).",
          file.c_str(), line, id.c_str(), seen->second);
    int p;
    auto found = t.pop_index.find(pop);
    if (found != t.pop_index.end()) {
      p = found->second;
    } else if (known_only) {
      throw_input_error(
          "Input file \"%s\", line %d, column 2: population \"%s\" is not among "
          "the populations named on line 2.",
          file.c_str(), line, pop.c_str());
    } else {
      p = t.add_population(pop);
      rows_of_pop.push_back(0);
    }
    ++t.individuals[p];
    ++rows_of_pop[p];
    tally_row(cells, 2, t, p, locus_names, line, file);
  }
}

MatrixCounts read_table(std::string_view text, Separator sep, const std::string& file) {
  RecordReader rr(text, sep, file);
  std::vector<std::string_view> cells;
  rr.next(cells);  // usable_text guarantees a non-empty record
  const int header_line = rr.line();
  const size_t width = used_width(cells);
  if (width < 3)
    throw_input_error(
        "Input file \"%s\", line %d: the header has %zu cell(s); a table needs the "
        "individual's and the population's columns and at least one locus.",
        file.c_str(), header_line, width);
  std::vector<std::string> locus_names = locus_names_of(cells, 2, width);
  MatrixCounts result;
  result.format = InputFormat::table;
  result.separator = sep;
  warn_duplicate_loci(locus_names, file, result.warnings);
  Tally t(width - 2);
  std::vector<int> rows_of_pop;
  read_individual_rows(rr, t, locus_names, file, false, header_line, rows_of_pop);
  if (t.pop_names.empty())
    throw_input_error("Input file \"%s\": the table has a header but no individual.", file.c_str());
  return finish(t, std::move(locus_names), file, std::move(result));
}

// A cell that must hold a count; false if it does not.
bool parse_count(std::string_view c, long long& value) {
  if (c.empty() || c.size() > 12) return false;
  value = 0;
  for (char ch : c) {
    if (ch < '0' || ch > '9') return false;
    value = value * 10 + (ch - '0');
  }
  return true;
}

// GenAlEx: line 1 gives the numbers of loci, individuals and populations and each
// population's size (perhaps followed by regions, ignored); line 2 names the populations
// from its fourth cell; line 3 names the loci from its third; then one row per individual.
MatrixCounts read_genalex(std::string_view text, Separator sep, const std::string& file) {
  RecordReader rr(text, sep, file);
  std::vector<std::string_view> cells;
  rr.next(cells);
  const int line1 = rr.line();
  long long loci = 0, individuals = 0, pops = 0;
  if (cells.size() < 3 || !parse_count(cells[0], loci) || !parse_count(cells[1], individuals) ||
      !parse_count(cells[2], pops))
    throw_input_error(
        "Input file \"%s\", line %d: a GenAlEx file begins with the numbers of "
        "loci, individuals and populations.",
        file.c_str(), line1);
  if (pops < 1)
    throw_input_error(
        "Input file \"%s\", line %d, column 3: %lld populations; at least one is needed.",
        file.c_str(), line1, pops);
  if (loci < 1)
    throw_input_error("Input file \"%s\", line %d, column 1: %lld loci; at least one is needed.",
                      file.c_str(), line1, loci);
  // Grown size by size: the announced number of populations is only trusted as far as line 1
  // really lists their sizes.
  std::vector<long long> sizes;
  for (long long p = 0; p < pops; ++p)
    if (static_cast<size_t>(3 + p) >= cells.size() ||
        !parse_count(cells[3 + p], sizes.emplace_back()))
      throw_input_error(
          "Input file \"%s\", line %d, column %lld: the size of population %lld "
          "is missing; line 1 gives %lld populations, then each one's size.",
          file.c_str(), line1, 4 + p, p + 1, pops);

  if (!rr.next(cells))
    throw_input_error(
        "Input file \"%s\": the file ends after line %d; a GenAlEx file names its "
        "populations on line 2.",
        file.c_str(), line1);
  const int line2 = rr.line();
  std::vector<std::string> pop_names;
  if (used_width(cells) < static_cast<size_t>(3 + pops))
    throw_input_error(
        "Input file \"%s\", line %d: %zu population name(s) from column 4, but "
        "line 1 gives %lld populations.",
        file.c_str(), line2, used_width(cells) > 3 ? used_width(cells) - 3 : 0, pops);
  for (long long p = 0; p < pops; ++p) {
    const std::string name(cells[3 + p]);
    if (name.empty())
      throw_input_error("Input file \"%s\", line %d, column %lld: population %lld has no name.",
                        file.c_str(), line2, 4 + p, p + 1);
    if (std::find(pop_names.begin(), pop_names.end(), name) != pop_names.end())
      throw_input_error(
          "Input file \"%s\", line %d, column %lld: population \"%s\" is named "
          "twice.",
          file.c_str(), line2, 4 + p, name.c_str());
    pop_names.push_back(name);
  }

  if (!rr.next(cells))
    throw_input_error(
        "Input file \"%s\": the file ends after line %d; a GenAlEx file names its "
        "loci on line 3.",
        file.c_str(), line2);
  const int line3 = rr.line();
  const size_t width = used_width(cells);
  if (width != static_cast<size_t>(2 + loci))
    throw_input_error(
        "Input file \"%s\", line %d: %zu locus name(s) from column 3, but line 1 "
        "gives %lld loci.",
        file.c_str(), line3, width > 2 ? width - 2 : 0, loci);
  std::vector<std::string> locus_names = locus_names_of(cells, 2, width);
  // Only now, with line 1's number of loci borne out by line 3, is room taken for the counts.
  Tally t(locus_names.size());
  for (const std::string& name : pop_names) t.add_population(name);
  MatrixCounts result;
  result.format = InputFormat::genalex;
  result.separator = sep;
  warn_duplicate_loci(locus_names, file, result.warnings);

  std::vector<int> rows_of_pop(pops, 0);
  read_individual_rows(rr, t, locus_names, file, true, line3, rows_of_pop);

  // Line 1 against the rows: every disagreement at once, so one edit fixes the file.
  std::string disagreements;
  long long rows = 0;
  for (int r : rows_of_pop) rows += r;
  if (rows != individuals)
    disagreements += "; it gives " + std::to_string(individuals) + " individuals, the file has " +
                     std::to_string(rows) + " rows";
  for (long long p = 0; p < pops; ++p)
    if (sizes[p] != rows_of_pop[p])
      disagreements += "; population " + quoted(t.pop_names[p]) + ": " + std::to_string(sizes[p]) +
                       " on line " + std::to_string(line1) + ", " + std::to_string(rows_of_pop[p]) +
                       " rows";
  if (!disagreements.empty())
    throw_input_error("Input file \"%s\", line %d: the GenAlEx header disagrees with the rows%s.",
                      file.c_str(), line1, disagreements.c_str());
  for (long long p = 0; p < pops; ++p)
    if (rows_of_pop[p] == 0)
      throw_input_error(
          "Input file \"%s\", line %d, column %lld: population \"%s\" has no "
          "individual.",
          file.c_str(), line2, 4 + p, t.pop_names[p].c_str());
  return finish(t, std::move(locus_names), file, std::move(result));
}

// ---------------------------------------------------------------------------------------
// DArT: loci x samples, populations from a file of "id,pop" rows under a header

}  // namespace

SamplePops read_pops_file(std::string_view bytes, const std::string& pops_name) {
  const std::string_view text = usable_text(bytes, pops_name);
  RecordReader rr(text, detect_separator(text), pops_name);
  std::vector<std::string_view> cells;
  rr.next(cells);  // the header
  SamplePops result;
  std::unordered_map<std::string, int> pop_index, id_line;
  while (rr.next(cells)) {
    const int line = rr.line();
    const size_t used = used_width(cells);
    if (cells.size() < 2 || used > 2)
      throw_input_error(
          "Population file \"%s\", line %d: %zu cells; each line holds a sample id "
          "and its population.",
          pops_name.c_str(), line, cells.size() < 2 ? cells.size() : used);
    const std::string id(cells[0]), pop(cells[1]);
    if (id.empty() || pop.empty())
      throw_input_error("Population file \"%s\", line %d, column %d: the %s is empty.",
                        pops_name.c_str(), line, id.empty() ? 1 : 2,
                        id.empty() ? "sample id" : "population");
    auto [seen, fresh] = id_line.emplace(id, line);
    if (!fresh)
      throw_input_error(
          "Population file \"%s\", line %d, column 1: sample \"%s\" is given twice "
          "(first on line %d).",
          pops_name.c_str(), line, id.c_str(), seen->second);
    auto [it, new_pop] = pop_index.emplace(pop, static_cast<int>(result.names.size()));
    if (new_pop) result.names.push_back(pop);
    result.pop_of.emplace(id, it->second);
    result.ids.push_back(id);
  }
  if (result.ids.empty())
    throw_input_error("Population file \"%s\": no sample below the header.", pops_name.c_str());
  return result;
}

namespace {

MatrixCounts read_dart(std::string_view text, Separator sep, const std::string& file,
                       std::string_view pops_text, const std::string& pops_name) {
  const SamplePops sample_pops = read_pops_file(pops_text, pops_name);
  RecordReader rr(text, sep, file);
  std::vector<std::string_view> cells;
  // Rows of "*" above the header carry per-sample plate data, not needed here.
  bool any = rr.next(cells);
  while (any && cells[0] == "*") any = rr.next(cells);
  if (!any)
    throw_input_error("Input file \"%s\": a DArT report, but no header row below its \"*\" rows.",
                      file.c_str());
  const int header_line = rr.line();
  const size_t width = used_width(cells);
  size_t first_sample = 0;
  for (size_t c = 0; c < width; ++c)
    if (cells[c] == "Reproducibility") first_sample = c + 1;
  if (first_sample == 0)
    throw_input_error(
        "Input file \"%s\", line %d: the header row has no \"Reproducibility\" "
        "column, the last of the locus columns before the samples.",
        file.c_str(), header_line);
  if (first_sample >= width)
    throw_input_error(
        "Input file \"%s\", line %d: the header row has no sample after "
        "\"Reproducibility\".",
        file.c_str(), header_line);

  // Samples: unique, each in the population file. Populations are numbered in the order the
  // population file first names them, counting only those with a sample in this report.
  const size_t samples = width - first_sample;
  std::vector<int> file_pop(samples);
  std::vector<std::string> sample_ids(samples);
  std::unordered_map<std::string, size_t> column_of;
  std::string absent;
  int nb_absent = 0;
  for (size_t s = 0; s < samples; ++s) {
    const size_t column = first_sample + s + 1;
    const std::string id(cells[first_sample + s]);
    sample_ids[s] = id;
    if (id.empty())
      throw_input_error("Input file \"%s\", line %d, column %zu: a sample without an id.",
                        file.c_str(), header_line, column);
    auto [seen, fresh] = column_of.emplace(id, column);
    if (!fresh)
      throw_input_error(
          "Input file \"%s\", line %d, column %zu: sample \"%s\" is given twice "
          "(first in column %zu).",
          file.c_str(), header_line, column, id.c_str(), seen->second);
    auto it = sample_pops.pop_of.find(id);
    if (it == sample_pops.pop_of.end()) {
      if (nb_absent++ > 0) absent += ", ";
      absent += quoted(id) + " (column " + std::to_string(column) + ")";
      continue;
    }
    file_pop[s] = it->second;
  }
  if (nb_absent > 0)
    throw_input_error(
        "Input file \"%s\", line %d: %d sample(s) missing from the population file "
        "\"%s\": %s.",
        file.c_str(), header_line, nb_absent, pops_name.c_str(), absent.c_str());

  std::vector<int> pop_number(sample_pops.names.size(), -1);
  std::vector<int> order;  // population file index of population p
  for (size_t s = 0; s < samples; ++s) pop_number[file_pop[s]] = 0;
  for (size_t q = 0; q < sample_pops.names.size(); ++q)
    if (pop_number[q] == 0) {
      pop_number[q] = static_cast<int>(order.size());
      order.push_back(static_cast<int>(q));
    }
  const size_t pops = order.size();
  std::vector<int> pop_of_sample(samples);
  for (size_t s = 0; s < samples; ++s) pop_of_sample[s] = pop_number[file_pop[s]];

  MatrixCounts result;
  result.format = InputFormat::dart;
  result.separator = sep;
  std::string unused;
  int nb_unused = 0;
  for (const std::string& id : sample_pops.ids)
    if (!column_of.count(id)) {
      if (nb_unused++ > 0) unused += ", ";
      unused += quoted(id);
    }
  if (nb_unused > 0)
    result.warnings.push_back("Population file \"" + pops_name +
                              "\": " + std::to_string(nb_unused) +
                              " sample(s) not in the report \"" + file + "\" (ignored): " + unused);

  // Locus rows are tallied locus by locus, then laid out population by population.
  std::vector<std::string> locus_names;
  std::vector<int32_t> n_by_locus, k_by_locus;
  std::vector<std::array<long long, NB_MISSING_CODES>> missing(
      pops, std::array<long long, NB_MISSING_CODES>{});
  while (rr.next(cells)) {
    const int line = rr.line();
    check_width(cells, width, line, header_line, file);
    const std::string locus =
        cells[0].empty() ? std::to_string(locus_names.size() + 1) : std::string(cells[0]);
    const size_t base = n_by_locus.size();
    n_by_locus.resize(base + pops, 0);
    k_by_locus.resize(base + pops, 0);
    for (size_t s = 0; s < samples; ++s) {
      const std::string_view cell = cells[first_sample + s];
      const int p = pop_of_sample[s];
      const int v = classify(cell);
      if (v == BAND) {
        ++n_by_locus[base + p];
        ++k_by_locus[base + p];
      } else if (v == ABSENT) {
        ++n_by_locus[base + p];
      } else if (v >= MISSING) {
        ++missing[p][v - MISSING];
      } else if (is_read_count(cell)) {
        throw_input_error(
            "Input file \"%s\", line %d, column %zu (locus \"%s\", sample \"%s\"): "
            "\"%s\" is a read count; a presence/absence report (1 for presence, 0 "
            "for absence) is needed.",
            file.c_str(), line, first_sample + s + 1, locus.c_str(), sample_ids[s].c_str(),
            std::string(cell).c_str());
      } else {
        throw_input_error(
            "Input file \"%s\", line %d, column %zu (locus \"%s\", sample \"%s\"): "
            "\"%s\" is not a score; %s.",
            file.c_str(), line, first_sample + s + 1, locus.c_str(), sample_ids[s].c_str(),
            std::string(cell).c_str(), CELL_RULE);
      }
    }
    locus_names.push_back(locus);
  }
  if (locus_names.empty())
    throw_input_error("Input file \"%s\": the report has a header but no locus row.", file.c_str());
  warn_duplicate_loci(locus_names, file, result.warnings);

  Tally t(locus_names.size());
  for (size_t p = 0; p < pops; ++p) t.add_population(sample_pops.names[order[p]]);
  for (size_t s = 0; s < samples; ++s) ++t.individuals[pop_of_sample[s]];
  t.missing = missing;
  for (size_t l = 0; l < locus_names.size(); ++l)
    for (size_t p = 0; p < pops; ++p) {
      t.n[p * t.loci + l] = n_by_locus[l * pops + p];
      t.k[p * t.loci + l] = k_by_locus[l * pops + p];
    }
  return finish(t, std::move(locus_names), file, std::move(result));
}

}  // namespace

// ---------------------------------------------------------------------------------------

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
    if (!is_blank(c) && c != '\n' && c != '\r') {
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
    for (size_t i = pos; i < end && blank; ++i) blank = is_blank(text[i]);
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

InputFormat recognise_format(std::string_view text, const std::string& name) {
  if (text.find("[loci]=") != std::string_view::npos) return InputFormat::counts;
  RecordReader rr(text, detect_separator(text), name);
  std::vector<std::string_view> cells;
  if (!rr.next(cells)) return InputFormat::counts;
  if (cells[0] == "*" || cells[0] == "CloneID") return InputFormat::dart;
  long long value;
  if (cells.size() >= 3 && parse_count(cells[0], value) && parse_count(cells[1], value) &&
      parse_count(cells[2], value))
    return InputFormat::genalex;
  if (used_width(cells) >= 3) return InputFormat::table;
  return InputFormat::counts;
}

MatrixCounts read_matrix(std::string_view text, InputFormat format, const std::string& name,
                         std::string_view pops_text, const std::string& pops_name) {
  const Separator sep = detect_separator(text);
  if (format == InputFormat::dart) {
    if (pops_name.empty())
      throw_input_error(
          "Input file \"%s\" is a DArT report; give the population of each sample "
          "with -pops FILE (lines \"id,pop\" below a header).",
          name.c_str());
    return read_dart(text, sep, name, pops_text, pops_name);
  }
  if (!pops_name.empty())
    throw_input_error(
        "Input file \"%s\" is not a DArT report; -pops applies to DArT reports "
        "only (a %s names each individual's population itself).",
        name.c_str(), format == InputFormat::genalex ? "GenAlEx file" : "table");
  if (format == InputFormat::genalex) return read_genalex(text, sep, name);
  return read_table(text, sep, name);
}

std::string describe_format(InputFormat format, Separator separator) {
  const char* sep = separator == Separator::comma       ? "commas"
                    : separator == Separator::semicolon ? "semicolons"
                    : separator == Separator::tab       ? "tabs"
                                                        : "blanks";
  switch (format) {
    case InputFormat::genalex:
      return std::string("GenAlEx (individuals x loci), cells separated by ") + sep;
    case InputFormat::dart:
      return std::string("DArT presence/absence report (loci x samples), cells separated by ") +
             sep;
    case InputFormat::table:
      return std::string("table (individuals x loci), cells separated by ") + sep;
    default:
      return "band counts";
  }
}
