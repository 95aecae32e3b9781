// The properties file (".par"): a complete configuration in 64 lines, one
// value per line (#TRUE#/#FALSE#, integers, quoted texts), CR LF line ends,
// UTF-8 (files from older systems in Windows-1252 are read too).
#pragma once

#include <stdexcept>
#include <string>

#include "core/settings.hpp"

namespace pelmo {

/// Number of lines of a properties file.
inline constexpr int kPropertiesLines = 64;

/// Texts that follow the error number in the messages of the two commands
/// (both begin with three blanks).
inline constexpr const char* kPropertiesLoadError = "   Fehler Beim Laden der Parameter Datei";
inline constexpr const char* kPropertiesSaveError = "   Fehler Beim Speichern der Parameter Datei";

/// Error number of a value outside the range of its control (a check-box
/// line holding an integer other than 0, 1 or 2, a text with a line break
/// that cannot be written as one line).
inline constexpr int kInvalidPropertyValue = 380;

/// Description of a properties-file error number: "Ungültiger
/// Eigenschaftswert" for 380, otherwise the run-time error text.
std::string PropertiesErrorText(int number);

/// A failed load or save: the run-time error number, and for a load the
/// 1-based line at which it failed (0 when the file could not be opened).
class PropertiesError : public std::runtime_error {
 public:
  PropertiesError(int number, int line, const std::string& detail);
  int number() const noexcept { return number_; }
  int line() const noexcept { return line_; }

 private:
  int number_;
  int line_;
};

/// The message the user sees: the number followed by the fixed text.
std::string PropertiesErrorMessage(int number, bool saving);

/// Writes the 64 lines from `settings` (lines 1-46) and `dialog` (the
/// options-dialog values, lines 47-64, in the layout of the option table:
/// check boxes as "0", "1" or "2"; entries 10 and 11 are not stored).
/// Sets settings.txtPAR to `path` once the file is created.
/// Throws PropertiesError.
void SaveProperties(const std::string& path, TransformSettings& settings,
                    const OptionTable& dialog);

/// Reads the 64 lines and assigns each value at once (an option button set
/// to True clears the others of its group; the reserved lines are dropped).
/// Sets settings.txtPAR to `path` once the file is opened. On failure the
/// values read so far stay assigned. Throws PropertiesError. The caller then
/// applies `dialog` as the options dialog's Apply does.
void LoadProperties(const std::string& path, TransformSettings& settings, OptionTable& dialog);

/// SaveProperties for a session: a slot that holds a grid is written as its
/// set name with seven zeros (the file has no place for a grid), and the
/// log says so.
void SaveProperties(const std::string& path, Session& session, const OptionTable& dialog);

/// LoadProperties for a session: a slot whose set the file assigned holds
/// that seven-parameter set again, no longer a grid.
void LoadProperties(const std::string& path, Session& session, OptionTable& dialog);

}  // namespace pelmo
