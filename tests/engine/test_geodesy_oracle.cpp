// Accuracy of the evaluation: the geodetic routines and the point chain
// against the same formulas evaluated in long double (64-bit mantissa), the
// latitude iterations run until they stop changing. Grids cover each
// projection's range on two ellipsoids, heights from -1 km to 100 km.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <vector>

#include "core/numtext.hpp"
#include "geodesy/geodesy.hpp"
#include "geodesy/point_chain.hpp"
#include "test_support.hpp"

namespace {

using LD = long double;
using L2 = std::array<LD, 2>;
using L3 = std::array<LD, 3>;
constexpr LD kPiL = 3.14159265358979L;  // the program's decimal pi
constexpr LD kRho = kPiL / 180;
constexpr LD kQuarter = kPiL / 4;

// ------------------------------------------------------------ the formulas in long double
namespace ld {

std::array<LD, 6> ArcCoeffs(LD a, LD e) {
  const LD p2 = e * e / (1 - e * e), p4 = p2 * p2, p6 = p4 * p2, p8 = p4 * p4, p10 = p8 * p2;
  const LD c = a / std::sqrt(1 - e * e);
  return {c * (1 - 3.L / 4 * p2 + 45.L / 64 * p4 - 175.L / 256 * p6 + 11025.L / 16384 * p8 -
               43659.L / 65536 * p10),
          c / 2 * (3.L / 4 * p2 - 15.L / 16 * p4 + 525.L / 512 * p6 - 2205.L / 2048 * p8 +
                   72765.L / 65536 * p10),
          c / 4 * (15.L / 64 * p4 - 105.L / 256 * p6 + 2205.L / 4096 * p8 - 10395.L / 16384 * p10),
          c / 6 * (35.L / 512 * p6 - 315.L / 2048 * p8 + 31185.L / 131072 * p10),
          c / 8 * (315.L / 16384 * p8 - 3465.L / 65536 * p10), c / 10 * (693.L / 131072 * p10)};
}

L2 BLToGK(LD B, LD l, LD a, LD e, const std::array<LD, 6>& c) {
  const LD s = std::sin(B), cb = std::cos(B), t = std::tan(B), e2 = e * e, l2 = l * l;
  const LD N = a / std::sqrt(1 - s * s * e2), h2 = cb * cb * e2 / (1 - e2), h4 = h2 * h2;
  const LD t2 = t * t, t4 = t2 * t2, t6 = t4 * t2, c3 = std::pow(cb, 3), c5 = std::pow(cb, 5);
  const LD c7 = std::pow(cb, 7);
  const LD G = c[0] * B - c[1] * std::sin(2 * B) + c[2] * std::sin(4 * B) -
               c[3] * std::sin(6 * B) + c[4] * std::sin(8 * B) - c[5] * std::sin(10 * B);
  const LD a1 = cb * N, a2 = cb * cb / 2 * t * N, a3 = c3 / 6 * N * (1 - t2 + h2);
  const LD a4 = c3 / 24 * N * s * (5 - t2 + 9 * h2 + 4 * h4);
  const LD a5 =
      c5 / 120 * N * (5 - 18 * t2 + t4 + 14 * h2 - 58 * t2 * h2 + 13 * h4 - 64 * t2 * h4);
  const LD a6 = c5 / 720 * N * s * (61 - 58 * t2 + t4 + 270 * h2 - 330 * t2 * h2);
  const LD a7 = c7 / 5040 * N * (61 - 479 * t2 + 179 * t4 - t6);
  const LD a8 = c7 / 40320 * N * s * (1385 - 3111 * t2 + 543 * t4 - t6);
  return {G + a2 * l2 + a4 * l2 * l2 + a6 * std::pow(l, 6) + a8 * std::pow(l, 8),
          a1 * l + a3 * l2 * l + a5 * std::pow(l, 5) + a7 * std::pow(l, 7)};
}

L2 GKToBL(LD x, LD y, LD a, LD e) {
  const LD e2 = e * e, q = 1 - std::sqrt(1 - e2), n = q / (2 - q);
  const LD sg = x / ((n * n / 4 + 1 + std::pow(n, 4) / 64) * (a / (n + 1)));
  const LD Bf = sg + 1.5L * (n - 9.L / 16 * n * n * n) * std::sin(2 * sg) +
                21.L / 16 * n * n * std::sin(4 * sg) + 151.L / 96 * n * n * n * std::sin(6 * sg);
  const LD s = std::sin(Bf), c = std::cos(Bf), w = 1 - s * s * e2, t = std::tan(Bf);
  const LD N = a / std::sqrt(w), M = (1 - e2) * a / std::pow(w, 1.5L);
  const LD h2 = c * c * e2 / (1 - e2), t2 = t * t, N3 = N * N * N;
  const LD b1 = 1 / (c * N), b2 = -t / (2 * M * N), b3 = -(h2 + 2 * t2 + 1) / (N3 * 6 * c);
  const LD b4 = t / (N3 * M * 24) * (5 + 3 * t2 + h2 - 9 * t2 * h2 - 4 * h2 * h2);
  const LD b5 = 1 / (N3 * N * N * 120 * c) * (5 + 28 * t2 + 24 * t2 * t2 + 6 * h2 + 8 * t2 * h2);
  return {Bf + b2 * y * y + b4 * std::pow(y, 4), b1 * y + b3 * std::pow(y, 3) + b5 * std::pow(y, 5)};
}

L3 BLHToXYZ(LD B, LD L, LD h, LD a, LD e) {
  const LD N = a / std::sqrt(1 - std::sin(B) * std::sin(B) * e * e);
  return {(N + h) * std::cos(B) * std::cos(L), (N + h) * std::cos(B) * std::sin(L),
          ((1 - e * e) * N + h) * std::sin(B)};
}

L3 XYZToBLH(LD X, LD Y, LD Z, LD a, LD e) {
  const LD p = std::sqrt(X * X + Y * Y), e2 = e * e;
  const LD L = std::atan(Y / X) + (X >= 0 ? 0 : Y < 0 ? -kPiL : kPiL);
  const auto N = [&](LD B) { return a / std::sqrt(1 - std::sin(B) * std::sin(B) * e2); };
  LD B = std::atan(Z / p);
  for (int pass = 0; pass < 200; ++pass) {  // to the fixed point
    const LD next = std::atan((N(B) * e2 * std::sin(B) + Z) / p);
    if (next == B) break;
    B = next;
  }
  return {B, L, std::fabs(X) >= std::fabs(Y) ? X / (std::cos(B) * std::cos(L)) - N(B)
                                             : Y / (std::cos(B) * std::sin(L)) - N(B)};
}

L3 Helmert(const L3& v, const std::array<double, 7>& p) {
  constexpr LD kArcSec = 206264.806247096L;
  const LD g = p[4] / kArcSec, b = p[5] / kArcSec, al = p[6] / kArcSec, k = p[3] * 1e-6L + 1;
  const LD cg = std::cos(g), sg = std::sin(g), cb = std::cos(b), sb = std::sin(b),
           ca = std::cos(al), sa = std::sin(al);
  const LD R[3][3] = {{cg * cb, cg * sb * sa + sg * ca, sg * sa - cg * sb * ca},
                      {-sg * cb, cg * ca - sg * sb * sa, sg * sb * ca + cg * sa},
                      {sb, -cb * sa, cb * ca}};
  L3 r{};
  for (int i = 0; i < 3; ++i) r[i] = (R[i][0] * v[0] + R[i][1] * v[1] + R[i][2] * v[2]) * k + p[i];
  return r;
}

LD ArcSin(LD x) { return x == 1 || x == -1 ? x * kPiL / 2 : std::atan(x / std::sqrt(1 - x * x)); }

/// The Krovak projection; S0 as formed by the forward (78.5 pi / 180) or the
/// inverse routine (the evaluated product / 180).
struct Krovak {
  LD e, BK, t0, n, r0, S0, alpha = kPiL / 2 - (42.L / 60 + 59 + 42.6968L / 3600) * kRho;
  Krovak(LD a, LD e_, bool forward) : e(e_) {
    const LD phiC = 155.5088363526946L / 180, e2 = e * e, sC = std::sin(phiC);
    S0 = forward ? (30.L / 60 + 78) * kPiL / 180 : 246.61502330679852L / 180;
    BK = std::sqrt(std::pow(std::cos(phiC), 4) * e2 / (1 - e2) + 1);
    t0 = std::tan(ArcSin(sC / BK) / 2 + kQuarter) / std::pow(std::tan(phiC / 2 + kQuarter), BK) *
         std::pow((1 + e * sC) / (1 - e * sC), BK * e / 2);
    n = std::sin(S0);
    r0 = std::sqrt(1 - e2) * a / (1 - sC * sC * e2) * 0.9999L / std::tan(S0);
  }
  L2 Forward(LD phi, LD lambda) const {
    const LD q = std::pow((1 + e * std::sin(phi)) / (1 - e * std::sin(phi)), BK * e / 2);
    const LD U = 2 * (std::atan(std::pow(std::tan(phi / 2 + kQuarter), BK) * t0 / q) - kQuarter);
    const LD V = ((30.L / 60 + 42) * kRho - ((40.L / 60 + 17) * kRho + lambda)) * BK;
    const LD T = ArcSin(std::cos(U) * std::sin(alpha) * std::cos(V) + std::sin(U) * std::cos(alpha));
    const LD D = ArcSin(std::sin(V) * std::cos(U) / std::cos(T));
    const LD r = std::pow(std::tan(S0 / 2 + kQuarter), n) * r0 / std::pow(std::tan(T / 2 + kQuarter), n);
    return {r * std::cos(D * n), r * std::sin(D * n)};
  }
  L2 Inverse(LD X, LD Y) const {
    const LD D = std::atan(Y / X) / n;
    const LD T = 2 * (std::atan(std::pow(r0 / std::sqrt(X * X + Y * Y), 1 / n) *
                                std::tan(S0 / 2 + kQuarter)) - kQuarter);
    const LD U = ArcSin(std::sin(T) * std::cos(alpha) - std::cos(T) * std::sin(alpha) * std::cos(D));
    const LD V = ArcSin(std::sin(D) * std::cos(T) / std::cos(U));
    const LD sphere = std::pow(t0, -1 / BK) * std::pow(std::tan(U / 2 + kQuarter), 1 / BK);
    LD phi = U;
    for (int pass = 0; pass < 200; ++pass) {  // to the fixed point
      const LD eS = e * std::sin(phi);
      const LD next = 2 * (std::atan(sphere * std::pow((1 + eS) / (1 - eS), e / 2)) - kQuarter);
      if (next == phi) break;
      phi = next;
    }
    return {phi, (50.L / 60 + 24) * kRho - V / BK};
  }
};

}  // namespace ld

// ------------------------------------------------------------ grids and differences

struct Ellipsoid {
  double a, e;
};
constexpr Ellipsoid kBessel{6377397.155, 0.0816968312225275}, kGrs80{6378137, 0.0818191910428158};

/// Latitudes and longitudes (deg), off the round values so that no term
/// vanishes by accident, and heights (m).
struct Area {
  double b0, b1, db, l0, l1, dl;
  std::vector<double> heights{0};
};
void Walk(const Area& a, const std::function<void(double, double, double)>& f) {
  for (const double h : a.heights) {
    for (double B = a.b0 + 0.137; B <= a.b1; B += a.db) {
      for (double L = a.l0 + 0.0731; L <= a.l1; L += a.dl) f(B, L, h);
    }
  }
}

/// Largest difference of the values from..to-1 from the oracle's.
template <std::size_t N>
double Diff(const std::array<double, N>& v, const std::array<LD, N>& o, std::size_t from = 0,
            std::size_t to = N) {
  LD w = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (i >= from && i < to) w = std::max(w, std::fabs(v[i] - o[i]));
  }
  return static_cast<double>(w);
}
template <std::size_t N>
std::array<double, N> Rounded(const std::array<LD, N>& v) {
  std::array<double, N> r{};
  std::copy(v.begin(), v.end(), r.begin());
  return r;
}

// ------------------------------------------------------------ the routines

// How far the formulas as written, evaluated in double, were from their
// long double values: the maximum over the grids of this test, measured once
// with the evaluation that spelt every power through std::pow, summed the
// sines of the meridian arc and of the footpoint one by one and started the
// latitude iteration at atan(Z / p). Each routine may be that far away plus
// 1e-9 m or 1e-14 rad.
constexpr double kMarginMetres = 1e-9, kMarginRadians = 1e-14;
constexpr double kWrittenBLToGK = 5.65e-9, kWrittenGKToBL = 6.7e-16, kWrittenBLHToXYZ = 2e-9,
                 kWrittenXYZToBLHAngles = 6.6e-15, kWrittenXYZToBLHHeight = 2.31e-8,
                 kWrittenBLToKrovak = 1.38e-8, kWrittenKrovakToBL = 9.7e-16;

TEST(GeodesyOracle, EveryRoutineWithinTheWrittenFormulasErrorPlusTheMargin) {
  using namespace pelmo::geotra;
  using Error = std::function<double(const Ellipsoid&, double, double, double)>;
  const Area strip{-80, 84, 2, -4, 4, 0.25}, czechia{47, 51.5, 0.1, 11.5, 23, 0.25},
      world{-89, 89, 2, -180, 180, 7.5, {-1000, 0, 312.5, 8848, 30000, 100000}};
  const auto geographic = [](std::size_t from, std::size_t to) -> Error {
    return [=](const Ellipsoid& E, double B, double L, double h) {
      const auto X = Rounded(ld::BLHToXYZ(B * kRho, L * kRho, h, E.a, E.e));
      return Diff(XYZToBLH(X[0], X[1], X[2], E.a, E.e), ld::XYZToBLH(X[0], X[1], X[2], E.a, E.e),
                  from, to);
    };
  };
  const struct {
    const char* routine;
    double allowed;
    const Area& area;
    Error error;  // at latitude, longitude (deg), height (m)
  } cases[] = {
      {"BLToGK", kWrittenBLToGK + kMarginMetres, strip,
       [](const Ellipsoid& E, double B, double l, double) {
         const auto c = MeridianArcCoeffs(E.a, E.e);
         const double b = B * kPi / 180, dl = l * kPi / 180;
         return Diff(BLToGK(b, dl, E.a, E.e, c[0], c[1], c[2], c[3], c[4], c[5]),
                     ld::BLToGK(b, dl, E.a, E.e, {c[0], c[1], c[2], c[3], c[4], c[5]}));
       }},
      {"GKToBL", kWrittenGKToBL + kMarginRadians, strip,
       [](const Ellipsoid& E, double B, double l, double) {
         const auto xy = Rounded(ld::BLToGK(B * kRho, l * kRho, E.a, E.e, ld::ArcCoeffs(E.a, E.e)));
         return Diff(GKToBL(xy[0], xy[1], E.a, E.e), ld::GKToBL(xy[0], xy[1], E.a, E.e));
       }},
      {"BLHToXYZ", kWrittenBLHToXYZ + kMarginMetres, world,
       [](const Ellipsoid& E, double B, double L, double h) {
         const double b = B * kPi / 180, l = L * kPi / 180;
         return Diff(BLHToXYZ(b, l, h, E.a, E.e), ld::BLHToXYZ(b, l, h, E.a, E.e));
       }},
      {"XYZToBLH B, L", kWrittenXYZToBLHAngles + kMarginRadians, world, geographic(0, 2)},
      {"XYZToBLH h", kWrittenXYZToBLHHeight + kMarginMetres, world, geographic(2, 3)},
      // The sine and cosine of the latitude that the chain hands on.
      {"sin, cos of B", kWrittenXYZToBLHAngles + kMarginRadians, world,
       [](const Ellipsoid& E, double B, double L, double h) {
         const auto X = Rounded(ld::BLHToXYZ(B * kRho, L * kRho, h, E.a, E.e));
         const LD b = ld::XYZToBLH(X[0], X[1], X[2], E.a, E.e)[0];
         const Geographic g = XYZToGeographic(X[0], X[1], X[2], E.a, E.e);
         return Diff(std::array{g.sinB, g.cosB}, L2{std::sin(b), std::cos(b)});
       }},
      {"sin, cos of Bf", kWrittenGKToBL + kMarginRadians, strip,
       [](const Ellipsoid& E, double B, double l, double) {
         const auto xy = Rounded(ld::BLToGK(B * kRho, l * kRho, E.a, E.e, ld::ArcCoeffs(E.a, E.e)));
         const LD b = ld::GKToBL(xy[0], xy[1], E.a, E.e)[0];
         const Geographic g = GKToGeographic(PrepareGaussKrueger(E.a, E.e), xy[0], xy[1]);
         return Diff(std::array{g.sinB, g.cosB}, L2{std::sin(b), std::cos(b)});
       }},
      {"BLToKrovak", kWrittenBLToKrovak + kMarginMetres, czechia,
       [](const Ellipsoid& E, double B, double L, double) {
         const double b = B * kPi / 180, l = L * kPi / 180;
         return Diff(BLToKrovak(b, l, E.a, E.e), ld::Krovak(E.a, E.e, true).Forward(b, l));
       }},
      {"KrovakToBL", kWrittenKrovakToBL + kMarginRadians, czechia,
       [](const Ellipsoid& E, double B, double L, double) {
         const auto xy = Rounded(ld::Krovak(E.a, E.e, true).Forward(B * kRho, L * kRho));
         return Diff(KrovakToBL(xy[0], xy[1], E.a, E.e),
                     ld::Krovak(E.a, E.e, false).Inverse(xy[0], xy[1]));
       }},
  };
  for (const auto& c : cases) {
    double worst = 0;
    for (const Ellipsoid& E : {kBessel, kGrs80}) {
      Walk(c.area, [&](double B, double L, double h) { worst = std::max(worst, c.error(E, B, L, h)); });
    }
    EXPECT_LE(worst, c.allowed) << c.routine;
    std::printf("%-14s worst %.3g, allowed %.3g\n", c.routine, worst, c.allowed);
  }
}

// ------------------------------------------------------------ the chain

enum class Proj { kGKGerm, kUTM, kGKGeneral, kKrovak, kEll };  // order of the flags below
const char* Name(Proj p) {
  return std::array{"GK-Germ", "UTM", "GK-general", "Krovak", "Ell"}[static_cast<int>(p)];
}

/// One side of the chain: projection, central meridian (deg), scale, false
/// easting (for GK-Germ and UTM the prefix their meridian implies), northing.
struct Side {
  Proj proj;
  double L0 = 0, k = 1, FE = 0, FN = 0;
};
using Set = std::array<double, 7>;

/// The chain in long double: (first, second, height) to (first, second, h).
L3 ChainLD(const Side& in, const Side& out, const Ellipsoid& E1, const Ellipsoid& E2,
           const Set& p, const Set& q, LD first, LD second, LD h) {
  LD B = second * kRho, L = first * kRho;
  if (in.proj == Proj::kKrovak) {
    const LD u = std::fabs(first), v = std::fabs(second);
    const L2 bl = ld::Krovak(E1.a, E1.e, false).Inverse(std::max(u, v), std::min(u, v));
    B = bl[0], L = bl[1], h = 0;
  } else if (in.proj != Proj::kEll) {
    const L2 bl = ld::GKToBL((second - in.FN) / in.k, (first - in.FE) / in.k, E1.a, E1.e);
    B = bl[0], L = in.L0 * kRho + bl[1];
  }
  const L3 X = ld::Helmert(ld::Helmert(ld::BLHToXYZ(B, L, h, E1.a, E1.e), p), q);
  const L3 g = ld::XYZToBLH(X[0], X[1], X[2], E2.a, E2.e);
  if (out.proj == Proj::kEll) return {g[1] / kRho, g[0] / kRho, g[2]};
  if (out.proj == Proj::kKrovak) {
    const L2 xy = ld::Krovak(E2.a, E2.e, true).Forward(g[0], g[1]);
    return {-xy[1], -xy[0], 0};
  }
  const L2 xy = ld::BLToGK(g[0], g[1] - out.L0 * kRho, E2.a, E2.e, ld::ArcCoeffs(E2.a, E2.e));
  return {out.k * xy[1] + out.FE, out.k * xy[0] + out.FN, 0};
}

/// Sets up a session for the chain from `in` to `out` as the window and the
/// job start would.
void Configure(pelmo::Session& s, const Side& in, const Side& out, const Ellipsoid& E1,
               const Ellipsoid& E2, const Set& p, const Set& q) {
  using namespace pelmo::opt;
  using pelmo::FormatShortest;
  pelmo::TransformSettings& t = s.settings;
  t.optSevPar = true, t.optTranslation = false;
  bool* const flags[2][5] = {
      {&t.optInGK, &t.optINetrs, &t.optINGKallgemein, &t.optInKrovak, &t.optInBL},
      {&t.optOutGK, &t.optOUTetrs, &t.optOutGKallgemein, &t.optOutKrovak, &t.optOutBL}};
  // Entries of L0 (GK-Germ, UTM, GK-general), k (UTM, GK-general), FE, FN;
  // only those of the chosen projection are read.
  constexpr int kOptions[2][7] = {
      {kGKBM, kUTMBM, kINmeridian, kUTMma, kINscale, kINeasting, kINnorthing},
      {kGKBM2, kUTMBM2, kOUTmeridian, kUTMma2, kOUTscale, kOUTeasting, kOUTnorthing}};
  for (int side = 0; side < 2; ++side) {
    const Side& d = side == 0 ? in : out;
    for (int i = 0; i < 5; ++i) *flags[side][i] = i == static_cast<int>(d.proj);
    const double values[] = {d.L0, d.L0, d.L0, d.k, d.k, d.FE, d.FN};
    for (int i = 0; i < 7; ++i) s.OptionValues[kOptions[side][i]] = FormatShortest(values[i]);
  }
  t.txtEll1a = FormatShortest(E1.a), t.txtEll1e = FormatShortest(E1.e);
  t.txtEll2a = FormatShortest(E2.a), t.txtEll2e = FormatShortest(E2.e);
  for (int i = 0; i < 7; ++i) {
    *t.SevenParFields(1)[i] = FormatShortest(p[i]);
    *t.SevenParFields(2)[i] = FormatShortest(q[i]);
  }
  s.MeridianCoeffs = pelmo::geotra::MeridianArcCoeffs(E2.a, E2.e);
  s.Touch();
}

TEST(GeodesyOracle, ChainWithinATenthOfAMicrometre) {
  constexpr double kChainMetres = 1e-7, kMetresPerDegree = 6.4e6 * static_cast<double>(kRho);
  const std::vector<double> h{-1000, 250, 100000};
  const Side gk15{Proj::kGKGerm, 15, 1, 5.5e6}, gk9{Proj::kGKGerm, 9, 1, 3.5e6},
      utm33{Proj::kUTM, 15, 0.9996, 33.5e6}, utm32{Proj::kUTM, 9, 0.9996, 32.5e6},
      krovak{Proj::kKrovak}, ell{Proj::kEll}, gkIn{Proj::kGKGeneral, 16.5, 0.9999, 250000, -1000},
      gkOut{Proj::kGKGeneral, 12, 0.9998, 750000, 100};
  const Set dhdn{598.1, 73.7, 418.2, 6.7, 2.455, -0.045, -0.202};      // EPSG 1776
  const Set sjtsk{570.8, 85.7, 462.8, 3.56, -5.261, -1.587, -4.998};   // EPSG 1622
  const Set toDhdn{-598.1, -73.7, -418.2, -6.7, -2.455, 0.045, 0.202}, none{};
  const Set toSjtsk{-570.8, -85.7, -462.8, -3.56, 5.261, 1.587, 4.998};
  const struct {
    Side in, out;
    Ellipsoid e1, e2;
    Set p, q;
    Area area;  // second and first input value (northing, easting; latitude, longitude)
  } cases[] = {
      {gk15, utm33, kBessel, kGrs80, dhdn, none, {5.25e6, 6.1e6, 6e4, 5.3e6, 5.7e6, 3e4, h}},
      {utm32, gk9, kGrs80, kBessel, none, toDhdn, {5.25e6, 6.1e6, 6e4, 32.3e6, 32.7e6, 3e4, h}},
      {krovak, ell, kBessel, kGrs80, sjtsk, none, {-1.23e6, -0.94e6, 2e4, -8.8e5, -4.4e5, 3e4, h}},
      {ell, krovak, kGrs80, kBessel, toSjtsk, none, {47.8, 51, 0.25, 12.2, 22.5, 0.8, h}},
      {gkIn, gkOut, kBessel, kGrs80, dhdn, toDhdn, {-6.6e6, 7.7e6, 1e6, 5e4, 4.5e5, 3e4, h}},
      {ell, ell, kGrs80, kBessel, toDhdn, none, {-89, 89, 13, -180, 180, 27, h}},
  };
  for (const auto& c : cases) {
    pelmo::test::RecordingFrontEnd fe;
    pelmo::Session s(fe);
    Configure(s, c.in, c.out, c.e1, c.e2, c.p, c.q);
    const bool toEll = c.out.proj == Proj::kEll;
    double worst = 0;
    std::vector<pelmo::ChainedPoint> one, together;  // point by point, and in groups
    Walk(c.area, [&](double second, double first, double height) {
      together.push_back({first, second, height, {}});
      const L3 o = ChainLD(c.in, c.out, c.e1, c.e2, c.p, c.q, first, second, height);
      const pelmo::PointResult r = pelmo::TransformPoint(s, first, second, height);
      one.push_back({first, second, height, r});
      worst = std::max({worst, Diff<2>({r[0], r[1]}, {o[0], o[1]}) * (toEll ? kMetresPerDegree : 1),
                        toEll ? static_cast<double>(std::fabs(r[2] - o[2])) : 0});
    });
    EXPECT_LE(worst, kChainMetres) << Name(c.in.proj) << " to " << Name(c.out.proj);
    // In groups: the same bits, an event pass each; a point that faults (a
    // value that is not a number) ends them there, every point before it done.
    const std::size_t bad = together.size() / 2 + 3;
    together[bad].first = std::numeric_limits<double>::quiet_NaN();
    std::exception_ptr failure;
    const long passes = fe.eventPasses;
    EXPECT_EQ(pelmo::TransformPoints(s, together.data(), together.size(), failure), bad);
    EXPECT_TRUE(failure != nullptr && fe.eventPasses - passes == static_cast<long>(bad));
    for (std::size_t k = 0; k < bad; ++k) {
      const pelmo::ChainedPoint &a = one[k], &b = together[k];
      EXPECT_TRUE(a.first == b.first && a.second == b.second && a.height == b.height &&
                  a.result.values == b.result.values && a.result.size == b.result.size &&
                  std::memcmp(&a.result.inLon, &b.result.inLon, 2 * sizeof(double)) == 0)
          << Name(c.in.proj) << " to " << Name(c.out.proj) << ", point " << k;
    }
    std::printf("%s to %s: worst %.3g m\n", Name(c.in.proj), Name(c.out.proj), worst);
  }
}

}  // namespace
