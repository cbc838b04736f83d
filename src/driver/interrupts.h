// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM end a run cleanly: the workers stop, the job's checkpoint is written
// (driver/checkpoint.h), every other incomplete file of the job is removed, one line on standard
// error says what went, and the process ends with status 128 + the signal's number (130, 143). Jobs
// not yet run are not run.
#pragma once

#include <string>
#include <vector>

// Blocks the two signals in the calling thread (and so in every thread it starts later)
// and starts the thread that waits for them. Call it first, before any other thread
// starts. A signal that the program was started with ignored stays ignored, as usual for
// background jobs.
void install_interrupt_handling();

// The line written on standard error when `signal_number` ends the run, given the names of
// the files removed and the checkpoint written (empty: none), which `program` resumes.
std::string interrupt_message(int signal_number, const std::vector<std::string>& removed,
                              const std::string& checkpoint = "",
                              const std::string& program = "bandstat");
