#include "paramfiles/properties.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "paramfiles/encoding.hpp"

namespace pelmo {

namespace {

using Settings = TransformSettings;
using FlagField = bool Settings::*;
using TextField = std::string Settings::*;

/// Written forms of the truth values and of the reserved lines.
constexpr std::string_view kTrueToken = "#TRUE#";
constexpr std::string_view kFalseToken = "#FALSE#";
constexpr std::string_view kReservedValue = "\"Free\"";
constexpr std::string_view kLineEnd = "\r\n";

/// Largest check-box state (0 unchecked, 1 checked, 2 grey).
constexpr int kMaxCheckState = 2;

// The three option-button groups of the main window.
constexpr FlagField kFileTypeGroup[] = {&Settings::optSHP, &Settings::optASCII};
constexpr FlagField kInputGroup[] = {&Settings::optInGK, &Settings::optInKrovak, &Settings::optInBL,
                                     &Settings::optINetrs, &Settings::optINGKallgemein};
constexpr FlagField kOutputGroup[] = {&Settings::optOutGK, &Settings::optOutKrovak,
                                      &Settings::optOutBL, &Settings::optOUTetrs,
                                      &Settings::optOutGKallgemein};

enum class Kind {
  kReserved,     ///< "Free", dropped on reading
  kFlag,         ///< option button of the main window: #TRUE# / #FALSE#
  kText,         ///< text box of the main window: quoted text
  kOptionCheck,  ///< check box of the options dialog: 0, 1 or 2
  kOptionText,   ///< text or combo box of the options dialog: quoted text
};

/// One line of the file: what it holds and where it goes.
struct LineDef {
  Kind kind = Kind::kReserved;
  const char* control = "";          ///< control name, for messages
  FlagField flag = nullptr;          ///< kFlag
  std::span<const FlagField> group;  ///< kFlag: the buttons of its frame
  TextField text = nullptr;          ///< kText
  int option = -1;                   ///< kOption*: index in the option table
};

using LineTable = std::array<LineDef, kPropertiesLines>;

/// The 64 lines in file order.
LineTable MakeLineTable() {
  LineTable t{};
  std::size_t n = 0;
  auto reserved = [&](int count) {
    for (int i = 0; i < count; ++i)
      t.at(n++) = LineDef{Kind::kReserved, "Free", nullptr, {}, nullptr, -1};
  };
  auto flag = [&](const char* name, FlagField f, std::span<const FlagField> group) {
    t.at(n++) = LineDef{Kind::kFlag, name, f, group, nullptr, -1};
  };
  auto text = [&](const char* name, TextField f) {
    t.at(n++) = LineDef{Kind::kText, name, nullptr, {}, f, -1};
  };
  auto check = [&](const char* name, int index) {
    t.at(n++) = LineDef{Kind::kOptionCheck, name, nullptr, {}, nullptr, index};
  };
  auto optText = [&](const char* name, int index) {
    t.at(n++) = LineDef{Kind::kOptionText, name, nullptr, {}, nullptr, index};
  };

  flag("optSHP", &Settings::optSHP, kFileTypeGroup);  // 1
  flag("optASCII", &Settings::optASCII, kFileTypeGroup);
  reserved(2);                                       // 3-4
  flag("optInGK", &Settings::optInGK, kInputGroup);  // 5
  flag("optInKrovak", &Settings::optInKrovak, kInputGroup);
  flag("optInBL", &Settings::optInBL, kInputGroup);
  flag("optINetrs", &Settings::optINetrs, kInputGroup);
  flag("optINGKallgemein", &Settings::optINGKallgemein, kInputGroup);
  reserved(2);                                          // 10-11
  flag("optOutGK", &Settings::optOutGK, kOutputGroup);  // 12
  flag("optOutKrovak", &Settings::optOutKrovak, kOutputGroup);
  flag("optOutBL", &Settings::optOutBL, kOutputGroup);
  flag("optOUTetrs", &Settings::optOUTetrs, kOutputGroup);
  flag("optOutGKallgemein", &Settings::optOutGKallgemein, kOutputGroup);
  reserved(2);                            // 17-18
  text("txtEll1a", &Settings::txtEll1a);  // 19
  text("txtEll1e", &Settings::txtEll1e);
  text("txtBezEll1", &Settings::txtBezEll1);
  reserved(3);                            // 22-24
  text("txtEll2a", &Settings::txtEll2a);  // 25
  text("txtEll2e", &Settings::txtEll2e);
  text("txtBezEll2", &Settings::txtBezEll2);
  reserved(3);                                        // 28-30
  text("txtsevenParSys", &Settings::txtsevenParSys);  // 31
  text("txtP1", &Settings::txtP1);                    // 32-38
  text("txtP2", &Settings::txtP2);
  text("txtP3", &Settings::txtP3);
  text("txtP4", &Settings::txtP4);
  text("txtP5", &Settings::txtP5);
  text("txtP6", &Settings::txtP6);
  text("txtP7", &Settings::txtP7);
  text("txtsevenParSys2", &Settings::txtsevenParSys2);  // 39
  text("txtP2_1", &Settings::txtP2_1);                  // 40-46
  text("txtP2_2", &Settings::txtP2_2);
  text("txtP2_3", &Settings::txtP2_3);
  text("txtP2_4", &Settings::txtP2_4);
  text("txtP2_5", &Settings::txtP2_5);
  text("txtP2_6", &Settings::txtP2_6);
  text("txtP2_7", &Settings::txtP2_7);
  check("chk_Sperre", opt::kSperre);  // 47
  optText("comGKBM", opt::kGKBM);     // 48-53
  optText("comGKBM2", opt::kGKBM2);
  optText("comUTMBM", opt::kUTMBM);
  optText("comUTMBM2", opt::kUTMBM2);
  optText("txtUTMma", opt::kUTMma);
  optText("txtUTMma2", opt::kUTMma2);
  check("chkExp", opt::kExp);  // 54-56
  check("chkStat1", opt::kStat1);
  check("chkStat2", opt::kStat2);
  optText("txtINeasting", opt::kINeasting);  // 57-64
  optText("txtINmeridian", opt::kINmeridian);
  optText("txtINnorthing", opt::kINnorthing);
  optText("txtINscale", opt::kINscale);
  optText("txtOUTeasting", opt::kOUTeasting);
  optText("txtOUTmeridian", opt::kOUTmeridian);
  optText("txtOUTnorthing", opt::kOUTnorthing);
  optText("txtOUTscale", opt::kOUTscale);
  if (n != t.size()) throw std::logic_error("properties line table incomplete");
  return t;
}

const LineTable& Lines() {
  static const LineTable table = MakeLineTable();
  return table;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

/// `Datei "path", Zeile n (control)`: where an error happened.
std::string Where(const std::string& path, int line, const LineDef* def = nullptr) {
  std::string s = "Datei \"" + path + "\"";
  if (line > 0) s += ", Zeile " + std::to_string(line);
  if (def != nullptr && def->kind != Kind::kReserved) s += " (" + std::string(def->control) + ")";
  return s;
}

/// A value as it appears in a message: at most a few dozen characters.
std::string Shown(std::string_view value) {
  constexpr std::size_t kMaxShown = 40;
  std::size_t cut = std::min(value.size(), kMaxShown);
  // Do not cut a UTF-8 sequence apart.
  while (cut < value.size() && cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  std::string s = "»";
  s += value.substr(0, cut);
  if (cut < value.size()) s += "…";
  s += "«";
  return s;
}

// ---------------------------------------------------------------- writing

/// The text in double quotes, each quote inside doubled.
void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

/// Checks everything that could not be written as one readable line, before
/// the file is touched.
void CheckWritable(const std::string& path, const Settings& settings, const OptionTable& dialog) {
  int line = 0;
  for (const LineDef& def : Lines()) {
    ++line;
    switch (def.kind) {
      case Kind::kText:
        if (HasLineBreak(settings.*def.text)) {
          throw PropertiesError(kInvalidPropertyValue, line,
                                Where(path, line, &def) + ": der Text enthält einen Zeilenumbruch");
        }
        break;
      case Kind::kOptionText:
        if (HasLineBreak(dialog[static_cast<std::size_t>(def.option)])) {
          throw PropertiesError(kInvalidPropertyValue, line,
                                Where(path, line, &def) + ": der Text enthält einen Zeilenumbruch");
        }
        break;
      case Kind::kOptionCheck: {
        const std::string& v = dialog[static_cast<std::size_t>(def.option)];
        if (v.size() != 1 || v[0] < '0' || v[0] > '0' + kMaxCheckState) {
          throw PropertiesError(
              kInvalidPropertyValue, line,
              Where(path, line, &def) +
                  ": Kontrollkästchen-Zustand 0, 1 oder 2 erwartet, vorhanden: " + Shown(v));
        }
        break;
      }
      case Kind::kReserved:
      case Kind::kFlag:
        break;
    }
  }
}

void AppendLine(std::string& out, const LineDef& def, const Settings& settings,
                const OptionTable& dialog) {
  switch (def.kind) {
    case Kind::kReserved:
      out += kReservedValue;
      break;
    case Kind::kFlag:
      out += settings.*def.flag ? kTrueToken : kFalseToken;
      break;
    case Kind::kText:
      AppendQuoted(out, settings.*def.text);
      break;
    case Kind::kOptionCheck:
      out += dialog[static_cast<std::size_t>(def.option)];
      break;
    case Kind::kOptionText:
      AppendQuoted(out, dialog[static_cast<std::size_t>(def.option)]);
      break;
  }
  out += kLineEnd;
}

// ---------------------------------------------------------------- reading

/// Result of interpreting one line: 0, or the error number with a reason.
struct ParseResult {
  int number = 0;
  std::string reason;
};

ParseResult Fail(int number, std::string reason) { return {number, std::move(reason)}; }

/// A text line: a text in double quotes (a doubled quote inside stands for
/// one quote, blanks around the quotes are ignored), or an unquoted value,
/// taken as it stands without the blanks around it (so "#TRUE#" in a text
/// line is the text #TRUE#). An empty line is an empty text.
ParseResult ParseText(std::string_view line, std::string& out) {
  const std::string_view v = Trim(line);
  out.clear();
  if (v.empty() || v.front() != '"') {
    out.assign(v);
    return {};
  }
  std::size_t i = 1;
  for (;;) {
    if (i >= v.size()) {
      return Fail(errnum::kTypeMismatch, "das schließende Anführungszeichen fehlt: " + Shown(line));
    }
    if (v[i] == '"') {
      if (i + 1 < v.size() && v[i + 1] == '"') {
        out += '"';
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    out += v[i++];
  }
  if (i != v.size()) {
    return Fail(errnum::kTypeMismatch,
                "nach dem schließenden Anführungszeichen folgt noch etwas: " + Shown(line));
  }
  return {};
}

ParseResult ParseFlag(std::string_view line, bool& out) {
  const std::string_view v = Trim(line);
  if (v == kTrueToken) {
    out = true;
  } else if (v == kFalseToken) {
    out = false;
  } else {
    return Fail(errnum::kTypeMismatch, "#TRUE# oder #FALSE# erwartet, gelesen: " + Shown(line));
  }
  return {};
}

ParseResult ParseCheckState(std::string_view line, int& out) {
  const std::string_view v = Trim(line);
  int value = 0;
  const auto res = std::from_chars(v.data(), v.data() + v.size(), value);
  if (v.empty() || res.ec == std::errc::invalid_argument || res.ptr != v.data() + v.size()) {
    return Fail(errnum::kTypeMismatch, "eine ganze Zahl erwartet, gelesen: " + Shown(line));
  }
  if (res.ec != std::errc() || value < 0 || value > kMaxCheckState) {
    return Fail(kInvalidPropertyValue,
                "Kontrollkästchen-Zustand 0, 1 oder 2 erwartet, gelesen: " + Shown(line));
  }
  out = value;
  return {};
}

/// Interprets one line and assigns its value at once.
ParseResult ReadLineInto(const LineDef& def, std::string_view line, Settings& settings,
                         OptionTable& dialog) {
  switch (def.kind) {
    case Kind::kReserved:
      return {};  // whatever it holds
    case Kind::kFlag: {
      bool value = false;
      ParseResult r = ParseFlag(line, value);
      if (r.number != 0) return r;
      // True selects this button and clears the others of its frame; False
      // only clears this one.
      if (value) {
        for (const FlagField f : def.group) settings.*f = false;
      }
      settings.*def.flag = value;
      return {};
    }
    case Kind::kText: {
      std::string value;
      ParseResult r = ParseText(line, value);
      if (r.number == 0) settings.*def.text = std::move(value);
      return r;
    }
    case Kind::kOptionCheck: {
      int value = 0;
      ParseResult r = ParseCheckState(line, value);
      if (r.number == 0) dialog[static_cast<std::size_t>(def.option)] = std::to_string(value);
      return r;
    }
    case Kind::kOptionText: {
      std::string value;
      ParseResult r = ParseText(line, value);
      if (r.number == 0) dialog[static_cast<std::size_t>(def.option)] = std::move(value);
      return r;
    }
  }
  return {};
}

}  // namespace

// ---------------------------------------------------------------- public

std::string PropertiesErrorText(int number) {
  if (number == kInvalidPropertyValue) return "Ungültiger Eigenschaftswert";
  return RunTimeErrorText(number);
}

PropertiesError::PropertiesError(int number, int line, const std::string& detail)
    : std::runtime_error(detail.empty() ? PropertiesErrorText(number)
                                        : PropertiesErrorText(number) + ": " + detail),
      number_(number),
      line_(line) {}

std::string PropertiesErrorMessage(int number, bool saving) {
  return std::to_string(number) + (saving ? kPropertiesSaveError : kPropertiesLoadError);
}

void SaveProperties(const std::string& path, TransformSettings& settings,
                    const OptionTable& dialog) {
  CheckWritable(path, settings, dialog);

  OutputFile file;
  try {
    file.Open(path);
  } catch (const RunTimeError& e) {
    throw PropertiesError(e.number(), 0, Where(path, 0));
  }
  settings.txtPAR = path;

  int line = 0;
  try {
    std::string text;
    for (const LineDef& def : Lines()) {
      ++line;
      text.clear();
      AppendLine(text, def, settings, dialog);
      file.Write(text);
    }
    line = 0;  // what fails from here on is the final write or the close
    file.Close();
  } catch (const RunTimeError& e) {
    file.CloseQuietly();
    throw PropertiesError(e.number(), line, Where(path, line));
  }
}

void LoadProperties(const std::string& path, TransformSettings& settings, OptionTable& dialog) {
  InputFile file;
  try {
    file.Open(path);
  } catch (const RunTimeError& e) {
    throw PropertiesError(e.number(), 0, Where(path, 0));
  }
  settings.txtPAR = path;

  // Read the 64 lines first (what follows them is never looked at): the
  // encoding is decided for the file as a whole. A read error is kept and
  // reported at the line it hit, after the lines before it are assigned.
  std::vector<std::string> lines;
  lines.reserve(kPropertiesLines);
  int readError = 0;
  try {
    std::string line;
    bool cut = false;
    while (static_cast<int>(lines.size()) < kPropertiesLines &&
           file.ReadLine(line, kMaxLineBytes, cut)) {
      if (cut) {
        // No value is that long: the line is refused where it stands.
        readError = errnum::kOutOfStringSpace;
        break;
      }
      lines.push_back(line);
    }
  } catch (const RunTimeError& e) {
    readError = e.number();
  }
  file.Close();

  if (!lines.empty() && lines.front().starts_with(kUtf8Bom)) {
    lines.front().erase(0, kUtf8Bom.size());
  }
  bool utf8 = true;
  for (const std::string& l : lines) utf8 = utf8 && IsValidUtf8(l);
  if (!utf8) {
    for (std::string& l : lines) l = Windows1252ToUtf8(l);
  }

  const LineTable& defs = Lines();
  for (int i = 0; i < kPropertiesLines; ++i) {
    const int lineNo = i + 1;
    const LineDef& def = defs[static_cast<std::size_t>(i)];
    if (static_cast<std::size_t>(i) >= lines.size()) {
      if (readError == errnum::kOutOfStringSpace) {
        throw PropertiesError(readError, lineNo,
                              Where(path, lineNo, &def) + ": die Zeile ist länger als " +
                                  std::to_string(kMaxLineBytes) + " Zeichen");
      }
      if (readError != 0) throw PropertiesError(readError, lineNo, Where(path, lineNo, &def));
      throw PropertiesError(errnum::kPastEndOfFile, lineNo,
                            Where(path, lineNo, &def) + ": die Datei endet nach " +
                                std::to_string(lines.size()) + " Zeilen, erwartet werden " +
                                std::to_string(kPropertiesLines));
    }
    const ParseResult r = ReadLineInto(def, lines[static_cast<std::size_t>(i)], settings, dialog);
    if (r.number != 0) {
      throw PropertiesError(r.number, lineNo, Where(path, lineNo, &def) + ": " + r.reason);
    }
  }
}

namespace {
/// Last line of the first and of the second seven-parameter set.
constexpr int kLastLineOfSet[2] = {38, 46};
}  // namespace

void SaveProperties(const std::string& path, Session& session, const OptionTable& dialog) {
  TransformSettings saved = session.settings;
  std::string note;
  for (int k = 1; k <= 2; ++k) {
    if (!session.grids[k - 1].active()) continue;
    for (std::string* field : saved.SevenParFields(k)) *field = "0";
    note += std::to_string(k) + ". Transformation: Gitter \"" + session.grids[k - 1].file +
            "\" als \"" + (k == 1 ? saved.txtsevenParSys : saved.txtsevenParSys2) +
            "\" mit sieben Nullen gespeichert (die Parameterdatei kann kein Gitter halten)\r\n";
  }
  try {
    SaveProperties(path, saved, dialog);
  } catch (const PropertiesError&) {
    session.settings.txtPAR = saved.txtPAR;
    throw;
  }
  session.settings.txtPAR = saved.txtPAR;
  if (note.empty()) return;
  const std::string& log = session.settings.txtDateien;
  session.AppendLog((log.empty() || log.back() == '\n' ? "" : "\r\n") + note);
}

void LoadProperties(const std::string& path, Session& session, OptionTable& dialog) {
  try {
    LoadProperties(path, session.settings, dialog);
  } catch (const PropertiesError& e) {
    for (int k = 0; k < 2; ++k) {
      if (e.line() > kLastLineOfSet[k]) session.grids[k] = GridSlot{};
    }
    throw;
  }
  session.grids = {};
}

}  // namespace pelmo
