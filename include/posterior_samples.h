// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior samples: created by the regression adjustment after the production run and
// kept until the end of the job. Index [population - 1][draw], draws in file order.
#pragma once

#include <vector>

extern std::vector<std::vector<float>> reg_fis;    // regression-adjusted Fis
extern std::vector<std::vector<float>> reg_fst;    // regression-adjusted Fst
extern std::vector<std::vector<float>> noreg_fis;  // accepted Fis as read
extern std::vector<std::vector<float>> noreg_fst;  // accepted Fst as read

// One Fis estimate per population (the posterior mean of the adjusted sample), filled by
// the statistics step and read by the codominant conversion.
extern std::vector<double> fis_estimate;
