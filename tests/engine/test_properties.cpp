// The properties file (".par"): the 64-line layout, save/load round trips,
// the encodings, and the ways a load or save can fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "paramfiles/encoding.hpp"
#include "paramfiles/properties.hpp"
#include "test_support.hpp"

namespace pelmo {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempFolder;

/// Writes `bytes` into the file `name` of `dir`; returns its path.
std::string Put(const TempFolder& dir, const std::string& name, const std::string& bytes) {
  test::WriteBytes(dir.File(name), bytes);
  return dir.File(name);
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
    const std::string f = "#FALSE#", t = "#TRUE#", free = "\"Free\"";
    return {
        f, t, free, free, f, f, f, f, t, free, free, f, f, f, t, f, free, free,  // 1-18
        "\"6377397,155\"", "\"0,0816968312225275\"", "\"Bessel \"\"1841\"\" \u00C4\"",
        free, free, free,  // 19-24
        "\"6378137\"", "\"0.0818191910428158\"", "\"GRS 1980 \u2013 Gr\u00F6\u00DFe\"",
        free, free, free,  // 25-30
        "\"DHDN \u2192 ETRS89, S\u00FCd\"", "\"598,1\"", "\"73,7\"", "\"418,2\"", "\"6,7\"",
        "\"2,455\"", "\"-0,045\"", "\"-0,202\"",  // 31-38
        "\"\"", "\"-1\"", "\"-2\"", "\"-3\"", "\"-4\"", "\"-5\"", "\"\"\"\"",
        "\"  7  \"",  // 39-46
        "2", "\"9\"", "\"12\"", "\"-177\"", "\"177\"", "\"0,9996\"", "\"0.9995\"", "0", "1",
        "2",  // 47-56
        "\"500000\"", "\"12,5\"", "\"-100\"", "\"0,9999\"", "\"4500000\"", "\"9\"",
        "\"\"\"\"\"\"", "\"1\"",  // 57-64
    };
  }
};

/// The bytes SaveProperties writes for a configuration. Two configurations
/// store the same values exactly when these agree (the layout itself is
/// checked against Sample::Lines).
std::string Saved(TransformSettings s, const OptionTable& d) {
  TempFolder dir;
  SaveProperties(dir.File("x.par"), s, d);
  return ReadBytes(dir.File("x.par"));
}

/// Loads `path` into fresh settings and the default dialog values.
struct Loaded {
  TransformSettings s;
  OptionTable d = DefaultOptionValues('.');
  explicit Loaded(const std::string& path) { LoadProperties(path, s, d); }
  std::string Bytes() const { return Saved(s, d); }
};

/// Runs a load or save and returns the error it throws (number -1: none).
template <class Call>
PropertiesError ErrorOf(Call&& call) {
  try {
    call();
  } catch (const PropertiesError& e) {
    return e;
  }
  return PropertiesError(-1, 0, "no error");
}

// ---------------------------------------------------------------- layout

TEST(PropertiesFormat, SaveWritesTheSixtyFourLinesWithCrLf) {
  TempFolder dir;
  Sample sample;
  const std::string path = dir.File("sample.par");
  SaveProperties(path, sample.settings, sample.dialog);
  EXPECT_EQ(sample.settings.txtPAR, path);
  EXPECT_EQ(ReadBytes(path), JoinCrLf(Sample::Lines()));

  // An existing longer file is replaced.
  std::string longer;
  for (int i = 0; i < 200; ++i) longer += "\"old line " + std::to_string(i) + "\"\r\n";
  SaveProperties(Put(dir, "old.par", longer), sample.settings, sample.dialog);
  EXPECT_EQ(ReadBytes(dir.File("old.par")), JoinCrLf(Sample::Lines()));
}

TEST(PropertiesFormat, MessagesAndNumbers) {
  EXPECT_EQ(PropertiesErrorMessage(62, false), "62   Fehler Beim Laden der Parameter Datei");
  EXPECT_EQ(PropertiesErrorMessage(76, true), "76   Fehler Beim Speichern der Parameter Datei");
  EXPECT_EQ(PropertiesErrorMessage(380, false), "380   Fehler Beim Laden der Parameter Datei");
  EXPECT_EQ(PropertiesErrorText(380), "Ungültiger Eigenschaftswert");
  EXPECT_EQ(PropertiesErrorText(53), "Datei nicht gefunden");
}

// ---------------------------------------------------------------- round trips

TEST(PropertiesRoundTrip, LoadRestoresEveryStoredControlAndNothingElse) {
  TempFolder dir;
  Sample sample;
  const std::string path = dir.File("round.par");
  SaveProperties(path, sample.settings, sample.dialog);

  TransformSettings loaded;
  loaded.txtQuelldatei = "in.shp", loaded.txtZielDatei = "out.shp";
  loaded.txtDX = "1", loaded.txtDY = "2", loaded.txtDH = "3";
  loaded.optSevPar = false, loaded.optTranslation = true;
  loaded.txtDateien = "log";
  OptionTable dialog = DefaultOptionValues(',');
  dialog[opt::kSevPar] = "False", dialog[opt::kTranslation] = "True";
  LoadProperties(path, loaded, dialog);

  EXPECT_EQ(Saved(loaded, dialog), JoinCrLf(Sample::Lines()));
  EXPECT_EQ(loaded.txtPAR, path);
  EXPECT_EQ(loaded.txtQuelldatei, "in.shp");
  EXPECT_EQ(loaded.txtZielDatei, "out.shp");
  EXPECT_EQ(loaded.txtDX + loaded.txtDY + loaded.txtDH, "123");
  EXPECT_FALSE(loaded.optSevPar);
  EXPECT_TRUE(loaded.optTranslation);
  EXPECT_EQ(loaded.txtDateien, "log");
  EXPECT_EQ(dialog[opt::kSevPar], "False");
  EXPECT_EQ(dialog[opt::kTranslation], "True");
}

TEST(PropertiesRoundTrip, EverySelectionOfTheOptionGroupsSurvives) {
  TempFolder dir;
  const std::string path = dir.File("groups.par");
  for (int i = 0; i < 5; ++i) {
    TransformSettings s;
    bool* in[] = {&s.optInGK, &s.optInKrovak, &s.optInBL, &s.optINetrs, &s.optINGKallgemein};
    bool* out[] = {&s.optOutGK, &s.optOutKrovak, &s.optOutBL, &s.optOUTetrs, &s.optOutGKallgemein};
    for (int k = 0; k < 5; ++k) *in[k] = k == i, *out[k] = k == (i + 3) % 5;
    s.optSHP = i % 2 == 0, s.optASCII = i % 2 == 1;
    const OptionTable d = DefaultOptionValues('.');
    SaveProperties(path, s, d);
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(Loaded(path).Bytes(), bytes) << i;  // loaded over Krovak in, GK-Germ out, Shape
  }
}

TEST(PropertiesRoundTrip, Utf8FileIsReproducedByteForByte) {
  TempFolder dir;
  // Written by hand: umlauts, a euro sign, doubled quotes, check states 0-2.
  std::vector<std::string> lines = Sample::Lines();
  lines[20] = "\"Stra\u00DFen-\u00C4quator \u20AC \"\"x\"\"\"";
  lines[30] = "\"\u00D6sterreich \u00FC\u00E4\u00F6\"";
  const std::string original = JoinCrLf(lines);
  const Loaded loaded(Put(dir, "a.par", original));
  EXPECT_EQ(loaded.s.txtBezEll1, "Stra\u00DFen-\u00C4quator \u20AC \"x\"");
  EXPECT_EQ(loaded.s.txtsevenParSys, "\u00D6sterreich \u00FC\u00E4\u00F6");
  EXPECT_EQ(loaded.Bytes(), original);
}

// ---------------------------------------------------------------- loading

TEST(PropertiesLoad, ShortFileFailsAtTheFirstMissingLineAndKeepsWhatWasRead) {
  TempFolder dir;
  const std::vector<std::string> all = Sample::Lines();
  Sample sample;
  for (const int count : {0, 1, 40, 46, 63}) {
    SCOPED_TRACE(count);
    const std::string path = Put(
        dir, "short.par", JoinCrLf(std::vector<std::string>(all.begin(), all.begin() + count)));
    TransformSettings s;
    OptionTable d = DefaultOptionValues('.');
    const OptionTable defaults = d;
    const PropertiesError e = ErrorOf([&] { LoadProperties(path, s, d); });
    EXPECT_EQ(e.number(), 62);
    EXPECT_EQ(e.line(), count + 1);
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_EQ(s.txtPAR, path);
    // Lines up to count were assigned, the later ones were not.
    EXPECT_EQ(s.optASCII, count >= 2);
    EXPECT_EQ(s.txtsevenParSys, count >= 31 ? sample.settings.txtsevenParSys : "no Transformation");
    EXPECT_EQ(s.txtP2_1, count >= 40 ? "-1" : "0");
    EXPECT_EQ(s.txtP2_2, count >= 41 ? "-2" : "0");
    EXPECT_EQ(d[opt::kSperre], count >= 47 ? "2" : defaults[opt::kSperre]);
    EXPECT_EQ(d[opt::kOUTnorthing], count >= 63 ? "\"\"" : defaults[opt::kOUTnorthing]);
    EXPECT_EQ(d[opt::kOUTscale], defaults[opt::kOUTscale]);
  }
}

TEST(PropertiesLoad, LinesBeyondSixtyFourAreIgnored) {
  TempFolder dir;
  std::vector<std::string> lines = Sample::Lines();
  lines.push_back("\"\u00FCberz\u00E4hlig\"");
  lines.push_back("\"unterminated");
  lines.push_back(std::string("\xFF\xFE binary"));  // not even UTF-8: must not matter
  EXPECT_EQ(Loaded(Put(dir, "long.par", JoinCrLf(lines))).Bytes(), JoinCrLf(Sample::Lines()));
}

// The reserved ("Free") lines are read and dropped whatever they hold; a
// byte order mark is skipped; LF and CR line ends are read as well.
TEST(PropertiesLoad, ReservedLinesByteOrderMarkAndOtherLineEnds) {
  TempFolder dir;
  std::vector<std::string> reserved = Sample::Lines();
  reserved[2] = "#TRUE#", reserved[3] = "17", reserved[9] = "\"something\"";
  reserved[10] = "bare words, with a comma", reserved[16] = "", reserved[17] = "\"unterminated";
  reserved[21] = "3.5", reserved[22] = "#FALSE#", reserved[23] = "\"\"";
  std::vector<std::string> bom = Sample::Lines();
  bom[0] = "\xEF\xBB\xBF" + bom[0];
  std::string lf, cr;
  for (const auto& l : Sample::Lines()) lf += l + "\n", cr += l + "\r";
  lf.pop_back();  // no line end after the last line
  const std::pair<const char*, std::string> files[] = {
      {"reserved", JoinCrLf(reserved)}, {"bom", JoinCrLf(bom)}, {"lf", lf}, {"cr", cr}};
  for (const auto& [name, content] : files) {
    EXPECT_EQ(Loaded(Put(dir, name, content)).Bytes(), JoinCrLf(Sample::Lines())) << name;
  }
}

TEST(PropertiesLoad, OptionButtonsAreAssignedAsRead) {
  TempFolder dir;
  std::vector<std::string> lines = Sample::Lines();
  // All False: the groups are left without a selection.
  for (const int l : {1, 2, 5, 6, 7, 8, 9, 12, 13, 14, 15, 16}) lines[l - 1] = "#FALSE#";
  const TransformSettings none = Loaded(Put(dir, "none.par", JoinCrLf(lines))).s;
  for (const bool f : {none.optSHP, none.optASCII, none.optInGK, none.optInKrovak, none.optInBL,
                       none.optINetrs, none.optINGKallgemein, none.optOutGK, none.optOutKrovak,
                       none.optOutBL, none.optOUTetrs, none.optOutGKallgemein}) {
    EXPECT_FALSE(f);
  }
  // Two True in one group: the later one wins, the earlier is cleared.
  lines[0] = lines[1] = lines[4] = lines[6] = lines[11] = lines[15] = "#TRUE#";
  const TransformSettings two = Loaded(Put(dir, "two.par", JoinCrLf(lines))).s;
  EXPECT_FALSE(two.optSHP);
  EXPECT_TRUE(two.optASCII);
  EXPECT_FALSE(two.optInGK);
  EXPECT_FALSE(two.optInKrovak);  // cleared by line 7, although line 6 is False
  EXPECT_TRUE(two.optInBL);
  EXPECT_FALSE(two.optOutGK);
  EXPECT_TRUE(two.optOutGKallgemein);
  // Blanks around a token are accepted.
  lines[0] = "  #TRUE# ", lines[1] = "\t#FALSE#";
  EXPECT_TRUE(Loaded(Put(dir, "blanks.par", JoinCrLf(lines))).s.optSHP);
}

TEST(PropertiesLoad, TextLineForms) {
  TempFolder dir;
  std::vector<std::string> lines = Sample::Lines();
  lines[18] = "#TRUE#";              // a token in a text line is taken as it stands
  lines[19] = "  0,0816968  ";       // unquoted, e.g. edited by hand
  lines[20] = "  \"  padded  \"  ";  // blanks inside the quotes count
  lines[24] = "";                    // an empty line is an empty text
  lines[47] = "\"a, b\"";            // a comma inside quotes
  const Loaded loaded(Put(dir, "texts.par", JoinCrLf(lines)));
  EXPECT_EQ(loaded.s.txtEll1a, "#TRUE#");
  EXPECT_EQ(loaded.s.txtEll1e, "0,0816968");
  EXPECT_EQ(loaded.s.txtBezEll1, "  padded  ");
  EXPECT_EQ(loaded.s.txtEll2a, "");
  EXPECT_EQ(loaded.d[opt::kGKBM], "a, b");
}

TEST(PropertiesLoad, MalformedValuesFailAtTheirLine) {
  const struct {
    int line;
    const char* value;
    int number;
  } cases[] = {
      {21, "\"missing quote", 13}, {21, "\"text\" tail", 13},   {19, "\"a\"b\"", 13},
      {47, "3", 380},              {47, "-1", 380},             {54, "99999999999999", 380},
      {55, "#TRUE#", 13},          {56, "\"1\"", 13},           {47, "1.0", 13},
      {47, "", 13},                {1, "True", 13},             {9, "1", 13},
      {12, "\"#TRUE#\"", 13},      {64, "\"open", 13},
  };
  TempFolder dir;
  Sample sample;
  for (const auto& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": " + c.value);
    std::vector<std::string> lines = Sample::Lines();
    lines[static_cast<std::size_t>(c.line - 1)] = c.value;
    const std::string path = Put(dir, "bad.par", JoinCrLf(lines));
    TransformSettings s;
    OptionTable d = DefaultOptionValues('.');
    const OptionTable defaults = d;
    const PropertiesError e = ErrorOf([&] { LoadProperties(path, s, d); });
    EXPECT_EQ(e.number(), c.number);
    EXPECT_EQ(e.line(), c.line);
    EXPECT_NE(std::string(e.what()).find("Zeile " + std::to_string(c.line)), std::string::npos)
        << e.what();
    // The line before the faulty one is assigned, the next one is not.
    EXPECT_EQ(s.txtPAR, path);
    EXPECT_EQ(s.optASCII, c.line > 2);
    EXPECT_EQ(s.txtsevenParSys,
              c.line > 31 ? sample.settings.txtsevenParSys : std::string("no Transformation"));
    EXPECT_EQ(d[opt::kINeasting],
              c.line > 57 ? sample.dialog[opt::kINeasting] : defaults[opt::kINeasting]);
  }
}

TEST(PropertiesLoad, MissingFileOrFolder) {
  TempFolder dir;
  TransformSettings s;
  OptionTable d = DefaultOptionValues('.');
  PropertiesError e = ErrorOf([&] { LoadProperties(dir.File("missing.par"), s, d); });
  EXPECT_EQ(e.number(), 53);
  EXPECT_EQ(e.line(), 0);
  EXPECT_EQ(s.txtPAR, "no loaded Properties");
  e = ErrorOf([&] { LoadProperties(dir.File("no_folder/missing.par"), s, d); });
  EXPECT_EQ(e.number(), 76);
  EXPECT_EQ(s.txtPAR, "no loaded Properties");
}

TEST(PropertiesLoad, Windows1252FileIsConverted) {
  TempFolder dir;
  std::vector<std::string> lines = Sample::Lines();
  // The sample's texts outside ASCII in Windows-1252.
  lines[20] = "\"Bessel \"\"1841\"\" \xC4\"";
  lines[26] = "\"GRS 1980 \x96 Gr\xF6\xDF" "e\"";
  lines[30] = "\"M\xFCller \x80 \x84Zitat\x93\"";
  const Loaded loaded(Put(dir, "ansi.par", JoinCrLf(lines)));
  EXPECT_EQ(loaded.s.txtBezEll1, "Bessel \"1841\" \u00C4");
  EXPECT_EQ(loaded.s.txtBezEll2, "GRS 1980 \u2013 Gr\u00F6\u00DFe");
  EXPECT_EQ(loaded.s.txtsevenParSys, "M\u00FCller \u20AC \u201EZitat\u201C");
  // Saving writes UTF-8.
  const std::string bytes = loaded.Bytes();
  EXPECT_TRUE(IsValidUtf8(bytes));
  EXPECT_NE(bytes.find("\"M\u00FCller \u20AC \u201EZitat\u201C\"\r\n"), std::string::npos);
}

// ---------------------------------------------------------------- saving

TEST(PropertiesSave, FileThatCannotBeCreated) {
  TempFolder dir;
  Sample sample;
  auto save = [&](const std::string& path) {
    return ErrorOf([&] { SaveProperties(path, sample.settings, sample.dialog); });
  };
  PropertiesError e = save(dir.File("no_folder/x.par"));
  EXPECT_EQ(e.number(), 76);
  EXPECT_EQ(e.line(), 0);
  EXPECT_EQ(sample.settings.txtPAR, "no loaded Properties");
  EXPECT_FALSE(fs::exists(dir.path() / "no_folder"));
  // A folder of that name.
  fs::create_directory(dir.path() / "folder.par");
  EXPECT_EQ(save(dir.File("folder.par")).number(), 70);
  EXPECT_EQ(sample.settings.txtPAR, "no loaded Properties");
  EXPECT_TRUE(fs::is_directory(dir.path() / "folder.par"));
}

TEST(PropertiesSave, ValuesThatCannotBeWrittenAreRefusedBeforeTheFileIsTouched) {
  TempFolder dir;
  const std::string path = dir.File("refused.par");
  const struct {
    const char* what;
    int line;
    void (*change)(TransformSettings&, OptionTable&);
  } cases[] = {
      {"check state 3", 47, [](TransformSettings&, OptionTable& d) { d[opt::kSperre] = "3"; }},
      {"empty check state", 55, [](TransformSettings&, OptionTable& d) { d[opt::kStat1] = ""; }},
      {"check state as text", 54,
       [](TransformSettings&, OptionTable& d) { d[opt::kExp] = "True"; }},
      {"line break in a name", 21,
       [](TransformSettings& s, OptionTable&) { s.txtBezEll1 = "two\nlines"; }},
      {"CR in an option text", 64,
       [](TransformSettings&, OptionTable& d) { d[opt::kOUTscale] = "1\r"; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sample sample;
    c.change(sample.settings, sample.dialog);
    const PropertiesError e =
        ErrorOf([&] { SaveProperties(path, sample.settings, sample.dialog); });
    EXPECT_EQ(e.number(), 380);
    EXPECT_EQ(e.line(), c.line);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(sample.settings.txtPAR, "no loaded Properties");
  }
}

// ---------------------------------------------------------------- encoding

TEST(PropertiesEncoding, Utf8ValidityAndWindows1252Conversion) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain ASCII \x7F"));
  EXPECT_TRUE(IsValidUtf8("\u00E4\u20AC\U0001F600\U0010FFFF\u07FF\uFFFD"));
  for (const char* bad : {
           "M\xFCller",             // Windows-1252 umlaut
           "\x80",                  // lone continuation byte
           "\xC3", "\xE2\x82",      // truncated
           "\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",  // overlong
           "\xED\xA0\x80",          // surrogate U+D800
           "\xF4\x90\x80\x80",      // above U+10FFFF
           "\xF8\x88\x80\x80\x80", "\xC3\x28"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << testing::PrintToString(std::string(bad));
  }

  EXPECT_EQ(Windows1252ToUtf8("ASCII stays"), "ASCII stays");
  EXPECT_EQ(Windows1252ToUtf8("\xC4\xD6\xDC\xE4\xF6\xFC\xDF"),
            "\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF");
  EXPECT_EQ(Windows1252ToUtf8("\x80\x84\x93\x94\x96\x97\x8A\x9F\xA0\xFF"),
            "\u20AC\u201E\u201C\u201D\u2013\u2014\u0160\u0178\u00A0\u00FF");
  // Bytes the code page leaves undefined are kept as the C1 controls.
  EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_TRUE(IsValidUtf8(Windows1252ToUtf8(all)));
}

}  // namespace
}  // namespace pelmo
