// SPDX-License-Identifier: GPL-3.0-or-later
// The joint-statistics estimation: features of the reference table, the nearest training
// rows of a population, and the hand-over to the regression adjustment and the
// cross-validation.
#include "posterior/joint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <new>
#include <string>

#include "core/output_file.h"
#include "core/output_names.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"
#include "posterior/adjustment.h"
#include "posterior/cross_validation.h"
#include "posterior/regression.h"

namespace {

// The MAD times this estimates the standard deviation of a normal law, so that the
// features scaled by a MAD and those scaled by a standard deviation weigh alike.
constexpr double MAD_TO_SD = 1.4826;

// The raw features of one population: own statistics, then the others' mean. `own_fis`
// and `own_fst` are the population's statistics, `sums` the sums of every statistic over
// all populations (nfis Fis sums, then nfst Fst sums).
template <typename T>
void raw_features(const Job& job, const T* own_fis, const T* own_fst, const double* sums, int npop,
                  double* out) {
  const int nfis = job.nb_class_fis, nfst = job.nb_class_fst, nstats = nfis + nfst;
  for (int c = 0; c < nfis; ++c) out[c] = own_fis[c];
  for (int c = 0; c < nfst; ++c) out[nfis + c] = own_fst[c];
  if (npop < 2) return;
  for (int c = 0; c < nstats; ++c) out[nstats + c] = (sums[c] - out[c]) / (npop - 1);
}

// The sums over the populations of table row r (nfis Fis sums, then nfst Fst sums).
void table_row_sums(const ReferenceTable& t, long long r, std::vector<double>& sums) {
  sums.assign(static_cast<size_t>(t.nc_fis) + t.nc_fst, 0.0);
  for (int p = 0; p < t.npop; ++p) {
    const float* f = t.stats(0, p, r);
    const float* g = t.stats(1, p, r);
    for (int c = 0; c < t.nc_fis; ++c) sums[c] += f[c];
    for (int c = 0; c < t.nc_fst; ++c) sums[t.nc_fis + c] += g[c];
  }
}

// The spread of one feature over the training rows: the MAD (as a standard deviation), or
// the standard deviation where more than half the values are equal; 0 when constant.
double feature_scale(std::vector<double>& values) {
  const size_t n = values.size();
  const size_t mid = n / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  const double median = values[mid];
  double sum = 0, sum2 = 0;
  for (double& v : values) {
    sum += v;
    sum2 += v * v;
    v = std::fabs(v - median);
  }
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  const double mad = values[mid];
  if (mad > 0) return MAD_TO_SD * mad;
  const double mean = sum / n;
  const double variance = std::max(0.0, sum2 / n - mean * mean);
  // Rounding leaves a constant column a variance of a few ulps of its square: no spread.
  return variance > 1e-12 * mean * mean ? std::sqrt(variance) : 0.0;
}

// Fills one pool's training rows: raw features first (all of them), then the scales, then
// the rows compacted to the kept features, scaled.
void build_pool(const Job& job, const ReferenceTable& t, JointPool& pool, int nfeatures) {
  const long long size = t.size;
  const size_t members = pool.populations.size();
  pool.count = static_cast<long long>(members) * size;
  std::vector<float>& rows = pool.rows;
  rows.assign(static_cast<size_t>(pool.count) * nfeatures, 0.0f);
  std::vector<double> sums, raw(nfeatures);
  for (long long r = 0; r < size; ++r) {
    table_row_sums(t, r, sums);
    for (size_t m = 0; m < members; ++m) {
      const int p = pool.populations[m];
      raw_features(job, t.stats(0, p, r), t.stats(1, p, r), sums.data(), t.npop, raw.data());
      float* out = rows.data() + (m * size + r) * nfeatures;
      for (int c = 0; c < nfeatures; ++c) out[c] = static_cast<float>(raw[c]);
    }
  }
  pool.scale.assign(nfeatures, 0.0);
  pool.kept.clear();
  std::vector<double> column(static_cast<size_t>(pool.count));
  for (int c = 0; c < nfeatures; ++c) {
    for (long long i = 0; i < pool.count; ++i) column[i] = rows[i * nfeatures + c];
    pool.scale[c] = feature_scale(column);
    if (pool.scale[c] > 0) pool.kept.push_back(c);
  }
  // In place: row i's kept features land before row i's raw features are overwritten.
  const size_t q = pool.kept.size();
  for (long long i = 0; i < pool.count; ++i) {
    const float* in = rows.data() + i * nfeatures;
    float* out = rows.data() + i * q;
    for (size_t j = 0; j < q; ++j) {
      const int c = pool.kept[j];
      out[j] = static_cast<float>(in[c] / pool.scale[c]);
    }
  }
  rows.resize(static_cast<size_t>(pool.count) * q);
  rows.shrink_to_fit();
}

// The scaled kept features of the observed data for population p of `pool`.
std::vector<float> observed_features(const Job& job, const JointPool& pool, int p, int nfeatures) {
  const int nfis = job.nb_class_fis, nfst = job.nb_class_fst;
  std::vector<double> sums(static_cast<size_t>(nfis) + nfst, 0.0), raw(nfeatures);
  for (int i = 0; i < job.J; ++i) {
    for (int c = 0; c < nfis; ++c) sums[c] += job.target_fis[static_cast<size_t>(i) * nfis + c];
    for (int c = 0; c < nfst; ++c)
      sums[nfis + c] += job.target_fst[static_cast<size_t>(i) * nfst + c];
  }
  raw_features(job, job.target_fis.data() + static_cast<size_t>(p) * nfis,
               job.target_fst.data() + static_cast<size_t>(p) * nfst, sums.data(), job.J,
               raw.data());
  std::vector<float> out;
  for (int c : pool.kept) out.push_back(static_cast<float>(raw[c] / pool.scale[c]));
  return out;
}

// The accepted rows of one population: the nearest training rows to `observed`, with the
// designs of both parameters (the same rows, features and weights; the response differs).
struct JointSample {
  std::vector<double> distance;  // squared, to every training row of the pool
  std::vector<long long> order;  // candidate training rows
  std::vector<float> distances;  // of the accepted rows, as their files show them
  RegressionDesign design[2];    // Fis, Fst
  std::vector<float> unadjusted[2];
};

// Accepts the `count` training rows of population p's pool nearest to `observed`, leaving
// out every population of table row `left_out` (-1: none).
void accept_nearest_rows(const ReferenceTable& t, const JointFeatures& f, int p,
                         const float* observed, long long left_out, long long count,
                         JointSample& s) {
  const JointPool& pool = f.pool(p);
  const int q = static_cast<int>(pool.kept.size());
  s.distance.assign(static_cast<size_t>(pool.count), 0.0);
  s.order.clear();
  s.order.reserve(static_cast<size_t>(pool.count));
  for (long long i = 0; i < pool.count; ++i) {
    if (i % t.size == left_out) continue;
    s.distance[i] = squared_distance(pool.row(i), observed, q);
    s.order.push_back(i);
  }
  if (static_cast<long long>(s.order.size()) <= count)
    fail("Bug detected: %lld accepted rows out of %lld training rows", count,
         static_cast<long long>(s.order.size()));
  const double threshold = select_nearest(s.distance, s.order, count);

  const int n = static_cast<int>(count);
  s.distances.resize(n);
  for (int parameter = 0; parameter < 2; ++parameter) {
    RegressionDesign& d = s.design[parameter];
    d.n = n;
    d.p = q;
    d.leave_one_out_residuals = true;
    d.x.resize(static_cast<size_t>(n) * q);
    d.y.resize(n);
    d.w.resize(n);
    s.unadjusted[parameter].resize(n);
  }
  for (int k = 0; k < n; ++k) {
    const long long i = s.order[k];
    const long long r = i % t.size;
    const int population = pool.populations[static_cast<size_t>(i / t.size)];
    const float* x = pool.row(i);
    s.distances[k] = static_cast<float>(std::sqrt(s.distance[i]));
    const double w = kernel_weight(std::sqrt(s.distance[i]), threshold);
    for (int parameter = 0; parameter < 2; ++parameter) {
      RegressionDesign& d = s.design[parameter];
      float* row = &d.x[static_cast<size_t>(k) * q];
      for (int j = 0; j < q; ++j)
        row[j] = static_cast<float>(static_cast<double>(x[j]) - observed[j]);
      const double theta = off_bounds(t.parameter(parameter, population, r));
      d.y[k] = logit(theta);
      d.w[k] = w;
      s.unadjusted[parameter][k] = static_cast<float>(theta);
    }
  }
}

// With -keep: the accepted rows of population k + 1 in the layout of the default method's
// accepted-draw files, the statistics being the scaled feature differences.
void write_accepted_rows(const Job& job, const char* parameter, int k, const JointSample& s,
                         int which) {
  const std::string name = accepted_draw_file_name(job, parameter, k + 1);
  OutputFile file(name);
  if (!file.is_open()) fail("Could not open file %s for writing", name.c_str());
  const RegressionDesign& d = s.design[which];
  std::string line;
  char number[32];
  auto put = [&](double v) {
    line.append(number, std::snprintf(number, sizeof number, " %.5g", v));
  };
  for (int i = 0; i < d.n; ++i) {
    line.clear();
    put(s.distances[i]);
    put(s.unadjusted[which][i]);
    for (int j = 0; j < d.p; ++j) put(d.x[static_cast<size_t>(i) * d.p + j]);
    line += '\n';
    file.stream() << line;
  }
  if (!file.commit()) fail("Could not write the accepted draws to %s", name.c_str());
}

std::string feature_name(const Job& job, int c, int nstats) {
  const bool others = c >= nstats;
  const int s = c % nstats;
  const std::string own = s < job.nb_class_fis ? "fis" + std::to_string(s + 1)
                                               : "fst" + std::to_string(s - job.nb_class_fis + 1);
  return others ? "others_" + own : own;
}

}  // namespace

double joint_feature_bytes(long long size, int npop, int nc_fis, int nc_fst, int threads) {
  const double rows = static_cast<double>(size) * npop;
  const double features = (npop > 1 ? 2.0 : 1.0) * (nc_fis + nc_fst);
  // The training rows of every pool (raw, before the dropped features go), the column of
  // the scales, and per estimating thread the distances and candidates of one pool.
  return rows * features * sizeof(float) + rows * sizeof(double) +
         std::max(threads, 1) * rows * (sizeof(double) + sizeof(long long));
}

std::vector<int> pools_by_sample_sizes(const Job& job) {
  std::vector<int> pool_of(job.J, -1);
  int pools = 0;
  for (int p = 0; p < job.J; ++p) {
    if (pool_of[p] >= 0) continue;
    pool_of[p] = pools;
    for (int o = p + 1; o < job.J; ++o) {
      if (pool_of[o] >= 0) continue;
      bool same = true;
      for (int l = 0; l < job.I && same; ++l)
        same = job.pop_target[job.record_index(p, l)].n == job.pop_target[job.record_index(o, l)].n;
      if (same) pool_of[o] = pools;
    }
    ++pools;
  }
  return pool_of;
}

JointFeatures prepare_joint_features(const Job& job, const ReferenceTable& table) {
  JointFeatures f;
  f.table_size = table.size;
  f.npop = job.J;
  f.nstats = job.nb_class_fis + job.nb_class_fst;
  f.nfeatures = job.J > 1 ? 2 * f.nstats : f.nstats;
  for (int c = 0; c < f.nfeatures; ++c) f.names.push_back(feature_name(job, c, f.nstats));
  f.pool_of = pools_by_sample_sizes(job);
  const int npools = *std::max_element(f.pool_of.begin(), f.pool_of.end()) + 1;
  f.pools.resize(npools);
  for (int p = 0; p < job.J; ++p) f.pools[f.pool_of[p]].populations.push_back(p);
  try {
    for (JointPool& pool : f.pools) build_pool(job, table, pool, f.nfeatures);
  } catch (const std::bad_alloc&) {
    fail("Not enough memory for the features of -method joint (lower -sims)");
  }
  for (int p = 0; p < job.J; ++p)
    f.observed.push_back(observed_features(job, f.pool(p), p, f.nfeatures));
  return f;
}

long long joint_sample_size(const JointFeatures& f, double acceptance_ratio) {
  long long fewest = -1;
  for (const JointPool& pool : f.pools)
    if (fewest < 0 || pool.count < fewest) fewest = pool.count;
  return static_cast<long long>(acceptance_ratio * static_cast<double>(fewest));
}

PosteriorSamples estimate_joint(const Job& job, const ReferenceTable& table, const JointFeatures& f,
                                long long sample_size) {
  std::cout << "\n\nPerforming regression on the joint statistics... " << std::flush;
  check_regression_outputs(job);
  PosteriorSamples posterior(job.J);
  std::cout << "\nFis and Fst: population " << std::flush;
  JointSample s;
  for (int k = 0; k < job.J; ++k) {
    std::cout << k + 1 << ", " << std::flush;
    accept_nearest_rows(table, f, k, f.observed[k].data(), -1, sample_size, s);
    if (job.keep_draws) {
      write_accepted_rows(job, "Fis", k, s, 0);
      write_accepted_rows(job, "Fst", k, s, 1);
    }
    posterior.design_fis[k] = s.design[0];
    posterior.design_fst[k] = s.design[1];
    posterior.noreg_fis[k] = s.unadjusted[0];
    posterior.noreg_fst[k] = s.unadjusted[1];
    fit_and_adjust("Fis", k, posterior.design_fis[k], posterior.reg_fis[k]);
    fit_and_adjust("Fst", k, posterior.design_fst[k], posterior.reg_fst[k]);
  }
  std::cout << std::flush;
  return posterior;
}

std::vector<CvEstimate> joint_cross_validate(const ReferenceTable& table, const JointFeatures& f,
                                             const std::vector<long long>& pods,
                                             long long sample_size, double coverage, int threads) {
  const int npop = table.npop;
  return estimate_pods(static_cast<int>(pods.size()), npop, threads, [&](int i, CvEstimate* rows) {
    JointSample s;
    EstimateScratch scratch;
    for (int p = 0; p < npop; ++p) {
      // The pseudo-observed row's features, scaled as every training row is.
      const JointPool& pool = f.pool(p);
      const long long m =
          std::find(pool.populations.begin(), pool.populations.end(), p) - pool.populations.begin();
      const float* row = pool.row(m * table.size + pods[i]);
      const std::vector<float> observed(row, row + pool.kept.size());
      accept_nearest_rows(table, f, p, observed.data(), pods[i], sample_size, s);
      for (int parameter = 0; parameter < 2; ++parameter)
        score_estimate(table.parameter(parameter, p, pods[i]), s.design[parameter],
                       s.unadjusted[parameter], coverage, scratch, rows[parameter * npop + p]);
    }
  });
}

std::vector<CvSummaryRow> run_joint_cross_validation(const Job& job, const ReferenceTable& table,
                                                     const JointFeatures& features,
                                                     long long sample_size, uint32_t job_seed) {
  const std::time_t start = std::time(nullptr);
  std::printf("\nCross-validation on %d pseudo-observed data sets...", job.cv_count);
  std::fflush(stdout);
  const std::vector<long long> pods = choose_pseudo_observed(table.size, job.cv_count, job_seed);
  return report_cross_validation(
      job, joint_cross_validate(table, features, pods, sample_size, job.hpdi_pc, job.nb_procs),
      start);
}

std::vector<GofSet> joint_gof_sets(const Job& job, const JointFeatures& f) {
  std::vector<GofSet> sets;
  for (int parameter = 0; parameter < 2; ++parameter) {
    for (int p = 0; p < f.npop; ++p) {
      const JointPool& pool = f.pool(p);
      const int width = static_cast<int>(pool.kept.size());
      // The kept features of this parameter's type, by their place in a training row.
      std::vector<int> columns;
      for (int k = 0; k < width; ++k) {
        const bool fis_type = pool.kept[k] % f.nstats < job.nb_class_fis;
        if (fis_type == (parameter == 0)) columns.push_back(k);
      }
      const long long member =
          std::find(pool.populations.begin(), pool.populations.end(), p) - pool.populations.begin();
      GofSet s = gof_set_of(parameter, p);
      s.rows = pool.count;
      s.features = width;
      s.reference = pool.rows.data();
      s.data_sets = f.table_size;
      s.null_offset = member * f.table_size;
      s.observed.assign(f.observed[p].begin(), f.observed[p].end());
      s.squared_distance = [columns](const float* row, const double* point) {
        double sum = 0.0;
        for (int k : columns) {
          const double d = static_cast<double>(row[k]) - point[k];
          sum += d * d;
        }
        return sum;
      };
      sets.push_back(std::move(s));
    }
  }
  return sets;
}

std::vector<std::string> joint_record_lines(const Job& job, const JointFeatures& f,
                                            long long sample_size) {
  std::vector<std::string> lines;
  lines.push_back("method: joint");
  lines.push_back("reference table: " + std::to_string(f.table_size) + " simulations");
  std::string names;
  for (const std::string& n : f.names) names += (names.empty() ? "" : " ") + n;
  lines.push_back("features: " + names);
  lines.push_back("draws per population: " + std::to_string(sample_size));
  for (int p = 0; p < job.J; ++p) {
    const JointPool& pool = f.pool(p);
    std::string line = "population " + std::to_string(p + 1) + ": " + std::to_string(pool.count) +
                       " training rows, pool";
    for (int o : pool.populations) line += " " + std::to_string(o + 1);
    std::string dropped;
    for (int c = 0; c < f.nfeatures; ++c)
      if (!(pool.scale[c] > 0)) dropped += " " + f.names[c];
    if (!dropped.empty()) line += ", constant features dropped:" + dropped;
    lines.push_back(line);
  }
  return lines;
}
