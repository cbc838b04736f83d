// SPDX-License-Identifier: GPL-3.0-or-later
// The simulation engine: the model of one replicate (seeded), the accepted-draw line format,
// the commit of blocks in index order, and whole simulation runs on 1, 2 and 4 worker
// threads, which give the same results for the same seed.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "driver/run_driver.h"
#include "observed_data.h"
#include "predictive_draws.h"
#include "run_state.h"
#include "simulation/summary_stats.h"
#include "simulation/worker.h"
#include "support.h"

namespace {

// Observed data of npop populations and nloci loci with varied sample sizes (6 to 18) and
// band counts, and its statistics as the input reader computes them.
void load_observed(Job& job, int npop, int nloci) {
  job.J = npop;
  job.I = nloci;
  job.pop_target.assign(static_cast<size_t>(npop) * nloci, LocusRecord{0, 0, 0.0});
  job.target_fis.assign(static_cast<size_t>(npop) * job.nb_class_fis, 0.0);
  job.target_fst.assign(static_cast<size_t>(npop) * job.nb_class_fst, 0.0);
  std::vector<int> loci(nloci), T0(nloci, 0), T1(nloci, 0);
  std::iota(loci.begin(), loci.end(), 0);
  for (int p = 0; p < npop; ++p) {
    for (int l = 0; l < nloci; ++l) {
      LocusRecord& r = job.pop_target[job.record_index(p, l)];
      r.n = 6 + (3 * p + 5 * l) % 13;
      r.k = 1 + (7 * l + 11 * p) % r.n;
      T0[l] += r.n;
      T1[l] += r.k;
    }
  }
  std::vector<double> scratch(nloci);
  compute_fis_statistics(job.pop_target.data(), nloci, npop, loci.data(), nloci, job.nb_class_fis,
                         job.target_fis.data(), scratch.data());
  compute_fst_statistics(job.pop_target.data(), nloci, npop, loci.data(), nloci, T0.data(),
                         T1.data(), job.nb_class_fst, job.target_fst.data(), scratch.data());
}

// Small runs: nb_final 30 and ratio 0.1 give a pilot of 29, threshold index 2 and a
// production of at least 299 replicates.
class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    job.nb_final = 30;
    job.ratio = 0.1;
    job.odir = dir.path() + "/";
    job.file_prefix = "engine";
    load_observed(job, 2, 40);
  }
  TempDir dir;
  Job job;
  // The job's run state, as the driver owns one per job (::Run: Test::Run is a method).
  ::Run run{job};
};

// The percentages the gauge printed, in order.
std::vector<int> gauge_values(const std::string& out) {
  std::vector<int> values;
  for (size_t pct = out.find('%'); pct != std::string::npos; pct = out.find('%', pct + 1)) {
    size_t begin = pct;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(out[begin - 1]))) --begin;
    if (begin == pct || begin == 0 || out[begin - 1] != ' ') continue;
    values.push_back(std::stoi(out.substr(begin, pct - begin)));
  }
  return values;
}

void expect_gauge_complete(const std::string& out) {
  std::vector<int> v = gauge_values(out);
  ASSERT_FALSE(v.empty());
  for (size_t i = 1; i < v.size(); ++i) EXPECT_LT(v[i - 1], v[i]) << out;
  EXPECT_GE(v.front(), 1);
  EXPECT_EQ(v.back(), 100) << out;
}

// Significant digits of a number as %g writes it ("-1.2346e-07" has 5).
int significant_digits(const std::string& field) {
  std::string mantissa = field.substr(0, field.find_first_of("eE"));
  std::string digits;
  for (char c : mantissa)
    if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  return static_cast<int>(digits.size());
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Checks one accepted-draw file: nb_final complete lines of 2 + nc fields, each preceded by
// one space; distances within the threshold; every number with 5 significant digits at
// most. Returns the file's text.
std::string check_accepted_draw_file(const Job& job, const std::string& path, int nc,
                                     double threshold) {
  SCOPED_TRACE(path);
  const std::string text = read_file(path);
  EXPECT_FALSE(text.empty());
  if (text.empty()) return text;
  EXPECT_EQ(text.back(), '\n');
  const std::vector<std::string> lines = split_lines(text);
  EXPECT_EQ(static_cast<int>(lines.size()), job.nb_final);
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < line.size()) {
      EXPECT_EQ(line[pos], ' ');
      size_t next = line.find(' ', pos + 1);
      if (next == std::string::npos) next = line.size();
      EXPECT_GT(next, pos + 1);
      fields.push_back(line.substr(pos + 1, next - pos - 1));
      pos = next;
    }
    EXPECT_EQ(static_cast<int>(fields.size()), 2 + nc);
    if (static_cast<int>(fields.size()) != 2 + nc) continue;
    const double distance = std::stod(fields[0]);
    const double param = std::stod(fields[1]);
    EXPECT_LE(distance * distance, threshold * (1 + 1e-4));
    EXPECT_GT(param, 0.0);
    EXPECT_LT(param, 1.0);
    for (const std::string& f : fields) EXPECT_LE(significant_digits(f), 5) << f;
  }
  return text;
}

// The pilot, thresholds and production of one job on the current observed data.
void run_both_simulations(Job& job, Run& run, int workers, std::string* pilot_out,
                          std::string* production_out, uint32_t seed = 20240611u) {
  job.nb_procs = workers;
  const DerivedCounts counts = derived_counts(job.nb_final, job.ratio);
  run.job_seed = seed;
  run.block_size = choose_block_size(job.I, job.J, counts.pilot_size);
  open_accepted_draw_files(run, counts.pilot_size);
  for (int p = 0; p < job.J; ++p) {
    std::fill(run.v_dist_fis[p].begin(), run.v_dist_fis[p].end(), -1.0);
    std::fill(run.v_dist_fst[p].begin(), run.v_dist_fst[p].end(), -1.0);
  }
  testing::internal::CaptureStdout();
  run_simulation(run, true, counts.pilot_size);
  *pilot_out = testing::internal::GetCapturedStdout();
  // Every index filled (distances are sums of squares, so never the -1 left above); an
  // index past the end would have been written outside the arrays.
  EXPECT_EQ(run.rep.load(), run.nbreps);
  for (int p = 0; p < job.J; ++p) {
    for (int r = 0; r < run.nbreps; ++r) {
      ASSERT_GE(run.v_dist_fis[p][r], 0.0) << "population " << p << " index " << r;
      ASSERT_GE(run.v_dist_fst[p][r], 0.0) << "population " << p << " index " << r;
    }
  }
  set_thresholds(run, counts.threshold_index);
  testing::internal::CaptureStdout();
  run_simulation(run, false, counts.production_minimum);
  *production_out = testing::internal::GetCapturedStdout();
  close_accepted_draw_files(run);
  EXPECT_TRUE(run.finished.load());
  EXPECT_GE(run.replicates_done, counts.production_minimum);
  EXPECT_EQ(run.replicates_done % run.block_size, 0);
  for (int p = 0; p < job.J; ++p) {
    EXPECT_GE(run.nb_fis[p].load(), job.nb_final);
    EXPECT_GE(run.nb_fst[p].load(), job.nb_final);
  }
}

}  // namespace

TEST(EngineModel, AncestralFrequencyOfExactlyOneIsReplaced) {
  // With a small shape the Beta generator returns exactly 1 often; the model's draw must
  // equal the generator's draw everywhere except there.
  MTRand model, plain;
  model.seed(12345UL);
  plain.seed(12345UL);
  int replaced = 0;
  for (int i = 0; i < 100000; ++i) {
    const double expected = plain.randBeta(0.01, 0.01);
    const double got = draw_ancestral_frequency(model, 0.01);
    if (expected == 1.0) {
      ASSERT_EQ(got, 0.9999999999999999);
      ++replaced;
    } else {
      ASSERT_EQ(got, expected);
    }
  }
  EXPECT_GT(replaced, 0);
}

TEST(EngineModel, BandProbabilityStaysInsideTheUnitInterval) {
  struct Case {
    double q, fis, expected;
  } cases[] = {
      {0.0, 0.3, 0.0},
      {1.0, 0.3, 1.0},
      {0.5, 0.0, 0.75},                               // Hardy-Weinberg: 1 - (1-q)^2
      {0.5, 1.0, 0.5},                                // full inbreeding: homozygotes only
      {0.2, 0.5, 1 - (0.8 * 0.8 + 0.5 * 0.2 * 0.8)},  // 1 - P(null homozygote)
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.q) + " " + std::to_string(c.fis));
    EXPECT_DOUBLE_EQ(band_probability(c.q, c.fis), c.expected);
  }
  // Frequencies and Fis at the edges, where rounding is the only risk.
  for (int i = 0; i <= 60; ++i) {
    for (int j = 0; j <= 60; ++j) {
      const double q = i % 2 ? 1.0 - std::ldexp(1.0, -i) : std::ldexp(1.0, -i);
      const double f = j % 2 ? 1.0 - std::ldexp(1.0, -j) : std::ldexp(1.0, -j);
      const double B = band_probability(q, f);
      ASSERT_GE(B, 0.0);
      ASSERT_LE(B, 1.0);
    }
  }
}

// What a replicate promises, whatever its draws: the observed sample sizes at every kept
// locus, only loci that pass the filter (redrawn until they do), distances from the
// statistics of the kept loci, and a stream that depends on the seed alone, so that two
// workers seeded alike end at the same point of it. The law of the draws is checked in
// test_model.
TEST_F(Engine, ReplicateKeepsFilteredLociAndEndsItsStreamWhereItsTwinDoes) {
  // A strict filter (at least 12 individuals with the band and 4 without, of 18 to 48)
  // rejects many draws, so the redraws are exercised.
  load_observed(job, 3, 12);
  job.bias_hidden = 12;
  job.bias_fixed = 4;
  WorkerState w(job), twin(job);
  w.mt.seed(2024UL);
  twin.mt.seed(2024UL);
  simulate_replicate(w);
  simulate_replicate(twin);

  for (int p = 0; p < job.J; ++p) {
    EXPECT_GT(w.fis[p], 0.0);
    EXPECT_LT(w.fis[p], 1.0);
    EXPECT_GT(w.fst[p], 0.0);
    EXPECT_LT(w.fst[p], 1.0);
  }
  EXPECT_GT(w.a, 0.1);
  for (int m = 0; m < job.I; ++m) {
    SCOPED_TRACE("locus " + std::to_string(m));
    int t0 = 0, t1 = 0;
    for (int p = 0; p < job.J; ++p) {
      const LocusRecord& got = w.data[job.record_index(p, m)];
      EXPECT_EQ(got.n, job.pop_target[job.record_index(p, m)].n);
      EXPECT_GE(got.k, 0);
      EXPECT_LE(got.k, got.n);
      t0 += got.n;
      t1 += got.k;
    }
    EXPECT_EQ(w.T0[m], t0);
    EXPECT_EQ(w.T1[m], t1);
    EXPECT_GE(t1, job.bias_hidden);
    EXPECT_LE(t1, t0 - job.bias_fixed);
  }
  EXPECT_GT(w.drawn_loci, job.I) << "the fixture should force redraws";

  // The twin drew the same loci and left its stream at the same point.
  EXPECT_EQ(twin.drawn_loci, w.drawn_loci);
  EXPECT_EQ(twin.fis, w.fis);
  EXPECT_EQ(twin.dist_fis, w.dist_fis);
  EXPECT_EQ(twin.dist_fst, w.dist_fst);
  EXPECT_EQ(w.mt.randInt(), twin.mt.randInt());

  // Distances come from the statistics of the kept loci.
  std::vector<double> stat(job.J * job.nb_class_fst), scratch(job.I);
  compute_fis_statistics(w.data.data(), job.I, job.J, w.kept.data(), job.I, job.nb_class_fis,
                         stat.data(), scratch.data());
  for (int p = 0; p < job.J; ++p)
    EXPECT_EQ(w.dist_fis[p],
              statistics_distance(stat.data(), job.target_fis.data(), p, job.nb_class_fis));
  compute_fst_statistics(w.data.data(), job.I, job.J, w.kept.data(), job.I, w.T0.data(),
                         w.T1.data(), job.nb_class_fst, stat.data(), scratch.data());
  for (int p = 0; p < job.J; ++p)
    EXPECT_EQ(w.dist_fst[p],
              statistics_distance(stat.data(), job.target_fst.data(), p, job.nb_class_fst));
}

TEST_F(Engine, ReplicateSurvivesMoreDrawsThanLocusSlots) {
  // One individual per locus: about every other draw shows no band and is redrawn, so
  // 4000 kept loci take more draws than a population has slots (one per kept locus); a
  // redraw reuses its slot, so nothing may depend on the draw count.
  job.nb_class_fis = 5;
  job.nb_class_fst = 5;
  job.J = 1;
  job.I = 4000;
  job.pop_target.assign(static_cast<size_t>(job.J) * job.I, LocusRecord{1, 1, 0.0});
  job.target_fis.assign(static_cast<size_t>(job.J) * job.nb_class_fis, 0.0);
  job.target_fst.assign(static_cast<size_t>(job.J) * job.nb_class_fst, 0.0);
  WorkerState w(job);
  w.mt.seed(7UL);
  long long most = 0;
  for (int i = 0; i < 20 && most <= 5000; ++i) {
    simulate_replicate(w);
    most = std::max(most, w.drawn_loci);
  }
  ASSERT_GT(most, 5000);
  for (int m = 0; m < job.I; ++m) ASSERT_EQ(w.data[m].k, 1);
}

TEST_F(Engine, AcceptedLineFormat) {
  open_accepted_draw_files(run, 29);
  run.quantile_fis.assign(job.J, 1e300);
  run.quantile_fst.assign(job.J, -1.0);  // no Fst acceptance
  job.nb_class_fis = 2;
  job.nb_class_fst = 2;
  WorkerState w(job);
  job.target_fis[0] = 0.5;
  job.target_fis[1] = 0.25;
  w.stat_fis = {0.5 + 1.23456789e-7, 0.125, 0.0, 0.0};
  w.dist_fis = {2.0, std::nan("")};  // a NaN distance accepts nothing
  w.fis = {0.123456789, 0.5};
  w.block.clear(0);
  collect_acceptances(run, w, 0);
  collect_acceptances(run, w, 1);
  // Every number with 5 significant digits, the first line like every other.
  EXPECT_EQ(w.block.text,
            " 1.4142 0.12346 1.2346e-07 -0.125\n"
            " 1.4142 0.12346 1.2346e-07 -0.125\n");
  ASSERT_EQ(w.block.lines.size(), 2u);
  EXPECT_EQ(w.block.lines[1].offset, 1);
  EXPECT_EQ(w.block.lines[1].population, 0);
  EXPECT_FALSE(w.block.lines[1].fst);
  close_accepted_draw_files(run);
}

// Blocks of one line each, numbered by their parameter value, delivered out of order.
TEST_F(Engine, BlocksAreCommittedInIndexOrder) {
  job.nb_final = 3;
  run.block_size = 10;
  run.nbreps = 25;  // the production minimum: at least 3 blocks
  run.pilot = false;
  open_accepted_draw_files(run, 29);
  begin_block_schedule(run);
  auto deliver = [this](long long b, int population, bool fst) {
    BlockLines block;
    block.clear(b);
    block.text = " 0 " + std::to_string(b) + "\n";
    block.lines.push_back(AcceptedLine{0, population, fst, block.text.size()});
    commit_block(run, block);
    EXPECT_TRUE(block.lines.empty());  // handed over, left empty for reuse
  };
  testing::internal::CaptureStdout();
  deliver(2, 0, false);
  EXPECT_EQ(run.nb_fis[0].load(), 0);  // waits for blocks 0 and 1
  deliver(1, 0, false);
  deliver(0, 0, false);
  EXPECT_EQ(run.nb_fis[0].load(), 3);
  EXPECT_EQ(run.replicates_done, 30);
  EXPECT_FALSE(run.finished.load());  // the other counters have nothing yet
  for (long long b = 3; b < 9; ++b) deliver(b, 1, false);
  deliver(9, 0, false);  // a rank beyond nb_final: counted, not written
  EXPECT_EQ(run.nb_fis[0].load(), 4);
  for (long long b = 10; b < 13; ++b) deliver(b, 0, true);
  deliver(14, 1, true);  // before its turn
  deliver(13, 1, true);
  EXPECT_FALSE(run.finished.load());
  deliver(15, 1, true);
  EXPECT_TRUE(run.finished.load());
  deliver(16, 0, true);  // simulated past the end: discarded
  EXPECT_EQ(run.nb_fst[0].load(), 3);
  EXPECT_EQ(run.replicates_done, 160);
  const std::string gauge = testing::internal::GetCapturedStdout();
  close_accepted_draw_files(run);
  EXPECT_EQ(read_file(accepted_draw_file_name(job, "Fis", 1)), " 0 0\n 0 1\n 0 2\n");
  EXPECT_EQ(read_file(accepted_draw_file_name(job, "Fis", 2)), " 0 3\n 0 4\n 0 5\n");
  EXPECT_EQ(read_file(accepted_draw_file_name(job, "Fst", 1)), " 0 10\n 0 11\n 0 12\n");
  EXPECT_EQ(read_file(accepted_draw_file_name(job, "Fst", 2)), " 0 13\n 0 14\n 0 15\n");
  // The slowest counter (Fst of population 2) moved by a third at blocks 13, 14 and 15.
  EXPECT_EQ(gauge, " 33% 66% 100%");
}

// Two runs in one process share nothing: each hands out its own blocks and commits them in
// its own order, with its own counters.
TEST_F(Engine, TwoRunsKeepTheirOwnScheduleAndCounts) {
  job.nb_final = 5;
  ::Run other(job);
  for (::Run* r : {&run, &other}) {
    r->block_size = 10;
    r->nbreps = 20;
    r->pilot = false;
    r->nb_fis.reset(new std::atomic<int>[job.J]());
    r->nb_fst.reset(new std::atomic<int>[job.J]());
    r->outfile_fis = std::vector<std::ofstream>(job.J);  // not open: the lines go nowhere
    r->outfile_fst = std::vector<std::ofstream>(job.J);
    begin_block_schedule(*r);
  }
  auto deliver = [](::Run& r, long long b) {
    BlockLines block;
    block.clear(b);
    block.text = " 0 0.5\n";
    block.lines.push_back(AcceptedLine{0, 0, false, block.text.size()});
    commit_block(r, block);
  };
  long long b = -1;
  ASSERT_EQ(try_take_block(run, b), BlockOffer::taken);
  ASSERT_EQ(try_take_block(run, b), BlockOffer::taken);
  ASSERT_EQ(try_take_block(other, b), BlockOffer::taken);
  EXPECT_EQ(b, 0);  // the other run's hand-out starts at its own block 0
  testing::internal::CaptureStdout();
  deliver(run, 1);  // waits for block 0 of its own run
  deliver(other, 0);
  EXPECT_EQ(run.nb_fis[0].load(), 0);
  EXPECT_EQ(run.replicates_done, 0);
  EXPECT_EQ(other.nb_fis[0].load(), 1);
  EXPECT_EQ(other.replicates_done, 10);
  deliver(run, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(run.nb_fis[0].load(), 2);
  EXPECT_EQ(run.replicates_done, 20);
  EXPECT_EQ(other.nb_fis[0].load(), 1);
  EXPECT_EQ(run.commit_turn.load(), 2);
  EXPECT_EQ(other.commit_turn.load(), 1);
}

TEST_F(Engine, ThresholdsAreOrderStatisticsOfEachOwnPilotDistances) {
  open_accepted_draw_files(run, 6);
  run.v_dist_fis[0] = {5, 3, 9, 1, 7, 2};
  run.v_dist_fst[0] = {0.6, 0.1, std::nan(""), 0.4, 0.2, 0.3};  // NaN sorts last
  run.v_dist_fis[1] = {4, 4, 1, 4, 0, 8};
  run.v_dist_fst[1] = {6, 5, 4, 3, 2, 1};
  run.nb_fis[0] = 7;
  run.nb_fst[1] = 3;
  set_thresholds(run, 2);
  EXPECT_EQ(run.quantile_fis[0], 3.0);
  EXPECT_EQ(run.quantile_fst[0], 0.3);
  EXPECT_EQ(run.quantile_fis[1], 4.0);
  EXPECT_EQ(run.quantile_fst[1], 3.0);
  EXPECT_EQ(run.nb_fis[0].load(), 0);
  EXPECT_EQ(run.nb_fst[1].load(), 0);
  set_thresholds(run, 5);
  EXPECT_TRUE(std::isnan(run.quantile_fst[0]));
  EXPECT_EQ(run.quantile_fis[1], 8.0);
}

// The same seed gives the same pilot distances and the same accepted-draw files whatever
// the number of workers; another seed gives other draws.
TEST_F(Engine, RunsWithOneTwoAndFourWorkersAlike) {
  std::vector<std::vector<double>> first_distances;
  std::vector<std::string> first_files;
  for (int workers : {1, 2, 4}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    std::string pilot_out, production_out;
    run_both_simulations(job, run, workers, &pilot_out, &production_out);
    expect_gauge_complete(pilot_out);
    expect_gauge_complete(production_out);
    std::vector<std::string> files;
    for (int k = 1; k <= job.J; ++k) {
      files.push_back(check_accepted_draw_file(job, accepted_draw_file_name(job, "Fis", k),
                                               job.nb_class_fis, run.quantile_fis[k - 1]));
      files.push_back(check_accepted_draw_file(job, accepted_draw_file_name(job, "Fst", k),
                                               job.nb_class_fst, run.quantile_fst[k - 1]));
    }
    if (workers == 1) {
      first_distances = run.v_dist_fis;  // sorted by set_thresholds, as every run's are
      first_files = files;
    } else {
      EXPECT_EQ(run.v_dist_fis, first_distances);
      EXPECT_EQ(files, first_files);
    }
  }
  std::string pilot_out, production_out;
  run_both_simulations(job, run, 2, &pilot_out, &production_out, 7u);
  EXPECT_NE(run.v_dist_fis, first_distances);
}

TEST_F(Engine, PredictiveDrawsAreTheVectorsOfTheFirstFisAcceptances) {
  // With -gof the commit keeps, per population, the whole parameter vector of its first
  // `wanted` Fis acceptances: the draws of the first lines of its Fis file, whichever worker
  // simulated them.
  job.gof_count = 12;
  std::vector<std::vector<double>> first;
  for (int workers : {1, 3}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    prepare_predictive_draws(run);
    ASSERT_EQ(run.predictive_draws.wanted, 12);
    ASSERT_EQ(run.predictive_draws.width, 2 * job.J + 1);
    std::string pilot_out, production_out;
    run_both_simulations(job, run, workers, &pilot_out, &production_out);
    for (int p = 0; p < job.J; ++p) {
      SCOPED_TRACE(p);
      ASSERT_EQ(run.predictive_draws.count(p), 12);
      std::istringstream lines(read_file(accepted_draw_file_name(job, "Fis", p + 1)));
      for (int i = 0; i < 12; ++i) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        std::istringstream fields(line);
        double distance, fis;
        fields >> distance >> fis;
        const double* v = run.predictive_draws.vectors[p].data() + i * run.predictive_draws.width;
        EXPECT_NEAR(v[p], fis, 5e-5 * fis) << line;  // the file's 5 significant digits
        for (int q = 0; q < 2 * job.J; ++q) {
          EXPECT_GT(v[q], 0.0);
          EXPECT_LT(v[q], 1.0);
        }
        EXPECT_GT(v[2 * job.J], 0.1);  // a = e^Z + 0.1
      }
    }
    if (workers == 1)
      first = run.predictive_draws.vectors;
    else
      EXPECT_EQ(run.predictive_draws.vectors, first);
  }
  // Without -gof nothing is kept.
  job.gof_count = 0;
  prepare_predictive_draws(run);
  EXPECT_EQ(run.predictive_draws.wanted, 0);
  EXPECT_TRUE(run.predictive_draws.vectors.empty());
}

TEST_F(Engine, SecondJobStartsFromReplicateZero) {
  std::string pilot_out, production_out;
  run_both_simulations(job, run, 2, &pilot_out, &production_out);
  // A second job with other data: its runs start afresh and fill their own arrays.
  load_observed(job, 3, 25);
  job.file_prefix = "second";
  run_both_simulations(job, run, 2, &pilot_out, &production_out);
  expect_gauge_complete(pilot_out);
  expect_gauge_complete(production_out);
  for (int k = 1; k <= 3; ++k) {
    check_accepted_draw_file(job, accepted_draw_file_name(job, "Fis", k), job.nb_class_fis,
                             run.quantile_fis[k - 1]);
    check_accepted_draw_file(job, accepted_draw_file_name(job, "Fst", k), job.nb_class_fst,
                             run.quantile_fst[k - 1]);
  }
}

using EngineDeath = Engine;

TEST_F(EngineDeath, RefusesWhatCannotRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // An accepted-draw file that cannot be created is named before any simulation.
  job.odir = dir.path() + "/missing/";
  EXPECT_EXIT(open_accepted_draw_files(run, 29), testing::ExitedWithCode(1),
              "Could not open file .*/missing/engine_Fis1.txt for writing");
  // No worker at all.
  job.nb_procs = 0;
  EXPECT_EXIT(run_simulation(run, true, 29), testing::ExitedWithCode(1),
              "No worker thread could be started");
}

TEST_F(EngineDeath, ThreadsThatCannotStartAreReported) {
  if (const char* why = why_no_address_space_cap()) GTEST_SKIP() << why;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  open_accepted_draw_files(run, 29);
  job.nb_procs = 2;
  // With the address space capped just above its current size no thread stack fits.
  auto run_without_room = [this] {
    dup2(2, 1);  // the warnings go to standard output; show them to the death test
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t now = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE);
    rlimit limit{now + (1 << 20), now + (1 << 20)};
    setrlimit(RLIMIT_AS, &limit);
    run_simulation(run, true, 29);
  };
  EXPECT_EXIT(run_without_room(), testing::ExitedWithCode(1),
              "Warning : could not create thread number 1\nWarning : could not create thread "
              "number 2\nNo worker thread could be started");
}

TEST_F(EngineDeath, PilotDistancesThatDoNotFitInMemoryAreRefused) {
  if (const char* why = why_no_address_space_cap()) GTEST_SKIP() << why;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // 2 populations x 2 parameters x 50 million doubles: 1.6 GB against a cap of 1 GB.
  auto open_without_room = [this] {
    rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
    setrlimit(RLIMIT_AS, &limit);
    open_accepted_draw_files(run, 50000000);
  };
  EXPECT_EXIT(open_without_room(), testing::ExitedWithCode(1),
              "Not enough memory for the distances of a pilot run of 50000000 simulations in 2 "
              "populations");
}
