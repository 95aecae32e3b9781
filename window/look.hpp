// The look of Pelmo's windows: the design unit (twips), the fonts and the
// widget style shared by every window.
//
// Every window is laid out in twips (1/1440 inch), converted to pixels at the
// screen's logical resolution, so that the windows keep their proportions at
// any resolution. The fonts are chosen so that every caption fits the box the
// design gives it.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <Qt>

class QApplication;
class QWidget;

namespace pelmo::ui {

/// Twips per inch.
inline constexpr double kTwipsPerInch = 1440.0;

/// Horizontal / vertical twips in pixels at the primary screen's logical
/// resolution (rounded to the nearest pixel).
int TwipsX(int twips);
int TwipsY(int twips);
/// A rectangle given in twips (left, top, width, height).
QRect TwipsRect(int left, int top, int width, int height);
QSize TwipsSize(int width, int height);
/// Places `w` at a rectangle given in twips, relative to its parent.
void PlaceTwips(QWidget* w, int left, int top, int width, int height);
/// Moves `w` to a position given in twips, keeping its size.
void MoveTwips(QWidget* w, int left, int top);

/// Window flags of the fixed-size dialogs: a title bar with a close button
/// and nothing else.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
    Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;

/// Gives a fixed-size window its object name, its title, the design font and
/// its size in twips.
void SetUpFixedWindow(QWidget* window, const char* name, const char* title, int width, int height);

/// Gives a read-only display box the background colour of menus.
void UseMenuBackground(QWidget* box);

/// Proportional font of every window: a condensed sans serif at 8 points.
QFont DesignFont();
/// Fixed-pitch font of the information window.
QFont FixedPitchFont();

/// Registers the resources compiled into the program (manual, icon) and
/// sets the program's icon; repeated calls do nothing more.
void InitResources();

/// Installs the widget style of the program (Fusion with indicators sized
/// for the design's 195-twip option buttons). Call once after creating the
/// application object.
void InstallLook(QApplication& app);

/// Loads the toolkit's own German texts (the Yes, No, OK and Cancel of
/// message boxes and file dialogs; Debian's qt6-translations-l10n) when the
/// user's language is German or none is set, as the program's messages are
/// German. True when they were installed.
bool InstallToolkitTexts(QApplication& app);

/// Centres a top-level window on its screen's available area.
void CentreOnScreen(QWidget* window);

}  // namespace pelmo::ui
