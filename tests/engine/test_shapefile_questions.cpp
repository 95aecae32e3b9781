// The shapefile driver's dialogue: overwrite questions answered Yes and No,
// the read-only attribute table, the refusal of a target that names the
// source files, Cancel in Polygon and Point files, unsupported shape types.
#include <gtest/gtest.h>
#include <shapefil.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "geotra/file_drivers.hpp"
#include "job/job_start.hpp"
#include "shp_fixtures.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

std::string OverwriteText(const std::string& path) {
  return "Die Datei " + path + "\r\nexistiert bereits, \r\nsoll sie überschrieben werden?";
}

std::string ReadOnlyText(const std::string& path) {
  return "Die Datei " + path +
         "\r\n\r\nhat das Attribut Schreibgeschützt, \r\nsoll sie trotzdem überschrieben werden?";
}

bool IsReadOnly(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

class ShapefileOverwrite : public ShapefileFixture {
 protected:
  void SetUp() override {
    ShapefileFixture::SetUp();
    WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
    // An older, longer shapefile of another type at the target.
    WriteShapefile(dstStem, SHPT_POINT, PointShapes(400));
    old = Take(dstStem);
    session.settings.txtDateien = "alter Inhalt";
  }
  void ExpectQuestions(const std::vector<std::string>& texts) {
    ASSERT_EQ(fe.questions.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(fe.questions[i].text, texts[i]);
      EXPECT_EQ(fe.questions[i].title, "Problem");
      EXPECT_EQ(fe.questions[i].icon, MsgIcon::kExclamation);
    }
  }
  Files old;
};

TEST_F(ShapefileOverwrite, AllYesReplacesTheFilesEntirely) {
  fe.answers = {true, true, true};
  ASSERT_TRUE(TransformShapeFile(session));
  ExpectQuestions({OverwriteText(dstStem + ".shp"), OverwriteText(dstStem + ".shx"),
                   OverwriteText(dstStem + ".dbf")});
  EXPECT_TRUE(fe.messages.empty());
  // No tail of the longer old files survives (sizes are checked too).
  ExpectTransformed(srcStem, dstStem, session);
}

// Bytes of the source that belong to no record (shapelib moved a rewritten
// record to the end) are not copied; the old target must not show through.
TEST_F(ShapefileOverwrite, OldContentDoesNotShowThroughUnusedBytes) {
  SHPHandle h = SHPOpen(srcStem.c_str(), "rb+");
  ASSERT_NE(h, nullptr);
  const Part ring = Ring(kCentreE, kCentreN, 9000, 9000, 30);
  std::vector<double> xs, ys;
  for (const Vertex& v : ring) {
    xs.push_back(v.first);
    ys.push_back(v.second);
  }
  SHPObject* o = SHPCreateSimpleObject(SHPT_POLYGON, static_cast<int>(xs.size()), xs.data(),
                                       ys.data(), nullptr);
  ASSERT_EQ(SHPWriteObject(h, 0, o), 0);
  SHPDestroyObject(o);
  SHPClose(h);
  ASSERT_LT(fs::file_size(srcStem + ".shp"), old.shp.size());

  fe.answers = {true, true, true};
  ASSERT_TRUE(TransformShapeFile(session));
  ExpectTransformed(srcStem, dstStem, session);  // unused bytes must be zero
}

TEST_F(ShapefileOverwrite, NoForMainFileChangesNothing) {
  fe.answers = {false};
  EXPECT_FALSE(TransformShapeFile(session));
  ExpectQuestions({OverwriteText(dstStem + ".shp")});
  EXPECT_TRUE(Take(dstStem) == old);
  EXPECT_EQ(session.settings.txtDateien, "alter Inhalt");
  EXPECT_TRUE(fe.messages.empty());
  EXPECT_EQ(fe.progressClosed, 1);
}

TEST_F(ShapefileOverwrite, NoForIndexLeavesAnEmptyNewMainFile) {
  fs::remove(dstStem + ".shp");
  fe.answers = {false};
  EXPECT_FALSE(TransformShapeFile(session));
  ExpectQuestions({OverwriteText(dstStem + ".shx")});
  ASSERT_TRUE(Exists(dstStem + ".shp"));
  EXPECT_EQ(fs::file_size(dstStem + ".shp"), 0u);
  EXPECT_EQ(ReadBytes(dstStem + ".shx"), old.shx);
  EXPECT_EQ(ReadBytes(dstStem + ".dbf"), old.dbf);
}

// Yes for the main file, then No: the main file was opened, but nothing of
// it is lost.
TEST_F(ShapefileOverwrite, NoForIndexKeepsTheExistingMainFile) {
  fe.answers = {true, false};
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.questions.size(), 2u);
  EXPECT_TRUE(Take(dstStem) == old);
}

TEST_F(ShapefileOverwrite, NoForAttributeTableKeepsAllThree) {
  fe.answers = {true, true, false};
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.questions.size(), 3u);
  EXPECT_TRUE(Take(dstStem) == old);
  EXPECT_EQ(session.settings.txtDateien, "shapetyp 5\r\n");
  EXPECT_TRUE(fe.messages.empty());
}

// A read-only source table gives a read-only target table; the next run
// into it asks the read-only question.
TEST_F(ShapefileOverwrite, ReadOnlyAttributeTable) {
  fs::remove(dstStem + ".shp");
  fs::remove(dstStem + ".shx");
  fs::remove(dstStem + ".dbf");
  fs::permissions(srcStem + ".dbf",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ASSERT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.questions.empty());
  EXPECT_TRUE(IsReadOnly(dstStem + ".dbf"));
  EXPECT_EQ(ReadBytes(dstStem + ".dbf"), ReadBytes(srcStem + ".dbf"));

  fe.answers = {true, true, true, true};
  ASSERT_TRUE(TransformShapeFile(session));
  ExpectQuestions({OverwriteText(dstStem + ".shp"), OverwriteText(dstStem + ".shx"),
                   OverwriteText(dstStem + ".dbf"), ReadOnlyText(dstStem + ".dbf")});
  EXPECT_TRUE(IsReadOnly(dstStem + ".dbf"));
  ExpectTransformed(srcStem, dstStem, session);

  // No to the read-only question: the finished files stay as they are.
  const Files done = Take(dstStem);
  fe.questions.clear();
  fe.answers = {true, true, true, false};
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.questions.size(), 4u);
  EXPECT_TRUE(Take(dstStem) == done);
  EXPECT_TRUE(IsReadOnly(dstStem + ".dbf"));
}

// ---------------------------------------------------------------- identity

class ShapefileIdentity : public ShapefileFixture {
 protected:
  void SetUp() override {
    ShapefileFixture::SetUp();
    WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
    before = Take(srcStem);
  }
  /// Runs into `target` and expects the refusal, with nothing written.
  void ExpectRefused(const std::string& target) {
    SCOPED_TRACE(target);
    fe.messages.clear();
    session.settings.txtZielDatei = target;
    const auto entries = std::distance(fs::directory_iterator(dir.path()), {});
    EXPECT_FALSE(TransformShapeFile(session));
    ASSERT_EQ(fe.messages.size(), 1u);
    EXPECT_EQ(fe.messages[0].text, kMsgIdentical);
    EXPECT_EQ(fe.messages[0].title, "Pelmo");
    EXPECT_EQ(fe.messages[0].icon, MsgIcon::kNone);
    EXPECT_TRUE(fe.questions.empty());
    EXPECT_TRUE(Take(srcStem) == before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), entries);
  }
  Files before;
};

TEST_F(ShapefileIdentity, NamesThatDifferInTheExtension) {
  ExpectRefused(srcStem + ".dbf");
  ExpectRefused(srcStem + ".shx");
  ExpectRefused(srcStem + ".xyz");
}

TEST_F(ShapefileIdentity, OtherSpellingsOfThePath) {
  fs::create_directory(dir.File("sub"));
  ExpectRefused(dir.File("sub/../quelle.shp"));
  ExpectRefused(dir.File("./quelle.dbf"));
  fs::create_directory_symlink(dir.path(), dir.File("link"));
  ExpectRefused(dir.File("link/quelle.shp"));
  // Relative to the working folder.
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  ExpectRefused("quelle.shp");
  fs::current_path(cwd);
}

// One of the three files is a link to a file of the source.
TEST_F(ShapefileIdentity, LinkedFileOfTheTarget) {
  fs::create_hard_link(srcStem + ".dbf", dstStem + ".dbf");
  ExpectRefused(dstStem + ".shp");
}

// On a file system that tells letter cases apart, names that differ in case
// are different files and the run goes ahead.
TEST_F(ShapefileIdentity, LetterCaseOnCaseSensitiveFileSystem) {
  if (fs::exists(dir.File("QUELLE.shp"))) GTEST_SKIP() << "case-insensitive file system";
  session.settings.txtZielDatei = dir.File("QUELLE.shp");
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dir.File("QUELLE"), session);
}

// ---------------------------------------------------------------- cancel

using ShapefileCancel = ShapefileFixture;

TEST_F(ShapefileCancel, InPolygonFileStopsBeforeTheNextVertex) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  const Files before = Take(srcStem);
  fe.onEvents = [&](long pass) {
    if (pass == 5) session.CancelRequested = true;
  };
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.eventPasses, 5);
  EXPECT_TRUE(TargetsGone());
  EXPECT_TRUE(fe.messages.empty());
  EXPECT_EQ(session.settings.txtDateien, ExpectedLog(5, before.shp.size(), 4));
  EXPECT_TRUE(Take(srcStem) == before);
  EXPECT_EQ(fe.progressOpened, 1);
  EXPECT_EQ(fe.progressClosed, 1);
}

TEST_F(ShapefileCancel, InPointFileStopsBeforeTheNextRecord) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes(200));
  const Files before = Take(srcStem);
  fe.onEvents = [&](long pass) {
    if (pass == 3) session.CancelRequested = true;
  };
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.eventPasses, 3);
  EXPECT_TRUE(TargetsGone());
  EXPECT_TRUE(fe.messages.empty());
  EXPECT_EQ(session.settings.txtDateien, ExpectedLog(1, before.shp.size(), 200));
  EXPECT_TRUE(Take(srcStem) == before);
}

// Cancel during the last point: the finished files are deleted at the end.
TEST_F(ShapefileCancel, AtTheLastPoint) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes(6));
  fe.onEvents = [&](long pass) {
    if (pass == 5) session.CancelRequested = true;
  };
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.eventPasses, 5);
  EXPECT_TRUE(TargetsGone());
}

// Files that existed and were overwritten go too, a read-only table
// included; a flag left over from an earlier run does not count.
TEST_F(ShapefileCancel, OverwrittenTargetsAreDeleted) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  WriteShapefile(dstStem, SHPT_POLYGON, PolygonShapes());
  fs::permissions(dstStem + ".dbf", fs::perms::owner_read);
  session.CancelRequested = true;
  fe.answers = {true, true, true, true};
  fe.onEvents = [&](long pass) {
    if (pass == 20) session.CancelRequested = true;
  };
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.questions.size(), 4u);
  EXPECT_EQ(fe.eventPasses, 20);
  EXPECT_TRUE(TargetsGone());
}

// ---------------------------------------------------------------- types

using ShapefileUnsupported = ShapefileFixture;

void WriteMultiPoints(const std::string& stem, int records) {
  std::vector<TestShape> shapes;
  shapes.reserve(static_cast<std::size_t>(records));
  for (int i = 0; i < records; ++i) {
    shapes.push_back({SHPT_MULTIPOINT, {{{kCentreE + i, kCentreN}, {kCentreE, kCentreN + i}}}});
  }
  WriteShapefile(stem, SHPT_MULTIPOINT, shapes);
}

TEST_F(ShapefileUnsupported, MultiPointWithRecords) {
  WriteMultiPoints(srcStem, 3);
  const Files before = Take(srcStem);
  EXPECT_FALSE(TransformShapeFile(session));
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(fe.messages[0].text, "Shapetyp 8 wird nicht unterstützt");
  EXPECT_EQ(fe.messages[0].title, "");
  EXPECT_EQ(fe.messages[0].icon, MsgIcon::kNone);
  EXPECT_TRUE(TargetsGone());
  EXPECT_EQ(session.settings.txtDateien, ExpectedLog(8, before.shp.size(), 3));
  EXPECT_TRUE(Take(srcStem) == before);
  EXPECT_EQ(fe.progressClosed, 1);
}

TEST_F(ShapefileUnsupported, PointZWithRecords) {
  std::vector<TestShape> shapes(2, {SHPT_POINTZ, {{{kCentreE, kCentreN}}}});
  WriteShapefile(srcStem, SHPT_POINTZ, shapes);
  EXPECT_FALSE(TransformShapeFile(session));
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(fe.messages[0].text, "Shapetyp 11 wird nicht unterstützt");
  EXPECT_TRUE(TargetsGone());
}

TEST_F(ShapefileUnsupported, WithoutRecordsNoMessage) {
  WriteMultiPoints(srcStem, 0);
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dstStem, session);
}

// ---------------------------------------------------------------- job

// Through the job start: the elapsed time follows the driver's three lines.
TEST(ShapefileJob, JobStartLogsTimeAfterTheDriversLines) {
  TempFolder dir;
  ShapeFrontEnd fe;
  Session session(fe, ',');
  UseTranslation(session);
  const std::string stem = dir.File("quelle");
  WriteShapefile(stem, SHPT_POINT, PointShapes());
  session.settings.txtQuelldatei = stem + ".shp";
  session.settings.txtZielDatei = dir.File("ziel.shp");
  EXPECT_EQ(RunJob(session), JobOutcome::kDone);
  const std::vector<std::string> lines = SplitCrLf(session.settings.txtDateien);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "shapetyp 1");
  EXPECT_EQ(lines[2], "RecordAanzahl : 6");
  EXPECT_EQ(lines[3].rfind("vergangene Zeit in s ", 0), 0u);
  ExpectTransformed(stem, dir.File("ziel"), session);
}

}  // namespace
}  // namespace pelmo::test
