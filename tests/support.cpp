// SPDX-License-Identifier: GPL-3.0-or-later
#include "support.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "config.h"

namespace {

std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace

CommandResult run_shell(const std::string& command, const std::string& cwd) {
  TempDir scratch;
  std::string out_path = scratch.file("stdout");
  std::string err_path = scratch.file("stderr");
  std::string line = "cd " + shell_quote(cwd) + " && " + command + " >" + shell_quote(out_path) +
                     " 2>" + shell_quote(err_path) + " </dev/null";
  int raw = std::system(line.c_str());
  CommandResult result;
  result.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

CommandResult run_bandstat(const std::vector<std::string>& args, const std::string& cwd) {
  std::string command = shell_quote(bandstat_exe());
  for (const std::string& a : args) command += " " + shell_quote(a);
  return run_shell(command, cwd);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/bandstat_test_XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::string command = "rm -rf " + shell_quote(path_);
  if (std::system(command.c_str()) != 0) {
    // Nothing useful to do in a destructor; the folder stays behind.
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BANDSTAT_SHADOW_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BANDSTAT_SHADOW_MEMORY 1
#endif
#endif

const char* why_no_address_space_cap() {
#ifdef BANDSTAT_SHADOW_MEMORY
  return "built with AddressSanitizer or ThreadSanitizer, whose shadow memory does not fit "
         "under an address-space cap";
#else
  return nullptr;
#endif
}

std::string bandstat_exe() { return BANDSTAT_EXE; }
std::string source_dir() { return BANDSTAT_SOURCE_DIR; }
std::string test_data_dir() { return source_dir() + "/tests/data"; }

int count_lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += (c == '\n');
  return n;
}

pid_t start_bandstat(const std::vector<std::string>& args, const std::string& cwd) {
  // Emptied here, not only by the child: the output of the run before must not be taken
  // for this one's before the child gets to it.
  write_file(cwd + "/stdout.log", "");
  write_file(cwd + "/stderr.log", "");
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(cwd.c_str()) != 0) _exit(120);
  if (!freopen("stdout.log", "w", stdout) || !freopen("stderr.log", "w", stderr)) _exit(121);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  std::vector<char*> argv;
  std::string exe = bandstat_exe();
  argv.push_back(exe.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(122);
}
