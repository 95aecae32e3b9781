// The point chain: translation mode, and the seven-parameter chain through
// every input and output projection, checked by round trips on one
// ellipsoid and against PROJ pipelines with real datum changes.
#include <gtest/gtest.h>
#include <proj.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "core/numtext.hpp"
#include "core/settings.hpp"
#include "geodesy/geodesy.hpp"
#include "geodesy/point_chain.hpp"
#include "test_support.hpp"

namespace pelmo {
namespace {

using test::RecordingFrontEnd;

/// An ellipsoid as the fields hold it; Proj() spells the same numbers for PROJ.
struct Ell {
  const char* a;
  const char* e;
  std::string Proj() const { return std::string(" +a=") + a + " +e=" + e; }
};
const Ell kBessel{"6377397.155", "0.0816968312225275"};
const Ell kGRS80{"6378137", "0.0818191910428158"};
const Ell kKrassowsky{"6378245", "0.0818133340169312"};
const Ell kHayford{"6378388", "0.0819918899790298"};

/// A seven-parameter set in this program's order: dX, dY, dZ [m], m [ppm],
/// gamma (about Z), beta (about Y), alpha (about X) [arc seconds].
using ParSet = std::array<double, 7>;
const ParSet kZero{};
const ParSet kDhdnToEtrs{598.1, 73.7, 418.2, 6.7, 2.455, -0.045, -0.202};           // EPSG 1776
const ParSet kSjtskToEtrs{570.8, 85.7, 462.8, 3.56, -5.261, -1.587, -4.998};        // EPSG 1622
const ParSet kPulkovoToEtrs{24.9, -126.4, -93.2, 1.01, 0.041, 0.247, 0.063};        // EPSG 1775
const ParSet kMgiToEtrs{577.326, 90.129, 463.919, 2.4232, -5.297, -1.474, -5.137};  // EPSG 1619

ParSet Reverse(ParSet p) {
  for (double& v : p) v = -v;
  return p;
}

// Pieces of PROJ pipelines. The helmert step takes rotations x, y, z as
// alpha, beta, gamma, the scale in ppm, coordinate-frame rotation like ours.
std::string Helmert(const ParSet& p) {
  auto f = [](double v) { return FormatShortest(v); };
  return " +step +proj=helmert +x=" + f(p[0]) + " +y=" + f(p[1]) + " +z=" + f(p[2]) +
         " +s=" + f(p[3]) + " +rz=" + f(p[4]) + " +ry=" + f(p[5]) + " +rx=" + f(p[6]) +
         " +convention=coordinate_frame +exact";
}
std::string Cart(const Ell& e) { return " +step +proj=cart" + e.Proj(); }
std::string InvCart(const Ell& e) { return " +step +inv +proj=cart" + e.Proj(); }
std::string Krovak(const Ell& e) { return " +proj=krovak" + e.Proj(); }

enum class Proj { kGKGerm, kGKGeneral, kUTM, kKrovak, kEll };
const char* const kProjNames[] = {"GK-Germ", "GK-general", "UTM", "Krovak", "Ell"};
const char* Name(Proj p) { return kProjNames[static_cast<int>(p)]; }

using Options = std::vector<std::pair<int, std::string>>;

/// A session in seven-parameter mode, set up as the main window and the
/// options dialog would, with what the job start does before the first
/// point (meridian-arc coefficients of ellipsoid 2, a new revision).
struct Chain {
  RecordingFrontEnd fe;
  Session s{fe, '.'};

  Chain(Proj in, Proj out, const Ell& e1, const Ell& e2, const ParSet& p = kZero,
        const ParSet& q = kZero, const Options& options = {}) {
    TransformSettings& t = s.settings;
    t.optSevPar = true;
    t.optTranslation = false;
    // In the order of enum Proj.
    bool* const ins[] = {&t.optInGK, &t.optINGKallgemein, &t.optINetrs, &t.optInKrovak, &t.optInBL};
    bool* const outs[] = {&t.optOutGK, &t.optOutGKallgemein, &t.optOUTetrs, &t.optOutKrovak,
                          &t.optOutBL};
    for (int i = 0; i < 5; ++i) {
      *ins[i] = i == static_cast<int>(in);
      *outs[i] = i == static_cast<int>(out);
    }
    t.txtEll1a = e1.a, t.txtEll1e = e1.e, t.txtEll2a = e2.a, t.txtEll2e = e2.e;
    const auto f1 = t.SevenParFields(1), f2 = t.SevenParFields(2);
    for (std::size_t i = 0; i < 7; ++i) {
      *f1[i] = FormatNumber(p[i], '.');
      *f2[i] = FormatNumber(q[i], '.');
    }
    for (const auto& [index, text] : options) s.OptionValues[index] = text;
    Prepare();
  }
  void Option(int index, const std::string& text) {
    s.OptionValues[index] = text;
    Prepare();
  }
  void Prepare() {
    s.MeridianCoeffs = geotra::MeridianArcCoeffs(ParseNumber(s.settings.txtEll2a),
                                                 ParseNumber(s.settings.txtEll2e));
    s.Touch();
  }
  PointResult Run(double first, double second, double height = 0) {
    return TransformPoint(s, first, second, height);
  }
};

/// A PROJ pipeline from its definition.
class ProjPipeline {
 public:
  explicit ProjPipeline(const std::string& definition)
      : ctx_(proj_context_create(), proj_context_destroy),
        pj_(proj_create(ctx_.get(), definition.c_str()), proj_destroy) {}
  bool ok() const { return pj_ != nullptr; }
  /// Transforms one point; angles in radians as PROJ takes them.
  std::array<double, 3> operator()(double x, double y, double z) const {
    const PJ_COORD out = proj_trans(pj_.get(), PJ_FWD, proj_coord(x, y, z, 0));
    return {out.xyz.x, out.xyz.y, out.xyz.z};
  }

 private:
  std::unique_ptr<PJ_CONTEXT, decltype(&proj_context_destroy)> ctx_;
  std::unique_ptr<PJ, decltype(&proj_destroy)> pj_;
};

constexpr double kDeg = 3.141592653589793 / 180;
/// Metres per degree of latitude, roughly.
constexpr double kMetresPerDegree = 111000;
/// Our Krovak takes the latitude of the cone's pole as 59deg42'42.6968",
/// PROJ as 59deg42'42.69689"; the difference moves plane coordinates by up
/// to about 3 mm, so Krovak results are compared with PROJ to 5 mm.
constexpr double kKrovakVsProj = 5e-3;
constexpr double kKrovakVsProjDeg = kKrovakVsProj / kMetresPerDegree;
/// Error of the footpoint series of GKToBL (it stops at n^3), about
/// 0.15 mm on the ground, as an angle.
constexpr double kFootpointDeg = 3e-9;

// ============================================================ translation

TEST(TransformPoint, TranslationShiftsAllThreeValuesWhateverTheProjections) {
  RecordingFrontEnd fe;
  Session s(fe, ',');
  TransformSettings& t = s.settings;
  t.optSevPar = false;
  t.optTranslation = true;
  t.txtDX = "10", t.txtDY = "-20,5", t.txtDH = "1.25";
  // Projections and ellipsoids play no part: leave nonsense in them.
  t.optOutGK = true;
  t.txtEll1a = "abc";
  t.txtEll2e = "0";
  s.OptionValues[opt::kGKBM] = "x";
  s.Touch();
  double first = 3500000.5, second = 5800000, height = 100;
  const PointResult r = TransformPoint(s, first, second, height);
  ASSERT_EQ(r.size, 3u);
  EXPECT_EQ(r[0], 3500010.5);
  EXPECT_EQ(r[1], 5799979.5);
  EXPECT_EQ(r[2], 101.25);
  EXPECT_EQ(height, 101.25) << "the ASCII driver writes the height variable";
  EXPECT_EQ(fe.eventPasses, 1);
}

TEST(TransformPoint, UnreadableShiftOrOverflowFailsAtThePoint) {
  RecordingFrontEnd fe;
  Session s(fe);
  s.settings.optSevPar = false;
  s.settings.optTranslation = true;
  for (const auto& [dx, dy, first, number] :
       {std::tuple{"0", "1.000,5", 1.0, errnum::kTypeMismatch},
        std::tuple{"1.5e308", "0", 1.5e308, errnum::kOverflow}}) {
    s.settings.txtDX = dx, s.settings.txtDY = dy;
    s.Touch();
    double a = first, b = 2, h = 3;
    try {
      (void)TransformPoint(s, a, b, h);
      ADD_FAILURE() << "no error";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), number);
    }
  }
  EXPECT_EQ(fe.eventPasses, 0) << "no event pass after a failed point";
}

// The options dialog stays usable during a run: a change takes effect from
// the next point, whether it comes between points or from the event pass.
TEST(TransformPoint, ChangedSettingsTakeEffectFromTheNextPoint) {
  RecordingFrontEnd fe;
  Session s(fe);
  s.settings.optSevPar = false;
  s.settings.optTranslation = true;
  s.settings.txtDX = "1";
  s.Touch();
  double a = 0, b = 0, h = 0;
  EXPECT_EQ(TransformPoint(s, a, b, h)[0], 1);
  s.settings.txtDX = "2";
  s.Touch();
  a = 0;
  EXPECT_EQ(TransformPoint(s, a, b, h)[0], 2);
  // Switching the datum mode between two points.
  TransformSettings& t = s.settings;
  t.optTranslation = t.optInKrovak = t.optOutGK = false;
  t.optSevPar = t.optInBL = t.optOutBL = true;
  t.txtEll1a = t.txtEll2a = kGRS80.a;
  t.txtEll1e = t.txtEll2e = kGRS80.e;
  s.Touch();
  a = 10, b = 50, h = 7;
  const PointResult r = TransformPoint(s, a, b, h);
  EXPECT_NEAR(r[0], 10, 1e-9);
  EXPECT_NEAR(r[1], 50, 1e-9);

  // A new output meridian applied from the event pass after the first point.
  Chain ch(Proj::kEll, Proj::kGKGerm, kBessel, kBessel, kZero, kZero, {{opt::kGKBM2, "15"}});
  ch.fe.onEvents = [&](long pass) {
    if (pass == 1) ch.Option(opt::kGKBM2, "9");
  };
  EXPECT_NEAR(ch.Run(15, 50)[0], 5500000, 1e-6);
  EXPECT_NEAR(ch.Run(9, 50)[0], 3500000, 1e-6);
}

// ============================================================ round trips

/// Ell -> X -> Ell on one ellipsoid with zero sets, for every projection:
/// the series and the iterations bring every point back.
TEST(SevenParChain, RoundTripThroughEveryProjectionOnOneEllipsoid) {
  const struct {
    Proj proj;
    Ell ell;
    double lon0, lon1, lat0, lat1;
    double tolerance;  // metres on the ground
  } cases[] = {
      {Proj::kGKGerm, kBessel, 13.5, 16.5, 47, 55, 3e-4},
      {Proj::kUTM, kGRS80, 12, 18, 46, 56, 1e-2},
      {Proj::kGKGeneral, kHayford, 12, 15, -40, 10, 5e-4},
      {Proj::kKrovak, kBessel, 12, 19, 48.5, 51.2, 1e-6},
      {Proj::kEll, kGRS80, -179.5, 179.5, -89, 89, 1e-6},
  };
  const Options options = {{opt::kUTMBM, "15"},          {opt::kUTMBM2, "15"},
                           {opt::kINmeridian, "13.5"},   {opt::kOUTmeridian, "13.5"},
                           {opt::kINeasting, "250000"},  {opt::kOUTeasting, "250000"},
                           {opt::kINnorthing, "10000000"}, {opt::kOUTnorthing, "10000000"},
                           {opt::kINscale, "0.9999"},    {opt::kOUTscale, "0.9999"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Name(c.proj));
    Chain to(Proj::kEll, c.proj, c.ell, c.ell, kZero, kZero, options);
    Chain back(c.proj, Proj::kEll, c.ell, c.ell, kZero, kZero, options);
    const bool ell = c.proj == Proj::kEll;
    const double height = 300;
    double worst = 0;
    for (int i = 0; i <= 6; ++i) {
      for (int j = 0; j <= 6; ++j) {
        const double lon = c.lon0 + (c.lon1 - c.lon0) * i / 6;
        const double lat = c.lat0 + (c.lat1 - c.lat0) * j / 6;
        const PointResult p = to.Run(lon, lat, height);
        ASSERT_EQ(p.size, ell ? 3u : 2u);
        const PointResult g = back.Run(p[0], p[1], ell ? p[2] : 0);
        ASSERT_EQ(g.size, 3u);
        const double d = std::hypot((g[1] - lat) * kMetresPerDegree,
                                    (g[0] - lon) * kMetresPerDegree * std::cos(lat * kDeg));
        worst = std::max(worst, d);
        EXPECT_LT(d, c.tolerance) << lon << " " << lat;
        EXPECT_NEAR(g[2], ell ? height : 0, 1e-6);
      }
    }
    RecordProperty(std::string("worst_m_") + Name(c.proj), std::to_string(worst));
  }
}

// ============================================================ against PROJ

std::vector<std::array<double, 3>> Grid(double x0, double x1, double y0, double y1, double h) {
  std::vector<std::array<double, 3>> pts;
  for (int i = 0; i <= 4; ++i) {
    for (int j = 0; j <= 4; ++j) pts.push_back({x0 + (x1 - x0) * i / 4, y0 + (y1 - y0) * j / 4, h});
  }
  return pts;
}

// PROJ's default krovak works with (-westing, -southing), the order and
// signs of our Krovak values; it gets height 0 for a Krovak point because
// the chain ignores the height of one. Ell values are degrees here and
// radians in PROJ; the zone number in the millions of a UTM easting is ours.
TEST(SevenParChain, AgreesWithProjPipelinesThroughRealDatumChanges) {
  const struct {
    const char* what;
    Proj in, out;
    Ell ell1, ell2;
    ParSet set1, set2;
    Options options;
    std::string pipeline;
    std::vector<std::array<double, 3>> points;
    double inOffset, outOffset;  // zone prefixes of the easting
    double tolerance;            // plane metres or Ell degrees
    double heightTolerance;      // Ell output
  } cases[] = {
      {"GK-Germ Bessel, DHDN to ETRS89, UTM 33 GRS80", Proj::kGKGerm, Proj::kUTM, kBessel, kGRS80,
       kDhdnToEtrs, kZero, {{opt::kGKBM, "15"}, {opt::kUTMBM2, "15"}, {opt::kUTMma2, "0.9996"}},
       " +step +inv +proj=tmerc +lon_0=15 +k=1 +x_0=5500000" + kBessel.Proj() + Cart(kBessel) +
           Helmert(kDhdnToEtrs) + InvCart(kGRS80) + " +step +proj=utm +zone=33" + kGRS80.Proj(),
       Grid(5400000, 5600000, 5250000, 6050000, 150), 0, 33e6, 1e-3, 0},
      // Through the second set this time; the scale in a decimal comma.
      {"UTM 32 GRS80, reverse DHDN, GK-Germ Bessel", Proj::kUTM, Proj::kGKGerm, kGRS80, kBessel,
       kZero, Reverse(kDhdnToEtrs),
       {{opt::kUTMBM, "9"}, {opt::kUTMma, "0,9996"}, {opt::kGKBM2, "9"}},
       " +step +inv +proj=utm +zone=32" + kGRS80.Proj() + Cart(kGRS80) +
           Helmert(Reverse(kDhdnToEtrs)) + InvCart(kBessel) +
           " +step +proj=tmerc +lon_0=9 +k=1 +x_0=3500000" + kBessel.Proj(),
       Grid(32400000, 32600000, 5300000, 6050000, 80), 32e6, 0, 1e-3, 0},
      // Free meridians, scales and false origins on both sides.
      {"GK-general Krassowsky, Pulkovo to ETRS89 to MGI, GK-general Bessel", Proj::kGKGeneral,
       Proj::kGKGeneral, kKrassowsky, kBessel, kPulkovoToEtrs, Reverse(kMgiToEtrs),
       {{opt::kINmeridian, "16.5"}, {opt::kINeasting, "250000"}, {opt::kINnorthing, "-1000"},
        {opt::kINscale, "0.9999"}, {opt::kOUTmeridian, "16"}, {opt::kOUTeasting, "750000"},
        {opt::kOUTnorthing, "100"}, {opt::kOUTscale, "0.9998"}},
       " +step +inv +proj=tmerc +lon_0=16.5 +k=0.9999 +x_0=250000 +y_0=-1000" +
           kKrassowsky.Proj() + Cart(kKrassowsky) + Helmert(kPulkovoToEtrs) +
           Helmert(Reverse(kMgiToEtrs)) + InvCart(kBessel) +
           " +step +proj=tmerc +lon_0=16 +k=0.9998 +x_0=750000 +y_0=100" + kBessel.Proj(),
       Grid(160000, 340000, 5200000, 5450000, 300), 0, 0, 1e-3, 0},
      {"Krovak Bessel, S-JTSK to ETRS89, UTM 33 GRS80", Proj::kKrovak, Proj::kUTM, kBessel, kGRS80,
       kSjtskToEtrs, kZero, {},
       " +step +inv" + Krovak(kBessel) + Cart(kBessel) + Helmert(kSjtskToEtrs) +
           InvCart(kGRS80) + " +step +proj=utm +zone=33" + kGRS80.Proj(),
       Grid(-880000, -440000, -1230000, -940000, 500), 0, 33e6, kKrovakVsProj, 0},
      {"Ell GRS80, reverse S-JTSK, Krovak Bessel", Proj::kEll, Proj::kKrovak, kGRS80, kBessel,
       Reverse(kSjtskToEtrs), kZero, {},
       Cart(kGRS80) + Helmert(Reverse(kSjtskToEtrs)) + InvCart(kBessel) + " +step" +
           Krovak(kBessel),
       Grid(12.2, 18.9, 48.6, 51.1, 250), 0, 0, kKrovakVsProj, 0},
      {"Ell Bessel, DHDN to ETRS89, Ell GRS80", Proj::kEll, Proj::kEll, kBessel, kGRS80,
       kDhdnToEtrs, kZero, {}, Cart(kBessel) + Helmert(kDhdnToEtrs) + InvCart(kGRS80),
       {{6.1, 47.3, 0}, {13.4, 52.5, 34.5}, {9.99, 53.55, -3}, {11.58, 48.14, 2962}}, 0, 0, 1e-9,
       1e-4},
      // The height of a Krovak point is ignored: both heights give PROJ's
      // height of the point at height 0 on ellipsoid 1.
      {"Krovak Bessel, S-JTSK to ETRS89, Ell GRS80", Proj::kKrovak, Proj::kEll, kBessel, kGRS80,
       kSjtskToEtrs, kZero, {},
       " +step +inv" + Krovak(kBessel) + Cart(kBessel) + Helmert(kSjtskToEtrs) + InvCart(kGRS80),
       {{-600000, -1100000, 0}, {-600000, -1100000, 1000}}, 0, 0, kKrovakVsProjDeg, 1e-3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Chain ch(c.in, c.out, c.ell1, c.ell2, c.set1, c.set2, c.options);
    const ProjPipeline pj("+proj=pipeline" + c.pipeline);
    ASSERT_TRUE(pj.ok()) << c.pipeline;
    const double inScale = c.in == Proj::kEll ? kDeg : 1;
    const double outScale = c.out == Proj::kEll ? kDeg : 1;
    double worst = 0;
    for (const auto& p : c.points) {
      const auto q = pj((p[0] - c.inOffset) * inScale, p[1] * inScale,
                        c.in == Proj::kKrovak ? 0 : p[2]);
      const std::array<double, 2> expected = {q[0] / outScale + c.outOffset, q[1] / outScale};
      double first = p[0], second = p[1], height = p[2];
      const PointResult r = TransformPoint(ch.s, first, second, height);
      ASSERT_EQ(r.size, c.out == Proj::kEll ? 3u : 2u);
      for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(r[i], expected[i], c.tolerance) << "value " << i << " of " << p[0] << " "
                                                    << p[1];
        worst = std::max(worst, std::fabs(r[i] - expected[i]));
      }
      if (c.out == Proj::kEll) {
        EXPECT_NEAR(r[2], q[2], c.heightTolerance) << p[2];
      }
      EXPECT_EQ(height, p[2]) << "the height variable changes only in translation mode";
    }
    RecordProperty(std::string("worst_") + Name(c.in) + "_" + Name(c.out), std::to_string(worst));
  }
}

// ============================================================ edge cases

TEST(SevenParChain, PrefixesComeFromTheConfiguredMeridianOnly) {
  Chain ch(Proj::kGKGerm, Proj::kEll, kBessel, kBessel, kZero, kZero, {{opt::kGKBM, "12"}});
  // On the central meridian the easting is exactly the prefix.
  EXPECT_NEAR(ch.Run(4500000, 5500000)[0], 12, 1e-12);
  // An easting of zone 5 read with the meridian of zone 4 is not corrected:
  // the prefix in the millions is never read, so 5500000 is taken as
  // 1000 km east of 12 degrees instead of the meridian of zone 5.
  EXPECT_GT(ch.Run(5500000, 5500000)[0], 25);

  Chain utm(Proj::kUTM, Proj::kEll, kBessel, kBessel);
  for (const auto& [meridian, prefix] : std::vector<std::pair<const char*, double>>{
           {"15", 33e6}, {"9", 32e6}, {"-177", 1e6}, {"177", 60e6}}) {
    utm.Option(opt::kUTMBM, meridian);
    EXPECT_NEAR(utm.Run(prefix + 500000, 4000000)[0], ParseNumber(meridian), 1e-12) << meridian;
  }
}

TEST(SevenParChain, FractionalMeridianIndexIsNotRounded) {
  // L0 = 10 is not a multiple of 3: the prefix is (10 / 3) * 1e6 + 500000.
  const double prefix = 10.0 / 3 * 1e6 + 500000;
  Chain out(Proj::kEll, Proj::kGKGerm, kBessel, kBessel, kZero, kZero, {{opt::kGKBM2, "10"}});
  EXPECT_NEAR(out.Run(10, 51)[0], prefix, 1e-6);

  Chain in(Proj::kGKGerm, Proj::kEll, kBessel, kBessel, kZero, kZero, {{opt::kGKBM, "10"}});
  const ProjPipeline pj("+proj=pipeline +step +inv +proj=tmerc +lon_0=10 +x_0=" +
                        FormatShortest(prefix) + kBessel.Proj());
  ASSERT_TRUE(pj.ok());
  for (double dy : {-80000.0, 0.0, 1234.5, 95000.0}) {
    const auto q = pj(prefix + dy, 5650000, 0);
    const PointResult g = in.Run(prefix + dy, 5650000);
    EXPECT_NEAR(g[0], q[0] / kDeg, kFootpointDeg) << dy;
    EXPECT_NEAR(g[1], q[1] / kDeg, kFootpointDeg) << dy;
  }
}

TEST(SevenParChain, KrovakInputSignsAndOrderDoNotMatter) {
  // p > q > 0: every sign and order reaches KrovakToBL as X = p, Y = q.
  const double p = 1043898.6604, q = 743101.0139;
  Chain ch(Proj::kKrovak, Proj::kEll, kBessel, kBessel);
  const ProjPipeline pj("+proj=pipeline +step +inv" + Krovak(kBessel));
  ASSERT_TRUE(pj.ok());
  const auto expected = pj(-q, -p, 0);
  const PointResult reference = ch.Run(p, q);
  EXPECT_NEAR(reference[0], expected[0] / kDeg, kKrovakVsProjDeg);
  EXPECT_NEAR(reference[1], expected[1] / kDeg, kKrovakVsProjDeg);
  for (const auto& [a, b] : std::vector<std::pair<double, double>>{
           {-p, -q}, {q, p}, {p, -q}, {-q, -p}, {-q, p}, {q, -p}}) {
    const PointResult r = ch.Run(a, b);
    EXPECT_EQ(r[0], reference[0]) << a << " " << b;
    EXPECT_EQ(r[1], reference[1]) << a << " " << b;
  }
  // Equal values stay as they are (and are a legal if odd input).
  EXPECT_EQ(ch.Run(-900000, 900000).size, 3u);
}

TEST(SevenParChain, BadOptionsFailWhereTheyAreUsed) {
  // Options of other projections are not read.
  Chain ch(Proj::kGKGerm, Proj::kUTM, kBessel, kGRS80, kZero, kZero,
           {{opt::kINmeridian, "fünfzehn"}, {opt::kOUTscale, ""}, {opt::kUTMma, "x"}});
  EXPECT_EQ(ch.Run(5500000, 5500000).size, 2u);
  for (int index : {opt::kGKBM, opt::kUTMBM2, opt::kUTMma2}) {
    SCOPED_TRACE(index);
    const std::string old = ch.s.OptionValues[index];
    ch.Option(index, "1.000,5");
    try {
      (void)ch.Run(5500000, 5500000);
      ADD_FAILURE() << "no error";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), errnum::kTypeMismatch);
    }
    ch.Option(index, old);
  }
  // A scale of 0 on input divides by it.
  for (Proj in : {Proj::kUTM, Proj::kGKGeneral}) {
    SCOPED_TRACE(Name(in));
    Chain zero(in, Proj::kEll, kGRS80, kGRS80, kZero, kZero,
               {{opt::kUTMma, "0"}, {opt::kINscale, "0,0"}});
    try {
      (void)zero.Run(33500000, 5500000);
      ADD_FAILURE() << "no error";
    } catch (const FloatingPointFault& e) {
      EXPECT_EQ(e.number(), errnum::kDivisionByZero);
      EXPECT_STREQ(e.what(), "Division durch Null");
    }
    EXPECT_EQ(zero.fe.eventPasses, 0);
  }
}

}  // namespace
}  // namespace pelmo
