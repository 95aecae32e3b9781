// What the preview shows: the vertices of a source file chosen evenly over
// the whole file, each with its place in the input and in the output
// system, and what reading and transforming them found. Everything here is
// plain C++ (no toolkit), so that it can run on a worker thread.
//
// A source is read in two passes. The quick pass takes a few thousand
// vertices spread over the whole file (lines found at evenly spaced byte
// positions, or every k-th record through the index) so that a first
// picture stands at once; the full pass reads the file from start to end,
// counts its vertices, finds the first bad line or record and keeps every
// k-th line or record, at most about kPreviewMaxVertices vertices. Both
// only read; no file is ever written.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/frontend.hpp"
#include "core/settings.hpp"
#include "core/warnings.hpp"
#include "geodesy/plausibility.hpp"
#include "geodesy/point_chain.hpp"
#include "geodesy/worker_chain.hpp"

namespace pelmo::shapefile {
class ShapeReader;
struct RecordLayout;
}  // namespace pelmo::shapefile

namespace pelmo::ui {

/// Most vertices a picture keeps.
inline constexpr std::size_t kPreviewMaxVertices = 200000;
/// About as many vertices the quick pass takes.
inline constexpr std::size_t kQuickVertices = 5000;

/// How the vertices of a file are drawn.
enum class PreviewGeometry {
  kPoints,    ///< ASCII points, Point and MultiPoint records: dots
  kLines,     ///< PolyLine records: lines through the vertices of each part
  kPolygons,  ///< Polygon and MultiPatch records: the outline of every ring
};

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

/// One vertex as drawn.
struct PreviewVertex {
  double sx = 0, sy = 0;                ///< in the input system (first, second value)
  double rx = kNoValue, ry = kNoValue;  ///< in the output system; NaN where the chain failed
  unsigned warnings = 0;                ///< PointWarnings flags of its result
  long item = 0;    ///< line or record (from 1); 0 while not known (quick pass of a text file)
  long vertex = 0;  ///< vertex within its record (from 1); 0 for a line of a text file
};

/// What a pass found.
struct PreviewData {
  PreviewGeometry geometry = PreviewGeometry::kPoints;
  bool records = false;  ///< a shapefile (items are records)
  std::vector<PreviewVertex> vertices;
  /// Index of the first vertex of each part (lines and polygons); a part
  /// ends where the next begins.
  std::vector<std::size_t> parts;
  std::uint64_t total = 0;  ///< vertices of the file; estimated unless `complete`
  bool complete = false;    ///< the full pass has read the whole file
  std::string error;        ///< the first error met, with its line or record
  std::uint64_t errors = 0; ///< lines or records that could not be read or transformed
  /// Drawn vertices per kind of plausibility warning.
  std::array<std::uint64_t, kWarningKinds> warnings{};
};

/// What the chain reads from a session, copied for a thread of its own.
struct PreviewSettings : ChainSettings {
  AsciiLayout layout;

  static PreviewSettings From(const Session& s);
};

/// A session of its own for one thread, with the settings of `s`: its own
/// converted settings and grid handles, no messages and no event pass.
class ChainSession {
 public:
  explicit ChainSession(const PreviewSettings& s);
  ChainSession(const ChainSession&) = delete;
  ChainSession& operator=(const ChainSession&) = delete;
  Session& session() noexcept { return session_; }
  /// The first two values of the chain's result for (first, second) at
  /// height 0; false where the chain fails.
  bool Place(double first, double second, double& x, double& y);

 private:
  SilentFrontEnd fe_;
  Session session_{fe_};
};

/// Reads one source for the preview. Not thread-safe; one per thread.
class PreviewReader {
 public:
  /// `cancel` is polled while reading; a cancelled pass returns early with
  /// what it has.
  PreviewReader(const PreviewSettings& s, const std::atomic<bool>& cancel);
  ~PreviewReader();

  /// The quick pass: about kQuickVertices vertices over the whole file.
  /// False (nothing done) when the file is small enough that the full pass
  /// gives the first picture as quickly.
  bool Quick(PreviewData& out);
  /// The full pass; `progress` hears now and then of the share of the file
  /// read (0 to 1).
  void Full(PreviewData& out, const std::function<void(double)>& progress = {});

  /// Item stride of the sampling ("every k-th line or record"), set by the
  /// last pass.
  std::uint64_t stride() const { return stride_; }

 private:
  void Transform(PreviewVertex& v, double first, double second, double height, PreviewData& out,
                 const std::function<std::string()>& where);
  void AsciiQuick(PreviewData& out);
  void AsciiFull(PreviewData& out, const std::function<void(double)>& progress);
  void ShapeQuick(PreviewData& out);
  void ShapeFull(PreviewData& out, const std::function<void(double)>& progress);
  /// The vertices of one record, every `vertexStride`-th of each part and
  /// the part's last.
  void AddRecord(shapefile::ShapeReader& reader, const shapefile::RecordLayout& r,
                 std::uint64_t vertexStride, PreviewData& out);

  PreviewSettings settings_;
  const std::atomic<bool>& cancel_;
  ChainSession chain_;
  PlausibilityContext checks_;
  Projection in_;
  std::uint64_t stride_ = 1;
  std::uint64_t estimate_ = 0;  ///< vertices of the file as the quick pass guessed
};

/// Both passes at once, on the calling thread: the picture of a report.
PreviewData ReadPreview(const PreviewSettings& s);

// ---------------------------------------------------------------- drawing aids

/// The projection of one side of the chain and its inverse, for the
/// graticule and for reading a place back: geographic coordinates on that
/// side's ellipsoid (degrees) to the panel's system with the program's own
/// routines, and back.
class SideProjector {
 public:
  /// `side` 1: the input projection on ellipsoid 1; 2: the output
  /// projection on ellipsoid 2.
  SideProjector(const PreviewSettings& s, int side);
  ~SideProjector();
  /// False when there is no projection (translation mode, none chosen).
  bool valid() const { return valid_; }
  /// False where the routines fail.
  bool Forward(double lon, double lat, double& x, double& y);
  bool Inverse(double x, double y, double& lon, double& lat);

 private:
  bool valid_ = false;
  std::unique_ptr<ChainSession> forward_, inverse_;
  int side_;
};

/// A line of the graticule: the points in the panel's system, NaN where it
/// breaks.
struct GraticuleLine {
  bool meridian = false;
  double degrees = 0;
  std::vector<std::array<double, 2>> points;
};

/// Meridians and parallels over the part of a panel's system shown by the
/// box [x0, x1] x [y0, y1], at a round spacing in degrees.
std::vector<GraticuleLine> Graticule(SideProjector& p, double x0, double y0, double x1,
                                     double y1);

/// Round values within [lo, hi]: the multiples of the smallest step of 1, 2
/// or 5 times a power of ten that leaves at most `most` of them in the range.
std::vector<double> RoundTicks(double lo, double hi, int most);

/// An affine map between the two systems, fitted to vertices: x' = a0 + a1
/// x + a2 y, y' = b0 + b1 x + b2 y.
struct Affine {
  std::array<double, 3> a{}, b{};
  bool valid = false;
  void Apply(double x, double y, double& ox, double& oy) const {
    ox = a[0] + a[1] * x + a[2] * y;
    oy = b[0] + b[1] * x + b[2] * y;
  }
  double Det() const { return a[1] * b[2] - a[2] * b[1]; }
};

/// Least-squares fit from `side` (1 or 2) to the other side over the
/// vertices whose place on `side` lies in the box (all when `box` is null);
/// scale and shift alone where the vertices lie on a line.
Affine FitAffine(const PreviewData& d, int side, const std::array<double, 4>* box = nullptr);

}  // namespace pelmo::ui
