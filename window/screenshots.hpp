// Pictures of the real windows for the manual and the README, written by the
// developer switch "--write-screenshots DIR" (tools/screenshots.sh).
#pragma once

#include <QString>

namespace pelmo::ui {

/// Shows the windows one after the other and writes them as PNG files into
/// `dir`; returns the program's exit code (0 when every picture was written).
int WriteScreenshots(const QString& dir);

}  // namespace pelmo::ui
