// The input reader: fills I, J, pop_target, target_fis and target_fst from one input file
// and writes the check file odir + file_prefix + "_check-input.txt".
#pragma once

#include <fstream>

// Reads the open stream (the file named by file_name), closes it, writes the check file and
// computes the observed statistics. Refuses unusable input with a message and status 1.
void read_input(std::ifstream& in);
