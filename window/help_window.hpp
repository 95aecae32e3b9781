// The manual: the HTML pages compiled into the program, shown in a window of
// their own; or, when a file "pelmo.chm" lies beside the program, that file
// opened with the desktop's handler.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace pelmo::ui {

/// Resource URL of the manual's first page.
inline constexpr const char* kManualUrl = "qrc:/manual/index.html";

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

/// Path of a help file "pelmo.chm" beside the program, or an empty string
/// when there is none.
QString ExternalHelpFile();

}  // namespace pelmo::ui
