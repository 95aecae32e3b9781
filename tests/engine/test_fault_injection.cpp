// Every file operation of a job (through the job start, as the window and
// the batch tool run it) and of a properties file refused in turn. For
// each: one message and no success, the source unchanged, an ASCII target
// holding exactly the lines the message says (the first lines of the
// complete result), no shapefile target left behind, a failed properties
// save reporting its error number.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/fileio.hpp"
#include "job/job_start.hpp"
#include "paramfiles/paramsets.hpp"
#include "paramfiles/properties.hpp"
#include "shp_fixtures.hpp"
#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

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
  void SetUp() override { UseAsciiTranslation(session, source, target); }

  TempFolder dir;
  RecordingFrontEnd fe;
  Session session{fe, ','};
  const std::string source = dir.File("quelle.txt"), target = dir.File("ziel.txt");
};

TEST_F(AsciiFaults, EveryOperationOfAJob) {
  // Several read and write blocks; distinct lines, so that a line out of
  // place would show.
  std::string input, result;
  constexpr long kLines = 8000;
  for (long i = 0; i < kLines; ++i) {
    input += std::to_string(i) + ".5 " + std::to_string(2 * i) + " 3\r\n";
    result += std::to_string(i + 10) + ",5 " + std::to_string(2 * i + 20) + " 4\r\n";
  }
  const std::vector<std::string> resultLines = SplitCrLf(result);
  std::vector<long> keptSeen;
  std::size_t openBefore = 0;
  const long steps = ForEachFailingOperation(
      [&] {
        WriteBytes(source, input);
        fs::remove(target);
        fe.messages.clear();
        fe.log.clear();
        session.settings.txtDateien.clear();
        openBefore = OpenFileCount();
        return RunJob(session);
      },
      [&](JobOutcome outcome, bool complete) {
        EXPECT_EQ(OpenFileCount(), openBefore) << "a file was left open";
        EXPECT_EQ(ReadBytes(source), input) << "source changed";
        EXPECT_NE(fe.log.find("vergangene Zeit in s "), std::string::npos) << "time not logged";
        if (complete) {
          EXPECT_EQ(outcome, JobOutcome::kDone);
          EXPECT_TRUE(fe.messages.empty());
          EXPECT_TRUE(ReadBytes(target) == result);
          return;
        }
        EXPECT_EQ(outcome, JobOutcome::kFailed);
        ASSERT_EQ(fe.messages.size(), 1u) << "a refused operation must be reported";
        const std::string& msg = fe.messages[0].text;
        EXPECT_EQ(fe.messages[0].title, "Pelmo");
        EXPECT_NE(msg.find("Datei \""), std::string::npos) << "the file is not named: " << msg;
        if (!fs::exists(target)) {
          // The source could not be opened or the target not created: the
          // message names that file and says nothing of lines.
          EXPECT_EQ(msg.find("Zieldatei"), std::string::npos) << msg;
          EXPECT_TRUE(msg.find(target) != std::string::npos ||
                      msg.find(source) != std::string::npos)
              << msg;
          return;
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
      });
  // Open source, open target, reads, writes of blocks, close of the target.
  EXPECT_GE(steps, 8);
  // Write failures lose their block; a failed close keeps every line.
  EXPECT_NE(std::find(keptSeen.begin(), keptSeen.end(), 0L), keptSeen.end());
  EXPECT_NE(std::find(keptSeen.begin(), keptSeen.end(), kLines), keptSeen.end());
}

TEST_F(AsciiFaults, BadLineAfterSeveralBlocksKeepsEveryLineBeforeIt) {
  std::string input;
  for (int i = 0; i < 15000; ++i) input += "1 2 3\r\n";
  WriteBytes(source, input + "1 zwei 3\r\n4 5 6\r\n");
  EXPECT_EQ(RunJob(session), JobOutcome::kFailed);
  EXPECT_EQ(fe.OnlyMessage(),
            "Typen unverträglich\r\nSpalte 2 (zweiter Wert): \"zwei\" ist keine Zahl\r\n"
            "Zeile 15001: 1 zwei 3\r\n"
            "Die Zieldatei enthält die Zeilen 1 bis 15000.");
  EXPECT_EQ(SplitCrLf(ReadBytes(target)).size(), 15000u);
  EXPECT_EQ(session.settings.txtDateien.rfind("vergangene Zeit in s ", 0), 0u);
}

// ---------------------------------------------------------------- shapefile

class ShapeJobFaults : public ShapefileFixture {
 protected:
  /// Walks every operation of a job on a new shapefile `type`/`shapes`;
  /// returns the number of operations of a full run.
  long Walk(int type, const std::vector<TestShape>& shapes) {
    WriteShapefile(srcStem, type, shapes);
    const Files source = Take(srcStem);
    return ForEachFailingOperation(
        [&] {
          fe.messages.clear();
          fe.log.clear();
          session.settings.txtDateien.clear();
          return RunJob(session);
        },
        [&](JobOutcome outcome, bool complete) {
          EXPECT_TRUE(Take(srcStem) == source) << "source changed";
          EXPECT_NE(fe.log.find("vergangene Zeit in s "), std::string::npos) << "time not logged";
          EXPECT_TRUE(!complete || outcome == JobOutcome::kDone);
          if (outcome == JobOutcome::kDone) {
            // Only a refused close of a source, which loses nothing, lets a
            // run through; its result must then be complete.
            EXPECT_TRUE(fe.messages.empty());
            ExpectTransformed(srcStem, dstStem, session);
            for (const char* ext : {".shp", ".shx", ".dbf"}) fs::remove(dstStem + ext);
            return;
          }
          EXPECT_EQ(outcome, JobOutcome::kFailed);
          ASSERT_EQ(fe.messages.size(), 1u) << "a refused operation must be reported";
          EXPECT_EQ(fe.messages[0].title, "Pelmo");
          EXPECT_EQ(fe.messages[0].text.rfind("Die Datei ", 0), 0u) << fe.messages[0].text;
          EXPECT_TRUE(TargetsGone()) << "a target was left behind: " << fe.messages[0].text;
        });
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

TEST(PropertiesFaults, EverySaveAndLoadOperation) {
  TempFolder dir;
  const std::string path = dir.File("einstellungen.par");
  TransformSettings saved, s;
  OptionTable savedDialog = DefaultOptionValues(','), d;
  Configure(saved, savedDialog);
  std::vector<int> numbers;
  ForEachFailingOperation(
      [&] {
        std::error_code ec;
        fs::remove(path, ec);
        try {
          SaveProperties(path, saved, savedDialog);
        } catch (const PropertiesError& e) {
          EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
          return e.number();
        }
        return 0;
      },
      [&](int number, bool complete) {
        if (complete) {
          EXPECT_EQ(number, 0);
          return;
        }
        ASSERT_NE(number, 0) << "a refused operation was not reported";
        numbers.push_back(number);
        EXPECT_EQ(PropertiesErrorMessage(number, true),
                  std::to_string(number) + "   Fehler Beim Speichern der Parameter Datei");
      });
  // Open refused (permission), write refused (disk full), close refused
  // (I/O error): the user sees each with its number.
  EXPECT_EQ(numbers, (std::vector<int>{70, 61, 57}));

  const std::string bytes = ReadBytes(path);
  ForEachFailingOperation(
      [&] {
        s = TransformSettings();
        d = DefaultOptionValues('.');
        try {
          LoadProperties(path, s, d);
        } catch (const PropertiesError& e) {
          return std::pair(e.number(), e.line());
        }
        return std::pair(0, 0);
      },
      [&](std::pair<int, int> failure, bool complete) {
        const auto [number, line] = failure;
        EXPECT_EQ(ReadBytes(path), bytes);
        if (complete) {
          EXPECT_EQ(number, 0);
          EXPECT_EQ(s.txtBezEll1, saved.txtBezEll1);
          EXPECT_EQ(d, savedDialog);
          return;
        }
        EXPECT_TRUE(number == 70 || number == 57) << number;
        // The lines before the one the read failed at are assigned, no other.
        EXPECT_EQ(s.optASCII, line > 2) << "line " << line;
        EXPECT_EQ(s.txtPAR, line > 0 ? path : "no loaded Properties");
      });
}

}  // namespace
}  // namespace pelmo::test
