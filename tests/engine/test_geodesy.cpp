// The geodetic routines against GeographicLib and PROJ: meridian arc,
// Gauss-Krueger, geocentric conversion, seven-parameter transformation,
// arcsine and Krovak.
#include <gtest/gtest.h>
#include <proj.h>

#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/TransverseMercatorExact.hpp>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <tuple>

#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"

namespace {

using namespace pelmo::geotra;

struct Ellipsoid {
  const char* name;  // also names the recorded measurements
  double a;          // semi-major axis (m)
  double e;          // first eccentricity
  /// Flattening, as GeographicLib takes it.
  double f() const { return 1 - std::sqrt(1 - e * e); }
};

constexpr Ellipsoid kBessel{"bessel", 6377397.155, 0.0816968312225275};
constexpr Ellipsoid kGrs80{"grs80", 6378137, 0.0818191910428158};
constexpr std::array<Ellipsoid, 2> kEllipsoids{kBessel, kGrs80};

/// Degrees to radians the way the program converts them (with its pi).
constexpr double Rad(double degrees) { return degrees * kPi / 180; }
constexpr double Dms(double d, double m, double s) { return Rad(d + m / 60 + s / 3600); }
/// Radians to degrees and back for the oracles (true pi).
constexpr double OracleDeg(double radians) { return radians * (180 / std::numbers::pi); }
constexpr double OracleRad(double degrees) { return degrees * (std::numbers::pi / 180); }

/// G(B) from the coefficients.
double MeridianArc(const std::array<double, 6>& c, double B) {
  return c[0] * B - c[1] * std::sin(B + B) + c[2] * std::sin(B * 4) - c[3] * std::sin(B * 6) +
         c[4] * std::sin(B * 8) - c[5] * std::sin(B * 10);
}

std::array<double, 2> Forward(const Ellipsoid& ell, double B, double l) {
  const auto c = MeridianArcCoeffs(ell.a, ell.e);
  return BLToGK(B, l, ell.a, ell.e, c[0], c[1], c[2], c[3], c[4], c[5]);
}

/// Ground distance (m) of a small latitude/longitude difference at latitude B.
double GroundDistance(double dB, double dl, double B) {
  constexpr double kRadius = 6.38e6;
  return std::hypot(dB * kRadius, dl * kRadius * std::cos(B));
}

/// A measured error for the test report, e.g. "4.36e-04".
std::string Sci(double v) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v,
                                    std::chars_format::scientific, 2);
  return std::string(buffer.data(), result.ptr);
}

/// A PROJ operation created from a PROJ string.
class ProjOperation {
 public:
  explicit ProjOperation(const std::string& definition)
      : context_(proj_context_create(), proj_context_destroy),
        op_(proj_create(context_.get(), definition.c_str()), proj_destroy) {}
  bool ok() const { return op_ != nullptr; }
  PJ_COORD Forward(double x, double y, double z = 0) const {
    return proj_trans(op_.get(), PJ_FWD, proj_coord(x, y, z, 0));
  }

 private:
  std::unique_ptr<PJ_CONTEXT, decltype(&proj_context_destroy)> context_;
  std::unique_ptr<PJ, decltype(&proj_destroy)> op_;
};

// ------------------------------------------------------------ meridian arc

TEST(GeodesyMeridianArc, AgreesWithGeographicLibToTheMillimetre) {
  for (const Ellipsoid& ell : kEllipsoids) {
    const auto c = MeridianArcCoeffs(ell.a, ell.e);
    const GeographicLib::Ellipsoid oracle(ell.a, ell.f());
    double maxError = 0;
    for (double deg = 0; deg <= 89; deg += 0.5) {
      const double B = Rad(deg);
      maxError =
          std::max(maxError, std::fabs(MeridianArc(c, B) - oracle.MeridianDistance(OracleDeg(B))));
    }
    EXPECT_LT(maxError, 1e-3) << ell.name;
    RecordProperty(std::string("max_error_m_") + ell.name, Sci(maxError));
  }
}

// On a sphere only c0 = a remains, and Gauss-Krueger is the closed
// transverse Mercator of the sphere.
TEST(GeodesyMeridianArc, SphereHasOnlyTheLinearTermAndTheClosedProjection) {
  const Ellipsoid sphere{"sphere", 6371000, 0};
  const auto c = MeridianArcCoeffs(sphere.a, 0);
  EXPECT_EQ(c[0], sphere.a);
  for (int i = 1; i < 6; ++i) EXPECT_EQ(c[i], 0) << "c" << i;
  for (double deg = -80; deg <= 80; deg += 10) {
    for (double ldeg = -6; ldeg <= 6; ldeg += 1.5) {
      const double B = Rad(deg), l = Rad(ldeg);
      const auto xy = Forward(sphere, B, l);
      EXPECT_NEAR(xy[0], sphere.a * std::atan2(std::tan(B), std::cos(l)), 1e-3);
      EXPECT_NEAR(xy[1], sphere.a * std::atanh(std::cos(B) * std::sin(l)), 1e-3);
    }
  }
}

// ------------------------------------------------------------ Gauss-Krueger

TEST(GeodesyGaussKrueger, ForwardAgreesWithExactTransverseMercator) {
  for (const Ellipsoid& ell : kEllipsoids) {
    const GeographicLib::TransverseMercatorExact oracle(ell.a, ell.f(), 1);
    double maxError = 0;
    for (double deg = -80; deg <= 80; deg += 2.5) {
      for (double ldeg = -6; ldeg <= 6; ldeg += 0.5) {
        double easting = 0, northing = 0;
        oracle.Forward(0, OracleDeg(Rad(deg)), OracleDeg(Rad(ldeg)), easting, northing);
        const auto xy = Forward(ell, Rad(deg), Rad(ldeg));
        maxError = std::max(maxError, std::hypot(xy[0] - northing, xy[1] - easting));
      }
    }
    EXPECT_LT(maxError, 1e-3) << ell.name;
    RecordProperty(std::string("max_error_m_") + ell.name, Sci(maxError));
  }
}

// The inverse series stop at y^4 (latitude) and y^5 (longitude): good to
// the millimetre in a 2-degree strip, to a few millimetres at 3 degrees,
// the edge of a UTM zone. On the central meridian only the footpoint series
// (which stops at n^3, about 3e-11 rad) remains.
TEST(GeodesyGaussKrueger, InverseAgreesWithExactTransverseMercatorWithinItsStrip) {
  for (const Ellipsoid& ell : kEllipsoids) {
    const GeographicLib::TransverseMercatorExact oracle(ell.a, ell.f(), 1);
    for (const auto& [halfWidth, tolerance] : {std::pair{2.0, 1e-3}, std::pair{3.0, 6e-3}}) {
      double maxError = 0;
      for (double deg = -80; deg <= 80; deg += 2.5) {
        for (double ldeg = -halfWidth; ldeg <= halfWidth; ldeg += halfWidth / 4) {
          double easting = 0, northing = 0, lat = 0, lon = 0;
          oracle.Forward(0, deg, ldeg, easting, northing);
          oracle.Reverse(0, easting, northing, lat, lon);
          const auto Bl = GKToBL(northing, easting, ell.a, ell.e);
          maxError = std::max(
              maxError, GroundDistance(Bl[0] - OracleRad(lat), Bl[1] - OracleRad(lon), Bl[0]));
        }
      }
      EXPECT_LT(maxError, tolerance) << ell.name << ", " << halfWidth << " deg";
      RecordProperty(
          std::string("max_error_m_") + ell.name + "_" + std::to_string(int(halfWidth)) + "deg",
          Sci(maxError));
    }
    const GeographicLib::Ellipsoid meridian(ell.a, ell.f());
    for (double deg = -85; deg <= 85; deg += 5) {
      const auto Bl = GKToBL(meridian.MeridianDistance(deg), 0, ell.a, ell.e);
      EXPECT_NEAR(Bl[0], OracleRad(deg), 5e-11) << ell.name << " " << deg;
      EXPECT_EQ(Bl[1], 0);
    }
  }
}

// In a Gauss-Krueger strip the round trip is exact to 0.01 mm. At the edge
// of a UTM zone the truncated inverse puts the point about 2.4 cm north of
// where it started; the longitude stays within millimetres.
TEST(GeodesyGaussKrueger, RoundTrips) {
  {
    const double B = Rad(52.5), l = Rad(1.7);
    const auto xy = Forward(kBessel, B, l);
    const auto Bl = GKToBL(xy[0], xy[1], kBessel.a, kBessel.e);
    EXPECT_LT(GroundDistance(Bl[0] - B, Bl[1] - l, B), 1e-5);
  }
  const double B = Rad(50), l = Rad(4);
  const auto xy = Forward(kGrs80, B, l);
  const auto Bl = GKToBL(xy[0], xy[1], kGrs80.a, kGrs80.e);
  const double north = (Bl[0] - B) * 6.37e6;
  EXPECT_GT(north, 0.015);
  EXPECT_LT(north, 0.035);
  EXPECT_LT(GroundDistance(0, Bl[1] - l, B), 5e-3);
  RecordProperty("north_shift_m", Sci(north));
}

// ------------------------------------------------------------ geocentric

TEST(GeodesyGeocentric, AgreesWithGeographicLibBothWaysAndRoundTrips) {
  for (const Ellipsoid& ell : kEllipsoids) {
    const GeographicLib::Geocentric oracle(ell.a, ell.f());
    double maxXyz = 0, maxAngle = 0, maxHeight = 0, maxTripAngle = 0, maxTripHeight = 0;
    for (double deg = -85; deg <= 85; deg += 5) {
      for (double ldeg = -172.5; ldeg <= 180; ldeg += 15) {
        for (const double h : {-5000.0, 0.0, 300.0, 10000.0, 100000.0}) {
          const double B = Rad(deg), L = Rad(ldeg);
          double X = 0, Y = 0, Z = 0;
          oracle.Forward(OracleDeg(B), OracleDeg(L), h, X, Y, Z);
          const auto xyz = BLHToXYZ(B, L, h, ell.a, ell.e);
          maxXyz = std::max(
              {maxXyz, std::fabs(xyz[0] - X), std::fabs(xyz[1] - Y), std::fabs(xyz[2] - Z)});
          double lat = 0, lon = 0, height = 0;
          oracle.Reverse(X, Y, Z, lat, lon, height);
          const auto blh = XYZToBLH(X, Y, Z, ell.a, ell.e);
          maxAngle = std::max(
              {maxAngle, std::fabs(blh[0] - OracleRad(lat)), std::fabs(blh[1] - OracleRad(lon))});
          maxHeight = std::max(maxHeight, std::fabs(blh[2] - height));
          const auto back = XYZToBLH(xyz[0], xyz[1], xyz[2], ell.a, ell.e);
          maxTripAngle = std::max({maxTripAngle, std::fabs(back[0] - B), std::fabs(back[1] - L)});
          maxTripHeight = std::max(maxTripHeight, std::fabs(back[2] - h));
        }
      }
    }
    EXPECT_LT(maxXyz, 1e-6) << ell.name;
    EXPECT_LT(maxAngle, 1e-12) << ell.name;
    EXPECT_LT(maxHeight, 1e-6) << ell.name;
    EXPECT_LT(maxTripAngle, 1e-12) << ell.name;
    EXPECT_LT(maxTripHeight, 5e-6) << ell.name;
    RecordProperty(std::string("max_xyz_m_") + ell.name, Sci(maxXyz));
    RecordProperty(std::string("max_angle_rad_") + ell.name, Sci(maxAngle));
    RecordProperty(std::string("max_height_m_") + ell.name, Sci(maxHeight));
  }
}

// Next to the plane of the +-90 deg meridians X / cos L would lose the
// height; it comes from Y there.
TEST(GeodesyGeocentric, HeightNextToTheNinetyDegreeMeridians) {
  const GeographicLib::Geocentric oracle(kGrs80.a, kGrs80.f());
  for (const double X : {1000.0, 1.0, 1e-3, 1e-6, -1e-3}) {
    for (const double Y : {4.5e6, -4.5e6}) {
      double lat = 0, lon = 0, h = 0;
      oracle.Reverse(X, Y, 4.5e6, lat, lon, h);
      const auto blh = XYZToBLH(X, Y, 4.5e6, kGrs80.a, kGrs80.e);
      EXPECT_NEAR(blh[1], OracleRad(lon), 1e-14) << X << ", " << Y;
      EXPECT_NEAR(blh[2], h, 1e-6) << X << ", " << Y;
    }
  }
}

// West of the 90-degree meridians (X < 0) L lies in the second or third
// quadrant; on the negative X axis it is the program's pi.
TEST(GeodesyGeocentric, LongitudeQuadrants) {
  for (const auto& [X, Y, tolerance] :
       {std::tuple{-4e6, -3e6, 1e-14}, std::tuple{-4e6, 3e6, 1e-14}, std::tuple{4e6, 3e6, 1e-15}}) {
    EXPECT_NEAR(XYZToBLH(X, Y, 1e6, kGrs80.a, kGrs80.e)[1], std::atan2(Y, X), tolerance)
        << X << ", " << Y;
  }
  EXPECT_EQ(XYZToBLH(-5e6, 0, 1e6, kGrs80.a, kGrs80.e)[1], kPi);
  EXPECT_EQ(XYZToBLH(5e6, 0, 1e6, kGrs80.a, kGrs80.e)[1], 0);
}

// ------------------------------------------------------------ Helmert

constexpr std::array<std::array<double, 3>, 3> kGeocentricPoints{{
    {3974219.56, 847781.649, 4900373.941},
    {4160000.123, 1050000.456, 4700000.789},
    {-2000000.0, 5000000.0, -3000000.0},
}};

TEST(GeodesyHelmert, IdentityScaleTranslationAndOneArcSecondAboutZ) {
  constexpr double kRho = 206264.806247096;  // arc seconds per radian
  for (const auto& p : kGeocentricPoints) {
    const auto same = SevenParTrans(p[0], p[1], p[2], 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(same, p);
    const auto scaled = SevenParTrans(p[0], p[1], p[2], 0, 0, 0, 1, 0, 0, 0);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(scaled[i], p[i] * (1 + 1e-6));
    const auto moved = SevenParTrans(p[0], p[1], p[2], 100, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(moved, (std::array<double, 3>{p[0] + 100, p[1], p[2]}));
    const auto turned = SevenParTrans(p[0], p[1], p[2], 0, 0, 0, 0, 1, 0, 0);
    EXPECT_NEAR(turned[0], p[0] + p[1] / kRho, 1e-4);
    EXPECT_NEAR(turned[1], p[1] - p[0] / kRho, 1e-4);
    EXPECT_EQ(turned[2], p[2]);
  }
  // Coordinate-frame convention: a point on the X axis moves towards -Y.
  EXPECT_LT(SevenParTrans(6378137, 0, 0, 0, 0, 0, 0, 1, 0, 0)[1], -30);
}

// PROJ's helmert step, coordinate-frame convention. PROJ linearises the
// rotation unless +exact is given; with +exact it builds the same matrix
// R3(rz) R2(ry) R1(rx), which the large rotations of the last set would
// expose if the order differed.
TEST(GeodesyHelmert, AgreesWithProjCoordinateFrame) {
  struct Set {
    double dX, dY, dZ, m, gamma, beta, alpha;
  };
  const Set sets[] = {
      {598.1, 73.7, 418.2, 6.7, -2.455, 0.045, 0.202},
      {-570.8, -85.7, -462.8, -3.5, 5.137, -1.474, -4.998},
      {100.0, -200.0, 300.0, 50.0, 1000.0, -2000.0, 3000.0},  // large rotations
  };
  double maxError = 0;
  for (const Set& s : sets) {
    auto f = [](double v) { return pelmo::FormatShortest(v); };
    const ProjOperation helmert("+proj=helmert +x=" + f(s.dX) + " +y=" + f(s.dY) +
                                " +z=" + f(s.dZ) + " +s=" + f(s.m) + " +rx=" + f(s.alpha) +
                                " +ry=" + f(s.beta) + " +rz=" + f(s.gamma) +
                                " +convention=coordinate_frame +exact");
    ASSERT_TRUE(helmert.ok());
    for (const auto& p : kGeocentricPoints) {
      const auto q =
          SevenParTrans(p[0], p[1], p[2], s.dX, s.dY, s.dZ, s.m, s.gamma, s.beta, s.alpha);
      const PJ_COORD o = helmert.Forward(p[0], p[1], p[2]);
      maxError = std::max({maxError, std::fabs(q[0] - o.xyz.x), std::fabs(q[1] - o.xyz.y),
                           std::fabs(q[2] - o.xyz.z)});
    }
  }
  EXPECT_LT(maxError, 1e-4);
  RecordProperty("max_error_m", Sci(maxError));
}

// ------------------------------------------------------------ arcsine

/// Distance between two doubles in units in the last place.
double Ulps(double x, double y) {
  return std::fabs(x - y) / (std::nextafter(std::fabs(y), 10.0) - std::fabs(y));
}

// atan(x / sqrt(1 - x^2)) loses a few bits as |x| nears 1, where 1 - x^2
// cancels; a few ulps of pi/2 are still below 1e-14 rad.
TEST(GeodesyArcSin, AgreesWithStdAsinAndHitsTheEndsExactly) {
  EXPECT_EQ(ArcSin(1.0), kPi / 2);
  EXPECT_EQ(ArcSin(-1.0), -(kPi / 2));
  EXPECT_EQ(ArcSin(0.0), 0.0);
  EXPECT_LE(Ulps(ArcSin(0.5), std::asin(0.5)), 1);
  EXPECT_LE(Ulps(ArcSin(0.8), std::asin(0.8)), 2);
  double maxUlps = 0;
  for (double x = -0.99; x <= 0.99; x += 0.0137) {
    EXPECT_EQ(ArcSin(-x), -ArcSin(x));
    if (x != 0) maxUlps = std::max(maxUlps, Ulps(ArcSin(x), std::asin(x)));
  }
  EXPECT_LE(maxUlps, 4);
  for (const double x : {0.999, 0.99999, 0.9999999, 1 - 1e-15}) {
    EXPECT_NEAR(ArcSin(x), std::asin(x), 1e-14) << x;
  }
}

// ------------------------------------------------------------ Krovak

// EPSG guidance note 7-2, Krovak (method 9819), worked example; the
// projection centre lies on the axis of no westing.
TEST(GeodesyKrovak, EpsgWorkedExampleAndProjectionCentre) {
  const double phi = Dms(50, 12, 32.442), lambda = Dms(16, 50, 59.179);
  const auto xy = BLToKrovak(phi, lambda, kBessel.a, kBessel.e);
  EXPECT_NEAR(xy[0], 1050538.63, 0.01);  // southing
  EXPECT_NEAR(xy[1], 568990.99, 0.01);   // westing
  const auto back = KrovakToBL(xy[0], xy[1], kBessel.a, kBessel.e);
  EXPECT_NEAR(back[0], phi, 1e-12);
  EXPECT_NEAR(back[1], lambda, 1e-12);

  const auto centre = BLToKrovak(Rad(49.5), Dms(24, 50, 0), kBessel.a, kBessel.e);
  EXPECT_NEAR(centre[1], 0, 1e-6);
  EXPECT_GT(centre[0], 1e6);
}

// PROJ fixes the latitude of the cone's pole at 59deg42'42.69689"; this
// program uses 59deg42'42.6968". The 0.00009" tilt of the cone moves the
// southing by about 2.8 mm over the whole area and leaves the westing alone.
// With +czech PROJ returns (westing, southing).
TEST(GeodesyKrovak, AgreesWithProjAndRoundTripsOverTheAreaOfUse) {
  const ProjOperation proj("+proj=krovak +ellps=bessel +czech");
  ASSERT_TRUE(proj.ok());
  double maxSouthing = 0, maxWesting = 0, maxInverse = 0, maxTrip = 0;
  for (double deg = 47; deg <= 52; deg += 0.25) {
    for (double ldeg = 11.5; ldeg <= 23.5; ldeg += 0.5) {
      const double phi = Rad(deg), lambda = Rad(ldeg);
      const auto ours = BLToKrovak(phi, lambda, kBessel.a, kBessel.e);
      EXPECT_GT(ours[0], 0);
      EXPECT_GT(ours[1], 0);
      const PJ_COORD theirs = proj.Forward(lambda, phi);
      maxSouthing = std::max(maxSouthing, std::fabs(ours[0] - theirs.xy.y));
      maxWesting = std::max(maxWesting, std::fabs(ours[1] - theirs.xy.x));
      // The inverse against an independent forward, and our own round trip.
      const auto inv = KrovakToBL(theirs.xy.y, theirs.xy.x, kBessel.a, kBessel.e);
      maxInverse = std::max({maxInverse, std::fabs(inv[0] - phi), std::fabs(inv[1] - lambda)});
      const auto back = KrovakToBL(ours[0], ours[1], kBessel.a, kBessel.e);
      maxTrip = std::max({maxTrip, std::fabs(back[0] - phi), std::fabs(back[1] - lambda)});
    }
  }
  EXPECT_LT(maxSouthing, 4e-3);
  EXPECT_LT(maxWesting, 1e-4);
  EXPECT_LT(maxInverse, 1e-9);  // 4 mm on the ground is 6e-10 rad
  EXPECT_LT(maxTrip, 1e-12);
  RecordProperty("max_southing_m", Sci(maxSouthing));
  RecordProperty("max_westing_m", Sci(maxWesting));
  RecordProperty("max_inverse_of_proj_rad", Sci(maxInverse));
  RecordProperty("max_round_trip_rad", Sci(maxTrip));
}

}  // namespace
