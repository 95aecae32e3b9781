// Check boxes and option buttons whose caption wraps onto further lines when
// it is wider than the box, as the design's tall, narrow boxes expect
// ("diable direct input at textfields" in 2055 x 615 twips).
#pragma once

#include <QCheckBox>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <type_traits>

namespace pelmo::ui {

template <class Button>
class WrappingButton : public Button {
  static_assert(std::is_same_v<Button, QCheckBox> || std::is_same_v<Button, QRadioButton>);

 public:
  explicit WrappingButton(const QString& text, QWidget* parent = nullptr) : Button(text, parent) {}

  /// Rectangle of the caption inside the box.
  QRect captionRect() const {
    QStyleOptionButton opt;
    this->initStyleOption(&opt);
    return this->style()->subElementRect(kContents, &opt, this);
  }

  /// Flags with which the caption is drawn in captionRect().
  static constexpr int kCaptionFlags =
      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;

 protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter p(this);
    QStyleOptionButton opt;
    this->initStyleOption(&opt);
    const QString caption = opt.text;
    const QRect textRect = this->style()->subElementRect(kContents, &opt, this);
    // The indicator alone (and the focus frame around it) ...
    opt.text.clear();
    p.drawControl(kControl, opt);
    // ... then the caption, wrapped at word boundaries.
    this->style()->drawItemText(&p, textRect, kCaptionFlags, opt.palette, this->isEnabled(),
                                caption, QPalette::WindowText);
  }

  // The whole box answers clicks, caption included.
  bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }

  // A click toggles between unchecked and checked; the grey state is set by
  // the program only (a properties file may hold it).
  void nextCheckState() override {
    if constexpr (std::is_same_v<Button, QCheckBox>) {
      this->setCheckState(this->checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
    } else {
      Button::nextCheckState();
    }
  }

 private:
  static constexpr QStyle::SubElement kContents = std::is_same_v<Button, QCheckBox>
                                                      ? QStyle::SE_CheckBoxContents
                                                      : QStyle::SE_RadioButtonContents;
  static constexpr QStyle::ControlElement kControl =
      std::is_same_v<Button, QCheckBox> ? QStyle::CE_CheckBox : QStyle::CE_RadioButton;
};

using CheckBox = WrappingButton<QCheckBox>;
using OptionButton = WrappingButton<QRadioButton>;

}  // namespace pelmo::ui
