// The shapefile run: transforms the coordinates of an ESRI shapefile
// (main file .shp, index .shx, attribute table .dbf) into a new shapefile.
//
// The run:
//  - the stems are the names less their last three characters;
//  - source and target must not name the same files, in any spelling;
//  - the sources are opened and their headers checked before any question;
//  - target .shp and .shx are opened (created, never truncated) after their
//    overwrite question, the .dbf is copied after its questions; only when
//    every question has been answered Yes are .shp and .shx emptied, so a
//    No never costs an existing file its content;
//  - the index is copied, every record is visited in index order, checked
//    against the file before it is trusted, and written to its source offset
//    with every coordinate pair passed through TransformPoint;
//  - record boxes are the extent of the transformed vertices and the header
//    box the union of all of them; a record without vertices, and the header
//    when no record has one, get the transformed corners of their source box
//    (an all-zero box stays zero);
//  - a record with the null shape type is copied unchanged; a record of
//    another layout than the file's shape type is refused;
//  - a failure of any kind shows one message naming the file, the record and
//    what was wrong, and deletes the targets this run created or changed;
//    Cancel deletes them without a message.
//
// Memory stays fixed whatever the size of the files: each file is read and
// written through one block buffer, and vertices pass in chunks.

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
#include <vector>

#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/frontend.hpp"
#include "core/numtext.hpp"
#include "formats/drivers.hpp"
#include "formats/shapefile_format.hpp"
#include "geodesy/plausibility.hpp"
#include "geodesy/point_chain.hpp"

namespace pelmo {

namespace {

namespace fs = std::filesystem;

using namespace shapefile;  // NOLINT(google-build-using-namespace)

/// The user asked to cancel.
struct CancelledRun {};

// ---------------------------------------------------------------- the run

/// One target file of the run and whether a failure must delete it.
struct Target {
  std::string path;
  bool existed = false;  // existed before the run
  bool touched = false;  // created or changed by this run
};

class ShapeRun {
 public:
  explicit ShapeRun(Session& session) : s_(session), fe_(session.frontEnd()) {}
  ~ShapeRun() {
    if (!finished_) AbortQuietly();
  }
  ShapeRun(const ShapeRun&) = delete;
  ShapeRun& operator=(const ShapeRun&) = delete;

  bool Execute();

 private:
  enum class Outcome { kDone, kDeclined, kCancelled, kFailed };

  Outcome Run();
  void CheckNames();
  void OpenSources();
  void ReadSourceHeaders();
  bool OpenTarget(BinFile& file, Target& target);
  bool CopyAttributeTable();
  void TransformRecord(std::int64_t i);
  void TransformPointRecord(std::int64_t i, std::int64_t R, std::int64_t size);
  void TransformPolyRecord(std::int64_t i, std::int64_t R, std::int64_t size);
  void WriteHeaderBoxes();
  void FinishTargets();
  Box CornerBox(const unsigned char* source);

  bool Ask(const std::string& text) {
    return fe_.AskYesNo(text, kProblemTitle, MsgIcon::kExclamation);
  }
  /// Passes one point through the chain (height 0) and returns (x, y);
  /// the plausibility of vertices is counted per record.
  void Transform(double& x, double& y) {
    double first = x, second = y, height = 0;
    const PointResult r = TransformPoint(s_, first, second, height);
    if (curRecord_ > 0 && curPoint_ >= 0) s_.warnings.Add(CheckPoint(checks_, x, r), curRecord_);
    x = r[0];
    y = r[1];
  }
  void PollCancel() const {
    if (s_.CancelRequested) throw CancelledRun{};
  }
  /// Current values of options 8 and 9 (numeric value 1 switches a bar on),
  /// converted again after every change of the session.
  void RefreshOptions() {
    if (optionsRevision_ == s_.revision()) return;
    double v = 0;
    vertexBar_ = TryParseNumber(s_.OptionValues[opt::kStat1], v) == 0 && v == 1;
    v = 0;
    recordBar_ = TryParseNumber(s_.OptionValues[opt::kStat2], v) == 0 && v == 1;
    optionsRevision_ = s_.revision();
  }
  void CopyRange(BinFile& from, BinFile& to, std::int64_t pos, std::int64_t length);
  [[noreturn]] void FailRecord(const std::string& file, std::int64_t i, std::int64_t R,
                               const std::string& what) const {
    throw ShapeFailure(
        FileMessage(file, "ist beschädigt: Record " + Num(i) + " (Byte " + Num(R) + "): " + what));
  }
  /// Subject of a transformation error: the point or box being transformed.
  std::string WhereText() const;
  void DeleteTargets();
  void CloseAll() noexcept {
    shpIn_.Discard();
    shxIn_.Discard();
    shpOut_.Discard();
    shxOut_.Discard();
  }
  void AbortQuietly() noexcept;

  Session& s_;
  FrontEnd& fe_;
  const PlausibilityContext checks_ = MakePlausibilityContext(s_);
  bool finished_ = false;
  bool progressOpen_ = false;

  std::string srcStem_, tgtStem_, srcDbf_;
  BinFile shpIn_, shxIn_, shpOut_, shxOut_;
  Target tShp_, tShx_, tDbf_;

  unsigned char shpHeader_[kHeaderBytes] = {};
  std::int64_t shpLength_ = 0;  // bytes, from the .shp header
  std::int64_t shxLength_ = 0;  // bytes, from the .shx header
  std::int64_t recordCount_ = 0;
  int shapeType_ = 0;

  Box fileBox_;
  std::vector<unsigned char> chunk_;  // vertices or copied bytes

  // Where the run is, for the text of a transformation error.
  std::int64_t curRecord_ = 0;  // 0: header
  std::int64_t curPoint_ = -1;  // -1: the box of the record or header

  std::string lastPercent_;
  std::uint64_t optionsRevision_ = 0;
  bool vertexBar_ = false, recordBar_ = false;
};

bool ShapeRun::Execute() {
  s_.CancelRequested = false;
  fe_.ProgressOpen();
  progressOpen_ = true;

  Outcome outcome = Outcome::kFailed;
  std::string failure;
  try {
    outcome = Run();
  } catch (const CancelledRun&) {
    outcome = Outcome::kCancelled;
  } catch (const ShapeFailure& e) {
    failure = e.what();
  } catch (const RunTimeError& e) {
    // Raised by the point chain.
    failure = FileMessage(
        shpIn_.path(), WhereText() + " kann nicht transformiert werden: " + std::string(e.what()));
  } catch (const std::bad_alloc&) {
    failure = FileMessage(shpIn_.path(),
                          "kann nicht transformiert werden: nicht genügend Arbeitsspeicher");
  } catch (const std::exception& e) {
    failure = FileMessage(shpIn_.path(), e.what());
  }
  if (!failure.empty()) {
    fe_.ShowMessage(failure, kProgramName, MsgIcon::kNone);
    outcome = Outcome::kFailed;
  }

  switch (outcome) {
    case Outcome::kDone:
      CloseAll();
      if (s_.CancelRequested) {
        // Cancel during the last points: the finished files go as well.
        progressOpen_ = false;
        fe_.ProgressClose();
        DeleteTargets();
        finished_ = true;
        return false;
      }
      finished_ = true;
      progressOpen_ = false;
      fe_.ProgressClose();
      return true;
    case Outcome::kDeclined:
      CloseAll();
      progressOpen_ = false;
      fe_.ProgressClose();
      finished_ = true;
      return false;
    case Outcome::kCancelled:
    case Outcome::kFailed:
      progressOpen_ = false;
      fe_.ProgressClose();
      CloseAll();
      DeleteTargets();
      finished_ = true;
      return false;
  }
  return false;
}

ShapeRun::Outcome ShapeRun::Run() {
  CheckNames();
  OpenSources();
  ReadSourceHeaders();

  // Target main file and index: question, then open in place.
  tShp_.path = tgtStem_ + "shp";
  tShx_.path = tgtStem_ + "shx";
  tDbf_.path = tgtStem_ + "dbf";
  // The attribute table is replaced by a copy and deleted when the run
  // fails: a folder of that name must not get near either.
  std::error_code ec;
  if (fs::is_directory(tDbf_.path, ec)) throw ShapeFailure(FileMessage(tDbf_.path, kIsAFolder));
  if (!OpenTarget(shpOut_, tShp_)) return Outcome::kDeclined;
  if (!OpenTarget(shxOut_, tShx_)) return Outcome::kDeclined;

  s_.SetLog("shapetyp " + Num(shapeType_) + kCrLf);

  if (!CopyAttributeTable()) return Outcome::kDeclined;

  // Every question is answered: from here on the old content goes.
  tShp_.touched = tShx_.touched = true;
  shpOut_.Truncate(0);
  shxOut_.Truncate(0);

  s_.AppendLog("Dateilänge in byte " + Num(shpLength_) + kCrLf);
  s_.AppendLog("RecordAanzahl : " +
               FormatNumber(static_cast<double>(recordCount_), s_.decimalSign()) + kCrLf);

  CopyRange(shxIn_, shxOut_, 0, shxLength_);
  CopyRange(shpIn_, shpOut_, 0, kHeaderBytes);

  fe_.ProgressMin(ProgressBarId::kRecords, 1);
  fe_.ProgressMax(ProgressBarId::kRecords,
                  static_cast<float>(std::max<std::int64_t>(recordCount_, 2)));

  for (std::int64_t i = 1; i <= recordCount_; ++i) TransformRecord(i);

  WriteHeaderBoxes();
  FinishTargets();
  return Outcome::kDone;
}

void ShapeRun::CheckNames() {
  const TransformSettings& t = s_.settings;
  const struct {
    const std::string* name;
    const char* role;
  } names[] = {{&t.txtQuelldatei, "Quelldatei"}, {&t.txtZielDatei, "Zieldatei"}};
  for (const auto& n : names) {
    if (CharCount(*n.name) <= kExtensionChars) {
      throw ShapeFailure(std::string("Der Name der ") + n.role + " \"" + *n.name + "\"" + kCrLf +
                         "ist zu kurz: erwartet wird der Name einer Shapedatei mit der Endung "
                         "shp, shx oder dbf");
    }
  }
  srcStem_ = DropLastChars(t.txtQuelldatei, kExtensionChars);
  tgtStem_ = DropLastChars(t.txtZielDatei, kExtensionChars);
  if (SameShapefile(t.txtQuelldatei, t.txtZielDatei)) throw ShapeFailure(kMsgIdentical);
}

void ShapeRun::OpenSources() {
  shpIn_.SetPath(srcStem_ + "shp");
  shxIn_.SetPath(srcStem_ + "shx");
  srcDbf_ = srcStem_ + "dbf";
  for (BinFile* f : {&shpIn_, &shxIn_}) {
    const int err = f->OpenRead();
    if (err == ENOENT) throw ShapeFailure(FileMessage(f->path(), "wurde nicht gefunden"));
    if (err == EISDIR) throw ShapeFailure(FileMessage(f->path(), kIsAFolder));
    if (err != 0) {
      throw ShapeFailure(FileMessage(
          f->path(), "kann nicht gelesen werden: " + ErrorText(err, f->path(), IoOp::kOpen)));
    }
  }
  std::error_code ec;
  const fs::file_status dbf = fs::status(srcDbf_, ec);
  if (!fs::exists(dbf)) throw ShapeFailure(FileMessage(srcDbf_, "wurde nicht gefunden"));
  if (fs::is_directory(dbf)) throw ShapeFailure(FileMessage(srcDbf_, kIsAFolder));
}

void ShapeRun::ReadSourceHeaders() {
  unsigned char shxHeader[kHeaderBytes];
  struct Item {
    BinFile* file;
    unsigned char* header;
    std::int64_t* length;
  } items[] = {{&shpIn_, shpHeader_, &shpLength_}, {&shxIn_, shxHeader, &shxLength_}};
  for (const Item& it : items) {
    const std::string& p = it.file->path();
    if (it.file->size() < kHeaderBytes) {
      throw ShapeFailure(FileMessage(p, "ist beschädigt: sie ist mit " + Num(it.file->size()) +
                                            " Byte kürzer als der Dateikopf (100 Byte)"));
    }
    it.file->ReadAt(0, it.header, kHeaderBytes);
    const std::int64_t length = 2 * std::int64_t{LoadBE32(it.header + kHeaderFileLength)};
    if (length < kHeaderBytes) {
      throw ShapeFailure(FileMessage(p, "ist beschädigt: die Dateilänge im Dateikopf (" +
                                            Num(length) +
                                            " Byte) ist kleiner als der Dateikopf (100 Byte)"));
    }
    if (length > kMaxFileBytes) {
      throw ShapeFailure(FileMessage(p, "ist laut Dateikopf " + Num(length) +
                                            " Byte lang: Dateien ab 2 GiB werden nicht "
                                            "unterstützt"));
    }
    if (length > it.file->size()) {
      throw ShapeFailure(FileMessage(p, "ist beschädigt: die Dateilänge im Dateikopf (" +
                                            Num(length) + " Byte) ist größer als die Datei (" +
                                            Num(it.file->size()) + " Byte)"));
    }
    *it.length = length;
  }
  if ((shxLength_ - kHeaderBytes) % kIndexEntryBytes != 0) {
    throw ShapeFailure(FileMessage(
        shxIn_.path(), "ist beschädigt: die Dateilänge im Dateikopf (" + Num(shxLength_) +
                           " Byte) ergibt keine ganze Zahl von Indexeinträgen"));
  }
  recordCount_ = (shxLength_ - kHeaderBytes) / kIndexEntryBytes;
  // The shape type is the low half of its field.
  shapeType_ = static_cast<std::int16_t>(shpHeader_[kHeaderShapeType] |
                                         (shpHeader_[kHeaderShapeType + 1] << 8));
}

bool ShapeRun::OpenTarget(BinFile& file, Target& target) {
  target.existed = FileExists(target.path);
  if (target.existed && !Ask("Die Datei " + target.path + kCrLf + "existiert bereits, " + kCrLf +
                             "soll sie überschrieben werden?")) {
    return false;
  }
  file.SetPath(target.path);
  const int err = file.OpenWrite();
  if (err != 0) {
    throw ShapeFailure(FileMessage(
        target.path, std::string(target.existed ? "kann nicht zum Schreiben geöffnet werden: "
                                                : "kann nicht angelegt werden: ") +
                         ErrorText(err, target.path, IoOp::kOpen)));
  }
  // A file created here is this run's; an existing one only once written.
  target.touched = !target.existed;
  return true;
}

bool ShapeRun::CopyAttributeTable() {
  const std::string& dbf = tDbf_.path;
  tDbf_.existed = FileExists(dbf);
  if (tDbf_.existed) {
    if (!Ask("Die Datei " + dbf + kCrLf + "existiert bereits, " + kCrLf +
             "soll sie überschrieben werden?")) {
      return false;
    }
    if (IsReadOnly(dbf) &&
        !Ask("Die Datei " + dbf + kCrLf + kCrLf + "hat das Attribut Schreibgeschützt, " + kCrLf +
             "soll sie trotzdem überschrieben werden?")) {
      return false;
    }
  }

  std::error_code ec;
  const fs::perms sourcePerms = fs::status(srcDbf_, ec).permissions();
  if (ec) {
    throw ShapeFailure(FileMessage(
        srcDbf_, "kann nicht gelesen werden: " + ErrorText(ec.value(), srcDbf_, IoOp::kCopy)));
  }
  tDbf_.touched = true;
  if (tDbf_.existed) {
    // Clear the read-only attribute so that the copy can replace the file.
    fs::permissions(dbf, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
    ec.clear();
  }
  const auto copyFailed = [&](int err) {
    return ShapeFailure(FileMessage(srcDbf_, "kann nicht nach " + dbf + " kopiert werden: " +
                                                 ErrorText(err, dbf, IoOp::kCopy)));
  };
  if (iohook::ShouldFail(IoOp::kCopy)) throw copyFailed(kHookCopyError);
  fs::copy_file(srcDbf_, dbf, fs::copy_options::overwrite_existing, ec);
  if (ec) throw copyFailed(ec.value());
  fs::permissions(dbf, sourcePerms, fs::perm_options::replace, ec);
  if (ec) throw copyFailed(ec.value());
  return true;
}

void ShapeRun::CopyRange(BinFile& from, BinFile& to, std::int64_t pos, std::int64_t length) {
  if (chunk_.size() < kCopyChunkBytes) chunk_.resize(kCopyChunkBytes);
  while (length > 0) {
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(length, static_cast<std::int64_t>(kCopyChunkBytes)));
    from.ReadAt(pos, chunk_.data(), n);
    to.WriteAt(pos, chunk_.data(), n);
    pos += static_cast<std::int64_t>(n);
    length -= static_cast<std::int64_t>(n);
  }
}

void ShapeRun::TransformRecord(std::int64_t i) {
  PollCancel();
  RefreshOptions();
  curRecord_ = i;
  curPoint_ = -1;
  if (recordBar_) fe_.ProgressValue(ProgressBarId::kRecords, static_cast<float>(i));
  std::string percent = Num(i * 100 / recordCount_);
  if (percent != lastPercent_) {
    fe_.ProgressPercent(percent);
    lastPercent_ = std::move(percent);
  }

  if (shapeType_ != kShapePoint && shapeType_ != kShapePolyLine && shapeType_ != kShapePolygon) {
    fe_.ShowMessage("Shapetyp " + Num(shapeType_) + " wird nicht unterstützt", "", MsgIcon::kNone);
    throw CancelledRun{};
  }

  // Index entry: offset of the record in words.
  unsigned char entry[kIndexEntryBytes];
  shxIn_.ReadAt(kHeaderBytes + kIndexEntryBytes * (i - 1), entry, sizeof entry);
  const std::int64_t words = LoadBE32(entry);
  const std::int64_t R = 2 * words;
  const std::string& shp = shpIn_.path();
  const std::string& shx = shxIn_.path();
  if (words < 0) {
    throw ShapeFailure(FileMessage(shx, "ist beschädigt: der Indexeintrag von Record " + Num(i) +
                                            " enthält die ungültige Position " + Num(words)));
  }
  if (R > kMaxFileBytes) {
    throw ShapeFailure(FileMessage(shx, "verweist mit Record " + Num(i) + " auf Byte " + Num(R) +
                                            ": Dateien ab 2 GiB werden nicht unterstützt"));
  }
  if (R < kHeaderBytes || R + kRecordHeadBytes > shpLength_) {
    throw ShapeFailure(FileMessage(
        shx, "ist beschädigt: Record " + Num(i) + " liegt laut Index bei Byte " + Num(R) +
                 (R < kHeaderBytes
                      ? ", im Dateikopf der Datei " + shp
                      : ", außerhalb der Datei " + shp + " (" + Num(shpLength_) + " Byte)")));
  }

  // Record header: the content length gives the size of the record.
  unsigned char head[kRecShapeType + 4];
  shpIn_.ReadAt(R, head, kRecordHeadBytes);
  const std::int64_t content = LoadBE32(head + kRecContentLength);
  const std::int64_t size = kRecordHeadBytes + 2 * content;
  if (content < 0 || R + size > shpLength_) {
    FailRecord(shp, i, R,
               "der Record ist laut Recordkopf " + Num(size) +
                   " Byte lang und reicht über das Dateiende (" + Num(shpLength_) +
                   " Byte) hinaus");
  }
  if (size < kRecShapeType + 4) {
    FailRecord(shp, i, R, "der Record ist mit " + Num(size) + " Byte zu kurz für einen Shapetyp");
  }
  shpIn_.ReadAt(R + kRecShapeType, head + kRecShapeType, 4);
  const std::int32_t recordType = LoadLE32(head + kRecShapeType);
  if (recordType == kShapeNull) {
    CopyRange(shpIn_, shpOut_, R, size);  // null shape: nothing to transform
    return;
  }
  // A record of another layout than the file's would be read in the wrong
  // places and come out half transformed; PolyLine and Polygon share theirs.
  const bool fits = shapeType_ == kShapePoint
                        ? recordType == kShapePoint
                        : recordType == kShapePolyLine || recordType == kShapePolygon;
  if (!fits) {
    FailRecord(shp, i, R,
               "der Record hat den Shapetyp " + Num(recordType) + ", die Datei den Shapetyp " +
                   Num(shapeType_));
  }
  if (shapeType_ == kShapePoint) {
    TransformPointRecord(i, R, size);
  } else {
    TransformPolyRecord(i, R, size);
  }
}

void ShapeRun::TransformPointRecord(std::int64_t i, std::int64_t R, std::int64_t size) {
  if (size < kRecPointEnd) {
    FailRecord(shpIn_.path(), i, R,
               "der Record ist mit " + Num(size) + " Byte zu kurz für einen Punkt (28 Byte)");
  }
  unsigned char rec[kRecPointEnd];
  shpIn_.ReadAt(R, rec, sizeof rec);
  double x = LoadLEDouble(rec + kRecPointX);
  double y = LoadLEDouble(rec + kRecPointX + 8);
  curPoint_ = 0;
  Transform(x, y);
  StoreLEDouble(rec + kRecPointX, x);
  StoreLEDouble(rec + kRecPointX + 8, y);
  fileBox_.Add(x, y);
  shpOut_.WriteAt(R, rec, sizeof rec);
  CopyRange(shpIn_, shpOut_, R + kRecPointEnd, size - kRecPointEnd);
}

void ShapeRun::TransformPolyRecord(std::int64_t i, std::int64_t R, std::int64_t size) {
  const std::string& shp = shpIn_.path();
  if (size < kRecParts) {
    FailRecord(shp, i, R,
               "der Record ist mit " + Num(size) +
                   " Byte zu kurz für eine Linie oder Fläche (mindestens 52 Byte)");
  }
  unsigned char head[kRecParts];
  shpIn_.ReadAt(R, head, sizeof head);
  const std::int64_t numParts = LoadLE32(head + kRecNumParts);
  const std::int64_t numPoints = LoadLE32(head + kRecNumPoints);
  if (numParts < 0 || numPoints < 0) {
    FailRecord(shp, i, R,
               "negative Anzahl: NumParts " + Num(numParts) + ", NumPoints " + Num(numPoints));
  }
  const std::int64_t pointsAt = kRecParts + kPartBytes * numParts;
  const std::int64_t pointsEnd = pointsAt + kPointBytes * numPoints;
  if (pointsEnd > size) {
    FailRecord(shp, i, R,
               "NumParts " + Num(numParts) + " und NumPoints " + Num(numPoints) +
                   " passen nicht in den Record (" + Num(size) + " Byte)");
  }

  // Record head with the source box for now; the box is rewritten below.
  shpOut_.WriteAt(R, head, sizeof head);

  // The start indices of the parts: checked and copied.
  if (chunk_.size() < kCopyChunkBytes) chunk_.resize(kCopyChunkBytes);
  for (std::int64_t p = 0; p < numParts;) {
    const std::int64_t n = std::min<std::int64_t>(
        numParts - p, static_cast<std::int64_t>(kCopyChunkBytes) / kPartBytes);
    const std::int64_t pos = R + kRecParts + kPartBytes * p;
    const auto bytes = static_cast<std::size_t>(kPartBytes * n);
    shpIn_.ReadAt(pos, chunk_.data(), bytes);
    for (std::int64_t k = 0; k < n; ++k) {
      const std::int64_t start = LoadLE32(chunk_.data() + kPartBytes * k);
      if (start < 0 || start >= std::max<std::int64_t>(numPoints, 1)) {
        FailRecord(shp, i, R,
                   "Teil " + Num(p + k + 1) + " beginnt bei Punkt " + Num(start) +
                       ", der Record hat aber " + Num(numPoints) + " Punkte");
      }
    }
    shpOut_.WriteAt(pos, chunk_.data(), bytes);
    p += n;
  }

  fe_.ProgressMin(ProgressBarId::kVertices, 0);
  fe_.ProgressMax(ProgressBarId::kVertices, static_cast<float>(numPoints <= 1 ? 1 : numPoints - 1));

  Box box;
  const auto chunkBytes = static_cast<std::size_t>(kVertexChunk * kPointBytes);
  if (chunk_.size() < chunkBytes) chunk_.resize(chunkBytes);
  for (std::int64_t k0 = 0; k0 < numPoints; k0 += kVertexChunk) {
    const std::int64_t n = std::min(kVertexChunk, numPoints - k0);
    const std::int64_t pos = R + pointsAt + kPointBytes * k0;
    const auto bytes = static_cast<std::size_t>(kPointBytes * n);
    shpIn_.ReadAt(pos, chunk_.data(), bytes);
    unsigned char* p = chunk_.data();
    for (std::int64_t k = k0; k < k0 + n; ++k, p += kPointBytes) {
      PollCancel();
      RefreshOptions();
      if (vertexBar_) fe_.ProgressValue(ProgressBarId::kVertices, static_cast<float>(k));
      curPoint_ = k;
      double x = LoadLEDouble(p);
      double y = LoadLEDouble(p + 8);
      Transform(x, y);
      StoreLEDouble(p, x);
      StoreLEDouble(p + 8, y);
      box.Add(x, y);
    }
    shpOut_.WriteAt(pos, chunk_.data(), bytes);
  }
  // Anything behind the points (measures, heights of other layouts).
  CopyRange(shpIn_, shpOut_, R + pointsEnd, size - pointsEnd);

  if (box.empty) {
    curPoint_ = -1;
    box = CornerBox(head + kRecBox);
  } else {
    fileBox_.Add(box);
  }
  unsigned char boxBytes[kBoxBytes];
  box.Store(boxBytes);
  shpOut_.WriteAt(R + kRecBox, boxBytes, sizeof boxBytes);
}

/// The box of a record without vertices, or of a header when no record has
/// one: the two transformed corners of the source box (Xmin, Ymin) and
/// (Xmax, Ymax), in order. An all-zero box, which is how shapelib and GDAL
/// mark "no extent", stays zero: it bounds nothing, and its corners may lie
/// where the chain cannot go (Krovak input faults at 0, 0).
Box ShapeRun::CornerBox(const unsigned char* source) {
  double x1 = LoadLEDouble(source), y1 = LoadLEDouble(source + 8);
  double x2 = LoadLEDouble(source + 16), y2 = LoadLEDouble(source + 24);
  Box box;
  if (x1 == 0 && y1 == 0 && x2 == 0 && y2 == 0) {
    box.Add(0, 0);
    return box;
  }
  Transform(x1, y1);
  Transform(x2, y2);
  box.Add(x1, y1);
  box.Add(x2, y2);
  return box;
}

void ShapeRun::WriteHeaderBoxes() {
  Box box = fileBox_;
  if (box.empty) {
    // No record with a vertex: the box of the source header.
    curRecord_ = 0;
    curPoint_ = -1;
    box = CornerBox(shpHeader_ + kHeaderBox);
  }
  unsigned char bytes[kBoxBytes];
  box.Store(bytes);
  shpOut_.WriteAt(kHeaderBox, bytes, sizeof bytes);
  shxOut_.WriteAt(kHeaderBox, bytes, sizeof bytes);
}

void ShapeRun::FinishTargets() {
  // The new files are exactly as long as their headers say.
  shpOut_.Truncate(shpLength_);
  shxOut_.Truncate(shxLength_);
  for (const BinFile* f : {&shpOut_, &shxOut_}) {
    if (f->Vanished()) {
      throw ShapeFailure(FileMessage(f->path(), "wurde während der Transformation gelöscht"));
    }
  }
  if (!FileExists(tDbf_.path)) {
    throw ShapeFailure(FileMessage(tDbf_.path, "wurde während der Transformation gelöscht"));
  }
  shxOut_.Close();
  shpOut_.Close();
}

std::string ShapeRun::WhereText() const {
  if (curRecord_ == 0) return "Das Umgebungsrechteck des Dateikopfs";
  if (curPoint_ < 0) return "Das Umgebungsrechteck von Record " + Num(curRecord_);
  return "Record " + Num(curRecord_) + ", Punkt " + Num(curPoint_ + 1);
}

void ShapeRun::DeleteTargets() {
  // Index, main file, attribute table; only what this run created or
  // changed. Each file loses its read-only attribute first.
  std::string failures;
  for (const Target* t : {&tShx_, &tShp_, &tDbf_}) {
    if (t->path.empty() || !t->touched) continue;
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(t->path, ec);
    if (!fs::exists(st)) continue;
    if (fs::is_regular_file(st)) {
      fs::permissions(t->path, fs::perms::owner_write, fs::perm_options::add, ec);
    }
    int err = 0;
    if (iohook::ShouldFail(IoOp::kDelete)) {
      err = kHookDeleteError;
    } else if (!fs::remove(t->path, ec) && ec) {
      err = ec.value();
    }
    if (err != 0) {
      if (!failures.empty()) failures += kCrLf;
      failures += FileMessage(
          t->path, "kann nicht gelöscht werden: " + ErrorText(err, t->path, IoOp::kDelete));
    }
  }
  if (!failures.empty()) fe_.ShowMessage(failures, kProgramName, MsgIcon::kNone);
}

void ShapeRun::AbortQuietly() noexcept {
  // Leaving through an exception the run does not handle (a front end that
  // throws): close everything and remove the targets without messages.
  CloseAll();
  for (const Target* t : {&tShx_, &tShp_, &tDbf_}) {
    if (t->path.empty() || !t->touched) continue;
    std::error_code ec;
    fs::remove(t->path, ec);
  }
  if (progressOpen_) {
    progressOpen_ = false;
    try {
      fe_.ProgressClose();
    } catch (...) {
    }
  }
}

}  // namespace

bool SameShapefile(const std::string& source, const std::string& target) {
  if (CharCount(source) <= kExtensionChars || CharCount(target) <= kExtensionChars) return false;
  const std::string src = DropLastChars(source, kExtensionChars);
  const std::string tgt = DropLastChars(target, kExtensionChars);
  // Two stems that name the same files in any spelling (extension, letter
  // case on a case-insensitive file system, relative or linked paths).
  if (src == tgt) return true;
  static const char* const kExts[] = {"shp", "shx", "dbf"};
  for (const char* a : kExts) {
    for (const char* b : kExts) {
      if (SameFile(src + a, tgt + b)) return true;
    }
  }
  return false;
}

bool TransformShapeFile(Session& session) {
  ShapeRun run(session);
  return run.Execute();
}

}  // namespace pelmo
