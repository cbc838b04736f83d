// SPDX-License-Identifier: GPL-3.0-or-later
// The start of the program: options, run configuration and the job loop.
#pragma once

#include <string>
#include <vector>

#include "run_state.h"

class AnyOption;

// Everything main does; returns the exit status of a normal end. `remote`: the other
// processes that simulate blocks for every job's runs (the MPI build's other ranks; none in
// the plain program).
int run_program(int argc, char** argv, const RemoteRanks& remote = RemoteRanks());

// The output-name stem of an input file name, when -o is not given.
std::string output_stem(const std::string& input_name);

// Sets `parser` up as the program reads its command line: the usage lines, the flags and
// the options that take a value.
void register_options(AnyOption& parser);

// The names that register_options registers, without the leading "-": flags first, then
// the options that take a value.
std::vector<std::string> option_names();
