// SPDX-License-Identifier: GPL-3.0-or-later
// What a band matrix (GenAlEx sheet, table or DArT report) holds once tallied into
// per-population band counts: the result every layout reader returns.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config.h"
#include "data/records.h"

struct MatrixCounts {
  InputFormat format = InputFormat::table;
  Separator separator = Separator::comma;
  std::vector<std::string> pop_names;  // population p (from 0)
  std::vector<int> individuals;        // individuals of each population
  // Missing cells of each population, per code of MISSING_CODES.
  std::vector<std::array<long long, NB_MISSING_CODES>> missing;
  std::vector<std::string> locus_names;  // the usable loci, in file order
  std::vector<std::string> left_out;     // loci that some population never scored
  // Population p at usable locus l: element p * locus_names.size() + l.
  std::vector<int32_t> n, k;
  // Each a complete sentence naming the file; the caller prints them.
  std::vector<std::string> warnings;
};
