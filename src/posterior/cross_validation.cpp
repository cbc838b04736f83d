// SPDX-License-Identifier: GPL-3.0-or-later
// Cross-validation of the estimation by leaving one simulated data set out at a time.
//
// A pseudo-observed data set is a row of the reference table (the pilot replicates, drawn
// from the prior) whose parameters are known. Its statistics play the observed statistics:
// for each population and parameter, the `sample_size` rows nearest to it by the same
// distance as the rejection step (sum of squared statistic differences) form the accepted
// sample, with the threshold at the next row's distance; they are adjusted by the same
// weighted regression and summarised by the same mean and HPDI as the observed data. The
// pseudo-observed row itself is left out of its table. The summaries follow the
// cross-validation of the ABC literature: prediction error sum (estimate - true)^2 /
// (N var(true)) (1 for an estimate no better than the prior mean) and the coverage of the
// HPDI (Csillery, Francois and Blum, Methods Ecol. Evol. 3 (2012) 475-479).
#include "posterior/cross_validation.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <new>
#include <sstream>

#include "core/output_file.h"
#include "core/output_names.h"
#include "core/parallel.h"
#include "core/progress_gauge.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"
#include "posterior/figures.h"
#include "posterior/posterior_stats.h"
#include "posterior/regression.h"
#include "posterior/written_values.h"
#include "random/block_seed.h"

namespace {

std::string parameter_label(int parameter, int npop) {
  return (parameter < npop ? "Fis" : "Fst") + std::to_string(parameter % npop + 1);
}

// Scratch of one estimating thread, reused from estimate to estimate.
struct CvWorkspace {
  std::vector<double> distance;  // to every row of the table
  std::vector<long long> order;  // rows other than the pseudo-observed one
  RegressionDesign design;
  std::vector<float> unadjusted;
  EstimateScratch scratch;
};

// The posterior mean and HPDI of a sample (the sample is sorted in place).
void mean_and_hpdi(std::vector<float>& sample, double coverage, double* mean, double* low,
                   double* high) {
  const int n = static_cast<int>(sample.size());
  *mean = sample_moments(sample.data(), nullptr, n).mean;
  std::sort(sample.begin(), sample.end());
  narrowest_interval(sample.data(), n, coverage, low, high);
}

// Fills the design of the `sample_size` rows nearest to the pseudo-observed row `pod` for
// population p and the parameter (0 Fis, 1 Fst), and their unadjusted values.
void accept_nearest(const ReferenceTable& table, long long pod, int parameter, int p,
                    long long sample_size, CvWorkspace& ws) {
  const int nc = table.classes(parameter);
  const float* observed = table.stats(parameter, p, pod);
  ws.distance.resize(table.size);
  ws.order.clear();
  for (long long r = 0; r < table.size; ++r) {
    if (r == pod) continue;
    ws.distance[r] = squared_distance(table.stats(parameter, p, r), observed, nc);
    ws.order.push_back(r);
  }
  const double threshold = select_nearest(ws.distance, ws.order, sample_size);

  RegressionDesign& d = ws.design;
  const int n = static_cast<int>(sample_size);
  d.n = n;
  d.p = nc;
  d.x.resize(static_cast<size_t>(n) * nc);
  d.y.resize(n);
  d.w.resize(n);
  ws.unadjusted.resize(n);
  for (int i = 0; i < n; ++i) {
    const long long r = ws.order[i];
    const float* s = table.stats(parameter, p, r);
    for (int c = 0; c < nc; ++c)
      d.x[static_cast<size_t>(i) * nc + c] =
          static_cast<float>(static_cast<double>(s[c]) - observed[c]);
    const double theta = off_bounds(table.parameter(parameter, p, r));
    d.y[i] = logit(theta);
    d.w[i] = kernel_weight(std::sqrt(ws.distance[r]), threshold);
    ws.unadjusted[i] = static_cast<float>(theta);
  }
}

void estimate(const ReferenceTable& table, long long pod, int parameter, int p,
              long long sample_size, double coverage, CvWorkspace& ws, CvEstimate& e) {
  accept_nearest(table, pod, parameter, p, sample_size, ws);
  score_estimate(table.parameter(parameter, p, pod), ws.design, ws.unadjusted, coverage, ws.scratch,
                 e);
}

// The progress of the estimation: " 10%" ... " 100%" on standard output.
class CvGauge {
 public:
  explicit CvGauge(int total) : total_(total) {}
  void one_done() {
    // The count and the printing under one lock, so that no tenth is skipped.
    std::lock_guard<std::mutex> lock(mutex_);
    gauge_.show(++done_ * 10 / total_ * 10);
  }

 private:
  std::mutex mutex_;
  PercentGauge gauge_;
  int total_, done_ = 0;
};

// One estimate against its truth, with the interval that should hold it.
struct Prediction {
  double truth, estimate, low, high;
};

// Prediction error and coverage of a set of predictions (NaN when there are none, or, for
// the error, when the truth has no spread).
void score(const std::vector<Prediction>& predictions, double* error, double* coverage) {
  double sum_truth = 0;
  for (const Prediction& q : predictions) sum_truth += q.truth;
  const double mean_truth = sum_truth / predictions.size();
  double spread = 0, squared_error = 0, held = 0;
  for (const Prediction& q : predictions) {
    spread += (q.truth - mean_truth) * (q.truth - mean_truth);
    squared_error += (q.estimate - q.truth) * (q.estimate - q.truth);
    if (q.low <= q.truth && q.truth <= q.high) ++held;
  }
  *error = spread > 0 ? squared_error / spread : NAN;
  *coverage = predictions.empty() ? NAN : held / predictions.size();
}

template <typename Selected>
CvSummaryRow summarise(const std::string& label, const std::vector<CvEstimate>& estimates,
                       Selected selected) {
  std::vector<Prediction> adjusted, unadjusted;
  for (const CvEstimate& e : estimates) {
    if (!selected(e)) continue;
    unadjusted.push_back(
        {e.truth, e.mean_unadjusted, e.hpdi_low_unadjusted, e.hpdi_high_unadjusted});
    if (!std::isnan(e.mean_adjusted))
      adjusted.push_back({e.truth, e.mean_adjusted, e.hpdi_low, e.hpdi_high});
  }
  CvSummaryRow row;
  row.label = label;
  score(adjusted, &row.prediction_error_adjusted, &row.coverage_adjusted);
  score(unadjusted, &row.prediction_error_unadjusted, &row.coverage_unadjusted);
  return row;
}

void write_cv_file(const Job& job, const std::vector<CvEstimate>& estimates, int npop) {
  OutputFile out(cv_file_name(job));
  if (!out.is_open()) fail("Cannot create output file %s", cv_file_name(job).c_str());
  std::ostream& s = out.stream();
  s << "pod parameter true mean_adjusted mean_unadjusted hpdi_low hpdi_high\n";
  for (const CvEstimate& e : estimates)
    s << e.pod << " " << parameter_label(e.parameter, npop) << " " << written(e.truth) << " "
      << written(e.mean_adjusted) << " " << written(e.mean_unadjusted) << " " << written(e.hpdi_low)
      << " " << written(e.hpdi_high) << "\n";
  if (!out.commit()) fail("Cannot write output file %s", cv_file_name(job).c_str());
}

void write_cv_summary_file(const Job& job, const std::vector<CvSummaryRow>& rows) {
  OutputFile out(cv_summary_file_name(job));
  if (!out.is_open()) fail("Cannot create output file %s", cv_summary_file_name(job).c_str());
  std::ostream& s = out.stream();
  s << "parameter prediction_error_adjusted prediction_error_unadjusted coverage_adjusted "
       "coverage_unadjusted\n";
  for (const CvSummaryRow& r : rows)
    s << r.label << " " << written(r.prediction_error_adjusted) << " "
      << written(r.prediction_error_unadjusted) << " " << written(r.coverage_adjusted) << " "
      << written(r.coverage_unadjusted) << "\n";
  if (!out.commit()) fail("Cannot write output file %s", cv_summary_file_name(job).c_str());
}

}  // namespace

double squared_distance(const float* x, const float* y, int n) {
  double sum = 0.0;
  for (int c = 0; c < n; ++c) {
    const double d = static_cast<double>(x[c]) - y[c];
    sum += d * d;
  }
  return sum;
}

double select_nearest(const std::vector<double>& distance, std::vector<long long>& order,
                      long long count) {
  // Ascending distance with NaN (a statistic of 0/0) after every number, ties by row, so
  // that the nearest rows are the same whatever the sort does with equal keys.
  auto nearer = [&distance](long long a, long long b) {
    const double x = distance[a], y = distance[b];
    if (std::isnan(x) != std::isnan(y)) return std::isnan(y);
    if (x != y && !std::isnan(x)) return x < y;
    return a < b;
  };
  std::nth_element(order.begin(), order.begin() + count, order.end(), nearer);
  const double threshold = distance[order[count]];
  std::sort(order.begin(), order.begin() + count);
  return threshold;
}

void score_estimate(double truth, const RegressionDesign& d, std::vector<float>& unadjusted,
                    double coverage, EstimateScratch& scratch, CvEstimate& e) {
  e.truth = as_written(truth);

  double mean, low, high;
  mean_and_hpdi(unadjusted, coverage, &mean, &low, &high);
  e.mean_unadjusted = as_written(mean);
  e.hpdi_low_unadjusted = as_written(low);
  e.hpdi_high_unadjusted = as_written(high);

  e.mean_adjusted = e.hpdi_low = e.hpdi_high = NAN;
  // A fit without more draws than coefficients, or one that fails, leaves the adjusted
  // estimate undetermined; the job's own regression would have stopped the run, but one
  // pseudo-observed set out of many should not.
  if (d.n < d.p + 1) return;
  FitWorkspace fit(d.n, d.p);
  if (fit_and_adjust_rows(d, fit, scratch.slopes, scratch.adjusted) != 0) return;
  mean_and_hpdi(scratch.adjusted, coverage, &mean, &low, &high);
  e.mean_adjusted = as_written(mean);
  e.hpdi_low = as_written(low);
  e.hpdi_high = as_written(high);
}

double reference_table_bytes(long long size, int npop, int nc_fis, int nc_fst) {
  return static_cast<double>(size) * npop * (2.0 + nc_fis + nc_fst) * sizeof(float);
}

double reference_table_memory_limit() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 1e300;  // unknown: let the allocation decide
  return 0.75 * static_cast<double>(pages) * page_size;
}

void prepare_reference_table(const Job& job, ReferenceTable& t, long long size, double memory_limit,
                             double extra_bytes) {
  const double bytes =
      reference_table_bytes(size, job.J, job.nb_class_fis, job.nb_class_fst) + extra_bytes;
  const double gib = 1024.0 * 1024.0 * 1024.0;
  const bool joint = job.estimation_method == EstimationMethod::joint;
  // The analyses that asked for the table, for the messages.
  const char* what =
      joint ? "-method joint: its reference table"
      : job.cv_count > 0 && job.gof_count > 0
          ? "the cross-validation and the goodness-of-fit test: their reference table"
      : job.cv_count > 0 ? "the cross-validation: its reference table"
                         : "the goodness-of-fit test: its reference table";
  const char* advice = joint ? "lower -sims"
                       : job.cv_count > 0 && job.gof_count > 0
                           ? "reduce -n or raise -ar, or leave out -cv and -gof"
                       : job.cv_count > 0 ? "reduce -n or raise -ar, or leave out -cv"
                                          : "reduce -n or raise -ar, or leave out -gof";
  if (bytes > memory_limit)
    fail(
        "Not enough memory for %s of %lld simulations in %d populations needs %.2f GiB, more "
        "than the %.2f GiB it may take (%s)",
        what, size, job.J, bytes / gib, memory_limit / gib, advice);
  t.size = size;
  t.npop = job.J;
  t.nc_fis = job.nb_class_fis;
  t.nc_fst = job.nb_class_fst;
  try {
    t.parameters.assign(static_cast<size_t>(2) * job.J * size, 0.0f);
    t.stats_fis.assign(static_cast<size_t>(job.J) * size * job.nb_class_fis, 0.0f);
    t.stats_fst.assign(static_cast<size_t>(job.J) * size * job.nb_class_fst, 0.0f);
  } catch (const std::bad_alloc&) {
    t = ReferenceTable();
    fail("Not enough memory for %s of %lld simulations in %d populations needs %.2f GiB (%s)", what,
         size, job.J, bytes / gib, advice);
  }
}

std::vector<long long> choose_pseudo_observed(long long table_size, int count, uint32_t seed) {
  return choose_table_rows(table_size, count, seed, STREAM_CROSS_VALIDATION);
}

std::vector<long long> choose_table_rows(long long table_size, int count, uint32_t seed,
                                         uint32_t stream) {
  MTRand g;
  seed_block_generator(g, seed, stream, 0);
  // The first `count` steps of a Fisher-Yates shuffle: distinct rows, each equally likely.
  std::vector<long long> rows(table_size);
  for (long long r = 0; r < table_size; ++r) rows[r] = r;
  for (int i = 0; i < count; ++i) {
    // randExc() is in [0, 1), so the pick stays below table_size.
    const long long j = i + static_cast<long long>(g.randExc() * (table_size - i));
    std::swap(rows[i], rows[j]);
  }
  rows.resize(count);
  return rows;
}

std::vector<CvEstimate> estimate_pods(int nb_pods, int npop, int threads,
                                      const std::function<void(int, CvEstimate*)>& estimate_pod) {
  std::vector<CvEstimate> estimates(static_cast<size_t>(nb_pods) * 2 * npop);
  std::atomic<int> next{0};
  CvGauge gauge(nb_pods);
  auto work = [&]() {
    try {
      for (int i = next++; i < nb_pods; i = next++) {
        CvEstimate* rows = &estimates[static_cast<size_t>(i) * 2 * npop];
        for (int parameter = 0; parameter < 2 * npop; ++parameter) {
          rows[parameter].pod = i + 1;
          rows[parameter].parameter = parameter;
        }
        estimate_pod(i, rows);
        gauge.one_done();
      }
    } catch (const std::bad_alloc&) {
      fail("Out of memory in the cross-validation");
    }
  };
  run_on_threads(threads, nb_pods, work);
  return estimates;
}

std::vector<CvEstimate> cross_validate(const ReferenceTable& table,
                                       const std::vector<long long>& pods, long long sample_size,
                                       double coverage, int threads) {
  const int npop = table.npop;
  if (sample_size < 1 || sample_size + 1 > table.size - 1)
    fail("Bug detected: cross-validation samples of %lld rows from a table of %lld", sample_size,
         table.size);
  // One workspace per pseudo-observed set: its scratch is small beside its 2J regressions.
  return estimate_pods(static_cast<int>(pods.size()), npop, threads, [&](int i, CvEstimate* rows) {
    CvWorkspace ws;
    for (int parameter = 0; parameter < 2 * npop; ++parameter)
      estimate(table, pods[i], parameter / npop, parameter % npop, sample_size, coverage, ws,
               rows[parameter]);
  });
}

std::vector<CvSummaryRow> summarise_cross_validation(const std::vector<CvEstimate>& estimates,
                                                     int npop) {
  std::vector<CvSummaryRow> rows;
  for (int parameter = 0; parameter < 2 * npop; ++parameter)
    rows.push_back(
        summarise(parameter_label(parameter, npop), estimates,
                  [parameter](const CvEstimate& e) { return e.parameter == parameter; }));
  rows.push_back(
      summarise("Fis", estimates, [npop](const CvEstimate& e) { return e.parameter < npop; }));
  rows.push_back(
      summarise("Fst", estimates, [npop](const CvEstimate& e) { return e.parameter >= npop; }));
  return rows;
}

std::string cv_verdict(const CvSummaryRow& row, double coverage) {
  std::ostringstream s;
  s.precision(2);
  s << std::fixed;
  const std::string& name = row.label;
  if (std::isnan(row.prediction_error_adjusted)) {
    s << name << ": the prediction error could not be computed (no adjusted estimates)";
    return s.str();
  }
  const double nominal = std::round(100 * coverage);
  s << name << ": prediction error " << row.prediction_error_adjusted << "; the "
    << static_cast<int>(nominal) << "% HPDI holds "
    << static_cast<int>(std::round(100 * row.coverage_adjusted)) << "% of the true values: ";
  if (row.prediction_error_adjusted <= CV_WELL_ESTIMATED)
    s << "well estimated by these data";
  else if (row.prediction_error_adjusted <= CV_SAYS_LITTLE)
    s << "only partly determined by these data; read its posterior with care";
  else
    s << "these data say little about " << name
      << ": its posterior mostly repeats the prior, whatever the true value";
  if (row.coverage_adjusted < coverage - CV_COVERAGE_SHORTFALL)
    s << "; its HPDI is too narrow (it holds fewer true values than it claims)";
  if (row.prediction_error_unadjusted < row.prediction_error_adjusted - 0.05)
    s << "; the unadjusted estimate does better here (prediction error "
      << row.prediction_error_unadjusted << ")";
  return s.str();
}

std::vector<CvSummaryRow> report_cross_validation(const Job& job,
                                                  const std::vector<CvEstimate>& estimates,
                                                  std::time_t start) {
  const std::vector<CvSummaryRow> summary = summarise_cross_validation(estimates, job.J);
  write_cv_file(job, estimates, job.J);
  write_cv_summary_file(job, summary);
  if (job.plot_figures) write_cv_figure(job, estimates, summary, job.J);

  std::printf("\n\nCross-validation (%s, %s):\n", cv_file_name(job).c_str(),
              cv_summary_file_name(job).c_str());
  for (size_t i = summary.size() - 2; i < summary.size(); ++i)
    std::printf("%s\n", cv_verdict(summary[i], job.hpdi_pc).c_str());
  std::printf("\nCross-validation made in %lld seconds\n",
              static_cast<long long>(std::time(nullptr) - start));
  std::fflush(stdout);
  return summary;
}

std::vector<CvSummaryRow> run_cross_validation(const Job& job,
                                               const ReferenceTable& reference_table,
                                               long long sample_size, uint32_t job_seed) {
  if (!reference_table.kept()) fail("Bug detected: cross-validation without a reference table");
  const std::time_t start = std::time(nullptr);
  std::printf("\nCross-validation on %d pseudo-observed data sets...", job.cv_count);
  std::fflush(stdout);
  const std::vector<long long> pods =
      choose_pseudo_observed(reference_table.size, job.cv_count, job_seed);
  const std::vector<CvEstimate> estimates =
      cross_validate(reference_table, pods, sample_size, job.hpdi_pc, job.nb_procs);
  return report_cross_validation(job, estimates, start);
}
