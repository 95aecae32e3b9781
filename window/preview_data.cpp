#include "window/preview_data.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/numtext.hpp"
#include "formats/ascii_layout.hpp"
#include "formats/shapefile_format.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::ui {

namespace {

using geotra::kPi;
constexpr double kDegreesPerHalfTurn = 180;

/// Files smaller than this are read whole for the first picture.
constexpr std::uint64_t kQuickFileBytes = std::uint64_t{4} << 20;
/// Bytes read at each place the quick pass looks at.
constexpr std::size_t kQuickWindowBytes = 4096;
/// Lines between two looks at the cancel flag and the progress.
constexpr long kPollLines = 4096;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// A shapefile starts with the file code 9994 (00 00 27 0A, big-endian).
constexpr std::string_view kShapefileCode{"\0\0\x27", 3};

void NoteError(PreviewData& d, const std::string& text) {
  if (d.errors++ == 0) d.error = text;
}

/// Keeps every second item (line or record) with its vertices and parts:
/// the stride of the sampling doubles.
void Thin(PreviewData& d) {
  std::vector<PreviewVertex> kept;
  std::vector<std::size_t> parts;
  kept.reserve(d.vertices.size() / 2 + 1);
  std::size_t part = 0;
  bool keep = false;
  for (std::size_t i = 0; i < d.vertices.size();) {
    std::size_t j = i;
    while (j < d.vertices.size() && d.vertices[j].item == d.vertices[i].item) ++j;
    keep = !keep;
    const std::size_t base = kept.size();
    for (; part < d.parts.size() && d.parts[part] < j; ++part) {
      if (keep) parts.push_back(d.parts[part] - i + base);
    }
    if (keep) kept.insert(kept.end(), d.vertices.begin() + static_cast<std::ptrdiff_t>(i),
                          d.vertices.begin() + static_cast<std::ptrdiff_t>(j));
    i = j;
  }
  d.vertices = std::move(kept);
  d.parts = std::move(parts);
}

void CountWarnings(PreviewData& d) {
  d.warnings = {};
  for (const PreviewVertex& v : d.vertices) {
    for (std::size_t k = 0; k < kWarningKinds; ++k) d.warnings[k] += (v.warnings >> k) & 1U;
  }
}

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return b == 0 ? 0 : (a + b - 1) / b; }

/// A file opened for reading by position.
class PositionalFile {
 public:
  explicit PositionalFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
    // Reads far apart: the system's read-ahead would fetch about the whole file.
    if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_RANDOM);
  }
  ~PositionalFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  PositionalFile(const PositionalFile&) = delete;
  PositionalFile& operator=(const PositionalFile&) = delete;
  std::uint64_t size() const { return static_cast<std::uint64_t>(size_); }
  /// Up to n bytes at pos; how many were read.
  std::size_t Read(std::uint64_t pos, char* data, std::size_t n) const {
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::pread(fd_, data + got, n - got, static_cast<off_t>(pos + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

 private:
  int fd_;
  off_t size_ = 0;
};

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

}  // namespace

// ---------------------------------------------------------------- settings

PreviewSettings PreviewSettings::From(const Session& s) {
  PreviewSettings p;
  static_cast<ChainSettings&>(p) = ChainSettings::Of(s);
  p.layout = s.asciiLayout;
  return p;
}

ChainSession::ChainSession(const PreviewSettings& s) {
  session_.asciiLayout = s.layout;
  s.ApplyTo(session_);
}

bool ChainSession::Place(double first, double second, double& x, double& y) {
  double h = 0;
  try {
    const PointResult r = TransformPoint(session_, first, second, h);
    x = r[0];
    y = r[1];
  } catch (const std::exception&) {
    return false;
  }
  return std::isfinite(x) && std::isfinite(y);
}

// ---------------------------------------------------------------- reading

PreviewReader::PreviewReader(const PreviewSettings& s, const std::atomic<bool>& cancel)
    : settings_(s), cancel_(cancel), chain_(s),
      checks_(MakePlausibilityContext(chain_.session())),
      in_(s.settings.optSevPar ? SideProjection(s.settings, 1) : Projection::kNone) {}

PreviewReader::~PreviewReader() = default;

void PreviewReader::Transform(PreviewVertex& v, double first, double second, double height,
                              PreviewData& out, const std::function<std::string()>& where) {
  v.sx = first;
  v.sy = second;
  // Krovak values are read in either order and sign; they are drawn as the
  // program writes them, (-Y, -X).
  if (in_ == Projection::kKrovak) {
    const double a = std::fabs(first), b = std::fabs(second);
    v.sx = -std::min(a, b);
    v.sy = -std::max(a, b);
  }
  double f = first, s = second, h = height;
  try {
    const PointResult r = TransformPoint(chain_.session(), f, s, h);
    v.rx = r[0];
    v.ry = r[1];
    v.warnings = CheckPoint(checks_, first, r).flags;
  } catch (const std::exception& e) {
    v.rx = v.ry = kNoValue;
    if (where) NoteError(out, where() + ": " + e.what());
  }
}

bool PreviewReader::Quick(PreviewData& out) {
  const TransformSettings& t = settings_.settings;
  if (t.optSHP) {
    ShapeQuick(out);
    return !out.vertices.empty();
  }
  if (!t.optASCII) return false;
  AsciiQuick(out);
  return !out.vertices.empty();
}

void PreviewReader::Full(PreviewData& out, const std::function<void(double)>& progress) {
  const TransformSettings& t = settings_.settings;
  if (t.optSHP) {
    ShapeFull(out, progress);
  } else if (t.optASCII) {
    AsciiFull(out, progress);
  } else {
    NoteError(out, "kein Dateityp gewählt (Shape oder ASCII)");
    out.complete = true;
  }
  CountWarnings(out);
}

void PreviewReader::AsciiQuick(PreviewData& out) {
  const PositionalFile file(settings_.settings.txtQuelldatei);
  const std::uint64_t size = file.size();
  if (size < kQuickFileBytes) return;
  const AsciiLayout& layout = settings_.layout;
  std::string window(kQuickWindowBytes, '\0');
  // The header lines are not points.
  std::uint64_t start = 0;
  const long header = layout.active ? layout.headerLines : 0;
  for (long lines = 0; lines < header && start < size;) {
    const std::size_t n = file.Read(start, window.data(), window.size());
    if (n == 0) return;
    std::size_t i = 0;
    for (; i < n && lines < header; ++i) {
      if (window[i] == '\n' || (window[i] == '\r' && (i + 1 >= n || window[i + 1] != '\n'))) ++lines;
    }
    start += i;
  }
  if (start >= size) return;
  const std::uint64_t span = size - start;
  std::uint64_t lineBytes = 0, lines = 0;
  for (std::size_t k = 0; k < kQuickVertices && !cancel_; ++k) {
    const std::uint64_t at = start + span * k / kQuickVertices;
    const std::size_t n = file.Read(at, window.data(), window.size());
    std::string_view text(window.data(), n);
    // From the middle of a line to the start of the next.
    if (at > start) {
      std::size_t e = 0;
      while (e < text.size() && !IsLineEnd(text[e])) ++e;
      if (e == text.size()) continue;
      if (text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ++e;
      text.remove_prefix(e + 1);
    }
    std::size_t e = 0;
    while (e < text.size() && !IsLineEnd(text[e])) ++e;
    if (e == text.size() && at + n < size) continue;  // longer than the window
    std::string_view line = text.substr(0, e);
    lineBytes += e + 1;
    ++lines;
    if (at == 0 && line.starts_with(kUtf8Bom)) line.remove_prefix(kUtf8Bom.size());
    AsciiPoint p;
    try {
      p = ReadAsciiLine(line, header + 1, false, layout);
    } catch (const std::exception&) {
      continue;  // the full pass reports it with its line number
    }
    if (p.copy) continue;
    PreviewVertex v;
    Transform(v, p.first, p.second, p.height, out, {});
    out.vertices.push_back(v);
  }
  if (lines > 0) out.total = span * lines / lineBytes;
  estimate_ = out.total;
}

void PreviewReader::AsciiFull(PreviewData& out, const std::function<void(double)>& progress) {
  const TransformSettings& t = settings_.settings;
  const AsciiLayout& layout = settings_.layout;
  InputFile source;
  try {
    source.Open(t.txtQuelldatei);
  } catch (const std::exception& e) {
    NoteError(out, e.what());
    out.complete = true;
    return;
  }
  stride_ = std::max<std::uint64_t>(1, CeilDiv(estimate_, kPreviewMaxVertices));
  std::string line;
  bool cut = false;
  long lineNo = 0;
  std::uint64_t points = 0;
  try {
    while (source.ReadLine(line, kMaxLineBytes, cut)) {
      ++lineNo;
      if (lineNo % kPollLines == 0) {
        if (cancel_) return;
        if (progress && source.size() > 0) {
          progress(static_cast<double>(source.consumed()) / static_cast<double>(source.size()));
        }
      }
      std::string_view text = line;
      if (lineNo == 1 && text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
      if (lineNo == 1 && text == kShapefileCode) {
        NoteError(out, "die Quelldatei ist eine Shapedatei; für Shapedateien den Dateityp "
                       "\"Shape\" wählen");
        break;
      }
      AsciiPoint p;
      try {
        p = ReadAsciiLine(text, lineNo, cut, layout);
      } catch (const std::exception& e) {
        NoteError(out, LineErrorMessage(e, t, lineNo, line));
        continue;
      }
      if (p.copy) continue;
      if (points++ % stride_ != 0) continue;
      PreviewVertex v;
      v.item = lineNo;
      Transform(v, p.first, p.second, p.height, out, [&] { return "Zeile " + std::to_string(lineNo); });
      out.vertices.push_back(v);
      if (out.vertices.size() > kPreviewMaxVertices) {
        Thin(out);
        stride_ *= 2;
      }
    }
  } catch (const std::exception& e) {
    // The file itself cannot be read on.
    NoteError(out, e.what());
  }
  out.total = points;
  out.complete = true;
}

// ---------------------------------------------------------------- shapefiles

namespace {

namespace shp = pelmo::shapefile;

/// Records of a shapefile with fewer vertices than this keep all of them.
constexpr std::uint64_t kMinRecordVertices = 20;
/// Records between two looks at the cancel flag and the progress.
constexpr std::int64_t kPollRecords = 1024;
/// Bytes of a record beside its vertices, about (header, box, counts, a part).
constexpr std::uint64_t kRecordOverhead = 60;

/// Every k-th record, and within a record every j-th vertex.
struct Strides {
  std::uint64_t records = 1, vertices = 1;
};

/// Strides that keep about `target` of `vertices` in `records` records:
/// small records are taken whole (every k-th record), large ones thinned.
Strides ChooseStrides(std::uint64_t vertices, std::uint64_t records, std::uint64_t target) {
  const std::uint64_t s = std::max<std::uint64_t>(1, CeilDiv(vertices, target));
  const std::uint64_t perRecord = records == 0 ? 1 : vertices / records;
  Strides k;
  k.vertices = std::min(s, std::max<std::uint64_t>(1, perRecord / kMinRecordVertices));
  k.records = std::max<std::uint64_t>(1, (s + k.vertices / 2) / k.vertices);
  return k;
}

/// The .shp and .shx of a source opened for reading, their headers read.
struct ShapeSource {
  shp::BinFile shpFile, shxFile;
  shp::ShapeReader reader{shpFile, shxFile};
  PreviewGeometry geometry = PreviewGeometry::kPoints;
  std::uint64_t vertices = 0;  ///< estimated from the file's length

  /// Throws ShapeFailure.
  explicit ShapeSource(const std::string& name) {
    if (shp::CharCount(name) <= shp::kExtensionChars) {
      throw shp::ShapeFailure("\"" + name + "\" ist kein Name einer Shapedatei (.shp, .shx, .dbf)");
    }
    const std::string stem = shp::DropLastChars(name, shp::kExtensionChars);
    shpFile.SetPath(stem + "shp");
    shxFile.SetPath(stem + "shx");
    for (shp::BinFile* f : {&shpFile, &shxFile}) {
      if (const int err = f->OpenRead(); err != 0) {
        throw shp::ShapeFailure(shp::FileMessage(
            f->path(), "kann nicht gelesen werden: " + shp::ErrorText(err, f->path(), IoOp::kOpen)));
      }
    }
    reader.ReadHeaders();
    const shp::ShapeType* t = reader.type();
    if (t == nullptr) {
      throw shp::ShapeFailure(shp::FileMessage(
          shpFile.path(), "hat den Shapetyp " + shp::ShapeTypeText(reader.shapeType()) +
                              "; gelesen werden " + shp::SupportedShapeTypesText()));
    }
    constexpr int kPolygonTypes = 5;  // 5, 15, 25: the last digit
    constexpr int kTypeDecade = 10;
    if (t->kind == shp::ShapeKind::kMultiPatch ||
        (t->kind == shp::ShapeKind::kPoly && t->code % kTypeDecade == kPolygonTypes)) {
      geometry = PreviewGeometry::kPolygons;
    } else if (t->kind == shp::ShapeKind::kPoly) {
      geometry = PreviewGeometry::kLines;
    }
    const auto records = static_cast<std::uint64_t>(reader.recordCount());
    const std::uint64_t perVertex = static_cast<std::uint64_t>(shp::kPointBytes) +
                                    (t->z ? shp::kValueBytes : 0) + (t->m ? shp::kValueBytes : 0);
    const auto body = static_cast<std::uint64_t>(reader.shpLength() - shp::kHeaderBytes);
    vertices = t->kind == shp::ShapeKind::kPoint
                   ? records
                   : std::max(records, (body - std::min(body, records * kRecordOverhead)) / perVertex);
  }
};

}  // namespace

void PreviewReader::AddRecord(shp::ShapeReader& reader, const shp::RecordLayout& r,
                              std::uint64_t vertexStride, PreviewData& out) {
  if (r.shape == nullptr || r.numPoints == 0) return;
  // Parts in the order of their starts; a point group is one part.
  std::vector<std::int64_t> starts{0};
  if (r.numParts > 0) {
    std::vector<shp::PartInfo> parts;
    reader.Parts(r, parts);
    starts.clear();
    for (const shp::PartInfo& p : parts) starts.push_back(p.start);
    std::sort(starts.begin(), starts.end());
  }
  std::vector<shp::Vertex> chunk;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const std::int64_t begin = starts[k], end = k + 1 < starts.size() ? starts[k + 1] : r.numPoints;
    if (end <= begin) continue;
    if (out.geometry != PreviewGeometry::kPoints) out.parts.push_back(out.vertices.size());
    for (std::int64_t at = begin; at < end; at += shp::kVertexChunk) {
      reader.Vertices(r, at, std::min(shp::kVertexChunk, end - at), chunk);
      for (std::size_t j = 0; j < chunk.size(); ++j) {
        const std::int64_t index = at + static_cast<std::int64_t>(j);
        // Every j-th vertex, and the last of each part.
        if (static_cast<std::uint64_t>(index - begin) % vertexStride != 0 && index != end - 1) continue;
        const shp::Vertex& c = chunk[j];
        PreviewVertex v;
        v.item = static_cast<long>(r.index);
        v.vertex = static_cast<long>(index + 1);
        Transform(v, c.x, c.y, std::isnan(c.z) ? 0 : c.z, out, [&] {
          return "Record " + std::to_string(r.index) + ", Punkt " + std::to_string(index + 1);
        });
        out.vertices.push_back(v);
      }
    }
  }
}

void PreviewReader::ShapeQuick(PreviewData& out) {
  try {
    ShapeSource source(settings_.settings.txtQuelldatei);
    estimate_ = source.vertices;
    if (source.vertices <= kPreviewMaxVertices / 2) return;
    out.geometry = source.geometry;
    out.records = true;
    out.total = source.vertices;
    const Strides k = ChooseStrides(source.vertices, static_cast<std::uint64_t>(source.reader.recordCount()),
                                    kQuickVertices);
    for (std::int64_t i = 1; i <= source.reader.recordCount() && !cancel_;
         i += static_cast<std::int64_t>(k.records)) {
      try {
        AddRecord(source.reader, source.reader.Record(i), k.vertices, out);
      } catch (const std::exception&) {
        // The full pass reports it.
      }
    }
  } catch (const std::exception&) {
    out = PreviewData{};  // the full pass reports it
  }
}

void PreviewReader::ShapeFull(PreviewData& out, const std::function<void(double)>& progress) {
  out.records = true;
  out.complete = true;
  std::unique_ptr<ShapeSource> source;
  try {
    source = std::make_unique<ShapeSource>(settings_.settings.txtQuelldatei);
  } catch (const std::exception& e) {
    NoteError(out, e.what());
    return;
  }
  out.geometry = source->geometry;
  shp::ShapeReader& reader = source->reader;
  const std::int64_t records = reader.recordCount();
  const Strides k = ChooseStrides(std::max(estimate_, source->vertices),
                                  static_cast<std::uint64_t>(records), kPreviewMaxVertices);
  stride_ = k.records;
  std::uint64_t total = 0;
  for (std::int64_t i = 1; i <= records; ++i) {
    if (i % kPollRecords == 0) {
      if (cancel_) {
        out.complete = false;
        return;
      }
      if (progress) progress(static_cast<double>(i) / static_cast<double>(records));
    }
    try {
      const shp::RecordLayout r = reader.Record(i);
      total += static_cast<std::uint64_t>(r.numPoints);
      if (static_cast<std::uint64_t>(i - 1) % stride_ != 0) continue;
      AddRecord(reader, r, k.vertices, out);
    } catch (const std::exception& e) {
      NoteError(out, e.what());
      continue;
    }
    if (out.vertices.size() > kPreviewMaxVertices) {
      Thin(out);
      stride_ *= 2;
    }
  }
  out.total = total;
}

PreviewData ReadPreview(const PreviewSettings& s) {
  const std::atomic<bool> never{false};
  PreviewReader reader(s, never);
  PreviewData quick, full;
  reader.Quick(quick);  // the count of a large file, for the stride
  reader.Full(full);
  return full;
}

// ---------------------------------------------------------------- projections

SideProjector::SideProjector(const PreviewSettings& s, int side) : side_(side) {
  const TransformSettings& t = s.settings;
  const Projection p = t.optSevPar ? SideProjection(t, side) : Projection::kNone;
  if (p == Projection::kNone) return;
  // The forward: "Ell" on the side's ellipsoid into the side's projection,
  // with no datum change between.
  PreviewSettings f = s;
  TransformSettings& ft = f.settings;
  ft.optTranslation = false;
  ft.optInGK = ft.optInKrovak = ft.optINetrs = ft.optINGKallgemein = false;
  ft.optInBL = true;
  ft.optOutGK = p == Projection::kGK;
  ft.optOutKrovak = p == Projection::kKrovak;
  ft.optOutBL = p == Projection::kEll;
  ft.optOUTetrs = p == Projection::kUTM;
  ft.optOutGKallgemein = p == Projection::kGKGeneral;
  const std::string& a = side == 1 ? t.txtEll1a : t.txtEll2a;
  const std::string& e = side == 1 ? t.txtEll1e : t.txtEll2e;
  ft.txtEll1a = ft.txtEll2a = a;
  ft.txtEll1e = ft.txtEll2e = e;
  for (int set = 1; set <= 2; ++set) {
    for (std::string* v : ft.SevenParFields(set)) *v = "0";
  }
  f.grids = {};
  if (side == 1) {
    OptionTable& o = f.options;
    const std::pair<int, int> inToOut[] = {
        {opt::kGKBM, opt::kGKBM2},           {opt::kUTMBM, opt::kUTMBM2},
        {opt::kUTMma, opt::kUTMma2},         {opt::kINeasting, opt::kOUTeasting},
        {opt::kINmeridian, opt::kOUTmeridian}, {opt::kINnorthing, opt::kOUTnorthing},
        {opt::kINscale, opt::kOUTscale}};
    for (const auto& [from, to] : inToOut) o[to] = o[from];
  }
  double av = 0, ev = 0;
  if (TryParseNumber(a, av) != 0 || TryParseNumber(e, ev) != 0) return;
  try {
    f.coeffs = geotra::MeridianArcCoeffs(av, ev);
  } catch (const std::exception&) {
    return;
  }
  forward_ = std::make_unique<ChainSession>(f);
  inverse_ = std::make_unique<ChainSession>(s);
  valid_ = true;
}

SideProjector::~SideProjector() = default;

bool SideProjector::Forward(double lon, double lat, double& x, double& y) {
  return valid_ && forward_->Place(lon, lat, x, y);
}

bool SideProjector::Inverse(double x, double y, double& lon, double& lat) {
  if (!valid_) return false;
  try {
    const GeocentricPoint g = PointToGeocentric(inverse_->session(), side_, x, y, 0);
    lon = g.L * kDegreesPerHalfTurn / kPi;
    lat = g.B * kDegreesPerHalfTurn / kPi;
  } catch (const std::exception&) {
    return false;
  }
  return std::isfinite(lon) && std::isfinite(lat);
}

// ---------------------------------------------------------------- graticule, ticks

namespace {

/// The smallest of 1, 2, 5 times a power of ten that is at least `raw`, as
/// mantissa and exponent.
void RoundStep(double raw, int& mantissa, int& exponent) {
  exponent = static_cast<int>(std::floor(std::log10(raw)));
  const double p = std::pow(10.0, exponent);
  for (int m : {1, 2, 5, 10}) {
    if (m * p >= raw * (1 - 1e-12)) {
      mantissa = m == 10 ? 1 : m;
      if (m == 10) ++exponent;
      return;
    }
  }
  mantissa = 1;
  ++exponent;
}

/// k times mantissa times 10^exponent, as close to the decimal as a double
/// gets.
double StepValue(long long k, int mantissa, int exponent) {
  const double n = static_cast<double>(k * mantissa);
  return exponent >= 0 ? n * std::pow(10.0, exponent) : n / std::pow(10.0, -exponent);
}

/// Lines of the graticule across the longer side of the view, about.
constexpr double kGraticuleLines = 6;
/// Most lines per direction (a view far larger than the data).
constexpr long long kMostGraticuleLines = 50;
/// Points along each graticule line.
constexpr int kGraticuleSamples = 64;
/// Places of the view read back per direction.
constexpr int kViewSamples = 9;
constexpr double kMaxLatitude = 89.9;

}  // namespace

std::vector<double> RoundTicks(double lo, double hi, int most) {
  std::vector<double> ticks;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi) || most < 2) return ticks;
  int m = 1, e = 0;
  RoundStep((hi - lo) / (most - 1), m, e);
  const double step = StepValue(1, m, e);
  const auto first = static_cast<long long>(std::ceil(lo / step - 1e-9));
  for (long long k = first;; ++k) {
    const double v = StepValue(k, m, e);
    if (v > hi + step * 1e-9) break;
    ticks.push_back(v);
  }
  return ticks;
}

std::vector<GraticuleLine> Graticule(SideProjector& p, double x0, double y0, double x1,
                                     double y1) {
  std::vector<GraticuleLine> lines;
  if (!p.valid()) return lines;
  double lonLo = 1e9, lonHi = -1e9, latLo = 1e9, latHi = -1e9;
  for (int i = 0; i < kViewSamples; ++i) {
    for (int j = 0; j < kViewSamples; ++j) {
      double lon = 0, lat = 0;
      if (!p.Inverse(x0 + (x1 - x0) * i / (kViewSamples - 1),
                     y0 + (y1 - y0) * j / (kViewSamples - 1), lon, lat)) {
        continue;
      }
      lonLo = std::min(lonLo, lon);
      lonHi = std::max(lonHi, lon);
      latLo = std::min(latLo, lat);
      latHi = std::max(latHi, lat);
    }
  }
  if (lonLo > lonHi) return lines;
  latLo = std::max(latLo, -kMaxLatitude);
  latHi = std::min(latHi, kMaxLatitude);
  const double span = std::max({lonHi - lonLo, latHi - latLo, 1e-6});
  int m = 1, e = 0;
  RoundStep(span / kGraticuleLines, m, e);
  const double step = StepValue(1, m, e);
  // One step beyond the view on every side, so that lines reach its edges.
  const double aLo = std::max(latLo - step, -kMaxLatitude), aHi = std::min(latHi + step, kMaxLatitude);
  const double oLo = lonLo - step, oHi = lonHi + step;
  auto line = [&](bool meridian, double value) {
    GraticuleLine g;
    g.meridian = meridian;
    g.degrees = value;
    for (int i = 0; i <= kGraticuleSamples; ++i) {
      const double along = meridian ? aLo + (aHi - aLo) * i / kGraticuleSamples
                                    : oLo + (oHi - oLo) * i / kGraticuleSamples;
      double x = kNoValue, y = kNoValue;
      if (!(meridian ? p.Forward(value, along, x, y) : p.Forward(along, value, x, y))) {
        x = y = kNoValue;
      }
      g.points.push_back({x, y});
    }
    lines.push_back(std::move(g));
  };
  const auto count = [&](double lo, double hi) {
    return static_cast<long long>(std::floor(hi / step)) - static_cast<long long>(std::ceil(lo / step));
  };
  if (count(oLo, oHi) > kMostGraticuleLines || count(aLo, aHi) > kMostGraticuleLines) return lines;
  for (auto k = static_cast<long long>(std::ceil(oLo / step)); StepValue(k, m, e) <= oHi; ++k) {
    line(true, StepValue(k, m, e));
  }
  for (auto k = static_cast<long long>(std::ceil(aLo / step)); StepValue(k, m, e) <= aHi; ++k) {
    line(false, StepValue(k, m, e));
  }
  return lines;
}

Affine FitAffine(const PreviewData& d, int side, const std::array<double, 4>* box) {
  // Centred sums of the normal equations.
  struct Sums {
    double n = 0, x = 0, y = 0, u = 0, v = 0;
  } mean;
  auto use = [&](const PreviewVertex& p, double& x, double& y, double& u, double& v) {
    if (!std::isfinite(p.rx) || !std::isfinite(p.ry)) return false;
    x = side == 1 ? p.sx : p.rx;
    y = side == 1 ? p.sy : p.ry;
    u = side == 1 ? p.rx : p.sx;
    v = side == 1 ? p.ry : p.sy;
    return box == nullptr ||
           (x >= (*box)[0] && x <= (*box)[2] && y >= (*box)[1] && y <= (*box)[3]);
  };
  double x = 0, y = 0, u = 0, v = 0;
  for (const PreviewVertex& p : d.vertices) {
    if (!use(p, x, y, u, v)) continue;
    mean.n += 1;
    mean.x += x;
    mean.y += y;
    mean.u += u;
    mean.v += v;
  }
  Affine f;
  if (mean.n < 1) return f;
  mean.x /= mean.n;
  mean.y /= mean.n;
  mean.u /= mean.n;
  mean.v /= mean.n;
  double sxx = 0, sxy = 0, syy = 0, sxu = 0, syu = 0, sxv = 0, syv = 0;
  for (const PreviewVertex& p : d.vertices) {
    if (!use(p, x, y, u, v)) continue;
    x -= mean.x;
    y -= mean.y;
    u -= mean.u;
    v -= mean.v;
    sxx += x * x;
    sxy += x * y;
    syy += y * y;
    sxu += x * u;
    syu += y * u;
    sxv += x * v;
    syv += y * v;
  }
  const double det = sxx * syy - sxy * sxy;
  if (!(det > 1e-9 * sxx * syy) || !std::isfinite(det)) {
    // Vertices on a line, or a single one: scale and shift alone.
    double suv = 0;
    for (const PreviewVertex& p : d.vertices) {
      if (use(p, x, y, u, v)) suv += (u - mean.u) * (u - mean.u) + (v - mean.v) * (v - mean.v);
    }
    const double k = sxx + syy > 0 ? std::sqrt(suv / (sxx + syy)) : 1;
    f.a = {mean.u - k * mean.x, k, 0};
    f.b = {mean.v - k * mean.y, 0, k};
    f.valid = std::isfinite(k) && k > 0;
    return f;
  }
  f.a[1] = (sxu * syy - syu * sxy) / det;
  f.a[2] = (syu * sxx - sxu * sxy) / det;
  f.b[1] = (sxv * syy - syv * sxy) / det;
  f.b[2] = (syv * sxx - sxv * sxy) / det;
  f.a[0] = mean.u - f.a[1] * mean.x - f.a[2] * mean.y;
  f.b[0] = mean.v - f.b[1] * mean.x - f.b[2] * mean.y;
  f.valid = std::isfinite(f.Det()) && f.Det() != 0;
  return f;
}

}  // namespace pelmo::ui
