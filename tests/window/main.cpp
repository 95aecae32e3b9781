// Test program of the windows: runs on the offscreen platform unless another
// is asked for, so no display is needed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include "window/look.hpp"

namespace {

// The offscreen platform says so whenever a window is raised; that is no
// news for these tests.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.contains(QLatin1String("does not support raise()"))) return;
  fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir runtime;
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  }
  qInstallMessageHandler(QuietMessages);
  // The user's settings of the tests live in a folder of their own.
  QTemporaryDir config;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
  QApplication app(argc, argv);
  pelmo::ui::InstallLook(app);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
