// Pelmo: coordinate transformation for ASCII point files and shapefiles.
// The program is its main window.

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>

#include "window/form1.hpp"
#include "window/look.hpp"
#include "window/preview_window.hpp"
#include "window/screenshots.hpp"

int main(int argc, char* argv[]) {
  // The picture of the preview never needs a display.
  bool picture = false;
  for (int i = 1; i < argc; ++i) picture = picture || std::strcmp(argv[i], "--preview-picture") == 0;
  if (picture) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Standard error is for the command's own messages, not the toolkit's
    // notes about the missing display.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
      if (type == QtCriticalMsg || type == QtFatalMsg) fprintf(stderr, "%s\n", qPrintable(text));
    });
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pelmo"));
  QApplication::setApplicationVersion(QStringLiteral("1.04"));
  pelmo::ui::InstallLook(app);
  pelmo::ui::InstallToolkitTexts(app);

  // Developer switch for the manual's pictures (tools/screenshots.sh).
  const QStringList args = QApplication::arguments();
  if (picture) return pelmo::ui::PreviewPictureCommand(args);
  if (const qsizetype i = args.indexOf(QStringLiteral("--write-screenshots")); i > 0) {
    return pelmo::ui::WriteScreenshots(i + 1 < args.size() ? args[i + 1] : QStringLiteral("."));
  }

  pelmo::ui::Form1 window;
  window.show();
  return app.exec();
}
