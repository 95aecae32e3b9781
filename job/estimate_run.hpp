// Estimation of a parameter set from control-point files, shared by the
// window's "Estimate Parameters..." dialog and the batch tool: read the
// files, carry every point to geocentric coordinates with the session's
// projections and ellipsoids, estimate, report, save as a .7pr file.
#pragma once

#include <string>

#include "core/settings.hpp"
#include "formats/control_points.hpp"
#include "geodesy/estimate.hpp"
#include "paramfiles/paramsets.hpp"

namespace pelmo {

/// What one estimation read and computed.
struct EstimateRun {
  std::string files;         ///< the file name(s), for the report
  ControlPointList control;  ///< the points used and the ids left out
  ParameterEstimate estimate;
};

/// Reads the control points of `file1` (and `file2` when not empty: then
/// system 1 and system 2 come from one file each), converts them with the
/// session's settings (input projection on ellipsoid 1, output projection
/// on ellipsoid 2) and estimates `parameters` (7 or 3) parameters. Throws
/// std::runtime_error with the message to show: a file that cannot be read
/// (file, line, field), an ellipsoid out of range, a point the projections
/// cannot take (its id, file and line), too few points, points on one line.
EstimateRun RunEstimate(Session& session, const std::string& file1, const std::string& file2,
                        int parameters);

/// The report: the files, the ids left out, per point the residuals in
/// north, east, up and their 3D length (m, 4 decimals) with a mark at the
/// flagged ones, the RMS per direction and in 3D, the parameters with their
/// standard deviations, points, redundancy. Lines end with CR LF; numbers
/// carry `decimalSign`.
std::string EstimateReport(const EstimateRun& run, char decimalSign);

/// Writes the report to `path` as it is (CR LF line ends); a file that could
/// not be written completely is removed. Throws RunTimeError naming the file.
void WriteEstimateReport(const std::string& path, const std::string& report);

/// The name of an estimated set: "estimated from N points, RMS x m".
std::string EstimateDescription(const ParameterEstimate& estimate);

/// The estimated set as it is saved and put into the fields.
SevenParams EstimatedSet(const ParameterEstimate& estimate);

/// `value` with `decimals` digits after `decimalSign`, independent of the
/// C locale.
std::string FormatFixed(double value, int decimals, char decimalSign);

}  // namespace pelmo
