#include "core/numtext.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale>
#include <system_error>

#include "core/errors.hpp"

namespace pelmo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Longest number text we convert on the stack; longer texts go to the heap.
constexpr std::size_t kStackDigits = 128;

// Stands in for a decimal exponent too large for a long; far beyond any
// double, yet small enough to add digit counts to without overflow.
constexpr long kHugeExponent = 1L << 40;

}  // namespace

int TryParseNumber(std::string_view text, double& value) noexcept {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  const std::string_view t = text.substr(b, e - b);

  // Check the grammar: [sign] digits [sep digits] [(e|E) [sign] digits].
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  const std::size_t mantissaStart = i;
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  std::size_t sepPos = std::string_view::npos;
  if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
    sepPos = i++;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return errnum::kTypeMismatch;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    std::size_t expDigits = 0;
    while (j < t.size() && IsDigit(t[j])) ++j, ++expDigits;
    if (expDigits == 0) return errnum::kTypeMismatch;
    i = j;
  }
  if (i != t.size()) return errnum::kTypeMismatch;

  // Convert: from_chars wants '.', and no leading '+'.
  const std::string_view body = t.substr(mantissaStart);
  char stackBuf[kStackDigits];
  std::string heapBuf;
  char* buf = stackBuf;
  if (body.size() > kStackDigits) {
    heapBuf.assign(body);
    buf = heapBuf.data();
  } else {
    body.copy(stackBuf, body.size());
  }
  if (sepPos != std::string_view::npos) buf[sepPos - mantissaStart] = '.';
  double v = 0;
  const auto res = std::from_chars(buf, buf + body.size(), v, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // Either beyond the double range (an overflow) or below the smallest
    // subnormal (read as zero).
    const std::string_view s(buf, body.size());
    const auto ePos = s.find_first_of("eE");
    long exponent = 0;
    if (ePos != std::string_view::npos) {
      const auto er = std::from_chars(s.data() + ePos + 1 + (s[ePos + 1] == '+'),
                                      s.data() + s.size(), exponent);
      // An exponent beyond the range of long: only its sign matters.
      if (er.ec == std::errc::result_out_of_range) {
        exponent = s[ePos + 1] == '-' ? -kHugeExponent : kHugeExponent;
      }
      exponent = std::clamp(exponent, -kHugeExponent, kHugeExponent);
    }
    // Position of the first significant digit relative to the decimal sign.
    const std::size_t firstNonZero = s.find_first_of("123456789");
    const std::size_t point = s.find('.') == std::string_view::npos
                                  ? std::min(ePos, s.size())
                                  : s.find('.');
    const long magnitude =
        exponent + (firstNonZero < point ? static_cast<long>(point - firstNonZero)
                                         : -static_cast<long>(firstNonZero - point) + 1);
    if (magnitude > 0) return errnum::kOverflow;
    v = 0;
  } else if (res.ec != std::errc() || res.ptr != buf + body.size()) {
    return errnum::kTypeMismatch;
  }
  value = negative ? -v : v;
  return 0;
}

double ParseNumber(std::string_view text) {
  double v = 0;
  const int err = TryParseNumber(text, v);
  if (err != 0) throw RunTimeError(err);
  return v;
}

bool IsNumeric(std::string_view text) noexcept {
  double v;
  return TryParseNumber(text, v) == 0;
}

void AppendNumber(std::string& out, double value, char decimalSign) {
  if (value == 0) value = 0;  // no "-0"
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  for (char* p = buf; p != res.ptr; ++p) {
    if (*p == '.') *p = decimalSign;
  }
  out.append(buf, res.ptr);
}

std::string FormatNumber(double value, char decimalSign) {
  std::string s;
  AppendNumber(s, value, decimalSign);
  return s;
}

std::string FormatShortest(double value) {
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

char DecimalSignOfLocale(std::string_view name) {
  if (name.empty() || name == "C" || name == "POSIX" || name.starts_with("C.")) return '.';
  // Ask the installed locale first.
  try {
    const std::locale loc{std::string(name)};
    return std::use_facet<std::numpunct<char>>(loc).decimal_point();
  } catch (const std::exception&) {
    // Not installed here: fall back on the language and territory.
  }
  const std::string_view lang = name.substr(0, name.find_first_of("_.@"));
  std::string_view territory;
  if (const auto u = name.find('_'); u != std::string_view::npos) {
    territory = name.substr(u + 1, name.find_first_of(".@", u) - u - 1);
  }
  // Territories of comma languages that write a decimal point.
  if ((lang == "de" && (territory == "CH" || territory == "LI")) ||
      (lang == "it" && territory == "CH") ||
      (lang == "es" && (territory == "MX" || territory == "US" || territory == "GT" ||
                        territory == "HN" || territory == "NI" || territory == "PA" ||
                        territory == "PR" || territory == "SV" || territory == "DO")) ||
      (lang == "fr" && territory == "CH")) {
    return '.';
  }
  static constexpr std::string_view kCommaLanguages[] = {
      "de", "fr", "it", "es", "pt", "nl", "cs", "sk", "pl", "ru", "uk", "be", "bg", "sv",
      "da", "nb", "nn", "no", "fi", "hu", "ro", "hr", "sl", "sr", "bs", "mk", "sq", "tr",
      "el", "et", "lv", "lt", "is", "id", "vi", "ca", "gl", "eu", "af", "az", "kk", "ka",
      "hy", "mn", "uz", "lb", "fo", "fy", "rm", "wa", "br", "oc", "eo", "nds", "hsb", "dsb"};
  for (auto l : kCommaLanguages) {
    if (lang == l) return ',';
  }
  return '.';
}

char DecimalSignFromEnvironment() {
  for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') return DecimalSignOfLocale(v);
  }
  return '.';
}

}  // namespace pelmo
