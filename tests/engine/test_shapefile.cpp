// The shapefile driver on sound input: Point, PolyLine and Polygon files
// written by shapelib are transformed, read back with shapelib and checked
// point by point against an independent TransformPoint; the datum case
// against PROJ; boxes, index, attribute table, log and progress.
#include <gtest/gtest.h>
#include <proj.h>
#include <shapefil.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/fileio.hpp"
#include "formats/drivers.hpp"
#include "shp_fixtures.hpp"

namespace pelmo::test {
namespace {

using ShapefileTransform = ShapefileFixture;
using ShapefileProgress = ShapefileFixture;

// Each type with null records and records without vertices; the point file
// named by its .dbf into a target named by ".SHX" (any extension names the
// shapefile).
TEST_F(ShapefileTransform, PointPolyLineAndPolygonFiles) {
  const struct {
    const char* name;
    int type;
    std::vector<TestShape> shapes;
    int withoutVertices;  // record (1-based) given a box of its own, or 0
    const char *srcExt, *dstExt;
  } cases[] = {
      {"Polygon", SHPT_POLYGON, PolygonShapes(), 2, ".shp", ".shp"},
      {"PolyLine", SHPT_ARC, PolyLineShapes(), 4, ".shp", ".shp"},
      {"Point", SHPT_POINT, PointShapes(), 0, ".dbf", ".SHX"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteShapefile(srcStem, c.type, c.shapes);
    Files before = Take(srcStem);
    if (c.withoutVertices > 0) {
      const double box[4] = {kCentreE + 10, kCentreN - 20, kCentreE + 30, kCentreN + 40};
      std::memcpy(before.shp.data() + Record(before, c.withoutVertices) + 12, box, sizeof box);
      WriteSource(before);
    }
    fe = ShapeFrontEnd();
    session.settings.txtDateien = "alter Inhalt";
    session.settings.txtQuelldatei = srcStem + c.srcExt;
    session.settings.txtZielDatei = dstStem + c.dstExt;
    EXPECT_TRUE(TransformShapeFile(session));

    EXPECT_TRUE(fe.messages.empty());
    EXPECT_TRUE(fe.questions.empty());
    EXPECT_EQ(session.settings.txtDateien, ExpectedLog(c.type, before.shp.size(), c.shapes.size()));
    EXPECT_EQ(fe.log, session.settings.txtDateien);
    EXPECT_EQ(fe.progressOpened, 1);
    EXPECT_EQ(fe.progressClosed, 1);
    ExpectTransformed(srcStem, dstStem, session);
    EXPECT_TRUE(Take(srcStem) == before) << "source changed";
    // One event pass per point; the null record is not a point.
    if (c.type == SHPT_POINT) {
      EXPECT_EQ(fe.eventPasses, 5);
    }
    for (const char* ext : {".shp", ".shx", ".dbf"}) std::filesystem::remove(dstStem + ext);
  }
}

// GK-Germ on Bessel into UTM zone 33 on GRS80 with the DHDN parameters:
// the driver's output against the same chain in PROJ (they agree to 0.1 mm).
TEST_F(ShapefileTransform, DhdnGaussKruegerToUtmAgreesWithProj) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  UseGkToUtmDhdn(session);
  ASSERT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dstStem, session);

  PJ_CONTEXT* ctx = proj_context_create();
  PJ* pj = proj_create(
      ctx,
      "+proj=pipeline "
      "+step +inv +proj=tmerc +lat_0=0 +lon_0=15 +k=1 +x_0=5500000 +y_0=0 +ellps=bessel "
      "+step +proj=cart +ellps=bessel "
      "+step +proj=helmert +x=598.1 +y=73.7 +z=418.2 +rx=-0.202 +ry=-0.045 +rz=2.455 +s=6.7 "
      "+convention=coordinate_frame +exact "
      "+step +inv +proj=cart +ellps=GRS80 "
      "+step +proj=utm +zone=33 +ellps=GRS80");
  ASSERT_NE(pj, nullptr);
  const ReadFile src = ReadShapefile(srcStem);
  const ReadFile dst = ReadShapefile(dstStem);
  ASSERT_TRUE(dst.ok);
  int compared = 0;
  for (std::size_t i = 0; i < src.shapes.size(); ++i) {
    for (std::size_t k = 0; k < src.shapes[i].x.size(); k += 3) {
      PJ_COORD c = proj_coord(src.shapes[i].x[k], src.shapes[i].y[k], 0, 0);
      c = proj_trans(pj, PJ_FWD, c);
      // Our UTM easting carries the zone number in its millions.
      EXPECT_NEAR(dst.shapes[i].x[k], 33000000 + c.enu.e, 0.001) << i << "/" << k;
      EXPECT_NEAR(dst.shapes[i].y[k], c.enu.n, 0.001) << i << "/" << k;
      ++compared;
    }
  }
  EXPECT_GT(compared, 5);
  proj_destroy(pj);
  proj_context_destroy(ctx);
}

// Krovak output is rotated against the Gauss-Krueger grid and negated: boxes
// made from the two transformed corners would not enclose the shapes.
TEST_F(ShapefileTransform, KrovakBoxesEncloseTheirShapes) {
  // Two rhombi and a flat ellipse.
  const std::vector<TestShape> shapes = {
      {SHPT_POLYGON, {Ring(kCentreE, kCentreN, 30000, 30000, 4)}},
      {SHPT_POLYGON, {Ring(kCentreE - 10000, kCentreN, 50000, 40000, 4)}},
      {SHPT_POLYGON, {Ring(kCentreE + 20000, kCentreN - 20000, 10000, 3000, 16)}},
  };
  WriteShapefile(srcStem, SHPT_POLYGON, shapes);
  UseGkToKrovak(session);
  ASSERT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dstStem, session);

  const ReadFile src = ReadShapefile(srcStem);
  const ReadFile dst = ReadShapefile(dstStem);
  ASSERT_TRUE(dst.ok);
  Oracle oracle(session);
  int cornerBoxesMissingAVertex = 0;
  for (std::size_t i = 0; i < dst.shapes.size(); ++i) {
    const ReadShape& d = dst.shapes[i];
    EXPECT_LT(d.xmin, d.xmax);
    EXPECT_LT(d.ymin, d.ymax);
    EXPECT_LT(d.xmax, 0);  // Krovak output: both values negative
    EXPECT_LT(d.ymax, 0);
    // The corner construction would have missed part of this shape.
    const Vertex lo = oracle(src.shapes[i].xmin, src.shapes[i].ymin);
    const Vertex hi = oracle(src.shapes[i].xmax, src.shapes[i].ymax);
    for (std::size_t k = 0; k < d.x.size(); ++k) {
      if (d.x[k] < lo.first || d.x[k] > hi.first || d.y[k] < lo.second || d.y[k] > hi.second) {
        ++cornerBoxesMissingAVertex;
        break;
      }
    }
  }
  EXPECT_EQ(cornerBoxesMissingAVertex, 3) << "the shapes do not test the boxes";
  EXPECT_LT(dst.min[0], dst.max[0]);
  EXPECT_LT(dst.min[1], dst.max[1]);
}

// Krovak input (the program's start-up choice), where the chain cannot take
// the point 0, 0: records without vertices and an empty file, whose boxes
// shapelib writes as zeros, keep zero boxes instead of stopping the run.
TEST_F(ShapefileTransform, KrovakInputWithZeroBoxes) {
  const double e = -700000, n = -1050000;  // -Y, -X near Prague
  WriteShapefile(srcStem, SHPT_POLYGON,
                 {{SHPT_POLYGON, {Ring(e, n, 5000, 3000, 10)}},
                  {SHPT_POLYGON, {}},
                  {SHPT_NULL, {}},
                  {SHPT_POLYGON, {Ring(e + 20000, n - 8000, 1000, 1000, 5)}}});
  WriteShapefile(dir.File("leer"), SHPT_POLYGON, {});
  UseKrovakToGk(session);
  ASSERT_TRUE(TransformShapeFile(session));
  ExpectTransformed(srcStem, dstStem, session);
  const ReadFile dst = ReadShapefile(dstStem);
  ASSERT_EQ(dst.shapes.size(), 4u);
  EXPECT_EQ(dst.shapes[1].xmin, 0);
  EXPECT_EQ(dst.shapes[1].ymax, 0);
  EXPECT_GT(dst.shapes[0].xmin, 5400000);  // GK easting with meridian index 5

  session.settings.txtQuelldatei = dir.File("leer.shp");
  session.settings.txtZielDatei = dir.File("leer_gk.shp");
  ASSERT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(dir.File("leer"), dir.File("leer_gk"), session);
}

// An index with no records: the header box is the transformed header
// corners (in order), the index is copied, the .dbf too.
TEST_F(ShapefileTransform, NoRecords) {
  WriteShapefile(srcStem, SHPT_POLYGON, {});
  Files f = Take(srcStem);
  const double box[4] = {kCentreE - 1000, kCentreN - 2000, kCentreE + 3000, kCentreN + 4000};
  std::memcpy(f.shp.data() + 36, box, sizeof box);
  std::memcpy(f.shx.data() + 36, box, sizeof box);
  WriteSource(f);
  UseGkToKrovak(session);
  ASSERT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  EXPECT_EQ(session.settings.txtDateien, ExpectedLog(5, 100, 0));
  ExpectTransformed(srcStem, dstStem, session);
  EXPECT_TRUE(fe.percents.empty());
  EXPECT_EQ(fe.Bar(ProgressBarId::kRecords, 'x'), std::vector<float>{2});
  EXPECT_EQ(fe.eventPasses, 2);  // the two corners
}

// One record larger than every buffer of the driver, and a record that
// shapelib moved to the end of the file when it was rewritten, leaving
// bytes that no record owns: the driver reads and writes in blocks, not per
// vertex.
TEST_F(ShapefileTransform, LargeRecordAndRewrittenRecord) {
  std::vector<TestShape> shapes = PolygonShapes();
  shapes.push_back({SHPT_POLYGON, {Ring(kCentreE, kCentreN, 20000, 15000, 150000)}});
  WriteShapefile(srcStem, SHPT_POLYGON, shapes);
  RewriteFirstRecord(srcStem, Ring(kCentreE + 100, kCentreN + 100, 5000, 5000, 40));
  const Files before = Take(srcStem);

  iohook::Arm(LONG_MAX);
  const bool ok = TransformShapeFile(session);
  const long operations = iohook::Count();
  iohook::Disarm();
  ASSERT_TRUE(ok);
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dstStem, session);
  EXPECT_TRUE(Take(srcStem) == before);
  // About 2.5 MB of main file: a few dozen block reads and writes.
  EXPECT_LT(operations, 60) << "file operations for " << before.shp.size() << " bytes";
}

// Option 9 drives the record bar and option 8 the vertex bar when it is 1
// (its numeric value: "1,0" counts); 0 or 2 (a grey check box) leave them
// still. The percentage text goes on either way. An option applied during a
// run (the options dialog is modeless) takes effect from the next vertex.
TEST_F(ShapefileProgress, BarsFollowOptionsEightAndNine) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  session.OptionValues[opt::kStat1] = "0";
  session.OptionValues[opt::kStat2] = "2";
  session.Touch();
  fe.onEvents = [&](long pass) {
    if (pass == 3) {
      session.OptionValues[opt::kStat1] = "1";
      session.Touch();
    }
  };
  ASSERT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.Bar(ProgressBarId::kRecords, 'v').empty());
  const std::vector<float> vertices = fe.Bar(ProgressBarId::kVertices, 'v');
  ASSERT_FALSE(vertices.empty());
  EXPECT_EQ(vertices.front(), 3);
  EXPECT_EQ(fe.percents, (std::vector<std::string>{"25", "50", "75", "100"}));

  fe = ShapeFrontEnd();
  session.OptionValues[opt::kStat1] = "1";
  session.OptionValues[opt::kStat2] = "1,0";
  session.Touch();
  session.settings.txtZielDatei = dir.File("ziel2.shp");
  ASSERT_TRUE(TransformShapeFile(session));
  EXPECT_EQ(fe.percents, (std::vector<std::string>{"25", "50", "75", "100"}));
  EXPECT_EQ(fe.Bar(ProgressBarId::kRecords, 'n'), std::vector<float>{1});
  EXPECT_EQ(fe.Bar(ProgressBarId::kRecords, 'x'), std::vector<float>{4});
  EXPECT_EQ(fe.Bar(ProgressBarId::kRecords, 'v'), (std::vector<float>{1, 2, 3, 4}));
  // Vertex bar: per poly record minimum 0 and maximum NumPoints - 1 (1 when
  // there is at most one point), then one value per vertex. The null record
  // has no vertex bar. Records 1 and 4 have 13 + 7 and 9 + 6 + 4 vertices.
  EXPECT_EQ(fe.Bar(ProgressBarId::kVertices, 'n'), (std::vector<float>{0, 0, 0}));
  EXPECT_EQ(fe.Bar(ProgressBarId::kVertices, 'x'), (std::vector<float>{19, 1, 18}));
  std::vector<float> values;
  for (int k = 0; k < 20; ++k) values.push_back(static_cast<float>(k));
  for (int k = 0; k < 19; ++k) values.push_back(static_cast<float>(k));
  EXPECT_EQ(fe.Bar(ProgressBarId::kVertices, 'v'), values);
}

// Percentages are the integer part of i / count * 100, each value once.
TEST_F(ShapefileProgress, PercentOfManyRecords) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes(300));
  ASSERT_TRUE(TransformShapeFile(session));
  ASSERT_EQ(fe.percents.size(), 101u);
  EXPECT_EQ(fe.percents.front(), "0");
  EXPECT_EQ(fe.percents.back(), "100");
  EXPECT_EQ(fe.Bar(ProgressBarId::kRecords, 'x'), std::vector<float>{300});
}

}  // namespace
}  // namespace pelmo::test
