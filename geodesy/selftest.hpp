// Developer self-test of the geodetic routines: runs them on fixed values
// and writes the results as eight comma-separated records.
#pragma once

#include <iosfwd>

namespace pelmo::geotra {

/// Writes the eight self-test records to `out`, each ended by "\r\n":
///  1. ArcSin(0.8);
///  2. the geocentric test point X, Y, Z (m);
///  3. XYZToBLH of it on (6378137, 0.081819191310869): latitude and
///     longitude in degrees, height in m;
///  4. BLHToXYZ of line 3 back to X, Y, Z (m);
///  5. MeridianArcCoeffs(6378137, 0.081819191042816): c0 ... c5 (m);
///  6. BLToGK of the test latitude and longitude difference on that
///     ellipsoid: northing, easting + 500000 + 4000000 (m);
///  7. the inputs 6378137, 0.081819191042816, 50.5217217909352,
///     0.041860067572;
///  8. GKToBL of line 6 without the false easting: latitude (rad),
///     longitude (degrees east of Greenwich, central meridian 12 deg).
/// All values are computed before the first byte is written. Open a file
/// stream in binary mode so that the line ends stay as they are. Stream
/// errors are left in the stream's state for the caller to test.
void WriteSelfTest(std::ostream& out);

}  // namespace pelmo::geotra
