// SPDX-License-Identifier: GPL-3.0-or-later
// The simulation model against its probability law. Band counts simulated at chosen
// parameters are compared with the probabilities of the beta-binomial mixture, computed
// here by numerical integration over the ancestral and the population band frequencies;
// the band probability is checked against the genotype frequencies under inbreeding. None
// of the expected values replays the simulation's own draws, so a model error made
// consistently in the simulation and in its replay still fails here.
#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>
#include <gsl/gsl_randist.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config.h"
#include "observed_data.h"
#include "run_state.h"
#include "simulation/worker.h"
#include "support.h"

namespace {

// An individual lacks the band only when it is homozygous for the null allele, of
// frequency 1 - q: (1 - q)^2 under random mating, plus Fis q(1 - q) that inbreeding moves
// from the heterozygotes to each homozygote.
double no_band(double q, double fis) { return (1 - q) * (1 - q) + fis * q * (1 - q); }

// Adaptive quadrature (GSL's QAGS/QAGP) with its own workspace, so that integrals can nest.
class Quadrature {
 public:
  explicit Quadrature(double epsrel)
      : epsrel_(epsrel),
        ws_(gsl_integration_workspace_alloc(kLimit), gsl_integration_workspace_free) {}

  // E[g(x)] for x ~ Beta(alpha, beta). A shape below 1 makes the density unbounded at its
  // end, and small shapes put nearly all the mass within 1e-100 of the ends (a population
  // fixed for one allele), out of reach of any quadrature in x. So a half of (0, 1) whose
  // shape is below 1 is integrated in t = -ln x (or -ln(1 - x)), where the density becomes
  // e^(-alpha t) times a factor near 1, up to x = e^-T = 1e-30; below that, g and the
  // factor equal their values at the end to double precision, and the rest is
  // g(0) e^(-alpha T) / alpha.
  double beta_expectation(const std::function<double(double)>& g, double alpha, double beta) {
    if (!(alpha > 0)) return g(0.0);  // the shape of a frequency that underflowed to 0
    if (!(beta > 0)) return g(1.0);
    const double log_norm = std::lgamma(alpha) + std::lgamma(beta) - std::lgamma(alpha + beta);
    const double mean = alpha / (alpha + beta);
    // Half of the integral, on the side of x = 0 when `at_zero`, else on the side of 1;
    // `s` is the shape at that end and `o` the other one.
    auto half = [&](bool at_zero, double s, double o) {
      auto point = [at_zero](double d) { return at_zero ? d : 1 - d; };  // d: distance to the end
      if (s >= 1) {
        const double m = at_zero ? mean : 1 - mean;
        return integrate(
            [&](double d) {
              return g(point(d)) *
                     std::exp((s - 1) * std::log(d) + (o - 1) * std::log1p(-d) - log_norm);
            },
            0.0, 0.5, m < 0.5 ? &m : nullptr);
      }
      const double T = 30 * std::log(10.0);
      const double body = integrate(
          [&](double t) {
            const double d = std::exp(-t);
            return g(point(d)) * std::exp((o - 1) * std::log1p(-d) - s * t - log_norm);
          },
          std::log(2.0), T, nullptr);
      return body + g(point(0.0)) * std::exp(-s * T - std::log(s) - log_norm);
    };
    return half(true, alpha, beta) + half(false, beta, alpha);
  }

 private:
  static constexpr size_t kLimit = 2000;

  // With a breakpoint `mid` (the mean of a peaked density) the interval is split there.
  double integrate(const std::function<double(double)>& f, double lo, double hi,
                   const double* mid) {
    gsl_function F;
    F.function = [](double x, void* p) {
      return (*static_cast<const std::function<double(double)>*>(p))(x);
    };
    F.params = const_cast<std::function<double(double)>*>(&f);
    double result = 0, error = 0;
    gsl_error_handler_t* previous = gsl_set_error_handler_off();
    if (mid && *mid > lo && *mid < hi) {
      double points[3] = {lo, *mid, hi};
      gsl_integration_qagp(&F, points, 3, 1e-15, epsrel_, kLimit, ws_.get(), &result, &error);
    } else {
      gsl_integration_qags(&F, lo, hi, 1e-15, epsrel_, kLimit, ws_.get(), &result, &error);
    }
    gsl_set_error_handler(previous);
    // A missed tolerance shows up in the check that the probabilities sum to 1.
    return result;
  }

  double epsrel_;
  std::unique_ptr<gsl_integration_workspace, decltype(&gsl_integration_workspace_free)> ws_;
};

// One locus of J populations with fixed parameters and sample sizes.
struct ModelCase {
  const char* why;
  std::vector<double> fis, fst;
  double a;
  std::vector<int> n;
  int bias_hidden, bias_fixed;
  unsigned long seed;
};

// The band-count vectors (k_0, ..., k_J-1) of a locus, numbered in mixed radix.
std::vector<int> counts_of(long bin, const std::vector<int>& n) {
  std::vector<int> k(n.size());
  for (size_t p = 0; p < n.size(); ++p) {
    k[p] = static_cast<int>(bin % (n[p] + 1));
    bin /= n[p] + 1;
  }
  return k;
}

long number_of_bins(const std::vector<int>& n) {
  long bins = 1;
  for (int np : n) bins *= np + 1;
  return bins;
}

bool passes_filter(const std::vector<int>& k, const ModelCase& c) {
  int t0 = 0, t1 = 0;
  for (size_t p = 0; p < k.size(); ++p) {
    t0 += c.n[p];
    t1 += k[p];
  }
  return t1 >= c.bias_hidden && t1 <= t0 - c.bias_fixed;
}

// P(k) of every bin before the filter: the ancestral frequency P ~ Beta(a, a); given P,
// each population's frequency q_p ~ Beta(theta_p P, theta_p (1 - P)) independently, with
// theta_p = 1/Fst_p - 1; given q_p, k_p ~ Binomial(n_p, 1 - no_band(q_p, Fis_p)).
std::vector<double> model_probabilities(const ModelCase& c) {
  Quadrature outer(1e-9), inner(1e-10);
  const long bins = number_of_bins(c.n);
  std::vector<double> prob(bins);
  for (long bin = 0; bin < bins; ++bin) {
    const std::vector<int> k = counts_of(bin, c.n);
    auto given_P = [&](double P) {
      double product = 1;
      for (size_t p = 0; p < k.size(); ++p) {
        const double theta = 1 / c.fst[p] - 1;
        product *= inner.beta_expectation(
            [&](double q) {
              return gsl_ran_binomial_pdf(unsigned(k[p]), 1 - no_band(q, c.fis[p]),
                                          unsigned(c.n[p]));
            },
            theta * P, theta * (1 - P));
      }
      return product;
    };
    prob[bin] = outer.beta_expectation(given_P, c.a, c.a);
  }
  return prob;
}

// Loci each round of simulated_counts draws.
constexpr int LOCI_PER_ROUND = 5000;

// Loci simulated by the worker at the case's parameters, counted per bin.
std::vector<long> simulated_counts(const ModelCase& c, int rounds) {
  const int npop = static_cast<int>(c.n.size());
  Job job;
  job.J = npop;
  job.I = LOCI_PER_ROUND;
  job.nb_class_fis = 1;
  job.nb_class_fst = 1;
  job.bias_hidden = c.bias_hidden;
  job.bias_fixed = c.bias_fixed;
  job.pop_target.assign(static_cast<size_t>(npop) * job.I, LocusRecord{0, 0, 0.0});
  for (int p = 0; p < npop; ++p)
    for (int m = 0; m < job.I; ++m) job.pop_target[job.record_index(p, m)].n = c.n[p];

  WorkerState w(job);
  w.mt.seed(c.seed);
  w.fis = c.fis;
  w.fst = c.fst;
  w.a = c.a;
  std::vector<long> counts(number_of_bins(c.n), 0);
  for (int r = 0; r < rounds; ++r) {
    simulate_loci(w);
    for (int m = 0; m < job.I; ++m) {
      long bin = 0;
      for (int p = npop - 1; p >= 0; --p)
        bin = bin * (c.n[p] + 1) + w.data[job.record_index(p, m)].k;
      ++counts[bin];
    }
  }
  return counts;
}

class Model : public testing::Test {
 protected:
  Job job;
};

TEST(BandProbability, IsOneMinusTheNullHomozygoteFrequency) {
  const double grid[] = {0.0, 1e-9, 0.01, 0.2, 0.5, 0.73, 0.99, 1 - 1e-9, 1.0};
  for (double q : grid) {
    for (double fis : grid) {
      SCOPED_TRACE("q " + std::to_string(q) + " Fis " + std::to_string(fis));
      EXPECT_NEAR(band_probability(q, fis), 1 - no_band(q, fis), 1e-15);
    }
  }
  // The two ends of inbreeding, from the genotype frequencies themselves.
  EXPECT_DOUBLE_EQ(band_probability(0.3, 0.0), 1 - 0.7 * 0.7);  // Hardy-Weinberg
  EXPECT_DOUBLE_EQ(band_probability(0.3, 1.0), 0.3);            // homozygotes only
}

// Chi-square goodness of fit per bin. Bins are pooled in order until each holds an
// expected count of at least 5; a draw in a bin that the filter forbids fails at once.
// Significance level 1e-4 per case: over random seeds a correct model would fail each case
// once in 10 000 runs (the whole test at most 5 times); the seeds are fixed, so the outcome
// is the same on every run.
TEST_F(Model, SimulatedBandCountsFollowTheBetaBinomialMixture) {
  const ModelCase cases[] = {
      {"Fis near 0, moderate drift", {0.02}, {0.3}, 1.5, {12}, 0, 0, 101},
      {"Fis near 1", {0.97}, {0.1}, 0.7, {20}, 0, 0, 102},
      {"Fst near 1: populations nearly fixed", {0.4}, {0.97}, 1.0, {10}, 0, 0, 103},
      {"Fst near 0, small ancestral shape, default filter", {0.5}, {0.02}, 0.3, {30}, 1, 0, 104},
      {"two populations sharing the ancestral frequency, strict filter",
       {0.1, 0.8},
       {0.4, 0.05},
       0.5,
       {6, 5},
       2,
       1,
       105},
  };
  const int rounds = 20;  // of LOCI_PER_ROUND loci: 100 000 loci per case
  const double level = 1e-4;
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.why);
    const std::vector<double> prob = model_probabilities(c);
    double total = 0, kept = 0;
    for (long bin = 0; bin < static_cast<long>(prob.size()); ++bin) {
      total += prob[bin];
      if (passes_filter(counts_of(bin, c.n), c)) kept += prob[bin];
    }
    // The integration itself: the probabilities of all bins must sum to 1.
    ASSERT_NEAR(total, 1.0, 1e-9);

    const std::vector<long> counts = simulated_counts(c, rounds);
    const double draws = double(rounds) * LOCI_PER_ROUND;
    std::vector<std::pair<double, double>> cells;  // observed, expected
    double observed = 0, expected = 0;
    for (long bin = 0; bin < static_cast<long>(prob.size()); ++bin) {
      if (!passes_filter(counts_of(bin, c.n), c)) {
        ASSERT_EQ(counts[bin], 0) << "a filtered locus was kept (bin " << bin << ")";
        continue;
      }
      observed += counts[bin];
      expected += draws * prob[bin] / kept;
      if (expected >= 5) {
        cells.emplace_back(observed, expected);
        observed = expected = 0;
      }
    }
    ASSERT_FALSE(cells.empty());
    cells.back().first += observed;  // a short tail joins the last cell
    cells.back().second += expected;
    double stat = 0;
    for (const auto& cell : cells)
      stat += (cell.first - cell.second) * (cell.first - cell.second) / cell.second;
    const int df = static_cast<int>(cells.size()) - 1;
    const double p_value = gsl_cdf_chisq_Q(stat, df);
    std::ostringstream shown;
    shown << "chi-square " << stat << " on " << df << " degrees of freedom, p = " << p_value;
    RecordProperty(c.why, shown.str());
    EXPECT_GT(p_value, level) << shown.str();
  }
}

// The parameters of a replicate: Fis and Fst of every population uniform on (0, 1), and the
// ancestral shape a = e^Z + 0.1 with Z standard normal, so Phi(ln(a - 0.1)) is uniform too.
// Each is binned into 20 equiprobable cells; significance level 1e-4 per parameter, fixed
// seed.
TEST_F(Model, ReplicateParametersFollowTheirPriors) {
  job.J = 2;
  job.I = 1;
  job.nb_class_fis = 1;
  job.nb_class_fst = 1;
  job.pop_target.assign(static_cast<size_t>(job.J) * job.I, LocusRecord{0, 0, 0.0});
  job.target_fis.assign(job.J, 0.0);
  job.target_fst.assign(job.J, 0.0);
  for (int p = 0; p < job.J; ++p) job.pop_target[job.record_index(p, 0)].n = 10;
  WorkerState w(job);
  w.mt.seed(106UL);
  const int replicates = 40000, bins = 20;
  const char* names[] = {"Fis of population 1", "Fis of population 2", "Fst of population 1",
                         "Fst of population 2", "ancestral shape"};
  std::vector<std::vector<long>> counts(5, std::vector<long>(bins, 0));
  for (int r = 0; r < replicates; ++r) {
    simulate_replicate(w);
    ASSERT_GT(w.a, 0.1);
    const double u[5] = {w.fis[0], w.fis[1], w.fst[0], w.fst[1],
                         gsl_cdf_ugaussian_P(std::log(w.a - 0.1))};
    for (int i = 0; i < 5; ++i) {
      ASSERT_GT(u[i], 0.0) << names[i];
      ASSERT_LT(u[i], 1.0) << names[i];
      ++counts[i][static_cast<int>(u[i] * bins)];
    }
  }
  const double expected = double(replicates) / bins;
  for (int i = 0; i < 5; ++i) {
    double stat = 0;
    for (long c : counts[i]) stat += (c - expected) * (c - expected) / expected;
    EXPECT_GT(gsl_cdf_chisq_Q(stat, bins - 1), 1e-4)
        << names[i] << ": chi-square " << stat << " on " << bins - 1 << " degrees of freedom";
  }
  // Fis and Fst are drawn apart: a replicate does not reuse one value for both.
  EXPECT_NE(w.fis[0], w.fst[0]);
}

}  // namespace
