// The properties file (".par"): its 64 lines, save and load round trips,
// the forms and encodings a load accepts, every way a load or save fails,
// and every file operation refused in turn.
#include <gtest/gtest.h>

#include "paramfiles/properties.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

/// A configuration in which every stored control differs from its start
/// value (quotes, umlauts, decimal commas, blanks, an empty text), and the
/// 64 lines it must give.
struct Sample {
  TransformSettings s;
  OptionTable d = {"2", "9", "12", "-177", "177", "0,9996", "0.9995", "0", "1", "2", "True", "False",
                   "500000", "12,5", "-100", "0,9999", "4500000", "9", "\"\"", "1"};
  Sample() {
    s.optSHP = false, s.optASCII = true, s.optInKrovak = false, s.optINGKallgemein = true, s.optOutGK = false,
    s.optOUTetrs = true;
    s.txtEll1a = "6377397,155", s.txtEll1e = "0,0816968312225275", s.txtBezEll1 = "Bessel \"1841\" Ä";
    s.txtEll2a = "6378137", s.txtEll2e = "0.0818191910428158", s.txtBezEll2 = "GRS 1980 – Größe";
    s.txtsevenParSys = "DHDN → ETRS89, Süd", s.txtsevenParSys2 = "";
    for (int i = 0; i < 7; ++i) *s.SevenParFields(1)[i] = std::to_string(i) + ",5", *s.SevenParFields(2)[i] = std::to_string(-i);
    s.txtP2_6 = "\"", s.txtP2_7 = "  7  ";
  }
  static std::vector<std::string> Lines() {
    const std::string f = "#FALSE#", t = "#TRUE#", x = "\"Free\"";
    return {f, t, x, x, f, f, f, f, t, x, x, f, f, f, t, f, x, x, "\"6377397,155\"", "\"0,0816968312225275\"",
            "\"Bessel \"\"1841\"\" Ä\"", x, x, x, "\"6378137\"", "\"0.0818191910428158\"", "\"GRS 1980 – Größe\"", x, x, x,
            "\"DHDN → ETRS89, Süd\"", "\"0,5\"", "\"1,5\"", "\"2,5\"", "\"3,5\"", "\"4,5\"", "\"5,5\"", "\"6,5\"", "\"\"",
            "\"0\"", "\"-1\"", "\"-2\"", "\"-3\"", "\"-4\"", "\"\"\"\"", "\"  7  \"", "2", "\"9\"", "\"12\"", "\"-177\"",
            "\"177\"", "\"0,9996\"", "\"0.9995\"", "0", "1", "2", "\"500000\"", "\"12,5\"", "\"-100\"", "\"0,9999\"",
            "\"4500000\"", "\"9\"", "\"\"\"\"\"\"", "\"1\""};
  }
};

/// The bytes a configuration saves to: two store the same values exactly when these agree.
std::string Saved(TransformSettings s, const OptionTable& d) {
  TempFolder dir;
  SaveProperties(dir.File("x.par"), s, d);
  return ReadBytes(dir.File("x.par"));
}

template <class Call>
PropertiesError ErrorOf(Call&& call) {
  try {
    call();
  } catch (const PropertiesError& e) {
    return e;
  }
  return PropertiesError(-1, 0, "no error");
}

TEST(Properties, SaveAndLoadTheSixtyFourLines) {
  TempFolder dir;
  Sample sample;
  const std::string path = dir.File("sample.par");
  WriteBytes(path, std::string(5000, 'x'));  // an older, longer file
  SaveProperties(path, sample.s, sample.d);
  EXPECT_EQ(sample.s.txtPAR, path);
  EXPECT_EQ(ReadBytes(path), JoinCrLf(Sample::Lines()));
  // Load restores every stored control and nothing else.
  TransformSettings t;
  t.txtQuelldatei = "in.shp", t.optSevPar = false, t.optTranslation = true;
  OptionTable d = DefaultOptionValues(',');
  d[opt::kSevPar] = "False";
  LoadProperties(path, t, d);
  EXPECT_EQ(Saved(t, d), JoinCrLf(Sample::Lines()));
  EXPECT_EQ(t.txtPAR + t.txtQuelldatei + d[opt::kSevPar], path + "in.shpFalse");
  EXPECT_TRUE(t.optTranslation && !t.optSevPar);
}

TEST(Properties, FormsAndEncodingsALoadAccepts) {
  TempFolder dir;
  const auto with = [](std::vector<std::pair<int, std::string>> changes) {
    std::vector<std::string> l = Sample::Lines();
    for (const auto& [line, text] : changes) l[static_cast<std::size_t>(line - 1)] = text;
    return JoinCrLf(l);
  };
  // Each file, and what its lines 1, 5-9, 19-21, 27, 31 and 48 read as.
  const std::pair<std::string, std::string> cases[] = {
      // Reserved lines hold anything; lines after the 64th are not read.
      {with({{3, "#TRUE#"}, {11, "bare, words"}, {18, "\"open"}}) + "\"open\r\n\xFF\xFE\r\n", ""},
      {with({{1, "\xEF\xBB\xBF#FALSE#"}, {2, "\t#TRUE# "}}), ""},  // byte order mark, blanks
      {with({{19, "#TRUE#"}, {20, "  0,08  "}, {21, "  \"  x  \"  "}, {48, "\"a, b\""}}),
       "0|00001|#TRUE#|0,08|  x  |GRS 1980 – Größe|DHDN → ETRS89, Süd|a, b"},
      {with({{1, "#TRUE#"}, {5, "#TRUE#"}, {7, "#TRUE#"}, {9, "#FALSE#"}}),  // the later True of a group wins
       "0|00100|6377397,155|0,0816968312225275|Bessel \"1841\" Ä|GRS 1980 – Größe|DHDN → ETRS89, Süd|9"},
      {with({{21, "\"B \xC4\""}, {27, "\"GRS \x96 Gr\xF6\xDF" "e\""}, {31, "\"M\xFCller \x80 \x84Zitat\x93\x9F\""}}),  // Windows-1252
       "0|00001|6377397,155|0,0816968312225275|B Ä|GRS – Größe|Müller € „Zitat“Ÿ|9"},
  };
  for (const auto& [content, expected] : cases) {
    WriteBytes(dir.File("x.par"), content);
    TransformSettings s;
    OptionTable d = DefaultOptionValues('.');
    LoadProperties(dir.File("x.par"), s, d);
    if (expected.empty()) {
      EXPECT_EQ(Saved(s, d), JoinCrLf(Sample::Lines())) << content.substr(0, 40);
      continue;
    }
    std::string flags;
    for (const bool b : {s.optInGK, s.optInKrovak, s.optInBL, s.optINetrs, s.optINGKallgemein}) flags += b ? "1" : "0";
    EXPECT_EQ(std::string(s.optSHP ? "1" : "0") + "|" + flags + "|" + s.txtEll1a + "|" + s.txtEll1e + "|" + s.txtBezEll1 +
                  "|" + s.txtBezEll2 + "|" + s.txtsevenParSys + "|" + d[opt::kGKBM],
              expected);
  }
}

// A failed load: its number, line and message; the lines before it are
// assigned, the later ones not. A failed save: its number; values that could
// not be read back are refused before the file is touched.
TEST(Properties, FailedLoadsAndSaves) {
  TempFolder dir;
  const std::string path = dir.File("bad.par");
  const std::vector<std::string> base = Sample::Lines();
  const auto with = [&](int line, const std::string& text) {
    std::vector<std::string> l = base;
    l[static_cast<std::size_t>(line - 1)] = text;
    return JoinCrLf(l);
  };
  const auto first = [&](int n) { return JoinCrLf(std::vector<std::string>(base.begin(), base.begin() + n)); };
  const std::tuple<std::string, int, int> cases[] = {
      {"", 62, 1}, {first(1), 62, 2}, {first(46), 62, 47}, {first(63), 62, 64}, {with(21, "\"missing quote"), 13, 21},
      {with(21, "\"text\" tail"), 13, 21}, {with(47, "3"), 380, 47}, {with(54, "99999999999999"), 380, 54},
      {with(55, "#TRUE#"), 13, 55}, {with(56, "\"1\""), 13, 56}, {with(47, ""), 13, 47}, {with(9, "1"), 13, 9},
      {with(12, "\"#TRUE#\""), 13, 12}, {with(64, "\"open"), 13, 64}, {std::string("\x89PNG\r\n\x1A\n\0\0", 10), 13, 1},
      {std::string("\xFF\xFE#\0T\0R\0U\0E\0#\0\r\0\n\0", 18), 13, 1},        // UTF-16
      {with(21, "\"" + std::string(2'000'000, 'a') + "\""), 14, 21}};  // refused, not held
  const Sample sample;
  for (const auto& [content, number, line] : cases) {
    SCOPED_TRACE(testing::Message() << "error " << number << " at line " << line);
    WriteBytes(path, content);
    TransformSettings s;
    OptionTable d = DefaultOptionValues('.');
    const PropertiesError e = ErrorOf([&] { LoadProperties(path, s, d); });
    EXPECT_EQ(e.number(), number);
    EXPECT_EQ(e.line(), line);
    EXPECT_NE(std::string(e.what()).find("\"" + path + "\", Zeile " + std::to_string(line)), std::string::npos);
    EXPECT_EQ(PropertiesErrorMessage(number, false), std::to_string(number) + "   Fehler Beim Laden der Parameter Datei");
    EXPECT_EQ(s.txtPAR, path);
    EXPECT_EQ(s.optASCII, line > 2);
    EXPECT_EQ(s.txtBezEll1, line > 21 ? sample.s.txtBezEll1 : "0");
    EXPECT_EQ(d[opt::kINeasting], line > 57 ? sample.d[opt::kINeasting] : "5500000");
    EXPECT_EQ(d[opt::kOUTscale], "1");
  }
  EXPECT_EQ(PropertiesErrorText(380), "Ungültiger Eigenschaftswert");
  fs::create_directory(dir.File("folder.par"));
  const std::tuple<std::string, bool, int> files[] = {{"missing.par", false, 53}, {"no/x.par", false, 76},
                                                      {"no/x.par", true, 76}, {"folder.par", true, 70}};
  for (const auto& [file, saving, number] : files) {
    Sample x;
    const PropertiesError e = ErrorOf([&] { saving ? SaveProperties(dir.File(file), x.s, x.d) : LoadProperties(dir.File(file), x.s, x.d); });
    EXPECT_EQ(e.number(), number) << file;
    EXPECT_EQ(e.line(), 0);
    EXPECT_EQ(x.s.txtPAR, "no loaded Properties");
    EXPECT_EQ(PropertiesErrorMessage(number, saving),
              std::to_string(number) + (saving ? "   Fehler Beim Speichern der Parameter Datei" : "   Fehler Beim Laden der Parameter Datei"));
  }
  EXPECT_FALSE(fs::exists(dir.File("no")));
  const std::pair<int, std::function<void(Sample&)>> refused[] = {
      {47, [](Sample& x) { x.d[opt::kSperre] = "3"; }}, {55, [](Sample& x) { x.d[opt::kStat1] = ""; }},
      {54, [](Sample& x) { x.d[opt::kExp] = "True"; }}, {21, [](Sample& x) { x.s.txtBezEll1 = "two\nlines"; }},
      {64, [](Sample& x) { x.d[opt::kOUTscale] = "1\r"; }}};
  for (const auto& [line, change] : refused) {
    Sample x;
    change(x);
    const PropertiesError e = ErrorOf([&] { SaveProperties(dir.File("refused.par"), x.s, x.d); });
    EXPECT_EQ(e.number() * 100 + e.line(), 38000 + line);
    EXPECT_FALSE(fs::exists(dir.File("refused.par")));
  }
}

TEST(Properties, EveryFileOperationRefusedInTurn) {
  TempFolder dir;
  const std::string path = dir.File("einstellungen.par");
  Sample saved;
  std::vector<int> numbers;
  ForEachFailingOperation([&] { return ErrorOf([&] { SaveProperties(path, saved.s, saved.d); }).number(); },
                          [&](int number, bool complete) { numbers.push_back(complete ? 0 : number); });
  EXPECT_EQ(numbers, (std::vector<int>{70, 61, 57, 0}));  // open (permission), write (disk full), close (I/O)
  ForEachFailingOperation(
      [&] {
        TransformSettings s;
        OptionTable d = DefaultOptionValues('.');
        const PropertiesError e = ErrorOf([&] { LoadProperties(path, s, d); });
        EXPECT_EQ(s.optASCII, e.number() == -1 || e.line() > 2);
        EXPECT_EQ(s.txtPAR, e.line() != 0 || e.number() == -1 ? path : "no loaded Properties");
        return e.number();
      },
      [&](int number, bool complete) { EXPECT_TRUE(complete ? number == -1 : number == 70 || number == 57); });
  EXPECT_EQ(ReadBytes(path), JoinCrLf(Sample::Lines()));
}

}  // namespace
}  // namespace pelmo::test
