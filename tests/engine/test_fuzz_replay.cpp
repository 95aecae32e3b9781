// Replays the kept fuzz corpora: every file under tests/fuzz-corpus/<target>/
// goes through the same target function the fuzzer runs (tests/fuzz/), so a
// fault once found stays fixed. A broken invariant fails the test with the
// file's name instead of aborting.
#define PELMO_FUZZ_REPLAY 1

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "tests/fuzz/target_geodesy.hpp"
#include "tests/fuzz/target_numtext.hpp"
#include "tests/fuzz/target_paramsets.hpp"
#include "tests/fuzz/target_properties.hpp"
#include "tests/fuzz/target_shapefile.hpp"

namespace pelmo::fuzz {
namespace {

namespace fs = std::filesystem;

using Target = int (*)(const std::uint8_t*, std::size_t);

/// Runs every file of the corpus `name` through `target`; returns how many.
std::size_t Replay(const std::string& name, Target target) {
  const fs::path dir = fs::path(PELMO_SOURCE_DIR) / "tests" / "fuzz-corpus" / name;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    SCOPED_TRACE(f.string());
    const std::string bytes = test::ReadBytes(f.string());
    try {
      target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    } catch (const InvariantBroken& e) {
      ADD_FAILURE() << e.what();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "escaped: " << e.what();
    }
  }
  return files.size();
}

TEST(FuzzReplay, NumberConversionAndAsciiLines) { EXPECT_GT(Replay("numtext", FuzzNumText), 0u); }

TEST(FuzzReplay, PropertiesReader) { EXPECT_GT(Replay("properties", FuzzProperties), 0u); }

TEST(FuzzReplay, EllipsoidAndSevenParameterReaders) {
  EXPECT_GT(Replay("paramsets", FuzzParamSets), 0u);
}

TEST(FuzzReplay, ShapefileDriver) { EXPECT_GT(Replay("shapefile", FuzzShapefile), 0u); }

TEST(FuzzReplay, GeodeticIterations) { EXPECT_GT(Replay("geodesy", FuzzGeodesy), 0u); }

}  // namespace
}  // namespace pelmo::fuzz
