// Replays the kept fuzz corpora: every file under tests/fuzz-corpus/<target>/
// goes through the target function the fuzzer runs (tests/fuzz/), so that a
// fault once found stays fixed. A broken invariant fails with the file's name.
#define PELMO_FUZZ_REPLAY 1

#include "test_support.hpp"
#include "tests/fuzz/targets.hpp"

namespace pelmo::fuzz {

TEST(FuzzReplay, KeptCorpora) {
  const std::pair<const char*, int (*)(const std::uint8_t*, std::size_t)> targets[] = {
      {"numtext", FuzzNumText}, {"properties", FuzzProperties}, {"paramsets", FuzzParamSets},
      {"shapefile", FuzzShapefile}, {"geodesy", FuzzGeodesy}};
  for (const auto& [name, target] : targets) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(PELMO_SOURCE_DIR) + "/tests/fuzz-corpus/" + name)) {
      const std::string bytes = test::ReadBytes(entry.path().string());
      try {
        target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), ++files;
      } catch (const std::exception& e) {
        ADD_FAILURE() << entry.path() << ": " << e.what();
      }
    }
    EXPECT_GT(files, 0) << name;
  }
}

}  // namespace pelmo::fuzz
