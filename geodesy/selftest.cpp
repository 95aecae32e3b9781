// Developer self-test of the geodetic routines.
#include "geodesy/selftest.hpp"

#include <array>
#include <ostream>
#include <string>

#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::geotra {
namespace {

// Test data. The ellipsoid of the Cartesian test and that of the
// meridian-arc and Gauss-Krueger test differ in the last digits of e.
constexpr double kTestA = 6378137;                     // semi-major axis (m)
constexpr long kTestAWhole = 6378137;                  // the same, written as a whole number
constexpr double kTestECartesian = 0.081819191310869;  // first eccentricity
constexpr double kTestEProjection = 0.081819191042816;

// Geocentric test point (m).
constexpr double kTestX = 3974219.56;
constexpr double kTestY = 847781.649;
constexpr double kTestZ = 4900373.941;

// Gauss-Krueger test point: 50.5217217909352 deg and 0.041860067572 deg,
// each already multiplied by pi, divided by 180 here (rad).
constexpr double kTestLatitudeDegrees = 50.5217217909352;
constexpr double kTestLongitudeDifferenceDegrees = 0.041860067572;
constexpr double kTestB = 158.71867002510925 / 180;
constexpr double kTestL = 0.1315072807629674 / 180;
constexpr double kTestCentralMeridian = 12;  // degrees
constexpr double kTestZonePrefix = 4000000;  // zone 4 of the 3-degree system (m)
constexpr double kFalseEasting = 500000;     // m

constexpr double kArcSinArgument = 0.8;

/// Writes the values separated by commas and ends the record with CR LF.
template <std::size_t N>
void WriteRecord(std::ostream& out, const std::array<double, N>& values) {
  for (std::size_t i = 0; i < N; ++i) {
    if (i > 0) out.put(',');
    const std::string text = FormatShortest(values[i]);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  out.write("\r\n", 2);
}

}  // namespace

void WriteSelfTest(std::ostream& out) {
  // Compute everything first, so that a fault writes nothing.
  const double arcSin = ArcSin(kArcSinArgument);
  const std::array<double, 3> r = XYZToBLH(kTestX, kTestY, kTestZ, kTestA, kTestECartesian);
  const std::array<double, 3> p = BLHToXYZ(r[0], r[1], r[2], kTestA, kTestECartesian);
  const std::array<double, 6> c = MeridianArcCoeffs(kTestA, kTestEProjection);
  const std::array<double, 2> g =
      BLToGK(kTestB, kTestL, kTestA, kTestEProjection, c[0], c[1], c[2], c[3], c[4], c[5]);
  const std::array<double, 2> q = GKToBL(g[0], g[1], kTestA, kTestEProjection);

  WriteRecord<1>(out, {arcSin});
  WriteRecord<3>(out, {kTestX, kTestY, kTestZ});
  WriteRecord<3>(out, {r[0] * 180 / kPi, r[1] * 180 / kPi, r[2]});
  WriteRecord<3>(out, p);
  WriteRecord<6>(out, c);
  WriteRecord<2>(out, {g[0], g[1] + kFalseEasting + kTestZonePrefix});

  out << std::to_string(kTestAWhole) << ',';
  WriteRecord<3>(out, {kTestEProjection, kTestLatitudeDegrees, kTestLongitudeDifferenceDegrees});

  WriteRecord<2>(out, {q[0], q[1] * 180 / kPi + kTestCentralMeridian});
}

}  // namespace pelmo::geotra
