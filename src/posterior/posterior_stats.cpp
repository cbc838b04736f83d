// SPDX-License-Identifier: GPL-3.0-or-later
// Posterior summaries of the adjusted samples.
//
// HPDI: among the m windows of n - m + 1 consecutive sorted values, the narrowest (the
// sample-based interval of Chen and Shao, J. Comput. Graph. Stat. 8 (1999) 69-92).
// Mode: the highest point of a Gaussian kernel density estimate on a grid, bandwidth by
// Silverman's rule of thumb h = 1.06 sd n^(-1/5) (Density Estimation, 1986, eq. 3.28).
#include "posterior/posterior_stats.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

#include "core/output_file.h"
#include "errors.h"
#include "job.h"
#include "observed_data.h"

namespace {

// Grid points of the density estimate: 200 resolves the mode to half a percent of the
// sample's range, finer than the 3 significant digits it is reported with.
constexpr int GRID_POINTS = 200;
constexpr double SQRT_2PI = 2.5066282746310002;
// Stand-in bandwidth for a sample without spread (every value equal).
constexpr double ZERO_SPREAD_BANDWIDTH = 0.01;

template <typename T>
SampleMoments moments_of(const T* values, const int* counts, size_t n) {
  double sum = 0.0, total = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double c = counts ? counts[i] : 1;
    sum += c * values[i];
    total += c;
  }
  SampleMoments m;
  m.mean = sum / total;
  double ss = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double c = counts ? counts[i] : 1;
    ss += c * ((values[i] - m.mean) * (values[i] - m.mean));
  }
  m.variance = total > 1 ? ss / (total - 1) : NAN;
  return m;
}

}  // namespace

SampleMoments sample_moments(const float* values, const int* counts, size_t n) {
  return moments_of(values, counts, n);
}

SampleMoments sample_moments(const double* values, const int* counts, size_t n) {
  return moments_of(values, counts, n);
}

int minindex(double* values, int count) {
  int best = 0;
  for (int i = 1; i < count; ++i)
    if (values[i] < values[best]) best = i;
  return best;
}

double narrowest_interval(const float* sorted, int n, double coverage, double* low, double* high) {
  // The 1e-9 keeps n (1 - P) that is an integer in exact arithmetic from rounding up a step.
  double m_real = std::ceil(n * (1.0 - coverage) - 1e-9);
  int m = 1;
  if (m_real > 1) m = m_real < n ? static_cast<int>(m_real) : n;
  std::vector<double> width(m);
  for (int i = 0; i < m; ++i) width[i] = static_cast<double>(sorted[n - m + i]) - sorted[i];
  const int k = minindex(width.data(), m);
  *low = sorted[k];
  *high = sorted[n - m + k];
  return width[k];
}

double density_bandwidth(double variance, int n) {
  double h = 1.06 * std::sqrt(variance) * std::pow(n, -0.2);
  return h == 0 ? ZERO_SPREAD_BANDWIDTH : h;
}

void kernel_density(const float* v, int n, double h, const double* grid, int points,
                    double* density) {
  for (int g = 0; g < points; ++g) density[g] = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int g = 0; g < points; ++g) {
      double u = (grid[g] - v[i]) / h;
      density[g] += std::exp(-u * u / 2) / SQRT_2PI;
    }
  }
}

void calculate_stats(float* v, double coverage, int n, double* mean, double* variance,
                     double* hpdi_low, double* hpdi_high, double* mode) {
  if (n < 1) fail("Bug detected: posterior summaries of an empty sample");
  double max = -1.7e308, min = 1.7e308;
  for (int i = 0; i < n; ++i) {
    if (v[i] > max) max = v[i];
    if (v[i] < min) min = v[i];
  }
  const SampleMoments moments = sample_moments(v, nullptr, n);
  // One value has no spread to estimate; 0 rather than 0/0.
  const double m_var = n > 1 ? moments.variance : 0.0;

  std::sort(v, v + n);
  narrowest_interval(v, n, coverage, hpdi_low, hpdi_high);

  const double h = density_bandwidth(m_var, n);
  double grid[GRID_POINTS], density[GRID_POINTS];
  for (int g = 0; g < GRID_POINTS; ++g) grid[g] = g * (max - min) / GRID_POINTS + min;
  kernel_density(v, n, h, grid, GRID_POINTS, density);
  int best = 0;
  for (int g = 1; g < GRID_POINTS; ++g)
    if (density[g] > density[best]) best = g;

  *mean = moments.mean;
  *variance = m_var;
  *mode = grid[best];
}

std::vector<ParameterEstimate> summarise_posterior(const Job& job, PosteriorSamples& posterior,
                                                   bool sort_in_place) {
  std::vector<std::vector<float>>& reg_fis = posterior.reg_fis;
  std::vector<std::vector<float>>& reg_fst = posterior.reg_fst;
  if (reg_fis.size() != static_cast<size_t>(job.J) || reg_fst.size() != static_cast<size_t>(job.J))
    fail("Bug detected: statistics before the posterior samples");
  std::vector<ParameterEstimate> estimates;
  for (int t = 0; t < 2; ++t) {
    std::vector<std::vector<float>>& samples = t == 0 ? reg_fis : reg_fst;
    for (int k = 0; k < job.J; ++k) {
      std::vector<float> copy;
      if (!sort_in_place) copy = samples[k];
      std::vector<float>& sample = sort_in_place ? samples[k] : copy;
      ParameterEstimate e;
      e.label = (t == 0 ? "Fis" : "Fst") + std::to_string(k + 1);
      calculate_stats(sample.data(), job.hpdi_pc, static_cast<int>(sample.size()), &e.mean,
                      &e.variance, &e.hpdi_low, &e.hpdi_high, &e.mode);
      estimates.push_back(e);
    }
  }
  return estimates;
}

void write_statistics_file(const Job& job, const std::vector<ParameterEstimate>& estimates) {
  const std::string name = job.odir + job.stats_prefix;
  // A negative coverage would ask for more candidate intervals than there are values.
  if (!(job.hpdi_pc >= 0)) fail("Invalid HPDI coverage %g (must not be negative)", job.hpdi_pc);
  OutputFile file(name);
  if (!file.is_open()) fail("Cannot create statistics file %s", name.c_str());
  std::ofstream& out = file.stream();
  // In double from the widened float: 0.945f is 0.94499999..., announced as 94.
  out << "      mean "
      << " mode"
      << " variance " << std::round(100 * static_cast<double>(job.hpdi_pc)) << "% HPDI\n";
  out.precision(3);
  for (const ParameterEstimate& e : estimates)
    out << e.label << " " << e.mean << " " << e.mode << " " << e.variance << " [" << e.hpdi_low
        << ";" << e.hpdi_high << "]\n";
  if (!file.commit()) fail("Cannot write statistics file %s", name.c_str());
}
