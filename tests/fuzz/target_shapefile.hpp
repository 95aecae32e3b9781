// Fuzz target: the shapefile driver on damaged .shp and .shx files.
//
// Input: a mode byte, the length of the .shp part (32-bit little-endian),
// the .shp bytes, then the .shx bytes; the attribute table is a small fixed
// file. Mode bit 0 runs the seven-parameter chain (GK-Germ on Bessel to UTM
// on GRS 1980) instead of a translation, bit 1 puts older targets in place.
// After every run the sources are unchanged; a success showed no message
// and wrote the targets (main file and index as long as their headers say,
// the index and both headers copied but for the box, the table a copy); a
// failure showed one message and left no target it had touched.
#pragma once

#include "../engine/job_setups.hpp"
#include "formats/drivers.hpp"
#include "fuzz_support.hpp"

namespace pelmo::fuzz {

inline int FuzzShapefile(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::size_t shpLen = std::min<std::size_t>(data[1] | data[2] << 8 | data[3] << 16 | std::size_t{data[4]} << 24, size - 5);
  const std::string shp(AsText(data + 5, shpLen)), shx(AsText(data + 5 + shpLen, size - 5 - shpLen));
  std::string dbf(65, '\0');  // dBASE III: header, one character field NAME, no record
  dbf[0] = 3, dbf[8] = 65, dbf[10] = 11, dbf[43] = 'C', dbf[48] = 10, dbf[64] = 0x0D;
  dbf.replace(32, 4, "NAME");
  const std::string src = Scratch("quelle."), dst = Scratch("ziel.");
  const std::string sources[] = {shp, shx, dbf}, old[] = {"alte Hauptdatei", "alter Index", "alte Tabelle"};
  const char* const exts[] = {"shp", "shx", "dbf"};
  for (int i = 0; i < 3; ++i) {
    WriteFile(src + exts[i], sources[i]);
    std::filesystem::remove(dst + exts[i]);
    if (data[0] & 2) WriteFile(dst + exts[i], old[i]);
  }
  QuietFrontEnd fe;
  Session s(fe, ',');
  TransformSettings& t = s.settings;
  t.txtQuelldatei = src + "shp", t.txtZielDatei = dst + "shp";
  if (data[0] & 1) {
    test::UseGkToUtmDhdn(s);
  } else {
    t.optSevPar = false, t.optTranslation = true, t.txtDX = "1000,5", t.txtDY = "-2000,25";
  }
  const bool ok = TransformShapeFile(s);
  for (int i = 0; i < 3; ++i) Check(ReadFile(src + exts[i]) == sources[i], std::string("source .") + exts[i] + " changed");
  if (!ok) {
    Check(fe.messages == 1, "not one message but " + std::to_string(fe.messages));
    for (int i = 0; i < 3; ++i) {
      Check(!std::filesystem::exists(dst + exts[i]) || ReadFile(dst + exts[i]) == old[i],
            std::string("a failed run left .") + exts[i] + ": " + fe.lastMessage);
    }
    return 0;
  }
  Check(fe.messages == 0, "a message after success: " + fe.lastMessage);
  const std::string main = ReadFile(dst + "shp"), index = ReadFile(dst + "shx");
  const auto bytes = [](const std::string& header) {  // the length field counts 16-bit words
    std::size_t words = 0;
    for (int i = 24; i < 28; ++i) words = words << 8 | static_cast<unsigned char>(header[i]);
    return 2 * words;
  };
  Check(main.size() == bytes(shp) && index.size() == bytes(shx), "targets not as long as their headers say");
  Check(index.substr(0, 36) + index.substr(68) == shx.substr(0, 36) + shx.substr(68, index.size() - 68) &&
            main.substr(0, 36) + main.substr(68, 32) == shp.substr(0, 36) + shp.substr(68, 32),
        "index or header differ from the source but for the box");
  Check(ReadFile(dst + "dbf") == dbf, "the table is not a copy");
  return 0;
}

}  // namespace pelmo::fuzz
