// Job settings shared by the engine tests and the fuzz targets.
#pragma once

#include "core/settings.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::test {

/// Seven-parameter mode, Bessel 1841 on both sides, zero sets, between the
/// start-up projections (Krovak to GK-Germ).
inline void UseBesselOnBothSides(Session& s) {
  TransformSettings& t = s.settings;
  t.optSevPar = true, t.optTranslation = false;
  t.txtEll1a = t.txtEll2a = "6377397.155", t.txtEll1e = t.txtEll2e = "0.0816968312225269";
  s.MeridianCoeffs = geotra::MeridianArcCoeffs(6377397.155, 0.0816968312225269);
  s.Touch();
}

/// GK-Germ (meridian 15, Bessel) to UTM zone 33 (GRS 1980) with the DHDN
/// parameters of EPSG:1776 (coordinate frame) as the first set.
inline void UseGkToUtmDhdn(Session& s) {
  UseBesselOnBothSides(s);
  TransformSettings& t = s.settings;
  t.optInKrovak = t.optOutGK = false, t.optInGK = t.optOUTetrs = true;
  t.txtEll2a = "6378137", t.txtEll2e = "0.0818191910428158", t.txtP1 = "598.1", t.txtP2 = "73.7", t.txtP3 = "418.2";
  t.txtP4 = "6.7", t.txtP5 = "2.455", t.txtP6 = "-0.045", t.txtP7 = "-0.202";  // rotations about Z, Y, X
  s.OptionValues[opt::kGKBM] = s.OptionValues[opt::kUTMBM2] = "15", s.OptionValues[opt::kUTMma2] = "0.9996";
  s.MeridianCoeffs = geotra::MeridianArcCoeffs(6378137, 0.0818191910428158);
  s.Touch();
}

}  // namespace pelmo::test
