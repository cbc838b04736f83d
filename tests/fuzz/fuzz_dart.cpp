// SPDX-License-Identifier: GPL-3.0-or-later
// The DArT report reader with its population file. One input holds both: the report, a NUL
// byte, then the population file (no NUL byte: no population file, which is refused).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setup();
  fuzz::base_config().input_format = InputFormat::dart;
  fuzz::base_config().pops_file = fuzz::scratch_dir() + "/pops.csv";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const size_t cut = bytes.find('\0');
  const std::string_view report = bytes.substr(0, cut);
  const std::string_view pops =
      cut == std::string_view::npos ? std::string_view() : bytes.substr(cut + 1);
  {
    // The whole reader reads the population file from its path.
    std::ofstream out(fuzz::base_config().pops_file, std::ios::binary | std::ios::trunc);
    out.write(pops.data(), static_cast<std::streamsize>(pops.size()));
    FUZZ_CHECK(static_cast<bool>(out), "cannot write the population file");
  }
  fuzz::fuzz_matrix(report, InputFormat::dart, pops);
  return 0;
}
