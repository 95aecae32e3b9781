// Writes the seed corpora of the fuzz targets into the folder named on the
// command line, one subfolder per target. The shapefile seeds are small
// files of several shape types (with Z and M values, with and without the
// M block) written by shapelib (not by our own code), packed as the
// shapefile target reads its input.
#include <shapefil.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/numtext.hpp"
#include "paramfiles/properties.hpp"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Shape {
  std::vector<int> starts;
  std::vector<double> x, y;
  std::vector<double> z = {}, m = {};  // none, or one per point
};

/// One shapefile written by shapelib, packed with the given mode byte.
std::string Packed(const fs::path& dir, int type, const std::vector<Shape>& shapes,
                   unsigned char mode) {
  const std::string stem = (dir / "seed").string();
  SHPHandle shp = SHPCreate(stem.c_str(), type);
  for (const Shape& s : shapes) {
    SHPObject* o = SHPCreateObject(
        type, -1, static_cast<int>(s.starts.size()),
        s.starts.empty() ? nullptr : s.starts.data(), nullptr, static_cast<int>(s.x.size()),
        s.x.empty() ? nullptr : s.x.data(), s.y.empty() ? nullptr : s.y.data(),
        s.z.empty() ? nullptr : s.z.data(), s.m.empty() ? nullptr : s.m.data());
    SHPWriteObject(shp, -1, o);
    SHPDestroyObject(o);
  }
  SHPClose(shp);
  const std::string main = Read(stem + ".shp"), index = Read(stem + ".shx");
  std::string packed(1, static_cast<char>(mode));
  const auto n = static_cast<std::uint32_t>(main.size());
  for (int i = 0; i < 4; ++i) packed += static_cast<char>((n >> (8 * i)) & 0xFF);
  return packed + main + index;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  for (const char* t : {"numtext", "properties", "paramsets", "shapefile", "geodesy"}) {
    fs::create_directories(out / t);
  }

  // Number texts and ASCII files.
  const char* texts[] = {
      "5500000 5650000 3.50\r\n5500000,5 5650000\r\n",
      "  45.5   5,25  \r\n1.5 2.5 3.5 extra\n-1e3 +2E-2 0\r",
      "1 2 3\r\n\r\n",
      "6377397.155",
      "1,5e2 -0,25 ,5 5. 1e400 1e-400",
  };
  int k = 0;
  for (const char* t : texts) Write(out / "numtext" / ("seed" + std::to_string(k++)), t);

  // A properties file of the start-up settings.
  {
    pelmo::TransformSettings s;
    pelmo::SaveProperties((out / "properties" / "seed0").string(), s,
                          pelmo::DefaultOptionValues(','));
  }

  // The shipped ellipsoid and parameter files.
  k = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(PELMO_SOURCE_DIR) / "data")) {
    const auto ext = entry.path().extension();
    if (ext == ".ell" || ext == ".7pr") {
      fs::copy_file(entry.path(), out / "paramsets" / ("seed" + std::to_string(k++)),
                    fs::copy_options::overwrite_existing);
    }
  }

  // Shapefiles: points, lines with two parts, polygons with a hole and an
  // empty record; each in both modes.
  const fs::path work = out / "work";
  fs::create_directories(work);
  std::vector<Shape> points, lines, polygons;
  for (int i = 0; i < 3; ++i) {
    points.push_back({{}, {5500000.0 + 1000 * i}, {5540000.0 - 700 * i}});
  }
  lines.push_back({{0, 2}, {5500000, 5501000, 5495000, 5496000, 5499000},
                   {5540000, 5542500, 5535000, 5537000, 5536500}});
  lines.push_back({{0}, {5440000, 5560000}, {5580000, 5500000}});
  polygons.push_back({{0, 5},
                      {5496000, 5496000, 5504000, 5504000, 5496000, 5500000, 5500500, 5501000,
                       5500000},
                      {5537500, 5542500, 5542500, 5537500, 5537500, 5540000, 5540600, 5540000,
                       5540000}});
  polygons.push_back({{}, {}, {}});
  // The same with Z values, and with M values too (the optional M block).
  std::vector<Shape> linesZ = lines, polygonsZM = polygons, pointsZM = points;
  for (std::vector<Shape>* set : {&linesZ, &polygonsZM, &pointsZM}) {
    for (Shape& s : *set) {
      for (std::size_t i = 0; i < s.x.size(); ++i) {
        s.z.push_back(100.5 + i);
        if (set != &linesZ) s.m.push_back(i == 1 ? -1e39 : 0.25 * i);
      }
    }
  }
  const struct {
    int type;
    const std::vector<Shape>* shapes;
  } files[] = {{SHPT_POINT, &points},          {SHPT_ARC, &lines},
               {SHPT_POLYGON, &polygons},      {SHPT_MULTIPOINT, &lines},
               {SHPT_POINTZ, &pointsZM},       {SHPT_ARCZ, &linesZ},
               {SHPT_POLYGONZ, &polygonsZM},   {SHPT_MULTIPOINTM, &polygonsZM},
               {SHPT_ARCM, &polygonsZM},       {SHPT_MULTIPATCH, &polygonsZM}};
  k = 0;
  for (unsigned char mode : {0, 1}) {
    for (const auto& f : files) {
      Write(out / "shapefile" / ("seed" + std::to_string(k++)),
            Packed(work, f.type, *f.shapes, mode));
    }
  }
  fs::remove_all(work);

  // Geodesy: points near the Earth's surface and in the Krovak area.
  const double cases[][5] = {
      {3962799.45, 1004294.93, 4886396.49, 6378137, 0.0818191910428158},
      {-743000, -1043000, 0, 6377397.155, 0.0816968312225275},
      {0, 0, 6356752.31, 6378137, 0.0818191910428158},
      {1e-300, 1e300, -1e300, 1, 0.5},
  };
  k = 0;
  for (const auto& c : cases) {
    std::string bytes(sizeof c, '\0');
    std::memcpy(bytes.data(), c, sizeof c);
    for (unsigned char mode : {0, 1, 3}) {
      Write(out / "geodesy" / ("seed" + std::to_string(k++)), bytes + static_cast<char>(mode));
    }
  }
  return 0;
}
