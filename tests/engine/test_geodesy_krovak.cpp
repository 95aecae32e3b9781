// Krovak projection and the arcsine it is built on: the EPSG worked
// example, PROJ's krovak and round trips.
#include <gtest/gtest.h>
#include <proj.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "geotra/geodesy.hpp"

namespace {

using namespace pelmo::geotra;

constexpr double kBesselA = 6377397.155;
constexpr double kBesselE = 0.0816968312225275;

constexpr double Rad(double degrees) { return degrees * kPi / 180; }
constexpr double Dms(double d, double m, double s) { return Rad(d + m / 60 + s / 3600); }

/// Distance between two doubles in units in the last place.
double Ulps(double x, double y) {
  return std::fabs(x - y) / (std::nextafter(std::fabs(y), 10.0) - std::fabs(y));
}

/// A measured error for the test report, e.g. "4.36e-04".
std::string Sci(double v) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v,
                                    std::chars_format::scientific, 2);
  return std::string(buffer.data(), result.ptr);
}

// ------------------------------------------------------------ arcsine

TEST(GeodesyArcSin, EndsOfTheDomainAreExactlyHalfPi) {
  EXPECT_EQ(ArcSin(1.0), kPi / 2);
  EXPECT_EQ(ArcSin(-1.0), -(kPi / 2));
  EXPECT_EQ(ArcSin(0.0), 0.0);
}

TEST(GeodesyArcSin, AgreesWithStdAsin) {
  EXPECT_LE(Ulps(ArcSin(0.5), std::asin(0.5)), 1);  // pi/6
  EXPECT_LE(Ulps(ArcSin(0.8), std::asin(0.8)), 2);
  // atan(x / sqrt(1 - x^2)) loses a few bits as |x| nears 1, where 1 - x^2
  // cancels; a few ulps of pi/2 are still below 1e-14 rad.
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

/// PROJ's Krovak on the Bessel ellipsoid. By default PROJ returns
/// (x, y) = (-westing, -southing): the same negation and exchange that the
/// point chain applies to the output of BLToKrovak. With +czech it returns
/// (westing, southing).
class ProjKrovak {
 public:
  ProjKrovak()
      : context_(proj_context_create()),
        op_(proj_create(context_, "+proj=krovak +ellps=bessel +czech")),
        default_(proj_create(context_, "+proj=krovak +ellps=bessel")) {}
  ~ProjKrovak() {
    if (op_ != nullptr) proj_destroy(op_);
    if (default_ != nullptr) proj_destroy(default_);
    proj_context_destroy(context_);
  }
  ProjKrovak(const ProjKrovak&) = delete;
  ProjKrovak& operator=(const ProjKrovak&) = delete;
  bool ok() const { return op_ != nullptr && default_ != nullptr; }
  /// (southing, westing) of a latitude and a longitude east of Greenwich (rad).
  std::array<double, 2> SouthingWesting(double phi, double lambda) const {
    const PJ_COORD o = proj_trans(op_, PJ_FWD, proj_coord(lambda, phi, 0, 0));
    return {o.xy.y, o.xy.x};
  }
  /// PROJ's default output (x, y) for the same point.
  std::array<double, 2> DefaultXY(double phi, double lambda) const {
    const PJ_COORD o = proj_trans(default_, PJ_FWD, proj_coord(lambda, phi, 0, 0));
    return {o.xy.x, o.xy.y};
  }

 private:
  PJ_CONTEXT* context_;
  PJ* op_;
  PJ* default_;
};

// EPSG guidance note 7-2, Krovak (method 9819), worked example.
TEST(GeodesyKrovak, EpsgWorkedExample) {
  const double phi = Dms(50, 12, 32.442), lambda = Dms(16, 50, 59.179);
  const auto xy = BLToKrovak(phi, lambda, kBesselA, kBesselE);
  EXPECT_NEAR(xy[0], 1050538.63, 0.01);  // southing
  EXPECT_NEAR(xy[1], 568990.99, 0.01);   // westing
  const auto back = KrovakToBL(xy[0], xy[1], kBesselA, kBesselE);
  EXPECT_NEAR(back[0], phi, 1e-12);
  EXPECT_NEAR(back[1], lambda, 1e-12);
}

TEST(GeodesyKrovak, ProjectionCentreHasNoWesting) {
  const auto xy = BLToKrovak(Rad(49.5), Dms(24, 50, 0), kBesselA, kBesselE);
  EXPECT_NEAR(xy[1], 0, 1e-6);
  EXPECT_GT(xy[0], 1e6);
}

// PROJ fixes the latitude of the cone's pole at 59deg42'42.69689"; this
// program uses 59deg42'42.6968". The 0.00009" tilt of the cone moves the
// southing by about 2.8 mm over the whole area and leaves the westing alone.
TEST(GeodesyKrovak, AgreesWithProj) {
  const ProjKrovak proj;
  ASSERT_TRUE(proj.ok());
  double maxSouthing = 0, maxWesting = 0, maxInverse = 0;
  for (double deg = 47.5; deg <= 51.5; deg += 0.5) {
    for (double ldeg = 12; ldeg <= 23; ldeg += 1) {
      const double phi = Rad(deg), lambda = Rad(ldeg);
      const auto ours = BLToKrovak(phi, lambda, kBesselA, kBesselE);
      const auto theirs = proj.SouthingWesting(phi, lambda);
      maxSouthing = std::max(maxSouthing, std::fabs(ours[0] - theirs[0]));
      maxWesting = std::max(maxWesting, std::fabs(ours[1] - theirs[1]));
      // The inverse against an independent forward.
      const auto back = KrovakToBL(theirs[0], theirs[1], kBesselA, kBesselE);
      maxInverse = std::max({maxInverse, std::fabs(back[0] - phi), std::fabs(back[1] - lambda)});
      const auto plain = proj.DefaultXY(phi, lambda);
      EXPECT_NEAR(plain[0], -theirs[1], 1e-6);
      EXPECT_NEAR(plain[1], -theirs[0], 1e-6);
    }
  }
  EXPECT_LT(maxSouthing, 4e-3);
  EXPECT_LT(maxWesting, 1e-4);
  EXPECT_LT(maxInverse, 1e-9);  // 4 mm on the ground is 6e-10 rad
  RecordProperty("max_inverse_of_proj_rad", Sci(maxInverse));
  RecordProperty("max_southing_m", Sci(maxSouthing));
  RecordProperty("max_westing_m", Sci(maxWesting));
}

TEST(GeodesyKrovak, RoundTripOverTheAreaOfUse) {
  double maxError = 0;
  for (double deg = 47; deg <= 52; deg += 0.25) {
    for (double ldeg = 11.5; ldeg <= 23.5; ldeg += 0.5) {
      const double phi = Rad(deg), lambda = Rad(ldeg);
      const auto xy = BLToKrovak(phi, lambda, kBesselA, kBesselE);
      EXPECT_GT(xy[0], 0);
      EXPECT_GT(xy[1], 0);
      const auto back = KrovakToBL(xy[0], xy[1], kBesselA, kBesselE);
      maxError = std::max({maxError, std::fabs(back[0] - phi), std::fabs(back[1] - lambda)});
    }
  }
  EXPECT_LT(maxError, 1e-12);
  RecordProperty("max_error_rad", Sci(maxError));
}

}  // namespace
