// SPDX-License-Identifier: GPL-3.0-or-later
// The reference table: the parameters and summary statistics of every replicate of a pilot
// run, by replicate index. Allocated by the run driver before the run only for the
// cross-validation (-cv), the goodness-of-fit test (-gof) or -method joint, whose run
// simulates nothing else (empty otherwise); row r is written once, by the worker that
// simulated replicate r; read by those analyses after the run.
#pragma once

#include <cstddef>
#include <vector>

struct ReferenceTable {
  long long size = 0;  // rows (pilot replicates)
  int npop = 0;
  int nc_fis = 0;
  int nc_fst = 0;
  // In single precision (the accepted-draw files keep fewer digits than that), by blocks so
  // that the estimation of one population and parameter reads one contiguous block:
  // parameters [parameter][population][row], statistics [population][row][class].
  std::vector<float> parameters;  // 2 * npop * size: Fis blocks, then Fst blocks
  std::vector<float> stats_fis;   // npop * size * nc_fis
  std::vector<float> stats_fst;   // npop * size * nc_fst

  // Values per row, all populations and both parameters.
  size_t width() const {
    return static_cast<size_t>(npop) * (2 + static_cast<size_t>(nc_fis) + nc_fst);
  }
  bool kept() const { return !parameters.empty(); }

  // parameter 0 is Fis, 1 is Fst.
  float parameter(int parameter, int p, long long r) const {
    return parameters[(static_cast<size_t>(parameter) * npop + p) * size + r];
  }
  int classes(int parameter) const { return parameter == 0 ? nc_fis : nc_fst; }
  // The statistics of population p in row r.
  const float* stats(int parameter, int p, long long r) const {
    const int nc = classes(parameter);
    const std::vector<float>& block = parameter == 0 ? stats_fis : stats_fst;
    return block.data() + (static_cast<size_t>(p) * size + r) * nc;
  }

  // Copies one replicate into row r: its parameters and statistics in the layout of the
  // workers (population p's statistics at p * nc).
  void store(long long r, const double* fis, const double* fst, const double* stat_fis,
             const double* stat_fst) {
    for (int p = 0; p < npop; ++p) {
      parameters[static_cast<size_t>(p) * size + r] = static_cast<float>(fis[p]);
      parameters[(static_cast<size_t>(npop) + p) * size + r] = static_cast<float>(fst[p]);
      float* out = stats_fis.data() + (static_cast<size_t>(p) * size + r) * nc_fis;
      for (int c = 0; c < nc_fis; ++c) out[c] = static_cast<float>(stat_fis[p * nc_fis + c]);
      out = stats_fst.data() + (static_cast<size_t>(p) * size + r) * nc_fst;
      for (int c = 0; c < nc_fst; ++c) out[c] = static_cast<float>(stat_fst[p * nc_fst + c]);
    }
  }
};
