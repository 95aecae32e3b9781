// Shared pieces of the fuzz targets. Each target is a function
// `int FuzzXxx(const std::uint8_t*, std::size_t)` in its own header;
// fuzz_main.cpp wraps one in LLVMFuzzerTestOneInput, and the engine tests
// replay the kept corpora through the same functions (PELMO_FUZZ_REPLAY).
// A broken invariant aborts under libFuzzer, which reports the input, and
// throws in the replay, which GoogleTest reports.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "core/frontend.hpp"

namespace pelmo::fuzz {

inline void Check(bool ok, const std::string& what) {
#ifdef PELMO_FUZZ_REPLAY
  if (!ok) throw std::logic_error("invariant broken: " + what);
#else
  if (!ok) std::fprintf(stderr, "invariant broken: %s\n", what.c_str()), std::abort();
#endif
}

/// Keeps the last message and answers every question Yes.
struct QuietFrontEnd : FrontEnd {
  int messages = 0;
  std::string lastMessage;
  void ShowMessage(const std::string& text, const std::string&, MsgIcon) override { ++messages, lastMessage = text; }
  bool AskYesNo(const std::string&, const std::string&, MsgIcon) override { return true; }
};

/// A file in a scratch folder of the process, removed when it ends.
inline std::string Scratch(const std::string& name) {
  static const struct Folder {
    std::string path = (std::filesystem::temp_directory_path() / "pelmo_fuzz_XXXXXX").string();
    Folder() { Check(::mkdtemp(path.data()) != nullptr, "no scratch folder"); }
    ~Folder() { std::filesystem::remove_all(path); }
  } folder;
  return folder.path + "/" + name;
}

inline void WriteFile(const std::string& path, std::string_view bytes) { std::ofstream(path, std::ios::binary) << bytes; }

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) { return {reinterpret_cast<const char*>(data), size}; }

}  // namespace pelmo::fuzz
