// Plausibility checks of one transformed point: a wrong zone or meridian
// index, points farther from the central meridian than the Gauss-Krueger
// series hold well, results outside what the output projection can
// sensibly give. The checks only look; they never change a point or stop a
// job.
//
// CheckPoint is a pure function of the job's settings (read once into a
// PlausibilityContext) and of the point: it can run on any worker, and its
// flags can colour a point on a map.
#pragma once

#include <string>

#include "core/settings.hpp"
#include "core/warnings.hpp"
#include "geodesy/point_chain.hpp"

namespace pelmo {

/// Distance from the central meridian [degrees] beyond which the
/// Gauss-Krueger series lose millimetres (measured against PROJ's exact
/// transverse Mercator: the inverse is off by 4.4 mm at 3 degrees and by
/// 25 mm at 4 degrees).
inline constexpr double kMaxMeridianDistanceDeg = 3.5;
/// Largest sensible distance of a result from its central meridian [m]
/// (UTM: eastings from 100 km to 900 km).
inline constexpr double kMaxEastingOffset = 400000;
/// Largest sensible northing [m]: a little more than the quarter meridian.
inline constexpr double kMaxNorthing = 10002000;

/// The job's settings that the checks need, converted once per job.
struct PlausibilityContext {
  bool active = false;  ///< seven-parameter mode with readable options
  Projection in = Projection::kNone, out = Projection::kNone;
  double inMeridian = 0, outMeridian = 0;  ///< central meridians [degrees]
  double inPrefix = 0, outPrefix = 0;      ///< meridian index or zone in the millions
  double outScale = 1, outEasting = 0, outNorthing = 0;  ///< GK-general output
};

/// Reads the checks' settings from the session. Never throws: a check whose
/// option cannot be read is left out (the point chain reports that text).
PlausibilityContext MakePlausibilityContext(const Session& session);

/// The checks of one point: `first` its first value as read (before the
/// chain), `r` what TransformPoint returned for the point.
PointWarnings CheckPoint(const PlausibilityContext& ctx, double first, const PointResult& r);

/// One line per kind met, each starting with "Warnung:" and ending with
/// CR LF, naming the count, the first line (`records`: record) and its
/// value; empty when nothing was met.
std::string WarningReport(const WarningTally& tally, const PlausibilityContext& ctx, bool records,
                          char decimalSign);

}  // namespace pelmo
