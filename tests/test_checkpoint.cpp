// SPDX-License-Identifier: GPL-3.0-or-later
// Checkpoints and -resume, through the program as a user runs it: a job stopped by SIGTERM,
// SIGINT or SIGKILL anywhere and resumed, as often as it takes, writes the files of a job
// never stopped, byte for byte, whatever the number of workers; a checkpoint that cannot be
// trusted is refused and left as it is.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support.h"

namespace {

// Pilot 4 999 and production at least 49 999 replicates in about 190 and 1 900 blocks: a
// few seconds, with every stage long enough to be stopped in. Every output is asked for.
std::vector<std::string> job_options() {
  return {"-n",    "500", "-ar",    "0.01",     "-nfis", "5",   "-nfst", "5",    "-seed", "31",
          "-keep", "-s",  "st.txt", "-convert", "-plot", "-cv", "20",    "-gof", "20"};
}

// The files of a folder by name, without the logs and the run record (which says how the
// run went: resumed or not).
std::map<std::string, std::string> outputs(const std::string& path) {
  std::map<std::string, std::string> files;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name.find(".log") != std::string::npos) continue;
    if (name.size() > 8 && name.compare(name.size() - 8, 8, "_run.txt") == 0) continue;
    files[name] = read_file(path + "/" + name);
  }
  closedir(dir);
  return files;
}

void copy_example(const TempDir& dir, const std::string& name) {
  write_file(dir.file(name), read_file(source_dir() + "/examples/example.txt"));
}

// Whether `text` holds the markers in this order.
bool holds_in_order(const std::string& text, const std::vector<std::string>& markers) {
  size_t at = 0;
  for (const std::string& m : markers) {
    at = text.find(m, at);
    if (at == std::string::npos) return false;
    at += m.size();
  }
  return true;
}

// Waits until `reached(output)` holds for the program's output (or it ends), then sends
// `signal_number`; returns the exit status (-1: not a normal exit).
template <typename Reached>
int stop_once(pid_t pid, const std::string& cwd, Reached reached, int signal_number) {
  int raw = 0;
  for (int i = 0; i < 60000; ++i) {
    if (waitpid(pid, &raw, WNOHANG) == pid) return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (reached(read_file(cwd + "/stdout.log"))) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, signal_number);
  if (waitpid(pid, &raw, 0) != pid) return -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000 - WTERMSIG(raw);
}

// The same, once the output shows `markers` in order.
int stop_when(pid_t pid, const std::string& cwd, const std::vector<std::string>& markers,
              int signal_number) {
  return stop_once(
      pid, cwd, [&markers](const std::string& out) { return holds_in_order(out, markers); },
      signal_number);
}

// The first words of each stage's output, in the order the stages run; a resumed run starts
// its stage with the same words.
const std::vector<std::string> STAGE_HEADERS = {
    "Pilot run",       "Calculation",         "Performing regression",
    "Fis: population", "Cross-validation on", "Goodness of fit on"};

// One place to stop a run: a stage, how far into its gauge (-1: at its first line), and the
// workers of the run stopped.
struct StopPoint {
  const char* stage;
  int percent;
  const char* nprocs;
};

// Whether `out` shows the run at `point` or past it. A signal takes a moment to land, so the
// run before may have stopped past where it was asked to; the run resumed from there then
// starts later in its stage, or in a later one, and this one stops at once.
bool at_or_past(const std::string& out, const StopPoint& point) {
  const auto stage = std::find(STAGE_HEADERS.begin(), STAGE_HEADERS.end(), point.stage);
  for (auto later = stage + 1; later != STAGE_HEADERS.end(); ++later)
    if (out.find(*later) != std::string::npos) return true;
  const size_t at = out.rfind(point.stage);
  if (at == std::string::npos) return false;
  if (point.percent < 0) return true;
  for (size_t sign = out.find('%', at); sign != std::string::npos; sign = out.find('%', sign + 1)) {
    size_t digits = sign;
    while (digits > at && std::isdigit(static_cast<unsigned char>(out[digits - 1]))) --digits;
    if (digits < sign && std::stoi(out.substr(digits, sign - digits)) >= point.percent) return true;
  }
  return false;
}

// The job started fresh, then stopped at every point in turn, each run resumed from the
// checkpoint the one before it wrote; the last resume runs to the end.
void stop_and_resume(const TempDir& dir, const std::vector<std::string>& first_run,
                     int signal_number, const std::vector<StopPoint>& points,
                     const char* last_nprocs) {
  const int expected = 128 + signal_number;
  for (size_t i = 0; i < points.size(); ++i) {
    SCOPED_TRACE("stop " + std::to_string(i + 1));
    std::vector<std::string> args = {"-resume", "ex_checkpoint"};
    if (i == 0) args = first_run;
    args.insert(args.end(), {"-nprocs", points[i].nprocs});
    const pid_t pid = start_bandstat(args, dir.path());
    ASSERT_GT(pid, 0);
    const StopPoint& point = points[i];
    ASSERT_EQ(
        stop_once(
            pid, dir.path(), [&point](const std::string& out) { return at_or_past(out, point); },
            signal_number),
        expected)
        << read_file(dir.file("stderr.log")) << read_file(dir.file("stdout.log"));
    const std::string err = read_file(dir.file("stderr.log"));
    EXPECT_NE(err.find("checkpoint written to ex_checkpoint; resume with: "), std::string::npos)
        << err;
    EXPECT_NE(err.find(" -resume ex_checkpoint"), std::string::npos) << err;
    ASSERT_TRUE(file_exists(dir.file("ex_checkpoint")));
  }
  const CommandResult last =
      run_bandstat({"-resume", "ex_checkpoint", "-nprocs", last_nprocs}, dir.path());
  ASSERT_EQ(last.status, 0) << last.err;
  EXPECT_FALSE(file_exists(dir.file("ex_checkpoint")));
  const std::string record = read_file(dir.file("ex_run.txt"));
  EXPECT_NE(record.find("resumed: " + std::to_string(points.size()) + " times, from the pilot run"),
            std::string::npos)
      << record;
}

class Resume : public ::testing::Test {
 protected:
  // The uninterrupted job, once for all the tests.
  static void SetUpTestSuite() {
    reference_ = new TempDir();
    copy_example(*reference_, "ex.txt");
    std::vector<std::string> args = job_options();
    args.insert(args.end(), {"-nprocs", "2", "ex.txt"});
    const CommandResult r = run_bandstat(args, reference_->path());
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() {
    delete reference_;
    reference_ = nullptr;
  }
  static std::vector<std::string> fresh_run() {
    std::vector<std::string> args = job_options();
    args.insert(args.end(), {"-checkpoint", "1", "ex.txt"});
    return args;
  }
  static void expect_reference_files(const TempDir& dir) {
    const auto expected = outputs(reference_->path());
    const auto got = outputs(dir.path());
    ASSERT_GT(expected.size(), 15u);
    for (const auto& [name, text] : expected) {
      SCOPED_TRACE(name);
      ASSERT_EQ(got.count(name), 1u);
      EXPECT_TRUE(got.at(name) == text);
    }
    EXPECT_EQ(got.size(), expected.size());
  }
  static TempDir* reference_;
};
TempDir* Resume::reference_ = nullptr;

// Ten stops with each signal, over the pilot run, the production run, the posterior
// analysis, the cross-validation and the goodness-of-fit test, on 1, 2 or 3 workers.
TEST_F(Resume, StoppedAtTwentyPointsGivesTheFilesOfAnUnstoppedJob) {
  const std::vector<StopPoint> term = {
      {"Pilot run", 10, "1"},           {"Pilot run", 40, "3"},
      {"Pilot run", 80, "2"},           {"Calculation", 10, "3"},
      {"Calculation", 40, "1"},         {"Calculation", 70, "2"},
      {"Calculation", 95, "3"},         {"Performing regression", -1, "1"},
      {"Cross-validation on", -1, "2"}, {"Goodness of fit on", -1, "3"},
  };
  const std::vector<StopPoint> interrupt = {
      {"Pilot run", 25, "3"},           {"Pilot run", 60, "1"},
      {"Pilot run", 99, "2"},           {"Calculation", 5, "1"},
      {"Calculation", 25, "3"},         {"Calculation", 50, "2"},
      {"Calculation", 85, "1"},         {"Fis: population", -1, "3"},
      {"Cross-validation on", -1, "1"}, {"Goodness of fit on", -1, "2"},
  };
  struct Case {
    int signal_number;
    const std::vector<StopPoint>& points;
    const char* last_nprocs;
  };
  for (const Case& c : {Case{SIGTERM, term, "1"}, Case{SIGINT, interrupt, "3"}}) {
    SCOPED_TRACE(strsignal(c.signal_number));
    TempDir dir;
    copy_example(dir, "ex.txt");
    stop_and_resume(dir, fresh_run(), c.signal_number, c.points, c.last_nprocs);
    expect_reference_files(dir);
  }
}

// A SIGKILL leaves no chance to write anything: the run goes on from the last periodic
// checkpoint, and the accepted draws written after it are cut off.
TEST_F(Resume, KilledGoesOnFromThePeriodicCheckpoint) {
  std::random_device device;
  const int delay_ms = 1200 + static_cast<int>(device() % 600);
  SCOPED_TRACE("killed after " + std::to_string(delay_ms) + " ms");
  TempDir dir;
  copy_example(dir, "ex.txt");
  std::vector<std::string> args = fresh_run();
  args.insert(args.end(), {"-nprocs", "1"});
  const pid_t pid = start_bandstat(args, dir.path());
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  kill(pid, SIGKILL);
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(raw)) << "the job ended before it was killed";
  ASSERT_TRUE(file_exists(dir.file("ex_checkpoint")));
  const CommandResult r = run_bandstat({"-resume", "ex_checkpoint", "-nprocs", "3"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  expect_reference_files(dir);
}

// One command line, two jobs: a stop in the first resumes the first and then runs the
// second; a stop in the second resumes only the second.
TEST_F(Resume, ResumeRunsTheStoppedJobAndTheOnesAfterIt) {
  TempDir dir, whole;
  for (const TempDir* d : {&dir, &whole}) {
    copy_example(*d, "a.txt");
    copy_example(*d, "b.txt");
  }
  std::vector<std::string> args = job_options();
  args.insert(args.end(), {"a.txt", "b.txt"});
  ASSERT_EQ(run_bandstat(args, whole.path()).status, 0);

  pid_t pid = start_bandstat(args, dir.path());
  ASSERT_EQ(stop_when(pid, dir.path(), {"Calculation", " 30%"}, SIGTERM), 143);
  ASSERT_TRUE(file_exists(dir.file("a_checkpoint")));
  pid = start_bandstat({"-resume", "a_checkpoint"}, dir.path());
  ASSERT_EQ(stop_when(pid, dir.path(), {"Goodness of fit on", "Pilot run", " 50%"}, SIGTERM), 143);
  EXPECT_FALSE(file_exists(dir.file("a_checkpoint")));
  ASSERT_TRUE(file_exists(dir.file("b_checkpoint")));
  const CommandResult r = run_bandstat({"-resume", "b_checkpoint"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto expected = outputs(whole.path());
  EXPECT_TRUE(outputs(dir.path()) == expected);
  EXPECT_GT(expected.count("b_regression.txt"), 0u);
}

// FNV-1a of the checkpoint's bytes before its last eight, as the program checks it.
void reseal(std::string& bytes) {
  uint64_t sum = 14695981039346656037ULL;
  for (size_t i = 0; i + 8 < bytes.size(); ++i) {
    sum ^= static_cast<unsigned char>(bytes[i]);
    sum *= 1099511628211ULL;
  }
  std::memcpy(&bytes[bytes.size() - 8], &sum, 8);
}

// Every checkpoint or command that cannot be trusted is refused with status 1 and a message,
// and the checkpoint stays as it was.
TEST(ResumeRefusals, UntrustedCheckpointsAndCommandsAreRefused) {
  TempDir dir;
  copy_example(dir, "ex.txt");
  std::vector<std::string> args = job_options();
  args.push_back("ex.txt");
  const pid_t pid = start_bandstat(args, dir.path());
  ASSERT_EQ(stop_when(pid, dir.path(), {"Calculation", " 20%"}, SIGTERM), 143);
  const std::string saved = read_file(dir.file("ex_checkpoint"));
  // The reference table of -cv and -gof, written once beside the checkpoint.
  const std::string saved_rows = read_file(dir.file("ex_checkpoint_rows"));
  ASSERT_GT(saved_rows.size(), 100000u);
  std::string edited_rows = saved_rows;
  edited_rows[saved_rows.size() / 2] ^= 1;
  const std::string input = read_file(dir.file("ex.txt"));
  const size_t version_at = saved.find("1.");  // the program's version, after the header

  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string checkpoint;  // written to ex_checkpoint first (empty: as saved)
    std::string input;       // written to ex.txt first ("-": removed)
    const char* message;
    std::string rows = "";  // written to ex_checkpoint_rows first (empty: as saved; "-": removed)
  };
  std::string other_format = saved;
  other_format[20] = 9;
  std::string other_version = saved;
  other_version[version_at] = '0';
  reseal(other_version);
  std::string edited = saved;
  edited[saved.size() / 2] ^= 1;
  const std::string truncated = saved.substr(0, saved.size() - 100);
  const std::vector<std::string> resume = {"-resume", "ex_checkpoint"};
  auto with = [&resume](std::vector<std::string> more) {
    more.insert(more.begin(), resume.begin(), resume.end());
    return more;
  };
  const Case cases[] = {
      {"other format", resume, other_format, "", "its format version is 9"},
      {"other version", resume, other_version, "", "it was written by bandstat 0."},
      {"edited", resume, edited, "", "its checksum does not match"},
      {"truncated", resume, truncated, "", "its checksum does not match"},
      {"not a checkpoint", resume, "[loci]=3\n", "", "it is not a checkpoint of this program"},
      {"changed input", resume, "", input + "\n", "the input file ex.txt has changed"},
      {"missing input", resume, "", "-", "the input file ex.txt is missing"},
      {"rows file missing", resume, "", "", "the file ex_checkpoint_rows it needs is missing", "-"},
      {"rows file truncated", resume, "", "",
       "ex_checkpoint_rows is shorter than its checkpoint says",
       saved_rows.substr(0, saved_rows.size() / 2)},
      {"rows file edited", resume, "", "", "ex_checkpoint_rows does not match it", edited_rows},
      {"another option", with({"-n", "100"}), "", "", "Option -n cannot be given with -resume"},
      {"a flag", with({"-keep"}), "", "", "Option -keep cannot be given with -resume"},
      {"an input file", with({"ex.txt"}), "", "", "-resume takes no input file (ex.txt)"},
      {"bad -nprocs", with({"-nprocs", "0"}), "", "", "Invalid value for -nprocs: \"0\""},
      {"bad -checkpoint", with({"-checkpoint", "-1"}), "", "",
       "Invalid value for -checkpoint: \"-1\""},
      {"no checkpoint", {"-resume", "none_checkpoint"}, "", "", "cannot be opened"},
      {"-checkpoint negative",
       {"-checkpoint", "-5", "ex.txt"},
       "",
       "",
       "Invalid value for -checkpoint: \"-5\"; give the seconds between checkpoints"},
      {"-checkpoint not a number",
       {"-checkpoint", "10s", "ex.txt"},
       "",
       "",
       "Invalid value for -checkpoint: \"10s\"; a whole number is expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string checkpoint = c.checkpoint.empty() ? saved : c.checkpoint;
    write_file(dir.file("ex_checkpoint"), checkpoint);
    if (c.input == "-")
      std::remove(dir.file("ex.txt").c_str());
    else
      write_file(dir.file("ex.txt"), c.input.empty() ? input : c.input);
    const std::string rows = c.rows.empty() ? saved_rows : c.rows;
    if (c.rows == "-")
      std::remove(dir.file("ex_checkpoint_rows").c_str());
    else
      write_file(dir.file("ex_checkpoint_rows"), rows);
    const CommandResult r = run_bandstat(c.args, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(read_file(dir.file("ex_checkpoint")) == checkpoint);
    if (c.rows != "-") {
      EXPECT_TRUE(read_file(dir.file("ex_checkpoint_rows")) == rows);
    }
  }
  // The checkpoint, still as saved, resumes.
  write_file(dir.file("ex_checkpoint_rows"), saved_rows);
  write_file(dir.file("ex_checkpoint"), saved);
  write_file(dir.file("ex.txt"), input);
  const CommandResult last = run_bandstat(resume, dir.path());
  EXPECT_EQ(last.status, 0) << last.err;
}

// The pops file of a DArT report is input too: a resume with it changed or missing is
// refused, and goes on once it is back as it was.
TEST(ResumeRefusals, ThePopsFileMustBeAsItWas) {
  TempDir dir;
  for (const char* name : {"dart.csv", "dart_pops.csv"})
    write_file(dir.file(name), read_file(source_dir() + "/examples/" + name));
  const pid_t pid =
      start_bandstat({"-seed", "4", "-pops", "dart_pops.csv", "-o", "d", "dart.csv"}, dir.path());
  ASSERT_EQ(stop_when(pid, dir.path(), {"Calculation", " 10%"}, SIGTERM), 143)
      << read_file(dir.file("stderr.log"));
  const std::string pops = read_file(dir.file("dart_pops.csv"));
  const std::vector<std::string> resume = {"-resume", "d_checkpoint"};
  struct Case {
    const char* what;
    const char* pops;  // written to dart_pops.csv first (null: removed)
    const char* message;
  };
  const std::string swapped = pops + "\n";
  const Case cases[] = {
      {"changed", swapped.c_str(), "the pops file dart_pops.csv has changed since the checkpoint"},
      {"missing", nullptr, "the pops file dart_pops.csv is missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.pops)
      write_file(dir.file("dart_pops.csv"), c.pops);
    else
      std::remove(dir.file("dart_pops.csv").c_str());
    const CommandResult r = run_bandstat(resume, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  write_file(dir.file("dart_pops.csv"), pops);
  const CommandResult r = run_bandstat(resume, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace

// A job of -method joint is not checkpointed: SIGTERM ends it as before, with its incomplete
// files removed and no checkpoint left behind.
TEST(JointMethod, SigtermLeavesNoCheckpoint) {
  TempDir dir;
  copy_example(dir, "ex.txt");
  const pid_t pid = start_bandstat(
      {"-method", "joint", "-sims", "200000", "-checkpoint", "1", "-seed", "3", "ex.txt"},
      dir.path());
  ASSERT_EQ(stop_when(pid, dir.path(), {"Simulating the reference table", " 5%"}, SIGTERM), 143);
  EXPECT_FALSE(file_exists(dir.file("ex_checkpoint")));
  EXPECT_FALSE(file_exists(dir.file("ex_regression.txt")));
  EXPECT_EQ(read_file(dir.file("stderr.log")).find("checkpoint"), std::string::npos)
      << read_file(dir.file("stderr.log"));
}
