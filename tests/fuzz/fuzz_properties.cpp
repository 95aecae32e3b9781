// libFuzzer entry of the fuzz target in target_properties.hpp.
#include <cstddef>
#include <cstdint>

#include "target_properties.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pelmo::fuzz::FuzzProperties(data, size);
}
