// Run-time errors of the engine.
//
// Every failure that reaches a user carries a number in the classic run-time
// numbering (53 file not found, 13 type mismatch, ...) and a German
// description, because that is what the messages of this program show.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace pelmo {

/// Classic run-time error numbers used by the engine.
namespace errnum {
inline constexpr int kInvalidArgument = 5;   ///< invalid procedure call or argument
inline constexpr int kOverflow = 6;          ///< overflow
inline constexpr int kOutOfRange = 9;        ///< subscript out of range
inline constexpr int kDivisionByZero = 11;   ///< division by zero
inline constexpr int kTypeMismatch = 13;     ///< text is not a number
inline constexpr int kOutOfStringSpace = 14; ///< a text (a line) too long to be held
inline constexpr int kUserInterrupt = 18;    ///< the user interrupted the run
inline constexpr int kInvalidOperation = 16; ///< expression too complex / invalid FP operation
inline constexpr int kIoError = 57;          ///< device I/O error
inline constexpr int kDiskFull = 61;         ///< disk full
inline constexpr int kPastEndOfFile = 62;    ///< input past end of file
inline constexpr int kFileNotFound = 53;     ///< file not found
inline constexpr int kPermissionDenied = 70; ///< permission denied
inline constexpr int kPathFileAccess = 75;   ///< path/file access error
inline constexpr int kPathNotFound = 76;     ///< path not found
}  // namespace errnum

/// Longest part of a line the text readers keep (bytes). Coordinate and
/// parameter lines are far shorter; a longer line is refused rather than
/// held in memory whole.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

/// German description of a run-time error number ("Datei nicht gefunden", ...).
std::string RunTimeErrorText(int number);

/// A run-time error: a number, its German description, optional detail.
class RunTimeError : public std::runtime_error {
 public:
  explicit RunTimeError(int number);
  RunTimeError(int number, const std::string& detail);
  int number() const noexcept { return number_; }

 private:
  int number_;
};

/// The kinds of floating-point fault a geodetic routine can raise.
enum class FaultKind {
  kDivisionByZero,    ///< a division by zero
  kOverflow,          ///< a result too large for a double
  kInvalidOperation,  ///< an invalid operation (0/0, inf-inf, no convergence)
  kInvalidArgument,   ///< square root of a negative number, |x| > 1 in ArcSin, bad power base
};

/// Raised by the geodetic routines; no partial result escapes.
class FloatingPointFault : public RunTimeError {
 public:
  explicit FloatingPointFault(FaultKind kind);
  FaultKind kind() const noexcept { return kind_; }

 private:
  FaultKind kind_;
};

}  // namespace pelmo
