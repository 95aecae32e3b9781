// ASCII layouts on the shapes of real files (coordinates against PROJ, the rest of every line byte for byte), and the
// plausibility warnings with their counts, first lines and values (the batch tool's --strict: test_cli.cpp).
#include "formats/ascii_layout.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

/// Lines with their line ends (LF or CR LF).
std::vector<std::string> LinesWithEnds(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1)
    end = std::min(text.find('\n', start), text.size() - 1), lines.push_back(text.substr(start, end + 1 - start));
  return lines;
}

/// Fields of a line at `sep`, outside double quotes.
std::vector<std::string> Fields(const std::string& line, char sep) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (char c : line) {
    quoted = quoted != (c == '"');
    if (c == sep && !quoted) out.emplace_back();
    else if (c != '\r' && c != '\n') out.back() += c;
  }
  return out;
}

double Number(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  return std::strtod(text.c_str(), nullptr);
}

/// An ASCII job from GK-Germ (DHDN) to UTM 33, in.txt to out.txt of `dir`.
void UseGkToUtmFiles(Session& s, const TempFolder& dir) {
  UseGkToUtmDhdn(s);
  s.settings.optASCII = true, s.settings.optSHP = false;
  s.settings.txtQuelldatei = dir.File("in.txt"), s.settings.txtZielDatei = dir.File("out.txt");
}

TEST(AsciiLayouts, RealFileShapesKeepEverythingButTheCoordinates) {
  struct Shape {
    const char *name, *columns;
    AsciiSeparator sep;
    char sepChar;
    long header;
    std::string source;
    std::vector<bool> isPoint;  // per line
    char sign;                  // decimal sign of the written coordinates
  };
  const Shape shapes[] = {
      {"CSV export with header and point ids", "id,first,second,height", AsciiSeparator::kComma, ',', 1,
       "\"Punkt\",\"Rechts\",\"Hoch\",\"Hoehe\"\r\n\"P1\",5411800.000,5659000.000,112.50\r\n\"P 2, Mast\",5412500.25,5660100.75,98.1\r\n",
       {false, true, true}, '.'},
      {"tab-separated instrument file, northing first", "id,second,first,height,skip", AsciiSeparator::kTab, '\t', 0,
       "\xEF\xBB\xBF# Tachymeter 2024-05-01, Station 7\n\n101\t5659000.000\t5411800.000\t112.500\tGR\n"
       "  # Kontrollpunkt\n102\t5658000.5\t5410000\t0\tBM 3\n103\t5657000\t5409000",
       {false, false, true, false, true, true}, '.'},
      {"semicolon file with decimal commas", "first,second,height", AsciiSeparator::kSemicolon, ';', 2,
       "Koordinatenliste Los 4;;\r\nRechtswert;Hochwert;H\xC3\xB6he\r\n5411800,000;5659000,000;112,50\r\n 5412000 ; 5658000,5;\r\n",
       {false, false, true, true}, ','}};
  for (const Shape& sh : shapes) {
    SCOPED_TRACE(sh.name);
    TempFolder dir;
    RecordingFrontEnd fe;
    Session s(fe, '.');
    UseGkToUtmFiles(s, dir);
    std::string error;
    ASSERT_TRUE(ParseAsciiColumns(sh.columns, s.asciiLayout.columns, error)) << error;
    s.asciiLayout = {true, s.asciiLayout.columns, sh.sep, sh.header};
    WriteBytes(s.settings.txtQuelldatei, sh.source);
    ASSERT_TRUE(TransformAsciiFile(s)) << fe.OnlyMessage();
    const auto in = LinesWithEnds(sh.source), out = LinesWithEnds(ReadBytes(s.settings.txtZielDatei));
    ASSERT_EQ(out.size(), in.size());
    const std::vector<AsciiColumn>& cols = s.asciiLayout.columns;
    // Column k of the list: 0 first, 1 second, 2 height, 3 anything else.
    const auto slot = [&](std::size_t k) {
      const AsciiColumn c = k < cols.size() ? cols[k] : AsciiColumn::kSkip;
      return c == AsciiColumn::kFirst ? 0 : c == AsciiColumn::kSecond ? 1 : c == AsciiColumn::kHeight ? 2 : 3;
    };
    for (std::size_t i = 0; i < in.size(); ++i) {
      if (!sh.isPoint[i]) {
        EXPECT_EQ(out[i], in[i]) << "copied line " << i + 1;
        continue;
      }
      // Same line end, same columns; the coordinates as PROJ has them (the zone in the millions of the easting).
      EXPECT_EQ(out[i].back() == '\n', in[i].back() == '\n');
      const auto fi = Fields(in[i], sh.sepChar), fo = Fields(out[i], sh.sepChar);
      ASSERT_EQ(fo.size(), fi.size()) << out[i];
      double v[4] = {0, 0, 0, 0};
      for (std::size_t k = 0; k < fi.size(); ++k) v[slot(k)] = Number(fi[k]);
      const auto expected = ProjTrans(kDhdnToUtm33, v[0], v[1], v[2]);
      for (std::size_t k = 0; k < fi.size(); ++k) {
        if (slot(k) >= 2) {
          EXPECT_EQ(fo[k], fi[k]);
          continue;
        }
        EXPECT_NEAR(Number(fo[k]), expected[slot(k)] + (slot(k) == 0 ? 33e6 : 0), 1e-3) << out[i];
        EXPECT_NE(fo[k].find(sh.sign), std::string::npos) << "decimal sign of " << fo[k];
        EXPECT_EQ(fo[k].front() == ' ', fi[k].front() == ' ') << "blanks around kept";
      }
    }
  }
}

TEST(PlausibilityWarnings, EachKindCountedWithItsFirstLineAndValue) {
  const auto ellIn = [](Session& s) {  // no datum change: the longitudes reach the output as they were read
    s.settings.optInGK = false, s.settings.optInBL = true, s.settings.txtEll1a = kGrs80A, s.settings.txtEll1e = kGrs80E;
    for (std::string* p : s.settings.SevenParFields(1)) *p = "0";
  };
  const auto ellTo = [&](Session& s, bool TransformSettings::*output) { ellIn(s), s.settings.optOUTetrs = false, s.settings.*output = true; };
  struct Case {
    const char* name;
    std::function<void(Session&)> setup;
    std::string source;
    std::array<long, 4> count, first;  // zone prefix, input, output distance, range
    const char* report;                // a piece of the report
  };
  const Case cases[] = {
      {"zone-3 point read with index 5", [](Session&) {}, "5411800 5659000\r\n3500000 5600000\r\n", {1, 1, 1, 1}, {2, 2, 2, 2},
       "Warnung: 1 Punkt hat im Ostwert eine andere Kennziffer als die Meridiankennziffer 5 (GK-Germ, Meridian 15), zuerst "
       "Zeile 2: Ostwert 3500000"},
      {"300 km west of the meridian", [](Session&) {}, "5411800 5659000\r\n5411800 5659000\r\n5200000 5550000\r\n", {0, 1, 1, 0},
       {0, 3, 3, 0}, "vom Mittelmeridian der Eingabe (GK-Germ, 15°), zuerst Zeile 3: "},
      {"UTM zone 32 for points of zone 33", [](Session& s) { s.OptionValues[opt::kUTMBM2] = "9"; }, "5411800 5659000\r\n",
       {0, 0, 1, 0}, {0, 0, 1, 0}, "der Ausgabe (UTM, 9°), zuerst Zeile 1"},
      {"longitudes 4 and 5.5 degrees from 15", ellIn, "19 50\r\n15 50\r\n20.4 50\r\n", {0, 0, 2, 0}, {0, 0, 1, 0},
       "Warnung: 2 Punkte liegen mehr als 3.5° vom Mittelmeridian der Ausgabe (UTM, 15°), zuerst Zeile 1: 4°, größter Abstand 5.4°"},
      {"southern point in UTM", ellIn, "15 50\r\n15 -10\r\n", {0, 0, 0, 1}, {0, 0, 0, 2},
       "außerhalb des sinnvollen Bereichs der Ausgabe UTM"},
      {"Krovak far west of Czechia", [&](Session& s) { ellTo(s, &TransformSettings::optOutKrovak); }, "15 50\r\n5 50\r\n",
       {0, 0, 0, 1}, {0, 0, 0, 2}, "Ausgabe Krovak (Y 0 bis 1200 km"},
      {"GK-general (meridian 9, false easting 500 km) 6 degrees off", [&](Session& s) {
         ellTo(s, &TransformSettings::optOutGKallgemein);
         s.OptionValues[opt::kOUTmeridian] = "9", s.OptionValues[opt::kOUTeasting] = "500000";
       }, "9 50\r\n15 50\r\n", {0, 0, 1, 1}, {0, 0, 2, 2}, "Ausgabe GK-general"},
      {"translation mode checks nothing", [](Session& s) { s.settings.optSevPar = false, s.settings.optTranslation = true; },
       "3500000 -5600000\r\n", {0, 0, 0, 0}, {0, 0, 0, 0}, ""}};
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
    for (std::size_t k = 0; k < kWarningKinds; ++k)
      count[k] = s.warnings[static_cast<WarningKind>(k)].count, first[k] = s.warnings[static_cast<WarningKind>(k)].first;
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

}  // namespace
}  // namespace pelmo::test
