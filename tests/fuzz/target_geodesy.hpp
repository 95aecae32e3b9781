// Fuzz target: XYZToBLH and KrovakToBL on arbitrary doubles (X, Y, Z, a, e
// and a mode byte): each returns finite values or raises a floating-point
// fault, and returns at all (libFuzzer's time limit catches a hang). The
// mode takes arbitrary ellipsoids or Bessel 1841 or GRS 1980, and arbitrary
// coordinates or ones within ten Earth radii (Krovak: 2000 km).
#pragma once

#include <cmath>
#include <cstring>

#include "core/errors.hpp"
#include "fuzz_support.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::fuzz {

inline int FuzzGeodesy(const std::uint8_t* data, std::size_t size) {
  double v[5];
  if (size < sizeof v) return 0;
  std::memcpy(v, data, sizeof v);
  const unsigned mode = size > sizeof v ? data[sizeof v] : 0;
  if (mode % 3 == 1) v[3] = 6377397.155, v[4] = 0.0816968312225275;
  if (mode % 3 == 2) v[3] = 6378137, v[4] = 0.0818191910428158;
  const auto fold = [&](double x, double range) { return (mode / 3) % 2 && std::isfinite(x) ? std::fmod(x, range) : x; };
  const auto finite = [](const auto& r) {
    for (const double x : r) Check(std::isfinite(x), "a result of " + std::to_string(x));
  };
  try {
    finite(geotra::XYZToBLH(fold(v[0], 6.4e7), fold(v[1], 6.4e7), fold(v[2], 6.4e7), v[3], v[4]));
  } catch (const FloatingPointFault&) {
  }
  try {
    finite(geotra::KrovakToBL(fold(v[0], 2e6), fold(v[1], 2e6), v[3], v[4]));
  } catch (const FloatingPointFault&) {
  }
  return 0;
}

}  // namespace pelmo::fuzz
