// The main window: its start state, its controls and their places, the
// file dialogs' filters and proposals, the information and help windows and
// the hidden self-test command.

#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBrowser>
#include <cmath>

#include "core/numtext.hpp"
#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

TEST_F(WindowTest, StartState) {
  Form1& w = *form;
  EXPECT_EQ(w.windowTitle(), "Pelmo");
  for (QRadioButton* b : w.centralWidget()->findChildren<QRadioButton*>()) {
    const bool selected = b == w.optInKrovak || b == w.optOutGK || b == w.optSHP;
    EXPECT_EQ(b->isChecked(), selected) << b->objectName().toStdString();
  }
  for (QLineEdit* e : {w.txtEll1a, w.txtEll1e, w.txtBezEll1, w.txtEll2a, w.txtEll2e, w.txtBezEll2,
                       w.txtP1, w.txtP2, w.txtP3, w.txtP4, w.txtP5, w.txtP6, w.txtP7, w.txtP2_1,
                       w.txtP2_2, w.txtP2_3, w.txtP2_4, w.txtP2_5, w.txtP2_6, w.txtP2_7, w.txtDX,
                       w.txtDY, w.txtDH}) {
    EXPECT_EQ(e->text(), "0") << e->objectName().toStdString();
    EXPECT_FALSE(e->isReadOnly()) << e->objectName().toStdString();
  }
  EXPECT_EQ(w.txtsevenParSys->text(), "no Transformation");
  EXPECT_EQ(w.txtsevenParSys2->text(), "no Transformation");
  EXPECT_EQ(w.txtPAR->text(), "no loaded Properties");
  EXPECT_TRUE(w.txtPAR->isReadOnly() && w.txtDateien->isReadOnly());
  EXPECT_TRUE(w.txtQuelldatei->text().isEmpty() && w.txtZielDatei->text().isEmpty());
  EXPECT_TRUE(w.txtDateien->toPlainText().isEmpty());
  // The expert seven-parameter layout.
  EXPECT_EQ(w.size(), TwipsSize(10350, 7335));
  EXPECT_FALSE(Shown(w.frmTranslation));
  EXPECT_TRUE(Shown(w.frmTrans1));
  EXPECT_FALSE(Shown(w.Command1));
  // The options dialog exists, hidden; the option table holds the defaults.
  ASSERT_NE(w.existingOptionsDialog(), nullptr);
  EXPECT_FALSE(w.existingOptionsDialog()->isVisible());
  const OptionTable defaults = {"0", "15", "15", "15",    "15",   "0.9996",  "0.9996",
                                "1", "0",  "0",  "True",  "False", "5500000", "15",
                                "0", "1",  "5500000", "15", "0",   "1"};
  EXPECT_EQ(w.session().OptionValues, defaults);
  EXPECT_TRUE(w.session().settings.optSevPar);
  EXPECT_FALSE(w.session().settings.optTranslation);
}

TEST_F(WindowTest, ControlsStandAtTheirDesignPlacesWithTheirCaptions) {
  Form1& w = *form;
  EXPECT_EQ(w.txtQuelldatei->geometry(), TwipsRect(1440, 120, 4215, 285));
  EXPECT_EQ(w.frmTrans2->geometry(), TwipsRect(120, 2880, 9855, 1335));
  EXPECT_EQ(w.cmdStart->geometry(), TwipsRect(6960, 5040, 2775, 615));
  EXPECT_EQ(w.txtDateien->geometry(), TwipsRect(120, 5760, 9855, 855));
  EXPECT_EQ(w.optINGKallgemein->geometry(), TwipsRect(3240, 240, 1095, 195));
  EXPECT_EQ(w.cmdEll1->geometry(), TwipsRect(7560, 210, 1215, 255));
  EXPECT_EQ(w.txtP2_7->geometry(), TwipsRect(5310, 960, 2055, 285));
  EXPECT_EQ(w.txtP2_7->parentWidget(), w.frmTrans2);
  EXPECT_EQ(w.frmFiletyp->title(), "FileTyp");
  EXPECT_EQ(w.optINGKallgemein->text(), "GK-general");
  EXPECT_EQ(w.M_EinstLa->text(), "&Load Properties");
  EXPECT_TRUE(w.mTrenn1->isSeparator());
  EXPECT_EQ(w.M_Help->shortcut(), QKeySequence(Qt::Key_F1));
  // The quantities in front of the parameter fields, left to right.
  const char* parLabels[] = {"ΔX", "ΔY", "ΔZ", "m", "γ", "β", "α"};
  for (const char* prefix : {"lblP", "lblP2_"}) {
    for (int i = 1; i <= 7; ++i) {
      const QString name = QString::fromLatin1(prefix) + QString::number(i);
      const auto* label = w.findChild<QLabel*>(name);
      ASSERT_NE(label, nullptr) << name.toStdString();
      EXPECT_EQ(label->text(), QString::fromUtf8(parLabels[i - 1])) << name.toStdString();
    }
  }
}

// ---------------------------------------------------------------- file dialogs

TEST_F(WindowTest, SourceAndTargetDialogsOfferTheFiltersOfTheFileType) {
  Form1& w = *form;
  files->answers = {QPath("in.shp"), QPath("out.shp")};
  w.oeffnen->click();
  w.speichern->click();
  ASSERT_EQ(files->shown.size(), 2u);
  const QString shape = QStringLiteral(
      "Shape - Dateien (*.shp)|*.shp|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|"
      "Stapeldateien (*.bat)|*.bat");
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(files->shown[i].filter, shape);
    EXPECT_EQ(files->shown[i].filterIndex, 1);
  }
  EXPECT_EQ(files->shown[0].mode, CommonDialog::Mode::kOpen);
  EXPECT_EQ(files->shown[1].mode, CommonDialog::Mode::kSave);
  EXPECT_EQ(w.txtQuelldatei->text(), QPath("in.shp"));
  EXPECT_EQ(w.txtZielDatei->text(), QPath("out.shp"));

  w.optASCII->click();
  files->setFilterIndex(3);
  files->answers = {QPath("in.txt")};
  w.oeffnen->click();
  EXPECT_EQ(files->shown.back().filter,
            "Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|Stapeldateien (*.bat)|*.bat");
  EXPECT_EQ(files->shown.back().filterIndex, 1);

  // With no file type selected the dialog keeps the filter it had.
  files->setFilter(QStringLiteral("Einstellungen (*.par)|*.par|"));
  Form1::setOption(w.optASCII, false);
  files->answers = {QPath("x")};
  w.oeffnen->click();
  EXPECT_EQ(files->shown.back().filter, "Einstellungen (*.par)|*.par|");
}

TEST(CommonDialogFilters, ParsedIntoToolkitFilters) {
  const auto entries = CommonDialog::parseFilter(QStringLiteral(
      "Shape - Dateien (*.shp)|*.shp|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|B"));
  ASSERT_EQ(entries.size(), 4);
  EXPECT_EQ(entries[0].description, "Shape - Dateien (*.shp)");
  EXPECT_EQ(entries[0].patterns, "*.shp");
  EXPECT_EQ(entries[2].description, " Textdateien (*.txt)");
  EXPECT_EQ(entries[3].description, "B");  // a description without patterns
  EXPECT_TRUE(entries[3].patterns.isEmpty());
  EXPECT_TRUE(CommonDialog::parseFilter(QString()).isEmpty());
  // "*.*" matches every file, also names without a dot.
  using ui::QtCommonDialog;
  EXPECT_EQ(QtCommonDialog::qtNameFilter(entries[0]), "Shape - Dateien (*.shp)");
  EXPECT_EQ(QtCommonDialog::qtNameFilter(entries[1]), "Alle Dateien (*)");
  EXPECT_EQ(QtCommonDialog::qtNameFilter(entries[2]), "Textdateien (*.txt)");
  EXPECT_EQ(QtCommonDialog::qtNameFilter({"Bilder", "*.png;*.jpg"}), "Bilder (*.png *.jpg)");
}

TEST_F(WindowTest, DialogsProposeTheLastNameAndCancelLeavesTheFieldAlone) {
  Form1& w = *form;
  files->answers = {QPath("a.shp"), QPath("b.shp"), std::nullopt, std::nullopt,
                    QPath("c.ell"), QPath("d.par"), std::nullopt};
  w.oeffnen->click();
  w.speichern->click();
  w.oeffnen->click();    // cancelled
  w.speichern->click();  // cancelled
  EXPECT_EQ(w.txtQuelldatei->text(), QPath("a.shp"));
  EXPECT_EQ(w.txtZielDatei->text(), QPath("b.shp"));
  w.cmdEll1->click();      // in the library; the file does not exist: nothing is loaded
  w.M_EinstSp->trigger();  // the properties of the start state
  w.M_EinstLa->trigger();  // cancelled
  ASSERT_EQ(files->shown.size(), 7u);
  const QString proposed[] = {"", QPath("a.shp"), QPath("b.shp"), QPath("b.shp"),
                              "", QPath("c.ell"), QPath("d.par")};
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(files->shown[i].proposedName, proposed[i]) << i;
    EXPECT_EQ(files->shown[i].initDir, i == 4 ? QStringLiteral(PELMO_SOURCE_DIR "/data") : "") << i;
  }
  EXPECT_EQ(w.txtBezEll1->text(), "0");
  EXPECT_EQ(w.txtPAR->text(), QPath("d.par"));
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
}

// ---------------------------------------------------------------- Info, Help

TEST_F(WindowTest, InfoTwiceShowsOneWindow) {
  form->M_Info->trigger();
  form->M_Info->trigger();
  EXPECT_EQ(form->findChildren<ui::InfoWindow*>().size(), 1);
  ui::InfoWindow* info = form->infoWindow();
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(info->isVisible());
  EXPECT_EQ(info->windowTitle(), "INFO");
  EXPECT_EQ(info->size(), TwipsSize(6390, 4590));
  EXPECT_EQ(info->txtInfo->geometry(), TwipsRect(0, 0, 6495, 4695));
  EXPECT_TRUE(info->txtInfo->isReadOnly());
  EXPECT_TRUE(QFontInfo(info->txtInfo->font()).fixedPitch());
  // Closed by the user, it is discarded; Info makes a new one.
  info->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(form->infoWindow(), nullptr);
  form->M_Info->trigger();
  EXPECT_EQ(form->findChildren<ui::InfoWindow*>().size(), 1);

  // 20 lines of 53 characters, "Pelmo" centred on the first, the version
  // on the third.
  const QStringList lines = ui::InfoWindow::infoText().split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 20);
  for (const QString& line : lines) {
    EXPECT_EQ(line.size(), 53) << line.toStdString();
    EXPECT_FALSE(line.contains(QLatin1Char('\n')));
  }
  EXPECT_EQ(lines[0].trimmed(), "Pelmo");
  const qsizetype left = lines[0].indexOf(QStringLiteral("Pelmo"));
  EXPECT_LE(std::abs(left - (lines[0].size() - left - 5)), 1);
  EXPECT_EQ(lines[2].trimmed(), "version 1.04");
  EXPECT_TRUE(lines[4].contains(QStringLiteral("oordinate transformation")));
}

TEST_F(WindowTest, HelpAndF1ShowTheManual) {
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QTest::keyClick(form->txtQuelldatei, Qt::Key_F1);
  ui::HelpWindow* help = form->helpWindow();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->browser()->source(), QUrl(QString::fromLatin1(ui::kManualUrl)));
  EXPECT_TRUE(help->browser()->toPlainText().contains(QStringLiteral("Pelmo")));
  for (const char* page :
       {"windows", "projections", "datum", "files", "library", "cli", "estimate", "grids"}) {
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/manual/%1.html").arg(QLatin1String(page)))) << page;
  }
  // The menu entry reuses the window.
  form->M_Help->trigger();
  EXPECT_EQ(form->findChildren<ui::HelpWindow*>().size(), 1);
}

// ---------------------------------------------------------------- self-test

TEST_F(WindowTest, HiddenCommandWritesTheSelfTestIntoTheTemporaryFolder) {
  const QByteArray oldTmp = qgetenv("TMPDIR");
  const QString oldCwd = QDir::currentPath();
  const std::string path = Path("test.txt");
  // Without a usable temporary folder nothing is written, not even into
  // the current folder.
  QDir::setCurrent(tmp.path());
  qputenv("TMPDIR", QByteArray("/nonexistent/pelmo-test-folder"));
  form->Command1->click();
  const bool writtenWithoutFolder = Exists(path);
  // With one, an older, longer file is replaced.
  qputenv("TMPDIR", tmp.path().toLocal8Bit());
  WriteBytes(path, std::string(5000, 'x'));
  form->Command1->click();
  QDir::setCurrent(oldCwd);
  if (oldTmp.isEmpty()) {
    qunsetenv("TMPDIR");
  } else {
    qputenv("TMPDIR", oldTmp);
  }
  EXPECT_FALSE(writtenWithoutFolder);
  const std::string bytes = ReadBytes(path);
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 8u) << bytes;
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_NEAR(ParseNumber(lines[0]), std::asin(0.8), 1e-12);  // radians
  EXPECT_EQ(lines[1].substr(0, 10), "3974219.56");             // the Cartesian test point
  EXPECT_TRUE(messages->shown.empty());
}

}  // namespace
}  // namespace pelmo::uitest
