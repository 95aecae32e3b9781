// libFuzzer entry of the fuzz target in target_shapefile.hpp.
#include <cstddef>
#include <cstdint>

#include "target_shapefile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pelmo::fuzz::FuzzShapefile(data, size);
}
