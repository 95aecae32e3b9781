// The shapefile driver on files shapelib wrote: results byte by byte; damaged, missing and unusable files,
// the overwrite questions, Cancel, every file operation refused in turn.
#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;
using Shapefile = ShapefileFixture;

std::string Log(int type, std::size_t bytes, std::size_t records) {
  return "shapetyp " + std::to_string(type) + (type == 1 ? " (Point)" : type == 3 ? " (PolyLine)" : " (Polygon)") + "\r\nDateilänge in byte " + std::to_string(bytes) + "\r\nRecordAanzahl : " +
         std::to_string(records) + "\r\n";
}

/// Rewrites record 1 larger: shapelib moves it to the end and leaves its old bytes to no record.
void RewriteFirstRecord(const std::string& stem) {
  std::vector<double> xs, ys;
  for (const auto& [x, y] : Ring(100, 100, 5000, 5000, 40)) xs.push_back(x), ys.push_back(y);
  SHPHandle h = SHPOpen(stem.c_str(), "rb+");
  SHPObject* o = SHPCreateSimpleObject(SHPT_POLYGON, static_cast<int>(xs.size()), xs.data(), ys.data(), nullptr);
  EXPECT_EQ(SHPWriteObject(h, 0, o), 0);
  SHPDestroyObject(o);
  SHPClose(h);
}

// Null records, records without vertices (one with a box), bytes behind the points, a record moved to the end and
// one larger than every buffer; Krovak out (boxes not of corners) and in (zero boxes); no records; a datum change.
TEST_F(Shapefile, SoundFilesReadBackWithShapelib) {
  const double box[4] = {kCentreE + 10, kCentreN - 20, kCentreE + 30, kCentreN + 40};
  std::vector<TestShape> large = PolygonShapes(), tailed = PolyLineShapes();
  large.push_back({SHPT_POLYGON, {Ring(0, 0, 20000, 15000, 150000)}});
  tailed.push_back({SHPT_ARC, {{{kCentreE, kCentreN}, {kCentreE + 10, kCentreN + 20}}}});
  const auto toKrovak = [](Session& s) {
    UseBesselOnBothSides(s);
    s.settings.optInKrovak = s.settings.optOutGK = false, s.settings.optInGK = s.settings.optOutKrovak = true;
  };
  const struct {
    int type;
    std::vector<TestShape> shapes;
    std::function<void()> prepare = {};  // after shapelib wrote the source
    std::function<void(Session&)> setup = {};
    const char *srcExt = ".shp", *dstExt = ".shp";
  } cases[] = {
      {SHPT_POLYGON, PolygonShapes(), [&] { Edit([&](Files& f) { std::memcpy(&f.shp[Record(f, 2) + 12], box, 32); }); }},
      {SHPT_ARC, tailed, [&] {
         Edit([](Files& f) {  // 16 words behind the last record's points
           f.shp += "Zusatzdaten hinter den Punkten!!";
           PutBigEndian(f.shp, Record(f, 5) + 4, BigEndianAt(f.shp, Record(f, 5) + 4) + 16);
           PutBigEndian(f.shx, 136, BigEndianAt(f.shx, 136) + 16);
           PutBigEndian(f.shp, 24, static_cast<std::int32_t>(f.shp.size() / 2));
         });
       }},
      {SHPT_POINT, PointShapes(), {}, {}, ".dbf", ".SHX"},  // any of the three names names the shapefile
      {SHPT_POLYGON, large, [&] { RewriteFirstRecord(srcStem); }},
      {SHPT_POLYGON, {{SHPT_POLYGON, {Ring(0, 0, 3e4, 3e4, 4)}}, {SHPT_POLYGON, {Ring(0, 0, 1e4, 3e3, 16)}}}, {}, toKrovak},
      {SHPT_POLYGON, {{SHPT_POLYGON, {Ring(-7e5 - kCentreE, -1.05e6 - kCentreN, 5e3, 3e3, 10)}}, {SHPT_POLYGON, {}}, {SHPT_NULL, {}}},
       {}, UseBesselOnBothSides},
      {SHPT_POLYGON, {}, {}, UseBesselOnBothSides},
      {SHPT_POLYGON, {}, [&] { Edit([&](Files& f) { std::memcpy(&f.shp[36], box, 32), std::memcpy(&f.shx[36], box, 32); }); }},
      {SHPT_POLYGON, PolygonShapes(), {}, UseGkToUtmDhdn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    SetUp();
    RemoveTargets();
    WriteShapefile(srcStem, c.type, c.shapes);
    if (c.prepare) c.prepare();
    const Files before = Take(srcStem);
    session.settings.txtDateien = "alter Inhalt";
    session.settings.txtQuelldatei = srcStem + c.srcExt, session.settings.txtZielDatei = dstStem + c.dstExt;
    if (c.setup) c.setup(session), session.Touch();
    iohook::Arm(LONG_MAX);
    EXPECT_TRUE(TransformShapeFile(session));
    EXPECT_LT(iohook::Count(), 60) << "the driver reads and writes in blocks";
    iohook::Disarm();
    EXPECT_TRUE(fe.messages.empty() && fe.questions.empty()) << fe.OnlyMessage();
    EXPECT_EQ(session.settings.txtDateien, Log(c.type, before.shp.size(), c.shapes.size()));
    EXPECT_EQ(fe.progressOpened + fe.progressClosed, 2);
    EXPECT_EQ(fe.percent, c.shapes.empty() ? "" : "100");
    ExpectTransformed(srcStem, dstStem, session);
    EXPECT_TRUE(Take(srcStem) == before) << "source changed";
  }
}

// One message (title Pelmo) naming the file and what is wrong; the source unchanged, no target left.
TEST_F(Shapefile, RefusedWithOneMessage) {
  const auto at = [](const Files& f, int i) { return "Record " + std::to_string(i) + " (Byte " + std::to_string(Record(f, i)) + "): "; };
  const auto bytes = [](const Files& f, int i) { return std::to_string(8 + 2 * BigEndianAt(f.shp, Record(f, i) + 4)); };
  std::string message;
  const std::tuple<int, std::string, std::function<std::string(Files&)>> cases[] = {  // type, file named, damage
      {SHPT_POLYGON, "quelle.shp", [](Files& f) { f.shp.resize(24); return "sie ist mit 24 Byte kürzer als der Dateikopf (100 Byte)"; }},
      {SHPT_POLYGON, "quelle.shp", [](Files& f) {
         f.shp.pop_back();
         return "die Dateilänge im Dateikopf (" + std::to_string(f.shp.size() + 1) + " Byte) ist größer als die Datei (" +
                std::to_string(f.shp.size()) + " Byte)"; }},
      {SHPT_POLYGON, "quelle.shx", [](Files& f) { PutBigEndian(f.shx, 24, 56); return "(112 Byte) ergibt keine ganze Zahl von Indexeinträgen"; }},
      {SHPT_POINT, "quelle.shx", [&](Files& f) {
         f.shx += f.shx.substr(f.shx.size() - 8);
         PutBigEndian(f.shx, f.shx.size() - 8, static_cast<std::int32_t>(f.shp.size() / 2));
         PutBigEndian(f.shx, 24, static_cast<std::int32_t>(f.shx.size() / 2));
         const std::string size = std::to_string(f.shp.size());
         return "Record 7 liegt laut Index bei Byte " + size + ", außerhalb der Datei " + srcStem + ".shp (" + size + " Byte)"; }},
      {SHPT_POLYGON, "quelle.shx", [&](Files& f) {
         PutBigEndian(f.shx, 108, 49);
         return "Record 2 liegt laut Index bei Byte 98, im Dateikopf der Datei " + srcStem + ".shp"; }},
      {SHPT_POLYGON, "quelle.shx", [](Files& f) { PutBigEndian(f.shx, 124, 0x40000000); return "2147483648: Dateien ab 2 GiB werden nicht unterstützt"; }},
      {SHPT_POLYGON, "quelle.shp", [&](Files& f) { PutBigEndian(f.shp, Record(f, 4) + 4, 100000);
         return at(f, 4) + "der Record ist laut Recordkopf 200008 Byte lang und reicht über das Dateiende (" +
                std::to_string(f.shp.size()) + " Byte) hinaus"; }},
      {SHPT_POLYGON, "quelle.shp", [&](Files& f) { PutBigEndian(f.shp, Record(f, 4) + 4, 10);
         return at(f, 4) + "der Record ist mit 28 Byte zu kurz für eine Linie oder Fläche (mindestens 52 Byte)"; }},
      {SHPT_POINT, "quelle.shp", [&](Files& f) { PutBigEndian(f.shp, Record(f, 4) + 4, 2);
         return at(f, 4) + "der Record ist mit 12 Byte zu kurz für einen Punkt (28 Byte)"; }},
      {SHPT_ARC, "quelle.shp", [&](Files& f) { PutLittleEndian(f.shp, Record(f, 1) + 48, -7);
         return at(f, 1) + "negative Anzahl: NumParts 3, NumPoints -7"; }},
      {SHPT_ARC, "quelle.shp", [&](Files& f) { PutLittleEndian(f.shp, Record(f, 3) + 48, INT_MAX);
         return at(f, 3) + "NumParts 1 und NumPoints 2147483647 passen nicht in den Record (88 Byte)"; }},
      {SHPT_POLYGON, "quelle.shp", [&](Files& f) { PutLittleEndian(f.shp, Record(f, 4) + 56, 19);
         return at(f, 4) + "Teil 2 beginnt bei Punkt 19, der Record hat aber 19 Punkte"; }},
      {SHPT_POINT, "quelle.shp", [&](Files& f) { PutLittleEndian(f.shp, Record(f, 2) + 8, SHPT_ARC);
         return at(f, 2) + "der Record hat den Shapetyp 3, die Datei den Shapetyp 1"; }},
      {SHPT_ARCZ, "quelle.shp", [&](Files& f) { PutLittleEndian(f.shp, Record(f, 3) + 48, 3);  // Z values beyond the record
         return at(f, 3) + "NumParts 1 und NumPoints 3 passen nicht in den Record (" + bytes(f, 3) + " Byte)"; }},
      {SHPT_MULTIPOINTM, "quelle.shp", [&](Files& f) { PutLittleEndian(f.shp, Record(f, 1) + 44, INT_MAX);
         return at(f, 1) + "NumPoints 2147483647 passt nicht in den Record (" + bytes(f, 1) + " Byte)"; }},
      {SHPT_POINTZ, "quelle.shp", [&](Files& f) { PutBigEndian(f.shp, Record(f, 2) + 4, 10);
         return at(f, 2) + "der Record ist mit 28 Byte zu kurz für einen Punkt mit Z-Wert (36 Byte)"; }},
      {SHPT_MULTIPATCH, "quelle.shp", [&](Files& f) { PutBigEndian(f.shp, Record(f, 1) + 4, 20);
         return at(f, 1) + "der Record ist mit 48 Byte zu kurz für ein Multipatch (mindestens 52 Byte)"; }},
      {SHPT_ARC, "quelle.shp", [&](Files& f) { PutLittleEndian(f.shp, Record(f, 3) + 8, SHPT_ARCM);
         return at(f, 3) + "der Record hat den Shapetyp 23, die Datei den Shapetyp 3"; }},
      {SHPT_POINT, "quelle.dbf", [&](Files&) { fs::remove(srcStem + ".dbf"), fs::create_directory(srcStem + ".dbf"); return "ein Ordner"; }},
      {SHPT_POINT, "ziel.dbf", [&](Files&) { fs::create_directory(dstStem + ".dbf"); return "ein Ordner"; }},  // never asked about
      {SHPT_POINT, "ziel.shx", [&](Files&) { fs::create_directory(dstStem + ".shx"), fe.answers = {true}; return "geöffnet werden: Zugriff verweigert"; }},
      {SHPT_POLYGON, "ziel.shp", [&](Files&) { fs::create_symlink("/dev/full", dstStem + ".shp"), fe.answers = {true};
         return "kann nicht geschrieben werden: Datenträger voll"; }},
      {SHPT_POLYGON, "aus/ziel.shp", [&](Files&) {
         fs::create_directory(dir.File("aus")), session.settings.txtZielDatei = dir.File("aus/ziel.shp");
         fe.onEvents = [&](long pass) { if (pass == 3) fs::remove_all(dir.File("aus")); };
         return "wurde während der Transformation gelöscht"; }},
      {SHPT_POLYGON, "quelle.shp", [&](Files&) { UseGkToUtmDhdn(session), session.OptionValues[opt::kGKBM] = "fünf", session.Touch();
         return "Record 1, Punkt 1 kann nicht transformiert werden: Typen unverträglich"; }},
      {SHPT_POINT, "", [&](Files&) { session.settings.txtZielDatei = srcStem + ".dbf"; return std::string(kMsgIdentical); }},
  };
  for (const auto& [type, file, damage] : cases) {
    SetUp();
    WriteShapefile(srcStem, type, ShapesOf(type));
    Edit([&](Files& f) { message = damage(f); });
    SCOPED_TRACE(message);
    const Files source = Take(srcStem);
    std::vector<std::string> folders;
    for (const std::string& path : {srcStem + ".dbf", dstStem + ".shx", dstStem + ".dbf"})
      if (fs::is_directory(path)) folders.push_back(path);
    EXPECT_FALSE(TransformShapeFile(session));
    ASSERT_EQ(fe.messages.size(), 1u);
    const std::string& text = fe.messages[0].text;
    EXPECT_TRUE(text.starts_with(file.empty() ? "" : "Die Datei " + dir.File(file) + "\r\n") && text.ends_with(message)) << text;
    EXPECT_EQ(fe.messages[0].title, "Pelmo");
    EXPECT_TRUE(Take(srcStem) == source) << "source changed";
    EXPECT_EQ(fe.progressClosed, 1);
    for (const std::string& folder : folders) {
      EXPECT_TRUE(fs::is_directory(folder));
      fs::remove(folder);
    }
    EXPECT_TRUE(TargetsGone());
  }
  // A part starting at the last point passes; a type outside the list is named, copied when without records.
  SetUp();
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  Edit([](Files& f) { PutLittleEndian(f.shp, Record(f, 4) + 60, 18); });
  EXPECT_TRUE(TransformShapeFile(session));
  ExpectTransformed(srcStem, dstStem, session);
  for (const int records : {6, 0}) {
    SetUp();
    RemoveTargets();
    WriteShapefile(srcStem, SHPT_POINT, PointShapes(records));
    Edit([](Files& f) { PutLittleEndian(f.shp, 32, 2); });
    EXPECT_EQ(TransformShapeFile(session), records == 0);
    if (records == 0) {
      ExpectTransformed(srcStem, dstStem, session);
    } else {
      ASSERT_EQ(fe.messages.size(), 1u);
      EXPECT_EQ(fe.messages[0].text.substr(0, 36) + "|" + fe.messages[0].title, "Shapetyp 2 wird nicht unterstützt\r\n|");
      EXPECT_TRUE(fe.messages[0].text.ends_with("PolyLineM (23), PolygonM (25), MultiPointM (28), MultiPatch (31)"));
    }
  }
}

// Yes to all replaces older, longer files; No keeps them; a read-only table is asked about and stays read-only.
TEST_F(Shapefile, OverwriteQuestions) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  RewriteFirstRecord(srcStem);  // bytes of no record must not show the old target
  const std::tuple<std::deque<bool>, bool, std::vector<std::string>> cases[] = {
      {{false}, false, {".shp"}}, {{false}, true, {".shx"}}, {{true, false}, false, {".shp", ".shx"}},
      {{true, true, false}, false, {".shp", ".shx", ".dbf"}}, {{true, true, true}, false, {".shp", ".shx", ".dbf"}}};
  for (const auto& [answers, mainMissing, asked] : cases) {
    WriteShapefile(dstStem, SHPT_POINT, PointShapes(400));
    const Files old = Take(dstStem);
    if (mainMissing) fs::remove(dstStem + ".shp");
    fe = RecordingFrontEnd();
    fe.answers = answers;
    const bool done = answers.size() == 3 && answers.back();
    EXPECT_EQ(TransformShapeFile(session), done);
    ASSERT_EQ(fe.questions.size(), asked.size());
    for (std::size_t i = 0; i < asked.size(); ++i) {
      EXPECT_EQ(fe.questions[i].text + fe.questions[i].title,
                "Die Datei " + dstStem + asked[i] + "\r\nexistiert bereits, \r\nsoll sie überschrieben werden?Problem");
      EXPECT_EQ(fe.questions[i].icon, MsgIcon::kExclamation);
    }
    EXPECT_TRUE(fe.messages.empty());
    if (done) {
      ExpectTransformed(srcStem, dstStem, session);
    } else {  // a main file created before the index question stays, empty
      EXPECT_TRUE(mainMissing ? ReadBytes(dstStem + ".shp").empty() && ReadBytes(dstStem + ".shx") == old.shx : Take(dstStem) == old);
    }
  }
  fs::permissions(srcStem + ".dbf", fs::perms::owner_read);
  fe.answers = {true, true, true};
  ASSERT_TRUE(TransformShapeFile(session));
  const Files done = Take(dstStem);
  for (const bool yes : {false, true}) {
    fe = RecordingFrontEnd();
    fe.answers = {true, true, true, yes};
    EXPECT_EQ(TransformShapeFile(session), yes);
    ASSERT_EQ(fe.questions.size(), 4u);
    EXPECT_EQ(fe.questions[3].text,
              "Die Datei " + dstStem + ".dbf\r\n\r\nhat das Attribut Schreibgeschützt, \r\nsoll sie trotzdem überschrieben werden?");
    EXPECT_TRUE(Take(dstStem) == done);
    EXPECT_EQ(fs::status(dstStem + ".dbf").permissions() & fs::perms::owner_write, fs::perms::none);
  }
}

// Cancel stops at the next vertex or record; targets go (read-only ones too), log and source stay, no message.
TEST_F(Shapefile, CancelDeletesTheTargets) {
  const std::tuple<int, std::vector<TestShape>, long, bool> cases[] = {{SHPT_POLYGON, PolygonShapes(), 5, false},
                                                                     {SHPT_POINT, PointShapes(200), 3, false},
                                                                     {SHPT_POINT, PointShapes(6), 5, false},
                                                                     {SHPT_POLYGON, PolygonShapes(), 20, true}};
  for (const auto& [type, shapes, cancelAt, overwrite] : cases) {
    WriteShapefile(srcStem, type, shapes);
    const Files before = Take(srcStem);
    fe = RecordingFrontEnd();
    if (overwrite) {
      WriteShapefile(dstStem, SHPT_POLYGON, PolygonShapes());
      fs::permissions(dstStem + ".dbf", fs::perms::owner_read);
      session.CancelRequested = true;  // left over from an earlier run: no matter
      fe.answers = {true, true, true, true};
    }
    fe.onEvents = [&, at = cancelAt](long pass) { session.CancelRequested = session.CancelRequested || pass == at; };
    EXPECT_FALSE(TransformShapeFile(session));
    EXPECT_EQ(fe.eventPasses, cancelAt);
    EXPECT_TRUE(TargetsGone() && fe.messages.empty() && fe.progressClosed == 1 && Take(srcStem) == before);
    EXPECT_EQ(session.settings.txtDateien, Log(type, before.shp.size(), shapes.size()));
  }
}

// One message naming the file, no target, the source unchanged; only a refused close of a source passes.
TEST_F(Shapefile, EveryFileOperationRefusedInTurn) {
  for (const bool sevenPar : {false, true}) {
    if (sevenPar) UseGkToUtmDhdn(session);
    WriteShapefile(srcStem, sevenPar ? SHPT_POINT : SHPT_ARC, sevenPar ? PointShapes() : PolyLineShapes());
    const Files source = Take(srcStem);
    const long steps = ForEachFailingOperation(
        [&] {
          fe = RecordingFrontEnd();
          session.settings.txtDateien.clear();
          return RunJob(session);
        },
        [&](JobOutcome outcome, bool complete) {
          EXPECT_TRUE(Take(srcStem) == source) << "source changed";
          EXPECT_TRUE(!complete || outcome == JobOutcome::kDone);
          if (outcome == JobOutcome::kDone) {
            EXPECT_TRUE(fe.messages.empty());
            ExpectTransformed(srcStem, dstStem, session);
            return RemoveTargets();
          }
          EXPECT_EQ(fe.OnlyMessage().rfind("Die Datei ", 0), 0u) << fe.OnlyMessage();
          EXPECT_TRUE(TargetsGone()) << fe.OnlyMessage();
        });
    EXPECT_GT(steps, 10);
  }
}

}  // namespace
}  // namespace pelmo::test
