// Ellipsoid (".ell") and seven-parameter (".7pr") files: the delimited-value
// reader, the loaders' all-or-nothing assignment, and the shipped library in
// data/ checked against the EPSG dataset through PROJ.
#include <gtest/gtest.h>
#include <proj.h>

#include <GeographicLib/Geocentric.hpp>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "geotra/geodesy.hpp"
#include "paramfiles/paramsets.hpp"

namespace fs = std::filesystem;

namespace {

/// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ =
        fs::temp_directory_path() / ("pelmo_paramsets_" + std::to_string(std::random_device{}()) +
                                     "_" + std::to_string(++counter));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  /// Writes `bytes` unchanged into the file `name`; returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const fs::path p = path_ / name;
    std::ofstream out(p, std::ios::binary);
    out << bytes;
    return p.string();
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// ---------------------------------------------------------------- reading

TEST(ParamSetsRead, OneQuotedLineAndThreePlainLinesLoadAlike) {
  TempDir dir;
  const auto oneLine = pelmo::ReadEllipsoidFile(
      dir.Write("a.ell", "\"Bessel 1841\",6377397.155,0.0816968312225275\r\n"));
  const auto threeLines = pelmo::ReadEllipsoidFile(
      dir.Write("b.ell", "Bessel 1841\r\n6377397.155\r\n0.0816968312225275\r\n"));
  ASSERT_TRUE(oneLine);
  ASSERT_TRUE(threeLines);
  for (const auto& ell : {*oneLine, *threeLines}) {
    EXPECT_EQ(ell.name, "Bessel 1841");
    EXPECT_EQ(ell.a, 6377397.155);
    EXPECT_EQ(ell.e, 0.0816968312225275);
  }
}

TEST(ParamSetsRead, DecimalCommaSplitsANumberIntoTwoValues) {
  TempDir dir;
  const auto ell = pelmo::ReadEllipsoidFile(dir.Write("c.ell", "Test\r\n1,5\r\n0.08\r\n"));
  ASSERT_TRUE(ell);
  EXPECT_EQ(ell->a, 1.0);
  EXPECT_EQ(ell->e, 5.0);  // the third value of the file is never read
}

TEST(ParamSetsRead, DelimiterVariants) {
  TempDir dir;
  // Leading blanks, blank lines, blanks ending numbers, a quoted name with a
  // comma, LF and CR line ends, and trailing matter after the last value.
  const auto ell = pelmo::ReadEllipsoidFile(
      dir.Write("d.ell", "\n   \"Hayford, 1909\" ,\n\n  6378388 0.0819918899790298 rest, \"x\"\r"));
  ASSERT_TRUE(ell);
  EXPECT_EQ(ell->name, "Hayford, 1909");
  EXPECT_EQ(ell->a, 6378388.0);
  EXPECT_EQ(ell->e, 0.0819918899790298);

  // Unquoted name ends at the comma, trailing blanks dropped; exponent form;
  // a doubled quote inside a quoted name; no line end at all.
  const auto e2 = pelmo::ReadEllipsoidFile(dir.Write("e.ell", "Plain name  ,6.378e6,8.1e-2"));
  ASSERT_TRUE(e2);
  EXPECT_EQ(e2->name, "Plain name");
  EXPECT_EQ(e2->a, 6378000.0);
  EXPECT_EQ(e2->e, 0.081);
  const auto e3 = pelmo::ReadEllipsoidFile(dir.Write("f.ell", "\"The \"\"best\"\"\",1,2\r\n"));
  ASSERT_TRUE(e3);
  EXPECT_EQ(e3->name, "The \"best\"");

  const auto par = pelmo::ReadSevenParFile(
      dir.Write("a.7pr", "\"Set, one\",1,-2,3.5\r\n+4\r\n-0.5,6e-1\r\n7\r\n8\r\n"));
  ASSERT_TRUE(par);
  EXPECT_EQ(par->name, "Set, one");
  EXPECT_EQ(par->p, (std::array<double, 7>{1, -2, 3.5, 4, -0.5, 0.6, 7}));
}

TEST(ParamSetsRead, MalformedFilesGiveNothing) {
  TempDir dir;
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.File("missing.ell")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.File("no_folder/x.ell")));
  EXPECT_FALSE(pelmo::ReadSevenParFile(dir.File("missing.7pr")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.File("")));  // a folder, not a file
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("empty.ell", "")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("two.ell", "Name\r\n6378137\r\n")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("text.ell", "Name\r\nabc\r\n0.08\r\n")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("empty_value.ell", "Name,,0.08\r\n")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("quoted.ell", "Name,\"6378137\",0.08\r\n")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("open_quote.ell", "\"Name,6378137,0.08\r\n")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("nan.ell", "Name,nan,0.08\r\n")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("inf.ell", "Name,6378137,inf\r\n")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("huge.ell", "Name,1e999,0.08\r\n")));
  EXPECT_FALSE(pelmo::ReadEllipsoidFile(dir.Write("junk.ell", "Name,6378137x,0.08\r\n")));
  EXPECT_FALSE(pelmo::ReadSevenParFile(dir.Write("seven.7pr", "Name,1,2,3,4,5,6\r\n")));
}

TEST(ParamSetsRead, NamesInWindows1252AreConverted) {
  TempDir dir;
  // "Krassowsky-Ellipsoid für Rügen €" in Windows-1252.
  const auto ansi = pelmo::ReadEllipsoidFile(
      dir.Write("k.ell", "\"Krassowsky f\xFCr R\xFCgen \x80\",6378245,0.08\r\n"));
  ASSERT_TRUE(ansi);
  EXPECT_EQ(ansi->name, "Krassowsky f\u00FCr R\u00FCgen \u20AC");
  // UTF-8 stays as it is; a byte order mark is not part of the name.
  const auto utf8 = pelmo::ReadEllipsoidFile(
      dir.Write("u.ell", "\xEF\xBB\xBFK\u00F6nigsberg \u00DF,6378245,0.08\r\n"));
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->name, "K\u00F6nigsberg \u00DF");
}

// ---------------------------------------------------------------- loading

TEST(ParamSetsLoad, EllipsoidGoesIntoItsGroupWithTheUsersDecimalSign) {
  TempDir dir;
  const std::string path = dir.Write("g.ell", "GRS 1980\r\n6378137.5\r\n0.0818191910428158\r\n");
  pelmo::TransformSettings s;
  const pelmo::TransformSettings before = s;
  ASSERT_TRUE(pelmo::LoadEllipsoidFile(path, s, 2, ','));
  EXPECT_EQ(s.txtBezEll2, "GRS 1980");
  EXPECT_EQ(s.txtEll2a, "6378137,5");
  EXPECT_EQ(s.txtEll2e, "0,0818191910428158");
  EXPECT_EQ(s.txtBezEll1, before.txtBezEll1);
  EXPECT_EQ(s.txtEll1a, before.txtEll1a);
  EXPECT_EQ(s.txtEll1e, before.txtEll1e);

  ASSERT_TRUE(pelmo::LoadEllipsoidFile(path, s, 1, '.'));
  EXPECT_EQ(s.txtBezEll1, "GRS 1980");
  EXPECT_EQ(s.txtEll1a, "6378137.5");
  EXPECT_EQ(s.txtEll1e, "0.0818191910428158");
  EXPECT_EQ(s.txtPAR, before.txtPAR);
}

TEST(ParamSetsLoad, SecondSetFillsOnlyTheSecondSet) {
  TempDir dir;
  const std::string path = dir.Write(
      "s.7pr", "\"Test set\"\r\n598.1\r\n73.7\r\n418.2\r\n6.7\r\n0.5\r\n-0.045\r\n-0.202\r\n");
  pelmo::TransformSettings s;
  s.txtPAR = "/somewhere/config.par";
  s.txtEll1a = "6377397,155";
  const pelmo::TransformSettings before = s;
  ASSERT_TRUE(pelmo::LoadSevenParFile(path, s, 2, ','));
  EXPECT_EQ(s.txtsevenParSys2, "Test set");
  const std::array<std::string, 7> expected = {"598,1", "73,7",   "418,2", "6,7",
                                               "0,5",   "-0,045", "-0,202"};
  const auto second = s.SevenParFields(2);
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(*second[i], expected[i]) << "field " << i + 1;
  // The first set, both ellipsoids and the properties-file name stay.
  const auto first = s.SevenParFields(1);
  const auto firstBefore = before.SevenParFields(1);
  for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(*first[i], *firstBefore[i]);
  EXPECT_EQ(s.txtsevenParSys, before.txtsevenParSys);
  EXPECT_EQ(s.txtEll1a, before.txtEll1a);
  EXPECT_EQ(s.txtEll2a, before.txtEll2a);
  EXPECT_EQ(s.txtBezEll1, before.txtBezEll1);
  EXPECT_EQ(s.txtPAR, before.txtPAR);
}

TEST(ParamSetsLoad, FailureChangesNothing) {
  TempDir dir;
  pelmo::TransformSettings s;
  s.txtBezEll1 = "kept";
  s.txtEll1a = "1";
  s.txtP2_1 = "2";
  s.txtsevenParSys2 = "kept too";
  const std::string twoValues = dir.Write("two.ell", "Name\r\n6378137\r\n");
  const std::string sevenValues = dir.Write("seven.7pr", "Name\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n");
  EXPECT_FALSE(pelmo::LoadEllipsoidFile(twoValues, s, 1, ','));
  EXPECT_FALSE(pelmo::LoadEllipsoidFile(dir.File("missing.ell"), s, 1, ','));
  EXPECT_FALSE(pelmo::LoadSevenParFile(sevenValues, s, 2, ','));
  EXPECT_FALSE(pelmo::LoadSevenParFile(dir.File("missing.7pr"), s, 2, ','));
  EXPECT_EQ(s.txtBezEll1, "kept");
  EXPECT_EQ(s.txtEll1a, "1");
  EXPECT_EQ(s.txtEll1e, "0");
  EXPECT_EQ(s.txtP2_1, "2");
  EXPECT_EQ(s.txtP2_7, "0");
  EXPECT_EQ(s.txtsevenParSys2, "kept too");
}

// ---------------------------------------------------------------- data library

std::string DataFile(const std::string& name) {
  return (fs::path(PELMO_SOURCE_DIR) / "data" / name).string();
}

/// A PROJ context for one test.
class Proj {
 public:
  Proj() : ctx_(proj_context_create()) {}
  ~Proj() { proj_context_destroy(ctx_); }
  Proj(const Proj&) = delete;
  Proj& operator=(const Proj&) = delete;
  PJ_CONTEXT* ctx() const { return ctx_; }

 private:
  PJ_CONTEXT* ctx_;
};

/// Owns one PJ object.
struct PjPtr {
  PJ* pj;
  explicit PjPtr(PJ* p) : pj(p) {}
  ~PjPtr() {
    if (pj != nullptr) proj_destroy(pj);
  }
  PjPtr(const PjPtr&) = delete;
  PjPtr& operator=(const PjPtr&) = delete;
};

/// Radians per arc second.
constexpr double kRadPerArcSecond = std::numbers::pi / 648000.0;

TEST(DataLibrary, EllipsoidsMatchTheEpsgDataset) {
  struct Case {
    const char* file;
    const char* epsg;
  };
  const Case cases[] = {{"Bessel_1841.ell", "7004"},
                        {"GRS_1980.ell", "7019"},
                        {"WGS_84.ell", "7030"},
                        {"Krassowsky_1940.ell", "7024"},
                        {"International_1924.ell", "7022"}};
  Proj proj;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto ell = pelmo::ReadEllipsoidFile(DataFile(c.file));
    ASSERT_TRUE(ell);
    PjPtr ref(
        proj_create_from_database(proj.ctx(), "EPSG", c.epsg, PJ_CATEGORY_ELLIPSOID, 0, nullptr));
    ASSERT_NE(ref.pj, nullptr);
    double a = 0, b = 0, invf = 0;
    int computed = 0;
    ASSERT_TRUE(proj_ellipsoid_get_parameters(proj.ctx(), ref.pj, &a, &b, &computed, &invf));
    const double f = 1 / invf;
    const double e = std::sqrt(2 * f - f * f);
    EXPECT_EQ(ell->name, proj_get_name(ref.pj));
    EXPECT_EQ(ell->a, a);
    // The files carry 15 significant digits.
    EXPECT_NEAR(ell->e, e, 1e-16);
  }
}

/// EPSG parameter codes of the seven-parameter methods.
constexpr int kEpsgTx = 8605, kEpsgTy = 8606, kEpsgTz = 8607, kEpsgRx = 8608, kEpsgRy = 8609,
              kEpsgRz = 8610, kEpsgScale = 8611;

/// A seven-parameter transformation as the EPSG dataset publishes it.
struct EpsgHelmert {
  bool positionVector = false;    ///< else coordinate frame
  double tx = 0, ty = 0, tz = 0;  ///< metres
  double rx = 0, ry = 0, rz = 0;  ///< arc seconds, in the published convention
  double s = 0;                   ///< ppm
};

EpsgHelmert ReadEpsgHelmert(PJ_CONTEXT* ctx, const std::string& code) {
  EpsgHelmert h;
  PjPtr op(proj_create_from_database(ctx, "EPSG", code.c_str(), PJ_CATEGORY_COORDINATE_OPERATION, 0,
                                     nullptr));
  if (op.pj == nullptr) {
    ADD_FAILURE() << "EPSG " << code << " not in the PROJ database";
    return h;
  }
  const char* method = nullptr;
  proj_coordoperation_get_method_info(ctx, op.pj, &method, nullptr, nullptr);
  const std::string m = method != nullptr ? method : "";
  if (m.find("Position Vector") != std::string::npos) {
    h.positionVector = true;
  } else if (m.find("Coordinate Frame") == std::string::npos) {
    ADD_FAILURE() << "EPSG " << code << ": unexpected method " << m;
  }
  int found = 0;
  for (int i = 0; i < proj_coordoperation_get_param_count(ctx, op.pj); ++i) {
    const char* paramCode = nullptr;
    double value = 0, factor = 0;
    proj_coordoperation_get_param(ctx, op.pj, i, nullptr, nullptr, &paramCode, &value, nullptr,
                                  &factor, nullptr, nullptr, nullptr, nullptr);
    const int pc = paramCode != nullptr ? std::stoi(paramCode) : 0;
    const double si = value * factor;  // metres, radians, or unity
    switch (pc) {
      case kEpsgTx:
        h.tx = si;
        break;
      case kEpsgTy:
        h.ty = si;
        break;
      case kEpsgTz:
        h.tz = si;
        break;
      case kEpsgRx:
        h.rx = si / kRadPerArcSecond;
        break;
      case kEpsgRy:
        h.ry = si / kRadPerArcSecond;
        break;
      case kEpsgRz:
        h.rz = si / kRadPerArcSecond;
        break;
      case kEpsgScale:
        h.s = si * 1e6;
        break;
      default:
        continue;
    }
    ++found;
  }
  EXPECT_EQ(found, 7) << "EPSG " << code;
  return h;
}

/// Carries (x, y, z) through a PROJ pipeline.
std::array<double, 3> ProjTrans(PJ_CONTEXT* ctx, const std::string& definition,
                                const std::array<double, 3>& xyz) {
  PjPtr p(proj_create(ctx, definition.c_str()));
  if (p.pj == nullptr) {
    ADD_FAILURE() << "PROJ rejects " << definition;
    return {};
  }
  PJ_COORD c = proj_coord(xyz[0], xyz[1], xyz[2], 0);
  c = proj_trans(p.pj, PJ_FWD, c);
  return {c.xyz.x, c.xyz.y, c.xyz.z};
}

std::string Fixed(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

struct LibrarySet {
  const char* forwardFile;
  const char* reverseFile;
  const char* epsg;
  // A point in the area of use, on the source ellipsoid (degrees, metres).
  double lat, lon, h;
  double a, invf;
};

const LibrarySet kLibrarySets[] = {
    {"DHDN_to_ETRS89_EPSG1776.7pr", "ETRS89_to_DHDN_EPSG1776_reverse.7pr", "1776",  //
     49.0, 10.0, 450.0, 6377397.155, 299.1528128},
    {"S-JTSK_to_ETRS89_EPSG1622.7pr", "ETRS89_to_S-JTSK_EPSG1622_reverse.7pr", "1622",  //
     49.8, 15.5, 400.0, 6377397.155, 299.1528128},
    {"MGI_to_ETRS89_EPSG1619.7pr", "ETRS89_to_MGI_EPSG1619_reverse.7pr", "1619",  //
     47.5, 14.0, 800.0, 6377397.155, 299.1528128},
    {"Pulkovo_1942-83_to_ETRS89_EPSG1775.7pr", "ETRS89_to_Pulkovo_1942-83_EPSG1775_reverse.7pr",
     "1775", 52.5, 13.4, 50.0, 6378245.0, 298.3},
};

/// Agreement required with PROJ when both use the exact rotation [m].
constexpr double kExactTolerance = 0.001;

TEST(DataLibrary, SevenParameterSetsAgreeWithEpsgThroughProj) {
  Proj proj;
  for (const LibrarySet& set : kLibrarySets) {
    SCOPED_TRACE(set.forwardFile);
    const auto par = pelmo::ReadSevenParFile(DataFile(set.forwardFile));
    ASSERT_TRUE(par);
    EXPECT_NE(par->name.find(std::string("EPSG ") + set.epsg), std::string::npos) << par->name;
    const EpsgHelmert epsg = ReadEpsgHelmert(proj.ctx(), set.epsg);

    // The file holds dX, dY, dZ, m, then the rotations about Z, Y and X in the
    // coordinate-frame convention; a position-vector rotation changes sign.
    const double sign = epsg.positionVector ? -1.0 : 1.0;
    const std::array<double, 7> converted = {epsg.tx,        epsg.ty,        epsg.tz,       epsg.s,
                                             sign * epsg.rz, sign * epsg.ry, sign * epsg.rx};
    for (std::size_t i = 0; i < 7; ++i)
      EXPECT_NEAR(par->p[i], converted[i], 1e-9) << "value " << i + 1;

    const GeographicLib::Geocentric source(set.a, 1 / set.invf);
    std::array<double, 3> xyz{};
    source.Forward(set.lat, set.lon, set.h, xyz[0], xyz[1], xyz[2]);
    const auto& p = par->p;
    const auto ours = pelmo::geotra::SevenParTrans(xyz[0], xyz[1], xyz[2], p[0], p[1], p[2], p[3],
                                                   p[4], p[5], p[6]);

    const std::string translation = "+proj=helmert +x=" + Fixed(epsg.tx) + " +y=" + Fixed(epsg.ty) +
                                    " +z=" + Fixed(epsg.tz) + " +s=" + Fixed(epsg.s);
    const std::string published =
        translation + " +rx=" + Fixed(epsg.rx) + " +ry=" + Fixed(epsg.ry) +
        " +rz=" + Fixed(epsg.rz) +
        " +convention=" + (epsg.positionVector ? "position_vector" : "coordinate_frame");

    // 1. PROJ's exact rotation in the coordinate-frame convention with the
    //    converted angles: the same transformation as ours.
    const auto exact =
        ProjTrans(proj.ctx(),
                  translation + " +rx=" + Fixed(sign * epsg.rx) + " +ry=" + Fixed(sign * epsg.ry) +
                      " +rz=" + Fixed(sign * epsg.rz) + " +convention=coordinate_frame +exact",
                  xyz);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(ours[i], exact[i], kExactTolerance) << "axis " << i;

    // 2. EPSG's own formula in its published convention (small-angle
    //    rotation matrix). It differs from the exact rotation by the
    //    second-order terms, at most (sum of the angles)^2 / 2 times the
    //    distance from the geocentre; the set must agree to that plus 1 mm.
    const auto epsgFormula = ProjTrans(proj.ctx(), published, xyz);
    const double angles =
        (std::abs(epsg.rx) + std::abs(epsg.ry) + std::abs(epsg.rz)) * kRadPerArcSecond;
    const double radius = std::hypot(xyz[0], xyz[1], xyz[2]);
    const double bound = kExactTolerance + angles * angles / 2 * radius;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(ours[i], epsgFormula[i], bound) << "axis " << i;
  }
}

TEST(DataLibrary, ReverseSetsNegateTheirForwardSets) {
  for (const LibrarySet& set : kLibrarySets) {
    SCOPED_TRACE(set.reverseFile);
    const auto forward = pelmo::ReadSevenParFile(DataFile(set.forwardFile));
    const auto reverse = pelmo::ReadSevenParFile(DataFile(set.reverseFile));
    ASSERT_TRUE(forward);
    ASSERT_TRUE(reverse);
    EXPECT_NE(std::string(set.reverseFile).find(std::string("EPSG") + set.epsg), std::string::npos);
    EXPECT_NE(reverse->name.find(std::string("EPSG ") + set.epsg), std::string::npos)
        << reverse->name;
    for (std::size_t i = 0; i < 7; ++i)
      EXPECT_EQ(reverse->p[i], -forward->p[i]) << "value " << i + 1;

    // The sign change is the reversal EPSG prescribes for these methods; it
    // is not the exact inverse, but brings a point back within a centimetre.
    const GeographicLib::Geocentric source(set.a, 1 / set.invf);
    std::array<double, 3> xyz{};
    source.Forward(set.lat, set.lon, set.h, xyz[0], xyz[1], xyz[2]);
    const auto& f = forward->p;
    const auto& r = reverse->p;
    const auto there = pelmo::geotra::SevenParTrans(xyz[0], xyz[1], xyz[2], f[0], f[1], f[2], f[3],
                                                    f[4], f[5], f[6]);
    const auto back = pelmo::geotra::SevenParTrans(there[0], there[1], there[2], r[0], r[1], r[2],
                                                   r[3], r[4], r[5], r[6]);
    constexpr double kReversalTolerance = 0.01;  // metres
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], xyz[i], kReversalTolerance) << "axis " << i;
  }
}

TEST(DataLibrary, EveryShippedFileIsReadable) {
  int ellipsoids = 0, sets = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(PELMO_SOURCE_DIR) / "data")) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".ell") {
      ++ellipsoids;
      EXPECT_TRUE(pelmo::ReadEllipsoidFile(entry.path().string())) << entry.path();
    } else if (ext == ".7pr") {
      ++sets;
      EXPECT_TRUE(pelmo::ReadSevenParFile(entry.path().string())) << entry.path();
    }
  }
  EXPECT_EQ(ellipsoids, 5);
  EXPECT_EQ(sets, 8);
}

}  // namespace
