// Fuzz target: the ellipsoid and seven-parameter readers. Any bytes give
// nothing or finite numbers; what is read, written back as one line with
// the name quoted, reads back the same; the first three values of a
// seven-parameter file read as an ellipsoid file alike; a failed load
// changes nothing.
#pragma once

#include <cmath>

#include "core/numtext.hpp"
#include "fuzz_support.hpp"
#include "paramfiles/paramsets.hpp"

namespace pelmo::fuzz {

inline int FuzzParamSets(const std::uint8_t* data, std::size_t size) {
  const std::string path = Scratch("in.7pr"), back = Scratch("back.7pr");
  WriteFile(path, AsText(data, size));
  const auto ell = ReadEllipsoidFile(path);
  const auto par = ReadSevenParFile(path);
  const auto same = [](double a, double b) { return a == b && std::signbit(a) == std::signbit(b); };
  const auto line = [](const std::string& name, const double* v, int n) {
    std::string l = "\"";
    for (const char c : name) l += c == '"' ? "\"\"" : std::string(1, c);
    l += "\"";
    for (int i = 0; i < n; ++i) l += "," + FormatShortest(v[i]);
    return l + "\r\n";
  };
  if (ell) {
    const double v[2] = {ell->a, ell->e};
    WriteFile(back, line(ell->name, v, 2));
    const auto again = ReadEllipsoidFile(back);
    Check(std::isfinite(ell->a) && std::isfinite(ell->e), "non-finite ellipsoid");
    Check(again && again->name == ell->name && same(again->a, ell->a) && same(again->e, ell->e),
          "the ellipsoid does not read back: " + ell->name);
  }
  if (par) {
    WriteFile(back, line(par->name, par->p.data(), 7));
    const auto again = ReadSevenParFile(back);
    Check(again && again->name == par->name, "the parameter set does not read back: " + par->name);
    for (std::size_t i = 0; i < 7; ++i) {
      Check(std::isfinite(par->p[i]) && same(again->p[i], par->p[i]), "value " + std::to_string(i + 1));
    }
    Check(ell && ell->name == par->name && same(ell->a, par->p[0]) && same(ell->e, par->p[1]),
          "the first three values read otherwise as an ellipsoid");
  }
  TransformSettings s;
  Check(LoadEllipsoidFile(path, s, 2, ',') == ell.has_value(), "LoadEllipsoidFile disagrees");
  Check(LoadSevenParFile(path, s, 1, ',') == par.has_value(), "LoadSevenParFile disagrees");
  Check(ell || (s.txtBezEll2 == "0" && s.txtEll2a == "0" && s.txtEll2e == "0"), "a failed load changed group 2");
  Check(par || (s.txtsevenParSys == "no Transformation" && s.txtP1 == "0" && s.txtP7 == "0"),
        "a failed load changed set 1");
  return 0;
}

}  // namespace pelmo::fuzz
