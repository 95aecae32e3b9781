// The properties file (.par): its 64 lines, the forms a load accepts, every failure and refused file operation.
// Ellipsoid (.ell) and seven-parameter (.7pr) files, and the shipped library against EPSG through PROJ.
#include <GeographicLib/Geocentric.hpp>

#include "paramfiles/paramsets.hpp"
#include "paramfiles/properties.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

std::string JoinCrLf(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

/// Every stored control off its start value (quotes, umlauts, commas, blanks, empty), and its 64 lines.
struct Sample {
  TransformSettings s;
  OptionTable d = {"2", "9", "12", "-177", "177", "0,9996", "0.9995", "0", "1", "2", "True", "False",
                   "500000", "12,5", "-100", "0,9999", "4500000", "9", "\"\"", "1"};
  Sample() {
    s.optSHP = false, s.optASCII = true, s.optInKrovak = false, s.optINGKallgemein = true, s.optOutGK = false,
    s.optOUTetrs = true;
    s.txtEll1a = "6377397,155", s.txtEll1e = "0,0816968312225275", s.txtBezEll1 = "Bessel \"1841\" Ä";
    s.txtEll2a = "6378137", s.txtEll2e = "0.0818191910428158", s.txtBezEll2 = "GRS 1980 – Größe";
    s.txtsevenParSys = "DHDN → ETRS89, Süd", s.txtsevenParSys2 = "";
    for (int i = 0; i < 7; ++i) *s.SevenParFields(1)[i] = std::to_string(i) + ",5", *s.SevenParFields(2)[i] = std::to_string(-i);
    s.txtP2_6 = "\"", s.txtP2_7 = "  7  ";
  }
  static std::vector<std::string> Lines() {
    const std::string f = "#FALSE#", t = "#TRUE#", x = "\"Free\"";
    return {f, t, x, x, f, f, f, f, t, x, x, f, f, f, t, f, x, x, "\"6377397,155\"", "\"0,0816968312225275\"",
            "\"Bessel \"\"1841\"\" Ä\"", x, x, x, "\"6378137\"", "\"0.0818191910428158\"", "\"GRS 1980 – Größe\"", x, x, x,
            "\"DHDN → ETRS89, Süd\"", "\"0,5\"", "\"1,5\"", "\"2,5\"", "\"3,5\"", "\"4,5\"", "\"5,5\"", "\"6,5\"", "\"\"",
            "\"0\"", "\"-1\"", "\"-2\"", "\"-3\"", "\"-4\"", "\"\"\"\"", "\"  7  \"", "2", "\"9\"", "\"12\"", "\"-177\"",
            "\"177\"", "\"0,9996\"", "\"0.9995\"", "0", "1", "2", "\"500000\"", "\"12,5\"", "\"-100\"", "\"0,9999\"",
            "\"4500000\"", "\"9\"", "\"\"\"\"\"\"", "\"1\""};
  }
};

/// The bytes a configuration saves to: two store the same values exactly when these agree.
std::string Saved(TransformSettings s, const OptionTable& d) {
  TempFolder dir;
  SaveProperties(dir.File("x.par"), s, d);
  return ReadBytes(dir.File("x.par"));
}

template <class Call>
PropertiesError ErrorOf(Call&& call) {
  try { call(); } catch (const PropertiesError& e) { return e; }
  return PropertiesError(-1, 0, "no error");
}

TEST(Properties, SaveAndLoadTheSixtyFourLines) {
  TempFolder dir;
  Sample sample;
  const std::string path = dir.File("sample.par");
  WriteBytes(path, std::string(5000, 'x'));  // an older, longer file
  SaveProperties(path, sample.s, sample.d);
  EXPECT_EQ(sample.s.txtPAR, path);
  EXPECT_EQ(ReadBytes(path), JoinCrLf(Sample::Lines()));
  // Load restores every stored control and nothing else.
  TransformSettings t;
  t.txtQuelldatei = "in.shp", t.optSevPar = false, t.optTranslation = true;
  OptionTable d = DefaultOptionValues(',');
  d[opt::kSevPar] = "False";
  LoadProperties(path, t, d);
  EXPECT_EQ(Saved(t, d), JoinCrLf(Sample::Lines()));
  EXPECT_EQ(t.txtPAR + t.txtQuelldatei + d[opt::kSevPar], path + "in.shpFalse");
  EXPECT_TRUE(t.optTranslation && !t.optSevPar);
}

TEST(Properties, FormsAndEncodingsALoadAccepts) {
  TempFolder dir;
  const auto with = [](std::vector<std::pair<int, std::string>> changes) {
    std::vector<std::string> l = Sample::Lines();
    for (const auto& [line, text] : changes) l[static_cast<std::size_t>(line - 1)] = text;
    return JoinCrLf(l);
  };
  // Each file, and what its lines 1, 5-9, 19-21, 27, 31 and 48 read as.
  const std::pair<std::string, std::string> cases[] = {
      // Reserved lines hold anything; lines after the 64th are not read.
      {with({{3, "#TRUE#"}, {11, "bare, words"}, {18, "\"open"}}) + "\"open\r\n\xFF\xFE\r\n", ""},
      {with({{1, "\xEF\xBB\xBF#FALSE#"}, {2, "\t#TRUE# "}}), ""},  // byte order mark, blanks
      {with({{19, "#TRUE#"}, {20, "  0,08  "}, {21, "  \"  x  \"  "}, {48, "\"a, b\""}}),
       "0|00001|#TRUE#|0,08|  x  |GRS 1980 – Größe|DHDN → ETRS89, Süd|a, b"},
      {with({{1, "#TRUE#"}, {5, "#TRUE#"}, {7, "#TRUE#"}, {9, "#FALSE#"}}),  // the later True of a group wins
       "0|00100|6377397,155|0,0816968312225275|Bessel \"1841\" Ä|GRS 1980 – Größe|DHDN → ETRS89, Süd|9"},
      {with({{21, "\"B \xC4\""}, {27, "\"GRS \x96 Gr\xF6\xDF" "e\""}, {31, "\"M\xFCller \x80 \x84Zitat\x93\x9F\""}}),  // Windows-1252
       "0|00001|6377397,155|0,0816968312225275|B Ä|GRS – Größe|Müller € „Zitat“Ÿ|9"},
  };
  for (const auto& [content, expected] : cases) {
    WriteBytes(dir.File("x.par"), content);
    TransformSettings s;
    OptionTable d = DefaultOptionValues('.');
    LoadProperties(dir.File("x.par"), s, d);
    if (expected.empty()) {
      EXPECT_EQ(Saved(s, d), JoinCrLf(Sample::Lines())) << content.substr(0, 40);
      continue;
    }
    std::string flags;
    for (const bool b : {s.optInGK, s.optInKrovak, s.optInBL, s.optINetrs, s.optINGKallgemein}) flags += b ? "1" : "0";
    EXPECT_EQ(std::string(s.optSHP ? "1" : "0") + "|" + flags + "|" + s.txtEll1a + "|" + s.txtEll1e + "|" + s.txtBezEll1 +
                  "|" + s.txtBezEll2 + "|" + s.txtsevenParSys + "|" + d[opt::kGKBM], expected);
  }
}

// A failed load: number, line, message; earlier lines assigned, later not. A failed save: its number; values
// that could not be read back are refused before the file is touched.
TEST(Properties, FailedLoadsAndSaves) {
  TempFolder dir;
  const std::string path = dir.File("bad.par");
  const std::vector<std::string> base = Sample::Lines();
  const auto with = [&](int line, const std::string& text) {
    std::vector<std::string> l = base;
    l[static_cast<std::size_t>(line - 1)] = text;
    return JoinCrLf(l);
  };
  const auto first = [&](int n) { return JoinCrLf(std::vector<std::string>(base.begin(), base.begin() + n)); };
  const std::tuple<std::string, int, int> cases[] = {
      {"", 62, 1}, {first(1), 62, 2}, {first(46), 62, 47}, {first(63), 62, 64}, {with(21, "\"missing quote"), 13, 21},
      {with(21, "\"text\" tail"), 13, 21}, {with(47, "3"), 380, 47}, {with(54, "99999999999999"), 380, 54},
      {with(55, "#TRUE#"), 13, 55}, {with(56, "\"1\""), 13, 56}, {with(47, ""), 13, 47}, {with(9, "1"), 13, 9},
      {with(12, "\"#TRUE#\""), 13, 12}, {with(64, "\"open"), 13, 64}, {std::string("\x89PNG\r\n\x1A\n\0\0", 10), 13, 1},
      {std::string("\xFF\xFE#\0T\0R\0U\0E\0#\0\r\0\n\0", 18), 13, 1},        // UTF-16
      {with(21, "\"" + std::string(2'000'000, 'a') + "\""), 14, 21}};  // refused, not held
  const Sample sample;
  for (const auto& [content, number, line] : cases) {
    SCOPED_TRACE(testing::Message() << "error " << number << " at line " << line);
    WriteBytes(path, content);
    TransformSettings s;
    OptionTable d = DefaultOptionValues('.');
    const PropertiesError e = ErrorOf([&] { LoadProperties(path, s, d); });
    EXPECT_EQ(e.number(), number);
    EXPECT_EQ(e.line(), line);
    EXPECT_NE(std::string(e.what()).find("\"" + path + "\", Zeile " + std::to_string(line)), std::string::npos);
    EXPECT_EQ(s.txtPAR, path);
    EXPECT_EQ(s.optASCII, line > 2);
    EXPECT_EQ(s.txtBezEll1, line > 21 ? sample.s.txtBezEll1 : "0");
    EXPECT_EQ(d[opt::kINeasting], line > 57 ? sample.d[opt::kINeasting] : "5500000");
    EXPECT_EQ(d[opt::kOUTscale], "1");
  }
  EXPECT_EQ(PropertiesErrorText(380), "Ungültiger Eigenschaftswert");
  fs::create_directory(dir.File("folder.par"));
  const std::tuple<std::string, bool, int> files[] = {{"missing.par", false, 53}, {"no/x.par", false, 76},
                                                      {"no/x.par", true, 76}, {"folder.par", true, 70}};
  for (const auto& [file, saving, number] : files) {
    Sample x;
    const PropertiesError e = ErrorOf([&] { saving ? SaveProperties(dir.File(file), x.s, x.d) : LoadProperties(dir.File(file), x.s, x.d); });
    EXPECT_EQ(e.number(), number) << file;
    EXPECT_EQ(e.line(), 0);
    EXPECT_EQ(x.s.txtPAR, "no loaded Properties");
    EXPECT_EQ(PropertiesErrorMessage(number, saving),
              std::to_string(number) + (saving ? "   Fehler Beim Speichern der Parameter Datei" : "   Fehler Beim Laden der Parameter Datei"));
  }
  EXPECT_FALSE(fs::exists(dir.File("no")));
  const std::pair<int, std::function<void(Sample&)>> refused[] = {
      {47, [](Sample& x) { x.d[opt::kSperre] = "3"; }}, {55, [](Sample& x) { x.d[opt::kStat1] = ""; }},
      {54, [](Sample& x) { x.d[opt::kExp] = "True"; }}, {21, [](Sample& x) { x.s.txtBezEll1 = "two\nlines"; }},
      {64, [](Sample& x) { x.d[opt::kOUTscale] = "1\r"; }}};
  for (const auto& [line, change] : refused) {
    Sample x;
    change(x);
    const PropertiesError e = ErrorOf([&] { SaveProperties(dir.File("refused.par"), x.s, x.d); });
    EXPECT_EQ(e.number() * 100 + e.line(), 38000 + line);
    EXPECT_FALSE(fs::exists(dir.File("refused.par")));
  }
}

TEST(Properties, EveryFileOperationRefusedInTurn) {
  TempFolder dir;
  const std::string path = dir.File("einstellungen.par");
  Sample saved;
  std::vector<int> numbers;
  ForEachFailingOperation([&] { return ErrorOf([&] { SaveProperties(path, saved.s, saved.d); }).number(); },
                          [&](int number, bool complete) { numbers.push_back(complete ? 0 : number); });
  EXPECT_EQ(numbers, (std::vector<int>{70, 61, 57, 0}));  // open (permission), write (disk full), close (I/O)
  ForEachFailingOperation(
      [&] {
        TransformSettings s;
        OptionTable d = DefaultOptionValues('.');
        const PropertiesError e = ErrorOf([&] { LoadProperties(path, s, d); });
        EXPECT_EQ(s.optASCII, e.number() == -1 || e.line() > 2);
        EXPECT_EQ(s.txtPAR, e.line() != 0 || e.number() == -1 ? path : "no loaded Properties");
        return e.number();
      },
      [&](int number, bool complete) { EXPECT_TRUE(complete ? number == -1 : number == 70 || number == 57); });
  EXPECT_EQ(ReadBytes(path), JoinCrLf(Sample::Lines()));
}

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

// Each set against EPSG's parameters (coordinate frame; position vector changes sign); a point through it against
// PROJ (exact rotation) and EPSG's small-angle formula; the reverse set is the negated one and brings it back.
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
