// Jobs from the window: "TRANSFORM" with ASCII files and shapefiles, the
// job-start messages, the overwrite questions, Cancel in the progress
// window, closing the main window during a job, and options applied while
// a job runs. Shapefiles are written and read back with shapelib.

#include <shapefil.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <functional>

#include "geotra/numtext.hpp"
#include "ui/look.hpp"
#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

using Ring = std::vector<std::pair<double, double>>;

/// Writes stem.shp/.shx/.dbf with shapelib: one record per ring (a polygon
/// or polyline with one part, or a point per vertex for SHPT_POINT).
void WriteShapes(const std::string& stem, int type, const std::vector<Ring>& shapes) {
  SHPHandle shp = SHPCreate(stem.c_str(), type);
  ASSERT_NE(shp, nullptr);
  DBFHandle dbf = DBFCreate(stem.c_str());
  ASSERT_NE(dbf, nullptr);
  ASSERT_EQ(DBFAddField(dbf, "ID", FTInteger, 8, 0), 0);
  int id = 0;
  for (const Ring& ring : shapes) {
    std::vector<double> xs, ys;
    for (const auto& [x, y] : ring) {
      xs.push_back(x);
      ys.push_back(y);
    }
    const int start = 0;
    SHPObject* obj = SHPCreateObject(type, -1, type == SHPT_POINT ? 0 : 1, type == SHPT_POINT ? nullptr : &start,
                                     nullptr, static_cast<int>(xs.size()), xs.data(), ys.data(), nullptr, nullptr);
    ASSERT_NE(obj, nullptr);
    SHPWriteObject(shp, -1, obj);
    SHPDestroyObject(obj);
    DBFWriteIntegerAttribute(dbf, id, 0, 100 + id);
    ++id;
  }
  SHPClose(shp);
  DBFClose(dbf);
}

/// The vertices of every record of a shapefile, read with shapelib.
std::vector<Ring> ReadShapes(const std::string& stem) {
  std::vector<Ring> result;
  SHPHandle shp = SHPOpen(stem.c_str(), "rb");
  if (!shp) {
    ADD_FAILURE() << "cannot open " << stem;
    return result;
  }
  int count = 0, type = 0;
  SHPGetInfo(shp, &count, &type, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    SHPObject* obj = SHPReadObject(shp, i);
    Ring ring;
    for (int k = 0; k < obj->nVertices; ++k) ring.emplace_back(obj->padfX[k], obj->padfY[k]);
    result.push_back(ring);
    SHPDestroyObject(obj);
  }
  SHPClose(shp);
  return result;
}

/// A closed ring of n vertices around (cx, cy).
Ring Circle(double cx, double cy, double r, int n) {
  Ring ring;
  for (int k = 0; k < n - 1; ++k) {
    const double t = 2 * 3.14159265358979 * k / (n - 1);
    ring.emplace_back(cx + r * std::cos(t), cy - r * std::sin(t));
  }
  ring.push_back(ring.front());
  return ring;
}

class JobTest : public WindowTest {
 protected:
  ui::OptionsDialog& Dlg() { return form->optionsDialog(); }

  /// Translation mode by dX, dY, dH.
  void UseTranslation(const char* dx, const char* dy, const char* dh) {
    Dlg().optTranslation->click();
    Dlg().cmdApply->click();
    form->txtDX->setText(QString::fromLatin1(dx));
    form->txtDY->setText(QString::fromLatin1(dy));
    form->txtDH->setText(QString::fromLatin1(dh));
  }

  /// Seven-parameter mode, GRS 1980 on both sides, identity transformations.
  void UseSevenParameters(QRadioButton* in, QRadioButton* out) {
    form->txtEll1a->setText(QStringLiteral("6378137"));
    form->txtEll1e->setText(QStringLiteral("0.0818191910428158"));
    form->txtEll2a->setText(QStringLiteral("6378137"));
    form->txtEll2e->setText(QStringLiteral("0.0818191910428158"));
    in->click();
    out->click();
  }

  void Files(const std::string& source, const std::string& target) {
    form->txtQuelldatei->setText(QPath(source));
    form->txtZielDatei->setText(QPath(target));
  }

  /// Runs `action` at the first event pass that finds the progress window
  /// open (a person clicking while the job runs).
  void WhenProgressShows(std::function<void(ui::ProgressWindow*)> action) {
    auto* timer = new QTimer(form.get());
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [this, timer, action] {
      if (ui::ProgressWindow* p = form->progressWindow(); p && p->isVisible()) {
        timer->stop();
        timer->deleteLater();
        action(p);
      }
    });
    timer->start();
  }

  QString Log() { return form->txtDateien->toPlainText(); }
};

// ---------------------------------------------------------------- ASCII

TEST_F(JobTest, AsciiTranslationJob) {
  form->optASCII->click();
  UseTranslation("10", "20", "1");
  WriteBytes(Path("in.txt"), "1 2 3\r\n  45.5   5,25  \r\n1.5 2.5 3.5 extra\r\n");
  Files("in.txt", "out.txt");
  form->cmdStart->click();
  EXPECT_TRUE(messages->shown.empty()) << messages->shown.front().text.toStdString();
  EXPECT_EQ(ReadBytes(Path("out.txt")), "11 22 4\r\n55.5 25.25 1\r\n11.5 22.5 4.5\r\n");
  EXPECT_TRUE(Log().startsWith(QStringLiteral("vergangene Zeit in s "))) << Log().toStdString();
  EXPECT_TRUE(form->centralWidget()->isEnabled());
  EXPECT_FALSE(form->jobRunning());
  // A second job appends its time on the same line.
  form->cmdStart->click();
  EXPECT_EQ(Log().count(QStringLiteral("vergangene Zeit in s ")), 2);
  EXPECT_FALSE(Log().contains(QLatin1Char('\n')));
}

TEST_F(JobTest, AsciiSevenParameterRoundTrip) {
  form->optASCII->click();
  UseSevenParameters(form->optInBL, form->optOUTetrs);
  WriteBytes(Path("ell.txt"), "15 52 100\r\n16.5 47.25 0\r\n13.2 54.1\r\n");
  Files("ell.txt", "utm.txt");
  form->cmdStart->click();
  ASSERT_TRUE(messages->shown.empty()) << messages->shown.front().text.toStdString();
  const std::vector<std::string> utm = ReadLines(Path("utm.txt"));
  ASSERT_EQ(utm.size(), 3u);
  // On the central meridian of zone 33 the easting is 33500000.
  EXPECT_NEAR(ParseNumber(utm[0].substr(0, utm[0].find(' '))), 33500000, 1e-6);

  // And back: UTM to geographic gives the input again.
  UseSevenParameters(form->optINetrs, form->optOutBL);
  Files("utm.txt", "back.txt");
  form->cmdStart->click();
  ASSERT_TRUE(messages->shown.empty()) << messages->shown.front().text.toStdString();
  const std::vector<std::string> back = ReadLines(Path("back.txt"));
  ASSERT_EQ(back.size(), 3u);
  const double expected[3][2] = {{15, 52}, {16.5, 47.25}, {13.2, 54.1}};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string& l = back[i];
    const std::size_t s1 = l.find(' ');
    const std::size_t s2 = l.find(' ', s1 + 1);
    EXPECT_NEAR(ParseNumber(l.substr(0, s1)), expected[i][0], 1e-8) << l;
    EXPECT_NEAR(ParseNumber(l.substr(s1 + 1, s2 - s1 - 1)), expected[i][1], 1e-8) << l;
  }
}

TEST_F(JobTest, AsciiErrorIsReportedAndTheWindowEnabledAgain) {
  form->optASCII->click();
  UseTranslation("1", "1", "1");
  WriteBytes(Path("in.txt"), "1 2 3\r\nx y z\r\n");
  Files("in.txt", "out.txt");
  form->cmdStart->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].title, "Pelmo");
  EXPECT_EQ(messages->shown[0].icon, MsgIcon::kNone);
  EXPECT_TRUE(messages->shown[0].text.contains(QStringLiteral("2"))) << messages->shown[0].text.toStdString();
  EXPECT_EQ(ReadBytes(Path("out.txt")), "2 3 4\r\n");
  EXPECT_TRUE(form->centralWidget()->isEnabled());
  EXPECT_TRUE(Log().contains(QStringLiteral("vergangene Zeit in s ")));
}

// ---------------------------------------------------------------- job start

TEST_F(JobTest, JobStartMessages) {
  auto expectOnly = [&](const char* text) {
    ASSERT_EQ(messages->shown.size(), 1u) << text;
    EXPECT_FALSE(messages->shown[0].question);
    EXPECT_EQ(messages->shown[0].text, QString::fromUtf8(text));
    EXPECT_EQ(messages->shown[0].title, "Pelmo");
    EXPECT_EQ(messages->shown[0].icon, MsgIcon::kNone);
    EXPECT_TRUE(Log().isEmpty());
    EXPECT_TRUE(form->centralWidget()->isEnabled());
    messages->shown.clear();
  };
  form->optASCII->click();
  WriteBytes(Path("in.txt"), "1 2 3\r\n");
  Files("in.txt", "out.txt");

  // Seven-parameter mode with the start values: ellipsoid 1 is out of range.
  form->cmdStart->click();
  expectOnly("Ellipsoid 1 werte ausserhalb des gültigen Wetrebereichs");
  form->txtEll1a->setText(QStringLiteral("6377397.155"));
  form->txtEll1e->setText(QStringLiteral("0.0816968312225275"));
  form->cmdStart->click();
  expectOnly("Ellipsoid 2 Werte ausserhalb des gültigen Wetrebereichs");
  form->txtP2_3->setText(QStringLiteral("drei"));
  form->cmdStart->click();
  expectOnly("Fehler - keine Zahl");
  form->txtP2_3->setText(QStringLiteral("0"));
  form->txtEll2a->setText(QStringLiteral("6378137"));
  form->txtEll2e->setText(QStringLiteral("0.0818191910428158"));
  Files("in.txt", "in.txt");
  form->cmdStart->click();
  expectOnly("Quelldatei und Zieldatei sind identisch");

  // Translation mode: letters in a shift; the ellipsoids do not matter.
  UseTranslation("1", "zwei", "3");
  form->txtEll1a->setText(QStringLiteral("x"));
  Files("in.txt", "out.txt");
  form->cmdStart->click();
  expectOnly("Fehler - keine Zahl");
  EXPECT_FALSE(Exists(Path("out.txt")));
}

// ---------------------------------------------------------------- shapefiles

TEST_F(JobTest, ShapefileTranslationJob) {
  const std::vector<Ring> rings = {Circle(1000, 2000, 50, 9), Circle(-300, 400, 10, 5),
                                   {{0, 0}, {10, 0}, {10, 10}, {0, 0}}};
  WriteShapes(Path("src"), SHPT_POLYGON, rings);
  UseTranslation("100", "-50", "0");
  Files("src.shp", "dst.shp");
  form->cmdStart->click();
  ASSERT_TRUE(messages->shown.empty()) << messages->shown.front().text.toStdString();
  const std::vector<Ring> out = ReadShapes(Path("dst"));
  ASSERT_EQ(out.size(), rings.size());
  for (std::size_t i = 0; i < rings.size(); ++i) {
    ASSERT_EQ(out[i].size(), rings[i].size());
    for (std::size_t k = 0; k < rings[i].size(); ++k) {
      EXPECT_DOUBLE_EQ(out[i][k].first, rings[i][k].first + 100);
      EXPECT_DOUBLE_EQ(out[i][k].second, rings[i][k].second - 50);
    }
  }
  EXPECT_EQ(ReadBytes(Path("dst.dbf")), ReadBytes(Path("src.dbf")));
  const QString log = Log();
  EXPECT_TRUE(log.startsWith(QStringLiteral("shapetyp 5\n"))) << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("Dateilänge in byte ")));
  EXPECT_TRUE(log.contains(QStringLiteral("RecordAanzahl : 3\n")));
  EXPECT_TRUE(log.contains(QStringLiteral("vergangene Zeit in s ")));
  EXPECT_EQ(form->progressWindow(), nullptr);
  EXPECT_TRUE(form->centralWidget()->isEnabled());
}

TEST_F(JobTest, ProgressWindowDuringAShapefileJob) {
  WriteShapes(Path("src"), SHPT_ARC, {Circle(0, 0, 10, 2000), Circle(5, 5, 1, 20)});
  UseTranslation("1", "1", "0");
  Dlg().chkStat1->click();
  Dlg().chkStat2->click();
  Dlg().cmdApply->click();
  Files("src.shp", "dst.shp");
  bool seen = false;
  WhenProgressShows([&](ui::ProgressWindow* p) {
    seen = true;
    EXPECT_EQ(p->windowTitle(), "Transformation");
    EXPECT_EQ(p->size(), ui::TwipsSize(5835, 1305));
    EXPECT_EQ(p->ProgressBar->geometry(), ui::TwipsRect(0, 360, 5775, 255));
    EXPECT_EQ(p->ProgressBar1->geometry(), ui::TwipsRect(0, 0, 5775, 255));
    EXPECT_EQ(p->cmdAbbruch->text(), "Cancel");
    EXPECT_EQ(p->Label1->text(), "%");
    // Before the first record the percentage shows its start text.
    EXPECT_EQ(p->txtfortschritt->text(), "100");
    // Centred on the screen.
    const QRect screen = p->screen()->geometry();
    const QRect frame = p->frameGeometry();
    EXPECT_EQ(frame.left() - screen.left(), (screen.width() - frame.width()) / 2);
    EXPECT_EQ(frame.top() - screen.top(), (screen.height() - frame.height()) / 2);
    // The job is running: the main window takes no input, the options
    // dialog does.
    EXPECT_FALSE(form->centralWidget()->isEnabled());
    EXPECT_FALSE(form->menuBar()->isEnabled());
    EXPECT_TRUE(Dlg().isEnabled());
    EXPECT_TRUE(p->cmdAbbruch->isEnabled());
  });
  form->cmdStart->click();
  EXPECT_TRUE(seen);
  EXPECT_TRUE(messages->shown.empty());
  EXPECT_EQ(ReadShapes(Path("dst")).size(), 2u);
  EXPECT_EQ(form->progressWindow(), nullptr);
}

TEST_F(JobTest, OverwriteQuestions) {
  WriteShapes(Path("src"), SHPT_POINT, {{{1, 2}}, {{3, 4}}});
  UseTranslation("1", "1", "0");
  Files("src.shp", "dst.shp");
  form->cmdStart->click();
  ASSERT_TRUE(messages->shown.empty());
  const std::string before = ReadBytes(Path("dst.shp"));

  // Second run into the same target: No at the first question keeps it.
  messages->answers = {false};
  form->txtDX->setText(QStringLiteral("1000"));
  form->cmdStart->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  const auto& q = messages->shown[0];
  EXPECT_TRUE(q.question);
  EXPECT_EQ(q.text, QStringLiteral("Die Datei ") + QPath("dst.shp") +
                        QStringLiteral("\r\nexistiert bereits, \r\nsoll sie überschrieben werden?"));
  EXPECT_EQ(q.title, "Problem");
  EXPECT_EQ(q.icon, MsgIcon::kExclamation);
  EXPECT_EQ(ReadBytes(Path("dst.shp")), before);
  EXPECT_TRUE(form->centralWidget()->isEnabled());

  // Yes three times: .shp, .shx, .dbf; the target is rewritten.
  messages->shown.clear();
  messages->answers = {true, true, true};
  form->cmdStart->click();
  const auto questions = messages->questionsOnly();
  ASSERT_EQ(questions.size(), 3u);
  EXPECT_TRUE(questions[1].text.startsWith(QStringLiteral("Die Datei ") + QPath("dst.shx")));
  EXPECT_TRUE(questions[2].text.startsWith(QStringLiteral("Die Datei ") + QPath("dst.dbf")));
  EXPECT_TRUE(messages->messagesOnly().empty());
  const std::vector<Ring> out = ReadShapes(Path("dst"));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_DOUBLE_EQ(out[1][0].first, 1003);
}

TEST_F(JobTest, CancelDuringAPolygonJobRemovesTheTargets) {
  WriteShapes(Path("src"), SHPT_POLYGON, {Circle(0, 0, 100, 50000), Circle(1, 1, 1, 50000)});
  const std::string srcShp = ReadBytes(Path("src.shp"));
  UseTranslation("1", "1", "0");
  Files("src.shp", "dst.shp");
  bool clicked = false;
  WhenProgressShows([&](ui::ProgressWindow* p) {
    clicked = true;
    p->cmdAbbruch->click();
    // The window does not close itself.
    EXPECT_TRUE(p->isVisible());
  });
  form->cmdStart->click();
  ASSERT_TRUE(clicked);
  EXPECT_TRUE(messages->shown.empty());
  for (const char* ext : {"shp", "shx", "dbf"}) {
    EXPECT_FALSE(Exists(Path(std::string("dst.") + ext))) << ext;
  }
  EXPECT_EQ(ReadBytes(Path("src.shp")), srcShp);
  EXPECT_TRUE(Log().contains(QStringLiteral("shapetyp 5"))) << Log().toStdString();
  EXPECT_TRUE(Log().contains(QStringLiteral("RecordAanzahl : 2")));
  EXPECT_EQ(form->progressWindow(), nullptr);
  EXPECT_TRUE(form->centralWidget()->isEnabled());
  // The next job runs normally.
  form->cmdStart->click();
  EXPECT_EQ(ReadShapes(Path("dst")).size(), 2u);
}

TEST_F(JobTest, ClosingTheMainWindowDuringAJobCancelsItFirst) {
  WriteShapes(Path("src"), SHPT_POLYGON, {Circle(0, 0, 100, 50000), Circle(1, 1, 1, 50000)});
  UseTranslation("1", "1", "0");
  Files("src.shp", "dst.shp");
  form->show();
  form->M_Info->trigger();
  form->M_option->trigger();
  QPointer<ui::InfoWindow> info = form->infoWindow();
  QPointer<ui::OptionsDialog> options = form->existingOptionsDialog();
  ASSERT_TRUE(info && options);
  bool closed = false;
  WhenProgressShows([&](ui::ProgressWindow*) {
    closed = true;
    form->close();
    // The window waits for the job.
    EXPECT_TRUE(form->isVisible());
  });
  form->cmdStart->click();
  ASSERT_TRUE(closed);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->jobRunning());
  for (const char* ext : {"shp", "shx", "dbf"}) {
    EXPECT_FALSE(Exists(Path(std::string("dst.") + ext))) << ext;
  }
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(!info || !info->isVisible());
  EXPECT_TRUE(!options || !options->isVisible());
  EXPECT_EQ(form->progressWindow(), nullptr);
}

TEST_F(JobTest, ClosingTheMainWindowStopsAnAsciiJobAfterTheLastWrittenLine) {
  form->optASCII->click();
  UseTranslation("1", "1", "0");
  std::string lines;
  for (int i = 0; i < 400000; ++i) lines += "1 2 3\r\n";
  WriteBytes(Path("in.txt"), lines);
  Files("in.txt", "out.txt");
  form->show();
  // Close at the first event pass of the job.
  bool closed = false;
  QTimer::singleShot(0, form.get(), [&] {
    closed = true;
    form->close();
  });
  form->cmdStart->click();
  ASSERT_TRUE(closed);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->jobRunning());
  // The job stopped early with the interruption message; what was written
  // consists of whole lines.
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_TRUE(messages->shown.front().text.contains(QStringLiteral("Benutzerunterbrechung")));
  const std::string out = ReadBytes(Path("out.txt"));
  EXPECT_LT(out.size(), lines.size());
  EXPECT_EQ(out.size() % std::string("2 3 3\r\n").size(), 0u);
}

TEST_F(JobTest, UnsupportedShapeTypeIsReportedWithTheProgramsTitle) {
  // A MultiPoint file with one record.
  SHPHandle shp = SHPCreate(Path("multi").c_str(), SHPT_MULTIPOINT);
  ASSERT_NE(shp, nullptr);
  const double xs[2] = {1, 2}, ys[2] = {3, 4};
  SHPObject* obj = SHPCreateSimpleObject(SHPT_MULTIPOINT, 2, xs, ys, nullptr);
  SHPWriteObject(shp, -1, obj);
  SHPDestroyObject(obj);
  SHPClose(shp);
  DBFHandle dbf = DBFCreate(Path("multi").c_str());
  DBFAddField(dbf, "ID", FTInteger, 8, 0);
  DBFWriteIntegerAttribute(dbf, 0, 0, 1);
  DBFClose(dbf);
  UseTranslation("1", "1", "0");
  Files("multi.shp", "dst.shp");
  form->cmdStart->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].text, "Shapetyp 8 wird nicht unterstützt");
  EXPECT_EQ(messages->shown[0].title, "Pelmo");
  EXPECT_FALSE(Exists(Path("dst.shp")));
}

// ---------------------------------------------------------------- options during a job

TEST_F(JobTest, OptionAppliedDuringAJobTakesEffectFromTheNextPoint) {
  // Geographic to general Gauss: the false easting comes from the options.
  constexpr int kPoints = 60000;
  std::string text;
  for (int i = 0; i < kPoints; ++i) text += "15 50 0\r\n";
  WriteBytes(Path("ell.txt"), text);
  form->optASCII->click();
  UseSevenParameters(form->optInBL, form->optOutGKallgemein);
  Files("ell.txt", "gauss.txt");
  bool applied = false;
  auto* timer = new QTimer(form.get());
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, timer, [&, timer] {
    if (!form->jobRunning()) return;
    timer->stop();
    applied = true;
    Dlg().txtOUTeasting->setText(QStringLiteral("1500000"));
    Dlg().cmdApply->click();
  });
  timer->start();
  form->cmdStart->click();
  ASSERT_TRUE(messages->shown.empty()) << messages->shown.front().text.toStdString();
  ASSERT_TRUE(applied);
  const std::vector<std::string> lines = ReadLines(Path("gauss.txt"));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kPoints));
  // The point lies on the central meridian (15): easting = false easting.
  int before = 0, after = 0, switches = 0;
  double previous = 0;
  for (const std::string& l : lines) {
    const double e = ParseNumber(l.substr(0, l.find(' ')));
    if (std::abs(e - 5500000) < 1e-6) {
      ++before;
    } else if (std::abs(e - 1500000) < 1e-6) {
      ++after;
    } else {
      ADD_FAILURE() << l;
    }
    if (&l != &lines.front() && e != previous) ++switches;
    previous = e;
  }
  EXPECT_GT(before, 0);
  EXPECT_GT(after, 0);
  EXPECT_EQ(switches, 1);
  EXPECT_EQ(ParseNumber(lines.back().substr(0, lines.back().find(' '))), 1500000);
}

}  // namespace
}  // namespace pelmo::uitest
