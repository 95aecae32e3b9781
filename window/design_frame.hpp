// A frame with its caption on the top border line, as the design's frames
// are drawn: the controls inside are placed relative to the frame's outer
// top-left corner and start right below the caption.
#pragma once

#include <QGroupBox>
#include <QPainter>
#include <QStyle>

namespace pelmo::ui {

class DesignFrame : public QGroupBox {
 public:
  explicit DesignFrame(const QString& caption, QWidget* parent = nullptr)
      : QGroupBox(caption, parent) {}

  /// Rectangle of the caption.
  QRect captionRect() const {
    const QFontMetrics fm(font());
    return QRect(kCaptionLeft, 0, fm.horizontalAdvance(title()) + 2 * kCaptionPadding, fm.height());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QFontMetrics fm(font());
    // Etched border, its top line through the middle of the caption.
    const QRect border = rect().adjusted(0, fm.height() / 2, -1, -1);
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(border.adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(border.adjusted(1, 1, 0, 0));
    if (title().isEmpty()) return;
    const QRect caption = captionRect();
    p.fillRect(caption, palette().brush(backgroundRole()));
    style()->drawItemText(&p, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
  }

 private:
  static constexpr int kCaptionLeft = 6;     // px
  static constexpr int kCaptionPadding = 2;  // px
};

}  // namespace pelmo::ui
