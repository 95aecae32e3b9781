// Shapefiles for the driver tests, written and read back with shapelib so
// that neither side of a test goes through our own file code; a front end
// that also records the progress window; the settings of the test jobs; and
// ExpectTransformed, the check of a finished job against an independent
// TransformPoint.
#pragma once

#include <gtest/gtest.h>
#include <shapefil.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/settings.hpp"
#include "geodesy/geodesy.hpp"
#include "geodesy/point_chain.hpp"
#include "job_setups.hpp"
#include "test_support.hpp"

namespace pelmo::test {

using Vertex = std::pair<double, double>;
using Part = std::vector<Vertex>;

/// One record as a test describes it: its shape type (SHPT_NULL for a null
/// record) and its parts (none for a record without vertices).
struct TestShape {
  int type = SHPT_POLYGON;
  std::vector<Part> parts;
};

/// Writes `shape` with shapelib as record `index` (0-based; -1 appends) of
/// the open file `shp`; returns the index shapelib reports.
inline int WriteShape(SHPHandle shp, int index, const TestShape& shape) {
  std::vector<double> xs, ys;
  std::vector<int> starts;
  for (const Part& p : shape.parts) {
    starts.push_back(static_cast<int>(xs.size()));
    for (const Vertex& v : p) {
      xs.push_back(v.first);
      ys.push_back(v.second);
    }
  }
  SHPObject* obj = SHPCreateObject(shape.type, -1, static_cast<int>(starts.size()),
                                   starts.empty() ? nullptr : starts.data(), nullptr,
                                   static_cast<int>(xs.size()), xs.empty() ? nullptr : xs.data(),
                                   ys.empty() ? nullptr : ys.data(), nullptr, nullptr);
  if (obj == nullptr) return -2;
  const int written = SHPWriteObject(shp, index, obj);
  SHPDestroyObject(obj);
  return written;
}

/// Writes stem.shp, stem.shx and stem.dbf with shapelib (`stem` is the path
/// without extension). The table has a text field NAME, filled with names
/// with umlauts and sharp s, and an integer ID.
inline void WriteShapefile(const std::string& stem, int fileType,
                           const std::vector<TestShape>& shapes) {
  static const char* const kNames[] = {"Müller", "Straße", "Öl- und Gärtenweg", "Überlingen",
                                       "Äußere Ring"};
  SHPHandle shp = SHPCreate(stem.c_str(), fileType);
  ASSERT_NE(shp, nullptr) << stem;
  DBFHandle dbf = DBFCreate(stem.c_str());
  ASSERT_NE(dbf, nullptr) << stem;
  ASSERT_EQ(DBFAddField(dbf, "NAME", FTString, 40, 0), 0);
  ASSERT_EQ(DBFAddField(dbf, "ID", FTInteger, 8, 0), 1);
  for (int id = 0; id < static_cast<int>(shapes.size()); ++id) {
    ASSERT_EQ(WriteShape(shp, -1, shapes[static_cast<std::size_t>(id)]), id);
    ASSERT_TRUE(DBFWriteStringAttribute(dbf, id, 0, kNames[id % 5]));
    ASSERT_TRUE(DBFWriteIntegerAttribute(dbf, id, 1, 100 + id));
  }
  SHPClose(shp);
  DBFClose(dbf);
}

/// Replaces record 1 of stem.shp with a Polygon of the one ring `ring`
/// through shapelib, which moves a longer record to the end of the file and
/// leaves its old bytes to no record.
inline void RewriteFirstRecord(const std::string& stem, const Part& ring) {
  SHPHandle h = SHPOpen(stem.c_str(), "rb+");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WriteShape(h, 0, {SHPT_POLYGON, {ring}}), 0);
  SHPClose(h);
}

/// A record as shapelib reads it back.
struct ReadShape {
  int type = 0;
  std::vector<int> partStarts;
  std::vector<double> x, y;
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
};

/// A shapefile as shapelib reads it back.
struct ReadFile {
  bool ok = false;
  int type = 0;
  double min[4] = {}, max[4] = {};
  std::vector<ReadShape> shapes;
};

inline ReadFile ReadShapefile(const std::string& stem) {
  ReadFile f;
  SHPHandle shp = SHPOpen(stem.c_str(), "rb");
  if (shp == nullptr) return f;
  int count = 0;
  SHPGetInfo(shp, &count, &f.type, f.min, f.max);
  for (int i = 0; i < count; ++i) {
    SHPObject* o = SHPReadObject(shp, i);
    if (o == nullptr) {
      SHPClose(shp);
      return f;
    }
    f.shapes.push_back({o->nSHPType,
                        {o->panPartStart, o->panPartStart + o->nParts},
                        {o->padfX, o->padfX + o->nVertices},
                        {o->padfY, o->padfY + o->nVertices},
                        o->dfXMin, o->dfYMin, o->dfXMax, o->dfYMax});
    SHPDestroyObject(o);
  }
  SHPClose(shp);
  f.ok = true;
  return f;
}

/// Big-endian 32-bit integer at `pos` of `bytes`.
inline std::int32_t BigEndianAt(const std::string& bytes, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
  return static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                                   (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]});
}

/// Puts a big-endian 32-bit integer at `pos` of `bytes`.
inline void PutBigEndian(std::string& bytes, std::size_t pos, std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[pos + i] = static_cast<char>((u >> (24 - 8 * i)) & 0xFF);
}

/// Puts a little-endian 32-bit integer at `pos` of `bytes`.
inline void PutLittleEndian(std::string& bytes, std::size_t pos, std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[pos + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

/// Recording front end that also keeps what the progress window was told.
class ShapeFrontEnd : public RecordingFrontEnd {
 public:
  struct BarCall {
    ProgressBarId bar;
    char what;  // 'n' minimum, 'x' maximum, 'v' value
    float value;
  };
  int progressOpened = 0, progressClosed = 0;
  std::vector<std::string> percents;
  std::vector<BarCall> bars;

  void ProgressOpen() override { ++progressOpened; }
  void ProgressClose() override { ++progressClosed; }
  void ProgressPercent(const std::string& text) override { percents.push_back(text); }
  void ProgressMin(ProgressBarId bar, float v) override { bars.push_back({bar, 'n', v}); }
  void ProgressMax(ProgressBarId bar, float v) override { bars.push_back({bar, 'x', v}); }
  void ProgressValue(ProgressBarId bar, float v) override { bars.push_back({bar, 'v', v}); }

  /// The calls of one kind on one bar, in order.
  std::vector<float> Bar(ProgressBarId bar, char what) const {
    std::vector<float> v;
    for (const BarCall& c : bars) {
      if (c.bar == bar && c.what == what) v.push_back(c.value);
    }
    return v;
  }
};

/// A ring of `n` vertices on an ellipse about (cx, cy), closed.
inline Part Ring(double cx, double cy, double rx, double ry, int n) {
  Part p;
  for (int k = 0; k < n; ++k) {
    const double t = 6.283185307179586 * k / n;
    p.emplace_back(cx + rx * std::cos(t), cy + ry * std::sin(t));
  }
  p.push_back(p.front());
  return p;
}

// Centre of the test shapes: Gauss-Krueger easting and northing (meridian
// 15, index 5) of a point in Bohemia, about 50 N 15 E.
inline constexpr double kCentreE = 5500000;
inline constexpr double kCentreN = 5540000;

/// Polygons: two rings (outer and hole), a record without vertices, a null
/// record, three rings.
inline std::vector<TestShape> PolygonShapes() {
  return {
      {SHPT_POLYGON,
       {Ring(kCentreE, kCentreN, 4000, 2500, 12), Ring(kCentreE + 500, kCentreN, 800, 600, 6)}},
      {SHPT_POLYGON, {}},
      {SHPT_NULL, {}},
      {SHPT_POLYGON,
       {Ring(kCentreE - 20000, kCentreN + 15000, 3000, 3000, 8),
        Ring(kCentreE + 30000, kCentreN - 10000, 1500, 4000, 5),
        {{kCentreE + 40000, kCentreN},
         {kCentreE + 41000, kCentreN + 20000},
         {kCentreE + 39000, kCentreN + 1000},
         {kCentreE + 40000, kCentreN}}}},
  };
}

/// Polylines: three parts, a null record, one part, a record without
/// vertices.
inline std::vector<TestShape> PolyLineShapes() {
  return {
      {SHPT_ARC,
       {{{kCentreE, kCentreN}, {kCentreE + 1000, kCentreN + 2500}},
        {{kCentreE - 5000, kCentreN - 5000},
         {kCentreE - 4000, kCentreN - 3000},
         {kCentreE - 1000, kCentreN - 3500}},
        {{kCentreE + 7000, kCentreN + 100}, {kCentreE + 9000, kCentreN - 100}}}},
      {SHPT_NULL, {}},
      {SHPT_ARC, {{{kCentreE - 60000, kCentreN + 40000}, {kCentreE + 60000, kCentreN - 40000}}}},
      {SHPT_ARC, {}},
  };
}

/// Points, the third of them a null record.
inline std::vector<TestShape> PointShapes(int count = 6) {
  std::vector<TestShape> v;
  for (int i = 0; i < count; ++i) {
    if (i == 2) {
      v.push_back({SHPT_NULL, {}});
    } else {
      v.push_back({SHPT_POINT, {{{kCentreE + 1234.5 * i - 3000, kCentreN - 987.25 * i + 1500}}}});
    }
  }
  return v;
}

/// PointShapes, PolyLineShapes or PolygonShapes (by the kind of `type`; the
/// polygons for MultiPoint and MultiPatch) as records of `type`, Z and M 0.
inline std::vector<TestShape> ShapesOf(int type) {
  std::vector<TestShape> v = type % 10 == 1 && type != SHPT_MULTIPATCH ? PointShapes()
                             : type % 10 == 3                          ? PolyLineShapes()
                                                                       : PolygonShapes();
  for (TestShape& s : v) s.type = s.type == SHPT_NULL ? SHPT_NULL : type;
  return v;
}

/// Translation mode: shifts by (1000.5, -2000.25); the height shift is not
/// used by the shapefile driver.
inline void UseTranslation(Session& s) {
  s.settings.optSevPar = false;
  s.settings.optTranslation = true;
  s.settings.txtDX = "1000.5";
  s.settings.txtDY = "-2000.25";
  s.settings.txtDH = "7";
  s.Touch();
}

/// Seven-parameter mode with Bessel on both sides and no datum change.
inline void UseBesselOnBothSides(Session& s) {
  TransformSettings& t = s.settings;
  t.optSevPar = true;
  t.optTranslation = false;
  t.txtEll1a = t.txtEll2a = kBesselA;
  t.txtEll1e = t.txtEll2e = kBesselE;
  s.MeridianCoeffs = geotra::MeridianArcCoeffs(6377397.155, 0.0816968312225269);
  s.Touch();
}

/// From GK-Germ (meridian 15) to Krovak on Bessel.
inline void UseGkToKrovak(Session& s) {
  UseBesselOnBothSides(s);
  TransformSettings& t = s.settings;
  t.optInKrovak = false;
  t.optInGK = true;
  t.optOutGK = false;
  t.optOutKrovak = true;
  s.OptionValues[opt::kGKBM] = "15";
  s.Touch();
}

/// From Krovak to GK-Germ (meridian 15) on Bessel: the start-up projections.
inline void UseKrovakToGk(Session& s) {
  UseBesselOnBothSides(s);
  s.OptionValues[opt::kGKBM2] = "15";
  s.Touch();
}

/// An independent session with the settings of `s`, for computing the
/// expected coordinates point by point.
class Oracle {
 public:
  explicit Oracle(const Session& s) : session_(fe_, s.decimalSign()) {
    session_.settings = s.settings;
    session_.OptionValues = s.OptionValues;
    session_.MeridianCoeffs = s.MeridianCoeffs;
    session_.Touch();
  }
  Vertex operator()(double x, double y) {
    double h = 0;
    const PointResult r = TransformPoint(session_, x, y, h);
    return {r[0], r[1]};
  }

 private:
  RecordingFrontEnd fe_;
  Session session_;
};

/// The box expected for a record without vertices (or a file without any):
/// the transformed corners in order; an all-zero box, which marks "no
/// extent", stays zero.
inline std::vector<double> CornerBox(Oracle& oracle, double x0, double y0, double x1, double y1) {
  if (x0 == 0 && y0 == 0 && x1 == 0 && y1 == 0) return {0, 0, 0, 0};
  const Vertex a = oracle(x0, y0), b = oracle(x1, y1);
  return {std::min(a.first, b.first), std::min(a.second, b.second), std::max(a.first, b.first),
          std::max(a.second, b.second)};
}

/// Checks a finished job from `srcStem` to `dstStem` (paths without
/// extension) against an independent computation with the settings of
/// `session`: every vertex equals TransformPoint of its source vertex;
/// every box is the extent of its transformed vertices (CornerBox for
/// records without vertices and files without any); the index equals the
/// source index apart from the header box; every byte that is not a
/// coordinate is copied, bytes of no record stay zero; the .dbf is
/// byte-identical.
inline void ExpectTransformed(const std::string& srcStem, const std::string& dstStem,
                              const Session& session) {
  Oracle oracle(session);
  const ReadFile src = ReadShapefile(srcStem);
  const ReadFile dst = ReadShapefile(dstStem);
  ASSERT_TRUE(src.ok);
  ASSERT_TRUE(dst.ok) << "shapelib cannot read the target " << dstStem;
  EXPECT_EQ(dst.type, src.type);
  ASSERT_EQ(dst.shapes.size(), src.shapes.size());

  std::vector<double> allX, allY;
  for (std::size_t i = 0; i < src.shapes.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    const ReadShape& s = src.shapes[i];
    const ReadShape& d = dst.shapes[i];
    EXPECT_EQ(d.type, s.type);
    EXPECT_EQ(d.partStarts, s.partStarts);
    ASSERT_EQ(d.x.size(), s.x.size());
    for (std::size_t k = 0; k < s.x.size(); ++k) {
      const Vertex want = oracle(s.x[k], s.y[k]);
      EXPECT_EQ(d.x[k], want.first) << "vertex " << k;
      EXPECT_EQ(d.y[k], want.second) << "vertex " << k;
    }
    allX.insert(allX.end(), d.x.begin(), d.x.end());
    allY.insert(allY.end(), d.y.begin(), d.y.end());
    if (s.type == SHPT_NULL || s.type == SHPT_POINT) continue;
    const std::vector<double> box = {d.xmin, d.ymin, d.xmax, d.ymax};
    if (s.x.empty()) {
      EXPECT_EQ(box, CornerBox(oracle, s.xmin, s.ymin, s.xmax, s.ymax));
    } else {
      // The box is the extent of the vertices: each side touches one.
      const auto [x0, x1] = std::minmax_element(d.x.begin(), d.x.end());
      const auto [y0, y1] = std::minmax_element(d.y.begin(), d.y.end());
      EXPECT_EQ(box, (std::vector<double>{*x0, *y0, *x1, *y1}));
    }
  }

  std::vector<double> want;
  if (allX.empty()) {
    want = CornerBox(oracle, src.min[0], src.min[1], src.max[0], src.max[1]);
  } else {
    const auto [x0, x1] = std::minmax_element(allX.begin(), allX.end());
    const auto [y0, y1] = std::minmax_element(allY.begin(), allY.end());
    want = {*x0, *y0, *x1, *y1};
  }
  const std::string srcShp = ReadBytes(srcStem + ".shp"), dstShp = ReadBytes(dstStem + ".shp");
  const std::string srcShx = ReadBytes(srcStem + ".shx"), dstShx = ReadBytes(dstStem + ".shx");
  ASSERT_EQ(dstShx.size(), srcShx.size());
  ASSERT_EQ(dstShp.size(), srcShp.size());
  for (const std::string* header : {&dstShp, &dstShx}) {
    std::vector<double> box(4);
    std::memcpy(box.data(), header->data() + 36, 32);
    EXPECT_EQ(box, want) << "header box of the " << (header == &dstShp ? ".shp" : ".shx");
  }
  EXPECT_EQ(dstShx.substr(0, 36), srcShx.substr(0, 36));
  EXPECT_EQ(dstShx.substr(68), srcShx.substr(68)) << "index entries differ";

  // The main file by the index: coordinates and boxes ('c') transformed,
  // everything else of a record or the header ('k') copied, bytes of no
  // record ('u') zero.
  std::vector<char> role(srcShp.size(), 'u');
  const auto mark = [&](std::size_t from, std::size_t to, char r) {
    std::fill(role.begin() + from, role.begin() + to, r);
  };
  mark(0, 100, 'k');
  mark(36, 68, 'c');
  for (std::size_t e = 100; e + 8 <= srcShx.size(); e += 8) {
    const auto R = static_cast<std::size_t>(BigEndianAt(srcShx, e)) * 2;
    mark(R, R + 8 + static_cast<std::size_t>(BigEndianAt(srcShp, R + 4)) * 2, 'k');
    std::int32_t recType = 0, parts = 0, points = 0;
    std::memcpy(&recType, srcShp.data() + R + 8, 4);
    if (recType == 0) continue;
    if (src.type == SHPT_POINT) {
      mark(R + 12, R + 28, 'c');
      continue;
    }
    std::memcpy(&parts, srcShp.data() + R + 44, 4);
    std::memcpy(&points, srcShp.data() + R + 48, 4);
    mark(R + 12, R + 44, 'c');
    const std::size_t at = R + 52 + 4 * static_cast<std::size_t>(parts);
    mark(at, at + 16 * static_cast<std::size_t>(points), 'c');
  }
  std::size_t differing = 0, nonzero = 0;
  for (std::size_t b = 0; b < srcShp.size(); ++b) {
    differing += role[b] == 'k' && dstShp[b] != srcShp[b];
    nonzero += role[b] == 'u' && dstShp[b] != 0;
  }
  EXPECT_EQ(differing, 0u) << "bytes other than coordinates changed";
  EXPECT_EQ(nonzero, 0u) << "bytes of no record are not zero";

  EXPECT_TRUE(ReadBytes(dstStem + ".dbf") == ReadBytes(srcStem + ".dbf")) << ".dbf differs";
}

/// Test fixture: a temporary folder with source stem "quelle" and target
/// stem "ziel", a recording front end, and a session in translation mode
/// with the home locale's decimal comma.
class ShapefileFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    srcStem = dir.File("quelle");
    dstStem = dir.File("ziel");
    session.settings.txtQuelldatei = srcStem + ".shp";
    session.settings.txtZielDatei = dstStem + ".shp";
    UseTranslation(session);
  }

  /// The bytes of the three files of a shapefile.
  struct Files {
    std::string shp, shx, dbf;
    bool operator==(const Files&) const = default;
  };
  static Files Take(const std::string& stem) {
    return {ReadBytes(stem + ".shp"), ReadBytes(stem + ".shx"), ReadBytes(stem + ".dbf")};
  }
  /// Writes the .shp and .shx of `f` as the source.
  void WriteSource(const Files& f) const {
    WriteBytes(srcStem + ".shp", f.shp);
    WriteBytes(srcStem + ".shx", f.shx);
  }
  /// Byte position of record `i` (1-based) by the index.
  static std::size_t Record(const Files& f, int i) {
    const auto entry = 100 + 8 * static_cast<std::size_t>(i - 1);
    return 2 * static_cast<std::size_t>(BigEndianAt(f.shx, entry));
  }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }
  /// True when none of the three target files exists.
  bool TargetsGone() const {
    return !Exists(dstStem + ".shp") && !Exists(dstStem + ".shx") && !Exists(dstStem + ".dbf");
  }
  /// The log the driver writes for a source of this type, length and count;
  /// the type named in words where it is handled.
  static std::string ExpectedLog(int type, std::size_t shpBytes, std::size_t records) {
    const char* word = type == 1   ? " (Point)"
                       : type == 3 ? " (PolyLine)"
                       : type == 5 ? " (Polygon)"
                                   : "";
    return "shapetyp " + std::to_string(type) + word + "\r\nDateilänge in byte " +
           std::to_string(shpBytes) + "\r\nRecordAanzahl : " + std::to_string(records) + "\r\n";
  }

  TempFolder dir;
  ShapeFrontEnd fe;
  Session session{fe, ','};
  std::string srcStem, dstStem;
};

}  // namespace pelmo::test
