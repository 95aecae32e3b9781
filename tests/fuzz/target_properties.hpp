// Fuzz target: the properties-file reader.
//
// Any bytes are read as a properties file. The load either fails with one
// of the numbers a damaged file gives (62 too short, 13 a value of the wrong
// form, 380 a check-box state out of range, 14 a line too long) at a line
// from 1 to 64, or succeeds; a loaded configuration, saved and loaded again,
// saves to the same bytes (every value survives the round trip).
#pragma once

#include <string>

#include "fuzz_support.hpp"
#include "paramfiles/properties.hpp"

namespace pelmo::fuzz {

inline int FuzzProperties(const std::uint8_t* data, std::size_t size) {
  const std::string in = Scratch::File("in.par");
  WriteFile(in, AsText(data, size));

  TransformSettings s;
  OptionTable d = DefaultOptionValues('.');
  try {
    LoadProperties(in, s, d);
  } catch (const PropertiesError& e) {
    const int n = e.number();
    Check(n == 62 || n == 13 || n == 380 || n == 14, "unexpected error number " +
                                                         std::to_string(n) + ": " + e.what());
    Check(e.line() >= 1 && e.line() <= kPropertiesLines, "error at line " +
                                                             std::to_string(e.line()));
    Check(s.txtPAR == in, "txtPAR not set to the opened file");
    Check(PropertiesErrorMessage(n, false) ==
              std::to_string(n) + "   Fehler Beim Laden der Parameter Datei",
          "load message");
    return 0;
  }
  Check(ReadFile(in) == AsText(data, size), "the file changed while loading");

  const std::string first = Scratch::File("first.par"), second = Scratch::File("second.par");
  try {
    SaveProperties(first, s, d);
    TransformSettings s2;
    OptionTable d2 = DefaultOptionValues(',');
    LoadProperties(first, s2, d2);
    SaveProperties(second, s2, d2);
  } catch (const PropertiesError& e) {
    Fail(std::string("a loaded configuration does not survive saving and loading: ") + e.what());
  }
  Check(ReadFile(first) == ReadFile(second), "saved, loaded and saved again differs");
  return 0;
}

}  // namespace pelmo::fuzz
