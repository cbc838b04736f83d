// SPDX-License-Identifier: GPL-3.0-or-later
// Every error that stops a run ends here, with exit status 1: nothing else in the program
// ends the process. Most errors print one message on standard error; the few whose text
// has always gone to standard output (scripts read it there) keep it there.
#pragma once

// printf-style; a line break is added. Flushes standard output first so that the progress
// already printed is not lost, removes the output files still incomplete, then ends the
// process at once with status 1. Safe to call from a worker thread: it runs no static
// destructors under the other threads' feet.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// As fail, after `notice` and a line break on standard output: the short line that has
// always announced this error there, with the detail on standard error.
[[noreturn]] void fail_with_notice(const char* notice, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// As fail, but the printf-style text goes to standard output exactly as given (no line
// break added) and nothing to standard error: for the refusals of the command line and the
// option parser, whose texts are printed there.
[[noreturn]] void fail_on_stdout(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Flushes both streams and ends the process at once with `status`, for an ending that has
// printed its own message and removed its own files already: an interrupt, which ends with
// 128 + the signal number as shells expect.
[[noreturn]] void end_process(int status);

// Called by end_process, when set, before a process ends with a non-zero status: the MPI
// build sets it to end every rank of the run with that status.
extern void (*abort_other_processes)(int status);

// Called by a failure, when set, before it removes the incomplete files: a job whose
// checkpoint is on disk keeps the files the checkpoint needs, so that it can be resumed
// once the cause is mended.
extern void (*before_failure_cleanup)();
