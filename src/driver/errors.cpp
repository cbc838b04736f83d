#include "errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "core/output_file.h"

void fail(const char* format, ...) {
  std::fflush(stdout);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  // A failed job leaves no file that looks complete.
  remove_incomplete_files_at_exit();
  // _Exit, not exit: a worker thread may be the caller, and the other workers still use
  // the process-wide mutexes and streams that exit() would destroy.
  std::_Exit(1);
}
