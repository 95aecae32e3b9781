// Meridian arc, Gauss-Krueger projection, geocentric conversion and the
// seven-parameter transformation against GeographicLib and PROJ.
#include <gtest/gtest.h>
#include <proj.h>

#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/TransverseMercatorExact.hpp>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <numbers>
#include <string>

#include "geotra/geodesy.hpp"

namespace {

using namespace pelmo::geotra;

struct Ellipsoid {
  const char* name;
  const char* id;  // for the names of recorded measurements
  double a;        // semi-major axis (m)
  double e;        // first eccentricity
  /// Flattening, as GeographicLib takes it.
  double f() const { return 1 - std::sqrt(1 - e * e); }
};

constexpr Ellipsoid kBessel{"Bessel 1841", "bessel", 6377397.155, 0.0816968312225275};
constexpr Ellipsoid kGrs80{"GRS80", "grs80", 6378137, 0.0818191910428158};
constexpr std::array<Ellipsoid, 2> kEllipsoids{kBessel, kGrs80};

/// Degrees to radians the way the program converts them (with its pi).
constexpr double Rad(double degrees) { return degrees * kPi / 180; }
/// The same angle in degrees for the oracles (true pi).
constexpr double OracleDeg(double radians) { return radians * (180 / std::numbers::pi); }

/// G(B) from the coefficients, as BLToGK sums it.
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
    RecordProperty(std::string("max_error_m_") + ell.id, Sci(maxError));
  }
}

TEST(GeodesyMeridianArc, SphereHasOnlyTheLinearTerm) {
  const auto c = MeridianArcCoeffs(6371000, 0);
  EXPECT_EQ(c[0], 6371000);
  for (int i = 1; i < 6; ++i) EXPECT_EQ(c[i], 0) << "c" << i;
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
    RecordProperty(std::string("max_error_m_") + ell.id, Sci(maxError));
  }
}

// The inverse series stop at y^4 (latitude) and y^5 (longitude): good to
// the millimetre in a 2-degree Gauss-Krueger strip, to a few millimetres
// at 3 degrees, the edge of a UTM zone.
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
          maxError =
              std::max(maxError, GroundDistance(Bl[0] - lat * std::numbers::pi / 180,
                                                Bl[1] - lon * std::numbers::pi / 180, Bl[0]));
        }
      }
      EXPECT_LT(maxError, tolerance) << ell.name << ", " << halfWidth << " deg";
      RecordProperty(
          std::string("max_error_m_") + ell.id + "_" + std::to_string(int(halfWidth)) + "deg",
          Sci(maxError));
    }
  }
}

TEST(GeodesyGaussKrueger, CentralMeridianIsTheMeridianArc) {
  for (const Ellipsoid& ell : kEllipsoids) {
    const auto c = MeridianArcCoeffs(ell.a, ell.e);
    const GeographicLib::Ellipsoid oracle(ell.a, ell.f());
    for (double deg = -85; deg <= 85; deg += 5) {
      const auto xy = Forward(ell, Rad(deg), 0);
      EXPECT_EQ(xy[0], MeridianArc(c, Rad(deg)));
      EXPECT_EQ(xy[1], 0);
      // Footpoint latitude: the series in n stops at n^3 (about 3e-11 rad).
      const double x = oracle.MeridianDistance(deg);
      const auto Bl = GKToBL(x, 0, ell.a, ell.e);
      EXPECT_NEAR(Bl[0], deg * std::numbers::pi / 180, 5e-11) << ell.name << " " << deg;
      EXPECT_EQ(Bl[1], 0);
    }
    const auto origin = Forward(ell, 0, 0);
    EXPECT_EQ(origin[0], 0);
    EXPECT_EQ(origin[1], 0);
  }
}

TEST(GeodesyGaussKrueger, WestOfTheCentralMeridianMirrorsEast) {
  for (const double deg : {-60.0, 0.0, 47.3, 54.9}) {
    const auto east = Forward(kBessel, Rad(deg), Rad(2.25));
    const auto west = Forward(kBessel, Rad(deg), Rad(-2.25));
    EXPECT_EQ(west[0], east[0]);
    EXPECT_EQ(west[1], -east[1]);
    const auto Be = GKToBL(east[0], east[1], kBessel.a, kBessel.e);
    const auto Bw = GKToBL(east[0], -east[1], kBessel.a, kBessel.e);
    EXPECT_EQ(Bw[0], Be[0]);
    EXPECT_EQ(Bw[1], -Be[1]);
    EXPECT_LT(Bw[1], 0);
  }
}

TEST(GeodesyGaussKrueger, RoundTripInAGaussKruegerStrip) {
  const double B = Rad(52.5), l = Rad(1.7);
  const auto xy = Forward(kBessel, B, l);
  const auto Bl = GKToBL(xy[0], xy[1], kBessel.a, kBessel.e);
  EXPECT_LT(GroundDistance(Bl[0] - B, Bl[1] - l, B), 1e-5);
}

// At the edge of a UTM zone the truncated inverse puts the point about
// 2.4 cm north of where it started; the longitude stays within millimetres.
TEST(GeodesyGaussKrueger, RoundTripAtTheEdgeOfAUtmZone) {
  const double B = Rad(50), l = Rad(4);
  const auto xy = Forward(kGrs80, B, l);
  const auto Bl = GKToBL(xy[0], xy[1], kGrs80.a, kGrs80.e);
  const double north = (Bl[0] - B) * 6.37e6;
  EXPECT_GT(north, 0.015);
  EXPECT_LT(north, 0.035);
  EXPECT_LT(GroundDistance(0, Bl[1] - l, B), 5e-3);
  RecordProperty("north_shift_m", Sci(north));
}

TEST(GeodesyGaussKrueger, SphereAgreesWithClosedFormulas) {
  const Ellipsoid sphere{"sphere", "sphere", 6371000, 0};
  for (double deg = -80; deg <= 80; deg += 10) {
    for (double ldeg = -6; ldeg <= 6; ldeg += 1.5) {
      const double B = Rad(deg), l = Rad(ldeg);
      const auto xy = Forward(sphere, B, l);
      EXPECT_NEAR(xy[0], sphere.a * std::atan2(std::tan(B), std::cos(l)), 1e-3);
      EXPECT_NEAR(xy[1], sphere.a * std::atanh(std::cos(B) * std::sin(l)), 1e-3);
    }
  }
}

// ------------------------------------------------------------ geocentric

TEST(GeodesyGeocentric, AgreesWithGeographicLibBothWays) {
  for (const Ellipsoid& ell : kEllipsoids) {
    const GeographicLib::Geocentric oracle(ell.a, ell.f());
    double maxXyz = 0, maxAngle = 0, maxHeight = 0;
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
          maxAngle = std::max({maxAngle, std::fabs(blh[0] - lat * std::numbers::pi / 180),
                               std::fabs(blh[1] - lon * std::numbers::pi / 180)});
          maxHeight = std::max(maxHeight, std::fabs(blh[2] - height));
        }
      }
    }
    EXPECT_LT(maxXyz, 1e-6) << ell.name;
    EXPECT_LT(maxAngle, 1e-12) << ell.name;
    EXPECT_LT(maxHeight, 1e-6) << ell.name;
    RecordProperty(std::string("max_xyz_m_") + ell.id, Sci(maxXyz));
    RecordProperty(std::string("max_angle_rad_") + ell.id, Sci(maxAngle));
    RecordProperty(std::string("max_height_m_") + ell.id, Sci(maxHeight));
  }
}

TEST(GeodesyGeocentric, RoundTrip) {
  for (const Ellipsoid& ell : kEllipsoids) {
    const double B = Rad(51), L = Rad(13), h = 300;
    const auto xyz = BLHToXYZ(B, L, h, ell.a, ell.e);
    const auto blh = XYZToBLH(xyz[0], xyz[1], xyz[2], ell.a, ell.e);
    EXPECT_NEAR(blh[0], B, 1e-12);
    EXPECT_NEAR(blh[1], L, 1e-12);
    EXPECT_NEAR(blh[2], h, 5e-6);
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
      EXPECT_NEAR(blh[1], lon * std::numbers::pi / 180, 1e-14) << X << ", " << Y;
      EXPECT_NEAR(blh[2], h, 1e-6) << X << ", " << Y;
    }
  }
}

TEST(GeodesyGeocentric, LongitudeQuadrants) {
  const double a = kGrs80.a, e = kGrs80.e;
  const double Z = 1000000;
  const double southWest = XYZToBLH(-4000000, -3000000, Z, a, e)[1];
  EXPECT_GT(southWest, -kPi);
  EXPECT_LT(southWest, -kPi / 2);
  EXPECT_NEAR(southWest, std::atan2(-3000000.0, -4000000.0), 1e-14);
  const double northWest = XYZToBLH(-4000000, 3000000, Z, a, e)[1];
  EXPECT_GT(northWest, kPi / 2);
  EXPECT_LT(northWest, kPi);
  EXPECT_NEAR(northWest, std::atan2(3000000.0, -4000000.0), 1e-14);
  EXPECT_EQ(XYZToBLH(-5000000, 0, Z, a, e)[1], kPi);
  EXPECT_EQ(XYZToBLH(5000000, 0, Z, a, e)[1], 0);
  const double east = XYZToBLH(4000000, 3000000, Z, a, e)[1];
  EXPECT_NEAR(east, std::atan2(3000000.0, 4000000.0), 1e-15);
}

// ------------------------------------------------------------ Helmert

constexpr std::array<std::array<double, 3>, 3> kGeocentricPoints{{
    {3974219.56, 847781.649, 4900373.941},
    {4160000.123, 1050000.456, 4700000.789},
    {-2000000.0, 5000000.0, -3000000.0},
}};

TEST(GeodesyHelmert, ZeroParametersAreTheIdentity) {
  for (const auto& p : kGeocentricPoints) {
    const auto q = SevenParTrans(p[0], p[1], p[2], 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(q[0], p[0]);
    EXPECT_EQ(q[1], p[1]);
    EXPECT_EQ(q[2], p[2]);
  }
}

TEST(GeodesyHelmert, ScaleAndTranslation) {
  for (const auto& p : kGeocentricPoints) {
    const auto scaled = SevenParTrans(p[0], p[1], p[2], 0, 0, 0, 1, 0, 0, 0);
    for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(scaled[i], p[i] * (1 + 1e-6));
    const auto moved = SevenParTrans(p[0], p[1], p[2], 100, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(moved[0], p[0] + 100);
    EXPECT_EQ(moved[1], p[1]);
    EXPECT_EQ(moved[2], p[2]);
  }
}

TEST(GeodesyHelmert, OneArcSecondAboutZ) {
  constexpr double kRho = 206264.806247096;
  for (const auto& p : kGeocentricPoints) {
    const auto q = SevenParTrans(p[0], p[1], p[2], 0, 0, 0, 0, 1, 0, 0);
    EXPECT_NEAR(q[0], p[0] + p[1] / kRho, 1e-4);
    EXPECT_NEAR(q[1], p[1] - p[0] / kRho, 1e-4);
    EXPECT_EQ(q[2], p[2]);
  }
  // Coordinate-frame convention: a point on the X axis moves towards -Y.
  EXPECT_LT(SevenParTrans(6378137, 0, 0, 0, 0, 0, 0, 1, 0, 0)[1], -30);
}

/// A PROJ operation created from a PROJ string, destroyed with its context.
class ProjOperation {
 public:
  explicit ProjOperation(const std::string& definition)
      : context_(proj_context_create()), op_(proj_create(context_, definition.c_str())) {}
  ~ProjOperation() {
    if (op_ != nullptr) proj_destroy(op_);
    proj_context_destroy(context_);
  }
  ProjOperation(const ProjOperation&) = delete;
  ProjOperation& operator=(const ProjOperation&) = delete;
  bool ok() const { return op_ != nullptr; }
  PJ_COORD Forward(double x, double y, double z) const {
    return proj_trans(op_, PJ_FWD, proj_coord(x, y, z, 0));
  }

 private:
  PJ_CONTEXT* context_;
  PJ* op_;
};

std::string Number(double v) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
  return std::string(buffer.data(), result.ptr);
}

// PROJ's helmert step, coordinate-frame convention. PROJ linearises the
// rotation unless +exact is given (a difference of some millimetres at the
// Earth's surface for rotations of a few arc seconds); with +exact it builds
// the same matrix R3(rz) R2(ry) R1(rx), which the large rotations of the
// last set would expose if the order differed.
TEST(GeodesyHelmert, AgreesWithProjCoordinateFrame) {
  struct Set {
    double dX, dY, dZ, m, gamma, beta, alpha;
  };
  const Set sets[] = {
      {598.1, 73.7, 418.2, 6.7, -2.455, 0.045, 0.202},        // DHDN -> ETRS89
      {-570.8, -85.7, -462.8, -3.5, 5.137, -1.474, -4.998},   // S-JTSK -> WGS84 style
      {100.0, -200.0, 300.0, 50.0, 1000.0, -2000.0, 3000.0},  // large rotations
  };
  double maxError = 0;
  for (const Set& s : sets) {
    const ProjOperation helmert("+proj=helmert +x=" + Number(s.dX) + " +y=" + Number(s.dY) +
                                " +z=" + Number(s.dZ) + " +s=" + Number(s.m) +
                                " +rx=" + Number(s.alpha) + " +ry=" + Number(s.beta) +
                                " +rz=" + Number(s.gamma) + " +convention=coordinate_frame +exact");
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

}  // namespace
