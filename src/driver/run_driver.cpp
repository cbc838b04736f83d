// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver/run_driver.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <exception>
#include <functional>
#include <new>
#include <thread>
#include <vector>

#include "config.h"
#include "core/output_file.h"
#include "data/codominant.h"
#include "driver/checkpoint.h"
#include "driver/job_memory.h"
#include "driver/run_record.h"
#include "errors.h"
#include "observed_data.h"
#include "posterior/adjustment.h"
#include "posterior/cross_validation.h"
#include "posterior/diagnostics.h"
#include "posterior/diagnostics_file.h"
#include "posterior/figures.h"
#include "posterior/goodness_of_fit.h"
#include "posterior/joint.h"
#include "posterior/posterior_samples.h"
#include "posterior/posterior_stats.h"
#include "posterior/regression.h"
#include "predictive_draws.h"
#include "random/block_seed.h"
#include "run_state.h"
#include "simulation/worker.h"

namespace {

// Ascending, with NaN distances (a statistic of 0/0) after every number, so that the sort
// has a strict weak order whatever the data; for numbers it is the plain ascending order.
bool distance_less(double x, double y) {
  if (std::isnan(x)) return false;
  if (std::isnan(y)) return true;
  return x < y;
}

void remove_accepted_draw_files(const Job& job) {
  for (const char* parameter : {"Fis", "Fst"}) {
    for (int k = 1; k <= job.J; ++k) {
      const std::string name = accepted_draw_file_name(job, parameter, k);
      std::remove(name.c_str());
      release_incomplete_file(name);
    }
  }
}

// With -keep the accepted-draw files outlive the job; until it ends they count as
// incomplete, so that an interrupt removes them with the rest of the job.
void keep_accepted_draw_files(const Job& job) {
  for (const char* parameter : {"Fis", "Fst"})
    for (int k = 1; k <= job.J; ++k)
      release_incomplete_file(accepted_draw_file_name(job, parameter, k));
}

// Opens one accepted-draw file under its temporary name. Its final name is registered too:
// it stays an incomplete file of the job after the rename, until the job ends. A job
// resumed in the production run appends to the file it left; one resumed after it finds the
// file complete under its final name.
void open_accepted_draw_file(const Job& job, std::ofstream& out, const char* parameter, int k,
                             Stage resumed) {
  const std::string name = accepted_draw_file_name(job, parameter, k);
  if (resumed < Stage::posterior &&
      !open_incomplete_file(out, temporary_name(name), resumed == Stage::production))
    fail("Could not open file %s for writing", name.c_str());
  track_incomplete_file(name);
}

void close_accepted_draw_file(const Job& job, std::ofstream& out, const char* parameter, int k) {
  const std::string name = accepted_draw_file_name(job, parameter, k);
  out.close();
  if (out.fail() || !rename_complete_file(temporary_name(name), name))
    fail("Could not write the accepted draws to %s", name.c_str());
  out.clear();
}

}  // namespace

DerivedCounts derived_counts(int final_draws, double acceptance_ratio) {
  // Extended precision on purpose: with the double nearest 0.005 the quotients stay just
  // below the round numbers (99 999, 499, 999 999), and the program has always used those.
  const long double n = final_draws;
  const long double r = acceptance_ratio;
  const long double pilot = n / (r * 10.0L);
  const long double production = n / r;
  const long double limit = INT_MAX;
  if (!(pilot <= limit) || !(production <= limit))
    fail("Invalid values for -n %d and -ar %g: the number of simulations would exceed %d",
         final_draws, acceptance_ratio, INT_MAX);
  DerivedCounts counts;
  counts.pilot_size = static_cast<long long>(pilot);
  counts.threshold_index = static_cast<long long>(static_cast<long double>(counts.pilot_size) * r);
  counts.production_minimum = static_cast<long long>(production);
  return counts;
}

void open_accepted_draw_files(Run& run, long long pilot_size, Stage resumed) {
  const Job& job = run.job;
  run.outfile_fis = std::vector<std::ofstream>(job.J);
  run.outfile_fst = std::vector<std::ofstream>(job.J);
  run.nb_fis.reset(new std::atomic<int>[job.J]);
  run.nb_fst.reset(new std::atomic<int>[job.J]);
  for (int p = 0; p < job.J; ++p) {
    run.nb_fis[p] = 0;
    run.nb_fst[p] = 0;
  }
  try {
    run.v_dist_fis.assign(job.J, std::vector<double>(static_cast<size_t>(pilot_size)));
    run.v_dist_fst.assign(job.J, std::vector<double>(static_cast<size_t>(pilot_size)));
  } catch (const std::bad_alloc&) {
    // 2 * J * pilot size doubles: large -n with a small -ar can ask for more than there is.
    fail(
        "Not enough memory for the distances of a pilot run of %lld simulations in %d "
        "populations (reduce -n or raise -ar)",
        pilot_size, job.J);
  }
  // Checked now, before hours of simulation whose accepted draws would go nowhere.
  for (int k = 1; k <= job.J; ++k)
    open_accepted_draw_file(job, run.outfile_fis[k - 1], "Fis", k, resumed);
  for (int k = 1; k <= job.J; ++k)
    open_accepted_draw_file(job, run.outfile_fst[k - 1], "Fst", k, resumed);
}

void run_simulation(Run& run, bool pilot_run, long long reps, long long first_block) {
  const Job& job = run.job;
  run.pilot = pilot_run;
  run.nbreps = static_cast<int>(reps);
  run.rep = 0;
  run.run_gauge.restart();
  run.finished = false;
  begin_block_schedule(run, first_block);
  if (first_block > 0) {
    // A resumed run: the gauge goes on from what was done.
    if (run.pilot)
      run.rep = static_cast<int>(std::min<long long>(first_block * run.block_size, reps));
    int least = job.nb_final;
    for (int p = 0; p < job.J && !run.pilot; ++p)
      least = std::min({least, run.nb_fis[p].load(), run.nb_fst[p].load()});
    if (!run.pilot)
      run.run_gauge.restart(static_cast<int>(static_cast<long long>(least) * 100 / job.nb_final));
    // Stopped after the block that ended the run, before the run was over: nothing is left.
    if (!run.pilot && least >= job.nb_final && run.replicates_done >= run.nbreps)
      run.finished = true;
  }
  // The other processes of an MPI run learn the run's state before any block is handed out.
  if (run.remote_workers > 0) run.remote_service.begin(run);

  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(std::max(job.nb_procs, 0)));
  for (int i = 0; i < job.nb_procs; ++i) {
    try {
      threads.emplace_back(run_worker, std::ref(run));
    } catch (const std::exception&) {
      // The system refused a thread (std::system_error) or the memory for its state
      // (std::bad_alloc): either way this worker does not run.
      std::printf("Warning : could not create thread number %d\n", i + 1);
      std::fflush(stdout);
    }
  }
  // The work goes to whichever workers started; with none, nothing would ever be simulated.
  if (threads.empty()) fail("No worker thread could be started: the simulations cannot run");
  for (std::thread& t : threads) t.join();
  if (run.remote_workers > 0) run.remote_service.finish(run);
}

void set_thresholds(Run& run, long long threshold_index) {
  const Job& job = run.job;
  run.quantile_fis.assign(job.J, 0.0);
  run.quantile_fst.assign(job.J, 0.0);
  for (int p = 0; p < job.J; ++p) {
    run.nb_fis[p] = 0;
    std::vector<double>& d = run.v_dist_fis[p];
    std::sort(d.begin(), d.end(), distance_less);
    run.quantile_fis[p] = d[static_cast<size_t>(threshold_index)];
  }
  for (int p = 0; p < job.J; ++p) {
    run.nb_fst[p] = 0;
    std::vector<double>& d = run.v_dist_fst[p];
    std::sort(d.begin(), d.end(), distance_less);
    run.quantile_fst[p] = d[static_cast<size_t>(threshold_index)];
  }
}

void close_accepted_draw_files(Run& run) {
  const Job& job = run.job;
  for (int p = 0; p < job.J; ++p) close_accepted_draw_file(job, run.outfile_fis[p], "Fis", p + 1);
  for (int p = 0; p < job.J; ++p) close_accepted_draw_file(job, run.outfile_fst[p], "Fst", p + 1);
}

void prepare_predictive_draws(Run& run) {
  const Job& job = run.job;
  PredictiveDraws& predictive_draws = run.predictive_draws;
  predictive_draws = PredictiveDraws();
  if (job.gof_count == 0) return;
  // M = N draws per population, at most the Fis acceptances that the production run writes.
  predictive_draws.wanted = std::min(job.gof_count, job.nb_final);
  predictive_draws.width = 2 * job.J + 1;
  predictive_draws.vectors.assign(job.J, std::vector<double>());
  for (std::vector<double>& v : predictive_draws.vectors)
    v.reserve(static_cast<size_t>(predictive_draws.wanted) * predictive_draws.width);
}

namespace {

// The outputs common to both methods, once the posterior samples are made, and the run
// record; `results` gets their summaries.
void write_job_outputs(const Job& job, PosteriorSamples& posterior, const JobRecord& record,
                       JobResults& results) {
  write_regression_outputs(job, posterior);
  results.diagnostics = write_diagnostics(job, posterior);
  // With -s the samples are left sorted, as the figure has always read them then.
  results.estimates = summarise_posterior(job, posterior, job.stats_wanted);
  if (job.stats_wanted) write_statistics_file(job, results.estimates);
  // The conversion takes the posterior mean of each population's Fis (the command line asks
  // -s for it).
  if (job.convert_data) {
    std::vector<double> fis_estimate;
    for (int k = 0; k < job.J; ++k) fis_estimate.push_back(results.estimates[k].mean);
    write_codominant(job, fis_estimate);
  }
  if (job.plot_figures) write_posterior_figure(job, posterior);
  write_run_record(job, record);
}

// What the run record tells of the job's runs: the seed, the blocks and the thresholds.
void note_run_in_record(const Run& run, JobRecord& record) {
  record.job_seed = run.job_seed;
  record.block_size = run.block_size;
  record.thresholds_fis = run.quantile_fis;
  record.thresholds_fst = run.quantile_fst;
}

void print_job_time(std::time_t job_start) {
  const std::time_t job_end = std::time(nullptr);
  std::printf("done!\n\nJob made in %lld seconds\n", static_cast<long long>(job_end - job_start));
  std::fflush(stdout);
}

// A job of -method joint: the reference table of sims_count simulations (a pilot run on a
// stream of its own, without pilot distances), its features, the estimation of every
// population from them, and the same outputs as the default method.
JobResults run_joint_job(Run& run, JobRecord& record, ProgressObserver* observer) {
  JobResults results;
  const Job& job = run.job;
  const long long sims = job.sims_count;
  run.job_seed = job.user_seed_given ? job.user_seed : draw_job_seed();
  run.block_size = choose_block_size(job.I, job.J, sims);
  // The table and its features before anything is written: a job that cannot fit is
  // refused at once.
  prepare_reference_table(
      job, run.reference_table, sims, reference_table_memory_limit(),
      joint_feature_bytes(sims, job.J, job.nb_class_fis, job.nb_class_fst, job.nb_procs));
  check_job_memory(job,
                   estimate_job_memory(job, 0, static_cast<long long>(job.ratio * sims * job.J)),
                   available_memory());

  const std::time_t job_start = std::time(nullptr);
  std::printf("Simulating the reference table of %lld data sets...\n", sims);
  std::fflush(stdout);
  run.v_dist_fis.clear();
  run.v_dist_fst.clear();
  run.pilot_stream = STREAM_JOINT_TABLE;
  run.run_gauge.observe(observer, "reference table");
  run_simulation(run, true, sims);
  run.pilot_stream = STREAM_PILOT;
  const JointFeatures features = prepare_joint_features(job, run.reference_table);
  const long long draws = joint_sample_size(features, job.ratio);
  record.method_lines = joint_record_lines(job, features, draws);
  note_run_in_record(run, record);

  PosteriorSamples posterior = estimate_joint(job, run.reference_table, features, draws);
  write_job_outputs(job, posterior, record, results);
  print_job_time(job_start);
  if (job.cv_count > 0)
    results.cross_validation =
        run_joint_cross_validation(job, run.reference_table, features, draws, run.job_seed);
  // The test measures D over as many nearest rows as every estimate accepts.
  if (job.gof_count > 0)
    run_goodness_of_fit(job, run.reference_table, joint_gof_sets(job, features), draws,
                        run.job_seed);
  // The job's largest arrays: the next job starts without them.
  run.reference_table = ReferenceTable();
  results.files = existing_output_files(job);
  return results;
}

}  // namespace

JobResults run_job(const Job& job, const Checkpoint* resume, const RemoteRanks& remote,
                   ProgressObserver* observer) {
  JobRecord record = begin_job_record();
  // The state of the job's simulation runs, handed to everything that reads or writes it.
  Run run(job);
  run.remote_workers = remote.workers;
  run.remote_service = remote.service;
  if (job.estimation_method == EstimationMethod::joint) return run_joint_job(run, record, observer);
  JobResults results;
  const DerivedCounts counts = derived_counts(job.nb_final, job.ratio);
  // The command line refuses counts that make these fail; this is the last line of defence.
  if (counts.pilot_size < 1 || counts.threshold_index >= counts.pilot_size)
    fail("Bug detected: threshold index %lld outside the pilot run of %lld simulations",
         counts.threshold_index, counts.pilot_size);
  // Every random stream of the job derives from its seed and the blocks, never from the
  // number of workers: the same seed repeats the job exactly.
  run.job_seed = resume ? resume->job_seed : job.user_seed_given ? job.user_seed : draw_job_seed();
  run.block_size = choose_block_size(job.I, job.J, counts.pilot_size);
  if (resume && (resume->block_size != run.block_size || resume->pilot_size != counts.pilot_size))
    fail("Cannot resume from %s: its blocks do not match the job's (a damaged checkpoint)",
         resume->path.c_str());
  record.pilot_size = counts.pilot_size;
  // Before the accepted-draw files: a table that does not fit is refused before anything is
  // written.
  if (job.cv_count > 0 || job.gof_count > 0)
    prepare_reference_table(job, run.reference_table, counts.pilot_size,
                            reference_table_memory_limit());
  prepare_predictive_draws(run);
  // The rest of the job, against what is left once the table (if any) is in memory.
  check_job_memory(job, estimate_job_memory(job, counts.pilot_size, job.nb_final),
                   available_memory());
  const Stage from = resume ? resume->stage : Stage::pilot;
  open_accepted_draw_files(run, counts.pilot_size, resume ? from : Stage::none);
  JobCheckpoints checkpoints(run, resume);

  if (from == Stage::pilot) {
    const long long first_block = resume ? checkpoints.restore_pilot(*resume) : 0;
    checkpoints.enter_stage(Stage::pilot);
    const std::time_t pilot_start = std::time(nullptr);
    std::printf("Pilot run to determine threshold acceptance value...\n");
    std::fflush(stdout);
    run.run_gauge.observe(observer, "pilot");
    run_simulation(run, true, counts.pilot_size, first_block);
    const std::time_t pilot_end = std::time(nullptr);

    // Ten times the pilot's duration, in whole minutes.
    const long long minutes = static_cast<long long>(pilot_end - pilot_start) / 6;
    std::printf("\n\nCalculation, it should take about %lld minutes...\n", minutes);
    std::fflush(stdout);
    checkpoints.enter_stage(Stage::production,
                            [&run, &counts] { set_thresholds(run, counts.threshold_index); });
  }

  const std::time_t job_start = std::time(nullptr);
  if (from <= Stage::production) {
    const long long first_block =
        from == Stage::production ? checkpoints.restore_production(*resume) : 0;
    if (from == Stage::production) {
      // The pilot's duration, which the estimate came from, is not known here.
      std::printf("Calculation, resumed from the checkpoint...\n");
      std::fflush(stdout);
      checkpoints.enter_stage(Stage::production);
    }
    run.run_gauge.observe(observer, "production");
    run_simulation(run, false, counts.production_minimum, first_block);
    record.production_replicates = run.replicates_done;
    // The production run is over: the files go to their final names.
    checkpoints.enter_stage(Stage::posterior, [&run] { close_accepted_draw_files(run); });
  } else {
    checkpoints.restore_production(*resume);
    record.production_replicates = run.replicates_done;
    checkpoints.enter_stage(Stage::posterior);
  }

  PosteriorSamples posterior = perform_regression(job, run.quantile_fis, run.quantile_fst);
  record.notes = {checkpoints.resume_summary(), checkpoints.checkpoint_summary()};
  note_run_in_record(run, record);
  write_job_outputs(job, posterior, record, results);
  // The pilot distances are the job's largest arrays; the next job starts without them.
  std::vector<std::vector<double>>().swap(run.v_dist_fis);
  std::vector<std::vector<double>>().swap(run.v_dist_fst);
  print_job_time(job_start);
  // After the job's own lines, which stay as they are without -cv. The estimation samples
  // have as many rows as the threshold index, so that the threshold is the next row's
  // distance, as in the rejection step.
  if (job.cv_count > 0 || job.gof_count > 0) checkpoints.enter_stage(Stage::cross_validation);
  if (job.cv_count > 0)
    results.cross_validation =
        run_cross_validation(job, run.reference_table, counts.threshold_index, run.job_seed);
  if (job.gof_count > 0)
    run_goodness_of_fit(job, run.reference_table, run.predictive_draws, counts.threshold_index,
                        run.job_seed);
  // The checkpoint goes first: it needs the accepted-draw files, which go next without -keep.
  checkpoints.end();
  if (job.keep_draws)
    keep_accepted_draw_files(job);
  else
    remove_accepted_draw_files(job);
  run.reference_table = ReferenceTable();
  run.predictive_draws = PredictiveDraws();
  results.files = existing_output_files(job);
  return results;
}
