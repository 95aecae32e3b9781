// The file dialog and the message boxes of the main window, each behind one
// object, so that the windows can be driven without a person (tests supply
// scripted implementations).
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

#include "core/frontend.hpp"

class QWidget;

namespace pelmo::ui {

/// One entry of a file-dialog filter: a description ("Shape - Dateien
/// (*.shp)") and its patterns ("*.shp").
struct FilterEntry {
  QString description;
  QString patterns;
};

/// The shared file dialog of the main window (`CommonDialog1`): a filter
/// list of description and pattern pairs separated by "|", a 1-based filter
/// index, an open and a save dialog and the chosen file name. Every property
/// keeps the value its last use left, so the name last chosen in any file
/// dialog is proposed again. A save dialog that chose an existing file asks
/// the overwrite question; No shows the dialog again.
class CommonDialog {
 public:
  enum class Mode { kOpen, kSave };

  /// What the dialog returned: the chosen name and the filter entry that was
  /// selected when it closed (1-based).
  struct Choice {
    QString fileName;
    int filterIndex = 1;
  };

  virtual ~CommonDialog() = default;

  /// "Description|pattern|Description|pattern..." (a trailing "|" is allowed).
  void setFilter(const QString& filter) { filter_ = filter; }
  const QString& filter() const { return filter_; }
  /// 1-based index of the preselected filter entry.
  void setFilterIndex(int index) { filterIndex_ = index; }
  int filterIndex() const { return filterIndex_; }
  /// The proposed name before, the chosen name after a dialog.
  void setFileName(const QString& name) { fileName_ = name; }
  const QString& fileName() const { return fileName_; }
  /// The folder the dialog starts in when the proposed name has none
  /// (empty: the toolkit's choice).
  void setInitDir(const QString& dir) { initDir_ = dir; }
  const QString& initDir() const { return initDir_; }

  /// Shows the open (save) dialog. True when the user chose a name (now in
  /// fileName()); false when the dialog was cancelled or failed, with every
  /// property unchanged.
  bool showOpen() { return show(Mode::kOpen); }
  bool showSave() { return show(Mode::kSave); }

  /// The question a save dialog asks about an existing file; true for Yes.
  /// Without one, existing files are taken without a word.
  void setOverwriteQuestion(std::function<bool(const QString&)> ask) { ask_ = std::move(ask); }

  /// Splits a filter string into its entries; an unpaired last description
  /// gets no patterns.
  static QVector<FilterEntry> parseFilter(const QString& filter);

 protected:
  /// Runs the dialog with the current properties; nothing on cancel.
  virtual std::optional<Choice> run(Mode mode) = 0;

 private:
  bool show(Mode mode);

  QString filter_;
  int filterIndex_ = 1;
  QString fileName_;
  QString initDir_;
  std::function<bool(const QString&)> ask_;
};

/// CommonDialog with the toolkit's file dialog. The toolkit's dialog itself
/// neither asks before overwriting (CommonDialog does) nor requires the file
/// to exist.
class QtCommonDialog : public CommonDialog {
 public:
  explicit QtCommonDialog(QWidget* parent) : parent_(parent) {}

  /// The toolkit's name filter of one entry ("*.*" matches every file).
  static QString qtNameFilter(const FilterEntry& entry);

 protected:
  std::optional<Choice> run(Mode mode) override;

 private:
  QWidget* parent_;
};

/// The message boxes of the program: a message with an OK button and a
/// Yes/No question, each with a title and an icon, shown modally. A message
/// may carry details (which file, which line) below its fixed text.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void message(const QString& text, const QString& title, MsgIcon icon,
                       const QString& detail) = 0;
  void message(const QString& text, const QString& title, MsgIcon icon) {
    message(text, title, icon, QString());
  }
  /// True for Yes.
  virtual bool yesNo(const QString& text, const QString& title, MsgIcon icon) = 0;
};

/// MessageBoxes with the toolkit's message box. The texts' CR LF line
/// breaks are shown as line breaks; an empty title stays empty.
class QtMessageBoxes : public MessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}
  using MessageBoxes::message;
  void message(const QString& text, const QString& title, MsgIcon icon,
               const QString& detail) override;
  bool yesNo(const QString& text, const QString& title, MsgIcon icon) override;

 private:
  QWidget* parent_;
};

}  // namespace pelmo::ui
