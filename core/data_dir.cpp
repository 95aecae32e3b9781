#include "core/data_dir.hpp"

#include <cstdlib>
#include <system_error>

namespace pelmo {

namespace fs = std::filesystem;

fs::path DataDir() {
  if (const char* dir = std::getenv(kDataDirVariable); dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  const fs::path bin = exe.parent_path();
  for (const fs::path& candidate : {bin / ".." / "share" / "pelmo", bin / ".." / "data"}) {
    if (fs::is_directory(candidate, ec)) return candidate.lexically_normal();
  }
  return {};
}

std::string LibraryFile(const std::string& name, std::string_view extension) {
  std::error_code ec;
  const fs::path given(name);
  if (name.empty() || fs::exists(given, ec) || given.has_parent_path()) return name;
  const fs::path dir = DataDir();
  if (dir.empty()) return name;
  fs::path file = dir / given;
  if (given.extension() != extension) file += extension;
  return fs::is_regular_file(file, ec) ? file.string() : name;
}

}  // namespace pelmo
