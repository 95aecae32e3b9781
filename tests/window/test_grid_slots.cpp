// A shift grid in a transformation frame: chosen with its "Parameter"
// button, shown with its name and extent, kept in the user's settings,
// saved as its name with seven zeros and loaded back as seven parameters.
#include <QCheckBox>
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
  const QString beta = QString::fromStdString(FindGridFile("BETA2007.gsb"));
  files->answers = {beta};
  w.cmdSevenPar1->click();
  EXPECT_EQ(QString::fromStdString(w.session().grids[0].file), beta);
  EXPECT_EQ(w.txtsevenParSys->text(), "BETA2007.gsb");
  for (QLineEdit* f : {w.txtP1, w.txtP4, w.txtP7}) EXPECT_TRUE(f->text() == "0" && !f->isEnabled());
  EXPECT_TRUE(w.txtP2_1->isEnabled() && !w.chkInverse2->isVisibleTo(&w));
  // BeTA2007 spans 5.5 to 15.67 degrees east, 47 to 55.3 north.
  for (const char* part : {"5.5", "15.67", "47", "55.3"}) {
    EXPECT_TRUE(w.lblGrid1->text().contains(part)) << part;
  }
  ASSERT_TRUE(w.chkInverse1->isVisibleTo(&w));
  w.chkInverse1->setChecked(true);
  EXPECT_TRUE(w.session().grids[0].inverse);
  {  // The next start of the program finds the grid again.
    Form1 next(std::make_unique<ScriptedFileDialog>(), std::make_unique<ScriptedMessages>());
    EXPECT_EQ(QString::fromStdString(next.session().grids[0].file), beta);
    EXPECT_TRUE(next.chkInverse1->isChecked() && next.session().grids[0].inverse);
    EXPECT_FALSE(next.txtP3->isEnabled());
  }

  // Saved as the name with seven zeros, which the log says; loaded back as
  // seven parameters.
  files->answers = {QPath("job.par"), QPath("job.par")};
  w.M_EinstSp->trigger();
  const std::vector<std::string> lines = ReadLines(Path("job.par"));
  ASSERT_EQ(lines.size(), 64u);
  EXPECT_TRUE(lines[30] == "\"BETA2007.gsb\"" && lines[31] == "\"0\"" && lines[37] == "\"0\"");
  EXPECT_TRUE(w.txtDateien->toPlainText().contains(QStringLiteral("sieben Nullen")));
  w.M_EinstLa->trigger();
  EXPECT_FALSE(w.session().grids[0].active() || w.chkInverse1->isVisibleTo(&w));
  EXPECT_TRUE(w.txtP1->isEnabled() && w.lblGrid1->text().isEmpty());
  EXPECT_EQ(ui::UserSettings().value(QStringLiteral("grid1/file")).toString(), QString());
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
}

}  // namespace
}  // namespace pelmo::uitest
