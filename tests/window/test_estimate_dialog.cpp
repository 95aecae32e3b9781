// "Estimate Parameters..." on the shipped control points (GK zone 3 on DHDN,
// UTM zone 32 on ETRS89, made with the DHDN to ETRS89 set, point 1010 with
// a blunder): the planted blunder alone is marked and sorts first by its 3D
// residual; the set fills the first transformation, set and report are
// saved; a missing file gives its message and no result.
#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

#include "paramfiles/paramsets.hpp"
#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

using ui::EstimateDialog;

TEST_F(WindowTest, EstimateDialogMarksTheBlunderAndFillsTheFirstSet) {
  const std::string data = std::string(PELMO_SOURCE_DIR) + "/data/";
  Session& s = form->session();
  ASSERT_TRUE(LoadEllipsoidFile(data + "Bessel_1841.ell", s.settings, 1, '.'));
  ASSERT_TRUE(LoadEllipsoidFile(data + "GRS_1980.ell", s.settings, 2, '.'));
  form->syncFromSettings();
  form->optInGK->click();
  form->optOUTetrs->click();
  s.OptionValues[opt::kGKBM] = s.OptionValues[opt::kUTMBM2] = "9";

  form->M_Estimate->trigger();
  EstimateDialog* d = form->estimateDialog();
  ASSERT_NE(d, nullptr);
  d->optTwoFiles->click();
  files->answers = {QString::fromStdString(data + "samples/control_gk3_dhdn.txt"),
                    QString::fromStdString(data + "samples/control_utm32_etrs89.txt")};
  d->cmdControl1->click();
  d->cmdControl2->click();
  d->cmdCompute->click();
  ASSERT_TRUE(messages->shown.empty()) << messages->first();
  ASSERT_EQ(d->tblResiduals->rowCount(), 16);
  for (int row = 0; row < 16; ++row) {
    const bool blunder = d->tblResiduals->item(row, EstimateDialog::kPoint)->text() == "1010";
    EXPECT_EQ(d->tblResiduals->item(row, EstimateDialog::kFlag)->text(), blunder ? "*" : "");
  }
  d->tblResiduals->sortItems(EstimateDialog::kLength, Qt::DescendingOrder);
  EXPECT_EQ(d->tblResiduals->item(0, EstimateDialog::kPoint)->text(), "1010");
  EXPECT_TRUE(form->txtDateien->toPlainText().contains("Restklaffungen"));

  d->cmdUse->click();
  EXPECT_TRUE(form->txtsevenParSys->text().startsWith("estimated from 16 points, RMS "));
  EXPECT_NEAR(form->txtP1->text().toDouble(), 598.1, 3);     // within its published 3 m
  EXPECT_NEAR(form->txtP5->text().toDouble(), 2.455, 0.1);   // gamma ["]
  files->answers = {QPath("estimated.7pr")};
  d->cmdSave->click();
  const auto saved = ReadSevenParFile(Path("estimated.7pr"));
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(QString::fromStdString(saved->name), form->txtsevenParSys->text());
  files->answers = {QPath("report.txt")};
  d->cmdReport->click();
  EXPECT_NE(ReadBytes(Path("report.txt")).find("1010"), std::string::npos);

  files->answers = {QPath("missing.txt")};
  d->cmdControl1->click();
  d->cmdCompute->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_TRUE(messages->shown[0].text.contains("Datei nicht gefunden"));
  EXPECT_EQ(d->tblResiduals->rowCount(), 0);
  EXPECT_FALSE(d->cmdSave->isEnabled());
}

}  // namespace
}  // namespace pelmo::uitest
