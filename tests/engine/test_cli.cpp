// pelmo-cli end to end: files in a temporary folder, exit statuses,
// messages on standard error, the shipped ellipsoid and parameter files,
// properties files written and read back, the self-test file.
#include <gtest/gtest.h>
#include <proj.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace pelmo {
namespace {

using test::Cli;
using test::CliRun;
using test::Contains;
using test::Q;
using test::ReadBytes;
using test::SplitCrLf;
using test::TempFolder;
using test::WriteBytes;

const std::string kData = std::string(PELMO_SOURCE_DIR) + "/data/";

/// The shipped files for the usual job: GK-Germ on Bessel 1841 with DHDN to
/// ETRS89 into UTM on GRS 1980.
std::string DhdnToUtmArgs() {
  return "--in GK-Germ --out UTM --ell1 " + Q(kData + "Bessel_1841.ell") + " --ell2 " +
         Q(kData + "GRS_1980.ell") + " --7par1 " + Q(kData + "DHDN_to_ETRS89_EPSG1776.7pr");
}

TEST(Cli, HelpVersionAndUsageErrors) {
  TempFolder dir;
  const CliRun help = Cli(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Contains(help.out, "Usage: pelmo-cli")) << help.out;
  EXPECT_TRUE(Contains(help.out, "--translation"));
  const CliRun version = Cli(dir, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("pelmo-cli ", 0), 0u) << version.out;

  WriteBytes(dir.File("in.txt"), "1 2 3\r\n");
  for (const char* args : {"", "in.txt", "in.txt out.txt more.txt", "--frobnicate in.txt out.txt",
                           "--in Mercator in.txt out.txt", "--out in.txt out.txt",
                           "--option 20=1 in.txt out.txt", "--option x in.txt out.txt",
                           "--option 3 in.txt out.txt", "--type dbf in.txt out.txt",
                           "--translation 1 2", "in.txt out.txt --par"}) {
    SCOPED_TRACE(args);
    const CliRun r = Cli(dir, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.err.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.txt")));
  }
}

TEST(Cli, TranslationJobInBothDecimalSigns) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), "1 2 3\r\n1.5 2 3\r\n");
  const CliRun c = Cli(dir, "--translation 10 20 1 in.txt out.txt");
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(ReadBytes(dir.File("out.txt")), "11 22 4\r\n11.5 22 4\r\n");
  EXPECT_TRUE(Contains(c.err, "vergangene Zeit in s ")) << c.err;

  const CliRun de = Cli(dir, "--translation 10 20,5 1 in.txt out_de.txt", "de_DE.UTF-8");
  EXPECT_EQ(de.status, 0) << de.err;
  EXPECT_EQ(ReadBytes(dir.File("out_de.txt")), "11 22,5 4\r\n11,5 22,5 4\r\n");

  const CliRun quiet = Cli(dir, "--quiet --translation 0 0 0 in.txt out_q.txt");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, "");
}

TEST(Cli, StoppedJobsExitWithOneAndTheMessageOnStandardError) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), "1 2 3\r\n4 x 6\r\n");
  const std::string identical = "Quelldatei und Zieldatei sind identisch";
  const struct {
    std::string args;
    std::string message;
  } cases[] = {
      {"--translation 1 1 1 fehlt.txt out.txt", "Datei nicht gefunden"},
      {"--translation 1 1 1 in.txt in.txt", identical},
      {"--translation 1 1 1 in.txt ./in.txt", identical},
      {"--translation 1 1 1 in.txt " + Q(dir.File("in.txt")), identical},
      {"--translation 1 eins 1 in.txt out.txt", "Fehler - keine Zahl"},
      {"--type ascii in.txt out.txt", "Ellipsoid 1 werte ausserhalb des gültigen Wetrebereichs"},
      {"--ell1 fehlt.ell in.txt out.txt", "fehlt.ell"},
      {"--par fehlt.par in.txt out.txt", "Fehler Beim Laden der Parameter Datei"},
      // The last case: the bad line stops the run after the first point.
      {"--translation 1 1 1 in.txt out.txt", "Zeile 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const bool lineError = &c == std::end(cases) - 1;
    const CliRun r = Cli(dir, c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadBytes(dir.File("in.txt")), "1 2 3\r\n4 x 6\r\n");
    EXPECT_EQ(std::filesystem::exists(dir.File("out.txt")), lineError);
  }
  EXPECT_EQ(ReadBytes(dir.File("out.txt")), "2 3 4\r\n");
}

TEST(Cli, ShippedFilesGKGermToUtmAgreeWithProj) {
  TempFolder dir;
  std::string src;
  std::vector<std::array<double, 3>> in;
  for (int i = 0; i <= 4; ++i) {
    for (int j = 0; j <= 4; ++j) {
      in.push_back({5400000 + 50000.0 * i + 0.125, 5300000 + 175000.0 * j, 100.0 * j});
      src += std::to_string(5400000 + 50000 * i) + ".125 " + std::to_string(5300000 + 175000 * j) +
             " " + std::to_string(100 * j) + "\r\n";
    }
  }
  WriteBytes(dir.File("gk.txt"), src);
  const CliRun r = Cli(dir, DhdnToUtmArgs() + " gk.txt utm.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> out = SplitCrLf(ReadBytes(dir.File("utm.txt")));
  ASSERT_EQ(out.size(), in.size());

  PJ_CONTEXT* ctx = proj_context_create();
  PJ* pj = proj_create(
      ctx,
      "+proj=pipeline +step +inv +proj=tmerc +lat_0=0 +lon_0=15 +k=1 +x_0=5500000 +y_0=0 "
      "+ellps=bessel +step +proj=cart +ellps=bessel +step +proj=helmert +x=598.1 +y=73.7 "
      "+z=418.2 +rx=-0.202 +ry=-0.045 +rz=2.455 +s=6.7 +convention=coordinate_frame +exact "
      "+step +inv +proj=cart +ellps=GRS80 +step +proj=utm +zone=33 +ellps=GRS80");
  ASSERT_NE(pj, nullptr);
  for (std::size_t i = 0; i < in.size(); ++i) {
    const PJ_COORD q = proj_trans(pj, PJ_FWD, proj_coord(in[i][0], in[i][1], in[i][2], 0));
    double east = 0, north = 0, height = -1;
    std::istringstream(out[i]) >> east >> north >> height;
    EXPECT_NEAR(east, q.xyz.x + 33e6, 1e-3) << out[i];  // zone 33 in the millions
    EXPECT_NEAR(north, q.xyz.y, 1e-3) << out[i];
    EXPECT_EQ(height, in[i][2]) << "the height column passes through";
  }
  proj_destroy(pj);
  proj_context_destroy(ctx);
}

TEST(Cli, SaveParThenParGivesTheSameResult) {
  TempFolder dir;
  WriteBytes(dir.File("gk.txt"), "5512345.678 5800000.5 12.5\r\n5390000 6000000 0\r\n");
  const CliRun save =
      Cli(dir, DhdnToUtmArgs() + " --option 4=9 --option 6=0.9996 --save-par cfg.par gk.txt a.txt");
  ASSERT_EQ(save.status, 0) << save.err;
  const CliRun load = Cli(dir, "--par cfg.par gk.txt b.txt");
  ASSERT_EQ(load.status, 0) << load.err;
  const std::string a = ReadBytes(dir.File("a.txt"));
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(ReadBytes(dir.File("b.txt")), a);
  EXPECT_EQ(a.rfind("32", 0), 0u) << a;  // output meridian 9: zone 32 in the millions
  EXPECT_EQ(SplitCrLf(ReadBytes(dir.File("cfg.par"))).size(), 64u);

  // With no SOURCE and TARGET only the properties file is written; options
  // after --par override it.
  const CliRun only = Cli(dir, "--par cfg.par --option 4=15 --save-par cfg15.par");
  EXPECT_EQ(only.status, 0) << only.err;
  const CliRun c15 = Cli(dir, "--par cfg15.par gk.txt c.txt");
  EXPECT_EQ(c15.status, 0) << c15.err;
  EXPECT_EQ(ReadBytes(dir.File("c.txt")).rfind("33", 0), 0u);
  EXPECT_EQ(Cli(dir, "--par cfg.par --option 4=15 gk.txt d.txt").status, 0);
  EXPECT_EQ(ReadBytes(dir.File("d.txt")), ReadBytes(dir.File("c.txt")));
}

TEST(Cli, SelfTestFile) {
  TempFolder dir;
  const CliRun r = Cli(dir, "--selftest self.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string text = ReadBytes(dir.File("self.txt"));
  // Eight lines, each ended by CR LF and no bare LF.
  EXPECT_EQ(SplitCrLf(text).size(), 8u);
  EXPECT_TRUE(text.ends_with("\r\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);

  const CliRun bad = Cli(dir, "--selftest " + Q(dir.File("gibt es nicht/test.txt")));
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(Contains(bad.err, "gibt es nicht/test.txt")) << bad.err;
}

}  // namespace
}  // namespace pelmo
