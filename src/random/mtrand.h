// SPDX-License-Identifier: GPL-3.0-or-later
// MTRand: the 32-bit Mersenne Twister (MT19937) and the random variates of the model.
//
// Generator: M. Matsumoto and T. Nishimura, "Mersenne Twister: a 623-dimensionally
// equidistributed uniform pseudo-random number generator", ACM TOMACS 8 (1998) 3-30,
// with the 2002 initialisation (by one value and by an array).
//
// One object per worker thread; objects are never shared. Seeding with `seed()` may fall
// back on the time and processor clock, which uses a process-wide counter: callers that
// seed from several threads serialise `seed()`. The workers never call it (their generators
// are seeded per block from the job's seed); draw_job_seed does, under mutex_randseed.
#pragma once

#include <cstdint>

class MTRand {
 public:
  enum { N = 624 };         // state words
  enum { FAK_LEN = 1024 };  // ln(n!) is tabulated below this length, Stirling's series above

  MTRand();

  // Seeding. An object must be seeded before its first draw.
  void seed();  // from /dev/urandom, else from time and clock
  void seed(unsigned long s);
  void seed(unsigned long* values, unsigned long count);
  void initialize(unsigned long s);
  void reload();

  // The two halves of seed(), public so that each path can be exercised on its own.
  // seedFromFile reads N words of 4 bytes from `path`; it seeds and returns true only when
  // all N reads succeed, and leaves the object untouched otherwise.
  bool seedFromFile(const char* path);
  void seedFromTimeAndClock();

  // Uniforms.
  uint32_t randInt();
  double randExc();     // [0, 1)
  double randDblExc();  // (0, 1)
  // The conversions of one 32-bit word behind randExc and randDblExc.
  static double uniformExc(uint32_t w);
  static double uniformDblExc(uint32_t w);

  // Mixes calendar time and clock count with the process-wide counter, so that two calls
  // with the same time and clock still give different seeds.
  static uint32_t hash(long t, long c);

  // Variates.
  double LnFac(long n);
  int Binomial(long n, double p);
  int PoissonLow(double L);
  int BinomialInver(long n, double p);
  int BinomialRatioOfUniforms(long n, double p);
  double randBeta(double aa, double bb);
  double randNorm(const double& mean, const double& sd);

 private:
  static uint32_t hiBit(uint32_t u) { return u & 0x80000000UL; }
  static uint32_t loBit(uint32_t u) { return u & 0x00000001UL; }
  static uint32_t loBits(uint32_t u) { return u & 0x7fffffffUL; }
  static uint32_t mixBits(uint32_t u, uint32_t v) { return hiBit(u) | loBits(v); }
  static uint32_t twist(uint32_t m, uint32_t s0, uint32_t s1) {
    return m ^ (mixBits(s0, s1) >> 1) ^ (uint32_t(0u - loBit(s1)) & 0x9908b0dfUL);
  }
  // Marks this object's caches (log-factorial table, binomial set-up) empty.
  void init_static_vars();

  // Log-factorial table, filled on the first LnFac call that needs it.
  double fac_table[FAK_LEN];
  int32_t fac_table_filled;

  // Set-up of the ratio-of-uniforms binomial, kept while (n, p) repeat.
  int32_t bru_n_last;
  double bru_p_last;
  int32_t bru_mode;
  int32_t bru_bound;
  double bru_a;   // hat centre
  double bru_h;   // hat width
  double bru_g;   // ln(mode!) + ln((n - mode)!)
  double bru_r1;  // ln(p / (1 - p))

  // Generator state.
  uint32_t state[N];
  uint32_t* pNext;  // next word to temper and return
  int32_t left;     // words left before reload()
};

inline uint32_t MTRand::randInt() {
  if (left == 0) reload();
  --left;
  uint32_t y = *pNext++;
  y ^= (y >> 11);
  y ^= (y << 7) & 0x9d2c5680UL;
  y ^= (y << 15) & 0xefc60000UL;
  return y ^ (y >> 18);
}

// Exact in both double and long double: a 32-bit integer (plus one half) times a power of two.
inline double MTRand::uniformExc(uint32_t w) {
  return double((long double)w * (1.0L / 4294967296.0L));
}

inline double MTRand::uniformDblExc(uint32_t w) {
  return double(((long double)w + 0.5L) * (1.0L / 4294967296.0L));
}

inline double MTRand::randExc() { return uniformExc(randInt()); }

inline double MTRand::randDblExc() { return uniformDblExc(randInt()); }
