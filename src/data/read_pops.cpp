// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/read_pops.h"

#include "data/input_error.h"
#include "data/matrix_tally.h"
#include "data/records.h"

SamplePops read_pops_file(std::string_view bytes, const std::string& pops_name) {
  const std::string_view text = usable_text(bytes, pops_name);
  records::RecordReader rr(text, detect_separator(text), pops_name);
  std::vector<std::string_view> cells;
  rr.next(cells);  // the header
  SamplePops result;
  std::unordered_map<std::string, int> pop_index;
  matrix::FirstSeen id_line;
  while (rr.next(cells)) {
    const int line = rr.line();
    size_t shown = 0;
    if (!records::fits_width(cells, 2, shown))
      throw_input_error(
          "Population file \"%s\", line %d: %zu cells; each line holds a sample id "
          "and its population.",
          pops_name.c_str(), line, shown);
    const std::string id(cells[0]), pop(cells[1]);
    if (id.empty() || pop.empty())
      throw_input_error("Population file \"%s\", line %d, column %d: the %s is empty.",
                        pops_name.c_str(), line, id.empty() ? 1 : 2,
                        id.empty() ? "sample id" : "population");
    size_t first = 0;
    if (!id_line.add(id, static_cast<size_t>(line), first))
      throw_input_error(
          "Population file \"%s\", line %d, column 1: sample \"%s\" is given twice "
          "(first on line %d).",
          pops_name.c_str(), line, id.c_str(), static_cast<int>(first));
    auto [it, new_pop] = pop_index.emplace(pop, static_cast<int>(result.names.size()));
    if (new_pop) result.names.push_back(pop);
    result.pop_of.emplace(id, it->second);
    result.ids.push_back(id);
  }
  if (result.ids.empty())
    throw_input_error("Population file \"%s\": no sample below the header.", pops_name.c_str());
  return result;
}
