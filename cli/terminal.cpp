#include "cli/terminal.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "core/errors.hpp"
#include "job/job_start.hpp"

namespace pelmo::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

// The progress line: checked every 1024 points, shown once the job has run
// kProgressAfter (or $PELMO_PROGRESS_AFTER seconds), redrawn at most every
// kProgressEvery.
constexpr long kTickMask = 1023;
constexpr std::chrono::milliseconds kProgressAfter{1000};
constexpr std::chrono::milliseconds kProgressEvery{100};
constexpr int kSecondsPerMinute = 60;

/// "12 s", "3:05 min" or "1:02:03 h".
std::string Duration(double seconds) {
  const long s = std::lround(seconds);
  const auto two = [](long v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  if (s < kSecondsPerMinute) return std::to_string(s) + " s";
  const long m = s / kSecondsPerMinute;
  if (m < kSecondsPerMinute) return std::to_string(m) + ":" + two(s % kSecondsPerMinute) + " min";
  return std::to_string(m / kSecondsPerMinute) + ":" + two(m % kSecondsPerMinute) + ":" +
         two(s % kSecondsPerMinute) + " h";
}

void OnInterrupt(int) {
  g_interrupted = 1;
  // A second Ctrl+C ends the program at once.
  std::signal(SIGINT, SIG_DFL);
}

/// Terminal text of a message: CR LF becomes a line end.
std::string ForTerminal(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

}  // namespace

void CatchInterrupt() { std::signal(SIGINT, OnInterrupt); }

void TerminalFrontEnd::StartJob() {
  points = 0;
  fraction_ = -1;
  start_ = Clock::now();
  shown_ = start_ - kProgressEvery;
  delay_ = kProgressAfter;
  if (const char* after = std::getenv("PELMO_PROGRESS_AFTER"); after != nullptr && *after != 0) {
    delay_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::atof(after)));
  }
}

void TerminalFrontEnd::ShowMessage(const std::string& text, const std::string& title, MsgIcon) {
  ClearProgress();
  std::cerr << (title.empty() ? kProgramName : title) << ": "
            << (jobName.empty() ? "" : jobName + ": ") << ForTerminal(text) << '\n';
  // Ellipsoids out of range are mostly ellipsoids never given.
  if (text == kMsgEllipsoid1 || text == kMsgEllipsoid2) {
    const char* option = text == kMsgEllipsoid1 ? "--ell1" : "--ell2";
    std::cerr << "(das Ellipsoid " << (text == kMsgEllipsoid1 ? "der Eingabe" : "der Ausgabe")
              << " gibt " << option << " FILE an, z. B. " << option
              << " GRS_1980, oder --par FILE mit einer ganzen Einstellung)\n";
  }
}

bool TerminalFrontEnd::ConfirmReplaceAsciiTarget(const std::string& path) {
  if (yes) return true;
  if (interactive) {
    if (AskYesNo("Die Datei " + path + " existiert bereits, soll sie überschrieben werden?",
                 kProblemTitle, MsgIcon::kExclamation)) {
      return true;
    }
    std::cerr << "pelmo-cli: die Zieldatei " << path << " bleibt unverändert\n";
    return false;
  }
  std::cerr << "pelmo-cli: die Zieldatei " << path
            << " existiert bereits und bleibt unverändert; mit --yes wird sie ersetzt\n";
  return false;
}

bool TerminalFrontEnd::AskYesNo(const std::string& text, const std::string& title, MsgIcon) {
  // A question that --yes answers is shown as answered, and not at all with --quiet.
  if (yes && quiet) return true;
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

void TerminalFrontEnd::LogChanged(const std::string& text) {
  // Print what was added since the last call.
  if (text.size() < logShown_ || text.compare(0, logShown_, lastLog_, 0, logShown_) != 0) {
    logShown_ = 0;  // replaced
  }
  if (!quiet) {
    ClearProgress();
    std::cerr << ForTerminal(text.substr(logShown_));
    if (!text.empty() && text.back() != '\n') std::cerr << '\n';
  } else {
    // Warnings are shown also without log lines.
    const std::string added = ForTerminal(text.substr(logShown_));
    for (std::size_t at = added.find("Warnung:"); at != std::string::npos;
         at = added.find("Warnung:", at + 1)) {
      if (at == 0 || added[at - 1] == '\n') {
        ClearProgress();
        std::cerr << added.substr(at, added.find('\n', at) - at) << '\n';
      }
    }
  }
  lastLog_ = text;
  logShown_ = text.size();
}

void TerminalFrontEnd::ProcessEvents() {
  ++points;
  if (g_interrupted != 0) Interrupted();
  if (progressLine && (points & kTickMask) == 0) Tick();
}

void TerminalFrontEnd::ProcessEventsAfter(long done) {
  points += done;
  if (g_interrupted != 0) Interrupted();
  if (progressLine) Tick();
}

void TerminalFrontEnd::Interrupted() {
  // Ctrl+C cancels a shapefile job (its targets go) and stops an ASCII job
  // like an error after the last written line.
  if (!shapeJob) throw RunTimeError(errnum::kUserInterrupt);
  session->CancelRequested = true;
}

void TerminalFrontEnd::ProgressBytes(std::uint64_t done, std::uint64_t total) {
  fraction_ = total == 0 ? -1 : static_cast<double>(done) / static_cast<double>(total);
}

void TerminalFrontEnd::ProgressPercent(const std::string& text) {
  constexpr double kPercent = 100;
  fraction_ = std::atof(text.c_str()) / kPercent;
}

void TerminalFrontEnd::Tick() {
  const auto now = Clock::now();
  if (now - start_ < delay_ || now - shown_ < kProgressEvery) return;
  shown_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::string line = "\r\033[K";
  if (fraction_ >= 0) line += std::to_string(std::lround(fraction_ * 100)) + " %  ";
  line += std::to_string(points) + " Punkte";
  if (seconds > 0) {
    line += "  " + std::to_string(std::lround(static_cast<double>(points) / seconds)) + " Punkte/s";
  }
  if (fraction_ > 0) line += "  noch " + Duration(seconds * (1 - fraction_) / fraction_);
  std::cerr << line << std::flush;
  progressShown_ = true;
}

void TerminalFrontEnd::ClearProgress() {
  if (progressShown_) std::cerr << "\r\033[K" << std::flush;
  progressShown_ = false;
}

}  // namespace pelmo::cli
