// Estimation of a seven-parameter (or three-parameter) set from control
// points known in both reference systems, by least squares, with the
// residuals of the fit in each point's local north, east and up.
//
// The model is the program's own SevenParTrans, coordinate-frame rotations
// R3(gamma) R2(beta) R1(alpha) multiplied out exactly:
//   X2 = (1 + m 1e-6) R(gamma, beta, alpha) X1 + (dX, dY, dZ)
// with dX, dY, dZ in metres, m in ppm and the angles in arc seconds. All
// three coordinate differences of all points carry equal weight; the
// non-linear model is iterated (Gauss-Newton) to convergence.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelmo {

/// Numbers of parameters that can be estimated.
inline constexpr int kSevenParameters = 7;
inline constexpr int kThreeParameters = 3;

/// One control point: geocentric X, Y, Z (m) in system 1 and system 2, and
/// its latitude B2 and longitude L2 (rad) in system 2, which orient its
/// local north, east and up.
struct ControlPointXYZ {
  std::string id;
  std::array<double, 3> xyz1{}, xyz2{};
  double B2 = 0, L2 = 0;
};

/// Residual of one point after the fit: the given system-2 position minus
/// the transformed system-1 position, in metres.
struct ControlResidual {
  std::string id;
  double north = 0, east = 0, up = 0;
  double length = 0;      ///< 3D length
  bool flagged = false;   ///< a component or the length above three times its RMS
};

/// The estimated set, its precision and the residuals.
struct ParameterEstimate {
  int parameters = kSevenParameters;  ///< 7 or 3
  /// dX, dY, dZ [m], m [ppm], gamma, beta, alpha [arc seconds]; a
  /// three-parameter estimate leaves the last four 0.
  std::array<double, 7> p{};
  /// Standard deviations in the same units (0 where not estimated); only
  /// meaningful when `redundancy` > 0.
  std::array<double, 7> sigma{};
  int points = 0;
  int redundancy = 0;   ///< 3 * points - parameters
  int iterations = 0;
  double sigma0 = 0;    ///< standard deviation of unit weight [m] (redundancy > 0)
  double rmsNorth = 0, rmsEast = 0, rmsUp = 0, rms3D = 0;  ///< [m], over the points
  std::vector<ControlResidual> residuals;  ///< in the order of the points
  int flagged = 0;      ///< number of flagged points
};

/// A set that cannot be estimated from the points given (too few, all on a
/// line, no convergence); the text says why, in German as the program's
/// messages are.
class EstimateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Fewest points for a number of parameters: 3 for 7, 1 for 3.
int MinimumControlPoints(int parameters);

/// Estimates `parameters` (7 or 3) parameters from the points. Throws
/// EstimateError when there are too few points or, for seven parameters,
/// when they lie on one line (or at one place) so that a rotation is not
/// determined.
ParameterEstimate EstimateParameters(const std::vector<ControlPointXYZ>& points, int parameters);

}  // namespace pelmo
