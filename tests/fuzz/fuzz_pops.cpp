// SPDX-License-Identifier: GPL-3.0-or-later
// The -pops file reader ("id,pop" lines below a header): every sample once, with a non-empty
// id and a population among those listed, every population listed holding a sample.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SamplePops sp;
  try {
    sp = read_pops_file(std::string_view(reinterpret_cast<const char*>(data), size), "pops.csv");
  } catch (const InputError&) {
    return 0;
  }
  FUZZ_CHECK(!sp.ids.empty(), "a population file without samples accepted");
  FUZZ_CHECK(sp.pop_of.size() == sp.ids.size(), "%zu samples but %zu distinct ids", sp.ids.size(),
             sp.pop_of.size());
  std::vector<bool> used(sp.names.size(), false);
  for (const std::string& id : sp.ids) {
    FUZZ_CHECK(!id.empty(), "an empty sample id accepted");
    const auto it = sp.pop_of.find(id);
    FUZZ_CHECK(it != sp.pop_of.end(), "sample \"%s\" has no population", id.c_str());
    FUZZ_CHECK(it->second >= 0 && static_cast<size_t>(it->second) < sp.names.size(),
               "sample \"%s\": population index %d of %zu", id.c_str(), it->second,
               sp.names.size());
    used[static_cast<size_t>(it->second)] = true;
  }
  for (size_t p = 0; p < sp.names.size(); ++p) {
    FUZZ_CHECK(!sp.names[p].empty(), "an empty population name accepted");
    FUZZ_CHECK(used[p], "population \"%s\" listed without a sample", sp.names[p].c_str());
  }
  return 0;
}
