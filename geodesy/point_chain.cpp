// The point chain.
//
// Translation mode shifts the point by txtDX, txtDY, txtDH. Seven-parameter
// mode runs: input projection inverse on ellipsoid 1 -> geocentric X, Y, Z
// -> first and second seven-parameter transformation -> geographic on
// ellipsoid 2 -> output projection.
//
// A slot may hold a shift grid instead of its seven parameters: the point
// goes from geocentric to geographic coordinates, through the grid, and back
// to geocentric, its height unchanged (conversions that the next step would
// undo are left out). The first grid of the chain is where the point passes
// from ellipsoid 1 to ellipsoid 2: a grid in slot 1 reads on ellipsoid 1 and
// writes on ellipsoid 2, a grid in slot 2 writes on ellipsoid 2 and reads on
// ellipsoid 1 unless slot 1 holds a grid too (then both sides of the point
// between the slots are on ellipsoid 2). A seven-parameter step works on
// geocentric coordinates alone and needs no ellipsoid.
//
// The texts of the settings are converted once per change of the session
// (Session::Touch) and kept with the error a conversion gave, so that a text
// that cannot be read fails exactly where it is used, as if it were
// converted at every point.

#include "geodesy/point_chain.hpp"

#include <cmath>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/errors.hpp"
#include "core/frontend.hpp"
#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"
#include "geodesy/grid_shift.hpp"

namespace pelmo {

using geotra::kPi;

namespace {

/// A converted text: its value, or the error number its conversion raised.
struct Num {
  double value = 0;
  int error = 0;

  void Set(const std::string& text) {
    value = 0;
    error = TryParseNumber(text, value);
  }
  double operator()() const {
    if (error != 0) throw RunTimeError(error);
    return value;
  }
};

// Constants of the projection prefixes.
constexpr double kDegreesPerHalfTurn = 180;
constexpr double kMillion = 1000000;       // zone or meridian index in the millions
constexpr double kFalseEasting = 500000;   // false easting of GK and UTM
constexpr double kGKZoneWidth = 3;         // degrees per Gauss-Krueger meridian index
constexpr double kUTMZoneWidth = 6;        // degrees per UTM zone
constexpr double kUTMFirstMeridian = 177;  // -177 is the meridian of zone 1

double Div(double num, double den) {
  if (den == 0) throw FloatingPointFault(FaultKind::kDivisionByZero);
  return num / den;
}

double Finite(double v) {
  if (!std::isfinite(v)) {
    throw FloatingPointFault(std::isnan(v) ? FaultKind::kInvalidOperation : FaultKind::kOverflow);
  }
  return v;
}

}  // namespace

/// Converted settings, valid for one revision of the session.
struct PointChainCache {
  std::uint64_t revision = 0;
  Num dx, dy, dh;
  Num a1, e1, a2, e2;
  Num p[7], q[7];
  Num o[kOptionCount];

  // What the geodetic routines compute from the ellipsoids and the parameter
  // sets alone, prepared at first use in a revision. A conversion error or a
  // fault of the preparation is raised at every use, as it would be without.
  template <typename T>
  struct Lazy {
    T value{};
    bool ready = false;
    template <typename F>
    const T& Get(F&& make) {
      if (!ready) {
        value = make();
        ready = true;
      }
      return value;
    }
  };
  Lazy<geotra::GaussKruegerPrepared> gk1, gk2;
  Lazy<geotra::KrovakPrepared> krovak1, krovak2;
  Lazy<geotra::SevenParPrepared> set1, set2;

  // The grid steps of the two slots and the slots they were opened for;
  // kept across revisions, opened again when a slot changes.
  std::unique_ptr<GridShift> grid[2];
  GridSlot gridOpened[2];
  GridSlot gridSlot[2];

  /// The grid step of slot 1 or 2, or nullptr when the slot holds seven
  /// parameters; opened at first use (throws GridFileError).
  GridShift* Grid(int slot) {
    const int k = slot - 1;
    if (!gridSlot[k].active()) return nullptr;
    if (!grid[k] || gridOpened[k] != gridSlot[k]) Open(k);
    return grid[k].get();
  }
  void Open(int k) {
    grid[k].reset();
    const GridSlot& g = gridSlot[k];
    grid[k] = std::make_unique<GridShift>(g.file, FindGridFile(g.file), g.inverse);
    gridOpened[k] = g;
  }

  const geotra::GaussKruegerPrepared& Gk1() {
    return gk1.Get([&] { return geotra::PrepareGaussKrueger(a1(), e1()); });
  }
  const geotra::GaussKruegerPrepared& Gk2() {
    return gk2.Get([&] { return geotra::PrepareGaussKrueger(a2(), e2()); });
  }
  const geotra::KrovakPrepared& Krovak1() {
    return krovak1.Get([&] { return geotra::PrepareKrovak(a1(), e1()); });
  }
  const geotra::KrovakPrepared& Krovak2() {
    return krovak2.Get([&] { return geotra::PrepareKrovak(a2(), e2()); });
  }
  const geotra::SevenParPrepared& Set1() {
    return set1.Get([&] {
      return geotra::PrepareSevenParTrans(p[0](), p[1](), p[2](), p[3](), p[4](), p[5](), p[6]());
    });
  }
  const geotra::SevenParPrepared& Set2() {
    return set2.Get([&] {
      return geotra::PrepareSevenParTrans(q[0](), q[1](), q[2](), q[3](), q[4](), q[5](), q[6]());
    });
  }

  // Parameter sets of seven zeros (read without error): the identity.
  bool identity1 = false, identity2 = false;
  static bool IsIdentity(const Num (&set)[7]) {
    for (const Num& v : set) {
      if (v.error != 0 || v.value != 0) return false;
    }
    return true;
  }

  void Refresh(const Session& s) {
    gk1.ready = gk2.ready = krovak1.ready = krovak2.ready = set1.ready = set2.ready = false;
    const TransformSettings& t = s.settings;
    dx.Set(t.txtDX);
    dy.Set(t.txtDY);
    dh.Set(t.txtDH);
    a1.Set(t.txtEll1a);
    e1.Set(t.txtEll1e);
    a2.Set(t.txtEll2a);
    e2.Set(t.txtEll2e);
    const auto set1 = t.SevenParFields(1);
    const auto set2 = t.SevenParFields(2);
    for (int i = 0; i < 7; ++i) {
      p[i].Set(*set1[i]);
      q[i].Set(*set2[i]);
    }
    for (int i = 0; i < kOptionCount; ++i) o[i].Set(s.OptionValues[i]);
    gridSlot[0] = s.grids[0];
    gridSlot[1] = s.grids[1];
    identity1 = IsIdentity(p);
    identity2 = IsIdentity(q);
    revision = s.revision();
  }
};

namespace {

/// Where the options of one end of the chain live in the option table.
struct SideOptions {
  int gkMeridian, utmMeridian, utmScale;                   // "GK-Germ", "UTM"
  int easting, meridian, northing, scale;                  // "GK-general"
};
constexpr SideOptions kInputOptions{opt::kGKBM,      opt::kUTMBM,      opt::kUTMma,
                                    opt::kINeasting, opt::kINmeridian, opt::kINnorthing,
                                    opt::kINscale};
constexpr SideOptions kOutputOptions{opt::kGKBM2,      opt::kUTMBM2,      opt::kUTMma2,
                                     opt::kOUTeasting, opt::kOUTmeridian, opt::kOUTnorthing,
                                     opt::kOUTscale};

/// Inverse of a projection: the point values (laid out as the drivers pass
/// them) to latitude B and longitude L in radians on the ellipsoid of side 1
/// or 2. `first` and `second` are working storage. `lon` receives the
/// longitude difference from the central meridian of a Gauss-Krueger
/// projection [rad].
/// Latitude and longitude (rad) with the sine and cosine of the latitude.
geotra::Geographic WithSinCos(const std::array<double, 2>& bl) {
  geotra::Geographic g;
  g.B = bl[0];
  g.L = bl[1];
  g.sinB = std::sin(g.B);
  g.cosB = std::cos(g.B);
  return g;
}

geotra::Geographic ToGeographic(PointChainCache& c, Projection proj, int side,
                                   double& first, double& second, double& lon) {
  const SideOptions& o = side == 1 ? kInputOptions : kOutputOptions;
  auto gk = [&]() -> const geotra::GaussKruegerPrepared& {
    return side == 1 ? c.Gk1() : c.Gk2();
  };
  geotra::Geographic g;
  switch (proj) {
    case Projection::kKrovak:
      if (first < 0) first = first * -1;
      if (second < 0) second = second * -1;
      if (first < second) std::swap(first, second);
      return WithSinCos(geotra::KrovakToBL(side == 1 ? c.Krovak1() : c.Krovak2(), first, second));
    case Projection::kGK: {
      std::swap(first, second);
      const double L0 = c.o[o.gkMeridian]();
      second = (second - Div(L0, kGKZoneWidth) * kMillion) - kFalseEasting;
      g = geotra::GKToGeographic(gk(), first, second);
      lon = g.L;
      g.L = Div(L0 * kPi, kDegreesPerHalfTurn) + g.L;
      return g;
    }
    case Projection::kUTM: {
      std::swap(first, second);
      const double L0 = c.o[o.utmMeridian]();
      second =
          (second - (Div(L0 + kUTMFirstMeridian, kUTMZoneWidth) + 1) * kMillion) - kFalseEasting;
      const double k = c.o[o.utmScale]();
      second = Div(second, k);
      first = Div(first, k);
      g = geotra::GKToGeographic(gk(), first, second);
      lon = g.L;
      g.L = Div(L0 * kPi, kDegreesPerHalfTurn) + g.L;
      return g;
    }
    case Projection::kGKGeneral: {
      std::swap(first, second);
      second = second - c.o[o.easting]();
      first = first - c.o[o.northing]();
      const double k = c.o[o.scale]();
      second = Div(second, k);
      first = Div(first, k);
      g = geotra::GKToGeographic(gk(), first, second);
      lon = g.L;
      g.L = Div(c.o[o.meridian]() * kPi, kDegreesPerHalfTurn) + g.L;
      return g;
    }
    case Projection::kEll:
      std::swap(first, second);
      return WithSinCos({Div(first * kPi, kDegreesPerHalfTurn), Div(second * kPi, kDegreesPerHalfTurn)});
    case Projection::kNone:
      break;
  }
  // A properties file can leave the group without a selection.
  throw RunTimeError(errnum::kOutOfRange,
                     side == 1 ? "keine Eingabeprojektion gewählt" : "keine Ausgabeprojektion gewählt");
}

/// A grid step: geographic B, L, h (rad, m) shifted by the grid, the height
/// unchanged; the result lies on ellipsoid 2 (see the top of this file). A
/// point the grid does not cover stops the job.
std::array<double, 3> GridStep(GridShift& grid, std::array<double, 3> blh) {
  const double lon = blh[1], lat = blh[0];
  if (!grid.Apply(blh[1], blh[0])) {
    throw RunTimeError(errnum::kOutOfRange, grid.FailureText(lon, lat));
  }
  return blh;
}

PointChainCache& ConvertedSettings(Session& session) {
  if (!session.chainCache) session.chainCache = std::make_shared<PointChainCache>();
  PointChainCache& c = *session.chainCache;
  if (c.revision != session.revision()) c.Refresh(session);
  return c;
}

/// One point between the stages of the seven-parameter chain.
struct ChainState {
  PointResult r;
  geotra::Geographic in1;  // input side, on ellipsoid 1
  std::array<double, 3> W{};
  std::optional<std::array<double, 3>> geo;
};

/// Input side: to latitude and longitude on ellipsoid 1. Krovak coordinates
/// carry no height: the point is put on the ellipsoid.
void InputStage(const Session& s, PointChainCache& c, double& first, double& second,
                double height, ChainState& p) {
  const Projection in = SideProjection(s.settings, 1);
  p.in1 = ToGeographic(c, in, 1, first, second, p.r.inLon);
  p.in1.h = in == Projection::kKrovak ? 0 : height;
}

/// Datum: both transformations; a set of seven zeros is the identity and
/// is skipped (it would return the same bits). A slot may hold a grid
/// instead, which works on geographic coordinates: `geo` holds them, on
/// ellipsoid 2, after a grid, until a seven-parameter step needs X, Y, Z.
void DatumStage(PointChainCache& c, ChainState& p) {
  const geotra::Geographic& in1 = p.in1;
  std::array<double, 3>& W = p.W;
  std::optional<std::array<double, 3>>& geo = p.geo;
  if (GridShift* g = c.Grid(1)) {
    geo = GridStep(*g, {in1.B, in1.L, in1.h});
  } else {
    W = geotra::BLHToXYZ(in1, c.a1(), c.e1());
    if (!c.identity1) W = geotra::SevenParTrans(c.Set1(), W[0], W[1], W[2]);
  }
  if (GridShift* g = c.Grid(2)) {
    geo = GridStep(*g, geo ? *geo : geotra::XYZToBLH(W[0], W[1], W[2], c.a1(), c.e1()));
  } else if (!c.identity2) {
    if (geo) W = geotra::BLHToXYZ((*geo)[0], (*geo)[1], (*geo)[2], c.a2(), c.e2());
    geo.reset();
    W = geotra::SevenParTrans(c.Set2(), W[0], W[1], W[2]);
  }
}

/// Output side; only "Ell" (and no selection) returns the height.
void OutputStage(const Session& s, PointChainCache& c, double& first, double& second,
                 ChainState& p) {
  const TransformSettings& t = s.settings;
  PointResult& r = p.r;
  std::array<double, 3>& W = p.W;
  const Projection out = SideProjection(t, 2);
  geotra::Geographic out2;
  if (p.geo) {
    W = *p.geo;
    // Only the Gauss-Krueger outputs take the latitude's sine and cosine.
    if (out == Projection::kGK || out == Projection::kUTM || out == Projection::kGKGeneral) {
      out2 = WithSinCos({W[0], W[1]});
    }
  } else if (out == Projection::kEll || out == Projection::kNone) {
    W = geotra::XYZToBLH(W[0], W[1], W[2], c.a2(), c.e2());
  } else {
    out2 = geotra::XYZToGeographic(W[0], W[1], W[2], c.a2(), c.e2());
    W = {out2.B, out2.L, 0};
  }
  const MeridianCoeffArray& m = s.MeridianCoeffs;
  if (t.optOutBL) {
    const double lat = Div(W[0] * kDegreesPerHalfTurn, kPi);
    const double lon = Div(W[1] * kDegreesPerHalfTurn, kPi);
    r.values = {lon, lat, W[2]};
    r.size = 3;
  } else if (t.optOutGK) {
    const double L0 = c.o[opt::kGKBM2]();
    const double l = W[1] - Div(L0 * kPi, kDegreesPerHalfTurn);
    r.outLon = l;
    auto g = geotra::BLToGK(c.Gk2(), out2, l, m[0], m[1], m[2], m[3], m[4], m[5]);
    g[1] = Div(L0, kGKZoneWidth) * kMillion + (g[1] + kFalseEasting);
    r.values = {g[1], g[0], 0};
    r.size = 2;
  } else if (t.optOUTetrs) {
    const double L0 = c.o[opt::kUTMBM2]();
    const double l = W[1] - Div(L0 * kPi, kDegreesPerHalfTurn);
    r.outLon = l;
    auto g = geotra::BLToGK(c.Gk2(), out2, l, m[0], m[1], m[2], m[3], m[4], m[5]);
    const double k = c.o[opt::kUTMma2]();
    g[1] = ((k * g[1]) + kFalseEasting) +
           (Div(L0 + kUTMFirstMeridian, kUTMZoneWidth) + 1) * kMillion;
    g[0] = k * g[0];
    r.values = {g[1], g[0], 0};
    r.size = 2;
  } else if (t.optOutGKallgemein) {
    const double L0 = c.o[opt::kOUTmeridian]();
    const double l = W[1] - Div(L0 * kPi, kDegreesPerHalfTurn);
    r.outLon = l;
    auto g = geotra::BLToGK(c.Gk2(), out2, l, m[0], m[1], m[2], m[3], m[4], m[5]);
    const double k = c.o[opt::kOUTscale]();
    g[1] = k * g[1] + c.o[opt::kOUTeasting]();
    g[0] = k * g[0] + c.o[opt::kOUTnorthing]();
    r.values = {g[1], g[0], 0};
    r.size = 2;
  } else if (t.optOutKrovak) {
    const auto xy = geotra::BLToKrovak(c.Krovak2(), W[0], W[1]);
    // first and second are left holding (Y, X); the result is (-Y, -X).
    first = xy[1];
    second = xy[0];
    r.values = {-first, -second, 0};
    r.size = 2;
  } else {
    // No output projection selected: the geographic values in radians.
    r.values = W;
    r.size = 3;
  }
}

/// The end of a point: its results refused when not finite, then the front
/// end's event pass.
void FinishPoint(Session& session, const PointResult& r) {
  for (std::size_t i = 0; i < r.size; ++i) Finite(r.values[i]);
  session.frontEnd().ProcessEvents();
}

/// Seven-parameter mode: input side, datum change, output side.
PointResult SevenParameterChain(const Session& s, PointChainCache& c, double& first,
                                double& second, double height) {
  ChainState p;
  InputStage(s, c, first, second, height, p);
  DatumStage(c, p);
  OutputStage(s, c, first, second, p);
  return p.r;
}

}  // namespace

Projection SideProjection(const TransformSettings& t, int side) {
  if (side == 1) {
    if (t.optInKrovak) return Projection::kKrovak;
    if (t.optInGK) return Projection::kGK;
    if (t.optINetrs) return Projection::kUTM;
    if (t.optINGKallgemein) return Projection::kGKGeneral;
    if (t.optInBL) return Projection::kEll;
  } else {
    if (t.optOutBL) return Projection::kEll;
    if (t.optOutGK) return Projection::kGK;
    if (t.optOUTetrs) return Projection::kUTM;
    if (t.optOutGKallgemein) return Projection::kGKGeneral;
    if (t.optOutKrovak) return Projection::kKrovak;
  }
  return Projection::kNone;
}

const char* ProjectionName(Projection p) {
  switch (p) {
    case Projection::kKrovak: return "Krovak";
    case Projection::kGK: return "GK-Germ";
    case Projection::kUTM: return "UTM";
    case Projection::kGKGeneral: return "GK-general";
    case Projection::kEll: return "Ell";
    case Projection::kNone: break;
  }
  return "-";
}

GeocentricPoint PointToGeocentric(Session& session, int side, double first, double second,
                                  double height) {
  PointChainCache& c = ConvertedSettings(session);
  const TransformSettings& t = session.settings;
  const Projection proj = SideProjection(t, side);
  GeocentricPoint p;
  double lon = 0;
  geotra::Geographic g = ToGeographic(c, proj, side, first, second, lon);
  g.h = height;
  p.B = g.B;
  p.L = g.L;
  p.xyz = side == 1 ? geotra::BLHToXYZ(g, c.a1(), c.e1()) : geotra::BLHToXYZ(g, c.a2(), c.e2());
  for (double v : p.xyz) Finite(v);
  return p;
}

void OpenGridSteps(Session& session) {
  PointChainCache& c = ConvertedSettings(session);
  for (int k = 0; k < 2; ++k) {
    c.grid[k].reset();
    if (c.gridSlot[k].active()) c.Open(k);
  }
}

void CloneGridSteps(Session& to, Session& from) {
  PointChainCache& source = ConvertedSettings(from);
  PointChainCache& c = ConvertedSettings(to);
  for (int k = 0; k < 2; ++k) {
    if (source.grid[k] && c.gridSlot[k].active() && source.gridOpened[k] == c.gridSlot[k]) {
      c.grid[k] = std::make_unique<GridShift>(source.grid[k]->Clone());
      c.gridOpened[k] = c.gridSlot[k];
    }
  }
}

PointResult TransformPoint(Session& session, double& first, double& second, double& height) {
  PointChainCache& c = ConvertedSettings(session);

  PointResult r;
  if (session.settings.optSevPar) {
    r = SevenParameterChain(session, c, first, second, height);
  } else if (session.settings.optTranslation) {
    first = first + c.dx();
    second = second + c.dy();
    height = height + c.dh();
    r.values = {first, second, height};
    r.size = 3;
  } else {
    throw RunTimeError(errnum::kOutOfRange, "weder 7 Parameter Transformation noch Translation");
  }
  FinishPoint(session, r);
  return r;
}

std::size_t TransformPoints(Session& session, ChainedPoint* points, std::size_t n,
                            std::exception_ptr& failure) {
  // The seven-parameter chain (grid steps included) runs stage by stage over a
  // group of points: the points of a stage do not wait for one another, so
  // the processor overlaps their long chains of dependent operations. The
  // results are the same bits as point by point. Anything that fails, and
  // every other mode, goes point by point from the group's start, which
  // stops at the first failing point as TransformPoint would.
  for (std::size_t done = 0; done < n;) {
    const std::size_t group = std::min(n - done, kChainGroup);
    ChainedPoint* const pts = points + done;
    PointChainCache& c = ConvertedSettings(session);
    bool ok = session.settings.optSevPar;
    if (ok) {
      std::array<ChainState, kChainGroup> state;
      std::array<double, kChainGroup> first{}, second{};
      try {
        for (std::size_t k = 0; k < group; ++k) {
          first[k] = pts[k].first;
          second[k] = pts[k].second;
          InputStage(session, c, first[k], second[k], pts[k].height, state[k]);
        }
        for (std::size_t k = 0; k < group; ++k) DatumStage(c, state[k]);
        for (std::size_t k = 0; k < group; ++k) {
          OutputStage(session, c, first[k], second[k], state[k]);
        }
      } catch (const std::exception&) {
        ok = false;
      }
      if (ok) {
        for (std::size_t k = 0; k < group; ++k) {
          pts[k].first = first[k];
          pts[k].second = second[k];
          pts[k].result = state[k].r;
          try {
            FinishPoint(session, pts[k].result);  // the event pass may stop the job (Ctrl+C)
          } catch (const std::exception&) {
            failure = std::current_exception();
            return done + k;
          }
        }
      }
    }
    if (!ok) {
      for (std::size_t k = 0; k < group; ++k) {
        try {
          pts[k].result = TransformPoint(session, pts[k].first, pts[k].second, pts[k].height);
        } catch (const std::exception&) {
          failure = std::current_exception();
          return done + k;
        }
      }
    }
    done += group;
  }
  return n;
}

}  // namespace pelmo
