// SPDX-License-Identifier: GPL-3.0-or-later
// What the layout readers share once cells are read: per-population tallies of the cells,
// the names of loci, where a repeated name was first given, the lists their messages hold,
// and the last step that leaves out loci some population never scored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/matrix_counts.h"
#include "data/records.h"

namespace matrix {

// Counts grown one population at a time: population p's loci at p * loci + l.
struct Tally {
  explicit Tally(size_t loci) : loci(loci) {}
  size_t loci;
  std::vector<std::string> pop_names;
  std::unordered_map<std::string, int> pop_index;
  std::vector<int> individuals;
  std::vector<std::array<long long, NB_MISSING_CODES>> missing;
  std::vector<int32_t> n, k;

  int add_population(const std::string& name);
};

// Adds one cell to the counts of its population at its locus: a score to n (and to k for a
// band), a missing code to the population's missing cells. False for a cell that is neither;
// the caller refuses it with a message of its own.
inline bool tally_cell(std::string_view cell, int32_t& n, int32_t& k,
                       std::array<long long, NB_MISSING_CODES>& missing) {
  const int v = records::classify(cell);
  if (v == records::BAND) {
    ++n;
    ++k;
  } else if (v == records::ABSENT) {
    ++n;
  } else if (v >= records::MISSING) {
    ++missing[v - records::MISSING];
  } else {
    return false;
  }
  return true;
}

// Where each name was first given (a line or a column), so that a repeat can be refused or
// reported with the place of its first use.
class FirstSeen {
 public:
  // True the first time `name` is given, which records it at `where`; false for a repeat,
  // with `first` set to where it was first given.
  bool add(const std::string& name, size_t where, size_t& first);
  bool contains(const std::string& name) const { return where_.count(name) > 0; }

 private:
  std::unordered_map<std::string, size_t> where_;
};

// A name as messages show it: in double quotes.
std::string quoted(std::string_view s);

// The items of a message's list, joined by ", ", and how many there are.
class MessageList {
 public:
  void add(const std::string& item);
  int count() const { return count_; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  int count_ = 0;
};

// Names of loci taken from a header's cells; an unnamed locus is called by its number.
std::vector<std::string> locus_names_of(const std::vector<std::string_view>& cells, size_t from,
                                        size_t to);

// The warning for locus names given more than once; such loci are kept.
void warn_duplicate_loci(const std::vector<std::string>& names, const std::string& file,
                         std::vector<std::string>& warnings);

// Moves a finished tally into the result and leaves out the loci that some population never
// scored: with n = 0 there, no band frequency exists for that population.
MatrixCounts finish(Tally& t, std::vector<std::string> locus_names, const std::string& file,
                    MatrixCounts result);

}  // namespace matrix
