// What the engine needs from the program around it: messages, questions,
// the log box, the per-point event pass and the progress window. The window,
// the batch tool and the tests each implement it.
#pragma once

#include <cstdint>
#include <string>

namespace pelmo {

/// Icon of a message box.
enum class MsgIcon { kNone, kExclamation };

/// The two bars of the progress window.
enum class ProgressBarId {
  kRecords,   ///< `ProgressBar`, the lower bar: records
  kVertices,  ///< `ProgressBar1`, the upper bar: vertices of the current record
};

/// Program name, the title of the job messages.
inline constexpr const char* kProgramName = "Pelmo";
/// Title of the overwrite questions.
inline constexpr const char* kProblemTitle = "Problem";

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  /// Modal message with an OK button. An empty title means the
  /// application's own title.
  virtual void ShowMessage(const std::string& text, const std::string& title, MsgIcon icon) = 0;

  /// Modal Yes/No question; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) = 0;

  /// The ASCII driver is about to replace the existing file `path` with its
  /// target. True lets it (the window: its save dialog has asked); false
  /// stops the job with the file untouched, the front end having said why.
  virtual bool ConfirmReplaceAsciiTarget(const std::string& path) {
    (void)path;
    return true;
  }

  /// The log box changed; `text` is its whole new content.
  virtual void LogChanged(const std::string& text) { (void)text; }

  /// Let the user interface process its pending events once (called after
  /// every point). Implementations keep this cheap.
  virtual void ProcessEvents() {}

  /// The event pass of a job whose points are transformed on worker
  /// threads, on the calling thread: after `points` points were finished,
  /// or with 0 while the job waits for them (then at least every few
  /// milliseconds). The default makes one ProcessEvents() per point, and
  /// one when there is none.
  virtual void ProcessEventsAfter(long points) {
    for (long i = 0; i < points; ++i) ProcessEvents();
    if (points == 0) ProcessEvents();
  }

  /// Progress of an ASCII run: bytes of the source read so far, of `total`
  /// (0 when the size is not known, as for standard input). Called every
  /// few hundred points.
  virtual void ProgressBytes(std::uint64_t done, std::uint64_t total) { (void)done, (void)total; }

  /// Progress window of a shapefile run.
  virtual void ProgressOpen() {}
  virtual void ProgressClose() {}
  /// Percentage of records done, as text.
  virtual void ProgressPercent(const std::string& text) { (void)text; }
  virtual void ProgressMin(ProgressBarId bar, float value) { (void)bar, (void)value; }
  virtual void ProgressMax(ProgressBarId bar, float value) { (void)bar, (void)value; }
  virtual void ProgressValue(ProgressBarId bar, float value) { (void)bar, (void)value; }
};

/// A front end that shows nothing and answers every question with No: the
/// sessions of worker threads and of the preview's in-memory chain.
class SilentFrontEnd : public FrontEnd {
 public:
  void ShowMessage(const std::string&, const std::string&, MsgIcon) override {}
  bool AskYesNo(const std::string&, const std::string&, MsgIcon) override { return false; }
};

}  // namespace pelmo
