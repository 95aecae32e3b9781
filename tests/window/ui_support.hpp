// Support for the window tests: dialogs that play a script, and the main window built with them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "tests/engine/test_support.hpp"
#include "window/form1.hpp"
#include "window/look.hpp"
#include "window/options_dialog.hpp"

namespace pelmo::uitest {

using ui::Form1;

/// The next scripted answer; none left: a failure and T().
template <class T>
T Next(std::deque<T>& answers, const std::string& what) {
  if (answers.empty()) return ADD_FAILURE() << "unscripted " << what, T();
  const T next = answers.front();
  answers.pop_front();
  return next;
}

/// Records the name each show proposes; answers from `answers` (nullopt: the user cancelled).
struct ScriptedFileDialog : ui::CommonDialog {
  struct Shown { QString proposedName; };
  std::deque<std::optional<QString>> answers;
  std::vector<Shown> shown;
  std::optional<Choice> run(Mode) override {
    shown.push_back({fileName()});
    const std::optional<QString> answer = Next(answers, "file dialog");
    return answer ? std::optional<Choice>(Choice{*answer, filterIndex()}) : std::nullopt;
  }
};

/// Records every box; answers questions from `answers` (none left: a failure and No).
struct ScriptedMessages : ui::MessageBoxes {
  struct Shown { bool question; QString text, title; MsgIcon icon; };
  std::deque<bool> answers;
  std::vector<Shown> shown;
  using MessageBoxes::message;
  void message(const QString& text, const QString& title, MsgIcon icon, const QString&) override { shown.push_back({false, text, title, icon}); }
  bool yesNo(const QString& text, const QString& title, MsgIcon icon) override {
    shown.push_back({true, text, title, icon});
    return Next(answers, "question: " + text.toStdString());
  }
  std::string first() const { return shown.empty() ? std::string() : shown.front().text.toStdString(); }
};

/// A main window with scripted dialogs, a temporary folder and no user settings of earlier tests.
class WindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    form.reset();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  std::string Path(const std::string& name) const { return tmp.filePath(QString::fromStdString(name)).toStdString(); }
  QString QPath(const std::string& name) const { return tmp.filePath(QString::fromStdString(name)); }
  ui::OptionsDialog& Dlg() { return form->optionsDialog(); }

  bool cleared = (ui::UserSettings().clear(), true);
  QTemporaryDir tmp;
  ScriptedFileDialog* files = new ScriptedFileDialog;
  ScriptedMessages* messages = new ScriptedMessages;
  std::unique_ptr<Form1> form = std::make_unique<Form1>(std::unique_ptr<ui::CommonDialog>(files),
                                                        std::unique_ptr<ui::MessageBoxes>(messages));
};

using test::ReadBytes;
using test::WriteBytes;
inline std::vector<std::string> ReadLines(const std::string& path) { return test::SplitCrLf(ReadBytes(path)); }

}  // namespace pelmo::uitest
