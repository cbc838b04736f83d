#include "simulation/worker.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <new>

#include "config.h"
#include "errors.h"
#include "run_state.h"
#include "simulation/summary_stats.h"

namespace {

// The largest double below 1 (bit pattern 0x3FEFFFFFFFFFFFFF).
constexpr double BELOW_ONE = 0.9999999999999999;
static_assert(BELOW_ONE < 1.0 && 1.0 - BELOW_ONE < 1.2e-16, "BELOW_ONE must be 1 - 2^-53");

// A busy file lock is deferred while the count of deferrals in a row is at most this
// (the test is <=), so a worker keeps its lines through MAX_DEFERRALS + 1 = 21 busy tries
// and waits at the 22nd: output stays batched, yet no buffer grows without bound behind a
// busy writer.
constexpr int MAX_DEFERRALS = 20;

// One accepted line: " D F d_0 d_1 ... d_nc-1\n". The precision is set to 5 just before
// each statistic difference and never reset, so only the distance and parameter of the
// buffer's very first line carry the stream's default 6 digits.
void format_line(std::ostringstream& out, double dist, double param, const double* stat,
                 const double* target, int p, int nc) {
  out << ' ' << std::sqrt(dist) << ' ' << param;
  for (int c = 0; c < nc; ++c) {
    out.precision(5);
    out << ' ' << (stat[p * nc + c] - target[p * nc + c]);
  }
  out << '\n';
}

void append_buffers(WorkerState& w) {
  if (!w.lines_pending) return;
  for (int p = 0; p < w.npop; ++p) {
    if (w.lines_fis[p].tellp() > 0) outfile_fis[p] << w.lines_fis[p].str();
  }
  for (int p = 0; p < w.npop; ++p) {
    if (w.lines_fst[p].tellp() > 0) outfile_fst[p] << w.lines_fst[p].str();
  }
}

void empty_buffers(WorkerState& w) {
  if (!w.lines_pending) return;
  for (int p = 0; p < w.npop; ++p) {
    w.lines_fis[p].str(std::string());
    w.lines_fst[p].str(std::string());
  }
  w.lines_pending = false;
}

}  // namespace

WorkerState::WorkerState(int npop_, int nloci_, int nc_fis_, int nc_fst_)
    : npop(npop_),
      nloci(nloci_),
      nc_fis(nc_fis_),
      nc_fst(nc_fst_),
      data(static_cast<size_t>(npop_) * MAX_LOCI, LocusRecord{0, 0, 0.0}),
      fis(npop_),
      fst(npop_),
      theta(npop_),
      dist_fis(npop_),
      dist_fst(npop_),
      rank_fis(npop_),
      rank_fst(npop_),
      kept(nloci_),
      T0(nloci_),
      T1(nloci_),
      stat_fis(static_cast<size_t>(npop_) * nc_fis_),
      stat_fst(static_cast<size_t>(npop_) * nc_fst_),
      scratch(nloci_ > 0 ? nloci_ : 1),
      lines_fis(npop_),
      lines_fst(npop_) {
  for (int m = 0; m < nloci; ++m) kept[m] = m;
}

double draw_ancestral_frequency(MTRand& mt, double a) {
  double P = mt.randBeta(a, a);
  // Beta(a, a) with a small a can return exactly 1 (its large-w substitution); then
  // theta (1 - P) would be 0, an invalid Beta parameter for every population.
  if (P == 1.0) P = BELOW_ONE;
  return P;
}

double band_probability(double q, double fis) {
  // Dominant band: present in homozygotes q^2 and in heterozygotes, whose frequency
  // 2q(1-q) is reduced by inbreeding to 2q(1-q)(1-Fis) while Fis q(1-q) more homozygotes
  // for the band appear.
  double B = q * q + 2.0 * q * (1.0 - q) * (1.0 - fis) + fis * q * (1.0 - q);
  // Exactly [0, 1] for every q and Fis in [0, 1]; the clamp only guards the binomial,
  // which ends the run on a probability outside, against any rounding.
  if (!(B >= 0.0)) B = 0.0;
  if (B > 1.0) B = 1.0;
  return B;
}

void simulate_replicate(WorkerState& w) {
  MTRand& mt = w.mt;
  const int npop = w.npop;

  for (int p = 0; p < npop; ++p) w.fis[p] = mt.randDblExc();
  for (int p = 0; p < npop; ++p) w.fst[p] = mt.randDblExc();
  w.a = std::exp(mt.randNorm(0.0, 1.0)) + 0.1;

  simulate_loci(w);

  compute_fis_statistics(w.data.data(), npop, w.kept.data(), w.nloci, w.nc_fis, w.stat_fis.data(),
                         w.scratch.data());
  for (int p = 0; p < npop; ++p)
    w.dist_fis[p] = statistics_distance(w.stat_fis.data(), target_fis, p, w.nc_fis);
  compute_fst_statistics(w.data.data(), npop, w.kept.data(), w.nloci, w.T0.data(), w.T1.data(),
                         w.nc_fst, w.stat_fst.data(), w.scratch.data());
  for (int p = 0; p < npop; ++p)
    w.dist_fst[p] = statistics_distance(w.stat_fst.data(), target_fst, p, w.nc_fst);
}

void simulate_loci(WorkerState& w) {
  MTRand& mt = w.mt;
  const int npop = w.npop;

  for (int p = 0; p < npop; ++p) w.theta[p] = 1.0 / w.fst[p] - 1.0;

  w.drawn_loci = 0;
  const int hidden_below = bias_hidden;
  const int fixed_margin = bias_fixed;
  int m = 0;
  while (m < w.nloci) {
    const double P = draw_ancestral_frequency(mt, w.a);
    int t0 = 0;
    int t1 = 0;
    for (int p = 0; p < npop; ++p) {
      LocusRecord& rec = w.data[record_index(p, m)];
      const double theta = w.theta[p];
      rec.q = mt.randBeta(theta * P, (1.0 - P) * theta);
      rec.n = pop_target[record_index(p, m)].n;
      rec.k = mt.Binomial(rec.n, band_probability(rec.q, w.fis[p]));
      t0 += rec.n;
      t1 += rec.k;
    }
    const bool is_fixed = t1 > t0 - fixed_margin;
    const bool is_hidden = t1 < hidden_below;
    ++w.drawn_loci;
    if (!is_fixed && !is_hidden) {
      w.T0[m] = t0;
      w.T1[m] = t1;
      ++m;
    }
  }
}

void judge_replicate(WorkerState& w) {
  const int npop = w.npop;
  std::vector<int>& rank_fis = w.rank_fis;
  std::vector<int>& rank_fst = w.rank_fst;
  std::fill(rank_fis.begin(), rank_fis.end(), 0);
  std::fill(rank_fst.begin(), rank_fst.end(), 0);
  bool all_done = true;
  // A NaN distance compares false and so accepts nothing.
  for (int p = 0; p < npop; ++p) {
    if (w.dist_fis[p] <= quantile_fis[p]) {
      std::lock_guard<std::mutex> lock(mutex_counter);
      rank_fis[p] = ++nb_fis[p];
    }
    if (nb_fis[p].load() < nb_final) all_done = false;
  }
  for (int p = 0; p < npop; ++p) {
    if (w.dist_fst[p] <= quantile_fst[p]) {
      std::lock_guard<std::mutex> lock(mutex_counter);
      rank_fst[p] = ++nb_fst[p];
    }
    if (nb_fst[p].load() < nb_final) all_done = false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_counter);
    finished.store(all_done);
  }
  // Acceptances beyond nb_final are counted (they end the run) but not written, so every
  // file holds exactly nb_final lines.
  for (int p = 0; p < npop; ++p) {
    if (rank_fis[p] >= 1 && rank_fis[p] <= nb_final) {
      format_line(w.lines_fis[p], w.dist_fis[p], w.fis[p], w.stat_fis.data(), target_fis, p,
                  w.nc_fis);
      w.lines_pending = true;
    }
  }
  for (int p = 0; p < npop; ++p) {
    if (rank_fst[p] >= 1 && rank_fst[p] <= nb_final) {
      format_line(w.lines_fst[p], w.dist_fst[p], w.fst[p], w.stat_fst.data(), target_fst, p,
                  w.nc_fst);
      w.lines_pending = true;
    }
  }
}

void hand_over_lines(WorkerState& w, bool wait) {
  std::unique_lock<std::mutex> lock(mutex_outfile, std::try_to_lock);
  if (!lock.owns_lock()) {
    if (!wait && w.deferrals <= MAX_DEFERRALS) {
      ++w.deferrals;
      return;
    }
    lock.lock();
  }
  append_buffers(w);
  lock.unlock();
  empty_buffers(w);
  w.deferrals = 0;
}

void update_gauge() {
  std::lock_guard<std::mutex> lock(mutex_gauge);
  long long v;
  if (pilot) {
    // Other workers may already have taken indices past the end: never beyond 100.
    v = static_cast<long long>(rep.load()) * 100 / nbreps;
    if (v > 100) v = 100;
  } else {
    int least = nb_final;
    for (int p = 0; p < J; ++p) {
      const int f = nb_fis[p].load();
      const int s = nb_fst[p].load();
      if (f < least) least = f;
      if (s < least) least = s;
    }
    v = static_cast<long long>(least) * 100 / nb_final;
  }
  if (v > last_printf) {
    last_printf = static_cast<int>(v);
    std::printf(" %d%%", last_printf);
    std::fflush(stdout);
  }
}

void* start(void*) {
  try {
    WorkerState w(J, I, nb_class_fis, nb_class_fst);
    {
      std::lock_guard<std::mutex> lock(mutex_randseed);
      w.mt.seed();
    }
    while (rep.load() < nbreps || (!pilot && !finished.load())) {
      int r;
      {
        std::lock_guard<std::mutex> lock(mutex_counter);
        // A production run may go on long past its minimum; the count stops at the largest
        // int instead of wrapping to a negative value that would pass the loop test forever.
        r = rep.load();
        if (r < INT_MAX) rep.store(r + 1);
      }
      simulate_replicate(w);
      if (pilot) {
        // A worker that passed the loop test just before the last index went out gets an
        // index past the end; its replicate is discarded.
        std::lock_guard<std::mutex> lock(mutex_counter);
        if (r < nbreps) {
          for (int p = 0; p < w.npop; ++p) {
            v_dist_fis[p][r] = w.dist_fis[p];
            v_dist_fst[p][r] = w.dist_fst[p];
          }
        }
      } else if (!finished.load()) {
        judge_replicate(w);
        hand_over_lines(w, false);
      }
      update_gauge();
    }
    if (!pilot) hand_over_lines(w, true);
  } catch (const std::bad_alloc&) {
    fail("Out of memory in a simulation worker");
  }
  return nullptr;
}
