// The point chain: translation, settings changed between points, every projection against PROJ pipelines.
#include "test_support.hpp"

namespace pelmo::test {
namespace {

/// An ellipsoid as its fields hold it, and the same for PROJ.
struct Ell { const char *a, *e; std::string Proj() const { return std::string(" +a=") + a + " +e=" + e; } };
const Ell kBessel{"6377397.155", "0.0816968312225275"}, kGRS80{"6378137", "0.0818191910428158"},
    kKrassowsky{"6378245", "0.0818133340169312"};

/// dX, dY, dZ [m], m [ppm], rotations about Z, Y, X [arc seconds]; EPSG 1776, 1622, 1775, 1619 reversed.
using ParSet = std::array<double, 7>;
const ParSet kZero{}, kDhdn{598.1, 73.7, 418.2, 6.7, 2.455, -0.045, -0.202},
    kSjtsk{570.8, 85.7, 462.8, 3.56, -5.261, -1.587, -4.998}, kPulkovo{24.9, -126.4, -93.2, 1.01, 0.041, 0.247, 0.063},
    kMgiReverse{-577.326, -90.129, -463.919, -2.4232, 5.297, 1.474, 5.137},
    kDhdnReverse{-598.1, -73.7, -418.2, -6.7, -2.455, 0.045, 0.202};

enum Proj { kGKGerm, kGKGeneral, kUTM, kKrovak, kEll };

/// A seven-parameter session as the window and the job start prepare it.
struct Chain {
  RecordingFrontEnd fe;
  Session s{fe, '.'};
  Chain(Proj in, Proj out, const Ell& e1, const Ell& e2, const ParSet& p = kZero, const ParSet& q = kZero,
        const std::vector<std::pair<int, std::string>>& options = {}) {
    TransformSettings& t = s.settings;
    t.optSevPar = true, t.optTranslation = false;
    bool* ins[] = {&t.optInGK, &t.optINGKallgemein, &t.optINetrs, &t.optInKrovak, &t.optInBL};
    bool* outs[] = {&t.optOutGK, &t.optOutGKallgemein, &t.optOUTetrs, &t.optOutKrovak, &t.optOutBL};
    for (int i = 0; i < 5; ++i) *ins[i] = i == in, *outs[i] = i == out;
    t.txtEll1a = e1.a, t.txtEll1e = e1.e, t.txtEll2a = e2.a, t.txtEll2e = e2.e;
    Sets(p, q);
    for (const auto& [index, text] : options) s.OptionValues[index] = text;
    s.MeridianCoeffs = geotra::MeridianArcCoeffs(ParseNumber(e2.a), ParseNumber(e2.e));
    s.Touch();
  }
  void Sets(const ParSet& p, const ParSet& q) {
    for (std::size_t i = 0; i < 7; ++i)
      *s.settings.SevenParFields(1)[i] = FormatNumber(p[i], '.'), *s.settings.SevenParFields(2)[i] = FormatNumber(q[i], '.');
  }
  PointResult Run(double first, double second, double height = 0) { return TransformPoint(s, first, second, height); }
  int ErrorOf(double first, double second) {
    try { Run(first, second); } catch (const RunTimeError& e) { return e.number(); }
    return 0;
  }
};

constexpr double kDeg = std::numbers::pi / 180;
/// The two Krovak cone poles (see the geodesy tests) differ by up to 3 mm.
constexpr double kKrovakMetres = 5e-3, kKrovakDeg = kKrovakMetres / 111000;

TEST(TransformPoint, TranslationAndSettingsChangedBetweenPoints) {
  Chain ch(kEll, kEll, kBessel, kBessel);
  TransformSettings& t = ch.s.settings;
  t.optSevPar = false, t.optTranslation = true, t.txtEll1a = "abc";  // the ellipsoids play no part
  t.txtDX = "10", t.txtDY = "-20,5", t.txtDH = "1.25";
  ch.s.Touch();
  double a = 3500000.5, b = 5800000, h = 100;
  const PointResult r = TransformPoint(ch.s, a, b, h);
  EXPECT_EQ((std::array<double, 4>{r[0], r[1], r[2], static_cast<double>(r.size)}),
            (std::array<double, 4>{3500010.5, 5799979.5, 101.25, 3}));
  EXPECT_EQ(h, 101.25) << "the ASCII driver writes the height variable";
  for (const auto& [dx, number] : {std::pair{"1.000,5", errnum::kTypeMismatch}, std::pair{"1.5e308", errnum::kOverflow}}) {
    t.txtDX = dx;
    ch.s.Touch();
    EXPECT_EQ(ch.ErrorOf(1.5e308, 2), number) << dx;
  }
  EXPECT_EQ(ch.fe.eventPasses, 1) << "an event pass after every point, none after a failed one";
  // A new first set applied at the event pass of a point holds from the next point (dX is the height at 0, 0).
  t.optSevPar = true, t.optTranslation = false, t.txtEll1a = kBessel.a;
  ch.Sets({500, 0, 0, 0, 0, 0, 0}, kZero), ch.s.Touch();
  EXPECT_NEAR(ch.Run(0, 0)[2], 500, 1e-6);
  ch.fe.onEvents = [&](long pass) {
    if (pass == 3) ch.Sets({1000, 0, 0, 0, 0, 0, 0}, kZero), ch.s.Touch();
  };
  EXPECT_NEAR(ch.Run(0, 0)[2], 500, 1e-6);
  EXPECT_NEAR(ch.Run(0, 0)[2], 1000, 1e-6);
}

// Ell: degrees here, radians in PROJ; Krovak (-westing, -southing) in both, its height ignored; UTM easting
// millions the zone. The other side's options differ, so that a mix-up shows.
TEST(TransformPoint, AgreesWithProjPipelinesThroughRealDatumChanges) {
  const auto grid = [](double x0, double x1, double y0, double y1, double h) {
    std::vector<std::array<double, 3>> pts;
    for (int i = 0; i < 16; ++i) pts.push_back({x0 + (x1 - x0) * (i % 4) / 3, y0 + (y1 - y0) * (i / 4) / 3, h});
    return pts;
  };
  const auto cart = [](const Ell& e, bool inv) { return std::string(" +step") + (inv ? " +inv" : "") + " +proj=cart" + e.Proj(); };
  const auto helmert = [](const ParSet& p) { return " +step " + Helmert(p); };
  const std::string in = "+proj=pipeline +step +inv +proj=", out = " +step +proj=";
  const struct {
    Proj in, out;
    Ell e1, e2;
    ParSet p, q;
    std::vector<std::pair<int, std::string>> options;
    std::string pipeline;
    std::vector<std::array<double, 3>> points;
    double inOffset, outOffset, tolerance;
  } cases[] = {
      {kGKGerm, kUTM, kBessel, kGRS80, kDhdn, kZero, {{opt::kGKBM, "15"}, {opt::kUTMBM2, "15"}, {opt::kUTMma, "0.5"}},
       kDhdnToUtm33, grid(5400000, 5600000, 5250000, 6050000, 150), 0, 33e6, 1e-3},
      {kUTM, kGKGerm, kGRS80, kBessel, kZero, kDhdnReverse,
       {{opt::kUTMBM, "9"}, {opt::kUTMma, "0,9996"}, {opt::kGKBM2, "9"}, {opt::kUTMma2, "0.5"}, {opt::kGKBM, "15"}},
       in + "utm +zone=32" + kGRS80.Proj() + cart(kGRS80, false) + helmert(kDhdnReverse) + cart(kBessel, true) + out +
           "tmerc +lon_0=9 +k=1 +x_0=3500000" + kBessel.Proj(),
       grid(32400000, 32600000, 5300000, 6050000, 80), 32e6, 0, 1e-3},
      {kGKGeneral, kGKGeneral, kKrassowsky, kBessel, kPulkovo, kMgiReverse,
       {{opt::kINmeridian, "16.5"}, {opt::kINeasting, "250000"}, {opt::kINnorthing, "-1000"}, {opt::kINscale, "0.9999"},
        {opt::kOUTmeridian, "16"}, {opt::kOUTeasting, "750000"}, {opt::kOUTnorthing, "100"}, {opt::kOUTscale, "0.9998"}},
       in + "tmerc +lon_0=16.5 +k=0.9999 +x_0=250000 +y_0=-1000" + kKrassowsky.Proj() + cart(kKrassowsky, false) +
           helmert(kPulkovo) + helmert(kMgiReverse) + cart(kBessel, true) + out +
           "tmerc +lon_0=16 +k=0.9998 +x_0=750000 +y_0=100" + kBessel.Proj(),
       grid(160000, 340000, 5200000, 5450000, 300), 0, 0, 1e-3},
      {kEll, kKrovak, kGRS80, kBessel, kZero, kSjtsk, {},
       "+proj=pipeline" + cart(kGRS80, false) + helmert(kSjtsk) + cart(kBessel, true) + out + "krovak" + kBessel.Proj(),
       grid(12.2, 18.9, 48.6, 51.1, 250), 0, 0, kKrovakMetres},
      {kEll, kEll, kBessel, kGRS80, kDhdn, kZero, {}, "+proj=pipeline" + cart(kBessel, false) + helmert(kDhdn) + cart(kGRS80, true),
       {{6.1, 47.3, 0}, {13.4, 52.5, 34.5}, {11.58, 48.14, 2962}}, 0, 0, 1e-9},
      {kKrovak, kEll, kBessel, kGRS80, kSjtsk, kZero, {},
       in + "krovak" + kBessel.Proj() + cart(kBessel, false) + helmert(kSjtsk) + cart(kGRS80, true),
       {{-600000, -1100000, 0}, {-880000, -940000, 1000}, {-440000, -1230000, 0}}, 0, 0, kKrovakDeg},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pipeline);
    Chain ch(c.in, c.out, c.e1, c.e2, c.p, c.q, c.options);
    const double inScale = c.in == kEll ? kDeg : 1, outScale = c.out == kEll ? kDeg : 1;
    for (const auto& p : c.points) {
      const auto q = ProjTrans(c.pipeline, (p[0] - c.inOffset) * inScale, p[1] * inScale, c.in == kKrovak ? 0 : p[2]);
      double first = p[0], second = p[1], height = p[2];
      const PointResult r = TransformPoint(ch.s, first, second, height);
      ASSERT_EQ(r.size, c.out == kEll ? 3u : 2u);
      EXPECT_NEAR(r[0], q[0] / outScale + c.outOffset, c.tolerance) << p[0] << " " << p[1];
      EXPECT_NEAR(r[1], q[1] / outScale, c.tolerance) << p[0] << " " << p[1];
      EXPECT_NEAR(c.out == kEll ? r[2] : 0, c.out == kEll ? q[2] : 0, 1e-3) << p[2];
      EXPECT_EQ(height, p[2]) << "the height variable changes only in translation mode";
    }
  }
}

TEST(TransformPoint, ZonePrefixesKrovakSignsAndBadOptions) {
  // The prefix comes from the configured meridian alone, and is not rounded.
  Chain gk(kGKGerm, kEll, kBessel, kBessel, kZero, kZero, {{opt::kGKBM, "12"}});
  EXPECT_NEAR(gk.Run(4500000, 5500000)[0], 12, 1e-12);
  EXPECT_GT(gk.Run(5500000, 5500000)[0], 25);  // zone 5 read with meridian 12
  EXPECT_NEAR(Chain(kEll, kGKGerm, kBessel, kBessel, kZero, kZero, {{opt::kGKBM2, "10"}}).Run(10, 51)[0],
              10.0 / 3 * 1e6 + 500000, 1e-6);
  for (const auto& [meridian, prefix] : {std::pair{"15", 33e6}, std::pair{"-177", 1e6}, std::pair{"177", 60e6}}) {
    Chain utm(kUTM, kEll, kBessel, kBessel, kZero, kZero, {{opt::kUTMBM, meridian}});
    EXPECT_NEAR(utm.Run(prefix + 500000, 4000000)[0], ParseNumber(meridian), 1e-12) << meridian;
  }
  // Every sign and order of a Krovak point reaches the projection as X > Y > 0.
  const double p = 1043898.6604, q = 743101.0139;
  Chain krovak(kKrovak, kEll, kBessel, kBessel);
  const auto expected = ProjTrans("+proj=krovak +inv" + kBessel.Proj(), -q, -p);
  for (const auto& [a, b] : {std::pair{p, q}, std::pair{-p, -q}, std::pair{q, p}, std::pair{p, -q}, std::pair{-q, p}}) {
    const PointResult r = krovak.Run(a, b);
    EXPECT_LT(std::hypot(r[0] - expected[0] / kDeg, r[1] - expected[1] / kDeg), kKrovakDeg) << a << " " << b;
  }
  // The options of the projections in use fail where they are used; others are not read.
  Chain ch(kGKGerm, kUTM, kBessel, kGRS80, kZero, kZero, {{opt::kINmeridian, "fünf"}, {opt::kOUTscale, ""}, {opt::kUTMma, "x"}});
  EXPECT_EQ(ch.ErrorOf(5500000, 5500000), 0);
  for (const int index : {opt::kGKBM, opt::kUTMBM2, opt::kUTMma2}) {
    const std::string old = ch.s.OptionValues[index];
    ch.s.OptionValues[index] = "1.000,5";
    ch.s.Touch();
    EXPECT_EQ(ch.ErrorOf(5500000, 5500000), errnum::kTypeMismatch) << index;
    ch.s.OptionValues[index] = old;
  }
  for (const Proj in : {kUTM, kGKGeneral}) {
    Chain zero(in, kEll, kGRS80, kGRS80, kZero, kZero, {{opt::kUTMma, "0"}, {opt::kINscale, "0,0"}});
    EXPECT_EQ(zero.ErrorOf(33500000, 5500000), errnum::kDivisionByZero) << in;
  }
}

}  // namespace
}  // namespace pelmo::test
