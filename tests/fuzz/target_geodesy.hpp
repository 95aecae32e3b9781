// Fuzz target: XYZToBLH and KrovakToBL on arbitrary doubles.
//
// The input gives five doubles (X, Y, Z, a, e) and a mode byte. Each
// routine either raises a floating-point fault or returns finite values,
// and it returns at all (a hang is caught by libFuzzer's time limit). The
// mode chooses arbitrary or real ellipsoids (Bessel 1841, GRS 1980) and
// arbitrary coordinates or coordinates folded into the Earth's
// neighbourhood, where the iterations do their real work.
#pragma once

#include <cmath>
#include <cstring>

#include "core/errors.hpp"
#include "fuzz_support.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::fuzz {

namespace geodesy_detail {

/// A value folded into [-range, range] (non-finite values stay as they are).
inline double Fold(double v, double range) {
  return std::isfinite(v) ? std::fmod(v, range) : v;
}

template <std::size_t N>
void CheckFinite(const std::array<double, N>& r, const char* routine) {
  for (const double v : r) Check(std::isfinite(v), std::string(routine) + " returned " +
                                                       std::to_string(v));
}

}  // namespace geodesy_detail

inline int FuzzGeodesy(const std::uint8_t* data, std::size_t size) {
  using geodesy_detail::CheckFinite;
  using geodesy_detail::Fold;
  constexpr std::size_t kValues = 5;
  if (size < kValues * sizeof(double)) return 0;
  double v[kValues];
  std::memcpy(v, data, sizeof v);
  const unsigned mode = size > sizeof v ? data[sizeof v] : 0;

  double X = v[0], Y = v[1], Z = v[2], a = v[3], e = v[4];
  switch (mode % 3) {
    case 1: a = 6377397.155, e = 0.0816968312225275; break;  // Bessel 1841
    case 2: a = 6378137, e = 0.0818191910428158; break;       // GRS 1980
    default: break;
  }
  if ((mode / 3) % 2 == 1) {
    // Within ten Earth radii; Krovak coordinates within 2000 km.
    X = Fold(X, 6.4e7);
    Y = Fold(Y, 6.4e7);
    Z = Fold(Z, 6.4e7);
  }

  try {
    CheckFinite(geotra::XYZToBLH(X, Y, Z, a, e), "XYZToBLH");
  } catch (const FloatingPointFault&) {
    // A fault is a proper answer.
  }
  const double kx = (mode / 3) % 2 == 1 ? Fold(X, 2e6) : X;
  const double ky = (mode / 3) % 2 == 1 ? Fold(Y, 2e6) : Y;
  try {
    CheckFinite(geotra::KrovakToBL(kx, ky, a, e), "KrovakToBL");
  } catch (const FloatingPointFault&) {
  }
  return 0;
}

}  // namespace pelmo::fuzz
