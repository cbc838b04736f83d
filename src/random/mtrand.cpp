// SPDX-License-Identifier: GPL-3.0-or-later
// MTRand: generator, seeding and variates.
//
// The variates draw their uniforms in a fixed order, so that one seed gives one stream of
// results: changing the order of two draws changes every simulated data set of a run.
//
// Binomial: three methods chosen by the mean m = n p; the last two are exact, the first
// leaves out outcomes whose probability is below 1e-19.
//   m < 1e-6   the Poisson limit truncated at 2 (P(X >= 3) is below 1e-19 there);
//   m < 35     chop-down inversion from P(0) = (1-p)^n, cheapest while the mean is small;
//   m >= 35    ratio-of-uniforms rejection with a table-mountain hat and squeezes
//              (E. Stadlober, "The ratio of uniforms approach for generating discrete
//              random variates", J. Comput. Appl. Math. 31 (1990) 181-189), whose cost
//              does not grow with n.
// Beta: R. C. H. Cheng, "Generating beta variates with nonintegral shape parameters",
//   Comm. ACM 21 (1978) 317-322: algorithm BB when both shapes exceed 1, BC otherwise.
// Normal: the Box-Muller transform, one value per call (the second is not kept).
#include "random/mtrand.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "errors.h"

namespace {

// Counter mixed into every time-and-clock seed. Atomic so that hash() stays sound even if
// a caller forgets to serialise seeding; draw_job_seed, the one caller, holds
// mutex_randseed anyway.
std::atomic<uint32_t> differ{0};

// Ratio-of-uniforms hat constants: 8/e and 3 - sqrt(12/e).
const double SHAT1 = 2.9430355293715387;
const double SHAT2 = 0.8989161620588988;

// Stirling's series for ln(n!): ln sqrt(2 pi), 1/12, -1/360.
const double C0 = 0.9189385332046727;
const double C1 = 1. / 12.;
const double C3 = -1. / 360.;

// Cheng's algorithms were written for single precision, whose exp overflows past about
// 88.7 (ln FLT_MAX); beyond an exponent of 89, w is replaced by 1e38, close to FLT_MAX.
// A double's exp overflows only past 709.78, so here the cap guards nothing: it is kept
// because it is part of the stream of draws. With it a draw whose v passes 89 returns
// w / (b + w) = 1 exactly (the ancestral frequency's substitution exists for that case) or
// b / (b + 1e38); without it, those draws of a seed would change.
const double BETA_EXP_MAX = 89.0;
const double BETA_W_HUGE = 1.0e38;
// ln 4 = 1.38629436... and 1 + ln 5 = 2.60943791..., and in BC 1/72, 1/24 and 7/9
// (0.0138889, 0.0416667, 0.777778 below), rounded to about 7 digits as in Cheng's
// published algorithms. They stay rounded because a seed's stream of Beta draws depends
// on them. The rounding makes BC's quick-rejection bound k1 slightly larger, which only
// sends a few more trials to the exact test; ln 4 and 1 + ln 5 move the acceptance tests
// by less than 1e-7 on the log scale, far below anything a run of this program could
// detect.
const double LN_4 = 1.3862944;
const double ONE_PLUS_LN_5 = 2.609438;

// The MT19937 generator's word count and recurrence offset.
const int M = 397;

}  // namespace

MTRand::MTRand() { init_static_vars(); }

// Not static state despite the name: every generator has its own log-factorial table and
// binomial set-up cache, so that worker threads share nothing.

void MTRand::init_static_vars() {
  fac_table_filled = 0;
  bru_n_last = -1;
  bru_p_last = -1.0;
}

// ---- Generator -------------------------------------------------------------------------

void MTRand::initialize(unsigned long s) {
  state[0] = uint32_t(s);
  for (int i = 1; i < N; ++i) {
    state[i] = 1812433253UL * (state[i - 1] ^ (state[i - 1] >> 30)) + uint32_t(i);
  }
}

void MTRand::reload() {
  uint32_t* p = state;
  for (int i = N - M; i--; ++p) *p = twist(p[M], p[0], p[1]);
  for (int i = M; --i; ++p) *p = twist(p[M - N], p[0], p[1]);
  *p = twist(p[M - N], p[0], state[0]);
  left = N;
  pNext = state;
}

void MTRand::seed(unsigned long s) {
  initialize(s);
  reload();
}

void MTRand::seed(unsigned long* values, unsigned long count) {
  // An empty key would make the loop below read values[0] past the end of the array.
  if (values == nullptr || count == 0) {
    fail("MTRand::seed(values, count=%lu): the seed array is empty", count);
  }
  initialize(19650218UL);
  int i = 1;
  unsigned long j = 0;
  for (unsigned long k = std::max<unsigned long>(N, count); k; --k) {
    state[i] = (state[i] ^ ((state[i - 1] ^ (state[i - 1] >> 30)) * 1664525UL)) +
               uint32_t(values[j]) + uint32_t(j);
    ++i;
    ++j;
    if (i >= N) {
      state[0] = state[N - 1];
      i = 1;
    }
    if (j >= count) j = 0;
  }
  for (int k = N - 1; k; --k) {
    state[i] = (state[i] ^ ((state[i - 1] ^ (state[i - 1] >> 30)) * 1566083941UL)) - uint32_t(i);
    ++i;
    if (i >= N) {
      state[0] = state[N - 1];
      i = 1;
    }
  }
  state[0] = 0x80000000UL;  // guarantees a non-zero state whatever the key
  reload();
}

bool MTRand::seedFromFile(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  uint32_t words[N];
  int got = 0;
  while (got < N && std::fread(&words[got], sizeof(uint32_t), 1, f) == 1) ++got;
  std::fclose(f);
  if (got < N) return false;
  unsigned long values[N];
  std::copy(words, words + N, values);
  seed(values, N);
  return true;
}

void MTRand::seedFromTimeAndClock() { seed(hash(long(std::time(nullptr)), long(std::clock()))); }

void MTRand::seed() {
  if (!seedFromFile("/dev/urandom")) seedFromTimeAndClock();
}

uint32_t MTRand::hash(long t, long c) {
  // Bytes least significant first, so the seed does not depend on the machine's byte order.
  const uint32_t tt = uint32_t(t);
  const uint32_t cc = uint32_t(c);
  uint32_t h1 = 0;
  uint32_t h2 = 0;
  for (int b = 0; b < 4; ++b) {
    h1 = h1 * 257u + ((tt >> (8 * b)) & 0xffu);
    h2 = h2 * 257u + ((cc >> (8 * b)) & 0xffu);
  }
  return (h1 + differ.fetch_add(1)) ^ h2;
}

// ---- Variates --------------------------------------------------------------------------

double MTRand::LnFac(long n) {
  if (n >= FAK_LEN) {
    const double x = double(n);
    const double r = 1. / x;
    return (x + 0.5) * std::log(x) - x + C0 + r * (C1 + r * r * C3);
  }
  if (n <= 1) {
    if (n < 0) fail("LnFac(%ld): the argument must not be negative", n);
    return 0.;
  }
  if (!fac_table_filled) {
    double sum = fac_table[0] = 0.;
    for (int i = 1; i < FAK_LEN; ++i) {
      sum += std::log(double(i));
      fac_table[i] = sum;
    }
    fac_table_filled = 1;
  }
  return fac_table[n];
}

int MTRand::Binomial(long n, double p) {
  // A negative n, a p outside [0, 1] (NaN included) or a count past the int result are
  // programming errors upstream; stop with the arguments rather than draw nonsense.
  if (n < 0 || n > INT_MAX || !(p >= 0. && p <= 1.)) {
    fail("Binomial(n=%ld, p=%.17g): n must be in [0, %d] and p in [0, 1]", n, p, INT_MAX);
  }
  // The method is chosen by the mean with the p received, before reflection.
  const double m = double(n) * p;
  bool reflect = false;
  if (p > 0.5) {
    p = 1. - p;
    reflect = true;
  }
  if (n == 0 || p == 0.) return reflect ? int(n) : 0;

  int x;
  if (m < 35.) {
    if (m < 1e-6) {
      x = PoissonLow(m);
    } else {
      x = BinomialInver(n, p);
    }
  } else {
    x = BinomialRatioOfUniforms(n, p);
  }
  return reflect ? int(n) - x : x;
}

int MTRand::PoissonLow(double L) {
  const double d = std::sqrt(L);
  if (randExc() >= d) return 0;
  const double r = randExc() * d;
  if (r > L * (1. - L)) return 0;
  if (r > 0.5 * L * L * (1. - L)) return 1;
  return 2;
}

int MTRand::BinomialInver(long n, double p) {
  // f0 = (1 - p)^n by repeated squaring.
  double f0 = 1.;
  double base = 1. - p;
  for (long bits = n; bits; bits >>= 1) {
    if (bits & 1) f0 *= base;
    base *= base;
  }
  // Past this many successes the remaining tail is negligible: start over with a new u.
  const double rc = double(n + 1) * p;
  long bound = long(rc + 11. * (std::sqrt(rc) + 1.));
  if (bound > n) bound = n;
  const double q = p / (1. - p);

  for (;;) {
    double u = randExc();
    double f = f0;
    long x = 0;
    long i = n;
    do {
      u -= f;
      if (u <= 0.) return int(x);
      ++x;
      f = f * q * double(i);
      u *= double(x);
      --i;
    } while (x <= bound);
  }
}

int MTRand::BinomialRatioOfUniforms(long n, double p) {
  if (n != bru_n_last || p != bru_p_last) {
    bru_n_last = int32_t(n);
    bru_p_last = p;
    const double np = double(n) * p;
    bru_mode = int32_t(np + p);
    bru_a = np + 0.5;
    bru_r1 = std::log(p / (1. - p));
    bru_g = LnFac(bru_mode) + LnFac(n - bru_mode);
    bru_h = std::sqrt(SHAT1 * (np * (1. - p) + 0.5)) + SHAT2;
    long bound = long(bru_a + 6. * bru_h);
    if (bound > n) bound = n;
    bru_bound = int32_t(bound);
  }

  for (;;) {
    const double u = randExc();
    if (u == 0.) continue;
    const double x = bru_a + bru_h * (randExc() - 0.5) / u;
    if (x < 0. || x > bru_bound) continue;
    const long k = long(x);
    const double lf = double(k - bru_mode) * bru_r1 + bru_g - LnFac(k) - LnFac(n - k);
    if (lf >= u * (4. - u) - 3.) return int(k);  // quick acceptance
    if (u * (u - lf) > 1.) continue;             // quick rejection
    if (lf >= 2. * std::log(u)) return int(k);
  }
}

double MTRand::randBeta(double aa, double bb) {
  // Infinite or NaN shapes would spin in the rejection loop or return NaN; they are refused
  // with the same message as non-positive ones.
  if (!(aa > 0.) || !(bb > 0.) || std::isinf(aa) || std::isinf(bb)) {
    fail(" AA or BB <= 0 in GENBET - Abort! AA: %16.6E BB %16.6E", aa, bb);
  }
  double a, b, w, v, u1, u2, z;

  if (std::min(aa, bb) > 1.) {
    // Algorithm BB.
    a = std::min(aa, bb);
    b = std::max(aa, bb);
    const double alpha = a + b;
    const double beta = std::sqrt((alpha - 2.) / (2. * a * b - alpha));
    const double gamma = a + 1. / beta;
    for (;;) {
      u1 = randDblExc();
      u2 = randDblExc();
      v = beta * std::log(u1 / (1. - u1));
      w = v > BETA_EXP_MAX ? BETA_W_HUGE : a * std::exp(v);
      z = u1 * u1 * u2;
      const double r = gamma * v - LN_4;
      const double s = a + r - w;
      if (s + ONE_PLUS_LN_5 >= 5. * z) break;
      const double t = std::log(z);
      if (s > t) break;
      if (r + alpha * std::log(alpha / (b + w)) < t) continue;
      break;
    }
  } else {
    // Algorithm BC.
    a = std::max(aa, bb);
    b = std::min(aa, bb);
    const double alpha = a + b;
    const double beta = 1. / b;
    const double delta = 1. + a - b;
    const double k1 = delta * (0.0138889 + 0.0416667 * b) / (a * beta - 0.777778);
    const double k2 = 0.25 + (0.5 + 0.25 / delta) * b;
    for (;;) {
      u1 = randDblExc();
      u2 = randDblExc();
      if (u1 < 0.5) {
        const double y = u1 * u2;
        z = u1 * y;
        if (0.25 * u2 + z - y >= k1) continue;
      } else {
        z = u1 * u1 * u2;
        if (z <= 0.25) {
          v = beta * std::log(u1 / (1. - u1));
          w = v > BETA_EXP_MAX ? BETA_W_HUGE : a * std::exp(v);
          break;
        }
        if (z >= k2) continue;
      }
      v = beta * std::log(u1 / (1. - u1));
      w = v > BETA_EXP_MAX ? BETA_W_HUGE : a * std::exp(v);
      if (std::log(z) > alpha * (std::log(alpha / (b + w)) + v) - LN_4) continue;
      break;
    }
  }
  return aa == a ? w / (b + w) : b / (b + w);
}

double MTRand::randNorm(const double& mean, const double& sd) {
  const double r = std::sqrt(-2. * std::log(1. - randDblExc())) * sd;
  const double phi = 6.283185307179586 * randExc();
  return r * std::cos(phi) + mean;
}
