// Fuzz target: the shapefile driver on damaged .shp and .shx files. Input:
// a mode byte, the length of the .shp part (32-bit little-endian), the .shp
// bytes, then the .shx bytes; the attribute table is a small fixed file.
// Mode bit 0 runs the seven-parameter chain (GK-Germ on Bessel to UTM on
// GRS 1980) instead of a translation, bit 1 puts older targets in place.
// The sources stay as they were; a success shows no message and writes the
// targets as long as their headers say; a failure shows one message and
// leaves no target it touched.
#pragma once

#include "../engine/job_setups.hpp"
#include "formats/drivers.hpp"
#include "fuzz_support.hpp"

namespace pelmo::fuzz {

inline int FuzzShapefile(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::size_t shpLen = std::min<std::size_t>(data[1] | data[2] << 8 | data[3] << 16 | std::size_t{data[4]} << 24, size - 5);
  std::string dbf(65, '\0');  // dBASE III: header, one character field NAME, no record
  dbf[0] = 3, dbf[8] = 65, dbf[10] = 11, dbf[43] = 'C', dbf[48] = 10, dbf[64] = 0x0D;
  dbf.replace(32, 4, "NAME");
  const std::string files[] = {std::string(AsText(data + 5, shpLen)), std::string(AsText(data + 5 + shpLen, size - 5 - shpLen)), dbf};
  const std::string old[] = {"alte Hauptdatei", "alter Index", "alte Tabelle"}, exts[] = {"shp", "shx", "dbf"};
  for (int i = 0; i < 3; ++i) {
    WriteFile(Scratch("quelle." + exts[i]), files[i]);
    std::filesystem::remove(Scratch("ziel." + exts[i]));
    if (data[0] & 2) WriteFile(Scratch("ziel." + exts[i]), old[i]);
  }
  QuietFrontEnd fe;
  Session s(fe, ',');
  TransformSettings& t = s.settings;
  t.txtQuelldatei = Scratch("quelle.shp"), t.txtZielDatei = Scratch("ziel.shp");
  t.optSevPar = false, t.optTranslation = true, t.txtDX = "1000,5", t.txtDY = "-2000,25";
  if (data[0] & 1) test::UseGkToUtmDhdn(s);
  const bool ok = TransformShapeFile(s);
  Check(fe.messages == (ok ? 0 : 1), "messages: " + std::to_string(fe.messages) + " " + fe.lastMessage);
  for (int i = 0; i < 3; ++i) {
    const std::string target = ReadFile(Scratch("ziel." + exts[i]));
    Check(ReadFile(Scratch("quelle." + exts[i])) == files[i], "the source ." + exts[i] + " changed");
    Check(ok || !std::filesystem::exists(Scratch("ziel." + exts[i])) || target == old[i], "a failed run left ." + exts[i]);
    std::size_t words = 0;  // the length field of the header counts 16-bit words
    for (int k = 24; k < 28 && i < 2 && ok; ++k) words = words << 8 | static_cast<unsigned char>(files[i][k]);
    Check(!ok || (i == 2 ? target == dbf : target.size() == 2 * words), "target ." + exts[i] + " not as its source says");
  }
  return 0;
}

}  // namespace pelmo::fuzz
