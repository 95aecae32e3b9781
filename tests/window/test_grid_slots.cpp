// A shift grid in a transformation frame: chosen with its "Parameter"
// button, shown with its name and extent, kept in the user's settings,
// saved as its name with seven zeros and loaded back as seven parameters.
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "geodesy/grid_shift.hpp"
#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

using GridSlotsTest = WindowTest;

TEST_F(GridSlotsTest, GridTakesThePlaceOfTheSetUntilSevenParametersComeBack) {
  Form1& w = *form;
  const std::string beta = FindGridFile("BETA2007.gsb");
  const std::array<QLineEdit*, 7> fields{w.txtP1, w.txtP2, w.txtP3, w.txtP4,
                                         w.txtP5, w.txtP6, w.txtP7};
  w.txtP1->setText(QStringLiteral("598.1"));
  // A file PROJ cannot read changes nothing and says why.
  WriteBytes(Path("junk.gsb"), "not a grid\r\n");
  files->answers = {QPath("junk.gsb"), QString::fromStdString(beta)};
  w.cmdSevenPar1->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_TRUE(messages->shown[0].text.contains(QStringLiteral("junk.gsb")));
  EXPECT_EQ(w.txtP1->text(), "598.1");
  EXPECT_FALSE(w.session().grids[0].active());

  w.cmdSevenPar1->click();
  EXPECT_EQ(w.session().grids[0].file, beta);
  EXPECT_EQ(w.txtsevenParSys->text(), "BETA2007.gsb");
  for (QLineEdit* f : fields) {
    EXPECT_EQ(f->text(), "0");
    EXPECT_FALSE(f->isEnabled());
  }
  EXPECT_TRUE(w.txtP2_1->isEnabled());
  EXPECT_FALSE(w.chkInverse2->isVisibleTo(&w));
  // BeTA2007 spans 5.5 to 15.67 degrees east, 47 to 55.3 north.
  const QString extent = w.lblGrid1->text();
  EXPECT_TRUE(extent.contains(QStringLiteral("5.5")) && extent.contains(QStringLiteral("15.67")) &&
              extent.contains(QStringLiteral("55.3")))
      << extent.toStdString();
  EXPECT_LE(QFontMetrics(w.lblGrid1->font()).horizontalAdvance(extent), w.lblGrid1->width());
  ASSERT_TRUE(w.chkInverse1->isVisibleTo(&w));
  w.chkInverse1->setChecked(true);
  EXPECT_TRUE(w.session().grids[0].inverse);

  {  // The next start of the program finds the grid again.
    Form1 next(std::make_unique<ScriptedFileDialog>(), std::make_unique<ScriptedMessages>());
    EXPECT_EQ(next.session().grids[0].file, beta);
    EXPECT_TRUE(next.session().grids[0].inverse);
    EXPECT_TRUE(next.chkInverse1->isChecked());
    EXPECT_FALSE(next.txtP3->isEnabled());
  }

  // Saved as the name with seven zeros, which the log says; loaded back as
  // seven parameters.
  files->answers = {QPath("job.par"), QPath("job.par")};
  w.M_EinstSp->trigger();
  const std::vector<std::string> lines = ReadLines(Path("job.par"));
  ASSERT_EQ(lines.size(), 64u);
  EXPECT_EQ(lines[30], "\"BETA2007.gsb\"");
  EXPECT_EQ(lines[31], "\"0\"");
  EXPECT_TRUE(w.txtDateien->toPlainText().contains(QStringLiteral("sieben Nullen")));
  w.M_EinstLa->trigger();
  EXPECT_FALSE(w.session().grids[0].active());
  EXPECT_TRUE(w.txtP1->isEnabled());
  EXPECT_FALSE(w.chkInverse1->isVisibleTo(&w));
  EXPECT_TRUE(w.lblGrid1->text().isEmpty());
  EXPECT_EQ(ui::UserSettings().value(QStringLiteral("grid1/file")).toString(), QString());
  EXPECT_EQ(messages->shown.size(), 1u);
}

}  // namespace
}  // namespace pelmo::uitest
