// Accuracy of the evaluation: the geodetic routines and the point chain
// against the same formulas evaluated in long double (64-bit mantissa), the
// latitude iterations run until they stop changing. Grids cover each
// projection's range on two ellipsoids, heights from -1 km to 100 km.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/numtext.hpp"
#include "core/settings.hpp"
#include "geodesy/geodesy.hpp"
#include "geodesy/point_chain.hpp"
#include "test_support.hpp"

namespace {

using LD = long double;
using L2 = std::array<LD, 2>;
using L3 = std::array<LD, 3>;
constexpr LD kPiL = 3.14159265358979L;  // the program's decimal pi
constexpr LD kRho = kPiL / 180;

// ------------------------------------------------------------ the formulas in long double

namespace ld {

std::array<LD, 6> ArcCoeffs(LD a, LD e) {
  const LD ep2 = e * e / (1 - e * e), c = a / std::sqrt(1 - e * e);
  const LD p2 = ep2, p4 = p2 * p2, p6 = p4 * p2, p8 = p4 * p4, p10 = p8 * p2;
  return {c * (1 - 3.L / 4 * p2 + 45.L / 64 * p4 - 175.L / 256 * p6 + 11025.L / 16384 * p8 -
               43659.L / 65536 * p10),
          c / 2 * (3.L / 4 * p2 - 15.L / 16 * p4 + 525.L / 512 * p6 - 2205.L / 2048 * p8 +
                   72765.L / 65536 * p10),
          c / 4 * (15.L / 64 * p4 - 105.L / 256 * p6 + 2205.L / 4096 * p8 - 10395.L / 16384 * p10),
          c / 6 * (35.L / 512 * p6 - 315.L / 2048 * p8 + 31185.L / 131072 * p10),
          c / 8 * (315.L / 16384 * p8 - 3465.L / 65536 * p10), c / 10 * (693.L / 131072 * p10)};
}

L2 BLToGK(LD B, LD l, LD a, LD e, const std::array<LD, 6>& c) {
  const LD s = std::sin(B), cb = std::cos(B), t = std::tan(B), e2 = e * e;
  const LD N = a / std::sqrt(1 - s * s * e2), h2 = cb * cb * e2 / (1 - e2), h4 = h2 * h2;
  const LD t2 = t * t, t4 = t2 * t2, t6 = t4 * t2, l2 = l * l;
  const LD G = c[0] * B - c[1] * std::sin(2 * B) + c[2] * std::sin(4 * B) - c[3] * std::sin(6 * B) +
               c[4] * std::sin(8 * B) - c[5] * std::sin(10 * B);
  const LD a1 = cb * N, a2 = cb * cb / 2 * t * N, a3 = std::pow(cb, 3) / 6 * N * (1 - t2 + h2);
  const LD a4 = std::pow(cb, 3) / 24 * N * s * (5 - t2 + 9 * h2 + 4 * h4);
  const LD a5 = std::pow(cb, 5) / 120 * N *
                (5 - 18 * t2 + t4 + 14 * h2 - 58 * t2 * h2 + 13 * h4 - 64 * t2 * h4);
  const LD a6 = std::pow(cb, 5) / 720 * N * s * (61 - 58 * t2 + t4 + 270 * h2 - 330 * t2 * h2);
  const LD a7 = std::pow(cb, 7) / 5040 * N * (61 - 479 * t2 + 179 * t4 - t6);
  const LD a8 = std::pow(cb, 7) / 40320 * N * s * (1385 - 3111 * t2 + 543 * t4 - t6);
  return {G + a2 * l2 + a4 * l2 * l2 + a6 * std::pow(l, 6) + a8 * std::pow(l, 8),
          a1 * l + a3 * l2 * l + a5 * std::pow(l, 5) + a7 * std::pow(l, 7)};
}

L2 GKToBL(LD x, LD y, LD a, LD e) {
  const LD e2 = e * e, q = 1 - std::sqrt(1 - e2), n = q / (2 - q);
  const LD abar = (n * n / 4 + 1 + std::pow(n, 4) / 64) * (a / (n + 1)), sg = x / abar;
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
  LD L = std::atan(Y / X);
  if (X < 0) L += Y < 0 ? -kPiL : kPiL;
  const LD p = std::sqrt(X * X + Y * Y), e2 = e * e;
  LD B = std::atan(Z / p), N = 0;
  for (int pass = 0; pass < 200; ++pass) {  // to the fixed point
    N = a / std::sqrt(1 - std::sin(B) * std::sin(B) * e2);
    const LD next = std::atan((N * e2 * std::sin(B) + Z) / p);
    if (next == B) break;
    B = next;
  }
  N = a / std::sqrt(1 - std::sin(B) * std::sin(B) * e2);
  const LD h = std::fabs(X) >= std::fabs(Y) ? X / (std::cos(B) * std::cos(L)) - N
                                            : Y / (std::cos(B) * std::sin(L)) - N;
  return {B, L, h};
}

L3 Helmert(const L3& v, const std::array<double, 7>& p) {
  const LD g = p[4] / 206264.806247096L, b = p[5] / 206264.806247096L,
           al = p[6] / 206264.806247096L, k = p[3] * 1e-6L + 1;
  const LD cg = std::cos(g), sg = std::sin(g), cb = std::cos(b), sb = std::sin(b),
           ca = std::cos(al), sa = std::sin(al);
  const LD R[3][3] = {{cg * cb, cg * sb * sa + sg * ca, sg * sa - cg * sb * ca},
                      {-sg * cb, cg * ca - sg * sb * sa, sg * sb * ca + cg * sa},
                      {sb, -cb * sa, cb * ca}};
  L3 r{};
  for (int i = 0; i < 3; ++i) r[i] = (R[i][0] * v[0] + R[i][1] * v[1] + R[i][2] * v[2]) * k + p[i];
  return r;
}

LD ArcSin(LD x) { return x == 1 ? kPiL / 2 : x == -1 ? -kPiL / 2 : std::atan(x / std::sqrt(1 - x * x)); }

/// Constants of the Krovak projection; S0 as formed by the forward (78.5 pi
/// / 180) or the inverse routine (the evaluated product / 180).
struct Krovak {
  LD e, BK, t0, n, r0, S0;
  LD alpha = kPiL / 2 - (42.L / 60 + 59 + 42.6968L / 3600) * kRho;
  Krovak(LD a, LD e_, bool forward) : e(e_) {
    const LD phiC = 155.5088363526946L / 180, e2 = e * e, sC = std::sin(phiC);
    S0 = forward ? (30.L / 60 + 78) * kPiL / 180 : 246.61502330679852L / 180;
    BK = std::sqrt(std::pow(std::cos(phiC), 4) * e2 / (1 - e2) + 1);
    const LD A = std::sqrt(1 - e2) * a / (1 - sC * sC * e2), g0 = ArcSin(sC / BK);
    t0 = std::tan(g0 / 2 + kPiL / 4) / std::pow(std::tan(phiC / 2 + kPiL / 4), BK) *
         std::pow((1 + e * sC) / (1 - e * sC), BK * e / 2);
    n = std::sin(S0);
    r0 = A * 0.9999L / std::tan(S0);
  }
  L2 Forward(LD phi, LD lambda) const {
    const LD q = std::pow((1 + e * std::sin(phi)) / (1 - e * std::sin(phi)), BK * e / 2);
    const LD U = 2 * (std::atan(std::pow(std::tan(phi / 2 + kPiL / 4), BK) * t0 / q) - kPiL / 4);
    const LD V = ((30.L / 60 + 42) * kRho - ((40.L / 60 + 17) * kRho + lambda)) * BK;
    const LD T = ArcSin(std::cos(U) * std::sin(alpha) * std::cos(V) + std::sin(U) * std::cos(alpha));
    const LD D = ArcSin(std::sin(V) * std::cos(U) / std::cos(T));
    const LD r = std::pow(std::tan(S0 / 2 + kPiL / 4), n) * r0 / std::pow(std::tan(T / 2 + kPiL / 4), n);
    return {r * std::cos(D * n), r * std::sin(D * n)};
  }
  L2 Inverse(LD X, LD Y) const {
    const LD D = std::atan(Y / X) / n;
    const LD T = 2 * (std::atan(std::pow(r0 / std::sqrt(X * X + Y * Y), 1 / n) *
                                std::tan(S0 / 2 + kPiL / 4)) - kPiL / 4);
    const LD U = ArcSin(std::sin(T) * std::cos(alpha) - std::cos(T) * std::sin(alpha) * std::cos(D));
    const LD V = ArcSin(std::sin(D) * std::cos(T) / std::cos(U));
    const LD sphere = std::pow(t0, -1 / BK) * std::pow(std::tan(U / 2 + kPiL / 4), 1 / BK);
    LD phi = U;
    for (int pass = 0; pass < 200; ++pass) {
      const LD next = 2 * (std::atan(sphere * std::pow((1 + e * std::sin(phi)) /
                                                       (1 - e * std::sin(phi)), e / 2)) - kPiL / 4);
      if (next == phi) break;
      phi = next;
    }
    return {phi, (50.L / 60 + 24) * kRho - V / BK};
  }
};

}  // namespace ld

// ------------------------------------------------------------ the routines

struct Ellipsoid {
  double a, e;
};
constexpr Ellipsoid kEllipsoids[] = {{6377397.155, 0.0816968312225275},  // Bessel 1841
                                     {6378137, 0.0818191910428158}};     // GRS 1980

/// Largest difference of the values (double) from the oracle (long double).
template <std::size_t N>
double Worst(const std::array<double, N>& v, const std::array<LD, N>& o, std::size_t from = 0,
             std::size_t to = N) {
  LD w = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (i >= from && i < to) w = std::max(w, std::fabs(v[i] - o[i]));
  }
  return static_cast<double>(w);
}

/// Calls f(B, l) on a grid of latitudes and longitudes (degrees), off the
/// round values so that no term vanishes by accident.
void Grid(double b0, double b1, double db, double l0, double l1, double dl,
          const std::function<void(double, double)>& f) {
  for (double B = b0 + 0.137; B <= b1; B += db) {
    for (double l = l0 + 0.0731; l <= l1; l += dl) f(B, l);
  }
}

/// Calls f(B, L, h) (radians, metres) on a world-wide grid, heights from
/// -1 km to 100 km.
void Geocentric(const std::function<void(double, double, double)>& f) {
  for (const double h : {-1000.0, 0.0, 312.5, 8848.0, 30000.0, 100000.0}) {
    Grid(-89, 89, 2, -180, 180, 7.5,
         [&](double B, double L) { f(B * pelmo::geotra::kPi / 180, L * pelmo::geotra::kPi / 180, h); });
  }
}

/// Worst difference of XYZToBLH's values from..to over the geocentric grid.
double WorstXYZToBLH(const Ellipsoid& E, std::size_t from, std::size_t to) {
  double w = 0;
  Geocentric([&](double B, double L, double h) {
    const L3 xyz = ld::BLHToXYZ(B, L, h, E.a, E.e);
    const double X = static_cast<double>(xyz[0]), Y = static_cast<double>(xyz[1]),
                 Z = static_cast<double>(xyz[2]);
    w = std::max(w, Worst(pelmo::geotra::XYZToBLH(X, Y, Z, E.a, E.e),
                          ld::XYZToBLH(X, Y, Z, E.a, E.e), from, to));
  });
  return w;
}

// How far the formulas as written, evaluated in double, were from their
// long double values: the maximum over the grids of this test, measured once
// with the evaluation that spelt every power through std::pow, summed the
// sines of the meridian arc and the footpoint one by one and started the
// latitude iteration at atan(Z / p). Each routine may be that far away plus
// 1e-9 m or 1e-14 rad.
constexpr double kMarginMetres = 1e-9, kMarginRadians = 1e-14;
constexpr double kWrittenBLToGK = 5.65e-9, kWrittenGKToBL = 6.7e-16, kWrittenBLHToXYZ = 2e-9,
                 kWrittenXYZToBLHAngles = 6.6e-15, kWrittenXYZToBLHHeight = 2.19e-8,
                 kWrittenBLToKrovak = 1.38e-8, kWrittenKrovakToBL = 9.7e-16;

TEST(GeodesyOracle, EveryRoutineWithinTheWrittenFormulasErrorPlusTheMargin) {
  using namespace pelmo::geotra;
  const struct {
    const char* routine;
    double written, margin;
    std::function<double(const Ellipsoid&)> worst;
  } cases[] = {
      {"BLToGK", kWrittenBLToGK, kMarginMetres, [](const Ellipsoid& E) {
         const auto c = MeridianArcCoeffs(E.a, E.e);
         const std::array<LD, 6> cl = {c[0], c[1], c[2], c[3], c[4], c[5]};
         double w = 0;
         Grid(-80, 84, 2, -4, 4, 0.25, [&](double B, double l) {
           const double b = B * kPi / 180, dl = l * kPi / 180;
           w = std::max(w, Worst(BLToGK(b, dl, E.a, E.e, c[0], c[1], c[2], c[3], c[4], c[5]),
                                 ld::BLToGK(b, dl, E.a, E.e, cl)));
         });
         return w;
       }},
      {"GKToBL", kWrittenGKToBL, kMarginRadians, [](const Ellipsoid& E) {
         const auto cl = ld::ArcCoeffs(E.a, E.e);
         double w = 0;
         Grid(-80, 84, 2, -4, 4, 0.25, [&](double B, double l) {
           const L2 xy = ld::BLToGK(B * kRho, l * kRho, E.a, E.e, cl);
           const double x = static_cast<double>(xy[0]), y = static_cast<double>(xy[1]);
           w = std::max(w, Worst(GKToBL(x, y, E.a, E.e), ld::GKToBL(x, y, E.a, E.e)));
         });
         return w;
       }},
      {"BLHToXYZ", kWrittenBLHToXYZ, kMarginMetres, [](const Ellipsoid& E) {
         double w = 0;
         Geocentric([&](double B, double L, double h) {
           w = std::max(w, Worst(BLHToXYZ(B, L, h, E.a, E.e), ld::BLHToXYZ(B, L, h, E.a, E.e)));
         });
         return w;
       }},
      {"XYZToBLH latitude, longitude", kWrittenXYZToBLHAngles, kMarginRadians,
       [](const Ellipsoid& E) { return WorstXYZToBLH(E, 0, 2); }},
      {"XYZToBLH height", kWrittenXYZToBLHHeight, kMarginMetres,
       [](const Ellipsoid& E) { return WorstXYZToBLH(E, 2, 3); }},
      {"BLToKrovak", kWrittenBLToKrovak, kMarginMetres, [](const Ellipsoid& E) {
         const ld::Krovak k(E.a, E.e, true);
         double w = 0;
         Grid(47, 51.5, 0.1, 11.5, 23, 0.25, [&](double B, double L) {
           const double b = B * kPi / 180, l = L * kPi / 180;
           w = std::max(w, Worst(BLToKrovak(b, l, E.a, E.e), k.Forward(b, l)));
         });
         return w;
       }},
      {"KrovakToBL", kWrittenKrovakToBL, kMarginRadians, [](const Ellipsoid& E) {
         const ld::Krovak fwd(E.a, E.e, true), inv(E.a, E.e, false);
         double w = 0;
         Grid(47, 51.5, 0.1, 11.5, 23, 0.25, [&](double B, double L) {
           const L2 xy = fwd.Forward(B * kRho, L * kRho);
           const double X = static_cast<double>(xy[0]), Y = static_cast<double>(xy[1]);
           w = std::max(w, Worst(KrovakToBL(X, Y, E.a, E.e), inv.Inverse(X, Y)));
         });
         return w;
       }},
  };
  for (const auto& c : cases) {
    double worst = 0;
    for (const Ellipsoid& E : kEllipsoids) worst = std::max(worst, c.worst(E));
    EXPECT_LE(worst, c.written + c.margin) << c.routine;
    RecordProperty(std::string("worst_") + c.routine, pelmo::FormatShortest(worst));
    std::printf("%-22s worst %.3g, allowed %.3g\n", c.routine, worst, c.written + c.margin);
  }
}

// ------------------------------------------------------------ the chain

/// Projections as the chain reads them, in the order of Side's options.
enum class Proj { kGKGerm, kUTM, kGKGeneral, kKrovak, kEll };

/// One side of the chain: the projection and its central meridian (deg),
/// scale and false origin (GK-general; GK-Germ and UTM imply theirs).
struct Side {
  Proj proj;
  double L0 = 0, k = 1, FE = 0, FN = 0;
  LD Easting() const {
    if (proj == Proj::kGKGerm) return LD(L0) / 3 * 1e6L + 5e5L;
    if (proj == Proj::kUTM) return ((LD(L0) + 177) / 6 + 1) * 1e6L + 5e5L;
    return FE;
  }
};

using Set = std::array<double, 7>;
constexpr Set kDhdn{598.1, 73.7, 418.2, 6.7, 2.455, -0.045, -0.202};         // EPSG 1776
constexpr Set kSjtsk{570.8, 85.7, 462.8, 3.56, -5.261, -1.587, -4.998};      // EPSG 1622
constexpr Set kToDhdn{-598.1, -73.7, -418.2, -6.7, -2.455, 0.045, 0.202};
constexpr Set kToSjtsk{-570.8, -85.7, -462.8, -3.56, 5.261, 1.587, 4.998};

/// The chain in long double: (first, second, height) to (first, second, h).
L3 ChainLD(const Side& in, const Side& out, const Ellipsoid& E1, const Ellipsoid& E2,
           const Set& p, const Set& q, LD first, LD second, LD h) {
  LD B = second * kRho, L = first * kRho;
  if (in.proj == Proj::kKrovak) {
    first = std::fabs(first), second = std::fabs(second);
    const L2 bl = ld::Krovak(E1.a, E1.e, false).Inverse(std::max(first, second),
                                                        std::min(first, second));
    B = bl[0], L = bl[1], h = 0;
  } else if (in.proj != Proj::kEll) {
    const L2 bl = ld::GKToBL((second - in.FN) / in.k, (first - in.Easting()) / in.k, E1.a, E1.e);
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
  return {out.k * xy[1] + out.Easting(), out.k * xy[0] + out.FN, 0};
}

/// A session that runs the chain from `in` to `out`, set up as the window
/// and the job start would.
void Configure(pelmo::Session& s, const Side& in, const Side& out, const Ellipsoid& E1,
               const Ellipsoid& E2, const Set& p, const Set& q) {
  using namespace pelmo::opt;
  pelmo::TransformSettings& t = s.settings;
  t.optSevPar = true;
  t.optTranslation = false;
  bool* const ins[] = {&t.optInGK, &t.optINetrs, &t.optINGKallgemein, &t.optInKrovak, &t.optInBL};
  bool* const outs[] = {&t.optOutGK, &t.optOUTetrs, &t.optOutGKallgemein, &t.optOutKrovak,
                        &t.optOutBL};
  // Option entries of L0, k, FE, FN for GK-Germ, UTM, GK-general, in and out.
  constexpr int kOptions[2][3][4] = {
      {{kGKBM, -1, -1, -1}, {kUTMBM, kUTMma, -1, -1}, {kINmeridian, kINscale, kINeasting, kINnorthing}},
      {{kGKBM2, -1, -1, -1}, {kUTMBM2, kUTMma2, -1, -1},
       {kOUTmeridian, kOUTscale, kOUTeasting, kOUTnorthing}}};
  for (int side = 0; side < 2; ++side) {
    const Side& d = side == 0 ? in : out;
    const int k = static_cast<int>(d.proj);
    for (int i = 0; i < 5; ++i) *(side == 0 ? ins : outs)[i] = i == k;
    const double values[] = {d.L0, d.k, d.FE, d.FN};
    for (int i = 0; k < 3 && i < 4; ++i) {
      if (kOptions[side][k][i] >= 0) s.OptionValues[kOptions[side][k][i]] = pelmo::FormatShortest(values[i]);
    }
  }
  t.txtEll1a = pelmo::FormatShortest(E1.a), t.txtEll1e = pelmo::FormatShortest(E1.e);
  t.txtEll2a = pelmo::FormatShortest(E2.a), t.txtEll2e = pelmo::FormatShortest(E2.e);
  for (int i = 0; i < 7; ++i) {
    *t.SevenParFields(1)[i] = pelmo::FormatShortest(p[i]);
    *t.SevenParFields(2)[i] = pelmo::FormatShortest(q[i]);
  }
  s.MeridianCoeffs = pelmo::geotra::MeridianArcCoeffs(E2.a, E2.e);
  s.Touch();
}

/// Input values of the point at latitude B, longitude L (deg), height h as
/// the projection `in` lays them out.
std::array<double, 3> InputPoint(const Side& in, const Ellipsoid& E, double B, double L, double h) {
  if (in.proj == Proj::kEll) return {L, B, h};
  if (in.proj == Proj::kKrovak) {
    const L2 xy = ld::Krovak(E.a, E.e, true).Forward(B * kRho, L * kRho);
    return {-static_cast<double>(xy[1]), -static_cast<double>(xy[0]), h};
  }
  const L2 xy = ld::BLToGK(B * kRho, (L - in.L0) * kRho, E.a, E.e, ld::ArcCoeffs(E.a, E.e));
  return {static_cast<double>(in.k * xy[1] + in.Easting()), static_cast<double>(in.k * xy[0] + in.FN), h};
}

TEST(GeodesyOracle, ChainWithinATenthOfAMicrometre) {
  constexpr double kChainMetres = 1e-7, kMetresPerRadian = 6.4e6;
  const Ellipsoid bessel = kEllipsoids[0], grs80 = kEllipsoids[1];
  const Side gk15{Proj::kGKGerm, 15}, gk9{Proj::kGKGerm, 9}, utm33{Proj::kUTM, 15, 0.9996},
      utm32{Proj::kUTM, 9, 0.9996}, krovak{Proj::kKrovak}, ell{Proj::kEll},
      generalIn{Proj::kGKGeneral, 16.5, 0.9999, 250000, -1000},
      generalOut{Proj::kGKGeneral, 12, 0.9998, 750000, 100};
  const struct {
    const char* what;
    Side in, out;
    Ellipsoid e1, e2;
    Set p, q;
    double b0, b1, l0, l1;  // area (deg)
  } cases[] = {
      {"GK-Germ to UTM", gk15, utm33, bessel, grs80, kDhdn, {}, 47, 55.5, 12, 18},
      {"UTM to GK-Germ", utm32, gk9, grs80, bessel, {}, kToDhdn, 47, 55.5, 5, 13},
      {"Krovak to Ell", krovak, ell, bessel, grs80, kSjtsk, {}, 47.8, 51, 12.2, 22.5},
      {"Ell to Krovak", ell, krovak, grs80, bessel, kToSjtsk, {}, 47.8, 51, 12.2, 22.5},
      {"GK-general", generalIn, generalOut, bessel, grs80, kDhdn, kToDhdn, -60, 70, 13, 20},
      {"Ell to Ell", ell, ell, grs80, bessel, kToDhdn, {}, -89, 89, -180, 180},
  };
  for (const auto& c : cases) {
    pelmo::test::RecordingFrontEnd fe;
    pelmo::Session s(fe);
    Configure(s, c.in, c.out, c.e1, c.e2, c.p, c.q);
    const bool toEll = c.out.proj == Proj::kEll;
    double worst = 0;
    for (const double h : {-1000.0, 250.0, 100000.0}) {
      Grid(c.b0, c.b1, (c.b1 - c.b0) / 13, c.l0, c.l1, (c.l1 - c.l0) / 13, [&](double B, double L) {
        auto v = InputPoint(c.in, c.e1, B, L, h);
        const L3 o = ChainLD(c.in, c.out, c.e1, c.e2, c.p, c.q, v[0], v[1], v[2]);
        const pelmo::PointResult r = pelmo::TransformPoint(s, v[0], v[1], v[2]);
        const double unit = toEll ? kMetresPerRadian * static_cast<double>(kRho) : 1;
        worst = std::max({worst, static_cast<double>(std::fabs(r[0] - o[0])) * unit,
                          static_cast<double>(std::fabs(r[1] - o[1])) * unit,
                          toEll ? static_cast<double>(std::fabs(r[2] - o[2])) : 0});
      });
    }
    EXPECT_LE(worst, kChainMetres) << c.what;
    std::printf("%-22s worst %.3g m\n", c.what, worst);
  }
}

}  // namespace
