// The ASCII driver: line handling, what is written, what stops a run, the
// message it shows and what stays in the target, under a decimal comma and
// a decimal point.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "geotra/errors.hpp"
#include "geotra/file_drivers.hpp"
#include "geotra/fileio.hpp"
#include "job/frontend.hpp"
#include "job/settings.hpp"
#include "test_support.hpp"

namespace pelmo {
namespace {

using test::ReadBytes;
using test::RecordingFrontEnd;
using test::TempFolder;
using test::WriteBytes;

constexpr char kSigns[] = {',', '.'};

/// An ASCII job in translation mode between two files of a temporary
/// folder.
struct AsciiJob {
  TempFolder dir;
  RecordingFrontEnd fe;
  Session s;
  std::string source, target;

  explicit AsciiJob(char decimalSign, const char* dx = "10", const char* dy = "20",
                    const char* dh = "1")
      : s(fe, decimalSign), source(dir.File("in.txt")), target(dir.File("out.txt")) {
    TransformSettings& t = s.settings;
    t.optASCII = true;
    t.optSHP = false;
    t.optSevPar = false;
    t.optTranslation = true;
    t.txtDX = dx;
    t.txtDY = dy;
    t.txtDH = dh;
    t.txtQuelldatei = source;
    t.txtZielDatei = target;
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

// ------------------------------------------------------------ good lines

TEST(AsciiFile, TranslationShiftsEveryLineAndWritesTheLocalDecimalSign) {
  for (char sign : kSigns) {
    SCOPED_TRACE(sign);
    AsciiJob job(sign);
    EXPECT_TRUE(job.Run("1 2 3\r\n1.5 2 3\r\n1,5 -2.25 0.5\r\n"));
    EXPECT_TRUE(job.fe.messages.empty());
    EXPECT_EQ(job.Target(), L("11 22 4\r\n11,5 22 4\r\n11,5 17,75 1,5\r\n", sign));
  }
}

TEST(AsciiFile, BlanksExtraFieldsAndMissingHeight) {
  for (char sign : kSigns) {
    SCOPED_TRACE(sign);
    AsciiJob job(sign, "0", "0", "0");
    EXPECT_TRUE(job.Run("  45.5   5,25  \r\n"          // blanks around and between
                        "1.5 2.5 3.5 extra 99\r\n"     // further fields are ignored
                        "7 8\r\n"                      // no height: 0
                        ",5 -2e3 1E1\r\n"              // forms the conversion accepts
                        "3.50 4.000 3.50\r\n"));       // written without trailing zeros
    EXPECT_TRUE(job.fe.messages.empty());
    EXPECT_EQ(job.Target(), L("45,5 5,25 0\r\n1,5 2,5 3,5\r\n7 8 0\r\n0,5 -2000 10\r\n"
                              "3,5 4 3,5\r\n",
                              sign));
    EXPECT_EQ(job.fe.eventPasses, 5);
  }
}

TEST(AsciiFile, EmptySourceGivesEmptyTargetAndNoMessage) {
  AsciiJob job(',');
  WriteBytes(job.target, "old content\r\n");
  EXPECT_TRUE(job.Run(""));
  EXPECT_TRUE(job.fe.messages.empty());
  EXPECT_TRUE(test::ReadBytes(job.target).empty());
  EXPECT_TRUE(FileExists(job.target));
}

TEST(AsciiFile, ExistingTargetIsTruncated) {
  AsciiJob job('.');
  WriteBytes(job.target, std::string(10000, 'x'));
  EXPECT_TRUE(job.Run("1 2 3"));
  EXPECT_EQ(job.Target(), "11 22 4\r\n");
}

TEST(AsciiFile, EveryKindOfLineEndAndALastLineWithoutOne) {
  const std::string expected = "11 22 4\r\n12 23 5\r\n13 24 6\r\n";
  const std::vector<std::string> sources = {
      "1 2 3\r\n2 3 4\r\n3 4 5\r\n",  // CR LF
      "1 2 3\n2 3 4\n3 4 5\n",        // LF only
      "1 2 3\r2 3 4\r3 4 5\r",        // CR only
      "1 2 3\r\n2 3 4\n3 4 5\r",      // mixed
      "1 2 3\r\n2 3 4\r\n3 4 5",      // last line without line end
      "1 2 3\n2 3 4\n3 4 5",
  };
  for (const std::string& src : sources) {
    AsciiJob job(',');
    EXPECT_TRUE(job.Run(src)) << src;
    EXPECT_TRUE(job.fe.messages.empty());
    EXPECT_EQ(job.Target(), expected);
  }
}

TEST(AsciiFile, Utf8ByteOrderMarkIsSkipped) {
  AsciiJob job('.');
  EXPECT_TRUE(job.Run("\xEF\xBB\xBF" "1 2 3\r\n2 3 4\r\n"));
  EXPECT_TRUE(job.fe.messages.empty());
  EXPECT_EQ(job.Target(), "11 22 4\r\n12 23 5\r\n");
}

TEST(AsciiFile, LineEndsAcrossTheReadBuffer) {
  // The reader works in blocks of 64 KiB: put a CR as the last byte of the
  // first block and its LF (or the next line) at the start of the second.
  constexpr std::size_t kBlock = 1 << 16;
  const std::string line1 = "1" + std::string(kBlock - 3, ' ') + "2";  // CR at kBlock - 1
  for (const char* rest : {"\r\n5 6\r\n", "\r5 6\r"}) {
    AsciiJob job(',');
    EXPECT_TRUE(job.Run(line1 + rest));
    EXPECT_TRUE(job.fe.messages.empty()) << job.fe.messages.front().text.substr(0, 80);
    EXPECT_EQ(job.Target(), "11 22 1\r\n15 26 1\r\n");
  }
}

TEST(AsciiFile, ManyLinesAreAllWritten) {
  AsciiJob job('.', "0.5", "-0.5", "0");
  std::string src;
  for (int i = 0; i < 30000; ++i) {
    src += std::to_string(3500000 + i) + ".25 " + std::to_string(5800000 - i) + " " +
           std::to_string(i % 500) + "\r\n";
  }
  EXPECT_TRUE(job.Run(src));
  const auto lines = test::SplitCrLf(job.Target());
  ASSERT_EQ(lines.size(), 30000u);
  EXPECT_EQ(lines[0], "3500000.75 5799999.5 0");
  EXPECT_EQ(lines[29999], "3529999.75 5770000.5 499");
  EXPECT_EQ(job.fe.eventPasses, 30000);
}

// ------------------------------------------------------------ what stops a run

TEST(AsciiFile, EmptyLineAfterTheLastPointStopsWithIndexError) {
  for (char sign : kSigns) {
    SCOPED_TRACE(sign);
    AsciiJob job(sign);
    EXPECT_FALSE(job.Run("1 2 3\r\n4 5 6\r\n\r\n"));
    EXPECT_EQ(job.Target(), "11 22 4\r\n14 25 7\r\n");
    ExpectLineMessage(job.fe, "Index außerhalb des gültigen Bereichs", 3, "");
  }
  // A single line end after the last point ends the file normally.
  AsciiJob ok(',');
  EXPECT_TRUE(ok.Run("1 2 3\r\n4 5 6\r\n"));
  EXPECT_TRUE(ok.fe.messages.empty());
}

TEST(AsciiFile, LineOfBlanksOrOneNumberStopsWithIndexError) {
  for (const std::string& bad : {std::string("   "), std::string("42"), std::string(" 4.2 ")}) {
    AsciiJob job(',');
    EXPECT_FALSE(job.Run("1 2 3\n" + bad + "\n4 5 6\n"));
    EXPECT_EQ(job.Target(), "11 22 4\r\n");
    ExpectLineMessage(job.fe, "Index außerhalb des gültigen Bereichs", 2, bad);
  }
}

TEST(AsciiFile, UnreadableFieldStopsTheRunAndKeepsEarlierLines) {
  for (char sign : kSigns) {
    SCOPED_TRACE(sign);
    AsciiJob job(sign);
    EXPECT_FALSE(job.Run("1 2 3\r\n4.5 x 6\r\n7 8 9\r\n"));
    EXPECT_EQ(job.Target(), L("11 22 4\r\n", sign));
    ExpectLineMessage(job.fe, "Typen unverträglich", 2, "4.5 x 6");
    EXPECT_EQ(job.fe.eventPasses, 1) << "no line is read after the failing one";
  }
}

TEST(AsciiFile, BadFieldsOfEveryKind) {
  const struct {
    const char* line;
    const char* description;
  } cases[] = {
      {"Rechtswert Hochwert Hoehe", "Typen unverträglich"},  // a header line
      {"# comment", "Typen unverträglich"},
      {"1 2 abc", "Typen unverträglich"},                     // the height is read too
      {"1\t2\t3", "Typen unverträglich"},                     // tabs do not separate
      {"1\t2 3", "Typen unverträglich"},
      {"5.500.000,25 5800000 0", "Typen unverträglich"},     // grouping by points
      {"5,500,000.25 5800000 0", "Typen unverträglich"},     // grouping by commas
      {"1.5.2 3", "Typen unverträglich"},
      {"1e400 2 3", "Überlauf"},
      {"1 2 -1e999", "Überlauf"},
  };
  for (char sign : kSigns) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(1, sign) + " " + c.line);
      AsciiJob job(sign);
      EXPECT_FALSE(job.Run(std::string(c.line) + "\r\n1 2 3\r\n"));
      EXPECT_EQ(job.Target(), "");
      ExpectLineMessage(job.fe, c.description, 1, c.line);
    }
  }
}

TEST(AsciiFile, MissingSourceLeavesNoTarget) {
  AsciiJob job(',');
  job.s.settings.txtQuelldatei = job.dir.File("nicht da.txt");
  job.s.Touch();
  EXPECT_FALSE(TransformAsciiFile(job.s));
  const std::string msg = job.fe.OnlyMessage();
  EXPECT_EQ(msg.rfind("Datei nicht gefunden", 0), 0u) << msg;
  EXPECT_NE(msg.find("nicht da.txt"), std::string::npos) << msg;
  EXPECT_FALSE(FileExists(job.target));
}

TEST(AsciiFile, TargetInMissingFolderIsReportedAndSourceKept) {
  AsciiJob job('.');
  job.s.settings.txtZielDatei = job.dir.File("fehlt/out.txt");
  EXPECT_FALSE(job.Run("1 2 3\r\n"));
  const std::string msg = job.fe.OnlyMessage();
  EXPECT_EQ(msg.rfind("Pfad nicht gefunden", 0), 0u) << msg;
  EXPECT_EQ(ReadBytes(job.source), "1 2 3\r\n");
}

/// Number of file descriptors this process holds.
std::size_t OpenFileCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(AsciiFile, FailingFileOperationsAreAllReported) {
  // Let the n-th file operation fail, for every n until a run gets through:
  // every failure gives exactly one message and a false result, and no
  // file stays open (the target can be removed and the source is intact).
  struct Disarm {
    ~Disarm() { iohook::Disarm(); }
  } disarm;
  std::string src;
  for (int i = 0; i < 9000; ++i) src += "1 2 3\r\n";  // more than one write block
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 100) << "the run never got through";
    AsciiJob job('.');
    WriteBytes(job.source, src);
    job.s.Touch();
    const std::size_t openBefore = OpenFileCount();
    iohook::Arm(n);
    const bool done = TransformAsciiFile(job.s);
    const long ops = iohook::Count();
    iohook::Disarm();
    EXPECT_EQ(OpenFileCount(), openBefore) << "a file was left open";
    if (done) {
      EXPECT_TRUE(job.fe.messages.empty());
      EXPECT_LT(ops, n);
      EXPECT_EQ(test::SplitCrLf(job.Target()).size(), 9000u);
      break;
    }
    ASSERT_EQ(job.fe.messages.size(), 1u);
    EXPECT_NE(job.fe.messages.front().text.find("Datei"), std::string::npos)
        << job.fe.messages.front().text;
    EXPECT_EQ(ReadBytes(job.source), src);
  }
}

// ------------------------------------------------------------ seven-parameter mode

/// GK-Germ on Bessel to Ell on Bessel, zero sets.
void SetUpSevenPar(Session& s) {
  TransformSettings& t = s.settings;
  t.optSevPar = true;
  t.optTranslation = false;
  t.optInGK = true;
  t.optInKrovak = false;
  t.optOutGK = false;
  t.optOutBL = true;
  t.txtEll1a = t.txtEll2a = "6377397.155";
  t.txtEll1e = t.txtEll2e = "0.0816968312225275";
}

TEST(AsciiFile, SevenParameterModeWritesTheInputHeightUnchanged) {
  for (char sign : kSigns) {
    SCOPED_TRACE(sign);
    AsciiJob job(sign);
    SetUpSevenPar(job.s);
    EXPECT_TRUE(job.Run("5500000 5650000 3.50\r\n5500000 5650000\r\n5500000 0 -12,25\r\n"));
    EXPECT_TRUE(job.fe.messages.empty());
    const auto lines = test::SplitCrLf(job.Target());
    ASSERT_EQ(lines.size(), 3u);
    // Longitude 15 exactly on the central meridian; the height is the
    // input's, not the height on ellipsoid 2.
    EXPECT_EQ(lines[0].rfind("15 ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].rfind(' ')), L(" 3,5", sign));
    EXPECT_EQ(lines[1].substr(lines[1].rfind(' ')), " 0");
    EXPECT_EQ(lines[2], L("15 0 -12,25", sign));
  }
}

TEST(AsciiFile, ChainFaultsStopAtTheFirstLine) {
  {
    AsciiJob job(',');
    SetUpSevenPar(job.s);
    job.s.settings.optInGK = false;
    job.s.settings.optINetrs = true;
    job.s.OptionValues[opt::kUTMma] = "0";
    EXPECT_FALSE(job.Run("33500000 5650000 0\r\n33500000 5650000 0\r\n"));
    EXPECT_EQ(job.Target(), "");
    ExpectLineMessage(job.fe, "Division durch Null", 1, "33500000 5650000 0");
  }
  {
    AsciiJob job('.');
    SetUpSevenPar(job.s);
    job.s.OptionValues[opt::kGKBM] = "15 Grad";
    EXPECT_FALSE(job.Run("5500000 5650000 0\r\n"));
    EXPECT_EQ(job.Target(), "");
    ExpectLineMessage(job.fe, "Typen unverträglich", 1, "5500000 5650000 0");
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
