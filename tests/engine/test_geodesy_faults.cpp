// Floating-point faults of the geodetic routines: the kind raised for each
// degenerate input, no NaN or infinity ever returned, no endless iteration,
// no fault reported for a flag that other code left behind.
#include <gtest/gtest.h>

#include <array>
#include <cfenv>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <string>

#include "geotra/errors.hpp"
#include "geotra/geodesy.hpp"

namespace {

using namespace pelmo::geotra;
using pelmo::FaultKind;
using pelmo::FloatingPointFault;

constexpr double kA = 6378137;
constexpr double kE = 0.0818191910428158;  // GRS80

constexpr double Rad(double degrees) { return degrees * kPi / 180; }

/// How a call ends: "result" or the kind of fault it raised.
template <class Call>
std::string Outcome(Call&& call) {
  try {
    call();
  } catch (const FloatingPointFault& fault) {
    switch (fault.kind()) {
      case FaultKind::kDivisionByZero:
        return "division by zero";
      case FaultKind::kOverflow:
        return "overflow";
      case FaultKind::kInvalidOperation:
        return "invalid operation";
      case FaultKind::kInvalidArgument:
        return "invalid argument";
    }
    return "unknown fault";
  }
  return "result";
}

/// The call either raises a FloatingPointFault or returns finite values;
/// any other exception fails the test. `what` names the call in a failure.
template <class Call>
void ExpectFiniteOrFault(const char* what, std::initializer_list<double> args, Call&& call) {
  try {
    const auto result = call();
    for (const double v : result) {
      if (!std::isfinite(v)) {
        std::ostringstream message;
        message << what << '(';
        for (const double arg : args) message << arg << ' ';
        message << ") returned " << v;
        ADD_FAILURE() << message.str();
        return;
      }
    }
  } catch (const FloatingPointFault&) {
  }
}

const std::array<double, 15> kExtremeValues{0.0,
                                            -0.0,
                                            1.0,
                                            -1.0,
                                            1e-300,
                                            std::numeric_limits<double>::denorm_min(),
                                            6378137.0,
                                            -6378137.0,
                                            1e300,
                                            -1e300,
                                            std::numeric_limits<double>::max(),
                                            std::numeric_limits<double>::lowest(),
                                            std::numeric_limits<double>::infinity(),
                                            -std::numeric_limits<double>::infinity(),
                                            std::numeric_limits<double>::quiet_NaN()};

TEST(GeodesyFaults, DegenerateEllipsoidInMeridianArcCoeffs) {
  EXPECT_EQ(Outcome([] { MeridianArcCoeffs(0, kE); }), "division by zero");
  EXPECT_EQ(Outcome([] { MeridianArcCoeffs(kA, 1); }), "division by zero");
  EXPECT_EQ(Outcome([] { MeridianArcCoeffs(kA, 1.2); }), "invalid argument");
  EXPECT_EQ(Outcome([] { MeridianArcCoeffs(kA, 0); }), "result");
}

TEST(GeodesyFaults, PolarAxisAndGeocentreInXYZToBLH) {
  EXPECT_EQ(Outcome([] { XYZToBLH(0, 0, 0, kA, kE); }), "division by zero");
  EXPECT_EQ(Outcome([] { XYZToBLH(0, 0, 6356752.3, kA, kE); }), "division by zero");
  EXPECT_EQ(Outcome([] { XYZToBLH(-0.0, 0, -6356752.3, kA, kE); }), "division by zero");
  EXPECT_EQ(Outcome([] { XYZToBLH(0, 1000, 100, kA, kE); }), "division by zero");
}

TEST(GeodesyFaults, ArcSinOutsideItsDomain) {
  for (const double x : {std::nextafter(1.0, 2.0), std::nextafter(-1.0, -2.0), 2.0, -1e150,
                         std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(Outcome([x] { ArcSin(x); }), "invalid argument") << x;
  }
  // Here x * x overflows before the square root sees a negative number.
  EXPECT_EQ(Outcome([] { ArcSin(-1e300); }), "overflow");
  EXPECT_EQ(Outcome([] { ArcSin(std::numeric_limits<double>::quiet_NaN()); }), "invalid operation");
}

TEST(GeodesyFaults, EccentricityOfOneOrMore) {
  const auto c = MeridianArcCoeffs(kA, kE);
  EXPECT_EQ(Outcome([] { BLHToXYZ(Rad(50), Rad(10), 0, kA, 1.5); }), "invalid argument");
  EXPECT_EQ(Outcome([] { XYZToBLH(4e6, 1e6, 4.9e6, kA, 1.5); }), "invalid argument");
  EXPECT_EQ(Outcome([&] { BLToGK(Rad(50), Rad(1), kA, 1, c[0], c[1], c[2], c[3], c[4], c[5]); }),
            "division by zero");
  EXPECT_EQ(Outcome([] { GKToBL(5.5e6, 1e5, kA, 1); }), "division by zero");
  EXPECT_EQ(Outcome([] { GKToBL(5.5e6, 1e5, kA, 1.5); }), "invalid argument");
  EXPECT_EQ(Outcome([] { BLToKrovak(Rad(50), Rad(15), kA, 1); }), "division by zero");
  EXPECT_EQ(Outcome([] { KrovakToBL(1e6, 5e5, kA, 1.5); }), "invalid argument");
}

// An overflow must be reported even when a later step turns the infinity
// back into a finite number (a / inf = 0, atan(inf) = pi/2).
TEST(GeodesyFaults, OverflowIsReportedEvenWhenLaterStepsHideIt) {
  EXPECT_EQ(Outcome([] { MeridianArcCoeffs(1e200, kE); }), "overflow");
  EXPECT_EQ(Outcome([] { XYZToBLH(1e200, 1e200, 1e200, kA, kE); }), "overflow");
  EXPECT_EQ(Outcome([] { KrovakToBL(1e200, 1e200, kA, kE); }), "overflow");
  EXPECT_EQ(Outcome([] { SevenParTrans(1e308, 1e308, 1e308, 0, 0, 0, 1e6, 0, 0, 0); }), "overflow");
  const auto c = MeridianArcCoeffs(kA, kE);
  EXPECT_EQ(Outcome([&] { BLToGK(Rad(50), 1e40, kA, kE, c[0], c[1], c[2], c[3], c[4], c[5]); }),
            "overflow");
}

TEST(GeodesyFaults, KrovakFarOutsideItsArea) {
  EXPECT_EQ(Outcome([] { KrovakToBL(0, 5e5, kA, kE); }), "division by zero");
  // Beyond the south pole tan(phi/2 + pi/4) is negative: an invalid power base.
  EXPECT_EQ(Outcome([] { BLToKrovak(-1.6, Rad(15), kA, kE); }), "invalid argument");
  for (double deg = -90; deg <= 90; deg += 2) {
    for (double ldeg = -180; ldeg <= 180; ldeg += 4) {
      ExpectFiniteOrFault("BLToKrovak", {deg, ldeg},
                          [&] { return BLToKrovak(Rad(deg), Rad(ldeg), kA, kE); });
    }
  }
  for (double ex = -5; ex <= 15; ex += 0.5) {
    for (const double sx : {1.0, -1.0}) {
      for (const double ratio : {-3.0, -0.5, 0.0, 0.1, 1.0, 7.0}) {
        const double X = sx * std::pow(10.0, ex), Y = ratio * X;
        ExpectFiniteOrFault("KrovakToBL", {X, Y}, [&] { return KrovakToBL(X, Y, kA, kE); });
      }
    }
  }
}

// 42.7 km from the axis in the equatorial plane (p = a e^2) the latitude
// iteration creeps towards its fixed point by a factor of almost 1 per
// pass; the pass cap ends it.
TEST(GeodesyFaults, EndlessLatitudeIterationIsCut) {
  EXPECT_EQ(Outcome([] { XYZToBLH(kA * kE * kE, 0, 1e-6, kA, kE); }), "invalid operation");
}

TEST(GeodesyFaults, NonFiniteAndExtremeArgumentsNeverLeak) {
  const auto c = MeridianArcCoeffs(kA, kE);
  for (const double x : kExtremeValues) {
    ExpectFiniteOrFault("ArcSin", {x}, [&] { return std::array<double, 1>{ArcSin(x)}; });
    for (const double y : kExtremeValues) {
      ExpectFiniteOrFault("MeridianArcCoeffs", {x, y}, [&] { return MeridianArcCoeffs(x, y); });
      ExpectFiniteOrFault("KrovakToBL", {x, y}, [&] { return KrovakToBL(x, y, kA, kE); });
      ExpectFiniteOrFault("KrovakToBL a, e", {x, y}, [&] { return KrovakToBL(1e6, 6e5, x, y); });
      ExpectFiniteOrFault("BLToKrovak", {x, y}, [&] { return BLToKrovak(x, y, kA, kE); });
      ExpectFiniteOrFault("GKToBL", {x, y}, [&] { return GKToBL(x, y, kA, kE); });
      ExpectFiniteOrFault("BLToGK", {x, y},
                          [&] { return BLToGK(x, y, kA, kE, c[0], c[1], c[2], c[3], c[4], c[5]); });
      ExpectFiniteOrFault("XYZToBLH a, e", {x, y}, [&] { return XYZToBLH(4e6, 1e6, 4.9e6, x, y); });
      for (const double z : kExtremeValues) {
        ExpectFiniteOrFault("XYZToBLH", {x, y, z}, [&] { return XYZToBLH(x, y, z, kA, kE); });
        ExpectFiniteOrFault("BLHToXYZ", {x, y, z}, [&] { return BLHToXYZ(x, y, z, kA, kE); });
        ExpectFiniteOrFault("SevenParTrans", {x, y, z}, [&] {
          return SevenParTrans(x, y, z, 598.1, 73.7, 418.2, 6.7, -2.455, 0.045, 0.202);
        });
        ExpectFiniteOrFault("SevenParTrans parameters", {x, y, z},
                            [&] { return SevenParTrans(4e6, 1e6, 4.9e6, x, 0, 0, y, z, 0, 0); });
      }
    }
  }
}

// Status flags are thread state: whatever other code left in them is not a
// fault of the next geodetic call, and a fault leaves nothing behind.
TEST(GeodesyFaults, FlagsLeftByOtherCodeAreNotReported) {
  const auto clean = XYZToBLH(3974219.56, 847781.649, 4900373.941, kA, kE);
  std::feraiseexcept(FE_OVERFLOW | FE_DIVBYZERO | FE_INVALID);
  const auto flagged = XYZToBLH(3974219.56, 847781.649, 4900373.941, kA, kE);
  EXPECT_EQ(flagged, clean);
  std::feraiseexcept(FE_OVERFLOW);
  volatile double huge = 1e308;
  volatile double overflowed = huge * 10;  // an overflow of the caller's own
  EXPECT_FALSE(std::isfinite(overflowed));
  EXPECT_EQ(Outcome([] { XYZToBLH(0, 0, 0, kA, kE); }), "division by zero");
  EXPECT_EQ(Outcome([] { KrovakToBL(1e200, 1e200, kA, kE); }), "overflow");
  EXPECT_EQ(XYZToBLH(3974219.56, 847781.649, 4900373.941, kA, kE), clean);
  EXPECT_EQ(Outcome([] { ArcSin(0.5); }), "result");
}

}  // namespace
