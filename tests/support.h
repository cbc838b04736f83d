// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the test programs: running the built binary, temporary folders, files.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct CommandResult {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs `bandstat` (the built binary) with the given arguments in the folder `cwd`.
CommandResult run_bandstat(const std::vector<std::string>& args, const std::string& cwd);

// Starts `bandstat` in `cwd` without waiting, with SIGINT and SIGTERM at their defaults (a
// test runner may have them ignored or blocked), its output going to stdout.log and
// stderr.log there (emptied first). Returns the child's process id.
pid_t start_bandstat(const std::vector<std::string>& args, const std::string& cwd);

// Runs a shell command line in `cwd`, capturing both streams.
CommandResult run_shell(const std::string& command, const std::string& cwd);

// A fresh empty folder under the system's temporary folder, removed at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);
// Lines in a text (its newline characters).
int count_lines(const std::string& text);

// Why a test that caps the address space (setrlimit RLIMIT_AS) cannot run in this build,
// or null where it can: AddressSanitizer and ThreadSanitizer reserve terabytes of shadow
// address space up front, so any cap stops the process before the code under test runs.
const char* why_no_address_space_cap();

// Path of the built binary and of the project's source folder.
std::string bandstat_exe();
std::string source_dir();
// The real data sets the tests read, in the project's tests/data (sources in its README).
std::string test_data_dir();

// Deterministic uniform(0, 1) for fixtures (xorshift64; the seed must not be 0).
struct FixtureUniform {
  uint64_t s;
  double operator()() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return (s >> 11) * (1.0 / 9007199254740992.0);
  }
};
