// SPDX-License-Identifier: GPL-3.0-or-later
// GenAlEx sheets: line 1 gives the numbers of loci, individuals and populations and each
// population's size (perhaps followed by regions, ignored); line 2 names the populations from
// its fourth cell; line 3 names the loci from its third; then one row per individual.
#pragma once

#include <string>
#include <string_view>

#include "data/matrix_counts.h"
#include "data/records.h"

namespace matrix {

MatrixCounts read_genalex(std::string_view text, Separator sep, const std::string& file);

}  // namespace matrix
