// SPDX-License-Identifier: GPL-3.0-or-later
#include "errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "core/output_file.h"

namespace {

[[noreturn]] void end_run() {
  std::fflush(stdout);
  std::fflush(stderr);
  if (before_failure_cleanup != nullptr) before_failure_cleanup();
  // A failed job leaves no file that looks complete.
  remove_incomplete_files_at_exit();
  end_process(1);
}

void print_line(std::FILE* stream, const char* format, va_list args) {
  std::vfprintf(stream, format, args);
  std::fputc('\n', stream);
}

}  // namespace

void fail(const char* format, ...) {
  // Progress printed so far comes out before the message.
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  print_line(stderr, format, args);
  va_end(args);
  end_run();
}

void fail_with_notice(const char* notice, const char* format, ...) {
  std::fputs(notice, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  print_line(stderr, format, args);
  va_end(args);
  end_run();
}

void fail_on_stdout(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  end_run();
}

void (*abort_other_processes)(int status) = nullptr;
void (*before_failure_cleanup)() = nullptr;

void end_process(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (status != 0 && abort_other_processes != nullptr) abort_other_processes(status);
  // _Exit, not exit: a worker thread may be the caller, and the other workers still use
  // the process-wide mutexes and streams that exit() would destroy.
  std::_Exit(status);
}
