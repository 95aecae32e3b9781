// A catalogue of bad input, by file kind, each case with what the program
// does and the message the user sees. Cases tested elsewhere are listed
// where they live rather than repeated:
//
// ASCII files (test_ascii_file.cpp): UTF-8 byte order mark
//   (Utf8ByteOrderMarkIsSkipped), header and comment lines, tabs, grouping,
//   "1e400" (BadFieldsOfEveryKind), empty lines and lines of blanks
//   (LineOfBlanksOrOneNumberStopsWithIndexError); number texts
//   (test_numtext.cpp: "nan", "inf", hex floats, "-0", overflow, underflow).
// Properties files (test_properties.cpp): fewer than 64 lines
//   (ShortFileFailsAtTheFirstMissingLineAndKeepsWhatWasRead), more than 64
//   (LinesBeyondSixtyFourAreIgnored), malformed values including a missing
//   quote and check-box states out of range (MalformedValuesFailAtTheirLine),
//   #TRUE# in a text line (TextLineForms). Here: the message the user sees
//   for each.
// Shapefiles (test_shapefile_errors.cpp): offsets into the header, beyond the
//   file, negative, of 2 GiB; records too long or too short; negative
//   NumParts and NumPoints, huge NumParts, part starts beyond the points;
//   main file and index shorter than their header, header lengths too large,
//   too small, of 2 GiB, not whole index entries; missing files, names too
//   short; a target index that is a folder.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <filesystem>
#include <string>
#include <vector>

#include "geotra/errors.hpp"
#include "geotra/file_drivers.hpp"
#include "job/frontend.hpp"
#include "job/job_start.hpp"
#include "job/settings.hpp"
#include "paramfiles/paramsets.hpp"
#include "paramfiles/properties.hpp"
#include "shp_fixtures.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

/// The bytes of a literal, NULs included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// ================================================================ ASCII files

/// An ASCII job in translation mode (10, 20, 1) with the decimal comma.
class BadAscii : public ::testing::Test {
 protected:
  void SetUp() override {
    TransformSettings& t = s.settings;
    t.optASCII = true;
    t.optSHP = false;
    t.optSevPar = false;
    t.optTranslation = true;
    t.txtDX = "10";
    t.txtDY = "20";
    t.txtDH = "1";
    t.txtQuelldatei = dir.File("quelle.txt");
    t.txtZielDatei = dir.File("ziel.txt");
  }
  /// Runs on `content`; returns the one message ("" when none).
  std::string Run(const std::string& content, bool expectDone) {
    WriteBytes(s.settings.txtQuelldatei, content);
    s.Touch();
    EXPECT_EQ(TransformAsciiFile(s), expectDone);
    EXPECT_EQ(ReadBytes(s.settings.txtQuelldatei), content) << "source changed";
    EXPECT_LE(fe.messages.size(), 1u);
    return fe.messages.empty() ? std::string() : fe.messages[0].text;
  }
  std::string Target() const { return ReadBytes(s.settings.txtZielDatei); }

  TempFolder dir;
  RecordingFrontEnd fe;
  Session s{fe, ','};
};

/// U+FFFD, which stands in the message for bytes that cannot be shown.
const std::string kR = "\xEF\xBF\xBD";

// A PNG image named as a coordinate file: stops at the first line with the
// conversion error; the line is shown with its binary bytes replaced, the
// target is empty and says so.
TEST_F(BadAscii, BinaryGarbage) {
  std::string png = "\x89PNG\r\n\x1A\n";
  png += Bytes("\0\0\0\rIHDR\0\0\0\x10");
  for (int i = 0; i < 2000; ++i) png += static_cast<char>((i * 37 + 11) % 256);
  const std::string msg = Run(png, false);
  EXPECT_EQ(msg, "Typen unverträglich\r\nZeile 1: " + kR + "PNG\r\nDie Zieldatei ist leer.");
  EXPECT_EQ(Target(), "");
}

// A 10 MB line. Memory stays bounded: a line is kept up to 1 MiB. A point
// followed by 10 MB of further fields is still read (further fields are
// ignored); a 10 MB number is refused with "out of string space".
TEST_F(BadAscii, TenMegabyteLine) {
  const std::string tail(10'000'000, 'x');
  EXPECT_EQ(Run("1 2 3 " + tail + "\r\n4 5 6\r\n", true), "");
  EXPECT_EQ(Target(), "11 22 4\r\n14 25 7\r\n");

  fe.messages.clear();
  const std::string digits(10'000'000, '7');
  const std::string msg = Run("1 2 3\r\n" + digits + " 2 3\r\n", false);
  EXPECT_EQ(msg, "Nicht genügend Zeichenfolgenspeicher: die Zeile ist länger als 1048576 "
                 "Zeichen\r\nZeile 2: " +
                     std::string(200, '7') + "...\r\nDie Zieldatei enthält die Zeile 1.");
  EXPECT_EQ(Target(), "11 22 4\r\n");

  // A height that may go on beyond the kept part cannot be read either.
  fe.messages.clear();
  const std::string msg2 = Run("1 2 " + digits + "\r\n", false);
  EXPECT_EQ(msg2.rfind("Nicht genügend Zeichenfolgenspeicher", 0), 0u) << msg2.substr(0, 100);
}

// NUL bytes are no blanks and no digits: the conversion error, with the
// NUL shown as U+FFFD.
TEST_F(BadAscii, NulBytes) {
  const std::string msg = Run(Bytes("1 2 3\r\n4\0 5 6\r\n"), false);
  EXPECT_EQ(msg, "Typen unverträglich\r\nZeile 2: 4" + kR + " 5 6\r\nDie Zieldatei enthält die Zeile 1.");
  EXPECT_EQ(Target(), "11 22 4\r\n");

  fe.messages.clear();
  const std::string msg2 = Run(std::string(64, '\0'), false);
  EXPECT_EQ(msg2.rfind("Typen unverträglich\r\nZeile 1: " + kR + kR, 0), 0u);
}

// UTF-8 with a byte order mark at the start is read (test_ascii_file.cpp);
// a mark on a later line, as left by joining two files, is no blank and
// fails that line, where the message shows it instead of hiding it.
TEST_F(BadAscii, Utf8ByteOrderMarkInsideTheFile) {
  const std::string msg = Run("1 2 3\r\n\xEF\xBB\xBF" "4 5 6\r\n", false);
  EXPECT_EQ(msg, "Typen unverträglich\r\nZeile 2: " + kR + "4 5 6\r\n"
                 "Die Zieldatei enthält die Zeile 1.");
}

// UTF-16 text (either byte order, with its mark) is refused at once with
// a message that names the encoding.
TEST_F(BadAscii, Utf16WithByteOrderMark) {
  const auto utf16 = [](const std::string& ascii, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char c : ascii) {
      if (littleEndian) {
        out += c, out += '\0';
      } else {
        out += '\0', out += c;
      }
    }
    return out;
  };
  for (const bool le : {true, false}) {
    SCOPED_TRACE(le ? "little endian" : "big endian");
    fe.messages.clear();
    const std::string msg = Run(utf16("1 2 3\r\n4 5 6\r\n", le), false);
    EXPECT_EQ(msg.rfind("Typen unverträglich: die Datei ist in UTF-16 geschrieben; gelesen werden "
                        "ANSI- und UTF-8-Textdateien\r\nZeile 1: ",
                        0),
              0u)
        << msg;
    EXPECT_TRUE(msg.ends_with("\r\nDie Zieldatei ist leer.")) << msg;
    EXPECT_EQ(Target(), "");
  }
}

// Number texts in a coordinate file, each as the first field of line 2.
TEST_F(BadAscii, NumberTexts) {
  const struct {
    const char* field;
    const char* description;  // nullptr: read
    const char* written;      // the first value written for it
  } cases[] = {
      {"1e400", "Überlauf", nullptr},
      {"-1e400", "Überlauf", nullptr},
      {"1e-400", nullptr, "10"},  // below the smallest double: zero
      {"nan", "Typen unverträglich", nullptr},
      {"NaN", "Typen unverträglich", nullptr},
      {"inf", "Typen unverträglich", nullptr},
      {"-Infinity", "Typen unverträglich", nullptr},
      {"-0", nullptr, "10"},
      {"0x1p3", "Typen unverträglich", nullptr},
      {"0x1.8p3", "Typen unverträglich", nullptr},  // becomes 0x1,8p3
      {"1.7976931348623157e308", nullptr, "1,79769313486232e+308"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    fe.messages.clear();
    const std::string line = std::string(c.field) + " 2 3";
    const std::string msg = Run("1 2 3\r\n" + line + "\r\n", c.description == nullptr);
    if (c.description == nullptr) {
      EXPECT_EQ(msg, "");
      EXPECT_EQ(Target(), "11 22 4\r\n" + std::string(c.written) + " 22 4\r\n");
    } else {
      EXPECT_EQ(msg, std::string(c.description) + "\r\nZeile 2: " + line +
                         "\r\nDie Zieldatei enthält die Zeile 1.");
      EXPECT_EQ(Target(), "11 22 4\r\n");
    }
  }
}

// "-0" as a height passes through the seven-parameter chain unchanged and
// is written as "0", never "-0".
TEST_F(BadAscii, MinusZeroHeightIsWrittenAsZero) {
  s.settings.txtDH = "0";
  EXPECT_EQ(Run("1 2 -0\r\n", true), "");
  EXPECT_EQ(Target(), "11 22 0\r\n");
}

// Through the job start: the same message, then the elapsed time.
TEST_F(BadAscii, JobStartShowsTheDriversMessageAndLogsTheTime) {
  WriteBytes(s.settings.txtQuelldatei, "1 2 3\r\nnan 2 3\r\n");
  EXPECT_EQ(RunJob(s), JobOutcome::kFailed);
  EXPECT_EQ(fe.OnlyMessage(),
            "Typen unverträglich\r\nZeile 2: nan 2 3\r\nDie Zieldatei enthält die Zeile 1.");
  EXPECT_EQ(s.settings.txtDateien.rfind("vergangene Zeit in s ", 0), 0u);
}

// ================================================================ properties files

class BadProperties : public ::testing::Test {
 protected:
  /// The 64 lines of a valid file of the start-up settings.
  std::vector<std::string> Lines() {
    TransformSettings st;
    const std::string path = dir.File("gut.par");
    SaveProperties(path, st, DefaultOptionValues(','));
    return SplitCrLf(ReadBytes(path));
  }
  static std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
  }
  /// Loads `content`; returns the message the user sees ("" on success).
  std::string Load(const std::string& content) {
    const std::string path = dir.File("test.par");
    WriteBytes(path, content);
    try {
      LoadProperties(path, settings, dialog);
    } catch (const PropertiesError& e) {
      return PropertiesErrorMessage(e.number(), false);
    }
    return "";
  }

  TempFolder dir;
  TransformSettings settings;
  OptionTable dialog = DefaultOptionValues(',');
};

TEST_F(BadProperties, MessagesTheUserSees) {
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 64u);

  // 63 lines: the end of the file before line 64.
  EXPECT_EQ(Load(Join({lines.begin(), lines.end() - 1})), "62   Fehler Beim Laden der Parameter Datei");
  // 65 lines: the extra line is never read.
  std::vector<std::string> more = lines;
  more.push_back("\"überzählig");
  EXPECT_EQ(Load(Join(more)), "");
  // A missing closing quote in a text line.
  std::vector<std::string> quote = lines;
  quote[20] = "\"Bessel 1841";
  EXPECT_EQ(Load(Join(quote)), "13   Fehler Beim Laden der Parameter Datei");
  // #TRUE# in a text line is the text "#TRUE#".
  std::vector<std::string> token = lines;
  token[18] = "#TRUE#";
  EXPECT_EQ(Load(Join(token)), "");
  EXPECT_EQ(settings.txtEll1a, "#TRUE#");
  // A check box holding 3: no state of a check box.
  std::vector<std::string> check = lines;
  check[53] = "3";
  EXPECT_EQ(Load(Join(check)), "380   Fehler Beim Laden der Parameter Datei");
}

// A line of 2 MB is refused where it stands (error 14) instead of being
// held; the lines before it are loaded.
TEST_F(BadProperties, OverlongLine) {
  std::vector<std::string> lines = Lines();
  lines[20] = "\"" + std::string(2'000'000, 'a') + "\"";
  const std::string path = dir.File("lang.par");
  WriteBytes(path, Join(lines));
  settings.txtEll1a = "vorher";
  try {
    LoadProperties(path, settings, dialog);
    FAIL() << "loaded";
  } catch (const PropertiesError& e) {
    EXPECT_EQ(e.number(), 14);
    EXPECT_EQ(e.line(), 21);
    EXPECT_EQ(PropertiesErrorMessage(e.number(), false),
              "14   Fehler Beim Laden der Parameter Datei");
    EXPECT_NE(std::string(e.what()).find("länger als 1048576 Zeichen"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(settings.txtEll1a, "0");  // line 19 was assigned
}

// Binary garbage and UTF-16 are no properties files: the first line is not
// a truth value.
TEST_F(BadProperties, BinaryAndUtf16) {
  EXPECT_EQ(Load(Bytes("\x89PNG\r\n\x1A\n\0\0")), "13   Fehler Beim Laden der Parameter Datei");
  EXPECT_EQ(Load(Bytes("\xFF\xFE#\0T\0R\0U\0E\0#\0\r\0\n\0")),
            "13   Fehler Beim Laden der Parameter Datei");
}

// An ellipsoid or parameter file of garbage or with an overlong line loads
// nothing, silently.
TEST(BadParameterFiles, GarbageAndOverlongLinesLoadNothing) {
  TempFolder dir;
  const std::string path = dir.File("x.ell");
  for (const std::string& content :
       {Bytes("\x89PNG\r\n\x1A\n\0\0\0"), "\"" + std::string(2'000'000, 'n') + "\",1,2",
        Bytes("\xFF\xFE\"\0B\0\"\0,\0001\0,\0002\0"), std::string("Bessel,nan,inf"),
        std::string("Bessel,0x1p3,0.08")}) {
    WriteBytes(path, content);
    TransformSettings s;
    EXPECT_FALSE(LoadEllipsoidFile(path, s, 1, ','));
    EXPECT_EQ(s.txtEll1a, "0");
    EXPECT_EQ(s.txtBezEll1, "0");
  }
}

// ================================================================ shapefiles

class BadShapefile : public ShapefileFixture {
 protected:
  void Write(const Files& f) {
    WriteBytes(srcStem + ".shp", f.shp);
    WriteBytes(srcStem + ".shx", f.shx);
  }
  /// Runs and expects one message starting with `start`, no target left,
  /// the source unchanged.
  void ExpectRefused(const std::string& start) {
    const Files before = Take(srcStem);
    fe.messages.clear();
    EXPECT_FALSE(TransformShapeFile(session));
    ASSERT_EQ(fe.messages.size(), 1u);
    EXPECT_EQ(fe.messages[0].text.rfind(start, 0), 0u) << fe.messages[0].text;
    EXPECT_TRUE(TargetsGone());
    EXPECT_TRUE(Take(srcStem) == before);
  }
  static std::size_t Record(const Files& f, int i) {
    return 2 * static_cast<std::size_t>(BigEndianAt(f.shx, 100 + 8 * (i - 1)));
  }
};

// Main file or index cut at every field of the header (file code, the five
// reserved words, length, version, shape type, box, Z and M ranges).
TEST_F(BadShapefile, TruncatedAtEveryHeaderField) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  const Files good = Take(srcStem);
  for (const std::size_t cut : {0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 44, 52, 60, 68, 76, 84, 92, 99}) {
    for (const bool index : {false, true}) {
      SCOPED_TRACE((index ? "shx cut at " : "shp cut at ") + std::to_string(cut));
      Files f = good;
      (index ? f.shx : f.shp).resize(cut);
      Write(f);
      ExpectRefused("Die Datei " + srcStem + (index ? ".shx" : ".shp") +
                    "\r\nist beschädigt: sie ist mit " + std::to_string(cut) +
                    " Byte kürzer als der Dateikopf (100 Byte)");
    }
  }
}

// Cut after the header, inside the records: the header's length no longer
// fits the file.
TEST_F(BadShapefile, TruncatedInsideTheRecords) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  const Files good = Take(srcStem);
  for (const std::size_t cut : {100ul, 104ul, 150ul, good.shp.size() - 1}) {
    SCOPED_TRACE(cut);
    Files f = good;
    f.shp.resize(cut);
    Write(f);
    ExpectRefused("Die Datei " + srcStem + ".shp\r\nist beschädigt: die Dateilänge im Dateikopf (" +
                  std::to_string(good.shp.size()) + " Byte) ist größer als die Datei (" +
                  std::to_string(cut) + " Byte)");
  }
}

// An index whose header claims more entries than the file holds.
TEST_F(BadShapefile, IndexLongerThanItsFile) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  Files f = Take(srcStem);
  PutBigEndian(f.shx, 24, static_cast<std::int32_t>(f.shx.size() / 2 + 4 * 10));
  Write(f);
  ExpectRefused("Die Datei " + srcStem + ".shx\r\nist beschädigt: die Dateilänge im Dateikopf (" +
                std::to_string(f.shx.size() + 80) + " Byte) ist größer als die Datei (" +
                std::to_string(f.shx.size()) + " Byte)");
}

// An index with more entries than the main file has records: the extra
// entry points beyond the main file.
TEST_F(BadShapefile, IndexWithMoreEntriesThanRecords) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  Files f = Take(srcStem);
  f.shx += f.shx.substr(f.shx.size() - 8);  // the last entry once more ...
  PutBigEndian(f.shx, f.shx.size() - 8, static_cast<std::int32_t>(f.shp.size() / 2));  // ... at the end
  PutBigEndian(f.shx, 24, static_cast<std::int32_t>(f.shx.size() / 2));
  Write(f);
  ExpectRefused("Die Datei " + srcStem + ".shx\r\nist beschädigt: Record 7 liegt laut Index bei Byte " +
                std::to_string(f.shp.size()) + ", außerhalb der Datei " + srcStem + ".shp");
}

// Every index offset pointing into the header, at each of its fields.
TEST_F(BadShapefile, OffsetsIntoTheHeader) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  for (const std::int32_t words : {0, 2, 12, 18, 49}) {
    SCOPED_TRACE(words);
    Files f = Take(srcStem);
    PutBigEndian(f.shx, 100, words);
    Write(f);
    ExpectRefused("Die Datei " + srcStem + ".shx\r\nist beschädigt: Record 1 liegt laut Index bei Byte " +
                  std::to_string(2 * words) + ", im Dateikopf der Datei " + srcStem + ".shp");
  }
}

// NumPoints of 2^31 - 1 in a PolyLine record: the points would lie far
// beyond the record; refused before anything is read or allocated.
TEST_F(BadShapefile, HugeNumPoints) {
  WriteShapefile(srcStem, SHPT_ARC, PolyLineShapes());
  Files f = Take(srcStem);
  PutLittleEndian(f.shp, Record(f, 3) + 48, 0x7FFFFFFF);
  Write(f);
  ExpectRefused("Die Datei " + srcStem + ".shp\r\nist beschädigt: Record 3 (Byte " +
                std::to_string(Record(f, 3)) +
                "): NumParts 1 und NumPoints 2147483647 passen nicht in den Record (" +
                std::to_string(8 + 2 * BigEndianAt(f.shp, Record(f, 3) + 4)) + " Byte)");
}

// Negative counts in a PolyLine file (the polygon cases live in
// test_shapefile_errors.cpp).
TEST_F(BadShapefile, NegativeCountsInAPolyLine) {
  WriteShapefile(srcStem, SHPT_ARC, PolyLineShapes());
  for (const int field : {44, 48}) {
    SCOPED_TRACE(field);
    Files f = Take(srcStem);
    PutLittleEndian(f.shp, Record(f, 1) + field, -2147483647 - 1);
    Write(f);
    ExpectRefused("Die Datei " + srcStem + ".shp\r\nist beschädigt: Record 1 (Byte 100): negative Anzahl");
  }
}

// Part start indices out of order (or repeated) are not the driver's to
// judge: it copies them unchanged and transforms every vertex, as it does
// for any record; no message.
TEST_F(BadShapefile, PartIndicesOutOfOrderAreCopiedUnchanged) {
  WriteShapefile(srcStem, SHPT_ARC, PolyLineShapes());
  Files f = Take(srcStem);
  const std::size_t parts = Record(f, 1) + 52;  // 3 parts: 0, 2, 5
  PutLittleEndian(f.shp, parts, 5);
  PutLittleEndian(f.shp, parts + 4, 0);
  PutLittleEndian(f.shp, parts + 8, 5);
  Write(f);
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  const std::string out = ReadBytes(dstStem + ".shp");
  EXPECT_EQ(out.substr(parts, 12), f.shp.substr(parts, 12));
  Oracle oracle(session);
  double x = 0, y = 0;
  std::memcpy(&x, out.data() + parts + 12, 8);
  std::memcpy(&y, out.data() + parts + 20, 8);
  EXPECT_EQ(Vertex(x, y), oracle(kCentreE, kCentreN));
}

// Shape type 0 in the header of a file with records: not a supported type;
// the message comes once and no target remains. Without records the file is
// copied with its header box and no message.
TEST_F(BadShapefile, ShapeTypeZeroInTheHeader) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  Files f = Take(srcStem);
  PutLittleEndian(f.shp, 32, 0);
  Write(f);
  EXPECT_FALSE(TransformShapeFile(session));
  ASSERT_EQ(fe.messages.size(), 1u);
  EXPECT_EQ(fe.messages[0].text, "Shapetyp 0 wird nicht unterstützt");
  EXPECT_EQ(fe.messages[0].title, "");
  EXPECT_TRUE(TargetsGone());

  fe.messages.clear();
  WriteShapefile(srcStem, SHPT_POINT, {});
  f = Take(srcStem);
  PutLittleEndian(f.shp, 32, 0);
  Write(f);
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  EXPECT_EQ(ReadBytes(dstStem + ".shp").size(), 100u);
}

// A record whose own shape type has another layout than the file's: read
// with the file's layout it would come out half transformed (a polyline's
// box corner taken for a point, its vertices copied), so it is refused.
// PolyLine and Polygon records share their layout and pass in either file.
TEST_F(BadShapefile, RecordOfAnotherShapeType) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  WriteShapefile(dstStem, SHPT_ARC, PolyLineShapes());
  Files f = Take(srcStem);
  const Files lines = Take(dstStem);
  fs::remove(dstStem + ".shp"), fs::remove(dstStem + ".shx"), fs::remove(dstStem + ".dbf");
  // Record 2 of the point file becomes the first polyline record.
  const std::size_t r = Record(f, 2);
  const std::size_t polyLine = Record(lines, 1);
  const std::size_t length = 8 + 2 * static_cast<std::size_t>(BigEndianAt(lines.shp, polyLine + 4));
  const std::size_t tail = r + 28;
  f.shp = f.shp.substr(0, r + 4) + lines.shp.substr(polyLine + 4, length - 4) + f.shp.substr(tail);
  const auto grow = static_cast<std::int32_t>((length - 28) / 2);
  PutBigEndian(f.shp, 24, BigEndianAt(f.shp, 24) + grow);
  for (int i = 3; i <= 6; ++i) {
    PutBigEndian(f.shx, 100 + 8 * (i - 1), BigEndianAt(f.shx, 100 + 8 * (i - 1)) + grow);
  }
  PutBigEndian(f.shx, 100 + 8 * 1 + 4, static_cast<std::int32_t>((length - 8) / 2));
  Write(f);
  ASSERT_TRUE(ReadShapefile(srcStem).ok) << "shapelib reads the mixed file";
  ExpectRefused("Die Datei " + srcStem + ".shp\r\nist beschädigt: Record 2 (Byte " +
                std::to_string(r) + "): der Record hat den Shapetyp 3, die Datei den Shapetyp 1");

  // A PolyLine record in a Polygon file (and the reverse) is transformed.
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  f = Take(srcStem);
  PutLittleEndian(f.shp, Record(f, 1) + 8, SHPT_ARC);
  Write(f);
  fe.messages.clear();
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dstStem, session);
}

// A source attribute table that is a folder: refused before any target is
// made.
TEST_F(BadShapefile, SourceAttributeTableIsAFolder) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  fs::remove(srcStem + ".dbf");
  fs::create_directory(srcStem + ".dbf");
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.OnlyMessage(), "Die Datei " + srcStem + ".dbf\r\nist keine Datei, sondern ein Ordner");
  EXPECT_TRUE(TargetsGone());
  EXPECT_TRUE(fs::is_directory(srcStem + ".dbf"));
}

// A target attribute table that is a folder, even an empty one, is never
// replaced or deleted; the run stops before it writes anything.
TEST_F(BadShapefile, TargetAttributeTableIsAFolder) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  fs::create_directory(dstStem + ".dbf");
  fe.answers = {true};
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.OnlyMessage(), "Die Datei " + dstStem + ".dbf\r\nist keine Datei, sondern ein Ordner");
  EXPECT_TRUE(fe.questions.empty()) << "asked to overwrite a folder";
  EXPECT_TRUE(fs::is_directory(dstStem + ".dbf"));
  EXPECT_FALSE(fs::exists(dstStem + ".shp"));
  EXPECT_FALSE(fs::exists(dstStem + ".shx"));
}

}  // namespace
}  // namespace pelmo::test
