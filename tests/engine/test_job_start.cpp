// The job start: checks of the datum mode before any file operation, the arc coefficients, identical names, time.
#include <regex>

#include "test_support.hpp"

namespace pelmo::test {
namespace {

namespace fs = std::filesystem;

const std::string kNotANumber = "Fehler - keine Zahl";
const std::string kEll1 = "Ellipsoid 1 werte ausserhalb des gültigen Wetrebereichs";
const std::string kEll2 = "Ellipsoid 2 Werte ausserhalb des gültigen Wetrebereichs";
const std::string kTime = "vergangene Zeit in s [0-9]+(,[0-9]+)?(e-[0-9]+)?";

/// A valid seven-parameter ASCII job (GK-Germ Bessel to UTM GRS 1980).
struct Job {
  TempFolder dir;
  RecordingFrontEnd fe;
  Session s;
  explicit Job(char sign = '.') : s(fe, sign) {
    UseGkToUtmDhdn(s);
    s.settings.optASCII = true, s.settings.optSHP = false;
    s.settings.txtQuelldatei = dir.File("in.txt"), s.settings.txtZielDatei = dir.File("out.txt");
    WriteBytes(s.settings.txtQuelldatei, "5500000 5650000 10\r\n");
  }
  void Translation() { s.settings.optSevPar = false, s.settings.optTranslation = true; }
  /// A rejection comes before any file operation: one message (title Pelmo), no progress, nothing logged.
  JobOutcome Run(const std::string& rejection = "") {
    fe = RecordingFrontEnd();
    s.settings.txtDateien.clear();
    iohook::Disarm();  // counts from here on
    const JobOutcome outcome = RunJob(s);
    EXPECT_EQ(outcome == JobOutcome::kRejected, !rejection.empty()) << fe.OnlyMessage();
    if (outcome == JobOutcome::kRejected) {
      EXPECT_EQ(iohook::Count(), 0) << "a rejected job touched a file";
      EXPECT_EQ(fe.OnlyMessage() + (fe.messages.empty() ? "" : fe.messages[0].title), rejection + "Pelmo");
      EXPECT_EQ(fe.progressOpened, 0);
      EXPECT_EQ(s.settings.txtDateien, "");
    }
    return outcome;
  }
};

TEST(JobStart, ChecksOfTheActiveDatumMode) {
  for (int bad = 0; bad < 18; ++bad) {  // the numeric test comes before the ranges; zero sets count
    Job job;
    TransformSettings& t = job.s.settings;
    std::vector<std::string*> fields = {&t.txtEll1a, &t.txtEll1e, &t.txtEll2a, &t.txtEll2e};
    for (const int set : {1, 2}) for (auto* p : t.SevenParFields(set)) fields.push_back(p);
    t.txtEll1a = "0", *fields[static_cast<std::size_t>(bad)] = "1.2.3";
    job.Run(kNotANumber);
  }
  for (int bad = 0; bad < 3; ++bad) {
    Job job;
    job.Translation();
    *std::array{&job.s.settings.txtDX, &job.s.settings.txtDY, &job.s.settings.txtDH}[bad] = bad == 1 ? "" : "zehn";
    job.Run(kNotANumber);
  }
  // Each mode reads only its own fields; a change nobody announced is seen by the next job.
  Job job;
  job.Translation();
  job.s.settings.txtEll1a = "0", job.s.settings.txtP2_4 = "x", job.s.settings.txtDX = "1,5";
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_EQ(ReadBytes(job.s.settings.txtZielDatei), "5500001.5 5650000 10\r\n");
  job.s.settings.txtDX = "2";
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_EQ(ReadBytes(job.s.settings.txtZielDatei), "5500002 5650000 10\r\n");
  Job sevenPar;
  // Ranges, all bounds exclusive, for either ellipsoid; ellipsoid 1 first.
  const std::tuple<const char*, const char*, bool> ranges[] = {
      {"6000000", "0.08", false}, {"7000000", "0.08", false}, {"6378137", "0.0001", false}, {"6378137", "0.1", false},
      {"6000000.001", "0.08", true}, {"6999999.999", "0.08", true}, {"6378137", "0.00010001", true},
      {"6378137", "0.0999999", true}, {"6378137", "-0.08", false}, {"-6378137", "0.08", false},
      {"6378,137", "0.08", false}, {"6378137", "0,08", true}};
  for (const auto& [a, e, valid] : ranges) {
    for (const int which : {1, 2}) {
      Job j;
      (which == 1 ? j.s.settings.txtEll1a : j.s.settings.txtEll2a) = a;
      (which == 1 ? j.s.settings.txtEll1e : j.s.settings.txtEll2e) = e;
      j.Run(valid ? "" : which == 1 ? kEll1 : kEll2);
    }
  }
  Job both;
  both.s.settings.txtEll1e = "0.5", both.s.settings.txtEll2a = "1";
  both.Run(kEll1);
  // The arc coefficients come from ellipsoid 2; a rejection and the translation mode leave them alone.
  const MeridianCoeffArray sentinel{1, 2, 3, 4, 5, 6};
  sevenPar.s.MeridianCoeffs = sentinel;
  sevenPar.s.settings.txtEll2e = "0.1";
  sevenPar.Run(kEll2);
  EXPECT_EQ(sevenPar.s.MeridianCoeffs, sentinel);
  sevenPar.s.settings.txtEll2e = "0,0818191910428158";
  EXPECT_EQ(sevenPar.Run(), JobOutcome::kDone);
  EXPECT_EQ(sevenPar.s.MeridianCoeffs, geotra::MeridianArcCoeffs(6378137, 0.0818191910428158));
  job.s.MeridianCoeffs = sentinel;
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_EQ(job.s.MeridianCoeffs, sentinel);
}

// One file however spelt, for a shapefile any two of its names: refused in either mode.
TEST(JobStart, IdenticalSourceAndTargetAreRefused) {
  Job job;
  const std::string src = job.s.settings.txtQuelldatei;
  fs::create_symlink(src, job.dir.File("link.txt"));
  fs::create_hard_link(src, job.dir.File("hard.txt"));
  fs::create_directory(job.dir.File("sub"));
  for (const bool translation : {false, true}) {
    if (translation) job.Translation();
    for (const std::string& target : {src, fs::relative(src, fs::current_path()).string(), job.dir.File("sub/../in.txt"),
                                      job.dir.File("./in.txt"), job.dir.path().string() + "//in.txt", job.dir.File("link.txt"),
                                      job.dir.File("hard.txt")}) {
      job.s.settings.txtZielDatei = target;
      job.Run(kMsgIdentical);
    }
  }
  job.s.settings.optSHP = true, job.s.settings.optASCII = false;
  WriteShapefile(job.dir.File("x"), SHPT_POINT, PointShapes());
  for (const auto& [source, target] : {std::pair{"x.shp", "x.dbf"}, std::pair{"x.shx", "x.shp"},
                                       std::pair{"y.dbf", "y.shp"}, std::pair{"x.shp", "sub/../x.shx"}}) {
    job.s.settings.txtQuelldatei = job.dir.File(source), job.s.settings.txtZielDatei = job.dir.File(target);
    job.Run(kMsgIdentical);
  }
  Job other;  // names that differ only in letter case are different files here
  other.s.settings.txtZielDatei = other.dir.File("IN.txt");
  EXPECT_EQ(other.Run(), JobOutcome::kDone);
}

// The elapsed time follows the driver's log lines after every run that reached a driver, failed ones too.
TEST(JobStart, ElapsedTimeAfterEveryRun) {
  Job job(',');
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  EXPECT_TRUE(std::regex_match(job.s.settings.txtDateien, std::regex(kTime))) << job.s.settings.txtDateien;
  EXPECT_EQ(job.fe.log, job.s.settings.txtDateien) << "the front end hears of every change";
  WriteBytes(job.s.settings.txtQuelldatei, "5500000 5650000\r\nnan 2 3\r\n");
  EXPECT_EQ(job.Run(), JobOutcome::kFailed);
  EXPECT_TRUE(std::regex_match(job.s.settings.txtDateien, std::regex(kTime)));
  EXPECT_EQ(job.fe.OnlyMessage(), "Typen unverträglich\r\nSpalte 1 (Ostwert): \"nan\" ist keine Zahl\r\nZeile 2: nan 2 3\r\n"
            "Die Zieldatei enthält die Zeile 1.");
  job.Translation();
  job.s.settings.optSHP = true, job.s.settings.optASCII = false;
  WriteShapefile(job.dir.File("q"), SHPT_POINT, PointShapes());
  job.s.settings.txtQuelldatei = job.dir.File("q.shp"), job.s.settings.txtZielDatei = job.dir.File("z.shp");
  EXPECT_EQ(job.Run(), JobOutcome::kDone);
  const std::string lines = "shapetyp 1 \\(Point\\)\r\nDateilänge in byte " + std::to_string(fs::file_size(job.dir.File("q.shp"))) +
                            "\r\nRecordAanzahl : 6\r\n";
  EXPECT_TRUE(std::regex_match(job.s.settings.txtDateien, std::regex(lines + kTime))) << job.s.settings.txtDateien;
  fs::remove(job.dir.File("q.shx"));
  job.s.settings.txtZielDatei = job.dir.File("z2.shp");
  EXPECT_EQ(job.Run(), JobOutcome::kFailed);
  EXPECT_EQ(job.fe.OnlyMessage(), "Die Datei " + job.dir.File("q.shx") + "\r\nwurde nicht gefunden");
  EXPECT_TRUE(std::regex_match(job.s.settings.txtDateien, std::regex(kTime)));
}

}  // namespace
}  // namespace pelmo::test
