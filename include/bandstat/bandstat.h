// SPDX-License-Identifier: GPL-3.0-or-later
// bandstat as a library: the program's jobs, callable from C++ (a binding, a service, a test
// that runs two seeds side by side).
//
//   Config config = bandstat::configure({"-seed", "42", "-n", "1000", "-s", "stats.txt"});
//   Job job = bandstat::load_job(config, "alleles.txt");
//   JobResults r = bandstat::run(job);  // r.estimates, r.diagnostics, r.files ...
//
// A job writes the files the program would write for it, where its options say, and prints
// the program's console lines. Jobs share nothing: several may run at once on threads of
// one process, each with its own Job (their output names must differ). A refused option,
// an unusable input or a failed write ends the process with a message and status 1, as the
// program does.
#pragma once

#include <string>
#include <vector>

#include "job.h"
#include "job_results.h"
#include "progress.h"

namespace bandstat {

// The configuration that the command-line options `options` ask for (the words after the
// program's name, with no input file: "-n", "1000", ...), checked as the command line
// checks them.
Config configure(const std::vector<std::string>& options);

// A job of `config` on the input file `input` (any layout the program reads): the file is
// read and its check file written. The job's command line is the configuration's options
// followed by `input`, so that its run record names it and an interrupted job goes on with
// the program's -resume.
Job load_job(const Config& config, const std::string& input);

// Runs the job to its end and returns its summaries and the names of the files it left.
// `observer` (none: null) learns of the simulation runs' progress.
JobResults run(const Job& job, ProgressObserver* observer = nullptr);

}  // namespace bandstat
