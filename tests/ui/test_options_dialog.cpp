// The options dialog: Apply and the three layouts of the main window, the
// lock of the main window's fields, the meridian index fields, Cancel, OK,
// Escape, the tab strip and Ctrl+Tab.

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>

#include "ui/look.hpp"
#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

using ui::OptionsDialog;
using ui::TwipsRect;
using ui::TwipsSize;
using ui::TwipsX;
using ui::TwipsY;

QPoint TwipsPos(int left, int top) { return QPoint(TwipsX(left), TwipsY(top)); }

class OptionsTest : public WindowTest {
 protected:
  OptionsDialog& Dlg() { return form->optionsDialog(); }
  /// The eight controls that only the expert layout shows.
  std::vector<QWidget*> ExpertOnly() {
    return {form->frmTrans1, form->frmTrans2, form->frmEll1, form->frmEll2,
            form->frmAbb1,   form->frmAbb2,   form->frmFiletyp, form->txtDateien};
  }
  bool Shown(QWidget* w) { return w->isVisibleTo(form.get()); }
};

TEST_F(OptionsTest, DialogWindowAndControls) {
  OptionsDialog& d = Dlg();
  EXPECT_EQ(d.windowTitle(), "Optionen");
  EXPECT_FALSE(d.isModal());
  EXPECT_EQ(d.size(), TwipsSize(6135, 4905));
  EXPECT_EQ(d.cmdOK->geometry(), TwipsRect(2520, 4455, 1095, 375));
  EXPECT_EQ(d.cmdCancel->geometry(), TwipsRect(3720, 4455, 1095, 375));
  EXPECT_EQ(d.cmdApply->geometry(), TwipsRect(4920, 4455, 1095, 375));
  EXPECT_EQ(d.tbsOptions->geometry().topLeft(), TwipsPos(120, 120));
  EXPECT_EQ(d.tbsOptions->width(), TwipsX(5895));
  EXPECT_EQ(d.chk_Sperre->text(), "diable direct input at textfields");
  EXPECT_EQ(d.chk_Sperre->geometry(), TwipsRect(360, 360, 2055, 615));
  EXPECT_EQ(d.chkStat1->text(), "show upper Progressbar (slower)");
  EXPECT_EQ(d.chkStat2->text(), "show lower Progressbar (slower)");
  EXPECT_EQ(d.optSevPar->text(), "7 Parameter Transformation");
  EXPECT_EQ(d.optSevPar->geometry(), TwipsRect(360, 360, 1575, 375));
  EXPECT_EQ(d.optTranslation->text(), "Translation");
  EXPECT_EQ(d.chkExp->text(), "Expert");
  EXPECT_EQ(d.Frame1->title(), "Modus");
  EXPECT_EQ(d.fraSample1->title(), "General Options");
  EXPECT_EQ(d.fraSample2->title(), "Gauss Kruger Projection");
  EXPECT_EQ(d.fraSample3->title(), "UTM Projection");
  EXPECT_EQ(d.fraSample4->title(), "general Gauss Projection");
  EXPECT_EQ(d.comGKBM->geometry(), TwipsRect(120, 720, 735, 315));
  EXPECT_EQ(d.txtMkenn->geometry(), TwipsRect(3600, 720, 735, 285));
  EXPECT_EQ(d.comUTMBM2->geometry(), TwipsRect(120, 480, 735, 315));
  EXPECT_EQ(d.txtUTMma->geometry(), TwipsRect(1440, 960, 2175, 285));
  EXPECT_EQ(d.txtOUTscale->geometry(), TwipsRect(2760, 1080, 1935, 285));
  // The check boxes know three states.
  d.chkStat2->setCheckState(Qt::PartiallyChecked);
  EXPECT_EQ(d.chkStat2->checkState(), Qt::PartiallyChecked);
  // Combo boxes: editable, with their lists.
  EXPECT_TRUE(d.comGKBM->isEditable());
  EXPECT_EQ(d.comGKBM->count(), 3);
  EXPECT_EQ(d.comGKBM2->itemText(0), "9");
  EXPECT_EQ(d.comGKBM2->itemText(2), "15");
  ASSERT_EQ(d.comUTMBM->count(), 60);
  EXPECT_EQ(d.comUTMBM->itemText(0), "-177");
  EXPECT_EQ(d.comUTMBM->itemText(29), "-3");
  EXPECT_EQ(d.comUTMBM->itemText(30), "3");
  EXPECT_EQ(d.comUTMBM2->itemText(59), "177");
  for (QLineEdit* e : {d.txtMkenn, d.txtMkenn2, d.txtUTMkenn, d.txtUTMkenn2}) {
    EXPECT_TRUE(e->isReadOnly()) << e->objectName().toStdString();
  }
  // Filled from the option table.
  EXPECT_EQ(d.comGKBM->currentText(), "15");
  EXPECT_EQ(d.txtMkenn->text(), "5");
  EXPECT_EQ(d.txtUTMkenn2->text(), "33");
  EXPECT_EQ(d.txtUTMma2->text(), "0.9996");
  EXPECT_EQ(d.txtINeasting->text(), "5500000");
  EXPECT_TRUE(d.optSevPar->isChecked());
  EXPECT_EQ(d.chkExp->checkState(), Qt::Checked);
}

TEST_F(OptionsTest, SimpleLayoutAndBackToExpert) {
  OptionsDialog& d = Dlg();
  d.chkExp->click();
  ASSERT_EQ(d.chkExp->checkState(), Qt::Unchecked);
  d.cmdApply->click();
  EXPECT_EQ(form->size(), TwipsSize(10350, 2500));
  for (QWidget* w : ExpertOnly()) EXPECT_FALSE(Shown(w)) << w->objectName().toStdString();
  EXPECT_FALSE(Shown(form->frmTranslation));
  EXPECT_TRUE(Shown(form->Frame1));
  EXPECT_TRUE(Shown(form->cmdStart));
  EXPECT_TRUE(Shown(form->txtQuelldatei));
  EXPECT_EQ(form->txtZielDatei->pos(), TwipsPos(1440, 600));
  EXPECT_EQ(form->speichern->pos(), TwipsPos(120, 600));
  EXPECT_EQ(form->cmdStart->pos(), TwipsPos(6960, 1100));
  EXPECT_EQ(form->session().OptionValues[opt::kExp], "0");
  // The dialog stays open after Apply.
  EXPECT_EQ(form->existingOptionsDialog(), &d);

  d.chkExp->click();
  d.cmdApply->click();
  EXPECT_EQ(form->size(), TwipsSize(10350, 7335));
  for (QWidget* w : ExpertOnly()) EXPECT_TRUE(Shown(w)) << w->objectName().toStdString();
  EXPECT_EQ(form->txtZielDatei->pos(), TwipsPos(1440, 5400));
  EXPECT_EQ(form->speichern->pos(), TwipsPos(120, 5400));
  EXPECT_EQ(form->cmdStart->pos(), TwipsPos(6960, 5040));
  EXPECT_EQ(form->frmFiletyp->pos(), TwipsPos(4680, 480));
}

TEST_F(OptionsTest, TranslationLayout) {
  OptionsDialog& d = Dlg();
  d.optTranslation->click();
  EXPECT_FALSE(d.optSevPar->isChecked());
  // Nothing happens before Apply.
  EXPECT_EQ(form->size(), TwipsSize(10350, 7335));
  EXPECT_TRUE(form->session().settings.optSevPar);
  d.cmdApply->click();
  EXPECT_EQ(form->size(), TwipsSize(10350, 3500));
  EXPECT_TRUE(Shown(form->frmTranslation));
  for (QWidget* w : {form->frmTrans1, form->frmTrans2, form->frmEll1, form->frmEll2,
                     form->frmAbb1, form->frmAbb2}) {
    EXPECT_FALSE(Shown(w)) << w->objectName().toStdString();
  }
  EXPECT_TRUE(Shown(form->frmFiletyp));
  EXPECT_EQ(form->frmFiletyp->pos(), TwipsPos(120, 2100));
  EXPECT_EQ(form->cmdStart->pos(), TwipsPos(6960, 2100));
  EXPECT_EQ(form->txtZielDatei->pos(), TwipsPos(1440, 600));
  EXPECT_EQ(form->speichern->pos(), TwipsPos(120, 600));
  EXPECT_TRUE(form->session().settings.optTranslation);
  EXPECT_FALSE(form->session().settings.optSevPar);
  EXPECT_EQ(form->session().OptionValues[opt::kSevPar], "False");
  EXPECT_EQ(form->session().OptionValues[opt::kTranslation], "True");

  // Back to the seven-parameter expert layout: the file-type frame returns
  // to its place.
  d.optSevPar->click();
  d.cmdApply->click();
  EXPECT_EQ(form->size(), TwipsSize(10350, 7335));
  EXPECT_FALSE(Shown(form->frmTranslation));
  EXPECT_EQ(form->frmFiletyp->pos(), TwipsPos(4680, 480));
}

TEST_F(OptionsTest, TranslationLeavesFileTypeAndLogAsTheSimpleLayoutLeftThem) {
  OptionsDialog& d = Dlg();
  d.chkExp->click();
  d.cmdApply->click();
  d.optTranslation->click();
  d.cmdApply->click();
  EXPECT_EQ(form->size(), TwipsSize(10350, 3500));
  EXPECT_FALSE(Shown(form->frmFiletyp));
  EXPECT_FALSE(Shown(form->txtDateien));
  EXPECT_TRUE(Shown(form->frmTranslation));
}

TEST_F(OptionsTest, LockStopsTypingButNotTheParameterButtons) {
  OptionsDialog& d = Dlg();
  d.chk_Sperre->click();
  d.cmdApply->click();
  EXPECT_EQ(form->session().OptionValues[opt::kSperre], "1");
  form->show();
  QTest::keyClicks(form->txtP1, "123");
  EXPECT_EQ(form->txtP1->text(), "0");
  QTest::keyClicks(form->txtQuelldatei, "abc");
  EXPECT_TRUE(form->txtQuelldatei->text().isEmpty());
  // The 24 locked fields; the translation fields stay open.
  int locked = 0;
  for (QLineEdit* e : form->centralWidget()->findChildren<QLineEdit*>()) {
    if (e->isReadOnly() && e != form->txtPAR) ++locked;
  }
  EXPECT_EQ(locked, 24);
  EXPECT_FALSE(form->txtDX->isReadOnly());
  QTest::keyClicks(form->txtDX, "5");
  EXPECT_EQ(form->txtDX->text(), "05");

  // A parameter file and the file dialogs still fill locked fields.
  WriteBytes(Path("set.7pr"), "\"Test set\",1.5,-2,3,4.25,0.5,-0.75,1\r\n");
  files->answers = {QPath("set.7pr"), QPath("source.shp")};
  form->cmdSevenPar1->click();
  form->oeffnen->click();
  EXPECT_EQ(form->txtP1->text(), "1.5");
  EXPECT_EQ(form->txtP7->text(), "1");
  EXPECT_EQ(form->txtsevenParSys->text(), "Test set");
  EXPECT_EQ(form->txtQuelldatei->text(), QPath("source.shp"));

  // Unlocked again, typing works.
  d.chk_Sperre->click();
  d.cmdApply->click();
  form->txtP1->clear();
  QTest::keyClicks(form->txtP1, "7");
  EXPECT_EQ(form->txtP1->text(), "7");
}

TEST_F(OptionsTest, MeridianIndexFields) {
  OptionsDialog& d = Dlg();
  d.comUTMBM->setCurrentIndex(d.comUTMBM->findText("177"));
  EXPECT_EQ(d.txtUTMkenn->text(), "60");
  d.comUTMBM->setCurrentIndex(d.comUTMBM->findText("-177"));
  EXPECT_EQ(d.txtUTMkenn->text(), "1");
  d.comUTMBM2->setCurrentIndex(d.comUTMBM2->findText("9"));
  EXPECT_EQ(d.txtUTMkenn2->text(), "32");
  d.comGKBM->setCurrentIndex(d.comGKBM->findText("9"));
  EXPECT_EQ(d.txtMkenn->text(), "3");
  d.comGKBM2->setCurrentIndex(d.comGKBM2->findText("12"));
  EXPECT_EQ(d.txtMkenn2->text(), "4");

  // Typed values between the list values give fractional indices.
  d.show();
  d.selectTab(3);
  d.comUTMBM->lineEdit()->clear();
  QTest::keyClicks(d.comUTMBM->lineEdit(), "16");
  EXPECT_EQ(d.txtUTMkenn->text(), "33.1666666666667");
  d.selectTab(2);
  d.comGKBM->lineEdit()->clear();
  QTest::keyClicks(d.comGKBM->lineEdit(), "10");
  EXPECT_EQ(d.txtMkenn->text(), "3.33333333333333");

  // A text that is no number clears the index and leaves the options alone.
  const OptionTable before = form->session().OptionValues;
  QTest::keyClicks(d.comGKBM->lineEdit(), "x");
  EXPECT_EQ(d.comGKBM->currentText(), "10x");
  EXPECT_TRUE(d.txtMkenn->text().isEmpty());
  d.comUTMBM2->lineEdit()->clear();
  EXPECT_TRUE(d.txtUTMkenn2->text().isEmpty());
  EXPECT_EQ(form->session().OptionValues, before);
  // Apply stores the texts as typed.
  d.cmdApply->click();
  EXPECT_EQ(form->session().OptionValues[opt::kGKBM], "10x");
  EXPECT_EQ(form->session().OptionValues[opt::kUTMBM2], "");
  EXPECT_EQ(form->session().OptionValues[opt::kUTMBM], "16");
}

TEST_F(OptionsTest, CancelDiscardsEditsAndTheDialog) {
  form->M_option->trigger();
  OptionsDialog* d = form->existingOptionsDialog();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  d->txtUTMma->setText(QStringLiteral("0.5"));
  d->chkStat1->click();
  d->cmdCancel->click();
  EXPECT_EQ(form->existingOptionsDialog(), nullptr);
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(form->session().OptionValues[opt::kUTMma], "0.9996");
  EXPECT_EQ(form->session().OptionValues[opt::kStat1], "0");
  // Opened again, the dialog shows the last applied values.
  form->M_option->trigger();
  OptionsDialog* again = form->existingOptionsDialog();
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->isVisible());
  EXPECT_EQ(again->txtUTMma->text(), "0.9996");
  EXPECT_EQ(again->chkStat1->checkState(), Qt::Unchecked);
}

TEST_F(OptionsTest, EscapeAndTheCloseBoxCancel) {
  form->M_option->trigger();
  OptionsDialog* d = form->existingOptionsDialog();
  d->txtINscale->setText(QStringLiteral("2"));
  QTest::keyClick(d->txtINscale, Qt::Key_Escape);
  EXPECT_EQ(form->existingOptionsDialog(), nullptr);
  EXPECT_EQ(form->session().OptionValues[opt::kINscale], "1");

  form->M_option->trigger();
  d = form->existingOptionsDialog();
  d->txtINscale->setText(QStringLiteral("3"));
  d->close();
  EXPECT_EQ(form->existingOptionsDialog(), nullptr);
  EXPECT_EQ(form->session().OptionValues[opt::kINscale], "1");
}

TEST_F(OptionsTest, OkAppliesAndDiscards) {
  form->M_option->trigger();
  OptionsDialog* d = form->existingOptionsDialog();
  d->txtOUTnorthing->setText(QStringLiteral("1000"));
  d->chkExp->click();
  d->cmdOK->click();
  EXPECT_EQ(form->existingOptionsDialog(), nullptr);
  EXPECT_EQ(form->session().OptionValues[opt::kOUTnorthing], "1000");
  EXPECT_EQ(form->size(), TwipsSize(10350, 2500));
}

TEST_F(OptionsTest, OptionsWhileTheDialogIsHiddenShowsItUnchanged) {
  OptionsDialog* d = form->existingOptionsDialog();
  ASSERT_NE(d, nullptr);
  d->txtOUTscale->setText(QStringLiteral("0.5"));  // not applied
  form->M_option->trigger();
  EXPECT_EQ(form->existingOptionsDialog(), d);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(d->txtOUTscale->text(), "0.5");
}

TEST_F(OptionsTest, TabStripAndPages) {
  OptionsDialog& d = Dlg();
  const QTabBar* t = d.tbsOptions;
  ASSERT_EQ(t->count(), 4);
  const char* captions[] = {"General", "Gauss Kruger", "UTM", "general Gauss Projection"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t->tabText(i), captions[i]);
    EXPECT_EQ(t->tabData(i).toString(), QStringLiteral("Group%1").arg(i + 1));
    EXPECT_EQ(t->tabToolTip(i), QStringLiteral("Optionen für Gruppe %1 festlegen").arg(i + 1));
  }
  auto expectPage = [&](int selected) {
    EXPECT_EQ(d.selectedTab(), selected);
    for (int i = 0; i < 4; ++i) {
      const QWidget* page = d.picOptions[static_cast<std::size_t>(i)];
      EXPECT_EQ(page->size(), TwipsSize(5655, 3525));
      EXPECT_TRUE(page->isVisibleTo(&d)) << "pages are moved, not hidden";
      if (i == selected - 1) {
        EXPECT_EQ(page->pos(), TwipsPos(210, 600)) << i;
        EXPECT_TRUE(page->isEnabled()) << i;
      } else {
        EXPECT_EQ(page->pos(), TwipsPos(-20000, 600)) << i;
        EXPECT_FALSE(page->isEnabled()) << i;
      }
    }
  };
  expectPage(1);
  // A click on a tab shows its page.
  d.show();
  QTest::mouseClick(d.tbsOptions, Qt::LeftButton, Qt::NoModifier, t->tabRect(2).center());
  expectPage(3);
  // A page keeps its controls' state while another is shown.
  d.txtUTMma->setText(QStringLiteral("0.9"));
  d.selectTab(1);
  expectPage(1);
  EXPECT_EQ(d.txtUTMma->text(), "0.9");
}

TEST_F(OptionsTest, CtrlTabSelectsTheNextTabAndWraps) {
  OptionsDialog& d = Dlg();
  d.show();
  d.selectTab(1);
  QTest::keyClick(d.chk_Sperre, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.selectedTab(), 2);
  QTest::keyClick(d.comGKBM->lineEdit(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.selectedTab(), 3);
  QTest::keyClick(d.tbsOptions, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.selectedTab(), 4);
  // From "general Gauss Projection" to "General".
  QTest::keyClick(d.txtINscale, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.selectedTab(), 1);
  EXPECT_EQ(d.picOptions[0]->pos(), TwipsPos(210, 600));
  // Ctrl+Shift+Tab and a plain Tab do not change the tab.
  QTest::keyClick(d.chkStat1, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(d.chkStat1, Qt::Key_Tab);
  EXPECT_EQ(d.selectedTab(), 1);
}

TEST_F(OptionsTest, LoadTakesTheLastOfTwoTrueModes) {
  form->session().OptionValues[opt::kSevPar] = "True";
  form->session().OptionValues[opt::kTranslation] = "True";
  form->session().OptionValues[opt::kStat2] = "2";
  form->existingOptionsDialog()->cmdCancel->click();
  OptionsDialog& d = Dlg();  // created anew, loaded from the table
  EXPECT_TRUE(d.optTranslation->isChecked());
  EXPECT_FALSE(d.optSevPar->isChecked());
  EXPECT_EQ(d.chkStat2->checkState(), Qt::PartiallyChecked);
  // A click on a grey box ticks it off, then on.
  d.chkStat2->click();
  EXPECT_EQ(d.chkStat2->checkState(), Qt::Unchecked);
  d.chkStat2->click();
  EXPECT_EQ(d.chkStat2->checkState(), Qt::Checked);
}

}  // namespace
}  // namespace pelmo::uitest
