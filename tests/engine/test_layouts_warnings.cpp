// ASCII layouts on the shapes of real files (coordinates against PROJ, the
// rest of every line byte for byte), the plausibility warnings with their
// counts, first lines and values, and the batch tool's --strict, overwrite
// rule and messages.
#include <gtest/gtest.h>
#include <proj.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "formats/ascii_layout.hpp"
#include "formats/drivers.hpp"
#include "job/job_start.hpp"
#include "job_setups.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

/// Lines with their line ends (LF or CR LF).
std::vector<std::string> LinesWithEnds(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size() - 1);
    lines.push_back(text.substr(start, end + 1 - start));
  }
  return lines;
}

/// Fields of a line at `sep`, outside double quotes.
std::vector<std::string> Fields(const std::string& line, char sep) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (c == sep && !quoted) {
      out.emplace_back();
    } else if (c != '\r' && c != '\n') {
      out.back() += c;
    }
  }
  return out;
}

double Number(std::string text) {
  for (char& c : text) c = c == ',' ? '.' : c;
  return std::strtod(text.c_str(), nullptr);
}

/// PROJ's DHDN (EPSG 1776, coordinate frame) from GK zone 5 on Bessel to
/// UTM 33 on GRS 1980, the zone in the millions of the easting.
std::array<double, 2> ProjUtm33(double east, double north, double height) {
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* pj = proj_create(
      ctx,
      "+proj=pipeline +step +inv +proj=tmerc +lon_0=15 +x_0=5500000 +ellps=bessel "
      "+step +proj=cart +ellps=bessel +step +proj=helmert +x=598.1 +y=73.7 +z=418.2 "
      "+rx=-0.202 +ry=-0.045 +rz=2.455 +s=6.7 +convention=coordinate_frame +exact "
      "+step +inv +proj=cart +ellps=GRS80 +step +proj=utm +zone=33 +ellps=GRS80");
  const PJ_COORD q = proj_trans(pj, PJ_FWD, proj_coord(east, north, height, 0));
  proj_destroy(pj);
  proj_context_destroy(ctx);
  return {q.xyz.x + 33e6, q.xyz.y};
}

/// An ASCII job from GK-Germ (DHDN) to UTM 33, in.txt to out.txt of `dir`.
void UseGkToUtmFiles(Session& s, const TempFolder& dir) {
  UseGkToUtmDhdn(s);
  s.settings.optASCII = true;
  s.settings.optSHP = false;
  s.settings.txtQuelldatei = dir.File("in.txt");
  s.settings.txtZielDatei = dir.File("out.txt");
}

// ================================================================ layouts

TEST(AsciiLayouts, RealFileShapesKeepEverythingButTheCoordinates) {
  struct Shape {
    const char* name;
    const char* columns;
    AsciiSeparator sep;
    char sepChar;
    long header;
    std::string source;
    std::vector<bool> isPoint;  // per line
    char sign;                  // decimal sign of the written coordinates
  };
  const std::vector<Shape> shapes = {
      {"CSV export with header and point ids", "id,first,second,height", AsciiSeparator::kComma,
       ',', 1,
       "\"Punkt\",\"Rechts\",\"Hoch\",\"Hoehe\"\r\n\"P1\",5411800.000,5659000.000,112.50\r\n"
       "\"P 2, Mast\",5412500.25,5660100.75,98.1\r\n",
       {false, true, true}, '.'},
      {"tab-separated instrument file, northing first", "id,second,first,height,skip",
       AsciiSeparator::kTab, '\t', 0,
       "\xEF\xBB\xBF# Tachymeter 2024-05-01, Station 7\n\n101\t5659000.000\t5411800.000\t112.500\tGR\n"
       "  # Kontrollpunkt\n102\t5658000.5\t5410000\t0\tBM 3\n103\t5657000\t5409000",
       {false, false, true, false, true, true}, '.'},
      {"semicolon file with decimal commas", "first,second,height", AsciiSeparator::kSemicolon,
       ';', 2,
       "Koordinatenliste Los 4;;\r\nRechtswert;Hochwert;H\xC3\xB6he\r\n"
       "5411800,000;5659000,000;112,50\r\n 5412000 ; 5658000,5;\r\n",
       {false, false, true, true}, ','},
  };
  for (const Shape& sh : shapes) {
    SCOPED_TRACE(sh.name);
    TempFolder dir;
    RecordingFrontEnd fe;
    Session s(fe, '.');
    UseGkToUtmFiles(s, dir);
    const TransformSettings& t = s.settings;
    std::string error;
    ASSERT_TRUE(ParseAsciiColumns(sh.columns, s.asciiLayout.columns, error)) << error;
    s.asciiLayout = {true, s.asciiLayout.columns, sh.sep, sh.header};
    WriteBytes(t.txtQuelldatei, sh.source);
    ASSERT_TRUE(TransformAsciiFile(s)) << fe.OnlyMessage();
    const auto in = LinesWithEnds(sh.source), out = LinesWithEnds(ReadBytes(t.txtZielDatei));
    ASSERT_EQ(out.size(), in.size());
    const std::vector<AsciiColumn>& cols = s.asciiLayout.columns;
    for (std::size_t i = 0; i < in.size(); ++i) {
      if (!sh.isPoint[i]) {
        EXPECT_EQ(out[i], in[i]) << "copied line " << i + 1;
        continue;
      }
      // Same line end, same columns; the coordinates as PROJ has them.
      EXPECT_EQ(out[i].back() == '\n', in[i].back() == '\n');
      const auto fi = Fields(in[i], sh.sepChar), fo = Fields(out[i], sh.sepChar);
      ASSERT_EQ(fo.size(), fi.size()) << out[i];
      // Column k of the list: 0 first, 1 second, 2 height, 3 anything else.
      const auto slot = [&](std::size_t k) {
        const AsciiColumn c = k < cols.size() ? cols[k] : AsciiColumn::kSkip;
        return c == AsciiColumn::kFirst ? 0 : c == AsciiColumn::kSecond ? 1 : c == AsciiColumn::kHeight ? 2 : 3;
      };
      double v[4] = {0, 0, 0, 0};
      for (std::size_t k = 0; k < fi.size(); ++k) v[slot(k)] = Number(fi[k]);
      const auto expected = ProjUtm33(v[0], v[1], v[2]);
      for (std::size_t k = 0; k < fi.size(); ++k) {
        if (slot(k) >= 2) {
          EXPECT_EQ(fo[k], fi[k]);
          continue;
        }
        EXPECT_NEAR(Number(fo[k]), expected[slot(k)], 1e-3) << out[i];
        EXPECT_NE(fo[k].find(sh.sign), std::string::npos) << "decimal sign of " << fo[k];
        EXPECT_EQ(fo[k].front() == ' ', fi[k].front() == ' ') << "blanks around kept";
      }
    }
  }
}

// ================================================================ warnings

TEST(PlausibilityWarnings, EachKindCountedWithItsFirstLineAndValue) {
  using Setup = std::function<void(Session&)>;
  const auto ellIn = [](Session& s) {
    s.settings.optInGK = false;
    s.settings.optInBL = true;
    // No datum change: the longitudes reach the output as they were read.
    s.settings.txtEll1a = kGrs80A;
    s.settings.txtEll1e = kGrs80E;
    for (std::string* p : s.settings.SevenParFields(1)) *p = "0";
  };
  const auto ellTo = [&](Session& s, bool TransformSettings::*output) {
    ellIn(s);
    s.settings.optOUTetrs = false;
    s.settings.*output = true;
  };
  struct Case {
    const char* name;
    Setup setup;
    std::string source;
    std::array<long, 4> count, first;  // zone prefix, input, output distance, range
    const char* report;                // a piece of the report
  };
  const std::vector<Case> cases = {
      {"zone-3 point read with index 5", [](Session&) {}, "5411800 5659000\r\n3500000 5600000\r\n",
       {1, 1, 1, 1}, {2, 2, 2, 2}, "Warnung: 1 Punkt hat im Ostwert eine andere Kennziffer als die "
                                   "Meridiankennziffer 5 (GK-Germ, Meridian 15), zuerst Zeile 2: Ostwert 3500000"},
      {"300 km west of the meridian", [](Session&) {}, "5411800 5659000\r\n5411800 5659000\r\n5200000 5550000\r\n",
       {0, 1, 1, 0}, {0, 3, 3, 0}, "vom Mittelmeridian der Eingabe (GK-Germ, 15°), zuerst Zeile 3: "},
      {"UTM zone 32 for points of zone 33", [](Session& s) { s.OptionValues[opt::kUTMBM2] = "9"; },
       "5411800 5659000\r\n", {0, 0, 1, 0}, {0, 0, 1, 0}, "der Ausgabe (UTM, 9°), zuerst Zeile 1"},
      {"longitudes 4 and 5.5 degrees from 15", ellIn, "19 50\r\n15 50\r\n20.4 50\r\n", {0, 0, 2, 0},
       {0, 0, 1, 0}, "Warnung: 2 Punkte liegen mehr als 3.5° vom Mittelmeridian der Ausgabe (UTM, "
                     "15°), zuerst Zeile 1: 4°, größter Abstand 5.4°"},
      {"southern point in UTM", ellIn, "15 50\r\n15 -10\r\n", {0, 0, 0, 1}, {0, 0, 0, 2},
       "außerhalb des sinnvollen Bereichs der Ausgabe UTM"},
      {"Krovak far west of Czechia", [&](Session& s) { ellTo(s, &TransformSettings::optOutKrovak); },
       "15 50\r\n5 50\r\n", {0, 0, 0, 1}, {0, 0, 0, 2}, "Ausgabe Krovak (Y 0 bis 1200 km"},
      {"GK-general (meridian 9, false easting 500 km) 6 degrees off", [&](Session& s) {
         ellTo(s, &TransformSettings::optOutGKallgemein);
         s.OptionValues[opt::kOUTmeridian] = "9";
         s.OptionValues[opt::kOUTeasting] = "500000";
       }, "9 50\r\n15 50\r\n", {0, 0, 1, 1}, {0, 0, 2, 2}, "Ausgabe GK-general"},
      {"translation mode checks nothing", [](Session& s) { s.settings.optSevPar = false, s.settings.optTranslation = true; },
       "3500000 -5600000\r\n", {0, 0, 0, 0}, {0, 0, 0, 0}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    RecordingFrontEnd fe;
    Session s(fe, '.');
    UseGkToUtmFiles(s, dir);
    c.setup(s);
    WriteBytes(s.settings.txtQuelldatei, c.source);
    ASSERT_EQ(RunJob(s), JobOutcome::kDone) << fe.OnlyMessage();
    std::array<long, 4> count{}, first{};
    for (std::size_t k = 0; k < kWarningKinds; ++k) {
      count[k] = s.warnings[static_cast<WarningKind>(k)].count;
      first[k] = s.warnings[static_cast<WarningKind>(k)].first;
    }
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(first, c.first);
    // The report: in the log, once, one line per kind met.
    const std::string& log = s.settings.txtDateien;
    long lines = 0;
    for (std::size_t at = log.find("Warnung: "); at != std::string::npos; at = log.find("Warnung: ", at + 1)) ++lines;
    EXPECT_EQ(lines, std::count_if(c.count.begin(), c.count.end(), [](long n) { return n > 0; }));
    EXPECT_NE(log.find(c.report), std::string::npos) << log;
    EXPECT_EQ(SplitCrLf(ReadBytes(s.settings.txtZielDatei)).size(), SplitCrLf(c.source).size());
  }
}

TEST(PlausibilityWarnings, TalliesOfSeveralWorkersMergeToTheWholeJobs) {
  // Points at lines 1 to 9; the even ones far off. Worker A takes lines
  // 6 to 9, worker B lines 1 to 5; merged in either order.
  const auto point = [](long line) {
    PointWarnings w;
    if (line % 2 == 0) w.set(WarningKind::kInputDistance, {3.0 + static_cast<double>(line) / 10, 0});
    return w;
  };
  WarningTally a, b;
  for (long line = 1; line <= 9; ++line) (line <= 5 ? b : a).Add(point(line), line);
  WarningTally ab = a, ba = b;
  ab.Merge(b);
  ba.Merge(a);
  for (const WarningTally* t : {&ab, &ba}) {
    const auto& k = (*t)[WarningKind::kInputDistance];
    EXPECT_EQ(std::vector<double>({double(k.count), double(k.first), k.firstSample.a, k.largest,
                                   double(t->Total())}),
              std::vector<double>({4, 2, 3.2, 3.8, 4}));
  }
}

// ================================================================ batch tool

struct CliResult {
  int status;
  std::string err;
};

/// Runs pelmo-cli with `args` in `dir` (after `prefix`, e.g. setpriv) with
/// an empty standard input, or with `input` typed on a terminal.
CliResult Shell(const TempFolder& dir, const std::string& args, const std::string& input,
                const std::string& prefix) {
  const std::string errFile = dir.File(".stderr");
  std::string cmd = prefix + PELMO_CLI_PATH + " " + args;
  cmd = input.empty() ? cmd + " </dev/null 2>" + errFile
                      : "printf '" + input + "' | script -qefc '" + cmd + "' /dev/null >" + errFile;
  const int rc = std::system(("cd " + dir.path().string() + " && " + cmd).c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadBytes(errFile)};
}

TEST(BatchTool, StrictOverwriteAndMessages) {
  TempFolder dir;
  const std::string data = std::string(PELMO_SOURCE_DIR) + "/data/";
  const std::string job = "--in GK-Germ --out UTM --ell1 " + data + "Bessel_1841.ell --ell2 " + data +
                          "GRS_1980.ell --7par1 " + data + "DHDN_to_ETRS89_EPSG1776.7pr ";
  for (const auto& [name, text] : std::vector<std::array<std::string, 2>>{
           {"zone3.txt", "3500000 5600000 1"}, {"bad.txt", "5411800 5659000,5a"},
           {"one.txt", "5411800"}, {"c1.txt", "P1,\"5411800,5\",5659000"},
           {"c2.txt", "P1,5411800,5,5659000,5"}, {"s.txt", "P1;5411800;;1"},
           {"t.txt", "5411800\t1e999"}}) {
    WriteBytes(dir.File(name), text + "\r\n");
  }
  WriteBytes(dir.File("p.shp"), std::string("\0\0\x27\x0a", 4) + std::string(96, '\0'));
  // A folder nobody may write to; permissions do not bind the superuser, so
  // the batch tool runs as nobody then.
  namespace fs = std::filesystem;
  fs::create_directory(dir.path() / "ro");
  fs::permissions(dir.path() / "ro", fs::perms::owner_write | fs::perms::group_write |
                                         fs::perms::others_write, fs::perm_options::remove);
  const std::string nobody = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  struct Case {
    std::string args, input, prefix;
    int status;
    std::string err;       // a piece of standard error
    std::string target;    // "" : not checked; "alt" : untouched; "new": written
  };
  const Case cases[] = {
      {job + "zone3.txt a.txt", "", "", 0, "Warnung: 1 Punkt hat im Ostwert", "new"},
      {job + "--strict --quiet zone3.txt b.txt", "", "", 3, "Warnung: 1 Punkt", "new"},
      {job + "zone3.txt old.txt", "", "", 1, "mit --yes wird sie ersetzt", "alt"},
      {job + "zone3.txt old.txt", "n\\n", "", 1, "bleibt unverändert", "alt"},
      {job + "zone3.txt old.txt", "j\\n", "", 0, "soll sie überschrieben werden?", "new"},
      {job + "--yes zone3.txt old.txt", "", "", 0, "", "new"},
      // The second line of a message about a field: its column, what it needs.
      {job + "bad.txt c.txt", "", "", 1, "Typen unverträglich\nSpalte 2 (Nordwert): \"5659000,5a\" ist keine Zahl\nZeile 1", ""},
      {job + "one.txt c.txt", "", "", 1, "Spalte 2 (Nordwert) fehlt", ""},
      {job + "--separator comma --columns id,first,second c1.txt c.txt", "", "", 1,
       "Spalte 2 (Ostwert): \"5411800,5\" enthält ein Komma; mit Komma als Trennzeichen muss das Dezimalzeichen ein Punkt sein", ""},
      {job + "--separator comma --columns id,first,second c2.txt c.txt", "", "", 1, "Spalte 4: die Zeile hat mehr Spalten", ""},
      {job + "--separator semicolon --columns id,first,second,height s.txt c.txt", "", "", 1, "Spalte 3 (Nordwert) fehlt", ""},
      {job + "--separator tab t.txt c.txt", "", "", 1, "Spalte 2 (Nordwert): \"1e999\" ist zu groß", ""},
      {job + "--option 1=abc zone3.txt d.txt", "", "", 2, "--option 1=abc: entry 1 (GK-Germ input", ""},
      {job + "--option 10=vielleicht zone3.txt d.txt", "", "", 2, "needs True or False", ""},
      {"--in GK-Germ zone3.txt e.txt", "", "", 1, "gibt --ell1 FILE an", ""},
      {job + "--type ascii p.shp f.txt", "", "", 1, "ist binär und sieht wie eine Shapedatei aus", ""},
      {job + "--columns id,first,first zone3.txt g.txt", "", "", 2, "genau einmal first und second", ""},
      {"--translation 1 1 1 zone3.txt ro/out.txt", "", nobody, 1, "Zugriff verweigert", ""},
      {job + "--separator pipe zone3.txt g.txt", "", "", 2, "--separator needs blank, tab, comma or semicolon", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args + " / " + c.input);
    WriteBytes(dir.File("old.txt"), "alt\r\n");
    std::filesystem::remove(dir.File("c.txt"));  // what a stopped job kept
    const CliResult r = Shell(dir, c.args, c.input, c.prefix);
    if (!c.prefix.empty() && r.status >= 126) continue;  // setpriv cannot run it here
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    const std::string target = dir.File(c.args.substr(c.args.rfind(' ') + 1));
    const std::string written = ReadBytes(target);
    EXPECT_TRUE(c.target.empty() || (c.target == "alt" ? written == "alt\r\n"
                                                        : written.starts_with("31499514")))
        << written;
  }
}

}  // namespace
}  // namespace pelmo::test
