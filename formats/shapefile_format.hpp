// The shapefile format (ESRI Shapefile Technical Description): header and
// record layout, byte order, bounding boxes, and the block-buffered file
// that reads and writes by absolute byte position. Nothing here asks,
// reports progress or knows about a job; the run lives in shapefile_run.cpp.
//
// A 100-byte header in .shp and .shx; big-endian 32-bit integers for file
// code, file length, record number, content length and index offset;
// little-endian 32-bit integers for version, shape type and counts;
// little-endian IEEE doubles for coordinates. Lengths and offsets count
// 16-bit words.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

#include "core/errors.hpp"
#include "core/fileio.hpp"

namespace pelmo::shapefile {

// ---------------------------------------------------------------- constants

inline constexpr const char* kCrLf = "\r\n";

/// Size of the header of .shp and .shx, bytes.
inline constexpr std::int64_t kHeaderBytes = 100;
/// Size of one index entry (offset, content length), bytes.
inline constexpr std::int64_t kIndexEntryBytes = 8;
/// Size of a record header (record number, content length), bytes.
inline constexpr std::int64_t kRecordHeadBytes = 8;
/// Largest byte position or length a signed 32-bit integer holds; files of
/// 2 GiB and more are refused.
inline constexpr std::int64_t kMaxFileBytes = std::numeric_limits<std::int32_t>::max();

// Header fields, byte positions.
inline constexpr std::int64_t kHeaderFileLength = 24;  // int32 BE, words
inline constexpr std::int64_t kHeaderShapeType = 32;   // int32 LE, read as its low 16 bits
inline constexpr std::int64_t kHeaderBox = 36;         // Xmin, Ymin, Xmax, Ymax

// Record fields, relative to the record start.
inline constexpr std::int64_t kRecContentLength = 4;  // int32 BE, words
inline constexpr std::int64_t kRecShapeType = 8;      // int32 LE
inline constexpr std::int64_t kRecPointX = 12;        // Point: X, Y
inline constexpr std::int64_t kRecPointEnd = 28;      // end of a Point record
inline constexpr std::int64_t kRecBox = 12;           // poly: Xmin, Ymin, Xmax, Ymax
inline constexpr std::int64_t kRecNumParts = 44;      // int32 LE
inline constexpr std::int64_t kRecNumPoints = 48;     // int32 LE
inline constexpr std::int64_t kRecParts = 52;         // NumParts x int32 LE, then the points
inline constexpr std::int64_t kPartBytes = 4;
inline constexpr std::int64_t kPointBytes = 16;  // X, Y as doubles
inline constexpr std::int64_t kBoxBytes = 32;    // four doubles

// Shape types handled.
inline constexpr int kShapeNull = 0;
inline constexpr int kShapePoint = 1;
inline constexpr int kShapePolyLine = 3;
inline constexpr int kShapePolygon = 5;

/// Block size of the read and write buffers of one file.
inline constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
/// Vertices handled per chunk (read, transform, write).
inline constexpr std::int64_t kVertexChunk = 4096;
/// Bytes copied per step when a range is copied unchanged.
inline constexpr std::size_t kCopyChunkBytes = std::size_t{1} << 16;

// Errors a refused operation of the fault hook stands for.
inline constexpr int kHookOpenError = EACCES;
inline constexpr int kHookReadError = EIO;
inline constexpr int kHookWriteError = ENOSPC;
inline constexpr int kHookCloseError = EIO;
inline constexpr int kHookCopyError = ENOSPC;
inline constexpr int kHookDeleteError = EACCES;

// ---------------------------------------------------------------- failures

/// A failure of the run with the complete text for the user.
class ShapeFailure : public std::runtime_error {
 public:
  explicit ShapeFailure(const std::string& text) : std::runtime_error(text) {}
};

/// What a file of the run that is a folder is told.
inline constexpr const char* kIsAFolder = "ist keine Datei, sondern ein Ordner";

inline std::string FileMessage(const std::string& path, const std::string& what) {
  return "Die Datei " + path + kCrLf + what;
}

/// German description of the system error `err` of operation `op`.
inline std::string ErrorText(int err, const std::string& path, IoOp op) {
  try {
    ThrowFileError(err, path, op);
  } catch (const RunTimeError& e) {
    return RunTimeErrorText(e.number());
  }
  return RunTimeErrorText(errnum::kIoError);
}

/// Decimal text of an integer.
inline std::string Num(std::int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// ---------------------------------------------------------------- byte order

inline std::int32_t LoadBE32(const unsigned char* p) {
  const std::uint32_t u = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                          (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
  return static_cast<std::int32_t>(u);
}

inline std::int32_t LoadLE32(const unsigned char* p) {
  const std::uint32_t u = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                          (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  return static_cast<std::int32_t>(u);
}

inline double LoadLEDouble(const unsigned char* p) {
  std::uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | p[i];
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

inline void StoreLEDouble(unsigned char* p, double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  for (int i = 0; i < 8; ++i) {
    p[i] = static_cast<unsigned char>(u & 0xFF);
    u >>= 8;
  }
}

// ---------------------------------------------------------------- box

/// An axis-parallel box, empty until the first point is added.
struct Box {
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  bool empty = true;

  void Add(double x, double y) {
    if (empty) {
      xmin = xmax = x;
      ymin = ymax = y;
      empty = false;
      return;
    }
    xmin = std::min(xmin, x);
    xmax = std::max(xmax, x);
    ymin = std::min(ymin, y);
    ymax = std::max(ymax, y);
  }
  void Add(const Box& b) {
    if (b.empty) return;
    Add(b.xmin, b.ymin);
    Add(b.xmax, b.ymax);
  }
  void Store(unsigned char* p) const {
    StoreLEDouble(p, xmin);
    StoreLEDouble(p + 8, ymin);
    StoreLEDouble(p + 16, xmax);
    StoreLEDouble(p + 24, ymax);
  }
};

// ---------------------------------------------------------------- binary file

/// A file read or written by absolute byte position through one block
/// buffer. Every system call is announced to the fault hook first. Errors
/// are thrown as ShapeFailure naming the file.
class BinFile {
 public:
  BinFile() = default;
  ~BinFile() { Discard(); }
  BinFile(const BinFile&) = delete;
  BinFile& operator=(const BinFile&) = delete;

  void SetPath(std::string path) { path_ = std::move(path); }
  const std::string& path() const noexcept { return path_; }
  bool IsOpen() const noexcept { return fd_ >= 0; }
  /// Size at opening, bytes.
  std::int64_t size() const noexcept { return size_; }

  /// Opens for reading; returns 0 or the system error.
  int OpenRead() { return Open(O_RDONLY); }

  /// Opens for writing, creating a missing file; an existing file keeps its
  /// content. Returns 0 or the system error.
  int OpenWrite() { return Open(O_WRONLY | O_CREAT); }

  /// Reads n bytes at pos; the range must lie within size().
  void ReadAt(std::int64_t pos, void* dst, std::size_t n) {
    const auto sn = static_cast<std::int64_t>(n);
    if (pos >= rbase_ && pos + sn <= rbase_ + rlen_) {
      std::memcpy(dst, rbuf_.get() + (pos - rbase_), n);
      return;
    }
    if (n >= kBlockBytes) {
      PreadAll(pos, static_cast<unsigned char*>(dst), n);
      return;
    }
    if (!rbuf_) rbuf_.reset(new unsigned char[kBlockBytes]);
    const std::int64_t avail = size_ - pos;
    if (avail < sn) FailRead(errnum::kPastEndOfFile);
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(kBlockBytes), avail));
    rlen_ = 0;
    PreadAll(pos, rbuf_.get(), want);
    rbase_ = pos;
    rlen_ = static_cast<std::int64_t>(want);
    std::memcpy(dst, rbuf_.get(), n);
  }

  /// Writes n bytes at pos. Writes that continue or overwrite the buffered
  /// range are collected; anything else flushes first.
  void WriteAt(std::int64_t pos, const void* src, std::size_t n) {
    const auto sn = static_cast<std::int64_t>(n);
    const auto cap = static_cast<std::int64_t>(kBlockBytes);
    if (pos >= wbase_ && pos <= wbase_ + wlen_ && pos + sn <= wbase_ + cap) {
      if (!wbuf_) wbuf_.reset(new unsigned char[kBlockBytes]);
      std::memcpy(wbuf_.get() + (pos - wbase_), src, n);
      wlen_ = std::max(wlen_, pos + sn - wbase_);
      return;
    }
    Flush();
    if (n >= kBlockBytes) {
      PwriteAll(pos, static_cast<const unsigned char*>(src), n);
      return;
    }
    if (!wbuf_) wbuf_.reset(new unsigned char[kBlockBytes]);
    wbase_ = pos;
    std::memcpy(wbuf_.get(), src, n);
    wlen_ = sn;
  }

  /// Writes the buffered bytes.
  void Flush() {
    if (wlen_ == 0) return;
    const std::int64_t len = wlen_;
    wlen_ = 0;
    PwriteAll(wbase_, wbuf_.get(), static_cast<std::size_t>(len));
    wbase_ += len;
  }

  /// Flushes, then sets the length of the file (regular files only).
  void Truncate(std::int64_t length) {
    Flush();
    if (!regular_) return;
    if (iohook::ShouldFail(IoOp::kWrite)) FailWrite(kHookWriteError);
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) FailWrite(errno);
  }

  /// True when the file has been deleted while open.
  bool Vanished() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 && st.st_nlink == 0;
  }

  /// Flushes and closes; a failure of either is thrown.
  void Close() {
    if (fd_ < 0) return;
    try {
      Flush();
    } catch (...) {
      Discard();
      throw;
    }
    const int fd = fd_;
    fd_ = -1;
    const bool refused = iohook::ShouldFail(IoOp::kClose);
    const int rc = ::close(fd);
    const int err = errno;
    if (refused) FailWrite(kHookCloseError);
    if (rc != 0 && err != EINTR) FailWrite(err);
  }

  /// Closes without writing what is buffered (error paths, read-only
  /// files). A refused close loses nothing here and is not reported.
  void Discard() noexcept {
    wlen_ = 0;
    rlen_ = 0;
    if (fd_ < 0) return;
    (void)iohook::ShouldFail(IoOp::kClose);
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int Open(int flags) {
    if (iohook::ShouldFail(IoOp::kOpen)) return kHookOpenError;
    const int fd = ::open(path_.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      const int err = errno;
      ::close(fd);
      return err;
    }
    if (S_ISDIR(st.st_mode)) {
      ::close(fd);
      return EISDIR;
    }
    fd_ = fd;
    size_ = static_cast<std::int64_t>(st.st_size);
    regular_ = S_ISREG(st.st_mode);
    rbase_ = rlen_ = wbase_ = wlen_ = 0;
    return 0;
  }

  void PreadAll(std::int64_t pos, unsigned char* dst, std::size_t n) {
    while (n > 0) {
      if (iohook::ShouldFail(IoOp::kRead)) FailRead(kHookReadError, true);
      const ssize_t r = ::pread(fd_, dst, n, static_cast<off_t>(pos));
      if (r < 0) {
        if (errno == EINTR) continue;
        FailRead(errno, true);
      }
      if (r == 0) FailRead(errnum::kPastEndOfFile);
      dst += r;
      pos += r;
      n -= static_cast<std::size_t>(r);
    }
  }

  void PwriteAll(std::int64_t pos, const unsigned char* src, std::size_t n) {
    while (n > 0) {
      if (iohook::ShouldFail(IoOp::kWrite)) FailWrite(kHookWriteError);
      const ssize_t r = ::pwrite(fd_, src, n, static_cast<off_t>(pos));
      if (r < 0) {
        if (errno == EINTR) continue;
        FailWrite(errno);
      }
      if (r == 0) FailWrite(ENOSPC);
      src += r;
      pos += r;
      n -= static_cast<std::size_t>(r);
    }
  }

  /// `code` is a system error when `isErrno`, else a run-time error number.
  [[noreturn]] void FailRead(int code, bool isErrno = false) const {
    const std::string why = isErrno ? ErrorText(code, path_, IoOp::kRead) : RunTimeErrorText(code);
    throw ShapeFailure(FileMessage(path_, "kann nicht gelesen werden: " + why));
  }

  [[noreturn]] void FailWrite(int err) const {
    throw ShapeFailure(FileMessage(
        path_, "kann nicht geschrieben werden: " + ErrorText(err, path_, IoOp::kWrite)));
  }

  std::string path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
  bool regular_ = true;
  // Block buffers, allocated on first use.
  std::unique_ptr<unsigned char[]> rbuf_, wbuf_;
  std::int64_t rbase_ = 0, rlen_ = 0;  // buffered read range
  std::int64_t wbase_ = 0, wlen_ = 0;  // buffered write range
};

// ---------------------------------------------------------------- names

/// Number of characters (UTF-8 code points) of `s`.
inline std::size_t CharCount(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

/// `s` less its last `count` characters.
inline std::string DropLastChars(const std::string& s, std::size_t count) {
  std::size_t end = s.size();
  while (count > 0 && end > 0) {
    --end;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    --count;
  }
  return s.substr(0, end);
}

/// Length of an extension: the part of a name that is not the stem.
inline constexpr std::size_t kExtensionChars = 3;

inline bool IsReadOnly(const std::string& path) {
  std::error_code ec;
  const std::filesystem::perms p = std::filesystem::status(path, ec).permissions();
  return !ec && (p & std::filesystem::perms::owner_write) == std::filesystem::perms::none;
}
}  // namespace pelmo::shapefile
