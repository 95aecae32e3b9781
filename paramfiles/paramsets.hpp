// Ellipsoid (".ell") and seven-parameter (".7pr") files: delimited values
// (line ends or commas), texts optionally in double quotes, numbers with a
// period as decimal sign. Read only; any error leaves everything unchanged.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/settings.hpp"

namespace pelmo {

struct EllipsoidParams {
  std::string name;
  double a = 0;  ///< semi-major axis [m]
  double e = 0;  ///< first eccentricity
};

struct SevenParams {
  std::string name;
  /// dX, dY, dZ [m], m [ppm], gamma, beta, alpha [arc seconds].
  std::array<double, 7> p{};
};

/// Reads name, a, e; nullopt on any error (missing file, too few values,
/// a value that is not a number).
std::optional<EllipsoidParams> ReadEllipsoidFile(const std::string& path);

/// Reads name and the seven parameters; nullopt on any error.
std::optional<SevenParams> ReadSevenParFile(const std::string& path);

/// Writes a seven-parameter file that ReadSevenParFile reads back exactly:
/// the name in double quotes, then the seven numbers, one value per line,
/// CR LF, UTF-8, shortest exact numbers with a period. The file is written
/// under a temporary name and then put in place, so an existing file stays
/// as it was when writing fails. Throws RunTimeError naming the file.
void WriteSevenParFile(const std::string& path, const SevenParams& par);

/// Puts an ellipsoid into group 1 (txtBezEll1, txtEll1a, txtEll1e) or 2,
/// numbers in the user's decimal sign.
void AssignEllipsoid(TransformSettings& settings, int group, const EllipsoidParams& ell,
                     char decimalSign);

/// Puts a parameter set into set 1 (txtsevenParSys, txtP1..txtP7) or 2.
void AssignSevenPar(TransformSettings& settings, int set, const SevenParams& par,
                    char decimalSign);

/// Loads an ellipsoid file into group 1 or 2; false (and nothing changed)
/// on any error.
bool LoadEllipsoidFile(const std::string& path, TransformSettings& settings, int group,
                       char decimalSign);

/// Loads a seven-parameter file into set 1 or 2; false (and nothing
/// changed) on any error.
bool LoadSevenParFile(const std::string& path, TransformSettings& settings, int set,
                      char decimalSign);

}  // namespace pelmo
