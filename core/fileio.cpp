#include "core/fileio.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/errors.hpp"

namespace pelmo {

namespace {
// Atomic: files are read and written on other threads (the preview, the
// workers of a shapefile job) while a test arms the hook on its own.
std::atomic<long> g_failAt{-1};
std::atomic<long> g_count{0};

// Size of the read and write buffers.
constexpr std::size_t kBufferSize = 1 << 16;

const char* OpName(IoOp op) {
  switch (op) {
    case IoOp::kOpen: return "Öffnen";
    case IoOp::kRead: return "Lesen";
    case IoOp::kWrite: return "Schreiben";
    case IoOp::kClose: return "Schließen";
    case IoOp::kCopy: return "Kopieren";
    case IoOp::kDelete: return "Löschen";
  }
  return "";
}
}  // namespace

namespace iohook {
void Arm(long failAt) {
  g_failAt = failAt;
  g_count = 0;
}
void Disarm() {
  g_failAt = -1;
  g_count = 0;
}
long Count() { return g_count.load(); }
bool ShouldFail(IoOp) { return ++g_count == g_failAt; }
}  // namespace iohook

void ThrowFileError(int err, const std::string& path, IoOp op) {
  int number = errnum::kIoError;
  switch (err) {
    case ENOENT: {
      // A missing folder is "path not found", a missing file "file not found".
      std::error_code ec;
      const auto parent = std::filesystem::path(path).parent_path();
      number = (op == IoOp::kOpen && !parent.empty() && !std::filesystem::is_directory(parent, ec))
                   ? errnum::kPathNotFound
                   : errnum::kFileNotFound;
      break;
    }
    case ENOTDIR: number = errnum::kPathNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: number = errnum::kPermissionDenied; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: number = errnum::kDiskFull; break;
    default: number = errnum::kIoError; break;
  }
  throw RunTimeError(number, std::string("Datei \"") + path + "\" (" + OpName(op) + ")");
}

// ---------------------------------------------------------------- InputFile

InputFile::~InputFile() { Close(); }

void InputFile::Open(const std::string& path) {
  Close();
  path_ = path;
  if (iohook::ShouldFail(IoOp::kOpen)) ThrowFileError(EACCES, path, IoOp::kOpen);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) ThrowFileError(EISDIR, path, IoOp::kOpen);
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) ThrowFileError(errno, path, IoOp::kOpen);
  std::setvbuf(file_, nullptr, _IONBF, 0);
  struct stat st {};
  Start(::fstat(::fileno(file_), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : 0);
}

void InputFile::OpenStandardInput() {
  Close();
  path_ = kStandardStreamName;
  file_ = stdin;
  standard_ = true;
  Start(0);
}

void InputFile::Start(std::uint64_t size) {
  buf_.resize(kBufferSize);
  pos_ = end_ = 0;
  filled_ = 0;
  size_ = size;
  eof_ = false;
}

void InputFile::Close() noexcept {
  if (file_ != nullptr && !standard_) std::fclose(file_);
  file_ = nullptr;
  standard_ = false;
}

bool InputFile::Fill() {
  pos_ = end_ = 0;
  return ReadMore();
}

bool InputFile::ReadMore() {
  if (eof_ || file_ == nullptr) return false;
  if (pos_ != 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == buf_.size()) return false;
  if (iohook::ShouldFail(IoOp::kRead)) ThrowFileError(EIO, path_, IoOp::kRead);
  const std::size_t n = std::fread(buf_.data() + end_, 1, buf_.size() - end_, file_);
  if (n == 0) {
    if (std::ferror(file_)) ThrowFileError(errno != 0 ? errno : EIO, path_, IoOp::kRead);
    eof_ = true;
    return false;
  }
  end_ += n;
  filled_ += n;
  return true;
}

std::string_view InputFile::Buffered() {
  if (AtEnd()) return {};
  return {buf_.data() + pos_, end_ - pos_};
}

bool InputFile::AtEnd() { return pos_ == end_ && !Fill(); }

bool InputFile::ReadLine(std::string& line) {
  bool cut = false;
  return ReadLine(line, std::string::npos, cut);
}

bool InputFile::ReadLine(std::string& line, std::size_t maxKeep, bool& cut) {
  line.clear();
  cut = false;
  if (AtEnd()) return false;
  for (;;) {
    const char* begin = buf_.data() + pos_;
    const char* stop = begin;
    const char* limit = buf_.data() + end_;
    while (stop != limit && *stop != '\r' && *stop != '\n') ++stop;
    const auto room = maxKeep - line.size();
    const auto found = static_cast<std::size_t>(stop - begin);
    if (found > room) cut = true;
    line.append(begin, std::min(found, room));
    pos_ += static_cast<std::size_t>(stop - begin);
    if (stop != limit) {
      const char c = *stop;
      ++pos_;
      lineEnd_ = c == '\r' ? "\r" : "\n";
      // CR LF counts as one line end.
      if (c == '\r' && !AtEnd() && buf_[pos_] == '\n') {
        ++pos_;
        lineEnd_ = "\r\n";
      }
      return true;
    }
    if (!Fill()) {
      lineEnd_ = {};
      return true;  // last line without line end
    }
  }
}

std::size_t InputFile::Read(char* data, std::size_t n) {
  std::size_t done = 0;
  while (done < n && !AtEnd()) {
    const std::size_t k = std::min(n - done, end_ - pos_);
    std::memcpy(data + done, buf_.data() + pos_, k);
    pos_ += k;
    done += k;
  }
  return done;
}

// ---------------------------------------------------------------- OutputFile

OutputFile::~OutputFile() { CloseQuietly(); }

void OutputFile::Open(const std::string& path) {
  CloseQuietly();
  path_ = path;
  committed_ = 0;
  if (iohook::ShouldFail(IoOp::kOpen)) ThrowFileError(EACCES, path, IoOp::kOpen);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) ThrowFileError(EISDIR, path, IoOp::kOpen);
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) ThrowFileError(errno, path, IoOp::kOpen);
  std::setvbuf(file_, nullptr, _IONBF, 0);
  buf_.clear();
  buf_.reserve(kBufferSize);
}

void OutputFile::OpenStandardOutput() {
  CloseQuietly();
  path_ = kStandardStreamName;
  committed_ = 0;
  file_ = stdout;
  standard_ = true;
  buf_.clear();
  buf_.reserve(kBufferSize);
}

void OutputFile::Write(std::string_view text) {
  if (buf_.size() + text.size() < kBufferSize) {
    buf_.append(text);
    return;
  }
  // A text as large as the buffer goes to the file as it is, after what
  // waits in the buffer.
  Flush();
  WriteThrough(text);
}

void OutputFile::Flush() {
  const std::string_view text = buf_;
  try {
    WriteThrough(text);
  } catch (...) {
    buf_.clear();
    throw;
  }
  buf_.clear();
}

void OutputFile::WriteThrough(std::string_view text) {
  if (text.empty() || file_ == nullptr) return;
  if (iohook::ShouldFail(IoOp::kWrite)) ThrowFileError(ENOSPC, path_, IoOp::kWrite);
  const std::size_t n = std::fwrite(text.data(), 1, text.size(), file_);
  const bool ok = n == text.size() && (!standard_ || std::fflush(file_) == 0);
  const int err = errno;
  if (!ok) ThrowFileError(err != 0 ? err : EIO, path_, IoOp::kWrite);
  committed_ += n;
}

void OutputFile::Close() {
  if (file_ == nullptr) return;
  try {
    Flush();
  } catch (...) {
    std::fclose(file_);
    file_ = nullptr;
    throw;
  }
  std::FILE* f = file_;
  file_ = nullptr;
  const bool failInjected = iohook::ShouldFail(IoOp::kClose);
  const bool ok = standard_ ? std::fflush(f) == 0 : std::fclose(f) == 0;
  standard_ = false;
  const int err = errno;
  if (failInjected) ThrowFileError(EIO, path_, IoOp::kClose);
  if (!ok) ThrowFileError(err != 0 ? err : EIO, path_, IoOp::kClose);
}

void OutputFile::CloseQuietly() noexcept {
  if (file_ == nullptr) return;
  if (!buf_.empty()) {
    (void)std::fwrite(buf_.data(), 1, buf_.size(), file_);
    buf_.clear();
  }
  if (standard_) {
    std::fflush(file_);
  } else {
    std::fclose(file_);
  }
  file_ = nullptr;
  standard_ = false;
}

// ---------------------------------------------------------------- names

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (a == b) return true;
  if (!std::filesystem::exists(a, ec) || !std::filesystem::exists(b, ec)) {
    // Not both there: compare the normalised absolute spellings.
    const auto na = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
    const auto nb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
    return !ec && na == nb;
  }
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

}  // namespace pelmo
