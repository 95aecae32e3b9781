// Jobs on several threads against the same job on one thread: the same bytes, the same message, the same
// warnings, whatever the number of threads and the size of the blocks (small here, so that every file is
// many blocks); a bad line N leaves lines 1 to N-1; a job stopped at any moment or refused a file operation
// keeps whole lines (ASCII) or nothing (shapefile); a setting changed during a job applies from a block on.
// The thread sanitizer runs these (make test-tsan).
#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "test_support.hpp"

namespace pelmo::test {
namespace {

/// One run: the outcome, the target files' bytes, the messages, the log without its time.
struct Outcome { JobOutcome outcome = JobOutcome::kFailed; std::string target, messages, log; bool operator==(const Outcome&) const = default; };

using JobSetup = std::function<void(Session&)>;
const char* const kOutputs[] = {"txt", "shp", "shx", "dbf", "prj", "cpg"};
const std::string kNoTarget = "||||||";

/// The job from in.txt to out.txt (`shape`: in.shp to out.shp) in `dir`, translation by (10, 20, 1) unless
/// `setup` says otherwise, on `threads` threads in blocks of `block` bytes; `during` is called at every event pass.
Outcome RunOn(const TempFolder& dir, const JobSetup& setup, bool shape, int threads, std::size_t block,
              const std::function<void(Session&, long)>& during = {}) {
  RecordingFrontEnd fe;
  Session s(fe, '.');
  TransformSettings& t = s.settings;
  t.optASCII = !shape, t.optSHP = shape, t.optSevPar = false, t.optTranslation = true;
  t.txtDX = "10", t.txtDY = "20", t.txtDH = "1", s.Touch();
  t.txtQuelldatei = dir.File(shape ? "in.shp" : "in.txt"), t.txtZielDatei = dir.File(shape ? "out.shp" : "out.txt");
  setup(s);
  s.threads = threads, s.blockBytes = block;
  if (during) fe.onEvents = [&](long pass) { during(s, pass); };
  for (const char* e : kOutputs) std::remove(dir.File(std::string("out.") + e).c_str());
  Outcome o;
  o.outcome = RunJob(s);
  for (const char* e : kOutputs) o.target += ReadBytes(dir.File(std::string("out.") + e)) + "|";
  for (const auto& m : fe.messages) o.messages += m.text + "\n";
  o.log = fe.log.substr(0, fe.log.find("vergangene Zeit"));
  return o;
}

/// Runs the job on one thread, then on 2, 3 and 5 threads in blocks of 1 byte, `block` and 4 `block`: the same
/// every time; fails with a message holding `message` unless that is "". Returns the one-thread outcome.
Outcome ExpectSameOnAnyThreads(const TempFolder& dir, const JobSetup& setup, bool shape, std::size_t block,
                               const std::string& message) {
  const Outcome one = RunOn(dir, setup, shape, 1, block);
  EXPECT_EQ(one.outcome, message.empty() ? JobOutcome::kDone : JobOutcome::kFailed);
  EXPECT_TRUE(Contains(one.messages, message)) << one.messages;
  for (const int threads : {2, 3, 5}) {
    for (const std::size_t b : {std::size_t{1}, block, 4 * block}) {
      EXPECT_TRUE(RunOn(dir, setup, shape, threads, b) == one) << threads << " threads, blocks of " << b;
    }
  }
  return one;
}

void GkToUtm(Session& s) { UseGkToUtmDhdn(s); }
void Beta(Session& s) { UseGkToUtmDhdn(s), s.grids[0].file = "BETA2007.gsb"; }
void Translation(Session&) {}
void Layout(Session& s) {
  s.asciiLayout = {true, {AsciiColumn::kId, AsciiColumn::kSecond, AsciiColumn::kFirst, AsciiColumn::kHeight}, AsciiSeparator::kSemicolon, 2};
  UseGkToUtmDhdn(s);
}

/// `n` GK-Germ lines of 27 characters "easting northing height", 500 to 350 km west of the meridian (they warn,
/// and lie inside BeTA2007); lines in `bad` read `badLine`. `layout`: "id;northing;easting;height" after two
/// header lines, with comments.
std::string Points(long n, const std::set<long>& bad = {}, const std::string& badLine = "", bool layout = false) {
  std::string text = layout ? "Punkte\r\nid;Nord;Ost;Hoehe\r\n" : "";
  for (long i = 1; i <= n; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%07ld.125 %07ld.500 %3ld", 5000000 + (i * 7919) % 150001,
                  5300000 + (i * 104729) % 700001, i % 1000);
    std::string l = bad.count(i) != 0 ? badLine : line;
    if (layout) {
      l = "P" + std::to_string(i) + ";" + l.substr(12, 11) + ";" + l.substr(0, 11) + ";" + l.substr(24) +
          (i % 17 == 0 ? "\r\n# Kommentar" : "");
    }
    text += l + (i % 5 == 0 ? "\n" : "\r\n");
  }
  return text;
}

/// How the message says that the target keeps its first `n` lines.
std::string Kept(long n) { return n == 0 ? "ist leer." : n == 1 ? "die Zeile 1." : "Zeilen 1 bis " + std::to_string(n) + "."; }
long LineCount(const std::string& target) { return std::count(target.begin(), target.end(), '\n'); }

constexpr std::size_t kTenLines = 270;  // blocks of 10 lines

TEST(Threads, AsciiJobsGiveTheSameResultOnAnyNumberOfThreads) {
  const std::string letter = "5412345.125 56x2345.500  42", huge = "0000001e300 5612345.500  42",
                    east = "5900000.125 5612345.500  42";
  // badLine: the line the job stops at (0: none). Blocks of 10 lines: 41 is the first of a block, 45 in the middle, 50 the last.
  const struct { const char* name; JobSetup setup; std::string input; long badLine; const char* message; } cases[] = {
      {"translation", Translation, Points(95), 0, ""},
      {"GK to UTM, warnings", GkToUtm, Points(333), 0, ""},
      {"through BETA2007", Beta, Points(120), 0, ""},
      {"outside BETA2007", Beta, Points(120, {77}, east), 77, ""},
      {"layout with header and comments", Layout, Points(150, {}, "", true), 0, ""},
      {"bad first line", Translation, Points(95, {1}, letter), 1, ""},
      {"bad first line of a block", Translation, Points(95, {41}, letter), 41, ""},
      {"bad line in a block", Translation, Points(95, {45}, letter), 45, ""},
      {"bad last line of a block", Translation, Points(95, {50}, letter), 50, ""},
      {"two bad lines", Translation, Points(95, {23, 88}, letter), 23, ""},
      {"overflow in the chain", GkToUtm, Points(95, {60, 61}, huge), 60, "Überlauf"},
      {"empty line at the end", Translation, Points(95) + "\r\n", 96, ""},
  };
  TempFolder dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(dir.File("in.txt"), c.input);
    const std::string message = c.badLine == 0 ? "" : "Zeile " + std::to_string(c.badLine) + ":";
    const Outcome one = ExpectSameOnAnyThreads(dir, c.setup, false, kTenLines, message);
    EXPECT_TRUE(Contains(one.messages, c.message));
    EXPECT_TRUE(!std::string(c.name).starts_with("GK") || Contains(one.log, "Warnung:"));
    // The target holds exactly the lines before the bad one.
    if (c.badLine == 0) continue;
    EXPECT_EQ(LineCount(one.target.substr(0, one.target.find('|'))), c.badLine - 1);
    EXPECT_TRUE(Contains(one.messages, Kept(c.badLine - 1))) << one.messages;
  }
}

/// `n` records of `type` (the fixture's shapes in turn, moved east: far ones warn); record `huge` has a vertex
/// the chain cannot carry, record `damaged` another shape type in the written file.
void WriteShapes(const TempFolder& dir, int type, int n, int huge = 0, int damaged = 0) {
  std::vector<TestShape> shapes, kinds = ShapesOf(type);
  for (int i = 0; i < n; ++i) {
    shapes.push_back(kinds[static_cast<std::size_t>(i) % kinds.size()]);
    for (Part& p : shapes.back().parts) {
      for (Vertex& v : p) v = {v.first + 9000 * i, v.second - 700 * i};
      if (i + 1 == huge) p.back().first = 1e300;  // not the first of a part
    }
  }
  WriteShapefile(dir.File("in"), type, shapes);
  if (damaged == 0) return;
  std::string shp = ReadBytes(dir.File("in.shp"));
  PutLittleEndian(shp, 2 * BigEndianAt(ReadBytes(dir.File("in.shx")), 100 + 8 * (damaged - 1)) + 8, 99);
  WriteBytes(dir.File("in.shp"), shp);
}

TEST(Threads, ShapefileJobsGiveTheSameResultOnAnyNumberOfThreads) {
  // Blocks of 300 bytes: about three polygons. The translations write no projection file (PROJ's database).
  // Records with a vertex too large (huge) and of another type (damaged).
  const struct { int type; JobSetup setup; int huge, damaged; const char* message; } cases[] = {
      {SHPT_POINT, Translation, 0, 0, ""},          {SHPT_ARCZ, Translation, 0, 0, ""},
      {SHPT_MULTIPOINTM, Translation, 0, 0, ""},    {SHPT_MULTIPATCH, Translation, 0, 0, ""},
      {SHPT_POLYGON, GkToUtm, 0, 0, ""},            {SHPT_POLYGON, GkToUtm, 1, 0, "Record 1, P"},
      {SHPT_POLYGON, GkToUtm, 9, 0, "Record 9, P"}, {SHPT_POLYGON, GkToUtm, 60, 0, "Record 60, P"},
      {SHPT_POLYGON, GkToUtm, 0, 30, "Record 30 "}, {SHPT_POLYGON, GkToUtm, 9, 30, "Record 9, P"},
      {SHPT_POLYGON, GkToUtm, 40, 30, "Record 30 "},
  };
  TempFolder dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " " + c.message);
    WriteShapes(dir, c.type, 60, c.huge, c.damaged);
    const Outcome one = ExpectSameOnAnyThreads(dir, c.setup, true, 300, c.message);
    EXPECT_TRUE(c.type != SHPT_POLYGON || *c.message != 0 || Contains(one.log, "Warnung:"));
    EXPECT_TRUE(*c.message == 0 ? ReadShapefile(dir.File("out")).ok : one.target == kNoTarget);
  }
}

TEST(Threads, JobsStoppedAtAnyMomentKeepWholeLinesOrNothing) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), Points(400));
  WriteShapes(dir, SHPT_POLYGON, 60);
  const std::string full[] = {RunOn(dir, GkToUtm, false, 1, kTenLines).target, RunOn(dir, GkToUtm, true, 1, 300).target};
  std::mt19937 random(9);
  for (int k = 0; k < 24; ++k) {
    const bool shape = k % 2 == 1;
    const long stopAt = std::uniform_int_distribution<long>(1, shape ? 1200 : 450)(random);
    SCOPED_TRACE("stopped at event pass " + std::to_string(stopAt));
    // Cancel: the ASCII job hears it as an interrupt from the event pass, the shapefile job as a request.
    const auto stop = [&](Session& s, long pass) {
      if (pass == stopAt && !shape) throw RunTimeError(errnum::kUserInterrupt);
      s.CancelRequested = s.CancelRequested || pass == stopAt;
    };
    const Outcome o = RunOn(dir, GkToUtm, shape, 1 + k % 3, shape ? 300 : kTenLines, stop);
    // Done: the last pass came first. A shapefile stopped leaves nothing.
    if (o.outcome == JobOutcome::kDone || shape) {
      EXPECT_EQ(o.target, o.outcome == JobOutcome::kDone ? full[shape] : kNoTarget);
      continue;
    }
    const std::string lines = o.target.substr(0, o.target.find('|'));
    EXPECT_EQ(o.messages.rfind("Benutzerunterbrechung", 0), 0u) << o.messages;
    EXPECT_TRUE(Contains(o.messages, Kept(LineCount(lines))));
    EXPECT_EQ(lines, full[0].substr(0, lines.size()));
  }
}

TEST(Threads, SettingChangedDuringAJobAppliesFromABlockOn) {
  TempFolder dir;
  std::string input;
  for (int i = 0; i < 300; ++i) input += "1 2 3\r\n";
  WriteBytes(dir.File("in.txt"), input);
  for (const long changeAt : {1L, 37L, 150L}) {
    const Outcome o = RunOn(dir, Translation, false, 3, 50, [&](Session& s, long pass) {
      if (pass == changeAt) s.settings.txtDX = "100", s.Touch();
    });
    const std::size_t at = o.target.find("101 22 4");
    ASSERT_NE(at, std::string::npos) << "never applied";
    const std::size_t before = at / 9;  // lines "11 22 4\r\n" before it
    std::string expected;
    for (std::size_t i = 0; i < 300; ++i) expected += i < before ? "11 22 4\r\n" : "101 22 4\r\n";
    EXPECT_EQ(o.target, expected + kNoTarget);
    EXPECT_EQ(before % 10, 0u) << "not at the start of a block of 10 lines";
  }
}

TEST(Threads, FileOperationRefusedOnAnyThreadKeepsWholeLinesOrNothing) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), Points(8000));
  WriteShapes(dir, SHPT_POLYGON, 60);
  for (const bool shape : {false, true}) {
    const std::size_t block = shape ? 300 : 4096;
    const std::string full = RunOn(dir, Translation, shape, 1, block).target;
    // A refused close of a source loses nothing: the job may end well.
    const auto check = [&](const Outcome& o, bool complete) {
      const bool done = o.outcome == JobOutcome::kDone;
      EXPECT_TRUE((done || !complete) && done == o.messages.empty()) << o.messages;
      if (done || shape) {
        EXPECT_TRUE(o.target == (done ? full : kNoTarget));
        return;
      }
      const std::string lines = o.target.substr(0, o.target.find('|'));
      EXPECT_TRUE(lines.empty() || Contains(o.messages, Kept(LineCount(lines))));
      EXPECT_TRUE(lines == full.substr(0, lines.size()));
    };
    ForEachFailingOperation([&] { return RunOn(dir, Translation, shape, 3, block); }, check);
  }
}

TEST(Threads, BatchToolThreadsOption) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), Points(50000));  // more than one block of 1 MiB
  const std::string job = "--yes --quiet --in GK-Germ --out UTM --ell1 Bessel_1841 --ell2 GRS_1980 "
                          "--7par1 DHDN_to_ETRS89_EPSG1776 in.txt --threads ";
  EXPECT_EQ(Cli(dir, job + "1 one.txt").status + Cli(dir, job + "3 three.txt").status, 0);
  EXPECT_TRUE(ReadBytes(dir.File("one.txt")) == ReadBytes(dir.File("three.txt")));
  const CliRun bad = Cli(dir, job + "0 out.txt");
  EXPECT_TRUE(bad.status == 2 && Contains(bad.err, "--threads needs a number of threads (1 or"));
}

}  // namespace
}  // namespace pelmo::test
