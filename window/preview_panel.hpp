// One panel of the preview: the vertices of a file in one system (the
// source in the input system, the result in the output system) with axes,
// graticule, extent and count; and the panel as a widget that pans with the
// mouse, zooms with the wheel and tells which vertex was clicked.
//
// Painting is a function of the panel's content and view alone, so that
// the window, a saved picture (PNG, SVG) and the headless picture of
// `pelmo --preview-picture` draw the same.
#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>

#include "window/preview_data.hpp"

class QPainter;

namespace pelmo::ui {

/// Colours of the picture (drawn without antialiasing, so that every pixel
/// of a dot or a line has exactly its colour).
inline constexpr QRgb kPreviewPointRgb = 0xFF1F4E9C;      ///< points and lines
inline constexpr QRgb kPreviewWarningRgb = 0xFFE0301E;    ///< vertices with a plausibility warning
inline constexpr QRgb kPreviewGraticuleRgb = 0xFF9CC79C;  ///< meridians and parallels
inline constexpr QRgb kPreviewErrorRgb = 0xFFB00000;      ///< error text

/// The part of a panel's system shown in its plot area.
struct PanelView {
  double cx = 0, cy = 0;  ///< system coordinates at the centre of the plot area
  double scale = 1;       ///< pixels per unit of the second value (north)
  double aspect = 1;      ///< pixels per unit of the first value, per pixel of the second
  bool valid = false;

  QPointF ToPixel(const QRectF& plot, double x, double y) const {
    return {plot.center().x() + (x - cx) * scale * aspect, plot.center().y() - (y - cy) * scale};
  }
  /// System coordinates of a pixel.
  std::array<double, 2> FromPixel(const QRectF& plot, QPointF p) const {
    return {cx + (p.x() - plot.center().x()) / (scale * aspect),
            cy - (p.y() - plot.center().y()) / scale};
  }
  /// The shown box: x0, y0, x1, y1.
  std::array<double, 4> Box(const QRectF& plot) const {
    const auto a = FromPixel(plot, plot.bottomLeft()), b = FromPixel(plot, plot.topRight());
    return {a[0], a[1], b[0], b[1]};
  }
};

/// What a panel draws.
struct PanelContent {
  int side = 1;          ///< 1: the source in the input system; 2: the result
  QString title;         ///< "Quelle: GK-Germ"
  bool degrees = false;  ///< "Ell": values in degrees
  std::shared_ptr<const PreviewData> data;
  SideProjector* projector = nullptr;  ///< for the graticule; may be null
  QString note;          ///< progress of the reading, shown after the count
  long highlight = -1;   ///< index of the vertex clicked last
  char decimalSign = '.';
};

/// The plot area of a panel painted into `rect`: room for the title and the
/// count above, the tick values at the left and below.
QRectF PlotArea(const QRectF& rect);

/// The view that shows every vertex of the content's side in `plot`.
PanelView FitView(const PanelContent& c, const QRectF& plot);

/// The view of the other panel that shows the area corresponding to `from`
/// (of the same size), through `map` from `from`'s system to the other's;
/// invalid when the map is.
PanelView LinkedView(const PanelView& from, const Affine& map, double toAspect);

/// Place of vertex `v` in a panel of side 1 or 2; false where it has none.
bool VertexPlace(const PreviewVertex& v, int side, double& x, double& y);

/// A value of a panel as text: metres to the millimetre, degrees to about a
/// millimetre.
QString ValueText(double v, bool degrees, char sign);

/// "n of N drawn" and the extent of the drawn vertices.
QString CountText(const PanelContent& c);

/// Paints one panel into `rect`.
void PaintPanel(QPainter& p, const QRectF& rect, const PanelContent& c, const PanelView& v);

/// The legend of the warning colour with the counts per kind, into `rect`.
void PaintLegend(QPainter& p, const QRectF& rect, const PreviewData* d);

/// Height of the legend strip, pixels.
inline constexpr int kLegendHeight = 40;

/// A panel as a widget.
class PreviewPanel : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewPanel(int side, QWidget* parent = nullptr);

  PanelContent content;
  PanelView view;

  QRectF plot() const { return PlotArea(QRectF(rect())); }
  /// Shows every vertex.
  void Fit();
  void SetView(const PanelView& v);
  /// Index of the vertex drawn nearest to `pos` within a few pixels, or -1.
  long VertexAt(QPointF pos) const;

 signals:
  /// The user moved or zoomed the view.
  void viewChanged();
  /// The user clicked vertex `index` (-1: none near the click).
  void vertexClicked(long index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPointF pressAt_, lastAt_;
  bool dragging_ = false;
};

}  // namespace pelmo::ui
