// Fuzz target: the ellipsoid and seven-parameter readers. Any bytes give
// nothing or finite numbers; what is read, written back as one line with
// the name quoted, reads back the same; a seven-parameter file read as an
// ellipsoid file gives its first three values; a failed load changes nothing.
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
  const auto same = [](double a, double b) { return std::isfinite(a) && a == b && std::signbit(a) == std::signbit(b); };
  const auto line = [](const std::string& name, const double* v, int n) {
    std::string l = "\"";
    for (const char c : name) l += c == '"' ? "\"\"" : std::string(1, c);
    for (int i = 0; i < n; ++i) l += (i ? "," : "\",") + FormatShortest(v[i]);
    return l + "\r\n";
  };
  if (ell) {
    const double v[2] = {ell->a, ell->e};
    WriteFile(back, line(ell->name, v, 2));
    const auto again = ReadEllipsoidFile(back);
    Check(again && again->name == ell->name && same(again->a, ell->a) && same(again->e, ell->e), "ellipsoid " + ell->name);
  }
  if (par) {
    WriteFile(back, line(par->name, par->p.data(), 7));
    const auto again = ReadSevenParFile(back);
    Check(again && again->name == par->name && ell && same(ell->a, par->p[0]) && same(ell->e, par->p[1]), "set " + par->name);
    for (std::size_t i = 0; i < 7; ++i) Check(same(again->p[i], par->p[i]), "value " + std::to_string(i + 1));
  }
  TransformSettings s;
  Check(LoadEllipsoidFile(path, s, 2, ',') == ell.has_value() && LoadSevenParFile(path, s, 1, ',') == par.has_value(),
        "the loaders disagree with the readers");
  Check(ell || s.txtBezEll2 + s.txtEll2a + s.txtEll2e == "000", "a failed load changed group 2");
  Check(par || s.txtsevenParSys + s.txtP1 + s.txtP7 == "no Transformation00", "a failed load changed set 1");
  return 0;
}

}  // namespace pelmo::fuzz
