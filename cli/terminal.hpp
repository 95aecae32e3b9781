// The batch tool as a front end of the engine: messages, questions and log
// lines on standard error, Ctrl+C, and the progress line on a terminal.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
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
  /// Name put before the messages of a job (several sources), or empty.
  std::string jobName;

  /// A job starts: points and progress from zero.
  void StartJob();

  void ShowMessage(const std::string& text, const std::string& title, MsgIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) override;
  bool ConfirmReplaceAsciiTarget(const std::string& path) override;
  void LogChanged(const std::string& text) override;
  void ProcessEvents() override;
  void ProcessEventsAfter(long points) override;
  void ProgressBytes(std::uint64_t done, std::uint64_t total) override;
  void ProgressPercent(const std::string& text) override;

  /// Removes the progress line from the terminal.
  void ClearProgress();

 private:
  /// Ctrl+C was pressed.
  void Interrupted();
  using Clock = std::chrono::steady_clock;
  /// Shows the progress line when the job has run long enough and the last
  /// one is old enough.
  void Tick();

  std::string lastLog_;
  std::size_t logShown_ = 0;
  bool progressShown_ = false;
  double fraction_ = -1;  ///< part of the job done, -1 when not known
  Clock::time_point start_, shown_;
  Clock::duration delay_{};
};

}  // namespace pelmo::cli
