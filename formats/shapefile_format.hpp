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
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

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

// Record fields, relative to the record start (the record header
// included). The layouts of the shape types differ from byte 12 on; see
// RecordLayout.
inline constexpr std::int64_t kRecContentLength = 4;     // int32 BE, words
inline constexpr std::int64_t kRecShapeType = 8;         // int32 LE
inline constexpr std::int64_t kRecPointX = 12;           // Point kinds: X, Y, [Z], [M]
inline constexpr std::int64_t kRecBox = 12;              // other kinds: Xmin, Ymin, Xmax, Ymax
inline constexpr std::int64_t kRecMultiPointCount = 44;  // MultiPoint kinds: NumPoints
inline constexpr std::int64_t kRecMultiPoints = 48;      // MultiPoint kinds: the points
inline constexpr std::int64_t kRecNumParts = 44;         // poly kinds, MultiPatch: int32 LE
inline constexpr std::int64_t kRecNumPoints = 48;        // int32 LE
inline constexpr std::int64_t kRecParts = 52;            // NumParts x int32 LE, then the points
/// Bytes of a record head that decide its layout (counts included).
inline constexpr std::int64_t kRecLayoutHead = 52;
inline constexpr std::int64_t kPartBytes = 4;
inline constexpr std::int64_t kPointBytes = 16;  // X, Y as doubles
inline constexpr std::int64_t kValueBytes = 8;   // one Z or M value
inline constexpr std::int64_t kRangeBytes = 16;  // min, max as doubles
inline constexpr std::int64_t kBoxBytes = 32;    // four doubles

// Header Z and M ranges, byte positions.
inline constexpr std::int64_t kHeaderZRange = 68;  // Zmin, Zmax
inline constexpr std::int64_t kHeaderMRange = 84;  // Mmin, Mmax

/// The null shape: a record of this type holds only its type.
inline constexpr int kShapeNull = 0;

/// Block size of the read and write buffers of one file.
inline constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
/// Vertices handled per chunk (read, transform, write): X and Y of a full
/// chunk fill one block and are read and written past the block buffer.
inline constexpr std::int64_t kVertexChunk = 65536;
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

/// A range of values (Z or M), empty until the first value is added.
struct Range {
  double min = 0, max = 0;
  bool empty = true;

  void Add(double v) {
    if (empty) {
      min = max = v;
      empty = false;
      return;
    }
    min = std::min(min, v);
    max = std::max(max, v);
  }
  void Add(const Range& r) {
    if (r.empty) return;
    Add(r.min);
    Add(r.max);
  }
  void Store(unsigned char* p) const {
    StoreLEDouble(p, min);
    StoreLEDouble(p + 8, max);
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

/// Copies `length` bytes at `pos` of `from` to the same place of `to`,
/// through `buf`.
void CopyRange(BinFile& from, BinFile& to, std::int64_t pos, std::int64_t length,
               std::vector<unsigned char>& buf);

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

// ---------------------------------------------------------------- shape types

/// How the records of a shape type are laid out.
enum class ShapeKind {
  kPoint,       ///< X, Y [, Z] [, M]
  kMultiPoint,  ///< box, NumPoints, points [, Z range, Z] [, M range, M]
  kPoly,        ///< box, NumParts, NumPoints, parts, points [, Z range, Z] [, M range, M]
  kMultiPatch,  ///< as kPoly with a part type per part after the part starts
};

/// A shape type of the ESRI Shapefile Technical Description.
struct ShapeType {
  int code;
  const char* name;
  ShapeKind kind;
  bool z;  ///< Z values follow the points
  bool m;  ///< an M block may follow (present when the record has room for it)
};

/// Every shape type handled, in the order of their codes.
inline constexpr ShapeType kShapeTypes[] = {
    {1, "Point", ShapeKind::kPoint, false, false},
    {3, "PolyLine", ShapeKind::kPoly, false, false},
    {5, "Polygon", ShapeKind::kPoly, false, false},
    {8, "MultiPoint", ShapeKind::kMultiPoint, false, false},
    {11, "PointZ", ShapeKind::kPoint, true, true},
    {13, "PolyLineZ", ShapeKind::kPoly, true, true},
    {15, "PolygonZ", ShapeKind::kPoly, true, true},
    {18, "MultiPointZ", ShapeKind::kMultiPoint, true, true},
    {21, "PointM", ShapeKind::kPoint, false, true},
    {23, "PolyLineM", ShapeKind::kPoly, false, true},
    {25, "PolygonM", ShapeKind::kPoly, false, true},
    {28, "MultiPointM", ShapeKind::kMultiPoint, false, true},
    {31, "MultiPatch", ShapeKind::kMultiPatch, true, true},
};

/// The shape type of `code`, or nullptr when it is not handled (the null
/// shape included: a file of null records has nothing to transform).
const ShapeType* FindShapeType(int code);

/// "13 (PolyLineZ)" for a handled type, the bare number otherwise.
std::string ShapeTypeText(int code);

/// "Point (1), PolyLine (3), ..., MultiPatch (31)".
std::string SupportedShapeTypesText();

/// True when records of the two types share their layout (PolyLine and
/// Polygon of the same dimension do), so that one may stand in the
/// other's file.
inline bool SameLayout(const ShapeType& a, const ShapeType& b) {
  return a.kind == b.kind && a.z == b.z && a.m == b.m;
}

// ---------------------------------------------------------------- records

/// Where the fields of one record lie: byte positions relative to the
/// record start, 0 for a field the record does not have.
struct RecordLayout {
  std::int64_t index = 0;            ///< record number in index order, from 1
  std::int64_t at = 0;               ///< byte position of the record in the .shp
  std::int64_t size = 0;             ///< bytes, record header included
  int type = 0;                      ///< the record's own shape type
  const ShapeType* shape = nullptr;  ///< its layout; nullptr for a null record
  std::int64_t numParts = 0, numPoints = 0;
  std::int64_t partsAt = 0;      ///< part start indices, int32 each
  std::int64_t partTypesAt = 0;  ///< MultiPatch part types, int32 each
  std::int64_t pointsAt = 0;     ///< X, Y of the first point
  std::int64_t zRangeAt = 0;     ///< Zmin, Zmax
  std::int64_t zAt = 0;          ///< the Z values
  std::int64_t mRangeAt = 0;     ///< Mmin, Mmax (M block present)
  std::int64_t mAt = 0;          ///< the M values (M block present)
  std::int64_t valuesEnd = 0;    ///< end of the points and Z values; the rest is copied

  bool HasBox() const { return shape != nullptr && shape->kind != ShapeKind::kPoint; }
  /// True for the kinds that list their points (a vertex bar per record).
  bool ListsPoints() const { return HasBox(); }
};

/// Lays out a record of `size` bytes with the layout of `shape`, from the
/// first min(size, kRecLayoutHead) bytes `head` of the record. Returns ""
/// or what does not fit, for the message. Part starts are not checked here.
std::string LayOutRecord(const ShapeType& shape, const unsigned char* head, std::int64_t size,
                         RecordLayout& out);

/// One vertex as read: Z and M are NaN where the record has none.
struct Vertex {
  double x = 0, y = 0, z = 0, m = 0;
};

/// One part: index of its first vertex and, in a MultiPatch, its type.
struct PartInfo {
  std::int32_t start = 0;
  std::int32_t type = 0;
};

/// Reads a shapefile record by record without writing anything: headers,
/// index, record layouts, parts and vertices, each checked before it is
/// trusted. Failures are thrown as ShapeFailure naming file, record and
/// field. The files are opened by the caller.
class ShapeReader {
 public:
  ShapeReader(BinFile& shp, BinFile& shx) : shp_(shp), shx_(shx) {}

  /// Reads and checks the headers of both files.
  void ReadHeaders();

  const unsigned char* shpHeader() const { return shpHeader_; }
  std::int64_t shpLength() const { return shpLength_; }  ///< bytes, by the .shp header
  std::int64_t shxLength() const { return shxLength_; }  ///< bytes, by the .shx header
  std::int64_t recordCount() const { return recordCount_; }
  /// The shape type of the header (its low 16 bits).
  int shapeType() const { return shapeType_; }
  /// Its layout, or nullptr when the type is not handled.
  const ShapeType* type() const { return type_; }

  /// Record i (1-based, in index order): the index entry, the record
  /// header, the record's shape type against the file's, the counts and
  /// the part starts. Requires a handled file type.
  RecordLayout Record(std::int64_t i);

  /// The parts of a record from Record().
  void Parts(const RecordLayout& r, std::vector<PartInfo>& out);

  /// Vertices [first, first + n) of a record from Record().
  void Vertices(const RecordLayout& r, std::int64_t first, std::int64_t n,
                std::vector<Vertex>& out);

 private:
  [[noreturn]] void FailRecord(std::int64_t i, std::int64_t at, const std::string& what) const;

  BinFile& shp_;
  BinFile& shx_;
  unsigned char shpHeader_[kHeaderBytes] = {};
  std::int64_t shpLength_ = 0, shxLength_ = 0, recordCount_ = 0;
  int shapeType_ = 0;
  const ShapeType* type_ = nullptr;
  std::vector<unsigned char> buf_;
};

// ---------------------------------------------------------------- transformation

/// What a transformed record adds to the file header: the extent of its
/// written X, Y and Z values.
struct Extent {
  Box xy;
  Range z;
};

/// Vertex number standing for the two corners of the box of a record
/// without vertices, or of a header when no record has one.
inline constexpr std::int64_t kBoxCorners = -1;

/// Carries vertices [first, first + n) of a record through the point chain,
/// in place: X and Y, and Z as the height where `z` is not null. `first`
/// is kBoxCorners for the two corners of a box (Xmin, Ymin), (Xmax, Ymax).
using ChainFn =
    std::function<void(std::int64_t first, std::int64_t n, double* x, double* y, double* z)>;

/// Buffers of the record transformation, kept from record to record.
struct RecordScratch {
  std::vector<unsigned char> xy, z;
  std::vector<double> x, y, h;
};

/// Transforms record `r` (from ShapeReader::Record) of `in` into the same
/// place of `out`: X, Y and Z of every vertex through `chain`; the record
/// box from the transformed vertices (the transformed corners of the source
/// box for a record without vertices, an all-zero box staying zero); the Z
/// range from the written Z values (copied when there are none); everything
/// else, M values, M range and part types included, copied. A null record
/// is copied whole. Depends on nothing but its arguments.
Extent TransformRecord(const RecordLayout& r, BinFile& in, BinFile& out, const ChainFn& chain,
                       RecordScratch& scratch);

/// The box of the four doubles at `box` as the two transformed corners
/// (Xmin, Ymin) and (Xmax, Ymax), in this order. An all-zero box, which is
/// how shapelib and GDAL mark "no extent", stays zero: it bounds nothing,
/// and its corners may lie where the chain cannot go (Krovak input faults
/// at 0, 0).
Box CornerBox(const unsigned char* box, const ChainFn& chain);

}  // namespace pelmo::shapefile
