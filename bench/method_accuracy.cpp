// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy of the two estimation methods on data simulated by the model, with truths from
// the prior.
//
// One reference table of SIMS simulations is made for the design (loci, and the sample size
// of every population), as a job of -method joint makes it. PODS of its rows, chosen at
// random, are the test data sets; each is estimated from the other rows, left out of its
// own table (for the joint method with every population of it):
// - joint: the method as the program runs it with -method joint at -ar 0.005;
// - regression (the default method): for each population and parameter, the 0.5% of the
//   table nearest by that parameter's own statistics, the kernel and the regression of the
//   program. That is the acceptance region the default method gets from its pilot run
//   (threshold at the 0.5% quantile of the distances), with ar x SIMS draws in place of
//   its -n 5000 from a production run of a million simulations: the same estimator with a
//   smaller sample, so its prediction error is that of the program up to a little more
//   Monte Carlo noise.
// Printed on standard error (standard output has the progress gauges), per method and
// parameter (populations pooled): the prediction error (mean squared
// error of the posterior mean over the prior variance of the truths) and the coverage of
// the 95% HPDI, each with a bootstrap standard error over the test data sets.
//
// Usage: method_accuracy LOCI SIZES SIMS PODS [THREADS] [SEED]
//   SIZES: the sample size of every population, comma-separated ("20,20,20,20,20").
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run_driver.h"
#include "job.h"
#include "posterior/cross_validation.h"
#include "posterior/joint.h"
#include "random/block_seed.h"
#include "reference_table.h"
#include "run_state.h"
#include "simulation/worker.h"

namespace {

// Resamples of the test data sets for the standard errors: enough for an error of a
// standard error of about 5%.
constexpr int BOOTSTRAP_RESAMPLES = 400;

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The pooled Fis and Fst rows of the summary of `pods` (indices into the test data sets,
// repeats allowed) of `estimates` (2J rows per test data set).
std::vector<CvSummaryRow> pooled(const std::vector<CvEstimate>& estimates,
                                 const std::vector<int>& pods, int npop) {
  std::vector<CvEstimate> chosen;
  chosen.reserve(pods.size() * 2 * npop);
  for (int i : pods)
    chosen.insert(chosen.end(), estimates.begin() + static_cast<long>(i) * 2 * npop,
                  estimates.begin() + static_cast<long>(i + 1) * 2 * npop);
  std::vector<CvSummaryRow> rows = summarise_cross_validation(chosen, npop);
  return {rows[rows.size() - 2], rows.back()};
}

void report(const char* design, const char* method, const std::vector<CvEstimate>& estimates,
            int nb_pods, int npop, double seconds) {
  std::vector<int> all(nb_pods);
  for (int i = 0; i < nb_pods; ++i) all[i] = i;
  const std::vector<CvSummaryRow> point = pooled(estimates, all, npop);
  // Bootstrap over the test data sets (the populations of one data set stay together).
  MTRand g;
  seed_block_generator(g, 20260101u, 0, 0);
  std::vector<double> sum(4, 0.0), sum2(4, 0.0);
  std::vector<int> pick(nb_pods);
  for (int b = 0; b < BOOTSTRAP_RESAMPLES; ++b) {
    for (int& i : pick) i = static_cast<int>(g.randExc() * nb_pods);
    const std::vector<CvSummaryRow> rows = pooled(estimates, pick, npop);
    const double v[4] = {rows[0].prediction_error_adjusted, rows[0].coverage_adjusted,
                         rows[1].prediction_error_adjusted, rows[1].coverage_adjusted};
    for (int k = 0; k < 4; ++k) {
      sum[k] += v[k];
      sum2[k] += v[k] * v[k];
    }
  }
  double se[4];
  for (int k = 0; k < 4; ++k) {
    const double mean = sum[k] / BOOTSTRAP_RESAMPLES;
    se[k] = std::sqrt(std::max(0.0, sum2[k] / BOOTSTRAP_RESAMPLES - mean * mean));
  }
  std::fprintf(stderr,
               "%-14s %-10s %4d  Fis PE %.3f (%.3f) cov %.3f (%.3f)  Fst PE %.4f (%.4f) cov %.3f "
               "(%.3f)  %.0f s\n",
               design, method, nb_pods, point[0].prediction_error_adjusted, se[0],
               point[0].coverage_adjusted, se[1], point[1].prediction_error_adjusted, se[2],
               point[1].coverage_adjusted, se[3], seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "Usage: %s LOCI SIZES SIMS PODS [THREADS] [SEED]\n", argv[0]);
    return 1;
  }
  const int loci = std::atoi(argv[1]);
  std::vector<int> sizes;
  {
    std::stringstream list(argv[2]);
    std::string item;
    while (std::getline(list, item, ',')) sizes.push_back(std::atoi(item.c_str()));
  }
  const long long sims = std::atoll(argv[3]);
  const int nb_pods = std::atoi(argv[4]);
  // The job of the design: the default configuration but for the threads and the method.
  Job job;
  job.nb_procs = argc > 5 ? std::atoi(argv[5]) : 2;
  const uint32_t seed = argc > 6 ? static_cast<uint32_t>(std::atoll(argv[6])) : 1u;
  if (loci < 1 || sizes.empty() || sims < 1000 || nb_pods < 2 || nb_pods > sims) {
    std::fprintf(stderr, "method_accuracy: invalid arguments\n");
    return 1;
  }
  // The design as the input reader would leave it (the observed statistics are not used:
  // every test data set comes from the table).
  job.I = loci;
  job.J = static_cast<int>(sizes.size());
  const int I = job.I, J = job.J;
  job.pop_target.assign(static_cast<size_t>(J) * I, LocusRecord{0, 0, 0.0});
  for (int p = 0; p < J; ++p)
    for (int l = 0; l < I; ++l) job.pop_target[job.record_index(p, l)].n = sizes[p];
  job.target_fis.assign(static_cast<size_t>(J) * job.nb_class_fis, 0.0);
  job.target_fst.assign(static_cast<size_t>(J) * job.nb_class_fst, 0.0);
  std::string design =
      std::to_string(J) + "x" + std::to_string(I) + "x" +
      (std::all_of(sizes.begin(), sizes.end(), [&](int n) { return n == sizes[0]; })
           ? std::to_string(sizes[0])
           : std::string(argv[2]));

  // The reference table, as a job of -method joint simulates it.
  job.estimation_method = EstimationMethod::joint;
  Run run(job);
  run.job_seed = seed;
  run.block_size = choose_block_size(I, J, sims);
  prepare_reference_table(
      job, run.reference_table, sims, reference_table_memory_limit(),
      joint_feature_bytes(sims, J, job.nb_class_fis, job.nb_class_fst, job.nb_procs));
  auto t0 = std::chrono::steady_clock::now();
  run.pilot_stream = STREAM_JOINT_TABLE;
  run_simulation(run, true, sims);
  const double table_seconds = seconds_since(t0);
  t0 = std::chrono::steady_clock::now();
  const JointFeatures features = prepare_joint_features(job, run.reference_table);
  const double feature_seconds = seconds_since(t0);
  std::fprintf(stderr, "%s: table of %lld simulations in %.0f s, features in %.1f s\n",
               design.c_str(), sims, table_seconds, feature_seconds);

  const std::vector<long long> pods = choose_pseudo_observed(sims, nb_pods, seed);
  t0 = std::chrono::steady_clock::now();
  const std::vector<CvEstimate> regression =
      cross_validate(run.reference_table, pods, static_cast<long long>(job.ratio * sims),
                     job.hpdi_pc, job.nb_procs);
  report(design.c_str(), "regression", regression, nb_pods, J, seconds_since(t0));
  t0 = std::chrono::steady_clock::now();
  const std::vector<CvEstimate> joint =
      joint_cross_validate(run.reference_table, features, pods,
                           joint_sample_size(features, job.ratio), job.hpdi_pc, job.nb_procs);
  report(design.c_str(), "joint", joint, nb_pods, J, seconds_since(t0));
  return 0;
}
