// The shapefile driver on bad input and failing files: missing and damaged
// sources, targets that cannot be written, a folder that vanishes, a point
// the chain cannot transform, and every file operation of a run refused in
// turn. Each case ends with one message naming file, record and fault, no
// target left behind and the source unchanged.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "geotra/file_drivers.hpp"
#include "geotra/fileio.hpp"
#include "shp_fixtures.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

class ShapefileDamaged : public ShapefileFixture {
 protected:
  /// Writes the polygon file, lets `damage` change its bytes, runs, and
  /// expects the refusal: one message (title Pelmo, no icon) naming
  /// `file` ("shp" or "shx" of the source) and holding every text of
  /// `parts`.
  void ExpectRefused(const std::function<void(Files&)>& damage, const std::string& file,
                     const std::vector<std::string>& parts, int type = SHPT_POLYGON) {
    WriteShapefile(srcStem, type, type == SHPT_POINT ? PointShapes() : PolygonShapes());
    Files f = Take(srcStem);
    damage(f);
    WriteBytes(srcStem + ".shp", f.shp);
    WriteBytes(srcStem + ".shx", f.shx);
    EXPECT_FALSE(TransformShapeFile(session));
    ASSERT_EQ(fe.messages.size(), 1u);
    const ShownBox& m = fe.messages[0];
    EXPECT_EQ(m.title, "Pelmo");
    EXPECT_EQ(m.icon, MsgIcon::kNone);
    EXPECT_EQ(m.text.rfind("Die Datei " + srcStem + "." + file + "\r\n", 0), 0u) << m.text;
    for (const std::string& p : parts) EXPECT_NE(m.text.find(p), std::string::npos) << m.text;
    EXPECT_TRUE(TargetsGone());
    EXPECT_TRUE(Take(srcStem) == f) << "source changed";
    EXPECT_EQ(fe.progressClosed, 1);
  }
  /// Byte position of index entry `i` (1-based) and of its record.
  static std::size_t Entry(int i) { return 100 + 8 * static_cast<std::size_t>(i - 1); }
  static std::size_t Record(const Files& f, int i) {
    return 2 * static_cast<std::size_t>(BigEndianAt(f.shx, Entry(i)));
  }
};

// ---------------------------------------------------------------- index

TEST_F(ShapefileDamaged, IndexPointsBeyondTheMainFile) {
  ExpectRefused(
      [](Files& f) {
        PutBigEndian(f.shx, Entry(4), static_cast<std::int32_t>(f.shp.size() / 2 + 10));
      },
      "shx", {"Record 4", "außerhalb der Datei " + srcStem + ".shp"});
}

TEST_F(ShapefileDamaged, IndexPointsIntoTheHeader) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shx, Entry(2), 10); }, "shx",
                {"Record 2", "Byte 20", "im Dateikopf"});
}

TEST_F(ShapefileDamaged, IndexHoldsNegativeOffset) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shx, Entry(3), -5); }, "shx",
                {"Record 3", "ungültige Position -5"});
}

TEST_F(ShapefileDamaged, IndexOffsetOfTwoGibibytes) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shx, Entry(4), 0x40000000); }, "shx",
                {"Record 4", "2147483648", "2 GiB"});
}

TEST_F(ShapefileDamaged, RecordLongerThanTheFile) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shp, Record(f, 4) + 4, 100000); }, "shp",
                {"Record 4", "200008 Byte", "Dateiende"});
}

TEST_F(ShapefileDamaged, RecordTooShortForItsShapeType) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shp, Record(f, 2) + 4, 0); }, "shp",
                {"Record 2", "zu kurz für einen Shapetyp"});
}

TEST_F(ShapefileDamaged, PolygonRecordTooShort) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shp, Record(f, 4) + 4, 10); }, "shp",
                {"Record 4", "28 Byte", "zu kurz für eine Linie oder Fläche"});
}

TEST_F(ShapefileDamaged, PointRecordTooShort) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shp, Record(f, 4) + 4, 2); }, "shp",
                {"Record 4", "12 Byte", "zu kurz für einen Punkt"}, SHPT_POINT);
}

// ---------------------------------------------------------------- counts

TEST_F(ShapefileDamaged, NegativeNumParts) {
  ExpectRefused([](Files& f) { PutLittleEndian(f.shp, Record(f, 4) + 44, -1); }, "shp",
                {"Record 4", "negative Anzahl", "NumParts -1"});
}

TEST_F(ShapefileDamaged, NegativeNumPoints) {
  ExpectRefused([](Files& f) { PutLittleEndian(f.shp, Record(f, 1) + 48, -7); }, "shp",
                {"Record 1", "NumPoints -7"});
}

TEST_F(ShapefileDamaged, NumPointsBeyondTheRecord) {
  ExpectRefused([](Files& f) { PutLittleEndian(f.shp, Record(f, 4) + 48, 1000); }, "shp",
                {"Record 4", "NumPoints 1000", "passen nicht in den Record"});
}

TEST_F(ShapefileDamaged, HugeNumParts) {
  ExpectRefused([](Files& f) { PutLittleEndian(f.shp, Record(f, 4) + 44, 0x7FFFFFFF); }, "shp",
                {"Record 4", "NumParts 2147483647", "passen nicht in den Record"});
}

TEST_F(ShapefileDamaged, PartStartBeyondThePoints) {
  ExpectRefused([](Files& f) { PutLittleEndian(f.shp, Record(f, 4) + 52 + 4, 500); }, "shp",
                {"Record 4", "Teil 2 beginnt bei Punkt 500", "19 Punkte"});
}

// ---------------------------------------------------------------- headers

TEST_F(ShapefileDamaged, MainFileShorterThanItsHeader) {
  ExpectRefused([](Files& f) { f.shp.resize(60); }, "shp", {"60 Byte", "kürzer als der Dateikopf"});
}

TEST_F(ShapefileDamaged, IndexShorterThanItsHeader) {
  ExpectRefused([](Files& f) { f.shx.resize(99); }, "shx", {"99 Byte", "kürzer als der Dateikopf"});
}

TEST_F(ShapefileDamaged, HeaderLengthBeyondTheFile) {
  ExpectRefused(
      [](Files& f) { PutBigEndian(f.shp, 24, static_cast<std::int32_t>(f.shp.size() / 2 + 1)); },
      "shp", {"ist größer als die Datei"});
}

TEST_F(ShapefileDamaged, HeaderLengthBelowTheHeader) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shx, 24, 10); }, "shx",
                {"(20 Byte) ist kleiner als der Dateikopf"});
}

TEST_F(ShapefileDamaged, HeaderLengthOfTwoGibibytes) {
  ExpectRefused([](Files& f) { PutBigEndian(f.shp, 24, 0x40000000); }, "shp",
                {"2147483648 Byte", "ab 2 GiB"});
}

TEST_F(ShapefileDamaged, IndexLengthNotWholeEntries) {
  ExpectRefused(
      [](Files& f) {
        f.shx += std::string(4, '\0');
        PutBigEndian(f.shx, 24, static_cast<std::int32_t>(f.shx.size() / 2));
      },
      "shx", {"keine ganze Zahl von Indexeinträgen"});
}

// A damaged record after existing targets were agreed to be overwritten:
// the targets of the run are deleted.
TEST_F(ShapefileDamaged, OverwrittenTargetsAreDeleted) {
  WriteShapefile(dstStem, SHPT_POINT, PointShapes());
  fe.answers = {true, true, true};
  ExpectRefused([](Files& f) { PutLittleEndian(f.shp, Record(f, 4) + 48, 1000); }, "shp",
                {"Record 4"});
}

// ---------------------------------------------------------------- missing

using ShapefileMissing = ShapefileFixture;

TEST_F(ShapefileMissing, EachOfTheThreeSourceFiles) {
  for (const char* ext : {"shp", "shx", "dbf"}) {
    SCOPED_TRACE(ext);
    fe.messages.clear();
    WriteShapefile(srcStem, SHPT_POINT, PointShapes());
    fs::remove(srcStem + "." + ext);
    EXPECT_FALSE(TransformShapeFile(session));
    ASSERT_EQ(fe.messages.size(), 1u);
    EXPECT_EQ(fe.messages[0].text, "Die Datei " + srcStem + "." + ext + "\r\nwurde nicht gefunden");
    EXPECT_EQ(fe.messages[0].title, "Pelmo");
    EXPECT_TRUE(TargetsGone());
  }
}

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
    EXPECT_FALSE(TransformShapeFile(session));
    ASSERT_EQ(fe.messages.size(), 1u);
    EXPECT_EQ(fe.messages[0].text.rfind("Der Name der " + c.role, 0), 0u) << fe.messages[0].text;
    EXPECT_NE(fe.messages[0].text.find("ist zu kurz"), std::string::npos);
  }
  EXPECT_TRUE(TargetsGone());
}

// The last three characters are characters, not bytes.
TEST_F(ShapefileMissing, ExtensionWithUmlaut) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  session.settings.txtQuelldatei = srcStem + ".süd";
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
}

// ---------------------------------------------------------------- targets

using ShapefileWriteError = ShapefileFixture;

TEST_F(ShapefileWriteError, TargetFolderMissing) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  session.settings.txtZielDatei = dir.File("nirgends/ziel.shp");
  EXPECT_FALSE(TransformShapeFile(session));
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(fe.messages[0].text, "Die Datei " + dir.File("nirgends/ziel.shp") +
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
  EXPECT_FALSE(TransformShapeFile(session));
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(
      fe.messages[0].text.rfind("Die Datei " + dstStem + ".shx\r\nkann nicht zum Schreiben", 0), 0u)
      << fe.messages[0].text;
  EXPECT_FALSE(fs::exists(dstStem + ".shp"));
  EXPECT_TRUE(fs::is_directory(dstStem + ".shx"));
  EXPECT_EQ(ReadBytes(dstStem + ".dbf"), "alt");
}

// A full disk: the target main file is a link to /dev/full.
TEST_F(ShapefileWriteError, DiskFull) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  const Files before = Take(srcStem);
  fs::create_symlink("/dev/full", dstStem + ".shp");
  fe.answers = {true};
  EXPECT_FALSE(TransformShapeFile(session));
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(fe.messages[0].text,
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
  EXPECT_FALSE(TransformShapeFile(session));
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_NE(fe.messages[0].text.find("wurde während der Transformation gelöscht"),
            std::string::npos)
      << fe.messages[0].text;
  EXPECT_FALSE(fs::exists(dir.File("aus")));
}

// A point the chain cannot transform (a central meridian that is no number).
TEST_F(ShapefileWriteError, PointCannotBeTransformed) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  UseGkToUtmDhdn(session);
  session.OptionValues[opt::kGKBM] = "fünfzehn";
  session.Touch();
  EXPECT_FALSE(TransformShapeFile(session));
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(fe.messages[0].text, "Die Datei " + srcStem +
                                     ".shp\r\nRecord 1, Punkt 1 kann nicht transformiert werden: "
                                     "Typen unverträglich");
  EXPECT_TRUE(TargetsGone());
}

// ---------------------------------------------------------------- faults

using ShapefileFaults = ShapefileFixture;

/// Refuses the 1st, 2nd, ... file operation of a run in turn until a run
/// completes without reaching the refused one. Every run either succeeds
/// with a correct result (a refused close of a source loses nothing) or
/// ends with one message; then each target is gone or, when the run had
/// not changed it yet, as it was before. The source never changes.
long WalkFaults(ShapeFrontEnd& fe, Session& session, const std::string& srcStem,
                const std::string& dstStem, const std::function<void()>& prepareTargets) {
  const std::string before =
      ReadBytes(srcStem + ".shp") + ReadBytes(srcStem + ".shx") + ReadBytes(srcStem + ".dbf");
  for (long n = 1; n < 1000; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    std::vector<std::string> prepared;
    for (const char* ext : {".shp", ".shx", ".dbf"}) {
      std::error_code ec;
      fs::permissions(dstStem + ext, fs::perms::owner_all, ec);
      fs::remove(dstStem + ext, ec);
    }
    prepareTargets();
    for (const char* ext : {".shp", ".shx", ".dbf"}) {
      prepared.push_back(fs::exists(dstStem + ext) ? ReadBytes(dstStem + ext) : "(none)");
    }
    fe.messages.clear();
    fe.answers = {true, true, true, true};
    iohook::Arm(n);
    const bool ok = TransformShapeFile(session);
    const long count = iohook::Count();
    iohook::Disarm();
    EXPECT_EQ(
        ReadBytes(srcStem + ".shp") + ReadBytes(srcStem + ".shx") + ReadBytes(srcStem + ".dbf"),
        before);
    if (ok) {
      EXPECT_TRUE(fe.messages.empty());
      ExpectTransformed(srcStem, dstStem, session);
    } else {
      EXPECT_EQ(fe.messages.size(), 1u);
      for (const auto& m : fe.messages) EXPECT_EQ(m.title, "Pelmo") << m.text;
      int i = 0;
      for (const char* ext : {".shp", ".shx", ".dbf"}) {
        const std::string& was = prepared[static_cast<std::size_t>(i++)];
        if (fs::exists(dstStem + ext)) {
          EXPECT_NE(was, "(none)") << ext << " left behind";
          EXPECT_TRUE(ReadBytes(dstStem + ext) == was) << ext << " changed and left behind";
        }
      }
    }
    if (count < n) {
      EXPECT_TRUE(ok);
      return n;
    }
  }
  return 0;
}

TEST_F(ShapefileFaults, EveryOperationOfAPolygonRun) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  EXPECT_GT(WalkFaults(fe, session, srcStem, dstStem, [] {}), 10);
}

TEST_F(ShapefileFaults, EveryOperationOfAPointRunIntoExistingTargets) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  fs::permissions(srcStem + ".dbf", fs::perms::owner_read);
  EXPECT_GT(WalkFaults(fe, session, srcStem, dstStem,
                       [&] { WriteShapefile(dstStem, SHPT_POLYGON, PolygonShapes()); }),
            10);
}

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
