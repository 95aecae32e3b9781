// The shapefile driver's dialogue: overwrite questions answered Yes and No,
// the read-only attribute table, the refusal of a target that names the
// source files, Cancel in Polygon and Point files, and the job start's log.
// Unsupported shape types are in test_bad_input.cpp.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/drivers.hpp"
#include "job/job_start.hpp"
#include "shp_fixtures.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

std::string OverwriteText(const std::string& path) {
  return "Die Datei " + path + "\r\nexistiert bereits, \r\nsoll sie überschrieben werden?";
}

bool IsReadOnly(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

using ShapefileIdentity = ShapefileFixture;
using ShapefileCancel = ShapefileFixture;
using ShapefileJob = ShapefileFixture;

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

// No tail of the longer old files survives, and bytes of the source that
// belong to no record (shapelib moved a rewritten record to the end) are
// zero in the target instead of showing the old target through.
TEST_F(ShapefileOverwrite, AllYesReplacesTheFilesEntirely) {
  RewriteFirstRecord(srcStem, Ring(kCentreE, kCentreN, 9000, 9000, 30));
  ASSERT_LT(fs::file_size(srcStem + ".shp"), old.shp.size());
  fe.answers = {true, true, true};
  ASSERT_TRUE(TransformShapeFile(session));
  ExpectQuestions({OverwriteText(dstStem + ".shp"), OverwriteText(dstStem + ".shx"),
                   OverwriteText(dstStem + ".dbf")});
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dstStem, session);
}

// No to any question ends the run without a message and without losing
// anything of the old target. A main file that did not exist is left empty,
// as the run had created it before the index question.
TEST_F(ShapefileOverwrite, NoKeepsTheOldTarget) {
  const struct {
    const char* name;
    std::deque<bool> answers;
    bool mainFileMissing;
    std::vector<std::string> asked;  // extensions
    const char* log;
  } cases[] = {
      {"No for the main file", {false}, false, {".shp"}, "alter Inhalt"},
      {"No for the index, no main file", {false}, true, {".shx"}, "alter Inhalt"},
      {"No for the index", {true, false}, false, {".shp", ".shx"}, "alter Inhalt"},
      {"No for the table", {true, true, false}, false, {".shp", ".shx", ".dbf"}, "shapetyp 5 (Polygon)\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteShapefile(dstStem, SHPT_POINT, PointShapes(400));
    if (c.mainFileMissing) fs::remove(dstStem + ".shp");
    fe = ShapeFrontEnd();
    fe.answers = c.answers;
    session.settings.txtDateien = "alter Inhalt";
    EXPECT_FALSE(TransformShapeFile(session));
    std::vector<std::string> texts;
    for (const std::string& ext : c.asked) texts.push_back(OverwriteText(dstStem + ext));
    ExpectQuestions(texts);
    EXPECT_TRUE(fe.messages.empty());
    EXPECT_EQ(session.settings.txtDateien, c.log);
    EXPECT_EQ(fe.progressClosed, 1);
    if (c.mainFileMissing) {
      ASSERT_TRUE(Exists(dstStem + ".shp"));
      EXPECT_EQ(fs::file_size(dstStem + ".shp"), 0u);
      EXPECT_EQ(ReadBytes(dstStem + ".shx"), old.shx);
      EXPECT_EQ(ReadBytes(dstStem + ".dbf"), old.dbf);
    } else {
      EXPECT_TRUE(Take(dstStem) == old);
    }
  }
}

// A read-only source table gives a read-only target table; the next run
// into it asks the read-only question; No to it keeps the finished files.
TEST_F(ShapefileOverwrite, ReadOnlyAttributeTable) {
  for (const char* ext : {".shp", ".shx", ".dbf"}) fs::remove(dstStem + ext);
  fs::permissions(srcStem + ".dbf",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ASSERT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.questions.empty());
  EXPECT_TRUE(IsReadOnly(dstStem + ".dbf"));
  EXPECT_EQ(ReadBytes(dstStem + ".dbf"), ReadBytes(srcStem + ".dbf"));

  fe.answers = {true, true, true, true};
  ASSERT_TRUE(TransformShapeFile(session));
  ExpectQuestions({OverwriteText(dstStem + ".shp"), OverwriteText(dstStem + ".shx"),
                   OverwriteText(dstStem + ".dbf"),
                   "Die Datei " + dstStem + ".dbf\r\n\r\nhat das Attribut Schreibgeschützt, " +
                       "\r\nsoll sie trotzdem überschrieben werden?"});
  EXPECT_TRUE(IsReadOnly(dstStem + ".dbf"));
  ExpectTransformed(srcStem, dstStem, session);

  const Files done = Take(dstStem);
  fe.questions.clear();
  fe.answers = {true, true, true, false};
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.questions.size(), 4u);
  EXPECT_TRUE(Take(dstStem) == done);
  EXPECT_TRUE(IsReadOnly(dstStem + ".dbf"));
}

// ---------------------------------------------------------------- identity

// A target whose stem names the source files, by extension, by another
// spelling of the path, through a link, or relative to the working folder,
// is refused before anything is written.
TEST_F(ShapefileIdentity, TargetNamingTheSourceFilesIsRefused) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  const Files before = Take(srcStem);
  fs::create_directory(dir.File("sub"));
  fs::create_directory_symlink(dir.path(), dir.File("link"));
  fs::create_hard_link(srcStem + ".dbf", dstStem + ".dbf");
  const struct Cwd {  // back to the working folder however the test ends
    fs::path was = fs::current_path();
    ~Cwd() { fs::current_path(was); }
  } cwd;
  fs::current_path(dir.path());
  for (const std::string& target :
       {srcStem + ".dbf", srcStem + ".shx", srcStem + ".xyz", dir.File("sub/../quelle.shp"),
        dir.File("./quelle.dbf"), dir.File("link/quelle.shp"), std::string("quelle.shp"),
        dstStem + ".shp" /* its .dbf is a hard link to the source's */}) {
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
}

// On a file system that tells letter cases apart, names that differ in case
// are different files and the run goes ahead.
TEST_F(ShapefileIdentity, LetterCaseOnCaseSensitiveFileSystem) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  if (fs::exists(dir.File("QUELLE.shp"))) GTEST_SKIP() << "case-insensitive file system";
  session.settings.txtZielDatei = dir.File("QUELLE.shp");
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dir.File("QUELLE"), session);
}

// ---------------------------------------------------------------- cancel

// Cancel stops before the next vertex of a Polygon file and before the next
// record of a Point file; the targets go (overwritten ones too, a read-only
// table included), the log lines and the source stay, no message. A flag
// left over from an earlier run does not count.
TEST_F(ShapefileCancel, DeletesTheTargets) {
  const struct {
    const char* name;
    int type;
    std::vector<TestShape> shapes;
    long cancelAt;  // event pass
    bool overwrite;
  } cases[] = {
      {"Polygon", SHPT_POLYGON, PolygonShapes(), 5, false},
      {"Point", SHPT_POINT, PointShapes(200), 3, false},
      {"at the last point", SHPT_POINT, PointShapes(6), 5, false},
      {"overwritten targets", SHPT_POLYGON, PolygonShapes(), 20, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteShapefile(srcStem, c.type, c.shapes);
    const Files before = Take(srcStem);
    fe = ShapeFrontEnd();
    if (c.overwrite) {
      WriteShapefile(dstStem, SHPT_POLYGON, PolygonShapes());
      fs::permissions(dstStem + ".dbf", fs::perms::owner_read);
      session.CancelRequested = true;
      fe.answers = {true, true, true, true};
    }
    fe.onEvents = [&](long pass) {
      if (pass == c.cancelAt) session.CancelRequested = true;
    };
    EXPECT_FALSE(TransformShapeFile(session));
    EXPECT_EQ(fe.questions.size(), c.overwrite ? 4u : 0u);
    EXPECT_EQ(fe.eventPasses, c.cancelAt);
    EXPECT_TRUE(TargetsGone());
    EXPECT_TRUE(fe.messages.empty());
    EXPECT_EQ(session.settings.txtDateien, ExpectedLog(c.type, before.shp.size(), c.shapes.size()));
    EXPECT_TRUE(Take(srcStem) == before);
    EXPECT_EQ(fe.progressOpened, 1);
    EXPECT_EQ(fe.progressClosed, 1);
  }
}

// ---------------------------------------------------------------- job

// Through the job start: the elapsed time follows the driver's three lines;
// a failed run still logs the time.
TEST_F(ShapefileJob, JobStartLogsTheTime) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  EXPECT_EQ(RunJob(session), JobOutcome::kDone);
  const std::vector<std::string> lines = SplitCrLf(session.settings.txtDateien);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "shapetyp 1 (Point)");
  EXPECT_EQ(lines[2], "RecordAanzahl : 6");
  EXPECT_EQ(lines[3].rfind("vergangene Zeit in s ", 0), 0u);
  ExpectTransformed(srcStem, dstStem, session);

  fs::remove(srcStem + ".shx");
  session.settings.txtZielDatei = dir.File("ziel2.shp");
  EXPECT_EQ(RunJob(session), JobOutcome::kFailed);
  EXPECT_EQ(fe.OnlyMessage(), "Die Datei " + srcStem + ".shx\r\nwurde nicht gefunden");
  EXPECT_NE(session.settings.txtDateien.find("vergangene Zeit in s "), std::string::npos);
}

}  // namespace
}  // namespace pelmo::test
