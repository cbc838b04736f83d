// SPDX-License-Identifier: GPL-3.0-or-later
// The input reader: fills a job's observed data (I, J, pop_target, target_fis and
// target_fst) from one input file (band counts, or a band matrix tallied into counts), read
// with the job's options, and writes its check file, check_input_file_name(job); for a
// matrix also the derived counts, counts_file_name(job) (both in core/output_names.h).
#pragma once

#include <fstream>
#include <string>
#include <string_view>

#include "job.h"

// Reads the open stream (the file named by job.file_name), closes it, writes the check file and
// computes the observed statistics. Input it cannot use is refused by throwing InputError
// (data/input_error.h) with the whole message; the caller ends the run with it.
void read_input(Job& job, std::ifstream& in);

// The same reader on bytes already in memory, as if they were the content of job.file_name
// (the name is used in messages only). A -pops file is still read from its path.
void read_input_bytes(Job& job, std::string_view bytes);
