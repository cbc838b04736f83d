// SPDX-License-Identifier: GPL-3.0-or-later
// The band-count reader ("[loci]=", "[populations]=", "[pop]=" blocks of "locus n k" lines),
// from the bytes to the observed statistics.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setup();
  fuzz::base_config().input_format = InputFormat::counts;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Job job = fuzz::fresh_job();
  fuzz::read_whole(job, std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
