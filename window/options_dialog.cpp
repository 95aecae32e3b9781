#include "window/options_dialog.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabBar>
#include <cmath>

#include "core/numtext.hpp"
#include "formats/ascii_layout.hpp"
#include "window/controls.hpp"
#include "window/form1.hpp"
#include "window/look.hpp"

namespace pelmo::ui {

QSettings UserSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Pelmo"),
                   QStringLiteral("Pelmo"));
}

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }


/// Left edge (twips) of the page of the selected tab, and of the others.
constexpr int kPageShownLeft = 210;
constexpr int kPageHiddenLeft = -20000;
constexpr int kPageTop = 600;

struct TabEntry {
  const char* caption;
  const char* key;
  const char* toolTip;
};
constexpr TabEntry kTabs[kOptionTabs] = {
    {"General", "Group1", "Optionen für Gruppe 1 festlegen"},
    {"Gauss Kruger", "Group2", "Optionen für Gruppe 2 festlegen"},
    {"UTM", "Group3", "Optionen für Gruppe 3 festlegen"},
    {"general Gauss Projection", "Group4", "Optionen für Gruppe 4 festlegen"},
    {"ASCII", "Group5", "Optionen für Gruppe 5 festlegen"},
};

// The stored forms of the option entries.
std::string CheckText(const QCheckBox* box) {
  switch (box->checkState()) {
    case Qt::Checked:
      return "1";
    case Qt::PartiallyChecked:
      return "2";
    default:
      return "0";
  }
}

Qt::CheckState CheckFromText(const std::string& text) {
  double v = 0;
  if (TryParseNumber(text, v) != 0) return Qt::Unchecked;
  switch (static_cast<long>(std::lround(v))) {
    case 1:
      return Qt::Checked;
    case 2:
      return Qt::PartiallyChecked;
    default:
      return Qt::Unchecked;
  }
}

std::string BoolText(bool value) { return value ? kTrueText : kFalseText; }

bool BoolFromText(const std::string& text) {
  const QString t = Q(text).trimmed();
  if (t.compare(QLatin1String(kTrueText), Qt::CaseInsensitive) == 0 ||
      t.compare(QLatin1String("#TRUE#"), Qt::CaseInsensitive) == 0) {
    return true;
  }
  double v = 0;
  return TryParseNumber(text, v) == 0 && v != 0;
}

QStringList GaussKruegerMeridians() { return {QStringLiteral("9"), QStringLiteral("12"), QStringLiteral("15")}; }

QStringList UtmMeridians() {
  QStringList list;
  // Central meridians of the 60 UTM zones.
  for (int meridian = -177; meridian <= 177; meridian += 6) list << QString::number(meridian);
  return list;
}

/// The central meridian row of a projection's "In" or "Out" frame: its
/// caption, the combo box of the meridians, and the read-only meridian index.
struct MeridianRow {
  /// Tops and heights (twips) where the two projection pages differ.
  struct Places {
    int captionTop, captionHeight, comboTop, indexLabelTop, indexTop;
  };

  const char* caption;
  QStringList meridians;
  Places at;

  /// Creates the row in `frame`; returns the combo box, the index field in
  /// `index`.
  QComboBox* create(QGroupBox* frame, const char* comboName, const char* meridian,
                    const char* indexName, QLineEdit*& index) const {
    Label(frame, "", caption, 120, at.captionTop, 3600, at.captionHeight);
    QComboBox* combo = Combo(frame, comboName, meridians, meridian, 120, at.comboTop, 735, 315);
    Label(frame, "", "Meridian Index", 2400, at.indexLabelTop, 1155, 285);
    index = Edit(frame, indexName, "5", 3600, at.indexTop, 735, 285);
    index->setReadOnly(true);
    return combo;
  }
};

/// The UTM scale row below the meridian row.
QLineEdit* ScaleField(QGroupBox* frame, const char* name, const char* text) {
  Label(frame, "", "Scale", 840, 960, 555, 285);
  return Edit(frame, name, text, 1440, 960, 2175, 285);
}

}  // namespace

OptionsDialog::OptionsDialog(Form1& form)
    : QDialog(&form, kFixedDialogFlags), form_(form) {
  SetUpFixedWindow(this, "frmOptions", "Optionen", 6135, 4905);
  setModal(false);

  // The tab strip: the tabs, and a panel as its body; the pages lie on top.
  tbsOptions = new QTabBar(this);
  tbsOptions->setObjectName(QStringLiteral("tbsOptions"));
  tbsOptions->setExpanding(false);
  tbsOptions->setDrawBase(false);
  for (int i = 0; i < kOptionTabs; ++i) {
    tbsOptions->addTab(QString::fromUtf8(kTabs[i].caption));
    tbsOptions->setTabData(i, QString::fromLatin1(kTabs[i].key));
    tbsOptions->setTabToolTip(i, QString::fromUtf8(kTabs[i].toolTip));
  }
  const QRect strip = TwipsRect(120, 120, 5895, 4245);
  const int tabHeight = tbsOptions->sizeHint().height();
  tbsOptions->setGeometry(strip.left(), strip.top(), strip.width(), tabHeight);
  tbsOptionsPanel = new QFrame(this);
  tbsOptionsPanel->setObjectName(QStringLiteral("tbsOptionsPanel"));
  tbsOptionsPanel->setFrameShape(QFrame::StyledPanel);
  tbsOptionsPanel->setFrameShadow(QFrame::Raised);
  tbsOptionsPanel->setGeometry(strip.left(), strip.top() + tabHeight - 1, strip.width(),
                               strip.height() - tabHeight + 1);
  tbsOptions->raise();

  for (int i = 0; i < kOptionTabs; ++i) {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("picOptions"));
    page->setProperty("Index", i);
    PlaceTwips(page, kPageHiddenLeft, kPageTop, 5655, 3525);
    picOptions[static_cast<std::size_t>(i)] = page;
  }
  CreatePageGeneral(picOptions[0]);
  CreatePageGaussKruger(picOptions[1]);
  CreatePageUtm(picOptions[2]);
  CreatePageGeneralGauss(picOptions[3]);
  CreatePageAscii(picOptions[4]);

  cmdOK = Button(this, "cmdOK", "OK", 2520, 4455, 1095, 375);
  cmdCancel = Button(this, "cmdCancel", "Cancel", 3720, 4455, 1095, 375);
  cmdApply = Button(this, "cmdApply", "Apply", 4920, 4455, 1095, 375);
  connect(cmdOK, &QPushButton::clicked, this, &OptionsDialog::cmdOK_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &OptionsDialog::cmdCancel_Click);
  connect(cmdApply, &QPushButton::clicked, this, &OptionsDialog::cmdApply_Click);

  connect(tbsOptions, &QTabBar::currentChanged, this, [this] { tbsOptions_Click(); });
  tbsOptions_Click();

  // The meridian index follows every change of the combo box text.
  connect(comGKBM, &QComboBox::editTextChanged, this, [this] { UpdateMeridianIndex(comGKBM, txtMkenn, false); });
  connect(comGKBM2, &QComboBox::editTextChanged, this, [this] { UpdateMeridianIndex(comGKBM2, txtMkenn2, false); });
  connect(comUTMBM, &QComboBox::editTextChanged, this, [this] { UpdateMeridianIndex(comUTMBM, txtUTMkenn, true); });
  connect(comUTMBM2, &QComboBox::editTextChanged, this, [this] { UpdateMeridianIndex(comUTMBM2, txtUTMkenn2, true); });

  // Key preview: the dialog sees Ctrl+Tab before any of its controls.
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);

  Form_Load();
}

void OptionsDialog::CreatePageGeneral(QWidget* page) {
  fraSample1 = Frame(page, "fraSample1", "General Options", 240, 120, 5265, 3330);
  chk_Sperre = Check(fraSample1, "chk_Sperre", "diable direct input at textfields", 360, 360, 2055, 615);
  chkStat1 = Check(fraSample1, "chkStat1", "show upper Progressbar (slower)", 360, 1560, 2175, 495);
  chkStat2 = Check(fraSample1, "chkStat2", "show lower Progressbar (slower)", 360, 2160, 2295, 495);
  Frame1 = Frame(fraSample1, "Frame1", "Modus", 2520, 240, 2535, 2415);
  grpModus = new QButtonGroup(this);
  grpModus->setObjectName(QStringLiteral("grpModus"));
  optSevPar =
      Option(grpModus, Frame1, "optSevPar", "7 Parameter Transformation", 360, 360, 1575, 375);
  chkExp = Check(Frame1, "chkExp", "Expert", 360, 840, 1695, 495);
  Line1 = new QFrame(Frame1);
  Line1->setObjectName(QStringLiteral("Line1"));
  Line1->setFrameShape(QFrame::HLine);
  Line1->setFrameShadow(QFrame::Sunken);
  Line1->setGeometry(TwipsX(120), TwipsY(1560) - 1, TwipsX(2280) - TwipsX(120), 2);
  optTranslation = Option(grpModus, Frame1, "optTranslation", "Translation", 360, 1680, 1335, 495);
}

void OptionsDialog::CreatePageGaussKruger(QWidget* page) {
  fraSample2 = Frame(page, "fraSample2", "Gauss Kruger Projection", 240, 120, 5265, 3330);
  frmGKein = Frame(fraSample2, "frmGKein", "In", 120, 240, 4935, 1335);
  frmGKaus = Frame(fraSample2, "frmGKaus", "Out", 120, 1800, 4935, 1335);
  const MeridianRow row{"Meridian of Gauss Kruger Projektion", GaussKruegerMeridians(),
                        {.captionTop = 360, .captionHeight = 255, .comboTop = 720,
                         .indexLabelTop = 720, .indexTop = 720}};
  comGKBM = row.create(frmGKein, "comGKBM", "0", "txtMkenn", txtMkenn);
  comGKBM2 = row.create(frmGKaus, "comGKBM2", "15", "txtMkenn2", txtMkenn2);
}

void OptionsDialog::CreatePageUtm(QWidget* page) {
  fraSample3 = Frame(page, "fraSample3", "UTM Projection", 240, 120, 5265, 3330);
  frmUTMein = Frame(fraSample3, "frmUTMein", "In", 120, 240, 4935, 1335);
  frmUTMaus = Frame(fraSample3, "frmUTMaus", "Out", 120, 1800, 4935, 1335);
  const MeridianRow row{"Meridian of UTM Projection", UtmMeridians(),
                        {.captionTop = 240, .captionHeight = 240, .comboTop = 480,
                         .indexLabelTop = 510, .indexTop = 495}};
  comUTMBM = row.create(frmUTMein, "comUTMBM", "0", "txtUTMkenn", txtUTMkenn);
  txtUTMma = ScaleField(frmUTMein, "txtUTMma", "Text3");
  comUTMBM2 = row.create(frmUTMaus, "comUTMBM2", "0", "txtUTMkenn2", txtUTMkenn2);
  txtUTMma2 = ScaleField(frmUTMaus, "txtUTMma2", "Text4");
}

void OptionsDialog::CreatePageGeneralGauss(QWidget* page) {
  fraSample4 = Frame(page, "fraSample4", "general Gauss Projection", 240, 120, 5265, 3330);
  Frame2 = Frame(fraSample4, "Frame2", "In", 240, 240, 4815, 1455);
  Frame3 = Frame(fraSample4, "Frame3", "Out", 240, 1680, 4815, 1455);
  struct FieldPlace {
    const char* label;
    int left, top;
    QLineEdit** in;
    const char* inName;
    QLineEdit** out;
    const char* outName;
    const char* text;
  };
  const FieldPlace places[] = {
      {"Northing", 120, 480, &txtINnorthing, "txtINnorthing", &txtOUTnorthing, "txtOUTnorthing", "0"},
      {"Meridian", 2760, 480, &txtINmeridian, "txtINmeridian", &txtOUTmeridian, "txtOUTmeridian", "15"},
      {"Easting", 120, 1080, &txtINeasting, "txtINeasting", &txtOUTeasting, "txtOUTeasting", "5500000"},
      {"Scale", 2760, 1080, &txtINscale, "txtINscale", &txtOUTscale, "txtOUTscale", "1"},
  };
  constexpr int kLabelHeight = 240;
  for (const FieldPlace& f : places) {
    for (int side = 0; side < 2; ++side) {
      QGroupBox* frame = side == 0 ? Frame2 : Frame3;
      // The label stands above its field.
      Label(frame, "", f.label, f.left, f.top - kLabelHeight, 1935, kLabelHeight);
      *(side == 0 ? f.in : f.out) =
          Edit(frame, side == 0 ? f.inName : f.outName, f.text, f.left, f.top, 1935, 285);
    }
  }
}

void OptionsDialog::CreatePageAscii(QWidget* page) {
  fraSample5 = Frame(page, "fraSample5", "ASCII Layout", 240, 120, 5265, 3330);
  chkLayout = Check(fraSample5, "chkLayout", "read and write ASCII files by this layout", 240, 300,
                    4815, 375);
  Label(fraSample5, "", "Columns", 240, 840, 1095, 285);
  txtColumns = Edit(fraSample5, "txtColumns", "first,second,height", 1440, 840, 3615, 285);
  Label(fraSample5, "", "Separator", 240, 1320, 1095, 285);
  QStringList separators;
  for (AsciiSeparator sep : {AsciiSeparator::kBlank, AsciiSeparator::kTab, AsciiSeparator::kComma,
                             AsciiSeparator::kSemicolon}) {
    separators << QString::fromLatin1(AsciiSeparatorName(sep));
  }
  comSeparator = Combo(fraSample5, "comSeparator", separators, "blank", 1440, 1320, 1575, 315);
  comSeparator->setEditable(false);
  Label(fraSample5, "", "Header lines", 240, 1800, 1095, 285);
  txtHeader = Edit(fraSample5, "txtHeader", "0", 1440, 1800, 735, 285);
  Label(fraSample5, "lblLayoutHelp",
        "Columns: id, first, second, height, skip. Header lines, empty lines and lines "
        "starting with # are copied unchanged.",
        240, 2280, 4815, 855)
      ->setWordWrap(true);
}

// ---------------------------------------------------------------- Load, Apply

void OptionsDialog::Form_Load() {
  CentreOnScreen(this);
  setControlValues(form_.session().OptionValues);
  setLayoutValues(form_.session().asciiLayout);
}

bool OptionsDialog::layoutValues(AsciiLayout& layout, std::string& error) const {
  AsciiLayout l;
  l.active = chkLayout->isChecked();
  if (!ParseAsciiColumns(S(txtColumns->text()), l.columns, error)) {
    error = "Spalten: " + error;
    return false;
  }
  (void)ParseAsciiSeparator(S(comSeparator->currentText()), l.separator);
  bool ok = false;
  l.headerLines = txtHeader->text().trimmed().toLong(&ok);
  if (!ok || l.headerLines < 0) {
    error = "Kopfzeilen: \"" + S(txtHeader->text()) + "\" ist keine Zahl von 0 an";
    return false;
  }
  layout = l;
  return true;
}

void OptionsDialog::setLayoutValues(const AsciiLayout& layout) {
  chkLayout->setChecked(layout.active);
  txtColumns->setText(Q(AsciiColumnsText(layout.columns)));
  comSeparator->setCurrentText(QString::fromLatin1(AsciiSeparatorName(layout.separator)));
  txtHeader->setText(QString::number(layout.headerLines));
}

AsciiLayout StoredAsciiLayout() {
  const QSettings settings = UserSettings();
  AsciiLayout layout;
  std::string error;
  AsciiLayout read;
  read.active = settings.value(QStringLiteral("ascii/layout"), false).toBool();
  bool ok = false;
  read.headerLines = settings.value(QStringLiteral("ascii/header"), 0).toLongLong(&ok);
  // Settings edited by hand that make no layout are not used.
  if (ParseAsciiColumns(S(settings.value(QStringLiteral("ascii/columns"), QStringLiteral("first,second,height")).toString()),
                        read.columns, error) &&
      ParseAsciiSeparator(S(settings.value(QStringLiteral("ascii/separator"), QStringLiteral("blank")).toString()),
                          read.separator) &&
      ok && read.headerLines >= 0) {
    layout = read;
  }
  return layout;
}

void StoreAsciiLayout(const AsciiLayout& layout) {
  QSettings settings = UserSettings();
  settings.setValue(QStringLiteral("ascii/layout"), layout.active);
  settings.setValue(QStringLiteral("ascii/columns"), Q(AsciiColumnsText(layout.columns)));
  settings.setValue(QStringLiteral("ascii/separator"),
                    QString::fromLatin1(AsciiSeparatorName(layout.separator)));
  settings.setValue(QStringLiteral("ascii/header"), static_cast<qlonglong>(layout.headerLines));
}

OptionTable OptionsDialog::controlValues() const {
  OptionTable v;
  v[opt::kSperre] = CheckText(chk_Sperre);
  v[opt::kGKBM] = S(comGKBM->currentText());
  v[opt::kGKBM2] = S(comGKBM2->currentText());
  v[opt::kUTMBM] = S(comUTMBM->currentText());
  v[opt::kUTMBM2] = S(comUTMBM2->currentText());
  v[opt::kUTMma] = S(txtUTMma->text());
  v[opt::kUTMma2] = S(txtUTMma2->text());
  v[opt::kExp] = CheckText(chkExp);
  v[opt::kStat1] = CheckText(chkStat1);
  v[opt::kStat2] = CheckText(chkStat2);
  v[opt::kSevPar] = BoolText(optSevPar->isChecked());
  v[opt::kTranslation] = BoolText(optTranslation->isChecked());
  v[opt::kINeasting] = S(txtINeasting->text());
  v[opt::kINmeridian] = S(txtINmeridian->text());
  v[opt::kINnorthing] = S(txtINnorthing->text());
  v[opt::kINscale] = S(txtINscale->text());
  v[opt::kOUTeasting] = S(txtOUTeasting->text());
  v[opt::kOUTmeridian] = S(txtOUTmeridian->text());
  v[opt::kOUTnorthing] = S(txtOUTnorthing->text());
  v[opt::kOUTscale] = S(txtOUTscale->text());
  return v;
}

void OptionsDialog::setControlValues(const OptionTable& v) {
  auto setText = [](QLineEdit* e, const std::string& text) {
    if (e->text() != Q(text)) e->setText(Q(text));
  };
  // In index order; optSevPar before optTranslation, so that entry 11 wins
  // when both hold True.
  chk_Sperre->setCheckState(CheckFromText(v[opt::kSperre]));
  comGKBM->setCurrentText(Q(v[opt::kGKBM]));
  comGKBM2->setCurrentText(Q(v[opt::kGKBM2]));
  comUTMBM->setCurrentText(Q(v[opt::kUTMBM]));
  comUTMBM2->setCurrentText(Q(v[opt::kUTMBM2]));
  setText(txtUTMma, v[opt::kUTMma]);
  setText(txtUTMma2, v[opt::kUTMma2]);
  chkExp->setCheckState(CheckFromText(v[opt::kExp]));
  chkStat1->setCheckState(CheckFromText(v[opt::kStat1]));
  chkStat2->setCheckState(CheckFromText(v[opt::kStat2]));
  Form1::setOption(optSevPar, BoolFromText(v[opt::kSevPar]));
  Form1::setOption(optTranslation, BoolFromText(v[opt::kTranslation]));
  setText(txtINeasting, v[opt::kINeasting]);
  setText(txtINmeridian, v[opt::kINmeridian]);
  setText(txtINnorthing, v[opt::kINnorthing]);
  setText(txtINscale, v[opt::kINscale]);
  setText(txtOUTeasting, v[opt::kOUTeasting]);
  setText(txtOUTmeridian, v[opt::kOUTmeridian]);
  setText(txtOUTnorthing, v[opt::kOUTnorthing]);
  setText(txtOUTscale, v[opt::kOUTscale]);
  // A combo box whose text did not change fired no change: bring every
  // index field up to date.
  UpdateMeridianIndex(comGKBM, txtMkenn, false);
  UpdateMeridianIndex(comGKBM2, txtMkenn2, false);
  UpdateMeridianIndex(comUTMBM, txtUTMkenn, true);
  UpdateMeridianIndex(comUTMBM2, txtUTMkenn2, true);
}

void OptionsDialog::cmdApply_Click() {
  // 1. Lock of the main window's fields.
  form_.setInputLocked(chk_Sperre->checkState() == Qt::Checked);
  // 2., 3. The layout of the datum mode; with neither mode selected the
  // main window stays as it is.
  if (optSevPar->isChecked()) {
    if (chkExp->checkState() == Qt::Checked) {
      form_.showExpertLayout();
    } else {
      form_.showSimpleLayout();
    }
  }
  if (optTranslation->isChecked()) form_.showTranslationLayout();
  // 4. Store. The datum mode of the next job (or of the next point of a
  // running one) is the one applied here.
  Session& session = form_.session();
  session.OptionValues = controlValues();
  session.settings.optSevPar = optSevPar->isChecked();
  session.settings.optTranslation = optTranslation->isChecked();
  session.Touch();
  // 5. The ASCII layout, kept in the user's settings.
  AsciiLayout layout;
  std::string error;
  if (layoutValues(layout, error)) {
    session.asciiLayout = layout;
    StoreAsciiLayout(layout);
  } else {
    form_.messageBoxes().message(Q(error), QString(), MsgIcon::kExclamation);
  }
}

void OptionsDialog::cmdOK_Click() {
  cmdApply_Click();
  discard();
}

void OptionsDialog::cmdCancel_Click() { discard(); }

void OptionsDialog::discard() {
  if (discarding_) return;
  discarding_ = true;
  emit discarded();
  hide();
  deleteLater();
}

void OptionsDialog::reject() { cmdCancel_Click(); }

void OptionsDialog::closeEvent(QCloseEvent* event) {
  discard();
  event->accept();
}

// ---------------------------------------------------------------- tabs

int OptionsDialog::selectedTab() const { return tbsOptions->currentIndex() + 1; }

void OptionsDialog::selectTab(int index) { tbsOptions->setCurrentIndex(index - 1); }

void OptionsDialog::tbsOptions_Click() {
  const int selected = selectedTab();
  for (int i = 0; i < kOptionTabs; ++i) {
    QWidget* page = picOptions[static_cast<std::size_t>(i)];
    // Pages are moved, never hidden, so each keeps its controls' state.
    const bool shown = i == selected - 1;
    MoveTwips(page, shown ? kPageShownLeft : kPageHiddenLeft, kPageTop);
    page->setEnabled(shown);
  }
}

bool OptionsDialog::HandleKey(QKeyEvent* event) {
  if (event->key() != Qt::Key_Tab || event->modifiers() != Qt::ControlModifier) return false;
  const int selected = selectedTab();
  selectTab(selected == tbsOptions->count() ? 1 : selected + 1);
  return true;
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && HandleKey(static_cast<QKeyEvent*>(event))) return true;
  return QDialog::eventFilter(watched, event);
}

void OptionsDialog::keyPressEvent(QKeyEvent* event) {
  if (HandleKey(event)) return;
  QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------- meridian index

void OptionsDialog::UpdateMeridianIndex(QComboBox* combo, QLineEdit* indexField, bool utm) {
  double meridian = 0;
  // A text that is no number (an empty box too) has no index.
  if (TryParseNumber(S(combo->currentText()), meridian) != 0) {
    indexField->clear();
    indexField->setToolTip(QString());
    return;
  }
  // Gauss-Krueger: index = meridian / 3; UTM: zone = (meridian + 177) / 6 + 1.
  const double index = utm ? (meridian + 177) / 6 + 1 : meridian / 3;
  indexField->setText(Q(FormatNumber(index, form_.session().decimalSign())));
  // A fractional index is longer than the field: the tip shows it whole.
  indexField->setToolTip(indexField->text());
  indexField->setCursorPosition(0);
}

}  // namespace pelmo::ui
