// The preview: files of known geometry drawn offscreen (extent, tick values,
// the graticule at a known central meridian, the warning colour where the
// warned point lies), even sampling over the whole file, errors as text,
// the window from the main window (click, linked zoom, Save picture...) and
// the headless picture of `pelmo --preview-picture`.

#include <shapefil.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>

#include "geodesy/plausibility.hpp"
#include "ui_support.hpp"
#include "window/preview_panel.hpp"

namespace pelmo::uitest {
namespace {

using ui::PreviewWindow;

constexpr double kBesselA = 6377397.155, kBesselE = 0.0816968312225275;

/// Meridian arc from the equator to latitude `deg` on Bessel 1841, by
/// Simpson's rule over the radius of curvature in the meridian.
double MeridianArc(double deg) {
  const double e2 = kBesselE * kBesselE, phi = deg * M_PI / 180;
  const int n = 2000;
  auto m = [&](double p) { return kBesselA * (1 - e2) / std::pow(1 - e2 * std::sin(p) * std::sin(p), 1.5); };
  double s = m(0) + m(phi);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4 : 2) * m(phi * i / n);
  return s * phi / n / 3;
}

/// Gauss-Krueger zone 3 (meridian 9) on Bessel 1841 into zone 4 (or "Ell")
/// on the same ellipsoid, no datum change.
void ZoneThree(Session& s, const std::string& source, bool ellOut = false) {
  TransformSettings& t = s.settings;
  t.optInKrovak = false;
  t.optInGK = true;
  t.optOutGK = !ellOut;
  t.optOutBL = ellOut;
  t.optSHP = source.ends_with(".shp");
  t.optASCII = !t.optSHP;
  t.txtEll1a = t.txtEll2a = "6377397.155";
  t.txtEll1e = t.txtEll2e = "0.0816968312225275";
  t.txtBezEll1 = t.txtBezEll2 = "Bessel";
  t.txtQuelldatei = source;
  s.OptionValues[opt::kGKBM] = "9";
  s.OptionValues[opt::kGKBM2] = "12";
  s.Touch();
}

/// One record of `parts` into stem.shp/.shx/.dbf, written by shapelib.
void WriteShape(const std::string& stem, int type, const std::vector<std::vector<double>>& parts) {
  std::vector<double> x, y;
  std::vector<int> starts;
  for (const auto& part : parts) {
    starts.push_back(static_cast<int>(x.size()));
    for (std::size_t i = 0; i + 1 < part.size(); i += 2) x.push_back(part[i]), y.push_back(part[i + 1]);
  }
  SHPHandle shp = SHPCreate(stem.c_str(), type);
  DBFHandle dbf = DBFCreate(stem.c_str());
  DBFAddField(dbf, "ID", FTInteger, 8, 0);
  SHPObject* o = SHPCreateObject(type, -1, static_cast<int>(starts.size()), starts.data(), nullptr,
                                 static_cast<int>(x.size()), x.data(), y.data(), nullptr, nullptr);
  SHPWriteObject(shp, -1, o);
  DBFWriteIntegerAttribute(dbf, 0, 0, 1);
  SHPDestroyObject(o);
  SHPClose(shp);
  DBFClose(dbf);
}

QImage Picture(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }

/// Pixels of colour `rgb` within `r` pixels of `at`.
int Near(const QImage& img, QPointF at, QRgb rgb, int r = 1) {
  int n = 0;
  for (int y = int(at.y()) - r; y <= int(at.y()) + r; ++y) {
    for (int x = int(at.x()) - r; x <= int(at.x()) + r; ++x) {
      n += img.valid(x, y) && img.pixel(x, y) == rgb;
    }
  }
  return n;
}

class PreviewTest : public WindowTest {
 protected:
  /// The preview of `lines` (or, without lines, of p.shp) read at once,
  /// shown offscreen at a fixed size.
  std::unique_ptr<PreviewWindow> Show(const std::vector<std::string>& lines, bool ellOut = false) {
    if (!lines.empty()) WriteLines(Path("p.txt"), lines);
    ZoneThree(form->session(), Path(lines.empty() ? "p.shp" : "p.txt"), ellOut);
    auto w = std::make_unique<PreviewWindow>(form->session(), files, messages, nullptr, false);
    w->resize(1000, 600);
    w->show();
    w->cmdFit_Click();
    return w;
  }
};

TEST(PreviewTicks, RoundValuesWithinTheRange) {
  struct Case {
    double lo, hi;
    int most;
    std::vector<double> ticks;
  };
  const Case cases[] = {
      {3400000, 3600000, 5, {3400000, 3450000, 3500000, 3550000, 3600000}},
      {-0.013, 0.021, 8, {-0.01, -0.005, 0, 0.005, 0.01, 0.015, 0.02}},
      {12.3, 12.7, 3, {12.4, 12.6}},
      {5392100.25, 5499300, 6, {5400000, 5450000}},
      {48.37, 48.371, 4, {48.37, 48.3705, 48.371}},
      {5, 5, 4, {}},
  };
  for (const Case& c : cases) {
    const std::vector<double> got = ui::RoundTicks(c.lo, c.hi, c.most);
    ASSERT_EQ(got.size(), c.ticks.size()) << c.lo << " " << c.hi;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_DOUBLE_EQ(got[i], c.ticks[i]) << c.lo;
  }
}

TEST_F(PreviewTest, KnownGeometryDrawnWhereItLies) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;  // none: a polygon with a hole in p.shp
    bool ellOut;
    const char* extent;  // in the source panel's count line
    int warned;          // index of the point with a zone warning, -1 none
  };
  const Case cases[] = {
      {"two points either side of the meridian", {"3480000 5500000 10", "3520000 5600000 20"}, false,
       "2 of 2 drawn;  x 3480000\u20133520000,  y 5500000\u20135600000", -1},
      {"a point of zone 4 in zone 3", {"3490000 5550000", "4500000.5 5550000", "3510000 5560000"}, false,
       "3 of 3 drawn;  x 3490000\u20134500000.5,  y 5550000\u20135560000", 1},
      {"into degrees", {"3480000 5500000", "3520000 5600000"}, true, "x 3480000\u20133520000", -1},
      {"a polygon with a hole", {}, false, "10 of 10 drawn;  x 3480000\u20133520000", -1},
  };
  WriteShape(Path("p"), SHPT_POLYGON,
             {{3480000, 5500000, 3480000, 5600000, 3520000, 5600000, 3520000, 5500000, 3480000, 5500000},
              {3495000, 5540000, 3505000, 5540000, 3505000, 5560000, 3495000, 5560000, 3495000, 5540000}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto w = Show(c.lines, c.ellOut);
    ASSERT_TRUE(w->finished());
    const auto& d = *w->data();
    EXPECT_EQ(d.error, "");
    EXPECT_EQ(d.total, c.lines.empty() ? 10 : c.lines.size());
    EXPECT_TRUE(ui::CountText(w->picSource->content).contains(QString::fromUtf8(c.extent)))
        << ui::CountText(w->picSource->content).toStdString();
    EXPECT_EQ(w->picResult->content.degrees, c.ellOut);
    EXPECT_EQ(ui::CountText(w->picResult->content).contains(QStringLiteral("°")), c.ellOut);
    EXPECT_EQ(d.warnings[static_cast<std::size_t>(WarningKind::kZonePrefix)], c.warned < 0 ? 0u : 1u);
    for (ui::PreviewPanel* panel : {w->picSource, w->picResult}) {
      const QImage img = Picture(panel);
      const QRectF plot = panel->plot();
      for (std::size_t i = 0; i < d.vertices.size(); ++i) {
        double x = 0, y = 0;
        ASSERT_TRUE(ui::VertexPlace(d.vertices[i], panel->content.side, x, y));
        const QPointF at = panel->view.ToPixel(plot, x, y);
        EXPECT_TRUE(plot.contains(at)) << i;
        const bool warned = static_cast<int>(i) == c.warned;
        EXPECT_GT(Near(img, at, warned ? ui::kPreviewWarningRgb : ui::kPreviewPointRgb), 0) << i;
        EXPECT_EQ(Near(img, at, ui::kPreviewWarningRgb), warned ? 9 : 0) << i;
      }
      if (!c.lines.empty() || panel == w->picResult) continue;
      // Outlines: the middle of the hole's edge is drawn, the inside is not filled.
      EXPECT_GT(Near(img, panel->view.ToPixel(plot, 3505000, 5550000), ui::kPreviewPointRgb), 0);
      EXPECT_EQ(Near(img, panel->view.ToPixel(plot, 3490000, 5580000), ui::kPreviewPointRgb, 3), 0);
    }
    if (c.lines.empty()) {
      w->ShowVertex(7);
      EXPECT_TRUE(w->lblInfo->text().startsWith(QStringLiteral("Record 1, Punkt 8:")))
          << w->lblInfo->text().toStdString();
    }
    if (c.ellOut || c.warned >= 0 || c.lines.empty()) continue;
    // The central meridian 9° is the vertical at 3500 km; the parallel of
    // 50° crosses it at the meridian arc's length.
    ui::PreviewPanel* p = w->picSource;
    const QImage img = Picture(p);
    const QRectF plot = p->plot();
    int column = 0;
    for (double y = 5510000; y < 5590000; y += 2000) {
      column += Near(img, p->view.ToPixel(plot, 3500000, y), ui::kPreviewGraticuleRgb, 0) +
                Near(img, p->view.ToPixel(plot, 3500000, y) + QPointF(-1, 0), ui::kPreviewGraticuleRgb, 0);
    }
    EXPECT_GE(column, 38);
    double x = 0, y = 0;
    ASSERT_TRUE(p->content.projector->Forward(9, 50, x, y));
    EXPECT_NEAR(x, 3500000, 1e-6);
    EXPECT_NEAR(y, MeridianArc(50), 0.01);
    const QPointF at = p->view.ToPixel(plot, 3490000, MeridianArc(50));
    EXPECT_GT(Near(img, at, ui::kPreviewGraticuleRgb), 0);
    EXPECT_EQ(Near(img, p->view.ToPixel(plot, 3490000, MeridianArc(50) + 5000), ui::kPreviewGraticuleRgb), 0);
  }
}

TEST_F(PreviewTest, EvenSamplingOverTheWholeFile) {
  // 300000 points: the first half near 3450 km east, the second 100 km
  // farther east; the file is large enough for a quick pass.
  std::string text;
  const long n = 300000;
  for (long i = 0; i < n; ++i) {
    text += std::to_string(i < n / 2 ? 3450000 : 3550000) + "." + std::to_string(i % 1000) + " " +
            std::to_string(5500000 + i % 5000) + ".25 100\n";
  }
  WriteBytes(Path("big.txt"), text);
  ZoneThree(form->session(), Path("big.txt"));
  const auto settings = ui::PreviewSettings::From(form->session());
  const std::atomic<bool> cancel{false};
  ui::PreviewReader reader(settings, cancel);
  ui::PreviewData quick, full;
  ASSERT_TRUE(reader.Quick(quick));
  reader.Full(full);
  for (const ui::PreviewData* d : {&quick, &full}) {
    long west = 0, east = 0;
    for (const auto& v : d->vertices) (v.sx < 3500000 ? west : east) += 1;
    const auto drawn = static_cast<long>(d->vertices.size());
    EXPECT_NEAR(west, drawn / 2, drawn / 20);
    EXPECT_NEAR(east, drawn / 2, drawn / 20);
    EXPECT_NEAR(static_cast<double>(d->total), n, n * 0.1);
  }
  EXPECT_TRUE(full.complete);
  EXPECT_EQ(full.total, static_cast<std::uint64_t>(n));
  EXPECT_LE(full.vertices.size(), ui::kPreviewMaxVertices);
  EXPECT_GE(full.vertices.size(), n / 2);
  // Every k-th line: equal steps of the line numbers.
  const long k = full.vertices[1].item - full.vertices[0].item;
  for (std::size_t i = 1; i < full.vertices.size(); ++i) {
    ASSERT_EQ(full.vertices[i].item - full.vertices[i - 1].item, k) << i;
  }
}

TEST_F(PreviewTest, ErrorsShownAsTextAndTheFileUntouched) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;  // empty: no file
    const char* error;  // in the first error; "" none
    std::size_t drawn, errors;
  };
  const Case cases[] = {
      {"two bad lines", {"3500000 5600000", "3500100 56x0000", "3500200 5600200", "3500300"},
       "Zeile 2", 2, 2},
      {"a missing file", {}, "p.txt", 0, 1},
      {"a shapefile cut short", {"cut"}, "besch\u00e4digt", 0, 1},
      {"a sound file", {"3500000 5600000 1", "3500100 5600100 1"}, "", 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(Path("p.txt").c_str());
    const bool shape = c.lines.size() == 1;
    if (shape) {
      WriteShape(Path("p"), SHPT_ARC, {{3480000, 5500000, 3520000, 5600000}});
      std::filesystem::resize_file(Path("p.shp"), 150);
    }
    const auto w = c.lines.size() > 1 ? Show(c.lines) : std::make_unique<PreviewWindow>(
        (ZoneThree(form->session(), Path(shape ? "p.shp" : "p.txt")), form->session()), files,
        messages, nullptr, false);
    w->resize(1000, 600);
    w->show();
    const auto& d = *w->data();
    EXPECT_EQ(d.vertices.size(), c.drawn);
    EXPECT_TRUE(d.error.find(c.error) != std::string::npos) << d.error;
    EXPECT_EQ(d.errors, c.errors);
    const QImage img = Picture(w->picSource);
    long red = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) red += qRed(img.pixel(x, y)) > 150 && qGreen(img.pixel(x, y)) < 60;
    EXPECT_EQ(red > 0, c.error[0] != 0);
    if (c.lines.size() > 1) {
      std::string text;
      for (const auto& l : c.lines) text += l + "\r\n";
      EXPECT_EQ(ReadBytes(Path("p.txt")), text);
    }
  }
}

TEST_F(PreviewTest, WindowFromTheMainWindowClickLinkedZoomAndSave) {
  // The button stands free of every other control in the three layouts.
  for (int layout = 0; layout < 3; ++layout) {
    Dlg().chkExp->setCheckState(layout == 1 ? Qt::Unchecked : Qt::Checked);
    (layout == 2 ? Dlg().optTranslation : Dlg().optSevPar)->click();
    Dlg().cmdApply->click();
    for (QWidget* other : form->centralWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (other == form->cmdPreview || !Shown(other)) continue;
      EXPECT_FALSE(other->geometry().intersects(form->cmdPreview->geometry()))
          << layout << " " << other->objectName().toStdString();
    }
    EXPECT_TRUE(Shown(form->cmdPreview));
  }
  Dlg().optSevPar->click();
  Dlg().cmdApply->click();

  WriteLines(Path("p.txt"), {"3480000 5500000", "3505000 5540000", "3520000 5600000"});
  ZoneThree(form->session(), Path("p.txt"));
  form->syncFromSettings();
  form->cmdPreview->click();
  PreviewWindow* w = form->previewWindow();
  ASSERT_NE(w, nullptr);
  if (!w->finished()) {
    ASSERT_TRUE(QSignalSpy(w, &PreviewWindow::done).wait(120000));
  }
  ASSERT_EQ(w->data()->vertices.size(), 3u);

  // A click on the middle point names its line and both values.
  ui::PreviewPanel* src = w->picSource;
  const QPointF at = src->view.ToPixel(src->plot(), 3505000, 5540000);
  QTest::mouseClick(src, Qt::LeftButton, {}, at.toPoint());
  EXPECT_TRUE(w->lblInfo->text().startsWith(QStringLiteral("Zeile 2:"))) << w->lblInfo->text().toStdString();
  EXPECT_TRUE(w->lblInfo->text().contains(QStringLiteral("5540000"))) << w->lblInfo->text().toStdString();

  // Linked: zooming the source shows the same area in the result.
  const double before = w->picResult->view.scale;
  QWheelEvent wheel(at, src->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(src, &wheel);
  EXPECT_NE(w->picResult->view.scale, before);
  EXPECT_NEAR(w->picResult->view.scale / src->view.scale, 1, 0.01);
  ui::ChainSession chain(ui::PreviewSettings::From(form->session()));
  double e = src->view.cx, n = src->view.cy, h = 0;
  const PointResult centre = TransformPoint(chain.session(), e, n, h);
  EXPECT_NEAR(w->picResult->view.cx, centre[0], 0.01);
  EXPECT_NEAR(w->picResult->view.cy, centre[1], 0.01);
  // And back: panning the result brings the source to the point whose
  // result lies at the centre.
  const double panned = w->picResult->view.cx;
  QTest::mouseMove(w->picResult, QPoint(300, 300));
  QTest::mousePress(w->picResult, Qt::LeftButton, {}, QPoint(300, 300));
  QTest::mouseMove(w->picResult, QPoint(340, 320));
  QTest::mouseRelease(w->picResult, Qt::LeftButton, {}, QPoint(340, 320));
  EXPECT_NE(w->picResult->view.cx, panned);
  e = src->view.cx, n = src->view.cy, h = 0;
  const PointResult back = TransformPoint(chain.session(), e, n, h);
  EXPECT_NEAR(back[0], w->picResult->view.cx, 0.01);
  EXPECT_NEAR(back[1], w->picResult->view.cy, 0.01);

  // Save picture...: SVG by the name chosen.
  files->answers = {QPath("pic.svg")};
  w->cmdSave->click();
  EXPECT_NE(ReadBytes(Path("pic.svg")).find("<svg"), std::string::npos);
  w->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(form->previewWindow(), nullptr);
}

TEST_F(PreviewTest, HeadlessPictureWithoutADisplay) {
  WriteLines(Path("p.txt"), {"3480000 5500000", "3520000 5600000"});
  QProcess run;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(v));
  run.setProcessEnvironment(env);
  run.start(QStringLiteral(PELMO_APP_PATH), {QStringLiteral("--preview-picture"), QPath("p.png"), QPath("p.txt")});
  ASSERT_TRUE(run.waitForFinished(120000));
  EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
  const QImage img(QPath("p.png"));
  ASSERT_FALSE(img.isNull());
  long dots = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) dots += img.pixel(x, y) == ui::kPreviewPointRgb;
  EXPECT_GT(dots, 0);
  run.start(QStringLiteral(PELMO_APP_PATH), {QStringLiteral("--preview-picture"), QPath("q.png")});
  ASSERT_TRUE(run.waitForFinished(120000));
  EXPECT_EQ(run.exitCode(), 2);
  EXPECT_FALSE(Exists(Path("q.png")));
}

}  // namespace
}  // namespace pelmo::uitest
