#include "paramfiles/encoding.hpp"

#include <array>

namespace pelmo {

namespace {

/// Code points of the Windows-1252 bytes 0x80..0x9F (after the Unicode
/// consortium's mapping table cp1252.txt). The undefined bytes map to the
/// C1 control of the same value.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

bool IsValidUtf8(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p != end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    // Length of the sequence and the allowed range of its second byte
    // (which excludes overlong forms, surrogates and code points above
    // U+10FFFF; RFC 3629, table 3-7 of the Unicode standard).
    int length = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c == 0xE0) {
      length = 3, lo = 0xA0;
    } else if (c == 0xED) {
      length = 3, hi = 0x9F;
    } else if (c >= 0xE1 && c <= 0xEF) {
      length = 3;
    } else if (c == 0xF0) {
      length = 4, lo = 0x90;
    } else if (c >= 0xF1 && c <= 0xF3) {
      length = 4;
    } else if (c == 0xF4) {
      length = 4, hi = 0x8F;
    } else {
      return false;  // continuation byte without lead, C0, C1, F5..FF
    }
    if (end - p < length) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (int i = 2; i < length; ++i) {
      if (!IsContinuation(p[i])) return false;
    }
    p += length;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Windows1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else if (c < 0xA0) {
      AppendUtf8(out, kCp1252High[c - 0x80]);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace pelmo
