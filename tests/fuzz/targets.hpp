// The fuzz targets: each runs one part of the engine on the input and checks
// invariants; a broken one aborts under libFuzzer (fuzz_main.cpp) and throws
// in the engine tests' corpus replay (PELMO_FUZZ_REPLAY).
#pragma once

#include <stdlib.h>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "core/errors.hpp"
#include "core/frontend.hpp"
#include "core/numtext.hpp"
#include "formats/drivers.hpp"
#include "geodesy/geodesy.hpp"
#include "paramfiles/paramsets.hpp"
#include "paramfiles/properties.hpp"

namespace pelmo::fuzz {

inline void Check(bool ok, const std::string& what) {
#ifdef PELMO_FUZZ_REPLAY
  if (!ok) throw std::logic_error("invariant broken: " + what);
#else
  if (!ok) std::fprintf(stderr, "invariant broken: %s\n", what.c_str()), std::abort();
#endif
}

/// Keeps the last message and answers every question Yes.
struct QuietFrontEnd : FrontEnd {
  int messages = 0;
  std::string lastMessage;
  void ShowMessage(const std::string& text, const std::string&, MsgIcon) override { ++messages, lastMessage = text; }
  bool AskYesNo(const std::string&, const std::string&, MsgIcon) override { return true; }
};

/// A file in a scratch folder of the process, removed when it ends.
inline std::string Scratch(const std::string& name) {
  static const struct Folder {
    std::string path = (std::filesystem::temp_directory_path() / "pelmo_fuzz_XXXXXX").string();
    Folder() { Check(::mkdtemp(path.data()) != nullptr, "no scratch folder"); }
    ~Folder() { std::filesystem::remove_all(path); }
  } folder;
  return folder.path + "/" + name;
}

inline void WriteFile(const std::string& path, std::string_view bytes) { std::ofstream(path, std::ios::binary) << bytes; }

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) { return {reinterpret_cast<const char*>(data), size}; }

// Every token against the grammar written out here (strtod for the value) and
// written and read back; the whole input as an ASCII file in translation mode
// goes through silently or stops with one message naming a line, source kept.
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
    // Written with 15 digits it reads back (the largest doubles round up beyond the range).
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
  // A failure names its line, or the shapefile the source looks like (its first bytes).
  Check(done ? fe.messages == 0
             : fe.messages == 1 && (fe.lastMessage.find("\r\nZeile ") != std::string::npos ||
                                    fe.lastMessage.find("sieht wie eine Shapedatei aus") != std::string::npos),
        "the run's message: " + fe.lastMessage);
  return 0;
}

// Any bytes fail to load with the number of a damaged file (62 short, 13 form,
// 380 range, 14 line too long) at a line 1-64, or save, load, save the same.
inline int FuzzProperties(const std::uint8_t* data, std::size_t size) {
  const std::string in = Scratch("in.par"), first = Scratch("first.par"), second = Scratch("second.par");
  WriteFile(in, AsText(data, size));
  TransformSettings s, s2;
  OptionTable d = DefaultOptionValues('.'), d2 = DefaultOptionValues(',');
  try {
    LoadProperties(in, s, d);
  } catch (const PropertiesError& e) {
    const int n = e.number();
    Check(n == 62 || n == 13 || n == 380 || n == 14, std::string("error ") + e.what());
    Check(e.line() >= 1 && e.line() <= kPropertiesLines && s.txtPAR == in, std::string("line of ") + e.what());
    return 0;
  }
  try {
    SaveProperties(first, s, d);
    LoadProperties(first, s2, d2);
    SaveProperties(second, s2, d2);
  } catch (const PropertiesError& e) {
    Check(false, std::string("a loaded configuration does not save and load again: ") + e.what());
  }
  Check(ReadFile(first) == ReadFile(second), "saved, loaded and saved again differs");
  return 0;
}

// A set read, written back as one line, reads back the same, and as an
// ellipsoid file gives its first values; a failed load changes nothing.
inline int FuzzParamSets(const std::uint8_t* data, std::size_t size) {
  const std::string path = Scratch("in.7pr"), back = Scratch("back.7pr");
  WriteFile(path, AsText(data, size));
  const auto ell = ReadEllipsoidFile(path);
  const auto par = ReadSevenParFile(path);
  const auto same = [](double a, double b) { return std::isfinite(a) && a == b && std::signbit(a) == std::signbit(b); };
  if (par) {
    std::string line = "\"";
    for (const char c : par->name) line += c == '"' ? "\"\"" : std::string(1, c);
    for (int i = 0; i < 7; ++i) line += (i ? "," : "\",") + FormatShortest(par->p[static_cast<std::size_t>(i)]);
    WriteFile(back, line);
    const auto again = ReadSevenParFile(back);
    Check(again && again->name == par->name && ell && same(ell->a, par->p[0]) && same(ell->e, par->p[1]), "set " + par->name);
    for (std::size_t i = 0; i < 7; ++i) Check(same(again->p[i], par->p[i]), "value " + std::to_string(i + 1));
  }
  TransformSettings s;
  Check(LoadEllipsoidFile(path, s, 2, ',') == ell.has_value() && LoadSevenParFile(path, s, 1, ',') == par.has_value(),
        "the loaders disagree with the readers");
  Check(ell || s.txtBezEll2 + s.txtEll2a + s.txtEll2e == "000", "a failed load changed group 2");
  Check(par || s.txtsevenParSys + s.txtP1 + s.txtP7 == "no Transformation00", "a failed load changed set 1");
  return 0;
}

// Input: a mode byte (bit 1: older targets in place), the .shp length (32-bit
// little-endian), the .shp and the .shx. Sources stay; a success is silent and
// writes what the headers say; a failure shows one message, no target touched.
inline int FuzzShapefile(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::size_t shpLen = std::min<std::size_t>(data[1] | data[2] << 8 | data[3] << 16 | std::size_t{data[4]} << 24, size - 5);
  std::string dbf(65, '\0');  // dBASE III: header, one character field NAME, no record
  dbf[0] = 3, dbf[8] = 65, dbf[10] = 11, dbf[43] = 'C', dbf[48] = 10, dbf[64] = 0x0D;
  dbf.replace(32, 4, "NAME");
  const std::string files[] = {std::string(AsText(data + 5, shpLen)), std::string(AsText(data + 5 + shpLen, size - 5 - shpLen)), dbf};
  const std::string old[] = {"alte Hauptdatei", "alter Index", "alte Tabelle"}, exts[] = {"shp", "shx", "dbf"};
  for (int i = 0; i < 3; ++i) {
    WriteFile(Scratch("quelle." + exts[i]), files[i]);
    std::filesystem::remove(Scratch("ziel." + exts[i]));
    if (data[0] & 2) WriteFile(Scratch("ziel." + exts[i]), old[i]);
  }
  QuietFrontEnd fe;
  Session s(fe, ',');
  TransformSettings& t = s.settings;
  t.txtQuelldatei = Scratch("quelle.shp"), t.txtZielDatei = Scratch("ziel.shp");
  t.optSevPar = false, t.optTranslation = true, t.txtDX = "1000,5", t.txtDY = "-2000,25";
  const bool ok = TransformShapeFile(s);
  Check(fe.messages == (ok ? 0 : 1), "messages: " + std::to_string(fe.messages) + " " + fe.lastMessage);
  for (int i = 0; i < 3; ++i) {
    const std::string target = ReadFile(Scratch("ziel." + exts[i]));
    Check(ReadFile(Scratch("quelle." + exts[i])) == files[i], "the source ." + exts[i] + " changed");
    Check(ok || !std::filesystem::exists(Scratch("ziel." + exts[i])) || target == old[i], "a failed run left ." + exts[i]);
    std::size_t words = 0;  // the length field of the header counts 16-bit words
    for (int k = 24; k < 28 && i < 2 && ok; ++k) words = words << 8 | static_cast<unsigned char>(files[i][k]);
    Check(!ok || (i == 2 ? target == dbf : target.size() == 2 * words), "target ." + exts[i] + " not as its source says");
  }
  return 0;
}

// XYZToBLH and KrovakToBL on X, Y, Z, a, e and a mode byte (Bessel, GRS 1980,
// coordinates folded near the Earth) return finite values or a fault, never hang.
inline int FuzzGeodesy(const std::uint8_t* data, std::size_t size) {
  double v[5];
  if (size < sizeof v) return 0;
  std::memcpy(v, data, sizeof v);
  const unsigned mode = size > sizeof v ? data[sizeof v] : 0;
  if (mode % 3 == 1) v[3] = 6377397.155, v[4] = 0.0816968312225275;
  if (mode % 3 == 2) v[3] = 6378137, v[4] = 0.0818191910428158;
  const auto fold = [&](double x, double range) { return (mode / 3) % 2 && std::isfinite(x) ? std::fmod(x, range) : x; };
  const auto finite = [](const auto& r) {
    for (const double x : r) Check(std::isfinite(x), "a result of " + std::to_string(x));
  };
  try { finite(geotra::XYZToBLH(fold(v[0], 6.4e7), fold(v[1], 6.4e7), fold(v[2], 6.4e7), v[3], v[4])); } catch (const FloatingPointFault&) {}
  try { finite(geotra::KrovakToBL(fold(v[0], 2e6), fold(v[1], 2e6), v[3], v[4])); } catch (const FloatingPointFault&) {}
  return 0;
}

}  // namespace pelmo::fuzz
