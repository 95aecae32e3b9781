#include "job/job_start.hpp"

#include <chrono>
#include <filesystem>
#include <string>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/frontend.hpp"
#include "core/numtext.hpp"
#include "formats/drivers.hpp"
#include "geodesy/geodesy.hpp"
#include "geodesy/plausibility.hpp"
#include "geodesy/point_chain.hpp"

namespace pelmo {

namespace {

// Valid range of an ellipsoid, all bounds exclusive.
constexpr double kMinSemiMajorAxis = 6000000;  // m
constexpr double kMaxSemiMajorAxis = 7000000;  // m
constexpr double kMinEccentricity = 0.0001;
constexpr double kMaxEccentricity = 0.1;

/// "-": standard input as the source, standard output as the target.
bool IsStandardStream(const std::string& name) { return name == kStandardStreamName; }

void Message(Session& s, const char* text) {
  s.frontEnd().ShowMessage(text, kProgramName, MsgIcon::kNone);
}

/// True when the two names denote the same file: equal texts, or two
/// spellings of one existing file (relative and absolute, links).
bool IdenticalFiles(const TransformSettings& t) {
  if (IsStandardStream(t.txtQuelldatei) || IsStandardStream(t.txtZielDatei)) return false;
  if (t.txtQuelldatei == t.txtZielDatei) return true;
  if (t.txtQuelldatei.empty() || t.txtZielDatei.empty()) return false;
  if (t.optSHP) return SameShapefile(t.txtQuelldatei, t.txtZielDatei);
  return SameFile(t.txtQuelldatei, t.txtZielDatei);
}

}  // namespace

bool EllipsoidInRange(const std::string& aText, const std::string& eText) {
  const double a = ParseNumber(aText);
  const double e = ParseNumber(eText);
  return a > kMinSemiMajorAxis && a < kMaxSemiMajorAxis && e > kMinEccentricity &&
         e < kMaxEccentricity;
}

std::string PrepareJob(Session& session) {
  TransformSettings& t = session.settings;
  if (t.optTranslation) {
    for (const std::string* f : {&t.txtDX, &t.txtDY, &t.txtDH}) {
      if (!IsNumeric(*f)) return kMsgNotANumber;
    }
  }
  if (t.optSevPar) {
    const std::string* fields[] = {&t.txtEll1a, &t.txtEll1e, &t.txtEll2a, &t.txtEll2e,
                                   &t.txtP1,    &t.txtP2,    &t.txtP3,    &t.txtP4,
                                   &t.txtP5,    &t.txtP6,    &t.txtP7,    &t.txtP2_1,
                                   &t.txtP2_2,  &t.txtP2_3,  &t.txtP2_4,  &t.txtP2_5,
                                   &t.txtP2_6,  &t.txtP2_7};
    for (const std::string* f : fields) {
      if (!IsNumeric(*f)) return kMsgNotANumber;
    }
    if (!EllipsoidInRange(t.txtEll1a, t.txtEll1e)) return kMsgEllipsoid1;
    if (!EllipsoidInRange(t.txtEll2a, t.txtEll2e)) return kMsgEllipsoid2;
    session.MeridianCoeffs =
        geotra::MeridianArcCoeffs(ParseNumber(t.txtEll2a), ParseNumber(t.txtEll2e));
    // The grids of the slots are opened and tried once per job.
    try {
      OpenGridSteps(session);
    } catch (const RunTimeError& e) {
      return e.what();
    }
  }
  return {};
}

JobOutcome RunJob(Session& session) {
  TransformSettings& t = session.settings;
  if (const std::string refused = PrepareJob(session); !refused.empty()) {
    session.frontEnd().ShowMessage(refused, kProgramName, MsgIcon::kNone);
    return JobOutcome::kRejected;
  }

  if (t.optSHP && (IsStandardStream(t.txtQuelldatei) || IsStandardStream(t.txtZielDatei))) {
    Message(session, kMsgStandardStreamShape);
    return JobOutcome::kRejected;
  }
  if (IdenticalFiles(t)) {
    Message(session, kMsgIdentical);
    return JobOutcome::kRejected;
  }

  // Every new job converts the settings afresh.
  session.Touch();
  session.warnings.Clear();
  const auto t0 = std::chrono::steady_clock::now();
  bool done = false;
  try {
    if (t.optSHP) done = TransformShapeFile(session);
    if (t.optASCII) done = TransformAsciiFile(session);
  } catch (const std::exception& e) {
    // The drivers report their own errors; anything else still ends here
    // with a message instead of taking the program down.
    session.frontEnd().ShowMessage(e.what(), kProgramName, MsgIcon::kNone);
    done = false;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - t0;
  // The plausibility warnings, once, on lines of their own.
  const std::string warnings = WarningReport(session.warnings, MakePlausibilityContext(session),
                                             t.optSHP, session.decimalSign());
  if (!warnings.empty()) {
    const std::string& log = t.txtDateien;
    session.AppendLog((log.empty() || log.back() == '\n' ? "" : "\r\n") + warnings);
  }
  session.AppendLog("vergangene Zeit in s " + FormatNumber(elapsed.count(), session.decimalSign()));
  return done ? JobOutcome::kDone : JobOutcome::kFailed;
}

}  // namespace pelmo
