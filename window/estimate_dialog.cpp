#include "window/estimate_dialog.hpp"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <array>
#include <string>

#include "core/frontend.hpp"
#include "geodesy/point_chain.hpp"
#include "paramfiles/paramsets.hpp"
#include "window/form1.hpp"
#include "window/look.hpp"

namespace pelmo::ui {

namespace {

constexpr int kResidualDecimals = 4;
constexpr int kParameterDecimals = 6;
/// Background of the rows of flagged points.
const QColor kFlaggedRow(255, 214, 214);

QString Q(const std::string& s) { return QString::fromStdString(s); }

/// A table cell that sorts by its number, not by its text.
class NumberItem : public QTableWidgetItem {
 public:
  NumberItem(double value, int decimals, char decimalSign)
      : QTableWidgetItem(Q(FormatFixed(value, decimals, decimalSign))), value_(value) {
    setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  bool operator<(const QTableWidgetItem& other) const override {
    const auto* n = dynamic_cast<const NumberItem*>(&other);
    return n != nullptr ? value_ < n->value_ : QTableWidgetItem::operator<(other);
  }

 private:
  double value_;
};

QTableWidget* Table(QWidget* parent, const char* name, const QStringList& headers) {
  auto* t = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  t->setObjectName(QLatin1String(name));
  t->setHorizontalHeaderLabels(headers);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->verticalHeader()->setVisible(false);
  t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + TwipsY(60));
  t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  return t;
}

template <class W>
W* Named(W* w, const char* name) {
  w->setObjectName(QLatin1String(name));
  return w;
}

}  // namespace

EstimateDialog::EstimateDialog(Form1* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), owner_(owner) {
  setObjectName(QStringLiteral("frmEstimate"));
  setWindowTitle(QStringLiteral("Estimate Parameters"));
  setFont(DesignFont());
  setWindowModality(Qt::ApplicationModal);

  // Control points: one file of both systems or one file per system.
  auto* files = Named(new QGroupBox(QStringLiteral("Control points"), this), "fraControl");
  auto* fileGrid = new QGridLayout(files);
  auto* fileCount = new QButtonGroup(this);
  optOneFile = Named(new QRadioButton(QStringLiteral("One file (id, system 1, system 2)")),
                     "optOneFile");
  optTwoFiles = Named(new QRadioButton(QStringLiteral("Two files (id, one system each)")),
                      "optTwoFiles");
  fileCount->addButton(optOneFile);
  fileCount->addButton(optTwoFiles);
  optOneFile->setChecked(true);
  txtControl1 = Named(new QLineEdit, "txtControl1");
  txtControl2 = Named(new QLineEdit, "txtControl2");
  cmdControl1 = Named(new QPushButton(QStringLiteral("...")), "cmdControl1");
  cmdControl2 = Named(new QPushButton(QStringLiteral("...")), "cmdControl2");
  for (QPushButton* b : {cmdControl1, cmdControl2}) b->setFixedWidth(TwipsX(500));
  fileGrid->addWidget(optOneFile, 0, 0, 1, 2);
  fileGrid->addWidget(optTwoFiles, 0, 2);
  fileGrid->addWidget(new QLabel(QStringLiteral("File (system 1):")), 1, 0);
  fileGrid->addWidget(txtControl1, 1, 1, 1, 2);
  fileGrid->addWidget(cmdControl1, 1, 3);
  fileGrid->addWidget(new QLabel(QStringLiteral("File (system 2):")), 2, 0);
  fileGrid->addWidget(txtControl2, 2, 1, 1, 2);
  fileGrid->addWidget(cmdControl2, 2, 3);
  lblSystems = Named(new QLabel, "lblSystems");
  fileGrid->addWidget(lblSystems, 3, 0, 1, 4);

  // Parameter count and Compute.
  auto* count = new QButtonGroup(this);
  optSeven = Named(new QRadioButton(QStringLiteral("7 parameters")), "optSeven");
  optThree = Named(new QRadioButton(QStringLiteral("3 parameters (translations)")), "optThree");
  count->addButton(optSeven);
  count->addButton(optThree);
  optSeven->setChecked(true);
  cmdCompute = Named(new QPushButton(QStringLiteral("Compute")), "cmdCompute");
  auto* computeRow = new QHBoxLayout;
  computeRow->addWidget(optSeven);
  computeRow->addWidget(optThree);
  computeRow->addStretch();
  computeRow->addWidget(cmdCompute);

  // Results.
  tblResiduals = Table(this, "tblResiduals",
                       {QStringLiteral("Point"), QStringLiteral("North [m]"),
                        QStringLiteral("East [m]"), QStringLiteral("Up [m]"),
                        QStringLiteral("3D [m]"), QStringLiteral("> 3 RMS")});
  tblResiduals->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);  // file order
  tblResiduals->setSortingEnabled(true);
  tblParameters = Table(this, "tblParameters",
                        {QStringLiteral("Parameter"), QStringLiteral("Value"),
                         QStringLiteral("Std. dev.")});
  lblSummary = Named(new QLabel, "lblSummary");
  lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* results = new QHBoxLayout;
  results->addWidget(tblResiduals, 5);
  auto* right = new QVBoxLayout;
  right->addWidget(tblParameters);
  right->addWidget(lblSummary);
  results->addLayout(right, 3);

  cmdSave = Named(new QPushButton(QStringLiteral("Save .7pr...")), "cmdSave");
  cmdUse = Named(new QPushButton(QStringLiteral("Use as 1. Transformation")), "cmdUse");
  cmdReport = Named(new QPushButton(QStringLiteral("Save Report...")), "cmdReport");
  cmdClose = Named(new QPushButton(QStringLiteral("Close")), "cmdClose");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(cmdSave);
  buttons->addWidget(cmdUse);
  buttons->addWidget(cmdReport);
  buttons->addStretch();
  buttons->addWidget(cmdClose);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(files);
  layout->addLayout(computeRow);
  layout->addLayout(results, 1);
  layout->addLayout(buttons);
  resize(TwipsSize(11000, 7500));

  // Any change of the input makes the last result stale.
  const auto stale = [this] {
    txtControl2->setEnabled(optTwoFiles->isChecked());
    cmdControl2->setEnabled(optTwoFiles->isChecked());
    ClearResult();
  };
  for (QRadioButton* o : {optOneFile, optTwoFiles, optSeven, optThree}) {
    connect(o, &QRadioButton::toggled, this, stale);
  }
  for (QLineEdit* e : {txtControl1, txtControl2}) connect(e, &QLineEdit::textEdited, this, stale);
  connect(cmdControl1, &QPushButton::clicked, this, [this] { ChooseFile(txtControl1); });
  connect(cmdControl2, &QPushButton::clicked, this, [this] { ChooseFile(txtControl2); });
  connect(cmdCompute, &QPushButton::clicked, this, &EstimateDialog::cmdCompute_Click);
  connect(cmdSave, &QPushButton::clicked, this, &EstimateDialog::cmdSave_Click);
  connect(cmdUse, &QPushButton::clicked, this, &EstimateDialog::cmdUse_Click);
  connect(cmdReport, &QPushButton::clicked, this, &EstimateDialog::cmdReport_Click);
  connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
  stale();
}

void EstimateDialog::showEvent(QShowEvent* event) {
  ShowSystems();
  QDialog::showEvent(event);
}

void EstimateDialog::ShowSystems() {
  owner_->syncToSettings();
  const TransformSettings& t = owner_->session().settings;
  lblSystems->setText(QStringLiteral("System 1: %1 on %2 (ellipsoid 1)    System 2: %3 on %4 "
                                     "(ellipsoid 2)")
                          .arg(QLatin1String(ProjectionName(SideProjection(t, 1))),
                               Q(t.txtBezEll1),
                               QLatin1String(ProjectionName(SideProjection(t, 2))),
                               Q(t.txtBezEll2)));
}

void EstimateDialog::ChooseFile(QLineEdit* target) {
  CommonDialog& cd = owner_->CommonDialog1();
  cd.setFilter(QString::fromLatin1(kControlPointFilter));
  cd.setFilterIndex(1);
  if (!cd.showOpen()) return;
  target->setText(cd.fileName());
  ClearResult();
}

void EstimateDialog::ClearResult() {
  run_.reset();
  tblResiduals->setRowCount(0);
  tblParameters->setRowCount(0);
  lblSummary->clear();
  for (QPushButton* b : {cmdSave, cmdUse, cmdReport}) b->setEnabled(false);
}

void EstimateDialog::cmdCompute_Click() {
  ClearResult();
  ShowSystems();
  Session& s = owner_->session();
  try {
    run_ = RunEstimate(s, txtControl1->text().toStdString(),
                       optTwoFiles->isChecked() ? txtControl2->text().toStdString() : "",
                       optThree->isChecked() ? kThreeParameters : kSevenParameters);
  } catch (const std::exception& e) {
    owner_->messageBoxes().message(Q(e.what()), QString::fromLatin1(kProgramName),
                                   MsgIcon::kNone);
    return;
  }
  s.AppendLog(EstimateReport(*run_, s.decimalSign()));
  ShowResult();
}

void EstimateDialog::ShowResult() {
  const ParameterEstimate& e = run_->estimate;
  const char sign = owner_->session().decimalSign();
  tblResiduals->setSortingEnabled(false);
  tblResiduals->setRowCount(static_cast<int>(e.residuals.size()));
  int row = 0;
  for (const ControlResidual& v : e.residuals) {
    const std::array<QTableWidgetItem*, kColumns> items = {
        new QTableWidgetItem(Q(v.id)),
        new NumberItem(v.north, kResidualDecimals, sign),
        new NumberItem(v.east, kResidualDecimals, sign),
        new NumberItem(v.up, kResidualDecimals, sign),
        new NumberItem(v.length, kResidualDecimals, sign),
        new QTableWidgetItem(v.flagged ? QStringLiteral("*") : QString())};
    for (int c = 0; c < kColumns; ++c) {
      if (v.flagged) items[static_cast<std::size_t>(c)]->setBackground(kFlaggedRow);
      tblResiduals->setItem(row, c, items[static_cast<std::size_t>(c)]);
    }
    ++row;
  }
  tblResiduals->setSortingEnabled(true);

  static constexpr std::array<const char*, 7> kNames = {
      "dX [m]", "dY [m]", "dZ [m]", "m [ppm]", "gamma [\"]", "beta [\"]", "alpha [\"]"};
  tblParameters->setRowCount(e.parameters);
  for (int j = 0; j < e.parameters; ++j) {
    const auto k = static_cast<std::size_t>(j);
    tblParameters->setItem(j, 0, new QTableWidgetItem(QLatin1String(kNames[k])));
    tblParameters->setItem(j, 1, new NumberItem(e.p[k], kParameterDecimals, sign));
    tblParameters->setItem(j, 2, e.redundancy > 0
                                     ? new NumberItem(e.sigma[k], kParameterDecimals, sign)
                                     : new QTableWidgetItem(QStringLiteral("-")));
  }
  auto m = [&](double v) { return Q(FormatFixed(v, kResidualDecimals, sign)); };
  lblSummary->setText(QStringLiteral("%1 points, redundancy %2\nRMS north %3, east %4, up %5, "
                                     "3D %6 m\ns0 %7 m\n%8 flagged (> 3 RMS)")
                          .arg(e.points)
                          .arg(e.redundancy)
                          .arg(m(e.rmsNorth), m(e.rmsEast), m(e.rmsUp), m(e.rms3D),
                               e.redundancy > 0 ? m(e.sigma0) : QStringLiteral("-"))
                          .arg(e.flagged));
  for (QPushButton* b : {cmdSave, cmdUse, cmdReport}) b->setEnabled(true);
}

void EstimateDialog::SaveResult(const char* filter,
                                void (*write)(const std::string& path, const EstimateRun& run,
                                              char decimalSign)) {
  if (!run_) return;
  CommonDialog& cd = owner_->CommonDialog1();
  cd.setFilter(QString::fromLatin1(filter));
  cd.setFilterIndex(1);
  if (!cd.showSave()) return;
  try {
    write(cd.fileName().toStdString(), *run_, owner_->session().decimalSign());
  } catch (const std::exception& e) {
    owner_->messageBoxes().message(Q(e.what()), QString::fromLatin1(kProgramName),
                                   MsgIcon::kNone);
  }
}

void EstimateDialog::cmdSave_Click() {
  SaveResult(filters::kSevenPar, [](const std::string& path, const EstimateRun& run, char) {
    WriteSevenParFile(path, EstimatedSet(run.estimate));
  });
}

void EstimateDialog::cmdReport_Click() {
  SaveResult(kReportFilter, [](const std::string& path, const EstimateRun& run, char sign) {
    WriteEstimateReport(path, EstimateReport(run, sign));
  });
}

void EstimateDialog::cmdUse_Click() {
  if (!run_) return;
  Session& s = owner_->session();
  owner_->syncToSettings();
  AssignSevenPar(s.settings, 1, EstimatedSet(run_->estimate), s.decimalSign());
  s.grids[0] = GridSlot{};  // the set takes the place of a grid
  s.Touch();
  owner_->syncFromSettings();
}

}  // namespace pelmo::ui
