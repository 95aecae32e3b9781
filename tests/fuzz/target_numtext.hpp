// Fuzz target: the number conversion and the ASCII driver. Every blank- or
// line-separated token goes through TryParseNumber, checked against the
// grammar written out here with strtod for the value; a number read is
// written and read back; the input as a whole is an ASCII file in
// translation mode, which either goes through without a message or stops
// with one message naming a line, leaving the source as it was.
#pragma once

#include <cerrno>
#include <cmath>

#include "core/errors.hpp"
#include "core/numtext.hpp"
#include "formats/drivers.hpp"
#include "fuzz_support.hpp"

namespace pelmo::fuzz {

/// Independent reading of a number text: 0 and the value, or the error number.
inline int ExpectedNumber(std::string t, double& value) {
  const auto digits = [&](std::size_t& i) {
    const std::size_t from = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    return i - from;
  };
  t.erase(0, t.find_first_not_of(" \t"));
  t.erase(t.find_last_not_of(" \t") + 1);
  std::size_t i = t.starts_with('+') || t.starts_with('-'), n = digits(i);
  if (i < t.size() && (t[i] == '.' || t[i] == ',')) t[i++] = '.', n += digits(i);
  if (n > 0 && i < t.size() && (t[i] == 'e' || t[i] == 'E')) i += 1 + (i + 1 < t.size() && (t[i + 1] == '+' || t[i + 1] == '-')), n = digits(i);
  if (n == 0 || i != t.size()) return errnum::kTypeMismatch;
  errno = 0;
  value = std::strtod(t.c_str(), nullptr);
  return errno == ERANGE && std::isinf(value) ? errnum::kOverflow : 0;
}

inline int FuzzNumText(const std::uint8_t* data, std::size_t size) {
  const std::string text(AsText(data, size));
  for (std::size_t b = 0, e = 0; (b = text.find_first_not_of(" \r\n", e)) != std::string::npos;) {
    e = std::min(text.find_first_of(" \r\n", b), text.size());
    double want = 0, got = 12345, back = 0;
    const int error = ExpectedNumber(text.substr(b, e - b), want);
    const std::string shown = "\"" + text.substr(b, std::min<std::size_t>(e - b, 80)) + "\"";
    Check(TryParseNumber(std::string_view(text).substr(b, e - b), got) == error, "error for " + shown);
    Check(error != 0 ? got == 12345 : got == want && std::signbit(got) == std::signbit(want), "value of " + shown);
    // Written with 15 digits a number reads back within them (but for the
    // largest doubles, which round up beyond the range).
    Check(error != 0 || std::fabs(got) > 1.797693134862315e308 ||
              (TryParseNumber(FormatNumber(got, ','), back) == 0 && std::fabs(back - got) <= std::fabs(got) * 1e-14),
          "written and read back: " + shown);
  }
  QuietFrontEnd fe;
  Session s(fe, size % 2 ? ',' : '.');
  TransformSettings& t = s.settings;
  t.optASCII = true, t.optSHP = false, t.optSevPar = false, t.optTranslation = true, t.txtDX = "10";
  t.txtDH = size % 4 >= 2 ? "1e308" : "1", t.txtQuelldatei = Scratch("quelle.txt"), t.txtZielDatei = Scratch("ziel.txt");
  WriteFile(t.txtQuelldatei, text);
  const bool done = TransformAsciiFile(s);
  Check(ReadFile(t.txtQuelldatei) == text, "the source changed");
  Check(done ? fe.messages == 0 : fe.messages == 1 && fe.lastMessage.find("\r\nZeile ") != std::string::npos,
        "the run's message: " + fe.lastMessage);
  return 0;
}

}  // namespace pelmo::fuzz
