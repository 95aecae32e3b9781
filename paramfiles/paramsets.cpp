#include "paramfiles/paramsets.hpp"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <system_error>
#include <string_view>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/numtext.hpp"
#include "paramfiles/encoding.hpp"

namespace pelmo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

/// Reads delimited values one after the other. Values are separated by
/// commas or line ends; blanks before a value are skipped, and lines
/// holding nothing but blanks hold no value. A text is either in double
/// quotes (commas included; a doubled quote inside stands for one quote)
/// or runs to the next comma or line end. A number is written with a
/// period as the decimal sign and ends at a comma, a blank or the line end.
/// Every failure (the file cannot be read, it ends too early, a value is
/// malformed) makes the Next* functions return false.
class DelimitedReader {
 public:
  explicit DelimitedReader(const std::string& path) : file_(path) {}

  bool NextText(std::string& out) {
    if (!SkipToValue()) return false;
    out.clear();
    if (line_[pos_] == '"') {
      ++pos_;
      for (;;) {
        if (pos_ >= line_.size()) return false;  // no closing quote
        const char c = line_[pos_++];
        if (c == '"') {
          if (pos_ < line_.size() && line_[pos_] == '"') {
            out += '"';
            ++pos_;
            continue;
          }
          break;
        }
        out += c;
      }
    } else {
      const std::size_t end = std::min(line_.find(',', pos_), line_.size());
      std::size_t last = end;
      while (last > pos_ && IsBlank(line_[last - 1])) --last;
      out.assign(line_, pos_, last - pos_);
      pos_ = end;
    }
    // Files from older systems are in Windows-1252.
    if (!IsValidUtf8(out)) out = Windows1252ToUtf8(out);
    EndValue();
    return true;
  }

  bool NextNumber(double& out) {
    if (!SkipToValue()) return false;
    std::size_t end = pos_;
    while (end < line_.size() && line_[end] != ',' && !IsBlank(line_[end])) ++end;
    const std::string_view token(line_.data() + pos_, end - pos_);
    double value = 0;
    if (token.empty() || TryParseNumber(token, value) != 0) return false;
    out = value;
    pos_ = end;
    EndValue();
    return true;
  }

 private:
  /// Moves to the first character of the next value; false at the end of
  /// the file.
  bool SkipToValue() {
    for (;;) {
      if (!haveLine_) {
        bool cut = false;
        if (!file_.ReadLine(line_, kMaxLineBytes, cut) || cut) return false;
        if (firstLine_ && line_.starts_with(kUtf8Bom)) line_.erase(0, kUtf8Bom.size());
        firstLine_ = false;
        haveLine_ = true;
        pos_ = 0;
      }
      while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
      if (pos_ < line_.size()) return true;
      haveLine_ = false;
    }
  }

  /// After a value: skips blanks and one comma; at the line end the next
  /// value is looked for on the next line.
  void EndValue() {
    while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
    if (pos_ < line_.size() && line_[pos_] == ',') ++pos_;
    if (pos_ >= line_.size()) haveLine_ = false;
  }

  InputFile file_;
  std::string line_;
  std::size_t pos_ = 0;
  bool haveLine_ = false;
  bool firstLine_ = true;
};

}  // namespace

std::optional<EllipsoidParams> ReadEllipsoidFile(const std::string& path) {
  try {
    DelimitedReader in(path);
    EllipsoidParams ell;
    if (in.NextText(ell.name) && in.NextNumber(ell.a) && in.NextNumber(ell.e)) return ell;
  } catch (const RunTimeError&) {
    // The loaders fail silently.
  }
  return std::nullopt;
}

std::optional<SevenParams> ReadSevenParFile(const std::string& path) {
  try {
    DelimitedReader in(path);
    SevenParams par;
    if (!in.NextText(par.name)) return std::nullopt;
    for (double& v : par.p) {
      if (!in.NextNumber(v)) return std::nullopt;
    }
    return par;
  } catch (const RunTimeError&) {
    // The loaders fail silently.
  }
  return std::nullopt;
}

void WriteSevenParFile(const std::string& path, const SevenParams& par) {
  constexpr std::string_view kCrLf = "\r\n";
  std::string text = "\"";
  for (const char c : par.name) {
    if (c == '\r' || c == '\n') continue;  // a value is one line
    text += c;
    if (c == '"') text += '"';
  }
  text += '"';
  text += kCrLf;
  for (const double v : par.p) {
    text += FormatShortest(v);
    text += kCrLf;
  }
  const std::string temporary = path + ".pelmo-tmp";
  OutputFile file;
  try {
    file.Open(temporary);
    file.Write(text);
    file.Close();
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) ThrowFileError(ec.value(), path, IoOp::kWrite);
  } catch (const RunTimeError& e) {
    file.CloseQuietly();
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw RunTimeError(e.number(), "Datei \"" + path + "\" (Schreiben)");
  }
}

void AssignEllipsoid(TransformSettings& settings, int group, const EllipsoidParams& ell,
                     char decimalSign) {
  if (group == 2) {
    settings.txtBezEll2 = ell.name;
    settings.txtEll2a = FormatNumber(ell.a, decimalSign);
    settings.txtEll2e = FormatNumber(ell.e, decimalSign);
  } else {
    settings.txtBezEll1 = ell.name;
    settings.txtEll1a = FormatNumber(ell.a, decimalSign);
    settings.txtEll1e = FormatNumber(ell.e, decimalSign);
  }
}

void AssignSevenPar(TransformSettings& settings, int set, const SevenParams& par,
                    char decimalSign) {
  (set == 2 ? settings.txtsevenParSys2 : settings.txtsevenParSys) = par.name;
  const auto fields = settings.SevenParFields(set);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    *fields[i] = FormatNumber(par.p[i], decimalSign);
  }
}

bool LoadEllipsoidFile(const std::string& path, TransformSettings& settings, int group,
                       char decimalSign) {
  const auto ell = ReadEllipsoidFile(path);
  if (!ell) return false;
  AssignEllipsoid(settings, group, *ell, decimalSign);
  return true;
}

bool LoadSevenParFile(const std::string& path, TransformSettings& settings, int set,
                      char decimalSign) {
  const auto par = ReadSevenParFile(path);
  if (!par) return false;
  AssignSevenPar(settings, set, *par, decimalSign);
  return true;
}

}  // namespace pelmo
