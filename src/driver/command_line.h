// The start of the program: options, run configuration and the job loop.
#pragma once

#include <string>

// Everything main does; returns the exit status of a normal end.
int run_program(int argc, char** argv);

// The output-name stem of an input file name, when -o is not given.
std::string output_stem(const std::string& input_name);
