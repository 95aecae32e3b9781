// The geodetic routines against GeographicLib, PROJ and EPSG; the fault of each degenerate input; the self-test.
#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/TransverseMercatorExact.hpp>
#include <cfenv>
#include <limits>
#include <sstream>

#include "geodesy/selftest.hpp"
#include "test_support.hpp"

namespace pelmo::geotra {
namespace {

struct Ellipsoid { double a, e; double f() const { return 1 - std::sqrt(1 - e * e); } };
constexpr Ellipsoid kBessel{6377397.155, 0.0816968312225275}, kGrs80{6378137, 0.0818191910428158};
constexpr double kA = kGrs80.a, kE = kGrs80.e;

/// Degrees to radians with the program's pi; for the oracles with the true one.
constexpr double Rad(double deg) { return deg * kPi / 180; }
constexpr double OracleDeg(double rad) { return rad * (180 / std::numbers::pi); }
constexpr double OracleRad(double deg) { return deg * (std::numbers::pi / 180); }

TEST(Geodesy, MeridianArcAndGaussKruegerAgreeWithGeographicLib) {
  for (const Ellipsoid& ell : {kBessel, kGrs80}) {
    const auto c = MeridianArcCoeffs(ell.a, ell.e);
    const GeographicLib::Ellipsoid meridian(ell.a, ell.f());
    const GeographicLib::TransverseMercatorExact tm(ell.a, ell.f(), 1);
    for (double deg = -80; deg <= 80; deg += 2.5) {
      const double B = Rad(deg);
      const double G = c[0] * B - c[1] * std::sin(2 * B) + c[2] * std::sin(4 * B) - c[3] * std::sin(6 * B) +
                       c[4] * std::sin(8 * B) - c[5] * std::sin(10 * B);
      EXPECT_NEAR(G, meridian.MeridianDistance(OracleDeg(B)), 1e-3) << deg;
      EXPECT_NEAR(GKToBL(meridian.MeridianDistance(deg), 0, ell.a, ell.e)[0], OracleRad(deg), 5e-11) << deg;
      // Forward to 6 degrees; the inverse series stop at y^4, y^5: 1 mm to 2 degrees, 6 mm at 3.
      for (double ldeg = -6; ldeg <= 6; ldeg += 0.5) {
        double east = 0, north = 0, lat = 0, lon = 0;
        tm.Forward(0, OracleDeg(B), OracleDeg(Rad(ldeg)), east, north);
        const auto xy = BLToGK(B, Rad(ldeg), ell.a, ell.e, c[0], c[1], c[2], c[3], c[4], c[5]);
        EXPECT_LT(std::hypot(xy[0] - north, xy[1] - east), 1e-3) << deg << " " << ldeg;
        if (std::fabs(ldeg) > 3) continue;
        tm.Reverse(0, east, north, lat, lon);
        const auto Bl = GKToBL(north, east, ell.a, ell.e);
        const double ground = std::hypot(Bl[0] - OracleRad(lat), (Bl[1] - OracleRad(lon)) * std::cos(B)) * 6.38e6;
        EXPECT_LT(ground, std::fabs(ldeg) <= 2 ? 1e-3 : 6e-3) << deg << " " << ldeg;
      }
    }
  }
}

TEST(Geodesy, GeocentricAgreesWithGeographicLibBothWays) {
  for (const Ellipsoid& ell : {kBessel, kGrs80}) {
    const GeographicLib::Geocentric oracle(ell.a, ell.f());
    for (double deg = -85; deg <= 85; deg += 5) {
      for (double ldeg = -172.5; ldeg <= 180; ldeg += 15) {
        for (const double h : {-5000.0, 0.0, 100000.0}) {
          double X = 0, Y = 0, Z = 0, lat = 0, lon = 0, height = 0;
          oracle.Forward(OracleDeg(Rad(deg)), OracleDeg(Rad(ldeg)), h, X, Y, Z);
          const auto xyz = BLHToXYZ(Rad(deg), Rad(ldeg), h, ell.a, ell.e);
          EXPECT_LT(std::hypot(xyz[0] - X, xyz[1] - Y, xyz[2] - Z), 1e-6) << deg << " " << ldeg;
          oracle.Reverse(X, Y, Z, lat, lon, height);
          const auto blh = XYZToBLH(X, Y, Z, ell.a, ell.e);
          EXPECT_LT(std::hypot(blh[0] - OracleRad(lat), blh[1] - OracleRad(lon)), 1e-12) << deg << " " << ldeg;
          EXPECT_NEAR(blh[2], height, 1e-6) << deg << " " << ldeg;
        }
      }
    }
  }
  // Next to the plane of the +-90 deg meridians the height comes from Y.
  for (const double X : {1000.0, 1e-3, 1e-6, -1e-3}) {
    for (const double Y : {4.5e6, -4.5e6}) {
      double lat = 0, lon = 0, h = 0;
      GeographicLib::Geocentric(kA, kGrs80.f()).Reverse(X, Y, 4.5e6, lat, lon, h);
      const auto blh = XYZToBLH(X, Y, 4.5e6, kA, kE);
      EXPECT_NEAR(blh[1], OracleRad(lon), 1e-14) << X << " " << Y;
      EXPECT_NEAR(blh[2], h, 1e-6) << X << " " << Y;
    }
  }
}

// PROJ's exact helmert, R3(rz) R2(ry) R1(rx) (the large last set exposes the order); arcsine against std::asin.
TEST(Geodesy, HelmertAgreesWithProjAndArcSinWithStdAsin) {
  for (const std::array<double, 7>& s : {std::array<double, 7>{598.1, 73.7, 418.2, 6.7, -2.455, 0.045, 0.202},
                                         {-570.8, -85.7, -462.8, -3.5, 5.137, -1.474, -4.998},
                                         {100, -200, 300, 50, 1000, -2000, 3000}}) {
    for (const std::array<double, 3>& p : {std::array<double, 3>{3974219.56, 847781.649, 4900373.941}, {-2e6, 5e6, -3e6}}) {
      const auto q = SevenParTrans(p[0], p[1], p[2], s[0], s[1], s[2], s[3], s[4], s[5], s[6]);
      const auto o = test::ProjTrans(test::Helmert(s), p[0], p[1], p[2]);
      EXPECT_LT(std::hypot(q[0] - o[0], q[1] - o[1], q[2] - o[2]), 1e-4) << s[6];
    }
  }
  EXPECT_EQ(ArcSin(1.0), kPi / 2);
  EXPECT_EQ(ArcSin(-1.0), -(kPi / 2));
  for (double x = -0.999; x <= 1; x += 0.0137) EXPECT_NEAR(ArcSin(x), std::asin(x), 1e-15) << x;
  for (const double x : {0.99999, 1 - 1e-15}) EXPECT_NEAR(ArcSin(x), std::asin(x), 1e-14) << x;
}

// EPSG guidance note 7-2's Krovak example, and PROJ over the area (its cone pole 59deg42'42.69689", ours
// 59deg42'42.6968": up to 3 mm).
TEST(Geodesy, KrovakAgreesWithEpsgAndProj) {
  const auto xy = BLToKrovak(Rad(50 + 12.0 / 60 + 32.442 / 3600), Rad(16 + 50.0 / 60 + 59.179 / 3600), kBessel.a, kBessel.e);
  EXPECT_NEAR(xy[0], 1050538.63, 0.01);  // southing
  EXPECT_NEAR(xy[1], 568990.99, 0.01);   // westing
  for (double deg = 47; deg <= 52; deg += 0.5) {
    for (double ldeg = 11.5; ldeg <= 23.5; ldeg += 1) {
      const double B = Rad(deg), L = Rad(ldeg);
      const auto ours = BLToKrovak(B, L, kBessel.a, kBessel.e);
      const auto theirs = test::ProjTrans("+proj=krovak +ellps=bessel +czech", L, B);
      EXPECT_NEAR(ours[0], theirs[1], 4e-3) << deg << " " << ldeg;
      EXPECT_NEAR(ours[1], theirs[0], 1e-4) << deg << " " << ldeg;
      const auto inv = KrovakToBL(theirs[1], theirs[0], kBessel.a, kBessel.e);
      EXPECT_LT(std::hypot(inv[0] - B, inv[1] - L), 1e-9) << deg << " " << ldeg;
      const auto back = KrovakToBL(ours[0], ours[1], kBessel.a, kBessel.e);
      EXPECT_LT(std::hypot(back[0] - B, back[1] - L), 1e-12) << deg << " " << ldeg;
    }
  }
}

/// How a call ends: "result" or the kind of fault it raised.
std::string Outcome(const std::function<void()>& call) {
  try { call(); } catch (const FloatingPointFault& fault) {
    return std::array{"division by zero", "overflow", "invalid operation", "invalid argument"}[static_cast<int>(fault.kind())];
  }
  return "result";
}

TEST(Geodesy, FaultOfEachDegenerateInput) {
  const auto c = MeridianArcCoeffs(kA, kE);
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[] { MeridianArcCoeffs(0, kE); }, "division by zero"}, {[] { MeridianArcCoeffs(kA, 1); }, "division by zero"},
      {[] { MeridianArcCoeffs(kA, 1.2); }, "invalid argument"}, {[] { XYZToBLH(0, 0, 0, kA, kE); }, "division by zero"},
      {[] { XYZToBLH(-0.0, 0, -6356752.3, kA, kE); }, "division by zero"},
      {[] { ArcSin(std::nextafter(1.0, 2.0)); }, "invalid argument"},
      {[] { ArcSin(-1e300); }, "overflow"},  // x * x overflows first
      {[] { ArcSin(kNaN); }, "invalid operation"}, {[] { BLHToXYZ(Rad(50), Rad(10), 0, kA, 1.5); }, "invalid argument"},
      {[&] { BLToGK(Rad(50), Rad(1), kA, 1, c[0], c[1], c[2], c[3], c[4], c[5]); }, "division by zero"},
      {[] { GKToBL(5.5e6, 1e5, kA, 1.5); }, "invalid argument"}, {[] { BLToKrovak(Rad(50), Rad(15), kA, 1); }, "division by zero"},
      {[] { KrovakToBL(1e6, 5e5, kA, 1.5); }, "invalid argument"}, {[] { KrovakToBL(0, 5e5, kA, kE); }, "division by zero"},
      // An overflow is reported even where a later step makes the value finite.
      {[] { MeridianArcCoeffs(1e200, kE); }, "overflow"}, {[] { XYZToBLH(1e200, 1e200, 1e200, kA, kE); }, "overflow"},
      {[] { SevenParTrans(1e308, 1e308, 1e308, 0, 0, 0, 1e6, 0, 0, 0); }, "overflow"},
      {[&] { BLToGK(Rad(50), 1e40, kA, kE, c[0], c[1], c[2], c[3], c[4], c[5]); }, "overflow"},
      {[] { BLToKrovak(-1.6, Rad(15), kA, kE); }, "invalid argument"},  // beyond the pole: a negative power base
      // At p = a e^2 in the equatorial plane the iteration creeps; the cap ends it.
      {[] { XYZToBLH(kA * kE * kE, 0, 1e-6, kA, kE); }, "invalid operation"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(Outcome(cases[i].first), cases[i].second) << "case " << i;
  // Extreme and non-finite arguments end in a fault or in finite values.
  const double values[] = {0, -0.0, 1, -1, 1e-300, kA, -kA, 1e300, -1e300, std::numeric_limits<double>::infinity(), kNaN};
  const auto finite = [](auto call) {
    try { for (const double v : call()) if (!std::isfinite(v)) return false; } catch (const FloatingPointFault&) {}
    return true;
  };
  for (const double x : values) {
    for (const double y : values) {
      EXPECT_TRUE(finite([&] { return KrovakToBL(x, y, kA, kE); }) && finite([&] { return BLToKrovak(x, y, kA, kE); }) &&
                  finite([&] { return GKToBL(x, y, kA, kE); }) && finite([&] { return MeridianArcCoeffs(x, y); }))
          << x << " " << y;
      for (const double z : values) {
        EXPECT_TRUE(finite([&] { return XYZToBLH(x, y, z, kA, kE); }) && finite([&] { return BLHToXYZ(x, y, z, kA, kE); }))
            << x << " " << y << " " << z;
      }
    }
  }
  // Flags other code left behind are not the next routine's faults.
  const auto clean = XYZToBLH(3974219.56, 847781.649, 4900373.941, kA, kE);
  std::feraiseexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID);
  EXPECT_EQ(XYZToBLH(3974219.56, 847781.649, 4900373.941, kA, kE), clean);
  std::feraiseexcept(FE_OVERFLOW);
  EXPECT_EQ(Outcome([] { XYZToBLH(0, 0, 0, kA, kE); }), "division by zero");
}

// The self-test records (a stream that would write decimal commas) against GeographicLib.
TEST(Geodesy, SelfTestRecordsAgreeWithGeographicLib) {
  struct Comma : std::numpunct<char> { char do_decimal_point() const override { return ','; } };
  std::ostringstream out;
  out.imbue(std::locale(std::locale::classic(), new Comma));
  WriteSelfTest(out);
  std::istringstream in(out.str());
  std::vector<double> v;
  for (double x = 0; in >> x;) v.push_back(x), in.ignore(1);
  ASSERT_EQ(v.size(), 24u) << out.str();
  ASSERT_EQ(test::SplitCrLf(out.str()).size(), 8u);
  double lat = 0, lon = 0, h = 0, east = 0, north = 0;
  GeographicLib::Geocentric(kA, Ellipsoid{kA, 0.081819191310869}.f()).Reverse(v[1], v[2], v[3], lat, lon, h);
  const double f = Ellipsoid{kA, 0.081819191042816}.f(), B = 158.71867002510925 / 180, l = 0.1315072807629674 / 180;
  GeographicLib::TransverseMercatorExact(kA, f, 1).Forward(0, OracleDeg(B), OracleDeg(l), east, north);
  const double want[24] = {std::asin(0.8), 3974219.56, 847781.649, 4900373.941, lat, lon, h, 3974219.56, 847781.649, 4900373.941,
                           GeographicLib::Ellipsoid(kA, f).QuarterMeridian() / (std::numbers::pi / 2), v[11], v[12], v[13], v[14],
                           v[15], north, east + 4500000, 6378137, 0.081819191042816, 50.5217217909352, 0.041860067572, B,
                           12.041860067572};
  const double tolerance[24] = {1e-15, 0, 0, 0, 1e-10, 1e-10, 1e-6, 1e-5, 1e-5, 1e-5, 1e-5, 0, 0, 0, 0, 0, 1e-3, 1e-3, 0, 0, 0, 0, 1e-10,
                                1e-9};
  for (std::size_t i = 0; i < 24; ++i) EXPECT_NEAR(v[i], want[i], tolerance[i]) << "value " << i;
  const double G = v[10] * B - v[11] * std::sin(2 * B) + v[12] * std::sin(4 * B) - v[13] * std::sin(6 * B) +
                   v[14] * std::sin(8 * B) - v[15] * std::sin(10 * B);
  EXPECT_NEAR(G, GeographicLib::Ellipsoid(kA, f).MeridianDistance(OracleDeg(B)), 1e-3);
}

}  // namespace
}  // namespace pelmo::geotra
