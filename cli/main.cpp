// pelmo-cli: runs one transformation job from the command line, with the
// same engine, checks and messages as the desktop program.

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.hpp"
#include "core/frontend.hpp"
#include "core/numtext.hpp"
#include "core/settings.hpp"
#include "geodesy/selftest.hpp"
#include "job/job_start.hpp"
#include "paramfiles/paramsets.hpp"
#include "paramfiles/properties.hpp"

#ifndef PELMO_VERSION
#define PELMO_VERSION "1.04"
#endif

namespace {

using namespace pelmo;

constexpr int kExitOk = 0;
constexpr int kExitJobStopped = 1;
constexpr int kExitUsage = 2;

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
  g_interrupted = 1;
  // A second Ctrl+C ends the program at once.
  std::signal(SIGINT, SIG_DFL);
}

constexpr const char* kUsage =
    "Usage: pelmo-cli [OPTIONS] SOURCE TARGET\n"
    "       pelmo-cli --selftest [FILE]\n"
    "       pelmo-cli [OPTIONS] --save-par FILE\n"
    "\n"
    "Transforms an ASCII coordinate file or a shapefile (.shp with .shx and .dbf)\n"
    "from one projection and datum into another.\n"
    "\n"
    "Options (later ones override earlier ones and the properties file):\n"
    "  --par FILE           load a properties file (.par)\n"
    "  --in NAME            input projection: GK-Germ, GK-general, UTM, Krovak, Ell\n"
    "  --out NAME           output projection, same names\n"
    "  --ell1 FILE          ellipsoid of the input coordinates (.ell)\n"
    "  --ell2 FILE          ellipsoid of the output coordinates (.ell)\n"
    "  --7par1 FILE         first seven-parameter set (.7pr)\n"
    "  --7par2 FILE         second seven-parameter set (.7pr)\n"
    "  --option N=TEXT      entry N (0-19) of the option table\n"
    "  --translation DX DY DH  translation mode with these shifts\n"
    "  --type ascii|shape   file type (default: the properties file's, else\n"
    "                       shape for a source ending in .shp, else ascii)\n"
    "  --save-par FILE      write the effective configuration as a properties file\n"
    "  --yes                answer Yes to every overwrite question\n"
    "  --quiet              no log lines and no summary\n"
    "  --selftest [FILE]    write the self-test records (default: test.txt in the\n"
    "                       temporary folder)\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 done, 1 the job stopped with a message, 2 usage error.\n";

/// Terminal text of a message: CR LF becomes a line end.
std::string ForTerminal(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    out += text[i];
  }
  return out;
}

/// The batch tool as a front end of the engine.
class CliFrontEnd : public FrontEnd {
 public:
  bool yes = false;
  bool quiet = false;
  bool interactive = false;  // questions asked on the terminal
  bool progressLine = false; // progress shown on a terminal
  Session* session = nullptr;
  bool shapeJob = false;
  long points = 0;

  void ShowMessage(const std::string& text, const std::string& title, MsgIcon) override {
    ClearProgress();
    std::cerr << (title.empty() ? kProgramName : title) << ": " << ForTerminal(text) << '\n';
  }

  bool AskYesNo(const std::string& text, const std::string& title, MsgIcon) override {
    ClearProgress();
    std::cerr << title << ": " << ForTerminal(text);
    if (yes) {
      std::cerr << " [j/N] j (--yes)\n";
      return true;
    }
    if (!interactive) {
      std::cerr << " [j/N] N (keine Rückfrage möglich; --yes beantwortet mit Ja)\n";
      return false;
    }
    std::cerr << " [j/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    answer.erase(0, answer.find_first_not_of(' '));
    const char c = answer.empty() ? 'n' : static_cast<char>(std::tolower(answer[0]));
    return c == 'j' || c == 'y';
  }

  void LogChanged(const std::string& text) override {
    // Print what was added since the last call.
    if (text.size() < logShown_ || text.compare(0, logShown_, lastLog_, 0, logShown_) != 0) {
      logShown_ = 0;  // replaced
    }
    if (!quiet) {
      ClearProgress();
      std::cerr << ForTerminal(text.substr(logShown_));
      if (!text.empty() && text.back() != '\n') std::cerr << '\n';
    }
    lastLog_ = text;
    logShown_ = text.size();
  }

  void ProcessEvents() override {
    ++points;
    if (g_interrupted != 0) {
      if (shapeJob) {
        session->CancelRequested = true;
      } else {
        throw RunTimeError(errnum::kUserInterrupt);
      }
    }
    if (progressLine && (points & 0xFFFF) == 0 && !shapeJob) {
      std::cerr << "\r" << points << " Punkte" << std::flush;
      progressShown_ = true;
    }
  }

  void ProgressPercent(const std::string& text) override {
    if (!progressLine || text == lastPercent_) return;
    lastPercent_ = text;
    std::cerr << "\r" << text << " %" << std::flush;
    progressShown_ = true;
  }

  void ClearProgress() {
    if (progressShown_) std::cerr << "\r\033[K" << std::flush;
    progressShown_ = false;
  }

 private:
  std::string lastLog_;
  std::size_t logShown_ = 0;
  std::string lastPercent_;
  bool progressShown_ = false;
};

/// Sets one projection group from its name; false for an unknown name.
bool SetProjection(TransformSettings& t, std::string_view name, bool input) {
  std::string n(name);
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return std::tolower(c); });
  bool* flags[5];
  if (input) {
    bool* f[] = {&t.optInGK, &t.optINGKallgemein, &t.optINetrs, &t.optInKrovak, &t.optInBL};
    std::copy(std::begin(f), std::end(f), flags);
  } else {
    bool* f[] = {&t.optOutGK, &t.optOutGKallgemein, &t.optOUTetrs, &t.optOutKrovak, &t.optOutBL};
    std::copy(std::begin(f), std::end(f), flags);
  }
  static constexpr std::string_view kNames[] = {"gk-germ", "gk-general", "utm", "krovak", "ell"};
  for (int i = 0; i < 5; ++i) {
    if (n == kNames[i]) {
      for (int j = 0; j < 5; ++j) *flags[j] = (i == j);
      return true;
    }
  }
  return false;
}

bool EndsWithShp(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".shp";
}

int UsageError(const std::string& text) {
  std::cerr << "pelmo-cli: " << text << "\n(pelmo-cli --help shows the options)\n";
  return kExitUsage;
}

int RunSelfTest(const std::string& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::cerr << "pelmo-cli: Die Datei \"" << file
              << "\" kann nicht angelegt werden (Selbsttest nicht geschrieben)\n";
    return kExitJobStopped;
  }
  pelmo::geotra::WriteSelfTest(out);
  out.close();
  if (!out) {
    std::cerr << "pelmo-cli: Fehler beim Schreiben von \"" << file << "\"\n";
    return kExitJobStopped;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CliFrontEnd fe;
  Session session(fe, DecimalSignFromEnvironment());
  fe.session = &session;
  TransformSettings& t = session.settings;

  std::optional<std::string> saveParFile;
  std::optional<std::string> type;
  std::vector<std::string> positional;
  bool typeFromPar = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return kExitOk;
    } else if (a == "--version") {
      std::cout << "pelmo-cli " << PELMO_VERSION << '\n';
      return kExitOk;
    } else if (a == "--selftest") {
      std::string file = (std::filesystem::temp_directory_path() / "test.txt").string();
      if (i + 1 < args.size() && !args[i + 1].starts_with("--")) file = args[++i];
      return RunSelfTest(file);
    } else if (a == "--yes") {
      fe.yes = true;
    } else if (a == "--quiet") {
      fe.quiet = true;
    } else if (a == "--par") {
      const auto f = value();
      if (!f) return UsageError("--par needs a file");
      OptionTable dialog = session.OptionValues;
      try {
        LoadProperties(*f, t, dialog);
      } catch (const PropertiesError& e) {
        std::cerr << "pelmo-cli: " << *f << ": " << PropertiesErrorMessage(e.number(), false)
                  << " (" << e.what() << ")\n";
        return kExitJobStopped;
      }
      for (int k = 0; k < kOptionCount; ++k) {
        if (k != opt::kSevPar && k != opt::kTranslation) session.OptionValues[k] = dialog[k];
      }
      typeFromPar = true;
    } else if (a == "--in" || a == "--out") {
      const auto n = value();
      if (!n || !SetProjection(t, *n, a == "--in")) {
        return UsageError(a + " needs one of GK-Germ, GK-general, UTM, Krovak, Ell");
      }
    } else if (a == "--ell1" || a == "--ell2") {
      const auto f = value();
      if (!f) return UsageError(a + " needs a file");
      if (!LoadEllipsoidFile(*f, t, a == "--ell1" ? 1 : 2, session.decimalSign())) {
        std::cerr << "pelmo-cli: Ellipsoid-Datei \"" << *f << "\" kann nicht gelesen werden\n";
        return kExitJobStopped;
      }
    } else if (a == "--7par1" || a == "--7par2") {
      const auto f = value();
      if (!f) return UsageError(a + " needs a file");
      if (!LoadSevenParFile(*f, t, a == "--7par1" ? 1 : 2, session.decimalSign())) {
        std::cerr << "pelmo-cli: Parameter-Datei \"" << *f << "\" kann nicht gelesen werden\n";
        return kExitJobStopped;
      }
    } else if (a == "--option") {
      const auto v = value();
      const auto eq = v ? v->find('=') : std::string::npos;
      int n = -1;
      if (eq != std::string::npos) {
        try {
          n = std::stoi(v->substr(0, eq));
        } catch (const std::exception&) {
          n = -1;
        }
      }
      if (n < 0 || n >= kOptionCount) return UsageError("--option needs N=TEXT with N from 0 to 19");
      session.OptionValues[n] = v->substr(eq + 1);
    } else if (a == "--translation") {
      if (i + 3 >= args.size()) return UsageError("--translation needs DX DY DH");
      t.txtDX = args[++i];
      t.txtDY = args[++i];
      t.txtDH = args[++i];
      t.optTranslation = true;
      t.optSevPar = false;
      session.OptionValues[opt::kSevPar] = kFalseText;
      session.OptionValues[opt::kTranslation] = kTrueText;
    } else if (a == "--type") {
      const auto v = value();
      if (!v || (*v != "ascii" && *v != "shape")) return UsageError("--type needs ascii or shape");
      type = *v;
    } else if (a == "--save-par") {
      const auto f = value();
      if (!f) return UsageError("--save-par needs a file");
      saveParFile = *f;
    } else if (a.starts_with("--")) {
      return UsageError("unknown option " + a);
    } else {
      positional.push_back(a);
    }
  }

  if (positional.size() != 2 && !(positional.empty() && saveParFile)) {
    return UsageError(positional.empty() ? "SOURCE and TARGET are missing"
                                         : "exactly one SOURCE and one TARGET are needed");
  }
  if (!positional.empty()) {
    t.txtQuelldatei = positional[0];
    t.txtZielDatei = positional[1];
  }
  if (type) {
    t.optSHP = *type == "shape";
    t.optASCII = !t.optSHP;
  } else if (!typeFromPar || (!t.optSHP && !t.optASCII)) {
    t.optSHP = EndsWithShp(t.txtQuelldatei);
    t.optASCII = !t.optSHP;
  }

  if (saveParFile) {
    try {
      SaveProperties(*saveParFile, t, session.OptionValues);
    } catch (const PropertiesError& e) {
      std::cerr << "pelmo-cli: " << *saveParFile << ": "
                << PropertiesErrorMessage(e.number(), true) << " (" << e.what() << ")\n";
      return kExitJobStopped;
    }
    if (positional.empty()) return kExitOk;
  }

  session.Touch();
  fe.interactive = isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0;
  fe.progressLine = !fe.quiet && isatty(STDERR_FILENO) != 0;
  fe.shapeJob = t.optSHP;
  std::signal(SIGINT, OnInterrupt);

  const auto start = std::chrono::steady_clock::now();
  const JobOutcome outcome = RunJob(session);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  fe.ClearProgress();
  if (!fe.quiet) {
    std::cerr << "\n" << fe.points << " Punkte in "
              << FormatNumber(elapsed.count(), session.decimalSign()) << " s"
              << (outcome == JobOutcome::kDone ? "" : " (abgebrochen)") << '\n';
  }
  return outcome == JobOutcome::kDone ? kExitOk : kExitJobStopped;
}
