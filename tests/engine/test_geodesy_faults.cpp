// Floating-point faults of the geodetic routines (the kind raised for each
// degenerate input, never a NaN or infinity returned, no endless iteration,
// no fault reported for a flag other code left behind), and the developer
// self-test records read back and checked against GeographicLib.
#include <gtest/gtest.h>

#include <GeographicLib/Ellipsoid.hpp>
#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/TransverseMercatorExact.hpp>
#include <array>
#include <cfenv>
#include <charconv>
#include <clocale>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <locale>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"
#include "geodesy/selftest.hpp"
#include "test_support.hpp"

namespace {

using namespace pelmo::geotra;
using pelmo::FaultKind;
using pelmo::FloatingPointFault;
using pelmo::FormatShortest;

constexpr double kA = 6378137;
constexpr double kE = 0.0818191910428158;  // GRS80
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr double Rad(double degrees) { return degrees * kPi / 180; }

/// How a call ends: "result" or the kind of fault it raised.
std::string Outcome(const std::function<void()>& call) {
  try {
    call();
  } catch (const FloatingPointFault& fault) {
    switch (fault.kind()) {
      case FaultKind::kDivisionByZero: return "division by zero";
      case FaultKind::kOverflow: return "overflow";
      case FaultKind::kInvalidOperation: return "invalid operation";
      case FaultKind::kInvalidArgument: return "invalid argument";
    }
    return "unknown fault";
  }
  return "result";
}

/// The call either raises a FloatingPointFault or returns finite values;
/// any other exception fails the test. `what` and `args` name the call.
template <class Call>
void ExpectFiniteOrFault(const char* what, std::initializer_list<double> args, Call&& call) {
  try {
    for (const double v : call()) {
      if (!std::isfinite(v)) {
        std::ostringstream message;
        for (const double arg : args) message << arg << ' ';
        ADD_FAILURE() << what << '(' << message.str() << ") returned " << v;
        return;
      }
    }
  } catch (const FloatingPointFault&) {
  }
}

TEST(GeodesyFaults, EveryKindWhereItArises) {
  const auto c = MeridianArcCoeffs(kA, kE);
  const struct {
    const char* what;
    std::function<void()> call;
    const char* outcome;
  } cases[] = {
      {"a = 0", [] { MeridianArcCoeffs(0, kE); }, "division by zero"},
      {"e = 1", [] { MeridianArcCoeffs(kA, 1); }, "division by zero"},
      {"e > 1", [] { MeridianArcCoeffs(kA, 1.2); }, "invalid argument"},
      {"sphere", [] { MeridianArcCoeffs(kA, 0); }, "result"},
      {"geocentre", [] { XYZToBLH(0, 0, 0, kA, kE); }, "division by zero"},
      {"north pole", [] { XYZToBLH(0, 0, 6356752.3, kA, kE); }, "division by zero"},
      {"south pole", [] { XYZToBLH(-0.0, 0, -6356752.3, kA, kE); }, "division by zero"},
      {"X = 0", [] { XYZToBLH(0, 1000, 100, kA, kE); }, "division by zero"},
      {"ArcSin above 1", [] { ArcSin(std::nextafter(1.0, 2.0)); }, "invalid argument"},
      {"ArcSin below -1", [] { ArcSin(std::nextafter(-1.0, -2.0)); }, "invalid argument"},
      {"ArcSin 2", [] { ArcSin(2.0); }, "invalid argument"},
      {"ArcSin -1e150", [] { ArcSin(-1e150); }, "invalid argument"},
      {"ArcSin inf", [] { ArcSin(kInf); }, "invalid argument"},
      // x * x overflows before the square root sees a negative number.
      {"ArcSin -1e300", [] { ArcSin(-1e300); }, "overflow"},
      {"ArcSin NaN", [] { ArcSin(kNaN); }, "invalid operation"},
      {"BLHToXYZ e > 1", [] { BLHToXYZ(Rad(50), Rad(10), 0, kA, 1.5); }, "invalid argument"},
      {"XYZToBLH e > 1", [] { XYZToBLH(4e6, 1e6, 4.9e6, kA, 1.5); }, "invalid argument"},
      {"BLToGK e = 1", [&] { BLToGK(Rad(50), Rad(1), kA, 1, c[0], c[1], c[2], c[3], c[4], c[5]); },
       "division by zero"},
      {"GKToBL e = 1", [] { GKToBL(5.5e6, 1e5, kA, 1); }, "division by zero"},
      {"GKToBL e > 1", [] { GKToBL(5.5e6, 1e5, kA, 1.5); }, "invalid argument"},
      {"BLToKrovak e = 1", [] { BLToKrovak(Rad(50), Rad(15), kA, 1); }, "division by zero"},
      {"KrovakToBL e > 1", [] { KrovakToBL(1e6, 5e5, kA, 1.5); }, "invalid argument"},
      // An overflow is reported even when a later step turns the infinity
      // back into a finite number (a / inf = 0, atan(inf) = pi/2).
      {"huge a", [] { MeridianArcCoeffs(1e200, kE); }, "overflow"},
      {"huge XYZ", [] { XYZToBLH(1e200, 1e200, 1e200, kA, kE); }, "overflow"},
      {"huge Krovak", [] { KrovakToBL(1e200, 1e200, kA, kE); }, "overflow"},
      {"huge scale", [] { SevenParTrans(1e308, 1e308, 1e308, 0, 0, 0, 1e6, 0, 0, 0); }, "overflow"},
      {"huge l", [&] { BLToGK(Rad(50), 1e40, kA, kE, c[0], c[1], c[2], c[3], c[4], c[5]); },
       "overflow"},
      {"Krovak X = 0", [] { KrovakToBL(0, 5e5, kA, kE); }, "division by zero"},
      // Beyond the south pole tan(phi/2 + pi/4) is negative: an invalid power base.
      {"Krovak beyond the pole", [] { BLToKrovak(-1.6, Rad(15), kA, kE); }, "invalid argument"},
      // 42.7 km from the axis in the equatorial plane (p = a e^2) the
      // latitude iteration creeps towards its fixed point by a factor of
      // almost 1 per pass; the pass cap ends it.
      {"endless iteration", [] { XYZToBLH(kA * kE * kE, 0, 1e-6, kA, kE); }, "invalid operation"},
  };
  for (const auto& c : cases) EXPECT_EQ(Outcome(c.call), c.outcome) << c.what;
}

TEST(GeodesyFaults, KrovakFarOutsideItsAreaEndsWithAResultOrAFault) {
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

TEST(GeodesyFaults, NonFiniteAndExtremeArgumentsNeverLeak) {
  constexpr double kMax = std::numeric_limits<double>::max();
  const double values[] = {
      0.0,  -0.0,  1.0,   -1.0,   1e-300, std::numeric_limits<double>::denorm_min(),
      kA,   -kA,   1e300, -1e300, kMax,   -kMax,
      kInf, -kInf, kNaN};
  const auto c = MeridianArcCoeffs(kA, kE);
  for (const double x : values) {
    ExpectFiniteOrFault("ArcSin", {x}, [&] { return std::array<double, 1>{ArcSin(x)}; });
    for (const double y : values) {
      ExpectFiniteOrFault("MeridianArcCoeffs", {x, y}, [&] { return MeridianArcCoeffs(x, y); });
      ExpectFiniteOrFault("KrovakToBL", {x, y}, [&] { return KrovakToBL(x, y, kA, kE); });
      ExpectFiniteOrFault("KrovakToBL a, e", {x, y}, [&] { return KrovakToBL(1e6, 6e5, x, y); });
      ExpectFiniteOrFault("BLToKrovak", {x, y}, [&] { return BLToKrovak(x, y, kA, kE); });
      ExpectFiniteOrFault("GKToBL", {x, y}, [&] { return GKToBL(x, y, kA, kE); });
      ExpectFiniteOrFault("BLToGK", {x, y},
                          [&] { return BLToGK(x, y, kA, kE, c[0], c[1], c[2], c[3], c[4], c[5]); });
      ExpectFiniteOrFault("XYZToBLH a, e", {x, y}, [&] { return XYZToBLH(4e6, 1e6, 4.9e6, x, y); });
      for (const double z : values) {
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
  EXPECT_EQ(XYZToBLH(3974219.56, 847781.649, 4900373.941, kA, kE), clean);
  std::feraiseexcept(FE_OVERFLOW);
  volatile double huge = 1e308;
  volatile double overflowed = huge * 10;  // an overflow of the caller's own
  EXPECT_FALSE(std::isfinite(overflowed));
  EXPECT_EQ(Outcome([] { XYZToBLH(0, 0, 0, kA, kE); }), "division by zero");
  EXPECT_EQ(Outcome([] { KrovakToBL(1e200, 1e200, kA, kE); }), "overflow");
  EXPECT_EQ(XYZToBLH(3974219.56, 847781.649, 4900373.941, kA, kE), clean);
  EXPECT_EQ(Outcome([] { ArcSin(0.5); }), "result");
}

// ------------------------------------------------------------ self-test

/// The self-test text, written to a stream with the global locale or `locale`.
std::string SelfTestText(const std::locale* locale = nullptr) {
  std::ostringstream out;
  if (locale != nullptr) out.imbue(*locale);
  WriteSelfTest(out);
  return out.str();
}

/// The comma-separated numbers of a record, each read in full by from_chars.
std::vector<double> Numbers(const std::string& record) {
  std::vector<double> values;
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(record.find(',', start), record.size());
    double v = 0;
    const auto [ptr, ec] = std::from_chars(record.data() + start, record.data() + end, v);
    EXPECT_TRUE(ec == std::errc() && ptr == record.data() + end)
        << "not a number: " << record.substr(start, end - start);
    values.push_back(v);
    if (end == record.size()) return values;
    start = end + 1;
  }
}

TEST(GeodesySelfTest, RecordsAgreeWithGeographicLib) {
  constexpr double kLatitude = 50.5217217909352;  // degrees
  constexpr double kLongitude = 12.041860067572;  // degrees east of Greenwich
  constexpr double kDegree = std::numbers::pi / 180;
  const std::string text = SelfTestText();
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  const std::vector<std::string> records = pelmo::test::SplitCrLf(text);
  ASSERT_EQ(records.size(), 8u);
  std::vector<std::vector<double>> lines;
  const std::size_t counts[] = {1, 3, 3, 3, 6, 2, 4, 2};
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(records[i].find_first_of("\r\n"), std::string::npos);
    lines.push_back(Numbers(records[i]));
    ASSERT_EQ(lines[i].size(), counts[i]) << "line " << i + 1;
  }

  const double asin = std::asin(0.8);
  EXPECT_LE(std::fabs(lines[0][0] - asin), 2 * (std::nextafter(asin, 2.0) - asin));
  EXPECT_EQ(lines[1], (std::vector<double>{3974219.56, 847781.649, 4900373.941}));

  // The geographic position of the test point is the Gauss-Krueger test
  // point, about 628 m up, and goes back to the test point.
  const auto flattening = [](double e) { return 1 - std::sqrt(1 - e * e); };
  const GeographicLib::Geocentric geocentric(kA, flattening(0.081819191310869));
  double lat = 0, lon = 0, h = 0;
  geocentric.Reverse(3974219.56, 847781.649, 4900373.941, lat, lon, h);
  EXPECT_NEAR(lines[2][0], lat, 1e-10);
  EXPECT_NEAR(lines[2][1], lon, 1e-10);
  EXPECT_NEAR(lines[2][2], h, 1e-6);
  EXPECT_NEAR(lines[2][0], kLatitude, 1e-8);
  EXPECT_NEAR(lines[2][1], kLongitude, 1e-8);
  EXPECT_NEAR(lines[2][2], 628, 0.5);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(lines[3][i], lines[1][i], 1e-5);

  // Meridian arc and Gauss-Krueger on the projection ellipsoid.
  const double f = flattening(0.081819191042816);
  const GeographicLib::Ellipsoid ellipsoid(kA, f);
  const std::vector<double>& c = lines[4];
  const double B = 158.71867002510925 / 180;
  const double G = c[0] * B - c[1] * std::sin(2 * B) + c[2] * std::sin(4 * B) -
                   c[3] * std::sin(6 * B) + c[4] * std::sin(8 * B) - c[5] * std::sin(10 * B);
  EXPECT_NEAR(G, ellipsoid.MeridianDistance(B / kDegree), 1e-3);
  EXPECT_NEAR(c[0], ellipsoid.QuarterMeridian() / (std::numbers::pi / 2), 1e-5);
  const GeographicLib::TransverseMercatorExact tm(kA, f, 1);
  double easting = 0, northing = 0;
  tm.Forward(0, B / kDegree, (0.1315072807629674 / 180) / kDegree, easting, northing);
  EXPECT_NEAR(lines[5][0], northing, 1e-3);
  EXPECT_NEAR(lines[5][1], easting + 4500000, 1e-3);

  // The inputs, and the inverse: about 3 km from the central meridian the
  // series are exact to well below a millimetre.
  EXPECT_EQ(records[6], "6378137,0.081819191042816,50.5217217909352,0.041860067572");
  EXPECT_NEAR(lines[7][0], kLatitude * kDegree, 1e-10);
  EXPECT_NEAR(lines[7][1], kLongitude, 1e-9);
}

TEST(GeodesySelfTest, PeriodWhateverTheLocale) {
  const std::string text = SelfTestText();
  // A stream that would write numbers with a decimal comma.
  struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  const std::locale comma(std::locale::classic(), new CommaPunct);
  EXPECT_EQ(SelfTestText(&comma), text);
  // The German locale as the process locale, where the system has it.
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
    const std::locale global = std::locale::global(std::locale("de_DE.UTF-8"));
    const std::string german = SelfTestText();
    std::locale::global(global);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(german, text);
  }
}

TEST(GeodesySelfTest, FormatShortestReadsBackToTheSameDouble) {
  EXPECT_EQ(FormatShortest(6378137), "6378137");
  EXPECT_EQ(FormatShortest(-2.5), "-2.5");
  EXPECT_EQ(FormatShortest(0.1), "0.1");
  for (const double v :
       {1.0 / 3, 0.081819191042816, 3974219.56, 1e-300, 6.02214076e23,
        std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest()}) {
    const std::string text = FormatShortest(v);
    double back = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_TRUE(ec == std::errc() && ptr == text.data() + text.size()) << text;
    EXPECT_EQ(back, v) << text;
    EXPECT_EQ(text.find(','), std::string::npos);
  }
}

}  // namespace
