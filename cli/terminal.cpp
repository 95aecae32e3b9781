#include "cli/terminal.hpp"

#include <cctype>
#include <iostream>

#include "core/errors.hpp"
#include "job/job_start.hpp"

namespace pelmo::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

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

void TerminalFrontEnd::ShowMessage(const std::string& text, const std::string& title, MsgIcon) {
  ClearProgress();
  std::cerr << (title.empty() ? kProgramName : title) << ": " << ForTerminal(text) << '\n';
  // Ellipsoids out of range are mostly ellipsoids never given.
  if (text == kMsgEllipsoid1 || text == kMsgEllipsoid2) {
    const char* option = text == kMsgEllipsoid1 ? "--ell1" : "--ell2";
    std::cerr << "(das Ellipsoid " << (text == kMsgEllipsoid1 ? "der Eingabe" : "der Ausgabe")
              << " gibt " << option << " FILE an, z. B. " << option
              << " data/GRS_1980.ell, oder --par FILE mit einer ganzen Einstellung)\n";
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

void TerminalFrontEnd::ProgressPercent(const std::string& text) {
  if (!progressLine || text == lastPercent_) return;
  lastPercent_ = text;
  std::cerr << "\r" << text << " %" << std::flush;
  progressShown_ = true;
}

void TerminalFrontEnd::ClearProgress() {
  if (progressShown_) std::cerr << "\r\033[K" << std::flush;
  progressShown_ = false;
}

}  // namespace pelmo::cli
