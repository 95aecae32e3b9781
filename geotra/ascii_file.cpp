// The ASCII driver: one point per line, fields separated by blanks,
// "first second [height]"; written as "first second height" CR LF.

#include <string>
#include <string_view>

#include "geotra/errors.hpp"
#include "geotra/file_drivers.hpp"
#include "geotra/fileio.hpp"
#include "geotra/numtext.hpp"
#include "geotra/transform_point.hpp"
#include "job/frontend.hpp"

namespace pelmo {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
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

/// The message for an error at a line: its description, the line number and
/// the line itself (cut when very long).
std::string LineErrorMessage(const std::exception& e, long lineNo, const std::string& line) {
  constexpr std::size_t kShownChars = 200;
  std::string msg = e.what();
  msg += "\r\nZeile ";
  msg += std::to_string(lineNo);
  msg += ": ";
  if (line.size() > kShownChars) {
    msg.append(line, 0, kShownChars);
    msg += "...";
  } else {
    msg += line;
  }
  return msg;
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
  try {
    source.Open(t.txtQuelldatei);
    target.Open(t.txtZielDatei);
    while (source.ReadLine(line)) {
      ++lineNo;
      inLine = true;
      if (lineNo == 1 && std::string_view(line).starts_with(kUtf8Bom)) line.erase(0, kUtf8Bom.size());
      // The decimal point becomes the decimal comma; blanks separate fields.
      work.assign(line);
      for (char& ch : work) {
        if (ch == '.') ch = ',';
      }
      std::string_view fields[3];
      const int count = SplitFields(work, fields);
      // Field 0 is converted before field 1 is looked for: a line without
      // blanks (tab-separated values, a word) is a conversion error, an
      // empty line or a single number an index error.
      if (count < 1) throw RunTimeError(errnum::kOutOfRange);
      double first = ParseNumber(fields[0]);
      if (count < 2) throw RunTimeError(errnum::kOutOfRange);
      double second = ParseNumber(fields[1]);
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
      inLine = false;
    }
    inLine = false;
    source.Close();
    target.Close();
    return true;
  } catch (const std::exception& e) {
    source.Close();
    target.CloseQuietly();
    const std::string msg = inLine ? LineErrorMessage(e, lineNo, line) : std::string(e.what());
    session.frontEnd().ShowMessage(msg, kProgramName, MsgIcon::kNone);
    return false;
  }
}

}  // namespace pelmo
