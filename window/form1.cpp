#include "window/form1.hpp"

#include "core/errors.hpp"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QUrl>
#include <array>
#include <cmath>
#include <fstream>
#include <string>
#include <utility>

#include "core/data_dir.hpp"
#include "core/numtext.hpp"
#include "geodesy/grid_shift.hpp"
#include "geodesy/selftest.hpp"
#include "job/job_start.hpp"
#include "paramfiles/paramsets.hpp"
#include "paramfiles/properties.hpp"
#include "window/controls.hpp"
#include "window/help_window.hpp"
#include "window/info_window.hpp"
#include "window/look.hpp"
#include "window/options_dialog.hpp"
#include "window/progress_window.hpp"

namespace pelmo::ui {

namespace {

/// The user's decimal sign ("." when the locale's is not a plain ASCII one).
char UserDecimalSign() {
  const QString point = QLocale().decimalPoint();
  const QChar c = point.isEmpty() ? QLatin1Char('.') : point.front();
  return c == QLatin1Char(',') ? ',' : '.';
}

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

/// The log box shows CR LF line ends as plain line breaks.
QString Displayed(const std::string& text) {
  QString t = Q(text);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return t;
}

/// Shows a window in front of the others, active.
void BringToFront(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

/// The child window in `window`, created first if there is none; it deletes
/// itself when closed.
template <class Window>
Window* CreatedOnce(QPointer<Window>& window, QWidget* owner) {
  if (!window) {
    window = new Window(owner);
    window->setAttribute(Qt::WA_DeleteOnClose);
  }
  return window;
}

/// Captions and places (twips) of the five option buttons of a projection
/// frame, in the order of the frame's buttons.
struct ProjectionOption {
  const char* caption;
  int left, width;
};
constexpr ProjectionOption kProjectionOptions[5] = {
    {"GK-Germ", 120, 975}, {"Krovak", 1080, 855}, {"Ell", 1920, 735},
    {"UTM", 2520, 735},    {"GK-general", 3240, 1095},
};

/// Places (twips) of an ellipsoid frame's controls: the two frames were
/// drawn apart and differ by a few twips.
struct EllipsoidPlaces {
  int frameTop, rowTop;
  int aLabelLeft, aLeft, aWidth;
  int eLabelLeft, eLeft;
  int nameLabelLeft, nameLeft;
  int buttonLeft, buttonTop;
};
constexpr EllipsoidPlaces kEllipsoid1Places{
    .frameTop = 960, .rowTop = 195,
    .aLabelLeft = 120, .aLeft = 600, .aWidth = 2055,
    .eLabelLeft = 2700, .eLeft = 2880,
    .nameLabelLeft = 4905, .nameLeft = 5295,
    .buttonLeft = 7560, .buttonTop = 210};
/// Left edge (twips) of the button "Vorschau", between the target row and
/// TRANSFORM.
constexpr int kPreviewLeft = 5760;

constexpr EllipsoidPlaces kEllipsoid2Places{
    .frameTop = 4200, .rowTop = 240,
    .aLabelLeft = 240, .aLeft = 720, .aWidth = 1935,
    .eLabelLeft = 2820, .eLeft = 3000,
    .nameLabelLeft = 5025, .nameLeft = 5415,
    .buttonLeft = 7440, .buttonTop = 240};

}  // namespace

Form1::Form1(std::unique_ptr<CommonDialog> commonDialog, std::unique_ptr<MessageBoxes> messages,
             QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::CustomizeWindowHint),
      session_(*this, UserDecimalSign()),
      commonDialog_(commonDialog ? std::move(commonDialog) : std::make_unique<QtCommonDialog>(this)),
      messages_(messages ? std::move(messages) : std::make_unique<QtMessageBoxes>(this)) {
  InitResources();
  // Save dialogs ask before they take an existing file.
  commonDialog_->setOverwriteQuestion([this](const QString& name) {
    return messages_->yesNo(QStringLiteral("Die Datei ") + name +
                                QStringLiteral("\r\nexistiert bereits, \r\nsoll sie überschrieben werden?"),
                            QString::fromLatin1(kProblemTitle), MsgIcon::kExclamation);
  });
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Pelmo"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/pelmo.png")));
  setFont(DesignFont());
  CreateMenus();
  CreateControls();
  Form_Load();
}

Form1::~Form1() = default;

// ---------------------------------------------------------------- construction

void Form1::CreateMenus() {
  M_Optionen = menuBar()->addMenu(QStringLiteral("&Options"));
  M_Optionen->setObjectName(QStringLiteral("M_Optionen"));
  M_EinstLa = M_Optionen->addAction(QStringLiteral("&Load Properties"), this, &Form1::M_EinstLa_Click);
  M_EinstLa->setObjectName(QStringLiteral("M_EinstLa"));
  M_EinstSp = M_Optionen->addAction(QStringLiteral("&Save Properties"), this, &Form1::M_EinstSp_Click);
  M_EinstSp->setObjectName(QStringLiteral("M_EinstSp"));
  mTrenn1 = M_Optionen->addSeparator();
  mTrenn1->setObjectName(QStringLiteral("mTrenn1"));
  M_option = M_Optionen->addAction(QStringLiteral("Options"), this, &Form1::M_option_Click);
  M_option->setObjectName(QStringLiteral("M_option"));
  M_Estimate = M_Optionen->addAction(QStringLiteral("Estimate Parameters..."), this,
                                     &Form1::M_Estimate_Click);
  M_Estimate->setObjectName(QStringLiteral("M_Estimate"));
  M_Preview = M_Optionen->addAction(QStringLiteral("Vorschau"), this, &Form1::cmdPreview_Click);
  M_Preview->setObjectName(QStringLiteral("M_Preview"));

  M_Hilfe = menuBar()->addMenu(QStringLiteral("&Help"));
  M_Hilfe->setObjectName(QStringLiteral("M_Hilfe"));
  M_Info = M_Hilfe->addAction(QStringLiteral("Info"), this, &Form1::M_Info_Click);
  M_Info->setObjectName(QStringLiteral("M_Info"));
  M_Help = M_Hilfe->addAction(QStringLiteral("Help"), this, &Form1::M_Help_Click);
  M_Help->setObjectName(QStringLiteral("M_Help"));
  // F1 opens the manual from every window of the program.
  M_Help->setShortcut(QKeySequence(Qt::Key_F1));
  M_Help->setShortcutContext(Qt::ApplicationShortcut);
}

void Form1::CreateControls() {
  auto* c = new QWidget(this);
  c->setObjectName(QStringLiteral("client"));
  setCentralWidget(c);

  // The input and output projections: five option buttons in a group.
  auto makeProjection = [&](QGroupBox*& frame, const char* frameName, int top,
                            QButtonGroup*& group, const char* groupName,
                            std::array<std::pair<QRadioButton**, const char*>, 5> buttons) {
    frame = Frame(c, frameName, "Projection", 120, top, 4455, 495);
    group = new QButtonGroup(this);
    group->setObjectName(QString::fromLatin1(groupName));
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      const ProjectionOption& o = kProjectionOptions[i];
      *buttons[i].first =
          Option(group, frame, buttons[i].second, o.caption, o.left, 240, o.width, 195);
    }
  };

  // The two ellipsoids: half axis a, eccentricity e and name.
  auto makeEllipsoid = [&](int number, const EllipsoidPlaces& at, QGroupBox*& frame,
                           QLabel*& aLabel, QLineEdit*& a, QLabel*& eLabel, QLineEdit*& e,
                           QLineEdit*& name, QPushButton*& button) {
    const std::string n = std::to_string(number);
    frame = Frame(c, ("frmEll" + n).c_str(), ("Ellipsoid " + n).c_str(), 120, at.frameTop, 9855,
                  615);
    aLabel = Label(frame, ("Ell" + n + "a").c_str(), "a[m]", at.aLabelLeft, at.rowTop, 435, 285);
    a = Edit(frame, ("txtEll" + n + "a").c_str(), "0", at.aLeft, at.rowTop, at.aWidth, 285);
    eLabel = Label(frame, ("Ell" + n + "e").c_str(), "e", at.eLabelLeft, at.rowTop, 165, 285);
    e = Edit(frame, ("txtEll" + n + "e").c_str(), "0", at.eLeft, at.rowTop, 1935, 285);
    Label(frame, ("lblBezEll" + n).c_str(), "Bez.", at.nameLabelLeft, at.rowTop, 375, 285);
    name = Edit(frame, ("txtBezEll" + n).c_str(), "0", at.nameLeft, at.rowTop, 1935, 285);
    button = Button(frame, ("cmdEll" + n).c_str(), "Parameter", at.buttonLeft, at.buttonTop, 1215,
                    255);
  };

  // Source file row.
  oeffnen = Button(c, "oeffnen", "Source File", 120, 120, 1215, 255);
  txtQuelldatei = Edit(c, "txtQuelldatei", "", 1440, 120, 4215, 285);

  // Input projection.
  makeProjection(frmAbb1, "frmAbb1", 480, grpIn, "grpIn",
                 {{{&optInGK, "optInGK"}, {&optInKrovak, "optInKrovak"}, {&optInBL, "optInBL"},
                   {&optINetrs, "optINetrs"}, {&optINGKallgemein, "optINGKallgemein"}}});

  // File type.
  frmFiletyp = Frame(c, "frmFiletyp", "FileTyp", 4680, 480, 1850, 495);
  grpFiletyp = new QButtonGroup(this);
  grpFiletyp->setObjectName(QStringLiteral("grpFiletyp"));
  optSHP = Option(grpFiletyp, frmFiletyp, "optSHP", "Shape", 120, 240, 975, 195);
  optASCII = Option(grpFiletyp, frmFiletyp, "optASCII", "ASCII", 1080, 240, 735, 195);

  // Loaded properties file.
  Frame1 = Frame(c, "Frame1", "Properties File", 6600, 360, 3375, 615);
  txtPAR = Edit(Frame1, "txtPAR", "no loaded Properties", 120, 240, 3135, 285);
  txtPAR->setReadOnly(true);

  // Ellipsoid 1.
  makeEllipsoid(1, kEllipsoid1Places, frmEll1, Ell1a, txtEll1a, Ell1e, txtEll1e, txtBezEll1,
                cmdEll1);

  // Translation (translation mode only).
  frmTranslation = Frame(c, "frmTranslation", "Translation", 120, 960, 9855, 855);
  Label(frmTranslation, "lblDX", "ΔX", 120, 345, 435, 285);
  txtDX = Edit(frmTranslation, "txtDX", "0", 600, 345, 2415, 285);
  Label(frmTranslation, "lblDY", "ΔY", 3480, 345, 435, 285);
  txtDY = Edit(frmTranslation, "txtDY", "0", 3960, 345, 2415, 285);
  Label(frmTranslation, "lblDH", "ΔH", 6840, 345, 435, 285);
  txtDH = Edit(frmTranslation, "txtDH", "0", 7320, 345, 2415, 285);
  frmTranslation->setVisible(false);

  // The two seven-parameter sets: dX, dY, dZ, m in the first row, the
  // rotations gamma, beta, alpha in the second.
  constexpr int kRowLefts[4] = {390, 2850, 5310, 7635};
  constexpr int kLabelLefts[4] = {120, 2580, 5040, 7365};
  constexpr int kLabelWidth = 255;
  constexpr int kFieldWidth = 2055;
  const char* const kParLabels[7] = {"ΔX", "ΔY", "ΔZ", "m", "γ", "β", "α"};
  auto makeSet = [&](int set, QGroupBox*& frame, QLabel*& lbl, QLineEdit*& sysName,
                     QPushButton*& button, std::array<QLineEdit**, 7> fields, QLabel*& grid,
                     QCheckBox*& inverse) {
    const bool first = set == 1;
    frame = Frame(c, first ? "frmTrans1" : "frmTrans2",
                  first ? "1. Transformation" : "2. Transformation", 120, first ? 1560 : 2880,
                  9855, 1335);
    lbl = Label(frame, first ? "lblSevenParTrans" : "lblSevenParTrans2", "7 Parameter Transformation",
                240, 240, 2220, 285);
    sysName = Edit(frame, first ? "txtsevenParSys" : "txtsevenParSys2", "no Transformation", 2520,
                   240, 2535, 285);
    button = Button(frame, first ? "cmdSevenPar1" : "cmdSevenPar2", "Parameter", 5760, 240, 1215, 255);
    // A shift grid in place of the set: applied inverse (shown with a grid
    // only), and its extent in the free place of the second row.
    inverse = Check(frame, first ? "chkInverse1" : "chkInverse2", "inverse", 7200, 240, 1095, 255);
    inverse->setVisible(false);
    connect(inverse, &QCheckBox::toggled, this, [this, set](bool on) {
      if (!session_.grids[set - 1].active()) return;
      session_.grids[set - 1].inverse = on;
      session_.Touch();
      ShowGridSlots();
    });
    grid = Label(frame, first ? "lblGrid1" : "lblGrid2", "", 7500, 960, 2280, 285);
    for (int i = 0; i < 7; ++i) {
      const int column = i < 4 ? i : i - 4;
      const int top = i < 4 ? 600 : 960;
      const std::string name = (first ? "txtP" : "txtP2_") + std::to_string(i + 1);
      const std::string labelName = (first ? "lblP" : "lblP2_") + std::to_string(i + 1);
      Label(frame, labelName.c_str(), kParLabels[i], kLabelLefts[column], top, kLabelWidth, 285);
      *fields[static_cast<std::size_t>(i)] =
          Edit(frame, name.c_str(), "0", kRowLefts[column], top, kFieldWidth, 285);
    }
  };
  makeSet(1, frmTrans1, lblSevenParTrans, txtsevenParSys, cmdSevenPar1,
          {&txtP1, &txtP2, &txtP3, &txtP4, &txtP5, &txtP6, &txtP7}, lblGrid1, chkInverse1);
  makeSet(2, frmTrans2, lblSevenParTrans2, txtsevenParSys2, cmdSevenPar2,
          {&txtP2_1, &txtP2_2, &txtP2_3, &txtP2_4, &txtP2_5, &txtP2_6, &txtP2_7}, lblGrid2,
          chkInverse2);

  // Ellipsoid 2.
  makeEllipsoid(2, kEllipsoid2Places, frmEll2, Ell2a, txtEll2a, Ell2e, txtEll2e, txtBezEll2,
                cmdEll2);

  // Output projection.
  makeProjection(frmAbb2, "frmAbb2", 4800, grpOut, "grpOut",
                 {{{&optOutGK, "optOutGK"}, {&optOutKrovak, "optOutKrovak"}, {&optOutBL, "optOutBL"},
                   {&optOUTetrs, "optOUTetrs"}, {&optOutGKallgemein, "optOutGKallgemein"}}});

  // Developer self-test, never shown.
  Command1 = Button(c, "Command1", "Command1", 5520, 4920, 1215, 375);
  Command1->setVisible(false);

  cmdStart = Button(c, "cmdStart", "TRANSFORM", 6960, 5040, 2775, 615);
  // The preview, left of TRANSFORM at its height in every layout.
  cmdPreview = Button(c, "cmdPreview", "Vorschau", kPreviewLeft, 5040, 1095, 615);

  // Target file row.
  speichern = Button(c, "speichern", "Target File", 120, 5400, 1215, 255);
  txtZielDatei = Edit(c, "txtZielDatei", "", 1440, 5400, 4215, 285);

  // Log.
  txtDateien = new QPlainTextEdit(c);
  txtDateien->setObjectName(QStringLiteral("txtDateien"));
  txtDateien->setReadOnly(true);
  txtDateien->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  PlaceTwips(txtDateien, 120, 5760, 9855, 855);

  connect(oeffnen, &QPushButton::clicked, this, &Form1::oeffnen_Click);
  connect(speichern, &QPushButton::clicked, this, &Form1::speichern_Click);
  connect(cmdStart, &QPushButton::clicked, this, &Form1::cmdStart_Click);
  connect(cmdPreview, &QPushButton::clicked, this, &Form1::cmdPreview_Click);
  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(cmdEll1, &QPushButton::clicked, this, &Form1::cmdEll1_Click);
  connect(cmdEll2, &QPushButton::clicked, this, &Form1::cmdEll2_Click);
  connect(cmdSevenPar1, &QPushButton::clicked, this, &Form1::cmdSevenPar1_Click);
  connect(cmdSevenPar2, &QPushButton::clicked, this, &Form1::cmdSevenPar2_Click);

  using T = TransformSettings;
  textFields_ = {
      {txtQuelldatei, &T::txtQuelldatei}, {txtZielDatei, &T::txtZielDatei},
      {txtEll1a, &T::txtEll1a},           {txtEll1e, &T::txtEll1e},
      {txtBezEll1, &T::txtBezEll1},       {txtEll2a, &T::txtEll2a},
      {txtEll2e, &T::txtEll2e},           {txtBezEll2, &T::txtBezEll2},
      {txtP1, &T::txtP1},                 {txtP2, &T::txtP2},
      {txtP3, &T::txtP3},                 {txtP4, &T::txtP4},
      {txtP5, &T::txtP5},                 {txtP6, &T::txtP6},
      {txtP7, &T::txtP7},                 {txtsevenParSys, &T::txtsevenParSys},
      {txtP2_1, &T::txtP2_1},             {txtP2_2, &T::txtP2_2},
      {txtP2_3, &T::txtP2_3},             {txtP2_4, &T::txtP2_4},
      {txtP2_5, &T::txtP2_5},             {txtP2_6, &T::txtP2_6},
      {txtP2_7, &T::txtP2_7},             {txtsevenParSys2, &T::txtsevenParSys2},
      {txtDX, &T::txtDX},                 {txtDY, &T::txtDY},
      {txtDH, &T::txtDH},                 {txtPAR, &T::txtPAR},
  };
  optionFields_ = {
      {optSHP, &T::optSHP},
      {optASCII, &T::optASCII},
      {optInGK, &T::optInGK},
      {optInKrovak, &T::optInKrovak},
      {optInBL, &T::optInBL},
      {optINetrs, &T::optINetrs},
      {optINGKallgemein, &T::optINGKallgemein},
      {optOutGK, &T::optOutGK},
      {optOutKrovak, &T::optOutKrovak},
      {optOutBL, &T::optOutBL},
      {optOUTetrs, &T::optOUTetrs},
      {optOutGKallgemein, &T::optOutGKallgemein},
  };
  lockable_ = {txtQuelldatei, txtZielDatei, txtBezEll1, txtBezEll2, txtEll1a, txtEll1e,
               txtEll2a,      txtEll2e,     txtP1,      txtP2,      txtP3,    txtP4,
               txtP5,         txtP6,        txtP7,      txtP2_1,    txtP2_2,  txtP2_3,
               txtP2_4,       txtP2_5,      txtP2_6,    txtP2_7,    txtsevenParSys,
               txtsevenParSys2};
}

void Form1::Form_Load() {
  optInKrovak->setChecked(true);
  optSHP->setChecked(true);
  optOutGK->setChecked(true);
  session_.OptionValues = DefaultOptionValues(session_.decimalSign());
  session_.asciiLayout = StoredAsciiLayout();
  syncToSettings();
  // The grids of the last session, where they can still be read.
  const QSettings settings = UserSettings();
  for (int set = 1; set <= 2; ++set) {
    const QString key = QStringLiteral("grid%1/").arg(set);
    const std::string file = S(settings.value(key + QStringLiteral("file")).toString());
    if (file.empty() || !UseGrid(set, file)) continue;
    session_.grids[set - 1].inverse = settings.value(key + QStringLiteral("inverse")).toBool();
  }
  syncFromSettings();
  // Creates the options dialog hidden, fills it from the defaults and
  // arranges this window in the expert seven-parameter layout.
  optionsDialog().cmdApply->click();
}

// ---------------------------------------------------------------- settings

void Form1::syncToSettings() {
  TransformSettings& t = session_.settings;
  for (const auto& [edit, field] : textFields_) t.*field = S(edit->text());
  for (const auto& [button, field] : optionFields_) t.*field = button->isChecked();
  session_.Touch();
}

void Form1::syncFromSettings() {
  const TransformSettings& t = session_.settings;
  for (const auto& [edit, field] : textFields_) {
    const QString text = Q(t.*field);
    if (edit->text() != text) edit->setText(text);
  }
  for (const auto& [button, field] : optionFields_) setOption(button, t.*field);
  txtDateien->setPlainText(Displayed(t.txtDateien));
  ShowGridSlots();
}

void Form1::setOption(QAbstractButton* button, bool value) {
  if (value) {
    button->setChecked(true);
    return;
  }
  if (!button->isChecked()) return;
  // The checked button of an exclusive group cannot be unchecked while the
  // group is exclusive.
  QButtonGroup* group = button->group();
  if (group) group->setExclusive(false);
  const bool autoExclusive = button->autoExclusive();
  button->setAutoExclusive(false);
  button->setChecked(false);
  button->setAutoExclusive(autoExclusive);
  if (group) group->setExclusive(true);
}

// ---------------------------------------------------------------- layouts

void Form1::SetMainHeight(int twips) { setFixedSize(TwipsSize(kMainWidth, twips)); }

void Form1::setInputLocked(bool locked) {
  for (QLineEdit* e : lockable_) e->setReadOnly(locked);
}

void Form1::ShowSevenParLayout(bool expert) {
  frmTranslation->setVisible(false);
  MoveTwips(frmFiletyp, 4680, 480);
  for (QWidget* w : std::initializer_list<QWidget*>{frmTrans1, frmTrans2, frmEll1, frmEll2, frmAbb1,
                                                    frmAbb2, frmFiletyp, txtDateien}) {
    w->setVisible(expert);
  }
  SetMainHeight(expert ? kExpertHeight : kSimpleHeight);
  const int targetRowTop = expert ? 5400 : 600;
  MoveTwips(txtZielDatei, 1440, targetRowTop);
  MoveTwips(speichern, 120, targetRowTop);
  MoveTwips(cmdStart, 6960, expert ? 5040 : 1100);
  MoveTwips(cmdPreview, kPreviewLeft, expert ? 5040 : 1100);
}

void Form1::showExpertLayout() { ShowSevenParLayout(true); }

void Form1::showSimpleLayout() { ShowSevenParLayout(false); }

void Form1::showTranslationLayout() {
  for (QWidget* w :
       std::initializer_list<QWidget*>{frmTrans1, frmTrans2, frmEll1, frmEll2, frmAbb1, frmAbb2}) {
    w->setVisible(false);
  }
  frmTranslation->setVisible(true);
  SetMainHeight(kTranslationHeight);
  MoveTwips(txtZielDatei, 1440, 600);
  MoveTwips(speichern, 120, 600);
  MoveTwips(cmdStart, 6960, 2100);
  MoveTwips(cmdPreview, kPreviewLeft, 2100);
  MoveTwips(frmFiletyp, 120, 2100);
}

// ---------------------------------------------------------------- other windows

OptionsDialog& Form1::optionsDialog() {
  if (!options_) {
    options_ = new OptionsDialog(*this);
    connect(options_, &OptionsDialog::discarded, this, [this] { options_ = nullptr; });
  }
  return *options_;
}

void Form1::M_option_Click() { BringToFront(&optionsDialog()); }

void Form1::M_Estimate_Click() {
  if (!estimate_) {
    estimate_ = new EstimateDialog(this);
    estimate_->setAttribute(Qt::WA_DeleteOnClose);
  }
  BringToFront(estimate_);
}

void Form1::M_Info_Click() { BringToFront(CreatedOnce(info_, this)); }

void Form1::M_Help_Click() {
  const QString chm = ExternalHelpFile();
  if (!chm.isEmpty() && QDesktopServices::openUrl(QUrl::fromLocalFile(chm))) return;
  BringToFront(CreatedOnce(help_, this));
}

// ---------------------------------------------------------------- file dialogs

void Form1::SetFileFilter() {
  // With neither file type selected the dialog keeps its last filter.
  if (optSHP->isChecked()) CommonDialog1().setFilter(QString::fromLatin1(filters::kShape));
  if (optASCII->isChecked()) CommonDialog1().setFilter(QString::fromLatin1(filters::kAscii));
  CommonDialog1().setFilterIndex(1);
}

void Form1::oeffnen_Click() {
  SetFileFilter();
  if (CommonDialog1().showOpen()) txtQuelldatei->setText(CommonDialog1().fileName());
}

void Form1::speichern_Click() {
  SetFileFilter();
  if (CommonDialog1().showSave()) txtZielDatei->setText(CommonDialog1().fileName());
}

void Form1::LoadParameterFile(const char* filter, const ParameterFileLoader& load, int number,
                              const char* extension) {
  CommonDialog& cd = CommonDialog1();
  cd.setFilter(QString::fromLatin1(filter));
  cd.setFilterIndex(1);
  // The dialog starts in the shipped library, unless the last name chosen is
  // a file of this kind (then beside it).
  const QString last = cd.fileName();
  if (!last.endsWith(QLatin1String(extension), Qt::CaseInsensitive)) cd.setFileName(QString());
  cd.setInitDir(QString::fromStdString(DataDir().string()));
  const bool chosen = cd.showOpen();
  cd.setInitDir(QString());
  if (!chosen) {
    cd.setFileName(last);
    return;
  }
  syncToSettings();
  // A file that cannot be read changes nothing and says nothing.
  if (load(S(cd.fileName()), session_.settings, number, session_.decimalSign())) {
    session_.Touch();
    syncFromSettings();
  }
}

void Form1::LoadEllipsoid(int group) {
  LoadParameterFile(filters::kEllipsoid, LoadEllipsoidFile, group, ".ell");
}

void Form1::LoadSevenPar(int set) {
  // The button takes a shift grid in place of the set as well.
  const auto load = [this](const std::string& path, TransformSettings& t, int n, char sign) {
    const QString suffix = QFileInfo(Q(path)).suffix().toLower();
    if (suffix == QLatin1String("gsb") || suffix == QLatin1String("tif")) return UseGrid(n, path);
    if (!LoadSevenParFile(path, t, n, sign)) return false;
    session_.grids[n - 1] = GridSlot{};
    return true;
  };
  LoadParameterFile(filters::kSevenParOrGrid, load, set, ".7pr");
}

bool Form1::UseGrid(int set, const std::string& path) {
  GridExtent x;
  try {
    x = DescribeGridFile(path);
  } catch (const RunTimeError& e) {
    messages_->message(Q(e.what()), QString::fromLatin1(kProgramName), MsgIcon::kNone);
    return false;
  }
  session_.grids[set - 1] = {path, false};
  TransformSettings& t = session_.settings;
  (set == 1 ? t.txtsevenParSys : t.txtsevenParSys2) = S(QFileInfo(Q(path)).fileName());
  for (std::string* field : t.SevenParFields(set)) *field = "0";
  // West to east, south to north, to about a kilometre.
  auto deg = [this](double v) {
    return Q(FormatNumber(std::round(v * 100) / 100, session_.decimalSign())) + QChar(0xB0);
  };
  const QChar dash(0x2013);
  gridExtent_[set - 1] = deg(x.west) + dash + deg(x.east) + QStringLiteral(" E, ") +
                         deg(x.south) + dash + deg(x.north) + QStringLiteral(" N");
  return true;
}

void Form1::ShowGridSlots() {
  QSettings settings = UserSettings();
  for (int set = 1; set <= 2; ++set) {
    const GridSlot& g = session_.grids[set - 1];
    for (const std::string* field : session_.settings.SevenParFields(set)) {
      for (const auto& [edit, member] : textFields_) {
        if (&(session_.settings.*member) == field) edit->setEnabled(!g.active());
      }
    }
    QCheckBox* inverse = set == 1 ? chkInverse1 : chkInverse2;
    const QSignalBlocker quiet(inverse);
    inverse->setVisible(g.active());
    inverse->setChecked(g.inverse);
    QLabel* extent = set == 1 ? lblGrid1 : lblGrid2;
    extent->setText(g.active() ? gridExtent_[set - 1] : QString());
    extent->setToolTip(Q(g.file));
    const QString key = QStringLiteral("grid%1/").arg(set);
    settings.setValue(key + QStringLiteral("file"), Q(g.file));
    settings.setValue(key + QStringLiteral("inverse"), g.inverse);
  }
}

// ---------------------------------------------------------------- properties file

void Form1::M_EinstSp_Click() {
  CommonDialog& cd = CommonDialog1();
  cd.setFilter(QString::fromLatin1(filters::kProperties));
  cd.setFilterIndex(1);
  if (!cd.showSave()) return;
  syncToSettings();
  const OptionTable dialogValues = optionsDialog().controlValues();
  try {
    SaveProperties(S(cd.fileName()), session_, dialogValues);
  } catch (const PropertiesError& e) {
    txtPAR->setText(Q(session_.settings.txtPAR));
    messages_->message(Q(PropertiesErrorMessage(e.number(), true)), QString(),
                       MsgIcon::kExclamation, Q(e.what()));
    return;
  }
  txtPAR->setText(Q(session_.settings.txtPAR));
}

void Form1::M_EinstLa_Click() {
  CommonDialog& cd = CommonDialog1();
  cd.setFilter(QString::fromLatin1(filters::kProperties));
  cd.setFilterIndex(1);
  if (!cd.showOpen()) return;
  OptionsDialog& dlg = optionsDialog();
  syncToSettings();
  OptionTable dialogValues = dlg.controlValues();
  int error = 0;
  QString detail;
  try {
    LoadProperties(S(cd.fileName()), session_, dialogValues);
  } catch (const PropertiesError& e) {
    error = e.number();
    detail = Q(e.what());
  }
  // Every value read before a faulty line is assigned, to this window and to
  // the options dialog's controls.
  session_.Touch();
  syncFromSettings();
  dlg.setControlValues(dialogValues);
  if (error != 0) {
    messages_->message(Q(PropertiesErrorMessage(error, false)), QString(), MsgIcon::kExclamation,
                       detail);
    return;
  }
  dlg.cmdApply->click();
}

// ---------------------------------------------------------------- job

void Form1::SetJobRunning(bool running) {
  jobRunning_ = running;
  // The window itself stays enabled so that its child windows (options
  // dialog, progress window, messages) stay usable; its contents and menus
  // do not.
  centralWidget()->setEnabled(!running);
  menuBar()->setEnabled(!running);
  M_EinstLa->setEnabled(!running);
  M_EinstSp->setEnabled(!running);
  M_option->setEnabled(!running);
  M_Info->setEnabled(!running);
}

void Form1::cmdStart_Click() {
  if (jobRunning_) return;
  syncToSettings();
  SetJobRunning(true);
  // The windows get their first turn at the job's first event pass, however
  // short the job: an option applied then holds from the next block on.
  nextPass_ = Clock::now();
  try {
    RunJob(session_);
  } catch (const std::exception& e) {
    messages_->message(Q(e.what()), QString::fromLatin1(kProgramName), MsgIcon::kNone);
  }
  if (progress_) ProgressClose();
  SetJobRunning(false);
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

void Form1::cmdPreview_Click() {
  syncToSettings();
  // A new preview for the settings of now.
  if (preview_) preview_->close();
  preview_ = new PreviewWindow(session_, commonDialog_.get(), messages_.get(), this);
  preview_->setAttribute(Qt::WA_DeleteOnClose);
  BringToFront(preview_);
}

void Form1::Command1_Click() {
  // Developer self-test of the geodetic routines into the temporary folder;
  // a file that cannot be written is no reason to stop the program.
  const QString folder = QDir::tempPath();
  // No temporary folder (it may be configured to one that does not exist):
  // no test file, and certainly none in the working folder.
  if (folder.isEmpty() || !QDir(folder).exists()) return;
  const QString path = QDir(folder).filePath(QStringLiteral("test.txt"));
  try {
    std::ofstream out(QFile::encodeName(path).toStdString(),
                      std::ios::binary | std::ios::out | std::ios::trunc);
    if (!out) return;
    geotra::WriteSelfTest(out);
  } catch (const std::exception&) {
  }
}

// ---------------------------------------------------------------- FrontEnd

void Form1::ShowMessage(const std::string& text, const std::string& title, MsgIcon icon) {
  messages_->message(Q(text), title.empty() ? QString::fromLatin1(kProgramName) : Q(title), icon);
}

bool Form1::AskYesNo(const std::string& text, const std::string& title, MsgIcon icon) {
  return messages_->yesNo(Q(text), title.empty() ? QString::fromLatin1(kProgramName) : Q(title),
                          icon);
}

void Form1::LogChanged(const std::string& text) {
  txtDateien->setPlainText(Displayed(text));
  txtDateien->verticalScrollBar()->setValue(txtDateien->verticalScrollBar()->maximum());
}

void Form1::EventPass() {
  if (progress_) progress_->flush();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Form1::ProcessEvents() {
  // Called after every point: a clock read decides whether the windows get
  // their turn, so that a job pays for at most one event pass every few
  // milliseconds.
  const Clock::time_point now = Clock::now();
  if (now < nextPass_) return;
  EventPass();
  nextPass_ = Clock::now() + kEventPassInterval;
  // The ASCII driver has no cancel of its own: closing the window stops it
  // like an error after the last written line.
  if (closePending_ && !session_.settings.optSHP) throw RunTimeError(errnum::kUserInterrupt);
}

void Form1::ProcessEventsAfter(long points) {
  // Points done on worker threads: one pass for all of them.
  (void)points;
  ProcessEvents();
}

void Form1::ProgressOpen() {
  if (!progress_) {
    progress_ = new ProgressWindow(this);
    connect(progress_, &ProgressWindow::cancelRequested, this,
            [this] { session_.CancelRequested = true; });
  }
  CentreOnScreen(progress_);
  progress_->show();
  // Once shown, the window frame is known on most platforms.
  CentreOnScreen(progress_);
  // Show the window at once.
  EventPass();
  nextPass_ = Clock::now() + kEventPassInterval;
}

void Form1::ProgressClose() {
  if (!progress_) return;
  // Called by the run, never from within the window's own handlers.
  delete progress_.data();
}

void Form1::ProgressPercent(const std::string& text) {
  if (progress_) progress_->setPercent(Q(text));
}

void Form1::ProgressMin(ProgressBarId bar, float value) {
  if (progress_) progress_->setMinimum(bar, value);
}

void Form1::ProgressMax(ProgressBarId bar, float value) {
  if (progress_) progress_->setMaximum(bar, value);
}

void Form1::ProgressValue(ProgressBarId bar, float value) {
  if (progress_) progress_->setValue(bar, value);
}

// ---------------------------------------------------------------- window events

void Form1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!centred_) {
    centred_ = true;
    CentreOnScreen(this);
  }
}

void Form1::closeEvent(QCloseEvent* event) {
  if (jobRunning_) {
    // Stop the job first (a shapefile run deletes its targets); the window
    // closes when the job has returned.
    closePending_ = true;
    session_.CancelRequested = true;
    event->ignore();
    return;
  }
  if (options_) options_->discard();
  if (info_) info_->close();
  if (help_) help_->close();
  if (preview_) preview_->close();
  event->accept();
}

}  // namespace pelmo::ui
