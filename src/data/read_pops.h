// SPDX-License-Identifier: GPL-3.0-or-later
// The -pops file of a DArT report: the population of every sample, as "id,pop" lines below a
// header.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct SamplePops {
  std::unordered_map<std::string, int> pop_of;  // sample id -> index into names
  std::vector<std::string> names;               // populations, in order of first appearance
  std::vector<std::string> ids;                 // sample ids, in file order
};

// Reads the bytes of a -pops file (named `pops_name` in messages); refuses with InputError.
SamplePops read_pops_file(std::string_view bytes, const std::string& pops_name);
