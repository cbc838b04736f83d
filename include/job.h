// SPDX-License-Identifier: GPL-3.0-or-later
// One job: the run configuration, one input file and the data read from it. Built by the
// command line (or the library) and the input reader, then handed by const reference to
// every step of the run; nothing in a job changes while it runs, so that two jobs can run
// side by side in one process.
#pragma once

#include <string>

#include "config.h"
#include "observed_data.h"

struct Job : Config, ObservedData {
  Job() = default;
  explicit Job(const Config& config) : Config(config) {}

  int job_index = 0;        // the input file's place among the command line's (from 0)
  std::string file_name;    // the input file
  std::string file_prefix;  // -o, or the stem of file_name: the stem of every output name
};
