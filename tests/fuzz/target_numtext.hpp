// Fuzz target: the number conversion and the ASCII driver's lines. Every
// field of every line goes through TryParseNumber, checked against the
// grammar written out here with strtod for the value; the input as a whole
// is an ASCII file in translation mode: the target holds the expected line
// for every line before the first bad one, and a bad line gives one message
// with its error and number.
#pragma once

#include <cerrno>
#include <cmath>
#include <vector>

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
  const std::string_view text = AsText(data, size);
  const char sign = size % 2 ? ',' : '.';
  const double shift[3] = {10, 20.5, size % 4 >= 2 ? 1e308 : 1};
  const std::string src = Scratch("quelle.txt"), dst = Scratch("ziel.txt");
  WriteFile(src, text);
  std::filesystem::remove(dst);
  QuietFrontEnd fe;
  Session s(fe, sign);
  TransformSettings& t = s.settings;
  t.optASCII = true, t.optSHP = false, t.optSevPar = false, t.optTranslation = true;
  t.txtDX = "10", t.txtDY = "20,5", t.txtDH = size % 4 >= 2 ? "1e308" : "1", t.txtQuelldatei = src, t.txtZielDatei = dst;
  const bool done = TransformAsciiFile(s);
  Check(ReadFile(src) == text, "the source changed");
  std::string want;
  for (std::size_t start = 0, end = 0, n = 1; start < text.size(); start = end + 1, ++n) {  // lines end at CR, LF, CR LF
    end = std::min(text.find_first_of("\r\n", start), text.size());
    std::string line(text.substr(start, end - start));
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++end;
    if (n == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    std::vector<std::string> fields;
    for (std::size_t b = 0; fields.size() < 3 && (b = line.find_first_not_of(' ', b)) != std::string::npos; b = line.find(' ', b)) {
      fields.push_back(line.substr(b, line.find(' ', b) - b));
    }
    double v[3] = {0, 0, 0};
    int error = fields.empty() ? errnum::kOutOfRange : 0;
    for (std::size_t k = 0; k < 3 && error == 0; ++k) {
      error = k < fields.size() ? ExpectedNumber(fields[k], v[k]) : k == 1 ? errnum::kOutOfRange : 0;
      if (k < fields.size()) {
        double got = 12345;
        const std::string shown = "\"" + fields[k].substr(0, 80) + "\"";
        Check(TryParseNumber(fields[k], got) == error, "error for " + shown);
        Check(error != 0 ? got == 12345 : got == v[k] && std::signbit(got) == std::signbit(v[k]), "value of " + shown);
        double back = 0;
        Check(error != 0 || (TryParseNumber(FormatNumber(got, sign), back) == 0 && std::fabs(back - got) <= std::fabs(got) * 1e-14),
              "written and read back: " + shown);
      }
    }
    for (std::size_t k = 0; k < 3 && error == 0; ++k) error = std::isfinite(v[k] += shift[k]) ? 0 : errnum::kOverflow;
    if (error != 0) {
      Check(!done && fe.messages == 1 && fe.lastTitle == "Pelmo", "line " + std::to_string(n) + " must stop the run");
      Check(fe.lastMessage.starts_with(RunTimeErrorText(error)) &&
                fe.lastMessage.find("\r\nZeile " + std::to_string(n) + ": ") != std::string::npos,
            "message: " + fe.lastMessage);
      Check(ReadFile(dst) == want, "the target holds other lines than those before the bad one");
      return 0;
    }
    want += FormatNumber(v[0], sign) + " " + FormatNumber(v[1], sign) + " " + FormatNumber(v[2], sign) + "\r\n";
  }
  Check(done && fe.messages == 0 && ReadFile(dst) == want, "the run failed or wrote other lines: " + fe.lastMessage);
  return 0;
}

}  // namespace pelmo::fuzz
