// Support for the window tests: a file dialog and message boxes that play a
// script instead of waiting for a person, and the main window built with
// them in a temporary folder.
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

#include "window/dialogs.hpp"
#include "window/form1.hpp"
#include "window/options_dialog.hpp"

namespace pelmo::uitest {

using ui::Form1;

/// Answers every show from `answers` (nullopt: the user cancelled).
class ScriptedFileDialog : public ui::CommonDialog {
 public:
  std::deque<std::optional<QString>> answers;

 protected:
  std::optional<Choice> run(Mode) override {
    if (answers.empty()) ADD_FAILURE() << "file dialog shown without a scripted answer";
    const std::optional<QString> answer = answers.empty() ? std::nullopt : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer ? std::optional<Choice>(Choice{*answer, filterIndex()}) : std::nullopt;
  }
};

/// Records every box; answers questions from `answers` (an unscripted
/// question fails the test and answers No).
class ScriptedMessages : public ui::MessageBoxes {
 public:
  struct Shown {
    bool question;
    QString text, title;
    MsgIcon icon;
  };
  std::deque<bool> answers;
  std::vector<Shown> shown;

  using MessageBoxes::message;
  void message(const QString& text, const QString& title, MsgIcon icon, const QString&) override {
    shown.push_back({false, text, title, icon});
  }
  bool yesNo(const QString& text, const QString& title, MsgIcon icon) override {
    shown.push_back({true, text, title, icon});
    if (answers.empty()) ADD_FAILURE() << "unscripted question: " << text.toStdString();
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
  }
  std::string first() const { return shown.empty() ? std::string() : shown.front().text.toStdString(); }
};

/// A main window with scripted dialogs and a temporary folder.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto f = std::make_unique<ScriptedFileDialog>();
    auto m = std::make_unique<ScriptedMessages>();
    files = f.get(), messages = m.get();
    form = std::make_unique<Form1>(std::move(f), std::move(m));
  }
  void TearDown() override {
    form.reset();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  std::string Path(const std::string& name) const { return tmp.filePath(QString::fromStdString(name)).toStdString(); }
  QString QPath(const std::string& name) const { return tmp.filePath(QString::fromStdString(name)); }
  ui::OptionsDialog& Dlg() { return form->optionsDialog(); }

  QTemporaryDir tmp;
  ScriptedFileDialog* files = nullptr;
  ScriptedMessages* messages = nullptr;
  std::unique_ptr<Form1> form;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace pelmo::uitest
