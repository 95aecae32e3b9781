// The point chain: one point from the input reference system into the
// output reference system, by translation or by the seven-parameter chain.
#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <limits>

#include "core/settings.hpp"

namespace pelmo {

/// Result of TransformPoint: 3 values (translation mode, "Ell" output) or 2
/// (projected outputs).
struct PointResult {
  std::array<double, 3> values{};
  std::size_t size = 0;
  /// Longitude difference from the central meridian [rad] that the inverse
  /// of the input projection gave, and that the forward of the output
  /// projection took; NaN where no Gauss-Krueger projection was used.
  double inLon = std::numeric_limits<double>::quiet_NaN();
  double outLon = std::numeric_limits<double>::quiet_NaN();
  double operator[](std::size_t i) const { return values[i]; }
};

/// Transforms one point. `first`, `second` and `height` are laid out for the
/// input projection (easting or longitude first). In translation mode
/// `height` becomes height + txtDH; `first` and `second` are working storage.
/// Lets the front end process its events once, as the last action.
/// Throws RunTimeError (conversion error 13, floating-point faults).
PointResult TransformPoint(Session& session, double& first, double& second, double& height);

/// A point of TransformPoints: its values on the way in, as TransformPoint
/// leaves them on the way out, and its result.
struct ChainedPoint {
  double first = 0, second = 0, height = 0;
  PointResult result;
};

/// Points that TransformPoints takes through the chain together.
inline constexpr std::size_t kChainGroup = 16;

/// Transforms the points one after the other as TransformPoint would, the
/// same bits, each with its event pass; the settings are read once for
/// every kChainGroup points (a change made in an event pass applies from
/// the next group). Returns n, or the index of the first point that failed,
/// whose exception is then in `failure` (the points before it are done).
std::size_t TransformPoints(Session& session, ChainedPoint* points, std::size_t n,
                            std::exception_ptr& failure);

/// The projections of either end of the chain.
enum class Projection { kNone, kKrovak, kGK, kUTM, kGKGeneral, kEll };

/// The projection of side 1 (input) or side 2 (output), the flags tested in
/// the order the chain tests them; kNone when the group has none set.
Projection SideProjection(const TransformSettings& t, int side);

/// "GK-Germ", "GK-general", "UTM", "Krovak", "Ell"; "-" for kNone.
const char* ProjectionName(Projection p);

/// Opens the grids of the two slots (Session::grids) afresh for a job and
/// tries each, so that a grid that cannot be found or read stops the job
/// before any file is touched. Without it the chain opens them at the first
/// point. Throws GridFileError naming the file and the reason.
void OpenGridSteps(Session& session);

/// Gives `to` (the session of a worker thread, holding the same grid slots)
/// its own handles of the grids `from` has opened: the same files, without
/// opening and trying them again. Each thread needs handles of its own.
void CloneGridSteps(Session& to, Session& from);

/// A point at one end of the chain, on that end's ellipsoid: latitude B and
/// longitude L (rad), geocentric X, Y, Z (m).
struct GeocentricPoint {
  double B = 0, L = 0;
  std::array<double, 3> xyz{};
};

/// The inverse of one end of the seven-parameter chain: a point laid out as
/// the input projection and ellipsoid 1 expect it (side 1), or as the output
/// projection and ellipsoid 2 expect it (side 2), to geographic and
/// geocentric coordinates with the chain's own routines and settings.
/// `height` is the ellipsoidal height on that ellipsoid; Krovak points keep
/// it here (the chain itself puts them on ellipsoid 1). No event pass.
/// Throws RunTimeError like TransformPoint.
GeocentricPoint PointToGeocentric(Session& session, int side, double first, double second,
                                  double height);

}  // namespace pelmo
