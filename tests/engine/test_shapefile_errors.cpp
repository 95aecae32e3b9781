// The shapefile driver when files are missing or fail: missing sources,
// names too short, targets that cannot be written, a folder that vanishes,
// a point the chain cannot transform, a deletion refused after Cancel. Each
// case ends with one message naming file and fault. Damaged sources are in
// test_bad_input.cpp; every file operation refused in turn in
// test_fault_injection.cpp.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "core/fileio.hpp"
#include "formats/drivers.hpp"
#include "shp_fixtures.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

class ShapefileWriteError : public ShapefileFixture {
 protected:
  /// Runs, expects a failure with one message titled Pelmo, returns it.
  std::string Fail() {
    EXPECT_FALSE(TransformShapeFile(session));
    EXPECT_EQ(fe.messages.size(), 1u);
    if (fe.messages.empty()) return "";
    EXPECT_EQ(fe.messages[0].title, "Pelmo");
    return fe.messages[0].text;
  }
};
using ShapefileMissing = ShapefileWriteError;
using ShapefileFaults = ShapefileWriteError;

TEST_F(ShapefileMissing, EachOfTheThreeSourceFiles) {
  for (const char* ext : {"shp", "shx", "dbf"}) {
    SCOPED_TRACE(ext);
    fe.messages.clear();
    WriteShapefile(srcStem, SHPT_POINT, PointShapes());
    fs::remove(srcStem + "." + ext);
    EXPECT_EQ(Fail(), "Die Datei " + srcStem + "." + ext + "\r\nwurde nicht gefunden");
    EXPECT_TRUE(TargetsGone());
  }
}

// The stem is the name less its last three characters (characters, not
// bytes: an extension with an umlaut names the shapefile too).
TEST_F(ShapefileMissing, NamesOfThreeCharactersOrFewer) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  const struct {
    std::string source, target, role;
  } cases[] = {{"", dstStem + ".shp", "Quelldatei"},
               {"shp", dstStem + ".shp", "Quelldatei"},
               {"a.ü", dstStem + ".shp", "Quelldatei"},
               {srcStem + ".shp", "x", "Zieldatei"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.target);
    fe.messages.clear();
    session.settings.txtQuelldatei = c.source;
    session.settings.txtZielDatei = c.target;
    const std::string msg = Fail();
    EXPECT_EQ(msg.rfind("Der Name der " + c.role, 0), 0u) << msg;
    EXPECT_NE(msg.find("ist zu kurz"), std::string::npos);
  }
  EXPECT_TRUE(TargetsGone());

  fe.messages.clear();
  session.settings.txtQuelldatei = srcStem + ".süd";
  session.settings.txtZielDatei = dstStem + ".shp";
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
}

// ---------------------------------------------------------------- targets

TEST_F(ShapefileWriteError, TargetFolderMissing) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  session.settings.txtZielDatei = dir.File("nirgends/ziel.shp");
  EXPECT_EQ(Fail(), "Die Datei " + dir.File("nirgends/ziel.shp") +
                        "\r\nkann nicht angelegt werden: Pfad nicht gefunden");
  EXPECT_FALSE(fs::exists(dir.File("nirgends")));
}

// The index target cannot be opened: the main file this run created goes,
// an attribute table that was never reached stays.
TEST_F(ShapefileWriteError, TargetIndexIsAFolder) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  fs::create_directory(dstStem + ".shx");
  WriteBytes(dstStem + ".dbf", "alt");
  fe.answers = {true};
  const std::string msg = Fail();
  EXPECT_EQ(msg.rfind("Die Datei " + dstStem + ".shx\r\nkann nicht zum Schreiben", 0), 0u) << msg;
  EXPECT_FALSE(fs::exists(dstStem + ".shp"));
  EXPECT_TRUE(fs::is_directory(dstStem + ".shx"));
  EXPECT_EQ(ReadBytes(dstStem + ".dbf"), "alt");
}

// A full disk: the target main file is a link to /dev/full. The link goes
// with the other targets.
TEST_F(ShapefileWriteError, DiskFull) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  const Files before = Take(srcStem);
  fs::create_symlink("/dev/full", dstStem + ".shp");
  fe.answers = {true};
  EXPECT_EQ(Fail(),
            "Die Datei " + dstStem + ".shp\r\nkann nicht geschrieben werden: Datenträger voll");
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(dstStem + ".shp")));
  EXPECT_TRUE(TargetsGone());
  EXPECT_TRUE(Take(srcStem) == before);
}

// The target folder is deleted while the run goes on: never reported as
// success.
TEST_F(ShapefileWriteError, TargetFolderVanishes) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  fs::create_directory(dir.File("aus"));
  session.settings.txtZielDatei = dir.File("aus/ziel.shp");
  fe.onEvents = [&](long pass) {
    if (pass == 3) fs::remove_all(dir.File("aus"));
  };
  const std::string msg = Fail();
  EXPECT_NE(msg.find("wurde während der Transformation gelöscht"), std::string::npos) << msg;
  EXPECT_FALSE(fs::exists(dir.File("aus")));
}

// A point the chain cannot transform (a central meridian that is no number).
TEST_F(ShapefileWriteError, PointCannotBeTransformed) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  UseGkToUtmDhdn(session);
  session.OptionValues[opt::kGKBM] = "fünfzehn";
  session.Touch();
  EXPECT_EQ(Fail(), "Die Datei " + srcStem +
                        ".shp\r\nRecord 1, Punkt 1 kann nicht transformiert werden: "
                        "Typen unverträglich");
  EXPECT_TRUE(TargetsGone());
}

// ---------------------------------------------------------------- faults

// A target that cannot be deleted after Cancel is reported; the others go.
TEST_F(ShapefileFaults, DeletionRefusedAfterCancel) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  fe.onEvents = [&](long pass) {
    if (pass == 4) session.CancelRequested = true;
  };
  iohook::Arm(LONG_MAX);
  EXPECT_FALSE(TransformShapeFile(session));
  const long count = iohook::Count();
  iohook::Disarm();
  EXPECT_TRUE(fe.messages.empty());
  ASSERT_TRUE(TargetsGone());

  // The last three operations are the deletions of .shx, .shp and .dbf.
  fe.eventPasses = 0;
  iohook::Arm(count - 2);
  EXPECT_FALSE(TransformShapeFile(session));
  iohook::Disarm();
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(fe.messages[0].text,
            "Die Datei " + dstStem + ".shx\r\nkann nicht gelöscht werden: Zugriff verweigert");
  EXPECT_TRUE(fs::exists(dstStem + ".shx"));
  EXPECT_FALSE(fs::exists(dstStem + ".shp"));
  EXPECT_FALSE(fs::exists(dstStem + ".dbf"));
}

}  // namespace
}  // namespace pelmo::test
