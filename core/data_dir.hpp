// Where the shipped ellipsoid and parameter library lives, and library
// names ("GRS_1980") as well as paths for its files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pelmo {

/// Environment variable that names the library folder.
inline constexpr const char* kDataDirVariable = "PELMO_DATA_DIR";

/// The library folder: $PELMO_DATA_DIR when set; else ../share/pelmo beside
/// the folder of the running program (an installed or unpacked package);
/// else ../data (a build folder inside the source tree). Empty when none of
/// the folders exists.
std::filesystem::path DataDir();

/// The file meant by `name` for a library file with `extension` (".ell",
/// ".7pr"): `name` itself when such a file exists or when it names a folder;
/// else, for a bare name ("GRS_1980" or "GRS_1980.ell"), that file of the
/// library when it exists; else `name` unchanged (its loading fails with the
/// name the user gave).
std::string LibraryFile(const std::string& name, std::string_view extension);

}  // namespace pelmo
