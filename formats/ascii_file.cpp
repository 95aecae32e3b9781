// The ASCII driver: one point per line, fields separated by blanks,
// "first second [height]"; written as "first second height" CR LF.
//
// An error stops the run with one message: the description, the line and
// its number, and what the target now holds. The target keeps the lines
// before the error; when a write fails, the lines of the block that did not
// reach the file are gone, and the message says how many lines remain.
// Lines are held up to kMaxLineBytes; a longer line is read past, and only
// fails when a field the driver needs does not end within that length.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/frontend.hpp"
#include "core/numtext.hpp"
#include "formats/drivers.hpp"
#include "geodesy/point_chain.hpp"

namespace pelmo {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Byte order marks of UTF-16 text, which this driver does not read.
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
constexpr std::string_view kLineEnd = "\r\n";

/// Splits a line into its first three blank-separated fields (a decimal
/// point having become a comma); returns the number of fields, up to 3.
int SplitFields(std::string_view line, std::string_view (&fields)[3]) {
  int count = 0;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (count < 3) {
    while (i < n && line[i] == ' ') ++i;
    if (i == n) break;
    const std::size_t start = i;
    while (i < n && line[i] != ' ') ++i;
    fields[count++] = line.substr(start, i - start);
  }
  return count;
}

/// Length of the well-formed UTF-8 sequence at the start of `s` (1 to 4),
/// or 0 when it does not start with one (RFC 3629: no overlong forms, no
/// surrogates, nothing above U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto c = static_cast<unsigned char>(s[0]);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  const auto c1 = static_cast<unsigned char>(s[1]);
  if (c1 < lo || c1 > hi) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

/// `text` as it can be shown in a message: control characters other than
/// the tab, bytes that are not UTF-8 (binary data, other encodings) and
/// the invisible byte order mark become U+FFFD.
std::string Printable(std::string_view text) {
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  constexpr unsigned char kFirstPrintable = 0x20, kDelete = 0x7F;
  std::string out;
  while (!text.empty()) {
    const std::size_t n = Utf8SequenceLength(text);
    const auto c = static_cast<unsigned char>(text[0]);
    if (n == 0 || (n == 1 && ((c < kFirstPrintable && c != '\t') || c == kDelete))) {
      out += kReplacement;
      text.remove_prefix(1);
    } else if (text.substr(0, n) == kUtf8Bom) {
      out += kReplacement;
      text.remove_prefix(n);
    } else {
      out.append(text.substr(0, n));
      text.remove_prefix(n);
    }
  }
  return out;
}

/// The message for an error at a line: its description, the line number and
/// the line itself (cut when very long, made printable).
std::string LineErrorMessage(const std::exception& e, long lineNo, const std::string& line) {
  constexpr std::size_t kShownBytes = 200;
  std::string msg = e.what();
  msg += "\r\nZeile ";
  msg += std::to_string(lineNo);
  msg += ": ";
  if (line.size() > kShownBytes) {
    std::size_t cut = kShownBytes;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    msg += Printable(std::string_view(line).substr(0, cut));
    msg += "...";
  } else {
    msg += Printable(line);
  }
  return msg;
}

/// The error for a line longer than the reader keeps.
RunTimeError LineTooLong() {
  return RunTimeError(errnum::kOutOfStringSpace,
                      "die Zeile ist länger als " + std::to_string(kMaxLineBytes) + " Zeichen");
}

/// Lines and bytes handed to the target, and how many lines had reached the
/// file when its last write completed (the target is written in blocks, so
/// a failed write loses the lines of its block).
struct TargetProgress {
  bool opened = false;
  long lines = 0;
  std::uint64_t bytes = 0;
  long linesCommitted = 0;
  std::uint64_t committed = 0;

  void Written(std::size_t n, std::uint64_t fileCommitted) {
    ++lines;
    bytes += n;
    if (fileCommitted != committed) {
      committed = fileCommitted;
      linesCommitted = lines;
    }
  }
};

/// Closes the target after an error and returns the number of whole lines
/// it keeps. When a write failed, the lines of the lost block are gone, and
/// a piece of the block that may have reached the file is cut off so that
/// the target ends with a whole line.
long FinishAfterError(OutputFile& target, const TargetProgress& progress) {
  try {
    target.Close();
  } catch (const std::exception&) {
    // Reported by what remains in the file.
  }
  if (target.committed() == progress.bytes) return progress.lines;
  std::error_code ec;
  std::filesystem::resize_file(target.path(), progress.committed, ec);
  return progress.linesCommitted;
}

/// The sentence that tells what the target holds after an error.
std::string KeptLinesText(long kept) {
  if (kept == 0) return "Die Zieldatei ist leer.";
  if (kept == 1) return "Die Zieldatei enthält die Zeile 1.";
  return "Die Zieldatei enthält die Zeilen 1 bis " + std::to_string(kept) + ".";
}

}  // namespace

bool TransformAsciiFile(Session& session) {
  const TransformSettings& t = session.settings;
  const char sign = session.decimalSign();
  InputFile source;
  OutputFile target;
  std::string line, work, out;
  long lineNo = 0;
  bool inLine = false;
  // What went into the target: lines and bytes handed to it, and the lines
  // that had reached the file at its last completed write.
  TargetProgress progress;
  try {
    source.Open(t.txtQuelldatei);
    target.Open(t.txtZielDatei);
    progress.opened = true;
    bool cut = false;
    while (source.ReadLine(line, kMaxLineBytes, cut)) {
      ++lineNo;
      inLine = true;
      if (lineNo == 1) {
        if (line.starts_with(kUtf8Bom)) line.erase(0, kUtf8Bom.size());
        if (line.starts_with(kUtf16LeBom) || line.starts_with(kUtf16BeBom)) {
          throw RunTimeError(errnum::kTypeMismatch,
                             "die Datei ist in UTF-16 geschrieben; gelesen werden ANSI- und "
                             "UTF-8-Textdateien");
        }
      }
      // The decimal point becomes the decimal comma; blanks separate fields.
      work.assign(line);
      for (char& ch : work) {
        if (ch == '.') ch = ',';
      }
      std::string_view fields[3];
      const int count = SplitFields(work, fields);
      // Of a line longer than what is kept, only fields that end inside
      // the kept part can be read; a field that may go on beyond it, or one
      // that may lie there, makes the line too long.
      const auto complete = [&](int k) {
        return !cut || (k < count && fields[k].data() + fields[k].size() < work.data() + work.size());
      };
      // Field 0 is converted before field 1 is looked for: a line without
      // blanks (tab-separated values, a word) is a conversion error, an
      // empty line or a single number an index error.
      if (!complete(0)) throw LineTooLong();
      if (count < 1) throw RunTimeError(errnum::kOutOfRange);
      double first = ParseNumber(fields[0]);
      if (!complete(1)) throw LineTooLong();
      if (count < 2) throw RunTimeError(errnum::kOutOfRange);
      double second = ParseNumber(fields[1]);
      if (!complete(2)) throw LineTooLong();
      double height = count >= 3 ? ParseNumber(fields[2]) : 0;
      const PointResult r = TransformPoint(session, first, second, height);
      out.clear();
      AppendNumber(out, r[0], sign);
      out += ' ';
      AppendNumber(out, r[1], sign);
      out += ' ';
      AppendNumber(out, height, sign);
      out += kLineEnd;
      target.Write(out);
      progress.Written(out.size(), target.committed());
      inLine = false;
    }
    inLine = false;
    source.Close();
    target.Close();
    return true;
  } catch (const std::exception& e) {
    source.Close();
    std::string msg = inLine ? LineErrorMessage(e, lineNo, line) : std::string(e.what());
    if (progress.opened) {
      msg += kLineEnd;
      msg += KeptLinesText(FinishAfterError(target, progress));
    }
    session.frontEnd().ShowMessage(msg, kProgramName, MsgIcon::kNone);
    return false;
  }
}

}  // namespace pelmo
