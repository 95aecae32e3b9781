// The output coordinate system as PROJ string and ESRI WKT, through PROJ's
// C API: the system is created from a PROJ string, its geographic base is
// replaced by one that carries the datum and ellipsoid names, and PROJ
// writes the WKT. No WKT is put together here.
//
// Names follow the EPSG pattern ("<datum> / UTM zone 33N (zE-N)"), so that
// PROJ can identify the system when the ellipsoid carries the name of a
// datum (an ellipsoid named "ETRS89" with UTM zone 32 gives EPSG:25832).

#include "formats/prj_file.hpp"

#include <proj.h>
#include <proj_experimental.h>

#include <cmath>
#include <memory>

#include "core/numtext.hpp"

namespace pelmo {

namespace {

// Constants of the output projections, as the point chain uses them.
constexpr double kMillion = 1000000;       // zone or meridian index in the millions
constexpr double kFalseEasting = 500000;   // false easting of GK and UTM
constexpr double kGKZoneWidth = 3;         // degrees per Gauss-Krueger meridian index
constexpr double kUTMZoneWidth = 6;        // degrees per UTM zone
constexpr double kUTMFirstMeridian = 177;  // -177 is the meridian of zone 1
constexpr double kUTMScale = 0.9996;
constexpr double kUTMSouthNorthing = 10000000;
constexpr int kUTMZones = 60;
// Krovak: centre 49 deg 30', 24 deg 50' east of Greenwich (42 deg 30' east
// of Ferro), cone axis azimuth 90 deg less 59 deg 42' 42.6968", scale 0.9999
// on the pseudo-standard parallel 78 deg 30'.
constexpr double kKrovakLat0 = 49.5;
constexpr double kKrovakLon0 = 24 + 50.0 / 60;
constexpr double kKrovakAlpha = 90 - (59 + 42.0 / 60 + 42.6968 / 3600);
constexpr double kKrovakScale = 0.9999;
constexpr double kDegree = 0.0174532925199433;  // radians per degree, as ESRI writes it

struct ContextDeleter {
  void operator()(PJ_CONTEXT* c) const { proj_context_destroy(c); }
};
struct PjDeleter {
  void operator()(PJ* p) const { proj_destroy(p); }
};
using Context = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;
using Pj = std::unique_ptr<PJ, PjDeleter>;

std::string N(double v) { return FormatShortest(v); }

/// The number in `text`; `what` names the setting in the error.
double Number(const std::string& text, const char* what) {
  double v = 0;
  if (TryParseNumber(text, v) != 0) {
    throw CrsError(std::string(what) + " \"" + text + "\" ist keine Zahl");
  }
  return v;
}

/// PROJ's reason for the last failure in `ctx`.
[[noreturn]] void Fail(PJ_CONTEXT* ctx, const std::string& what) {
  const char* why = proj_context_errno_string(ctx, proj_context_errno(ctx));
  throw CrsError(what + (why != nullptr ? std::string(": ") + why : std::string()));
}

std::string Wkt(PJ_CONTEXT* ctx, const PJ* crs) {
  const char* const options[] = {"MULTILINE=NO", nullptr};
  const char* wkt = proj_as_wkt(ctx, crs, PJ_WKT1_ESRI, options);
  if (wkt == nullptr) Fail(ctx, "PROJ kann das Koordinatensystem nicht als ESRI-WKT schreiben");
  return wkt;
}

/// Whether EPSG holds a projected or geographic system of the name `name`
/// (or of that alias). A few milliseconds, where an identification takes
/// tens: and PROJ is certain (100 %) only of a system whose name matches.
bool EpsgHasName(PJ_CONTEXT* ctx, const char* name) {
  const PJ_TYPE types[] = {PJ_TYPE_PROJECTED_CRS, PJ_TYPE_GEOGRAPHIC_2D_CRS};
  PJ_OBJ_LIST* list = proj_create_from_name(ctx, "EPSG", name, types, 2, 0, 1, nullptr);
  if (list == nullptr) return false;
  const bool found = proj_list_get_count(list) > 0;
  proj_list_destroy(list);
  return found;
}

/// The one EPSG system PROJ identifies `crs` with at 100 %, or nothing.
Pj IdentifyEpsg(PJ_CONTEXT* ctx, const PJ* crs, std::string& code) {
  const char* name = proj_get_name(crs);
  if (name == nullptr || !EpsgHasName(ctx, name)) return nullptr;
  int* confidence = nullptr;
  PJ_OBJ_LIST* list = proj_identify(ctx, crs, "EPSG", nullptr, &confidence);
  Pj found;
  int certain = 0;
  const int count = list != nullptr ? proj_list_get_count(list) : 0;
  for (int i = 0; i < count; ++i) {
    if (confidence[i] < 100) continue;
    if (++certain == 1) found.reset(proj_list_get(ctx, list, i));
  }
  proj_int_list_destroy(confidence);
  proj_list_destroy(list);
  if (certain != 1 || !found) return nullptr;
  const char* auth = proj_get_id_auth_name(found.get(), 0);
  const char* id = proj_get_id_code(found.get(), 0);
  if (auth == nullptr || id == nullptr) return nullptr;
  code = std::string(auth) + ":" + id;
  return found;
}

}  // namespace

std::optional<OutputCrs> DescribeOutputCrs(const TransformSettings& t, const OptionTable& o) {
  if (!t.optSevPar) return std::nullopt;

  std::string datum = t.txtBezEll2;
  datum.erase(0, datum.find_first_not_of(' '));
  datum.erase(datum.find_last_not_of(' ') + 1);
  if (datum.empty() || datum == "0") datum = "unknown";
  const double a = Number(t.txtEll2a, "die Halbachse a des Ellipsoids 2");
  const double e = Number(t.txtEll2e, "die Exzentrizität e des Ellipsoids 2");
  const std::string ellipsoid = " +a=" + N(a) + " +e=" + N(e);

  OutputCrs crs;
  std::string projection;  // second part of the name; empty: geographic
  const auto tmerc = [&](double lon0, double k, double x0, double y0) {
    crs.projString = "+proj=tmerc +lat_0=0 +lon_0=" + N(lon0) + " +k=" + N(k) + " +x_0=" + N(x0) +
                     " +y_0=" + N(y0);
  };
  // The order of the point chain, should a settings file set two.
  if (t.optOutBL) {
    crs.projString = "+proj=longlat";
  } else if (t.optOutGK) {
    const double lon0 = Number(o[opt::kGKBM2], "der Mittelmeridian von GK-Germ");
    const double index = lon0 / kGKZoneWidth;
    tmerc(lon0, 1, index * kMillion + kFalseEasting, 0);
    projection = "3-degree Gauss-Kruger zone " + N(index) + " (E-N)";
  } else if (t.optOUTetrs) {
    const double lon0 = Number(o[opt::kUTMBM2], "der Mittelmeridian von UTM");
    const double k = Number(o[opt::kUTMma2], "der Maßstab von UTM");
    const double zone = (lon0 + kUTMFirstMeridian) / kUTMZoneWidth + 1;
    tmerc(lon0, k, zone * kMillion + kFalseEasting, 0);
    projection = "UTM zone " + N(zone) + "N (zE-N)";
  } else if (t.optOutGKallgemein) {
    const double lon0 = Number(o[opt::kOUTmeridian], "der Mittelmeridian von GK-general");
    const double k = Number(o[opt::kOUTscale], "der Maßstab von GK-general");
    const double x0 = Number(o[opt::kOUTeasting], "der Rechtswert-Zuschlag von GK-general");
    const double y0 = Number(o[opt::kOUTnorthing], "der Hochwert-Zuschlag von GK-general");
    tmerc(lon0, k, x0, y0);
    // Set up as a UTM zone without prefix: named as one.
    const double zone = (lon0 + kUTMFirstMeridian) / kUTMZoneWidth + 1;
    const bool utm = k == kUTMScale && x0 == kFalseEasting &&
                     (y0 == 0 || y0 == kUTMSouthNorthing) && zone == std::floor(zone) &&
                     zone >= 1 && zone <= kUTMZones;
    projection = utm ? "UTM zone " + N(zone) + (y0 == 0 ? "N" : "S") : "Transverse Mercator";
  } else if (t.optOutKrovak) {
    crs.projString = "+proj=krovak +lat_0=" + N(kKrovakLat0) + " +lon_0=" + N(kKrovakLon0) +
                     " +alpha=" + N(kKrovakAlpha) + " +k=" + N(kKrovakScale) + " +x_0=0 +y_0=0";
    projection = "Krovak East North";
  } else {
    return std::nullopt;
  }
  crs.projString += ellipsoid + (projection.empty() ? "" : " +units=m") + " +no_defs +type=crs";
  crs.name = projection.empty() ? datum : datum + " / " + projection;

  Context owner(proj_context_create());
  PJ_CONTEXT* ctx = owner.get();
  if (ctx == nullptr) throw CrsError("PROJ kann nicht gestartet werden");
  proj_log_level(ctx, PJ_LOG_NONE);
  Pj made(proj_create(ctx, crs.projString.c_str()));
  if (!made) Fail(ctx, "PROJ nimmt das Koordinatensystem " + crs.projString + " nicht an");

  // The geographic base with the names: datum and ellipsoid after the
  // ellipsoid, its a and 1/f as PROJ took them from the string.
  Pj geodetic(proj_crs_get_geodetic_crs(ctx, made.get()));
  Pj ell(geodetic ? proj_get_ellipsoid(ctx, geodetic.get()) : nullptr);
  double semiMajor = 0, semiMinor = 0, invFlattening = 0;
  int computed = 0;
  if (!ell || !proj_ellipsoid_get_parameters(ctx, ell.get(), &semiMajor, &semiMinor, &computed,
                                             &invFlattening)) {
    Fail(ctx, "PROJ liefert das Ellipsoid von " + crs.projString + " nicht");
  }
  Pj cs(proj_create_ellipsoidal_2D_cs(ctx, PJ_ELLPS2D_LONGITUDE_LATITUDE, nullptr, 0));
  // The ellipsoid keeps the name PROJ knows it by (Bessel 1841, GRS 1980).
  const char* known = proj_get_name(ell.get());
  const std::string ellName =
      known != nullptr && std::string(known) != "unknown" ? std::string(known) : datum;
  Pj base(proj_create_geographic_crs(ctx, datum.c_str(), datum.c_str(), ellName.c_str(), semiMajor,
                                     invFlattening, "Greenwich", 0, "degree", kDegree, cs.get()));
  if (!base) Fail(ctx, "PROJ nimmt das Datum " + datum + " nicht an");
  Pj named(projection.empty() ? proj_clone(ctx, base.get())
                              : proj_crs_alter_geodetic_crs(ctx, made.get(), base.get()));
  if (named) named.reset(proj_alter_name(ctx, named.get(), crs.name.c_str()));
  if (!named) Fail(ctx, "PROJ kann das Koordinatensystem " + crs.name + " nicht bilden");

  const Pj epsg = IdentifyEpsg(ctx, named.get(), crs.epsg);
  crs.wkt = Wkt(ctx, epsg ? epsg.get() : named.get());
  return crs;
}

}  // namespace pelmo
