// Least-squares estimation of a seven-parameter set (Gauss-Newton on the
// exact model of SevenParTrans) or of a translation.
//
// The iteration runs in long double: geocentric coordinates are about
// 6.4e6 m, so a double carries them to about 1e-9 m, and the translations,
// which are tied to the rotations through the distance of the points from
// the geocentre, would lose the last digits the parameters are written with.
// The residuals of the report are those of the program's own SevenParTrans
// with the parameters as saved (rounded to double).
//
// The adjustment is the Gauss-Markov model with the observation equations
// linearised at the current parameters (W. Niemeier, Ausgleichungsrechnung,
// de Gruyter 2008): the standard deviation of unit weight from the residuals
// and the redundancy, the parameters' standard deviations from the inverse
// of the normal matrix.

#include "geodesy/estimate.hpp"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "geodesy/geodesy.hpp"

namespace pelmo {

namespace {

using Real = long double;
using Mat3 = Eigen::Matrix<Real, 3, 3>;
using Vec3 = Eigen::Matrix<Real, 3, 1>;
using MatX = Eigen::Matrix<Real, Eigen::Dynamic, Eigen::Dynamic>;
using VecX = Eigen::Matrix<Real, Eigen::Dynamic, 1>;

constexpr Real kPpm = 1e-6L;                                      // scale unit
constexpr Real kArcSecond = 1 / Real(geotra::kArcSecondsPerRadian);  // rad per arc second

/// Iteration ends when an update moves no fitted coordinate by more than
/// this (m), or when round-off keeps the updates from shrinking below
/// kRoundOffStep (m); a set that has not settled after kMaxIterations
/// passes is refused.
constexpr Real kConvergedStep = 1e-10L;
constexpr Real kRoundOffStep = 1e-7L;
constexpr int kMaxIterations = 50;

/// Points whose spread across their best-fitting line is below this
/// fraction of the spread along it lie on one line for the estimation.
constexpr double kCollinearRatio = 1e-6;
/// Points spread by less than this (m, RMS about their centre) are at one place.
constexpr double kOnePlace = 1e-3;
/// Residuals are flagged above this multiple of their RMS ...
constexpr double kFlagFactor = 3;
/// ... when they show in the report's four decimals at all (m).
constexpr double kSmallestShown = 0.5e-4;

/// The three axis rotations of the coordinate-frame convention and their
/// derivatives by the angle (rad).
Mat3 R1(Real a, bool derivative) {
  const Real c = std::cos(a), s = std::sin(a);
  Mat3 m;
  if (derivative) {
    m << 0, 0, 0, 0, -s, c, 0, -c, -s;
  } else {
    m << 1, 0, 0, 0, c, s, 0, -s, c;
  }
  return m;
}
Mat3 R2(Real b, bool derivative) {
  const Real c = std::cos(b), s = std::sin(b);
  Mat3 m;
  if (derivative) {
    m << -s, 0, -c, 0, 0, 0, c, 0, -s;
  } else {
    m << c, 0, -s, 0, 1, 0, s, 0, c;
  }
  return m;
}
Mat3 R3(Real g, bool derivative) {
  const Real c = std::cos(g), s = std::sin(g);
  Mat3 m;
  if (derivative) {
    m << -s, c, 0, -c, -s, 0, 0, 0, 0;
  } else {
    m << c, s, 0, -s, c, 0, 0, 0, 1;
  }
  return m;
}

/// Parameters in the program's units: dX, dY, dZ, m, gamma, beta, alpha.
using Params = Eigen::Matrix<Real, 7, 1>;

/// The model at `x`: rotation R, its derivatives by the three angles (per
/// arc second), the scale k.
struct Model {
  Mat3 R, dGamma, dBeta, dAlpha;
  Real k;
  Vec3 d;

  explicit Model(const Params& x) {
    const Real g = x(4) * kArcSecond, b = x(5) * kArcSecond, a = x(6) * kArcSecond;
    const Mat3 r3 = R3(g, false), r2 = R2(b, false), r1 = R1(a, false);
    R = r3 * r2 * r1;
    dGamma = R3(g, true) * r2 * r1 * kArcSecond;
    dBeta = r3 * R2(b, true) * r1 * kArcSecond;
    dAlpha = r3 * r2 * R1(a, true) * kArcSecond;
    k = x(3) * kPpm + 1;
    d = x.head<3>();
  }
  Vec3 Apply(const Vec3& p) const { return (R * p) * k + d; }
};

Vec3 ToVec(const std::array<double, 3>& a) { return Vec3(a[0], a[1], a[2]); }

/// Refuses points that leave a rotation undetermined: all at one place or
/// all on one line (in system 1, whose coordinates span the model).
void CheckSpread(const std::vector<ControlPointXYZ>& points) {
  const auto n = static_cast<Real>(points.size());
  Vec3 centre = Vec3::Zero();
  for (const auto& p : points) centre += ToVec(p.xyz1);
  centre /= n;
  Mat3 scatter = Mat3::Zero();
  for (const auto& p : points) {
    const Vec3 q = ToVec(p.xyz1) - centre;
    scatter += q * q.transpose();
  }
  const Eigen::SelfAdjointEigenSolver<Mat3> eig(scatter / n, Eigen::EigenvaluesOnly);
  // Eigenvalues ascending: the spreads across and along the best line.
  const double along = std::sqrt(std::max<double>(0, static_cast<double>(eig.eigenvalues()(2))));
  const double across = std::sqrt(std::max<double>(0, static_cast<double>(eig.eigenvalues()(1))));
  if (along < kOnePlace) {
    throw EstimateError(
        "Die Passpunkte liegen alle an derselben Stelle: Drehungen und Maßstab sind nicht "
        "bestimmbar (nur 3 Parameter schätzen oder Punkte in anderer Lage hinzufügen)");
  }
  if (across < kCollinearRatio * along) {
    throw EstimateError(
        "Die Passpunkte liegen auf einer Geraden und spannen den Raum nicht auf: die Drehung um "
        "diese Gerade ist nicht bestimmbar (einen Punkt abseits der Geraden hinzufügen oder nur "
        "3 Parameter schätzen)");
  }
}

/// Root mean square of n values whose squares sum to `sum`.
double Rms(double sum, std::size_t n) { return std::sqrt(sum / static_cast<double>(n)); }

}  // namespace

int MinimumControlPoints(int parameters) { return parameters == kThreeParameters ? 1 : 3; }

ParameterEstimate EstimateParameters(const std::vector<ControlPointXYZ>& points, int parameters) {
  const int u = parameters == kThreeParameters ? kThreeParameters : kSevenParameters;
  const int minimum = MinimumControlPoints(u);
  if (static_cast<int>(points.size()) < minimum) {
    throw EstimateError("Zu wenige Passpunkte: " + std::to_string(points.size()) + " für " +
                        std::to_string(u) + " Parameter, mindestens " +
                        std::to_string(minimum) + " werden gebraucht");
  }
  if (u == kSevenParameters) CheckSpread(points);

  const std::size_t n = points.size();
  const auto rows = static_cast<Eigen::Index>(3 * n);
  ParameterEstimate est;
  est.parameters = u;
  est.points = static_cast<int>(n);
  est.redundancy = static_cast<int>(3 * n) - u;

  // Gauss-Newton from the identity: solve J dx = r for the update by a QR
  // decomposition of the Jacobian (better conditioned than the normal
  // equations), until the update no longer moves the fitted points.
  Params x = Params::Zero();
  MatX J(rows, u);
  VecX r(rows);
  Real lastStep = 0;
  bool converged = false;
  for (int iteration = 1; iteration <= kMaxIterations && !converged; ++iteration) {
    const Model model(x);
    for (std::size_t i = 0; i < n; ++i) {
      const Vec3 p1 = ToVec(points[i].xyz1);
      const auto row = static_cast<Eigen::Index>(3 * i);
      r.segment<3>(row) = ToVec(points[i].xyz2) - model.Apply(p1);
      J.block<3, 3>(row, 0) = Mat3::Identity();
      if (u == kSevenParameters) {
        J.block<3, 1>(row, 3) = (model.R * p1) * kPpm;
        J.block<3, 1>(row, 4) = (model.dGamma * p1) * model.k;
        J.block<3, 1>(row, 5) = (model.dBeta * p1) * model.k;
        J.block<3, 1>(row, 6) = (model.dAlpha * p1) * model.k;
      }
    }
    const Eigen::ColPivHouseholderQR<MatX> qr(J);
    if (qr.rank() < u) {
      throw EstimateError(
          "Die Passpunkte bestimmen die Parameter nicht: sie spannen den Raum nicht auf");
    }
    const VecX dx = qr.solve(r);
    x.head(u) += dx;
    const Real step = (J * dx).cwiseAbs().maxCoeff();
    est.iterations = iteration;
    converged = step < kConvergedStep ||
                (iteration > 2 && step >= lastStep / 2 && step < kRoundOffStep);
    lastStep = step;
  }
  if (!converged) {
    throw EstimateError("Die Ausgleichung konvergiert nicht (nach " +
                        std::to_string(kMaxIterations) +
                        " Iterationen): passen die Punkte und die Projektionen zusammen?");
  }
  for (int j = 0; j < 7; ++j) est.p[static_cast<std::size_t>(j)] = static_cast<double>(x(j));

  // Residuals with the program's own transformation and the set as saved,
  // turned into the local north, east and up of each point in system 2.
  const geotra::SevenParPrepared set = geotra::PrepareSevenParTrans(
      est.p[0], est.p[1], est.p[2], est.p[3], est.p[4], est.p[5], est.p[6]);
  double sumN = 0, sumE = 0, sumU = 0;
  for (const ControlPointXYZ& p : points) {
    const auto t = geotra::SevenParTrans(set, p.xyz1[0], p.xyz1[1], p.xyz1[2]);
    const double dX = p.xyz2[0] - t[0], dY = p.xyz2[1] - t[1], dZ = p.xyz2[2] - t[2];
    const double sB = std::sin(p.B2), cB = std::cos(p.B2);
    const double sL = std::sin(p.L2), cL = std::cos(p.L2);
    ControlResidual v;
    v.id = p.id;
    v.north = -sB * cL * dX - sB * sL * dY + cB * dZ;
    v.east = -sL * dX + cL * dY;
    v.up = cB * cL * dX + cB * sL * dY + sB * dZ;
    v.length = std::sqrt(v.north * v.north + v.east * v.east + v.up * v.up);
    sumN += v.north * v.north;
    sumE += v.east * v.east;
    sumU += v.up * v.up;
    est.residuals.push_back(v);
  }
  est.rmsNorth = Rms(sumN, n);
  est.rmsEast = Rms(sumE, n);
  est.rmsUp = Rms(sumU, n);
  est.rms3D = Rms(sumN + sumE + sumU, n);
  auto above = [](double value, double rms) {
    return std::fabs(value) > kFlagFactor * rms && std::fabs(value) >= kSmallestShown;
  };
  for (ControlResidual& v : est.residuals) {
    v.flagged = above(v.north, est.rmsNorth) || above(v.east, est.rmsEast) ||
                above(v.up, est.rmsUp) || above(v.length, est.rms3D);
    est.flagged += v.flagged ? 1 : 0;
  }

  // Precision: s0^2 = v'v / redundancy, Qxx = (J'J)^-1 at the solution.
  if (est.redundancy > 0) {
    est.sigma0 = std::sqrt((sumN + sumE + sumU) / est.redundancy);
    const MatX N = J.transpose() * J;
    const MatX Q = N.ldlt().solve(MatX::Identity(u, u));
    for (int j = 0; j < u; ++j) {
      est.sigma[static_cast<std::size_t>(j)] =
          est.sigma0 * std::sqrt(std::max<double>(0, static_cast<double>(Q(j, j))));
    }
  }
  return est;
}

}  // namespace pelmo
