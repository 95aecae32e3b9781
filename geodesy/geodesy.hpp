// Geodetic routines: meridian arc, geographic <-> geocentric conversion,
// seven-parameter (Helmert) transformation, Gauss-Krueger (transverse
// Mercator) and Krovak projections.
//
// Conventions shared by every routine here:
//  - angles in radians, lengths in metres;
//  - an ellipsoid is (a, e): semi-major axis in metres and the first
//    eccentricity itself (not its square);
//  - pi is the decimal constant kPi = 3.14159265358979, and every pi/2, pi/4
//    and pi/180 is formed from it;
//  - routines are stateless, take inputs only and return new std::arrays;
//  - no argument is validated: a division by zero, an overflow, an invalid
//    operation or an invalid argument (square root of a negative number,
//    |x| > 1 in ArcSin) raises pelmo::FloatingPointFault, and no partial
//    result escapes.
#pragma once

#include <array>

namespace pelmo::geotra {

/// pi as the decimal constant of this program (15 significant digits).
inline constexpr double kPi = 3.14159265358979;

/// Arc seconds per radian, as used by SevenParTrans.
inline constexpr double kArcSecondsPerRadian = 206264.806247096;

/// Upper bound on the passes of the two latitude iterations (XYZToBLH,
/// KrovakToBL). Near the Earth's surface about five passes are needed; the
/// cap only stops inputs far away from any sensible point from hanging.
inline constexpr int kMaxIterations = 1000;

/// Arcsine in radians: +-pi/2 exactly for x = +-1, else atan(x / sqrt(1 - x^2)).
/// |x| > 1 raises FaultKind::kInvalidArgument.
double ArcSin(double x);

/// Meridian-arc series coefficients c0..c5 (metres) of the ellipsoid (a, e),
/// expanded in the second eccentricity up to e'^10.
/// G(B) = c0 B - c1 sin 2B + c2 sin 4B - c3 sin 6B + c4 sin 8B - c5 sin 10B.
/// a = 0 or e = 1 (semi-minor axis 0) raises kDivisionByZero, e > 1
/// kInvalidArgument; e = 0 gives c0 = a and c1..c5 = 0.
std::array<double, 6> MeridianArcCoeffs(double a, double e);

/// Geographic (B, L rad; h m) to geocentric (X, Y, Z m).
std::array<double, 3> BLHToXYZ(double B, double L, double h, double a, double e);

/// Geocentric (X, Y, Z m) to geographic (B, L rad; h m), iterating the
/// latitude to 1e-12 rad. L lies in (-pi, pi]. The height comes from X, or
/// from Y where |Y| > |X| (X alone would lose it next to the +-90 deg meridians).
/// X = 0 (polar axis, geocentre) raises kDivisionByZero; an iteration that
/// has not settled after kMaxIterations passes raises kInvalidOperation.
std::array<double, 3> XYZToBLH(double X, double Y, double Z, double a, double e);

/// A geographic point with the sine and cosine of its latitude, as one
/// routine of the chain hands it to the next, which then needs no sine or
/// cosine of the latitude of its own.
struct Geographic {
  double B = 0, L = 0, h = 0;  ///< latitude, longitude [rad]; height [m]
  double sinB = 0, cosB = 1;   ///< sine and cosine of B
};

/// XYZToBLH without the height (h = 0), for callers that do not use it, and
/// with the sine and cosine of the latitude: the same latitude and
/// longitude, the same faults but those of the height.
Geographic XYZToGeographic(double X, double Y, double Z, double a, double e);

/// BLHToXYZ of a point whose latitude comes with its sine and cosine.
std::array<double, 3> BLHToXYZ(const Geographic& g, double a, double e);

/// Seven-parameter similarity transformation in the coordinate-frame
/// convention: dX, dY, dZ metres; m ppm; gamma (about Z), beta (about Y),
/// alpha (about X) arc seconds.
std::array<double, 3> SevenParTrans(double X, double Y, double Z, double dX, double dY,
                                    double dZ, double m, double gamma, double beta,
                                    double alpha);

/// Transverse Mercator forward at scale 1 about the central meridian:
/// latitude B and longitude difference l (rad) to (x northing, y easting) in m.
std::array<double, 2> BLToGK(double B, double l, double a, double e, double c0, double c1,
                             double c2, double c3, double c4, double c5);

/// Transverse Mercator inverse at scale 1: (x, y) metres to (B, l) radians.
std::array<double, 2> GKToBL(double x, double y, double a, double e);

/// Krovak forward: latitude, longitude east of Greenwich (rad) to
/// (X southing, Y westing) in metres.
std::array<double, 2> BLToKrovak(double phi, double lambda, double a, double e);

/// Krovak inverse: (X southing, Y westing) metres to (phi, lambda) radians.
/// X = 0 raises kDivisionByZero; a latitude iteration that has not settled
/// after kMaxIterations passes raises kInvalidOperation.
std::array<double, 2> KrovakToBL(double X, double Y, double a, double e);

// ---------------------------------------------------------------- prepared forms
//
// The point chain calls the routines above millions of times with the same
// ellipsoids and parameter sets. The prepared forms split each routine into
// the part that depends only on those (computed once) and the part that
// depends on the point. Each routine above is implemented as its prepared
// form, so both give the same results to the last bit.

/// Rotation matrix, scale and translation of one seven-parameter set.
struct SevenParPrepared {
  double r11, r12, r13, r21, r22, r23, r31, r32, r33;  ///< R3(gamma) R2(beta) R1(alpha)
  double k;                                            ///< 1 + m * 1e-6
  double dX, dY, dZ;                                   ///< translation [m]
};
SevenParPrepared PrepareSevenParTrans(double dX, double dY, double dZ, double m, double gamma,
                                      double beta, double alpha);
std::array<double, 3> SevenParTrans(const SevenParPrepared& p, double X, double Y, double Z);

/// Ellipsoid quantities of the Gauss-Krueger routines.
struct GaussKruegerPrepared {
  double a, e2;                     ///< semi-major axis [m], e^2
  double ep, ep2;                   ///< second eccentricity e' and its square
  double b2a;                       ///< (1 - e^2) a [m] (inverse)
  double abar;                      ///< rectifying radius [m] (inverse)
  double invA, invB2a, invAbar;     ///< 1 / a, 1 / b2a, 1 / abar [1/m], 0 for a zero one
  std::array<double, 3> footpoint;  ///< footpoint series coefficients (inverse)
};
GaussKruegerPrepared PrepareGaussKrueger(double a, double e);
std::array<double, 2> BLToGK(const GaussKruegerPrepared& p, double B, double l, double c0,
                             double c1, double c2, double c3, double c4, double c5);
std::array<double, 2> GKToBL(const GaussKruegerPrepared& p, double x, double y);
/// BLToGK of a latitude that comes with its sine and cosine.
std::array<double, 2> BLToGK(const GaussKruegerPrepared& p, const Geographic& g, double l,
                             double c0, double c1, double c2, double c3, double c4, double c5);
/// GKToBL with the sine and cosine of the latitude: L holds the longitude
/// difference l from the central meridian, h = 0.
Geographic GKToGeographic(const GaussKruegerPrepared& p, double x, double y);

/// Ellipsoid quantities of the Krovak routines.
struct KrovakPrepared {
  double a, e, e2;
  double BK;          ///< ratio of longitudes on the Gaussian sphere and the ellipsoid
  double t0;          ///< constant of the conformal mapping onto the sphere
  double nF, r0F;     ///< cone constant and radius of the pseudo-standard parallel (forward)
  double coneF;       ///< tan(S0/2 + pi/4)^n r0 (forward)
  double nI, r0I;     ///< the same as formed by the inverse
  double invNI;       ///< 1 / n (inverse)
  double t0Root;      ///< t0^(-1/B_K) (inverse)
  double invBK;       ///< 1 / B_K (inverse)
};
KrovakPrepared PrepareKrovak(double a, double e);
std::array<double, 2> BLToKrovak(const KrovakPrepared& p, double phi, double lambda);
std::array<double, 2> KrovakToBL(const KrovakPrepared& p, double X, double Y);

}  // namespace pelmo::geotra
