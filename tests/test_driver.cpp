// SPDX-License-Identifier: GPL-3.0-or-later
// Whole jobs as a user repeats them: the same seed gives the same files whatever the number
// of workers, the run record repeats a seedless run, and an interrupt leaves no incomplete
// file behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

std::string example() { return source_dir() + "/examples/example.txt"; }

// Several blocks in both runs (pilot 399, production at least 3 999), every output written.
std::vector<std::string> job(const std::vector<std::string>& more) {
  std::vector<std::string> args = {"-n", "200",   "-ar", "0.05",   "-nfis",    "5",  "-nfst",
                                   "5",  "-keep", "-s",  "st.txt", "-convert", "-o", "ex"};
  args.insert(args.end(), more.begin(), more.end());
  args.push_back(example());
  return args;
}

// Every file of a folder by name with its content.
std::map<std::string, std::string> folder_files(const std::string& path) {
  std::map<std::string, std::string> files;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") files[name] = read_file(path + "/" + name);
  }
  closedir(dir);
  return files;
}

// The run record without what may differ between runs of one seed: the command line (it
// names -nprocs), -nprocs itself and the times.
std::string record_without_times(std::string record) {
  std::istringstream in(record);
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    for (const char* varying : {"command line: ", "nprocs: ", "start: ", "end: ", "wall seconds: ",
                                "CPU seconds: ", "checkpoints written: "})
      if (line.rfind(varying, 0) == 0) line.clear();
    if (!line.empty()) kept += line + "\n";
  }
  return kept;
}

// The outputs of one job, the run record reduced to what a seed fixes.
std::map<std::string, std::string> run_job_in(const TempDir& dir,
                                              const std::vector<std::string>& more) {
  CommandResult r = run_bandstat(job(more), dir.path());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::map<std::string, std::string> files = folder_files(dir.path());
  EXPECT_EQ(files.count("ex_run.txt"), 1u);
  files["ex_run.txt"] = record_without_times(files["ex_run.txt"]);
  return files;
}

std::string record_value(const std::string& record, const std::string& key) {
  const size_t at = record.find("\n" + key + ": ");
  if (at == std::string::npos) return "";
  const size_t begin = at + key.size() + 3;
  return record.substr(begin, record.find('\n', begin) - begin);
}

}  // namespace

TEST(Reproducible, SameSeedSameFilesWithAnyNumberOfWorkers) {
  TempDir one;
  const auto reference = run_job_in(one, {"-seed", "4242", "-nprocs", "1"});
  // Check file, 8 accepted-draw files, both samples, diagnostics, statistics, conversion,
  // run record.
  EXPECT_EQ(reference.size(), 15u);
  for (const char* workers : {"2", "4"}) {
    SCOPED_TRACE(std::string(workers) + " workers");
    TempDir dir;
    const auto files = run_job_in(dir, {"-seed", "4242", "-nprocs", workers});
    EXPECT_EQ(files.size(), reference.size());
    for (const auto& [name, text] : reference) {
      SCOPED_TRACE(name);
      EXPECT_TRUE(files.count(name) && files.at(name) == text);
    }
  }
  // A rerun repeats the job; another seed draws other samples.
  TempDir again;
  EXPECT_EQ(run_job_in(again, {"-seed", "4242", "-nprocs", "2"}), reference);
  TempDir other;
  const auto different = run_job_in(other, {"-seed", "4243", "-nprocs", "2"});
  EXPECT_NE(different.at("ex_regression.txt"), reference.at("ex_regression.txt"));
  EXPECT_NE(different.at("ex_Fis1.txt"), reference.at("ex_Fis1.txt"));
}

TEST(Reproducible, JointMethodSameFilesWithOneOrThreeWorkers) {
  // A reference table of 2000 simulations in blocks of 26: 77 blocks shared by the workers.
  const std::vector<std::string> joint = {"-method", "joint", "-sims", "2000", "-seed", "4242"};
  auto with_workers = [&](const char* workers) {
    std::vector<std::string> more = joint;
    more.insert(more.end(), {"-nprocs", workers});
    return more;
  };
  TempDir one, three;
  const auto reference = run_job_in(one, with_workers("1"));
  EXPECT_EQ(reference.size(), 15u);
  const auto files = run_job_in(three, with_workers("3"));
  EXPECT_EQ(files.size(), reference.size());
  for (const auto& [name, text] : reference) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(files.count(name) && files.at(name) == text);
  }
}

TEST(Reproducible, RecordedSeedRepeatsASeedlessRun) {
  TempDir first;
  CommandResult r = run_bandstat(job({"-nprocs", "2"}), first.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string record = read_file(first.file("ex_run.txt"));
  EXPECT_EQ(record.rfind("bandstat ", 0), 0u);
  EXPECT_NE(record_value(record, "command line").find(" -nprocs 2 "), std::string::npos);
  EXPECT_EQ(record_value(record, "input file"), example());
  EXPECT_EQ(record_value(record, "nprocs"), "2");
  EXPECT_EQ(record_value(record, "pilot size"), "399");
  EXPECT_NE(record_value(record, "threshold Fst4"), "");
  EXPECT_GE(std::stoll(record_value(record, "production replicates")), 3999);
  for (const char* key : {"start", "end", "wall seconds", "CPU seconds"})
    EXPECT_NE(record_value(record, key), "") << key;
  const std::string seed = record_value(record, "seed");
  ASSERT_NE(seed.find(" (drawn)"), std::string::npos) << seed;

  TempDir repeat;
  const auto repeated =
      run_job_in(repeat, {"-seed", seed.substr(0, seed.find(' ')), "-nprocs", "1"});
  for (const auto& [name, text] : folder_files(first.path())) {
    SCOPED_TRACE(name);
    if (name == "ex_run.txt") continue;  // says "(drawn)" and "(-seed)" respectively
    EXPECT_TRUE(repeated.count(name) && repeated.at(name) == text);
  }
}

TEST(Interrupt, ProductionRunLeavesNoIncompleteFileUnderAFinalName) {
  struct Case {
    int signal_number;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {SIGINT, 130, "Interrupted (SIGINT); checkpoint written to ex_checkpoint; resume with: "},
      {SIGTERM, 143, "Terminated (SIGTERM); checkpoint written to ex_checkpoint; resume with: "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir dir;
    // A production run of at least 99 999 replicates: seconds, long enough to interrupt.
    const pid_t pid = start_bandstat({"-n", "1000", "-ar", "0.01", "-nfis", "5", "-nfst", "5",
                                      "-keep", "-s", "st.txt", "-o", "ex", example(), example()},
                                     dir.path());
    ASSERT_GT(pid, 0);
    bool in_production = false;
    for (int i = 0; i < 1200 && !in_production; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      in_production = read_file(dir.file("stdout.log")).find("Calculation") != std::string::npos;
    }
    EXPECT_TRUE(in_production);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid, c.signal_number);
    int raw = 0;
    ASSERT_EQ(waitpid(pid, &raw, 0), pid);
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), c.status);

    const std::string err = read_file(dir.file("stderr.log"));
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;  // one line
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    // Only the check file is complete; the checkpoint keeps the accepted draws under their
    // temporary names; the second job never started.
    std::vector<std::string> names;
    for (const auto& file : folder_files(dir.path())) names.push_back(file.first);
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "ex_Fis1.txt.part", "ex_Fis2.txt.part", "ex_Fis3.txt.part", "ex_Fis4.txt.part",
                  "ex_Fst1.txt.part", "ex_Fst2.txt.part", "ex_Fst3.txt.part", "ex_Fst4.txt.part",
                  "ex_check-input.txt", "ex_checkpoint", "stderr.log", "stdout.log"}));
    EXPECT_EQ(read_file(dir.file("stdout.log")).find("Job made in"), std::string::npos);
  }
}
