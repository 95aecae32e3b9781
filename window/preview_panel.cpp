#include "window/preview_panel.hpp"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::ui {

namespace {

// Room around the plot area, pixels.
constexpr double kTitleHeight = 34;   // title and count above
constexpr double kLeftMargin = 66;    // tick values at the left
constexpr double kBottomMargin = 20;  // tick values below
constexpr double kRightMargin = 10;
constexpr double kTickLength = 4;
// Sizes of the marks, pixels.
constexpr int kDotSize = 3;
constexpr int kWarningDotSize = 5;
// Few points are drawn larger.
constexpr std::size_t kFewPoints = 2000;
constexpr int kLargeDot = 2;  // pixels added
constexpr double kHighlightRadius = 7;
constexpr double kPickRadius = 8;
// Share of the plot area a fitted view fills.
constexpr double kFitShare = 0.9;
// Smallest extent a fitted view shows: metres, degrees.
constexpr double kMinSpanMetres = 10;
constexpr double kMinSpanDegrees = 1e-4;
constexpr double kWheelStep = 1.25;  // zoom per notch
constexpr double kNotch = 120;       // angle delta of one wheel notch

constexpr double kRadiansPerDegree = geotra::kPi / 180;

QString Num(double v, char sign) { return QString::fromStdString(FormatNumber(v, sign)); }

}  // namespace

QString ValueText(double v, bool degrees, char sign) {
  const double step = degrees ? 1e-8 : 1e-3;
  return Num(std::round(v / step) * step, sign) + (degrees ? QStringLiteral("°") : QString());
}

namespace {

QColor Colour(QRgb rgb) { return QColor::fromRgb(rgb); }

/// Extent of the vertices of one side; false when none has a place there.
bool Extent(const PreviewData& d, int side, std::array<double, 4>& box) {
  bool any = false;
  for (const PreviewVertex& v : d.vertices) {
    double x = 0, y = 0;
    if (!VertexPlace(v, side, x, y)) continue;
    if (!any) {
      box = {x, y, x, y};
      any = true;
    }
    box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
  }
  return any;
}

/// Draws a polyline through `pts`, broken where a point is missing.
void DrawBroken(QPainter& p, const std::vector<QPointF>& pts, const std::vector<bool>& ok) {
  QPolygonF run;
  for (std::size_t i = 0; i <= pts.size(); ++i) {
    if (i < pts.size() && ok[i]) {
      run.append(pts[i]);
      continue;
    }
    if (run.size() > 1) p.drawPolyline(run);
    run.clear();
  }
}

void PaintGraticule(QPainter& p, const QRectF& plot, const PanelContent& c, const PanelView& v) {
  if (c.projector == nullptr || !c.projector->valid()) return;
  const auto box = v.Box(plot);
  const std::vector<GraticuleLine> lines = Graticule(*c.projector, box[0], box[1], box[2], box[3]);
  p.setPen(QPen(Colour(kPreviewGraticuleRgb), 1));
  const QColor labelColour = Colour(kPreviewGraticuleRgb).darker(160);
  for (const GraticuleLine& g : lines) {
    std::vector<QPointF> pts;
    std::vector<bool> ok;
    for (const auto& q : g.points) {
      ok.push_back(std::isfinite(q[0]) && std::isfinite(q[1]));
      pts.push_back(ok.back() ? v.ToPixel(plot, q[0], q[1]) : QPointF());
    }
    p.setPen(QPen(Colour(kPreviewGraticuleRgb), 1));
    DrawBroken(p, pts, ok);
    // The value where the line leaves the plot area at the top (meridians)
    // or at the right (parallels).
    for (std::size_t i = 1; i < pts.size(); ++i) {
      if (!ok[i - 1] || !ok[i]) continue;
      const QPointF a = pts[i - 1], b = pts[i];
      const double edge = g.meridian ? plot.top() : plot.right();
      const double ea = g.meridian ? a.y() : a.x(), eb = g.meridian ? b.y() : b.x();
      if ((ea - edge) * (eb - edge) > 0 || ea == eb) continue;
      const double t = (edge - ea) / (eb - ea);
      const QPointF at = a + (b - a) * t;
      if (!plot.adjusted(-1, -1, 1, 1).contains(at)) continue;
      p.setPen(labelColour);
      const QString text = Num(g.degrees, c.decimalSign) + QStringLiteral("°");
      const QFontMetricsF fm(p.font());
      const QPointF pos = g.meridian ? QPointF(at.x() + 2, plot.top() + fm.ascent() + 1)
                                     : QPointF(plot.right() - fm.horizontalAdvance(text) - 2,
                                               at.y() - 2);
      if (pos.x() + fm.horizontalAdvance(text) <= plot.right()) p.drawText(pos, text);
      break;
    }
  }
}

void PaintAxes(QPainter& p, const QRectF& rect, const QRectF& plot, const PanelContent& c,
               const PanelView& v) {
  const auto box = v.Box(plot);
  const QFontMetricsF fm(p.font());
  p.setPen(Qt::black);
  p.setBrush(Qt::NoBrush);
  p.drawRect(plot);
  const auto xs = RoundTicks(box[0], box[2], std::max(2, static_cast<int>(plot.width() / 95)));
  for (double x : xs) {
    const double px = v.ToPixel(plot, x, 0).x();
    p.drawLine(QPointF(px, plot.bottom()), QPointF(px, plot.bottom() + kTickLength));
    const QString t = ValueText(x, c.degrees, c.decimalSign);
    const double left = px - fm.horizontalAdvance(t) / 2;
    // A value that would stand beyond the panel's edge is left out.
    if (left + fm.horizontalAdvance(t) > rect.right() || left < rect.left()) continue;
    p.drawText(QPointF(left, plot.bottom() + kTickLength + fm.ascent()), t);
  }
  const auto ys = RoundTicks(box[1], box[3], std::max(2, static_cast<int>(plot.height() / 40)));
  for (double y : ys) {
    const double py = v.ToPixel(plot, 0, y).y();
    p.drawLine(QPointF(plot.left() - kTickLength, py), QPointF(plot.left(), py));
    const QString t = ValueText(y, c.degrees, c.decimalSign);
    p.drawText(QPointF(plot.left() - kTickLength - 2 - fm.horizontalAdvance(t),
                       py + fm.ascent() / 2 - 1), t);
  }
}

void PaintData(QPainter& p, const QRectF& plot, const PanelContent& c, const PanelView& v) {
  const PreviewData& d = *c.data;
  const std::size_t n = d.vertices.size();
  std::vector<QPointF> pts(n);
  std::vector<bool> ok(n);
  for (std::size_t i = 0; i < n; ++i) {
    double x = 0, y = 0;
    ok[i] = VertexPlace(d.vertices[i], c.side, x, y);
    if (ok[i]) pts[i] = v.ToPixel(plot, x, y);
  }
  if (d.geometry == PreviewGeometry::kPoints) {
    QPolygonF dots;
    dots.reserve(static_cast<qsizetype>(n));
    for (std::size_t i = 0; i < n; ++i) {
      if (ok[i]) dots.append(pts[i]);
    }
    p.setPen(QPen(Colour(kPreviewPointRgb), kDotSize + (n <= kFewPoints ? kLargeDot : 0),
                  Qt::SolidLine, Qt::SquareCap));
    p.drawPoints(dots);
  } else {
    p.setPen(QPen(Colour(kPreviewPointRgb), 1));
    for (std::size_t k = 0; k < d.parts.size(); ++k) {
      const std::size_t b = d.parts[k], e = k + 1 < d.parts.size() ? d.parts[k + 1] : n;
      if (e <= b) continue;
      std::vector<QPointF> part(pts.begin() + static_cast<std::ptrdiff_t>(b),
                                pts.begin() + static_cast<std::ptrdiff_t>(e));
      std::vector<bool> partOk(ok.begin() + static_cast<std::ptrdiff_t>(b),
                               ok.begin() + static_cast<std::ptrdiff_t>(e));
      // An outline is closed, also where the ring's last vertex was left out.
      if (d.geometry == PreviewGeometry::kPolygons && part.size() > 2) {
        part.push_back(part.front());
        partOk.push_back(partOk.front());
      }
      DrawBroken(p, part, partOk);
    }
  }
  QPolygonF warned;
  for (std::size_t i = 0; i < n; ++i) {
    if (ok[i] && d.vertices[i].warnings != 0) warned.append(pts[i]);
  }
  p.setPen(QPen(Colour(kPreviewWarningRgb), kWarningDotSize + (n <= kFewPoints ? kLargeDot : 0),
                Qt::SolidLine, Qt::SquareCap));
  p.drawPoints(warned);
  if (c.highlight >= 0 && static_cast<std::size_t>(c.highlight) < n &&
      ok[static_cast<std::size_t>(c.highlight)]) {
    p.setPen(QPen(Qt::black, 1.5));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.drawEllipse(pts[static_cast<std::size_t>(c.highlight)], kHighlightRadius, kHighlightRadius);
    p.setRenderHint(QPainter::Antialiasing, false);
  }
}

}  // namespace

bool VertexPlace(const PreviewVertex& v, int side, double& x, double& y) {
  x = side == 1 ? v.sx : v.rx;
  y = side == 1 ? v.sy : v.ry;
  return std::isfinite(x) && std::isfinite(y);
}

QRectF PlotArea(const QRectF& rect) {
  return rect.adjusted(kLeftMargin, kTitleHeight, -kRightMargin, -kBottomMargin);
}

PanelView FitView(const PanelContent& c, const QRectF& plot) {
  PanelView v;
  std::array<double, 4> box{};
  if (!c.data || !Extent(*c.data, c.side, box) || plot.width() < 1 || plot.height() < 1) return v;
  const double minSpan = c.degrees ? kMinSpanDegrees : kMinSpanMetres;
  v.cx = (box[0] + box[2]) / 2;
  v.cy = (box[1] + box[3]) / 2;
  // Degrees: a degree of longitude is cos(latitude) of a degree of latitude.
  v.aspect = c.degrees ? std::max(0.05, std::cos(v.cy * kRadiansPerDegree)) : 1;
  const double w = std::max(box[2] - box[0], minSpan) * v.aspect;
  const double h = std::max(box[3] - box[1], minSpan);
  v.scale = kFitShare * std::min(plot.width() / w, plot.height() / h);
  v.valid = std::isfinite(v.scale) && v.scale > 0;
  return v;
}

PanelView LinkedView(const PanelView& from, const Affine& map, double toAspect) {
  PanelView v;
  if (!map.valid || !from.valid) return v;
  map.Apply(from.cx, from.cy, v.cx, v.cy);
  // The same area: pixel areas in proportion to the map's determinant.
  v.aspect = toAspect;
  v.scale = from.scale * std::sqrt(from.aspect / (toAspect * std::fabs(map.Det())));
  v.valid = std::isfinite(v.scale) && v.scale > 0 && std::isfinite(v.cx) && std::isfinite(v.cy);
  return v;
}

QString CountText(const PanelContent& c) {
  if (!c.data) return c.note;
  const PreviewData& d = *c.data;
  std::size_t drawn = 0;
  std::array<double, 4> box{};
  for (const PreviewVertex& v : d.vertices) {
    double x = 0, y = 0;
    drawn += VertexPlace(v, c.side, x, y) ? 1 : 0;
  }
  QString text = QStringLiteral("%1 of %2%3 drawn")
                     .arg(drawn)
                     .arg(d.complete ? QString() : QStringLiteral("about "))
                     .arg(d.total);
  if (Extent(d, c.side, box)) {
    const QChar dash(0x2013);
    text += QStringLiteral(";  x ") + ValueText(box[0], c.degrees, c.decimalSign) + dash +
            ValueText(box[2], c.degrees, c.decimalSign) + QStringLiteral(",  y ") +
            ValueText(box[1], c.degrees, c.decimalSign) + dash +
            ValueText(box[3], c.degrees, c.decimalSign);
  }
  if (!c.note.isEmpty()) text += QStringLiteral("  ") + c.note;
  return text;
}

void PaintPanel(QPainter& p, const QRectF& rect, const PanelContent& c, const PanelView& v) {
  p.save();
  p.setClipRect(rect);
  p.fillRect(rect, Qt::white);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  const QRectF plot = PlotArea(rect);
  const QFontMetricsF fm(p.font());
  const QFont normal = p.font();
  QFont bold = normal;
  bold.setBold(true);
  p.setFont(bold);
  p.setPen(Qt::black);
  p.drawText(QPointF(rect.left() + 6, rect.top() + fm.ascent() + 2), c.title);
  p.setFont(normal);
  p.drawText(QRectF(rect.left() + 6, rect.top() + fm.height() + 3, rect.width() - 12, fm.height()),
             Qt::AlignLeft | Qt::AlignVCenter,
             fm.elidedText(CountText(c), Qt::ElideRight, rect.width() - 12));
  if (v.valid) {
    p.save();
    p.setClipRect(plot);
    PaintGraticule(p, plot, c, v);
    if (c.data) PaintData(p, plot, c, v);
    p.restore();
    PaintAxes(p, rect, plot, c, v);
  } else {
    p.setPen(Qt::black);
    p.drawRect(plot);
  }
  // The first error, over the picture.
  if (c.data && !c.data->error.empty()) {
    QString text = QString::fromStdString(c.data->error);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (c.data->errors > 1) {
      text += QStringLiteral("\n(%1 %2 nicht lesbar oder nicht umzurechnen)")
                  .arg(c.data->errors)
                  .arg(c.data->records ? QStringLiteral("Records") : QStringLiteral("Zeilen"));
    }
    const QRectF box = plot.adjusted(8, 8, -8, -8);
    const QRectF used = p.boundingRect(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    p.fillRect(used.adjusted(-3, -2, 3, 2), QColor(255, 255, 255, 230));
    p.setPen(Colour(kPreviewErrorRgb));
    p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
  }
  p.restore();
}

void PaintLegend(QPainter& p, const QRectF& rect, const PreviewData* d) {
  p.save();
  p.fillRect(rect, Qt::white);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QFontMetricsF fm(p.font());
  static const char* const kKinds[kWarningKinds] = {"Kennziffer", "Abstand Eingabe",
                                                     "Abstand Ergebnis", "Bereich"};
  double x = rect.left() + 8;
  const double y = rect.top() + rect.height() / 2;
  auto item = [&](QRgb colour, int size, const QString& text) {
    p.setPen(QPen(Colour(colour), size, Qt::SolidLine, Qt::SquareCap));
    p.drawPoint(QPointF(x + 3, y));
    p.setPen(Qt::black);
    p.drawText(QPointF(x + 10, y + fm.ascent() / 2 - 1), text);
    x += 10 + fm.horizontalAdvance(text) + 18;
  };
  const PreviewGeometry g = d != nullptr ? d->geometry : PreviewGeometry::kPoints;
  item(kPreviewPointRgb, kDotSize,
       g == PreviewGeometry::kPoints  ? QStringLiteral("Punkt")
       : g == PreviewGeometry::kLines ? QStringLiteral("Linie")
                                      : QStringLiteral("Fläche (Umriss, auch Löcher)"));
  std::uint64_t warned = 0;
  if (d != nullptr) {
    for (const PreviewVertex& v : d->vertices) warned += v.warnings != 0 ? 1 : 0;
  }
  QString text = QStringLiteral("Warnung bei %1 von %2 gezeichneten Punkten:")
                     .arg(warned)
                     .arg(d ? d->vertices.size() : 0);
  for (std::size_t k = 0; k < kWarningKinds; ++k) {
    text += QStringLiteral(" %1 %2,").arg(d ? d->warnings[k] : 0).arg(QString::fromUtf8(kKinds[k]));
  }
  text.chop(1);
  item(kPreviewWarningRgb, kWarningDotSize, text);
  p.restore();
}

// ---------------------------------------------------------------- widget

PreviewPanel::PreviewPanel(int side, QWidget* parent) : QWidget(parent) {
  content.side = side;
  setObjectName(side == 1 ? QStringLiteral("picSource") : QStringLiteral("picResult"));
  setMinimumSize(320, 240);
  setMouseTracking(false);
  setCursor(Qt::OpenHandCursor);
}

void PreviewPanel::Fit() {
  view = FitView(content, plot());
  update();
}

void PreviewPanel::SetView(const PanelView& v) {
  view = v;
  update();
}

long PreviewPanel::VertexAt(QPointF pos) const {
  if (!content.data || !view.valid) return -1;
  const QRectF area = plot();
  long best = -1;
  double bestDist = kPickRadius * kPickRadius;
  const auto& vs = content.data->vertices;
  for (std::size_t i = 0; i < vs.size(); ++i) {
    double x = 0, y = 0;
    if (!VertexPlace(vs[i], content.side, x, y)) continue;
    const QPointF d = view.ToPixel(area, x, y) - pos;
    const double dist = d.x() * d.x() + d.y() * d.y();
    if (dist <= bestDist) {
      bestDist = dist;
      best = static_cast<long>(i);
    }
  }
  return best;
}

void PreviewPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintPanel(p, QRectF(rect()), content, view);
}

void PreviewPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressAt_ = lastAt_ = event->position();
  dragging_ = false;
  setCursor(Qt::ClosedHandCursor);
}

void PreviewPanel::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || !view.valid) return;
  const QPointF now = event->position();
  if ((now - pressAt_).manhattanLength() > 3) dragging_ = true;
  if (!dragging_) return;
  const QPointF d = now - lastAt_;
  lastAt_ = now;
  view.cx -= d.x() / (view.scale * view.aspect);
  view.cy += d.y() / view.scale;
  update();
  emit viewChanged();
}

void PreviewPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setCursor(Qt::OpenHandCursor);
  if (!dragging_) emit vertexClicked(VertexAt(event->position()));
  dragging_ = false;
}

void PreviewPanel::wheelEvent(QWheelEvent* event) {
  if (!view.valid) return;
  const double notches = event->angleDelta().y() / kNotch;
  if (notches == 0) return;
  // The place under the mouse stays where it is.
  const QRectF area = plot();
  const QPointF at = event->position();
  const auto before = view.FromPixel(area, at);
  view.scale *= std::pow(kWheelStep, notches);
  const auto after = view.FromPixel(area, at);
  view.cx += before[0] - after[0];
  view.cy += before[1] - after[1];
  update();
  emit viewChanged();
}

void PreviewPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!view.valid) Fit();
}

}  // namespace pelmo::ui
