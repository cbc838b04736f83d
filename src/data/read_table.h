// SPDX-License-Identifier: GPL-3.0-or-later
// Individuals x loci: a plain table (a header of id, population and locus names, then one row
// per individual), and the individual rows it shares with a GenAlEx sheet.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/matrix_counts.h"
#include "data/matrix_tally.h"
#include "data/records.h"

namespace matrix {

MatrixCounts read_table(std::string_view text, Separator sep, const std::string& file);

// The rows after the header (line `header_line`): id, population, one cell per locus of `t`,
// tallied into `t`, with rows_of_pop[p] counting the rows of population p. With `known_only`
// (GenAlEx) the populations already in `t` are the only ones allowed; without it a new name
// starts a new population.
void read_individual_rows(records::RecordReader& rr, Tally& t,
                          const std::vector<std::string>& locus_names, const std::string& file,
                          bool known_only, int header_line, std::vector<int>& rows_of_pop);

}  // namespace matrix
