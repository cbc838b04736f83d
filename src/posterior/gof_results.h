// SPDX-License-Identifier: GPL-3.0-or-later
// The results of the goodness-of-fit test (-gof), shared by the test and its figure.
#pragma once

#include <string>
#include <vector>

// The test of one statistic set of one population. D values are held as written in
// STEM_gof.txt and STEM_gof_null.txt (6 significant digits), so that the p-value and the
// quantiles equal a recomputation from those files.
struct GofResult {
  std::string label;         // "Fis1" .. "FisJ", "Fst1" .. "FstJ"
  int population = 0;        // from 0
  bool fst = false;          // the Fst statistics (else the Fis statistics)
  double observed = 0;       // D of the observed data
  std::vector<double> null;  // D of each pseudo-observed data set, in the order drawn
  double null_median = 0;
  double null_q95 = 0;
  double p_value = 0;
};

// The reference table's statistics of one set, projected on their first two principal
// components, with the observed data projected the same way.
struct GofProjection {
  std::string title;
  std::vector<double> x, y;  // the plotted rows
  double observed_x = 0, observed_y = 0;
  double share_1 = 0, share_2 = 0;  // shares of the total variance on each component
};
