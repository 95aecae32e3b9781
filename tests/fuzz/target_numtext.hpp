// Fuzz target: the number conversion and the ASCII driver's line reading.
//
// The input is used twice:
//  - every blank-separated token (and the whole input) goes through
//    TryParseNumber, checked against an independent reading: the grammar
//    written out here and the C library's strtod for the value; an accepted
//    number must also survive FormatNumber and reading back;
//  - the input as a whole is an ASCII coordinate file, transformed in
//    translation mode; the target must hold exactly the expected line for
//    every source line before the first bad one, and a failure must be one
//    message with the right description, the line number and what the
//    target holds.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.hpp"
#include "core/numtext.hpp"
#include "core/settings.hpp"
#include "formats/drivers.hpp"
#include "fuzz_support.hpp"

namespace pelmo::fuzz {

namespace numtext_detail {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

/// Independent reading of a number text: 0 and the value, or the error
/// number the conversion must give (13 not a number, 6 overflow).
inline int Expected(std::string_view text, double& value) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  const std::string_view t = text.substr(b, e - b);
  std::string normal;
  std::size_t i = 0, digits = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) normal += t[i++];
  while (i < t.size() && IsDigit(t[i])) normal += t[i++], ++digits;
  if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
    normal += '.';
    ++i;
    while (i < t.size() && IsDigit(t[i])) normal += t[i++], ++digits;
  }
  if (digits == 0) return errnum::kTypeMismatch;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) normal += t[i++];
    std::size_t expDigits = 0;
    while (i < t.size() && IsDigit(t[i])) normal += t[i++], ++expDigits;
    if (expDigits == 0) return errnum::kTypeMismatch;
  }
  if (i != t.size()) return errnum::kTypeMismatch;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(normal.c_str(), &end);
  Check(end == normal.c_str() + normal.size(), "strtod stopped early on " + normal);
  if (errno == ERANGE && std::isinf(v)) return errnum::kOverflow;
  value = v;
  return 0;
}

inline bool SameDouble(double a, double b) {
  return a == b && std::signbit(a) == std::signbit(b);
}

/// Checks the conversion of one text against the independent reading.
inline void CheckNumber(std::string_view text) {
  double want = 0;
  const int wantErr = Expected(text, want);
  double got = 12345;
  const int err = TryParseNumber(text, got);
  const std::string shown = "\"" + std::string(text.substr(0, 80)) + "\"";
  Check(err == wantErr, "error " + std::to_string(err) + " instead of " +
                            std::to_string(wantErr) + " for " + shown);
  Check(IsNumeric(text) == (err == 0), "IsNumeric disagrees for " + shown);
  if (err != 0) {
    Check(got == 12345, "a refused text changed the value: " + shown);
    try {
      (void)ParseNumber(text);
      Fail("ParseNumber accepted " + shown);
    } catch (const RunTimeError& e) {
      Check(e.number() == err, "ParseNumber threw another number for " + shown);
    }
    return;
  }
  Check(SameDouble(got, want), "value " + FormatShortest(got) + " instead of " +
                                   FormatShortest(want) + " for " + shown);
  Check(std::isfinite(got), "non-finite value for " + shown);
  // Written with 15 digits in either sign, the number reads back within
  // the precision of 15 digits.
  for (const char sign : {'.', ','}) {
    const std::string s = FormatNumber(got, sign);
    double back = 0;
    Check(TryParseNumber(s, back) == 0, "FormatNumber wrote an unreadable " + s);
    Check(std::fabs(back - got) <= std::fabs(got) * 1e-14, "round trip of " + s);
    Check(s.find(sign == '.' ? ',' : '.') == std::string::npos, "wrong decimal sign in " + s);
  }
}

/// Lines of a file as the driver sees them: ends at CR, CR LF or LF.
inline std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    lines.push_back(text.substr(start, end - start));
    if (end == text.size()) break;
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

/// Expected result of one source line in translation mode: 0 and the
/// target line, or the error number that stops the run.
inline int ExpectedLine(std::string_view line, bool first, char sign, double dx, double dy,
                        double dh, std::string& out) {
  std::string work(line);
  if (first && work.starts_with("\xEF\xBB\xBF")) work.erase(0, 3);
  for (char& c : work) {
    if (c == '.') c = ',';
  }
  std::vector<std::string> fields;
  std::size_t i = 0;
  while (fields.size() < 3) {
    while (i < work.size() && work[i] == ' ') ++i;
    if (i == work.size()) break;
    const std::size_t s = i;
    while (i < work.size() && work[i] != ' ') ++i;
    fields.push_back(work.substr(s, i - s));
  }
  double v[3] = {0, 0, 0};
  if (fields.empty()) return errnum::kOutOfRange;
  if (const int err = Expected(fields[0], v[0])) return err;
  if (fields.size() < 2) return errnum::kOutOfRange;
  if (const int err = Expected(fields[1], v[1])) return err;
  if (fields.size() >= 3) {
    if (const int err = Expected(fields[2], v[2])) return err;
  }
  const double r[3] = {v[0] + dx, v[1] + dy, v[2] + dh};
  for (const double x : r) {
    if (!std::isfinite(x)) return errnum::kOverflow;
  }
  out = FormatNumber(r[0], sign) + " " + FormatNumber(r[1], sign) + " " +
        FormatNumber(r[2], sign) + "\r\n";
  return 0;
}

/// What the message says about the target after `kept` lines.
inline std::string KeptText(long kept) {
  if (kept == 0) return "Die Zieldatei ist leer.";
  if (kept == 1) return "Die Zieldatei enthält die Zeile 1.";
  return "Die Zieldatei enthält die Zeilen 1 bis " + std::to_string(kept) + ".";
}

inline void CheckAsciiRun(std::string_view text) {
  const bool comma = text.size() % 2 == 1;
  const bool huge = text.size() % 4 >= 2;
  const char sign = comma ? ',' : '.';
  const std::string src = Scratch::File("ascii_source.txt");
  const std::string dst = Scratch::File("ascii_target.txt");
  WriteFile(src, text);
  Remove(dst);

  QuietFrontEnd fe;
  Session s(fe, sign);
  TransformSettings& t = s.settings;
  t.optASCII = true;
  t.optSHP = false;
  t.optSevPar = false;
  t.optTranslation = true;
  t.txtDX = huge ? "1e308" : "10";
  t.txtDY = huge ? "-1e308" : "20,5";
  t.txtDH = "1";
  t.txtQuelldatei = src;
  t.txtZielDatei = dst;
  s.Touch();
  const double dx = huge ? 1e308 : 10, dy = huge ? -1e308 : 20.5, dh = 1;

  const bool ok = TransformAsciiFile(s);
  Check(ReadFile(src) == text, "the source changed");
  const std::string target = ReadFile(dst);
  Check(Exists(dst), "no target file");

  std::string want;
  const std::vector<std::string_view> lines = SplitLines(text);
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string line;
    const int err = ExpectedLine(lines[n], n == 0, sign, dx, dy, dh, line);
    if (err != 0) {
      Check(!ok, "line " + std::to_string(n + 1) + " should have stopped the run");
      Check(fe.messages == 1, "not exactly one message");
      Check(fe.lastTitle == "Pelmo", "title " + fe.lastTitle);
      Check(fe.lastMessage.starts_with(RunTimeErrorText(err)),
            "expected \"" + RunTimeErrorText(err) + "\", got: " + fe.lastMessage);
      Check(fe.lastMessage.find("\r\nZeile " + std::to_string(n + 1) + ": ") != std::string::npos,
            "line number missing: " + fe.lastMessage);
      Check(fe.lastMessage.ends_with(KeptText(static_cast<long>(n))),
            "kept lines not stated: " + fe.lastMessage);
      Check(target == want, "target holds other lines than the " + std::to_string(n) +
                                " before the error");
      return;
    }
    want += line;
  }
  Check(ok, "the run failed: " + fe.lastMessage);
  Check(fe.messages == 0, "message after success: " + fe.lastMessage);
  Check(target == want, "target differs from the expected lines");
}

}  // namespace numtext_detail

inline int FuzzNumText(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = AsText(data, size);
  numtext_detail::CheckNumber(text);
  // Each token on its own, up to a limit.
  std::size_t i = 0;
  for (int tokens = 0; tokens < 64 && i < text.size(); ++tokens) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\r' || text[i] == '\n')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\r' && text[i] != '\n') ++i;
    if (i > start) numtext_detail::CheckNumber(text.substr(start, i - start));
  }
  numtext_detail::CheckAsciiRun(text);
  return 0;
}

}  // namespace pelmo::fuzz
