// SPDX-License-Identifier: GPL-3.0-or-later
#include "bandstat/bandstat.h"
#include "driver/command_line.h"
#include "driver/run_driver.h"

namespace bandstat {

Config configure(const std::vector<std::string>& options) {
  return configuration_of_options(options);
}

Job load_job(const Config& config, const std::string& input) {
  // The job's command line names its input, as the program's would: its run record shows
  // it, and the program's -resume goes on from its checkpoint.
  Config with_input = config;
  if (with_input.command_words.empty()) with_input.command_words.push_back("bandstat");
  with_input.command_words.push_back(input);
  return make_job(with_input, 0, input);
}

JobResults run(const Job& job, ProgressObserver* observer) {
  return run_job(job, nullptr, RemoteRanks(), observer);
}

}  // namespace bandstat
