// Helpers of the engine tests: front end, folders, refused file operations, PROJ, pelmo-cli, shapelib.
#pragma once

#include <gtest/gtest.h>
#include <proj.h>
#include <shapefil.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/frontend.hpp"
#include "core/numtext.hpp"
#include "formats/drivers.hpp"
#include "geodesy/point_chain.hpp"
#include "job/job_start.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::test {

/// Semi-major axes and first eccentricities.
inline constexpr const char *kBesselA = "6377397.155", *kBesselE = "0.0816968312225269", *kGrs80A = "6378137",
                            *kGrs80E = "0.0818191910428158";

/// Seven-parameter mode, Bessel 1841 on both sides, zero sets, between the
/// start-up projections (Krovak to GK-Germ).
inline void UseBesselOnBothSides(Session& s) {
  TransformSettings& t = s.settings;
  t.optSevPar = true, t.optTranslation = false;
  t.txtEll1a = t.txtEll2a = kBesselA, t.txtEll1e = t.txtEll2e = kBesselE;
  s.MeridianCoeffs = geotra::MeridianArcCoeffs(6377397.155, 0.0816968312225269);
  s.Touch();
}

/// GK-Germ (meridian 15, Bessel) to UTM zone 33 (GRS 1980) with the DHDN
/// parameters of EPSG:1776 (coordinate frame) as the first set.
inline void UseGkToUtmDhdn(Session& s) {
  UseBesselOnBothSides(s);
  TransformSettings& t = s.settings;
  t.optInKrovak = t.optOutGK = false, t.optInGK = t.optOUTetrs = true;
  t.txtEll2a = kGrs80A, t.txtEll2e = kGrs80E, t.txtP1 = "598.1", t.txtP2 = "73.7", t.txtP3 = "418.2";
  t.txtP4 = "6.7", t.txtP5 = "2.455", t.txtP6 = "-0.045", t.txtP7 = "-0.202";  // rotations about Z, Y, X
  s.OptionValues[opt::kGKBM] = s.OptionValues[opt::kUTMBM2] = "15", s.OptionValues[opt::kUTMma2] = "0.9996";
  s.MeridianCoeffs = geotra::MeridianArcCoeffs(6378137, 0.0818191910428158);
  s.Touch();
}

/// Records what the engine shows; answers from `answers` (none left: No); calls `onEvents` with each pass's number.
struct RecordingFrontEnd : FrontEnd {
  struct ShownBox { std::string text, title; MsgIcon icon = MsgIcon::kNone; };
  std::vector<ShownBox> messages, questions;
  std::deque<bool> answers;
  std::string log, percent;
  long eventPasses = 0;
  int progressOpened = 0, progressClosed = 0;
  std::function<void(long)> onEvents;

  void ShowMessage(const std::string& text, const std::string& title, MsgIcon icon) override { messages.push_back({text, title, icon}); }
  bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) override {
    questions.push_back({text, title, icon});
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
  }
  void LogChanged(const std::string& text) override { log = text; }
  void ProcessEvents() override { onEvents ? onEvents(++eventPasses) : void(++eventPasses); }
  /// One pass per point done on worker threads; the idle passes while a job waits for them depend on timing.
  void ProcessEventsAfter(long points) override { for (long i = 0; i < points; ++i) ProcessEvents(); }
  void ProgressOpen() override { ++progressOpened; }
  void ProgressClose() override { ++progressClosed; }
  void ProgressPercent(const std::string& text) override { percent = text; }
  std::string OnlyMessage() const {
    EXPECT_EQ(messages.size(), 1u);
    return messages.empty() ? std::string() : messages.front().text;
  }
};

inline int tempFolders = 0;

/// A fresh folder under the temporary folder, removed with its content.
struct TempFolder {
  const std::filesystem::path path_ =
      std::filesystem::temp_directory_path() / ("pelmo_test_" + std::to_string(::getpid()) + "_" + std::to_string(++tempFolders));
  TempFolder() { std::filesystem::remove_all(path_), std::filesystem::create_directories(path_); }
  ~TempFolder() { std::error_code ec; std::filesystem::remove_all(path_, ec); }
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
};

inline void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

inline std::string ReadBytes(const std::string& path) {
  if (!std::filesystem::is_regular_file(path)) return {};
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

/// Lines of `text` split at CR LF (a last line without CR LF is kept).
inline std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end = 0; start < text.size(); start = end + 2) {
    end = std::min(text.find("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

/// Refuses the n-th file operation for n = 1, 2, ... until a run is `complete` (needs fewer); returns that count.
template <class Run, class Check>
long ForEachFailingOperation(Run run, Check check) {
  for (long n = 1; n < 300; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    iohook::Arm(n);
    const auto result = run();
    const bool complete = iohook::Count() < n;
    iohook::Disarm();
    check(result, complete);
    if (complete || ::testing::Test::HasFatalFailure()) return n - 1;
  }
  ADD_FAILURE() << "the run never got through";
  return 0;
}

/// (x, y, z) carried through the PROJ operation `definition`.
inline std::array<double, 3> ProjTrans(const std::string& definition, double x, double y, double z = 0) {
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* pj = proj_create(ctx, definition.c_str());
  EXPECT_NE(pj, nullptr) << definition;
  const PJ_COORD c = pj ? proj_trans(pj, PJ_FWD, proj_coord(x, y, z, 0)) : proj_coord(0, 0, 0, 0);
  proj_destroy(pj);
  proj_context_destroy(ctx);
  return {c.xyz.x, c.xyz.y, c.xyz.z};
}

/// PROJ's helmert step for a set in this program's order (dX, dY, dZ m, m ppm,
/// rotations about Z, Y, X in arc seconds), coordinate frame, exact rotation.
inline std::string Helmert(const std::array<double, 7>& p) {
  const auto f = [](double v) { return FormatShortest(v); };
  return "+proj=helmert +x=" + f(p[0]) + " +y=" + f(p[1]) + " +z=" + f(p[2]) + " +s=" + f(p[3]) + " +rz=" + f(p[4]) +
         " +ry=" + f(p[5]) + " +rx=" + f(p[6]) + " +convention=coordinate_frame +exact";
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

/// A word quoted for the shell.
inline std::string Q(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

#ifdef PELMO_CLI_PATH
struct CliRun { int status = -1; std::string out, err; };

/// Runs the shell `line` in `dir` with $CLI the batch tool, LC_ALL=C and `env` (e.g. "LC_ALL=de_DE.UTF-8"), empty input.
inline CliRun Sh(const TempFolder& dir, const std::string& line, const std::string& env = "") {
  const int rc = std::system(("cd " + Q(dir.path().string()) + " && export CLI=" + Q(PELMO_CLI_PATH) + " LC_ALL=C " + env +
                              " && { " + line + " ; } >.stdout 2>.stderr </dev/null").c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadBytes(dir.File(".stdout")), ReadBytes(dir.File(".stderr"))};
}
/// pelmo-cli with `args` (quoted where needed) in `dir` under the locale `locale`.
inline CliRun Cli(const TempFolder& dir, const std::string& args, const std::string& locale = "C") {
  return Sh(dir, "$CLI " + args, "LC_ALL=" + locale);
}
#endif

/// GK-Germ (meridian 15) on Bessel, DHDN to ETRS89 (EPSG:1776), UTM 33 on GRS 1980.
inline const std::string kDhdnToUtm33 = "+proj=pipeline +step +inv +proj=tmerc +lon_0=15 +k=1 +x_0=5500000 +ellps=bessel "
                                        "+step +proj=cart +ellps=bessel +step " +
                                        Helmert({598.1, 73.7, 418.2, 6.7, 2.455, -0.045, -0.202}) +
                                        " +step +inv +proj=cart +ellps=GRS80 +step +proj=utm +zone=33 +ellps=GRS80";

// ---------------------------------------------------------------- shapefiles

using Vertex = std::pair<double, double>;
using Part = std::vector<Vertex>;
/// A record: its shape type (SHPT_NULL for a null record) and its parts.
struct TestShape { int type = SHPT_POLYGON; std::vector<Part> parts; };

/// Writes stem.shp/.shx/.dbf with shapelib; the table has a text field
/// with umlauts and an integer field.
inline void WriteShapefile(const std::string& stem, int type, const std::vector<TestShape>& shapes) {
  SHPHandle shp = SHPCreate(stem.c_str(), type);
  DBFHandle dbf = DBFCreate(stem.c_str());
  ASSERT_TRUE(shp && dbf) << stem;
  DBFAddField(dbf, "NAME", FTString, 40, 0);
  DBFAddField(dbf, "ID", FTInteger, 8, 0);
  for (int id = 0; id < static_cast<int>(shapes.size()); ++id) {
    std::vector<double> xs, ys;
    std::vector<int> starts;
    for (const Part& p : shapes[static_cast<std::size_t>(id)].parts) {
      starts.push_back(static_cast<int>(xs.size()));
      for (const auto& [x, y] : p) xs.push_back(x), ys.push_back(y);
    }
    SHPObject* o = SHPCreateObject(shapes[static_cast<std::size_t>(id)].type, -1, static_cast<int>(starts.size()), starts.data(),
                                   nullptr, static_cast<int>(xs.size()), xs.data(), ys.data(), nullptr, nullptr);
    ASSERT_EQ(SHPWriteObject(shp, -1, o), id);
    SHPDestroyObject(o);
    DBFWriteStringAttribute(dbf, id, 0, id % 2 ? "Müller" : "Äußere Straße");
    DBFWriteIntegerAttribute(dbf, id, 1, 100 + id);
  }
  SHPClose(shp);
  DBFClose(dbf);
}

/// The vertices of a shapefile's records as shapelib reads them; `ok` false when it cannot.
struct ReadFile { struct Shape { std::vector<double> x, y; }; bool ok = false; std::vector<Shape> shapes; };

inline ReadFile ReadShapefile(const std::string& stem) {
  ReadFile f;
  SHPHandle shp = SHPOpen(stem.c_str(), "rb");
  int count = 0;
  if ((f.ok = shp != nullptr)) SHPGetInfo(shp, &count, nullptr, nullptr, nullptr);
  for (int i = 0; i < count && f.ok; ++i) {
    SHPObject* o = SHPReadObject(shp, i);
    if ((f.ok = o != nullptr)) f.shapes.push_back({{o->padfX, o->padfX + o->nVertices}, {o->padfY, o->padfY + o->nVertices}});
    SHPDestroyObject(o);
  }
  if (shp) SHPClose(shp);
  return f;
}

inline std::int32_t BigEndianAt(const std::string& b, std::size_t pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + pos);
  return static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]);
}
inline void PutBigEndian(std::string& b, std::size_t pos, std::int32_t v) {
  for (int i = 0; i < 4; ++i) b[pos + i] = static_cast<char>(static_cast<std::uint32_t>(v) >> (24 - 8 * i));
}
inline void PutLittleEndian(std::string& b, std::size_t pos, std::int32_t v) {
  for (int i = 0; i < 4; ++i) b[pos + i] = static_cast<char>(static_cast<std::uint32_t>(v) >> (8 * i));
}

// The test shapes lie about 50 N 15 E: GK easting and northing, meridian 15.
inline constexpr double kCentreE = 5500000, kCentreN = 5540000;

/// A closed ring of n vertices on an ellipse about (kCentreE + x, kCentreN + y).
inline Part Ring(double x, double y, double rx, double ry, int n) {
  Part p;
  for (double k = 0, t = 0; k <= n; ++k, t = 2 * std::numbers::pi / n * (k < n ? k : 0))
    p.emplace_back(kCentreE + x + rx * std::cos(t), kCentreN + y + ry * std::sin(t));
  return p;
}

/// Polygons: outer ring and hole, a record without vertices, a null record, rings of 9, 6 and 4 vertices.
inline std::vector<TestShape> PolygonShapes() {
  return {{SHPT_POLYGON, {Ring(0, 0, 4000, 2500, 12), Ring(500, 0, 800, 600, 6)}}, {SHPT_POLYGON, {}}, {SHPT_NULL, {}},
          {SHPT_POLYGON, {Ring(-2e4, 15e3, 3e3, 3e3, 8), Ring(3e4, -1e4, 1500, 4e3, 5), Ring(4e4, 0, 1e3, 1e3, 3)}}};
}
/// Polylines: parts of 2, 3 and 2 vertices, a null record, one part, a record without vertices.
inline std::vector<TestShape> PolyLineShapes() {
  const auto at = [](double x, double y) { return Vertex(kCentreE + x, kCentreN + y); };
  return {{SHPT_ARC, {{at(0, 0), at(1e3, 2500)}, {at(-5e3, -5e3), at(-4e3, -3e3), at(0, 0)}, {at(7e3, 100), at(9e3, -100)}}},
          {SHPT_NULL, {}}, {SHPT_ARC, {{at(-6e4, 4e4), at(6e4, -4e4)}}}, {SHPT_ARC, {}}};
}
/// Points, the third a null record.
inline std::vector<TestShape> PointShapes(int count = 6) {
  std::vector<TestShape> v(static_cast<std::size_t>(count), {SHPT_POINT, {}});
  for (int i = 0; i < count; ++i) v[static_cast<std::size_t>(i)].parts = {{{kCentreE + 1234.5 * i, kCentreN - 987.25 * i}}};
  if (count > 2) v[2] = {SHPT_NULL, {}};
  return v;
}
/// PointShapes, PolyLineShapes or PolygonShapes (by the kind of `type`; polygons for MultiPoint and MultiPatch).
inline std::vector<TestShape> ShapesOf(int type) {
  std::vector<TestShape> v = type % 10 == 1 && type != SHPT_MULTIPATCH ? PointShapes() : type % 10 == 3 ? PolyLineShapes() : PolygonShapes();
  for (TestShape& s : v) s.type = s.type == SHPT_NULL ? SHPT_NULL : type;
  return v;
}

/// A finished job byte by byte: the source with each vertex through TransformPoint (a session of its own), boxes
/// the extent of the vertices (without any: of the source box's corners transformed, a zero box kept), bytes of no
/// record zero; the index and .dbf the source's (header box new); shapelib reads it.
inline void ExpectTransformed(const std::string& srcStem, const std::string& dstStem, const Session& session) {
  RecordingFrontEnd fe;
  Session oracle(fe, session.decimalSign());
  oracle.settings = session.settings, oracle.OptionValues = session.OptionValues, oracle.MeridianCoeffs = session.MeridianCoeffs;
  const std::string src = ReadBytes(srcStem + ".shp");
  std::string want(src.size(), '\0'), index = ReadBytes(srcStem + ".shx");
  const auto get = [&](std::size_t at) {
    std::array<double, 4> v{};
    std::memcpy(v.data(), &src[at], 32);
    return v;
  };
  const auto put = [&](std::size_t at, const double* v, std::size_t n) { std::memcpy(&want[at], v, 8 * n); };
  using Box = std::array<double, 4>;  // empty while xmin > xmax
  const auto add = [](Box& b, double x, double y) {
    b = b[0] > b[2] ? Box{x, y, x, y} : Box{std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y)};
  };
  const auto transformed = [&](double* v) {
    double h = 0;
    const PointResult r = TransformPoint(oracle, v[0], v[1], h);
    v[0] = r[0], v[1] = r[1];
  };
  const auto corners = [&](Box source) {  // of a record or file without vertices
    Box b{1, 0, 0, 0};
    if (source == Box{}) return source;
    transformed(&source[0]), transformed(&source[2]);
    add(b, source[0], source[1]), add(b, source[2], source[3]);
    return b;
  };
  Box all{1, 0, 0, 0};
  want.replace(0, 100, src, 0, 100);
  for (std::size_t e = 100; e + 8 <= index.size(); e += 8) {
    const std::size_t R = 2 * static_cast<std::size_t>(BigEndianAt(index, e));
    want.replace(R, 8 + 2 * static_cast<std::size_t>(BigEndianAt(src, R + 4)), src, R, 8 + 2 * static_cast<std::size_t>(BigEndianAt(src, R + 4)));
    std::int32_t head[3] = {};  // shape type, NumParts, NumPoints
    std::memcpy(head, &src[R + 8], 4);
    if (head[0] == SHPT_POINT) {
      Box v = get(R + 12);
      transformed(v.data()), put(R + 12, v.data(), 2), add(all, v[0], v[1]);
    } else if (head[0] != SHPT_NULL) {
      std::memcpy(head + 1, &src[R + 44], 8);
      Box box{1, 0, 0, 0};
      for (std::size_t k = 0, at = R + 52 + 4 * static_cast<std::size_t>(head[1]); k < static_cast<std::size_t>(head[2]); ++k, at += 16) {
        Box v = get(at);
        transformed(v.data()), put(at, v.data(), 2), add(box, v[0], v[1]), add(all, v[0], v[1]);
      }
      put(R + 12, (box[0] > box[2] ? corners(get(R + 12)) : box).data(), 4);
    }
  }
  const Box header = all[0] > all[2] ? corners(get(36)) : all;
  put(36, header.data(), 4);
  std::memcpy(&index[36], header.data(), 32);
  const std::string got = ReadBytes(dstStem + ".shp");
  const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  EXPECT_TRUE(got == want) << "the main file differs from byte " << diff.first - got.begin() << " of " << want.size();
  EXPECT_TRUE(ReadBytes(dstStem + ".shx") == index) << "index";
  EXPECT_TRUE(ReadBytes(dstStem + ".dbf") == ReadBytes(srcStem + ".dbf")) << ".dbf differs";
  EXPECT_TRUE(ReadShapefile(dstStem).ok) << "shapelib cannot read " << dstStem;
}

/// Translation mode by (1000.5, -2000.25, 7).
inline void UseTranslation(Session& s) {
  s.settings.optSevPar = false, s.settings.optTranslation = true, s.settings.txtDX = "1000.5", s.settings.txtDY = "-2000.25";
  s.settings.txtDH = "7", s.Touch();
}

/// Stems "quelle" and "ziel" in a temporary folder; translation mode with the decimal comma.
class ShapefileFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    session.settings = TransformSettings();
    session.settings.txtQuelldatei = srcStem + ".shp", session.settings.txtZielDatei = dstStem + ".shp";
    UseTranslation(session);
    fe = RecordingFrontEnd();
  }
  struct Files { std::string shp, shx, dbf; bool operator==(const Files&) const = default; };
  static Files Take(const std::string& stem) { return {ReadBytes(stem + ".shp"), ReadBytes(stem + ".shx"), ReadBytes(stem + ".dbf")}; }
  /// Byte position of record `i` (from 1) by the index.
  static std::size_t Record(const Files& f, int i) { return 2 * static_cast<std::size_t>(BigEndianAt(f.shx, 92 + 8 * i)); }
  void WriteSource(const Files& f) const { WriteBytes(srcStem + ".shp", f.shp), WriteBytes(srcStem + ".shx", f.shx); }
  /// Changes the bytes of the source's .shp and .shx.
  void Edit(const std::function<void(Files&)>& change) {
    Files f = Take(srcStem);
    change(f), WriteSource(f);
  }
  bool TargetsGone() const {
    namespace fs = std::filesystem;
    return !fs::exists(fs::symlink_status(dstStem + ".shp")) && !fs::exists(dstStem + ".shx") && !fs::exists(dstStem + ".dbf");
  }
  void RemoveTargets() const {
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) std::filesystem::remove(dstStem + ext);
  }

  TempFolder dir;
  RecordingFrontEnd fe;
  Session session{fe, ','};
  std::string srcStem = dir.File("quelle"), dstStem = dir.File("ziel");
};

}  // namespace pelmo::test
