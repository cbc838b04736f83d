// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a diagnostics row can be trusted, and the warning when not
// (diagnostics_warning.cpp).
#pragma once

#include <string>

#include "posterior/diagnostics.h"

// True when the row passes every check: Monte Carlo error at most a quarter of the
// posterior sd, no adjusted value at 0 or 1, no extrapolation.
bool row_trusted(const DiagnosticsRow& row);

// The warning for a row whose adjusted estimate is not to be trusted, without line end;
// empty when the row passes. `no_regression_file` is named as the fallback.
std::string diagnostics_warning(const char* parameter, int population, const DiagnosticsRow& row,
                                const std::string& no_regression_file);
