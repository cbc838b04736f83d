// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers as the result tables of the analyses write them.
#pragma once

#include <cmath>
#include <sstream>
#include <string>

// NaN written as NA, which R's read.table and pandas both read as missing; other values
// with the stream's 6 significant digits.
inline std::string written(double v) {
  if (std::isnan(v)) return "NA";
  std::ostringstream s;
  s << v;
  return s.str();
}

// The value a reader of the file gets back: summaries computed from these equal a
// recomputation from the file.
inline double as_written(double v) { return std::isnan(v) ? v : std::stod(written(v)); }
