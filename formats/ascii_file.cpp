// The ASCII driver: one point per line, read and written line by line as
// the session's layout says (formats/ascii_layout.hpp); without a layout
// "first second [height]" separated by blanks, written as "first second
// height" CR LF; with one, each line keeps its own line end.
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
#include "formats/ascii_layout.hpp"
#include "formats/drivers.hpp"
#include "geodesy/plausibility.hpp"

namespace pelmo {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Byte order marks of UTF-16 text, which this driver does not read.
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
constexpr std::string_view kLineEnd = "\r\n";
// A shapefile or its index starts with the file code 9994 (00 00 27 0A,
// big-endian); the 0A ends the first "line".
constexpr std::string_view kShapefileCode{"\0\0\x27", 3};
// The front end hears of the bytes read every 1024 lines from the first on.
constexpr long kProgressLineMask = 1023;

namespace fs = std::filesystem;

}  // namespace

std::string LineErrorMessage(const std::exception& e, const TransformSettings& t, long lineNo,
                             const std::string& line) {
  constexpr std::size_t kShownBytes = 200;
  std::string msg = e.what();
  // A field that cannot be read: which column, and what it needs.
  if (const auto* field = dynamic_cast<const AsciiFieldError*>(&e)) {
    msg += "\r\n" + FieldErrorText(*field, t);
  }
  msg += "\r\nZeile ";
  msg += std::to_string(lineNo);
  msg += ": ";
  if (line.size() > kShownBytes) {
    std::size_t cut = kShownBytes;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    msg += PrintableText(std::string_view(line).substr(0, cut));
    msg += "...";
  } else {
    msg += PrintableText(line);
  }
  return msg;
}

namespace {

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
  const bool standard = target.IsStandard();  // standard output cannot be cut back
  try {
    target.Close();
  } catch (const std::exception&) {
    // Reported by what remains in the file.
  }
  if (target.committed() == progress.bytes) return progress.lines;
  if (standard) return progress.linesCommitted;
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
  // The layout of the whole job, whatever is applied while it runs.
  const AsciiLayout layout = session.asciiLayout;
  const PlausibilityContext checks = MakePlausibilityContext(session);
  FrontEnd& fe = session.frontEnd();
  InputFile source;
  OutputFile target;
  std::string line, out;
  long lineNo = 0;
  bool inLine = false;
  // What went into the target: lines and bytes handed to it, and the lines
  // that had reached the file at its last completed write.
  TargetProgress progress;
  try {
    // "-" is standard input or output (the batch tool in a pipe).
    if (t.txtQuelldatei == kStandardStreamName) {
      source.OpenStandardInput();
    } else {
      source.Open(t.txtQuelldatei);
    }
    std::error_code ec;
    if (t.txtZielDatei == kStandardStreamName) {
      target.OpenStandardOutput();
    } else if (fs::exists(t.txtZielDatei, ec) && !fs::is_directory(t.txtZielDatei, ec) &&
               !fe.ConfirmReplaceAsciiTarget(t.txtZielDatei)) {
      return false;
    } else {
      target.Open(t.txtZielDatei);
    }
    progress.opened = true;
    bool cut = false;
    while (source.ReadLine(line, kMaxLineBytes, cut)) {
      ++lineNo;
      out.clear();
      std::string_view text = line;
      if (lineNo == 1 && text == kShapefileCode) {
        throw RunTimeError(errnum::kTypeMismatch,
                           "die Quelldatei " + t.txtQuelldatei +
                               " ist binär und sieht wie eine Shapedatei aus; für Shapedateien "
                               "den Dateityp \"Shape\" wählen (pelmo-cli: --type shape)");
      }
      inLine = true;
      if (lineNo == 1) {
        if (text.starts_with(kUtf16LeBom) || text.starts_with(kUtf16BeBom)) {
          throw RunTimeError(errnum::kTypeMismatch,
                             "die Datei ist in UTF-16 geschrieben; gelesen werden ANSI- und "
                             "UTF-8-Textdateien");
        }
        // A layout keeps the byte order mark in the target.
        if (line.starts_with(kUtf8Bom)) {
          line.erase(0, kUtf8Bom.size());
          text = line;
          if (layout.active) out += kUtf8Bom;
        }
      }
      const AsciiLineResult r = TransformAsciiLine(session, layout, checks, text, lineNo, cut, out);
      session.warnings.Add(r.warnings, lineNo);
      out += layout.active ? source.lineEnd() : kLineEnd;
      target.Write(out);
      progress.Written(out.size(), target.committed());
      inLine = false;
      if ((lineNo & kProgressLineMask) == 1) fe.ProgressBytes(source.consumed(), source.size());
    }
    inLine = false;
    source.Close();
    target.Close();
    return true;
  } catch (const std::exception& e) {
    source.Close();
    std::string msg = inLine ? LineErrorMessage(e, t, lineNo, line) : std::string(e.what());
    if (progress.opened) {
      msg += kLineEnd;
      msg += KeptLinesText(FinishAfterError(target, progress));
    }
    session.frontEnd().ShowMessage(msg, kProgramName, MsgIcon::kNone);
    return false;
  }
}

}  // namespace pelmo
