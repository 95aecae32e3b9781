// Fuzz target: the shapefile driver on damaged .shp and .shx files.
//
// Input layout: one mode byte, the length of the .shp part as a 32-bit
// little-endian number, the .shp bytes, then the .shx bytes (a length
// beyond the input takes all of it). The attribute table is a small fixed
// file. Mode bit 0 runs the seven-parameter chain (GK-Germ on Bessel to UTM
// on GRS 1980) instead of a translation; bit 1 puts older target files in
// place first, to be overwritten.
//
// After every run: the three source files are unchanged; a successful run
// showed no message and wrote the three targets (the main file as long as
// its header says, the table a copy); a failed run showed one message and
// left no target behind, except an older one it had not yet touched, which
// must be unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "../engine/job_setups.hpp"
#include "core/settings.hpp"
#include "formats/drivers.hpp"
#include "fuzz_support.hpp"
#include "geodesy/geodesy.hpp"

namespace pelmo::fuzz {

namespace shapefile_detail {

/// A small attribute table: the 32-byte dBASE header, one field, no record.
inline std::string_view AttributeTable() {
  static const std::string table = [] {
    std::string t(65, '\0');
    t[0] = 0x03;                 // dBASE III
    t[8] = 65;                   // header length
    t[10] = 11;                  // record length
    t.replace(32, 4, "NAME");    // field name
    t[43] = 'C';                 // character field
    t[48] = 10;                  // field length
    t[64] = 0x0D;                // end of the field list
    return t;
  }();
  return table;
}

inline std::uint32_t LoadLE32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

inline std::int64_t HeaderLength(std::string_view shp) {
  if (shp.size() < 28) return -1;
  const auto* p = reinterpret_cast<const unsigned char*>(shp.data() + 24);
  const auto u = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                 (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
  return 2 * std::int64_t{static_cast<std::int32_t>(u)};
}

}  // namespace shapefile_detail

inline int FuzzShapefile(const std::uint8_t* data, std::size_t size) {
  using namespace shapefile_detail;
  constexpr std::size_t kHead = 5;
  if (size < kHead) return 0;
  const unsigned mode = data[0];
  const std::size_t rest = size - kHead;
  const std::size_t shpLen = std::min<std::size_t>(LoadLE32(data + 1), rest);
  const std::string shp(AsText(data + kHead, shpLen));
  const std::string shx(AsText(data + kHead + shpLen, rest - shpLen));

  const std::string src = Scratch::File("quelle."), dst = Scratch::File("ziel.");
  const char* const exts[] = {"shp", "shx", "dbf"};
  WriteFile(src + "shp", shp);
  WriteFile(src + "shx", shx);
  WriteFile(src + "dbf", AttributeTable());
  const bool older = (mode & 2) != 0;
  const std::string oldContent[] = {"alte Hauptdatei", "alter Index", "alte Tabelle"};
  for (int i = 0; i < 3; ++i) {
    Remove(dst + exts[i]);
    if (older) WriteFile(dst + exts[i], oldContent[i]);
  }

  QuietFrontEnd fe;
  Session s(fe, ',');
  TransformSettings& t = s.settings;
  t.optSHP = true;
  t.optASCII = false;
  t.txtQuelldatei = src + "shp";
  t.txtZielDatei = dst + "shp";
  if ((mode & 1) != 0) {
    pelmo::test::UseGkToUtmDhdn(s);
  } else {
    t.optSevPar = false;
    t.optTranslation = true;
    t.txtDX = "1000,5";
    t.txtDY = "-2000,25";
    t.txtDH = "7";
  }
  s.Touch();

  const bool ok = TransformShapeFile(s);

  Check(ReadFile(src + "shp") == shp, "source .shp changed");
  Check(ReadFile(src + "shx") == shx, "source .shx changed");
  Check(ReadFile(src + "dbf") == AttributeTable(), "source .dbf changed");
  if (ok) {
    Check(fe.messages == 0, "message after success: " + fe.lastMessage);
    for (const char* ext : exts) Check(Exists(dst + ext), std::string("no target .") + ext);
    Check(static_cast<std::int64_t>(ReadFile(dst + "shp").size()) == HeaderLength(shp),
          "target .shp not as long as its header says");
    Check(ReadFile(dst + "shx").size() == static_cast<std::size_t>(HeaderLength(shx)),
          "target .shx not as long as its header says");
    Check(ReadFile(dst + "dbf") == AttributeTable(), "target .dbf is not a copy");
    // The index is copied; only its header box and Z range are rewritten.
    const std::string index = ReadFile(dst + "shx");
    constexpr std::size_t kBoxStart = 36, kBoxEnd = 84;
    Check(index.substr(0, kBoxStart) == shx.substr(0, kBoxStart) &&
              index.substr(kBoxEnd) == shx.substr(kBoxEnd, index.size() - kBoxEnd),
          "target .shx differs from the source index outside the header box and Z range");
    // The main file's header is copied but for its box and Z range.
    const std::string main = ReadFile(dst + "shp");
    Check(main.substr(0, kBoxStart) == shp.substr(0, kBoxStart) &&
              main.substr(kBoxEnd, 100 - kBoxEnd) == shp.substr(kBoxEnd, 100 - kBoxEnd),
          "target .shp header differs outside its box and Z range");
  } else {
    Check(fe.messages == 1, "not exactly one message but " + std::to_string(fe.messages));
    Check(fe.lastTitle == "Pelmo" || fe.lastTitle.empty(), "title " + fe.lastTitle);
    for (int i = 0; i < 3; ++i) {
      const std::string path = dst + exts[i];
      if (!Exists(path)) continue;
      Check(older, "a failed run left " + path + " behind: " + fe.lastMessage);
      Check(ReadFile(path) == oldContent[i], "a failed run changed " + path + " and left it");
    }
  }
  return 0;
}

}  // namespace pelmo::fuzz
