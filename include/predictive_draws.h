// SPDX-License-Identifier: GPL-3.0-or-later
// The parameter vectors of accepted production replicates that the posterior predictive
// check of -gof simulates again. Kept only when -gof asks for them (`wanted` > 0): the run
// driver sizes it before the production run, the commit of the production blocks fills it
// (under mutex_outfile, in replicate order), and the check reads it after the run.
#pragma once

#include <vector>

struct PredictiveDraws {
  int wanted = 0;  // vectors kept per population; 0: none
  int width = 0;   // values per vector: Fis of every population, Fst of every population, a
  // Per population: the vectors of its first `wanted` Fis acceptances, `width` values each,
  // in the order of their ranks (the draws of the first lines of its Fis file).
  std::vector<std::vector<double>> vectors;

  int count(int p) const { return width == 0 ? 0 : static_cast<int>(vectors[p].size()) / width; }
};
