// SPDX-License-Identifier: GPL-3.0-or-later
#include "posterior/goodness_of_fit.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <new>
#include <sstream>

#include "core/output_file.h"
#include "core/output_names.h"
#include "core/parallel.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"
#include "posterior/cross_validation.h"
#include "posterior/figures.h"
#include "posterior/written_values.h"
#include "predictive_draws.h"
#include "random/block_seed.h"
#include "simulation/predictive_check.h"

namespace {

// Above this many populations the figure shows one projection per statistic set, over the
// statistics of all populations, instead of one per population and set.
constexpr int PROJECTIONS_PER_POPULATION_UP_TO = 8;
// Rows of the table that the projections are fitted to, and that each panel shows: enough
// for a stable pair of components and a readable cloud, few enough that sixty populations
// stay a file of a few megabytes.
constexpr int PROJECTION_FIT_ROWS = 1000;
constexpr int PROJECTION_POINTS = 300;
// Power iterations per component: the figure needs the plane, not digits of the vectors.
constexpr int POWER_ITERATIONS = 200;

const char* const PPC_DESCRIPTIONS[PPC_STATISTICS] = {
    "the share of loci where every individual shows the band",
    "the share of loci where no individual shows the band",
    "the mean band frequency",
    "the variance of the band frequencies over loci",
    "the mean correlation of its band frequencies with the other populations",
};

std::string set_name(const GofResult& r) { return r.fst ? "Fst statistics" : "Fis statistics"; }

// A p-value in words: three significant digits, so that one just below the level never
// shows as the level itself (0.0495, not 0.05).
std::string shown_p(double p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3g", p);
  return buf;
}

void write_gof_file(const Job& job, const std::vector<GofResult>& results) {
  OutputFile out(gof_file_name(job));
  if (!out.is_open()) fail("Cannot create output file %s", gof_file_name(job).c_str());
  std::ostream& s = out.stream();
  s << "parameter D_observed null_median null_q95 p_value\n";
  for (const GofResult& r : results)
    s << r.label << " " << written(r.observed) << " " << written(r.null_median) << " "
      << written(r.null_q95) << " " << written(r.p_value) << "\n";
  if (!out.commit()) fail("Cannot write output file %s", gof_file_name(job).c_str());
}

void write_null_file(const Job& job, const std::vector<GofResult>& results,
                     const std::vector<long long>& rows) {
  OutputFile out(gof_null_file_name(job));
  if (!out.is_open()) fail("Cannot create output file %s", gof_null_file_name(job).c_str());
  std::ostream& s = out.stream();
  s << "pod row";
  for (const GofResult& r : results) s << " " << r.label;
  s << "\n";
  for (size_t i = 0; i < rows.size(); ++i) {
    s << i + 1 << " " << rows[i] + 1;
    for (const GofResult& r : results) s << " " << written(r.null[i]);
    s << "\n";
  }
  if (!out.commit()) fail("Cannot write output file %s", gof_null_file_name(job).c_str());
}

void write_ppc_file(const Job& job, const std::vector<PpcRow>& rows) {
  OutputFile out(ppc_file_name(job));
  if (!out.is_open()) fail("Cannot create output file %s", ppc_file_name(job).c_str());
  std::ostream& s = out.stream();
  s << "population statistic observed predictive_mean predictive_low predictive_high "
       "p_value\n";
  for (const PpcRow& r : rows)
    s << r.population + 1 << " " << PPC_STATISTIC_NAMES[r.statistic] << " " << written(r.observed)
      << " " << written(r.predictive_mean) << " " << written(r.predictive_low) << " "
      << written(r.predictive_high) << " " << written(r.p_value) << "\n";
  if (!out.commit()) fail("Cannot write output file %s", ppc_file_name(job).c_str());
}

// The projections of the figure: per population and set for a few populations, per set
// over every population for many.
std::vector<GofProjection> figure_projections(const std::vector<GofSet>& sets, int npop) {
  std::vector<GofProjection> out;
  if (npop <= PROJECTIONS_PER_POPULATION_UP_TO) {
    for (int p = 0; p < npop; ++p)
      for (const GofSet& s : sets)
        if (s.population == p)
          out.push_back(principal_projection(
              {&s}, "Population " + std::to_string(p + 1) + ": " + (s.fst ? "Fst" : "Fis"),
              PROJECTION_POINTS));
    return out;
  }
  for (bool fst : {false, true}) {
    std::vector<const GofSet*> group;
    for (const GofSet& s : sets)
      if (s.fst == fst) group.push_back(&s);
    out.push_back(principal_projection(
        group, std::string("All populations: ") + (fst ? "Fst" : "Fis"), PROJECTION_POINTS));
  }
  return out;
}

// Removes from v its components along the unit vectors `axes` and scales it to length 1;
// false when nothing is left.
bool orthonormalise(std::vector<double>& v, const std::vector<std::vector<double>>& axes) {
  for (const std::vector<double>& a : axes) {
    double dot = 0;
    for (size_t j = 0; j < v.size(); ++j) dot += a[j] * v[j];
    for (size_t j = 0; j < v.size(); ++j) v[j] -= dot * a[j];
  }
  double norm = 0;
  for (double x : v) norm += x * x;
  norm = std::sqrt(norm);
  if (!(norm > 0)) return false;
  for (double& x : v) x /= norm;
  return true;
}

// The M + 1 in the p-value counts the observed value among the replicates.
double tail_share(long long at_least_as_extreme, long long m) {
  return static_cast<double>(1 + at_least_as_extreme) / static_cast<double>(m + 1);
}

}  // namespace

GofSet gof_set_of(int parameter, int p) {
  GofSet s;
  s.label = (parameter == 0 ? "Fis" : "Fst") + std::to_string(p + 1);
  s.population = p;
  s.fst = parameter == 1;
  return s;
}

std::vector<GofSet> rejection_gof_sets(const ReferenceTable& table,
                                       const std::vector<double>& observed_fis,
                                       const std::vector<double>& observed_fst) {
  std::vector<GofSet> sets;
  for (int parameter = 0; parameter < 2; ++parameter) {
    const std::vector<double>& observed = parameter == 0 ? observed_fis : observed_fst;
    const int nc = table.classes(parameter);
    for (int p = 0; p < table.npop; ++p) {
      GofSet s = gof_set_of(parameter, p);
      s.rows = table.size;
      s.features = nc;
      s.reference = table.stats(parameter, p, 0);
      s.observed.assign(observed.begin() + static_cast<long>(p) * nc,
                        observed.begin() + static_cast<long>(p + 1) * nc);
      sets.push_back(std::move(s));
    }
  }
  return sets;
}

double mean_nearest_distance(const GofSet& set, const double* point, long long left_out,
                             long long nearest, std::vector<double>& scratch) {
  scratch.clear();
  const int nf = set.features;
  // With pooled rows, every row of the left-out data set goes.
  const long long period = set.data_sets > 0 ? set.data_sets : set.rows;
  const long long left_data_set = left_out < 0 ? -1 : left_out % period;
  for (long long r = 0; r < set.rows; ++r) {
    if (r % period == left_data_set) continue;
    const float* row = set.row(r);
    double sum;
    if (set.squared_distance) {
      sum = set.squared_distance(row, point);
    } else {
      sum = 0.0;
      for (int f = 0; f < nf; ++f) {
        const double d = static_cast<double>(row[f]) - point[f];
        sum += d * d;
      }
    }
    scratch.push_back(std::isnan(sum) ? std::numeric_limits<double>::infinity() : sum);
  }
  if (nearest < 1 || nearest > static_cast<long long>(scratch.size()))
    fail("Bug detected: D over %lld nearest rows of %zu", nearest, scratch.size());
  std::nth_element(scratch.begin(), scratch.begin() + (nearest - 1), scratch.end());
  // The nearest rows in ascending order, so that the sum does not depend on how the
  // selection left them.
  std::sort(scratch.begin(), scratch.begin() + nearest);
  double total = 0.0;
  for (long long i = 0; i < nearest; ++i) total += std::sqrt(scratch[i]);
  return total / static_cast<double>(nearest);
}

double gof_p_value(double observed, const std::vector<double>& null) {
  long long farther = 0;
  for (double d : null) farther += d >= observed;
  return tail_share(farther, static_cast<long long>(null.size()));
}

double sample_quantile(std::vector<double> values, double prob) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const double at = prob * static_cast<double>(values.size() - 1);
  const size_t below = static_cast<size_t>(std::floor(at));
  if (below + 1 >= values.size()) return values.back();
  const double frac = at - static_cast<double>(below);
  return values[below] + frac * (values[below + 1] - values[below]);
}

std::vector<GofResult> goodness_of_fit(const std::vector<GofSet>& sets,
                                       const std::vector<long long>& null_rows, long long nearest,
                                       int threads) {
  const int nsets = static_cast<int>(sets.size());
  const int n = static_cast<int>(null_rows.size());
  std::vector<GofResult> results(nsets);
  for (int k = 0; k < nsets; ++k) {
    results[k].label = sets[k].label;
    results[k].population = sets[k].population;
    results[k].fst = sets[k].fst;
    results[k].null.resize(n);
  }
  // Task t: set t / (n + 1), the observed data (t % (n + 1) == 0) or null row t % (n + 1) - 1.
  const int tasks = nsets * (n + 1);
  std::atomic<int> next{0};
  auto work = [&]() {
    try {
      std::vector<double> scratch, point;
      for (int t = next++; t < tasks; t = next++) {
        const GofSet& set = sets[t / (n + 1)];
        GofResult& result = results[t / (n + 1)];
        const int i = t % (n + 1) - 1;
        if (i < 0) {
          result.observed =
              as_written(mean_nearest_distance(set, set.observed.data(), -1, nearest, scratch));
          continue;
        }
        const long long null_row = set.null_offset + null_rows[i];
        const float* row = set.row(null_row);
        point.assign(row, row + set.features);
        result.null[i] =
            as_written(mean_nearest_distance(set, point.data(), null_row, nearest, scratch));
      }
    } catch (const std::bad_alloc&) {
      fail("Out of memory in the goodness-of-fit test");
    }
  };
  run_on_threads(threads, tasks, work);
  for (GofResult& r : results) {
    r.null_median = as_written(sample_quantile(r.null, 0.5));
    r.null_q95 = as_written(sample_quantile(r.null, 0.95));
    r.p_value = as_written(gof_p_value(r.observed, r.null));
  }
  return results;
}

std::string gof_verdict(const GofResult& r) {
  long long nearer = 0;
  for (double d : r.null) nearer += d < r.observed;
  const long long n = static_cast<long long>(r.null.size());
  std::ostringstream s;
  s << "Population " << r.population + 1 << " (" << set_name(r) << "): ";
  if (r.p_value >= GOF_LEVEL) {
    s << "the data lie among the data sets simulated by the model (p = " << shown_p(r.p_value)
      << "): the model fits.";
    return s.str();
  }
  s << "the data lie farther from the simulations than ";
  if (nearer == n)
    s << "all " << n;
  else
    s << static_cast<int>(std::floor(100.0 * nearer / n)) << "% of the";
  s << " data sets simulated by the model (p = " << shown_p(r.p_value)
    << "). The model does not describe this population; its estimates are not to be relied on.";
  return s.str();
}

std::string gof_warning(int population, const std::vector<const GofResult*>& failed,
                        const std::string& gof_file) {
  std::ostringstream s;
  s << "Warning: the model does not fit population " << population + 1 << ": its ";
  for (size_t i = 0; i < failed.size(); ++i) {
    if (i > 0) s << " and its ";
    s << set_name(*failed[i]) << " (p = " << shown_p(failed[i]->p_value) << ")";
  }
  s << " lie farther from the simulations than the model's own data sets do (goodness-of-fit "
       "test at the "
    << GOF_LEVEL << " level). Its estimates are not to be relied on; see \"" << gof_file << "\".";
  return s.str();
}

double predictive_p_value(double observed, const std::vector<double>& replicated) {
  if (std::isnan(observed)) return NAN;
  long long m = 0, above = 0, below = 0;
  for (double v : replicated) {
    if (std::isnan(v)) continue;
    ++m;
    above += v >= observed;
    below += v <= observed;
  }
  if (m == 0) return NAN;
  return std::min(1.0, 2.0 * std::min(tail_share(above, m), tail_share(below, m)));
}

std::vector<PpcRow> compare_predictive(const std::vector<std::vector<double>>& replicated,
                                       const std::vector<double>& observed) {
  std::vector<PpcRow> rows;
  const int npop = static_cast<int>(replicated.size());
  for (int p = 0; p < npop; ++p) {
    const size_t m = replicated[p].size() / PPC_STATISTICS;
    for (int s = 0; s < PPC_STATISTICS; ++s) {
      std::vector<double> values;
      for (size_t i = 0; i < m; ++i) {
        const double v = replicated[p][i * PPC_STATISTICS + s];
        if (!std::isnan(v)) values.push_back(v);
      }
      PpcRow r;
      r.population = p;
      r.statistic = s;
      r.observed = as_written(observed[static_cast<size_t>(p) * PPC_STATISTICS + s]);
      for (double& v : values) v = as_written(v);
      double sum = 0;
      for (double v : values) sum += v;
      r.predictive_mean = values.empty() ? NAN : as_written(sum / values.size());
      r.predictive_low = as_written(sample_quantile(values, 0.025));
      r.predictive_high = as_written(sample_quantile(values, 0.975));
      r.p_value = as_written(predictive_p_value(r.observed, values));
      rows.push_back(r);
    }
  }
  return rows;
}

GofProjection principal_projection(const std::vector<const GofSet*>& sets, const std::string& title,
                                   int points) {
  GofProjection out;
  out.title = title;
  const long long rows = sets.empty() ? 0 : sets[0]->rows;
  int d = 0;
  for (const GofSet* s : sets) d += s->features;
  const long long m = std::min<long long>(rows, PROJECTION_FIT_ROWS);
  if (m < 2 || d == 0) return out;
  // The fit rows, evenly spaced: the table's rows are independent draws from the prior, so
  // any evenly spaced subset is a sample of it. Row i, feature j at z[i * d + j].
  std::vector<double> z(static_cast<size_t>(m) * d), observed(d);
  for (long long i = 0; i < m; ++i) {
    const long long r = i * rows / m;
    int j = 0;
    for (const GofSet* s : sets) {
      const float* row = s->row(r);
      for (int f = 0; f < s->features; ++f) z[static_cast<size_t>(i) * d + j++] = row[f];
    }
  }
  {
    int j = 0;
    for (const GofSet* s : sets)
      for (int f = 0; f < s->features; ++f) observed[j++] = s->observed[f];
  }
  // Standardised features: statistics of different spread weigh alike. A feature without
  // spread is left out (scale 0).
  int varying = 0;
  for (int j = 0; j < d; ++j) {
    double mean = 0, sq = 0;
    for (long long i = 0; i < m; ++i) mean += z[static_cast<size_t>(i) * d + j];
    mean /= m;
    for (long long i = 0; i < m; ++i) {
      const double v = z[static_cast<size_t>(i) * d + j] - mean;
      sq += v * v;
    }
    const double sd = std::sqrt(sq / (m - 1));
    const double scale = sd > 0 && std::isfinite(sd) ? 1.0 / sd : 0.0;
    varying += scale > 0;
    for (long long i = 0; i < m; ++i) {
      double& v = z[static_cast<size_t>(i) * d + j];
      v = (v - mean) * scale;
    }
    observed[j] = (observed[j] - mean) * scale;
  }
  if (varying == 0) return out;
  // Power iteration on Z'Z, the second component kept orthogonal to the first. The start
  // is fixed, so the figure is the same from run to run.
  std::vector<std::vector<double>> axes;
  std::vector<double> shares;
  std::vector<double> zv(m);
  for (int component = 0; component < 2; ++component) {
    std::vector<double> v(d);
    for (int j = 0; j < d; ++j) v[j] = 1.0 + 0.37 * ((j * 7919 + component * 104729) % 13);
    double lambda = 0;
    for (int it = 0; it < POWER_ITERATIONS; ++it) {
      if (!orthonormalise(v, axes)) break;
      for (long long i = 0; i < m; ++i) {
        double s = 0;
        for (int j = 0; j < d; ++j) s += z[static_cast<size_t>(i) * d + j] * v[j];
        zv[i] = s;
      }
      std::vector<double> w(d, 0.0);
      lambda = 0;
      for (long long i = 0; i < m; ++i) {
        lambda += zv[i] * zv[i];
        for (int j = 0; j < d; ++j) w[j] += z[static_cast<size_t>(i) * d + j] * zv[i];
      }
      v.swap(w);
    }
    // A plane with no variance left (a single varying feature) keeps a zero axis.
    if (!orthonormalise(v, axes)) std::fill(v.begin(), v.end(), 0.0);
    axes.push_back(v);
    shares.push_back(lambda / (m - 1) / varying);
  }
  auto project = [&](const double* x, const std::vector<double>& a) {
    double s = 0;
    for (int j = 0; j < d; ++j) s += x[j] * a[j];
    return s;
  };
  const long long shown = std::min<long long>(m, points);
  for (long long i = 0; i < shown; ++i) {
    // Evenly over the fit rows, as those are over the table.
    const double* x = z.data() + static_cast<size_t>(i * m / shown) * d;
    out.x.push_back(project(x, axes[0]));
    out.y.push_back(project(x, axes[1]));
  }
  out.observed_x = project(observed.data(), axes[0]);
  out.observed_y = project(observed.data(), axes[1]);
  out.share_1 = shares[0];
  out.share_2 = shares[1];
  return out;
}

namespace {

// The test on `sets` of the table, with the posterior predictive check of the production
// run's kept draws when `predictive_draws` is given: files, summary and warnings.
void test_and_report(const Job& job, const ReferenceTable& reference_table,
                     const std::vector<GofSet>& sets, long long nearest, uint32_t job_seed,
                     const PredictiveDraws* predictive_draws) {
  const bool predictive = predictive_draws != nullptr;
  if (!reference_table.kept()) fail("Bug detected: goodness of fit without a reference table");
  const std::time_t start = std::time(nullptr);
  std::printf("\nGoodness of fit on %d simulated data sets...", job.gof_count);
  std::fflush(stdout);
  const std::vector<long long> null_rows =
      choose_table_rows(reference_table.size, job.gof_count, job_seed, STREAM_GOODNESS_OF_FIT);
  const std::vector<GofResult> results = goodness_of_fit(sets, null_rows, nearest, job.nb_procs);

  // The posterior predictive check: the kept draws simulated again.
  std::vector<PpcRow> ppc;
  if (predictive) {
    const std::vector<std::vector<double>> replicated =
        simulate_predictive_statistics(job, *predictive_draws, job_seed, job.nb_procs);
    std::vector<double> observed(static_cast<size_t>(job.J) * PPC_STATISTICS);
    for (int p = 0; p < job.J; ++p)
      predictive_statistics(job.pop_target.data(), job.J, job.I, p,
                            observed.data() + p * PPC_STATISTICS);
    ppc = compare_predictive(replicated, observed);
  }

  write_gof_file(job, results);
  write_null_file(job, results, null_rows);
  if (predictive) write_ppc_file(job, ppc);
  if (job.plot_figures) write_gof_figure(job, results, figure_projections(sets, job.J), job.J);

  if (predictive)
    std::printf("\n\nGoodness of fit (%s, %s, %s):\n", gof_file_name(job).c_str(),
                gof_null_file_name(job).c_str(), ppc_file_name(job).c_str());
  else
    std::printf("\n\nGoodness of fit (%s, %s):\n", gof_file_name(job).c_str(),
                gof_null_file_name(job).c_str());
  int failures = 0;
  for (const GofResult& r : results) {
    std::printf("%s\n", gof_verdict(r).c_str());
    failures += r.p_value < GOF_LEVEL;
  }
  const int tests = static_cast<int>(results.size());
  std::printf(
      "%d of %d tests fail at p < %g; if the model fitted every population, about %.1f would "
      "fail by chance alone.\n",
      failures, tests, GOF_LEVEL, GOF_LEVEL * tests);
  int ppc_failures = 0;
  for (const PpcRow& r : ppc) {
    if (!(r.p_value < PPC_LEVEL)) continue;
    ++ppc_failures;
    std::printf(
        "Posterior predictive check, population %d: %s is %s, where the posterior predicts "
        "%s to %s (p = %s).\n",
        r.population + 1, PPC_DESCRIPTIONS[r.statistic], written(r.observed).c_str(),
        written(r.predictive_low).c_str(), written(r.predictive_high).c_str(),
        shown_p(r.p_value).c_str());
  }
  if (!predictive)
    std::printf(
        "Posterior predictive check: not made with -method joint, which keeps no parameter "
        "vectors of accepted replicates.\n");
  else if (ppc_failures == 0)
    std::printf(
        "Posterior predictive check: every statistic of every population lies within what the "
        "posterior predicts (p >= %g).\n",
        PPC_LEVEL);
  std::printf("\nGoodness of fit made in %lld seconds\n",
              static_cast<long long>(std::time(nullptr) - start));
  std::fflush(stdout);

  for (int p = 0; p < job.J; ++p) {
    std::vector<const GofResult*> failed;
    for (const GofResult& r : results)
      if (r.population == p && r.p_value < GOF_LEVEL) failed.push_back(&r);
    if (!failed.empty())
      std::fprintf(stderr, "%s\n", gof_warning(p, failed, gof_file_name(job)).c_str());
  }
  std::fflush(stderr);
}

}  // namespace

void run_goodness_of_fit(const Job& job, const ReferenceTable& reference_table,
                         const PredictiveDraws& predictive_draws, long long nearest,
                         uint32_t job_seed) {
  test_and_report(job, reference_table,
                  rejection_gof_sets(reference_table, job.target_fis, job.target_fst), nearest,
                  job_seed, &predictive_draws);
}

void run_goodness_of_fit(const Job& job, const ReferenceTable& reference_table,
                         const std::vector<GofSet>& sets, long long nearest, uint32_t job_seed) {
  test_and_report(job, reference_table, sets, nearest, job_seed, nullptr);
}
