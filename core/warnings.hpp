// Plausibility warnings of a job: what the checks found at one point, and a
// tally per job that names, for each kind, how many points were met, the
// first line or record and its value, and the largest value met.
//
// Warnings never stop a job. A tally can be filled by several workers, each
// with its own, and merged afterwards: counts add up, the first item is the
// one with the smallest line or record number, the largest value the
// largest of all.
#pragma once

#include <array>
#include <cstddef>

namespace pelmo {

/// The kinds of plausibility warning.
enum class WarningKind : unsigned {
  kZonePrefix,      ///< input easting prefix differs from the meridian index or zone
  kInputDistance,   ///< input point far from the input central meridian
  kOutputDistance,  ///< result far from the output central meridian
  kOutputRange,     ///< result outside the output projection's sensible range
};
inline constexpr std::size_t kWarningKinds = 4;

/// The value that made a point fail a check: the easting (zone prefix), the
/// distance from the central meridian in degrees (distances), or the two
/// written values (range).
struct WarningSample {
  double a = 0, b = 0;
};

/// What the checks found at one point: one flag per kind, and the
/// offending value of each kind that is flagged.
struct PointWarnings {
  unsigned flags = 0;
  std::array<WarningSample, kWarningKinds> sample{};

  bool has(WarningKind k) const { return (flags >> static_cast<unsigned>(k)) & 1U; }
  void set(WarningKind k, WarningSample s) {
    flags |= 1U << static_cast<unsigned>(k);
    sample[static_cast<std::size_t>(k)] = s;
  }
};

/// The warnings of one job, per kind.
class WarningTally {
 public:
  struct Kind {
    long count = 0;        ///< points met
    long first = 0;        ///< line or record of the first point met (1-based)
    WarningSample firstSample;
    double largest = 0;    ///< largest sample.a met
  };

  /// Counts the flags of one point met at line or record `item`.
  void Add(const PointWarnings& w, long item) {
    if (w.flags == 0) return;
    for (std::size_t k = 0; k < kWarningKinds; ++k) {
      if (((w.flags >> k) & 1U) == 0) continue;
      Kind& d = kinds_[k];
      Take(d, item, w.sample[k], w.sample[k].a);
      ++d.count;
    }
  }

  /// Adds another worker's tally.
  void Merge(const WarningTally& other) {
    for (std::size_t k = 0; k < kWarningKinds; ++k) {
      const Kind& o = other.kinds_[k];
      if (o.count == 0) continue;
      Take(kinds_[k], o.first, o.firstSample, o.largest);
      kinds_[k].count += o.count;
    }
  }

  const Kind& operator[](WarningKind k) const { return kinds_[static_cast<std::size_t>(k)]; }
  long Total() const {
    long n = 0;
    for (const Kind& k : kinds_) n += k.count;
    return n;
  }
  void Clear() { kinds_ = {}; }

 private:
  static void Take(Kind& d, long item, const WarningSample& s, double largest) {
    if (d.count == 0 || item < d.first) {
      d.first = item;
      d.firstSample = s;
    }
    if (d.count == 0 || largest > d.largest) d.largest = largest;
  }

  std::array<Kind, kWarningKinds> kinds_{};
};

}  // namespace pelmo
