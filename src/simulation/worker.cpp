// SPDX-License-Identifier: GPL-3.0-or-later
#include "simulation/worker.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>

#include "config.h"
#include "errors.h"
#include "predictive_draws.h"
#include "random/block_seed.h"
#include "reference_table.h"
#include "run_state.h"
#include "simulation/summary_stats.h"

namespace {

// The largest double below 1 (bit pattern 0x3FEFFFFFFFFFFFFF).
constexpr double BELOW_ONE = 0.9999999999999999;
static_assert(BELOW_ONE < 1.0 && 1.0 - BELOW_ONE < 1.2e-16, "BELOW_ONE must be 1 - 2^-53");

// Blocks handed out beyond the oldest uncommitted one, per worker: a slow block holds up
// the commit of those after it, and this many per worker may wait with their lines before
// the others pause.
constexpr int WAITING_BLOCKS_PER_WORKER = 4;

// How long a worker waiting for room sleeps between two services of the other processes of
// an MPI run: the block that makes room may be one of theirs, and nobody else serves them
// while every worker waits.
constexpr auto REMOTE_POLL_INTERVAL = std::chrono::microseconds(300);

static_assert(DEFAULT_PILOT_STREAM == STREAM_PILOT, "a run's pilot stream starts as the pilot's");

// One accepted line: " D F d_0 d_1 ... d_nc-1\n", every number with 5 significant digits
// as %g writes them (the general notation of formatted streams at precision 5).
void format_line(std::string& out, double dist, double param, const double* stat,
                 const double* target, int p, int nc) {
  char number[32];
  auto put = [&](double v) {
    const int n = std::snprintf(number, sizeof number, " %.5g", v);
    out.append(number, static_cast<size_t>(n));
  };
  put(std::sqrt(dist));
  put(param);
  for (int c = 0; c < nc; ++c) put(stat[p * nc + c] - target[p * nc + c]);
  out += '\n';
}

// Production gauge after a committed replicate: the slowest population and parameter.
// Called by the committer only, under mutex_outfile.
void production_gauge(Run& run) {
  const Job& job = run.job;
  int least = job.nb_final;
  for (int p = 0; p < job.J; ++p) {
    least = std::min(least, run.nb_fis[p].load(std::memory_order_relaxed));
    least = std::min(least, run.nb_fst[p].load(std::memory_order_relaxed));
  }
  run.run_gauge.show(static_cast<int>(static_cast<long long>(least) * 100 / job.nb_final));
}

// With -gof: keeps in `kept` the parameter vector of a Fis acceptance of population p whose
// rank is among the first kept.wanted. `cursor` walks the block's vectors, which are in the
// order of the replicates, as the lines are.
void keep_predictive_draw(PredictiveDraws& kept, const BlockLines& block, const AcceptedLine& line,
                          int rank, size_t& cursor) {
  if (kept.wanted == 0 || line.fst || rank > kept.wanted) return;
  const size_t stride = static_cast<size_t>(kept.width) + 1;
  while (cursor < block.vectors.size() && block.vectors[cursor] != static_cast<double>(line.offset))
    cursor += stride;
  if (cursor >= block.vectors.size())
    fail("Bug detected: no parameter vector for an accepted replicate of the block");
  const double* v = block.vectors.data() + cursor + 1;
  kept.vectors[line.population].insert(kept.vectors[line.population].end(), v, v + kept.width);
}

// Counts and writes the lines of one block, in order, then tests the stop condition.
void commit_lines(Run& run, const BlockLines& block) {
  const Job& job = run.job;
  size_t begin = 0;
  size_t cursor = 0;
  for (size_t i = 0; i < block.lines.size(); ++i) {
    const AcceptedLine& line = block.lines[i];
    std::atomic<int>& count = line.fst ? run.nb_fst[line.population] : run.nb_fis[line.population];
    const int rank = count.load(std::memory_order_relaxed) + 1;
    count.store(rank, std::memory_order_relaxed);
    keep_predictive_draw(run.predictive_draws, block, line, rank, cursor);
    // Acceptances beyond nb_final are counted but not written: every file ends up with the
    // first nb_final acceptances in replicate order.
    if (rank <= job.nb_final) {
      std::ofstream& file =
          line.fst ? run.outfile_fst[line.population] : run.outfile_fis[line.population];
      file.write(block.text.data() + begin, static_cast<std::streamsize>(line.end - begin));
    }
    begin = line.end;
    if (i + 1 == block.lines.size() || block.lines[i + 1].offset != line.offset)
      production_gauge(run);
  }
  run.replicates_done += run.block_size;
  bool all_done = run.replicates_done >= run.nbreps;
  for (int p = 0; p < job.J && all_done; ++p) {
    if (run.nb_fis[p].load(std::memory_order_relaxed) < job.nb_final) all_done = false;
    if (run.nb_fst[p].load(std::memory_order_relaxed) < job.nb_final) all_done = false;
  }
  if (all_done) run.finished.store(true);
}

}  // namespace

WorkerState::WorkerState(const Job& job_)
    : job(job_),
      npop(job_.J),
      nloci(job_.I),
      nc_fis(job_.nb_class_fis),
      nc_fst(job_.nb_class_fst),
      data(static_cast<size_t>(npop) * nloci, LocusRecord{0, 0, 0.0}),
      fis(npop),
      fst(npop),
      theta(npop),
      dist_fis(npop),
      dist_fst(npop),
      rank_fis(npop),
      rank_fst(npop),
      kept(nloci),
      T0(nloci),
      T1(nloci),
      stat_fis(static_cast<size_t>(npop) * nc_fis),
      stat_fst(static_cast<size_t>(npop) * nc_fst),
      scratch(nloci > 0 ? nloci : 1) {
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
  const Job& job = w.job;
  MTRand& mt = w.mt;
  const int npop = w.npop;

  for (int p = 0; p < npop; ++p) w.fis[p] = mt.randDblExc();
  for (int p = 0; p < npop; ++p) w.fst[p] = mt.randDblExc();
  w.a = std::exp(mt.randNorm(0.0, 1.0)) + 0.1;

  simulate_loci(w);

  compute_fis_statistics(w.data.data(), w.nloci, npop, w.kept.data(), w.nloci, w.nc_fis,
                         w.stat_fis.data(), w.scratch.data());
  for (int p = 0; p < npop; ++p)
    w.dist_fis[p] = statistics_distance(w.stat_fis.data(), job.target_fis.data(), p, w.nc_fis);
  compute_fst_statistics(w.data.data(), w.nloci, npop, w.kept.data(), w.nloci, w.T0.data(),
                         w.T1.data(), w.nc_fst, w.stat_fst.data(), w.scratch.data());
  for (int p = 0; p < npop; ++p)
    w.dist_fst[p] = statistics_distance(w.stat_fst.data(), job.target_fst.data(), p, w.nc_fst);
}

void simulate_loci(WorkerState& w) {
  const Job& job = w.job;
  MTRand& mt = w.mt;
  const int npop = w.npop;

  for (int p = 0; p < npop; ++p) w.theta[p] = 1.0 / w.fst[p] - 1.0;

  w.drawn_loci = 0;
  const int hidden_below = job.bias_hidden;
  const int fixed_margin = job.bias_fixed;
  const size_t stride = static_cast<size_t>(w.nloci);
  int m = 0;
  while (m < w.nloci) {
    const double P = draw_ancestral_frequency(mt, w.a);
    int t0 = 0;
    int t1 = 0;
    // Slot m of population p, and the observed record it takes its sample size from, step
    // through the population blocks (nloci records each, as in pop_target).
    LocusRecord* rec_p = w.data.data() + m;
    const LocusRecord* observed = job.pop_target.data() + m;
    for (int p = 0; p < npop; ++p, rec_p += stride, observed += stride) {
      LocusRecord& rec = *rec_p;
      const double theta = w.theta[p];
      rec.q = mt.randBeta(theta * P, (1.0 - P) * theta);
      rec.n = observed->n;
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

int choose_block_size(int nloci, int npop, long long pilot_size) {
  // Seeding a block's generator costs about as much as drawing 3 000 words, a few
  // microseconds; a replicate costs about 0.1 microsecond per locus and population, more
  // for the statistics. 4096 locus-populations per block keep the seeding well under 1% of
  // the block; 256 replicates at most keep the production's blocks (and the work simulated
  // past its end) small.
  const long long cells = std::max(1LL, static_cast<long long>(nloci) * npop);
  long long size = std::min(256LL, std::max(1LL, (4096 + cells - 1) / cells));
  // At least 32 blocks in the pilot run, so that several workers share even a small one.
  size = std::min(size, std::max(1LL, pilot_size / 32));
  return static_cast<int>(size);
}

void begin_block_schedule(Run& run, long long first_block) {
  const Job& job = run.job;
  run.next_block = first_block;
  run.commit_turn = first_block;
  run.replicates_done = run.pilot ? 0 : first_block * run.block_size;
  // A worker of another process also has as many blocks on their way to it or back, asked
  // for ahead so that it never waits for one: without room for those, the workers here would
  // stop for the oldest of them.
  const size_t workers_here = static_cast<size_t>(std::max(job.nb_procs, 1));
  const size_t room =
      workers_here * (1 + 2 * static_cast<size_t>(run.remote_workers)) * WAITING_BLOCKS_PER_WORKER;
  run.waiting_room.assign(room, BlockLines());
  run.waiting_ready.assign(room, 0);
}

namespace {

// The hand-out under mutex_counter, once there is room for the block (production).
void hand_out(Run& run, long long& block) {
  const Job& job = run.job;
  // The block number keys the generator: it must not wrap. 2^32 blocks are far beyond
  // any run that can end, so reaching them means the run never will.
  if (!run.pilot && run.next_block > static_cast<long long>(UINT32_MAX))
    fail(
        "The production run has simulated %lld data sets without reaching %d accepted draws "
        "for every population and parameter",
        run.next_block * run.block_size, job.nb_final);
  block = run.next_block++;
  // The pilot counts its replicates one by one as they begin (for the gauge); the
  // production run counts those handed out.
  if (!run.pilot)
    run.rep.store(static_cast<int>(std::min<long long>(run.next_block * run.block_size, INT_MAX)));
}

}  // namespace

bool take_block(Run& run, long long& block) {
  std::unique_lock<std::mutex> lock(run.mutex_counter);
  if (run.pilot) {
    if (run.next_block * run.block_size >= run.nbreps) return false;
  } else {
    const long long room = static_cast<long long>(run.waiting_room.size());
    auto open = [&run, room] {
      return run.finished.load() || run.next_block - run.commit_turn.load() < room;
    };
    if (run.remote_workers == 0) {
      run.window_open.wait(lock, open);
    } else {
      while (!open()) {
        lock.unlock();
        run.remote_service.poll(run);
        lock.lock();
        if (!open()) run.window_open.wait_for(lock, REMOTE_POLL_INTERVAL);
      }
    }
    if (run.finished.load()) return false;
  }
  hand_out(run, block);
  return true;
}

BlockOffer try_take_block(Run& run, long long& block) {
  std::lock_guard<std::mutex> lock(run.mutex_counter);
  if (run.pilot) {
    if (run.next_block * run.block_size >= run.nbreps) return BlockOffer::run_over;
  } else {
    if (run.finished.load()) return BlockOffer::run_over;
    if (run.next_block - run.commit_turn.load() >= static_cast<long long>(run.waiting_room.size()))
      return BlockOffer::no_room;
  }
  hand_out(run, block);
  return BlockOffer::taken;
}

void record_pilot_replicate(Run& run, const WorkerState& w, long long r) {
  // Each index belongs to one block and so to one worker: no lock. The driver reads the
  // arrays only after joining every worker. The reference table of -method joint is
  // simulated without them.
  for (int p = 0; p < w.npop && !run.v_dist_fis.empty(); ++p) {
    run.v_dist_fis[p][r] = w.dist_fis[p];
    run.v_dist_fst[p][r] = w.dist_fst[p];
  }
  // With -cv the cross-validation's reference table keeps the replicate too.
  if (run.reference_table.kept())
    run.reference_table.store(r, w.fis.data(), w.fst.data(), w.stat_fis.data(), w.stat_fst.data());
}

void collect_acceptances(const Run& run, WorkerState& w, int offset) {
  const Job& job = run.job;
  BlockLines& out = w.block;
  const std::vector<double>& quantile_fis = run.quantile_fis;
  const std::vector<double>& quantile_fst = run.quantile_fst;
  // A NaN distance compares false and so accepts nothing.
  bool vector_kept = run.predictive_draws.wanted == 0;
  for (int p = 0; p < w.npop; ++p) {
    if (w.dist_fis[p] <= quantile_fis[p]) {
      if (!vector_kept) {
        out.vectors.push_back(offset);
        out.vectors.insert(out.vectors.end(), w.fis.begin(), w.fis.end());
        out.vectors.insert(out.vectors.end(), w.fst.begin(), w.fst.end());
        out.vectors.push_back(w.a);
        vector_kept = true;
      }
      format_line(out.text, w.dist_fis[p], w.fis[p], w.stat_fis.data(), job.target_fis.data(), p,
                  w.nc_fis);
      out.lines.push_back(AcceptedLine{offset, p, false, out.text.size()});
    }
  }
  for (int p = 0; p < w.npop; ++p) {
    if (w.dist_fst[p] <= quantile_fst[p]) {
      format_line(out.text, w.dist_fst[p], w.fst[p], w.stat_fst.data(), job.target_fst.data(), p,
                  w.nc_fst);
      out.lines.push_back(AcceptedLine{offset, p, true, out.text.size()});
    }
  }
}

void commit_block(Run& run, BlockLines& block) {
  std::vector<BlockLines>& waiting_room = run.waiting_room;
  std::vector<char>& waiting_ready = run.waiting_ready;
  std::atomic<long long>& commit_turn = run.commit_turn;
  {
    std::lock_guard<std::mutex> lock(run.mutex_outfile);
    if (run.finished.load()) {
      block.clear(-1);
      return;  // simulated past the end of the run: discarded
    }
    const size_t room = waiting_room.size();
    const size_t slot = static_cast<size_t>(block.block) % room;
    std::swap(waiting_room[slot], block);
    waiting_ready[slot] = 1;
    block.clear(-1);
    if (commit_turn.load() != waiting_room[slot].block) return;  // waits for its turn
    // This block's turn: commit it and every waiting block that follows it.
    for (;;) {
      const size_t turn = static_cast<size_t>(commit_turn.load()) % room;
      if (!waiting_ready[turn] || waiting_room[turn].block != commit_turn.load()) break;
      commit_lines(run, waiting_room[turn]);
      if (run.block_listeners.block_committed)
        run.block_listeners.block_committed(run.block_listeners.context, run,
                                            waiting_room[turn].block);
      waiting_room[turn].clear(-1);
      waiting_ready[turn] = 0;
      commit_turn.store(commit_turn.load() + 1);
      if (run.finished.load()) break;
    }
  }
  // Workers waiting for room (or for the end) test again. Taking the lock orders this
  // notification after their test of the condition.
  { std::lock_guard<std::mutex> lock(run.mutex_counter); }
  run.window_open.notify_all();
}

void update_gauge(Run& run, int& shown) {
  // Pilot run: the replicates begun so far; other workers may have begun theirs, so never
  // beyond 100. The lock is taken only when this worker has not yet seen the percentage
  // printed, about a hundred times per run.
  long long v = static_cast<long long>(run.rep.load(std::memory_order_relaxed)) * 100 / run.nbreps;
  if (v > 100) v = 100;
  if (v <= shown) return;
  shown = run.run_gauge.show(static_cast<int>(v));
}

namespace {

// The two seams of a local worker's block loop: blocks from the run's schedule, results into
// the run itself. Between blocks the worker serves the other processes of an MPI run.
struct ScheduleSource {
  Run& run;
  bool next(long long& block) { return take_block(run, block); }
};

struct RunSink {
  Run& run;
  int shown = 0;  // the last pilot percentage this worker saw printed
  void begin_block(WorkerState&, long long) {}
  void begin_replicate(long long) { run.rep.fetch_add(1, std::memory_order_relaxed); }
  void end_replicate(const WorkerState& w, long long r) {
    record_pilot_replicate(run, w, r);
    update_gauge(run, shown);
  }
  void end_block(WorkerState& w, long long block) {
    if (run.pilot) {
      if (run.block_listeners.pilot_block_done)
        run.block_listeners.pilot_block_done(run.block_listeners.context, run, block);
    } else {
      commit_block(run, w.block);
    }
    if (run.remote_workers > 0) run.remote_service.poll(run);
  }
};

}  // namespace

void run_worker(Run& run) {
  try {
    WorkerState w(run.job);
    ScheduleSource source{run};
    RunSink sink{run};
    run_blocks(run, w, source, sink);
  } catch (const std::bad_alloc&) {
    fail("Out of memory in a simulation worker");
  }
}
