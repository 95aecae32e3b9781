// libFuzzer entry of the fuzz target in target_paramsets.hpp.
#include <cstddef>
#include <cstdint>

#include "target_paramsets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pelmo::fuzz::FuzzParamSets(data, size);
}
