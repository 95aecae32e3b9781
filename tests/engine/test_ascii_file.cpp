// The ASCII driver: line handling, what is written, what stops a run, the
// message it shows and what stays in the target, under a decimal comma and
// a decimal point.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/settings.hpp"
#include "formats/drivers.hpp"
#include "test_support.hpp"

namespace pelmo {
namespace {

using test::ReadBytes;
using test::RecordingFrontEnd;
using test::TempFolder;
using test::WriteBytes;

constexpr char kSigns[] = {',', '.'};

/// An ASCII job in translation mode (10, 20, 1) between two files of a
/// temporary folder.
struct AsciiJob {
  TempFolder dir;
  RecordingFrontEnd fe;
  Session s;
  std::string source, target;

  explicit AsciiJob(char decimalSign)
      : s(fe, decimalSign), source(dir.File("in.txt")), target(dir.File("out.txt")) {
    test::UseAsciiTranslation(s, source, target);
  }
  /// Writes `content` as the source and runs the driver.
  bool Run(const std::string& content) {
    WriteBytes(source, content);
    s.Touch();
    return TransformAsciiFile(s);
  }
  std::string Target() const { return ReadBytes(target); }
};

/// The local spelling of a number text written with a comma.
std::string L(std::string text, char sign) {
  for (char& c : text) {
    if (c == ',') c = sign;
  }
  return text;
}

/// Checks the one message of a failed run: the German description, the
/// line number and the line, title "Pelmo", no icon.
void ExpectLineMessage(const RecordingFrontEnd& fe, const std::string& description, long line,
                       const std::string& text) {
  ASSERT_EQ(fe.messages.size(), 1u);
  const test::ShownBox& m = fe.messages.front();
  EXPECT_EQ(m.text.rfind(description, 0), 0u) << m.text;
  EXPECT_NE(m.text.find("Zeile " + std::to_string(line)), std::string::npos) << m.text;
  EXPECT_NE(m.text.find(text), std::string::npos) << m.text;
  EXPECT_EQ(m.title, kProgramName);
  EXPECT_EQ(m.icon, MsgIcon::kNone);
}

TEST(AsciiFile, GoodLinesAreShiftedAndWrittenInTheLocalSpelling) {
  // The reader works in blocks of 64 KiB: a line whose CR is the last byte
  // of the first block, its LF (or the next line) in the second.
  const std::string acrossBlocks = "1" + std::string((1 << 16) - 3, ' ') + "2";
  const std::string three = "11 22 4\r\n12 23 5\r\n13 24 6\r\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1 2 3\r\n1.5 2 3\r\n1,5 -2.25 0.5\r\n", "11 22 4\r\n11,5 22 4\r\n11,5 17,75 1,5\r\n"},
      {"  45.5   5,25  \r\n", "55,5 25,25 1\r\n"},          // blanks around and between
      {"1.5 2.5 3.5 extra 99\r\n", "11,5 22,5 4,5\r\n"},  // further fields are ignored
      {"7 8\r\n", "17 28 1\r\n"},                         // no height: 0
      {",5 -2e3 1E1\r\n", "10,5 -1980 11\r\n"},           // forms the conversion accepts
      {"3.50 4.000 3.50\r\n", "13,5 24 4,5\r\n"},         // no trailing zeros written
      {"", ""},                                           // empty source, empty target
      {"1 2 3\n2 3 4\n3 4 5\n", three},
      {"1 2 3\r2 3 4\r3 4 5\r", three},
      {"1 2 3\r\n2 3 4\n3 4 5\r", three},
      {"1 2 3\r\n2 3 4\r\n3 4 5", three},  // last line without line end
      {"\xEF\xBB\xBF" "1 2 3\r\n2 3 4\r\n", "11 22 4\r\n12 23 5\r\n"},  // UTF-8 mark skipped
      {acrossBlocks + "\r\n5 6\r\n", "11 22 1\r\n15 26 1\r\n"},
      {acrossBlocks + "\r5 6\r", "11 22 1\r\n15 26 1\r\n"},
  };
  for (char sign : kSigns) {
    for (const auto& [source, want] : cases) {
      SCOPED_TRACE(std::string(1, sign) + " " + source.substr(0, 40));
      AsciiJob job(sign);
      WriteBytes(job.target, std::string(10000, 'x'));  // an older, longer target
      EXPECT_TRUE(job.Run(source));
      EXPECT_TRUE(job.fe.messages.empty());
      EXPECT_TRUE(FileExists(job.target));
      EXPECT_EQ(job.Target(), L(want, sign));
      EXPECT_EQ(job.fe.eventPasses, static_cast<long>(test::SplitCrLf(want).size()));
    }
  }
}

TEST(AsciiFile, BadLineStopsTheRunAndKeepsTheLinesBeforeIt) {
  const struct {
    std::string source;
    const char* description;
    long line;
    const char* text;
    const char* kept;
  } cases[] = {
      // An empty line after the last point is a line without fields.
      {"1 2 3\r\n4 5 6\r\n\r\n", "Index außerhalb des gültigen Bereichs", 3, "",
       "11 22 4\r\n14 25 7\r\n"},
      {"1 2 3\n   \n4 5 6\n", "Index außerhalb des gültigen Bereichs", 2, "   ", "11 22 4\r\n"},
      {"1 2 3\n42\n4 5 6\n", "Index außerhalb des gültigen Bereichs", 2, "42", "11 22 4\r\n"},
      {"1 2 3\n 4.2 \n4 5 6\n", "Index außerhalb des gültigen Bereichs", 2, " 4.2 ", "11 22 4\r\n"},
      {"1 2 3\r\n4.5 x 6\r\n7 8 9\r\n", "Typen unverträglich", 2, "4.5 x 6", "11 22 4\r\n"},
      {"Rechtswert Hochwert Hoehe\r\n1 2 3\r\n", "Typen unverträglich", 1,
       "Rechtswert Hochwert Hoehe", ""},
      {"1 2 abc\r\n1 2 3\r\n", "Typen unverträglich", 1, "1 2 abc", ""},  // the height is read
      {"1\t2\t3\r\n1 2 3\r\n", "Typen unverträglich", 1, "1\t2\t3", ""},  // tabs do not separate
      {"5.500.000,25 5800000 0\r\n", "Typen unverträglich", 1, "5.500.000,25 5800000 0", ""},
      {"5,500,000.25 5800000 0\r\n", "Typen unverträglich", 1, "5,500,000.25 5800000 0", ""},
      {"1.5.2 3\r\n", "Typen unverträglich", 1, "1.5.2 3", ""},
      {"1e400 2 3\r\n", "Überlauf", 1, "1e400 2 3", ""},
      {"1 2 -1e999\r\n", "Überlauf", 1, "1 2 -1e999", ""},
  };
  for (char sign : kSigns) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(1, sign) + " " + c.source);
      AsciiJob job(sign);
      EXPECT_FALSE(job.Run(c.source));
      EXPECT_EQ(job.Target(), c.kept);
      ExpectLineMessage(job.fe, c.description, c.line, c.text);
      EXPECT_EQ(job.fe.eventPasses, c.line - 1) << "no line is read after the failing one";
    }
  }
}

TEST(AsciiFile, TargetInMissingFolderIsReportedAndSourceKept) {
  AsciiJob job('.');
  job.s.settings.txtZielDatei = job.dir.File("fehlt/out.txt");
  EXPECT_FALSE(job.Run("1 2 3\r\n"));
  EXPECT_EQ(job.fe.OnlyMessage().rfind("Pfad nicht gefunden", 0), 0u) << job.fe.OnlyMessage();
  EXPECT_EQ(ReadBytes(job.source), "1 2 3\r\n");
}

TEST(AsciiFile, ChainFaultsStopAtTheFirstLine) {
  // UTM (or GK-Germ) on Bessel to Ell on Bessel, zero sets, with an option
  // value the chain cannot use.
  for (bool utm : {true, false}) {
    AsciiJob job(utm ? ',' : '.');
    TransformSettings& t = job.s.settings;
    t.optSevPar = true;
    t.optTranslation = false;
    t.optInGK = !utm;
    t.optINetrs = utm;
    t.optInKrovak = t.optOutGK = false;
    t.optOutBL = true;
    t.txtEll1a = t.txtEll2a = "6377397.155";
    t.txtEll1e = t.txtEll2e = "0.0816968312225275";
    job.s.OptionValues[utm ? opt::kUTMma : opt::kGKBM] = utm ? "0" : "15 Grad";
    const std::string line = utm ? "33500000 5650000 0" : "5500000 5650000 0";
    EXPECT_FALSE(job.Run(line + "\r\n" + line + "\r\n"));
    EXPECT_EQ(job.Target(), "");
    ExpectLineMessage(job.fe, utm ? "Division durch Null" : "Typen unverträglich", 1, line);
  }
}

TEST(AsciiFile, SettingChangedDuringTheRunAppliesFromTheNextLine) {
  AsciiJob job(',');
  job.fe.onEvents = [&](long pass) {
    if (pass == 2) {
      job.s.settings.txtDX = "100";
      job.s.Touch();
    }
  };
  EXPECT_TRUE(job.Run("1 2 3\r\n1 2 3\r\n1 2 3\r\n"));
  EXPECT_EQ(job.Target(), "11 22 4\r\n11 22 4\r\n101 22 4\r\n");
}

}  // namespace
}  // namespace pelmo
