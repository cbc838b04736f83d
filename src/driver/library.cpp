// SPDX-License-Identifier: GPL-3.0-or-later
#include <memory>

#include "bandstat/bandstat.h"
#include "driver/command_line.h"
#include "driver/run_driver.h"
#include "errors.h"
#include "options/anyoption.h"

namespace bandstat {

Config configure(const std::vector<std::string>& options) {
  // The parser reads words as the program's main receives them, the program's name first.
  std::vector<std::string> words = {"bandstat"};
  words.insert(words.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  AnyOption parser;
  register_options(parser);
  parser.processCommandArgs(static_cast<int>(argv.size()), argv.data());
  refuse_unusable_words(parser);
  if (parser.getValue("resume")) fail("-resume is for the command line: a job resumes from it");
  refuse_conversion_without_statistics(parser);
  if (parser.getArgc() > 0)
    fail("An input file (%s) is not an option: give it to load_job", parser.getArgv(0));
  Config config = read_configuration(parser);
  config.command_words = words;
  return config;
}

Job load_job(const Config& config, const std::string& input, int job_index) {
  return make_job(config, job_index, input);
}

JobResults run(const Job& job, ProgressObserver* observer) {
  return run_job(job, nullptr, RemoteRanks(), observer);
}

}  // namespace bandstat
