// "Estimate Parameters...": a seven-parameter (or three-parameter) set
// estimated from control points with the main window's projections and
// ellipsoids; the residual table, the parameters with their standard
// deviations, saving the set as a .7pr file and using it as the first
// transformation.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "job/estimate_run.hpp"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace pelmo::ui {

class Form1;

/// File-dialog filters of the control-point files and the report.
inline constexpr const char* kControlPointFilter =
    "Passpunkte (*.txt)|*.txt|Alle Dateien (*.*)|*.*|";
inline constexpr const char* kReportFilter = " Textdateien (*.txt)|*.txt|Alle Dateien (*.*)|*.*|";

class EstimateDialog : public QDialog {
  Q_OBJECT

 public:
  /// `owner` supplies the settings, its file dialog, message boxes and log.
  explicit EstimateDialog(Form1* owner);

  /// Residual table columns.
  enum Column { kPoint, kNorth, kEast, kUp, kLength, kFlag, kColumns };

  QRadioButton *optOneFile, *optTwoFiles, *optSeven, *optThree;
  QLineEdit *txtControl1, *txtControl2;
  QPushButton *cmdControl1, *cmdControl2, *cmdCompute, *cmdSave, *cmdUse, *cmdReport, *cmdClose;
  QLabel *lblSystems, *lblSummary;
  QTableWidget *tblResiduals, *tblParameters;

  /// The last estimate, when "Compute" succeeded since the last change.
  const std::optional<EstimateRun>& result() const { return run_; }

 public slots:
  void cmdCompute_Click();
  void cmdSave_Click();
  void cmdUse_Click();
  void cmdReport_Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ChooseFile(QLineEdit* target);
  /// Asks for a file name (of the dialog filter `filter`) and writes the
  /// result into it with `write`; a failure is shown.
  void SaveResult(const char* filter,
                  void (*write)(const std::string& path, const EstimateRun& run, char decimalSign));
  void ShowSystems();
  void ShowResult();
  void ClearResult();

  Form1* owner_;
  std::optional<EstimateRun> run_;
};

}  // namespace pelmo::ui
