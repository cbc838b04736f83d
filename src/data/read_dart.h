// SPDX-License-Identifier: GPL-3.0-or-later
// DArT presence/absence reports: loci x samples, with the populations of the samples in a file
// of "id,pop" rows under a header (read_pops.h).
#pragma once

#include <string>
#include <string_view>

#include "data/matrix_counts.h"
#include "data/records.h"

namespace matrix {

// The report `text` with the text of its population file `pops_text` (named `pops_name`).
MatrixCounts read_dart(std::string_view text, Separator sep, const std::string& file,
                       std::string_view pops_text, const std::string& pops_name);

}  // namespace matrix
