// Jobs on several threads against the same job on one thread: the same
// bytes, the same message, the same warnings, whatever the number of
// threads and the size of the blocks; a job stopped at any moment keeps
// whole lines; a setting changed during a job applies from a block on.
// The small blocks make every file here one of many blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "job/job_start.hpp"
#include "job_setups.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

/// One run: the outcome, the target's bytes, the messages, and the log
/// without its time.
struct Outcome {
  JobOutcome outcome = JobOutcome::kFailed;
  std::string target, messages, log;
  bool operator==(const Outcome&) const = default;
};

using JobSetup = std::function<void(Session&)>;

/// An ASCII job in `dir` with `setup` on `threads` threads in blocks of
/// `block` bytes; `during` is called at every event pass.
Outcome RunAscii(const TempFolder& dir, const JobSetup& setup, const std::string& input, int threads,
                 std::size_t block, const std::function<void(Session&, long)>& during = {}) {
  RecordingFrontEnd fe;
  Session s(fe, '.');
  UseAsciiTranslation(s, dir.File("in.txt"), dir.File("out.txt"));
  setup(s);
  s.threads = threads;
  s.blockBytes = block;
  if (during) fe.onEvents = [&](long pass) { during(s, pass); };
  WriteBytes(s.settings.txtQuelldatei, input);
  std::remove(s.settings.txtZielDatei.c_str());
  Outcome o;
  o.outcome = RunJob(s);
  o.target = ReadBytes(s.settings.txtZielDatei);
  for (const ShownBox& m : fe.messages) o.messages += m.text + "\n";
  o.log = fe.log.substr(0, fe.log.find("vergangene Zeit"));
  return o;
}

void GkToUtm(Session& s) { UseGkToUtmDhdn(s); }
void GkToUtmBeta(Session& s) {
  UseGkToUtmDhdn(s);
  s.grids[0].file = "BETA2007.gsb";
}
void Translation(Session&) {}
void Layout(Session& s) {
  s.asciiLayout.active = true;
  s.asciiLayout.columns = {AsciiColumn::kId, AsciiColumn::kSecond, AsciiColumn::kFirst,
                           AsciiColumn::kHeight};
  s.asciiLayout.separator = AsciiSeparator::kSemicolon;
  s.asciiLayout.headerLines = 2;
  UseGkToUtmDhdn(s);
}

/// Line i of a GK-Germ file, 27 characters: "easting northing height",
/// eastings from 500 km west of the meridian on over `spread` metres (far
/// ones give warnings).
std::string GkLine(long i, long spread) {
  char text[64];
  std::snprintf(text, sizeof text, "%07ld.125 %07ld.500 %3ld", 5000000 + (i * 7919) % spread,
                5300000 + (i * 104729) % 700001, i % 1000);
  return text;
}

/// `n` lines of GkLine, line numbers (1-based) in `replace` replaced by
/// `bad` (27 characters). `layout`: the id;northing;easting;height form
/// with two header lines and some comments.
std::string Points(long n, const std::set<long>& replace = {}, const std::string& bad = "",
                   bool layout = false, long spread = 999983) {
  std::string text = layout ? "Punkte\r\nid;Nord;Ost;Hoehe\r\n" : "";
  for (long i = 1; i <= n; ++i) {
    std::string line = replace.count(i) != 0 ? bad : GkLine(i, spread);
    if (layout) {
      line = "P" + std::to_string(i) + ";" + line.substr(12, 11) + ";" + line.substr(0, 11) + ";" +
             line.substr(24) + (i % 17 == 0 ? "\r\n# Kommentar" : "");
    }
    text += line + (i % 5 == 0 ? "\n" : "\r\n");
  }
  return text;
}

// Blocks of 10 lines of 27 characters.
constexpr std::size_t kTenLines = 270;

TEST(Threads, AsciiJobsGiveTheSameResultOnAnyNumberOfThreads) {
  const std::string letter = "5412345.125 56x2345.500  42", huge = "0000001e300 5612345.500  42";
  const struct {
    const char* name;
    JobSetup setup;
    std::string input;
    const char* message;  // start of the message, "" for none
  } cases[] = {
      {"translation", Translation, Points(95), ""},
      {"GK to UTM, warnings", GkToUtm, Points(333), ""},
      {"GK to UTM through BETA2007", GkToUtmBeta, Points(120, {}, "", false, 150000), ""},
      {"outside BETA2007", GkToUtmBeta, Points(120), "außerhalb des Gitters"},
      {"layout with header and comments", Layout, Points(150, {}, "", true), ""},
      {"bad first line", Translation, Points(95, {1}, letter), "Typen"},
      {"bad first line of a block", Translation, Points(95, {41}, letter), "Typen"},
      {"bad line in a block", Translation, Points(95, {45}, letter), "Typen"},
      {"bad last line of a block", Translation, Points(95, {50}, letter), "Typen"},
      {"bad last line", Translation, Points(95, {95}, letter), "Typen"},
      {"two bad lines, the first reported", Translation, Points(95, {23, 88}, letter), "Typen"},
      {"overflow in the chain", GkToUtm, Points(95, {60, 61}, huge), "Überlauf"},
      {"empty line at the end", Translation, Points(95) + "\r\n", "Index"},
  };
  TempFolder dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome one = RunAscii(dir, c.setup, c.input, 1, kTenLines);
    EXPECT_EQ(one.outcome, *c.message != 0 ? JobOutcome::kFailed : JobOutcome::kDone);
    EXPECT_NE(one.messages.find(c.message), std::string::npos) << one.messages;
    for (const int threads : {2, 3, 5}) {
      for (const std::size_t block : {std::size_t{1}, kTenLines, std::size_t{1000}}) {
        EXPECT_TRUE(RunAscii(dir, c.setup, c.input, threads, block) == one)
            << threads << " threads, blocks of " << block << " bytes";
      }
    }
  }
  const Outcome warned = RunAscii(dir, GkToUtm, Points(333), 4, kTenLines);
  EXPECT_NE(warned.log.find("Warnung:"), std::string::npos) << "no warnings to compare";
}

/// The number of whole lines the message says the target keeps.
long KeptLines(const std::string& message) {
  if (message.find("Die Zieldatei ist leer.") != std::string::npos) return 0;
  if (message.find("Die Zieldatei enthält die Zeile 1.") != std::string::npos) return 1;
  const std::string lead = "Die Zieldatei enthält die Zeilen 1 bis ";
  const auto at = message.rfind(lead);
  return at == std::string::npos ? -1 : std::stol(message.substr(at + lead.size()));
}

TEST(Threads, AsciiJobStoppedAtAnyMomentKeepsWholeLines) {
  TempFolder dir;
  const std::string input = Points(400);
  const std::string full = RunAscii(dir, GkToUtm, input, 1, kTenLines).target;
  std::mt19937 random(9);
  for (int k = 0; k < 12; ++k) {
    const long stopAt = std::uniform_int_distribution<long>(1, 450)(random);
    SCOPED_TRACE("stopped at event pass " + std::to_string(stopAt));
    const Outcome o = RunAscii(dir, GkToUtm, input, 1 + k % 3, kTenLines, [&](Session&, long pass) {
      if (pass == stopAt) throw RunTimeError(errnum::kUserInterrupt);
    });
    if (o.outcome == JobOutcome::kDone) {
      EXPECT_EQ(o.target, full);  // the last pass came first
      continue;
    }
    EXPECT_EQ(o.messages.rfind("Benutzerunterbrechung", 0), 0u) << o.messages;
    const long kept = KeptLines(o.messages);
    ASSERT_GE(kept, 0) << o.messages;
    EXPECT_EQ(o.target, full.substr(0, o.target.size()));
    EXPECT_EQ(std::count(o.target.begin(), o.target.end(), '\n'), kept);
  }
}

TEST(Threads, SettingChangedDuringAJobAppliesFromABlockOn) {
  TempFolder dir;
  std::string input;
  for (int i = 0; i < 300; ++i) input += "1 2 3\r\n";  // 5 characters a line
  for (const long changeAt : {1L, 37L, 150L}) {
    const Outcome o = RunAscii(dir, Translation, input, 3, 50, [&](Session& s, long pass) {
      if (pass != changeAt) return;
      s.settings.txtDX = "100";
      s.Touch();
    });
    ASSERT_EQ(o.outcome, JobOutcome::kDone);
    const std::vector<std::string> lines = SplitCrLf(o.target);
    ASSERT_EQ(lines.size(), 300u);
    const auto first = std::find(lines.begin(), lines.end(), "101 22 4");
    EXPECT_TRUE(std::all_of(lines.begin(), first, [](auto& l) { return l == "11 22 4"; }));
    EXPECT_TRUE(std::all_of(first, lines.end(), [](auto& l) { return l == "101 22 4"; }));
    EXPECT_EQ((first - lines.begin()) % 10, 0) << "not at the start of a block of 10 lines";
    EXPECT_NE(first, lines.end()) << "never applied";
  }
}

TEST(Threads, AsciiFileOperationRefusedOnAnyThreadKeepsWholeLines) {
  TempFolder dir;
  const std::string input = Points(8000);
  const std::string full = RunAscii(dir, Translation, input, 1, 4096).target;
  ForEachFailingOperation([&] { return RunAscii(dir, Translation, input, 3, 4096); },
                          [&](const Outcome& o, bool complete) {
                            const long kept = complete ? 8000 : KeptLines(o.messages);
                            EXPECT_EQ(o.outcome == JobOutcome::kDone, complete) << o.messages;
                            EXPECT_EQ(std::count(o.target.begin(), o.target.end(), '\n'),
                                      std::max(kept, 0L)) << o.messages;
                            EXPECT_TRUE(o.target == full.substr(0, o.target.size()));
                          });
}

TEST(Threads, BatchToolThreadsOption) {
  TempFolder dir;
  WriteBytes(dir.File("in.txt"), Points(50000));  // more than one block of 1 MiB
  const std::string job = "--yes --quiet --in GK-Germ --out UTM --ell1 Bessel_1841 --ell2 GRS_1980 "
                          "--7par1 DHDN_to_ETRS89_EPSG1776 in.txt ";
  EXPECT_EQ(Cli(dir, job + "--threads 1 one.txt").status, 0);
  EXPECT_EQ(Cli(dir, job + "--threads 3 three.txt").status, 0);
  EXPECT_EQ(Cli(dir, job + "out.txt").status, 0);
  EXPECT_TRUE(ReadBytes(dir.File("one.txt")) == ReadBytes(dir.File("three.txt")));
  EXPECT_TRUE(ReadBytes(dir.File("one.txt")) == ReadBytes(dir.File("out.txt")));
  const CliRun bad = Cli(dir, job + "--threads 0 out.txt");
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Contains(bad.err, "--threads needs a number of threads (1 or more)")) << bad.err;
}

}  // namespace
}  // namespace pelmo::test
