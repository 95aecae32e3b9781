// Lines of ASCII coordinate files: reading one line as the layout says,
// and transforming one line into the text written for it.
//
// Both are functions of the line, its number, the layout and the settings
// alone, so that blocks of lines can be handled anywhere and in any order.
//
// Without an active layout a line is "first second [height]" separated by
// blanks (further fields ignored) and is written as "first second height".
// With a layout the first lines (header), empty lines and lines starting
// with "#" are copied; every other line keeps its columns and separators,
// with the first and second value (and, in translation mode, the height)
// replaced by the results, written with the decimal sign the line uses
// (else a point for comma-separated lines, else the user's).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/errors.hpp"
#include "core/settings.hpp"
#include "core/warnings.hpp"
#include "geodesy/plausibility.hpp"

namespace pelmo {

// ---------------------------------------------------------------- layout words

/// Reads a column list such as "id,second,first,height" (words id, first,
/// second, height, skip). False with a German reason when the list is not
/// usable (unknown word, no or two first or second values, two heights).
bool ParseAsciiColumns(std::string_view text, std::vector<AsciiColumn>& columns,
                       std::string& error);
/// The column list as text ("first,second,height").
std::string AsciiColumnsText(const std::vector<AsciiColumn>& columns);
/// Reads "blank", "tab", "comma" or "semicolon".
bool ParseAsciiSeparator(std::string_view text, AsciiSeparator& separator);
const char* AsciiSeparatorName(AsciiSeparator separator);

// ---------------------------------------------------------------- reading a line

/// `text` as it can be shown in a message: control characters other than
/// the tab, bytes that are not UTF-8 and the byte order mark become U+FFFD.
std::string PrintableText(std::string_view text);

/// Place of a field's text in its line (without quotes and surrounding
/// blanks).
struct FieldSpan {
  std::size_t begin = 0, size = 0;
};

/// One line as the layout reads it.
struct AsciiPoint {
  bool copy = false;  ///< header, comment or empty line: copied unchanged
  double first = 0, second = 0, height = 0;
  bool hasHeight = false;
  FieldSpan span[3];     ///< the first, second and height fields
  char decimalSign = 0;  ///< decimal sign of the coordinate fields, 0 when none has one
};

/// A field of a line that cannot be read. what() is the run-time error's
/// description; FieldErrorText() adds which column and what was expected.
class AsciiFieldError : public RunTimeError {
 public:
  enum class Problem { kNotANumber, kTooLarge, kMissing, kDecimalComma, kTooManyFields };
  AsciiFieldError(int number, Problem problem, std::size_t column, AsciiColumn role,
                  std::string field)
      : RunTimeError(number), problem_(problem), column_(column), role_(role),
        field_(std::move(field)) {}
  Problem problem() const noexcept { return problem_; }
  std::size_t column() const noexcept { return column_; }  ///< 1-based
  AsciiColumn role() const noexcept { return role_; }
  const std::string& field() const noexcept { return field_; }

 private:
  Problem problem_;
  std::size_t column_;
  AsciiColumn role_;
  std::string field_;
};

/// Reads one line (line 1 without its byte order mark); `cut` tells that
/// the line was longer than the reader keeps. Throws AsciiFieldError for a
/// field that cannot be read and RunTimeError for a line too long.
AsciiPoint ReadAsciiLine(std::string_view line, long lineNo, bool cut, const AsciiLayout& layout);

/// "Spalte 2 (Nordwert): "5659000,5a" ist keine Zahl": the column of a
/// field error, named for the input projection of `t`, and what it needs.
std::string FieldErrorText(const AsciiFieldError& e, const TransformSettings& t);

/// The message for an error at a line: its description (with the column
/// of a field error), the line number and the line itself (cut when very
/// long, made printable).
std::string LineErrorMessage(const std::exception& e, const TransformSettings& t, long lineNo,
                             std::string_view line);

// ---------------------------------------------------------------- one line

/// What became of a line.
struct AsciiLineResult {
  bool point = false;  ///< a point was transformed (else the line was copied)
  PointWarnings warnings;
};

/// Appends the text written for `line`, read with `layout` as `p` and
/// transformed by TransformPoint to `r` (`height` as it left it), and
/// `lineEnd`, to `out`. A line that holds no point is copied.
AsciiLineResult WriteAsciiLine(Session& session, const AsciiLayout& layout,
                               const PlausibilityContext& ctx, std::string_view line,
                               const AsciiPoint& p, const PointResult& r, double height,
                               std::string_view lineEnd, std::string& out);

}  // namespace pelmo
