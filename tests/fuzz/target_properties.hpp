// Fuzz target: the properties-file reader. Any bytes either fail to load
// with a number a damaged file gives (62 too short, 13 a value of the wrong
// form, 380 a check-box state out of range, 14 a line too long) at a line
// from 1 to 64, or load; what loaded saves, loads and saves to the same bytes.
#pragma once

#include "fuzz_support.hpp"
#include "paramfiles/properties.hpp"

namespace pelmo::fuzz {

inline int FuzzProperties(const std::uint8_t* data, std::size_t size) {
  const std::string in = Scratch("in.par"), first = Scratch("first.par"), second = Scratch("second.par");
  WriteFile(in, AsText(data, size));
  TransformSettings s, s2;
  OptionTable d = DefaultOptionValues('.'), d2 = DefaultOptionValues(',');
  try {
    LoadProperties(in, s, d);
  } catch (const PropertiesError& e) {
    const int n = e.number();
    Check(n == 62 || n == 13 || n == 380 || n == 14, std::string("error ") + e.what());
    Check(e.line() >= 1 && e.line() <= kPropertiesLines && s.txtPAR == in, std::string("line of ") + e.what());
    return 0;
  }
  try {
    SaveProperties(first, s, d);
    LoadProperties(first, s2, d2);
    SaveProperties(second, s2, d2);
  } catch (const PropertiesError& e) {
    Check(false, std::string("a loaded configuration does not save and load again: ") + e.what());
  }
  Check(ReadFile(first) == ReadFile(second), "saved, loaded and saved again differs");
  return 0;
}

}  // namespace pelmo::fuzz
