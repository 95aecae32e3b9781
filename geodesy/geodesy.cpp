// Geodetic routines: meridian arc, geographic <-> geocentric conversion,
// seven-parameter transformation, Gauss-Krueger and Krovak projections.
//
// Sources of the formulas:
//  - meridian arc: the classical series of the arc length in powers of the
//    second eccentricity e' (Helmert), truncated after e'^10;
//  - Gauss-Krueger forward: the classical Gauss-Krueger series in powers of
//    the longitude difference up to the eighth order; inverse through the
//    footpoint latitude, whose series is in the third flattening n up to n^3;
//  - geocentric conversion: the closed forward formulas and the fixed-point
//    iteration of the latitude for the inverse;
//  - seven-parameter transformation: the exact rotation matrix
//    R3(gamma) R2(beta) R1(alpha), coordinate-frame convention;
//  - Krovak: the oblique conformal conic projection as laid out in the EPSG
//    guidance note 7-2 (method 9819), Ferro based, with the centre 49deg30'N
//    42deg30'E of Ferro and the pseudo-standard parallel 78deg30'.
//
// The formulas are those of the sources above, with the same series, the
// same truncation and the same constants; the evaluation is chosen for speed
// without giving away accuracy: integer powers as products, the series in
// Horner form, the sine series of the meridian arc and of the footpoint
// latitude by Clenshaw summation, sine and cosine of one angle together, and
// the latitude iteration of XYZToBLH started from Bowring's closed-form value
// (the same loop and stop rule then need one to three passes instead of five
// or six). Against the same formulas evaluated in long double, no result is
// farther away than the term-by-term evaluation was, plus 1e-9 m (1e-14 rad).
//
// Faults. The routines do not validate arguments; instead every operation
// that can fail is watched:
//  - divisions test their denominator (a zero one is a division by zero,
//    also for 0/0);
//  - square roots test for a negative argument, powers for an invalid base
//    (negative with a fractional exponent, zero with a negative exponent):
//    both are invalid arguments;
//  - overflows (and invalid operations inside the library functions) are
//    read from the floating-point status flags at the end of the routine;
//  - the results are tested for infinity and NaN.
// The flags are cleared on entry only when a flag is pending, which keeps
// the cost per call at two reads of the status register.
#include "geodesy/geodesy.hpp"

#include <cfenv>
#include <cmath>
#include <cstddef>
#if defined(__x86_64__) && defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "core/errors.hpp"

namespace pelmo::geotra {
namespace {

// ------------------------------------------------------------ constants

/// pi/2 and pi/4 of the program's pi constant.
constexpr double kHalfPi = kPi / 2;
constexpr double kQuarterPi = kPi / 4;

/// A latitude iteration stops once a pass changes the latitude by no more
/// than this (radians).
constexpr double kLatitudeTolerance = 1e-12;

/// Start value of the "previous latitude" of XYZToBLH: far outside any
/// latitude, so that at least one pass runs.
constexpr double kNoLatitude = 99999;

/// Coordinates (m) whose squares are safe in Bowring's start value of
/// XYZToBLH: between 1 / kBowringRange and kBowringRange.
constexpr double kBowringRange = 1e150;

/// Tangents of the latitude up to which XYZToBLH iterates on the tangent:
/// their squares stay far from overflowing.
constexpr double kTangentRange = 1e100;

/// Angles (rad) below which sine and cosine are taken from their Taylor
/// series up to the seventh power (SmallAngleSinCos).
constexpr double kSmallAngle = 0.01;

/// Parts per million.
constexpr double kPpm = 1e-6;

// Krovak projection (all angles in radians).

/// Latitude of the projection centre, 49deg30' (49.5 pi evaluated, / 180).
constexpr double kKrovakCentreLatitude = 155.5088363526946 / 180;
/// Pseudo-standard parallel 78deg30' as used by the inverse (78.5 pi
/// evaluated, / 180) ...
constexpr double kKrovakPseudoParallelInverse = 246.61502330679852 / 180;
/// ... and as formed by the forward routine.
constexpr double kKrovakPseudoParallelForward = (30.0 / 60 + 78) * kPi / 180;
/// Latitude of the pole of the cone, 59deg42'42.6968".
constexpr double kKrovakConePoleLatitude = (42.0 / 60 + 59 + 42.6968 / 3600) * (kPi / 180);
/// Co-latitude of the cone's pole: the azimuth of the cone axis at the centre.
constexpr double kKrovakConeAzimuth = kHalfPi - kKrovakConePoleLatitude;
/// Scale factor on the pseudo-standard parallel.
constexpr double kKrovakScale = 0.9999;
/// Longitude of Greenwich east of Ferro, 17deg40'.
constexpr double kFerroToGreenwich = (40.0 / 60 + 17) * kPi / 180;
/// Longitude of the projection centre east of Ferro, 42deg30' ...
constexpr double kKrovakCentreLongitudeFerro = (30.0 / 60 + 42) * kPi / 180;
/// ... and east of Greenwich, 24deg50'.
constexpr double kKrovakCentreLongitudeGreenwich = (50.0 / 60 + 24) * kPi / 180;

// ------------------------------------------------------------ fault handling

constexpr int kFaultFlags = FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID;

/// The fault flags raised since they were last cleared. On x86-64 the
/// double arithmetic of the compiler and of the maths library runs in the SSE
/// unit, whose flags are read straight from its control and status register;
/// that is cheaper than std::fetestexcept, which calls into the library and
/// also reads the x87 status word (flags raised there, e.g. by
/// std::feraiseexcept(FE_OVERFLOW), are not ours).
inline int PendingFaultFlags() {
#if defined(__x86_64__) && defined(__SSE2__)
  static_assert(FE_INVALID == _MM_EXCEPT_INVALID && FE_DIVBYZERO == _MM_EXCEPT_DIV_ZERO &&
                FE_OVERFLOW == _MM_EXCEPT_OVERFLOW);
  return static_cast<int>(_mm_getcsr()) & kFaultFlags;
#else
  return std::fetestexcept(kFaultFlags);
#endif
}

/// Starts a routine with no fault flag pending (flags left by other code
/// are not ours to report).
inline void ResetFaultFlags() {
  if (PendingFaultFlags() != 0) [[unlikely]]
    std::feclearexcept(kFaultFlags);
}

/// Aborts the routine with a fault. An overflow or an invalid operation
/// already flagged in this routine happened before the failing operation and
/// is the one reported.
[[noreturn, gnu::cold, gnu::noinline]] void Raise(FaultKind kind) {
  const int flags = PendingFaultFlags();
  std::feclearexcept(kFaultFlags);
  if ((flags & FE_OVERFLOW) != 0) {
    kind = FaultKind::kOverflow;
  } else if ((flags & FE_INVALID) != 0) {
    kind = FaultKind::kInvalidOperation;
  } else if ((flags & FE_DIVBYZERO) != 0) {
    kind = FaultKind::kDivisionByZero;
  }
  throw FloatingPointFault(kind);
}

/// Final check of a routine: every result finite and no fault flagged.
inline void CheckResult(double v) {
  if (!std::isfinite(v)) [[unlikely]]
    Raise(std::isnan(v) ? FaultKind::kInvalidOperation : FaultKind::kOverflow);
}

template <std::size_t N>
std::array<double, N> Checked(const std::array<double, N>& result) {
  for (double v : result) CheckResult(v);
  if (PendingFaultFlags() != 0) [[unlikely]]
    Raise(FaultKind::kInvalidOperation);
  return result;
}

/// n / d; a zero denominator is a division by zero.
inline double Div(double n, double d) {
  if (d == 0) [[unlikely]]
    Raise(FaultKind::kDivisionByZero);
  return n / d;
}

/// Square root; a negative argument is an invalid argument.
inline double Sqrt(double x) {
  if (x < 0) [[unlikely]]
    Raise(FaultKind::kInvalidArgument);
  return std::sqrt(x);
}

/// x raised to y; a negative base with a fractional exponent or a zero base
/// with a negative exponent is an invalid argument.
inline double Pow(double x, double y) {
  if ((x < 0 && y != std::trunc(y)) || (x == 0 && y < 0)) [[unlikely]]
    Raise(FaultKind::kInvalidArgument);
  return std::pow(x, y);
}

/// Sine and cosine of one angle in one call.
inline void SinCos(double x, double& sinX, double& cosX) {
#if defined(__GLIBC__)
  ::sincos(x, &sinX, &cosX);
#else
  sinX = std::sin(x);
  cosX = std::cos(x);
#endif
}

/// Sine and cosine of an angle |x| < kSmallAngle from their Taylor series up
/// to x^7 and x^6: the first terms left out stay below 1e-20 there.
inline void SmallAngleSinCos(double x, double& sinX, double& cosX) {
  const double x2 = x * x;
  sinX = x * (1 - x2 * (1.0 / 6) * (1 - x2 * (1.0 / 20) * (1 - x2 * (1.0 / 42))));
  cosX = 1 - x2 * (1.0 / 2) * (1 - x2 * (1.0 / 12) * (1 - x2 * (1.0 / 30)));
}

/// The sum a1 sin(2x) + a2 sin(4x) + ... + aK sin(2Kx) (K >= 2) by Clenshaw's
/// recurrence, from sin 2x and cos 2x: b_k = a_k + 2 cos(2x) b_(k+1) - b_(k+2),
/// the sum being b_1 sin 2x.
template <std::size_t K>
inline double ClenshawSineSeries(const std::array<double, K>& a, double sin2x, double cos2x) {
  const double twoCos = cos2x + cos2x;
  double next = 0, b = a[K - 1];
  for (std::size_t k = K - 1; k-- > 0;) {
    const double current = a[k] + twoCos * b - next;
    next = b;
    b = current;
  }
  return b * sin2x;
}

/// Final check of a routine returning a Geographic (the sine and cosine of a
/// finite latitude are finite).
inline const Geographic& CheckedGeographic(const Geographic& g) {
  Checked<3>({g.B, g.L, g.h});
  return g;
}

/// Ellipsoidal height (m) of the geocentric point (X, Y) whose latitude and
/// longitude are in `g`: X / (cos B cos L) - N. That loses its precision
/// where X is tiny beside Y, next to the plane of the +-90 deg meridians
/// (metres of error 1 mm from it, kilometres 1 um from it): there the same
/// height is taken from Y, Y / (cos B sin L) - N.
double GeocentricHeight(double X, double Y, const Geographic& g, double a, double e2) {
  double sinL, cosL;
  SinCos(g.L, sinL, cosL);
  const double N = Div(a, Sqrt(1 - g.sinB * g.sinB * e2));
  return std::fabs(X) >= std::fabs(Y) ? Div(X, g.cosB * cosL) - N : Div(Y, g.cosB * sinL) - N;
}

/// ArcSin without the entry and exit checks, for use inside other routines.
double ArcSinInside(double x) {
  if (x == 1.0) return kHalfPi;
  if (x == -1.0) return -kHalfPi;
  return std::atan(Div(x, Sqrt(-x * x + 1)));
}

// ------------------------------------------------------------ Krovak helpers

/// B_K = sqrt(cos^4(phiC) e^2 / (1 - e^2) + 1): ratio of the longitudes on
/// the Gaussian sphere and the ellipsoid.
double KrovakB(double e2) {
  return Sqrt(Div(Pow(std::cos(kKrovakCentreLatitude), 4.0) * e2, 1 - e2) + 1);
}

/// A = sqrt(1 - e^2) a / (1 - sin^2(phiC) e^2): radius of the Gaussian sphere (m).
double KrovakA(double a, double e2) {
  return Div(Sqrt(1 - e2) * a, 1 - Pow(std::sin(kKrovakCentreLatitude), 2.0) * e2);
}

/// gamma0 = asin(sin(phiC) / B_K): latitude of the centre on the sphere.
double KrovakGamma0(double BK) { return ArcSinInside(Div(std::sin(kKrovakCentreLatitude), BK)); }

/// t0: constant of the conformal mapping of the ellipsoid onto the sphere.
double KrovakT0(double gamma0, double BK, double e) {
  const double sinPhiC = std::sin(kKrovakCentreLatitude);
  return Div(std::tan(gamma0 / 2 + kQuarterPi),
             Pow(std::tan(kKrovakCentreLatitude / 2 + kQuarterPi), BK)) *
         Pow(Div(1 + e * sinPhiC, 1 - e * sinPhiC), BK * e / 2);
}

}  // namespace

// ------------------------------------------------------------ arcsine

double ArcSin(double x) {
  ResetFaultFlags();
  return Checked<1>({ArcSinInside(x)})[0];
}

// ------------------------------------------------------------ meridian arc

std::array<double, 6> MeridianArcCoeffs(double a, double e) {
  ResetFaultFlags();
  const double e2 = e * e;
  const double b = Sqrt(Pow(a, 2.0) * (1 - e2));  // semi-minor axis
  const double ep = Div(a * e, b);                // second eccentricity
  const double c = Div(a, Sqrt(1 - e2));          // polar radius of curvature
  const double ep2 = Pow(ep, 2.0);
  const double ep4 = Pow(ep, 4.0);
  const double ep6 = Pow(ep, 6.0);
  const double ep8 = Pow(ep, 8.0);
  const double ep10 = Pow(ep, 10.0);
  const double E0 = 1 - (3.0 / 4) * ep2 + (45.0 / 64) * ep4 - (175.0 / 256) * ep6 +
                    (11025.0 / 16384) * ep8 - (43659.0 / 65536) * ep10;
  const double E2 = (3.0 / 4) * ep2 - (15.0 / 16) * ep4 + (525.0 / 512) * ep6 -
                    (2205.0 / 2048) * ep8 + (72765.0 / 65536) * ep10;
  const double E4 =
      (15.0 / 64) * ep4 - (105.0 / 256) * ep6 + (2205.0 / 4096) * ep8 - (10395.0 / 16384) * ep10;
  const double E6 = (35.0 / 512) * ep6 - (315.0 / 2048) * ep8 + (31185.0 / 131072) * ep10;
  const double E8 = (315.0 / 16384) * ep8 - (3465.0 / 65536) * ep10;
  const double E10 = (693.0 / 131072) * ep10;
  return Checked<6>({c * E0, (1.0 / 2) * E2 * c, (1.0 / 4) * E4 * c, (1.0 / 6) * E6 * c,
                     (1.0 / 8) * E8 * c, (1.0 / 10) * E10 * c});
}

// ------------------------------------------------------------ geocentric

std::array<double, 3> BLHToXYZ(const Geographic& g, double a, double e) {
  ResetFaultFlags();
  const double e2 = e * e;
  const double sinB = g.sinB, cosB = g.cosB, h = g.h;
  double sinL, cosL;
  SinCos(g.L, sinL, cosL);
  const double W = Sqrt(1 - sinB * sinB * e2);
  const double N = Div(a, W);  // radius of curvature in the prime vertical
  const double X = (N + h) * cosB * cosL;
  const double Y = (N + h) * cosB * sinL;
  const double Z = ((1 - e2) * N + h) * sinB;
  return Checked<3>({X, Y, Z});
}

std::array<double, 3> BLHToXYZ(double B, double L, double h, double a, double e) {
  Geographic g;
  g.B = B;
  g.L = L;
  g.h = h;
  SinCos(B, g.sinB, g.cosB);
  return BLHToXYZ(g, a, e);
}

namespace {

/// Longitude (rad, in (-pi, pi]) of a geocentric point (X, Y, Z): the
/// arctangent of Y / X moved into the quadrant of (X, Y). X = 0 is a division
/// by zero.
double GeocentricLongitude(double X, double Y) {
  double L = std::atan(Div(Y, X));
  if (X < 0 && Y < 0) {
    L = L - kPi;
  } else if (X < 0 && Y >= 0) {
    L = L + kPi;
  }
  return L;
}

/// XYZToBLH and XYZToGeographic: latitude and longitude, the sine and cosine of the
/// latitude, and the height when `withHeight` (else 0).
Geographic GeocentricToGeographic(double X, double Y, double Z, double a, double e,
                                  bool withHeight) {
  ResetFaultFlags();
  const double e2 = e * e;
  const double L = GeocentricLongitude(X, Y);
  // Distance from the polar axis; it depends on X and Y only and so has the
  // same value in every pass of the iteration.
  const double p = Sqrt(X * X + Y * Y);
  // The fixed-point iteration of the latitude,
  //   B' = atan((N(B) e^2 sin B + Z) / p),  N(B) = a / sqrt(1 - e^2 sin^2 B),
  // runs until a pass changes B by no more than kLatitudeTolerance.
  //
  // Start value: Bowring's closed form (1976), with the parametric latitude
  // theta of the point's projection, tan theta = Z a / (p b):
  //   B = atan((Z + e'^2 b sin^3 theta) / (p - e^2 a cos^3 theta)).
  // Within some 100 km of the surface it is within about 1e-15 rad of the
  // fixed point, so the iteration stops after its first or second pass.
  //
  // Where Bowring's value applies (e < 1, p > e^2 a: not deep inside the
  // ellipsoid) and the squares cannot overflow or vanish, the passes run on
  // the tangent t = tan B, which needs no trigonometric function at all:
  // with sin B = t / sqrt(1 + t^2) the pass above reads
  //   t' = (Z + a e^2 t / sqrt(1 + (1 - e^2) t^2)) / p,
  // and the change of the latitude from t to t' is
  //   atan t' - atan t = atan((t' - t) / (1 + t t')),
  // whose tangent (never smaller than the change itself) is compared with
  // the tolerance. One arctangent at the end gives B.
  if (e2 < 1 && p > 1 / kBowringRange && p < kBowringRange && std::fabs(Z) < kBowringRange) {
    const double ba = std::sqrt(1 - e2);  // b / a
    const double w = p * ba;
    const double invD = 1 / std::sqrt(Z * Z + w * w);
    const double sinT = Z * invD, cosT = w * invD;
    const double den = p - e2 * a * (cosT * cosT * cosT);
    const double num = Z + e2 * a / ba * (sinT * sinT * sinT);
    if (den > 0 && std::fabs(num) < kTangentRange * den) {
      const double ae2 = a * e2, be2 = 1 - e2, invP = 1 / p;
      double t = num / den;
      for (int pass = 0;; ++pass) {
        if (pass == kMaxIterations) [[unlikely]]
          Raise(FaultKind::kInvalidOperation);
        const double next = (ae2 * t / std::sqrt(1 + be2 * t * t) + Z) * invP;
        // 1 + t t' <= 0 would be a change of 90 deg or more.
        const double cosProduct = 1 + t * next;
        const bool more =
            cosProduct <= 0 || std::fabs(next - t) > kLatitudeTolerance * cosProduct;
        t = next;
        // Both comparisons are false for NaN, which ends the loop as well.
        if (!more) break;
      }
      Geographic g;
      g.B = std::atan(t);
      g.L = L;
      g.cosB = 1 / std::sqrt(1 + t * t);
      g.sinB = t * g.cosB;
      if (withHeight) g.h = GeocentricHeight(X, Y, g, a, e2);
      return CheckedGeographic(g);
    }
  }
  // Elsewhere the passes run on the latitude itself, from atan(Z / p); they
  // fault where that faults.
  double B = std::atan(Div(Z, p));
  double Bold = kNoLatitude;
  // The comparison is false for NaN, which ends the loop as well.
  for (int pass = 0; std::fabs(Bold - B) > kLatitudeTolerance; ++pass) {
    if (pass == kMaxIterations) [[unlikely]]
      Raise(FaultKind::kInvalidOperation);
    const double sinB = std::sin(B);
    const double N = Div(a, Sqrt(1 - sinB * sinB * e2));
    Bold = B;
    B = std::atan(Div(N * e2 * sinB + Z, p));
  }
  Geographic g;
  g.B = B;
  g.L = L;
  SinCos(B, g.sinB, g.cosB);
  if (withHeight) g.h = GeocentricHeight(X, Y, g, a, e2);
  return CheckedGeographic(g);
}

}  // namespace

std::array<double, 3> XYZToBLH(double X, double Y, double Z, double a, double e) {
  const Geographic g = GeocentricToGeographic(X, Y, Z, a, e, true);
  return {g.B, g.L, g.h};
}

Geographic XYZToGeographic(double X, double Y, double Z, double a, double e) {
  return GeocentricToGeographic(X, Y, Z, a, e, false);
}

// ------------------------------------------------------------ Helmert

SevenParPrepared PrepareSevenParTrans(double dX, double dY, double dZ, double m, double gamma,
                                      double beta, double alpha) {
  const double g = gamma / kArcSecondsPerRadian;
  const double b = beta / kArcSecondsPerRadian;
  const double al = alpha / kArcSecondsPerRadian;
  const double cg = std::cos(g), sg = std::sin(g);
  const double cb = std::cos(b), sb = std::sin(b);
  const double ca = std::cos(al), sa = std::sin(al);
  SevenParPrepared p{};
  // R = R3(gamma) R2(beta) R1(alpha), row by row.
  p.r11 = cg * cb;
  p.r12 = cg * sb * sa + sg * ca;
  p.r13 = sg * sa - cg * sb * ca;
  p.r21 = -sg * cb;
  p.r22 = cg * ca - sg * sb * sa;
  p.r23 = sg * sb * ca + cg * sa;
  p.r31 = sb;
  p.r32 = -cb * sa;
  p.r33 = cb * ca;
  p.k = m * kPpm + 1;
  p.dX = dX;
  p.dY = dY;
  p.dZ = dZ;
  return p;
}

std::array<double, 3> SevenParTrans(const SevenParPrepared& p, double X, double Y, double Z) {
  ResetFaultFlags();
  return Checked<3>({(p.r11 * X + p.r12 * Y + p.r13 * Z) * p.k + p.dX,
                     (p.r21 * X + p.r22 * Y + p.r23 * Z) * p.k + p.dY,
                     (p.r31 * X + p.r32 * Y + p.r33 * Z) * p.k + p.dZ});
}

std::array<double, 3> SevenParTrans(double X, double Y, double Z, double dX, double dY, double dZ,
                                    double m, double gamma, double beta, double alpha) {
  return SevenParTrans(PrepareSevenParTrans(dX, dY, dZ, m, gamma, beta, alpha), X, Y, Z);
}

// ------------------------------------------------------------ Gauss-Krueger

GaussKruegerPrepared PrepareGaussKrueger(double a, double e) {
  ResetFaultFlags();
  GaussKruegerPrepared p{};
  p.a = a;
  p.e2 = e * e;
  p.ep = Sqrt(Div(p.e2, 1 - p.e2));
  p.ep2 = p.ep * p.ep;
  p.b2a = (1 - p.e2) * a;
  // Third flattening n = (a - b) / (a + b) and the rectifying radius.
  const double r = Sqrt(1 - p.e2);
  const double q = 1 - r;
  const double n = Div(q, 2 - q);
  const double n2 = n * n, n3 = n2 * n;
  p.abar = (n2 * 0.25 + 1 + n2 * n2 * (1.0 / 64)) * Div(a, n + 1);
  // Reciprocals for the inverse, which multiplies by them; a zero value
  // (a = 0) faults there, as its division would.
  p.invA = a != 0 ? 1 / a : 0;
  p.invB2a = p.b2a != 0 ? 1 / p.b2a : 0;
  p.invAbar = p.abar != 0 ? 1 / p.abar : 0;
  // Footpoint series Bf = sigma + f1 sin 2sigma + f2 sin 4sigma + f3 sin 6sigma.
  p.footpoint = {(3.0 / 2) * (n - (9.0 / 16) * n3), (21.0 / 16) * n2, (151.0 / 96) * n3};
  if (PendingFaultFlags() != 0) [[unlikely]]
    Raise(FaultKind::kInvalidOperation);
  return p;
}

std::array<double, 2> BLToGK(const GaussKruegerPrepared& p, const Geographic& g, double l,
                             double c0, double c1, double c2, double c3, double c4, double c5) {
  ResetFaultFlags();
  const double B = g.B, sinB = g.sinB, cosB = g.cosB;
  const double N = Div(p.a, Sqrt(1 - sinB * sinB * p.e2));
  const double t = sinB / cosB;  // tan B; cos B of a double is never 0
  const double eta2 = cosB * cosB * p.ep2;

  // Meridian arc from the equator to B:
  // G = c0 B - c1 sin 2B + c2 sin 4B - c3 sin 6B + c4 sin 8B - c5 sin 10B.
  const double sin2B = 2 * sinB * cosB;
  const double cos2B = (cosB - sinB) * (cosB + sinB);
  const double G = c0 * B + ClenshawSineSeries<5>({-c1, c2, -c3, c4, -c5}, sin2B, cos2B);

  const double cos2 = cosB * cosB;
  const double cos3 = cos2 * cosB;
  const double cos5 = cos3 * cos2;
  const double cos7 = cos5 * cos2;
  const double t2 = t * t;
  const double t4 = t2 * t2;
  const double t6 = t4 * t2;
  const double eta4 = eta2 * eta2;

  const double a1 = cosB * N;
  const double a2 = cos2 * (1.0 / 2) * t * N;
  const double a3 = cos3 * (1.0 / 6) * N * (1 - t2 + eta2);
  const double a4 = cos3 * (1.0 / 24) * N * sinB * (5 - t2 + 9 * eta2 + 4 * eta4);
  const double a5 = cos5 * (1.0 / 120) * N *
                    (5 - 18 * t2 + t4 + 14 * eta2 - 58 * t2 * eta2 + 13 * eta4 - 64 * t2 * eta4);
  const double a6 =
      cos5 * (1.0 / 720) * N * sinB * (61 - 58 * t2 + t4 + 270 * eta2 - 330 * t2 * eta2);
  const double a7 = cos7 * (1.0 / 5040) * N * (61 - 479 * t2 + 179 * t4 - t6);
  const double a8 = cos7 * (1.0 / 40320) * N * sinB * (1385 - 3111 * t2 + 543 * t4 - t6);

  // x = G + a2 l^2 + a4 l^4 + a6 l^6 + a8 l^8, y = a1 l + a3 l^3 + a5 l^5 + a7 l^7.
  const double l2 = l * l;
  const double x = G + l2 * (a2 + l2 * (a4 + l2 * (a6 + l2 * a8)));
  const double y = l * (a1 + l2 * (a3 + l2 * (a5 + l2 * a7)));
  return Checked<2>({x, y});
}

std::array<double, 2> BLToGK(const GaussKruegerPrepared& p, double B, double l, double c0,
                             double c1, double c2, double c3, double c4, double c5) {
  Geographic g;
  g.B = B;
  SinCos(B, g.sinB, g.cosB);
  return BLToGK(p, g, l, c0, c1, c2, c3, c4, c5);
}

std::array<double, 2> BLToGK(double B, double l, double a, double e, double c0, double c1,
                             double c2, double c3, double c4, double c5) {
  return BLToGK(PrepareGaussKrueger(a, e), B, l, c0, c1, c2, c3, c4, c5);
}

Geographic GKToGeographic(const GaussKruegerPrepared& p, double x, double y) {
  ResetFaultFlags();
  const double e2 = p.e2;

  // Footpoint latitude. (abar is 0 only for a = 0, which thus faults here
  // as a division by zero, as do a zero a and b2a.)
  if (p.abar == 0 || p.a == 0 || p.b2a == 0) [[unlikely]]
    Raise(FaultKind::kDivisionByZero);
  const double sigma = x * p.invAbar;
  double sinS, cosS;
  SinCos(sigma, sinS, cosS);
  const double delta = ClenshawSineSeries<3>(p.footpoint, 2 * sinS * cosS,
                                             (cosS - sinS) * (cosS + sinS));
  const double Bf = sigma + delta;
  // Sine and cosine of Bf = sigma + delta from those of sigma and of delta,
  // which stays below 0.004 rad for eccentricities up to 0.1.
  double sinBf, cosBf;
  if (std::fabs(delta) < kSmallAngle) {
    double sinD, cosD;
    SmallAngleSinCos(delta, sinD, cosD);
    sinBf = sinS * cosD + cosS * sinD;
    cosBf = cosS * cosD - sinS * sinD;
  } else {
    SinCos(Bf, sinBf, cosBf);
  }
  // Reciprocals of the radii of curvature Nf = a / w and Mf = (1 - e^2) a / w^3
  // and of cos Bf: the coefficients are products of them.
  const double w2 = 1 - sinBf * sinBf * e2;
  const double w = Sqrt(w2);
  const double invN = w * p.invA;
  const double invM = w2 * w * p.invB2a;
  const double invCos = Div(1, cosBf);
  const double tf = sinBf * invCos;  // tan Bf
  const double etaf2 = cosBf * cosBf * p.ep2;

  const double tf2 = tf * tf;
  const double invN3 = invN * invN * invN;
  const double b1 = invCos * invN;                                        // 1 / (cos Bf Nf)
  const double b2 = -tf * ((1.0 / 2) * invM * invN);                      // -tf / (2 Mf Nf)
  const double b3 = -(etaf2 + (2 * tf2 + 1)) * ((1.0 / 6) * invN3 * invCos);
  const double b4 = tf * ((1.0 / 24) * invN3 * invM) *
                    (5 + 3 * tf2 + etaf2 - 9 * tf2 * etaf2 - 4 * etaf2 * etaf2);
  const double b5 = ((1.0 / 120) * invN3 * invN * invN * invCos) *
                    (5 + 28 * tf2 + 24 * tf2 * tf2 + 6 * etaf2 + 8 * tf2 * etaf2);

  // B = Bf + b2 y^2 + b4 y^4, l = b1 y + b3 y^3 + b5 y^5.
  const double y2 = y * y;
  const double dB = y2 * (b2 + y2 * b4);
  Geographic g;
  g.B = Bf + dB;
  g.L = y * (b1 + y2 * (b3 + y2 * b5));
  // Sine and cosine of B from those of Bf, as for Bf above.
  if (std::fabs(dB) < kSmallAngle) {
    double sinD, cosD;
    SmallAngleSinCos(dB, sinD, cosD);
    g.sinB = sinBf * cosD + cosBf * sinD;
    g.cosB = cosBf * cosD - sinBf * sinD;
  } else {
    SinCos(g.B, g.sinB, g.cosB);
  }
  return CheckedGeographic(g);
}

std::array<double, 2> GKToBL(const GaussKruegerPrepared& p, double x, double y) {
  const Geographic g = GKToGeographic(p, x, y);
  return {g.B, g.L};
}

std::array<double, 2> GKToBL(double x, double y, double a, double e) {
  return GKToBL(PrepareGaussKrueger(a, e), x, y);
}

// ------------------------------------------------------------ Krovak

KrovakPrepared PrepareKrovak(double a, double e) {
  ResetFaultFlags();
  KrovakPrepared p{};
  p.a = a;
  p.e = e;
  p.e2 = e * e;
  p.BK = KrovakB(p.e2);
  const double gamma0 = KrovakGamma0(p.BK);
  p.t0 = KrovakT0(gamma0, p.BK, e);
  const double A = KrovakA(a, p.e2);
  // Forward: S0 formed from degrees and minutes.
  constexpr double S0F = kKrovakPseudoParallelForward;
  p.nF = std::sin(S0F);  // cone constant
  p.r0F = Div(A * kKrovakScale, std::tan(S0F));
  p.coneF = Pow(std::tan(S0F / 2 + kQuarterPi), p.nF) * p.r0F;
  // Inverse: S0 as the evaluated product.
  constexpr double S0I = kKrovakPseudoParallelInverse;
  p.nI = std::sin(S0I);
  p.r0I = Div(A * kKrovakScale, std::tan(S0I));
  p.invNI = Div(1, p.nI);
  p.t0Root = Pow(p.t0, Div(-1, p.BK));
  p.invBK = Div(1, p.BK);
  if (PendingFaultFlags() != 0) [[unlikely]]
    Raise(FaultKind::kInvalidOperation);
  return p;
}

std::array<double, 2> BLToKrovak(const KrovakPrepared& p, double phi, double lambda) {
  ResetFaultFlags();
  const double e = p.e, BK = p.BK, n = p.nF;

  // Conformal latitude U and longitude V on the Gaussian sphere.
  const double sinPhi = std::sin(phi);
  const double q = Pow(Div(1 + e * sinPhi, 1 - e * sinPhi), BK * e / 2);
  const double U =
      2 * (std::atan(Div(Pow(std::tan(phi / 2 + kQuarterPi), BK) * p.t0, q)) - kQuarterPi);
  const double lambdaF = kFerroToGreenwich + lambda;
  const double V = (kKrovakCentreLongitudeFerro - lambdaF) * BK;

  // Cone latitude T and longitude D, then polar coordinates on the cone.
  const double cosU = std::cos(U);
  const double T = ArcSinInside(cosU * std::sin(kKrovakConeAzimuth) * std::cos(V) +
                                std::sin(U) * std::cos(kKrovakConeAzimuth));
  const double D = ArcSinInside(Div(std::sin(V) * cosU, std::cos(T)));
  const double theta = D * n;
  const double r = Div(p.coneF, Pow(std::tan(T / 2 + kQuarterPi), n));
  return Checked<2>({r * std::cos(theta), r * std::sin(theta)});
}

std::array<double, 2> BLToKrovak(double phi, double lambda, double a, double e) {
  return BLToKrovak(PrepareKrovak(a, e), phi, lambda);
}

std::array<double, 2> KrovakToBL(const KrovakPrepared& p, double X, double Y) {
  ResetFaultFlags();
  constexpr double S0 = kKrovakPseudoParallelInverse;
  const double e = p.e, n = p.nI, BK = p.BK;

  // Polar coordinates on the cone, then cone latitude T' and longitude D'.
  const double rho = Sqrt(Pow(Y, 2.0) + Pow(X, 2.0));
  const double theta = std::atan(Div(Y, X));
  const double Dp = Div(theta, n);
  const double Tp =
      2 * (std::atan(Pow(Div(p.r0I, rho), p.invNI) * std::tan(S0 / 2 + kQuarterPi)) - kQuarterPi);

  // Latitude U' and longitude V' on the Gaussian sphere.
  const double cosTp = std::cos(Tp);
  const double Up = ArcSinInside(std::sin(Tp) * std::cos(kKrovakConeAzimuth) -
                                 cosTp * std::sin(kKrovakConeAzimuth) * std::cos(Dp));
  const double Vp = ArcSinInside(Div(std::sin(Dp) * cosTp, std::cos(Up)));
  const double lambda = kKrovakCentreLongitudeGreenwich - Div(Vp, BK);

  // Latitude on the ellipsoid by iteration; the factor in front of the
  // eccentricity term does not change from pass to pass.
  const double sphere = p.t0Root * Pow(std::tan(Up / 2 + kQuarterPi), p.invBK);
  double phi = Up;
  double previous = 0;
  // The comparison is false for NaN, which ends the loop as well.
  for (int pass = 0; std::fabs(phi - previous) > kLatitudeTolerance; ++pass) {
    if (pass == kMaxIterations) [[unlikely]]
      Raise(FaultKind::kInvalidOperation);
    previous = phi;
    const double eSin = e * std::sin(previous);
    phi = 2 * (std::atan(sphere * Pow(Div(1 + eSin, 1 - eSin), e / 2)) - kQuarterPi);
  }
  return Checked<2>({phi, lambda});
}

std::array<double, 2> KrovakToBL(double X, double Y, double a, double e) {
  return KrovakToBL(PrepareKrovak(a, e), X, Y);
}

}  // namespace pelmo::geotra
