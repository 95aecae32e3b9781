// forInfo: the information window with a fixed text about the program.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace pelmo::ui {

class InfoWindow : public QDialog {
  Q_OBJECT

 public:
  explicit InfoWindow(QWidget* parent = nullptr);

  /// The fixed text: 20 lines of up to 53 characters, padded with blanks,
  /// separated by CR LF.
  static QString infoText();
  static constexpr int kLines = 20;
  static constexpr int kColumns = 53;

  QPlainTextEdit* txtInfo;
};

}  // namespace pelmo::ui
