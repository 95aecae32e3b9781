// Ellipsoid (".ell") and seven-parameter (".7pr") files: the delimited-value
// reader, the loaders' all-or-nothing assignment, and the shipped library in
// data/ checked against the EPSG dataset through PROJ.
#include <gtest/gtest.h>
#include <proj.h>

#include <GeographicLib/Geocentric.hpp>
#include <array>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"
#include "paramfiles/paramsets.hpp"
#include "test_support.hpp"

namespace pelmo {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

/// Writes `bytes` into the file `name` of `dir`; returns its path.
std::string Put(const TempFolder& dir, const std::string& name, const std::string& bytes) {
  test::WriteBytes(dir.File(name), bytes);
  return dir.File(name);
}

// ---------------------------------------------------------------- reading

TEST(ParamSetsRead, DelimiterQuoteAndEncodingVariants) {
  const struct {
    const char* what;
    std::string content;
    const char* name;
    double a, e;
  } cases[] = {
      {"one quoted line", "\"Bessel 1841\",6377397.155,0.0816968312225275\r\n", "Bessel 1841",
       6377397.155, 0.0816968312225275},
      {"three plain lines", "Bessel 1841\r\n6377397.155\r\n0.0816968312225275\r\n", "Bessel 1841",
       6377397.155, 0.0816968312225275},
      // The third value of the file is never read.
      {"decimal comma splits a number", "Test\r\n1,5\r\n0.08\r\n", "Test", 1, 5},
      {"blanks, blank lines, comma in quotes, LF and CR, trailing matter",
       "\n   \"Hayford, 1909\" ,\n\n  6378388 0.0819918899790298 rest, \"x\"\r", "Hayford, 1909",
       6378388, 0.0819918899790298},
      {"unquoted name ends at the comma, exponents, no line end", "Plain name  ,6.378e6,8.1e-2",
       "Plain name", 6378000, 0.081},
      {"doubled quote", "\"The \"\"best\"\"\",1,2\r\n", "The \"best\"", 1, 2},
      {"Windows-1252 name", "\"Krassowsky f\xFCr R\xFCgen \x80\",6378245,0.08\r\n",
       "Krassowsky f\u00FCr R\u00FCgen \u20AC", 6378245, 0.08},
      {"UTF-8 with byte order mark", "\xEF\xBB\xBFK\u00F6nigsberg \u00DF,6378245,0.08\r\n",
       "K\u00F6nigsberg \u00DF", 6378245, 0.08},
  };
  TempFolder dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto ell = ReadEllipsoidFile(Put(dir, "x.ell", c.content));
    ASSERT_TRUE(ell);
    EXPECT_EQ(ell->name, c.name);
    EXPECT_EQ(ell->a, c.a);
    EXPECT_EQ(ell->e, c.e);
  }
  const auto par =
      ReadSevenParFile(Put(dir, "a.7pr", "\"Set, one\",1,-2,3.5\r\n+4\r\n-0.5,6e-1\r\n7\r\n8\r\n"));
  ASSERT_TRUE(par);
  EXPECT_EQ(par->name, "Set, one");
  EXPECT_EQ(par->p, (std::array<double, 7>{1, -2, 3.5, 4, -0.5, 0.6, 7}));
}

TEST(ParamSetsRead, MalformedFilesGiveNothing) {
  TempFolder dir;
  EXPECT_FALSE(ReadEllipsoidFile(dir.File("missing.ell")));
  EXPECT_FALSE(ReadEllipsoidFile(dir.File("no_folder/x.ell")));
  EXPECT_FALSE(ReadSevenParFile(dir.File("missing.7pr")));
  EXPECT_FALSE(ReadEllipsoidFile(dir.File("")));  // a folder, not a file
  for (const char* content :
       {"", "Name\r\n6378137\r\n", "Name\r\nabc\r\n0.08\r\n", "Name,,0.08\r\n",
        "Name,\"6378137\",0.08\r\n", "\"Name,6378137,0.08\r\n", "Name,nan,0.08\r\n",
        "Name,6378137,inf\r\n", "Name,1e999,0.08\r\n", "Name,6378137x,0.08\r\n"}) {
    EXPECT_FALSE(ReadEllipsoidFile(Put(dir, "bad.ell", content))) << content;
  }
  EXPECT_FALSE(ReadSevenParFile(Put(dir, "seven.7pr", "Name,1,2,3,4,5,6\r\n")));
}

// ---------------------------------------------------------------- loading

TEST(ParamSetsLoad, EllipsoidGoesIntoItsGroupWithTheUsersDecimalSign) {
  TempFolder dir;
  const std::string path = Put(dir, "g.ell", "GRS 1980\r\n6378137.5\r\n0.0818191910428158\r\n");
  TransformSettings s;
  const TransformSettings before = s;
  ASSERT_TRUE(LoadEllipsoidFile(path, s, 2, ','));
  EXPECT_EQ(s.txtBezEll2 + "|" + s.txtEll2a + "|" + s.txtEll2e,
            "GRS 1980|6378137,5|0,0818191910428158");
  EXPECT_EQ(s.txtBezEll1 + s.txtEll1a + s.txtEll1e,
            before.txtBezEll1 + before.txtEll1a + before.txtEll1e);

  ASSERT_TRUE(LoadEllipsoidFile(path, s, 1, '.'));
  EXPECT_EQ(s.txtBezEll1 + "|" + s.txtEll1a + "|" + s.txtEll1e,
            "GRS 1980|6378137.5|0.0818191910428158");
  EXPECT_EQ(s.txtPAR, before.txtPAR);
}

TEST(ParamSetsLoad, SecondSetFillsOnlyTheSecondSet) {
  TempFolder dir;
  const std::string path = Put(
      dir, "s.7pr", "\"Test set\"\r\n598.1\r\n73.7\r\n418.2\r\n6.7\r\n0.5\r\n-0.045\r\n-0.202\r\n");
  TransformSettings s;
  s.txtPAR = "/somewhere/config.par";
  s.txtEll1a = "6377397,155";
  const TransformSettings before = s;
  ASSERT_TRUE(LoadSevenParFile(path, s, 2, ','));
  EXPECT_EQ(s.txtsevenParSys2, "Test set");
  const std::array<std::string, 7> expected = {"598,1", "73,7",   "418,2", "6,7",
                                               "0,5",   "-0,045", "-0,202"};
  const auto second = s.SevenParFields(2), first = s.SevenParFields(1);
  const auto firstBefore = before.SevenParFields(1);
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(*second[i], expected[i]) << "field " << i + 1;
    EXPECT_EQ(*first[i], *firstBefore[i]);
  }
  // The first set, both ellipsoids and the properties-file name stay.
  EXPECT_EQ(s.txtsevenParSys, before.txtsevenParSys);
  EXPECT_EQ(s.txtEll1a + s.txtEll2a + s.txtBezEll1 + s.txtPAR,
            before.txtEll1a + before.txtEll2a + before.txtBezEll1 + before.txtPAR);
}

TEST(ParamSetsLoad, FailureChangesNothing) {
  TempFolder dir;
  TransformSettings s;
  s.txtBezEll1 = "kept", s.txtEll1a = "1", s.txtP2_1 = "2", s.txtsevenParSys2 = "kept too";
  EXPECT_FALSE(LoadEllipsoidFile(Put(dir, "two.ell", "Name\r\n6378137\r\n"), s, 1, ','));
  EXPECT_FALSE(LoadEllipsoidFile(dir.File("missing.ell"), s, 1, ','));
  EXPECT_FALSE(
      LoadSevenParFile(Put(dir, "six.7pr", "Name\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n"), s, 2, ','));
  EXPECT_FALSE(LoadSevenParFile(dir.File("missing.7pr"), s, 2, ','));
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

/// A PROJ context, and the objects made in it, for one test.
class Proj {
 public:
  Proj() : ctx_(proj_context_create()) {}
  ~Proj() {
    for (PJ* pj : objects_) proj_destroy(pj);
    proj_context_destroy(ctx_);
  }
  Proj(const Proj&) = delete;
  Proj& operator=(const Proj&) = delete;
  PJ_CONTEXT* ctx() const { return ctx_; }
  /// Keeps `pj` (may be null) until the context goes.
  PJ* Own(PJ* pj) {
    if (pj != nullptr) objects_.push_back(pj);
    return pj;
  }
  /// Carries (x, y, z) through the operation `definition`.
  std::array<double, 3> Trans(const std::string& definition, const std::array<double, 3>& xyz) {
    PJ* p = Own(proj_create(ctx_, definition.c_str()));
    if (p == nullptr) {
      ADD_FAILURE() << "PROJ rejects " << definition;
      return {};
    }
    const PJ_COORD c = proj_trans(p, PJ_FWD, proj_coord(xyz[0], xyz[1], xyz[2], 0));
    return {c.xyz.x, c.xyz.y, c.xyz.z};
  }

 private:
  PJ_CONTEXT* ctx_;
  std::vector<PJ*> objects_;
};

TEST(DataLibrary, EllipsoidsMatchTheEpsgDataset) {
  const std::pair<const char*, const char*> cases[] = {{"Bessel_1841.ell", "7004"},
                                                       {"GRS_1980.ell", "7019"},
                                                       {"WGS_84.ell", "7030"},
                                                       {"Krassowsky_1940.ell", "7024"},
                                                       {"International_1924.ell", "7022"}};
  Proj proj;
  for (const auto& [file, epsg] : cases) {
    SCOPED_TRACE(file);
    const auto ell = ReadEllipsoidFile(DataFile(file));
    ASSERT_TRUE(ell);
    PJ* ref = proj.Own(
        proj_create_from_database(proj.ctx(), "EPSG", epsg, PJ_CATEGORY_ELLIPSOID, 0, nullptr));
    ASSERT_NE(ref, nullptr);
    double a = 0, b = 0, invf = 0;
    int computed = 0;
    ASSERT_TRUE(proj_ellipsoid_get_parameters(proj.ctx(), ref, &a, &b, &computed, &invf));
    const double f = 1 / invf;
    EXPECT_EQ(ell->name, proj_get_name(ref));
    EXPECT_EQ(ell->a, a);
    EXPECT_NEAR(ell->e, std::sqrt(2 * f - f * f), 1e-16);  // 15 significant digits
  }
}

/// Radians per arc second.
constexpr double kRadPerArcSecond = std::numbers::pi / 648000.0;

/// A seven-parameter transformation as the EPSG dataset publishes it.
struct EpsgHelmert {
  bool positionVector = false;  ///< else coordinate frame
  /// tx, ty, tz [m], rx, ry, rz [arc seconds, published convention], s [ppm]:
  /// the order of the EPSG parameter codes 8605 to 8611.
  std::array<double, 7> v{};
};

EpsgHelmert ReadEpsgHelmert(Proj& proj, const char* code) {
  EpsgHelmert h;
  PJ* op = proj.Own(proj_create_from_database(proj.ctx(), "EPSG", code,
                                              PJ_CATEGORY_COORDINATE_OPERATION, 0, nullptr));
  if (op == nullptr) {
    ADD_FAILURE() << "EPSG " << code << " not in the PROJ database";
    return h;
  }
  const char* method = nullptr;
  proj_coordoperation_get_method_info(proj.ctx(), op, &method, nullptr, nullptr);
  const std::string m = method != nullptr ? method : "";
  h.positionVector = m.find("Position Vector") != std::string::npos;
  EXPECT_TRUE(h.positionVector || m.find("Coordinate Frame") != std::string::npos) << m;
  int found = 0;
  for (int i = 0; i < proj_coordoperation_get_param_count(proj.ctx(), op); ++i) {
    const char* paramCode = nullptr;
    double value = 0, factor = 0;
    proj_coordoperation_get_param(proj.ctx(), op, i, nullptr, nullptr, &paramCode, &value,
                                  nullptr, &factor, nullptr, nullptr, nullptr, nullptr);
    const int k = (paramCode != nullptr ? std::stoi(paramCode) : 0) - 8605;
    if (k < 0 || k > 6) continue;
    const double si = value * factor;  // metres, radians, or unity
    h.v[k] = k < 3 ? si : k < 6 ? si / kRadPerArcSecond : si * 1e6;
    ++found;
  }
  EXPECT_EQ(found, 7) << "EPSG " << code;
  return h;
}

struct LibrarySet {
  const char* forwardFile;
  const char* reverseFile;
  const char* epsg;
  double lat, lon, h;  // a point in the area of use (degrees, metres)
  double a, invf;      // the source ellipsoid
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

std::array<double, 3> Geocentric(const LibrarySet& set) {
  std::array<double, 3> xyz{};
  GeographicLib::Geocentric(set.a, 1 / set.invf).Forward(set.lat, set.lon, set.h, xyz[0], xyz[1],
                                                         xyz[2]);
  return xyz;
}

std::array<double, 3> Carry(const std::array<double, 3>& xyz, const std::array<double, 7>& p) {
  return geotra::SevenParTrans(xyz[0], xyz[1], xyz[2], p[0], p[1], p[2], p[3], p[4], p[5], p[6]);
}

TEST(DataLibrary, SevenParameterSetsAgreeWithEpsgThroughProj) {
  constexpr double kExactTolerance = 0.001;  // metres, both with the exact rotation
  Proj proj;
  for (const LibrarySet& set : kLibrarySets) {
    SCOPED_TRACE(set.forwardFile);
    const auto par = ReadSevenParFile(DataFile(set.forwardFile));
    ASSERT_TRUE(par);
    EXPECT_NE(par->name.find(std::string("EPSG ") + set.epsg), std::string::npos) << par->name;
    const EpsgHelmert epsg = ReadEpsgHelmert(proj, set.epsg);
    const auto& [tx, ty, tz, rx, ry, rz, s] = epsg.v;

    // The file holds dX, dY, dZ, m, then the rotations about Z, Y and X in the
    // coordinate-frame convention; a position-vector rotation changes sign.
    const double sign = epsg.positionVector ? -1.0 : 1.0;
    const std::array<double, 7> converted = {tx, ty, tz, s, sign * rz, sign * ry, sign * rx};
    for (std::size_t i = 0; i < 7; ++i) {
      EXPECT_NEAR(par->p[i], converted[i], 1e-9) << "value " << i + 1;
    }

    const auto xyz = Geocentric(set);
    const auto ours = Carry(xyz, par->p);
    auto f = [](double v) { return FormatShortest(v); };
    const std::string translation =
        "+proj=helmert +x=" + f(tx) + " +y=" + f(ty) + " +z=" + f(tz) + " +s=" + f(s);
    // 1. PROJ's exact rotation in the coordinate-frame convention with the
    //    converted angles: the same transformation as ours.
    const auto exact = proj.Trans(translation + " +rx=" + f(sign * rx) + " +ry=" +
                                      f(sign * ry) + " +rz=" + f(sign * rz) +
                                      " +convention=coordinate_frame +exact",
                                  xyz);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(ours[i], exact[i], kExactTolerance) << "axis " << i;

    // 2. EPSG's own formula in its published convention (small-angle
    //    rotation matrix). It differs from the exact rotation by the
    //    second-order terms, at most (sum of the angles)^2 / 2 times the
    //    distance from the geocentre; the set must agree to that plus 1 mm.
    const auto published = proj.Trans(
        translation + " +rx=" + f(rx) + " +ry=" + f(ry) + " +rz=" + f(rz) + " +convention=" +
            (epsg.positionVector ? "position_vector" : "coordinate_frame"),
        xyz);
    const double angles = (std::abs(rx) + std::abs(ry) + std::abs(rz)) * kRadPerArcSecond;
    const double bound = kExactTolerance + angles * angles / 2 * std::hypot(xyz[0], xyz[1], xyz[2]);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(ours[i], published[i], bound) << "axis " << i;
  }
}

// The sign change is the reversal EPSG prescribes for these methods; it is
// not the exact inverse, but brings a point back within a centimetre.
TEST(DataLibrary, ReverseSetsNegateTheirForwardSets) {
  for (const LibrarySet& set : kLibrarySets) {
    SCOPED_TRACE(set.reverseFile);
    const auto forward = ReadSevenParFile(DataFile(set.forwardFile));
    const auto reverse = ReadSevenParFile(DataFile(set.reverseFile));
    ASSERT_TRUE(forward);
    ASSERT_TRUE(reverse);
    EXPECT_NE(reverse->name.find(std::string("EPSG ") + set.epsg), std::string::npos)
        << reverse->name;
    for (std::size_t i = 0; i < 7; ++i) {
      EXPECT_EQ(reverse->p[i], -forward->p[i]) << "value " << i + 1;
    }
    const auto xyz = Geocentric(set);
    const auto back = Carry(Carry(xyz, forward->p), reverse->p);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], xyz[i], 0.01) << "axis " << i;
  }
}

TEST(DataLibrary, EveryShippedFileIsReadable) {
  int ellipsoids = 0, sets = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(PELMO_SOURCE_DIR) / "data")) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".ell") {
      ++ellipsoids;
      EXPECT_TRUE(ReadEllipsoidFile(entry.path().string())) << entry.path();
    } else if (ext == ".7pr") {
      ++sets;
      EXPECT_TRUE(ReadSevenParFile(entry.path().string())) << entry.path();
    }
  }
  EXPECT_EQ(ellipsoids, 5);
  EXPECT_EQ(sets, 8);
}

}  // namespace
}  // namespace pelmo
