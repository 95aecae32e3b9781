#include "window/screenshots.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QThread>
#include <QWindow>

#include "paramfiles/paramsets.hpp"
#include "window/form1.hpp"

namespace pelmo::ui {

namespace {

/// Lets the windows be mapped and painted.
void Settle() {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 300) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
}

/// The window as the screen shows it (its client area), or as it paints
/// itself where the screen cannot be read.
bool Write(QWidget* window, const QDir& dir, const char* name) {
  window->show();
  window->raise();
  Settle();
  QPixmap picture;
  if (QGuiApplication::platformName() == QLatin1String("xcb") && window->screen()) {
    picture = window->screen()->grabWindow(window->winId());
  }
  if (picture.isNull()) picture = window->grab();
  const QString path = dir.filePath(QString::fromLatin1(name));
  const bool ok = picture.save(path, "PNG");
  QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << path << '\n';
  return ok;
}

/// Example settings: a Gauss-Krueger file on Bessel to UTM on GRS 1980.
void FillExample(Form1& w) {
  w.syncToSettings();
  TransformSettings& t = w.session().settings;
  const char sign = w.session().decimalSign();
  const std::string data = QDir::current().filePath(QStringLiteral("data/")).toStdString();
  LoadEllipsoidFile(data + "Bessel_1841.ell", t, 1, sign);
  LoadEllipsoidFile(data + "GRS_1980.ell", t, 2, sign);
  LoadSevenParFile(data + "DHDN_to_ETRS89_EPSG1776.7pr", t, 1, sign);
  t.txtQuelldatei = "/home/anna/vermessung/grenzpunkte.shp";
  t.txtZielDatei = "/home/anna/vermessung/grenzpunkte_utm.shp";
  t.txtPAR = "/home/anna/vermessung/dhdn_etrs89.par";
  t.optInKrovak = false;
  t.optInGK = true;
  t.optOutGK = false;
  t.optOUTetrs = true;
  t.txtDateien = "shapetyp 5 (Polygon)\r\nDateilänge in byte 1482236\r\nRecordAanzahl : 2318\r\n"
                 "vergangene Zeit in s 0.412";
  w.session().Touch();
  w.syncFromSettings();
}

}  // namespace

int WriteScreenshots(const QString& dirName) {
  QDir dir(dirName);
  if (!dir.exists() && !QDir().mkpath(dirName)) return 1;
  bool ok = true;

  Form1 w;
  FillExample(w);
  ok &= Write(&w, dir, "main-expert.png");

  OptionsDialog& options = w.optionsDialog();
  options.chkExp->setCheckState(Qt::Unchecked);
  options.cmdApply->click();
  ok &= Write(&w, dir, "main-simple.png");

  options.chkExp->setCheckState(Qt::Checked);
  options.cmdApply->click();
  options.optTranslation->setChecked(true);
  options.cmdApply->click();
  w.txtDX->setText(QStringLiteral("-12.5"));
  w.txtDY->setText(QStringLiteral("3.25"));
  ok &= Write(&w, dir, "main-translation.png");

  options.optSevPar->setChecked(true);
  options.cmdApply->click();

  // The preview of the sample points (zone 5 on Bessel to UTM zone 33),
  // with the values of the first point below.
  w.optASCII->setChecked(true);
  w.txtQuelldatei->setText(QDir::current().filePath(QStringLiteral("data/samples/gk5_bessel_points.txt")));
  w.cmdPreview->click();
  PreviewWindow* preview = w.previewWindow();
  while (!preview->finished()) QApplication::processEvents(QEventLoop::AllEvents, 50);
  preview->resize(1000, 560);
  Settle();
  preview->cmdFit_Click();
  preview->ShowVertex(0);
  ok &= Write(preview, dir, "preview.png");
  preview->close();
  w.hide();

  const char* const pages[kOptionTabs] = {"options-general.png", "options-gauss-krueger.png",
                                          "options-utm.png", "options-general-gauss.png",
                                          "options-ascii.png"};
  for (int tab = 1; tab <= kOptionTabs; ++tab) {
    options.selectTab(tab);
    ok &= Write(&options, dir, pages[tab - 1]);
  }
  options.hide();

  // The estimation dialog on the sample control points (zones 3 and 32).
  options.comGKBM->setCurrentText(QStringLiteral("9"));
  options.comUTMBM2->setCurrentText(QStringLiteral("9"));
  options.cmdApply->click();
  w.M_Estimate->trigger();
  EstimateDialog* estimate = w.estimateDialog();
  estimate->optTwoFiles->setChecked(true);
  const QString samples = QStringLiteral("data/samples/");  // run from the source folder
  estimate->txtControl1->setText(samples + QStringLiteral("control_gk3_dhdn.txt"));
  estimate->txtControl2->setText(samples + QStringLiteral("control_utm32_etrs89.txt"));
  estimate->cmdCompute->click();
  ok &= Write(estimate, dir, "estimate.png");
  estimate->close();
  w.hide();

  ProgressWindow progress;
  progress.setMinimum(ProgressBarId::kRecords, 1);
  progress.setMaximum(ProgressBarId::kRecords, 2318);
  progress.setValue(ProgressBarId::kRecords, 1391);
  progress.setMaximum(ProgressBarId::kVertices, 411);
  progress.setValue(ProgressBarId::kVertices, 160);
  progress.setPercent(QStringLiteral("60"));
  progress.flush();
  ok &= Write(&progress, dir, "progress.png");
  progress.hide();

  InfoWindow info;
  ok &= Write(&info, dir, "info.png");
  info.hide();

  return ok ? 0 : 1;
}

}  // namespace pelmo::ui
