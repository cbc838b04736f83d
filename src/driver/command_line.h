// SPDX-License-Identifier: GPL-3.0-or-later
// The start of the program: options, run configuration and the job loop.
#pragma once

#include <string>
#include <vector>

#include "job.h"
#include "run_state.h"

class AnyOption;

// Everything main does; returns the exit status of a normal end. `remote`: the other
// processes that simulate blocks for every job's runs (the MPI build's other ranks; none in
// the plain program).
int run_program(int argc, char** argv, const RemoteRanks& remote = RemoteRanks());

// Refuses a parsed command line with an unknown option or an option whose value is missing
// (status 1).
void refuse_unusable_words(AnyOption& parser);

// Refuses -convert without -s (status 1): the conversion needs the statistics' estimates.
void refuse_conversion_without_statistics(AnyOption& parser);

// The run configuration that a parsed command line asks for. Values that would make a run
// impossible or unbounded end the run with a message naming the option (status 1).
Config read_configuration(AnyOption& parser);

// The configuration that the options `options` ask for (the words after the program's name,
// without an input file), refused as the command line refuses them (status 1).
Config configuration_of_options(const std::vector<std::string>& options);

// Job number `job_index` of a run (its input file's place on the command line, from 0):
// `config` with the input file `input_name` read into it, and its check file written. Input
// that cannot be used ends the run with a message naming the file (status 1).
Job make_job(const Config& config, int job_index, const std::string& input_name);

// The output-name stem of an input file name, when -o is not given.
std::string output_stem(const std::string& input_name);

// Sets `parser` up as the program reads its command line: the usage lines, the flags and
// the options that take a value.
void register_options(AnyOption& parser);

// The names that register_options registers, without the leading "-": flags first, then
// the options that take a value.
std::vector<std::string> option_names();
