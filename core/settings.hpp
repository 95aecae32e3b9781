// The settings of a transformation job: one field per control of the main
// window and the options dialog, named after the control, plus the option
// table, the meridian-arc coefficients and the cancel flag.
//
// Text fields hold the string as typed; they are converted to numbers where
// they are used. Flags come in groups of which one is set (a properties file
// may leave a group with none).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/warnings.hpp"

namespace pelmo {

class FrontEnd;
struct PointChainCache;

/// Settings record of one job (initial values as the main window shows them
/// at start).
struct TransformSettings {
  // Files.
  std::string txtQuelldatei;  ///< source file path (for a shapefile the .shp name)
  std::string txtZielDatei;   ///< target file path
  bool optASCII = false;      ///< file type "ASCII"
  bool optSHP = true;         ///< file type "Shape"
  std::string txtDateien;     ///< log box

  // Input projection, one of.
  bool optInGK = false;           ///< "GK-Germ"
  bool optInKrovak = true;        ///< "Krovak"
  bool optInBL = false;           ///< "Ell"
  bool optINetrs = false;         ///< "UTM"
  bool optINGKallgemein = false;  ///< "GK-general"

  // Output projection, one of.
  bool optOutGK = true;            ///< "GK-Germ"
  bool optOutKrovak = false;       ///< "Krovak"
  bool optOutBL = false;           ///< "Ell"
  bool optOUTetrs = false;         ///< "UTM"
  bool optOutGKallgemein = false;  ///< "GK-general"

  // Ellipsoids: semi-major axis a [m], first eccentricity e, display name.
  std::string txtEll1a = "0", txtEll1e = "0", txtBezEll1 = "0";
  std::string txtEll2a = "0", txtEll2e = "0", txtBezEll2 = "0";

  // Datum mode, one of (set in the options dialog).
  bool optSevPar = true;
  bool optTranslation = false;

  // First seven-parameter set: dX, dY, dZ [m], m [ppm], gamma, beta, alpha ["].
  std::string txtP1 = "0", txtP2 = "0", txtP3 = "0", txtP4 = "0", txtP5 = "0", txtP6 = "0",
              txtP7 = "0";
  std::string txtsevenParSys = "no Transformation";
  // Second seven-parameter set, same order.
  std::string txtP2_1 = "0", txtP2_2 = "0", txtP2_3 = "0", txtP2_4 = "0", txtP2_5 = "0",
              txtP2_6 = "0", txtP2_7 = "0";
  std::string txtsevenParSys2 = "no Transformation";

  // Translation (translation mode).
  std::string txtDX = "0", txtDY = "0", txtDH = "0";

  // Name of the loaded properties file (display only).
  std::string txtPAR = "no loaded Properties";

  /// The seven fields of set 1 (set = 1) or set 2 (set = 2), in order.
  std::array<std::string*, 7> SevenParFields(int set);
  std::array<const std::string*, 7> SevenParFields(int set) const;
};

/// Number of entries of the option table.
inline constexpr int kOptionCount = 20;

/// The option table: 20 texts written by the options dialog.
///  0 chk_Sperre, 1 comGKBM, 2 comGKBM2, 3 comUTMBM, 4 comUTMBM2, 5 txtUTMma,
///  6 txtUTMma2, 7 chkExp, 8 chkStat1, 9 chkStat2, 10 optSevPar,
///  11 optTranslation, 12 txtINeasting, 13 txtINmeridian, 14 txtINnorthing,
///  15 txtINscale, 16 txtOUTeasting, 17 txtOUTmeridian, 18 txtOUTnorthing,
///  19 txtOUTscale.
using OptionTable = std::array<std::string, kOptionCount>;

/// Index names of the option table.
namespace opt {
inline constexpr int kSperre = 0, kGKBM = 1, kGKBM2 = 2, kUTMBM = 3, kUTMBM2 = 4, kUTMma = 5,
                     kUTMma2 = 6, kExp = 7, kStat1 = 8, kStat2 = 9, kSevPar = 10,
                     kTranslation = 11, kINeasting = 12, kINmeridian = 13, kINnorthing = 14,
                     kINscale = 15, kOUTeasting = 16, kOUTmeridian = 17, kOUTnorthing = 18,
                     kOUTscale = 19;
}

/// Text forms of the truth values in the option table.
inline constexpr const char* kTrueText = "True";
inline constexpr const char* kFalseText = "False";

/// The defaults the main window writes at start; 0.9996 in the given
/// decimal sign.
OptionTable DefaultOptionValues(char decimalSign);

/// Field separator of an ASCII layout.
enum class AsciiSeparator {
  kBlank,      ///< one or more blanks
  kTab,        ///< one tab
  kComma,      ///< one comma (the decimal sign must then be a point)
  kSemicolon,  ///< one semicolon
};

/// Meaning of a column of an ASCII layout.
enum class AsciiColumn {
  kId,      ///< any text, copied
  kFirst,   ///< first value of the point
  kSecond,  ///< second value
  kHeight,  ///< height (optional on a line)
  kSkip,    ///< copied unchanged
};

/// How ASCII files are read. Inactive (the default): every line is
/// "first second [height]" separated by blanks and is written as
/// "first second height". Active: the first `headerLines` lines, empty lines
/// and lines starting with "#" are copied unchanged; every other line keeps
/// its columns and separators, with the coordinates replaced by the results.
struct AsciiLayout {
  bool active = false;
  std::vector<AsciiColumn> columns{AsciiColumn::kFirst, AsciiColumn::kSecond,
                                   AsciiColumn::kHeight};
  AsciiSeparator separator = AsciiSeparator::kBlank;
  long headerLines = 0;
  /// Decimal sign of the written numbers when one is chosen (pelmo-cli
  /// --decimal); 0: the sign of each line.
  char decimalSign = 0;
};

/// A horizontal shift grid in one of the two transformation slots, in place
/// of that slot's seven-parameter set. The properties file cannot hold it.
struct GridSlot {
  /// The grid file (NTv2 ".gsb" or PROJ GeoTIFF ".tif") as given: a path,
  /// or a bare name looked up where grids are kept; empty: the slot holds
  /// its seven parameters.
  std::string file;
  /// Applied from the grid's target datum to its source datum.
  bool inverse = false;

  bool active() const noexcept { return !file.empty(); }
  bool operator==(const GridSlot&) const = default;
};

/// Meridian-arc coefficients c0..c5 of the target ellipsoid.
using MeridianCoeffArray = std::array<double, 6>;

/// Everything a job reads and writes, owned by a front end (window, batch
/// tool, tests) and passed to the engine.
class Session {
 public:
  explicit Session(FrontEnd& frontEnd, char decimalSign = '.');

  TransformSettings settings;
  OptionTable OptionValues;
  MeridianCoeffArray MeridianCoeffs{};
  /// Set by the progress window's Cancel (or Ctrl+C in the batch tool).
  bool CancelRequested = false;
  /// How ASCII files are read and written.
  AsciiLayout asciiLayout;
  /// Plausibility warnings of the current (or last) job.
  WarningTally warnings;
  /// Grids in the first and second transformation slot (index 0 and 1).
  std::array<GridSlot, 2> grids;
  /// Threads of a job: 0 one per core, 1 the calling thread alone.
  int threads = 0;
  /// Size of the blocks in which a job on several threads hands its points
  /// to the threads: bytes of ASCII text, or of shapefile records.
  std::size_t blockBytes = std::size_t{1} << 20;

  /// The user's decimal sign, used when numbers are written as text.
  char decimalSign() const noexcept { return decimalSign_; }
  void setDecimalSign(char sign) noexcept { decimalSign_ = sign; }
  FrontEnd& frontEnd() noexcept { return *frontEnd_; }

  /// Must be called after any change of `settings`, `OptionValues` or
  /// `MeridianCoeffs`: the point chain converts the texts once and keeps the
  /// numbers until the next change.
  void Touch() noexcept { ++revision_; }
  std::uint64_t revision() const noexcept { return revision_; }

  /// Converted settings of the point chain (owned by the point chain).
  std::shared_ptr<PointChainCache> chainCache;

  /// Append to / replace the log box and tell the front end.
  void AppendLog(const std::string& text);
  void SetLog(const std::string& text);

 private:
  FrontEnd* frontEnd_;
  char decimalSign_;
  std::uint64_t revision_ = 1;
};

}  // namespace pelmo
