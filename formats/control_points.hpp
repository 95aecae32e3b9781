// Control-point files: points known in both reference systems.
//
// Either one file whose lines hold
//   id first1 second1 [height1] first2 second2 [height2]
// (the heights both given or both left out), or two files of
//   id first second [height]
// matched by id in any order. First and second values are laid out as the
// input projection (system 1) and the output projection (system 2) expect
// them. Fields are separated by blanks or tabs; numbers take a decimal point
// or comma; a field starting with "#" begins a comment that runs to the end
// of the line; empty lines are skipped; a missing height is 0.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelmo {

/// One control point: first, second value and height in both systems, and
/// where it was read ("file", line n) for messages.
struct ControlPoint {
  std::string id;
  std::array<double, 3> system1{}, system2{};
  std::string where;
};

/// The points of one or two files. Ids found in only one of two files are
/// left out and listed here, each as `id ("file", Zeile n)`.
struct ControlPointList {
  std::vector<ControlPoint> points;
  std::vector<std::string> unmatched;
};

/// A control-point file that cannot be read; the text names the file, the
/// line and the field and says what was expected.
class ControlPointError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Reads one file of lines "id first1 second1 height1 first2 second2 height2".
ControlPointList ReadControlPoints(const std::string& path);

/// Reads two files of lines "id first second height", system 1 and system 2,
/// and pairs them by id (in the order of the first file).
ControlPointList ReadControlPoints(const std::string& path1, const std::string& path2);

/// Text of `where` for a line of a file: "file", Zeile n.
std::string ControlPointPlace(const std::string& path, long line);

}  // namespace pelmo
