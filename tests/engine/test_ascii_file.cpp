// Numbers written, refused, the locale's decimal sign (reading: the numtext fuzz corpus). The ASCII driver under
// either decimal sign: good lines, the message of a bad one, refused file operations, a write cut short.
#include <sys/resource.h>

#include <csignal>
#include <optional>

#include "test_support.hpp"

namespace pelmo::test {
namespace {

TEST(NumText, NegativeZeroWrittenAsZeroAndRefusalsInGerman) {
  EXPECT_EQ(FormatNumber(-0.0, ','), "0");  // other values: test_numtext.cpp against std::to_chars
  for (const auto& [text, what] : {std::pair{"1,5.2", "Typen unverträglich"}, std::pair{"1e400", "Überlauf"}}) {
    try { ADD_FAILURE() << ParseNumber(text); } catch (const RunTimeError& e) { EXPECT_STREQ(e.what(), what); }
    EXPECT_FALSE(IsNumeric(text));
  }
  EXPECT_TRUE(IsNumeric(" -0,25e+2\t") && std::signbit(ParseNumber("-0")));
}

TEST(NumText, DecimalSignOfTheLocale) {
  for (const char* name : {"de_DE.UTF-8", "de_AT", "cs_CZ.UTF-8", "fr_FR.ISO-8859-1", "de_DE@euro"})
    EXPECT_EQ(DecimalSignOfLocale(name), ',') << name;
  for (const char* name : {"C", "C.UTF-8", "POSIX", "", "en_US.UTF-8", "de_CH.UTF-8"}) EXPECT_EQ(DecimalSignOfLocale(name), '.') << name;
  // LC_ALL, then LC_NUMERIC, then LANG; an empty one does not count.
  const char* names[] = {"LC_ALL", "LC_NUMERIC", "LANG"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i) if (const char* v = std::getenv(names[i])) saved[i] = v;
  const char* de = "de_DE.UTF-8";
  const std::tuple<const char*, const char*, const char*, char> cases[] = {
      {de, "C", "C", ','}, {nullptr, de, "C", ','}, {"", nullptr, de, ','}, {"C", de, de, '.'}, {nullptr, nullptr, nullptr, '.'}};
  for (const auto& [all, numeric, lang, sign] : cases) {
    const char* values[] = {all, numeric, lang};
    for (int i = 0; i < 3; ++i) values[i] ? ::setenv(names[i], values[i], 1) : ::unsetenv(names[i]);
    EXPECT_EQ(DecimalSignFromEnvironment(), sign) << (numeric ? numeric : "-");
  }
  for (int i = 0; i < 3; ++i) saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
}

/// The text in the local spelling: commas become `sign`.
std::string L(std::string text, char sign) {
  std::replace(text.begin(), text.end(), ',', sign);
  return text;
}

std::string Repeat(const std::string& s, long n) {
  std::string r;
  while (n-- > 0) r += s;
  return r;
}

/// What the message says the target holds after `kept` lines.
std::string Kept(long kept) {
  return kept == 0 ? "Die Zieldatei ist leer."
         : kept == 1 ? "Die Zieldatei enthält die Zeile 1."
                     : "Die Zieldatei enthält die Zeilen 1 bis " + std::to_string(kept) + ".";
}

/// An ASCII job in translation mode (10, 20, 1).
struct AsciiJob {
  TempFolder dir;
  RecordingFrontEnd fe;
  Session s;
  std::string source = dir.File("quelle.txt"), target = dir.File("ziel.txt");
  explicit AsciiJob(char sign) : s(fe, sign) {
    TransformSettings& t = s.settings;
    t.optASCII = true, t.optSHP = false, t.optSevPar = false, t.optTranslation = true, t.txtDX = "10", t.txtDY = "20";
    t.txtDH = "1", t.txtQuelldatei = source, t.txtZielDatei = target, s.Touch();
  }
  bool Run(const std::string& content) {
    WriteBytes(source, content);
    return TransformAsciiFile(s);
  }
};

TEST(AsciiFile, GoodLinesAreShiftedAndWrittenInTheLocalSpelling) {
  const std::string acrossBlocks = "1" + std::string((1 << 16) - 3, ' ') + "2";  // its CR ends the first 64 KiB
  const std::string three = "11 22 4\r\n12 23 5\r\n13 24 6\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"1 2 3\r\n1.5 2 3\r\n1,5 -2.25 0.5\r\n", "11 22 4\r\n11,5 22 4\r\n11,5 17,75 1,5\r\n"},
      {"  45.5   5,25  \r\n1.5 2.5 3.5 extra 99\r\n7 8\r\n", "55,5 25,25 1\r\n11,5 22,5 4,5\r\n17 28 1\r\n"},
      {",5 -2e3 1E1\r\n3.50 4.000 -0\r\n1e-400 2 3\r\n", "10,5 -1980 11\r\n13,5 24 1\r\n10 22 4\r\n"},
      {"1.7976931348623157e308 0 0\r\n", "1,79769313486232e+308 20 1\r\n"},
      {"", ""}, {"1 2 3\n2 3 4\n3 4 5\n", three}, {"1 2 3\r2 3 4\r3 4 5\r", three}, {"1 2 3\r\n2 3 4\n3 4 5", three},
      {"\xEF\xBB\xBF" "1 2 3\r\n2 3 4\r\n3 4 5\r\n", three},
      {acrossBlocks + "\r\n5 6\r\n", "11 22 1\r\n15 26 1\r\n"}, {acrossBlocks + "\r5 6\r", "11 22 1\r\n15 26 1\r\n"},
      {"1 2 3 " + std::string(10'000'000, 'x') + "\r\n4 5 6\r\n", "11 22 4\r\n14 25 7\r\n"}};  // further fields, however long
  for (const char sign : {',', '.'}) {
    for (const auto& [source, want] : cases) {
      AsciiJob job(sign);
      WriteBytes(job.target, std::string(10000, 'x'));  // an older, longer target
      EXPECT_TRUE(job.Run(source)) << job.fe.OnlyMessage();
      EXPECT_EQ(ReadBytes(job.target), L(want, sign)) << source.substr(0, 40);
      EXPECT_EQ(job.fe.eventPasses, static_cast<long>(SplitCrLf(want).size()));
    }
  }
}

// A layout keeps every line end, wherever the reader's 64 KiB end among them (after a CR of a CR LF, a lone CR, ...):
// a translation by 0 of numbers spelled as the program writes them gives back the source.
TEST(AsciiFile, LayoutKeepsEveryLineEndWhereverTheReadsEnd) {
  const std::string ends[] = {"\n", "\r", "\r\n"};
  for (int shift = 0; shift < 16; ++shift) {
    AsciiJob job('.');
    job.s.settings.txtDX = job.s.settings.txtDY = job.s.settings.txtDH = "0", job.s.Touch();
    job.s.asciiLayout = {true, {AsciiColumn::kFirst, AsciiColumn::kSecond, AsciiColumn::kHeight}, AsciiSeparator::kSemicolon, 0};
    std::string input = "#" + std::string(shift, 'x') + "\n";
    for (int i = 0; input.size() < (1 << 17) + 64; ++i) input += std::to_string(i) + ".5;" + std::to_string(i % 7) + ";1" + ends[i % 3];
    EXPECT_TRUE(job.Run(input + "1;2;3\r")) << job.fe.OnlyMessage();
    EXPECT_TRUE(ReadBytes(job.target) == input + "1;2;3\r") << shift;
  }
}

// One message (title Pelmo): error, field, line number and text (U+FFFD for what cannot be shown), what the
// target keeps, which are the lines before; the source stays.
TEST(AsciiFile, BadLineStopsTheRunWithOneMessage) {
  const std::string R = "\xEF\xBF\xBD", mismatch = "Typen unverträglich", range = "Index außerhalb des gültigen Bereichs";
  const std::string tooLong = "Nicht genügend Zeichenfolgenspeicher: die Zeile ist länger als 1048576 Zeichen";
  const std::string utf16 = mismatch + ": die Datei ist in UTF-16 geschrieben; gelesen werden ANSI- und UTF-8-Textdateien";
  std::string png = "\x89PNG\r\n\x1A\n" + std::string("\0\0\0\rIHDR", 8);
  for (int i = 0; i < 2000; ++i) png += static_cast<char>((i * 37 + 11) % 256);
  const std::string digits(10'000'000, '7');
  // The field's line of the message: the column, its value, what is wrong.
  const auto F = [](int column, const std::string& value, const char* what = " ist keine Zahl") {
    const char* names[] = {"", "erster Wert", "zweiter Wert", "Höhe"};
    return "\r\nSpalte " + std::to_string(column) + " (" + names[column] + ")" + (value.empty() ? "" : ": \"" + value + "\"") + what;
  };
  const struct {
    std::string source, error;
    long line;  // the lines before it are good
    std::string shown;
    bool chain = false;
  } cases[] = {
      {"1 2 3\r\n1 2 3\r\n\r\n", range + F(1, "", " fehlt"), 3, ""}, {"1 2 3\n 4.2 \n4 5 6\n", range + F(2, "", " fehlt"), 2, " 4.2 "},
      {"1 2 3\r\n4.5 x 6\r\n7 8 9\r\n", mismatch + F(2, "x"), 2, "4.5 x 6"},
      {"Rechtswert Hochwert\r\n1 2 3\r\n", mismatch + F(1, "Rechtswert"), 1, "Rechtswert Hochwert"},
      {"1 2 abc\r\n", mismatch + F(3, "abc"), 1, "1 2 abc"}, {"1\t2\t3\r\n", mismatch + F(1, "1\t2\t3"), 1, "1\t2\t3"},
      {"5.500.000,25 5800000 0\r\n", mismatch + F(1, "5.500.000,25"), 1, "5.500.000,25 5800000 0"},
      {"1 2 3\r\nnan 2 3\r\n", mismatch + F(1, "nan"), 2, "nan 2 3"},
      {"1e400 2 3\r\n", "Überlauf" + F(1, "1e400", " ist zu groß für eine Zahl"), 1, "1e400 2 3"},
      {std::string("1 2 3\r\n4\0 5 6\r\n", 15), mismatch + F(1, "4" + R), 2, "4" + R + " 5 6"},
      {"1 2 3\r\n\xEF\xBB\xBF" "4 5 6\r\n", mismatch + F(1, R + "4"), 2, R + "4 5 6"},  // a mark inside a file is no blank
      {png, mismatch + F(1, R + "PNG"), 1, R + "PNG"}, {std::string("\xFF\xFE" "1\0\r\0\n\0", 8), utf16, 1, R + R + "1" + R},
      {std::string("\xFE\xFF\0" "1\0\r\0\n", 8), utf16, 1, R + R + R + "1" + R},
      {"1 2 3\r\n" + digits + " 2 3\r\n", tooLong, 2, std::string(200, '7') + "..."},  // lines are kept up to 1 MiB
      {"1 2 " + digits + "\r\n", tooLong, 1, "1 2 " + std::string(196, '7') + "..."},
      {Repeat("1 2 3\r\n", 15000) + "1 zwei 3\r\n4 5 6\r\n", mismatch + F(2, "zwei"), 15001, "1 zwei 3"},
      // The chain's own errors: a meridian that is no number, a scale of 0.
      {"5500000 5650000 0\r\n", mismatch, 1, "5500000 5650000 0", true},
      {"33500000 5650000 0\r\n", "Division durch Null", 1, "33500000 5650000 0", true}};
  for (const char sign : {',', '.'}) {
    for (const auto& [source, error, line, shown, chain] : cases) {
      AsciiJob job(sign);
      if (chain) {
        UseBesselOnBothSides(job.s);
        TransformSettings& t = job.s.settings;
        t.optInKrovak = t.optOutGK = false, t.optOutBL = true;
        (error == mismatch ? t.optInGK : t.optINetrs) = true;
        job.s.OptionValues[opt::kGKBM] = "15 Grad", job.s.OptionValues[opt::kUTMma] = "0";
      }
      EXPECT_FALSE(job.Run(source));
      EXPECT_EQ(ReadBytes(job.source), source) << "source changed";
      EXPECT_TRUE(ReadBytes(job.target) == Repeat(L("11 22 4\r\n", sign), line - 1)) << line;
      EXPECT_EQ(job.fe.OnlyMessage(), error + "\r\nZeile " + std::to_string(line) + ": " + shown + "\r\n" + Kept(line - 1));
      EXPECT_EQ(job.fe.messages[0].title, "Pelmo");
      EXPECT_EQ(job.fe.eventPasses, line - 1) << "no line is read after the bad one";
    }
  }
  AsciiJob job('.');
  job.s.settings.txtZielDatei = job.dir.File("fehlt/ziel.txt");
  EXPECT_FALSE(job.Run("1 2 3\r\n"));
  EXPECT_EQ(job.fe.OnlyMessage(), "Pfad nicht gefunden: Datei \"" + job.dir.File("fehlt/ziel.txt") + "\" (Öffnen)");
}

// Refused in turn: one message, the source unchanged, no file left open, the target holding the first lines the
// message says. A write the system cuts short leaves no piece of a line.
TEST(AsciiFile, FailingWritesLeaveWholeLines) {
  AsciiJob job(',');
  std::string input, result;
  constexpr long kLines = 8000;
  for (long i = 0; i < kLines; ++i) {
    input += std::to_string(i) + ".5 " + std::to_string(2 * i) + " 3\r\n";
    result += std::to_string(i + 10) + ",5 " + std::to_string(2 * i + 20) + " 4\r\n";
  }
  const auto files = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = files();
  std::vector<long> keptSeen;
  const auto check = [&](bool done, bool complete) {
    EXPECT_EQ(ReadBytes(job.source), input);
    EXPECT_EQ(done, complete);
    const std::string got = ReadBytes(job.target), msg = complete ? "" : job.fe.OnlyMessage();
    if (complete || !std::filesystem::exists(job.target)) {  // not created: nothing said of lines
      EXPECT_TRUE(complete ? got == result : msg.find("Zieldatei") == std::string::npos) << msg;
      return;
    }
    keptSeen.push_back(static_cast<long>(SplitCrLf(got).size()));
    EXPECT_TRUE(msg.ends_with("\r\n" + Kept(keptSeen.back()))) << msg;
    EXPECT_TRUE(result.starts_with(got) && (got.empty() || got.ends_with("\r\n")));
  };
  const long steps = ForEachFailingOperation(
      [&] {
        WriteBytes(job.source, input);
        std::filesystem::remove(job.target);
        job.fe = RecordingFrontEnd();
        job.s.settings.txtDateien.clear();
        return RunJob(job.s);
      },
      [&](JobOutcome outcome, bool complete) {
        EXPECT_EQ(files(), before) << "a file was left open";
        check(outcome == JobOutcome::kDone, complete);
      });
  EXPECT_GE(steps, 8);
  EXPECT_TRUE(std::count(keptSeen.begin(), keptSeen.end(), 0) && std::count(keptSeen.begin(), keptSeen.end(), kLines));
  // A file size limit cuts a line: the target ends at the last whole line, the message says "disk full".
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = old;
  limit.rlim_cur = 100000;
  setrlimit(RLIMIT_FSIZE, &limit);
  job.fe = RecordingFrontEnd();
  const bool done = TransformAsciiFile(job.s);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, handler);
  check(done, false);
  EXPECT_EQ(job.fe.OnlyMessage().rfind("Datenträger voll", 0), 0u);
}

}  // namespace
}  // namespace pelmo::test
