// Job settings shared by the engine tests and the fuzz harnesses (no test
// framework here).
#pragma once

#include "core/settings.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::test {

// Ellipsoids: semi-major axis and first eccentricity.
inline constexpr const char* kBesselA = "6377397.155";
inline constexpr const char* kBesselE = "0.0816968312225269";
inline constexpr const char* kGrs80A = "6378137";
inline constexpr const char* kGrs80E = "0.0818191910428158";

/// Seven-parameter mode from GK-Germ (meridian 15, Bessel) to UTM zone 33
/// (GRS80), with the DHDN parameters of EPSG:1776 in the coordinate-frame
/// convention as the first set and an identity as the second.
inline void UseGkToUtmDhdn(Session& s) {
  TransformSettings& t = s.settings;
  t.optSevPar = true;
  t.optTranslation = false;
  t.optInKrovak = false;
  t.optInGK = true;
  t.optOutGK = false;
  t.optOUTetrs = true;
  t.txtEll1a = kBesselA;
  t.txtEll1e = kBesselE;
  t.txtEll2a = kGrs80A;
  t.txtEll2e = kGrs80E;
  t.txtP1 = "598.1";
  t.txtP2 = "73.7";
  t.txtP3 = "418.2";
  t.txtP4 = "6.7";
  t.txtP5 = "2.455";   // gamma, about Z
  t.txtP6 = "-0.045";  // beta, about Y
  t.txtP7 = "-0.202";  // alpha, about X
  s.OptionValues[opt::kGKBM] = "15";
  s.OptionValues[opt::kUTMBM2] = "15";
  s.OptionValues[opt::kUTMma2] = "0.9996";
  s.MeridianCoeffs = geotra::MeridianArcCoeffs(6378137, 0.0818191910428158);
  s.Touch();
}

}  // namespace pelmo::test
