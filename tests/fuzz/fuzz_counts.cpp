// SPDX-License-Identifier: GPL-3.0-or-later
// The band-count reader ("[loci]=", "[populations]=", "[pop]=" blocks of "locus n k" lines),
// from the bytes to the observed statistics.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setup();
  input_format = InputFormat::counts;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::read_whole(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
