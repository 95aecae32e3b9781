// Jobs from the window: "TRANSFORM" with ASCII files and shapefiles, the
// job-start messages, the overwrite questions, Cancel in the progress
// window, closing the main window during a job, and options applied while
// a job runs. Shapefiles are written and read back with shapelib.

#include <shapefil.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <functional>

#include "core/numtext.hpp"
#include "ui_support.hpp"

namespace pelmo::uitest {
namespace {

using Ring = std::vector<std::pair<double, double>>;

/// Writes stem.shp/.shx/.dbf with shapelib, one record per ring: a polygon
/// or polyline of one part, or the ring's vertices as one (multi)point.
void WriteShapes(const std::string& stem, int type, const std::vector<Ring>& shapes) {
  SHPHandle shp = SHPCreate(stem.c_str(), type);
  DBFHandle dbf = DBFCreate(stem.c_str());
  ASSERT_TRUE(shp && dbf) << stem;
  ASSERT_EQ(DBFAddField(dbf, "ID", FTInteger, 8, 0), 0);
  const bool parts = type != SHPT_POINT && type != SHPT_MULTIPOINT;
  int id = 0;
  for (const Ring& ring : shapes) {
    std::vector<double> xs, ys;
    for (const auto& [x, y] : ring) {
      xs.push_back(x);
      ys.push_back(y);
    }
    const int start = 0;
    SHPObject* obj = SHPCreateObject(type, -1, parts ? 1 : 0, parts ? &start : nullptr, nullptr,
                                     static_cast<int>(xs.size()), xs.data(), ys.data(), nullptr, nullptr);
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
  int count = 0;
  SHPGetInfo(shp, &count, nullptr, nullptr, nullptr);
  for (int i = 0; i < count; ++i) {
    SHPObject* obj = SHPReadObject(shp, i);
    Ring& ring = result.emplace_back();
    for (int k = 0; k < obj->nVertices; ++k) ring.emplace_back(obj->padfX[k], obj->padfY[k]);
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

/// The numbers of a line of an ASCII point file.
std::vector<double> Numbers(const std::string& line) {
  std::vector<double> v;
  for (std::size_t b = 0, e = 0; b < line.size(); b = e + 1) {
    e = std::min(line.find(' ', b), line.size());
    if (e > b) v.push_back(ParseNumber(line.substr(b, e - b)));
  }
  return v;
}

class JobTest : public WindowTest {
 protected:
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
    for (QLineEdit* a : {form->txtEll1a, form->txtEll2a}) a->setText(QStringLiteral("6378137"));
    for (QLineEdit* e : {form->txtEll1e, form->txtEll2e}) e->setText(QStringLiteral("0.0818191910428158"));
    in->click();
    out->click();
  }

  void Files(const std::string& source, const std::string& target) {
    form->txtQuelldatei->setText(QPath(source));
    form->txtZielDatei->setText(QPath(target));
  }

  /// Runs `action` once, at the first event pass at which `ready` holds (a
  /// person acting while the job runs).
  void ActWhen(std::function<bool()> ready, std::function<void()> action) {
    auto* timer = new QTimer(form.get());
    QObject::connect(timer, &QTimer::timeout, timer, [timer, ready, action] {
      if (!ready()) return;
      timer->stop();
      timer->deleteLater();
      action();
    });
    timer->start(0);
  }
  void WhenProgressShows(std::function<void(ui::ProgressWindow*)> action) {
    ActWhen([this] { return form->progressWindow() && form->progressWindow()->isVisible(); },
            [this, action] { action(form->progressWindow()); });
  }

  QString Log() { return form->txtDateien->toPlainText(); }

  void ExpectNoTargets(const std::string& stem) {
    for (const char* ext : {".shp", ".shx", ".dbf"}) EXPECT_FALSE(Exists(Path(stem + ext))) << stem << ext;
  }
};

// ---------------------------------------------------------------- ASCII

TEST_F(JobTest, AsciiTranslationJobsAndABadLine) {
  form->optASCII->click();
  UseTranslation("10", "20", "1");
  WriteBytes(Path("in.txt"), "1 2 3\r\n  45.5   5,25  \r\n1.5 2.5 3.5 extra\r\n");
  Files("in.txt", "out.txt");
  form->cmdStart->click();
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
  EXPECT_EQ(ReadBytes(Path("out.txt")), "11 22 4\r\n55.5 25.25 1\r\n11.5 22.5 4.5\r\n");
  EXPECT_TRUE(Log().startsWith(QStringLiteral("vergangene Zeit in s "))) << Log().toStdString();
  EXPECT_TRUE(form->centralWidget()->isEnabled());
  EXPECT_FALSE(form->jobRunning());
  // A second job appends its time on the same line.
  form->cmdStart->click();
  EXPECT_EQ(Log().count(QStringLiteral("vergangene Zeit in s ")), 2);
  EXPECT_FALSE(Log().contains(QLatin1Char('\n')));

  // A bad line: the message names it, the lines before it are written, the
  // window is enabled again and the time logged.
  WriteBytes(Path("in.txt"), "1 2 3\r\nx y z\r\n");
  form->cmdStart->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_EQ(messages->shown[0].title, "Pelmo");
  EXPECT_EQ(messages->shown[0].icon, MsgIcon::kNone);
  EXPECT_TRUE(messages->shown[0].text.contains(QStringLiteral("2"))) << messages->first();
  EXPECT_EQ(ReadBytes(Path("out.txt")), "11 22 4\r\n");
  EXPECT_TRUE(form->centralWidget()->isEnabled());
  EXPECT_EQ(Log().count(QStringLiteral("vergangene Zeit in s ")), 3);
}

TEST_F(JobTest, AsciiSevenParameterRoundTrip) {
  form->optASCII->click();
  UseSevenParameters(form->optInBL, form->optOUTetrs);
  WriteBytes(Path("ell.txt"), "15 52 100\r\n16.5 47.25 0\r\n13.2 54.1\r\n");
  Files("ell.txt", "utm.txt");
  form->cmdStart->click();
  ASSERT_TRUE(messages->shown.empty()) << messages->first();
  const std::vector<std::string> utm = ReadLines(Path("utm.txt"));
  ASSERT_EQ(utm.size(), 3u);
  EXPECT_NEAR(Numbers(utm[0]).at(0), 33500000, 1e-6);  // the central meridian of zone 33

  UseSevenParameters(form->optINetrs, form->optOutBL);
  Files("utm.txt", "back.txt");
  form->cmdStart->click();
  ASSERT_TRUE(messages->shown.empty()) << messages->first();
  const std::vector<std::string> back = ReadLines(Path("back.txt"));
  ASSERT_EQ(back.size(), 3u);
  const double expected[3][2] = {{15, 52}, {16.5, 47.25}, {13.2, 54.1}};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::vector<double> v = Numbers(back[i]);
    ASSERT_GE(v.size(), 2u) << back[i];
    EXPECT_NEAR(v[0], expected[i][0], 1e-8) << back[i];
    EXPECT_NEAR(v[1], expected[i][1], 1e-8) << back[i];
  }
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

  // A shape type outside the ESRI list (2 in the header of a MultiPoint file).
  WriteShapes(Path("multi"), SHPT_MULTIPOINT, {{{1, 3}, {2, 4}}});
  std::string header = ReadBytes(Path("multi.shp"));
  header[32] = 2;
  WriteBytes(Path("multi.shp"), header);
  form->optSHP->click();
  UseTranslation("1", "1", "0");
  Files("multi.shp", "dst.shp");
  form->cmdStart->click();
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_TRUE(messages->shown[0].text.startsWith(QStringLiteral("Shapetyp 2 wird nicht unterstützt")));
  EXPECT_TRUE(messages->shown[0].text.endsWith(QStringLiteral("MultiPatch (31)")));
  EXPECT_EQ(messages->shown[0].title, "Pelmo");
  EXPECT_FALSE(Exists(Path("dst.shp")));
}

// ---------------------------------------------------------------- shapefiles

TEST_F(JobTest, ShapefileJobProgressWindowAndOverwriteQuestions) {
  const std::vector<Ring> rings = {Circle(1000, 2000, 50, 2000), Circle(-300, 400, 10, 5),
                                   {{0, 0}, {10, 0}, {10, 10}, {0, 0}}};
  WriteShapes(Path("src"), SHPT_POLYGON, rings);
  UseTranslation("100", "-50", "0");
  Dlg().chkStat1->click();
  Dlg().chkStat2->click();
  Dlg().cmdApply->click();
  Files("src.shp", "dst.shp");
  bool seen = false;
  WhenProgressShows([&](ui::ProgressWindow* p) {
    seen = true;
    EXPECT_EQ(p->windowTitle(), "Transformation");
    EXPECT_EQ(p->size(), TwipsSize(5835, 1305));
    EXPECT_EQ(p->ProgressBar->geometry(), TwipsRect(0, 360, 5775, 255));
    EXPECT_EQ(p->ProgressBar1->geometry(), TwipsRect(0, 0, 5775, 255));
    EXPECT_EQ(p->cmdAbbruch->text(), "Cancel");
    EXPECT_EQ(p->Label1->text(), "%");
    EXPECT_EQ(p->txtfortschritt->text(), "100");  // its start text, before the first record
    const QRect screen = p->screen()->geometry();  // centred on the screen
    const QRect frame = p->frameGeometry();
    EXPECT_EQ(frame.left() - screen.left(), (screen.width() - frame.width()) / 2);
    EXPECT_EQ(frame.top() - screen.top(), (screen.height() - frame.height()) / 2);
    // The main window takes no input while the job runs; the options dialog
    // and Cancel do.
    EXPECT_FALSE(form->centralWidget()->isEnabled());
    EXPECT_FALSE(form->menuBar()->isEnabled());
    EXPECT_TRUE(Dlg().isEnabled());
    EXPECT_TRUE(p->cmdAbbruch->isEnabled());
  });
  form->cmdStart->click();
  EXPECT_TRUE(seen);
  ASSERT_TRUE(messages->shown.empty()) << messages->first();
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
  EXPECT_TRUE(log.startsWith(QStringLiteral("shapetyp 5 (Polygon)\n"))) << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("Dateilänge in byte ")));
  EXPECT_TRUE(log.contains(QStringLiteral("RecordAanzahl : 3\n")));
  EXPECT_TRUE(log.contains(QStringLiteral("vergangene Zeit in s ")));
  EXPECT_EQ(form->progressWindow(), nullptr);
  EXPECT_TRUE(form->centralWidget()->isEnabled());

  // Into the same target again: No at the first question keeps it.
  const std::string before = ReadBytes(Path("dst.shp"));
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
  // Yes for .shp, .shx and .dbf: the target is rewritten.
  messages->shown.clear();
  messages->answers = {true, true, true};
  form->cmdStart->click();
  ASSERT_EQ(messages->shown.size(), 3u);
  const char* exts[] = {"shp", "shx", "dbf"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(messages->shown[i].question);
    EXPECT_TRUE(messages->shown[i].text.startsWith(QStringLiteral("Die Datei ") +
                                                   QPath(std::string("dst.") + exts[i])));
  }
  const std::vector<Ring> rewritten = ReadShapes(Path("dst"));
  ASSERT_EQ(rewritten.size(), 3u);
  EXPECT_DOUBLE_EQ(rewritten[2][1].first, 1010);
}

TEST_F(JobTest, CancelOrCloseDuringAPolygonJobRemovesTheTargets) {
  WriteShapes(Path("src"), SHPT_POLYGON, {Circle(0, 0, 100, 50000), Circle(1, 1, 1, 50000)});
  const std::string srcShp = ReadBytes(Path("src.shp"));
  UseTranslation("1", "1", "0");
  Files("src.shp", "dst.shp");
  bool clicked = false;
  WhenProgressShows([&](ui::ProgressWindow* p) {
    clicked = true;
    p->cmdAbbruch->click();
    EXPECT_TRUE(p->isVisible());  // the window does not close itself
  });
  form->cmdStart->click();
  ASSERT_TRUE(clicked);
  EXPECT_TRUE(messages->shown.empty()) << messages->first();
  ExpectNoTargets("dst");
  EXPECT_EQ(ReadBytes(Path("src.shp")), srcShp);
  EXPECT_TRUE(Log().contains(QStringLiteral("shapetyp 5"))) << Log().toStdString();
  EXPECT_TRUE(Log().contains(QStringLiteral("RecordAanzahl : 2")));
  EXPECT_EQ(form->progressWindow(), nullptr);
  EXPECT_TRUE(form->centralWidget()->isEnabled());
  // The next job runs normally.
  form->cmdStart->click();
  EXPECT_EQ(ReadShapes(Path("dst")).size(), 2u);

  // Closing the main window during a job cancels the job first, then closes
  // every window.
  Files("src.shp", "closed.shp");
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
    EXPECT_TRUE(form->isVisible());  // the window waits for the job
  });
  form->cmdStart->click();
  ASSERT_TRUE(closed);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->jobRunning());
  ExpectNoTargets("closed");
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
  bool closed = false;
  QTimer::singleShot(0, form.get(), [&] {  // at the job's first event pass
    closed = true;
    form->close();
  });
  form->cmdStart->click();
  ASSERT_TRUE(closed);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->jobRunning());
  // The job stopped early with the interruption message, after whole lines.
  ASSERT_EQ(messages->shown.size(), 1u);
  EXPECT_TRUE(messages->shown.front().text.contains(QStringLiteral("Benutzerunterbrechung")));
  const std::string out = ReadBytes(Path("out.txt"));
  EXPECT_LT(out.size(), lines.size());
  EXPECT_EQ(out.size() % std::string("2 3 3\r\n").size(), 0u);
}

// ---------------------------------------------------------------- options during a job

TEST_F(JobTest, OptionAppliedDuringAJobTakesEffectFromTheNextPoint) {
  // Geographic to general Gauss on its central meridian (15): the easting
  // is the false easting from the options.
  constexpr int kPoints = 60000;
  std::string text;
  for (int i = 0; i < kPoints; ++i) text += "15 50 0\r\n";
  WriteBytes(Path("ell.txt"), text);
  form->optASCII->click();
  UseSevenParameters(form->optInBL, form->optOutGKallgemein);
  Files("ell.txt", "gauss.txt");
  bool applied = false;
  ActWhen([this] { return form->jobRunning(); }, [&] {
    applied = true;
    Dlg().txtOUTeasting->setText(QStringLiteral("1500000"));
    Dlg().cmdApply->click();
  });
  form->cmdStart->click();
  ASSERT_TRUE(messages->shown.empty()) << messages->first();
  ASSERT_TRUE(applied);
  const std::vector<std::string> lines = ReadLines(Path("gauss.txt"));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kPoints));
  // 5500000 up to some point, 1500000 from the next on.
  std::vector<double> eastings;
  for (const std::string& l : lines) {
    const double e = Numbers(l).at(0);
    if (eastings.empty() || e != eastings.back()) eastings.push_back(e);
  }
  EXPECT_EQ(eastings, (std::vector<double>{5500000, 1500000}));
}

}  // namespace
}  // namespace pelmo::uitest
