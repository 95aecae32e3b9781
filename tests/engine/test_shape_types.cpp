// Every shape type of the ESRI Shapefile Technical Description written by
// shapelib (Z, M with and without the optional M block, null records, a
// .cpg), read back with shapelib and checked against GDAL's ogr2ogr with the
// same transformation as a PROJ pipeline; the .prj as GDAL reads it; sidecars.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/drivers.hpp"
#include "formats/shapefile_format.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

/// Standard output of a shell command without surrounding blanks, line
/// ends and quotes.
std::string Shell(const std::string& cmd) {
  std::string out(1 << 16, '\0');
  FILE* p = ::popen(("(" + cmd + ") 2>/dev/null").c_str(), "r");
  out.resize(p != nullptr ? std::fread(out.data(), 1, out.size(), p) : 0);
  if (p != nullptr) ::pclose(p);
  const auto first = out.find_first_not_of(" \n'"), last = out.find_last_not_of(" \n'");
  return first == std::string::npos ? "" : out.substr(first, last - first + 1);
}

/// Writes stem.shp/.shx/.dbf/.cpg of `type` with shapelib. Records: two
/// closed rings (an outer one clockwise, a hole; Z rising from vertex to
/// vertex, M likewise with one "no data"), a null record, a record without
/// vertices (not for points), the rings 20 km east; a point record is their
/// first vertex. shapelib writes no M block into a MultiPatch: `withM` adds
/// one to its last record.
void WriteTyped(const std::string& stem, int type, bool withM) {
  static const double ring[10][2] = {{0, 0},     {0, 900},   {1200, 900}, {1200, 0},  {0, 0},
                                     {200, 200}, {600, 200}, {600, 600},  {200, 600}, {200, 200}};
  std::vector<double> x[2], y, z, m;
  for (int k = 0; k < 10; ++k) {
    const int step = k % 5 % 4 + 4 * (k / 5);  // the closing vertex repeats the first
    x[0].push_back(kCentreE + ring[k][0]);
    x[1].push_back(kCentreE + 20000 + ring[k][0]);
    y.push_back(kCentreN + ring[k][1]);
    z.push_back(100 + 12.5 * step);
    m.push_back(k == 2 ? -2e38 : 0.5 * step);
  }
  int starts[] = {0, 5}, partTypes[] = {SHPP_OUTERRING, SHPP_INNERRING};
  SHPHandle shp = SHPCreate(stem.c_str(), type);
  DBFHandle dbf = DBFCreate(stem.c_str());
  ASSERT_TRUE(shp != nullptr && dbf != nullptr);
  DBFAddField(dbf, "NAME", FTString, 20, 0);
  const bool point = type % 10 == 1 && type != SHPT_MULTIPATCH;
  for (const int kind : point ? std::vector<int>{1, 0, 2} : std::vector<int>{1, 0, 3, 2}) {
    const int n = kind == 0 || kind == 3 ? 0 : point ? 1 : 10;
    SHPObject* o =
        SHPCreateObject(kind == 0 ? SHPT_NULL : type, -1, n == 10 ? 2 : 0, starts,
                        type == SHPT_MULTIPATCH ? partTypes : nullptr, n, x[kind == 2].data(),
                        y.data(), z.data(), withM ? m.data() : nullptr);
    DBFWriteStringAttribute(dbf, SHPWriteObject(shp, -1, o), 0, "Grünstraße");
    SHPDestroyObject(o);
  }
  SHPClose(shp);
  DBFClose(dbf);
  WriteBytes(stem + ".cpg", "UTF-8");
  if (type != SHPT_MULTIPATCH || !withM) return;
  std::string s = ReadBytes(stem + ".shp"), i = ReadBytes(stem + ".shx");
  const auto R = static_cast<std::size_t>(2 * BigEndianAt(i, i.size() - 8));
  m.insert(m.begin(), {-2e38, 3.5});  // M range, then the values
  s.append(reinterpret_cast<const char*>(m.data()), 8 * m.size());
  PutBigEndian(s, R + 4, static_cast<std::int32_t>((s.size() - R - 8) / 2));
  PutBigEndian(i, i.size() - 4, static_cast<std::int32_t>((s.size() - R - 8) / 2));
  PutBigEndian(s, 24, static_cast<std::int32_t>(s.size() / 2));
  WriteBytes(stem + ".shp", s);
  WriteBytes(stem + ".shx", i);
}

/// All records of a shapefile as shapelib reads them, with the header.
struct Objects {
  std::vector<SHPObject*> list;
  double min[4] = {}, max[4] = {};
  explicit Objects(const std::string& stem) {
    SHPHandle h = SHPOpen(stem.c_str(), "rb");
    int count = 0, type = 0;
    if (h != nullptr) SHPGetInfo(h, &count, &type, min, max);
    for (int i = 0; i < count; ++i) list.push_back(SHPReadObject(h, i));
    if (h != nullptr) SHPClose(h);
  }
  ~Objects() {
    for (SHPObject* o : list) SHPDestroyObject(o);
  }
};

/// Runs ogr2ogr with `options` from `src` to dir/gdal.shp; the largest
/// difference in X or Y between `ours` and GDAL's result, vertex by vertex
/// (by equal Z where `byZ`: GDAL may turn rings of Z types around).
double WorstAgainstGdal(const std::string& options, const std::string& src, const Objects& ours,
                        const std::string& dir, bool byZ) {
  fs::remove(dir + "/gdal.shp");
  EXPECT_EQ(Shell("ogr2ogr " + options + " '" + dir + "/gdal.shp' '" + src + "' && echo ok"), "ok");
  const Objects g(dir + "/gdal");
  double worst = g.list.size() == ours.list.size() ? 0 : HUGE_VAL;
  for (std::size_t i = 0; i < g.list.size() && worst < HUGE_VAL; ++i) {
    const SHPObject *o = ours.list[i], *t = g.list[i];
    if (t->nVertices != o->nVertices) return HUGE_VAL;
    for (int k = 0; k < o->nVertices; ++k) {
      int j = k;
      for (int n = 0; byZ && t->padfZ[j] != o->padfZ[k] && n < o->nVertices; ++n) {
        j = (j + 1) % o->nVertices;
      }
      worst = std::max(
          {worst, std::abs(o->padfX[k] - t->padfX[j]), std::abs(o->padfY[k] - t->padfY[j])});
    }
  }
  return worst;
}

/// The DHDN pipeline of UseGkToUtmDhdn, heights kept (as the point chain
/// keeps them), and the translation of UseTranslation.
const char* const kDhdnPipeline =
    "+proj=pipeline +step +inv +proj=tmerc +lat_0=0 +lon_0=15 +k=1 +x_0=5500000 +y_0=0 "
    "+ellps=bessel +step +proj=push +v_3 +step +proj=cart +ellps=bessel +step +proj=helmert "
    "+x=598.1 +y=73.7 +z=418.2 +rx=-0.202 +ry=-0.045 +rz=2.455 +s=6.7 "
    "+convention=coordinate_frame +exact +step +inv +proj=cart +ellps=GRS80 +step +proj=pop +v_3 "
    "+step +proj=tmerc +lat_0=0 +lon_0=15 +k=0.9996 +x_0=33500000 +y_0=0 +ellps=GRS80";
const char* const kShiftPipeline = "+proj=affine +xoff=1000.5 +yoff=-2000.25 +zoff=7";

using ShapeTypes = ShapefileFixture;

// Each type without the M block in seven-parameter mode (DHDN to UTM), and
// with it (where the type has one) in translation mode. A .prj and spatial
// indexes left from before go, each with a log line (the .prj stays out of
// date in translation mode only).
TEST_F(ShapeTypes, EveryTypeAgreesWithGdal) {
  const std::pair<int, const char*> types[] = {
      {1, "Point"},      {3, "PolyLine"},   {5, "Polygon"},   {8, "MultiPoint"},
      {11, "PointZ"},    {13, "PolyLineZ"}, {15, "PolygonZ"}, {18, "MultiPointZ"},
      {21, "PointM"},    {23, "PolyLineM"}, {25, "PolygonM"}, {28, "MultiPointM"},
      {31, "MultiPatch"}};
  for (const auto& [type, name] : types) {
    for (const bool shifted : {false, true}) {
      if (type < 10 && shifted) continue;  // no M block to test
      SCOPED_TRACE(std::string(name) + (shifted ? " with M block, shifted" : ""));
      const bool hasZ = type == 11 || type == 13 || type == 15 || type == 18 || type == 31;
      std::string stale;
      for (const char* ext : {".prj", ".sbn", ".sbx", ".qix"}) {
        WriteBytes(dstStem + ext, "alt");
        if (shifted || ext[1] != 'p')
          stale += "veraltete Datei gelöscht: " + dstStem + ext + "\r\n";
      }
      WriteTyped(srcStem, type, shifted);
      if (type == SHPT_ARCZ) {  // a PolygonZ record passes in a PolyLineZ file
        Files f = Take(srcStem);
        PutLittleEndian(f.shp, Record(f, 1) + 8, SHPT_POLYGONZ);
        WriteSource(f);
      }
      shifted ? UseTranslation(session) : UseGkToUtmDhdn(session);
      fe = RecordingFrontEnd();
      fe.answers = {true, true, true};
      ASSERT_TRUE(TransformShapeFile(session)) << fe.OnlyMessage();
      const std::string& log = session.settings.txtDateien;
      EXPECT_EQ(log.substr(0, log.find('\r')),
                "shapetyp " + std::to_string(type) + " (" + name + ")");
      EXPECT_TRUE(log.ends_with("\r\n" + stale)) << log;
      EXPECT_EQ(ReadBytes(dstStem + ".cpg"), "UTF-8");
      EXPECT_EQ(ReadBytes(dstStem + ".prj").starts_with("PROJCS["), !shifted);
      EXPECT_FALSE(fs::exists(dstStem + ".sbn") || fs::exists(dstStem + ".qix"));
      const Objects S(srcStem), O(dstStem);
      ASSERT_EQ(O.list.size(), S.list.size());
      EXPECT_LE(
          WorstAgainstGdal(std::string("-ct '") + (shifted ? kShiftPipeline : kDhdnPipeline) + "'",
                           srcStem + ".shp", O, dir.path(), hasZ),
          0.001);
      // The record reader over the source reads what shapelib reads, Z and
      // M NaN where the record has none.
      shapefile::BinFile shp, shx;
      shp.SetPath(srcStem + ".shp");
      shx.SetPath(srcStem + ".shx");
      ASSERT_EQ(shp.OpenRead() + shx.OpenRead(), 0);
      shapefile::ShapeReader reader(shp, shx);
      reader.ReadHeaders();
      double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
      for (std::size_t i = 0; i < S.list.size(); ++i) {
        const SHPObject *s = S.list[i], *o = O.list[i];
        ASSERT_EQ(std::vector<int>({o->nSHPType, o->nVertices, o->nParts}),
                  std::vector<int>({s->nSHPType, s->nVertices, s->nParts}));
        const shapefile::RecordLayout r = reader.Record(static_cast<std::int64_t>(i) + 1);
        std::vector<shapefile::Vertex> vs;
        std::vector<shapefile::PartInfo> parts;
        reader.Vertices(r, 0, r.numPoints, vs);
        reader.Parts(r, parts);
        ASSERT_EQ(vs.size() + 100 * parts.size(), s->nVertices + 100 * s->nParts);
        for (int p = 0; p < s->nParts; ++p) {
          const int partType = type == SHPT_MULTIPATCH ? s->panPartType[p] : 0;
          EXPECT_EQ(std::vector<int>(
                        {o->panPartStart[p], o->panPartType[p], parts[p].start, parts[p].type}),
                    std::vector<int>(
                        {s->panPartStart[p], s->panPartType[p], s->panPartStart[p], partType}));
        }
        const auto n = static_cast<std::size_t>(s->nVertices);
        const double none = std::nan("");
        for (std::size_t k = 0; k < n; ++k) {
          const double z = hasZ ? s->padfZ[k] : none, m = s->bMeasureIsUsed ? s->padfM[k] : none;
          EXPECT_EQ(
              testing::PrintToString(std::vector<double>({vs[k].x, vs[k].y, vs[k].z, vs[k].m})),
              testing::PrintToString(std::vector<double>({s->padfX[k], s->padfY[k], z, m})));
          // Written: Z as the chain left the height, M copied ("no data" too).
          EXPECT_EQ(std::make_pair(o->padfZ[k], o->padfM[k]),
                    std::make_pair(hasZ ? s->padfZ[k] + (shifted ? 7 : 0) : 0, s->padfM[k]));
        }
        // Every box and range as shapelib computes it from the written
        // values: X, Y and Z from the vertices, M (copied) from the M values.
        const std::vector<double> box = {o->dfXMin, o->dfXMax, o->dfYMin, o->dfYMax,
                                         o->dfZMin, o->dfZMax, o->dfMMin, o->dfMMax};
        SHPComputeExtents(O.list[i]);
        EXPECT_EQ(box, std::vector<double>({o->dfXMin, o->dfXMax, o->dfYMin, o->dfYMax, o->dfZMin,
                                            o->dfZMax, o->dfMMin, o->dfMMax}));
        const double v[3][2] = {
            {o->dfXMin, o->dfXMax}, {o->dfYMin, o->dfYMax}, {o->dfZMin, o->dfZMax}};
        for (int d = 0; d < 3 && n > 0; ++d)
          lo[d] = std::min(lo[d], v[d][0]), hi[d] = std::max(hi[d], v[d][1]);
      }
      // The header: X/Y box and Z range from the written vertices, M copied.
      EXPECT_EQ(std::vector<double>({O.min[0], O.max[0], O.min[1], O.max[1], O.min[2], O.max[2],
                                     O.min[3], O.max[3]}),
                std::vector<double>({lo[0], hi[0], lo[1], hi[1], hasZ ? lo[2] : S.min[2],
                                     hasZ ? hi[2] : S.max[2], S.min[3], S.max[3]}));
    }
  }
}

// The .prj of each output projection: GDAL reads it, and GDAL, going from
// the source system (DHDN, as towgs84) into the system it read (ETRS89,
// towgs84 zero), lands within 1 mm of Pelmo. PROJ identifies a system when
// the ellipsoid carries a datum's name. The source .prj is not copied.
// Cancel deletes .prj and .cpg.
TEST_F(ShapeTypes, PrjThatGdalFollows) {
  const struct {
    const char* name;
    bool TransformSettings::*output;
    std::vector<std::pair<int, const char*>> options;
    bool bessel;                   // ellipsoid 2 Bessel, else GRS 1980
    const char *ellipsoid, *epsg;  // the name of ellipsoid 2, the system PROJ identifies
    double tolerance;              // metres; degrees for "Ell"
  } cases[] = {
      // clang-format off
      {"UTM zone 33 with prefix", &TransformSettings::optOUTetrs, {}, false, "GRS 1980", "", 1e-3},
      {"GK-Germ meridian 12", &TransformSettings::optOutGK, {{opt::kGKBM2, "12"}}, true,
       "Bessel 1841", "", 1e-3},
      {"GK-general as UTM 32 North", &TransformSettings::optOutGKallgemein,
       {{opt::kOUTmeridian, "9"}, {opt::kOUTscale, "0,9996"}, {opt::kOUTeasting, "500000"}}, false,
       "ETRS89", "EPSG:25832", 1e-3},
      // PROJ fixes the cone's pole at 59deg42'42.69689", this program at
      // 42.6968": 2.8 mm in the southing (test_geodesy.cpp).
      {"Krovak", &TransformSettings::optOutKrovak, {}, true, "", "", 4e-3},
      {"Ell", &TransformSettings::optOutBL, {}, false, "GRS 1980", "", 1e-8},
      // clang-format on
  };
  WriteTyped(srcStem, SHPT_MULTIPOINTZ, false);
  WriteBytes(srcStem + ".prj", "PROJCS[\"DHDN_3_Degree_Gauss_Zone_5\"]");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseGkToUtmDhdn(session);
    TransformSettings& t = session.settings;
    t.optOutGK = t.optOUTetrs = t.optOutGKallgemein = t.optOutKrovak = t.optOutBL = false;
    t.*c.output = true;
    for (const auto& [index, text] : c.options) session.OptionValues[index] = text;
    if (c.bessel) {
      t.txtEll2a = kBesselA;
      t.txtEll2e = kBesselE;
      session.MeridianCoeffs = geotra::MeridianArcCoeffs(6377397.155, 0.0816968312225269);
    }
    t.txtBezEll2 = c.ellipsoid;
    session.Touch();
    fe = RecordingFrontEnd();
    fe.answers = {true, true, true};
    ASSERT_TRUE(TransformShapeFile(session)) << fe.OnlyMessage();
    const std::string prj = ReadBytes(dstStem + ".prj");
    ASSERT_NE(prj, "");
    EXPECT_NE(prj, ReadBytes(srcStem + ".prj"));
    EXPECT_EQ(prj,
              *c.epsg == '\0' ? prj : Shell(std::string("projinfo -q -o WKT1_ESRI ") + c.epsg));
    EXPECT_EQ(Shell("ogrinfo -so -al '" + dstStem + ".shp' | grep -c 'Layer SRS WKT'"), "1");
    std::string target = Shell("gdalsrsinfo -o proj4 '" + dstStem + ".prj'");
    ASSERT_EQ(target.rfind("+proj=", 0), 0u) << target;
    target = target.substr(0, target.find(" +towgs84")) + " +towgs84=0,0,0";
    EXPECT_LE(WorstAgainstGdal("-s_srs '+proj=tmerc +lat_0=0 +lon_0=15 +k=1 +x_0=5500000 +y_0=0 "
                               "+ellps=bessel +towgs84=598.1,73.7,418.2,0.202,0.045,-2.455,6.7 "
                               "+units=m' -t_srs '" +
                                   target + "'",
                               srcStem + ".shp", Objects(dstStem), dir.path(), false),
              c.tolerance)
        << target;
  }
  // Cancel at the last point deletes .prj and .cpg with the other targets.
  const long passes = fe.eventPasses;
  fe = RecordingFrontEnd();
  fe.answers = {true, true, true};
  fe.onEvents = [&](long pass) { session.CancelRequested = pass == passes; };
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_TRUE(TargetsGone());
  EXPECT_FALSE(fs::exists(dstStem + ".prj") || fs::exists(dstStem + ".cpg"));
}

}  // namespace
}  // namespace pelmo::test
