// Pelmo: coordinate transformation for ASCII point files and shapefiles.
// The program is its main window.

#include <QApplication>
#include <QStringList>

#include "window/form1.hpp"
#include "window/look.hpp"
#include "window/screenshots.hpp"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pelmo"));
  QApplication::setApplicationVersion(QStringLiteral("1.04"));
  pelmo::ui::InstallLook(app);
  pelmo::ui::InstallToolkitTexts(app);

  // Developer switch for the manual's pictures (tools/screenshots.sh).
  const QStringList args = QApplication::arguments();
  if (const qsizetype i = args.indexOf(QStringLiteral("--write-screenshots")); i > 0) {
    return pelmo::ui::WriteScreenshots(i + 1 < args.size() ? args[i + 1] : QStringLiteral("."));
  }

  pelmo::ui::Form1 window;
  window.show();
  return app.exec();
}
