// Writes the inputs of the benchmarks: Gauss-Krueger points (zone 5,
// central meridian 15 degrees, Bessel) around eastern Germany, as an ASCII
// file or as a Polygon shapefile written with shapelib.
//
//   pelmo_bench_gen ascii COUNT FILE
//   pelmo_bench_gen shape VERTICES STEM [VERTICES_PER_POLYGON]
//   pelmo_bench_gen first N FILE.shp     prints "x y" of the first N vertices

#include <shapefil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Area of the generated points: GK eastings and northings in metres.
constexpr double kEastMin = 5400000, kEastSpan = 180000;
constexpr double kNorthMin = 5600000, kNorthSpan = 300000;

struct Lcg {
  std::uint64_t s = 0x9E3779B97F4A7C15ull;
  double Next() {  // uniform in [0, 1)
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(s >> 11) * (1.0 / 9007199254740992.0);
  }
};

int Ascii(long count, const char* file) {
  std::FILE* f = std::fopen(file, "wb");
  if (f == nullptr) return 1;
  Lcg r;
  for (long i = 0; i < count; ++i) {
    std::fprintf(f, "%.3f %.3f %.2f\r\n", kEastMin + kEastSpan * r.Next(),
                 kNorthMin + kNorthSpan * r.Next(), 100 + 50 * r.Next());
  }
  return std::fclose(f) == 0 ? 0 : 1;
}

int Shape(long vertices, const std::string& stem, int perPolygon) {
  SHPHandle shp = SHPCreate(stem.c_str(), SHPT_POLYGON);
  DBFHandle dbf = DBFCreate(stem.c_str());
  if (shp == nullptr || dbf == nullptr) return 1;
  DBFAddField(dbf, "ID", FTInteger, 10, 0);
  Lcg r;
  std::vector<double> x(perPolygon), y(perPolygon);
  long written = 0;
  int id = 0;
  while (written < vertices) {
    const int n = static_cast<int>(std::min<long>(perPolygon, vertices - written));
    if (n < 4) break;
    const double cx = kEastMin + kEastSpan * r.Next(), cy = kNorthMin + kNorthSpan * r.Next();
    // A clockwise ring of small radius (an outer ring as shapefiles want
    // it, which other tools keep as it is), closed below.
    for (int k = 0; k < n - 1; ++k) {
      const double a = -6.283185307179586 * k / (n - 1);
      x[k] = cx + 500 * __builtin_cos(a);
      y[k] = cy + 500 * __builtin_sin(a);
    }
    x[n - 1] = x[0];
    y[n - 1] = y[0];
    SHPObject* o = SHPCreateSimpleObject(SHPT_POLYGON, n, x.data(), y.data(), nullptr);
    SHPWriteObject(shp, -1, o);
    SHPDestroyObject(o);
    DBFWriteIntegerAttribute(dbf, id, 0, id);
    ++id;
    written += n;
  }
  SHPClose(shp);
  DBFClose(dbf);
  return 0;
}

int First(int count, const char* file) {
  SHPHandle shp = SHPOpen(file, "rb");
  if (shp == nullptr) return 1;
  int entities = 0;
  SHPGetInfo(shp, &entities, nullptr, nullptr, nullptr);
  for (int i = 0; i < entities && count > 0; ++i) {
    SHPObject* o = SHPReadObject(shp, i);
    if (o == nullptr) break;
    for (int k = 0; k < o->nVertices && count > 0; ++k, --count) {
      std::printf("%.4f %.4f\n", o->padfX[k], o->padfY[k]);
    }
    SHPDestroyObject(o);
  }
  SHPClose(shp);
  return count == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "ascii") return Ascii(std::atol(argv[2]), argv[3]);
  if (argc >= 4 && std::string(argv[1]) == "shape") {
    return Shape(std::atol(argv[2]), argv[3], argc >= 5 ? std::atoi(argv[4]) : 100);
  }
  if (argc >= 4 && std::string(argv[1]) == "first") return First(std::atoi(argv[2]), argv[3]);
  std::fprintf(stderr,
               "usage: pelmo_bench_gen ascii COUNT FILE | shape VERTICES STEM [PER_POLYGON] | "
               "first N FILE.shp\n");
  return 2;
}
