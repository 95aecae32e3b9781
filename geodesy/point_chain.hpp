// The point chain: one point from the input reference system into the
// output reference system, by translation or by the seven-parameter chain.
#pragma once

#include <array>
#include <cstddef>

#include "core/settings.hpp"

namespace pelmo {

/// Result of TransformPoint: 3 values (translation mode, "Ell" output) or 2
/// (projected outputs).
struct PointResult {
  std::array<double, 3> values{};
  std::size_t size = 0;
  double operator[](std::size_t i) const { return values[i]; }
};

/// Transforms one point. `first`, `second` and `height` are laid out for the
/// input projection (easting or longitude first). In translation mode
/// `height` becomes height + txtDH; `first` and `second` are working storage.
/// Lets the front end process its events once, as the last action.
/// Throws RunTimeError (conversion error 13, floating-point faults).
PointResult TransformPoint(Session& session, double& first, double& second, double& height);

}  // namespace pelmo
