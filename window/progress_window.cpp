#include "window/progress_window.hpp"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <cmath>
#include <limits>

#include "window/controls.hpp"
#include "window/look.hpp"

namespace pelmo::ui {

namespace {

/// Ranges of the two bars at design.
constexpr int kUpperBarMaximum = 100;
constexpr int kLowerBarMaximum = 1000;

int ToBarValue(float value) {
  if (!std::isfinite(value)) return 0;
  const double clamped = std::clamp(static_cast<double>(value),
                                    static_cast<double>(std::numeric_limits<int>::min()),
                                    static_cast<double>(std::numeric_limits<int>::max()));
  return static_cast<int>(std::lround(clamped));
}

/// An empty bar without text over the window's width, `top` twips down.
QProgressBar* Bar(QWidget* parent, const char* name, int maximum, int top) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(QString::fromLatin1(name));
  bar->setRange(0, maximum);
  bar->setValue(0);
  bar->setTextVisible(false);
  PlaceTwips(bar, 0, top, 5775, 255);
  return bar;
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* parent) : QDialog(parent, kFixedDialogFlags) {
  SetUpFixedWindow(this, "forAbbruch", "Transformation", 5835, 1305);

  ProgressBar1 = Bar(this, "ProgressBar1", kUpperBarMaximum, 0);
  ProgressBar = Bar(this, "ProgressBar", kLowerBarMaximum, 360);

  txtfortschritt = Edit(this, "txtfortschritt", "100", 240, 885, 375, 195);
  txtfortschritt->setReadOnly(true);
  txtfortschritt->setFrame(false);
  txtfortschritt->setFocusPolicy(Qt::NoFocus);
  txtfortschritt->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  txtfortschritt->setTextMargins(0, 0, 0, 0);
  UseMenuBackground(txtfortschritt);

  Label1 = Label(this, "Label1", "%", 720, 855, 255, 255);

  cmdAbbruch = Button(this, "cmdAbbruch", "Cancel", 2010, 720, 1815, 495);
  // The button only records the request; the run notices it and closes
  // this window itself.
  connect(cmdAbbruch, &QPushButton::clicked, this, &ProgressWindow::cancelRequested);

  for (std::size_t i = 0; i < bars_.size(); ++i) {
    QProgressBar* w = i == 0 ? ProgressBar : ProgressBar1;
    bars_[i] = {w->minimum(), w->maximum(), w->value(), false};
  }
}

ProgressWindow::BarState& ProgressWindow::state(ProgressBarId bar) {
  return bars_[bar == ProgressBarId::kRecords ? 0 : 1];
}

QProgressBar* ProgressWindow::widget(ProgressBarId bar) {
  return bar == ProgressBarId::kRecords ? ProgressBar : ProgressBar1;
}

void ProgressWindow::setPercent(const QString& text) {
  percent_ = text;
  percentDirty_ = true;
}

void ProgressWindow::setMinimum(ProgressBarId bar, float value) {
  BarState& s = state(bar);
  s.minimum = ToBarValue(value);
  s.maximum = std::max(s.maximum, s.minimum);
  s.dirty = true;
}

void ProgressWindow::setMaximum(ProgressBarId bar, float value) {
  BarState& s = state(bar);
  s.maximum = ToBarValue(value);
  s.minimum = std::min(s.minimum, s.maximum);
  s.dirty = true;
}

void ProgressWindow::setValue(ProgressBarId bar, float value) {
  BarState& s = state(bar);
  s.value = ToBarValue(value);
  s.dirty = true;
}

void ProgressWindow::flush() {
  for (ProgressBarId id : {ProgressBarId::kRecords, ProgressBarId::kVertices}) {
    BarState& s = state(id);
    if (!s.dirty) continue;
    QProgressBar* w = widget(id);
    w->setRange(s.minimum, s.maximum);
    w->setValue(std::clamp(s.value, s.minimum, s.maximum));
    s.dirty = false;
  }
  if (percentDirty_) {
    txtfortschritt->setText(percent_);
    percentDirty_ = false;
  }
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  // The window belongs to the run: closing it asks the run to stop, and the
  // run closes it.
  emit cancelRequested();
  event->ignore();
}

void ProgressWindow::reject() { emit cancelRequested(); }

}  // namespace pelmo::ui
