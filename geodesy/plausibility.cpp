#include "geodesy/plausibility.hpp"

#include <cmath>

#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo {

namespace {

// Constants of the zone and meridian prefixes, as the point chain uses them.
constexpr double kMillion = 1000000;
constexpr double kFalseEasting = 500000;  // GK and UTM [m]
constexpr double kGKZoneWidth = 3;        // degrees per Gauss-Krueger meridian index
constexpr double kUTMZoneWidth = 6;       // degrees per UTM zone
constexpr double kUTMFirstMeridian = 177;  // -177 is the meridian of zone 1
constexpr double kDegreesPerRadian = 180 / geotra::kPi;

// Sensible Krovak results [m]: Czechia and Slovakia lie within westing Y
// 150 to 960 km and southing X 900 to 1360 km (EPSG 5514); about 200 km
// around that.
constexpr double kKrovakMinY = 0, kKrovakMaxY = 1200000;
constexpr double kKrovakMinX = 700000, kKrovakMaxX = 1600000;

bool Read(const std::string& text, double& value) { return TryParseNumber(text, value) == 0; }

/// Meridian index (GK) or zone (UTM) of a central meridian.
double PrefixOf(Projection p, double meridian) {
  return p == Projection::kUTM ? (meridian + kUTMFirstMeridian) / kUTMZoneWidth + 1
                                      : meridian / kGKZoneWidth;
}

/// Reads the meridian (and prefix) of one side; false when it cannot.
bool ReadSide(const OptionTable& o, Projection p, int gk, int utm, int general,
              double& meridian, double& prefix) {
  int entry = -1;
  if (p == Projection::kGK) entry = gk;
  if (p == Projection::kUTM) entry = utm;
  if (p == Projection::kGKGeneral) entry = general;
  if (entry < 0) return true;
  if (!Read(o[static_cast<std::size_t>(entry)], meridian)) return false;
  prefix = PrefixOf(p, meridian);
  return true;
}

bool IsTransverseMercator(Projection p) {
  return p == Projection::kGK || p == Projection::kUTM ||
         p == Projection::kGKGeneral;
}

bool OutsideRange(const PlausibilityContext& c, double first, double second) {
  switch (c.out) {
    case Projection::kGK:
    case Projection::kUTM: {
      const double y = first - c.outPrefix * kMillion - kFalseEasting;
      return !(std::fabs(y) <= kMaxEastingOffset && second >= 0 && second <= kMaxNorthing);
    }
    case Projection::kGKGeneral: {
      const double k = std::fabs(c.outScale);
      return !(std::fabs(first - c.outEasting) <= kMaxEastingOffset * k &&
               std::fabs(second - c.outNorthing) <= kMaxNorthing * k);
    }
    case Projection::kKrovak: {
      // Written as (-Y, -X).
      const double y = -first, x = -second;
      return !(y >= kKrovakMinY && y <= kKrovakMaxY && x >= kKrovakMinX && x <= kKrovakMaxX);
    }
    default:
      return false;
  }
}

std::string Num(double v, char sign, double step) {
  return FormatNumber(std::round(v / step) * step, sign);
}

/// The sensible range of an output projection, in words.
const char* RangeText(Projection p) {
  switch (p) {
    case Projection::kGKGeneral:
      return "bis 400 km östlich oder westlich und 10002 km nördlich oder südlich des Ursprungs, "
             "mal Maßstab";
    case Projection::kKrovak: return "Y 0 bis 1200 km, X 700 bis 1600 km";
    default: return "Ostwert 100 bis 900 km nach der Kennziffer, Nordwert 0 bis 10002 km";
  }
}

}  // namespace

PlausibilityContext MakePlausibilityContext(const Session& session) {
  const TransformSettings& t = session.settings;
  const OptionTable& o = session.OptionValues;
  PlausibilityContext c;
  if (!t.optSevPar) return c;
  c.in = SideProjection(t, 1);
  c.out = SideProjection(t, 2);
  bool ok = ReadSide(o, c.in, opt::kGKBM, opt::kUTMBM, opt::kINmeridian, c.inMeridian, c.inPrefix) &&
            ReadSide(o, c.out, opt::kGKBM2, opt::kUTMBM2, opt::kOUTmeridian, c.outMeridian,
                     c.outPrefix);
  if (c.out == Projection::kGKGeneral) {
    ok = ok && Read(o[opt::kOUTscale], c.outScale) && Read(o[opt::kOUTeasting], c.outEasting) &&
         Read(o[opt::kOUTnorthing], c.outNorthing);
  }
  c.active = ok;
  return c;
}

PointWarnings CheckPoint(const PlausibilityContext& c, double first, const PointResult& r) {
  PointWarnings w;
  if (!c.active) return w;
  if (c.in == Projection::kGK || c.in == Projection::kUTM) {
    // The chain takes the easting as prefix * 1e6 + 500 km + y.
    const double y = first - c.inPrefix * kMillion - kFalseEasting;
    if (!(y >= -kFalseEasting && y < kFalseEasting)) w.set(WarningKind::kZonePrefix, {first, 0});
  }
  const double inDeg = std::fabs(r.inLon) * kDegreesPerRadian;
  if (IsTransverseMercator(c.in) && inDeg > kMaxMeridianDistanceDeg) {
    w.set(WarningKind::kInputDistance, {inDeg, 0});
  }
  const double outDeg = std::fabs(r.outLon) * kDegreesPerRadian;
  if (IsTransverseMercator(c.out) && outDeg > kMaxMeridianDistanceDeg) {
    w.set(WarningKind::kOutputDistance, {outDeg, 0});
  }
  if (r.size >= 2 && OutsideRange(c, r[0], r[1])) w.set(WarningKind::kOutputRange, {r[0], r[1]});
  return w;
}

std::string WarningReport(const WarningTally& tally, const PlausibilityContext& c, bool records,
                          char sign) {
  std::string out;
  const std::string item = records ? "Record " : "Zeile ";
  for (std::size_t k = 0; k < kWarningKinds; ++k) {
    const auto kind = static_cast<WarningKind>(k);
    const WarningTally::Kind& d = tally[kind];
    if (d.count == 0) continue;
    const bool one = d.count == 1;
    std::string line = "Warnung: " + std::to_string(d.count) + (one ? " Punkt " : " Punkte ");
    const std::string first = ", zuerst " + item + std::to_string(d.first) + ": ";
    const WarningSample& s = d.firstSample;
    switch (kind) {
      case WarningKind::kZonePrefix:
        line += std::string(one ? "hat" : "haben") + " im Ostwert eine andere Kennziffer als " +
                (c.in == Projection::kUTM ? "die Zone " : "die Meridiankennziffer ") +
                Num(c.inPrefix, sign, 1e-9) + " (" + ProjectionName(c.in) + ", Meridian " +
                Num(c.inMeridian, sign, 1e-9) + ")" + first + "Ostwert " + Num(s.a, sign, 1e-3) +
                "; die Ergebnisse liegen dort weit daneben";
        break;
      case WarningKind::kInputDistance:
      case WarningKind::kOutputDistance: {
        const bool in = kind == WarningKind::kInputDistance;
        line += std::string(one ? "liegt" : "liegen") + " mehr als " +
                Num(kMaxMeridianDistanceDeg, sign, 0.1) + "° vom Mittelmeridian " +
                (in ? "der Eingabe (" : "der Ausgabe (") + ProjectionName(in ? c.in : c.out) +
                ", " + Num(in ? c.inMeridian : c.outMeridian, sign, 1e-9) + "°)" + first +
                Num(s.a, sign, 0.01) + "°, größter Abstand " + Num(d.largest, sign, 0.01) +
                "°; die Gauß-Krüger-Reihen verlieren dort Millimeter (25 mm bei 4°)";
        break;
      }
      case WarningKind::kOutputRange:
        line += std::string(one ? "liegt" : "liegen") + " außerhalb des sinnvollen Bereichs der " +
                "Ausgabe " + ProjectionName(c.out) + " (" + RangeText(c.out) + ")" + first +
                Num(s.a, sign, 1e-3) + " " + Num(s.b, sign, 1e-3);
        break;
    }
    out += line + "\r\n";
  }
  return out;
}

}  // namespace pelmo
