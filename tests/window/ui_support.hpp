// Support for the window tests: a file dialog and message boxes that play a
// script instead of waiting for a person, and the main window built with them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "window/form1.hpp"
#include "window/look.hpp"
#include "window/options_dialog.hpp"

namespace pelmo::uitest {

using ui::Form1;

/// Records the name each show proposes; answers from `answers` (nullopt: the user cancelled).
struct ScriptedFileDialog : ui::CommonDialog {
  struct Shown {
    QString proposedName;
  };
  std::deque<std::optional<QString>> answers;
  std::vector<Shown> shown;
  std::optional<Choice> run(Mode) override {
    shown.push_back({fileName()});
    if (answers.empty()) ADD_FAILURE() << "file dialog shown without a scripted answer";
    const std::optional<QString> answer = answers.empty() ? std::nullopt : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer ? std::optional<Choice>(Choice{*answer, filterIndex()}) : std::nullopt;
  }
};

/// Records every box; answers questions from `answers` (none left: a failure and No).
struct ScriptedMessages : ui::MessageBoxes {
  struct Shown {
    bool question;
    QString text, title;
    MsgIcon icon;
  };
  std::deque<bool> answers;
  std::vector<Shown> shown;
  using MessageBoxes::message;
  void message(const QString& text, const QString& title, MsgIcon icon, const QString&) override { shown.push_back({false, text, title, icon}); }
  bool yesNo(const QString& text, const QString& title, MsgIcon icon) override {
    shown.push_back({true, text, title, icon});
    if (answers.empty()) ADD_FAILURE() << "unscripted question: " << text.toStdString();
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
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

inline void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

/// Lines of a text file without their CR LF.
inline std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find('\r')));
  return lines;
}

}  // namespace pelmo::uitest
