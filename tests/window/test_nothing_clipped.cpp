// Every caption and text of the design fits the box the design gives it, in
// every window, with the fonts the program chooses. Each text-bearing
// control is rendered at its design size and again with room to spare; a
// caption cut at the box's edge has less ink in the first picture.

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <cmath>

#include "ui_support.hpp"
#include "window/design_frame.hpp"

namespace pelmo::uitest {
namespace {

std::string Name(const QWidget* w) {
  return (w->objectName().isEmpty() ? "'" + w->property("text").toString() + "'" : w->objectName()).toStdString();
}

/// Dark pixels (text, not borders or backgrounds) of the widget's picture;
/// `border` pixels at the edges are left out (a button's outline).
long Ink(QWidget* w, int border) {
  const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  long n = 0;
  for (int y = border; y < img.height() - border; ++y) {
    for (int x = border; x < img.width() - border; ++x) n += qGray(img.pixel(x, y)) < 96;
  }
  return n;
}

/// Ink at the design size equals ink with `extra` pixels more room.
void ExpectUnclipped(QWidget* w, QSize extra) {
  const QRect design = w->geometry();
  // A push button's caption keeps clear of its outline.
  const int border = qobject_cast<QPushButton*>(w) ? 3 : 0;
  const long atDesign = Ink(w, border);
  w->resize(design.size() + extra);
  const long roomy = Ink(w, border);
  w->setGeometry(design);
  EXPECT_GT(roomy, 0) << Name(w);
  // Antialiasing may differ by a pixel or two where the text lands on other
  // fractions of a pixel; a cut-off line or letter loses far more.
  EXPECT_NEAR(atDesign, roomy, std::max(2L, roomy / 50)) << Name(w) << " is clipped";
}

void ExpectNothingClipped(QWidget* root) {
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (qobject_cast<QTabBar*>(w) || w->objectName() == QLatin1String("qt_spinbox_lineedit")) continue;
    if (qobject_cast<QComboBox*>(w->parentWidget())) continue;  // the combo box's own edit
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (b->text().isEmpty()) continue;
      // Wrapped captions keep their width, so that they wrap alike.
      const bool wraps = qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b);
      ExpectUnclipped(b, wraps ? QSize(0, 40) : QSize(40, 40));
    } else if (qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w)) {
      if (!w->property("text").toString().isEmpty()) ExpectUnclipped(w, QSize(40, 40));
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
      // Every entry of the list fits the box.
      const QString current = c->currentText();
      for (int i = 0; i < c->count(); ++i) {
        c->setCurrentText(c->itemText(i));
        ExpectUnclipped(c, QSize(0, 40));
        // Wider, the arrow moves but the text stays: compare the text part.
        const QFontMetrics fm(c->font());
        EXPECT_LE(fm.horizontalAdvance(c->itemText(i)) + 24, c->width()) << Name(c);
      }
      c->setCurrentText(current);
    } else if (auto* f = dynamic_cast<ui::DesignFrame*>(w)) {
      EXPECT_LE(f->captionRect().right(), f->width() - 6) << Name(f);
    }
  }
}

TEST_F(WindowTest, MainWindowCaptionsFit) {
  // Texts the window shows in practice.
  form->txtEll1e->setText("0.0816968312225275"), form->txtEll1a->setText("6377397.155");
  form->txtP5->setText("-0.0000123456789"), form->txtsevenParSys->setText("DHDN to ETRS89 (EPSG 1776)");
  ExpectNothingClipped(form->centralWidget());
}

TEST_F(WindowTest, OptionsDialogCaptionsFit) {
  ui::OptionsDialog& dlg = form->optionsDialog();
  for (int tab = 1; tab <= ui::kOptionTabs; ++tab) {
    dlg.selectTab(tab);
    ExpectNothingClipped(dlg.picOptions[static_cast<std::size_t>(tab - 1)]);
  }
  for (QPushButton* b : {dlg.cmdOK, dlg.cmdCancel, dlg.cmdApply}) ExpectUnclipped(b, QSize(40, 40));
  // Every tab of the strip is visible without scrolling, its caption whole.
  const QTabBar* tabs = dlg.tbsOptions;
  for (int i = 0; i < tabs->count(); ++i) {
    EXPECT_TRUE(tabs->tabRect(i).right() < tabs->width() &&
                tabs->tabRect(i).width() >= QFontMetrics(tabs->font()).horizontalAdvance(tabs->tabText(i))) << i;
  }
}

TEST_F(WindowTest, ProgressAndInfoWindowsFit) {
  ui::ProgressWindow progress(form.get());
  ExpectNothingClipped(&progress);

  ui::InfoWindow info(form.get());
  info.show();
  // The 20 lines of 53 characters fit the part of the text box inside the window.
  const QPlainTextEdit* box = info.txtInfo;
  const QRect visible = box->viewport()->geometry().translated(box->pos()).intersected(info.rect());
  const int margin = static_cast<int>(std::ceil(box->document()->documentMargin()));
  EXPECT_LE(QFontMetrics(box->font()).horizontalAdvance(QString(53, QLatin1Char('W'))) + 2 * margin, visible.width());
  EXPECT_LE(20 * QFontMetrics(box->font()).lineSpacing() + 2 * margin, visible.height());
}

}  // namespace
}  // namespace pelmo::uitest
