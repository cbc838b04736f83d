// SPDX-License-Identifier: GPL-3.0-or-later
// The one way the readers report input they cannot use: an exception that carries the
// whole message (file, line, column or locus). The readers never end the process
// themselves, so a test or a fuzzer can drive them; the job loop catches the exception and
// ends the run through the error module.
#pragma once

#include <stdexcept>
#include <string>

class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

// printf-style: formats the message and throws it as an InputError.
[[noreturn]] void throw_input_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
