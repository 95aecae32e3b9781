// pelmo-cli: exit statuses and messages, the shipped library against PROJ, names and types in the .par it writes.
#include <sstream>

#include "paramfiles/properties.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

const std::string kData = std::string(PELMO_SOURCE_DIR) + "/data/";
const std::string kDhdnToUtm = "--in GK-Germ --out UTM --ell1 " + Q(kData + "Bessel_1841.ell") + " --ell2 " +
                               Q(kData + "GRS_1980.ell") + " --7par1 " + Q(kData + "DHDN_to_ETRS89_EPSG1776.7pr");

TEST(Cli, UsageErrorsStoppedJobsAndTranslations) {
  TempFolder dir;
  EXPECT_EQ(Cli(dir, "--version").out.rfind("pelmo-cli ", 0), 0u);
  WriteBytes(dir.File("in.txt"), "1 2 3\r\n4 x 6\r\n");
  for (const char* args : {"", "in.txt", "in.txt out.txt more.txt", "--frobnicate in.txt out.txt", "--in Mercator in.txt out.txt",
                           "--out in.txt out.txt", "--option 20=1 in.txt out.txt", "--option x in.txt out.txt",
                           "--type dbf in.txt out.txt", "--translation 1 2", "in.txt out.txt --par"}) {
    const CliRun r = Cli(dir, args);
    EXPECT_TRUE(r.status == 2 && !r.err.empty() && !std::filesystem::exists(dir.File("out.txt"))) << args;
  }
  for (const auto& [args, message] : {std::pair{"--translation 1 1 1 fehlt.txt out.txt", "Datei nicht gefunden"},
                                      std::pair{"--translation 1 1 1 in.txt ./in.txt", "Quelldatei und Zieldatei sind identisch"},
                                      std::pair{"--translation 1 eins 1 in.txt out.txt", "Fehler - keine Zahl"},
                                      std::pair{"--type ascii in.txt out.txt", "Ellipsoid 1 werte ausserhalb"},
                                      std::pair{"--ell1 fehlt.ell in.txt out.txt", "fehlt.ell"},
                                      std::pair{"--par fehlt.par in.txt out.txt", "53   Fehler Beim Laden der Parameter Datei"},
                                      std::pair{"--translation 1 1 1 in.txt out.txt", "Zeile 2"}}) {
    const CliRun r = Cli(dir, args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadBytes(dir.File("in.txt")), "1 2 3\r\n4 x 6\r\n");
  EXPECT_EQ(ReadBytes(dir.File("out.txt")), "2 3 4\r\n");  // the line before the bad one
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
