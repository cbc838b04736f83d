// The start of the program: options, run configuration and the job loop.
#pragma once

#include <string>

// Everything main does; returns the exit status of a normal end.
int run_program(int argc, char** argv);

// The output-name stem of an input file name, when -o is not given.
std::string output_stem(const std::string& input_name);

// Counts derived from nb_final and ratio, computed in 80-bit extended precision and
// truncated toward zero.
struct DerivedCounts {
  long long pilot_size;          // nb_final / (ratio * 10)
  long long threshold_index;     // pilot size * ratio
  long long production_minimum;  // nb_final / ratio
};
DerivedCounts derived_counts(int final_draws, double acceptance_ratio);
