#include "window/info_window.hpp"

#include <QPlainTextEdit>
#include <QTextOption>

#include "window/look.hpp"

namespace pelmo::ui {

namespace {

/// The lines of the text before padding; an entry starting with '^' is
/// centred.
const char* const kInfoLines[InfoWindow::kLines] = {
    "^Pelmo",
    "",
    "^version 1.04",
    "",
    "^Coordinate transformation software",
    "",
    " Transforms point files (ASCII) and ESRI shapefiles",
    " (points, polylines, polygons) between Gauss-Krueger",
    " (Germany and general), UTM, Krovak and geographic",
    " coordinates, through two chained seven-parameter",
    " (Helmert) datum transformations or a translation.",
    "",
    " Projection details and working modes: Options.",
    " Complete settings: Options, Save/Load Properties.",
    " Ellipsoids and parameter sets: the .ell and .7pr",
    " files of the data folder (Parameter buttons).",
    " Batch use without windows: pelmo-cli --help",
    "",
    " Manual: Help, or the key F1.",
    "",
};

QString Padded(const char* raw) {
  QString line = QString::fromUtf8(raw);
  if (line.startsWith(QLatin1Char('^'))) {
    line.remove(0, 1);
    line = QString((InfoWindow::kColumns - line.size()) / 2, QLatin1Char(' ')) + line;
  }
  return line.leftJustified(InfoWindow::kColumns, QLatin1Char(' '), true);
}

}  // namespace

QString InfoWindow::infoText() {
  QStringList lines;
  for (const char* raw : kInfoLines) lines << Padded(raw);
  return lines.join(QStringLiteral("\r\n"));
}

InfoWindow::InfoWindow(QWidget* parent) : QDialog(parent, kFixedDialogFlags) {
  SetUpFixedWindow(this, "forInfo", "INFO", 6390, 4590);

  txtInfo = new QPlainTextEdit(this);
  txtInfo->setObjectName(QStringLiteral("txtInfo"));
  txtInfo->setReadOnly(true);
  txtInfo->setFont(FixedPitchFont());
  txtInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  txtInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  UseMenuBackground(txtInfo);
  // The box shows the CR LF text with plain line breaks.
  txtInfo->setPlainText(infoText().replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  PlaceTwips(txtInfo, 0, 0, 6495, 4695);
}

}  // namespace pelmo::ui
