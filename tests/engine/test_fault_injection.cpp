// Every file operation of a job refused in turn, through the job start as
// the window and the batch tool run it: the n-th open, read, write, close,
// copy or delete fails (iohook::Arm(n)) for n = 1, 2, ... until a run makes
// fewer than n operations. For each n:
//  - the user gets exactly one message and the job does not count as done;
//  - the source is unchanged;
//  - an ASCII target holds exactly the lines the message says it holds, and
//    those are the first lines of the complete result;
//  - a shapefile run leaves no target behind;
//  - a failed properties save reports its error number.
// The drivers' own sweeps (test_ascii_file.cpp, test_shapefile_errors.cpp)
// call the drivers directly; these go through RunJob and the file formats'
// commands.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <filesystem>
#include <string>
#include <vector>

#include "geotra/fileio.hpp"
#include "job/job_start.hpp"
#include "paramfiles/paramsets.hpp"
#include "paramfiles/properties.hpp"
#include "shp_fixtures.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

/// Disarms the hook however the test ends.
struct HookGuard {
  ~HookGuard() { iohook::Disarm(); }
};

/// Upper bound of the walks; each run here makes far fewer operations.
constexpr long kMaxSteps = 200;

/// The number of whole lines the ASCII message says the target keeps.
long KeptLines(const std::string& message) {
  if (message.ends_with("\r\nDie Zieldatei ist leer.")) return 0;
  if (message.ends_with("\r\nDie Zieldatei enthält die Zeile 1.")) return 1;
  const std::string lead = "\r\nDie Zieldatei enthält die Zeilen 1 bis ";
  const auto at = message.rfind(lead);
  if (at == std::string::npos || !message.ends_with(".")) return -1;
  return std::stol(message.substr(at + lead.size()));
}

// ---------------------------------------------------------------- ASCII

class AsciiFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    TransformSettings& t = session.settings;
    t.optASCII = true;
    t.optSHP = false;
    t.optSevPar = false;
    t.optTranslation = true;
    t.txtDX = "10";
    t.txtDY = "20";
    t.txtDH = "1";
    t.txtQuelldatei = dir.File("quelle.txt");
    t.txtZielDatei = dir.File("ziel.txt");
    session.Touch();
  }

  TempFolder dir;
  RecordingFrontEnd fe;
  Session session{fe, ','};
};

TEST_F(AsciiFaults, EveryOperationOfAJob) {
  HookGuard guard;
  // Several read blocks and several write blocks; each line is distinct so
  // that a line out of place would show.
  std::string source, result;
  constexpr int kLines = 8000;
  for (int i = 0; i < kLines; ++i) {
    source += std::to_string(i) + ".5 " + std::to_string(2 * i) + " 3\r\n";
    result += std::to_string(i + 10) + ",5 " + std::to_string(2 * i + 20) + " 4\r\n";
  }
  const std::vector<std::string> resultLines = SplitCrLf(result);
  const std::string& target = session.settings.txtZielDatei;

  long steps = 0;
  std::vector<long> keptSeen;
  for (long n = 1;; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    ASSERT_LT(n, kMaxSteps) << "the job never got through";
    WriteBytes(session.settings.txtQuelldatei, source);
    fs::remove(target);
    fe.messages.clear();
    fe.log.clear();
    session.settings.txtDateien.clear();

    iohook::Arm(n);
    const JobOutcome outcome = RunJob(session);
    const long count = iohook::Count();
    iohook::Disarm();

    EXPECT_EQ(ReadBytes(session.settings.txtQuelldatei), source) << "source changed";
    EXPECT_NE(fe.log.find("vergangene Zeit in s "), std::string::npos) << "time not logged";
    if (count < n) {
      EXPECT_EQ(outcome, JobOutcome::kDone);
      EXPECT_TRUE(fe.messages.empty());
      EXPECT_TRUE(ReadBytes(target) == result);
      steps = n - 1;
      break;
    }
    EXPECT_EQ(outcome, JobOutcome::kFailed);
    ASSERT_EQ(fe.messages.size(), 1u) << "a refused operation must be reported";
    const std::string& msg = fe.messages[0].text;
    EXPECT_EQ(fe.messages[0].title, "Pelmo");
    EXPECT_NE(msg.find("Datei \""), std::string::npos) << "the file is not named: " << msg;
    if (!fs::exists(target)) {
      // Only when the source could not be opened or the target could not
      // be created; the message names that file and says nothing of lines.
      EXPECT_EQ(msg.find("Zieldatei"), std::string::npos) << msg;
      EXPECT_TRUE(msg.find(target) != std::string::npos ||
                  msg.find(session.settings.txtQuelldatei) != std::string::npos)
          << msg;
      continue;
    }
    const long kept = KeptLines(msg);
    ASSERT_GE(kept, 0) << "the message does not say what the target holds: " << msg;
    keptSeen.push_back(kept);
    const std::string got = ReadBytes(target);
    const std::vector<std::string> lines = SplitCrLf(got);
    ASSERT_EQ(static_cast<long>(lines.size()), kept) << msg;
    EXPECT_TRUE(got.empty() || got.ends_with("\r\n")) << "a piece of a line was left";
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), resultLines.begin()))
        << "the kept lines are not the first lines of the result";
  }
  // Open source, open target, reads, writes of blocks, close of the target.
  EXPECT_GE(steps, 8);
  // Write failures lose their block; a failed close keeps every line.
  EXPECT_NE(std::find(keptSeen.begin(), keptSeen.end(), 0L), keptSeen.end());
  EXPECT_NE(std::find(keptSeen.begin(), keptSeen.end(), static_cast<long>(kLines)), keptSeen.end());
}

// A run that stops at a bad line after several write blocks: the message
// names the line and says that the lines before it are kept.
TEST_F(AsciiFaults, BadLineAfterSeveralBlocksKeepsEveryLineBeforeIt) {
  std::string source;
  for (int i = 0; i < 15000; ++i) source += "1 2 3\r\n";
  source += "1 zwei 3\r\n4 5 6\r\n";
  WriteBytes(session.settings.txtQuelldatei, source);
  EXPECT_EQ(RunJob(session), JobOutcome::kFailed);
  const std::string msg = fe.OnlyMessage();
  EXPECT_EQ(msg,
            "Typen unverträglich\r\nZeile 15001: 1 zwei 3\r\n"
            "Die Zieldatei enthält die Zeilen 1 bis 15000.");
  EXPECT_EQ(SplitCrLf(ReadBytes(session.settings.txtZielDatei)).size(), 15000u);
}

// ---------------------------------------------------------------- shapefile

class ShapeJobFaults : public ShapefileFixture {
 protected:
  /// Walks every operation of a job on the shapefile `type`/`shapes`
  /// without older targets; returns the number of operations of a full run.
  long Walk(int type, const std::vector<TestShape>& shapes) {
    HookGuard guard;
    WriteShapefile(srcStem, type, shapes);
    const Files source = Take(srcStem);
    for (long n = 1; n < kMaxSteps; ++n) {
      SCOPED_TRACE("operation " + std::to_string(n));
      fe.messages.clear();
      fe.log.clear();
      session.settings.txtDateien.clear();

      iohook::Arm(n);
      const JobOutcome outcome = RunJob(session);
      const long count = iohook::Count();
      iohook::Disarm();

      EXPECT_TRUE(Take(srcStem) == source) << "source changed";
      EXPECT_NE(fe.log.find("vergangene Zeit in s "), std::string::npos) << "time not logged";
      if (outcome == JobOutcome::kDone) {
        // Only a refused close of a source, which loses nothing, lets a run
        // through; its result must then be complete.
        EXPECT_TRUE(fe.messages.empty());
        ExpectTransformed(srcStem, dstStem, session);
        for (const char* ext : {".shp", ".shx", ".dbf"}) fs::remove(dstStem + ext);
      } else {
        EXPECT_EQ(outcome, JobOutcome::kFailed);
        EXPECT_EQ(fe.messages.size(), 1u) << "a refused operation must be reported";
        const std::string text = fe.messages.empty() ? "" : fe.messages[0].text;
        EXPECT_EQ(fe.messages.empty() ? "" : fe.messages[0].title, "Pelmo");
        EXPECT_EQ(text.rfind("Die Datei ", 0), 0u) << text;
        EXPECT_TRUE(TargetsGone()) << "a target was left behind: " << text;
      }
      if (count < n) {
        EXPECT_EQ(outcome, JobOutcome::kDone);
        return n - 1;
      }
    }
    ADD_FAILURE() << "the job never got through";
    return 0;
  }
};

TEST_F(ShapeJobFaults, EveryOperationOfAPolyLineJob) {
  EXPECT_GT(Walk(SHPT_ARC, PolyLineShapes()), 10);
}

TEST_F(ShapeJobFaults, EveryOperationOfAPointJobInSevenParameterMode) {
  UseGkToUtmDhdn(session);
  EXPECT_GT(Walk(SHPT_POINT, PointShapes()), 10);
}

// ---------------------------------------------------------------- properties

/// A configuration that uses every kind of line.
void Configure(TransformSettings& s, OptionTable& d) {
  s.optSHP = false;
  s.optASCII = true;
  s.txtEll1a = "6377397,155";
  s.txtBezEll1 = "Bessel \"1841\"";
  s.txtsevenParSys = "DHDN nach ETRS89";
  d[opt::kStat1] = "1";
  d[opt::kGKBM] = "12";
}

TEST(PropertiesFaults, EverySaveOperation) {
  HookGuard guard;
  TempFolder dir;
  const std::string path = dir.File("einstellungen.par");
  TransformSettings s;
  OptionTable d = DefaultOptionValues(',');
  Configure(s, d);
  std::vector<int> numbers;
  for (long n = 1;; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    ASSERT_LT(n, kMaxSteps);
    std::error_code ec;
    fs::remove(path, ec);
    iohook::Arm(n);
    int number = 0;
    try {
      SaveProperties(path, s, d);
    } catch (const PropertiesError& e) {
      number = e.number();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    const long count = iohook::Count();
    iohook::Disarm();
    if (count < n) {
      EXPECT_EQ(number, 0);
      TransformSettings back;
      OptionTable backDialog = DefaultOptionValues('.');
      LoadProperties(path, back, backDialog);
      EXPECT_EQ(back.txtBezEll1, s.txtBezEll1);
      EXPECT_EQ(backDialog, d);
      break;
    }
    ASSERT_NE(number, 0) << "a refused operation was not reported";
    numbers.push_back(number);
    EXPECT_EQ(PropertiesErrorMessage(number, true),
              std::to_string(number) + "   Fehler Beim Speichern der Parameter Datei");
  }
  // Open refused (permission), write refused (disk full), close refused
  // (I/O error): the user sees each with its number.
  EXPECT_EQ(numbers, (std::vector<int>{70, 61, 57}));
}

TEST(PropertiesFaults, EveryLoadOperationKeepsWhatWasRead) {
  HookGuard guard;
  TempFolder dir;
  const std::string path = dir.File("einstellungen.par");
  TransformSettings saved;
  OptionTable savedDialog = DefaultOptionValues(',');
  Configure(saved, savedDialog);
  SaveProperties(path, saved, savedDialog);
  const std::string bytes = ReadBytes(path);
  for (long n = 1;; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    ASSERT_LT(n, kMaxSteps);
    TransformSettings s;
    OptionTable d = DefaultOptionValues('.');
    iohook::Arm(n);
    int number = 0, line = 0;
    try {
      LoadProperties(path, s, d);
    } catch (const PropertiesError& e) {
      number = e.number();
      line = e.line();
    }
    const long count = iohook::Count();
    iohook::Disarm();
    EXPECT_EQ(ReadBytes(path), bytes);
    if (count < n) {
      EXPECT_EQ(number, 0);
      EXPECT_EQ(d, savedDialog);
      break;
    }
    EXPECT_TRUE(number == 70 || number == 57) << number;
    // The lines before the one the read failed at are assigned, no other.
    EXPECT_EQ(s.optASCII, line > 2) << "line " << line;
    EXPECT_EQ(s.txtPAR, line > 0 ? path : "no loaded Properties");
  }
}

TEST(ParameterFileFaults, EveryReadOperationChangesNothing) {
  HookGuard guard;
  const std::string path = std::string(PELMO_SOURCE_DIR) + "/data/DHDN_to_ETRS89_EPSG1776.7pr";
  for (long n = 1;; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    ASSERT_LT(n, kMaxSteps);
    TransformSettings s;
    iohook::Arm(n);
    const bool loaded = LoadSevenParFile(path, s, 1, ',');
    const long count = iohook::Count();
    iohook::Disarm();
    if (count < n) {
      EXPECT_TRUE(loaded);
      EXPECT_EQ(s.txtP1, "598,1");
      break;
    }
    EXPECT_FALSE(loaded);
    EXPECT_EQ(s.txtP1, "0");
    EXPECT_EQ(s.txtsevenParSys, "no Transformation");
  }
}

}  // namespace
}  // namespace pelmo::test
