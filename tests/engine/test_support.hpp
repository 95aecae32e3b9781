// Helpers shared by the engine tests: a front end that records what the
// engine shows and answers questions from a queue, a temporary folder,
// byte-exact file reading and writing, and walks over failing file
// operations.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/fileio.hpp"
#include "core/frontend.hpp"
#include "core/settings.hpp"

namespace pelmo::test {

/// One message box or question as the engine asked for it.
struct ShownBox {
  std::string text;
  std::string title;
  MsgIcon icon = MsgIcon::kNone;
};

/// Front end that records messages, questions and log changes. Questions
/// are answered from `answers` (front first); an empty queue answers No.
class RecordingFrontEnd : public FrontEnd {
 public:
  std::vector<ShownBox> messages;
  std::vector<ShownBox> questions;
  std::deque<bool> answers;
  std::string log;
  long eventPasses = 0;
  /// Called at every event pass with the number of passes so far (1 for
  /// the first point); lets a test act "during" a run, as the options
  /// dialog can.
  std::function<void(long)> onEvents;

  void ShowMessage(const std::string& text, const std::string& title, MsgIcon icon) override {
    messages.push_back({text, title, icon});
  }
  bool AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) override {
    questions.push_back({text, title, icon});
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  void LogChanged(const std::string& text) override { log = text; }
  void ProcessEvents() override {
    ++eventPasses;
    if (onEvents) onEvents(eventPasses);
  }

  /// Text of the only message shown; fails the test when there is not
  /// exactly one.
  std::string OnlyMessage() const {
    EXPECT_EQ(messages.size(), 1u);
    return messages.empty() ? std::string() : messages.front().text;
  }
};

/// A fresh folder under the system's temporary folder, removed with
/// everything in it when the object goes.
class TempFolder {
 public:
  TempFolder() {
    namespace fs = std::filesystem;
    static unsigned counter = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "pelmo_test_";
    if (info != nullptr) name += std::string(info->test_suite_name()) + "_" + info->name() + "_";
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    name += std::to_string(static_cast<long>(::getpid())) + "_" +
            std::to_string(++counter);
    path_ = fs::temp_directory_path() / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// Path of `name` inside the folder (the file need not exist).
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

/// Writes `bytes` unchanged to `path`.
inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

/// The bytes of `path`; empty when the file cannot be read.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Lines of `text` split at CR LF (a last line without CR LF is kept).
inline std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

/// Sets `s` up for an ASCII job in translation mode from `source` to
/// `target` with the shifts given as texts.
inline void UseAsciiTranslation(Session& s, const std::string& source, const std::string& target,
                                const char* dx = "10", const char* dy = "20",
                                const char* dh = "1") {
  TransformSettings& t = s.settings;
  t.optASCII = true;
  t.optSHP = false;
  t.optSevPar = false;
  t.optTranslation = true;
  t.txtDX = dx;
  t.txtDY = dy;
  t.txtDH = dh;
  t.txtQuelldatei = source;
  t.txtZielDatei = target;
  s.Touch();
}

/// Number of file descriptors this process holds.
inline std::size_t OpenFileCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

/// Quotes a word for the shell.
inline std::string Q(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

#ifdef PELMO_CLI_PATH
struct CliRun {
  int status = -1;
  std::string out, err;
};

/// Runs pelmo-cli in `dir` with `args` (already quoted where needed) and
/// the locale `locale`; standard input is empty.
inline CliRun Cli(const TempFolder& dir, const std::string& args,
                  const std::string& locale = "C") {
  const std::string outFile = dir.File(".stdout"), errFile = dir.File(".stderr");
  const std::string cmd = "cd " + Q(dir.path().string()) + " && LC_ALL=" + locale + " " +
                          Q(PELMO_CLI_PATH) + " " + args + " >" + Q(outFile) + " 2>" +
                          Q(errFile) + " </dev/null";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadBytes(outFile), ReadBytes(errFile)};
}
#endif

/// Lets the n-th file operation fail for n = 1, 2, ... until a run needs
/// fewer than n operations. `run()` does the work under test (file helpers
/// of the tests bypass the hook); `check(result, complete)` judges each
/// run, `complete` being true for the run that no refusal reached. Returns
/// the number of operations of that run, 0 when none got through.
template <class Run, class Check>
long ForEachFailingOperation(Run run, Check check, long maxSteps = 200) {
  struct Guard {
    ~Guard() { iohook::Disarm(); }
  } guard;  // however the test ends
  for (long n = 1; n < maxSteps; ++n) {
    SCOPED_TRACE("operation " + std::to_string(n));
    iohook::Arm(n);
    const auto result = run();
    const bool complete = iohook::Count() < n;
    iohook::Disarm();
    check(result, complete);
    if (::testing::Test::HasFatalFailure()) return 0;
    if (complete) return n - 1;
  }
  ADD_FAILURE() << "the run never got through";
  return 0;
}

}  // namespace pelmo::test
