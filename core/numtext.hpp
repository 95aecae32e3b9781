// Conversions between numbers and text, independent of the C locale.
//
// Reading: optional blanks, optional sign, digits with at most one decimal
// sign ("." or ","; both are accepted in every locale), optional exponent,
// optional blanks. Anything else (two decimal signs, group separators,
// letters, "nan", "inf", an empty text) is the type-mismatch error 13; a
// magnitude beyond the double range is the overflow error 6.
//
// Writing: up to 15 significant digits, no trailing zeros, no grouping, the
// given decimal sign.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pelmo {

/// Parses `text`; throws RunTimeError(13) or RunTimeError(6).
double ParseNumber(std::string_view text);

/// Parses `text` into `value`; returns the run-time error number on failure
/// (13 or 6) and 0 on success. Does not throw.
int TryParseNumber(std::string_view text, double& value) noexcept;

/// The common number text without blanks: [sign] digits [sep digits], no
/// exponent, at most 19 digits whose integer is at most 2^53, read at
/// [first, last) as ParseNumber reads it. Returns the end of the number
/// (the caller looks at what follows), or nullptr when the text there is
/// not of this form; `value` is then unchanged.
const char* ParseSimpleNumber(const char* first, const char* last, double& value) noexcept;

/// Place of a field in its line.
struct PlainField {
  std::size_t begin = 0, size = 0;
};

/// Reads the first `most` fields of `line` (separated by runs of blanks)
/// into `values` and `fields` when each is a number ParseSimpleNumber
/// takes whole; returns how many there were, or -1 when one is not such a
/// number (what was stored is then of no use).
int ParsePlainFields(std::string_view line, int most, double* values, PlainField* fields) noexcept;

/// True when ParseNumber accepts `text`.
bool IsNumeric(std::string_view text) noexcept;

/// Text of `value` with up to 15 significant digits and `decimalSign`.
std::string FormatNumber(double value, char decimalSign);

/// Room WriteNumber needs at `out`, in bytes (more than it keeps).
inline constexpr std::size_t kNumberTextMax = 40;

/// Writes FormatNumber(value, decimalSign) at `out`, which has room for
/// kNumberTextMax bytes; returns the end of the text.
char* WriteNumber(char* out, double value, char decimalSign);

/// Appends FormatNumber(value, decimalSign) to `out` (no allocation beyond
/// growing `out`).
void AppendNumber(std::string& out, double value, char decimalSign);

/// Shortest text that reads back to the same double, period as decimal sign.
std::string FormatShortest(double value);

/// Decimal sign of a locale name such as "de_DE.UTF-8" ("," ) or "C" (".").
char DecimalSignOfLocale(std::string_view localeName);

/// Decimal sign of the user's locale: LC_ALL, else LC_NUMERIC, else LANG.
char DecimalSignFromEnvironment();

}  // namespace pelmo
