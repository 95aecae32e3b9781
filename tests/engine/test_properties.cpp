// The properties file (".par"): the 64-line layout, save/load round trips,
// the encodings, and every way a load or save can fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "geotra/fileio.hpp"
#include "paramfiles/encoding.hpp"
#include "paramfiles/properties.hpp"

namespace fs = std::filesystem;
using pelmo::OptionTable;
using pelmo::PropertiesError;
using pelmo::TransformSettings;

namespace {

/// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ =
        fs::temp_directory_path() / ("pelmo_properties_" + std::to_string(std::random_device{}()) +
                                     "_" + std::to_string(++counter));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out << bytes;
    return File(name);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

/// A configuration in which every stored control differs from its initial
/// value: quotes, umlauts, decimal commas, blanks, an empty text.
struct Sample {
  TransformSettings settings;
  OptionTable dialog;
  Sample() {
    auto& s = settings;
    s.optSHP = false, s.optASCII = true;
    s.optInKrovak = false, s.optINGKallgemein = true;
    s.optOutGK = false, s.optOUTetrs = true;
    s.txtEll1a = "6377397,155", s.txtEll1e = "0,0816968312225275";
    s.txtBezEll1 = "Bessel \"1841\" \u00C4";
    s.txtEll2a = "6378137", s.txtEll2e = "0.0818191910428158";
    s.txtBezEll2 = "GRS 1980 \u2013 Gr\u00F6\u00DFe";
    s.txtsevenParSys = "DHDN \u2192 ETRS89, S\u00FCd";
    s.txtP1 = "598,1", s.txtP2 = "73,7", s.txtP3 = "418,2", s.txtP4 = "6,7";
    s.txtP5 = "2,455", s.txtP6 = "-0,045", s.txtP7 = "-0,202";
    s.txtsevenParSys2 = "";
    s.txtP2_1 = "-1", s.txtP2_2 = "-2", s.txtP2_3 = "-3", s.txtP2_4 = "-4";
    s.txtP2_5 = "-5", s.txtP2_6 = "\"", s.txtP2_7 = "  7  ";
    dialog = {"2",    "9",     "12",     "-177", "177",  "0,9996", "0.9995",  "0", "1",    "2",
              "True", "False", "500000", "12,5", "-100", "0,9999", "4500000", "9", "\"\"", "1"};
  }
  /// The file this configuration must give, line by line.
  static std::vector<std::string> Lines() {
    return {
        "#FALSE#",                              // 1
        "#TRUE#",                               // 2
        "\"Free\"",                             // 3
        "\"Free\"",                             // 4
        "#FALSE#",                              // 5
        "#FALSE#",                              // 6
        "#FALSE#",                              // 7
        "#FALSE#",                              // 8
        "#TRUE#",                               // 9
        "\"Free\"",                             // 10
        "\"Free\"",                             // 11
        "#FALSE#",                              // 12
        "#FALSE#",                              // 13
        "#FALSE#",                              // 14
        "#TRUE#",                               // 15
        "#FALSE#",                              // 16
        "\"Free\"",                             // 17
        "\"Free\"",                             // 18
        "\"6377397,155\"",                      // 19
        "\"0,0816968312225275\"",               // 20
        "\"Bessel \"\"1841\"\" \u00C4\"",       // 21
        "\"Free\"",                             // 22
        "\"Free\"",                             // 23
        "\"Free\"",                             // 24
        "\"6378137\"",                          // 25
        "\"0.0818191910428158\"",               // 26
        "\"GRS 1980 \u2013 Gr\u00F6\u00DFe\"",  // 27
        "\"Free\"",                             // 28
        "\"Free\"",                             // 29
        "\"Free\"",                             // 30
        "\"DHDN \u2192 ETRS89, S\u00FCd\"",     // 31
        "\"598,1\"",                            // 32
        "\"73,7\"",                             // 33
        "\"418,2\"",                            // 34
        "\"6,7\"",                              // 35
        "\"2,455\"",                            // 36
        "\"-0,045\"",                           // 37
        "\"-0,202\"",                           // 38
        "\"\"",                                 // 39
        "\"-1\"",                               // 40
        "\"-2\"",                               // 41
        "\"-3\"",                               // 42
        "\"-4\"",                               // 43
        "\"-5\"",                               // 44
        "\"\"\"\"",                             // 45
        "\"  7  \"",                            // 46
        "2",                                    // 47
        "\"9\"",                                // 48
        "\"12\"",                               // 49
        "\"-177\"",                             // 50
        "\"177\"",                              // 51
        "\"0,9996\"",                           // 52
        "\"0.9995\"",                           // 53
        "0",                                    // 54
        "1",                                    // 55
        "2",                                    // 56
        "\"500000\"",                           // 57
        "\"12,5\"",                             // 58
        "\"-100\"",                             // 59
        "\"0,9999\"",                           // 60
        "\"4500000\"",                          // 61
        "\"9\"",                                // 62
        "\"\"\"\"\"\"",                         // 63
        "\"1\"",                                // 64
    };
  }
};

/// Expects every control stored in the file to be equal in a and b.
void ExpectStoredEqual(const TransformSettings& a, const OptionTable& da,
                       const TransformSettings& b, const OptionTable& db) {
  EXPECT_EQ(a.optSHP, b.optSHP);
  EXPECT_EQ(a.optASCII, b.optASCII);
  EXPECT_EQ(a.optInGK, b.optInGK);
  EXPECT_EQ(a.optInKrovak, b.optInKrovak);
  EXPECT_EQ(a.optInBL, b.optInBL);
  EXPECT_EQ(a.optINetrs, b.optINetrs);
  EXPECT_EQ(a.optINGKallgemein, b.optINGKallgemein);
  EXPECT_EQ(a.optOutGK, b.optOutGK);
  EXPECT_EQ(a.optOutKrovak, b.optOutKrovak);
  EXPECT_EQ(a.optOutBL, b.optOutBL);
  EXPECT_EQ(a.optOUTetrs, b.optOUTetrs);
  EXPECT_EQ(a.optOutGKallgemein, b.optOutGKallgemein);
  EXPECT_EQ(a.txtEll1a, b.txtEll1a);
  EXPECT_EQ(a.txtEll1e, b.txtEll1e);
  EXPECT_EQ(a.txtBezEll1, b.txtBezEll1);
  EXPECT_EQ(a.txtEll2a, b.txtEll2a);
  EXPECT_EQ(a.txtEll2e, b.txtEll2e);
  EXPECT_EQ(a.txtBezEll2, b.txtBezEll2);
  EXPECT_EQ(a.txtsevenParSys, b.txtsevenParSys);
  EXPECT_EQ(a.txtsevenParSys2, b.txtsevenParSys2);
  for (int set = 1; set <= 2; ++set) {
    const auto fa = a.SevenParFields(set);
    const auto fb = b.SevenParFields(set);
    for (std::size_t i = 0; i < fa.size(); ++i) EXPECT_EQ(*fa[i], *fb[i]) << set << "/" << i + 1;
  }
  for (int i = 0; i < pelmo::kOptionCount; ++i) {
    if (i == pelmo::opt::kSevPar || i == pelmo::opt::kTranslation) continue;
    EXPECT_EQ(da[i], db[i]) << "option " << i;
  }
}

/// Runs LoadProperties and returns the error it throws (number -1: none).
PropertiesError LoadError(const std::string& path, TransformSettings& s, OptionTable& d) {
  try {
    pelmo::LoadProperties(path, s, d);
  } catch (const PropertiesError& e) {
    return e;
  }
  return PropertiesError(-1, 0, "no error");
}

PropertiesError SaveError(const std::string& path, TransformSettings& s, const OptionTable& d) {
  try {
    pelmo::SaveProperties(path, s, d);
  } catch (const PropertiesError& e) {
    return e;
  }
  return PropertiesError(-1, 0, "no error");
}

// ---------------------------------------------------------------- layout

TEST(PropertiesFormat, SaveWritesTheSixtyFourLinesWithCrLf) {
  TempDir dir;
  Sample sample;
  const std::string path = dir.File("sample.par");
  pelmo::SaveProperties(path, sample.settings, sample.dialog);
  EXPECT_EQ(sample.settings.txtPAR, path);
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(bytes, JoinCrLf(Sample::Lines()));
  // Every line ends in CR LF and no other line break occurs.
  std::size_t lf = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ++lf;
      EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "at byte " << i;
    }
  }
  EXPECT_EQ(lf, 64u);
  EXPECT_TRUE(pelmo::IsValidUtf8(bytes));
}

TEST(PropertiesFormat, MessagesAndNumbers) {
  EXPECT_EQ(pelmo::PropertiesErrorMessage(62, false), "62   Fehler Beim Laden der Parameter Datei");
  EXPECT_EQ(pelmo::PropertiesErrorMessage(76, true),
            "76   Fehler Beim Speichern der Parameter Datei");
  EXPECT_EQ(pelmo::PropertiesErrorMessage(380, false),
            "380   Fehler Beim Laden der Parameter Datei");
  EXPECT_EQ(pelmo::PropertiesErrorText(380), "Ungültiger Eigenschaftswert");
  EXPECT_EQ(pelmo::PropertiesErrorText(53), "Datei nicht gefunden");
}

// ---------------------------------------------------------------- round trips

TEST(PropertiesRoundTrip, LoadRestoresEveryStoredControlAndNothingElse) {
  TempDir dir;
  Sample sample;
  const std::string path = dir.File("round.par");
  pelmo::SaveProperties(path, sample.settings, sample.dialog);

  TransformSettings loaded;
  loaded.txtQuelldatei = "in.shp", loaded.txtZielDatei = "out.shp";
  loaded.txtDX = "1", loaded.txtDY = "2", loaded.txtDH = "3";
  loaded.optSevPar = false, loaded.optTranslation = true;
  loaded.txtDateien = "log";
  OptionTable dialog = pelmo::DefaultOptionValues(',');
  dialog[pelmo::opt::kSevPar] = "False", dialog[pelmo::opt::kTranslation] = "True";
  pelmo::LoadProperties(path, loaded, dialog);

  ExpectStoredEqual(loaded, dialog, sample.settings, sample.dialog);
  EXPECT_EQ(loaded.txtPAR, path);
  EXPECT_EQ(loaded.txtQuelldatei, "in.shp");
  EXPECT_EQ(loaded.txtZielDatei, "out.shp");
  EXPECT_EQ(loaded.txtDX, "1");
  EXPECT_EQ(loaded.txtDY, "2");
  EXPECT_EQ(loaded.txtDH, "3");
  EXPECT_FALSE(loaded.optSevPar);
  EXPECT_TRUE(loaded.optTranslation);
  EXPECT_EQ(loaded.txtDateien, "log");
  EXPECT_EQ(dialog[pelmo::opt::kSevPar], "False");
  EXPECT_EQ(dialog[pelmo::opt::kTranslation], "True");
}

TEST(PropertiesRoundTrip, EverySelectionOfTheOptionGroupsSurvives) {
  TempDir dir;
  const std::string path = dir.File("groups.par");
  for (int i = 0; i < 5; ++i) {
    TransformSettings s;
    bool* in[] = {&s.optInGK, &s.optInKrovak, &s.optInBL, &s.optINetrs, &s.optINGKallgemein};
    bool* out[] = {&s.optOutGK, &s.optOutKrovak, &s.optOutBL, &s.optOUTetrs, &s.optOutGKallgemein};
    for (int k = 0; k < 5; ++k) *in[k] = k == i, *out[k] = k == (i + 3) % 5;
    s.optSHP = i % 2 == 0, s.optASCII = i % 2 == 1;
    const OptionTable d = pelmo::DefaultOptionValues('.');
    pelmo::SaveProperties(path, s, d);

    TransformSettings loaded;  // Krovak in, GK-Germ out, Shape
    OptionTable ld = d;
    pelmo::LoadProperties(path, loaded, ld);
    ExpectStoredEqual(loaded, ld, s, d);
  }
}

TEST(PropertiesRoundTrip, Utf8FileIsReproducedByteForByte) {
  TempDir dir;
  // Written by hand: umlauts, a euro sign, doubled quotes, check states 0-2.
  std::vector<std::string> lines = Sample::Lines();
  lines[20] = "\"Stra\u00DFen-\u00C4quator \u20AC \"\"x\"\"\"";
  lines[30] = "\"\u00D6sterreich \u00FC\u00E4\u00F6\"";
  const std::string original = JoinCrLf(lines);
  const std::string a = dir.Write("a.par", original);
  TransformSettings s;
  OptionTable d = pelmo::DefaultOptionValues(',');
  pelmo::LoadProperties(a, s, d);
  EXPECT_EQ(s.txtBezEll1, "Stra\u00DFen-\u00C4quator \u20AC \"x\"");
  EXPECT_EQ(s.txtsevenParSys, "\u00D6sterreich \u00FC\u00E4\u00F6");
  const std::string b = dir.File("b.par");
  pelmo::SaveProperties(b, s, d);
  EXPECT_EQ(ReadBytes(b), original);
}

// ---------------------------------------------------------------- loading

TEST(PropertiesLoad, ShortFileFailsAtTheFirstMissingLineAndKeepsWhatWasRead) {
  TempDir dir;
  const std::vector<std::string> all = Sample::Lines();
  Sample sample;
  for (const int count : {0, 1, 40, 46, 63}) {
    SCOPED_TRACE(count);
    const std::string path = dir.Write(
        "short.par", JoinCrLf(std::vector<std::string>(all.begin(), all.begin() + count)));
    TransformSettings s;
    OptionTable d = pelmo::DefaultOptionValues('.');
    const OptionTable defaults = d;
    const PropertiesError e = LoadError(path, s, d);
    EXPECT_EQ(e.number(), 62);
    EXPECT_EQ(e.line(), count + 1);
    EXPECT_EQ(pelmo::PropertiesErrorMessage(e.number(), false),
              "62   Fehler Beim Laden der Parameter Datei");
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_EQ(s.txtPAR, path);
    // Lines up to count were assigned, the later ones were not.
    EXPECT_EQ(s.optASCII, count >= 2);
    EXPECT_EQ(s.txtsevenParSys, count >= 31 ? sample.settings.txtsevenParSys : "no Transformation");
    EXPECT_EQ(s.txtP2_1, count >= 40 ? "-1" : "0");
    EXPECT_EQ(s.txtP2_2, count >= 41 ? "-2" : "0");
    EXPECT_EQ(d[pelmo::opt::kSperre], count >= 47 ? "2" : defaults[pelmo::opt::kSperre]);
    EXPECT_EQ(d[pelmo::opt::kOUTnorthing],
              count >= 63 ? "\"\"" : defaults[pelmo::opt::kOUTnorthing]);
    EXPECT_EQ(d[pelmo::opt::kOUTscale], defaults[pelmo::opt::kOUTscale]);
  }
}

TEST(PropertiesLoad, LinesBeyondSixtyFourAreIgnored) {
  TempDir dir;
  std::vector<std::string> lines = Sample::Lines();
  lines.push_back("\"\u00FCberz\u00E4hlig\"");
  lines.push_back("\"unterminated");
  lines.push_back(std::string("\xFF\xFE binary"));  // not even UTF-8: must not matter
  const std::string path = dir.Write("long.par", JoinCrLf(lines));
  Sample sample;
  TransformSettings s;
  OptionTable d = pelmo::DefaultOptionValues('.');
  pelmo::LoadProperties(path, s, d);
  ExpectStoredEqual(s, d, sample.settings, sample.dialog);
}

TEST(PropertiesLoad, ReservedLinesAreReadAndDropped) {
  TempDir dir;
  std::vector<std::string> lines = Sample::Lines();
  lines[2] = "#TRUE#";
  lines[3] = "17";
  lines[9] = "\"something\"";
  lines[10] = "bare words, with a comma";
  lines[16] = "";
  lines[17] = "\"unterminated";
  lines[21] = "3.5";
  lines[22] = "#FALSE#";
  lines[23] = "\"\"";
  const std::string path = dir.Write("reserved.par", JoinCrLf(lines));
  Sample sample;
  TransformSettings s;
  OptionTable d = pelmo::DefaultOptionValues('.');
  pelmo::LoadProperties(path, s, d);
  ExpectStoredEqual(s, d, sample.settings, sample.dialog);
}

TEST(PropertiesLoad, OptionButtonsAreAssignedAsRead) {
  TempDir dir;
  std::vector<std::string> lines = Sample::Lines();
  // All False: the groups are left without a selection.
  for (const int l : {1, 2, 5, 6, 7, 8, 9, 12, 13, 14, 15, 16}) lines[l - 1] = "#FALSE#";
  TransformSettings s;  // Shape, Krovak, GK-Germ selected
  OptionTable d = pelmo::DefaultOptionValues('.');
  pelmo::LoadProperties(dir.Write("none.par", JoinCrLf(lines)), s, d);
  for (const bool f :
       {s.optSHP, s.optASCII, s.optInGK, s.optInKrovak, s.optInBL, s.optINetrs, s.optINGKallgemein,
        s.optOutGK, s.optOutKrovak, s.optOutBL, s.optOUTetrs, s.optOutGKallgemein}) {
    EXPECT_FALSE(f);
  }

  // Two True in one group: the later one wins, the earlier is cleared.
  lines[0] = "#TRUE#", lines[1] = "#TRUE#";
  lines[4] = "#TRUE#", lines[6] = "#TRUE#";
  lines[11] = "#TRUE#", lines[15] = "#TRUE#";
  TransformSettings t;
  pelmo::LoadProperties(dir.Write("two.par", JoinCrLf(lines)), t, d);
  EXPECT_FALSE(t.optSHP);
  EXPECT_TRUE(t.optASCII);
  EXPECT_FALSE(t.optInGK);
  EXPECT_FALSE(t.optInKrovak);  // cleared by line 7, although line 6 is False
  EXPECT_TRUE(t.optInBL);
  EXPECT_FALSE(t.optOutGK);
  EXPECT_TRUE(t.optOutGKallgemein);

  // Blanks around a token are accepted.
  lines[0] = "  #TRUE# ", lines[1] = "\t#FALSE#";
  TransformSettings u;
  pelmo::LoadProperties(dir.Write("blanks.par", JoinCrLf(lines)), u, d);
  EXPECT_TRUE(u.optSHP);
}

TEST(PropertiesLoad, TextLineForms) {
  TempDir dir;
  std::vector<std::string> lines = Sample::Lines();
  lines[18] = "#TRUE#";              // a token in a text line is taken as it stands
  lines[19] = "  0,0816968  ";       // unquoted, e.g. edited by hand
  lines[20] = "  \"  padded  \"  ";  // blanks inside the quotes count
  lines[24] = "";                    // an empty line is an empty text
  lines[47] = "\"a, b\"";            // a comma inside quotes
  TransformSettings s;
  OptionTable d = pelmo::DefaultOptionValues('.');
  pelmo::LoadProperties(dir.Write("texts.par", JoinCrLf(lines)), s, d);
  EXPECT_EQ(s.txtEll1a, "#TRUE#");
  EXPECT_EQ(s.txtEll1e, "0,0816968");
  EXPECT_EQ(s.txtBezEll1, "  padded  ");
  EXPECT_EQ(s.txtEll2a, "");
  EXPECT_EQ(d[pelmo::opt::kGKBM], "a, b");
}

TEST(PropertiesLoad, MalformedValuesFailAtTheirLine) {
  struct Case {
    int line;
    std::string value;
    int number;
  };
  const Case cases[] = {
      {21, "\"missing quote", 13},
      {21, "\"text\" tail", 13},
      {19, "\"a\"b\"", 13},
      {47, "3", 380},
      {47, "-1", 380},
      {54, "99999999999999", 380},
      {55, "#TRUE#", 13},
      {56, "\"1\"", 13},
      {47, "1.0", 13},
      {47, "", 13},
      {1, "True", 13},
      {9, "1", 13},
      {12, "\"#TRUE#\"", 13},
      {64, "\"open", 13},
  };
  TempDir dir;
  Sample sample;
  for (const Case& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": " + c.value);
    std::vector<std::string> lines = Sample::Lines();
    lines[static_cast<std::size_t>(c.line - 1)] = c.value;
    const std::string path = dir.Write("bad.par", JoinCrLf(lines));
    TransformSettings s;
    OptionTable d = pelmo::DefaultOptionValues('.');
    const OptionTable defaults = d;
    const PropertiesError e = LoadError(path, s, d);
    EXPECT_EQ(e.number(), c.number);
    EXPECT_EQ(e.line(), c.line);
    EXPECT_NE(std::string(e.what()).find("Zeile " + std::to_string(c.line)), std::string::npos)
        << e.what();
    // The line before the faulty one is assigned, the next one is not.
    EXPECT_EQ(s.txtPAR, path);
    EXPECT_EQ(s.optASCII, c.line > 2);
    EXPECT_EQ(s.txtsevenParSys,
              c.line > 31 ? sample.settings.txtsevenParSys : std::string("no Transformation"));
    EXPECT_EQ(d[pelmo::opt::kINeasting], c.line > 57 ? sample.dialog[pelmo::opt::kINeasting]
                                                     : defaults[pelmo::opt::kINeasting]);
  }
}

TEST(PropertiesLoad, MissingFileOrFolder) {
  TempDir dir;
  TransformSettings s;
  OptionTable d = pelmo::DefaultOptionValues('.');
  PropertiesError e = LoadError(dir.File("missing.par"), s, d);
  EXPECT_EQ(e.number(), 53);
  EXPECT_EQ(e.line(), 0);
  EXPECT_EQ(s.txtPAR, "no loaded Properties");
  e = LoadError(dir.File("no_folder/missing.par"), s, d);
  EXPECT_EQ(e.number(), 76);
  EXPECT_EQ(s.txtPAR, "no loaded Properties");
}

TEST(PropertiesLoad, ReadErrorIsReportedWithItsNumber) {
  TempDir dir;
  Sample sample;
  const std::string path = dir.File("io.par");
  pelmo::SaveProperties(path, sample.settings, sample.dialog);
  TransformSettings s;
  OptionTable d = pelmo::DefaultOptionValues('.');
  pelmo::iohook::Arm(2);  // the open succeeds, the first read fails
  const PropertiesError e = LoadError(path, s, d);
  pelmo::iohook::Disarm();
  EXPECT_EQ(e.number(), 57);
  EXPECT_EQ(e.line(), 1);
  EXPECT_EQ(s.txtPAR, path);
  EXPECT_TRUE(s.optSHP);  // nothing assigned
}

TEST(PropertiesLoad, Windows1252FileIsConverted) {
  TempDir dir;
  std::vector<std::string> lines = Sample::Lines();
  // The same texts as the sample in Windows-1252, where the sample has
  // characters outside ASCII.
  lines[20] = "\"Bessel \"\"1841\"\" \xC4\"";
  lines[26] =
      "\"GRS 1980 \x96 Gr\xF6\xDF"
      "e\"";
  lines[30] = "\"M\xFCller \x80 \x84Zitat\x93\"";
  const std::string path = dir.Write("ansi.par", JoinCrLf(lines));
  TransformSettings s;
  OptionTable d = pelmo::DefaultOptionValues('.');
  pelmo::LoadProperties(path, s, d);
  EXPECT_EQ(s.txtBezEll1, "Bessel \"1841\" \u00C4");
  EXPECT_EQ(s.txtBezEll2, "GRS 1980 \u2013 Gr\u00F6\u00DFe");
  EXPECT_EQ(s.txtsevenParSys, "M\u00FCller \u20AC \u201EZitat\u201C");

  // Saving writes UTF-8.
  const std::string out = dir.File("utf8.par");
  pelmo::SaveProperties(out, s, d);
  const std::string bytes = ReadBytes(out);
  EXPECT_TRUE(pelmo::IsValidUtf8(bytes));
  EXPECT_NE(bytes.find("\"M\u00FCller \u20AC \u201EZitat\u201C\"\r\n"), std::string::npos);
}

TEST(PropertiesLoad, ByteOrderMarkIsSkipped) {
  TempDir dir;
  std::vector<std::string> lines = Sample::Lines();
  lines[0] = "\xEF\xBB\xBF" + lines[0];
  TransformSettings s;
  OptionTable d = pelmo::DefaultOptionValues('.');
  pelmo::LoadProperties(dir.Write("bom.par", JoinCrLf(lines)), s, d);
  Sample sample;
  ExpectStoredEqual(s, d, sample.settings, sample.dialog);
}

TEST(PropertiesLoad, OtherLineEndsAreAccepted) {
  TempDir dir;
  std::string lf, cr;
  for (const auto& l : Sample::Lines()) lf += l + "\n", cr += l + "\r";
  lf.pop_back();  // no line end after the last line
  Sample sample;
  for (const std::string& content : {lf, cr}) {
    TransformSettings s;
    OptionTable d = pelmo::DefaultOptionValues('.');
    pelmo::LoadProperties(dir.Write("ends.par", content), s, d);
    ExpectStoredEqual(s, d, sample.settings, sample.dialog);
  }
}

// ---------------------------------------------------------------- saving

TEST(PropertiesSave, FileThatCannotBeCreated) {
  TempDir dir;
  Sample sample;
  PropertiesError e = SaveError(dir.File("no_folder/x.par"), sample.settings, sample.dialog);
  EXPECT_EQ(e.number(), 76);
  EXPECT_EQ(e.line(), 0);
  EXPECT_EQ(pelmo::PropertiesErrorMessage(e.number(), true),
            "76   Fehler Beim Speichern der Parameter Datei");
  EXPECT_EQ(sample.settings.txtPAR, "no loaded Properties");
  EXPECT_FALSE(fs::exists(dir.path() / "no_folder"));

  // A folder of that name.
  fs::create_directory(dir.path() / "folder.par");
  e = SaveError(dir.File("folder.par"), sample.settings, sample.dialog);
  EXPECT_EQ(e.number(), 70);
  EXPECT_EQ(sample.settings.txtPAR, "no loaded Properties");
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder.par"));
}

TEST(PropertiesSave, WriteFailureIsReported) {
  TempDir dir;
  Sample sample;
  const std::string path = dir.File("full.par");
  pelmo::iohook::Arm(2);  // the open succeeds, writing fails (disk full)
  const PropertiesError e = SaveError(path, sample.settings, sample.dialog);
  pelmo::iohook::Disarm();
  EXPECT_EQ(e.number(), 61);
  EXPECT_EQ(sample.settings.txtPAR, path);  // the file was created
  EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
}

TEST(PropertiesSave, ValuesThatCannotBeWrittenAreRefusedBeforeTheFileIsTouched) {
  TempDir dir;
  const std::string path = dir.File("refused.par");
  struct Case {
    const char* what;
    int line;
    void (*change)(TransformSettings&, OptionTable&);
  };
  const Case cases[] = {
      {"check state 3", 47,
       [](TransformSettings&, OptionTable& d) { d[pelmo::opt::kSperre] = "3"; }},
      {"empty check state", 55,
       [](TransformSettings&, OptionTable& d) { d[pelmo::opt::kStat1] = ""; }},
      {"check state as text", 54,
       [](TransformSettings&, OptionTable& d) { d[pelmo::opt::kExp] = "True"; }},
      {"line break in a name", 21,
       [](TransformSettings& s, OptionTable&) { s.txtBezEll1 = "two\nlines"; }},
      {"CR in an option text", 64,
       [](TransformSettings&, OptionTable& d) { d[pelmo::opt::kOUTscale] = "1\r"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sample sample;
    c.change(sample.settings, sample.dialog);
    const PropertiesError e = SaveError(path, sample.settings, sample.dialog);
    EXPECT_EQ(e.number(), 380);
    EXPECT_EQ(e.line(), c.line);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(sample.settings.txtPAR, "no loaded Properties");
  }
}

TEST(PropertiesSave, ExistingFileIsReplaced) {
  TempDir dir;
  std::string longer;
  for (int i = 0; i < 200; ++i) longer += "\"old line " + std::to_string(i) + "\"\r\n";
  const std::string path = dir.Write("old.par", longer);
  Sample sample;
  pelmo::SaveProperties(path, sample.settings, sample.dialog);
  EXPECT_EQ(ReadBytes(path), JoinCrLf(Sample::Lines()));
}

// ---------------------------------------------------------------- encoding

TEST(PropertiesEncoding, Utf8Validity) {
  EXPECT_TRUE(pelmo::IsValidUtf8(""));
  EXPECT_TRUE(pelmo::IsValidUtf8("plain ASCII \x7F"));
  EXPECT_TRUE(pelmo::IsValidUtf8("\u00E4\u20AC\U0001F600\U0010FFFF\u07FF\uFFFD"));
  EXPECT_FALSE(pelmo::IsValidUtf8("\xE4"));  // Windows-1252 umlaut
  EXPECT_FALSE(pelmo::IsValidUtf8("M\xFCller"));
  EXPECT_FALSE(pelmo::IsValidUtf8("\x80"));              // lone continuation byte
  EXPECT_FALSE(pelmo::IsValidUtf8("\xC3"));              // truncated
  EXPECT_FALSE(pelmo::IsValidUtf8("\xE2\x82"));          // truncated
  EXPECT_FALSE(pelmo::IsValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(pelmo::IsValidUtf8("\xE0\x80\xAF"));      // overlong
  EXPECT_FALSE(pelmo::IsValidUtf8("\xF0\x80\x80\xAF"));  // overlong
  EXPECT_FALSE(pelmo::IsValidUtf8("\xED\xA0\x80"));      // surrogate U+D800
  EXPECT_FALSE(pelmo::IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(pelmo::IsValidUtf8("\xF8\x88\x80\x80\x80"));
  EXPECT_FALSE(pelmo::IsValidUtf8("\xC3\x28"));  // bad continuation
}

TEST(PropertiesEncoding, Windows1252Conversion) {
  EXPECT_EQ(pelmo::Windows1252ToUtf8("ASCII stays"), "ASCII stays");
  EXPECT_EQ(pelmo::Windows1252ToUtf8("\xC4\xD6\xDC\xE4\xF6\xFC\xDF"),
            "\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF");
  EXPECT_EQ(pelmo::Windows1252ToUtf8("\x80\x84\x93\x94\x96\x97\x8A\x9F\xA0\xFF"),
            "\u20AC\u201E\u201C\u201D\u2013\u2014\u0160\u0178\u00A0\u00FF");
  // Bytes the code page leaves undefined are kept as the C1 controls.
  EXPECT_EQ(pelmo::Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  // Every byte gives valid UTF-8.
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_TRUE(pelmo::IsValidUtf8(pelmo::Windows1252ToUtf8(all)));
}

}  // namespace
