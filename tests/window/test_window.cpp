// Every caption fits its box (a cut one has less ink than with room to spare); the wiring to the engine: controls
// and options into jobs, message boxes, progress, Cancel, closing, the .par file, parameter buttons.
#include <shapefil.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "ui_support.hpp"
#include "window/design_frame.hpp"

namespace pelmo::uitest {
namespace {

std::string Name(const QWidget* w) {
  return (w->objectName().isEmpty() ? "'" + w->property("text").toString() + "'" : w->objectName()).toStdString();
}

/// Dark pixels (text) of the widget's picture but for `border` pixels at the edges.
long Ink(QWidget* w, int border) {
  const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  long n = 0;
  for (int y = border; y < img.height() - border; ++y)
    for (int x = border; x < img.width() - border; ++x) n += qGray(img.pixel(x, y)) < 96;
  return n;
}

/// Ink at the design size equals ink with `extra` pixels more room.
void ExpectUnclipped(QWidget* w, QSize extra) {
  const QRect design = w->geometry();
  // A push button's caption keeps clear of its outline.
  const int border = qobject_cast<QPushButton*>(w) ? 3 : 0;
  const long atDesign = Ink(w, border);
  w->resize(design.size() + extra);
  const long roomy = Ink(w, border);
  w->setGeometry(design);
  EXPECT_GT(roomy, 0) << Name(w);
  // Antialiasing differs by a pixel or two; a cut-off letter loses far more.
  EXPECT_NEAR(atDesign, roomy, std::max(2L, roomy / 50)) << Name(w) << " is clipped";
}

void ExpectNothingClipped(QWidget* root) {
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (qobject_cast<QTabBar*>(w) || w->objectName() == QLatin1String("qt_spinbox_lineedit")) continue;
    if (qobject_cast<QComboBox*>(w->parentWidget())) continue;  // the combo box's own edit
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (b->text().isEmpty()) continue;
      // Wrapped captions keep their width, so that they wrap alike.
      const bool wraps = qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b);
      ExpectUnclipped(b, wraps ? QSize(0, 40) : QSize(40, 40));
    } else if (qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w)) {
      if (!w->property("text").toString().isEmpty()) ExpectUnclipped(w, QSize(40, 40));
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
      // Every entry of the list fits the box.
      const QString current = c->currentText();
      for (int i = 0; i < c->count(); ++i) {
        c->setCurrentText(c->itemText(i));
        ExpectUnclipped(c, QSize(0, 40));
        // Wider, the arrow moves but the text stays: compare the text part.
        const QFontMetrics fm(c->font());
        EXPECT_LE(fm.horizontalAdvance(c->itemText(i)) + 24, c->width()) << Name(c);
      }
      c->setCurrentText(current);
    } else if (auto* f = dynamic_cast<ui::DesignFrame*>(w)) {
      EXPECT_LE(f->captionRect().right(), f->width() - 6) << Name(f);
    }
  }
}

TEST_F(WindowTest, MainWindowCaptionsFit) {
  // Texts the window shows in practice.
  form->txtEll1e->setText("0.0816968312225275"), form->txtEll1a->setText("6377397.155");
  form->txtP5->setText("-0.0000123456789"), form->txtsevenParSys->setText("DHDN to ETRS89 (EPSG 1776)");
  ExpectNothingClipped(form->centralWidget());
}

TEST_F(WindowTest, OptionsDialogCaptionsFit) {
  ui::OptionsDialog& dlg = form->optionsDialog();
  for (int tab = 1; tab <= ui::kOptionTabs; ++tab) {
    dlg.selectTab(tab);
    ExpectNothingClipped(dlg.picOptions[static_cast<std::size_t>(tab - 1)]);
  }
  for (QPushButton* b : {dlg.cmdOK, dlg.cmdCancel, dlg.cmdApply}) ExpectUnclipped(b, QSize(40, 40));
  // Every tab of the strip is visible without scrolling, its caption whole.
  const QTabBar* tabs = dlg.tbsOptions;
  for (int i = 0; i < tabs->count(); ++i) {
    EXPECT_TRUE(tabs->tabRect(i).right() < tabs->width() &&
                tabs->tabRect(i).width() >= QFontMetrics(tabs->font()).horizontalAdvance(tabs->tabText(i))) << i;
  }
}

TEST_F(WindowTest, ProgressAndInfoWindowsFit) {
  ui::ProgressWindow progress(form.get());
  ExpectNothingClipped(&progress);

  ui::InfoWindow info(form.get());
  info.show();
  // The 20 lines of 53 characters fit the part of the text box inside the window.
  const QPlainTextEdit* box = info.txtInfo;
  const QRect visible = box->viewport()->geometry().translated(box->pos()).intersected(info.rect());
  const int margin = static_cast<int>(std::ceil(box->document()->documentMargin()));
  EXPECT_LE(QFontMetrics(box->font()).horizontalAdvance(QString(53, QLatin1Char('W'))) + 2 * margin, visible.width());
  EXPECT_LE(20 * QFontMetrics(box->font()).lineSpacing() + 2 * margin, visible.height());
}

class Wiring : public WindowTest {
 protected:
  void Job(const std::string& source, const std::string& target, QRadioButton* in = nullptr, QRadioButton* out = nullptr) {
    form->txtQuelldatei->setText(QPath(source)), form->txtZielDatei->setText(QPath(target));
    for (QLineEdit* a : {form->txtEll1a, form->txtEll2a}) a->setText("6378137");
    for (QLineEdit* e : {form->txtEll1e, form->txtEll2e}) e->setText("0.0818191910428158");
    if (in) in->click(), out->click();
  }
  /// Runs `action` at an event pass of the next job (of a shapefile job, with the progress window shown).
  void DuringTheJob(std::function<void()> action) {
    auto* timer = new QTimer(form.get());
    QObject::connect(timer, &QTimer::timeout, timer, [this, timer, action] {
      if (!form->jobRunning() || (form->optSHP->isChecked() && !form->progressWindow())) return;
      timer->stop(), action();
    });
    timer->start(0);
  }
};

TEST_F(Wiring, AsciiJobsFromTheControlsAndAnOptionAppliedDuringAJob) {
  form->optASCII->click();
  Dlg().optTranslation->click(), Dlg().cmdApply->click();
  form->txtDX->setText("10"), form->txtDY->setText("20"), form->txtDH->setText("1");
  WriteBytes(Path("in.txt"), "1 2 3\r\n1.5 2.5 3.5 extra\r\nx y z\r\n");
  Job("in.txt", "out.txt");
  form->cmdStart->click();
  EXPECT_EQ(ReadBytes(Path("out.txt")), "11 22 4\r\n11.5 22.5 4.5\r\n");
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_TRUE(messages->shown[0].text.contains("\r\nZeile 3: x y z\r\n") && messages->shown[0].title == "Pelmo");
  EXPECT_TRUE(form->txtDateien->toPlainText().startsWith("vergangene Zeit in s ") && form->centralWidget()->isEnabled());
  // Seven parameters from the option buttons and fields; the easting of general Gauss applied in the modeless
  // dialog holds from a block on (two threads, blocks of 1000 lines: at most four of them start before it).
  Dlg().optSevPar->click(), Dlg().cmdApply->click();
  form->session().threads = 2, form->session().blockBytes = 9000;
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "15 50 0\r\n";
  WriteBytes(Path("ell.txt"), text);
  Job("ell.txt", "gauss.txt", form->optInBL, form->optOutGKallgemein);
  DuringTheJob([&] { Dlg().txtOUTeasting->setText("1500000"), Dlg().cmdApply->click(); });
  form->cmdStart->click();
  std::istringstream in(ReadBytes(Path("gauss.txt")));
  std::vector<double> eastings;
  for (double e = 0, n = 0, h = 0; in >> e >> n >> h;) if (eastings.empty() || e != eastings.back()) eastings.push_back(e);
  EXPECT_EQ(eastings, (std::vector<double>{5500000, 1500000}));
}

// Progress shown, main window disabled; Cancel; No keeps the target; closing stops the job first.
TEST_F(Wiring, ShapefileJobsProgressCancelQuestionsAndClosing) {
  SHPHandle shp = SHPCreate(Path("src").c_str(), SHPT_POLYGON);
  DBFHandle dbf = DBFCreate(Path("src").c_str());
  DBFAddField(dbf, "ID", FTInteger, 8, 0);
  std::vector<double> x, y;
  for (int k = 0; k <= 50000; ++k) x.push_back(std::cos(k * 1e-4)), y.push_back(std::sin(k * 1e-4));
  for (int id = 0; id < 2; ++id) {
    SHPObject* o = SHPCreateSimpleObject(SHPT_POLYGON, 50001, x.data(), y.data(), nullptr);
    SHPWriteObject(shp, -1, o), SHPDestroyObject(o), DBFWriteIntegerAttribute(dbf, id, 0, id);
  }
  SHPClose(shp), DBFClose(dbf);
  Dlg().optTranslation->click(), Dlg().cmdApply->click();
  Job("src.shp", "dst.shp");
  DuringTheJob([&] {
    EXPECT_TRUE(form->progressWindow()->isVisible() && !form->centralWidget()->isEnabled() && Dlg().isEnabled());
    form->progressWindow()->cmdAbbruch->click();
  });
  form->cmdStart->click();
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
  EXPECT_FALSE(std::filesystem::exists(Path("dst.shp")) || std::filesystem::exists(Path("dst.dbf")));
  EXPECT_TRUE(form->progressWindow() == nullptr && form->centralWidget()->isEnabled());
  form->cmdStart->click();
  const std::string done = ReadBytes(Path("dst.shp"));
  messages->answers = {false};
  form->cmdStart->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_TRUE(messages->shown[0].question && messages->shown[0].title == "Problem" && ReadBytes(Path("dst.shp")) == done);
  Job("src.shp", "closed.shp");
  form->show();
  DuringTheJob([&] { form->close(); });
  form->cmdStart->click();
  EXPECT_FALSE(form->isVisible() || form->jobRunning() || std::filesystem::exists(Path("closed.shp")));
}

// Save and Load restore every control of the file, an error shows its number; buttons fill their group.
TEST_F(Wiring, PropertiesFileAndParameterButtons) {
  QList<QWidget*> controls = form->centralWidget()->findChildren<QWidget*>();
  for (int page = 0; page < 4; ++page) controls += Dlg().picOptions[page]->findChildren<QWidget*>();  // the ASCII page is not in the file
  const auto values = [&](const QString& fill) {
    QStringList v;
    for (QWidget* w : controls) {
      auto* e = qobject_cast<QLineEdit*>(w);
      if (e && !fill.isEmpty() && !e->isReadOnly()) e->setText(fill + QString::number(v.size()));
      if (e && !QStringList{"txtQuelldatei", "txtZielDatei", "txtPAR", "txtDX", "txtDY", "txtDH"}.contains(e->objectName())) v << e->text();
      if (auto* b = qobject_cast<QRadioButton*>(w)) v << QString::number(b->isChecked());
      if (auto* c = qobject_cast<QCheckBox*>(w)) v << QString::number(c->checkState());
    }
    return v;
  };
  values("v,");
  for (QRadioButton* b : {form->optASCII, form->optINGKallgemein, form->optOutBL}) b->click();
  Dlg().chkStat2->setCheckState(Qt::PartiallyChecked);
  const QStringList saved = values("");
  WriteBytes(Path("short.par"), "#FALSE#\r\n#TRUE#\r\n");
  files->answers = {QPath("all.par"), QPath("all.par"), QPath("short.par")};
  form->M_EinstSp->trigger();
  values("x");
  for (QRadioButton* b : {form->optSHP, form->optInKrovak, form->optOutGK}) b->click();
  form->M_EinstLa->trigger();
  EXPECT_EQ(values(""), saved);
  EXPECT_EQ(form->session().OptionValues, Dlg().controlValues()) << "loaded options are applied";
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
  form->M_EinstLa->trigger();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text, "62   Fehler Beim Laden der Parameter Datei");
  WriteBytes(Path("b.ell"), "\"Bessel\",6377397.155,0.0816968312225275\r\n");
  WriteBytes(Path("s.7pr"), "\"Satz\",598.1,73.7,418.2,6.7,-0.202,-0.045,2.455\r\n");
  WriteBytes(Path("bad.7pr"), "Bad,1,2,3,vier,5,6,7\r\n");
  files->answers = {QPath("b.ell"), QPath("s.7pr"), QPath("s.7pr"), QPath("bad.7pr")};
  for (QPushButton* button : {form->cmdEll2, form->cmdSevenPar1, form->cmdSevenPar2, form->cmdSevenPar2}) button->click();
  EXPECT_EQ(QStringList({form->txtBezEll2->text(), form->txtEll2e->text(), form->txtP7->text(), form->txtsevenParSys2->text(),
                         form->txtP2_1->text()}).join("|"), "Bessel|0.0816968312225275|2.455|Satz|598.1");
}

}  // namespace
}  // namespace pelmo::uitest
