// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior diagnostics: how far the adjusted estimates can be trusted. One row per
// population and parameter (diagnostics.cpp); its refits are in bootstrap.h and
// normal_equations.h, its warnings in diagnostics_warning.h, its file in diagnostics_file.h.
#pragma once

#include <string>
#include <vector>

#include "job_results.h"
#include "posterior/regression.h"

// Row r of the diagnostics file (0 = Fis1) resamples with a generator seeded with this + r,
// so that a rerun on the same accepted draws gives the same file.
constexpr unsigned long DIAGNOSTICS_SEED = 20021202UL;

// Computes the row of one population and parameter from its kept design and samples.
DiagnosticsRow diagnose(const std::string& label, const RegressionDesign& design,
                        const std::vector<float>& reg, const std::vector<float>& noreg,
                        unsigned long seed);
