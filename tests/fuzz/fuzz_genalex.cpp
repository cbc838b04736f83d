// SPDX-License-Identifier: GPL-3.0-or-later
// The GenAlEx reader: the tally on its own, then the whole reader and its counts file.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setup();
  fuzz::base_config().input_format = InputFormat::genalex;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::fuzz_matrix(std::string_view(reinterpret_cast<const char*>(data), size),
                    InputFormat::genalex);
  return 0;
}
