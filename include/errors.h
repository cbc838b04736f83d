// Every error that stops a run ends here: one message on standard error, exit status 1.
#pragma once

// printf-style; a line break is added. Flushes standard output first so that the progress
// already printed is not lost, then ends the process at once with status 1. Safe to call
// from a worker thread: it runs no static destructors under the other threads' feet.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
