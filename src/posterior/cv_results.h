// SPDX-License-Identifier: GPL-3.0-or-later
// The results of the cross-validation, shared by its estimation and its figure.
#pragma once

#include <string>

#include "job_results.h"

// The estimates of one pseudo-observed set and one parameter of one population. Every
// figure holds the value as written in the output file (see write_cv_file), so that the
// summaries equal a recomputation from that file. The adjusted figures are NaN when the
// regression failed.
struct CvEstimate {
  int pod = 0;        // 1 .. N
  int parameter = 0;  // 0 .. 2J - 1: Fis1 .. FisJ, Fst1 .. FstJ
  double truth = 0;
  double mean_adjusted = 0;
  double mean_unadjusted = 0;
  double hpdi_low = 0;  // of the adjusted sample
  double hpdi_high = 0;
  double hpdi_low_unadjusted = 0;
  double hpdi_high_unadjusted = 0;
};
