// The job start: the checks of the active datum mode in their order with
// their messages, the meridian-arc coefficients, the refusal of identical
// source and target (however they are spelt), and the elapsed-time log.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "core/fileio.hpp"
#include "core/frontend.hpp"
#include "core/settings.hpp"
#include "geodesy/geodesy.hpp"
#include "job/job_start.hpp"
#include "test_support.hpp"

namespace pelmo {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::RecordingFrontEnd;
using test::TempFolder;
using test::WriteBytes;

const std::string kSource = "5500000 5650000 10\r\n";

/// A valid seven-parameter ASCII job (GK-Germ Bessel -> UTM GRS80) between
/// two files of a temporary folder.
struct Job {
  TempFolder dir;
  RecordingFrontEnd fe;
  Session s;

  explicit Job(char decimalSign = '.') : s(fe, decimalSign) {
    TransformSettings& t = s.settings;
    t.optASCII = true;
    t.optSHP = false;
    t.optInGK = true;
    t.optInKrovak = t.optOutGK = false;
    t.optOUTetrs = true;
    t.txtEll1a = "6377397.155";
    t.txtEll1e = "0.0816968312225275";
    t.txtEll2a = "6378137";
    t.txtEll2e = "0.0818191910428158";
    t.txtQuelldatei = dir.File("in.txt");
    t.txtZielDatei = dir.File("out.txt");
    WriteBytes(t.txtQuelldatei, kSource);
  }
  void Translation() {
    s.settings.optSevPar = false;
    s.settings.optTranslation = true;
  }
  /// Runs the job and checks that a rejection touched no file at all (so
  /// created no target either).
  JobOutcome Run() {
    iohook::Disarm();  // counts file operations from here on
    const JobOutcome outcome = RunJob(s);
    if (outcome == JobOutcome::kRejected) {
      EXPECT_EQ(iohook::Count(), 0) << "a rejected job opened a file";
      EXPECT_EQ(ReadBytes(s.settings.txtQuelldatei), kSource);
    }
    return outcome;
  }
};

/// The 18 fields of the seven-parameter check, in their order.
std::vector<std::string*> SevenParFields(TransformSettings& t) {
  std::vector<std::string*> f = {&t.txtEll1a, &t.txtEll1e, &t.txtEll2a, &t.txtEll2e};
  for (auto* p : t.SevenParFields(1)) f.push_back(p);
  for (auto* p : t.SevenParFields(2)) f.push_back(p);
  return f;
}

TEST(JobStart, TranslationChecksItsThreeShiftsOnly) {
  for (int bad = 0; bad < 3; ++bad) {
    SCOPED_TRACE(bad);
    Job job;
    job.Translation();
    std::string* shifts[] = {&job.s.settings.txtDX, &job.s.settings.txtDY, &job.s.settings.txtDH};
    *shifts[bad] = bad == 1 ? "" : "zehn";
    EXPECT_EQ(job.Run(), JobOutcome::kRejected);
    EXPECT_EQ(job.fe.OnlyMessage(), "Fehler - keine Zahl");
    EXPECT_EQ(job.fe.messages.front().title, "Pelmo");
    EXPECT_EQ(job.fe.messages.front().icon, MsgIcon::kNone);
    EXPECT_EQ(job.s.settings.txtDateien, "");
  }
  // Ellipsoid and parameter fields do not matter in translation mode.
  Job job;
  job.Translation();
  job.s.settings.txtEll1a = "0";
  job.s.settings.txtEll2e = "abc";
  job.s.settings.txtP2_4 = "x";
  job.s.settings.txtDX = "1,5";
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_TRUE(job.fe.messages.empty());
  EXPECT_EQ(ReadBytes(job.s.settings.txtZielDatei), "5500001.5 5650000 10\r\n");
  // The job start converts afresh: a change nobody announced with Touch()
  // is seen by the next job.
  job.s.settings.txtDX = "2";
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_EQ(ReadBytes(job.s.settings.txtZielDatei), "5500002 5650000 10\r\n");
}

TEST(JobStart, SevenParChecksAllEighteenFieldsBeforeTheRanges) {
  Job probe;
  const std::size_t count = SevenParFields(probe.s.settings).size();
  ASSERT_EQ(count, 18u);
  for (std::size_t bad = 0; bad < count; ++bad) {
    SCOPED_TRACE(bad);
    Job job;
    // Ellipsoid 1 is out of range too, but the numeric test comes first;
    // a field of the second set counts although it is all zeros.
    job.s.settings.txtEll1a = "0";
    *SevenParFields(job.s.settings)[bad] = "1.2.3";
    EXPECT_EQ(job.Run(), JobOutcome::kRejected);
    EXPECT_EQ(job.fe.OnlyMessage(), "Fehler - keine Zahl");
  }
  // The translation fields do not matter in seven-parameter mode.
  Job job;
  job.s.settings.txtDX = "abc";
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_TRUE(job.fe.messages.empty());

  // A session as it starts has ellipsoid fields of "0".
  RecordingFrontEnd fe;
  Session s(fe);
  s.settings.txtQuelldatei = "a.shp";
  s.settings.txtZielDatei = "b.shp";
  iohook::Disarm();
  EXPECT_EQ(RunJob(s), JobOutcome::kRejected);
  EXPECT_EQ(fe.OnlyMessage(), "Ellipsoid 1 werte ausserhalb des gültigen Wetrebereichs");
  EXPECT_EQ(iohook::Count(), 0);
}

TEST(JobStart, EllipsoidRangesAreStrict) {
  const std::string msg1 = "Ellipsoid 1 werte ausserhalb des gültigen Wetrebereichs";
  const std::string msg2 = "Ellipsoid 2 Werte ausserhalb des gültigen Wetrebereichs";
  const struct {
    const char* a;
    const char* e;
    bool valid;
  } cases[] = {
      {"6000000", "0.08", false},      {"7000000", "0.08", false},
      {"6378137", "0.0001", false},    {"6378137", "0.1", false},
      {"6000000.001", "0.08", true},   {"6999999.999", "0.08", true},
      {"6378137", "0.00010001", true}, {"6378137", "0.0999999", true},
      {"6378137", "0.0066943800", true},  // a squared eccentricity passes
      {"6378137", "-0.08", false},     {"-6378137", "0.08", false},
      {"6378,137", "0.08", false},     {"6378137", "0,08", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " " + c.e);
    for (int which : {1, 2}) {
      Job job;
      (which == 1 ? job.s.settings.txtEll1a : job.s.settings.txtEll2a) = c.a;
      (which == 1 ? job.s.settings.txtEll1e : job.s.settings.txtEll2e) = c.e;
      const JobOutcome outcome = job.Run();
      if (c.valid) {
        EXPECT_NE(outcome, JobOutcome::kRejected);
      } else {
        EXPECT_EQ(outcome, JobOutcome::kRejected);
        EXPECT_EQ(job.fe.OnlyMessage(), which == 1 ? msg1 : msg2);
      }
    }
  }
  // Both out of range: ellipsoid 1 is reported.
  Job job;
  job.s.settings.txtEll1e = "0.5";
  job.s.settings.txtEll2a = "1";
  EXPECT_EQ(job.Run(), JobOutcome::kRejected);
  EXPECT_EQ(job.fe.OnlyMessage(), msg1);
}

TEST(JobStart, MeridianCoeffsComeFromEllipsoidTwoAndSurviveARejection) {
  Job job;
  const MeridianCoeffArray sentinel{1, 2, 3, 4, 5, 6};
  job.s.MeridianCoeffs = sentinel;
  job.s.settings.txtEll2e = "0.1";
  EXPECT_EQ(job.Run(), JobOutcome::kRejected);
  EXPECT_EQ(job.s.MeridianCoeffs, sentinel);

  job.fe.messages.clear();
  job.s.settings.txtEll2e = "0,0818191910428158";  // typed with a comma
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_EQ(job.s.MeridianCoeffs, geotra::MeridianArcCoeffs(6378137, 0.0818191910428158));
  // Translation mode leaves them alone.
  job.Translation();
  job.s.MeridianCoeffs = sentinel;
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_EQ(job.s.MeridianCoeffs, sentinel);
}

TEST(JobStart, EverySpellingOfTheSourceAsTargetIsRefused) {
  Job job;
  const fs::path src = job.s.settings.txtQuelldatei;
  fs::create_symlink(src, job.dir.path() / "link.txt");
  fs::create_hard_link(src, job.dir.path() / "hard.txt");
  fs::create_directory(job.dir.path() / "sub");
  const std::vector<std::string> spellings = {
      src.string(),
      fs::relative(src, fs::current_path()).string(),
      (job.dir.path() / "sub" / ".." / "in.txt").string(),
      (job.dir.path() / "." / "in.txt").string(),
      job.dir.path().string() + "//in.txt",
      job.dir.File("link.txt"),
      job.dir.File("hard.txt"),
  };
  for (bool translation : {false, true}) {
    if (translation) job.Translation();
    for (const std::string& target : spellings) {
      SCOPED_TRACE(target);
      job.fe.messages.clear();
      job.s.settings.txtZielDatei = target;
      EXPECT_EQ(job.Run(), JobOutcome::kRejected);
      EXPECT_EQ(job.fe.OnlyMessage(), "Quelldatei und Zieldatei sind identisch");
      EXPECT_EQ(job.s.settings.txtDateien, "");
    }
  }
  // The link as source, the file as target.
  job.fe.messages.clear();
  job.s.settings.txtQuelldatei = job.dir.File("link.txt");
  job.s.settings.txtZielDatei = src.string();
  EXPECT_EQ(job.Run(), JobOutcome::kRejected);
  EXPECT_EQ(ReadBytes(src.string()), kSource);

  // Names that differ only in letter case are different files here.
  Job other;
  other.s.settings.txtZielDatei = other.dir.File("IN.txt");
  EXPECT_EQ(other.Run(), JobOutcome::kDone);
  EXPECT_TRUE(other.fe.messages.empty());
  EXPECT_EQ(ReadBytes(other.s.settings.txtQuelldatei), kSource);
  EXPECT_FALSE(ReadBytes(other.dir.File("IN.txt")).empty());
}

TEST(JobStart, ElapsedTimeIsAppendedAfterEveryRunButNotAfterARejection) {
  Job job(',');
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  const std::string log = job.s.settings.txtDateien;
  const std::regex twice("vergangene Zeit in s [0-9]+(,[0-9]+)?(e-[0-9]+)?"
                         "vergangene Zeit in s [0-9]+(,[0-9]+)?(e-[0-9]+)?");
  EXPECT_TRUE(std::regex_match(log, twice)) << log;
  EXPECT_EQ(job.fe.log, log) << "the front end hears of every change";
  EXPECT_TRUE(job.fe.messages.empty());

  job.s.settings.txtP5 = "?";
  EXPECT_EQ(job.Run(), JobOutcome::kRejected);
  EXPECT_EQ(job.s.settings.txtDateien, log);
}

}  // namespace
}  // namespace pelmo
