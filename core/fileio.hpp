// Buffered file access of the engine, with a hook through which tests make
// the n-th file operation fail.
//
// Every failure is thrown as RunTimeError with the classic number (53 file
// not found, 76 path not found, 70 permission denied, 61 disk full, 57 I/O
// error) and the file name in its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace pelmo {

/// Kinds of file operation, for the fault hook.
enum class IoOp { kOpen, kRead, kWrite, kClose, kCopy, kDelete };

/// Test hook: when armed with n >= 1, the n-th file operation from now on
/// fails as if the system had refused it. Tests only; operations on every
/// thread count.
namespace iohook {
void Arm(long failAt);
void Disarm();
/// Number of operations counted since the last Arm (or Disarm).
long Count();
/// Counts one operation; true when it is the one to fail.
bool ShouldFail(IoOp op);
}  // namespace iohook

/// Maps an errno value of a failed operation on `path` to a RunTimeError.
[[noreturn]] void ThrowFileError(int err, const std::string& path, IoOp op);

/// The file name that stands for standard input or output in the batch
/// tool ("-").
inline constexpr const char* kStandardStreamName = "-";

/// Buffered sequential reader.
class InputFile {
 public:
  InputFile() = default;
  explicit InputFile(const std::string& path) { Open(path); }
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  void Open(const std::string& path);
  /// Reads standard input (named "-"); Close() leaves it open.
  void OpenStandardInput();
  void Close() noexcept;
  bool IsOpen() const noexcept { return file_ != nullptr; }
  const std::string& path() const noexcept { return path_; }
  /// Bytes handed out so far, and the size of the file when it is a plain
  /// file (0 for a pipe or a terminal): what progress is measured in.
  std::uint64_t consumed() const noexcept { return filled_ - (end_ - pos_); }
  std::uint64_t size() const noexcept { return size_; }

  /// True when no byte is left.
  bool AtEnd();
  /// Reads one line without its end. A line ends at CR, CR LF or LF.
  /// Returns false at the end of the file (nothing read).
  bool ReadLine(std::string& line);
  /// The same, keeping at most `maxKeep` bytes of the line: the rest of a
  /// longer line is read past and dropped, and `cut` tells that it was.
  /// Memory stays bounded however long the line is.
  bool ReadLine(std::string& line, std::size_t maxKeep, bool& cut);
  /// The line end of the line last read: "\r\n", "\n", "\r", or empty for a
  /// last line without one.
  std::string_view lineEnd() const noexcept { return lineEnd_; }
  /// Reads up to n bytes; returns how many were read.
  std::size_t Read(char* data, std::size_t n);

  /// The bytes read ahead and not handed out yet, reading when there are
  /// none; empty at the end of the file. Valid until the next call.
  std::string_view Buffered();
  /// Hands out the first n bytes of Buffered().
  void Skip(std::size_t n) noexcept { pos_ += n; }
  /// Reads more behind the bytes of Buffered() (which move to the front of
  /// the buffer). False when nothing was added: the file ended, or the
  /// buffer is full.
  bool ReadMore();

 private:
  bool Fill();
  void Start(std::uint64_t size);
  std::FILE* file_ = nullptr;
  std::string path_;
  std::vector<char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  std::uint64_t filled_ = 0, size_ = 0;
  bool eof_ = false;
  std::string_view lineEnd_;
  bool standard_ = false;
};

/// Buffered sequential writer. Close() reports a failed flush.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Opens for writing; an existing file is truncated.
  void Open(const std::string& path);
  /// Writes to standard output (named "-"); every block is flushed through,
  /// and Close() leaves the stream open.
  void OpenStandardOutput();
  bool IsStandard() const noexcept { return standard_; }
  void Write(std::string_view text);
  /// Writes what is buffered and closes; throws on failure.
  void Close();
  /// Closes without reporting errors (error paths); buffered data is still
  /// written when possible.
  void CloseQuietly() noexcept;
  bool IsOpen() const noexcept { return file_ != nullptr; }
  const std::string& path() const noexcept { return path_; }
  /// Bytes known to have reached the file since it was opened: the sum of
  /// the writes that succeeded completely. After a failed write the file may
  /// hold a piece of the failed block beyond this length.
  std::uint64_t committed() const noexcept { return committed_; }

 private:
  void Flush();
  /// Writes `text` to the file without the buffer.
  void WriteThrough(std::string_view text);
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string buf_;
  std::uint64_t committed_ = 0;
  bool standard_ = false;
};

/// True when `path` names an existing file (or folder).
bool FileExists(const std::string& path);

/// True when the two names denote the same existing file (links, relative
/// and absolute spellings, letter case on case-insensitive systems).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace pelmo
