// libFuzzer entry of the fuzz target PELMO_FUZZ_TARGET from the header
// PELMO_FUZZ_HEADER (both set by tests/fuzz/CMakeLists.txt).
#include <cstddef>
#include <cstdint>

#include PELMO_FUZZ_HEADER

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return pelmo::fuzz::PELMO_FUZZ_TARGET(data, size);
}
