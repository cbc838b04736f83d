// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/read_table.h"

#include "data/input_error.h"

namespace matrix {

namespace {

// Tallies the locus cells of one individual's row (columns from `first`, 1-based in messages).
void tally_row(const std::vector<std::string_view>& cells, size_t first, Tally& t, int p,
               const std::vector<std::string>& locus_names, int line, const std::string& file) {
  int32_t* n = &t.n[p * t.loci];
  int32_t* k = &t.k[p * t.loci];
  auto& missing = t.missing[p];
  for (size_t l = 0; l < t.loci; ++l)
    if (!tally_cell(cells[first + l], n[l], k[l], missing))
      throw_input_error(
          "Input file \"%s\", line %d, column %zu (locus \"%s\"): \"%s\" is not a "
          "score; %s.",
          file.c_str(), line, first + l + 1, locus_names[l].c_str(),
          std::string(cells[first + l]).c_str(), records::CELL_RULE);
}

// The individual's id and population, neither of which may be empty.
void check_row_names(const std::string& id, const std::string& pop, int line,
                     const std::string& file) {
  if (id.empty())
    throw_input_error("Input file \"%s\", line %d, column 1: the individual's id is empty.",
                      file.c_str(), line);
  if (pop.empty())
    throw_input_error(
        "Input file \"%s\", line %d, column 2: the population of individual "
        "\"%s\" is empty.",
        file.c_str(), line, id.c_str());
}

// The population of a row named `pop`: one already in the tally, else (unless `known_only`)
// a new one.
int population_of_row(Tally& t, const std::string& pop, bool known_only, int line,
                      const std::string& file, std::vector<int>& rows_of_pop) {
  auto found = t.pop_index.find(pop);
  if (found != t.pop_index.end()) return found->second;
  if (known_only)
    throw_input_error(
        "Input file \"%s\", line %d, column 2: population \"%s\" is not among "
        "the populations named on line 2.",
        file.c_str(), line, pop.c_str());
  rows_of_pop.push_back(0);
  return t.add_population(pop);
}

}  // namespace

void read_individual_rows(records::RecordReader& rr, Tally& t,
                          const std::vector<std::string>& locus_names, const std::string& file,
                          bool known_only, int header_line, std::vector<int>& rows_of_pop) {
  const size_t width = 2 + t.loci;
  FirstSeen id_line;
  std::vector<std::string_view> cells;
  std::string id, pop;
  while (rr.next(cells)) {
    const int line = rr.line();
    // Padding aside: a spreadsheet may end rows with empty cells.
    size_t shown = 0;
    if (!records::fits_width(cells, width, shown))
      throw_input_error(
          "Input file \"%s\", line %d: %zu cells, but the header (line %d) has %zu "
          "(individual, population and %zu loci).",
          file.c_str(), line, shown, header_line, width, t.loci);
    id.assign(cells[0]);
    pop.assign(cells[1]);
    check_row_names(id, pop, line, file);
    size_t first = 0;
    if (!id_line.add(id, static_cast<size_t>(line), first))
      throw_input_error(
          "Input file \"%s\", line %d, column 1: individual \"%s\" is given twice "
          "(first on line %d).",
          file.c_str(), line, id.c_str(), static_cast<int>(first));
    const int p = population_of_row(t, pop, known_only, line, file, rows_of_pop);
    ++t.individuals[p];
    ++rows_of_pop[p];
    tally_row(cells, 2, t, p, locus_names, line, file);
  }
}

MatrixCounts read_table(std::string_view text, Separator sep, const std::string& file) {
  records::RecordReader rr(text, sep, file);
  std::vector<std::string_view> cells;
  rr.next(cells);  // usable_text guarantees a non-empty record
  const int header_line = rr.line();
  const size_t width = records::used_width(cells);
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

}  // namespace matrix
