// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/matrix_tally.h"

#include <utility>

#include "data/input_error.h"

namespace matrix {

int Tally::add_population(const std::string& name) {
  const int p = static_cast<int>(pop_names.size());
  pop_names.push_back(name);
  pop_index.emplace(name, p);
  individuals.push_back(0);
  missing.push_back({});
  n.resize(n.size() + loci, 0);
  k.resize(k.size() + loci, 0);
  return p;
}

bool FirstSeen::add(const std::string& name, size_t where, size_t& first) {
  const auto [it, fresh] = where_.emplace(name, where);
  first = it->second;
  return fresh;
}

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

void MessageList::add(const std::string& item) {
  if (count_++ > 0) text_ += ", ";
  text_ += item;
}

std::vector<std::string> locus_names_of(const std::vector<std::string_view>& cells, size_t from,
                                        size_t to) {
  std::vector<std::string> names;
  for (size_t c = from; c < to; ++c)
    names.push_back(cells[c].empty() ? std::to_string(c - from + 1) : std::string(cells[c]));
  return names;
}

void warn_duplicate_loci(const std::vector<std::string>& names, const std::string& file,
                         std::vector<std::string>& warnings) {
  FirstSeen seen;
  MessageList list;
  for (size_t l = 0; l < names.size(); ++l) {
    size_t first = 0;
    if (seen.add(names[l], l, first)) continue;
    list.add(quoted(names[l]) + " (loci " + std::to_string(first + 1) + " and " +
             std::to_string(l + 1) + ")");
  }
  if (list.count() > 0)
    warnings.push_back("Input file \"" + file + "\": " + std::to_string(list.count()) +
                       " locus name(s) given more than once; each such locus is kept as a "
                       "locus of its own: " +
                       list.text());
}

MatrixCounts finish(Tally& t, std::vector<std::string> locus_names, const std::string& file,
                    MatrixCounts result) {
  const size_t loci = t.loci;
  const size_t pops = t.pop_names.size();
  std::vector<size_t> kept;
  MessageList left_out;
  for (size_t l = 0; l < loci; ++l) {
    bool scored = true;
    for (size_t p = 0; p < pops && scored; ++p) scored = t.n[p * loci + l] > 0;
    if (scored) {
      kept.push_back(l);
    } else {
      result.left_out.push_back(locus_names[l]);
      left_out.add(quoted(locus_names[l]));
    }
  }
  if (!result.left_out.empty())
    result.warnings.push_back("Input file \"" + file +
                              "\": " + std::to_string(result.left_out.size()) + " of the " +
                              std::to_string(loci) +
                              " loci are left out, because some population has no scored "
                              "individual there: " +
                              left_out.text());
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

}  // namespace matrix
