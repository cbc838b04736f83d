// SPDX-License-Identifier: GPL-3.0-or-later
// The library API: jobs made from options and an input, run to their end with their
// results as values; two jobs at once on two threads of one process give the files they
// give one after the other.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bandstat/bandstat.h"
#include "support.h"

namespace {

std::string example_input() { return source_dir() + "/examples/example.txt"; }

// A short job of the example: 4 populations, small pilot and production runs, with the
// statistics, the accepted draws and a cross-validation, its outputs under `folder`.
Config short_config(const std::string& folder, const std::string& seed) {
  return bandstat::configure({"-seed", seed, "-n", "100", "-ar", "0.1", "-nfis", "3", "-nfst", "3",
                              "-nprocs", "2", "-s", "stats.txt", "-keep", "-cv", "5", "-od",
                              folder + "/"});
}

// Every file the job left, by name without its folder, with its bytes; the run record
// without its times, which differ from run to run.
std::map<std::string, std::string> files_of(const JobResults& r, const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const std::string& path : r.files) {
    std::string text = read_file(path);
    if (path.size() > 8 && path.compare(path.size() - 8, 8, "_run.txt") == 0) {
      std::string kept;
      size_t at = 0;
      while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.rfind("start:", 0) != 0 && line.rfind("end:", 0) != 0 &&
            line.rfind("wall seconds:", 0) != 0 && line.rfind("CPU seconds:", 0) != 0 &&
            line.rfind("checkpoints written:", 0) != 0)
          kept += line + "\n";
        at = end + 1;
      }
      text = kept;
    }
    out[path.substr(folder.size() + 1)] = text;
  }
  return out;
}

// Percentages as the gauges report them, by stage.
class RecordingObserver : public ProgressObserver {
 public:
  void on_progress(const char* stage, int percent) override {
    std::lock_guard<std::mutex> hold(lock_);
    seen_[stage].push_back(percent);
  }
  std::map<std::string, std::vector<int>> seen() {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
  }

 private:
  std::mutex lock_;
  std::map<std::string, std::vector<int>> seen_;
};

}  // namespace

TEST(Library, JobGivesItsEstimatesDiagnosticsCrossValidationAndFiles) {
  TempDir dir;
  const Job job = bandstat::load_job(short_config(dir.path(), "11"), example_input());
  EXPECT_EQ(job.J, 4);
  EXPECT_EQ(job.I, 40);
  RecordingObserver observer;
  testing::internal::CaptureStdout();
  const JobResults r = bandstat::run(job, &observer);
  testing::internal::GetCapturedStdout();

  ASSERT_EQ(r.estimates.size(), 8u);
  EXPECT_EQ(r.estimates[0].label, "Fis1");
  EXPECT_EQ(r.estimates[4].label, "Fst1");
  for (const ParameterEstimate& e : r.estimates) {
    EXPECT_GT(e.mean, 0.0) << e.label;
    EXPECT_LT(e.mean, 1.0) << e.label;
    EXPECT_LE(e.hpdi_low, e.hpdi_high) << e.label;
  }
  ASSERT_EQ(r.diagnostics.size(), 8u);
  EXPECT_EQ(r.diagnostics[7].label, "Fst4");
  // The summary rows of every parameter, then the pooled Fis and Fst.
  ASSERT_EQ(r.cross_validation.size(), 10u);
  EXPECT_EQ(r.cross_validation[8].label, "Fis");

  // The statistics file holds the estimates returned, as it prints them.
  const std::string stats = read_file(dir.file("stats.txt"));
  EXPECT_NE(stats.find("Fis1 "), std::string::npos);
  const std::map<std::string, std::string> files = files_of(r, dir.path());
  for (const char* name :
       {"stats.txt", "example_check-input.txt", "example_regression.txt", "example_diagnostics.txt",
        "example_run.txt", "example_cv_summary.txt", "example_Fis1.txt", "example_Fst4.txt"})
    EXPECT_EQ(files.count(name), 1u) << name;
  EXPECT_EQ(files.count("example_checkpoint"), 0u);
  // Its command line: the options, then the input, as the program's would read.
  EXPECT_NE(files.at("example_run.txt").find("command line: bandstat -seed 11 -n 100 "),
            std::string::npos);
  EXPECT_NE(files.at("example_run.txt").find(" " + example_input() + "\n"), std::string::npos);

  // Each stage's gauge rose to 100, each value once.
  const std::map<std::string, std::vector<int>> seen = observer.seen();
  for (const char* stage : {"pilot", "production"}) {
    SCOPED_TRACE(stage);
    ASSERT_EQ(seen.count(stage), 1u);
    const std::vector<int>& v = seen.at(stage);
    for (size_t i = 1; i < v.size(); ++i) EXPECT_LT(v[i - 1], v[i]);
    EXPECT_EQ(v.back(), 100);
  }
}

TEST(Library, TwoJobsAtOnceGiveTheFilesTheyGiveOneAfterTheOther) {
  TempDir dir;
  const std::vector<std::string> seeds = {"101", "202"};
  std::vector<std::string> folders;
  for (size_t i = 0; i < seeds.size(); ++i) {
    folders.push_back(dir.file("job" + std::to_string(i)));
    ASSERT_EQ(mkdir(folders[i].c_str(), 0755), 0);
  }
  // The same two jobs, in the same folders: one after the other, then at once.
  std::vector<std::map<std::string, std::string>> alone, together(seeds.size());
  std::vector<JobResults> alone_results, together_results(seeds.size());
  testing::internal::CaptureStdout();
  for (size_t i = 0; i < seeds.size(); ++i) {
    const Job job = bandstat::load_job(short_config(folders[i], seeds[i]), example_input());
    alone_results.push_back(bandstat::run(job));
    alone.push_back(files_of(alone_results.back(), folders[i]));
    for (const std::string& path : alone_results.back().files) std::remove(path.c_str());
  }
  std::vector<Job> jobs;
  for (size_t i = 0; i < seeds.size(); ++i)
    jobs.push_back(bandstat::load_job(short_config(folders[i], seeds[i]), example_input()));
  std::vector<std::thread> threads;
  for (size_t i = 0; i < jobs.size(); ++i)
    threads.emplace_back([&, i] { together_results[i] = bandstat::run(jobs[i]); });
  for (std::thread& t : threads) t.join();
  testing::internal::GetCapturedStdout();

  for (size_t i = 0; i < seeds.size(); ++i) {
    SCOPED_TRACE("seed " + seeds[i]);
    together[i] = files_of(together_results[i], folders[i]);
    ASSERT_EQ(together[i].size(), alone[i].size());
    for (const auto& file : alone[i]) {
      ASSERT_EQ(together[i].count(file.first), 1u) << file.first;
      EXPECT_TRUE(together[i].at(file.first) == file.second) << file.first << " differs";
    }
    ASSERT_EQ(together_results[i].estimates.size(), alone_results[i].estimates.size());
    for (size_t k = 0; k < alone_results[i].estimates.size(); ++k)
      EXPECT_EQ(together_results[i].estimates[k].mean, alone_results[i].estimates[k].mean);
  }
  // The two seeds gave two different jobs.
  EXPECT_NE(alone[0].at("example_Fis1.txt"), alone[1].at("example_Fis1.txt"));
}

TEST(LibraryDeathTest, RefusesWhatTheCommandLineRefuses) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    std::vector<std::string> options;
    const char* message;
  } cases[] = {
      {{"-n", "1"}, "Invalid value for -n"},
      {{"-nprocs", "0"}, "Invalid value for -nprocs"},
      {{"-seeds", "3"}, "Unknown option -seeds \\(did you mean -seed\\?\\)"},
      {{"-convert"}, ""},  // its message goes to standard output, as the program writes it
      {{"alleles.txt"}, "An input file \\(alleles.txt\\) is not an option"},
      {{"-resume", "x_checkpoint"}, "-resume is for the command line"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options[0]);
    EXPECT_EXIT(bandstat::configure(c.options), testing::ExitedWithCode(1), c.message);
  }
}
