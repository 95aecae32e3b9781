// Support for the window tests: a file dialog and message boxes that play a
// script instead of waiting for a person, the main window built with them in
// a temporary folder, and file helpers.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
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
#include "window/look.hpp"
#include "window/options_dialog.hpp"

namespace pelmo::uitest {

using ui::CommonDialog;
using ui::Form1;
using ui::TwipsRect;
using ui::TwipsSize;

inline QPoint TwipsPos(int left, int top) { return QPoint(ui::TwipsX(left), ui::TwipsY(top)); }

/// The file dialog: every show is recorded with the properties it was shown
/// with, and answered from `answers` (nullopt: the user cancelled).
class ScriptedFileDialog : public CommonDialog {
 public:
  struct Shown {
    Mode mode;
    QString filter;
    int filterIndex;
    QString proposedName;
    QString initDir;
  };
  std::deque<std::optional<QString>> answers;
  std::vector<Shown> shown;

 protected:
  std::optional<Choice> run(Mode mode) override {
    shown.push_back({mode, filter(), filterIndex(), fileName(), initDir()});
    if (answers.empty()) {
      ADD_FAILURE() << "file dialog shown without a scripted answer";
      return std::nullopt;
    }
    const std::optional<QString> answer = answers.front();
    answers.pop_front();
    return answer ? std::optional<Choice>(Choice{*answer, filterIndex()}) : std::nullopt;
  }
};

/// The message boxes: every box is recorded; questions are answered from
/// `answers` (an unscripted question fails the test and answers No).
class ScriptedMessages : public ui::MessageBoxes {
 public:
  struct Shown {
    bool question;
    QString text;
    QString title;
    MsgIcon icon;
    QString detail;
  };
  std::deque<bool> answers;
  std::vector<Shown> shown;

  using MessageBoxes::message;
  void message(const QString& text, const QString& title, MsgIcon icon,
               const QString& detail) override {
    shown.push_back({false, text, title, icon, detail});
  }
  bool yesNo(const QString& text, const QString& title, MsgIcon icon) override {
    shown.push_back({true, text, title, icon, QString()});
    if (answers.empty()) {
      ADD_FAILURE() << "unscripted question: " << text.toStdString();
      return false;
    }
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  /// The first box's text, for failure output.
  std::string first() const { return shown.empty() ? std::string() : shown.front().text.toStdString(); }
};

/// A main window with scripted dialogs and a temporary folder.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    ui::StoreAsciiLayout(AsciiLayout{});
    auto f = std::make_unique<ScriptedFileDialog>();
    auto m = std::make_unique<ScriptedMessages>();
    files = f.get();
    messages = m.get();
    form = std::make_unique<Form1>(std::move(f), std::move(m));
  }
  void TearDown() override {
    form.reset();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  std::string Path(const std::string& name) const {
    return QString(tmp.path() + QLatin1Char('/') + QString::fromStdString(name)).toStdString();
  }
  QString QPath(const std::string& name) const { return QString::fromStdString(Path(name)); }
  ui::OptionsDialog& Dlg() { return form->optionsDialog(); }
  bool Shown(const QWidget* w) const { return w->isVisibleTo(form.get()); }

  QTemporaryDir tmp;
  ScriptedFileDialog* files = nullptr;
  ScriptedMessages* messages = nullptr;
  std::unique_ptr<Form1> form;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Lines of a text file without their CR LF.
inline std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

inline void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  WriteBytes(path, text);
}

inline bool Exists(const std::string& path) { return std::ifstream(path).good(); }

}  // namespace pelmo::uitest
