// The window side of the parameter files: Save and Load Properties through
// the shared file dialog, the load error, and the four "Parameter" buttons.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>

#include "ui/look.hpp"
#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

const QString kParFilter = QStringLiteral("Einstellungen (*.par)|*.par|Alle Dateien (*.*)|*.*|");
const QString kEllFilter =
    QStringLiteral("Ellipsoid-Parameter (*.ell)|*.ell|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|");
const QString kSevenParFilter =
    QStringLiteral("Ellipsoid-Parameter (*.7pr)|*.7pr|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|");

class FilesTest : public WindowTest {
 protected:
  /// Fills every control that a properties file holds with values that
  /// differ from the start values.
  void FillEverything() {
    Form1& w = *form;
    w.optASCII->click();
    w.optINGKallgemein->click();
    w.optOutBL->click();
    w.txtEll1a->setText(QStringLiteral("6377397,155"));  // a comma stays a comma
    w.txtEll1e->setText(QStringLiteral("0.0816968312225275"));
    w.txtBezEll1->setText(QStringLiteral("Bessel 1841 (Müller)"));
    w.txtEll2a->setText(QStringLiteral("6378137"));
    w.txtEll2e->setText(QStringLiteral("0.0818191910428158"));
    w.txtBezEll2->setText(QStringLiteral("GRS 1980"));
    w.txtsevenParSys->setText(QStringLiteral("Satz A, mit Komma"));
    w.txtsevenParSys2->setText(QStringLiteral("Satz B"));
    int i = 0;
    for (QLineEdit* e : {w.txtP1, w.txtP2, w.txtP3, w.txtP4, w.txtP5, w.txtP6, w.txtP7, w.txtP2_1,
                         w.txtP2_2, w.txtP2_3, w.txtP2_4, w.txtP2_5, w.txtP2_6, w.txtP2_7}) {
      e->setText(QStringLiteral("%1.25").arg(++i));
    }
    ui::OptionsDialog& d = w.optionsDialog();
    d.chk_Sperre->setCheckState(Qt::Checked);
    d.comGKBM->setCurrentText(QStringLiteral("9"));
    d.comGKBM2->setCurrentText(QStringLiteral("12"));
    d.comUTMBM->setCurrentText(QStringLiteral("-3"));
    d.comUTMBM2->setCurrentText(QStringLiteral("16"));
    d.txtUTMma->setText(QStringLiteral("0,9996"));
    d.txtUTMma2->setText(QStringLiteral("1"));
    d.chkExp->setCheckState(Qt::Unchecked);
    d.chkStat1->setCheckState(Qt::Checked);
    d.chkStat2->setCheckState(Qt::PartiallyChecked);
    d.txtINeasting->setText(QStringLiteral("500000"));
    d.txtINmeridian->setText(QStringLiteral("21"));
    d.txtINnorthing->setText(QStringLiteral("-5000000"));
    d.txtINscale->setText(QStringLiteral("0.9999"));
    d.txtOUTeasting->setText(QStringLiteral("7500000"));
    d.txtOUTmeridian->setText(QStringLiteral("9"));
    d.txtOUTnorthing->setText(QStringLiteral("1000"));
    d.txtOUTscale->setText(QStringLiteral("0.5"));
  }

  /// Every control of the properties file, as text.
  QStringList Snapshot() {
    Form1& w = *form;
    QStringList s;
    for (QRadioButton* b : {w.optSHP, w.optASCII, w.optInGK, w.optInKrovak, w.optInBL, w.optINetrs,
                            w.optINGKallgemein, w.optOutGK, w.optOutKrovak, w.optOutBL, w.optOUTetrs,
                            w.optOutGKallgemein}) {
      s << (b->isChecked() ? "1" : "0");
    }
    for (QLineEdit* e : {w.txtEll1a, w.txtEll1e, w.txtBezEll1, w.txtEll2a, w.txtEll2e, w.txtBezEll2,
                         w.txtsevenParSys, w.txtP1, w.txtP2, w.txtP3, w.txtP4, w.txtP5, w.txtP6,
                         w.txtP7, w.txtsevenParSys2, w.txtP2_1, w.txtP2_2, w.txtP2_3, w.txtP2_4,
                         w.txtP2_5, w.txtP2_6, w.txtP2_7}) {
      s << e->text();
    }
    ui::OptionsDialog& d = w.optionsDialog();
    for (QCheckBox* c : {d.chk_Sperre, d.chkExp, d.chkStat1, d.chkStat2}) s << QString::number(c->checkState());
    for (QComboBox* c : {d.comGKBM, d.comGKBM2, d.comUTMBM, d.comUTMBM2}) s << c->currentText();
    for (QLineEdit* e : {d.txtUTMma, d.txtUTMma2, d.txtINeasting, d.txtINmeridian, d.txtINnorthing,
                         d.txtINscale, d.txtOUTeasting, d.txtOUTmeridian, d.txtOUTnorthing,
                         d.txtOUTscale}) {
      s << e->text();
    }
    return s;
  }

  void Save(const std::string& name) {
    files->answers = {QPath(name)};
    form->M_EinstSp->trigger();
  }
  void Load(const std::string& name) {
    files->answers = {QPath(name)};
    form->M_EinstLa->trigger();
  }
};

TEST_F(FilesTest, SaveAndLoadRestoreEveryControl) {
  FillEverything();
  form->txtQuelldatei->setText(QStringLiteral("source.txt"));
  form->txtDX->setText(QStringLiteral("1"));
  const QStringList saved = Snapshot();
  Save("all.par");
  ASSERT_TRUE(messages->shown.empty()) << messages->shown.front().text.toStdString();
  EXPECT_EQ(files->shown.back().mode, CommonDialog::Mode::kSave);
  EXPECT_EQ(files->shown.back().filter, kParFilter);
  EXPECT_EQ(files->shown.back().filterIndex, 1);
  EXPECT_EQ(form->txtPAR->text(), QPath("all.par"));

  // The file: 64 lines ending in CR LF, option buttons as tokens, texts in
  // quotes exactly as typed.
  const std::string bytes = ReadBytes(Path("all.par"));
  const std::vector<std::string> lines = ReadLines(Path("all.par"));
  ASSERT_EQ(lines.size(), 64u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_EQ(lines[0], "#FALSE#");
  EXPECT_EQ(lines[1], "#TRUE#");
  EXPECT_EQ(lines[18], "\"6377397,155\"");
  EXPECT_EQ(lines[20], "\"Bessel 1841 (Müller)\"");
  EXPECT_EQ(lines[46], "1");   // chk_Sperre
  EXPECT_EQ(lines[55], "2");   // chkStat2 grey
  EXPECT_EQ(lines[50], "\"16\"");  // comUTMBM2

  // Change everything, then load: every control comes back.
  form->optSHP->click();
  form->optInKrovak->click();
  form->optOutGK->click();
  for (QLineEdit* e : form->centralWidget()->findChildren<QLineEdit*>()) e->setText(QStringLiteral("x"));
  form->optionsDialog().cmdCancel->click();  // a fresh dialog with the applied values
  files->setFileName(QString());
  Load("all.par");
  ASSERT_TRUE(messages->shown.empty()) << messages->shown.front().text.toStdString();
  EXPECT_EQ(files->shown.back().mode, CommonDialog::Mode::kOpen);
  EXPECT_EQ(files->shown.back().filter, kParFilter);
  EXPECT_EQ(Snapshot(), saved);
  EXPECT_EQ(form->txtPAR->text(), QPath("all.par"));
  // Not in the file: the file names and the translation stay as they were.
  EXPECT_EQ(form->txtQuelldatei->text(), "x");
  EXPECT_EQ(form->txtDX->text(), "x");
  // Load applied the options: table, lock and simple layout.
  const OptionTable& o = form->session().OptionValues;
  EXPECT_EQ(o[opt::kSperre], "1");
  EXPECT_EQ(o[opt::kGKBM2], "12");
  EXPECT_EQ(o[opt::kUTMma], "0,9996");
  EXPECT_EQ(o[opt::kStat2], "2");
  EXPECT_EQ(o[opt::kOUTscale], "0.5");
  EXPECT_TRUE(form->txtP1->isReadOnly());
  EXPECT_EQ(form->size(), ui::TwipsSize(10350, 2500));
  // The engine sees the loaded settings.
  EXPECT_EQ(form->session().settings.txtBezEll1, "Bessel 1841 (Müller)");
  EXPECT_TRUE(form->session().settings.optASCII);
}

TEST_F(FilesTest, ShortFileLoadsUpToItsEndAndReportsTheError) {
  FillEverything();
  Save("full.par");
  // A file with the first 35 lines: up to txtP4.
  std::string head;
  const std::vector<std::string> lines = ReadLines(Path("full.par"));
  for (int i = 0; i < 35; ++i) head += lines[static_cast<std::size_t>(i)] + "\r\n";
  WriteBytes(Path("short.par"), head);

  form->optSHP->click();
  form->txtEll1a->setText(QStringLiteral("old a"));
  form->txtP4->setText(QStringLiteral("old 4"));
  form->txtP5->setText(QStringLiteral("old 5"));
  const OptionTable optionsBefore = form->session().OptionValues;
  ui::OptionsDialog& d = form->optionsDialog();
  d.txtOUTscale->setText(QStringLiteral("7"));
  Load("short.par");

  ASSERT_EQ(messages->shown.size(), 1u);
  const auto& box = messages->shown.front();
  EXPECT_FALSE(box.question);
  EXPECT_EQ(box.text, "62   Fehler Beim Laden der Parameter Datei");
  EXPECT_TRUE(box.title.isEmpty());
  EXPECT_EQ(box.icon, MsgIcon::kExclamation);
  EXPECT_TRUE(box.detail.contains(QStringLiteral("36"))) << box.detail.toStdString();
  // Lines 1 to 35 are in the controls, the rest is as it was.
  EXPECT_TRUE(form->optASCII->isChecked());
  EXPECT_EQ(form->txtEll1a->text(), "6377397,155");
  EXPECT_EQ(form->txtP4->text(), "4.25");
  EXPECT_EQ(form->txtP5->text(), "old 5");
  EXPECT_EQ(form->txtPAR->text(), QPath("short.par"));
  // Apply did not run: the dialog keeps the unapplied edit, the table its
  // values.
  EXPECT_EQ(d.txtOUTscale->text(), "7");
  EXPECT_EQ(form->session().OptionValues, optionsBefore);
}

TEST_F(FilesTest, MissingFileAndCancelledDialog) {
  // Cancelled: nothing changes, no message.
  files->answers = {std::nullopt};
  form->M_EinstLa->trigger();
  EXPECT_TRUE(messages->shown.empty());
  EXPECT_EQ(form->txtPAR->text(), "no loaded Properties");
  files->answers = {std::nullopt};
  form->M_EinstSp->trigger();
  EXPECT_TRUE(messages->shown.empty());

  // A file that does not exist.
  Load("missing.par");
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text, "53   Fehler Beim Laden der Parameter Datei");
  EXPECT_EQ(form->txtPAR->text(), "no loaded Properties");

  // Saving into a folder that does not exist.
  files->answers = {QPath("no/such/folder/x.par")};
  form->M_EinstSp->trigger();
  ASSERT_EQ(messages->shown.size(), 2u);
  EXPECT_TRUE(messages->shown[1].text.endsWith(QStringLiteral("   Fehler Beim Speichern der Parameter Datei")));
  EXPECT_TRUE(messages->shown[1].title.isEmpty());
  EXPECT_EQ(messages->shown[1].icon, MsgIcon::kExclamation);
  EXPECT_EQ(form->txtPAR->text(), "no loaded Properties");
}

TEST_F(FilesTest, BothModeButtonsFalseLeaveTheLayoutAlone) {
  // Saved in the expert layout ...
  Save("expert.par");
  ui::OptionsDialog& d = form->optionsDialog();
  // ... now the simple layout, then neither mode selected.
  d.chkExp->setCheckState(Qt::Unchecked);
  d.cmdApply->click();
  ASSERT_EQ(form->size(), ui::TwipsSize(10350, 2500));
  Form1::setOption(d.optSevPar, false);
  ASSERT_FALSE(d.optSevPar->isChecked());
  ASSERT_FALSE(d.optTranslation->isChecked());
  Load("expert.par");
  EXPECT_TRUE(messages->shown.empty());
  // "Expert" is back in the dialog and stored, but the layout stays.
  EXPECT_EQ(d.chkExp->checkState(), Qt::Checked);
  EXPECT_EQ(form->session().OptionValues[opt::kExp], "1");
  EXPECT_EQ(form->session().OptionValues[opt::kSevPar], "False");
  EXPECT_EQ(form->session().OptionValues[opt::kTranslation], "False");
  EXPECT_EQ(form->size(), ui::TwipsSize(10350, 2500));
  EXPECT_FALSE(form->frmTrans1->isVisibleTo(form.get()));
}

TEST_F(FilesTest, ProjectionGroupsCanBeLoadedWithNoneSelected) {
  Save("base.par");
  std::vector<std::string> lines = ReadLines(Path("base.par"));
  for (int i : {0, 1, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15}) lines[static_cast<std::size_t>(i)] = "#FALSE#";
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  WriteBytes(Path("none.par"), text);
  Load("none.par");
  EXPECT_TRUE(messages->shown.empty());
  for (QRadioButton* b : form->centralWidget()->findChildren<QRadioButton*>()) {
    EXPECT_FALSE(b->isChecked()) << b->objectName().toStdString();
  }
  EXPECT_FALSE(form->session().settings.optSHP);
  EXPECT_FALSE(form->session().settings.optASCII);
  // The groups work again on the next click.
  form->optInBL->click();
  form->optInGK->click();
  EXPECT_FALSE(form->optInBL->isChecked());
}

TEST_F(FilesTest, ProposedNameIsTheLastOneChosen) {
  files->answers = {QPath("data.txt")};
  form->oeffnen->click();
  Save("a.par");
  EXPECT_EQ(files->shown.back().proposedName, QPath("data.txt"));
  Load("a.par");
  EXPECT_EQ(files->shown.back().proposedName, QPath("a.par"));
}

// ---------------------------------------------------------------- Parameter buttons

TEST_F(FilesTest, EllipsoidButtonsFillTheirGroupOnly) {
  WriteBytes(Path("bessel.ell"), "\"Bessel 1841\",6377397.155,0.0816968312225275\r\n");
  WriteBytes(Path("grs.ell"), "GRS 1980\r\n6378137\r\n0.0818191910428158\r\n");
  files->answers = {QPath("bessel.ell"), QPath("grs.ell")};
  form->cmdEll1->click();
  EXPECT_EQ(files->shown.back().filter, kEllFilter);
  EXPECT_EQ(files->shown.back().filterIndex, 1);
  EXPECT_EQ(files->shown.back().mode, CommonDialog::Mode::kOpen);
  EXPECT_EQ(form->txtBezEll1->text(), "Bessel 1841");
  EXPECT_EQ(form->txtEll1a->text(), "6377397.155");
  EXPECT_EQ(form->txtEll1e->text(), "0.0816968312225275");
  EXPECT_EQ(form->txtEll2a->text(), "0");
  EXPECT_EQ(form->txtBezEll2->text(), "0");
  form->cmdEll2->click();
  EXPECT_EQ(form->txtBezEll2->text(), "GRS 1980");
  EXPECT_EQ(form->txtEll2a->text(), "6378137");
  EXPECT_EQ(form->txtEll2e->text(), "0.0818191910428158");
  EXPECT_EQ(form->txtEll1a->text(), "6377397.155");
  EXPECT_EQ(form->txtPAR->text(), "no loaded Properties");
  EXPECT_EQ(form->session().settings.txtEll2a, "6378137");
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(FilesTest, SevenParameterButtonsFillTheirSetOnly) {
  WriteBytes(Path("one.7pr"), "\"First\",598.1,73.7,418.2,6.7,-0.202,-0.045,2.455\r\n");
  WriteBytes(Path("two.7pr"), "Second\r\n-1\r\n-2\r\n-3\r\n0.5\r\n1e-3\r\n0\r\n7\r\n");
  files->answers = {QPath("two.7pr"), QPath("one.7pr")};
  form->cmdSevenPar2->click();
  EXPECT_EQ(files->shown.back().filter, kSevenParFilter);
  EXPECT_EQ(files->shown.back().filterIndex, 1);
  EXPECT_EQ(form->txtsevenParSys2->text(), "Second");
  const QStringList second = {"-1", "-2", "-3", "0.5", "0.001", "0", "7"};
  const QLineEdit* set2[] = {form->txtP2_1, form->txtP2_2, form->txtP2_3, form->txtP2_4,
                             form->txtP2_5, form->txtP2_6, form->txtP2_7};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(set2[i]->text(), second[i]) << i;
  EXPECT_EQ(form->txtsevenParSys->text(), "no Transformation");
  EXPECT_EQ(form->txtP1->text(), "0");
  EXPECT_EQ(form->txtEll1a->text(), "0");

  form->cmdSevenPar1->click();
  const QStringList first = {"598.1", "73.7", "418.2", "6.7", "-0.202", "-0.045", "2.455"};
  const QLineEdit* set1[] = {form->txtP1, form->txtP2, form->txtP3, form->txtP4,
                             form->txtP5, form->txtP6, form->txtP7};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(set1[i]->text(), first[i]) << i;
  EXPECT_EQ(form->txtsevenParSys->text(), "First");
  EXPECT_EQ(form->txtP2_1->text(), "-1");
}

TEST_F(FilesTest, UnreadableParameterFilesChangeNothing) {
  WriteBytes(Path("two.ell"), "\"Only two\",6378137\r\n");
  WriteBytes(Path("bad.7pr"), "Bad,1,2,3,vier,5,6,7\r\n");
  form->txtEll1a->setText(QStringLiteral("a"));
  files->answers = {QPath("two.ell"), QPath("bad.7pr"), QPath("missing.ell"), std::nullopt};
  form->cmdEll1->click();
  form->cmdSevenPar1->click();
  form->cmdEll2->click();
  form->cmdSevenPar2->click();
  EXPECT_EQ(form->txtEll1a->text(), "a");
  EXPECT_EQ(form->txtBezEll1->text(), "0");
  EXPECT_EQ(form->txtsevenParSys->text(), "no Transformation");
  EXPECT_EQ(form->txtP4->text(), "0");
  EXPECT_EQ(form->txtBezEll2->text(), "0");
  EXPECT_TRUE(messages->shown.empty());
}

TEST_F(FilesTest, ShippedLibraryLoadsThroughTheButtons) {
  const QDir data(QStringLiteral(PELMO_SOURCE_DIR "/data"));
  const QStringList ells = data.entryList({QStringLiteral("*.ell")}, QDir::Files);
  const QStringList sets = data.entryList({QStringLiteral("*.7pr")}, QDir::Files);
  ASSERT_GE(ells.size(), 5);
  ASSERT_GE(sets.size(), 8);
  for (const QString& name : ells) {
    form->txtBezEll1->setText(QStringLiteral("?"));
    files->answers = {data.filePath(name)};
    form->cmdEll1->click();
    EXPECT_NE(form->txtBezEll1->text(), "?") << name.toStdString();
    bool ok = false;
    const double a = form->txtEll1a->text().toDouble(&ok);
    EXPECT_TRUE(ok && a > 6370000 && a < 6380000) << name.toStdString();
  }
  for (const QString& name : sets) {
    form->txtsevenParSys2->setText(QStringLiteral("?"));
    files->answers = {data.filePath(name)};
    form->cmdSevenPar2->click();
    EXPECT_NE(form->txtsevenParSys2->text(), "?") << name.toStdString();
  }
}

TEST(DecimalComma, NumbersAppearWithTheUsersDecimalSign) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  QTemporaryDir tmp;
  auto files = std::make_unique<ScriptedFileDialog>();
  ScriptedFileDialog* f = files.get();
  Form1 w(std::move(files), std::make_unique<ScriptedMessages>());
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(w.session().decimalSign(), ',');
  EXPECT_EQ(w.session().OptionValues[opt::kUTMma], "0,9996");
  EXPECT_EQ(w.optionsDialog().txtUTMma->text(), "0,9996");
  const std::string path = (tmp.path() + QStringLiteral("/b.ell")).toStdString();
  WriteBytes(path, "Bessel,6377397.155,0.0816968312225275\r\n");
  f->answers = {QString::fromStdString(path)};
  w.cmdEll1->click();
  EXPECT_EQ(w.txtEll1a->text(), "6377397,155");
  EXPECT_EQ(w.txtEll1e->text(), "0,0816968312225275");
  // A fractional meridian index too.
  w.optionsDialog().comUTMBM->setCurrentText(QStringLiteral("16"));
  EXPECT_EQ(w.optionsDialog().txtUTMkenn->text(), "33,1666666666667");
}

}  // namespace
}  // namespace pelmo::uitest
