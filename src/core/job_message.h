// SPDX-License-Identifier: GPL-3.0-or-later
// A Job as bytes, for the processes of a cluster run: every field of the configuration, the
// input's names and the observed data, in one list that the writer and the reader share,
// behind a version number. Both sides run the same program on the same kind of machine, so
// values travel as plain copies.
#pragma once

#include <string>

#include "job.h"

// The version of the message; a change of its layout takes a new version. (A field added to
// the configuration changes a checksum that the message carries, and needs nothing here.)
constexpr unsigned JOB_MESSAGE_VERSION = 1;

std::string encode_job(const Job& job);

// The job that encode_job wrote. A message of another version, or one cut short, ends the
// run with a message (status 1).
Job decode_job(const std::string& bytes);
