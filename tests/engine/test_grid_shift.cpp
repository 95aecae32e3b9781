// Grid datum shift: a two-level NTv2 file written here after the format's documentation, bilinear values worked out
// from its nodes; BeTA2007 against PROJ; points outside, files missing or cut off; seven parameters unchanged.
#include "geodesy/grid_shift.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

constexpr double kRad = 3.141592653589793 / 180;  // PROJ's radians per degree

// ------------------------------------------------------------ NTv2 writer

/// A grid of an NTv2 file: extent and spacing in degrees (east positive); the shifts ["] north and east at x, y degrees
/// from the south-west corner are c0 + c1 y + c2 x + c3 x x + c4 x y.
struct Level {
  const char *name, *parent;
  double south, north, west, east, inc;
  double lat[5], lon[5];
};
/// The two shifts ["] at a node, as the file stores them (floats).
std::array<float, 2> Node(const Level& g, double lat, double lon) {
  const double y = lat - g.south, x = lon - g.west;
  auto f = [&](const double* c) { return c[0] + c[1] * y + c[2] * x + (c[3] * x + c[4] * y) * x; };
  return {static_cast<float>(f(g.lat)), static_cast<float>(f(g.lon))};
}

/// A record of 16 bytes: an 8-character key (blank-padded), 8 bytes of value.
std::string Rec(const char* key, const void* value, std::size_t n) {
  std::string r = (key + std::string(8, ' ')).substr(0, 8) + std::string(8, '\0');
  std::memcpy(r.data() + 8, value, n);
  return r;
}
std::string Rec(const char* key, std::int32_t v) { return Rec(key, &v, 4); }
std::string Rec(const char* key, double v) { return Rec(key, &v, 8); }
std::string Rec(const char* key, const char* text) { return Rec(key, text, std::strlen(text)); }

/// An NTv2 file, little-endian: overview header, then for each grid its header and its nodes (rows from south to north,
/// each from east to west; longitudes and longitude shifts positive WEST), then the end record.
std::string Ntv2(const std::vector<Level>& levels) {
  std::string f = Rec("NUM_OREC", 11) + Rec("NUM_SREC", 11) + Rec("NUM_FILE", static_cast<std::int32_t>(levels.size())) +
                  Rec("GS_TYPE", "SECONDS") + Rec("VERSION", "NTv2.0") + Rec("SYSTEM_F", "TEST_F") + Rec("SYSTEM_T", "TEST_T") +
                  Rec("MAJOR_F", 6377397.155) + Rec("MINOR_F", 6356078.963) + Rec("MAJOR_T", 6378137.0) + Rec("MINOR_T", 6356752.314);
  for (const Level& g : levels) {
    const int rows = static_cast<int>(std::lround((g.north - g.south) / g.inc)) + 1;
    const int cols = static_cast<int>(std::lround((g.east - g.west) / g.inc)) + 1;
    f += Rec("SUB_NAME", g.name) + Rec("PARENT", g.parent) + Rec("CREATED", "") + Rec("UPDATED", "") +
         Rec("S_LAT", g.south * 3600) + Rec("N_LAT", g.north * 3600) + Rec("E_LONG", -g.east * 3600) +
         Rec("W_LONG", -g.west * 3600) + Rec("LAT_INC", g.inc * 3600) + Rec("LONG_INC", g.inc * 3600) + Rec("GS_COUNT", rows * cols);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        const auto [dLat, dLon] = Node(g, g.south + r * g.inc, g.east - c * g.inc);
        const float node[4] = {dLat, -dLon, 0.01f, 0.01f};
        f.append(reinterpret_cast<const char*>(node), sizeof node);
      }
    }
  }
  return f + Rec("END", 0.0);
}

/// The parent: 50-52 N, 6-9 E, 1 degree; a child of 0.25 degrees, 51-52 N, 7-8 E.
const std::vector<Level> kLevels = {
    {"PARENT", "NONE", 50, 52, 6, 9, 1, {1.5, 0.75, 0, -0.25, 0}, {-2, 0, 0.5, 0, 0.125}},
    {"CHILD", "PARENT", 51, 52, 7, 8, 0.25, {10, 0, 0, 0, 4}, {-7, -2, 0, 3, 0}},
};

/// The shift [deg] at a point by hand: bilinear between its cell's nodes.
std::array<double, 2> Bilinear(const Level& g, double lat, double lon) {
  const double x = (lon - g.west) / g.inc, y = (lat - g.south) / g.inc;
  const double i = std::floor(x), j = std::floor(y), fx = x - i, fy = y - j;
  std::array<double, 2> d{};
  for (int k = 0; k < 4; ++k) {
    const double w = (k % 2 ? fx : 1 - fx) * (k / 2 ? fy : 1 - fy);
    const auto n = Node(g, g.south + (j + k / 2) * g.inc, g.west + (i + k % 2) * g.inc);
    d = {d[0] + w * n[0] / 3600, d[1] + w * n[1] / 3600};
  }
  return d;
}

/// Ell to Ell, Bessel 1841 to GRS 1980, the DHDN set or a grid in `slot`.
void UseEll(Session& s, const std::string& grid = "", int slot = 1) {
  UseGkToUtmDhdn(s);
  s.settings.optInGK = s.settings.optOUTetrs = false;
  s.settings.optInBL = s.settings.optOutBL = true;
  if (!grid.empty()) s.grids[slot - 1].file = grid;
  for (std::string* f : s.settings.SevenParFields(1)) *f = grid.empty() ? *f : "0";
  s.Touch();
}

TEST(GridShift, TwoLevelNtv2GivesTheBilinearValueOfTheFinestGrid) {
  TempFolder dir;
  const std::string file = dir.File("two level.gsb");
  WriteBytes(file, Ntv2(kLevels));
  // Latitude, longitude, and the grid whose value the point takes.
  const struct { double lat, lon; int level; } points[] = {
      {50.25, 6.5, 0}, {50.7, 8.2, 0}, {51.9, 6.1, 0}, {51.3, 8.6, 0}, {51.3, 7.6, 1}, {51.9, 7.1, 1}, {51.55, 7.85, 1}};
  GridShift forward("two level.gsb", FindGridFile(file), false);
  GridShift inverse("two level.gsb", file, true);
  for (const auto& p : points) {
    SCOPED_TRACE(std::to_string(p.lat) + " N " + std::to_string(p.lon) + " E");
    const auto [dLat, dLon] = Bilinear(kLevels[p.level], p.lat, p.lon);
    double lon = p.lon * kRad, lat = p.lat * kRad;
    ASSERT_TRUE(forward.Apply(lon, lat));
    EXPECT_LT(std::hypot(lat / kRad - p.lat - dLat, lon / kRad - p.lon - dLon), 1e-10);
    ASSERT_TRUE(inverse.Apply(lon, lat));
    EXPECT_LT(std::hypot(lat / kRad - p.lat, lon / kRad - p.lon), 1e-10);
    // Through the chain, the grid in either slot (in slot 2 it reads on ellipsoid 1), the height unchanged.
    for (int slot : {1, 2}) {
      RecordingFrontEnd fe;
      Session s(fe);
      UseEll(s, file, slot);
      double first = p.lon, second = p.lat, h = 123.456;
      const PointResult r = TransformPoint(s, first, second, h);
      EXPECT_TRUE(std::hypot(r[0] - p.lon - dLon, r[1] - p.lat - dLat) < 1e-9 && std::fabs(r[2] - 123.456) < 1e-6) << slot;
    }
  }
}

TEST(GridShift, SevenParametersInBothSlotsAreTheRoutinesAlone) {
  RecordingFrontEnd fe;
  Session s(fe);
  UseEll(s);
  s.settings.txtP2_1 = "-12.5";
  s.Touch();
  auto w = geotra::BLHToXYZ(52.5 * geotra::kPi / 180, 13.5 * geotra::kPi / 180, 50, ParseNumber(kBesselA), ParseNumber(kBesselE));
  w = geotra::SevenParTrans(geotra::PrepareSevenParTrans(598.1, 73.7, 418.2, 6.7, 2.455, -0.045, -0.202), w[0], w[1], w[2]);
  w = geotra::SevenParTrans(geotra::PrepareSevenParTrans(-12.5, 0, 0, 0, 0, 0, 0), w[0], w[1], w[2]);
  w = geotra::XYZToBLH(w[0], w[1], w[2], 6378137, ParseNumber(kGrs80E));
  double first = 13.5, second = 52.5, h = 50;
  const PointResult r = TransformPoint(s, first, second, h);
  EXPECT_EQ((std::array{r[0], r[1], r[2]}), (std::array{w[1] * 180 / geotra::kPi, w[0] * 180 / geotra::kPi, w[2]}));  // bit for bit
}

// ------------------------------------------------------------ BeTA2007

/// DHDN GK zone 5 -> ETRS89 UTM 33 through BeTA2007 in PROJ (no zone prefix).
const char* kBetaPipeline = "+proj=pipeline +step +inv +proj=tmerc +lon_0=15 +x_0=5500000 +ellps=bessel "
                            "+step +proj=hgridshift +grids=BETA2007.gsb +step +proj=utm +zone=33 +ellps=GRS80";

TEST(GridShift, Beta2007JobAgreesWithProjAndStopsWhereItMust) {
  TempFolder dir;
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* gk = proj_create(ctx, "+proj=tmerc +lon_0=15 +x_0=5500000 +ellps=bessel");
  PJ* beta = proj_create(ctx, kBetaPipeline);
  ASSERT_TRUE(gk != nullptr && beta != nullptr) << "proj-data with BETA2007.gsb is needed";
  // Dresden, Goerlitz, Cottbus, Berlin, Usedom, Zittau; then Poznan (out).
  const double places[][2] = {{13.74, 51.05}, {14.99, 51.15}, {14.33, 51.76}, {13.40, 52.52}, {14.10, 53.95}, {14.80, 50.90}, {16.9, 52.4}};
  std::string text, inside;
  std::vector<std::array<double, 2>> expected;
  for (const auto& [lon, lat] : places) {
    inside = text;
    const PJ_COORD p = proj_trans(gk, PJ_FWD, proj_coord(lon * kRad, lat * kRad, 0, 0));
    text += FormatNumber(p.xy.x, '.') + " " + FormatNumber(p.xy.y, '.') + " 100\r\n";
    const PJ_COORD u = proj_trans(beta, PJ_FWD, proj_coord(p.xy.x, p.xy.y, 100, 0));
    expected.push_back({u.xy.x + 33e6, u.xy.y});
  }
  proj_destroy(beta), proj_destroy(gk), proj_context_destroy(ctx);
  expected.pop_back();
  const std::string bytes = ReadBytes(FindGridFile("BETA2007.gsb"));

  // Grid (written here when `bytes` is set), with the point outside, outcome, parts of the one message.
  const struct { const char* what; std::string grid, bytes; bool outside; JobOutcome outcome;
                 std::vector<std::string> message; } cases[] = {
      {"all inside, bare name", "BETA2007.gsb", "", false, JobOutcome::kDone, {}},
      {"last point outside", "BETA2007.gsb", "", true, JobOutcome::kFailed,
       {"Zeile 7", "Länge 16.9", "außerhalb des Gitters \"BETA2007.gsb\""}},
      {"cut off in its nodes", "cut.gsb", bytes.substr(0, bytes.size() * 2 / 3), false,
       JobOutcome::kRejected, {"cut.gsb\" kann nicht gelesen werden: ", "unvollständig"}},
      {"cut off in its header", "head.gsb", bytes.substr(0, 100), false, JobOutcome::kRejected,
       {"head.gsb\" kann nicht gelesen werden: File not found or invalid"}},
      {"missing", "none.gsb", "", false, JobOutcome::kRejected, {"\"none.gsb\" nicht gefunden"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingFrontEnd fe;
    Session s(fe);
    UseGkToUtmDhdn(s);  // its seven parameters stay in the fields
    TransformSettings& t = s.settings;
    t.optASCII = true, t.optSHP = false;
    t.txtQuelldatei = dir.File("in.txt"), t.txtZielDatei = dir.File("out.txt");
    s.grids[0].file = c.bytes.empty() ? c.grid : dir.File(c.grid);
    if (!c.bytes.empty()) WriteBytes(s.grids[0].file, c.bytes);
    WriteBytes(t.txtQuelldatei, c.outside ? text : inside);
    std::filesystem::remove(t.txtZielDatei);
    EXPECT_EQ(RunJob(s), c.outcome);
    EXPECT_EQ(fe.messages.size(), c.message.empty() ? 0u : 1u);
    for (const std::string& part : c.message) EXPECT_NE(fe.OnlyMessage().find(part), std::string::npos) << fe.OnlyMessage();
    const bool written = c.outcome != JobOutcome::kRejected;
    EXPECT_EQ(std::filesystem::exists(t.txtZielDatei), written);
    const auto lines = SplitCrLf(ReadBytes(t.txtZielDatei));
    ASSERT_EQ(lines.size(), written ? expected.size() : 0u);
    for (std::size_t i = 0; i < lines.size(); ++i) {  // to 1 mm
      double e = 0, n = 0;
      ASSERT_EQ(std::sscanf(lines[i].c_str(), "%lf %lf", &e, &n), 2) << lines[i];
      EXPECT_TRUE(std::abs(e - expected[i][0]) < 1e-3 && std::abs(n - expected[i][1]) < 1e-3)
          << lines[i] << " line " << i + 1;
    }
  }
}

}  // namespace
}  // namespace pelmo::test
