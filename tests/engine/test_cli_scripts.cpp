// pelmo-cli in scripts: pipes, several sources into a folder, the decimal sign of written numbers, the progress line on
// a terminal only, --help against the manual page, and the Debian package.
#include <pty.h>

#include <regex>
#include <set>
#include <sstream>

#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

const std::string kSource = PELMO_SOURCE_DIR, kSample = kSource + "/data/samples/gk5_bessel_points.txt";
/// The usual job (DHDN Gauss-Krueger zone 5 to UTM 33) with library names.
const std::string kJob = "--in GK-Germ --out UTM --ell1 Bessel_1841 --ell2 GRS_1980 --7par1 DHDN_to_ETRS89_EPSG1776";

/// `n` Gauss-Krueger points around zone 5, CR LF lines; line `bad` (1-based, 0 for none) is not a point.
std::string Points(int n, int bad = 0) {
  std::string s;
  for (int i = 1; i <= n; ++i)
    s += (i == bad ? "5500000 Nord 12" : std::to_string(5400000 + 37 * i) + ".5 " + std::to_string(5600000 + 53 * i) + " " +
                                             std::to_string(i % 300)) + "\r\n";
  return s;
}

/// The first `n` CR LF lines of `text`.
std::string FirstLines(const std::string& text, int n) {
  std::size_t end = 0;
  for (int i = 0; i < n; ++i) end = text.find("\r\n", end) + 2;
  return text.substr(0, end);
}

TEST(CliScripts, PipesGiveTheBytesOfTheFileJob) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), Points(3000));
  WriteBytes(dir.File("bad.txt"), Points(3000, 2000));
  ASSERT_EQ(Sh(dir, "$CLI " + kJob + " in.txt file.txt").status, 0);
  const std::string whole = ReadBytes(dir.File("file.txt"));
  ASSERT_EQ(std::count(whole.begin(), whole.end(), '\n'), 3000);
  // The line, its status, standard output (or the target t.txt), a piece of the message.
  const std::tuple<std::string, int, std::string, std::string> cases[] = {
      {"cat in.txt | $CLI " + kJob + " - -", 0, whole, ""}, {"$CLI " + kJob + " - - <in.txt", 0, whole, ""},
      {"cat in.txt | $CLI " + kJob + " - t.txt", 0, whole, ""}, {"$CLI " + kJob + " in.txt -", 0, whole, ""},
      // A bad line in the middle: the lines before it are out, then the stop.
      {"cat bad.txt | $CLI " + kJob + " - -", 1, FirstLines(whole, 1999), "Zeile 2000: 5500000 Nord 12"},
      {"cat bad.txt | $CLI " + kJob + " - t.txt", 1, FirstLines(whole, 1999), "enthält die Zeilen 1 bis 1999"},
      // No shapefile through a pipe.
      {"cat in.txt | $CLI --type shape " + kJob + " - t.shp", 1, "", "nur für ASCII-Dateien"},
      {"$CLI " + kJob + " " + kSource + "/data/samples/x.shp -", 1, "", "nur für ASCII-Dateien"}};
  for (const auto& [line, status, out, message] : cases) {
    SCOPED_TRACE(line);
    fs::remove(dir.File("t.txt"));
    const CliRun r = Sh(dir, line);
    EXPECT_EQ(r.status, status) << r.err;
    const bool toFile = Contains(line, " t.txt");
    EXPECT_EQ(toFile ? ReadBytes(dir.File("t.txt")) + r.out : r.out, out);
    EXPECT_TRUE(Contains(r.err, message)) << r.err;
    EXPECT_FALSE(fs::exists(dir.File("-")) || fs::exists(dir.File("t.shp")));
  }
}

TEST(CliScripts, SeveralSourcesWithOneDamaged) {
  TempFolder dir;
  fs::create_directories(dir.File("src"));
  WriteBytes(dir.File("src/a.txt"), "1 2 3\r\n");
  WriteBytes(dir.File("src/b.txt"), "1 2 3\r\n4 5 6\r\nkaputt\r\n7 8 9\r\n");
  WriteShapefile(dir.File("src/p"), SHPT_POINT, PointShapes());
  const std::string shift = "--translation 1000 -2000 0 --quiet ";
  const CliRun r = Sh(dir, "$CLI --translation 1000 -2000 0 --out-dir out src/a.txt src/b.txt src/p.shp src/missing.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadBytes(dir.File("out/a.txt")), "1001 -1998 3\r\n");
  EXPECT_EQ(ReadBytes(dir.File("out/b.txt")), "1001 -1998 3\r\n1004 -1995 6\r\n");
  const auto in = ReadShapefile(dir.File("src/p")), out = ReadShapefile(dir.File("out/p"));
  ASSERT_TRUE(out.ok && out.shapes.size() == in.shapes.size());
  for (std::size_t i = 0; i < in.shapes.size(); ++i) {
    ASSERT_EQ(out.shapes[i].x.size(), in.shapes[i].x.size());
    for (std::size_t k = 0; k < in.shapes[i].x.size(); ++k)
      EXPECT_TRUE(out.shapes[i].x[k] == in.shapes[i].x[k] + 1000 && out.shapes[i].y[k] == in.shapes[i].y[k] - 2000);
  }
  for (const char* ext : {".shx", ".dbf"}) EXPECT_TRUE(fs::exists(dir.File(std::string("out/p") + ext)));
  for (const char* line : {"ok      src/a.txt -> out/a.txt: 1 Punkte", "FEHLER  src/b.txt -> out/b.txt: 2 Punkte",
                           "Pelmo: src/b.txt: ", "Zeile 3: kaputt", "ok      src/p.shp -> out/p.shp", "FEHLER  src/missing.txt",
                           "4 Dateien: 2 fertig, 2 fehlgeschlagen"}) {
    EXPECT_TRUE(Contains(r.err, line)) << line << "\n" << r.err;
  }
  // Quiet: the questions about the existing targets that --yes answers are not shown either.
  const CliRun again = Sh(dir, "$CLI " + shift + "--yes --out-dir out src/p.shp");
  EXPECT_TRUE(again.status == 0 && again.err.empty()) << again.err;
  // Refused before anything is written: the folder of a source, two sources of one name, standard input.
  const std::tuple<std::string, int, std::string> refused[] = {
      {"$CLI " + shift + "--out-dir src out/a.txt src/a.txt", 1, "ist der Ordner der Quelldatei"},
      {"cd src && $CLI " + shift + "--out-dir . a.txt", 1, "ist der Ordner der Quelldatei"},
      {"$CLI " + shift + "--out-dir new src/a.txt out/a.txt", 1, "Zwei Quelldateien heißen"},
      {"$CLI " + shift + "--out-dir new -", 2, "--out-dir needs files"},
      {"$CLI " + shift + "--out-dir new", 2, "--out-dir needs at least one SOURCE"}};
  for (const auto& [line, status, message] : refused) {
    const CliRun f = Sh(dir, line);
    EXPECT_TRUE(f.status == status && Contains(f.err, message)) << line << "\n" << f.err;
    EXPECT_EQ(ReadBytes(dir.File("src/a.txt")), "1 2 3\r\n");
    EXPECT_FALSE(fs::exists(dir.File("new")));
  }
}

TEST(CliScripts, DecimalSignOfTheWrittenNumbers) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), "1.25 2,5 3\r\n");
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"de_DE.UTF-8", "", "2,25 3,5 3\r\n"}, {"de_DE.UTF-8", "--decimal locale", "2,25 3,5 3\r\n"},
      {"de_DE.UTF-8", "--decimal point", "2.25 3.5 3\r\n"}, {"C", "--decimal comma", "2,25 3,5 3\r\n"},
      {"C", "--decimal comma --decimal point", "2.25 3.5 3\r\n"}, {"en_US.UTF-8", "", "2.25 3.5 3\r\n"}};
  for (const auto& [locale, option, out] : cases) {
    const CliRun r = Cli(dir, "--translation 1 1 0 " + option + " in.txt -", locale);
    EXPECT_TRUE(r.status == 0 && r.out == out) << locale << " " << option << ": " << r.out << r.err;
  }
  EXPECT_EQ(Cli(dir, "--decimal dot in.txt -").status, 2);
}

/// Runs `line` with standard error on a pseudo-terminal; returns what the terminal showed.
std::string OnTerminal(const TempFolder& dir, const std::string& line) {
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    const std::string cmd = "cd " + Q(dir.path().string()) + " && export CLI=" + Q(PELMO_CLI_PATH) +
                            " LC_ALL=C PELMO_PROGRESS_AFTER=0 && " + line + " >/dev/null";
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string shown;
  char buf[4096];
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) shown.append(buf, static_cast<std::size_t>(n));
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return shown;
}

TEST(CliScripts, ProgressLineOnlyOnATerminal) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), Points(5000));
  const std::string run = "$CLI --yes " + kJob + " ";
  // On a terminal: percentage (from the file size), points and rate; from a pipe no percentage.
  const std::string file = OnTerminal(dir, run + "in.txt out.txt");
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(\r\x1b\[K\d+ %  \d+ Punkte  \d+ Punkte/s  noch )"))) << file;
  const std::string pipe = OnTerminal(dir, "cat in.txt | " + run + "- out.txt");
  EXPECT_TRUE(std::regex_search(pipe, std::regex(R"(\r\x1b\[K\d+ Punkte  \d+ Punkte/s)"))) << pipe;
  EXPECT_FALSE(Contains(pipe, " %")) << pipe;
  EXPECT_FALSE(Contains(OnTerminal(dir, run + "--quiet in.txt out.txt"), "Punkte"));
  // Not a terminal: no progress line, whatever the delay.
  const CliRun r = Sh(dir, run + "in.txt out.txt", "PELMO_PROGRESS_AFTER=0");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(Contains(r.err, "\r")) << r.err;
  EXPECT_TRUE(Contains(r.err, "5000 Punkte in ")) << r.err;
}

/// The long option names ("--par") in `text`.
std::set<std::string> OptionNames(const std::string& text) {
  static const std::regex kName("--[a-z0-9][a-z0-9-]*");
  std::set<std::string> names;
  for (std::sregex_iterator i(text.begin(), text.end(), kName), end; i != end; ++i) names.insert(i->str());
  return names;
}

TEST(CliScripts, HelpAndManualPageListTheSameOptions) {
  // --help: the name column of the option lines ("  --par FILE  load ...").
  TempFolder dir;
  std::set<std::string> help, man;
  std::istringstream helpText(Cli(dir, "--help").out);
  for (std::string line; std::getline(helpText, line);)
    if (line.starts_with("  -")) help.merge(OptionNames(line.substr(0, line.find("  ", 2))));
  // The manual page: the heading line after each .TP of the OPTIONS section.
  std::ifstream page(kSource + "/docs/pelmo-cli.1");
  bool options = false, heading = false;
  for (std::string line; std::getline(page, line); heading = line == ".TP") {
    if (line.starts_with(".SH")) options = line == ".SH OPTIONS";
    if (options && heading) man.merge(OptionNames(std::regex_replace(line, std::regex(R"(\\-)"), "-")));
  }
  EXPECT_GT(help.size(), 10u);
  EXPECT_EQ(help, man);
}

TEST(CliScripts, DebianPackageUnpackedRunsTheSampleJob) {
  TempFolder dir;
  const CliRun pack = Sh(dir, Q(PELMO_CPACK) + " -G DEB --config " + Q(PELMO_BINARY_DIR "/CPackConfig.cmake") + " -B pkg");
  ASSERT_EQ(pack.status, 0) << pack.out << pack.err;
  const CliRun list = Sh(dir, "dpkg-deb -c pkg/*.deb && dpkg-deb -f pkg/*.deb Depends && "
                              "dpkg-deb -x pkg/*.deb root && zcat root/usr/share/man/man1/pelmo-cli.1.gz");
  ASSERT_EQ(list.status, 0) << list.err;
  std::set<std::string> expected = {
      "./usr/bin/pelmo-cli", "./usr/share/pelmo/GRS_1980.ell", "./usr/share/pelmo/DHDN_to_ETRS89_EPSG1776.7pr",
      "./usr/share/pelmo/samples/gk5_bessel_points.txt", "./usr/share/man/man1/pelmo-cli.1.gz",
      "./usr/share/applications/pelmo.desktop", "./usr/share/icons/hicolor/256x256/apps/pelmo.png",
      "./usr/share/doc/pelmo/manual/index.html"};
  if (fs::exists(fs::path(PELMO_CLI_PATH).parent_path() / "pelmo")) expected.insert("./usr/bin/pelmo");
  for (const std::string& f : expected) EXPECT_TRUE(Contains(list.out, " " + f + "\n")) << f;
  EXPECT_TRUE(std::regex_search(list.out, std::regex(R"(libc6 \(>= [0-9.]+\))"))) << list.out;
  EXPECT_TRUE(Contains(list.out, ReadBytes(kSource + "/docs/pelmo-cli.1")));
  // The unpacked tool finds its library beside its bin folder; the file job of the build tree with the library's
  // paths is the reference. PELMO_DATA_DIR overrides the place.
  const std::string data = kSource + "/data/";
  ASSERT_EQ(Cli(dir, "--in GK-Germ --out UTM --ell1 " + data + "Bessel_1841.ell --ell2 " + data + "GRS_1980.ell --7par1 " + data +
                         "DHDN_to_ETRS89_EPSG1776.7pr " + kSample + " ref.txt").status, 0);
  const std::string tool = "root/usr/bin/pelmo-cli " + kJob + " root/usr/share/pelmo/samples/gk5_bessel_points.txt";
  const CliRun run = Sh(dir, "env -u PELMO_DATA_DIR " + tool + " out.txt");
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string ref = ReadBytes(dir.File("ref.txt"));
  EXPECT_EQ(std::count(ref.begin(), ref.end(), '\n'), 4);
  EXPECT_EQ(ReadBytes(dir.File("out.txt")), ref);
  const CliRun moved = Sh(dir, "PELMO_DATA_DIR=nowhere " + tool + " moved.txt");
  EXPECT_TRUE(moved.status == 1 && Contains(moved.err, "\"Bessel_1841\" kann nicht gelesen werden")) << moved.err;
}

}  // namespace
}  // namespace pelmo::test
