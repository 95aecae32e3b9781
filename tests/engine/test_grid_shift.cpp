// Grid datum shift: a two-level NTv2 file written here after the format's
// documentation, with the bilinear values worked out from its nodes; the
// official grid BeTA2007 against PROJ pipelines; points outside, files
// missing or cut off; the properties file; seven parameters unchanged.
#include <gtest/gtest.h>
#include <proj.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"
#include "geodesy/grid_shift.hpp"
#include "geodesy/point_chain.hpp"
#include "job/job_start.hpp"
#include "job_setups.hpp"
#include "paramfiles/properties.hpp"
#include "test_support.hpp"

namespace pelmo {
namespace {

using test::ReadBytes;
using test::RecordingFrontEnd;
using test::SplitCrLf;
using test::TempFolder;
using test::WriteBytes;

constexpr double kRad = 3.141592653589793 / 180;  // PROJ's radians per degree

// ------------------------------------------------------------ NTv2 writer

/// A grid of an NTv2 file: extent and spacing in degrees (east positive),
/// shifts in arc seconds (dLat north, dLon east positive) at a node.
struct Level {
  const char *name, *parent;
  double south, north, west, east, inc;
  std::function<void(double lat, double lon, float& dLat, float& dLon)> shift;
};

/// A record of 16 bytes: an 8-character key and 8 bytes of value.
std::string Rec(const char* key, const void* value, std::size_t n) {
  std::string r(16, '\0');
  std::memcpy(r.data(), key, std::strlen(key));
  std::memset(r.data() + std::strlen(key), ' ', 8 - std::strlen(key));
  std::memcpy(r.data() + 8, value, n);
  return r;
}
std::string Rec(const char* key, std::int32_t v) { return Rec(key, &v, 4); }
std::string Rec(const char* key, double v) { return Rec(key, &v, 8); }
std::string Rec(const char* key, const char* text) { return Rec(key, text, std::strlen(text)); }

/// An NTv2 file, little-endian: overview header, then for each grid its
/// header and its nodes (rows from south to north, each from east to west;
/// longitudes and longitude shifts positive WEST), then the end record.
std::string Ntv2(const std::vector<Level>& levels) {
  std::string f = Rec("NUM_OREC", 11) + Rec("NUM_SREC", 11) +
                  Rec("NUM_FILE", static_cast<std::int32_t>(levels.size())) +
                  Rec("GS_TYPE", "SECONDS") + Rec("VERSION", "NTv2.0") + Rec("SYSTEM_F", "TEST_F") +
                  Rec("SYSTEM_T", "TEST_T") + Rec("MAJOR_F", 6378137.0) + Rec("MINOR_F", 6356752.314) +
                  Rec("MAJOR_T", 6378137.0) + Rec("MINOR_T", 6356752.314);
  for (const Level& g : levels) {
    const int rows = static_cast<int>(std::lround((g.north - g.south) / g.inc)) + 1;
    const int cols = static_cast<int>(std::lround((g.east - g.west) / g.inc)) + 1;
    f += Rec("SUB_NAME", g.name) + Rec("PARENT", g.parent) + Rec("CREATED", "") +
         Rec("UPDATED", "") + Rec("S_LAT", g.south * 3600) + Rec("N_LAT", g.north * 3600) +
         Rec("E_LONG", -g.east * 3600) + Rec("W_LONG", -g.west * 3600) +
         Rec("LAT_INC", g.inc * 3600) + Rec("LONG_INC", g.inc * 3600) +
         Rec("GS_COUNT", rows * cols);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        float node[4] = {0, 0, 0.01f, 0.01f};
        g.shift(g.south + r * g.inc, g.east - c * g.inc, node[0], node[1]);
        node[1] = -node[1];
        f.append(reinterpret_cast<const char*>(node), sizeof node);
      }
    }
  }
  return f + Rec("END", 0.0);
}

/// The parent: 50-52 N, 6-9 E, 1 degree; a finer grid of 0.25 degrees on
/// 51-52 N, 7-8 E with quite different shifts.
const std::vector<Level> kLevels = {
    {"PARENT", "NONE", 50, 52, 6, 9, 1,
     [](double lat, double lon, float& dLat, float& dLon) {
       dLat = static_cast<float>(1.5 + 0.75 * (lat - 50) - 0.25 * (lon - 6) * (lon - 6));
       dLon = static_cast<float>(-2.0 + 0.5 * (lon - 6) + 0.125 * (lat - 50) * (lon - 6));
     }},
    {"CHILD", "PARENT", 51, 52, 7, 8, 0.25,
     [](double lat, double lon, float& dLat, float& dLon) {
       dLat = static_cast<float>(10 + 4 * (lat - 51) * (lon - 7));
       dLon = static_cast<float>(-7 - 2 * (lat - 51) + 3 * (lon - 7) * (lon - 7));
     }},
};

/// The shift [deg] at a point by hand: bilinear between the four nodes of
/// its cell in grid `g`.
void Bilinear(const Level& g, double lat, double lon, double& dLat, double& dLon) {
  const double x = (lon - g.west) / g.inc, y = (lat - g.south) / g.inc;
  const double i = std::floor(x), j = std::floor(y), fx = x - i, fy = y - j;
  dLat = dLon = 0;
  for (int k = 0; k < 4; ++k) {
    const double wx = k % 2 ? fx : 1 - fx, wy = k / 2 ? fy : 1 - fy;
    float a = 0, b = 0;
    g.shift(g.south + (j + k / 2) * g.inc, g.west + (i + k % 2) * g.inc, a, b);
    dLat += wx * wy * a / 3600;
    dLon += wx * wy * b / 3600;
  }
}

/// Ell to Ell on one ellipsoid (GRS 1980), the grid in slot 1 or 2.
void UseEllGrid(Session& s, const std::string& file, int slot, bool inverse) {
  test::UseGkToUtmDhdn(s);
  TransformSettings& t = s.settings;
  t.optInGK = t.optOUTetrs = false;
  t.optInBL = t.optOutBL = true;
  t.txtEll1a = test::kGrs80A;
  t.txtEll1e = test::kGrs80E;
  s.grids[slot - 1] = {file, inverse};
  for (std::string* f : t.SevenParFields(1)) *f = "0";
  s.Touch();
}

TEST(GridShift, TwoLevelNtv2GivesTheBilinearValueOfTheFinestGrid) {
  TempFolder dir;
  const std::string file = dir.File("two level.gsb");
  WriteBytes(file, Ntv2(kLevels));
  const struct {
    double lat, lon;
    int level;  // the grid whose value the point takes
  } points[] = {{50.25, 6.5, 0}, {50.7, 8.2, 0}, {51.9, 6.1, 0}, {51.3, 8.6, 0},
                {51.3, 7.6, 1},  {51.9, 7.1, 1}, {51.55, 7.85, 1}};
  GridShift forward("two level.gsb", FindGridFile(file), false);
  GridShift inverse("two level.gsb", file, true);
  for (const auto& p : points) {
    SCOPED_TRACE(std::to_string(p.lat) + " N " + std::to_string(p.lon) + " E");
    double dLat = 0, dLon = 0;
    Bilinear(kLevels[p.level], p.lat, p.lon, dLat, dLon);
    double lon = p.lon * kRad, lat = p.lat * kRad;
    ASSERT_TRUE(forward.Apply(lon, lat));
    EXPECT_NEAR(lat / kRad, p.lat + dLat, 1e-10);
    EXPECT_NEAR(lon / kRad, p.lon + dLon, 1e-10);
    ASSERT_TRUE(inverse.Apply(lon, lat));
    EXPECT_NEAR(lat / kRad, p.lat, 1e-10);
    EXPECT_NEAR(lon / kRad, p.lon, 1e-10);
    // Through the chain, the grid in either slot, the height unchanged.
    for (int slot : {1, 2}) {
      RecordingFrontEnd fe;
      Session s(fe);
      UseEllGrid(s, file, slot, false);
      double first = p.lon, second = p.lat, h = 123.456;
      const PointResult r = TransformPoint(s, first, second, h);
      EXPECT_NEAR(r[0], p.lon + dLon, 1e-9) << "slot " << slot;
      EXPECT_NEAR(r[1], p.lat + dLat, 1e-9) << "slot " << slot;
      EXPECT_NEAR(r[2], 123.456, 1e-6) << "slot " << slot;
    }
  }
}

TEST(GridShift, SevenParametersInBothSlotsAreTheRoutinesAlone) {
  RecordingFrontEnd fe;
  Session s(fe);
  test::UseGkToUtmDhdn(s);
  s.settings.optInGK = s.settings.optOUTetrs = false;
  s.settings.optInBL = s.settings.optOutBL = true;
  s.settings.txtP2_1 = "-12.5";
  s.Touch();
  const auto p = geotra::PrepareSevenParTrans(598.1, 73.7, 418.2, 6.7, 2.455, -0.045, -0.202);
  const auto q = geotra::PrepareSevenParTrans(-12.5, 0, 0, 0, 0, 0, 0);
  for (const auto& [lon, lat] : {std::pair{13.5, 52.5}, {7.25, 47.75}}) {
    auto w = geotra::BLHToXYZ(lat * geotra::kPi / 180, lon * geotra::kPi / 180, 50,
                              ParseNumber(test::kBesselA), ParseNumber(test::kBesselE));
    w = geotra::SevenParTrans(p, w[0], w[1], w[2]);
    w = geotra::SevenParTrans(q, w[0], w[1], w[2]);
    w = geotra::XYZToBLH(w[0], w[1], w[2], 6378137, ParseNumber(test::kGrs80E));
    double first = lon, second = lat, h = 50;
    const PointResult r = TransformPoint(s, first, second, h);
    EXPECT_EQ(r[0], w[1] * 180 / geotra::kPi);  // bit for bit
    EXPECT_EQ(r[1], w[0] * 180 / geotra::kPi);
    EXPECT_EQ(r[2], w[2]);
  }
}

// ------------------------------------------------------------ BeTA2007

/// DHDN Gauss-Krueger zone 5 -> ETRS89 UTM 33 through BeTA2007, as PROJ
/// does it; easting without the zone prefix.
const char* kBetaPipeline =
    "+proj=pipeline +step +inv +proj=tmerc +lon_0=15 +x_0=5500000 +ellps=bessel "
    "+step +proj=hgridshift +grids=BETA2007.gsb +step +proj=utm +zone=33 +ellps=GRS80";

TEST(GridShift, Beta2007JobAgreesWithProjAndStopsWhereItMust) {
  TempFolder dir;
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* gk = proj_create(ctx, "+proj=tmerc +lon_0=15 +x_0=5500000 +ellps=bessel");
  PJ* beta = proj_create(ctx, kBetaPipeline);
  ASSERT_TRUE(gk != nullptr && beta != nullptr) << "proj-data with BETA2007.gsb is needed";
  // Dresden, Goerlitz, Cottbus, Berlin, Usedom, Zittau; then Poznan (out).
  const double places[][2] = {{13.74, 51.05}, {14.99, 51.15}, {14.33, 51.76},
                              {13.40, 52.52}, {14.10, 53.95}, {14.80, 50.90}, {16.9, 52.4}};
  std::string text;
  std::vector<std::array<double, 2>> expected;
  for (const auto& [lon, lat] : places) {
    const PJ_COORD p = proj_trans(gk, PJ_FWD, proj_coord(lon * kRad, lat * kRad, 0, 0));
    text += FormatNumber(p.xy.x, '.') + " " + FormatNumber(p.xy.y, '.') + " 100\r\n";
    const PJ_COORD u = proj_trans(beta, PJ_FWD, proj_coord(p.xy.x, p.xy.y, 100, 0));
    expected.push_back({u.xy.x + 33e6, u.xy.y});
  }
  proj_destroy(beta);
  proj_destroy(gk);
  proj_context_destroy(ctx);
  const std::string inside = text.substr(0, text.rfind("\r\n", text.size() - 3) + 2);
  const std::string beta2007 = FindGridFile("BETA2007.gsb"), bytes = ReadBytes(beta2007);

  const struct {
    const char* what;
    std::string grid, source;  // grid file (written when `gridBytes` is set), points
    std::string gridBytes;
    JobOutcome outcome;
    std::vector<std::string> message;  // parts of the one message
    std::size_t lines;                 // lines of the target
  } cases[] = {
      {"all inside, bare name", "BETA2007.gsb", inside, "", JobOutcome::kDone, {}, 6},
      {"last point outside", "BETA2007.gsb", text, "", JobOutcome::kFailed,
       {"Zeile 7", "Länge 16.9", "außerhalb des Gitters \"BETA2007.gsb\""}, 6},
      {"cut off in its nodes", "cut.gsb", inside, bytes.substr(0, bytes.size() * 2 / 3),
       JobOutcome::kRejected, {"cut.gsb\" kann nicht gelesen werden: ", "unvollständig"}, 0},
      {"cut off in its header", "head.gsb", inside, bytes.substr(0, 100), JobOutcome::kRejected,
       {"head.gsb\" kann nicht gelesen werden: File not found or invalid"}, 0},
      {"missing", "none.gsb", inside, "", JobOutcome::kRejected,
       {"\"none.gsb\" nicht gefunden"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.gridBytes.empty()) WriteBytes(dir.File(c.grid), c.gridBytes);
    RecordingFrontEnd fe;
    Session s(fe);
    test::UseGkToUtmDhdn(s);  // its seven parameters stay in the fields
    s.settings.optASCII = true;
    s.settings.optSHP = false;
    s.settings.txtQuelldatei = dir.File("in.txt");
    s.settings.txtZielDatei = dir.File("out.txt");
    s.grids[0].file = c.gridBytes.empty() ? c.grid : dir.File(c.grid);
    WriteBytes(s.settings.txtQuelldatei, c.source);
    std::filesystem::remove(s.settings.txtZielDatei);
    EXPECT_EQ(RunJob(s), c.outcome);
    EXPECT_EQ(fe.messages.size(), c.message.empty() ? 0u : 1u);
    for (const std::string& part : c.message) {
      EXPECT_NE(fe.OnlyMessage().find(part), std::string::npos) << fe.OnlyMessage();
    }
    const auto lines = SplitCrLf(ReadBytes(s.settings.txtZielDatei));
    ASSERT_EQ(lines.size(), c.lines);
    EXPECT_EQ(std::filesystem::exists(s.settings.txtZielDatei), c.lines > 0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      double e = 0, n = 0;
      ASSERT_EQ(std::sscanf(lines[i].c_str(), "%lf %lf", &e, &n), 2) << lines[i];
      EXPECT_NEAR(e, expected[i][0], 1e-3) << "line " << i + 1;
      EXPECT_NEAR(n, expected[i][1], 1e-3) << "line " << i + 1;
    }
    if (c.outcome != JobOutcome::kDone) continue;
    // Back with the batch tool: the grid found by its name, inverse.
    const std::string data = std::string(PELMO_SOURCE_DIR) + "/data/";
    const std::string back = dir.File("back.txt");
    const std::string cmd = std::string(PELMO_CLI_PATH) + " --quiet --in UTM --out GK-Germ --ell1 '" +
                            data + "GRS_1980.ell' --ell2 '" + data + "Bessel_1841.ell' " +
                            "--grid2 BETA2007.gsb --inverse2 '" + s.settings.txtZielDatei +
                            "' '" + back + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const auto in = SplitCrLf(c.source), out = SplitCrLf(ReadBytes(back));
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
      double e0 = 0, n0 = 0, e1 = 0, n1 = 0;
      std::sscanf(in[i].c_str(), "%lf %lf", &e0, &n0);
      std::sscanf(out[i].c_str(), "%lf %lf", &e1, &n1);
      EXPECT_NEAR(e1, e0, 1e-3) << out[i];
      EXPECT_NEAR(n1, n0, 1e-3) << out[i];
    }
  }
}

TEST(GridShift, PropertiesFileKeepsTheNameWithSevenZerosAndLoadsSevenParameters) {
  TempFolder dir;
  RecordingFrontEnd fe;
  Session s(fe);
  test::UseGkToUtmDhdn(s);
  s.grids[0] = {"BETA2007.gsb", true};
  s.settings.txtsevenParSys = "BETA2007.gsb";
  SaveProperties(dir.File("job.par"), s, s.OptionValues);
  const auto lines = SplitCrLf(ReadBytes(dir.File("job.par")));
  ASSERT_EQ(lines.size(), 64u);
  EXPECT_EQ(lines[30], "\"BETA2007.gsb\"");
  for (int i = 31; i < 38; ++i) EXPECT_EQ(lines[i], "\"0\"") << "line " << i + 1;
  EXPECT_EQ(s.settings.txtP1, "598.1");  // the session keeps its fields
  EXPECT_NE(fe.log.find("Gitter \"BETA2007.gsb\""), std::string::npos) << fe.log;
  OptionTable dialog = s.OptionValues;
  LoadProperties(dir.File("job.par"), s, dialog);
  EXPECT_FALSE(s.grids[0].active());
  EXPECT_FALSE(s.grids[0].inverse);
  EXPECT_EQ(s.settings.txtP1, "0");
}

}  // namespace
}  // namespace pelmo
