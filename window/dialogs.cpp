#include "window/dialogs.hpp"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace pelmo::ui {

// ---------------------------------------------------------------- CommonDialog

QVector<FilterEntry> CommonDialog::parseFilter(const QString& filter) {
  QStringList parts = filter.split(QLatin1Char('|'));
  // "a|b|" ends in an empty piece, which is no entry.
  if (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
  QVector<FilterEntry> entries;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    entries.push_back({parts[i], i + 1 < parts.size() ? parts[i + 1] : QString()});
  }
  return entries;
}

bool CommonDialog::show(Mode mode) {
  const QString proposed = fileName_;
  const int proposedFilter = filterIndex_;
  for (;;) {
    const std::optional<Choice> choice = run(mode);
    if (!choice || choice->fileName.isEmpty()) {
      fileName_ = proposed;
      filterIndex_ = proposedFilter;
      return false;
    }
    fileName_ = choice->fileName;
    filterIndex_ = choice->filterIndex;
    // An existing file is taken only after a Yes; after a No the dialog
    // comes back with the name chosen.
    if (mode == Mode::kOpen || !ask_ || !QFileInfo(fileName_).isFile() || ask_(fileName_)) {
      return true;
    }
  }
}

// ---------------------------------------------------------------- QtCommonDialog

QString QtCommonDialog::qtNameFilter(const FilterEntry& entry) {
  // The toolkit reads the patterns from the last parentheses of a filter.
  // Patterns are separated by ";" in the list and by blanks in the toolkit;
  // "*.*" is every file, also one without a dot.
  QStringList patterns = entry.patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
  for (QString& p : patterns) {
    p = p.trimmed();
    if (p == QLatin1String("*.*")) p = QStringLiteral("*");
  }
  if (patterns.isEmpty()) patterns << QStringLiteral("*");
  QString description = entry.description.trimmed();
  // Drop a pattern list in the description: the toolkit shows its own.
  const qsizetype open = description.lastIndexOf(QLatin1Char('('));
  if (open > 0 && description.endsWith(QLatin1Char(')'))) description = description.left(open).trimmed();
  return description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

std::optional<CommonDialog::Choice> QtCommonDialog::run(Mode mode) {
  const QVector<FilterEntry> entries = parseFilter(filter());
  QStringList filters;
  for (const FilterEntry& e : entries) filters << qtNameFilter(e);

  QFileDialog dialog(parent_);
  dialog.setAcceptMode(mode == Mode::kSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const int index = filterIndex() >= 1 && filterIndex() <= filters.size() ? filterIndex() : 1;
    dialog.selectNameFilter(filters[index - 1]);
  }
  if (!initDir().isEmpty()) dialog.setDirectory(initDir());
  if (!fileName().isEmpty()) dialog.selectFile(fileName());
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  Choice choice;
  choice.fileName = files.first();
  const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
  choice.filterIndex = chosen >= 0 ? static_cast<int>(chosen) + 1 : filterIndex();
  return choice;
}

// ---------------------------------------------------------------- QtMessageBoxes

namespace {

QString Displayed(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return t;
}

QMessageBox::Icon ToQt(MsgIcon icon) {
  return icon == MsgIcon::kExclamation ? QMessageBox::Warning : QMessageBox::NoIcon;
}

}  // namespace

void QtMessageBoxes::message(const QString& text, const QString& title, MsgIcon icon,
                             const QString& detail) {
  QMessageBox box(ToQt(icon), title, Displayed(text), QMessageBox::Ok, parent_);
  if (!detail.isEmpty()) box.setInformativeText(Displayed(detail));
  box.exec();
}

bool QtMessageBoxes::yesNo(const QString& text, const QString& title, MsgIcon icon) {
  QMessageBox box(ToQt(icon), title, Displayed(text), QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace pelmo::ui
