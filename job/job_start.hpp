// The job start behind "TRANSFORM": checks the fields of the active datum
// mode, prepares the meridian-arc coefficients of the target ellipsoid,
// refuses identical source and target, runs the driver and logs the time.
#pragma once

#include <string>

#include "core/settings.hpp"
#include "formats/drivers.hpp"

namespace pelmo {

/// Outcome of a job.
enum class JobOutcome {
  kDone,      ///< the driver ran to the end
  kRejected,  ///< a check failed before any file was touched (message shown)
  kFailed,    ///< the driver stopped with a message, was declined or cancelled
};

/// Messages of the job start.
inline constexpr const char* kMsgNotANumber = "Fehler - keine Zahl";
inline constexpr const char* kMsgEllipsoid1 =
    "Ellipsoid 1 werte ausserhalb des gültigen Wetrebereichs";
inline constexpr const char* kMsgEllipsoid2 =
    "Ellipsoid 2 Werte ausserhalb des gültigen Wetrebereichs";
inline constexpr const char* kMsgStandardStreamShape =
    "\"-\" (Standardeingabe oder -ausgabe) gibt es nur für ASCII-Dateien, nicht für Shapefiles";

/// The job start's test of one ellipsoid: a and e are numbers within the
/// valid range. Throws RunTimeError(13) for a text that is not a number.
bool EllipsoidInRange(const std::string& aText, const std::string& eText);

/// The checks of a job before any file is touched (the fields of the
/// active datum mode, the ellipsoids' ranges), the meridian-arc
/// coefficients of ellipsoid 2, the grids opened and tried: "" when the job
/// may start, else the message that refuses it.
std::string PrepareJob(Session& session);

/// Runs one job (the window disables itself around the call). Every way out
/// logs the elapsed time once a driver has started.
JobOutcome RunJob(Session& session);

}  // namespace pelmo
