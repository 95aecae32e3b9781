// The two file drivers. Both read the file names from the session's
// settings and write one point at a time.
#pragma once

#include <string>

#include "core/settings.hpp"

namespace pelmo {

/// Refusal of a job whose source and target name the same file.
inline constexpr const char* kMsgIdentical = "Quelldatei und Zieldatei sind identisch";

/// Transforms the ASCII coordinate file txtQuelldatei into txtZielDatei.
/// Reports every error of its run itself (message box, title "Pelmo").
/// Returns true when the whole file was transformed.
bool TransformAsciiFile(Session& session);

/// Transforms the shapefile txtQuelldatei (.shp/.shx/.dbf) into
/// txtZielDatei, with overwrite questions, log lines, progress and cancel.
/// Reports its own conditions. Returns true when the target was completely
/// written.
bool TransformShapeFile(Session& session);

/// True when two shapefile names (each less its last three characters, the
/// stem) denote the same files: equal stems, or any pair of their .shp, .shx
/// and .dbf naming one existing file. False when a name is too short to
/// have a stem.
bool SameShapefile(const std::string& source, const std::string& target);

}  // namespace pelmo
