// forAbbruch: the progress window of a shapefile transformation, with its two
// bars, the percentage of records done and the Cancel button.
#pragma once

#include <QDialog>
#include <array>

#include "core/frontend.hpp"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace pelmo::ui {

class ProgressWindow : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressWindow(QWidget* parent = nullptr);

  QProgressBar* ProgressBar1;  ///< upper bar: vertices of the current record
  QProgressBar* ProgressBar;   ///< lower bar: records
  QLineEdit* txtfortschritt;   ///< percentage of records done
  QLabel* Label1;              ///< "%"
  QPushButton* cmdAbbruch;     ///< "Cancel"

  // The engine sets values at every point; they are kept here and reach the
  // widgets (and the screen) at the next event pass, see flush().
  void setPercent(const QString& text);
  void setMinimum(ProgressBarId bar, float value);
  void setMaximum(ProgressBarId bar, float value);
  void setValue(ProgressBarId bar, float value);
  /// Puts the values set since the last flush into the widgets.
  void flush();

 signals:
  /// The user asked to stop the run (Cancel, or the window's close box).
  void cancelRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  struct BarState {
    int minimum = 0, maximum = 0, value = 0;
    bool dirty = false;
  };
  BarState& state(ProgressBarId bar);
  QProgressBar* widget(ProgressBarId bar);

  std::array<BarState, 2> bars_{};
  QString percent_;
  bool percentDirty_ = false;
};

}  // namespace pelmo::ui
