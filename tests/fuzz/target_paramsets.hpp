// Fuzz target: the ellipsoid and seven-parameter readers.
//
// Any bytes are read as an ellipsoid file and as a seven-parameter file.
// Either reader gives nothing or finite numbers; what it gives, written
// back as one comma-separated line with the name quoted, reads back the
// same; the first three values of a seven-parameter file read as an
// ellipsoid file give the same name and numbers; a failed load changes
// nothing.
#pragma once

#include <cmath>
#include <string>

#include "core/numtext.hpp"
#include "fuzz_support.hpp"
#include "paramfiles/paramsets.hpp"

namespace pelmo::fuzz {

namespace paramsets_detail {

inline std::string Quoted(const std::string& text) {
  std::string q = "\"";
  for (const char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

inline bool Same(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

}  // namespace paramsets_detail

inline int FuzzParamSets(const std::uint8_t* data, std::size_t size) {
  using paramsets_detail::Quoted;
  using paramsets_detail::Same;
  const std::string path = Scratch::File("in.par_set");
  WriteFile(path, AsText(data, size));

  const auto ell = ReadEllipsoidFile(path);
  const auto par = ReadSevenParFile(path);
  if (ell) {
    Check(std::isfinite(ell->a) && std::isfinite(ell->e), "non-finite ellipsoid value");
    const std::string back = Scratch::File("back.ell");
    WriteFile(back, Quoted(ell->name) + "," + FormatShortest(ell->a) + "," +
                        FormatShortest(ell->e) + "\r\n");
    const auto again = ReadEllipsoidFile(back);
    Check(again && again->name == ell->name && Same(again->a, ell->a) && Same(again->e, ell->e),
          "ellipsoid does not read back: " + ell->name);
  }
  if (par) {
    std::string line = Quoted(par->name);
    for (const double v : par->p) {
      Check(std::isfinite(v), "non-finite parameter");
      line += "," + FormatShortest(v);
    }
    const std::string back = Scratch::File("back.7pr");
    WriteFile(back, line + "\r\n");
    const auto again = ReadSevenParFile(back);
    Check(again && again->name == par->name, "parameter set does not read back: " + par->name);
    for (std::size_t i = 0; i < par->p.size(); ++i) {
      Check(Same(again->p[i], par->p[i]), "parameter " + std::to_string(i + 1) + " differs");
    }
    Check(ell && ell->name == par->name && Same(ell->a, par->p[0]) && Same(ell->e, par->p[1]),
          "the first three values read differently as an ellipsoid");
  }

  // The loaders change nothing when they fail.
  TransformSettings s;
  const TransformSettings before = s;
  const bool loadedEll = LoadEllipsoidFile(path, s, 2, ',');
  Check(loadedEll == ell.has_value(), "LoadEllipsoidFile disagrees with ReadEllipsoidFile");
  if (!loadedEll) {
    Check(s.txtBezEll2 == before.txtBezEll2 && s.txtEll2a == before.txtEll2a &&
              s.txtEll2e == before.txtEll2e,
          "a failed ellipsoid load changed the fields");
  } else {
    Check(s.txtEll2a == FormatNumber(ell->a, ',') && s.txtEll2e == FormatNumber(ell->e, ','),
          "ellipsoid fields not in the user's decimal sign");
  }
  const bool loadedPar = LoadSevenParFile(path, s, 1, ',');
  Check(loadedPar == par.has_value(), "LoadSevenParFile disagrees with ReadSevenParFile");
  if (!loadedPar) {
    Check(s.txtsevenParSys == before.txtsevenParSys && s.txtP1 == before.txtP1 &&
              s.txtP7 == before.txtP7,
          "a failed parameter load changed the fields");
  }
  return 0;
}

}  // namespace pelmo::fuzz
