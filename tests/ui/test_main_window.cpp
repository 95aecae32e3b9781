// The main window: its start state, its controls and their places, the
// file dialogs' filters, the information and help windows and the hidden
// self-test command.

#include <QAction>
#include <QButtonGroup>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBrowser>
#include <cmath>

#include "geotra/numtext.hpp"
#include "ui/look.hpp"
#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

using ui::TwipsRect;
using ui::TwipsSize;

// The default option table, written out independently of the program.
const OptionTable kDefaults = {"0",    "15",      "15", "15", "15", "0.9996", "0.9996",
                               "1",    "0",       "0",  "True", "False", "5500000", "15",
                               "0",    "1",       "5500000", "15", "0", "1"};

TEST_F(WindowTest, StartState) {
  Form1& w = *form;
  EXPECT_EQ(w.windowTitle(), "Pelmo");
  // Selections.
  EXPECT_TRUE(w.optInKrovak->isChecked());
  EXPECT_TRUE(w.optOutGK->isChecked());
  EXPECT_TRUE(w.optSHP->isChecked());
  for (QRadioButton* b : {w.optInGK, w.optInBL, w.optINetrs, w.optINGKallgemein, w.optOutKrovak,
                          w.optOutBL, w.optOUTetrs, w.optOutGKallgemein, w.optASCII}) {
    EXPECT_FALSE(b->isChecked()) << b->objectName().toStdString();
  }
  // Field texts.
  for (QLineEdit* e : {w.txtEll1a, w.txtEll1e, w.txtBezEll1, w.txtEll2a, w.txtEll2e, w.txtBezEll2,
                       w.txtP1, w.txtP2, w.txtP3, w.txtP4, w.txtP5, w.txtP6, w.txtP7, w.txtP2_1,
                       w.txtP2_2, w.txtP2_3, w.txtP2_4, w.txtP2_5, w.txtP2_6, w.txtP2_7, w.txtDX,
                       w.txtDY, w.txtDH}) {
    EXPECT_EQ(e->text(), "0") << e->objectName().toStdString();
  }
  EXPECT_EQ(w.txtsevenParSys->text(), "no Transformation");
  EXPECT_EQ(w.txtsevenParSys2->text(), "no Transformation");
  EXPECT_EQ(w.txtPAR->text(), "no loaded Properties");
  EXPECT_TRUE(w.txtPAR->isReadOnly());
  EXPECT_TRUE(w.txtQuelldatei->text().isEmpty());
  EXPECT_TRUE(w.txtZielDatei->text().isEmpty());
  EXPECT_TRUE(w.txtDateien->toPlainText().isEmpty());
  EXPECT_TRUE(w.txtDateien->isReadOnly());
  // Expert seven-parameter layout, 10350 x 7335 twips.
  EXPECT_EQ(w.size(), TwipsSize(10350, 7335));
  EXPECT_FALSE(w.frmTranslation->isVisibleTo(&w));
  EXPECT_TRUE(w.frmTrans1->isVisibleTo(&w));
  EXPECT_FALSE(w.Command1->isVisibleTo(&w));
  // The options dialog exists, hidden, and the option table holds the
  // defaults; the datum mode is seven-parameter.
  ASSERT_NE(w.existingOptionsDialog(), nullptr);
  EXPECT_FALSE(w.existingOptionsDialog()->isVisible());
  EXPECT_EQ(w.session().OptionValues, kDefaults);
  EXPECT_TRUE(w.session().settings.optSevPar);
  EXPECT_FALSE(w.session().settings.optTranslation);
  // No field is locked.
  EXPECT_FALSE(w.txtP1->isReadOnly());
  EXPECT_FALSE(w.txtQuelldatei->isReadOnly());
}

TEST_F(WindowTest, ControlsStandAtTheirDesignPlaces) {
  struct Place {
    const char* name;
    int l, t, w, h;
  };
  const Place places[] = {
      {"oeffnen", 120, 120, 1215, 255},        {"txtQuelldatei", 1440, 120, 4215, 285},
      {"frmAbb1", 120, 480, 4455, 495},        {"frmFiletyp", 4680, 480, 1850, 495},
      {"Frame1", 6600, 360, 3375, 615},        {"frmEll1", 120, 960, 9855, 615},
      {"frmTranslation", 120, 960, 9855, 855}, {"frmTrans1", 120, 1560, 9855, 1335},
      {"frmTrans2", 120, 2880, 9855, 1335},    {"frmEll2", 120, 4200, 9855, 615},
      {"frmAbb2", 120, 4800, 4455, 495},       {"Command1", 5520, 4920, 1215, 375},
      {"cmdStart", 6960, 5040, 2775, 615},     {"speichern", 120, 5400, 1215, 255},
      {"txtZielDatei", 1440, 5400, 4215, 285}, {"txtDateien", 120, 5760, 9855, 855},
      {"optInGK", 120, 240, 975, 195},         {"optInKrovak", 1080, 240, 855, 195},
      {"optInBL", 1920, 240, 735, 195},        {"optINetrs", 2520, 240, 735, 195},
      {"optINGKallgemein", 3240, 240, 1095, 195}, {"optOutGK", 120, 240, 975, 195},
      {"optOutGKallgemein", 3240, 240, 1095, 195}, {"optSHP", 120, 240, 975, 195},
      {"optASCII", 1080, 240, 735, 195},       {"txtPAR", 120, 240, 3135, 285},
      {"txtEll1a", 600, 195, 2055, 285},       {"txtEll1e", 2880, 195, 1935, 285},
      {"txtBezEll1", 5295, 195, 1935, 285},    {"cmdEll1", 7560, 210, 1215, 255},
      {"txtEll2a", 720, 240, 1935, 285},       {"txtEll2e", 3000, 240, 1935, 285},
      {"txtBezEll2", 5415, 240, 1935, 285},    {"txtsevenParSys", 2520, 240, 2535, 285},
      {"cmdSevenPar1", 5760, 240, 1215, 255},  {"txtP1", 390, 600, 2055, 285},
      {"txtP2", 2850, 600, 2055, 285},         {"txtP3", 5310, 600, 2055, 285},
      {"txtP4", 7635, 600, 2055, 285},         {"txtP5", 390, 960, 2055, 285},
      {"txtP6", 2850, 960, 2055, 285},         {"txtP7", 5310, 960, 2055, 285},
      {"txtP2_1", 390, 600, 2055, 285},        {"txtP2_7", 5310, 960, 2055, 285},
      {"cmdSevenPar2", 5760, 240, 1215, 255},  {"txtsevenParSys2", 2520, 240, 2535, 285},
  };
  for (const Place& p : places) {
    QWidget* w = form->findChild<QWidget*>(QString::fromLatin1(p.name));
    ASSERT_NE(w, nullptr) << p.name;
    EXPECT_EQ(w->geometry(), TwipsRect(p.l, p.t, p.w, p.h)) << p.name;
  }
  // The frames hold their controls.
  EXPECT_EQ(form->txtP1->parentWidget(), form->frmTrans1);
  EXPECT_EQ(form->txtP2_1->parentWidget(), form->frmTrans2);
  EXPECT_EQ(form->optOutKrovak->parentWidget(), form->frmAbb2);
  EXPECT_EQ(form->txtPAR->parentWidget(), form->Frame1);
}

TEST_F(WindowTest, CaptionsAndLabels) {
  Form1& w = *form;
  EXPECT_EQ(w.oeffnen->text(), "Source File");
  EXPECT_EQ(w.speichern->text(), "Target File");
  EXPECT_EQ(w.cmdStart->text(), "TRANSFORM");
  EXPECT_EQ(w.Command1->text(), "Command1");
  for (QPushButton* b : {w.cmdEll1, w.cmdEll2, w.cmdSevenPar1, w.cmdSevenPar2}) {
    EXPECT_EQ(b->text(), "Parameter");
  }
  EXPECT_EQ(w.frmAbb1->title(), "Projection");
  EXPECT_EQ(w.frmAbb2->title(), "Projection");
  EXPECT_EQ(w.frmFiletyp->title(), "FileTyp");
  EXPECT_EQ(w.Frame1->title(), "Properties File");
  EXPECT_EQ(w.frmEll1->title(), "Ellipsoid 1");
  EXPECT_EQ(w.frmEll2->title(), "Ellipsoid 2");
  EXPECT_EQ(w.frmTranslation->title(), "Translation");
  EXPECT_EQ(w.frmTrans1->title(), "1. Transformation");
  EXPECT_EQ(w.frmTrans2->title(), "2. Transformation");
  EXPECT_EQ(w.lblSevenParTrans->text(), "7 Parameter Transformation");
  EXPECT_EQ(w.Ell1a->text(), "a[m]");
  EXPECT_EQ(w.Ell1e->text(), "e");
  const char* captions[] = {"GK-Germ", "Krovak", "Ell", "UTM", "GK-general"};
  QRadioButton* in[] = {w.optInGK, w.optInKrovak, w.optInBL, w.optINetrs, w.optINGKallgemein};
  QRadioButton* out[] = {w.optOutGK, w.optOutKrovak, w.optOutBL, w.optOUTetrs, w.optOutGKallgemein};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(in[i]->text(), captions[i]);
    EXPECT_EQ(out[i]->text(), captions[i]);
  }
  // The quantities in front of the parameter fields, left to right.
  const char* parLabels[] = {"ΔX", "ΔY", "ΔZ", "m", "γ", "β", "α"};
  for (int set = 1; set <= 2; ++set) {
    for (int i = 1; i <= 7; ++i) {
      const QString name = (set == 1 ? QStringLiteral("lblP%1") : QStringLiteral("lblP2_%1")).arg(i);
      auto* label = w.findChild<QLabel*>(name);
      ASSERT_NE(label, nullptr) << name.toStdString();
      EXPECT_EQ(label->text(), QString::fromUtf8(parLabels[i - 1]));
    }
  }
  EXPECT_EQ(w.findChild<QLabel*>("lblDX")->text(), QString::fromUtf8("ΔX"));
  EXPECT_EQ(w.findChild<QLabel*>("lblDH")->text(), QString::fromUtf8("ΔH"));
  // Menus.
  EXPECT_EQ(w.M_Optionen->title(), "&Options");
  EXPECT_EQ(w.M_EinstLa->text(), "&Load Properties");
  EXPECT_EQ(w.M_EinstSp->text(), "&Save Properties");
  EXPECT_TRUE(w.mTrenn1->isSeparator());
  EXPECT_EQ(w.M_option->text(), "Options");
  EXPECT_EQ(w.M_Hilfe->title(), "&Help");
  EXPECT_EQ(w.M_Info->text(), "Info");
  EXPECT_EQ(w.M_Help->text(), "Help");
  EXPECT_EQ(w.M_Help->shortcut(), QKeySequence(Qt::Key_F1));
}

TEST_F(WindowTest, OptionGroupsSelectOneButton) {
  Form1& w = *form;
  w.optInGK->click();
  EXPECT_TRUE(w.optInGK->isChecked());
  EXPECT_FALSE(w.optInKrovak->isChecked());
  // The groups are independent.
  EXPECT_TRUE(w.optOutGK->isChecked());
  EXPECT_TRUE(w.optSHP->isChecked());
  w.optASCII->click();
  EXPECT_FALSE(w.optSHP->isChecked());
  EXPECT_TRUE(w.optInGK->isChecked());
  // A click on the selected button keeps it selected.
  w.optASCII->click();
  EXPECT_TRUE(w.optASCII->isChecked());
  // The program may leave a group with none selected; the group works as a
  // group again afterwards.
  Form1::setOption(w.optASCII, false);
  EXPECT_FALSE(w.optASCII->isChecked());
  EXPECT_FALSE(w.optSHP->isChecked());
  w.optSHP->click();
  EXPECT_TRUE(w.optSHP->isChecked());
  w.optASCII->click();
  EXPECT_FALSE(w.optSHP->isChecked());
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
  EXPECT_EQ(files->shown[0].mode, CommonDialog::Mode::kOpen);
  EXPECT_EQ(files->shown[0].filter, shape);
  EXPECT_EQ(files->shown[0].filterIndex, 1);
  EXPECT_EQ(files->shown[1].mode, CommonDialog::Mode::kSave);
  EXPECT_EQ(files->shown[1].filter, shape);
  EXPECT_EQ(files->shown[1].filterIndex, 1);
  EXPECT_EQ(w.txtQuelldatei->text(), QPath("in.shp"));
  EXPECT_EQ(w.txtZielDatei->text(), QPath("out.shp"));
  const auto entries = CommonDialog::parseFilter(files->shown[0].filter);
  ASSERT_EQ(entries.size(), 4);
  EXPECT_EQ(entries[0].description, "Shape - Dateien (*.shp)");
  EXPECT_EQ(entries[0].patterns, "*.shp");
  EXPECT_EQ(entries[2].description, " Textdateien (*.txt)");

  w.optASCII->click();
  files->setFilterIndex(3);
  files->answers = {QPath("in.txt")};
  w.oeffnen->click();
  const QString ascii = QStringLiteral(
      "Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|Stapeldateien (*.bat)|*.bat");
  EXPECT_EQ(files->shown.back().filter, ascii);
  EXPECT_EQ(files->shown.back().filterIndex, 1);
  EXPECT_EQ(CommonDialog::parseFilter(ascii).front().description, "Alle Dateien (*.*)");
  EXPECT_EQ(CommonDialog::parseFilter(ascii).size(), 3);
}

TEST_F(WindowTest, CancelledDialogLeavesTheFieldAlone) {
  Form1& w = *form;
  w.txtZielDatei->setText(QStringLiteral("keep.shp"));
  w.txtQuelldatei->setText(QStringLiteral("source.shp"));
  files->answers = {std::nullopt, std::nullopt};
  w.speichern->click();
  w.oeffnen->click();
  EXPECT_EQ(w.txtZielDatei->text(), "keep.shp");
  EXPECT_EQ(w.txtQuelldatei->text(), "source.shp");
  EXPECT_EQ(files->shown.size(), 2u);
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(WindowTest, LastChosenNameIsProposedAgain) {
  Form1& w = *form;
  files->answers = {QPath("a.shp"), QPath("b.shp"), std::nullopt, QPath("c.ell")};
  w.oeffnen->click();
  w.speichern->click();
  w.oeffnen->click();  // cancelled: the proposal stays
  w.cmdEll1->click();  // (the file does not exist: nothing is loaded)
  ASSERT_EQ(files->shown.size(), 4u);
  EXPECT_TRUE(files->shown[0].proposedName.isEmpty());
  EXPECT_EQ(files->shown[1].proposedName, QPath("a.shp"));
  EXPECT_EQ(files->shown[2].proposedName, QPath("b.shp"));
  EXPECT_EQ(files->shown[3].proposedName, QPath("b.shp"));
  EXPECT_EQ(files->fileName(), QPath("c.ell"));
  EXPECT_EQ(w.txtBezEll1->text(), "0");
}

TEST_F(WindowTest, WithoutFileTypeTheDialogKeepsItsFilter) {
  Form1& w = *form;
  files->setFilter(QStringLiteral("Einstellungen (*.par)|*.par|"));
  Form1::setOption(w.optSHP, false);
  files->answers = {QPath("x")};
  w.oeffnen->click();
  EXPECT_EQ(files->shown.back().filter, "Einstellungen (*.par)|*.par|");
  EXPECT_EQ(files->shown.back().filterIndex, 1);
}

TEST(CommonDialogFilters, ToolkitFiltersMatchEveryFileForStarDotStar) {
  using ui::QtCommonDialog;
  EXPECT_EQ(QtCommonDialog::qtNameFilter({"Shape - Dateien (*.shp)", "*.shp"}),
            "Shape - Dateien (*.shp)");
  EXPECT_EQ(QtCommonDialog::qtNameFilter({"Alle Dateien (*.*)", "*.*"}), "Alle Dateien (*)");
  EXPECT_EQ(QtCommonDialog::qtNameFilter({" Textdateien (*.txt)", "*.txt"}), "Textdateien (*.txt)");
  EXPECT_EQ(QtCommonDialog::qtNameFilter({"Bilder", "*.png;*.jpg"}), "Bilder (*.png *.jpg)");
  // A description without patterns and a trailing separator.
  const auto entries = CommonDialog::parseFilter(QStringLiteral("A|*.a|B"));
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries[1].description, "B");
  EXPECT_TRUE(entries[1].patterns.isEmpty());
  EXPECT_TRUE(CommonDialog::parseFilter(QString()).isEmpty());
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
}

TEST(InfoText, TwentyPaddedLinesNameAndVersion) {
  const QStringList lines = ui::InfoWindow::infoText().split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 20);
  for (const QString& line : lines) {
    EXPECT_EQ(line.size(), 53) << line.toStdString();
    EXPECT_FALSE(line.contains(QLatin1Char('\n')));
  }
  // "Pelmo" centred on line 1, the version on line 3.
  const QString first = lines[0];
  EXPECT_EQ(first.trimmed(), "Pelmo");
  const qsizetype left = first.indexOf(QStringLiteral("Pelmo"));
  const qsizetype right = first.size() - left - 5;
  EXPECT_LE(std::abs(left - right), 1);
  EXPECT_EQ(lines[2].trimmed(), "version 1.04");
  EXPECT_TRUE(lines[4].contains(QStringLiteral("oordinate transformation")));
}

TEST_F(WindowTest, HelpShowsTheManual) {
  form->M_Help->trigger();
  ui::HelpWindow* help = form->helpWindow();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->browser()->source(), QUrl(QString::fromLatin1(ui::kManualUrl)));
  const QString text = help->browser()->toPlainText();
  EXPECT_TRUE(text.contains(QStringLiteral("Pelmo"))) << text.left(200).toStdString();
  // Every page of the manual is compiled in and linked from the contents.
  for (const char* page : {"windows", "projections", "datum", "files", "library", "cli"}) {
    QFile f(QStringLiteral(":/manual/%1.html").arg(QLatin1String(page)));
    EXPECT_TRUE(f.exists()) << page;
  }
  // Help a second time reuses the window.
  form->M_Help->trigger();
  EXPECT_EQ(form->findChildren<ui::HelpWindow*>().size(), 1);
}

TEST_F(WindowTest, F1OpensTheHelp) {
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QTest::keyClick(form->txtQuelldatei, Qt::Key_F1);
  ASSERT_NE(form->helpWindow(), nullptr);
  EXPECT_TRUE(form->helpWindow()->isVisible());
}

// ---------------------------------------------------------------- self-test

TEST_F(WindowTest, HiddenCommandWritesTheSelfTestIntoTheTemporaryFolder) {
  const QByteArray oldTmp = qgetenv("TMPDIR");
  qputenv("TMPDIR", tmp.path().toLocal8Bit());
  const std::string path = Path("test.txt");
  WriteBytes(path, std::string(5000, 'x'));  // an older, longer file is replaced
  form->Command1->click();
  if (oldTmp.isEmpty()) {
    qunsetenv("TMPDIR");
  } else {
    qputenv("TMPDIR", oldTmp);
  }
  const std::string bytes = ReadBytes(path);
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 8u) << bytes;
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  // Line 1 is the arcsine of 0.8 in radians.
  EXPECT_NEAR(ParseNumber(lines[0]), std::asin(0.8), 1e-12);
  // Line 2 is the Cartesian test point.
  EXPECT_EQ(lines[1].substr(0, 10), "3974219.56");
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(WindowTest, SelfTestWithoutATemporaryFolderWritesNothing) {
  const QByteArray oldTmp = qgetenv("TMPDIR");
  const QString oldCwd = QDir::currentPath();
  QDir::setCurrent(tmp.path());
  qputenv("TMPDIR", QByteArray("/nonexistent/pelmo-test-folder"));
  form->Command1->click();
  QDir::setCurrent(oldCwd);
  EXPECT_FALSE(Exists(Path("test.txt")));
  if (oldTmp.isEmpty()) {
    qunsetenv("TMPDIR");
  } else {
    qputenv("TMPDIR", oldTmp);
  }
  EXPECT_TRUE(messages->shown.empty());
}

}  // namespace
}  // namespace pelmo::uitest
