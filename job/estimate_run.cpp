#include "job/estimate_run.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/numtext.hpp"
#include "geodesy/point_chain.hpp"
#include "job/job_start.hpp"

namespace pelmo {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kResidualDecimals = 4;   // metres: 0.1 mm
constexpr int kParameterDecimals = 6;  // m, ppm, arc seconds
constexpr std::size_t kNumberWidth = 10;
constexpr std::size_t kParameterWidth = 16;

/// Names and units of the seven parameters in the report.
constexpr std::array<const char*, 7> kParameterNames = {
    "dX [m]", "dY [m]", "dZ [m]", "m [ppm]", "gamma [\"]", "beta [\"]", "alpha [\"]"};

/// The ellipsoid fields as the job start tests them, with the job start's
/// messages (and the field, where it is not a number).
void CheckEllipsoids(const TransformSettings& t) {
  const std::array<std::pair<const std::string*, const char*>, 4> fields = {{
      {&t.txtEll1a, "Ellipsoid 1, a"},
      {&t.txtEll1e, "Ellipsoid 1, e"},
      {&t.txtEll2a, "Ellipsoid 2, a"},
      {&t.txtEll2e, "Ellipsoid 2, e"},
  }};
  for (const auto& [text, name] : fields) {
    if (!IsNumeric(*text)) throw std::runtime_error(std::string(kMsgNotANumber) + " (" + name + ")");
  }
  if (!EllipsoidInRange(t.txtEll1a, t.txtEll1e)) throw std::runtime_error(kMsgEllipsoid1);
  if (!EllipsoidInRange(t.txtEll2a, t.txtEll2e)) throw std::runtime_error(kMsgEllipsoid2);
}

/// `text` padded with blanks to `width` on the left (right-aligned).
std::string Right(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Left(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string FormatFixed(double value, int decimals, char decimalSign) {
  std::array<char, 64> buf{};
  const auto [end, ec] =
      std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return FormatNumber(value, decimalSign);
  std::string s(buf.data(), end);
  if (s.starts_with('-') && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);  // -0.0000
  std::replace(s.begin(), s.end(), '.', decimalSign);
  return s;
}

EstimateRun RunEstimate(Session& session, const std::string& file1, const std::string& file2,
                        int parameters) {
  EstimateRun run;
  run.files = "\"" + file1 + "\"" + (file2.empty() ? "" : " / \"" + file2 + "\"");
  CheckEllipsoids(session.settings);
  run.control = file2.empty() ? ReadControlPoints(file1) : ReadControlPoints(file1, file2);

  std::vector<ControlPointXYZ> points;
  points.reserve(run.control.points.size());
  for (const ControlPoint& cp : run.control.points) {
    ControlPointXYZ p;
    p.id = cp.id;
    try {
      const auto& [f1, s1, h1] = cp.system1;
      const auto& [f2, s2, h2] = cp.system2;
      p.xyz1 = PointToGeocentric(session, 1, f1, s1, h1).xyz;
      const GeocentricPoint g2 = PointToGeocentric(session, 2, f2, s2, h2);
      p.xyz2 = g2.xyz;
      p.B2 = g2.B;
      p.L2 = g2.L;
    } catch (const RunTimeError& e) {
      throw std::runtime_error("Punkt " + cp.id + " (" + cp.where + "): " + e.what());
    }
    points.push_back(std::move(p));
  }
  try {
    run.estimate = EstimateParameters(points, parameters);
  } catch (const EstimateError& e) {
    // Points left out may be the reason for too few.
    std::string text = e.what();
    if (!run.control.unmatched.empty()) {
      text += std::string(kCrLf) + "Nur in einer der Dateien (weggelassen): ";
      for (std::size_t i = 0; i < run.control.unmatched.size(); ++i) {
        text += (i > 0 ? ", " : "") + run.control.unmatched[i];
      }
    }
    throw EstimateError(text);
  }
  return run;
}

void WriteEstimateReport(const std::string& path, const std::string& report) {
  OutputFile out;
  try {
    out.Open(path);
    out.Write(report);
    out.Close();
  } catch (const RunTimeError&) {
    out.CloseQuietly();
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    throw;
  }
}

std::string EstimateDescription(const ParameterEstimate& estimate) {
  return "estimated from " + std::to_string(estimate.points) + " points, RMS " +
         FormatFixed(estimate.rms3D, kResidualDecimals, '.') + " m";
}

SevenParams EstimatedSet(const ParameterEstimate& estimate) {
  SevenParams set;
  set.name = EstimateDescription(estimate);
  set.p = estimate.p;
  return set;
}

std::string EstimateReport(const EstimateRun& run, char decimalSign) {
  const ParameterEstimate& e = run.estimate;
  auto num = [&](double v, int decimals, std::size_t width) {
    return Right(FormatFixed(v, decimals, decimalSign), width);
  };
  std::string r = "Passpunkte: " + run.files + kCrLf;
  for (const std::string& u : run.control.unmatched) {
    r += "  nur in einer Datei, weggelassen: " + u + kCrLf;
  }
  r += "Geschätzt: " + std::to_string(e.parameters) + " Parameter aus " +
       std::to_string(e.points) + " Punkten, Redundanz " + std::to_string(e.redundancy) +
       ", " + std::to_string(e.iterations) + " Iterationen" + kCrLf + kCrLf;

  std::size_t idWidth = std::string("Punkt").size();
  for (const ControlResidual& v : e.residuals) idWidth = std::max(idWidth, v.id.size());
  r += "Restklaffungen in System 2 (gegeben minus transformiert) [m]" + std::string(kCrLf);
  r += Left("Punkt", idWidth) + Right("Nord", kNumberWidth) + Right("Ost", kNumberWidth) +
       Right("Höhe", kNumberWidth + 1) + Right("3D", kNumberWidth) + kCrLf;  // ö: two bytes
  for (const ControlResidual& v : e.residuals) {
    r += Left(v.id, idWidth) + num(v.north, kResidualDecimals, kNumberWidth) +
         num(v.east, kResidualDecimals, kNumberWidth) + num(v.up, kResidualDecimals, kNumberWidth) +
         num(v.length, kResidualDecimals, kNumberWidth) + (v.flagged ? "  *" : "") + kCrLf;
  }
  r += Left("RMS", idWidth) + num(e.rmsNorth, kResidualDecimals, kNumberWidth) +
       num(e.rmsEast, kResidualDecimals, kNumberWidth) +
       num(e.rmsUp, kResidualDecimals, kNumberWidth) +
       num(e.rms3D, kResidualDecimals, kNumberWidth) + kCrLf;
  if (e.flagged > 0) {
    r += "* " + std::to_string(e.flagged) +
         (e.flagged == 1 ? " Punkt" : " Punkte") +
         " mit Restklaffung über dem Dreifachen des RMS" + kCrLf;
  }
  r += kCrLf;

  r += Left("Parameter", 12) + Right("Wert", kParameterWidth) +
       Right("Standardabw.", kParameterWidth) + kCrLf;
  for (int j = 0; j < e.parameters; ++j) {
    const auto k = static_cast<std::size_t>(j);
    r += Left(kParameterNames[k], 12) + num(e.p[k], kParameterDecimals, kParameterWidth) +
         (e.redundancy > 0 ? num(e.sigma[k], kParameterDecimals, kParameterWidth)
                           : Right("-", kParameterWidth)) +
         kCrLf;
  }
  if (e.redundancy > 0) {
    r += "Standardabweichung der Gewichtseinheit s0 = " +
         FormatFixed(e.sigma0, kResidualDecimals, decimalSign) + " m" + kCrLf;
  } else {
    r += "Keine Überbestimmung: die Standardabweichungen sind nicht bestimmbar" +
         std::string(kCrLf);
  }
  return r;
}

}  // namespace pelmo
