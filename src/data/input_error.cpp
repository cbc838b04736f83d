// SPDX-License-Identifier: GPL-3.0-or-later
#include "data/input_error.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void throw_input_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  throw InputError(text.data());
}
