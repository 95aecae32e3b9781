// pelmo-cli: exit statuses, messages and targets, the shipped library against PROJ, names and types in the .par it writes.
#include <sstream>

#include "paramfiles/properties.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;
const std::string kData = std::string(PELMO_SOURCE_DIR) + "/data/";
const std::string kDhdnToUtm = "--in GK-Germ --out UTM --ell1 " + Q(kData + "Bessel_1841.ell") + " --ell2 " +
                               Q(kData + "GRS_1980.ell") + " --7par1 " + Q(kData + "DHDN_to_ETRS89_EPSG1776.7pr");

// Usage errors (2), stopped jobs (1), warnings under --strict (3): the status, a piece of standard error, the target
// (n: none, a: the old one untouched, w: written); --yes or the answer on a terminal for an existing target.
TEST(Cli, StatusesMessagesAndTargets) {
  TempFolder dir;
  EXPECT_EQ(Cli(dir, "--version").out.rfind("pelmo-cli ", 0), 0u);
  for (const auto& [name, text] : std::vector<std::array<std::string, 2>>{
           {"in.txt", "1 2 3\r\n4 x 6"}, {"zone3.txt", "3500000 5600000 1"}, {"bad.txt", "5411800 5659000,5a"},
           {"one.txt", "5411800"}, {"c1.txt", "P1,\"5411800,5\",5659000"}, {"c2.txt", "P1,5411800,5,5659000,5"},
           {"s.txt", "P1;5411800;;1"}, {"t.txt", "5411800\t1e999"}})
    WriteBytes(dir.File(name), text + "\r\n");
  WriteBytes(dir.File("p.shp"), std::string("\0\0\x27\x0a", 4) + std::string(96, '\0'));
  // A folder nobody may write to; permissions do not bind the superuser, so the batch tool runs as nobody then.
  fs::create_directory(dir.path() / "ro");
  fs::permissions(dir.path() / "ro", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const std::string nobody = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const std::string job = "$CLI " + kDhdnToUtm + " ", typed = "script -qefc \"$CLI " + kDhdnToUtm + " zone3.txt old.txt\" /dev/null";
  const std::tuple<std::string, int, std::string, char> cases[] = {
      {"$CLI", 2, "", 'n'}, {"$CLI in.txt", 2, "", 0}, {"$CLI in.txt out.txt more.txt", 2, "", 'n'},
      {"$CLI --frobnicate in.txt out.txt", 2, "", 'n'}, {"$CLI --in Mercator in.txt out.txt", 2, "", 'n'},
      {"$CLI --out in.txt out.txt", 2, "", 'n'}, {"$CLI --option 20=1 in.txt out.txt", 2, "", 'n'},
      {"$CLI --option x in.txt out.txt", 2, "", 'n'}, {"$CLI --type dbf in.txt out.txt", 2, "", 'n'},
      {"$CLI --translation 1 2", 2, "", 'n'}, {"$CLI in.txt out.txt --par", 2, "", 'n'},
      {job + "--option 1=abc zone3.txt d.txt", 2, "--option 1=abc: entry 1 (GK-Germ input", 'n'},
      {job + "--option 10=vielleicht zone3.txt d.txt", 2, "needs True or False", 'n'},
      {job + "--columns id,first,first zone3.txt g.txt", 2, "genau einmal first und second", 'n'},
      {job + "--separator pipe zone3.txt g.txt", 2, "--separator needs blank, tab, comma or semicolon", 'n'},
      {"$CLI --translation 1 1 1 fehlt.txt out.txt", 1, "Datei nicht gefunden", 'n'},
      {"$CLI --translation 1 1 1 in.txt ./in.txt", 1, "Quelldatei und Zieldatei sind identisch", 0},
      {"$CLI --translation 1 eins 1 in.txt out.txt", 1, "Fehler - keine Zahl", 'n'},
      {"$CLI --type ascii in.txt out.txt", 1, "Ellipsoid 1 werte ausserhalb", 'n'},
      {"$CLI --ell1 fehlt.ell in.txt out.txt", 1, "fehlt.ell", 'n'},
      {"$CLI --par fehlt.par in.txt out.txt", 1, "53   Fehler Beim Laden der Parameter Datei", 'n'},
      {"$CLI --in GK-Germ zone3.txt e.txt", 1, "gibt --ell1 FILE an", 'n'},
      {job + "--type ascii p.shp f.txt", 1, "ist binär und sieht wie eine Shapedatei aus", 0},
      {nobody + "$CLI --translation 1 1 1 zone3.txt ro/out.txt", 1, "Zugriff verweigert", 'n'},
      // The second line of a message about a field: its column, what it needs.
      {job + "bad.txt c.txt", 1, "Typen unverträglich\nSpalte 2 (Nordwert): \"5659000,5a\" ist keine Zahl\nZeile 1", 0},
      {job + "one.txt c.txt", 1, "Spalte 2 (Nordwert) fehlt", 0},
      {job + "--separator comma --columns id,first,second c1.txt c.txt", 1,
       "Spalte 2 (Ostwert): \"5411800,5\" enthält ein Komma; mit Komma als Trennzeichen muss das Dezimalzeichen ein Punkt sein", 0},
      {job + "--separator comma --columns id,first,second c2.txt c.txt", 1, "Spalte 4: die Zeile hat mehr Spalten", 0},
      {job + "--separator semicolon --columns id,first,second,height s.txt c.txt", 1, "Spalte 3 (Nordwert) fehlt", 0},
      {job + "--separator tab t.txt c.txt", 1, "Spalte 2 (Nordwert): \"1e999\" ist zu groß", 0},
      {job + "zone3.txt a.txt", 0, "Warnung: 1 Punkt hat im Ostwert", 'w'},
      {job + "--strict --quiet zone3.txt b.txt", 3, "Warnung: 1 Punkt", 'w'},
      {job + "zone3.txt old.txt", 1, "mit --yes wird sie ersetzt", 'a'}, {"printf 'n\\n' | " + typed, 1, "bleibt unverändert", 'a'},
      {"printf 'j\\n' | " + typed, 0, "soll sie überschrieben werden?", 'w'}, {job + "--yes zone3.txt old.txt", 0, "", 'w'},
      {"$CLI --translation 1 1 1 in.txt out.txt", 1, "Zeile 2", 0}};  // last: the line before the bad one is kept
  for (const auto& [line, status, message, target] : cases) {
    WriteBytes(dir.File("old.txt"), "alt\r\n");
    for (const char* f : {"c.txt", "out.txt"}) fs::remove(dir.File(f));
    const CliRun r = Sh(dir, line);
    if (line.starts_with("setpriv") && r.status >= 126) continue;  // setpriv cannot run it here
    EXPECT_TRUE(r.status == status && Contains(r.out + r.err, message) && (status == 0 || !r.err.empty() || !r.out.empty()))
        << line << ": " << r.status << "\n" << r.out << r.err;
    const std::string name = line.ends_with("/dev/null") ? "old.txt" : line.substr(line.rfind(' ') + 1);
    const std::string written = ReadBytes(dir.File(name));
    EXPECT_TRUE(target == 'n'   ? !fs::exists(dir.File(name)) && !fs::exists(dir.File("out.txt"))
                : target == 'a' ? written == "alt\r\n"
                : target == 'w' ? written.starts_with("31499514")
                                : true) << line;
  }
  EXPECT_EQ(ReadBytes(dir.File("in.txt")), "1 2 3\r\n4 x 6\r\n");
  EXPECT_EQ(ReadBytes(dir.File("out.txt")), "2 3 4\r\n");
  WriteBytes(dir.File("in.txt"), "1 2 3\r\n1.5 2 3\r\n");
  const CliRun c = Cli(dir, "--translation 10 20 1 in.txt neu.txt");
  EXPECT_EQ(ReadBytes(dir.File("neu.txt")), "11 22 4\r\n11.5 22 4\r\n");
  EXPECT_NE(c.err.find("vergangene Zeit in s "), std::string::npos) << c.err;
}

// DHDN GK to UTM from the shipped files against PROJ, the height passed through; the same from a saved .par.
TEST(Cli, ShippedFilesAgreeWithProjAndSurviveAPropertiesFile) {
  TempFolder dir;
  std::string src;
  for (int i = 0; i < 25; ++i) {
    src += std::to_string(5400000 + 50000 * (i % 5)) + ".125 " + std::to_string(5300000 + 175000 * (i / 5)) + " " +
           std::to_string(100 * (i / 5)) + "\r\n";
  }
  WriteBytes(dir.File("gk.txt"), src);
  const CliRun r = Cli(dir, kDhdnToUtm + " --save-par cfg.par gk.txt utm.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream in(src), out(ReadBytes(dir.File("utm.txt")));
  for (int i = 0; i < 25; ++i) {
    double x = 0, y = 0, h = 0, east = 0, north = 0, height = -1;
    in >> x >> y >> h;
    out >> east >> north >> height;
    const auto q = ProjTrans(kDhdnToUtm33, x, y, h);
    EXPECT_NEAR(east, q[0] + 33e6, 1e-3) << i;  // the zone in the millions
    EXPECT_NEAR(north, q[1], 1e-3) << i;
    EXPECT_EQ(height, h) << i;
  }
  EXPECT_EQ(Cli(dir, "--par cfg.par gk.txt again.txt").status, 0);
  EXPECT_EQ(ReadBytes(dir.File("again.txt")), ReadBytes(dir.File("utm.txt")));
  // Options after --par override it; without SOURCE and TARGET only the file is written.
  EXPECT_EQ(Cli(dir, "--par cfg.par --option 4=9 --save-par cfg9.par").status + Cli(dir, "--par cfg9.par gk.txt 9.txt").status +
                Cli(dir, "--par cfg.par --option 4=9 gk.txt 9b.txt").status, 0);
  EXPECT_EQ(ReadBytes(dir.File("9.txt")).rfind("32", 0), 0u);  // meridian 9: zone 32
  EXPECT_EQ(ReadBytes(dir.File("9b.txt")), ReadBytes(dir.File("9.txt")));
}

// The five names either way in any case, and --type or the extension in any case, reach the saved .par.
TEST(Cli, ProjectionNamesAndFileTypeInThePropertiesFile) {
  TempFolder dir;
  const auto saved = [&](const std::string& args) {
    Cli(dir, args + " --save-par p.par");  // a job with a missing source fails after the save
    TransformSettings s;
    OptionTable d = DefaultOptionValues('.');
    LoadProperties(dir.File("p.par"), s, d);
    std::filesystem::remove(dir.File("p.par"));
    std::string flags;
    for (const bool f : {s.optInGK, s.optINGKallgemein, s.optINetrs, s.optInKrovak, s.optInBL, s.optOutGK, s.optOutGKallgemein,
                         s.optOUTetrs, s.optOutKrovak, s.optOutBL, s.optSHP, s.optASCII}) flags += f ? "1" : "0";
    return flags;
  };
  const char* names[] = {"GK-Germ", "gk-general", "UTM", "KROVAK", "Ell"};
  for (int i = 0; i < 5; ++i) {
    std::string want(10, '0');
    want[static_cast<std::size_t>(i)] = want[static_cast<std::size_t>(5 + (i + 2) % 5)] = '1';
    EXPECT_EQ(saved(std::string("--in ") + names[i] + " --out " + names[(i + 2) % 5]).substr(0, 10), want) << names[i];
  }
  for (const auto& [args, type] : {std::pair{"QUELLE.SHP ZIEL.SHP", "10"}, std::pair{"quelle.shp ziel.txt", "10"},
                                   std::pair{"quelle.txt ziel.shp", "01"}, std::pair{"quelle.dbf ziel.dbf", "01"},
                                   std::pair{"--type shape a.txt b.txt", "10"}, std::pair{"--type ascii a.shp b.shp", "01"}}) {
    EXPECT_EQ(saved(std::string("--translation 1 1 1 ") + args).substr(10), type) << args;
  }
}

}  // namespace
}  // namespace pelmo::test
