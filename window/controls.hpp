// The controls of Pelmo's windows as the design places them: each factory
// creates the control on `parent`, gives it its object name and puts it at a
// rectangle given in twips (left, top, width, height) relative to `parent`.
// Object names are ASCII (an empty one leaves the control unnamed), captions
// and texts UTF-8.
#pragma once

#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace pelmo::ui {

/// Text field showing `text`.
QLineEdit* Edit(QWidget* parent, const char* name, const char* text, int l, int t, int w, int h);

/// Label, its caption vertically centred at the left.
QLabel* Label(QWidget* parent, const char* name, const char* text, int l, int t, int w, int h);

/// Push button that never becomes the window's default button.
QPushButton* Button(QWidget* parent, const char* name, const char* text, int l, int t, int w,
                    int h);

/// Frame with its caption on the top border line (a DesignFrame).
QGroupBox* Frame(QWidget* parent, const char* name, const char* caption, int l, int t, int w,
                 int h);

/// Option button with a wrapping caption, added to `group`.
QRadioButton* Option(QButtonGroup* group, QWidget* parent, const char* name, const char* caption,
                     int l, int t, int w, int h);

/// Check box with a wrapping caption.
QCheckBox* Check(QWidget* parent, const char* name, const char* caption, int l, int t, int w,
                 int h);

/// Editable combo box offering `items` (typed texts are not added to them),
/// showing `text`.
QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items, const char* text,
                 int l, int t, int w, int h);

}  // namespace pelmo::ui
