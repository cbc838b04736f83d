// SPDX-License-Identifier: GPL-3.0-or-later
#include "driver/run_record.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "core/output_file.h"
#include "core/output_names.h"
#include "errors.h"
#include "job.h"

#ifndef BANDSTAT_VERSION
#define BANDSTAT_VERSION "unknown"
#endif

const char PROGRAM_VERSION[] = BANDSTAT_VERSION;

namespace {

double steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string utc_text(std::time_t t) {
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

// A word as the shell reads it back: unchanged when it holds only characters the shell
// leaves alone, else in single quotes.
std::string shell_word(const std::string& word) {
  bool plain = !word.empty();
  for (char c : word) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string("-_./=+,:@%").find(c) != std::string::npos;
    if (!safe) plain = false;
  }
  if (plain) return word;
  std::string quoted = "'";
  for (char c : word) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Thresholds in full precision: the record then holds the exact values the run used.
std::string exact(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

}  // namespace

std::string command_line_text(const std::vector<std::string>& command_words) {
  std::string line;
  for (const std::string& word : command_words) {
    if (!line.empty()) line += ' ';
    line += shell_word(word);
  }
  return line;
}

JobRecord begin_job_record() {
  JobRecord r;
  r.start_time = std::time(nullptr);
  r.start_cpu = std::clock();
  r.start_wall = steady_seconds();
  return r;
}

void write_run_record(const Job& job, const JobRecord& record) {
  const std::string name = run_record_file_name(job);
  const std::time_t end_time = std::time(nullptr);
  const double wall = steady_seconds() - record.start_wall;
  const double cpu = static_cast<double>(std::clock() - record.start_cpu) / CLOCKS_PER_SEC;

  OutputFile file(name);
  if (!file.is_open()) fail("Cannot create run record %s", name.c_str());
  std::ostream& out = file.stream();
  out << "bandstat " << PROGRAM_VERSION << "\n";
  out << "command line: " << command_line_text(job.command_words) << "\n";
  out << "input file: " << job.file_name << "\n";
  out << "seed: " << record.job_seed << (job.user_seed_given ? " (-seed)" : " (drawn)") << "\n";
  out << "nprocs: " << job.nb_procs << "\n";
  out << "replicates per block: " << record.block_size << "\n";
  if (record.method_lines.empty()) {
    out << "pilot size: " << record.pilot_size << "\n";
    // One per population: the record holds the thresholds of the job's production run.
    for (size_t p = 0; p < record.thresholds_fis.size(); ++p)
      out << "threshold Fis" << p + 1 << ": " << exact(record.thresholds_fis[p]) << "\n";
    for (size_t p = 0; p < record.thresholds_fst.size(); ++p)
      out << "threshold Fst" << p + 1 << ": " << exact(record.thresholds_fst[p]) << "\n";
    out << "production replicates: " << record.production_replicates << "\n";
  }
  for (const std::string& line : record.method_lines) out << line << "\n";
  out << "start: " << utc_text(record.start_time) << "\n";
  out << "end: " << utc_text(end_time) << "\n";
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "wall seconds: %.3f\nCPU seconds: %.3f\n", wall, cpu);
  out << seconds;
  for (const std::string& line : record.notes)
    if (!line.empty()) out << line << "\n";
  if (!file.commit()) fail("Cannot write run record %s", name.c_str());
}
