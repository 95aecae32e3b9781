// Horizontal grid shift: one step of the datum chain that moves geographic
// latitude and longitude by the shifts of a grid file (NTv2 ".gsb", PROJ
// GeoTIFF ".tif"), read and interpolated by PROJ's "hgridshift" operation.
// PROJ picks the finest subgrid at a point and iterates the inverse.
#pragma once

#include <memory>
#include <string>

#include "core/errors.hpp"

namespace pelmo {

/// A grid that cannot be found, opened or read. The text names the file
/// and the reason (PROJ's, where PROJ gave one).
class GridFileError : public RunTimeError {
 public:
  GridFileError(const std::string& file, const std::string& reason);
};

/// What a grid file covers: the extent of its first (parent) grid as PROJ
/// reports it, node to node, in degrees.
struct GridExtent {
  std::string format;  ///< "ntv2", "gtiff", ...
  double west = 0, south = 0, east = 0, north = 0;
  double cellLon = 0, cellLat = 0;  ///< node spacing of the first grid
};

/// The file meant by `name`: `name` itself when such a file exists; else,
/// for a bare name ("BETA2007.gsb"), the file of that name in PROJ's data
/// folders or in the shipped library. Throws GridFileError when none exists.
std::string FindGridFile(const std::string& name);

/// One grid step: a PROJ context of its own with an hgridshift operation on
/// one file, so that every thread can hold its own copy (Clone()).
class GridShift {
 public:
  /// Opens the grid `path` (as FindGridFile gives it) and tries it at the
  /// corners and the centre of its extent, so that a file PROJ cannot read
  /// is refused here, before any point. `name` is the file as the user gave
  /// it, for messages. Throws GridFileError.
  GridShift(const std::string& name, const std::string& path, bool inverse);
  ~GridShift();
  GridShift(GridShift&&) noexcept;
  GridShift& operator=(GridShift&&) noexcept;

  /// An independent step on the same file (its own context and operation).
  GridShift Clone() const;

  /// Shifts longitude `lon` and latitude `lat` [rad] in place: forward from
  /// the grid's source datum to its target datum, or back when inverse.
  /// False, with the values unchanged, when PROJ gives no shift (a point
  /// outside the grid); Reason() then tells why.
  bool Apply(double& lon, double& lat) noexcept;
  /// PROJ's text for the last failed Apply.
  std::string Reason() const;
  /// The message for a point [rad] at which Apply failed: outside the grid,
  /// or inside its extent and not readable.
  std::string FailureText(double lon, double lat) const;

  const std::string& name() const { return name_; }
  const GridExtent& extent() const { return extent_; }

 private:
  struct CloneTag {};
  GridShift(const GridShift& other, CloneTag tag);

  struct Handles;
  std::unique_ptr<Handles> h_;
  std::string name_, path_;
  bool inverse_ = false;
  GridExtent extent_;
};

/// The extent of the grid file `path` (as FindGridFile gives it); throws
/// GridFileError when PROJ cannot open it.
GridExtent DescribeGridFile(const std::string& path);

}  // namespace pelmo
