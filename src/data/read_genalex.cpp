// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/read_genalex.h"

#include <vector>

#include "data/input_error.h"
#include "data/matrix_tally.h"
#include "data/read_table.h"

namespace matrix {

namespace {

// What the three header lines announce, and where they are.
struct Header {
  long long loci = 0, individuals = 0, pops = 0;
  std::vector<long long> sizes;  // of each population, from line 1
  int line1 = 0, line2 = 0, line3 = 0;
};

// Line 1: the numbers of loci, individuals and populations, then each population's size.
void read_numbers(records::RecordReader& rr, std::vector<std::string_view>& cells,
                  const std::string& file, Header& h) {
  rr.next(cells);
  h.line1 = rr.line();
  if (cells.size() < 3 || !records::parse_count(cells[0], h.loci) ||
      !records::parse_count(cells[1], h.individuals) || !records::parse_count(cells[2], h.pops))
    throw_input_error(
        "Input file \"%s\", line %d: a GenAlEx file begins with the numbers of "
        "loci, individuals and populations.",
        file.c_str(), h.line1);
  if (h.pops < 1)
    throw_input_error(
        "Input file \"%s\", line %d, column 3: %lld populations; at least one is needed.",
        file.c_str(), h.line1, h.pops);
  if (h.loci < 1)
    throw_input_error("Input file \"%s\", line %d, column 1: %lld loci; at least one is needed.",
                      file.c_str(), h.line1, h.loci);
  // Grown size by size: the announced number of populations is only trusted as far as line 1
  // really lists their sizes.
  for (long long p = 0; p < h.pops; ++p)
    if (static_cast<size_t>(3 + p) >= cells.size() ||
        !records::parse_count(cells[3 + p], h.sizes.emplace_back()))
      throw_input_error(
          "Input file \"%s\", line %d, column %lld: the size of population %lld "
          "is missing; line 1 gives %lld populations, then each one's size.",
          file.c_str(), h.line1, 4 + p, p + 1, h.pops);
}

// Line 2: the populations' names, from column 4, each given once.
std::vector<std::string> read_population_names(records::RecordReader& rr,
                                               std::vector<std::string_view>& cells,
                                               const std::string& file, Header& h) {
  if (!rr.next(cells))
    throw_input_error(
        "Input file \"%s\": the file ends after line %d; a GenAlEx file names its "
        "populations on line 2.",
        file.c_str(), h.line1);
  h.line2 = rr.line();
  const size_t used = records::used_width(cells);
  if (used < static_cast<size_t>(3 + h.pops))
    throw_input_error(
        "Input file \"%s\", line %d: %zu population name(s) from column 4, but "
        "line 1 gives %lld populations.",
        file.c_str(), h.line2, used > 3 ? used - 3 : 0, h.pops);
  std::vector<std::string> names;
  FirstSeen seen;
  for (long long p = 0; p < h.pops; ++p) {
    const std::string name(cells[3 + p]);
    if (name.empty())
      throw_input_error("Input file \"%s\", line %d, column %lld: population %lld has no name.",
                        file.c_str(), h.line2, 4 + p, p + 1);
    size_t first = 0;
    if (!seen.add(name, static_cast<size_t>(p), first))
      throw_input_error(
          "Input file \"%s\", line %d, column %lld: population \"%s\" is named "
          "twice.",
          file.c_str(), h.line2, 4 + p, name.c_str());
    names.push_back(name);
  }
  return names;
}

// Line 3: the loci's names, from column 3, as many as line 1 announced.
std::vector<std::string> read_locus_names(records::RecordReader& rr,
                                          std::vector<std::string_view>& cells,
                                          const std::string& file, Header& h) {
  if (!rr.next(cells))
    throw_input_error(
        "Input file \"%s\": the file ends after line %d; a GenAlEx file names its "
        "loci on line 3.",
        file.c_str(), h.line2);
  h.line3 = rr.line();
  const size_t width = records::used_width(cells);
  if (width != static_cast<size_t>(2 + h.loci))
    throw_input_error(
        "Input file \"%s\", line %d: %zu locus name(s) from column 3, but line 1 "
        "gives %lld loci.",
        file.c_str(), h.line3, width > 2 ? width - 2 : 0, h.loci);
  return locus_names_of(cells, 2, width);
}

// Line 1 against the rows: every disagreement at once, so one edit fixes the file; then no
// population may be without an individual.
void check_rows(const Header& h, const Tally& t, const std::vector<int>& rows_of_pop,
                const std::string& file) {
  std::string disagreements;
  long long rows = 0;
  for (int r : rows_of_pop) rows += r;
  if (rows != h.individuals)
    disagreements += "; it gives " + std::to_string(h.individuals) + " individuals, the file has " +
                     std::to_string(rows) + " rows";
  for (long long p = 0; p < h.pops; ++p)
    if (h.sizes[p] != rows_of_pop[p])
      disagreements += "; population " + quoted(t.pop_names[p]) + ": " +
                       std::to_string(h.sizes[p]) + " on line " + std::to_string(h.line1) + ", " +
                       std::to_string(rows_of_pop[p]) + " rows";
  if (!disagreements.empty())
    throw_input_error("Input file \"%s\", line %d: the GenAlEx header disagrees with the rows%s.",
                      file.c_str(), h.line1, disagreements.c_str());
  for (long long p = 0; p < h.pops; ++p)
    if (rows_of_pop[p] == 0)
      throw_input_error(
          "Input file \"%s\", line %d, column %lld: population \"%s\" has no "
          "individual.",
          file.c_str(), h.line2, 4 + p, t.pop_names[p].c_str());
}

}  // namespace

MatrixCounts read_genalex(std::string_view text, Separator sep, const std::string& file) {
  records::RecordReader rr(text, sep, file);
  std::vector<std::string_view> cells;
  Header h;
  read_numbers(rr, cells, file, h);
  const std::vector<std::string> pop_names = read_population_names(rr, cells, file, h);
  std::vector<std::string> locus_names = read_locus_names(rr, cells, file, h);
  // Only now, with line 1's number of loci borne out by line 3, is room taken for the counts.
  Tally t(locus_names.size());
  for (const std::string& name : pop_names) t.add_population(name);
  MatrixCounts result;
  result.format = InputFormat::genalex;
  result.separator = sep;
  warn_duplicate_loci(locus_names, file, result.warnings);

  std::vector<int> rows_of_pop(h.pops, 0);
  read_individual_rows(rr, t, locus_names, file, true, h.line3, rows_of_pop);
  check_rows(h, t, rows_of_pop, file);
  return finish(t, std::move(locus_names), file, std::move(result));
}

}  // namespace matrix
