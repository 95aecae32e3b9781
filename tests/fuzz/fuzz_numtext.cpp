// libFuzzer entry of the fuzz target in target_numtext.hpp.
#include <cstddef>
#include <cstdint>

#include "target_numtext.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pelmo::fuzz::FuzzNumText(data, size);
}
