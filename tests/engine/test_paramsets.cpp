// Ellipsoid (".ell") and seven-parameter (".7pr") files: the reader, the
// loaders' all-or-nothing assignment, and the shipped library in data/
// against the EPSG dataset through PROJ.
#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>
#include <numbers>

#include "paramfiles/paramsets.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

TEST(ParamSets, ReaderAndLoaders) {
  TempFolder dir;
  const std::string path = dir.File("x.ell");
  const std::tuple<std::string, std::string, double, double> good[] = {
      {"\"Bessel 1841\",6377397.155,0.0816968312225275\r\n", "Bessel 1841", 6377397.155, 0.0816968312225275},
      {"Bessel 1841\r\n6377397.155\r\n0.0816968312225275\r\n", "Bessel 1841", 6377397.155, 0.0816968312225275},
      {"Test\r\n1,5\r\n0.08\r\n", "Test", 1, 5},  // a decimal comma splits a number
      {"\n   \"Hayford, 1909\" ,\n\n  6378388 0.08 rest, \"x\"\r", "Hayford, 1909", 6378388, 0.08},
      {"Plain name  ,6.378e6,8.1e-2", "Plain name", 6378000, 0.081},
      {"\"The \"\"best\"\"\",1,2\r\n", "The \"best\"", 1, 2},
      {"\"f\xFCr R\xFCgen \x80\",6378245,0.08\r\n", "für Rügen €", 6378245, 0.08},  // Windows-1252
      {"\xEF\xBB\xBFK\u00F6nigsberg,6378245,0.08\r\n", "Königsberg", 6378245, 0.08}};
  for (const auto& [content, name, a, e] : good) {
    WriteBytes(path, content);
    const auto ell = ReadEllipsoidFile(path);
    ASSERT_TRUE(ell) << content;
    EXPECT_EQ(ell->name + "|" + FormatShortest(ell->a) + "|" + FormatShortest(ell->e),
              name + "|" + FormatShortest(a) + "|" + FormatShortest(e));
  }
  for (const std::string& bad : {std::string(), std::string("Name\r\n6378137\r\n"), std::string("Name,abc,0.08"),
                                 std::string("Name,,0.08"), std::string("Name,\"6378137\",0.08"), std::string("\"Name,6378137,0.08"),
                                 std::string("Name,nan,0.08"), std::string("Name,1e999,0.08"), std::string("Name,0x1p3,0.08"),
                                 std::string("\x89PNG\r\n\x1A\n\0\0\0", 11), "\"" + std::string(2'000'000, 'n') + "\",1,2"}) {
    WriteBytes(path, bad);
    EXPECT_FALSE(ReadEllipsoidFile(path)) << bad.substr(0, 40);
  }
  EXPECT_FALSE(ReadEllipsoidFile(dir.File("missing.ell")) || ReadEllipsoidFile(dir.path().string()));
  WriteBytes(path, "\"Set, one\",1,-2,3.5\r\n+4\r\n-0.5,6e-1\r\n7\r\n8\r\n");
  EXPECT_EQ(ReadSevenParFile(path).value_or(SevenParams()).p, (std::array<double, 7>{1, -2, 3.5, 4, -0.5, 0.6, 7}));
  WriteBytes(path, "Name,1,2,3,4,5,6\r\n");
  EXPECT_FALSE(ReadSevenParFile(path));

  // The loaders fill their own group in the user's decimal sign, or nothing.
  WriteBytes(dir.File("g.ell"), "GRS 1980\r\n6378137.5\r\n0.0818191910428158\r\n");
  WriteBytes(dir.File("s.7pr"), "\"Test set\"\r\n598.1\r\n73.7\r\n418.2\r\n6.7\r\n0.5\r\n-0.045\r\n-0.202\r\n");
  TransformSettings s;
  ASSERT_TRUE(LoadEllipsoidFile(dir.File("g.ell"), s, 2, ',') && LoadSevenParFile(dir.File("s.7pr"), s, 2, ','));
  std::string fields = s.txtBezEll1 + s.txtEll1a + s.txtEll1e + "|" + s.txtBezEll2 + "|" + s.txtEll2a + "|" + s.txtEll2e;
  for (int set : {1, 2}) {
    fields += "|" + (set == 1 ? s.txtsevenParSys : s.txtsevenParSys2);
    for (const std::string* p : s.SevenParFields(set)) fields += "|" + *p;
  }
  EXPECT_EQ(fields, "000|GRS 1980|6378137,5|0,0818191910428158|no Transformation|0|0|0|0|0|0|0|Test set|598,1|73,7|"
                    "418,2|6,7|0,5|-0,045|-0,202");
  ASSERT_TRUE(LoadEllipsoidFile(dir.File("g.ell"), s, 1, '.') && LoadSevenParFile(dir.File("s.7pr"), s, 1, '.'));
  EXPECT_EQ(s.txtEll1a + "|" + s.txtP1 + "|" + s.txtsevenParSys, "6378137.5|598.1|Test set");
  TransformSettings kept;
  EXPECT_FALSE(LoadEllipsoidFile(dir.File("missing.ell"), kept, 1, ',') || LoadSevenParFile(path, kept, 2, ','));
  EXPECT_EQ(kept.txtEll1a + kept.txtBezEll1 + kept.txtP2_1 + kept.txtsevenParSys2, "000no Transformation");
}

std::string DataFile(const std::string& name) { return std::string(PELMO_SOURCE_DIR) + "/data/" + name; }

TEST(DataLibrary, EllipsoidsMatchTheEpsgDataset) {
  PJ_CONTEXT* ctx = proj_context_create();
  for (const auto& [file, epsg] : {std::pair{"Bessel_1841.ell", "7004"}, std::pair{"GRS_1980.ell", "7019"},
                                   std::pair{"WGS_84.ell", "7030"}, std::pair{"Krassowsky_1940.ell", "7024"},
                                   std::pair{"International_1924.ell", "7022"}}) {
    const auto ell = ReadEllipsoidFile(DataFile(file));
    PJ* ref = proj_create_from_database(ctx, "EPSG", epsg, PJ_CATEGORY_ELLIPSOID, 0, nullptr);
    ASSERT_TRUE(ell && ref) << file;
    double a = 0, b = 0, invf = 0;
    int computed = 0;
    ASSERT_TRUE(proj_ellipsoid_get_parameters(ctx, ref, &a, &b, &computed, &invf));
    EXPECT_EQ(ell->name, proj_get_name(ref));
    EXPECT_EQ(ell->a, a) << file;
    EXPECT_NEAR(ell->e, std::sqrt(2 / invf - 1 / (invf * invf)), 1e-16) << file;
    proj_destroy(ref);
  }
  proj_context_destroy(ctx);
}

// Each forward set against EPSG's parameters (rotations about Z, Y, X in the
// coordinate-frame convention; a position-vector rotation changes sign); a
// point carried by it against PROJ with the exact rotation, and against
// EPSG's own small-angle formula to its second-order terms; the reverse set
// is the negated forward set, as EPSG prescribes, and brings it back.
TEST(DataLibrary, SevenParameterSetsAgreeWithEpsgThroughProj) {
  constexpr double kRadPerArcSecond = std::numbers::pi / 648000;
  const std::tuple<const char*, const char*, std::array<double, 3>, double, double> sets[] = {
      {"DHDN_to_ETRS89_EPSG1776", "1776", {49, 10, 450}, 6377397.155, 299.1528128},
      {"S-JTSK_to_ETRS89_EPSG1622", "1622", {49.8, 15.5, 400}, 6377397.155, 299.1528128},
      {"MGI_to_ETRS89_EPSG1619", "1619", {47.5, 14, 800}, 6377397.155, 299.1528128},
      {"Pulkovo_1942-83_to_ETRS89_EPSG1775", "1775", {52.5, 13.4, 50}, 6378245, 298.3}};
  PJ_CONTEXT* ctx = proj_context_create();
  for (const auto& [file, epsg, where, a, invf] : sets) {
    const std::string name(file);
    const auto par = ReadSevenParFile(DataFile(name + ".7pr"));
    const auto rev = ReadSevenParFile(DataFile("ETRS89_to_" + name.substr(0, name.find("_to_")) + name.substr(name.rfind('_')) + "_reverse.7pr"));
    PJ* op = proj_create_from_database(ctx, "EPSG", epsg, PJ_CATEGORY_COORDINATE_OPERATION, 0, nullptr);
    ASSERT_TRUE(par && rev && op) << file;
    EXPECT_NE(par->name.find(std::string("EPSG ") + epsg), std::string::npos) << par->name;
    const char* method = nullptr;
    proj_coordoperation_get_method_info(ctx, op, &method, nullptr, nullptr);
    const double sign = std::string(method).find("Position Vector") != std::string::npos ? -1 : 1;
    std::array<double, 7> v{};  // EPSG parameters 8605 to 8611: tx, ty, tz, rx, ry, rz, s
    for (int i = 0; i < proj_coordoperation_get_param_count(ctx, op); ++i) {
      const char* code = nullptr;
      double value = 0, factor = 0;
      proj_coordoperation_get_param(ctx, op, i, nullptr, nullptr, &code, &value, nullptr, &factor, nullptr, nullptr, nullptr,
                                    nullptr);
      const int k = (code ? std::stoi(code) : 0) - 8605;
      if (k >= 0 && k < 7) v[k] = value * factor / (k < 3 ? 1 : k < 6 ? kRadPerArcSecond : 1e-6);
    }
    proj_destroy(op);
    const auto& p = par->p;
    const std::array<double, 7> ours = {v[0], v[1], v[2], v[6], sign * v[5], sign * v[4], sign * v[3]};
    for (std::size_t i = 0; i < 7; ++i) {
      EXPECT_NEAR(p[i], ours[i], 1e-9) << file << " " << i;
      EXPECT_EQ(rev->p[i], -p[i]) << file << " " << i;
    }
    std::array<double, 3> xyz{};
    GeographicLib::Geocentric(a, 1 / invf).Forward(where[0], where[1], where[2], xyz[0], xyz[1], xyz[2]);
    const auto moved = geotra::SevenParTrans(xyz[0], xyz[1], xyz[2], p[0], p[1], p[2], p[3], p[4], p[5], p[6]);
    const auto f = [](double x) { return FormatShortest(x); };
    const double angles = (std::fabs(v[3]) + std::fabs(v[4]) + std::fabs(v[5])) * kRadPerArcSecond;
    const auto exact = ProjTrans(Helmert(p), xyz[0], xyz[1], xyz[2]);
    const auto published = ProjTrans("+proj=helmert +x=" + f(v[0]) + " +y=" + f(v[1]) + " +z=" + f(v[2]) + " +s=" + f(v[6]) +
                                         " +rx=" + f(v[3]) + " +ry=" + f(v[4]) + " +rz=" + f(v[5]) +
                                         (sign < 0 ? " +convention=position_vector" : " +convention=coordinate_frame"),
                                     xyz[0], xyz[1], xyz[2]);
    EXPECT_LT(std::hypot(moved[0] - exact[0], moved[1] - exact[1], moved[2] - exact[2]), 1e-3) << file;
    EXPECT_LT(std::hypot(moved[0] - published[0], moved[1] - published[1], moved[2] - published[2]),
              1e-3 + angles * angles / 2 * std::hypot(xyz[0], xyz[1], xyz[2])) << file;
    const auto& r = rev->p;
    const auto back = geotra::SevenParTrans(moved[0], moved[1], moved[2], r[0], r[1], r[2], r[3], r[4], r[5], r[6]);
    EXPECT_LT(std::hypot(back[0] - xyz[0], back[1] - xyz[1], back[2] - xyz[2]), 0.01) << file;
  }
  proj_context_destroy(ctx);
}

}  // namespace
}  // namespace pelmo::test
