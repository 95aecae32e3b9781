// libFuzzer entry of the fuzz target in target_geodesy.hpp.
#include <cstddef>
#include <cstdint>

#include "target_geodesy.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pelmo::fuzz::FuzzGeodesy(data, size);
}
