#include "core/numtext.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <locale>
#include <system_error>

#include "core/errors.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelmo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

// Longest number text we convert on the stack; longer texts go to the heap.
constexpr std::size_t kStackDigits = 128;

// Stands in for a decimal exponent too large for a long; far beyond any
// double, yet small enough to add digit counts to without overflow.
constexpr long kHugeExponent = 1L << 40;

}  // namespace

namespace {

/// Exact powers of ten as doubles, 10^0 to 10^22.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

/// Every integer up to 2^53 is a double.
constexpr std::uint64_t kExactIntegers = std::uint64_t{1} << 53;

/// Most digits gathered into 64 bits without overflow.
constexpr int kFastDigits = 19;

/// 10^0 to 10^8: what a mantissa is multiplied by for n more digits.
constexpr std::uint64_t kPowersOfTenForDigits[] = {1,      10,      100,      1000,     10000,
                                                   100000, 1000000, 10000000, 100000000};

/// Lanes of eight characters in one integer, the first in the lowest byte.
constexpr std::uint64_t kLanes = 0x0101010101010101ULL;
constexpr std::uint64_t kLaneTops = 0x8080808080808080ULL;
constexpr int kLaneBits = 8, kLaneCount = 8;

/// Number of decimal digits at the start of the eight characters `w`. A
/// lane holds no digit when adding 0x46 or taking 0x30 sets its top bit; a
/// carry or borrow out of a lane only spoils lanes after one that holds no
/// digit.
inline int LeadingDigits(std::uint64_t w) {
  const std::uint64_t other = ((w + 0x46 * kLanes) | (w - '0' * kLanes)) & kLaneTops;
  return std::countr_zero(other) / kLaneBits;  // 8 when there is none
}

/// Value of eight digits given as their values in the lanes of `w` (first
/// in the lowest byte): pairs, then fours, then the eight, in parallel lanes.
inline std::uint64_t EightDigitsValue(std::uint64_t w) {
  constexpr std::uint64_t kTwoLanes = 0x000000FF000000FFULL;
  constexpr std::uint64_t kHundredAndMillion = 100 + (1000000ULL << 32);
  constexpr std::uint64_t kOneAndTenThousand = 1 + (10000ULL << 32);
  w = w * 10 + (w >> kLaneBits);
  return ((w & kTwoLanes) * kHundredAndMillion + ((w >> 16) & kTwoLanes) * kOneAndTenThousand) >>
         32;
}

/// Reads the digits at `p` into `mantissa` (which they extend); returns
/// the end of them. Beyond kFastDigits of them `mantissa` wraps around.
inline const char* ReadDigits(const char* p, const char* end, std::uint64_t& mantissa) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= kLaneCount) {
      std::uint64_t w = 0;
      std::memcpy(&w, p, sizeof w);
      const int n = LeadingDigits(w);
      if (n == 0) return p;
      // The values of the n digits moved to the last lanes, zeros before
      // them; the lanes after the digits drop out.
      const std::uint64_t digits = (w - '0' * kLanes) << ((kLaneCount - n) * kLaneBits);
      mantissa = mantissa * kPowersOfTenForDigits[n] + EightDigitsValue(digits);
      p += n;
      if (n < kLaneCount) return p;
    }
  }
  for (; p != end && IsDigit(*p); ++p) mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
  return p;
}

/// ParseSimpleNumber, built into each of its callers here.
[[gnu::always_inline]] inline const char* ReadSimpleNumber(const char* p, const char* end,
                                                           double& value) noexcept {
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  std::uint64_t mantissa = 0;
  const char* const first = p;
  p = ReadDigits(p, end, mantissa);
  long digits = p - first, fraction = 0;
  if (p != end && (*p == '.' || *p == ',')) {
    const char* const decimals = ++p;
    p = ReadDigits(p, end, mantissa);
    fraction = p - decimals;
    digits += fraction;
  }
  if (digits == 0 || digits > kFastDigits || mantissa > kExactIntegers ||
      fraction >= static_cast<long>(std::size(kExactPowersOfTen)) ||
      (p != end && (*p == 'e' || *p == 'E'))) {
    return nullptr;
  }
  const double v = static_cast<double>(mantissa) / kExactPowersOfTen[fraction];
  value = negative ? -v : v;
  return p;
}

}  // namespace

const char* ParseSimpleNumber(const char* first, const char* last, double& value) noexcept {
  return ReadSimpleNumber(first, last, value);
}

int ParsePlainFields(std::string_view line, int most, double* values, PlainField* fields) noexcept {
  const char* const begin = line.data();
  const char* const end = begin + line.size();
  const char* at = begin;
  int count = 0;
  for (; count < most; ++count) {
    while (at != end && *at == ' ') ++at;
    if (at == end) break;
    const char* const stop = ReadSimpleNumber(at, end, values[count]);
    if (stop == nullptr || (stop != end && *stop != ' ')) return -1;
    fields[count] = {static_cast<std::size_t>(at - begin), static_cast<std::size_t>(stop - at)};
    at = stop;
  }
  return count;
}

namespace {

/// The common case of TryParseNumber: [blanks] [sign] digits [sep digits]
/// [blanks] as ParseSimpleNumber reads it. False for anything else, which
/// the full conversion decides.
bool TryParseSimple(std::string_view t, double& value) noexcept {
  const char* p = t.data();
  const char* const end = p + t.size();
  while (p != end && IsBlank(*p)) ++p;
  double v = 0;
  p = ReadSimpleNumber(p, end, v);
  if (p == nullptr) return false;
  while (p != end && IsBlank(*p)) ++p;
  if (p != end) return false;
  value = v;
  return true;
}

}  // namespace

int TryParseNumber(std::string_view text, double& value) noexcept {
  if (TryParseSimple(text, value)) return 0;
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

namespace {

/// Significant digits of the written numbers.
constexpr int kDigits = 15;

/// 10^0 to 10^19 as integers.
constexpr std::uint64_t kPowersOfTen[] = {1ULL,
                                          10ULL,
                                          100ULL,
                                          1000ULL,
                                          10000ULL,
                                          100000ULL,
                                          1000000ULL,
                                          10000000ULL,
                                          100000000ULL,
                                          1000000000ULL,
                                          10000000000ULL,
                                          100000000000ULL,
                                          1000000000000ULL,
                                          10000000000000ULL,
                                          100000000000000ULL,
                                          1000000000000000ULL,
                                          10000000000000000ULL,
                                          100000000000000000ULL,
                                          1000000000000000000ULL,
                                          10000000000000000000ULL};

/// Magnitudes the fast formatter takes: around those written without an
/// exponent (1e-4 <= |v| < 1e15 after rounding to 15 digits); the rounding
/// decides for values next to the limits.
constexpr double kFastLow = 9e-5, kFastHigh = 1e15;

/// floor(log10(2) 2^18): a decimal exponent from a binary one.
constexpr int kLog10Of2Times2To18 = 78913;
constexpr int kLog10Shift = 18;

/// Digits of EightDigitChars.
constexpr int kHalfGroup = 8;

/// "0", the decimal sign's place, "000": the start of a number below 1
/// written without an exponent, as characters of an integer (first lowest).
constexpr std::uint64_t kZeroPointZeros = 0x3030300030ULL;

/// Layout of a double.
constexpr int kSignificandBits = 52, kExponentBias = 1023;
constexpr std::uint64_t kHiddenBit = std::uint64_t{1} << kSignificandBits;

/// The eight decimal digits of v < 10^8, leading zeros included, as eight
/// characters in one integer, the first digit in the lowest byte (the text
/// in memory on a little-endian machine). Divisions by 10000, 100 and 10 in
/// parallel lanes of 32 and 16 bits, the latter two as multiplications by
/// 10486 / 2^20 and 103 / 2^10, exact for the lane values.
[[maybe_unused]] constexpr std::uint64_t EightDigitChars(std::uint32_t v) {
  const std::uint64_t fours = (v / 10000) | (static_cast<std::uint64_t>(v % 10000) << 32);
  const std::uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007FULL;
  const std::uint64_t twos = ((fours - 100 * hundreds) << 16) + hundreds;
  std::uint64_t tens = ((twos * 103) >> 10) & 0x000F000F000F000FULL;
  tens += (twos - 10 * tens) << 8;
  return tens + 0x3030303030303030ULL;  // '0' in every byte
}

/// EightDigitChars(high) and EightDigitChars(low) at once. With SSE2: both
/// split into two groups of four digits (v / 10^4 by the multiplication by
/// 2^45 / 10^4 rounded up), each group in four 16-bit lanes, times 4; the
/// high halves of the products with 2^16 4 / 10^k (k = 3 to 0, rounded up),
/// shifted on by 9, 5, 3 and 1 bits, are the group divided by 10^k (exact
/// below 10^4); less ten times the lane before, they are its digits.
inline void DigitCharsOfBoth(std::uint32_t high, std::uint32_t low, std::uint64_t& highChars,
                             std::uint64_t& lowChars) {
#if defined(__SSE2__)
  constexpr int kDivide10000Shift = 45;
  constexpr int kLaneBitsTimes4 = 2;
  const __m128i both = _mm_set_epi64x(low, high);
  const __m128i quotients = _mm_srli_epi64(
      _mm_mul_epu32(both, _mm_set1_epi32(static_cast<int>(0xD1B71759))), kDivide10000Shift);
  const __m128i remainders = _mm_sub_epi32(both, _mm_mul_epu32(quotients, _mm_set1_epi32(10000)));
  // 32-bit lanes high / 10^4, high % 10^4, low / 10^4, low % 10^4; as
  // 16-bit lanes twice over, times 4.
  const __m128i groups = _mm_or_si128(quotients, _mm_slli_epi64(remainders, 32));
  const __m128i packed = _mm_slli_epi16(_mm_packs_epi32(groups, groups), kLaneBitsTimes4);
  const __m128i pairs = _mm_unpacklo_epi16(packed, packed);
  constexpr short kTop = static_cast<short>(0x8000);  // 32768
  const __m128i divide = _mm_set_epi16(kTop, 13108, 5243, 8389, kTop, 13108, 5243, 8389);
  const __m128i shift = _mm_set_epi16(kTop, 1 << 13, 1 << 11, 1 << 7, kTop, 1 << 13, 1 << 11, 1 << 7);
  const auto digits = [&](__m128i v) {
    const __m128i q = _mm_mulhi_epu16(_mm_mulhi_epu16(v, divide), shift);
    return _mm_sub_epi16(q, _mm_slli_epi64(_mm_mullo_epi16(q, _mm_set1_epi16(10)), 16));
  };
  const __m128i chars =
      _mm_add_epi8(_mm_packus_epi16(digits(_mm_unpacklo_epi32(pairs, pairs)),
                                    digits(_mm_unpackhi_epi32(pairs, pairs))),
                   _mm_set1_epi8('0'));
  highChars = static_cast<std::uint64_t>(_mm_cvtsi128_si64(chars));
  lowChars = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(chars, chars)));
#else
  highChars = EightDigitChars(high);
  lowChars = EightDigitChars(low);
#endif
}

/// Number of zero digits at the end of the eight digit characters `chars`
/// (EightDigitChars of a value that is not 0): the zero lanes at the top
/// once '0' is taken from every lane.
inline int TrailingZeroDigits(std::uint64_t chars) {
  constexpr std::uint64_t kZeroChars = 0x3030303030303030ULL;
  return std::countl_zero(chars - kZeroChars) / 8;
}

/// Writes `value` (kFastLow <= value < kFastHigh) as %.15g does. The value
/// is m / 2^s (m < 2^53 an integer); scaled by 10^k it is m 10^k / 2^s,
/// whose integer part and remainder, computed exactly in 128 bits, give the
/// 15 digits rounded to nearest, ties to even, as from the exact decimal
/// expansion. Returns the end of the text, or nullptr when the rounded
/// value needs an exponent.
char* FormatFixed15(double value, char decimalSign, char* out) {
  // value = m / 2^shift with the 53-bit significand m of the normal double.
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>(bits >> kSignificandBits);
  const std::uint64_t m = (bits & (kHiddenBit - 1)) | kHiddenBit;
  const int shift = kExponentBias + kSignificandBits - biased;  // 3 to 66 here
  // floor(log10(value)) or one less, from value >= 2^(biased - bias).
  int exponent10 = ((biased - kExponentBias) * kLog10Of2Times2To18) >> kLog10Shift;
  unsigned __int128 scaled = 0;
  std::uint64_t digits = 0;
  for (;;) {
    const auto k = static_cast<std::size_t>(kDigits - 1 - exponent10);  // 0 to 19
    scaled = static_cast<unsigned __int128>(m) * kPowersOfTen[k];
    digits = static_cast<std::uint64_t>(scaled >> shift);
    if (digits < kPowersOfTen[kDigits]) break;
    ++exponent10;  // the estimate was one too small
  }
  // Rounded to nearest, ties to even: scaled + half - 1, and one more when
  // digits is odd, carries into digits exactly when it is to be raised.
  const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  digits = static_cast<std::uint64_t>((scaled + (half - 1) + (digits & 1)) >> shift);
  if (digits == kPowersOfTen[kDigits]) {  // rounded up to the next power of ten
    digits = kPowersOfTen[kDigits - 1];
    ++exponent10;
  }
  if (exponent10 < -4 || exponent10 >= kDigits) return nullptr;

  // The 15 digits in two groups of eight, the first with a leading zero.
  const auto high = static_cast<std::uint32_t>(digits / kPowersOfTen[8]);  // never 0
  const auto low = static_cast<std::uint32_t>(digits % kPowersOfTen[8]);
  const int whole = exponent10 >= 0 ? exponent10 + 1 : 0;  // digits before the point
  // The digits as characters in two integers, 7 and 8 of them, stored
  // where they belong, the part after the decimal sign stored again one
  // place further on: no digit is read back from memory (which would wait
  // for the stores). The caller's buffer has room for the bytes beyond.
  constexpr int kByte = 8;
  std::uint64_t high8 = 0, last8 = 0;
  DigitCharsOfBoth(high, low, high8, last8);
  const std::uint64_t first7 = high8 >> kByte;  // leading zero dropped
  // No trailing zeros after the point.
  const int zeros =
      low != 0 ? TrailingZeroDigits(last8) : kHalfGroup + TrailingZeroDigits(high8);
  const int used = std::max(kDigits - zeros, whole);
  const auto store = [](char* at, std::uint64_t chars) { std::memcpy(at, &chars, sizeof chars); };
  if (whole == 0) {  // "0." and -exponent10 - 1 zeros, then the digits
    store(out, kZeroPointZeros | std::uint64_t{static_cast<unsigned char>(decimalSign)} << kByte);
    out += 1 - exponent10;
    store(out, first7);
    store(out + kDigits - kHalfGroup, last8);
    return out + used;
  }
  store(out, first7);
  if (whole < kDigits - kHalfGroup) {  // the sign falls among the first 7
    store(out + whole + 1, first7 >> (whole * kByte));
    store(out + kHalfGroup, last8);
  } else {
    store(out + kDigits - kHalfGroup, last8);
    if (used == whole) return out + whole;
    store(out + whole + 1, last8 >> ((whole - (kDigits - kHalfGroup)) * kByte));
  }
  if (used == whole) return out + whole;  // (the stores beyond are not text)
  out[whole] = decimalSign;
  return out + used + 1;
}

}  // namespace

char* WriteNumber(char* out, double value, char decimalSign) {
  if (value == 0) value = 0;  // no "-0"
  const double magnitude = std::fabs(value);
  // The fast formatter lays out characters in integers, first in the lowest byte.
  if (std::endian::native == std::endian::little && magnitude >= kFastLow &&
      magnitude < kFastHigh) {
    *out = '-';
    char* const end = FormatFixed15(magnitude, decimalSign, out + (value < 0 ? 1 : 0));
    if (end != nullptr) return end;
  }
  char* const end = std::to_chars(out, out + kNumberTextMax, value, std::chars_format::general,
                                  kDigits).ptr;
  for (char* p = out; p != end; ++p) {
    if (*p == '.') *p = decimalSign;
  }
  return end;
}

void AppendNumber(std::string& out, double value, char decimalSign) {
  char buf[kNumberTextMax];
  out.append(buf, static_cast<std::size_t>(WriteNumber(buf, value, decimalSign) - buf));
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
