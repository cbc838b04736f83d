// SPDX-License-Identifier: GPL-3.0-or-later
// The run record STEM_run.txt: everything needed to repeat a job (program version, command
// line, input file, seed) and what the job did (pilot size, thresholds, replicates, times).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "job.h"

// The program's version, the project version of the build ("1.2.0"): printed by -version
// and written at the head of every run record.
extern const char PROGRAM_VERSION[];

// A command line as one shell line: words quoted where the shell would split or expand
// them.
std::string command_line_text(const std::vector<std::string>& command_words);

// The timing and counts of one job, filled by the run driver as the job goes.
struct JobRecord {
  std::time_t start_time = 0;  // calendar time at the start of the job
  std::clock_t start_cpu = 0;  // processor time of the whole process then
  double start_wall = 0.0;     // steady-clock seconds then
  uint32_t job_seed = 0;       // the seed every random stream of the job derives from
  int block_size = 0;          // replicates per block of its runs
  long long pilot_size = 0;
  // The acceptance thresholds of the production run, per population (default method).
  std::vector<double> thresholds_fis;
  std::vector<double> thresholds_fst;
  long long production_replicates = 0;  // replicates of the committed production blocks
  // -method joint: the lines that describe its estimation, in place of the pilot size, the
  // thresholds and the production replicates (empty for the default method).
  std::vector<std::string> method_lines;
  std::vector<std::string> notes;  // lines after the times (resumes, checkpoints)
};

// Starts a job's record now.
JobRecord begin_job_record();

// Writes the run record of the current job (under a temporary name, renamed when
// complete); a file that cannot be written ends the run with a message naming it.
void write_run_record(const Job& job, const JobRecord& record);
