// A catalogue of bad input, by file kind, each case with what the program
// does and the message the user sees. Cases tested elsewhere are listed
// where they live rather than repeated:
//
// ASCII files (test_ascii_file.cpp): a UTF-8 byte order mark at the start
//   (GoodLinesAreShiftedAndWrittenInTheLocalSpelling); header lines, tabs,
//   grouping, "1e400", empty lines and lines of blanks
//   (BadLineStopsTheRunAndKeepsTheLinesBeforeIt). Number texts
//   (test_numtext.cpp): "nan", "inf", hex floats (RejectsEverythingElseAsTypeMismatch),
//   "-0" (ReadsSignsExponentsAndBothDecimalSigns), overflow and underflow
//   (BeyondTheDoubleRangeIsOverflowAndBelowItIsZero).
// Properties files (test_properties.cpp): fewer than 64 lines
//   (ShortFileFailsAtTheFirstMissingLineAndKeepsWhatWasRead), more than 64
//   (LinesBeyondSixtyFourAreIgnored), malformed values including a missing
//   quote and check-box states out of range (MalformedValuesFailAtTheirLine),
//   #TRUE# in a text line (TextLineForms). Here: the message the user sees
//   for each.
// Shapefiles: missing files, names too short, targets that cannot be
//   written (test_shapefile_errors.cpp); every file operation refused in
//   turn (test_fault_injection.cpp).
#include <gtest/gtest.h>
#include <shapefil.h>

#include <array>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/frontend.hpp"
#include "core/settings.hpp"
#include "formats/drivers.hpp"
#include "job/job_start.hpp"
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
  void SetUp() override { UseAsciiTranslation(s, dir.File("quelle.txt"), dir.File("ziel.txt")); }

  TempFolder dir;
  RecordingFrontEnd fe;
  Session s{fe, ','};
};

/// U+FFFD, which stands in the message for bytes that cannot be shown.
const std::string kR = "\xEF\xBF\xBD";

std::string Utf16(const std::string& ascii, bool littleEndian) {
  std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char c : ascii) out += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
  return out;
}

// Each case: the source, whether the run succeeds, the message (exactly, or
// its start and end when `end` is set) and the target left behind.
TEST_F(BadAscii, Catalogue) {
  struct Case {
    std::string name, content;
    bool done;
    std::string message, end, target;
  };
  std::string png = "\x89PNG\r\n\x1A\n" + Bytes("\0\0\0\rIHDR\0\0\0\x10");
  for (int i = 0; i < 2000; ++i) png += static_cast<char>((i * 37 + 11) % 256);
  const std::string tenMB(10'000'000, 'x'), digits(10'000'000, '7');
  const std::string empty = "\r\nDie Zieldatei ist leer.";
  const std::string one = "\r\nDie Zieldatei enthält die Zeile 1.";
  // The second line of a field that is no number.
  const auto col = [](const std::string& field, bool tooLarge = false) {
    return "Spalte 1 (erster Wert): " + field + (tooLarge ? " ist zu groß für eine Zahl" : " ist keine Zahl");
  };
  const std::string utf16 =
      "Typen unverträglich: die Datei ist in UTF-16 geschrieben; gelesen werden ANSI- und "
      "UTF-8-Textdateien\r\nZeile 1: ";
  std::vector<Case> cases = {
      // A PNG image: stops at the first line, shown with its binary bytes
      // replaced; the target is empty and says so.
      {"binary garbage", png, false, "Typen unverträglich\r\n" + col("\"" + kR + "PNG\"") +
       "\r\nZeile 1: " + kR + "PNG" + empty, "",
       ""},
      // Memory stays bounded: a line is kept up to 1 MiB. A point followed
      // by 10 MB of further fields is read (further fields are ignored); a
      // 10 MB number is refused, and so is a height that may go on beyond
      // the kept part.
      {"10 MB of further fields", "1 2 3 " + tenMB + "\r\n4 5 6\r\n", true, "", "",
       "11 22 4\r\n14 25 7\r\n"},
      {"10 MB number", "1 2 3\r\n" + digits + " 2 3\r\n", false,
       "Nicht genügend Zeichenfolgenspeicher: die Zeile ist länger als 1048576 Zeichen\r\n"
       "Zeile 2: " + std::string(200, '7') + "..." + one, "", "11 22 4\r\n"},
      {"10 MB height", "1 2 " + digits + "\r\n", false, "Nicht genügend Zeichenfolgenspeicher",
       empty, ""},
      // NUL bytes are no blanks and no digits.
      {"NUL in a number", Bytes("1 2 3\r\n4\0 5 6\r\n"), false,
       "Typen unverträglich\r\n" + col("\"4" + kR + "\"") + "\r\nZeile 2: 4" + kR + " 5 6" + one, "",
       "11 22 4\r\n"},
      {"NUL bytes only", std::string(64, '\0'), false, "Typen unverträglich\r\nSpalte 1 (erster Wert): \"" + kR + kR,
       empty, ""},
      // A mark on a later line, as left by joining two files, is no blank;
      // the message shows it instead of hiding it.
      {"UTF-8 byte order mark on line 2", "1 2 3\r\n\xEF\xBB\xBF" "4 5 6\r\n", false,
       "Typen unverträglich\r\n" + col("\"" + kR + "4\"") + "\r\nZeile 2: " + kR + "4 5 6" + one, "",
       "11 22 4\r\n"},
      // UTF-16 (either byte order, with its mark) is refused at once.
      {"UTF-16 little endian", Utf16("1 2 3\r\n4 5 6\r\n", true), false, utf16, empty, ""},
      {"UTF-16 big endian", Utf16("1 2 3\r\n4 5 6\r\n", false), false, utf16, empty, ""},
  };
  // Number texts as the first field of line 2: the error, or the first
  // value written for it.
  for (const auto& [field, error, written] : std::vector<std::array<std::string, 3>>{
           {"-1e400", "Überlauf", ""},
           {"1e-400", "", "10"},  // below the smallest double: zero
           {"nan", "Typen unverträglich", ""},
           {"-Infinity", "Typen unverträglich", ""},
           {"-0", "", "10"},
           {"0x1.8p3", "Typen unverträglich", ""},  // becomes 0x1,8p3
           {"1.7976931348623157e308", "", "1,79769313486232e+308"}}) {
    const std::string line = field + " 2 3";
    cases.push_back({field, "1 2 3\r\n" + line + "\r\n", error.empty(),
                     error.empty() ? "" : error + "\r\n" + col("\"" + field + "\"", error == "Überlauf")
                                                    + "\r\nZeile 2: " + line + one, "",
                     "11 22 4\r\n" + (error.empty() ? written + " 22 4\r\n" : "")});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fe.messages.clear();
    WriteBytes(s.settings.txtQuelldatei, c.content);
    EXPECT_EQ(TransformAsciiFile(s), c.done);
    EXPECT_EQ(ReadBytes(s.settings.txtQuelldatei), c.content) << "source changed";
    ASSERT_EQ(fe.messages.size(), c.done ? 0u : 1u);
    const std::string msg = c.done ? "" : fe.messages[0].text;
    if (c.end.empty()) {
      EXPECT_EQ(msg, c.message);
    } else {
      EXPECT_EQ(msg.rfind(c.message, 0), 0u) << msg.substr(0, 300);
      EXPECT_TRUE(msg.ends_with(c.end)) << msg.substr(0, 300);
    }
    EXPECT_EQ(ReadBytes(s.settings.txtZielDatei), c.target);
  }
}

// Through the job start: the same message, then the elapsed time.
TEST_F(BadAscii, JobStartShowsTheDriversMessageAndLogsTheTime) {
  WriteBytes(s.settings.txtQuelldatei, "1 2 3\r\nnan 2 3\r\n");
  EXPECT_EQ(RunJob(s), JobOutcome::kFailed);
  EXPECT_EQ(fe.OnlyMessage(),
            "Typen unverträglich\r\nSpalte 1 (erster Wert): \"nan\" ist keine Zahl\r\n"
            "Zeile 2: nan 2 3\r\nDie Zieldatei enthält die Zeile 1.");
  EXPECT_EQ(s.settings.txtDateien.rfind("vergangene Zeit in s ", 0), 0u);
}

// ================================================================ properties files

TEST(BadProperties, MessagesTheUserSees) {
  TempFolder dir;
  const std::string path = dir.File("test.par");
  TransformSettings settings;
  OptionTable dialog = DefaultOptionValues(',');
  SaveProperties(path, settings, dialog);
  const std::vector<std::string> lines = SplitCrLf(ReadBytes(path));
  ASSERT_EQ(lines.size(), 64u);
  const auto with = [&](std::size_t index, const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i == index ? text : lines[i]) + "\r\n";
    return out;
  };
  long line = 0;
  std::string what;
  // Loads `content`; returns the message the user sees ("" on success).
  const auto load = [&](const std::string& content) -> std::string {
    WriteBytes(path, content);
    try {
      LoadProperties(path, settings, dialog);
    } catch (const PropertiesError& e) {
      line = e.line();
      what = e.what();
      return PropertiesErrorMessage(e.number(), false);
    }
    return "";
  };
  const std::string all = with(99, "");
  // 63 lines: the end of the file before line 64.
  EXPECT_EQ(load(all.substr(0, all.size() - lines[63].size() - 2)),
            "62   Fehler Beim Laden der Parameter Datei");
  // 65 lines: the extra line is never read.
  EXPECT_EQ(load(all + "\"überzählig\r\n"), "");
  // A missing closing quote in a text line.
  EXPECT_EQ(load(with(20, "\"Bessel 1841")), "13   Fehler Beim Laden der Parameter Datei");
  // #TRUE# in a text line is the text "#TRUE#".
  EXPECT_EQ(load(with(18, "#TRUE#")), "");
  EXPECT_EQ(settings.txtEll1a, "#TRUE#");
  // A check box holding 3: no state of a check box.
  EXPECT_EQ(load(with(53, "3")), "380   Fehler Beim Laden der Parameter Datei");
  // Binary garbage and UTF-16: the first line is not a truth value.
  EXPECT_EQ(load(Bytes("\x89PNG\r\n\x1A\n\0\0")), "13   Fehler Beim Laden der Parameter Datei");
  EXPECT_EQ(load(Bytes("\xFF\xFE#\0T\0R\0U\0E\0#\0\r\0\n\0")),
            "13   Fehler Beim Laden der Parameter Datei");
  // A line of 2 MB is refused where it stands instead of being held; the
  // lines before it are loaded.
  settings.txtEll1a = "vorher";
  EXPECT_EQ(load(with(20, "\"" + std::string(2'000'000, 'a') + "\"")),
            "14   Fehler Beim Laden der Parameter Datei");
  EXPECT_EQ(line, 21);
  EXPECT_NE(what.find("länger als 1048576 Zeichen"), std::string::npos) << what;
  EXPECT_EQ(settings.txtEll1a, "0");  // line 19 was assigned
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
  /// Runs on the damaged source `f` and expects the refusal: one message
  /// (title Pelmo, no icon), "Die Datei <source>.<ext>" and `text`; no
  /// target left, the source unchanged.
  void ExpectRefused(const Files& f, const std::string& ext, const std::string& text) {
    WriteSource(f);
    fe = ShapeFrontEnd();
    EXPECT_FALSE(TransformShapeFile(session));
    ASSERT_EQ(fe.messages.size(), 1u);
    const ShownBox& m = fe.messages[0];
    EXPECT_EQ(m.title, "Pelmo");
    EXPECT_EQ(m.icon, MsgIcon::kNone);
    EXPECT_EQ(m.text.rfind("Die Datei " + srcStem + "." + ext + "\r\n" + text, 0), 0u) << m.text;
    EXPECT_TRUE(TargetsGone());
    EXPECT_TRUE(Take(srcStem) == f) << "source changed";
    EXPECT_EQ(fe.progressClosed, 1);
  }
  /// The start of the message about record `i` of `f`.
  static std::string RecordText(const Files& f, int i) {
    return "ist beschädigt: Record " + std::to_string(i) + " (Byte " +
           std::to_string(Record(f, i)) + "): ";
  }
  static std::string Num(std::size_t n) { return std::to_string(n); }
};

// Main file or index cut at every field of the header (file code, the five
// reserved words, length, version, shape type, box, Z and M ranges).
TEST_F(BadShapefile, TruncatedAtEveryHeaderField) {
  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  const Files good = Take(srcStem);
  for (const int cut : {0, 4, 8, 12, 16, 20, 24, 28, 32, 36, 44, 52, 60, 68, 76, 84, 92, 99}) {
    for (const bool index : {false, true}) {
      SCOPED_TRACE((index ? "shx cut at " : "shp cut at ") + std::to_string(cut));
      Files f = good;
      (index ? f.shx : f.shp).resize(static_cast<std::size_t>(cut));
      ExpectRefused(f, index ? "shx" : "shp",
                    "ist beschädigt: sie ist mit " + std::to_string(cut) +
                        " Byte kürzer als der Dateikopf (100 Byte)");
    }
  }
}

// Damaged headers, index entries, records and counts, each refused before
// anything of the damage is read or allocated. `damage` returns the message
// after its first line.
TEST_F(BadShapefile, DamagedFields) {
  const std::string shp = srcStem + ".shp";
  const struct {
    const char* name;
    int type;
    const char* ext;  // of the file the message names
    std::function<std::string(Files&)> damage;
  } cases[] = {
      {"main file cut in its last record", SHPT_POLYGON, "shp", [](Files& f) {
         f.shp.pop_back();
         return "ist beschädigt: die Dateilänge im Dateikopf (" + Num(f.shp.size() + 1) +
                " Byte) ist größer als die Datei (" + Num(f.shp.size()) + " Byte)"; }},
      {"index longer than its file", SHPT_POINT, "shx", [](Files& f) {
         PutBigEndian(f.shx, 24, static_cast<std::int32_t>(f.shx.size() / 2 + 40));
         return "ist beschädigt: die Dateilänge im Dateikopf (" + Num(f.shx.size() + 80) +
                " Byte) ist größer als die Datei (" + Num(f.shx.size()) + " Byte)"; }},
      {"index length below its header", SHPT_POLYGON, "shx", [](Files& f) {
         PutBigEndian(f.shx, 24, 10);
         return std::string("ist beschädigt: die Dateilänge im Dateikopf (20 Byte) ist kleiner "
                            "als der Dateikopf (100 Byte)"); }},
      {"main file length of 2 GiB", SHPT_POLYGON, "shp", [](Files& f) {
         PutBigEndian(f.shp, 24, 0x40000000);
         return std::string("ist laut Dateikopf 2147483648 Byte lang: Dateien ab 2 GiB werden "
                            "nicht unterstützt"); }},
      {"index length not whole entries", SHPT_POLYGON, "shx", [](Files& f) {
         f.shx += std::string(4, '\0');
         PutBigEndian(f.shx, 24, static_cast<std::int32_t>(f.shx.size() / 2));
         return "ist beschädigt: die Dateilänge im Dateikopf (" + Num(f.shx.size()) +
                " Byte) ergibt keine ganze Zahl von Indexeinträgen"; }},
      {"index with more entries than records", SHPT_POINT, "shx", [&](Files& f) {
         f.shx += f.shx.substr(f.shx.size() - 8);  // the last entry once more, at the end
         PutBigEndian(f.shx, f.shx.size() - 8, static_cast<std::int32_t>(f.shp.size() / 2));
         PutBigEndian(f.shx, 24, static_cast<std::int32_t>(f.shx.size() / 2));
         return "ist beschädigt: Record 7 liegt laut Index bei Byte " + Num(f.shp.size()) +
                ", außerhalb der Datei " + shp; }},
      {"offset into the header", SHPT_POLYGON, "shx", [&](Files& f) {
         PutBigEndian(f.shx, 108, 49);
         return "ist beschädigt: Record 2 liegt laut Index bei Byte 98, im Dateikopf der Datei " +
                shp; }},
      {"negative offset", SHPT_POLYGON, "shx", [](Files& f) {
         PutBigEndian(f.shx, 116, -5);
         return std::string("ist beschädigt: der Indexeintrag von Record 3 enthält die ungültige "
                            "Position -5"); }},
      {"offset of 2 GiB", SHPT_POLYGON, "shx", [](Files& f) {
         PutBigEndian(f.shx, 124, 0x40000000);
         return std::string("verweist mit Record 4 auf Byte 2147483648: Dateien ab 2 GiB werden "
                            "nicht unterstützt"); }},
      {"record beyond the end of the file", SHPT_POLYGON, "shp", [](Files& f) {
         PutBigEndian(f.shp, Record(f, 4) + 4, 100000);
         return RecordText(f, 4) + "der Record ist laut Recordkopf 200008 Byte lang und reicht " +
                "über das Dateiende (" + Num(f.shp.size()) + " Byte) hinaus"; }},
      {"record too short for a shape type", SHPT_POLYGON, "shp", [](Files& f) {
         PutBigEndian(f.shp, Record(f, 2) + 4, 0);
         return RecordText(f, 2) + "der Record ist mit 8 Byte zu kurz für einen Shapetyp"; }},
      {"polygon record too short", SHPT_POLYGON, "shp", [](Files& f) {
         PutBigEndian(f.shp, Record(f, 4) + 4, 10);
         return RecordText(f, 4) + "der Record ist mit 28 Byte zu kurz für eine Linie oder " +
                "Fläche (mindestens 52 Byte)"; }},
      {"point record too short", SHPT_POINT, "shp", [](Files& f) {
         PutBigEndian(f.shp, Record(f, 4) + 4, 2);
         return RecordText(f, 4) + "der Record ist mit 12 Byte zu kurz für einen Punkt " +
                "(28 Byte)"; }},
      {"negative NumParts", SHPT_ARC, "shp", [](Files& f) {
         PutLittleEndian(f.shp, Record(f, 1) + 44, INT_MIN);
         return RecordText(f, 1) + "negative Anzahl: NumParts -2147483648, NumPoints 7"; }},
      {"negative NumPoints", SHPT_POLYGON, "shp", [](Files& f) {
         PutLittleEndian(f.shp, Record(f, 1) + 48, -7);
         return RecordText(f, 1) + "negative Anzahl: NumParts 2, NumPoints -7"; }},
      {"huge NumParts", SHPT_POLYGON, "shp", [](Files& f) {
         PutLittleEndian(f.shp, Record(f, 4) + 44, INT_MAX);
         return RecordText(f, 4) + "NumParts 2147483647 und NumPoints 19 passen nicht in den " +
                "Record (" + Num(8 + 2 * BigEndianAt(f.shp, Record(f, 4) + 4)) + " Byte)"; }},
      {"huge NumPoints", SHPT_ARC, "shp", [](Files& f) {
         PutLittleEndian(f.shp, Record(f, 3) + 48, INT_MAX);
         return RecordText(f, 3) + "NumParts 1 und NumPoints 2147483647 passen nicht in den " +
                "Record (" + Num(8 + 2 * BigEndianAt(f.shp, Record(f, 3) + 4)) + " Byte)"; }},
      {"part start beyond the points", SHPT_POLYGON, "shp", [](Files& f) {
         PutLittleEndian(f.shp, Record(f, 4) + 56, 500);
         return RecordText(f, 4) + "Teil 2 beginnt bei Punkt 500, der Record hat aber 19 " +
                "Punkte"; }},
      // The layouts with Z, M and part types: counts that do not fit, records
      // too short, a record of another layout.
      {"PolyLineZ: Z values beyond the record", SHPT_ARCZ, "shp", [](Files& f) {
         PutLittleEndian(f.shp, Record(f, 3) + 48, 3);
         return RecordText(f, 3) + "NumParts 1 und NumPoints 3 passen nicht in den Record (" +
                Num(8 + 2 * BigEndianAt(f.shp, Record(f, 3) + 4)) + " Byte)"; }},
      {"MultiPointM: huge NumPoints", SHPT_MULTIPOINTM, "shp", [](Files& f) {
         PutLittleEndian(f.shp, Record(f, 1) + 44, INT_MAX);
         return RecordText(f, 1) + "NumPoints 2147483647 passt nicht in den Record (" +
                Num(8 + 2 * BigEndianAt(f.shp, Record(f, 1) + 4)) + " Byte)"; }},
      {"PointZ record too short", SHPT_POINTZ, "shp", [](Files& f) {
         PutBigEndian(f.shp, Record(f, 2) + 4, 10);
         return RecordText(f, 2) + "der Record ist mit 28 Byte zu kurz für einen Punkt mit " +
                "Z-Wert (36 Byte)"; }},
      {"MultiPatch record too short", SHPT_MULTIPATCH, "shp", [](Files& f) {
         PutBigEndian(f.shp, Record(f, 1) + 4, 20);
         return RecordText(f, 1) + "der Record ist mit 48 Byte zu kurz für ein Multipatch " +
                "(mindestens 52 Byte)"; }},
      {"PolyLineM record in a PolyLine file", SHPT_ARC, "shp", [](Files& f) {
         PutLittleEndian(f.shp, Record(f, 3) + 8, SHPT_ARCM);
         return RecordText(f, 3) + "der Record hat den Shapetyp 23, die Datei den Shapetyp 3"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteShapefile(srcStem, c.type, ShapesOf(c.type));
    Files f = Take(srcStem);
    const std::string text = c.damage(f);
    ExpectRefused(f, c.ext, text);
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
  WriteSource(f);
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

// A type outside the ESRI list, shape type 0 in the header included: with
// records the message (naming the types handled) comes once, no target
// remains and the log lines stay; without records the file is copied with
// its header box and no message.
TEST_F(BadShapefile, UnsupportedShapeTypes) {
  const struct {
    const char* name;
    int type;  // in the header of a Point file
    std::vector<TestShape> shapes;
  } cases[] = {
      {"type 2", 2, PointShapes()},
      {"type 33", 33, PointShapes()},
      {"type 0 in the header", 0, PointShapes()},
      {"type 2 without records", 2, {}},
      {"type 0 in the header without records", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* ext : {".shp", ".shx", ".dbf"}) fs::remove(dstStem + ext);
    WriteShapefile(srcStem, SHPT_POINT, c.shapes);
    Files f = Take(srcStem);
    PutLittleEndian(f.shp, 32, c.type);
    WriteSource(f);
    fe = ShapeFrontEnd();
    const bool done = TransformShapeFile(session);
    EXPECT_TRUE(Take(srcStem) == f);
    EXPECT_EQ(fe.progressClosed, 1);
    if (c.shapes.empty()) {
      EXPECT_TRUE(done);
      EXPECT_TRUE(fe.messages.empty());
      ExpectTransformed(srcStem, dstStem, session);
      continue;
    }
    EXPECT_FALSE(done);
    ASSERT_EQ(fe.messages.size(), 1u);
    EXPECT_EQ(fe.messages[0].text, "Shapetyp " + Num(c.type) +
                                       " wird nicht unterstützt\r\nUnterstützt werden: Point (1), "
                                       "PolyLine (3), Polygon (5), MultiPoint (8), PointZ (11), "
                                       "PolyLineZ (13), PolygonZ (15), MultiPointZ (18), PointM "
                                       "(21), PolyLineM (23), PolygonM (25), MultiPointM (28), "
                                       "MultiPatch (31)");
    EXPECT_EQ(fe.messages[0].title, "");
    EXPECT_EQ(fe.messages[0].icon, MsgIcon::kNone);
    EXPECT_TRUE(TargetsGone());
    EXPECT_EQ(session.settings.txtDateien, ExpectedLog(c.type, f.shp.size(), c.shapes.size()));
  }
}

// A record whose own shape type has another layout than the file's (a
// record marked PolyLine in a Point file): read with the file's layout it
// would come out half transformed, so it is refused.
// PolyLine and Polygon records share their layout and pass in either file.
TEST_F(BadShapefile, RecordOfAnotherShapeType) {
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  Files f = Take(srcStem);
  PutLittleEndian(f.shp, Record(f, 2) + 8, SHPT_ARC);
  ExpectRefused(f, "shp",
                RecordText(f, 2) + "der Record hat den Shapetyp 3, die Datei den Shapetyp 1");

  WriteShapefile(srcStem, SHPT_POLYGON, PolygonShapes());
  f = Take(srcStem);
  PutLittleEndian(f.shp, Record(f, 1) + 8, SHPT_ARC);
  WriteSource(f);
  fe.messages.clear();
  EXPECT_TRUE(TransformShapeFile(session));
  EXPECT_TRUE(fe.messages.empty());
  ExpectTransformed(srcStem, dstStem, session);
}

// An attribute table that is a folder: as source it is refused before any
// target is made; as target, even an empty one, it is never replaced or
// deleted and the run stops before it writes anything.
TEST_F(BadShapefile, AttributeTableIsAFolder) {
  const std::string folder = "\r\nist keine Datei, sondern ein Ordner";
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  fs::remove(srcStem + ".dbf");
  fs::create_directory(srcStem + ".dbf");
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.OnlyMessage(), "Die Datei " + srcStem + ".dbf" + folder);
  EXPECT_TRUE(TargetsGone());
  EXPECT_TRUE(fs::is_directory(srcStem + ".dbf"));

  fe.messages.clear();
  fs::remove(srcStem + ".dbf");
  WriteShapefile(srcStem, SHPT_POINT, PointShapes());
  fs::create_directory(dstStem + ".dbf");
  fe.answers = {true};
  EXPECT_FALSE(TransformShapeFile(session));
  EXPECT_EQ(fe.OnlyMessage(), "Die Datei " + dstStem + ".dbf" + folder);
  EXPECT_TRUE(fe.questions.empty()) << "asked to overwrite a folder";
  EXPECT_TRUE(fs::is_directory(dstStem + ".dbf"));
  EXPECT_FALSE(fs::exists(dstStem + ".shp"));
  EXPECT_FALSE(fs::exists(dstStem + ".shx"));
}

}  // namespace
}  // namespace pelmo::test
