// The options dialog: Apply and the three layouts of the main window, the
// lock of the main window's fields, the meridian index fields, Cancel, OK,
// Escape, the tab strip and Ctrl+Tab.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <functional>
#include <tuple>

#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

using ui::OptionsDialog;
using OptionsTest = WindowTest;

TEST_F(OptionsTest, DialogWindowAndControls) {
  OptionsDialog& d = Dlg();
  EXPECT_EQ(d.windowTitle(), "Optionen");
  EXPECT_FALSE(d.isModal());
  EXPECT_EQ(d.size(), TwipsSize(6135, 4905));
  EXPECT_EQ(d.chk_Sperre->geometry(), TwipsRect(360, 360, 2055, 615));
  EXPECT_EQ(d.comUTMBM2->geometry(), TwipsRect(120, 480, 735, 315));
  EXPECT_EQ(d.chk_Sperre->text(), "diable direct input at textfields");
  // Filled from the option table.
  EXPECT_EQ(d.controlValues(), form->session().OptionValues);
  EXPECT_EQ(d.txtMkenn->text(), "5");
  EXPECT_EQ(d.txtUTMkenn2->text(), "33");
  // Check boxes know three states.
  d.chkStat2->setCheckState(Qt::PartiallyChecked);
  EXPECT_EQ(d.chkStat2->checkState(), Qt::PartiallyChecked);
  d.chkStat2->click();  // a click on a grey box ticks it off, then on
  EXPECT_EQ(d.chkStat2->checkState(), Qt::Unchecked);
  d.chkStat2->click();
  EXPECT_EQ(d.chkStat2->checkState(), Qt::Checked);
  // Combo boxes: editable, with their lists; the index fields read-only.
  EXPECT_TRUE(d.comGKBM->isEditable());
  EXPECT_EQ(d.comGKBM->count(), 3);
  EXPECT_EQ(d.comGKBM2->itemText(0), "9");
  EXPECT_EQ(d.comGKBM2->itemText(2), "15");
  ASSERT_EQ(d.comUTMBM->count(), 60);
  EXPECT_EQ(d.comUTMBM->itemText(0), "-177");
  EXPECT_EQ(d.comUTMBM->itemText(29), "-3");
  EXPECT_EQ(d.comUTMBM->itemText(30), "3");
  EXPECT_EQ(d.comUTMBM2->itemText(59), "177");
  for (QLineEdit* e : {d.txtMkenn, d.txtMkenn2, d.txtUTMkenn, d.txtUTMkenn2}) EXPECT_TRUE(e->isReadOnly());
}

// Apply's layouts, one after another: each sets the window's height, shows
// and hides the frames and moves the controls below them; every visible
// control stays inside the window.
TEST_F(OptionsTest, ApplySetsTheThreeLayouts) {
  struct Layout {
    const char* name;
    bool expert, translation;
    int height;
    std::vector<const char*> shown, hidden;
    std::vector<std::tuple<const char*, int, int>> at;  // top-left corners in twips
  };
  const std::vector<const char*> frames = {"frmTrans1", "frmTrans2", "frmEll1", "frmEll2", "frmAbb1", "frmAbb2"};
  auto plus = [](std::vector<const char*> v, std::initializer_list<const char*> more) {
    v.insert(v.end(), more);
    return v;
  };
  const Layout simple = {"simple", false, false, 2500, {"Frame1", "cmdStart", "txtQuelldatei"},
                         plus(frames, {"frmFiletyp", "txtDateien", "frmTranslation"}),
                         {{"txtZielDatei", 1440, 600}, {"speichern", 120, 600}, {"cmdStart", 6960, 1100}}};
  const Layout expert = {"expert", true, false, 7335, plus(frames, {"frmFiletyp", "txtDateien"}),
                         {"frmTranslation"},
                         {{"txtZielDatei", 1440, 5400}, {"speichern", 120, 5400},
                          {"cmdStart", 6960, 5040}, {"frmFiletyp", 4680, 480}}};
  const Layout translation = {"translation", true, true, 3500, {"frmTranslation", "frmFiletyp"}, frames,
                              {{"frmFiletyp", 120, 2100}, {"cmdStart", 6960, 2100},
                               {"txtZielDatei", 1440, 600}, {"speichern", 120, 600}}};
  // After the simple layout, translation leaves the file type and the log
  // hidden.
  const Layout simpleTranslation = {"translation after simple", false, true, 3500,
                                    {"frmTranslation"}, {"frmFiletyp", "txtDateien"}, {}};

  OptionsDialog& d = Dlg();
  form->show();
  for (const Layout& l : {simple, expert, translation, expert, simple, simpleTranslation}) {
    SCOPED_TRACE(l.name);
    const QSize before = form->size();
    const bool sevParBefore = form->session().settings.optSevPar;
    d.chkExp->setCheckState(l.expert ? Qt::Checked : Qt::Unchecked);
    (l.translation ? d.optTranslation : d.optSevPar)->click();
    EXPECT_NE(d.optSevPar->isChecked(), d.optTranslation->isChecked());
    // Nothing happens before Apply.
    EXPECT_EQ(form->size(), before);
    EXPECT_EQ(form->session().settings.optSevPar, sevParBefore);
    d.cmdApply->click();
    EXPECT_EQ(form->existingOptionsDialog(), &d);  // the dialog stays open
    EXPECT_EQ(form->size(), TwipsSize(10350, l.height));
    for (const char* name : l.shown) EXPECT_TRUE(Shown(form->findChild<QWidget*>(name))) << name;
    for (const char* name : l.hidden) EXPECT_FALSE(Shown(form->findChild<QWidget*>(name))) << name;
    for (const auto& [name, left, top] : l.at) {
      EXPECT_EQ(form->findChild<QWidget*>(name)->pos(), TwipsPos(left, top)) << name;
    }
    const OptionTable& o = form->session().OptionValues;
    EXPECT_EQ(o[opt::kExp], l.expert ? "1" : "0");
    EXPECT_EQ(o[opt::kSevPar], l.translation ? "False" : "True");
    EXPECT_EQ(o[opt::kTranslation], l.translation ? "True" : "False");
    EXPECT_EQ(form->session().settings.optTranslation, l.translation);
    EXPECT_NE(form->session().settings.optSevPar, l.translation);

    form->layout()->activate();
    QWidget* client = form->centralWidget();
    EXPECT_EQ(client->geometry().bottom(), form->height() - 1);
    for (QWidget* w : client->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      // Translation leaves the log where the expert layout put it, below
      // the window's edge.
      if (!Shown(w) || (l.expert && l.translation && w == static_cast<QWidget*>(form->txtDateien))) continue;
      EXPECT_TRUE(client->rect().contains(w->geometry())) << w->objectName().toStdString();
    }
  }
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
  // 24 fields are locked; the translation fields stay open.
  int locked = 0;
  for (QLineEdit* e : form->centralWidget()->findChildren<QLineEdit*>()) {
    if (e->isReadOnly() && e != form->txtPAR) ++locked;
  }
  EXPECT_EQ(locked, 24);
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
  const struct {
    QComboBox* combo;
    const char* meridian;
    QLineEdit* index;
    const char* expected;
  } listValues[] = {{d.comUTMBM, "177", d.txtUTMkenn, "60"}, {d.comUTMBM, "-177", d.txtUTMkenn, "1"},
                    {d.comUTMBM2, "9", d.txtUTMkenn2, "32"}, {d.comGKBM, "9", d.txtMkenn, "3"},
                    {d.comGKBM2, "12", d.txtMkenn2, "4"}};
  for (const auto& c : listValues) {
    c.combo->setCurrentIndex(c.combo->findText(QString::fromLatin1(c.meridian)));
    EXPECT_EQ(c.index->text(), c.expected) << c.combo->objectName().toStdString() << " " << c.meridian;
  }

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

TEST_F(OptionsTest, CancelEscapeAndTheCloseBoxDiscardEditsOkAppliesThem) {
  // Options while the dialog is hidden shows it as it is, unapplied edits
  // included.
  OptionsDialog* hidden = form->existingOptionsDialog();
  ASSERT_NE(hidden, nullptr);
  hidden->txtOUTscale->setText(QStringLiteral("0.5"));
  form->M_option->trigger();
  EXPECT_EQ(form->existingOptionsDialog(), hidden);
  EXPECT_TRUE(hidden->isVisible());
  EXPECT_EQ(hidden->txtOUTscale->text(), "0.5");

  const OptionTable applied = form->session().OptionValues;
  const std::vector<std::pair<const char*, std::function<void(OptionsDialog*)>>> ways = {
      {"Cancel", [](OptionsDialog* d) { d->cmdCancel->click(); }},
      {"Escape", [](OptionsDialog* d) { QTest::keyClick(d->txtINscale, Qt::Key_Escape); }},
      {"close box", [](OptionsDialog* d) { d->close(); }}};
  for (const auto& [name, discard] : ways) {
    SCOPED_TRACE(name);
    form->M_option->trigger();
    QPointer<OptionsDialog> d = form->existingOptionsDialog();
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->txtUTMma->text(), "0.9996");  // a new dialog shows the applied values
    EXPECT_EQ(d->chkStat1->checkState(), Qt::Unchecked);
    d->txtUTMma->setText(QStringLiteral("0.5"));
    d->txtINscale->setText(QStringLiteral("2"));
    d->chkStat1->click();
    discard(d);
    EXPECT_EQ(form->existingOptionsDialog(), nullptr);
    EXPECT_TRUE(!d || !d->isVisible());
    EXPECT_EQ(form->session().OptionValues, applied);
  }

  form->M_option->trigger();
  OptionsDialog* d = form->existingOptionsDialog();
  d->txtOUTnorthing->setText(QStringLiteral("1000"));
  d->chkExp->click();
  d->cmdOK->click();
  EXPECT_EQ(form->existingOptionsDialog(), nullptr);
  EXPECT_EQ(form->session().OptionValues[opt::kOUTnorthing], "1000");
  EXPECT_EQ(form->size(), TwipsSize(10350, 2500));
}

TEST_F(OptionsTest, TabStripAndCtrlTab) {
  OptionsDialog& d = Dlg();
  const QTabBar* t = d.tbsOptions;
  ASSERT_EQ(t->count(), 5);
  const char* captions[] = {"General", "Gauss Kruger", "UTM", "general Gauss Projection", "ASCII"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(t->tabText(i), captions[i]);
    EXPECT_EQ(t->tabData(i).toString(), QStringLiteral("Group%1").arg(i + 1));
    EXPECT_EQ(t->tabToolTip(i), QStringLiteral("Optionen für Gruppe %1 festlegen").arg(i + 1));
  }
  // Only the selected page is enabled and in view; the others are moved aside.
  auto expectPage = [&](int selected) {
    EXPECT_EQ(d.selectedTab(), selected);
    for (int i = 0; i < 5; ++i) {
      const QWidget* page = d.picOptions[static_cast<std::size_t>(i)];
      EXPECT_EQ(page->isEnabled(), i == selected - 1) << i;
      EXPECT_EQ(page->geometry(), TwipsRect(i == selected - 1 ? 210 : -20000, 600, 5655, 3525)) << i;
      EXPECT_TRUE(page->isVisibleTo(&d)) << i;  // moved aside, not hidden
    }
  };
  d.show();
  QTest::mouseClick(d.tbsOptions, Qt::LeftButton, Qt::NoModifier, t->tabRect(2).center());
  expectPage(3);
  d.selectTab(1);
  // Ctrl+Tab from any control selects the next tab, from the last the first.
  QTest::keyClick(d.chk_Sperre, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.selectedTab(), 2);
  QTest::keyClick(d.comGKBM->lineEdit(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.selectedTab(), 3);
  QTest::keyClick(d.tbsOptions, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(d.selectedTab(), 4);
  QTest::keyClick(d.txtINscale, Qt::Key_Tab, Qt::ControlModifier);
  QTest::keyClick(d.txtColumns, Qt::Key_Tab, Qt::ControlModifier);
  expectPage(1);
  // Ctrl+Shift+Tab and a plain Tab do not change the tab.
  QTest::keyClick(d.chkStat1, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(d.chkStat1, Qt::Key_Tab);
  EXPECT_EQ(d.selectedTab(), 1);
}

TEST_F(OptionsTest, LoadTakesTheLastOfTwoTrueModes) {
  form->session().OptionValues[opt::kSevPar] = "True";
  form->session().OptionValues[opt::kTranslation] = "True";
  form->existingOptionsDialog()->cmdCancel->click();
  OptionsDialog& d = Dlg();  // created anew, loaded from the table
  EXPECT_TRUE(d.optTranslation->isChecked());
  EXPECT_FALSE(d.optSevPar->isChecked());
}

}  // namespace
}  // namespace pelmo::uitest
