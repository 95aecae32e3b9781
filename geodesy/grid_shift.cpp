#include "geodesy/grid_shift.hpp"

#include <proj.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/data_dir.hpp"
#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo {

namespace fs = std::filesystem;

namespace {

/// The name the operation asks PROJ for; the context's file finder answers
/// it with the real path, so that any path (blanks, commas, a leading "@")
/// reaches PROJ unchanged.
constexpr const char* kGridToken = "pelmo-grid";

/// Where a probe point lies inside the extent: this share of a cell in from
/// the border nodes, as PROJ may treat the border itself as outside.
constexpr double kProbeInset = 0.01;

/// Degrees from radians for messages and extents.
double Degrees(double rad) { return rad * 180 / geotra::kPi; }

/// A point in messages [deg], rounded to about a centimetre.
std::string PointText(double lon, double lat) {
  constexpr double kSteps = 1e7;
  auto text = [&](double v) { return FormatNumber(std::round(v * kSteps) / kSteps, '.'); };
  return "Länge " + text(lon) + "°, Breite " + text(lat) + "°";
}

/// What a probe or a point at which PROJ failed inside the extent means.
constexpr const char* kDamaged = "(Datei beschädigt oder unvollständig?)";

/// PROJ's data folders, as it searches them (PROJ_DATA, the user's and the
/// installed folder).
std::vector<fs::path> ProjFolders() {
  std::vector<fs::path> folders;
  const char* list = proj_info().searchpath;
  const char separator = fs::path::preferred_separator == '\\' ? ';' : ':';
  for (const char* p = list; p != nullptr && *p != '\0';) {
    const char* end = std::strchr(p, separator);
    const std::size_t n = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
    if (n > 0) folders.emplace_back(std::string(p, n));
    p = end != nullptr ? end + 1 : p + n;
  }
  return folders;
}

const char* FindToken(PJ_CONTEXT* /*ctx*/, const char* name, void* path) {
  return std::strcmp(name, kGridToken) == 0 ? static_cast<const std::string*>(path)->c_str()
                                            : nullptr;
}

}  // namespace

GridFileError::GridFileError(const std::string& file, const std::string& reason)
    : RunTimeError(errnum::kPathFileAccess, "Gitterdatei \"" + file + "\" " + reason) {}

std::string FindGridFile(const std::string& name) {
  std::error_code ec;
  if (fs::is_regular_file(name, ec)) return name;
  std::string searched;
  if (!name.empty() && !fs::path(name).has_parent_path()) {
    std::vector<fs::path> folders = ProjFolders();
    if (fs::path library = DataDir(); !library.empty()) folders.push_back(std::move(library));
    for (const fs::path& folder : folders) {
      const fs::path candidate = folder / name;
      if (fs::is_regular_file(candidate, ec)) return candidate.string();
      searched += (searched.empty() ? "" : ", ") + folder.string();
    }
  }
  throw GridFileError(name, searched.empty() ? "nicht gefunden"
                                             : "nicht gefunden (gesucht in " + searched + ")");
}

GridExtent DescribeGridFile(const std::string& path) {
  // PROJ reports on the default context while it tries the grid kinds.
  const PJ_LOG_LEVEL level = proj_log_level(nullptr, PJ_LOG_TELL);
  proj_log_level(nullptr, PJ_LOG_NONE);
  const PJ_GRID_INFO info = proj_grid_info(path.c_str());
  proj_log_level(nullptr, level);
  if (info.filename[0] == '\0' || std::strcmp(info.format, "missing") == 0) {
    throw GridFileError(path, "kann nicht gelesen werden: kein Gitter, das PROJ kennt");
  }
  return {info.format,
          Degrees(info.lowerleft.lam),
          Degrees(info.lowerleft.phi),
          Degrees(info.upperright.lam),
          Degrees(info.upperright.phi),
          Degrees(info.cs_lon),
          Degrees(info.cs_lat)};
}

/// The context and the operation, on the heap so that the path the file
/// finder hands out keeps its place when the step is moved.
struct GridShift::Handles {
  std::string path;
  PJ_CONTEXT* ctx = nullptr;
  PJ* pj = nullptr;
  int lastError = 0;

  explicit Handles(std::string p) : path(std::move(p)) {
    ctx = proj_context_create();
    if (ctx == nullptr) return;
    proj_log_level(ctx, PJ_LOG_NONE);
    proj_context_set_enable_network(ctx, 0);
    proj_context_set_file_finder(ctx, FindToken, &path);
    pj = proj_create(ctx, (std::string("+proj=hgridshift +grids=") + kGridToken).c_str());
  }
  ~Handles() {
    if (pj != nullptr) proj_destroy(pj);
    if (ctx != nullptr) proj_context_destroy(ctx);
  }
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;

  /// PROJ's reason why the operation could not be made.
  std::string CreateError() const {
    if (ctx == nullptr) return "PROJ kann nicht gestartet werden";
    const char* text = proj_context_errno_string(ctx, proj_context_errno(ctx));
    return text != nullptr ? text : "unbekannter Fehler";
  }
};

GridShift::GridShift(const std::string& name, const std::string& path, bool inverse)
    : h_(std::make_unique<Handles>(path)), name_(name), path_(path), inverse_(inverse) {
  if (h_->pj == nullptr) {
    throw GridFileError(name_, "kann nicht gelesen werden: " + h_->CreateError());
  }
  // PROJ opens a grid name it has opened before only at the first point.
  double lon0 = 0, lat0 = 0;
  if (!Apply(lon0, lat0) && h_->lastError != PROJ_ERR_COORD_TRANSFM_OUTSIDE_GRID) {
    throw GridFileError(name_, "kann nicht gelesen werden: " + Reason());
  }
  extent_ = DescribeGridFile(path);
  // A cut-off file opens, but its missing nodes read as "outside the grid":
  // try the cells at the corners (the last node of an NTv2 parent grid is
  // one of them) and the centre.
  const GridExtent& x = extent_;
  const double w = x.west + kProbeInset * x.cellLon, e = x.east - kProbeInset * x.cellLon;
  const double s = x.south + kProbeInset * x.cellLat, n = x.north - kProbeInset * x.cellLat;
  for (const auto& [L, B] : {std::pair{w, s}, {e, s}, {w, n}, {e, n}, {(w + e) / 2, (s + n) / 2}}) {
    double lon = L * geotra::kPi / 180, lat = B * geotra::kPi / 180;
    if (!Apply(lon, lat)) {
      throw GridFileError(name_, "kann nicht gelesen werden: " + Reason() + " bei " +
                                     PointText(L, B) + ", innerhalb seiner Ausdehnung " + kDamaged);
    }
  }
}

GridShift::GridShift(const GridShift& other, CloneTag /*tag*/)
    : h_(std::make_unique<Handles>(other.path_)),
      name_(other.name_),
      path_(other.path_),
      inverse_(other.inverse_),
      extent_(other.extent_) {
  if (h_->pj == nullptr) {
    throw GridFileError(name_, "kann nicht gelesen werden: " + h_->CreateError());
  }
}

GridShift::~GridShift() = default;
GridShift::GridShift(GridShift&&) noexcept = default;
GridShift& GridShift::operator=(GridShift&&) noexcept = default;

GridShift GridShift::Clone() const { return GridShift(*this, CloneTag{}); }

bool GridShift::Apply(double& lon, double& lat) noexcept {
  proj_errno_reset(h_->pj);
  const PJ_COORD r = proj_trans(h_->pj, inverse_ ? PJ_INV : PJ_FWD, proj_coord(lon, lat, 0, 0));
  h_->lastError = proj_errno(h_->pj);
  if (h_->lastError != 0 || !std::isfinite(r.lp.lam) || !std::isfinite(r.lp.phi)) return false;
  lon = r.lp.lam;
  lat = r.lp.phi;
  return true;
}

std::string GridShift::Reason() const {
  const char* text =
      h_->lastError != 0 ? proj_context_errno_string(h_->ctx, h_->lastError) : nullptr;
  return text != nullptr ? text : "keine Verschiebung";
}

std::string GridShift::FailureText(double lon, double lat) const {
  const double L = Degrees(lon), B = Degrees(lat);
  const std::string where = PointText(L, B);
  if (L >= extent_.west && L <= extent_.east && B >= extent_.south && B <= extent_.north) {
    return "das Gitter \"" + name_ + "\" gibt für den Punkt (" + where +
           ") keine Verschiebung: " + Reason() + " " + kDamaged;
  }
  return "der Punkt (" + where + ") liegt außerhalb des Gitters \"" + name_ + "\"";
}

}  // namespace pelmo
