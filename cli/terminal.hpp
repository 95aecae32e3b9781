// The batch tool as a front end of the engine: messages, questions and log
// lines on standard error, Ctrl+C, and the progress line on a terminal.
#pragma once

#include <csignal>
#include <string>

#include "core/frontend.hpp"
#include "core/settings.hpp"

namespace pelmo::cli {

/// Set by Ctrl+C (SIGINT); a second Ctrl+C ends the program at once.
extern volatile std::sig_atomic_t g_interrupted;
void CatchInterrupt();

class TerminalFrontEnd : public FrontEnd {
 public:
  bool yes = false;
  bool quiet = false;
  bool interactive = false;   ///< questions asked on the terminal
  bool progressLine = false;  ///< progress shown on a terminal
  Session* session = nullptr;
  bool shapeJob = false;
  long points = 0;

  void ShowMessage(const std::string& text, const std::string& title, MsgIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) override;
  bool ConfirmReplaceAsciiTarget(const std::string& path) override;
  void LogChanged(const std::string& text) override;
  void ProcessEvents() override;
  void ProgressPercent(const std::string& text) override;

  /// Removes the progress line from the terminal.
  void ClearProgress();

 private:
  std::string lastLog_;
  std::size_t logShown_ = 0;
  std::string lastPercent_;
  bool progressShown_ = false;
};

}  // namespace pelmo::cli
