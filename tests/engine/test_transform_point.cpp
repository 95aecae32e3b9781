// The point chain: translation mode, and the seven-parameter chain through
// every input and output projection, checked by round trips on one
// ellipsoid and against PROJ pipelines with real datum changes.
#include <gtest/gtest.h>
#include <proj.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "geotra/errors.hpp"
#include "geotra/geodesy.hpp"
#include "geotra/numtext.hpp"
#include "geotra/transform_point.hpp"
#include "job/settings.hpp"
#include "test_support.hpp"

namespace pelmo {
namespace {

using test::RecordingFrontEnd;

// ------------------------------------------------------------ test data

/// An ellipsoid as the fields hold it, with the PROJ spelling of the same
/// numbers.
struct Ell {
  const char* a;
  const char* e;
  std::string Proj() const { return std::string("+a=") + a + " +e=" + e; }
};
const Ell kBessel{"6377397.155", "0.0816968312225275"};
const Ell kGRS80{"6378137", "0.0818191910428158"};
const Ell kKrassowsky{"6378245", "0.0818133340169312"};
const Ell kHayford{"6378388", "0.0819918899790298"};

/// A seven-parameter set in this program's order: dX, dY, dZ [m], m [ppm],
/// gamma (about Z), beta (about Y), alpha (about X) [arc seconds].
using ParSet = std::array<double, 7>;
const ParSet kZero{0, 0, 0, 0, 0, 0, 0};
const ParSet kDhdnToEtrs{598.1, 73.7, 418.2, 6.7, 2.455, -0.045, -0.202};       // EPSG 1776
const ParSet kSjtskToEtrs{570.8, 85.7, 462.8, 3.56, -5.261, -1.587, -4.998};    // EPSG 1622
const ParSet kPulkovoToEtrs{24.9, -126.4, -93.2, 1.01, 0.041, 0.247, 0.063};    // EPSG 1775
const ParSet kMgiToEtrs{577.326, 90.129, 463.919, 2.4232, -5.297, -1.474, -5.137};  // EPSG 1619

ParSet Reverse(const ParSet& p) {
  ParSet r;
  for (std::size_t i = 0; i < p.size(); ++i) r[i] = -p[i];
  return r;
}

/// The PROJ helmert step of a set: rotations x, y, z are alpha, beta,
/// gamma; scale in ppm; coordinate-frame rotation like ours.
std::string HelmertStep(const ParSet& p) {
  auto f = [](double v) { return FormatShortest(v); };
  return " +step +proj=helmert +x=" + f(p[0]) + " +y=" + f(p[1]) + " +z=" + f(p[2]) +
         " +s=" + f(p[3]) + " +rz=" + f(p[4]) + " +ry=" + f(p[5]) + " +rx=" + f(p[6]) +
         " +convention=coordinate_frame +exact";
}

enum class Proj { kGKGerm, kGKGeneral, kUTM, kKrovak, kEll };

const char* Name(Proj p) {
  switch (p) {
    case Proj::kGKGerm: return "GK-Germ";
    case Proj::kGKGeneral: return "GK-general";
    case Proj::kUTM: return "UTM";
    case Proj::kKrovak: return "Krovak";
    case Proj::kEll: return "Ell";
  }
  return "";
}

/// A session in seven-parameter mode with helpers to set it up as the
/// main window and the options dialog would.
struct Chain {
  RecordingFrontEnd fe;
  Session s;

  explicit Chain(char decimalSign = '.') : s(fe, decimalSign) {
    s.settings.optSevPar = true;
    s.settings.optTranslation = false;
  }

  void In(Proj p) {
    TransformSettings& t = s.settings;
    t.optInGK = p == Proj::kGKGerm;
    t.optINGKallgemein = p == Proj::kGKGeneral;
    t.optINetrs = p == Proj::kUTM;
    t.optInKrovak = p == Proj::kKrovak;
    t.optInBL = p == Proj::kEll;
  }
  void Out(Proj p) {
    TransformSettings& t = s.settings;
    t.optOutGK = p == Proj::kGKGerm;
    t.optOutGKallgemein = p == Proj::kGKGeneral;
    t.optOUTetrs = p == Proj::kUTM;
    t.optOutKrovak = p == Proj::kKrovak;
    t.optOutBL = p == Proj::kEll;
  }
  void Ellipsoids(const Ell& e1, const Ell& e2) {
    s.settings.txtEll1a = e1.a;
    s.settings.txtEll1e = e1.e;
    s.settings.txtEll2a = e2.a;
    s.settings.txtEll2e = e2.e;
  }
  void Sets(const ParSet& p, const ParSet& q) {
    const auto f1 = s.settings.SevenParFields(1);
    const auto f2 = s.settings.SevenParFields(2);
    for (std::size_t i = 0; i < 7; ++i) {
      *f1[i] = FormatNumber(p[i], s.decimalSign());
      *f2[i] = FormatNumber(q[i], s.decimalSign());
    }
  }
  void Option(int index, const std::string& text) { s.OptionValues[index] = text; }

  /// What the job start does before the first point: the meridian-arc
  /// coefficients of ellipsoid 2, and a new revision of the settings.
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
      : ctx_(proj_context_create()), pj_(proj_create(ctx_, definition.c_str())) {}
  ~ProjPipeline() {
    if (pj_ != nullptr) proj_destroy(pj_);
    proj_context_destroy(ctx_);
  }
  ProjPipeline(const ProjPipeline&) = delete;
  ProjPipeline& operator=(const ProjPipeline&) = delete;

  bool ok() const { return pj_ != nullptr; }
  /// Transforms one point; angles in radians as PROJ takes them.
  std::array<double, 3> operator()(double x, double y, double z) const {
    const PJ_COORD out = proj_trans(pj_, PJ_FWD, proj_coord(x, y, z, 0));
    return {out.xyz.x, out.xyz.y, out.xyz.z};
  }

 private:
  PJ_CONTEXT* ctx_;
  PJ* pj_;
};

constexpr double kDeg = 3.141592653589793 / 180;

/// Our Krovak routines take the latitude of the cone's pole as
/// 59deg42'42.6968"; PROJ takes 59deg42'42.69689" (from the EPSG co-latitude
/// 30deg17'17.30311"). The 0.00009" move the plane coordinates by up to
/// about 3 mm, so Krovak results are compared with PROJ to this many metres
/// (or the corresponding angle).
constexpr double kKrovakVsProj = 5e-3;
constexpr double kKrovakVsProjDeg = kKrovakVsProj / 111000;

/// Error of the footpoint series of GKToBL (it stops at n^3), about
/// 0.15 mm on the ground, as an angle.
constexpr double kFootpointDeg = 3e-9;
/// Metres per degree of latitude, roughly: turns angle differences into
/// distances on the ground.
constexpr double kMetresPerDegree = 111000;

// ============================================================ translation

TEST(TransformPoint, TranslationShiftsAllThreeValuesWhateverTheProjections) {
  RecordingFrontEnd fe;
  Session s(fe, ',');
  TransformSettings& t = s.settings;
  t.optSevPar = false;
  t.optTranslation = true;
  t.txtDX = "10";
  t.txtDY = "-20,5";
  t.txtDH = "1.25";
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

TEST(TransformPoint, TranslationByZeroReturnsTheInput) {
  RecordingFrontEnd fe;
  Session s(fe);
  s.settings.optSevPar = false;
  s.settings.optTranslation = true;
  s.Touch();
  double first = -12.75, second = 1e7, height = 0;
  const PointResult r = TransformPoint(s, first, second, height);
  ASSERT_EQ(r.size, 3u);
  EXPECT_EQ(r[0], -12.75);
  EXPECT_EQ(r[1], 1e7);
  EXPECT_EQ(r[2], 0);
}

TEST(TransformPoint, UnreadableShiftOrOverflowFailsAtThePoint) {
  RecordingFrontEnd fe;
  Session s(fe);
  s.settings.optSevPar = false;
  s.settings.optTranslation = true;
  s.settings.txtDY = "1.000,5";
  s.Touch();
  double first = 1, second = 2, height = 3;
  try {
    (void)TransformPoint(s, first, second, height);
    FAIL() << "no error";
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.number(), errnum::kTypeMismatch);
  }
  EXPECT_EQ(fe.eventPasses, 0) << "no event pass after a failed point";

  s.settings.txtDY = "0";
  s.settings.txtDX = "1.5e308";
  s.Touch();
  first = 1.5e308;
  try {
    (void)TransformPoint(s, first, second, height);
    FAIL() << "no error";
  } catch (const RunTimeError& e) {
    EXPECT_EQ(e.number(), errnum::kOverflow);
  }
}

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

  // Switching the datum mode between two points (the options dialog
  // stays usable during a run).
  s.settings.optTranslation = false;
  s.settings.optSevPar = true;
  s.settings.optInBL = true;
  s.settings.optOutBL = true;
  s.settings.optInKrovak = s.settings.optOutGK = false;
  s.settings.txtEll1a = s.settings.txtEll2a = kGRS80.a;
  s.settings.txtEll1e = s.settings.txtEll2e = kGRS80.e;
  s.Touch();
  a = 10, b = 50, h = 7;
  const PointResult r = TransformPoint(s, a, b, h);
  ASSERT_EQ(r.size, 3u);
  EXPECT_NEAR(r[0], 10, 1e-9);
  EXPECT_NEAR(r[1], 50, 1e-9);
  EXPECT_EQ(h, 7) << "the height variable changes only in translation mode";
}

// ============================================================ round trips

struct Grid {
  double lon0, lon1, lat0, lat1;
};

/// Ell -> X -> Ell on one ellipsoid with zero sets, for every projection:
/// the series and the iterations bring every point back.
TEST(SevenParChain, RoundTripThroughEveryProjectionOnOneEllipsoid) {
  struct Case {
    Proj proj;
    Ell ell;
    Grid grid;
    double tolerance;  // metres on the ground
  } cases[] = {
      {Proj::kGKGerm, kBessel, {13.5, 16.5, 47, 55}, 3e-4},
      {Proj::kUTM, kGRS80, {12, 18, 46, 56}, 1e-2},
      {Proj::kGKGeneral, kHayford, {12, 15, -40, 10}, 5e-4},
      {Proj::kKrovak, kBessel, {12, 19, 48.5, 51.2}, 1e-6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.proj));
    Chain to, back;
    to.Ellipsoids(c.ell, c.ell);
    back.Ellipsoids(c.ell, c.ell);
    to.Sets(kZero, kZero);
    back.Sets(kZero, kZero);
    for (Chain* ch : {&to, &back}) {
      ch->Option(opt::kUTMBM, "15");
      ch->Option(opt::kUTMBM2, "15");
      ch->Option(opt::kINmeridian, "13.5");
      ch->Option(opt::kOUTmeridian, "13.5");
      ch->Option(opt::kINeasting, "250000");
      ch->Option(opt::kOUTeasting, "250000");
      ch->Option(opt::kINnorthing, "10000000");
      ch->Option(opt::kOUTnorthing, "10000000");
      ch->Option(opt::kINscale, "0.9999");
      ch->Option(opt::kOUTscale, "0.9999");
    }
    to.In(Proj::kEll);
    to.Out(c.proj);
    back.In(c.proj);
    back.Out(Proj::kEll);
    to.Prepare();
    back.Prepare();
    double worst = 0;
    for (double lon = c.grid.lon0; lon <= c.grid.lon1 + 1e-9; lon += (c.grid.lon1 - c.grid.lon0) / 6) {
      for (double lat = c.grid.lat0; lat <= c.grid.lat1 + 1e-9; lat += (c.grid.lat1 - c.grid.lat0) / 6) {
        const PointResult p = to.Run(lon, lat, 0);
        ASSERT_EQ(p.size, 2u);
        const PointResult g = back.Run(p[0], p[1], 0);
        ASSERT_EQ(g.size, 3u);
        const double dn = (g[1] - lat) * kMetresPerDegree;
        const double de = (g[0] - lon) * kMetresPerDegree * std::cos(lat * kDeg);
        worst = std::max(worst, std::hypot(dn, de));
        EXPECT_LT(std::hypot(dn, de), c.tolerance) << lon << " " << lat;
        EXPECT_NEAR(g[2], 0, 1e-6);
      }
    }
    RecordProperty(std::string("worst_m_") + Name(c.proj), std::to_string(worst));
  }
}

TEST(SevenParChain, SameProjectionOnBothSidesReturnsTheInput) {
  // GK-Germ -> GK-Germ (same ellipsoid, meridian, zero sets) gives back the
  // easting and northing within the series error; likewise the others.
  struct Case {
    Proj proj;
    double first, second;
    double tolerance;  // metres
  } cases[] = {
      {Proj::kGKGerm, 5612345.678, 5987654.321, 1e-4},
      {Proj::kGKGerm, 5389000.5, 5240000.25, 1e-4},
      {Proj::kUTM, 33312345.678, 5987654.321, 5e-3},
      {Proj::kGKGeneral, 123456.789, 5400000.0, 1e-4},
      {Proj::kKrovak, -743101.0139, -1043898.6604, 1e-6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.proj));
    Chain ch;
    ch.Ellipsoids(kBessel, kBessel);
    ch.Sets(kZero, kZero);
    ch.Option(opt::kINmeridian, "12");
    ch.Option(opt::kOUTmeridian, "12");
    ch.Option(opt::kINeasting, "0");
    ch.Option(opt::kOUTeasting, "0");
    ch.In(c.proj);
    ch.Out(c.proj);
    ch.Prepare();
    const PointResult r = ch.Run(c.first, c.second, 123);
    ASSERT_EQ(r.size, 2u);
    EXPECT_NEAR(r[0], c.first, c.tolerance);
    EXPECT_NEAR(r[1], c.second, c.tolerance);
  }
}

TEST(SevenParChain, EllToEllThroughIdentitySetsKeepsPointAndHeight) {
  Chain ch;
  ch.Ellipsoids(kGRS80, kGRS80);
  ch.Sets(kZero, kZero);
  ch.In(Proj::kEll);
  ch.Out(Proj::kEll);
  ch.Prepare();
  for (const auto& p : std::vector<std::array<double, 3>>{
           {15, 50, 0}, {-70.25, -33.5, 2500}, {179.5, 0.001, -40}, {-0.5, 89, 12345.678}}) {
    double h = p[2];
    const PointResult r = ch.Run(p[0], p[1], h);
    ASSERT_EQ(r.size, 3u);
    EXPECT_NEAR(r[0], p[0], 1e-10);
    EXPECT_NEAR(r[1], p[1], 1e-10);
    EXPECT_NEAR(r[2], p[2], 1e-6);
  }
}

// ============================================================ against PROJ

/// Runs the chain and the PROJ pipeline on the same points; `toProj` maps
/// our input to PROJ's, `fromProj` PROJ's output to ours.
template <typename ToProj, typename FromProj>
double CompareWithProj(Chain& ch, const ProjPipeline& pj,
                       const std::vector<std::array<double, 3>>& points, ToProj toProj,
                       FromProj fromProj, double tolerance) {
  double worst = 0;
  for (const auto& p : points) {
    const auto in = toProj(p);
    const auto expected = fromProj(pj(in[0], in[1], in[2]));
    const PointResult r = ch.Run(p[0], p[1], p[2]);
    for (std::size_t i = 0; i < r.size && i < 2; ++i) {
      EXPECT_NEAR(r[i], expected[i], tolerance) << "value " << i << " of " << p[0] << " " << p[1];
      worst = std::max(worst, std::fabs(r[i] - expected[i]));
    }
  }
  return worst;
}

std::vector<std::array<double, 3>> PlaneGrid(double e0, double e1, double n0, double n1,
                                            double h) {
  std::vector<std::array<double, 3>> pts;
  for (int i = 0; i <= 4; ++i) {
    for (int j = 0; j <= 4; ++j) {
      pts.push_back({e0 + (e1 - e0) * i / 4, n0 + (n1 - n0) * j / 4, h});
    }
  }
  return pts;
}

TEST(SevenParChain, GKGermBesselDhdnToUtm33Grs80AgreesWithProj) {
  Chain ch;
  ch.In(Proj::kGKGerm);
  ch.Out(Proj::kUTM);
  ch.Ellipsoids(kBessel, kGRS80);
  ch.Sets(kDhdnToEtrs, kZero);
  ch.Option(opt::kGKBM, "15");
  ch.Option(opt::kUTMBM2, "15");
  ch.Option(opt::kUTMma2, "0.9996");
  ch.Prepare();
  const ProjPipeline pj(
      "+proj=pipeline +step +inv +proj=tmerc +lat_0=0 +lon_0=15 +k=1 +x_0=5500000 +y_0=0 " +
      kBessel.Proj() + " +step +proj=cart " + kBessel.Proj() + HelmertStep(kDhdnToEtrs) +
      " +step +inv +proj=cart " + kGRS80.Proj() + " +step +proj=utm +zone=33 " + kGRS80.Proj());
  ASSERT_TRUE(pj.ok());
  const double worst = CompareWithProj(
      ch, pj, PlaneGrid(5400000, 5600000, 5250000, 6050000, 150),
      [](const auto& p) { return p; },
      // Our UTM easting carries the zone number 33 in its millions.
      [](const auto& q) { return std::array<double, 2>{q[0] + 33e6, q[1]}; }, 1e-3);
  RecordProperty("worst_m", std::to_string(worst));
}

TEST(SevenParChain, Utm32Grs80ToGKGermBesselWithReverseSetAgreesWithProj) {
  Chain ch;
  ch.In(Proj::kUTM);
  ch.Out(Proj::kGKGerm);
  ch.Ellipsoids(kGRS80, kBessel);
  ch.Sets(kZero, Reverse(kDhdnToEtrs));  // through the second set this time
  ch.Option(opt::kUTMBM, "9");
  ch.Option(opt::kUTMma, "0,9996");  // the user's decimal sign is not needed to read
  ch.Option(opt::kGKBM2, "9");
  ch.Prepare();
  const ProjPipeline pj(
      "+proj=pipeline +step +inv +proj=utm +zone=32 " + kGRS80.Proj() + " +step +proj=cart " +
      kGRS80.Proj() + HelmertStep(Reverse(kDhdnToEtrs)) + " +step +inv +proj=cart " +
      kBessel.Proj() + " +step +proj=tmerc +lat_0=0 +lon_0=9 +k=1 +x_0=3500000 +y_0=0 " +
      kBessel.Proj());
  ASSERT_TRUE(pj.ok());
  CompareWithProj(
      ch, pj, PlaneGrid(32400000, 32600000, 5300000, 6050000, 80),
      [](const auto& p) { return std::array<double, 3>{p[0] - 32e6, p[1], p[2]}; },
      [](const auto& q) { return std::array<double, 2>{q[0], q[1]}; }, 1e-3);
}

TEST(SevenParChain, GKGeneralBothSidesThroughTwoSetsAgreesWithProj) {
  // Pulkovo 1942(83) on Krassowsky -> ETRS89 -> MGI on Bessel, with free
  // meridians, scales and false origins on both sides.
  Chain ch;
  ch.In(Proj::kGKGeneral);
  ch.Out(Proj::kGKGeneral);
  ch.Ellipsoids(kKrassowsky, kBessel);
  ch.Sets(kPulkovoToEtrs, Reverse(kMgiToEtrs));
  ch.Option(opt::kINmeridian, "16.5");
  ch.Option(opt::kINeasting, "250000");
  ch.Option(opt::kINnorthing, "-1000");
  ch.Option(opt::kINscale, "0.9999");
  ch.Option(opt::kOUTmeridian, "16");
  ch.Option(opt::kOUTeasting, "750000");
  ch.Option(opt::kOUTnorthing, "100");
  ch.Option(opt::kOUTscale, "0.9998");
  ch.Prepare();
  const ProjPipeline pj(
      "+proj=pipeline +step +inv +proj=tmerc +lat_0=0 +lon_0=16.5 +k=0.9999 +x_0=250000 "
      "+y_0=-1000 " +
      kKrassowsky.Proj() + " +step +proj=cart " + kKrassowsky.Proj() +
      HelmertStep(kPulkovoToEtrs) + HelmertStep(Reverse(kMgiToEtrs)) + " +step +inv +proj=cart " +
      kBessel.Proj() + " +step +proj=tmerc +lat_0=0 +lon_0=16 +k=0.9998 +x_0=750000 +y_0=100 " +
      kBessel.Proj());
  ASSERT_TRUE(pj.ok());
  CompareWithProj(
      ch, pj, PlaneGrid(160000, 340000, 5200000, 5450000, 300), [](const auto& p) { return p; },
      [](const auto& q) { return std::array<double, 2>{q[0], q[1]}; }, 1e-3);
}

std::string KrovakProj(const Ell& e) { return " +proj=krovak " + e.Proj(); }

TEST(SevenParChain, KrovakBesselSjtskToUtm33Grs80AgreesWithProj) {
  Chain ch;
  ch.In(Proj::kKrovak);
  ch.Out(Proj::kUTM);
  ch.Ellipsoids(kBessel, kGRS80);
  ch.Sets(kSjtskToEtrs, kZero);
  ch.Prepare();
  // PROJ's krovak works with (-Y, -X) like our output; its height input is
  // 0 because the chain ignores the height of a Krovak point.
  const ProjPipeline pj("+proj=pipeline +step +inv" + KrovakProj(kBessel) +
                        " +step +proj=cart " + kBessel.Proj() + HelmertStep(kSjtskToEtrs) +
                        " +step +inv +proj=cart " + kGRS80.Proj() + " +step +proj=utm +zone=33 " +
                        kGRS80.Proj());
  ASSERT_TRUE(pj.ok());
  CompareWithProj(
      ch, pj, PlaneGrid(-880000, -440000, -1230000, -940000, 500),
      [](const auto& p) { return std::array<double, 3>{p[0], p[1], 0}; },
      [](const auto& q) { return std::array<double, 2>{q[0] + 33e6, q[1]}; }, kKrovakVsProj);
}

TEST(SevenParChain, EllGrs80ToKrovakBesselAgreesWithProj) {
  Chain ch;
  ch.In(Proj::kEll);
  ch.Out(Proj::kKrovak);
  ch.Ellipsoids(kGRS80, kBessel);
  ch.Sets(Reverse(kSjtskToEtrs), kZero);
  ch.Prepare();
  const ProjPipeline pj("+proj=pipeline +step +proj=cart " + kGRS80.Proj() +
                        HelmertStep(Reverse(kSjtskToEtrs)) + " +step +inv +proj=cart " +
                        kBessel.Proj() + " +step" + KrovakProj(kBessel));
  ASSERT_TRUE(pj.ok());
  std::vector<std::array<double, 3>> pts;
  for (double lon = 12.2; lon <= 18.9; lon += 0.67) {
    for (double lat = 48.6; lat <= 51.1; lat += 0.5) pts.push_back({lon, lat, 250});
  }
  CompareWithProj(
      ch, pj, pts, [](const auto& p) { return std::array<double, 3>{p[0] * kDeg, p[1] * kDeg, p[2]}; },
      [](const auto& q) { return std::array<double, 2>{q[0], q[1]}; }, kKrovakVsProj);
}

TEST(SevenParChain, EllToEllWithDatumChangeAgreesWithProjIncludingHeight) {
  Chain ch;
  ch.In(Proj::kEll);
  ch.Out(Proj::kEll);
  ch.Ellipsoids(kBessel, kGRS80);
  ch.Sets(kDhdnToEtrs, kZero);
  ch.Prepare();
  const ProjPipeline pj("+proj=pipeline +step +proj=cart " + kBessel.Proj() +
                        HelmertStep(kDhdnToEtrs) + " +step +inv +proj=cart " + kGRS80.Proj());
  ASSERT_TRUE(pj.ok());
  for (const auto& p : std::vector<std::array<double, 3>>{
           {6.1, 47.3, 0}, {13.4, 52.5, 34.5}, {9.99, 53.55, -3}, {11.58, 48.14, 2962}}) {
    const auto q = pj(p[0] * kDeg, p[1] * kDeg, p[2]);
    double h = p[2];
    const PointResult r = ch.Run(p[0], p[1], h);
    ASSERT_EQ(r.size, 3u);
    EXPECT_NEAR(r[0], q[0] / kDeg, 1e-9);
    EXPECT_NEAR(r[1], q[1] / kDeg, 1e-9);
    EXPECT_NEAR(r[2], q[2], 1e-4);
    EXPECT_GT(std::fabs(r[2] - p[2]), 10) << "the datum change moves the height";
  }
}

// ============================================================ edge cases

TEST(SevenParChain, PrefixesComeFromTheConfiguredMeridianOnly) {
  Chain ch;
  ch.Ellipsoids(kBessel, kBessel);
  ch.Sets(kZero, kZero);
  ch.Out(Proj::kEll);

  // On the central meridian the easting is exactly the prefix.
  ch.In(Proj::kGKGerm);
  ch.Option(opt::kGKBM, "12");
  ch.Prepare();
  EXPECT_NEAR(ch.Run(4500000, 5500000)[0], 12, 1e-12);

  ch.In(Proj::kUTM);
  for (const auto& [meridian, prefix] :
       std::vector<std::pair<const char*, double>>{{"15", 33e6}, {"9", 32e6}, {"-177", 1e6}, {"177", 60e6}}) {
    ch.Option(opt::kUTMBM, meridian);
    ch.Prepare();
    EXPECT_NEAR(ch.Run(prefix + 500000, 4000000)[0], ParseNumber(meridian), 1e-12) << meridian;
  }

  // An easting of zone 5 read with the meridian of zone 4 is not
  // corrected: the prefix in the millions is never read, so 5500000 is
  // taken as 1000 km east of 12 degrees instead of the meridian of zone 5.
  ch.In(Proj::kGKGerm);
  ch.Option(opt::kGKBM, "12");
  ch.Prepare();
  const PointResult r = ch.Run(5500000, 5500000);
  EXPECT_GT(r[0], 25);
}

TEST(SevenParChain, FractionalMeridianIndexIsNotRounded) {
  // L0 = 10 is not a multiple of 3: the prefix is (10 / 3) * 1e6 + 500000.
  const double prefix = 10.0 / 3 * 1e6 + 500000;
  Chain out;
  out.Ellipsoids(kBessel, kBessel);
  out.Sets(kZero, kZero);
  out.In(Proj::kEll);
  out.Out(Proj::kGKGerm);
  out.Option(opt::kGKBM2, "10");
  out.Prepare();
  const PointResult r = out.Run(10, 51);
  EXPECT_NEAR(r[0], prefix, 1e-6);

  Chain in;
  in.Ellipsoids(kBessel, kBessel);
  in.Sets(kZero, kZero);
  in.In(Proj::kGKGerm);
  in.Out(Proj::kEll);
  in.Option(opt::kGKBM, "10");
  in.Prepare();
  const ProjPipeline pj("+proj=pipeline +step +inv +proj=tmerc +lon_0=10 +x_0=" +
                        FormatShortest(prefix) + " " + kBessel.Proj());
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
  Chain ch;
  ch.Ellipsoids(kBessel, kBessel);
  ch.Sets(kZero, kZero);
  ch.In(Proj::kKrovak);
  ch.Out(Proj::kEll);
  ch.Prepare();
  const ProjPipeline pj("+proj=pipeline +step +inv" + KrovakProj(kBessel));
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
  const PointResult eq = ch.Run(-900000, 900000);
  EXPECT_EQ(eq.size, 3u);
}

TEST(SevenParChain, KrovakOutputIsTwoNegativeValuesWestingFirst) {
  Chain ch;
  ch.Ellipsoids(kBessel, kBessel);
  ch.Sets(kZero, kZero);
  ch.In(Proj::kEll);
  ch.Out(Proj::kKrovak);
  ch.Prepare();
  for (double lon = 12.1; lon < 19; lon += 0.5) {
    for (double lat = 48.6; lat < 51.1; lat += 0.4) {
      const PointResult r = ch.Run(lon, lat);
      ASSERT_EQ(r.size, 2u);
      EXPECT_LT(r[0], 0);
      EXPECT_LT(r[1], 0);
      EXPECT_LT(std::fabs(r[0]), std::fabs(r[1])) << "westing (about 0.4-0.9e6) first";
    }
  }
  // Prague, further east is less westing.
  EXPECT_GT(ch.Run(14.5, 50)[0], ch.Run(14.4, 50)[0]);
}

TEST(SevenParChain, KrovakInputIgnoresTheHeight) {
  // Element 2 of an Ell output is the height on ellipsoid 2 of the point at
  // height 0 on ellipsoid 1, whatever height was passed.
  Chain same;
  same.Ellipsoids(kBessel, kBessel);
  same.Sets(kZero, kZero);
  same.In(Proj::kKrovak);
  same.Out(Proj::kEll);
  same.Prepare();
  for (double h : {0.0, 350.0, -20.0}) {
    double first = -743101.0, second = -1043898.0, height = h;
    const PointResult r = TransformPoint(same.s, first, second, height);
    ASSERT_EQ(r.size, 3u);
    EXPECT_NEAR(r[2], 0, 1e-6);
    EXPECT_EQ(height, h);
  }

  Chain datum;
  datum.Ellipsoids(kBessel, kGRS80);
  datum.Sets(kSjtskToEtrs, kZero);
  datum.In(Proj::kKrovak);
  datum.Out(Proj::kEll);
  datum.Prepare();
  const ProjPipeline pj("+proj=pipeline +step +inv" + KrovakProj(kBessel) +
                        " +step +proj=cart " + kBessel.Proj() + HelmertStep(kSjtskToEtrs) +
                        " +step +inv +proj=cart " + kGRS80.Proj());
  ASSERT_TRUE(pj.ok());
  const auto q = pj(-600000, -1100000, 0);
  for (double h : {0.0, 1000.0}) {
    const PointResult r = datum.Run(-600000, -1100000, h);
    EXPECT_NEAR(r[2], q[2], 1e-3) << h;
    EXPECT_NEAR(r[0], q[0] / kDeg, kKrovakVsProjDeg);
    EXPECT_NEAR(r[1], q[1] / kDeg, kKrovakVsProjDeg);
  }
}

TEST(SevenParChain, GKGeneralOutputAppliesScaleAndFalseOrigin) {
  Chain plain, scaled;
  for (Chain* ch : {&plain, &scaled}) {
    ch->Ellipsoids(kGRS80, kGRS80);
    ch->Sets(kZero, kZero);
    ch->In(Proj::kEll);
    ch->Out(Proj::kGKGeneral);
    ch->Option(opt::kOUTmeridian, "9");
  }
  plain.Option(opt::kOUTeasting, "0");
  plain.Option(opt::kOUTnorthing, "0");
  plain.Option(opt::kOUTscale, "1");
  scaled.Option(opt::kOUTeasting, "0");
  scaled.Option(opt::kOUTnorthing, "1000");
  scaled.Option(opt::kOUTscale, "0.5");
  plain.Prepare();
  scaled.Prepare();
  for (const auto& [lon, lat] : std::vector<std::pair<double, double>>{{9, 0}, {10.5, 48}, {7, -30}}) {
    const PointResult a = plain.Run(lon, lat);
    const PointResult b = scaled.Run(lon, lat);
    EXPECT_NEAR(b[1], 0.5 * a[1] + 1000, 1e-8);
    EXPECT_NEAR(b[0], 0.5 * a[0], 1e-8);
  }
  // On the equator at the central meridian: exactly the false northing.
  EXPECT_NEAR(scaled.Run(9, 0)[1], 1000, 1e-9);
}

TEST(SevenParChain, ScaleZeroOnInputRaisesDivisionByZero) {
  for (Proj in : {Proj::kUTM, Proj::kGKGeneral}) {
    SCOPED_TRACE(Name(in));
    Chain ch;
    ch.Ellipsoids(kGRS80, kGRS80);
    ch.Sets(kZero, kZero);
    ch.In(in);
    ch.Out(Proj::kEll);
    ch.Option(opt::kUTMma, "0");
    ch.Option(opt::kINscale, "0,0");
    ch.Prepare();
    try {
      (void)ch.Run(33500000, 5500000);
      FAIL() << "no error";
    } catch (const FloatingPointFault& e) {
      EXPECT_EQ(e.number(), errnum::kDivisionByZero);
      EXPECT_STREQ(e.what(), "Division durch Null");
    }
    EXPECT_EQ(ch.fe.eventPasses, 0);
  }
}

TEST(SevenParChain, UnreadableOptionFailsWhereItIsUsed) {
  Chain ch;
  ch.Ellipsoids(kBessel, kGRS80);
  ch.Sets(kZero, kZero);
  ch.In(Proj::kGKGerm);
  ch.Out(Proj::kUTM);
  // Options of other projections are not read.
  ch.Option(opt::kINmeridian, "fünfzehn");
  ch.Option(opt::kOUTscale, "");
  ch.Option(opt::kUTMma, "x");
  ch.Prepare();
  EXPECT_EQ(ch.Run(5500000, 5500000).size, 2u);

  for (int index : {opt::kGKBM, opt::kUTMBM2, opt::kUTMma2}) {
    SCOPED_TRACE(index);
    const std::string old = ch.s.OptionValues[index];
    ch.Option(index, "1.000,5");
    ch.Prepare();
    try {
      (void)ch.Run(5500000, 5500000);
      FAIL() << "no error";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), errnum::kTypeMismatch);
    }
    ch.Option(index, old);
  }
}

TEST(SevenParChain, OptionChangedDuringARunAppliesFromTheNextPoint) {
  Chain ch;
  ch.Ellipsoids(kBessel, kBessel);
  ch.Sets(kZero, kZero);
  ch.In(Proj::kEll);
  ch.Out(Proj::kGKGerm);
  ch.Option(opt::kGKBM2, "15");
  ch.Prepare();
  // The options dialog applies a new output meridian after the first point.
  ch.fe.onEvents = [&](long pass) {
    if (pass == 1) {
      ch.s.OptionValues[opt::kGKBM2] = "9";
      ch.s.Touch();
    }
  };
  const PointResult first = ch.Run(15, 50);
  const PointResult second = ch.Run(9, 50);
  EXPECT_NEAR(first[0], 5500000, 1e-6);
  EXPECT_NEAR(second[0], 3500000, 1e-6);
}

}  // namespace
}  // namespace pelmo
