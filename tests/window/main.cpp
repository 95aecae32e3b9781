// Test program of the windows, on the offscreen platform unless another is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include "window/look.hpp"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir runtime, config;  // config: the user's settings of the tests
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
  // The offscreen platform says so whenever a window is raised: no news here.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (!text.contains(QLatin1String("does not support raise()"))) {
      fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    }
  });
  QApplication app(argc, argv);
  pelmo::ui::InstallLook(app);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
