// The coordinate system of a job's output, as a shapefile projection file
// (.prj) holds it: a PROJ string built from the output settings, named
// after the output ellipsoid, and turned by PROJ into ESRI WKT 1; the EPSG
// system itself where PROJ identifies it with certainty.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "core/settings.hpp"

namespace pelmo {

/// The output coordinate system of a job.
struct OutputCrs {
  std::string projString;  ///< PROJ string of the system (+type=crs)
  std::string name;        ///< its name: "<datum> / <projection>" or "<datum>"
  std::string epsg;        ///< "EPSG:<code>" when PROJ identified it at 100 %, else empty
  std::string wkt;         ///< ESRI WKT 1: the content of a .prj
};

/// Why the output system cannot be described: a setting that is no number,
/// or PROJ refusing the system; the text says which.
class CrsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The output coordinate system of the settings `t` and options `o`: ellipsoid 2
/// (datum and ellipsoid named after its name field, "unknown" when that is
/// empty or "0") with the output projection as the point chain writes its
/// coordinates (zone and meridian prefixes in the easting, Krovak as
/// minus westing and minus southing). Nothing in translation mode, or when
/// no output projection is chosen: the system of such coordinates is not
/// known. Throws CrsError.
/// Reads no session: a job can have it built on another thread while it
/// transforms (PROJ's database queries take tens of milliseconds).
std::optional<OutputCrs> DescribeOutputCrs(const TransformSettings& t, const OptionTable& o);

}  // namespace pelmo
