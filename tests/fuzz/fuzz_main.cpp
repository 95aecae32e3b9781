// libFuzzer entry of the fuzz target PELMO_FUZZ_TARGET (set by tests/fuzz/CMakeLists.txt).
#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pelmo::fuzz::PELMO_FUZZ_TARGET(data, size);
}
