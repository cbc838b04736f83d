// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/read_dart.h"

#include <array>
#include <cstdlib>
#include <utility>
#include <vector>

#include "data/input_error.h"
#include "data/matrix_tally.h"
#include "data/read_pops.h"

namespace matrix {

namespace {

// A number above 1 in a DArT report: the file counts reads instead of scoring presence.
bool is_read_count(std::string_view c) {
  const std::string s(c);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  return end != s.c_str() && *end == '\0' && v > 1.0;
}

// The header row and the samples it names.
struct Samples {
  int header_line = 0;
  size_t width = 0;         // cells of the header, padding aside
  size_t first_sample = 0;  // the column (from 0) of the first sample
  std::vector<std::string> ids;
  FirstSeen column_of;                 // sample id -> its column (from 1)
  std::vector<int> pop_of_sample;      // population p (from 0) of each sample
  std::vector<std::string> pop_names;  // population p (from 0)
};

// The header row: rows of "*" above it carry per-sample plate data, not needed here; the
// samples follow the "Reproducibility" column, the last of the locus columns.
void read_header(records::RecordReader& rr, std::vector<std::string_view>& cells,
                 const std::string& file, Samples& s) {
  bool any = rr.next(cells);
  while (any && cells[0] == "*") any = rr.next(cells);
  if (!any)
    throw_input_error("Input file \"%s\": a DArT report, but no header row below its \"*\" rows.",
                      file.c_str());
  s.header_line = rr.line();
  s.width = records::used_width(cells);
  for (size_t c = 0; c < s.width; ++c)
    if (cells[c] == "Reproducibility") s.first_sample = c + 1;
  if (s.first_sample == 0)
    throw_input_error(
        "Input file \"%s\", line %d: the header row has no \"Reproducibility\" "
        "column, the last of the locus columns before the samples.",
        file.c_str(), s.header_line);
  if (s.first_sample >= s.width)
    throw_input_error(
        "Input file \"%s\", line %d: the header row has no sample after "
        "\"Reproducibility\".",
        file.c_str(), s.header_line);
}

// Samples: unique, each in the population file. Returns the population file's index of the
// population of each sample.
std::vector<int> place_samples(const std::vector<std::string_view>& cells,
                               const SamplePops& sample_pops, const std::string& file,
                               const std::string& pops_name, Samples& s) {
  const size_t samples = s.width - s.first_sample;
  std::vector<int> file_pop(samples);
  s.ids.resize(samples);
  MessageList absent;
  for (size_t i = 0; i < samples; ++i) {
    const size_t column = s.first_sample + i + 1;
    const std::string id(cells[s.first_sample + i]);
    s.ids[i] = id;
    if (id.empty())
      throw_input_error("Input file \"%s\", line %d, column %zu: a sample without an id.",
                        file.c_str(), s.header_line, column);
    size_t first = 0;
    if (!s.column_of.add(id, column, first))
      throw_input_error(
          "Input file \"%s\", line %d, column %zu: sample \"%s\" is given twice "
          "(first in column %zu).",
          file.c_str(), s.header_line, column, id.c_str(), first);
    auto it = sample_pops.pop_of.find(id);
    if (it == sample_pops.pop_of.end()) {
      absent.add(quoted(id) + " (column " + std::to_string(column) + ")");
      continue;
    }
    file_pop[i] = it->second;
  }
  if (absent.count() > 0)
    throw_input_error(
        "Input file \"%s\", line %d: %d sample(s) missing from the population file "
        "\"%s\": %s.",
        file.c_str(), s.header_line, absent.count(), pops_name.c_str(), absent.text().c_str());
  return file_pop;
}

// Populations are numbered in the order the population file first names them, counting only
// those with a sample in this report.
void number_populations(const std::vector<int>& file_pop, const SamplePops& sample_pops,
                        Samples& s) {
  std::vector<int> pop_number(sample_pops.names.size(), -1);
  for (int q : file_pop) pop_number[q] = 0;
  for (size_t q = 0; q < sample_pops.names.size(); ++q)
    if (pop_number[q] == 0) {
      pop_number[q] = static_cast<int>(s.pop_names.size());
      s.pop_names.push_back(sample_pops.names[q]);
    }
  s.pop_of_sample.resize(file_pop.size());
  for (size_t i = 0; i < file_pop.size(); ++i) s.pop_of_sample[i] = pop_number[file_pop[i]];
}

// Samples of the population file that the report does not hold: ignored, with a warning.
void warn_unused_samples(const SamplePops& sample_pops, const Samples& s, const std::string& file,
                         const std::string& pops_name, std::vector<std::string>& warnings) {
  MessageList unused;
  for (const std::string& id : sample_pops.ids)
    if (!s.column_of.contains(id)) unused.add(quoted(id));
  if (unused.count() > 0)
    warnings.push_back("Population file \"" + pops_name + "\": " + std::to_string(unused.count()) +
                       " sample(s) not in the report \"" + file + "\" (ignored): " + unused.text());
}

// The refusal of a cell that is no score, naming its locus and sample.
[[noreturn]] void refuse_cell(std::string_view cell, int line, size_t column,
                              const std::string& locus, const std::string& sample,
                              const std::string& file) {
  if (is_read_count(cell))
    throw_input_error(
        "Input file \"%s\", line %d, column %zu (locus \"%s\", sample \"%s\"): "
        "\"%s\" is a read count; a presence/absence report (1 for presence, 0 "
        "for absence) is needed.",
        file.c_str(), line, column, locus.c_str(), sample.c_str(), std::string(cell).c_str());
  throw_input_error(
      "Input file \"%s\", line %d, column %zu (locus \"%s\", sample \"%s\"): "
      "\"%s\" is not a score; %s.",
      file.c_str(), line, column, locus.c_str(), sample.c_str(), std::string(cell).c_str(),
      records::CELL_RULE);
}

// The locus rows below the header, tallied locus by locus: population p of locus l at
// l * pops + p.
struct LocusTally {
  std::vector<std::string> locus_names;
  std::vector<int32_t> n, k;
  std::vector<std::array<long long, NB_MISSING_CODES>> missing;  // of each population
};

LocusTally tally_loci(records::RecordReader& rr, std::vector<std::string_view>& cells,
                      const Samples& s, const std::string& file) {
  const size_t pops = s.pop_names.size();
  const size_t samples = s.ids.size();
  LocusTally lt;
  lt.missing.assign(pops, std::array<long long, NB_MISSING_CODES>{});
  while (rr.next(cells)) {
    const int line = rr.line();
    size_t shown = 0;
    if (!records::fits_width(cells, s.width, shown))
      throw_input_error("Input file \"%s\", line %d: %zu cells, but the header (line %d) has %zu.",
                        file.c_str(), line, shown, s.header_line, s.width);
    const std::string locus =
        cells[0].empty() ? std::to_string(lt.locus_names.size() + 1) : std::string(cells[0]);
    const size_t base = lt.n.size();
    lt.n.resize(base + pops, 0);
    lt.k.resize(base + pops, 0);
    for (size_t i = 0; i < samples; ++i) {
      const std::string_view cell = cells[s.first_sample + i];
      const int p = s.pop_of_sample[i];
      if (!tally_cell(cell, lt.n[base + p], lt.k[base + p], lt.missing[p]))
        refuse_cell(cell, line, s.first_sample + i + 1, locus, s.ids[i], file);
    }
    lt.locus_names.push_back(locus);
  }
  return lt;
}

}  // namespace

MatrixCounts read_dart(std::string_view text, Separator sep, const std::string& file,
                       std::string_view pops_text, const std::string& pops_name) {
  const SamplePops sample_pops = read_pops_file(pops_text, pops_name);
  records::RecordReader rr(text, sep, file);
  std::vector<std::string_view> cells;
  Samples s;
  read_header(rr, cells, file, s);
  number_populations(place_samples(cells, sample_pops, file, pops_name, s), sample_pops, s);

  MatrixCounts result;
  result.format = InputFormat::dart;
  result.separator = sep;
  warn_unused_samples(sample_pops, s, file, pops_name, result.warnings);

  // The cells are tallied locus by locus, then laid out population by population.
  LocusTally lt = tally_loci(rr, cells, s, file);
  if (lt.locus_names.empty())
    throw_input_error("Input file \"%s\": the report has a header but no locus row.", file.c_str());
  warn_duplicate_loci(lt.locus_names, file, result.warnings);

  const size_t pops = s.pop_names.size();
  Tally t(lt.locus_names.size());
  for (const std::string& name : s.pop_names) t.add_population(name);
  for (int p : s.pop_of_sample) ++t.individuals[p];
  t.missing = std::move(lt.missing);
  for (size_t l = 0; l < lt.locus_names.size(); ++l)
    for (size_t p = 0; p < pops; ++p) {
      t.n[p * t.loci + l] = lt.n[l * pops + p];
      t.k[p * t.loci + l] = lt.k[l * pops + p];
    }
  return finish(t, std::move(lt.locus_names), file, std::move(result));
}

}  // namespace matrix
