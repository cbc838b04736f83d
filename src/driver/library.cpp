// SPDX-License-Identifier: GPL-3.0-or-later
#include "bandstat/bandstat.h"
#include "driver/command_line.h"
#include "driver/run_driver.h"

namespace bandstat {

Config configure(const std::vector<std::string>& options) {
  return configuration_of_options(options);
}

Job load_job(const Config& config, const std::string& input, int job_index) {
  return make_job(config, job_index, input);
}

JobResults run(const Job& job, ProgressObserver* observer) {
  return run_job(job, nullptr, RemoteRanks(), observer);
}

}  // namespace bandstat
