// The preview offscreen: known geometry against PROJ, even sampling, errors, click, linked zoom, saving, no display.
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "paramfiles/properties.hpp"
#include "ui_support.hpp"
#include "window/preview_panel.hpp"
#include "window/preview_window.hpp"

namespace pelmo::uitest {
namespace {

using ui::PreviewPanel, ui::PreviewWindow;
constexpr double kDeg = 3.14159265358979323846 / 180;
const std::string kZone3 = "+proj=tmerc +lon_0=9 +x_0=3500000 +ellps=bessel";

/// Gauss-Krueger zone 3 (meridian 9) into zone 4 (meridian 12) or "Ell", Bessel on both sides, zero sets.
void ZoneThree(Session& s, const std::string& source, bool ellOut = false) {
  test::UseBesselOnBothSides(s);
  TransformSettings& t = s.settings;
  t.optInKrovak = false, t.optInGK = true, t.optOutGK = !ellOut, t.optOutBL = ellOut;
  t.optSHP = source.ends_with(".shp"), t.optASCII = !t.optSHP, t.txtQuelldatei = source;
  s.OptionValues[opt::kGKBM] = "9", s.OptionValues[opt::kGKBM2] = "12", s.Touch();
}

/// Pixels of colour `rgb` within `r` pixels of `at`.
int Near(const QImage& img, QPointF at, QRgb rgb, int r = 1) {
  int n = 0;
  for (int y = int(at.y()) - r; y <= int(at.y()) + r; ++y)
    for (int x = int(at.x()) - r; x <= int(at.x()) + r; ++x) n += img.valid(x, y) && img.pixel(x, y) == rgb;
  return n;
}

class PreviewTest : public WindowTest {
 protected:
  /// The preview of `source` from the main window's button, read to its end, at a fixed size.
  PreviewWindow* Show(const std::string& source, bool ellOut = false) {
    ZoneThree(form->session(), Path(source), ellOut);
    form->syncFromSettings();
    form->cmdPreview->click();
    PreviewWindow* w = form->previewWindow();
    EXPECT_TRUE(w->finished() || QSignalSpy(w, &PreviewWindow::done).wait(120000));
    w->resize(1000, 600), w->cmdFit_Click();
    return w;
  }
};

TEST(PreviewTicks, RoundValuesWithinTheRange) {
  struct Case { double lo, hi; int most; std::vector<double> ticks; };
  const Case cases[] = {{3400000, 3600000, 5, {3400000, 3450000, 3500000, 3550000, 3600000}},
                        {-0.013, 0.021, 8, {-0.01, -0.005, 0, 0.005, 0.01, 0.015, 0.02}},
                        {12.3, 12.7, 3, {12.4, 12.6}}, {48.37, 48.371, 4, {48.37, 48.3705, 48.371}}, {5, 5, 4, {}}};
  for (const Case& c : cases) {
    const std::vector<double> got = ui::RoundTicks(c.lo, c.hi, c.most);
    ASSERT_EQ(got.size(), c.ticks.size()) << c.lo;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.ticks[i], 1e-9 * std::abs(c.hi)) << c.lo;
  }
}

TEST_F(PreviewTest, KnownGeometryDrawnWhereItLies) {
  struct Case { const char* name; std::string text; bool ellOut; const char* extent; int warned; };
  const Case cases[] = {
      {"points either side of the meridian", "3480000 5500000 10\n3520000 5600000 20\n", false,
       "2 of 2 drawn;  x 3480000\u20133520000,  y 5500000\u20135600000", -1},
      {"a point of zone 4 in zone 3", "3490000 5550000\n4500000.5 5550000\n3510000 5560000\n", false,
       "3 of 3 drawn;  x 3490000\u20134500000.5,  y 5550000\u20135560000", 1},
      {"into degrees", "3480000 5500000\n3520000 5600000\n", true, "x 3480000\u20133520000", -1},
      {"a polygon with a hole", "", false, "10 of 10 drawn;  x 3480000\u20133520000", -1}};
  test::WriteShapefile(Path("p"), SHPT_POLYGON, {{SHPT_POLYGON, {test::Part{{3480000, 5500000}, {3480000, 5600000},
      {3520000, 5600000}, {3520000, 5500000}, {3480000, 5500000}}, test::Part{{3495000, 5540000}, {3505000, 5540000},
      {3505000, 5560000}, {3495000, 5560000}, {3495000, 5540000}}}}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.text.empty()) WriteBytes(Path("p.txt"), c.text);
    PreviewWindow* w = Show(c.text.empty() ? "p.shp" : "p.txt", c.ellOut);
    const ui::PreviewData& d = *w->data();
    EXPECT_EQ(d.error, "");
    EXPECT_TRUE(ui::CountText(w->picSource->content).contains(QString::fromUtf8(c.extent)));
    EXPECT_EQ(ui::CountText(w->picResult->content).contains(QStringLiteral("°")), c.ellOut);
    EXPECT_EQ(d.warnings[static_cast<std::size_t>(WarningKind::kZonePrefix)], c.warned < 0 ? 0u : 1u);
    const std::string chain = "+proj=pipeline +step +inv " + kZone3 + " +step " +
                              (c.ellOut ? "+proj=unitconvert +xy_in=rad +xy_out=deg" : "+proj=tmerc +lon_0=12 +x_0=4500000 +ellps=bessel");
    for (PreviewPanel* panel : {w->picSource, w->picResult}) {
      const QImage img = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
      const QRectF plot = panel->plot();
      for (std::size_t i = 0; i < d.vertices.size(); ++i) {
        double x = 0, y = 0;
        ASSERT_TRUE(ui::VertexPlace(d.vertices[i], panel->content.side, x, y));
        const QPointF at = panel->view.ToPixel(plot, x, y);
        const bool warned = static_cast<int>(i) == c.warned;
        if (panel == w->picResult && !warned) {  // the warned point lies beyond zone 3's reach
          const auto ref = test::ProjTrans(chain, d.vertices[i].sx, d.vertices[i].sy);
          EXPECT_NEAR(x, ref[0], c.ellOut ? 1e-9 : 1e-3) << i;
          EXPECT_NEAR(y, ref[1], c.ellOut ? 1e-9 : 1e-3) << i;
        }
        EXPECT_TRUE(plot.contains(at)) << i;
        EXPECT_GT(Near(img, at, warned ? ui::kPreviewWarningRgb : ui::kPreviewPointRgb), 0) << i;
        EXPECT_EQ(Near(img, at, ui::kPreviewWarningRgb), warned ? 9 : 0) << i;
      }
      if (panel != w->picSource || c.ellOut || c.warned >= 0) continue;
      if (c.text.empty()) {  // the hole's edge drawn, the ring not filled
        EXPECT_GT(Near(img, panel->view.ToPixel(plot, 3505000, 5550000), ui::kPreviewPointRgb), 0);
        EXPECT_EQ(Near(img, panel->view.ToPixel(plot, 3490000, 5580000), ui::kPreviewPointRgb, 3), 0);
        continue;
      }
      // The meridian 9° at 3500 km east; the parallel of 50° where PROJ puts it, not 5 km north of it.
      for (const double y : {5520000.0, 5550000.0, 5580000.0})
        EXPECT_GT(Near(img, panel->view.ToPixel(plot, 3500000, y), ui::kPreviewGraticuleRgb), 0) << y;
      const auto p50 = test::ProjTrans(kZone3, 9.2 * kDeg, 50 * kDeg);
      EXPECT_GT(Near(img, panel->view.ToPixel(plot, p50[0], p50[1]), ui::kPreviewGraticuleRgb), 0);
      EXPECT_EQ(Near(img, panel->view.ToPixel(plot, p50[0], p50[1] + 5000), ui::kPreviewGraticuleRgb), 0);
    }
    if (&c != cases) continue;
    // A click names the line and both values; the wheel over the source zooms the result on the same area.
    PreviewPanel *src = w->picSource, *res = w->picResult;
    const QPointF at = src->view.ToPixel(src->plot(), 3520000, 5600000);
    QTest::mouseClick(src, Qt::LeftButton, {}, at.toPoint());
    EXPECT_TRUE(w->lblInfo->text().startsWith("Zeile 2:") && w->lblInfo->text().contains("5600000"));
    const double before = src->view.scale;
    QWheelEvent wheel(at, src->mapToGlobal(at), {}, {0, 240}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(src, &wheel);
    EXPECT_GT(src->view.scale, before);
    EXPECT_NEAR(res->view.scale / src->view.scale, 1, 0.01);
    const auto centre = test::ProjTrans(chain, src->view.cx, src->view.cy);
    EXPECT_NEAR(res->view.cx, centre[0], 0.01);
    EXPECT_NEAR(res->view.cy, centre[1], 0.01);
    files->answers = {QPath("pic.svg")};
    w->cmdSave->click();
    EXPECT_TRUE(test::Contains(ReadBytes(Path("pic.svg")), "<svg"));
  }
}

TEST_F(PreviewTest, EvenSamplingOverTheWholeFile) {
  // 300000 lines, the second half 100 km east of the first: more than a picture keeps.
  std::string text;
  const long n = 300000;
  for (long i = 0; i < n; ++i)
    text += std::to_string((i < n / 2 ? 3450000 : 3550000) + i % 1000) + " " + std::to_string(5500000 + i % 5000) + "\n";
  WriteBytes(Path("big.txt"), text);
  ZoneThree(form->session(), Path("big.txt"));
  const std::atomic<bool> cancel{false};
  ui::PreviewReader reader(ui::PreviewSettings::From(form->session()), cancel);
  ui::PreviewData quick, full;
  ASSERT_TRUE(reader.Quick(quick));
  reader.Full(full);
  for (const ui::PreviewData* d : {&quick, &full}) {
    long west = 0;
    for (const auto& v : d->vertices) west += v.sx < 3500000;
    EXPECT_NEAR(west, static_cast<double>(d->vertices.size()) / 2, d->vertices.size() / 20.0);
    EXPECT_NEAR(static_cast<double>(d->total), n, n * 0.1);
  }
  EXPECT_TRUE(full.complete && full.total == static_cast<std::uint64_t>(n));
  EXPECT_TRUE(full.vertices.size() >= n / 2 && full.vertices.size() <= ui::kPreviewMaxVertices) << full.vertices.size();
  const long k = full.vertices[1].item - full.vertices[0].item;  // every k-th line
  for (std::size_t i = 1; i < full.vertices.size(); ++i) ASSERT_EQ(full.vertices[i].item - full.vertices[i - 1].item, k);
}

TEST_F(PreviewTest, ErrorsShownAsTextAndTheFileUntouched) {
  struct Case { const char* name; std::string text; const char* source; const char* error; std::size_t drawn, errors; };
  const Case cases[] = {
      {"two bad lines", "3500000 5600000\r\n3500100 56x0000\r\n3500200 5600200\r\n3500300\r\n", "p.txt", "Zeile 2", 2, 2},
      {"a missing file", "", "none.txt", "none.txt", 0, 1},
      {"a shapefile cut short", "", "p.shp", "besch\u00e4digt", 0, 1},
      {"a sound file", "3500000 5600000 1\r\n3500100 5600100 1\r\n", "p.txt", "", 2, 0}};
  test::WriteShapefile(Path("p"), SHPT_ARC, {{SHPT_ARC, {test::Part{{3480000, 5500000}, {3520000, 5600000}}}}});
  std::filesystem::resize_file(Path("p.shp"), 150);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.text.empty()) WriteBytes(Path("p.txt"), c.text);
    PreviewWindow* w = Show(c.source);
    const ui::PreviewData& d = *w->data();
    EXPECT_EQ(d.vertices.size(), c.drawn);
    EXPECT_TRUE(test::Contains(d.error, c.error)) << d.error;
    EXPECT_EQ(d.errors, c.errors);
    const QImage img = w->picSource->grab().toImage().convertToFormat(QImage::Format_RGB32);
    long red = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) red += qRed(img.pixel(x, y)) > 150 && qGreen(img.pixel(x, y)) < 60;  // the error colour
    EXPECT_EQ(red > 0, *c.error != 0);
    if (!c.text.empty()) { EXPECT_EQ(ReadBytes(Path("p.txt")), c.text); }
  }
}

TEST_F(PreviewTest, HeadlessPictureWithoutADisplay) {
  WriteBytes(Path("p.txt"), "3480000 5500000\n3520000 5600000\n");
  ZoneThree(form->session(), Path("p.txt"));
  SaveProperties(Path("p.par"), form->session(), form->session().OptionValues);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(v));
  // Without --par the start settings name no ellipsoids: the picture is written, with the error, and the status says so.
  for (const bool par : {true, false}) {
    QFile::remove(QPath("p.png"));
    QStringList args{QStringLiteral("--preview-picture"), QPath("p.png"), QPath("p.txt")};
    if (par) args << QStringLiteral("--par") << QPath("p.par");
    QProcess run;
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(PELMO_APP_PATH), args);
    ASSERT_TRUE(run.waitForFinished(120000));
    EXPECT_EQ(run.exitCode(), par ? 0 : 1) << run.readAllStandardError().toStdString();
    const QImage img = QImage(QPath("p.png")).convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(Near(img, QPointF(img.width() / 2, img.height() / 2), ui::kPreviewPointRgb, img.width() / 2 + 1), 1);
  }
}

}  // namespace
}  // namespace pelmo::uitest
