// The window side of the parameter files: Save and Load Properties through
// the shared file dialog, the load error, and the four "Parameter" buttons.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

const QString kParFilter = QStringLiteral("Einstellungen (*.par)|*.par|Alle Dateien (*.*)|*.*|");

class FilesTest : public WindowTest {
 protected:
  /// Gives every control that a properties file holds a value that differs
  /// from its start value.
  void FillEverything() {
    Form1& w = *form;
    w.optASCII->click();
    w.optINGKallgemein->click();
    w.optOutBL->click();
    const std::pair<QLineEdit*, const char*> texts[] = {
        {w.txtEll1a, "6377397,155"},  // a comma stays a comma
        {w.txtEll1e, "0.0816968312225275"}, {w.txtBezEll1, "Bessel 1841 (Müller)"},
        {w.txtEll2a, "6378137"}, {w.txtEll2e, "0.0818191910428158"}, {w.txtBezEll2, "GRS 1980"},
        {w.txtsevenParSys, "Satz A, mit Komma"}, {w.txtsevenParSys2, "Satz B"}};
    for (const auto& [e, text] : texts) e->setText(QString::fromUtf8(text));
    int i = 0;
    for (QLineEdit* e : {w.txtP1, w.txtP2, w.txtP3, w.txtP4, w.txtP5, w.txtP6, w.txtP7, w.txtP2_1,
                         w.txtP2_2, w.txtP2_3, w.txtP2_4, w.txtP2_5, w.txtP2_6, w.txtP2_7}) {
      e->setText(QStringLiteral("%1.25").arg(++i));
    }
    ui::OptionsDialog& d = Dlg();
    d.chk_Sperre->setCheckState(Qt::Checked);
    d.chkExp->setCheckState(Qt::Unchecked);
    d.chkStat1->setCheckState(Qt::Checked);
    d.chkStat2->setCheckState(Qt::PartiallyChecked);
    const std::pair<QComboBox*, const char*> meridians[] = {
        {d.comGKBM, "9"}, {d.comGKBM2, "12"}, {d.comUTMBM, "-3"}, {d.comUTMBM2, "16"}};
    for (const auto& [c, text] : meridians) c->setCurrentText(QString::fromLatin1(text));
    const std::pair<QLineEdit*, const char*> options[] = {
        {d.txtUTMma, "0,9996"}, {d.txtUTMma2, "1"}, {d.txtINeasting, "500000"},
        {d.txtINmeridian, "21"}, {d.txtINnorthing, "-5000000"}, {d.txtINscale, "0.9999"},
        {d.txtOUTeasting, "7500000"}, {d.txtOUTmeridian, "9"}, {d.txtOUTnorthing, "1000"},
        {d.txtOUTscale, "0.5"}};
    for (const auto& [e, text] : options) e->setText(QString::fromLatin1(text));
  }

  /// Every control of the main window and the options dialog but those a
  /// properties file leaves alone, as "name=value".
  QStringList Snapshot() {
    const QStringList notInFile = {"txtQuelldatei", "txtZielDatei", "txtPAR", "txtDX", "txtDY", "txtDH"};
    QList<QWidget*> controls = form->centralWidget()->findChildren<QWidget*>();
    controls += Dlg().findChildren<QWidget*>();
    QStringList s;
    for (QWidget* w : controls) {
      if (notInFile.contains(w->objectName())) continue;
      QString value;
      if (auto* c = qobject_cast<QCheckBox*>(w)) value = QString::number(c->checkState());
      else if (auto* b = qobject_cast<QRadioButton*>(w)) value = b->isChecked() ? "1" : "0";
      else if (auto* e = qobject_cast<QLineEdit*>(w)) value = e->text();
      else if (auto* c = qobject_cast<QComboBox*>(w)) value = c->currentText();
      else continue;
      s << w->objectName() + QLatin1Char('=') + value;
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
  const QStringList saved = Snapshot();
  Save("all.par");
  ASSERT_TRUE(messages->shown.empty()) << messages->first();
  EXPECT_EQ(files->shown.back().mode, CommonDialog::Mode::kSave);
  EXPECT_EQ(files->shown.back().filter, kParFilter);
  EXPECT_EQ(files->shown.back().filterIndex, 1);
  EXPECT_EQ(form->txtPAR->text(), QPath("all.par"));

  // 64 lines ending in CR LF, option buttons as tokens, texts in quotes
  // exactly as typed.
  const std::string bytes = ReadBytes(Path("all.par"));
  const std::vector<std::string> lines = ReadLines(Path("all.par"));
  ASSERT_EQ(lines.size(), 64u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_EQ(lines[0], "#FALSE#");
  EXPECT_EQ(lines[1], "#TRUE#");
  EXPECT_EQ(lines[18], "\"6377397,155\"");
  EXPECT_EQ(lines[20], "\"Bessel 1841 (Müller)\"");
  EXPECT_EQ(lines[46], "1");       // chk_Sperre
  EXPECT_EQ(lines[50], "\"16\"");  // comUTMBM2
  EXPECT_EQ(lines[55], "2");       // chkStat2 grey

  // Change everything, then load: every control comes back.
  form->optSHP->click();
  form->optInKrovak->click();
  form->optOutGK->click();
  for (QLineEdit* e : form->centralWidget()->findChildren<QLineEdit*>()) e->setText(QStringLiteral("x"));
  Dlg().cmdCancel->click();  // a new dialog with the applied (start) values
  files->setFileName(QString());
  Load("all.par");
  ASSERT_TRUE(messages->shown.empty()) << messages->first();
  EXPECT_EQ(files->shown.back().mode, CommonDialog::Mode::kOpen);
  EXPECT_EQ(files->shown.back().filter, kParFilter);
  EXPECT_EQ(Snapshot(), saved);
  EXPECT_EQ(form->txtPAR->text(), QPath("all.par"));
  // Not in the file: the file names and the translation stay as they were.
  EXPECT_EQ(form->txtQuelldatei->text(), "x");
  EXPECT_EQ(form->txtDX->text(), "x");
  // Load applied the options: table, lock and simple layout.
  EXPECT_EQ(form->session().OptionValues, Dlg().controlValues());
  EXPECT_EQ(form->session().OptionValues[opt::kUTMma], "0,9996");
  EXPECT_TRUE(form->txtP1->isReadOnly());
  EXPECT_EQ(form->size(), TwipsSize(10350, 2500));
  EXPECT_EQ(form->session().settings.txtBezEll1, "Bessel 1841 (Müller)");
  EXPECT_TRUE(form->session().settings.optASCII);
}

TEST_F(FilesTest, LoadAndSaveErrors) {
  FillEverything();
  Save("full.par");
  std::vector<std::string> lines = ReadLines(Path("full.par"));
  lines.resize(35);  // up to txtP4
  WriteLines(Path("short.par"), lines);

  form->optSHP->click();
  form->txtEll1a->setText(QStringLiteral("old a"));
  form->txtP4->setText(QStringLiteral("old 4"));
  form->txtP5->setText(QStringLiteral("old 5"));
  const OptionTable optionsBefore = form->session().OptionValues;
  Dlg().txtOUTscale->setText(QStringLiteral("7"));
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
  EXPECT_EQ(Dlg().txtOUTscale->text(), "7");
  EXPECT_EQ(form->session().OptionValues, optionsBefore);

  // A file that does not exist, a folder that does not exist.
  messages->shown.clear();
  Load("missing.par");
  Save("no/such/folder/x.par");
  ASSERT_EQ(messages->shown.size(), 2u);
  EXPECT_EQ(messages->shown[0].text, "53   Fehler Beim Laden der Parameter Datei");
  EXPECT_TRUE(messages->shown[1].text.endsWith(QStringLiteral("   Fehler Beim Speichern der Parameter Datei")));
  EXPECT_TRUE(messages->shown[1].title.isEmpty());
  EXPECT_EQ(messages->shown[1].icon, MsgIcon::kExclamation);
  EXPECT_EQ(form->txtPAR->text(), QPath("short.par"));
}

TEST_F(FilesTest, BothModeButtonsFalseLeaveTheLayoutAlone) {
  Save("expert.par");  // in the expert layout
  ui::OptionsDialog& d = Dlg();
  d.chkExp->setCheckState(Qt::Unchecked);
  d.cmdApply->click();
  ASSERT_EQ(form->size(), TwipsSize(10350, 2500));
  Form1::setOption(d.optSevPar, false);
  ASSERT_FALSE(d.optSevPar->isChecked());
  ASSERT_FALSE(d.optTranslation->isChecked());
  Load("expert.par");
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
  // "Expert" is back in the dialog and stored, but the layout stays.
  EXPECT_EQ(d.chkExp->checkState(), Qt::Checked);
  EXPECT_EQ(form->session().OptionValues[opt::kExp], "1");
  EXPECT_EQ(form->session().OptionValues[opt::kSevPar], "False");
  EXPECT_EQ(form->session().OptionValues[opt::kTranslation], "False");
  EXPECT_EQ(form->size(), TwipsSize(10350, 2500));
  EXPECT_FALSE(Shown(form->frmTrans1));
}

TEST_F(FilesTest, OptionGroupsCanBeLoadedWithNoneSelected) {
  Save("base.par");
  std::vector<std::string> lines = ReadLines(Path("base.par"));
  for (std::size_t i : {0, 1, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15}) lines[i] = "#FALSE#";
  WriteLines(Path("none.par"), lines);
  Load("none.par");
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
  for (QRadioButton* b : form->centralWidget()->findChildren<QRadioButton*>()) {
    EXPECT_FALSE(b->isChecked()) << b->objectName().toStdString();
  }
  EXPECT_FALSE(form->session().settings.optSHP);
  EXPECT_FALSE(form->session().settings.optASCII);
  // The groups work as groups again on the next clicks, each on its own;
  // a click on the selected button keeps it selected.
  form->optInBL->click();
  form->optInGK->click();
  EXPECT_FALSE(form->optInBL->isChecked());
  form->optSHP->click();
  form->optASCII->click();
  form->optASCII->click();
  EXPECT_TRUE(form->optASCII->isChecked());
  EXPECT_FALSE(form->optSHP->isChecked());
  EXPECT_TRUE(form->optInGK->isChecked());
  EXPECT_FALSE(form->optOutGK->isChecked());
}

// ---------------------------------------------------------------- Parameter buttons

TEST_F(FilesTest, ParameterButtonsFillTheirGroupOnly) {
  Form1& w = *form;
  const QString ell = QStringLiteral(
      "Ellipsoid-Parameter (*.ell)|*.ell|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|");
  const QString sevenPar = QStringLiteral(
      "Ellipsoid-Parameter (*.7pr)|*.7pr|Alle Dateien (*.*)|*.*| Textdateien (*.txt)|*.txt|"
      "Verschiebungsgitter (*.gsb;*.tif)|*.gsb;*.tif|");
  const struct {
    QPushButton* button;
    const char* file;
    const char* contents;  // one comma-separated line, or a value a line
    QString filter;
    std::vector<QLineEdit*> fields;
    std::vector<const char*> values;
  } cases[] = {
      {w.cmdEll1, "bessel.ell", "\"Bessel 1841\",6377397.155,0.0816968312225275\r\n", ell,
       {w.txtBezEll1, w.txtEll1a, w.txtEll1e}, {"Bessel 1841", "6377397.155", "0.0816968312225275"}},
      {w.cmdEll2, "grs.ell", "GRS 1980\r\n6378137\r\n0.0818191910428158\r\n", ell,
       {w.txtBezEll2, w.txtEll2a, w.txtEll2e}, {"GRS 1980", "6378137", "0.0818191910428158"}},
      {w.cmdSevenPar2, "two.7pr", "Second\r\n-1\r\n-2\r\n-3\r\n0.5\r\n1e-3\r\n0\r\n7\r\n", sevenPar,
       {w.txtsevenParSys2, w.txtP2_1, w.txtP2_2, w.txtP2_3, w.txtP2_4, w.txtP2_5, w.txtP2_6, w.txtP2_7},
       {"Second", "-1", "-2", "-3", "0.5", "0.001", "0", "7"}},
      {w.cmdSevenPar1, "one.7pr", "\"First\",598.1,73.7,418.2,6.7,-0.202,-0.045,2.455\r\n", sevenPar,
       {w.txtsevenParSys, w.txtP1, w.txtP2, w.txtP3, w.txtP4, w.txtP5, w.txtP6, w.txtP7},
       {"First", "598.1", "73.7", "418.2", "6.7", "-0.202", "-0.045", "2.455"}},
      // Unreadable files change nothing, silently.
      {w.cmdEll1, "two.ell", "\"Only two\",6378137\r\n", ell, {}, {}},
      {w.cmdSevenPar2, "bad.7pr", "Bad,1,2,3,vier,5,6,7\r\n", sevenPar, {}, {}},
      {w.cmdEll2, "empty.ell", "", ell, {}, {}},
  };
  const QList<QLineEdit*> all = w.centralWidget()->findChildren<QLineEdit*>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    QStringList before;
    for (QLineEdit* e : all) before << e->text();
    WriteBytes(Path(c.file), c.contents);
    files->answers = {QPath(c.file)};
    c.button->click();
    EXPECT_EQ(files->shown.back().mode, CommonDialog::Mode::kOpen);
    EXPECT_EQ(files->shown.back().filter, c.filter);
    EXPECT_EQ(files->shown.back().filterIndex, 1);
    for (qsizetype i = 0; i < all.size(); ++i) {
      const auto field = std::find(c.fields.begin(), c.fields.end(), all[i]);
      const QString expected = field == c.fields.end()
                                   ? before[i]
                                   : QString::fromLatin1(c.values[std::size_t(field - c.fields.begin())]);
      EXPECT_EQ(all[i]->text(), expected) << all[i]->objectName().toStdString();
    }
  }
  EXPECT_EQ(w.session().settings.txtEll2a, "6378137");
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
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
  w.optionsDialog().comUTMBM->setCurrentText(QStringLiteral("16"));
  EXPECT_EQ(w.optionsDialog().txtUTMkenn->text(), "33,1666666666667");
}

}  // namespace
}  // namespace pelmo::uitest
