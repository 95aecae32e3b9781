// Shared pieces of the fuzz targets: a silent front end, a scratch folder,
// byte-exact file helpers and the failure report.
//
// Every target is a function `int FuzzXxx(const std::uint8_t*, std::size_t)`
// in its own header. The libFuzzer programs (tests/fuzz/fuzz_*.cpp) wrap it
// in LLVMFuzzerTestOneInput; the replay test of the engine tests includes
// the same headers with PELMO_FUZZ_REPLAY defined and runs the kept corpora.
// A broken invariant aborts under libFuzzer (so that it reports the input)
// and throws InvariantBroken in the replay (so that GoogleTest reports it).
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "core/frontend.hpp"

namespace pelmo::fuzz {

/// An invariant of a target does not hold for the input.
class InvariantBroken : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

/// Reports a broken invariant.
[[noreturn]] inline void Fail(const std::string& what) {
#ifdef PELMO_FUZZ_REPLAY
  throw InvariantBroken(what);
#else
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::abort();
#endif
}

inline void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

/// Front end that keeps the messages and answers every question Yes.
class QuietFrontEnd : public FrontEnd {
 public:
  int messages = 0;
  std::string lastMessage, lastTitle;
  int questions = 0;

  void ShowMessage(const std::string& text, const std::string& title, MsgIcon) override {
    ++messages;
    lastMessage = text;
    lastTitle = title;
  }
  bool AskYesNo(const std::string&, const std::string&, MsgIcon) override {
    ++questions;
    return true;
  }
};

/// A folder of its own under the temporary folder, made on first use and
/// removed when the process ends.
class Scratch {
 public:
  static const std::filesystem::path& Dir() {
    static Scratch s;
    return s.dir_;
  }
  static std::string File(const std::string& name) { return (Dir() / name).string(); }

 private:
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelmo_fuzz_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) Fail("cannot create a scratch folder");
    dir_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_;
};

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

inline void Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove(path, ec);
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace pelmo::fuzz
