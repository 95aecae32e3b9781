#include "window/controls.hpp"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "window/design_frame.hpp"
#include "window/look.hpp"
#include "window/wrap_button.hpp"

namespace pelmo::ui {

namespace {

/// Names `control` (unless `name` is empty) and places it at a rectangle
/// given in twips.
template <class Control>
Control* Placed(Control* control, const char* name, int l, int t, int w, int h) {
  if (name != nullptr && *name != '\0') control->setObjectName(QString::fromLatin1(name));
  PlaceTwips(control, l, t, w, h);
  return control;
}

}  // namespace

QLineEdit* Edit(QWidget* parent, const char* name, const char* text, int l, int t, int w, int h) {
  return Placed(new QLineEdit(QString::fromUtf8(text), parent), name, l, t, w, h);
}

QLabel* Label(QWidget* parent, const char* name, const char* text, int l, int t, int w, int h) {
  auto* lbl = new QLabel(QString::fromUtf8(text), parent);
  lbl->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return Placed(lbl, name, l, t, w, h);
}

QPushButton* Button(QWidget* parent, const char* name, const char* text, int l, int t, int w,
                    int h) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setAutoDefault(false);
  return Placed(b, name, l, t, w, h);
}

QGroupBox* Frame(QWidget* parent, const char* name, const char* caption, int l, int t, int w,
                 int h) {
  return Placed(new DesignFrame(QString::fromUtf8(caption), parent), name, l, t, w, h);
}

QRadioButton* Option(QButtonGroup* group, QWidget* parent, const char* name, const char* caption,
                     int l, int t, int w, int h) {
  auto* b = Placed(new OptionButton(QString::fromUtf8(caption), parent), name, l, t, w, h);
  group->addButton(b);
  return b;
}

QCheckBox* Check(QWidget* parent, const char* name, const char* caption, int l, int t, int w,
                 int h) {
  return Placed(new CheckBox(QString::fromUtf8(caption), parent), name, l, t, w, h);
}

QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items, const char* text,
                 int l, int t, int w, int h) {
  auto* c = new QComboBox(parent);
  c->setEditable(true);
  c->setInsertPolicy(QComboBox::NoInsert);
  c->addItems(items);
  c->setCurrentText(QString::fromUtf8(text));
  return Placed(c, name, l, t, w, h);
}

}  // namespace pelmo::ui
