#include "formats/control_points.hpp"

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/numtext.hpp"

namespace pelmo {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

/// Most fields a line can hold (one-file form with heights).
constexpr std::size_t kMaxFields = 7;

/// Names of the value fields in messages, by system (1, 2) and position.
constexpr const char* kValueNames[] = {"erster Wert", "zweiter Wert", "Höhe"};

bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

/// One line cut into its fields (at most kMaxFields + 1, to tell a line
/// with too many fields).
struct Fields {
  std::string_view f[kMaxFields + 1];
  std::size_t count = 0;
};

Fields Split(std::string_view line) {
  Fields out;
  std::size_t i = 0;
  while (out.count <= kMaxFields) {
    while (i < line.size() && IsSeparator(line[i])) ++i;
    if (i == line.size() || line[i] == '#') break;  // end or comment
    const std::size_t start = i;
    while (i < line.size() && !IsSeparator(line[i])) ++i;
    out.f[out.count++] = line.substr(start, i - start);
  }
  return out;
}

/// Reads the lines of one file and hands the fields of each line that holds
/// any to `take(fields, lineNumber)`.
template <typename Take>
void ForEachLine(const std::string& path, Take take) {
  long lineNo = 0;
  try {
    InputFile in(path);
    std::string line;
    bool cut = false;
    while (in.ReadLine(line, kMaxLineBytes, cut)) {
      ++lineNo;
      if (cut) {
        throw ControlPointError(ControlPointPlace(path, lineNo) + ": die Zeile ist länger als " +
                                std::to_string(kMaxLineBytes) + " Zeichen");
      }
      std::string_view text(line);
      if (lineNo == 1 && text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
      const Fields fields = Split(text);
      if (fields.count > 0) take(fields, lineNo);
    }
  } catch (const RunTimeError& e) {
    // Open and read failures: the file and, once reading, the line.
    throw ControlPointError(lineNo == 0 ? std::string(e.what())
                                        : ControlPointPlace(path, lineNo + 1) + ": " + e.what());
  }
}

/// Converts field `index` (0-based) of a line, naming it in the message.
double Number(const Fields& fields, std::size_t index, const char* name, const std::string& path,
              long lineNo) {
  double v = 0;
  const int error = TryParseNumber(fields.f[index], v);
  if (error != 0) {
    throw ControlPointError(ControlPointPlace(path, lineNo) + ", Feld " +
                            std::to_string(index + 1) + " (" + name + "): \"" +
                            std::string(fields.f[index]) + "\" ist keine Zahl" +
                            (error == errnum::kOverflow ? " im gültigen Bereich" : ""));
  }
  return v;
}

/// Values of one system from the fields starting at `first` (height
/// optional), with the system's number for the field names.
std::array<double, 3> Values(const Fields& fields, std::size_t first, bool height, int system,
                             const std::string& path, long lineNo) {
  std::array<double, 3> v{};
  for (std::size_t k = 0; k < (height ? 3u : 2u); ++k) {
    const std::string name = std::string(kValueNames[k]) + " System " + std::to_string(system);
    v[k] = Number(fields, first + k, name.c_str(), path, lineNo);
  }
  return v;
}

/// Remembers the ids of one file; a second use of an id is refused.
class IdRegister {
 public:
  explicit IdRegister(const std::string& path) : path_(path) {}
  /// Index of the new point; throws on a duplicate.
  void Add(const std::string& id, long lineNo, std::size_t index) {
    const auto [it, fresh] = lines_.try_emplace(id, Entry{lineNo, index});
    if (!fresh) {
      throw ControlPointError(ControlPointPlace(path_, lineNo) + ": Punktnummer \"" + id +
                              "\" doppelt (schon in Zeile " +
                              std::to_string(it->second.line) + ")");
    }
  }
  /// Index of the point with this id, or -1.
  long Find(const std::string& id) const {
    const auto it = lines_.find(id);
    return it == lines_.end() ? -1 : static_cast<long>(it->second.index);
  }

 private:
  struct Entry {
    long line;
    std::size_t index;
  };
  std::string path_;
  std::unordered_map<std::string, Entry> lines_;
};

/// Refuses a line of `count` fields unless it holds `withHeights` or
/// `withoutHeights`; `expected` says what they are.
void CheckFieldCount(const std::string& path, long lineNo, std::size_t count,
                     std::size_t withHeights, std::size_t withoutHeights, const char* expected) {
  if (count == withHeights || count == withoutHeights) return;
  throw ControlPointError(ControlPointPlace(path, lineNo) + ": " + std::to_string(count) +
                          " Felder, erwartet werden " + std::to_string(withHeights) + " (" +
                          expected + ") oder " + std::to_string(withoutHeights) + " (ohne " +
                          (withHeights == 4 ? "Höhe)" : "Höhen)"));
}

/// The points of one file of "id first second [height]".
std::vector<ControlPoint> ReadSingleSystem(const std::string& path, IdRegister& ids) {
  std::vector<ControlPoint> points;
  ForEachLine(path, [&](const Fields& fields, long lineNo) {
    CheckFieldCount(path, lineNo, fields.count, 4, 3,
                    "Punktnummer, erster Wert, zweiter Wert, Höhe");
    ControlPoint p;
    p.id = std::string(fields.f[0]);
    p.system1 = Values(fields, 1, fields.count == 4, 1, path, lineNo);
    p.where = ControlPointPlace(path, lineNo);
    ids.Add(p.id, lineNo, points.size());
    points.push_back(std::move(p));
  });
  return points;
}

}  // namespace

std::string ControlPointPlace(const std::string& path, long line) {
  return "\"" + path + "\", Zeile " + std::to_string(line);
}

ControlPointList ReadControlPoints(const std::string& path) {
  ControlPointList list;
  IdRegister ids(path);
  ForEachLine(path, [&](const Fields& fields, long lineNo) {
    CheckFieldCount(path, lineNo, fields.count, 7, 5,
                    "Punktnummer, erster Wert, zweiter Wert und Höhe in System 1 und in System 2");
    const bool heights = fields.count == 7;
    ControlPoint p;
    p.id = std::string(fields.f[0]);
    p.system1 = Values(fields, 1, heights, 1, path, lineNo);
    p.system2 = Values(fields, heights ? 4 : 3, heights, 2, path, lineNo);
    p.where = ControlPointPlace(path, lineNo);
    ids.Add(p.id, lineNo, list.points.size());
    list.points.push_back(std::move(p));
  });
  return list;
}

ControlPointList ReadControlPoints(const std::string& path1, const std::string& path2) {
  IdRegister ids1(path1), ids2(path2);
  std::vector<ControlPoint> first = ReadSingleSystem(path1, ids1);
  const std::vector<ControlPoint> second = ReadSingleSystem(path2, ids2);
  ControlPointList list;
  for (ControlPoint& p : first) {
    const long j = ids2.Find(p.id);
    if (j < 0) {
      list.unmatched.push_back(p.id + " (" + p.where + ")");
      continue;
    }
    const ControlPoint& q = second[static_cast<std::size_t>(j)];
    p.system2 = q.system1;
    p.where += " / " + q.where;
    list.points.push_back(std::move(p));
  }
  for (const ControlPoint& q : second) {
    if (ids1.Find(q.id) < 0) list.unmatched.push_back(q.id + " (" + q.where + ")");
  }
  return list;
}

}  // namespace pelmo
