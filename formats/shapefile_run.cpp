// The shapefile run: transforms the coordinates of an ESRI shapefile
// (main file .shp, index .shx, attribute table .dbf) into a new shapefile,
// with its projection file (.prj) and code page file (.cpg).
//
// The run:
//  - the stems are the names less their last three characters;
//  - source and target must not name the same files, in any spelling;
//  - the sources are opened and their headers checked before any question;
//  - target .shp and .shx are opened (created, never truncated) after their
//    overwrite question, the .dbf is copied after its questions; only when
//    every question has been answered Yes are .shp and .shx emptied, so a
//    No never costs an existing file its content; .prj and .cpg belong to
//    the target answered Yes and are replaced without a question of their
//    own;
//  - the index is copied, every record is checked against the file before
//    it is trusted and transformed to its source offset (shapefile_format);
//  - the header box is the union of the record boxes, the header Z range
//    that of the written Z values; when no record has a vertex, the box is
//    the transformed corners of the source header box;
//  - at the end the .prj describes the output system (none in translation
//    mode, where the system is unknown), the source's .cpg is copied, and
//    .prj or .cpg files left from before that no longer fit are removed,
//    as are the spatial indexes (.sbn, .sbx, .qix) of the target stem;
//  - a failure of any kind shows one message naming the file, the record and
//    what was wrong, and deletes the targets this run created or changed;
//    Cancel deletes them without a message.
//
// On several threads (Session::threads) the records of a file larger than
// one block are checked in index order on the calling thread and handed out
// in blocks of about Session::blockBytes; each worker transforms its blocks
// with a session of its own and writes them to their places in the target
// through handles of its own. The calling thread takes the blocks back in
// order: it merges their boxes, Z ranges and warnings, moves the progress
// bars once per block, keeps the event pass going and hears Cancel; an
// error is the one of the first failing record in index order. The target
// is the same bytes on any number of threads.
//
// Memory stays fixed whatever the size of the files: each file is read and
// written through one block buffer, and vertices pass in chunks.

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "core/block_workers.hpp"
#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/frontend.hpp"
#include "core/numtext.hpp"
#include "formats/drivers.hpp"
#include "formats/prj_file.hpp"
#include "formats/shapefile_format.hpp"
#include "geodesy/plausibility.hpp"
#include "geodesy/point_chain.hpp"
#include "geodesy/worker_chain.hpp"

namespace pelmo {

namespace {

namespace fs = std::filesystem;

using namespace shapefile;  // NOLINT(google-build-using-namespace)

/// The user asked to cancel.
struct CancelledRun {};

/// Spatial indexes of the target stem: they index old coordinates.
const char* const kSpatialIndexes[] = {"sbn", "sbx", "qix"};

// A job on several threads: at most this many records in a block, two
// blocks in memory per thread, the calling thread's event pass at least
// every 5 ms, and a worker asks whether the job goes on every 256 vertices.
constexpr std::size_t kMaxBlockRecords = 8192;
constexpr std::size_t kBlocksPerThread = 2;
constexpr std::chrono::milliseconds kEventPassWait{5};
constexpr std::int64_t kStopCheckMask = 255;

/// Records of a block, checked on the calling thread, and what a worker
/// made of them.
struct RecordBlock {
  std::vector<RecordLayout> records;
  std::exception_ptr damaged;  ///< the check of the record after the last failed
  std::shared_ptr<const ChainSettings> settings;

  Extent extent;
  WarningTally warnings;
  long points = 0;                        ///< points through the chain
  std::exception_ptr failure;             ///< why the worker stopped
  std::int64_t failRecord = 0, failPoint = -1;  ///< where
};

/// What a worker owns: its session and its handles on the source and
/// target main file.
struct RecordWorker {
  explicit RecordWorker(Session& main) : session(main) {}
  WorkerSession session;
  BinFile in, out;
  RecordScratch scratch;
};

/// The job stopped while a worker was inside a record.
struct StoppedBlock {};

/// What the chain made of the vertex (x, y, z): its check (vertices, not
/// box corners), and its values written back.
void TakeChained(const PlausibilityContext& checks, WarningTally& tally, std::int64_t record,
                 bool vertex, const ChainedPoint& p, double& x, double& y, double* z) {
  if (vertex) tally.Add(CheckPoint(checks, x, p.result), record);
  x = p.result[0];
  y = p.result[1];
  if (z != nullptr) *z = p.height;
}

/// One vertex or box corner through the point chain of `s`: the Z value,
/// where there is one, as the height, and the height the chain leaves
/// written back. The plausibility of vertices counts per record.
void ChainPoint(Session& s, const PlausibilityContext& checks, WarningTally& tally,
                std::int64_t record, bool vertex, double& x, double& y, double* z) {
  ChainedPoint p{x, y, z != nullptr ? *z : 0, {}};
  p.result = TransformPoint(s, p.first, p.second, p.height);
  TakeChained(checks, tally, record, vertex, p, x, y, z);
}

// ---------------------------------------------------------------- the run

/// One target file of the run and whether a failure must delete it.
struct Target {
  std::string path;
  bool existed = false;  // existed before the run
  bool touched = false;  // created or changed by this run
};

class ShapeRun {
 public:
  explicit ShapeRun(Session& session)
      : s_(session), fe_(session.frontEnd()), reader_(shpIn_, shxIn_) {}
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
  bool OpenTarget(BinFile& file, Target& target);
  bool CopyAttributeTable();
  void TransformRecords(std::int64_t count);
  void VisitRecord(std::int64_t i);
  void RecordProgress(std::int64_t i);
  void Chain(std::int64_t k0, std::int64_t n, double* x, double* y, double* z);
  void FillBlock(RecordBlock& b, std::int64_t& next, std::int64_t count);
  void TransformBlock(RecordWorker& w, RecordBlock& b, const BlockWorkers& workers) const;
  long FinishBlock(const RecordBlock& b);
  void OpenWorkerFile(BinFile& file, const std::string& path, bool write) const;
  void WriteHeaderRanges();
  void WriteSidecars();
  void FinishTargets();

  bool Ask(const std::string& text) {
    return fe_.AskYesNo(text, kProblemTitle, MsgIcon::kExclamation);
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
  void CopyRange(BinFile& from, BinFile& to, std::int64_t pos, std::int64_t length) {
    shapefile::CopyRange(from, to, pos, length, chunk_);
  }
  void CopyFile(const std::string& from, const std::string& to);
  /// Deletes `path` (not a folder); a refusal is thrown as ShapeFailure.
  void Delete(const std::string& path);
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
  ShapeReader reader_;
  // Main file, index, table, projection file, code page file.
  Target tShp_, tShx_, tDbf_, tPrj_, tCpg_;

  Extent fileExtent_;
  RecordScratch scratch_;
  std::vector<unsigned char> chunk_;  // copied bytes
  ChainFn chain_ = [this](std::int64_t first, std::int64_t n, double* x, double* y, double* z) {
    Chain(first, n, x, y, z);
  };

  // Where the run is, for the text of a transformation error.
  std::int64_t curRecord_ = 0;  // 0: header
  std::int64_t curPoint_ = -1;  // -1: the box of the record or header
  bool listsPoints_ = false;    // the current record has a vertex bar

  std::future<std::optional<OutputCrs>> crsAhead_;  // of the settings at crsRevision_
  std::uint64_t crsRevision_ = 0;

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
  reader_.ReadHeaders();

  // Target main file and index: question, then open in place.
  tShp_.path = tgtStem_ + "shp";
  tShx_.path = tgtStem_ + "shx";
  tDbf_.path = tgtStem_ + "dbf";
  tPrj_.path = tgtStem_ + "prj";
  tCpg_.path = tgtStem_ + "cpg";
  // The attribute table is replaced by a copy and deleted when the run
  // fails: a folder of that name must not get near either.
  std::error_code ec;
  if (fs::is_directory(tDbf_.path, ec)) throw ShapeFailure(FileMessage(tDbf_.path, kIsAFolder));
  if (!OpenTarget(shpOut_, tShp_)) return Outcome::kDeclined;
  if (!OpenTarget(shxOut_, tShx_)) return Outcome::kDeclined;

  s_.SetLog("shapetyp " + ShapeTypeText(reader_.shapeType()) + kCrLf);

  if (!CopyAttributeTable()) return Outcome::kDeclined;

  // The description of the output system for the .prj is built beside the
  // transformation; WriteSidecars takes it unless the settings change.
  crsRevision_ = s_.revision();
  crsAhead_ = std::async(std::launch::async, [t = s_.settings, o = s_.OptionValues] {
    return DescribeOutputCrs(t, o);
  });

  // Every question is answered: from here on the old content goes, and
  // .prj and .cpg of the target are this run's to write or remove.
  tShp_.touched = tShx_.touched = true;
  for (Target* t : {&tPrj_, &tCpg_}) t->existed = t->touched = FileExists(t->path);
  shpOut_.Truncate(0);
  shxOut_.Truncate(0);

  const std::int64_t count = reader_.recordCount();
  s_.AppendLog("Dateilänge in byte " + Num(reader_.shpLength()) + kCrLf);
  s_.AppendLog("RecordAanzahl : " + FormatNumber(static_cast<double>(count), s_.decimalSign()) +
               kCrLf);

  CopyRange(shxIn_, shxOut_, 0, reader_.shxLength());
  CopyRange(shpIn_, shpOut_, 0, kHeaderBytes);

  fe_.ProgressMin(ProgressBarId::kRecords, 1);
  fe_.ProgressMax(ProgressBarId::kRecords, static_cast<float>(std::max<std::int64_t>(count, 2)));

  TransformRecords(count);

  WriteHeaderRanges();
  WriteSidecars();
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
  CopyFile(srcDbf_, dbf);
  fs::permissions(dbf, sourcePerms, fs::perm_options::replace, ec);
  if (ec) {
    throw ShapeFailure(FileMessage(srcDbf_, "kann nicht nach " + dbf + " kopiert werden: " +
                                                ErrorText(ec.value(), dbf, IoOp::kCopy)));
  }
  return true;
}

void ShapeRun::CopyFile(const std::string& from, const std::string& to) {
  const auto copyFailed = [&](int err) {
    return ShapeFailure(FileMessage(
        from, "kann nicht nach " + to + " kopiert werden: " + ErrorText(err, to, IoOp::kCopy)));
  };
  if (iohook::ShouldFail(IoOp::kCopy)) throw copyFailed(kHookCopyError);
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) throw copyFailed(ec.value());
}

void ShapeRun::RecordProgress(std::int64_t i) {
  if (recordBar_) fe_.ProgressValue(ProgressBarId::kRecords, static_cast<float>(i));
  std::string percent = Num(i * 100 / reader_.recordCount());
  if (percent != lastPercent_) {
    fe_.ProgressPercent(percent);
    lastPercent_ = std::move(percent);
  }
}

void ShapeRun::VisitRecord(std::int64_t i) {
  PollCancel();
  RefreshOptions();
  curRecord_ = i;
  curPoint_ = -1;
  RecordProgress(i);

  if (reader_.type() == nullptr) {
    fe_.ShowMessage("Shapetyp " + Num(reader_.shapeType()) + " wird nicht unterstützt" + kCrLf +
                        "Unterstützt werden: " + SupportedShapeTypesText(),
                    "", MsgIcon::kNone);
    throw CancelledRun{};
  }

  const RecordLayout r = reader_.Record(i);
  listsPoints_ = r.ListsPoints();
  if (listsPoints_) {
    fe_.ProgressMin(ProgressBarId::kVertices, 0);
    fe_.ProgressMax(ProgressBarId::kVertices,
                    static_cast<float>(r.numPoints <= 1 ? 1 : r.numPoints - 1));
  }
  const Extent e = TransformRecord(r, shpIn_, shpOut_, chain_, scratch_);
  fileExtent_.xy.Add(e.xy);
  fileExtent_.z.Add(e.z);
}

/// Vertices through the point chain: the Z value, where there is one, as
/// the height, and the height the chain leaves written back. Cancel is
/// heard before every vertex of a record that lists its points.
void ShapeRun::Chain(std::int64_t k0, std::int64_t n, double* x, double* y, double* z) {
  for (std::int64_t k = 0; k < n; ++k) {
    if (k0 == kBoxCorners) {
      curPoint_ = -1;
    } else {
      if (listsPoints_) {
        PollCancel();
        RefreshOptions();
        if (vertexBar_) fe_.ProgressValue(ProgressBarId::kVertices, static_cast<float>(k0 + k));
      }
      curPoint_ = k0 + k;
    }
    ChainPoint(s_, checks_, s_.warnings, curRecord_, k0 != kBoxCorners, x[k], y[k],
               z != nullptr ? z + k : nullptr);
  }
}

void ShapeRun::TransformRecords(std::int64_t count) {
  const unsigned threads = JobThreadCount(s_.threads);
  // One thread, a file of one block, or a shape type refused at the first
  // record: record by record on this thread.
  if (threads <= 1 || reader_.type() == nullptr ||
      reader_.shpLength() - kHeaderBytes <= static_cast<std::int64_t>(s_.blockBytes)) {
    for (std::int64_t i = 1; i <= count; ++i) VisitRecord(i);
    return;
  }
  std::vector<std::unique_ptr<RecordWorker>> workers;
  for (unsigned w = 0; w < threads; ++w) {
    workers.push_back(std::make_unique<RecordWorker>(s_));
    OpenWorkerFile(workers.back()->in, shpIn_.path(), false);
    OpenWorkerFile(workers.back()->out, shpOut_.path(), true);
  }
  std::vector<RecordBlock> blocks(threads * kBlocksPerThread);
  JobSettings settings(s_);
  BlockWorkers pool(
      threads, blocks.size(),
      [&](unsigned w, std::size_t place) { TransformBlock(*workers[w], blocks[place], pool); },
      [&](unsigned, std::size_t place) { blocks[place].settings = settings.Latest(); });
  std::int64_t next = 1;
  std::size_t place = 0;
  for (;;) {
    while (next <= count && pool.FreePlace(place)) {
      FillBlock(blocks[place], next, count);
      pool.Submit();
    }
    if (pool.Empty()) break;
    long points = 0;
    if (pool.WaitOldest(kEventPassWait, place)) {
      points = FinishBlock(blocks[place]);
      pool.Release();
    }
    fe_.ProcessEventsAfter(points);
    PollCancel();
    RefreshOptions();
    settings.Publish(s_);
  }
  for (const auto& w : workers) w->out.Close();
}

void ShapeRun::OpenWorkerFile(BinFile& file, const std::string& path, bool write) const {
  file.SetPath(path);
  const int err = write ? file.OpenWrite() : file.OpenRead();
  if (err != 0) {
    throw ShapeFailure(FileMessage(path, std::string(write ? "kann nicht geschrieben werden: "
                                                           : "kann nicht gelesen werden: ") +
                                             ErrorText(err, path, IoOp::kOpen)));
  }
}

void ShapeRun::FillBlock(RecordBlock& b, std::int64_t& next, std::int64_t count) {
  b.records.clear();
  b.damaged = nullptr;
  std::int64_t bytes = 0;
  while (next <= count && bytes < static_cast<std::int64_t>(s_.blockBytes) &&
         b.records.size() < kMaxBlockRecords) {
    try {
      b.records.push_back(reader_.Record(next));
    } catch (const ShapeFailure&) {
      // Reported when the records before it are done.
      b.damaged = std::current_exception();
      next = count + 1;
      return;
    }
    bytes += b.records.back().size;
    ++next;
  }
}

void ShapeRun::TransformBlock(RecordWorker& w, RecordBlock& b,
                              const BlockWorkers& workers) const {
  b.extent = Extent{};
  b.warnings.Clear();
  b.points = 0;
  b.failure = nullptr;
  w.session.Follow(*b.settings);
  Session& s = w.session.session();
  std::int64_t record = 0, point = -1;
  // As ChainPoint does each, kChainGroup vertices at a time.
  std::array<ChainedPoint, kChainGroup> pts;
  const ChainFn chain = [&](std::int64_t k0, std::int64_t n, double* x, double* y, double* z) {
    constexpr auto kGroup = static_cast<std::int64_t>(kChainGroup);
    for (std::int64_t k = 0; k < n; k += kGroup) {
      if ((k & kStopCheckMask) == 0 && workers.Stopping()) throw StoppedBlock{};
      const auto group = static_cast<std::size_t>(std::min(kGroup, n - k));
      for (std::size_t j = 0; j < group; ++j) {
        pts[j] = {x[k + j], y[k + j], z != nullptr ? z[k + j] : 0, {}};
      }
      std::exception_ptr failure;
      const std::size_t done = TransformPoints(s, pts.data(), group, failure);
      for (std::size_t j = 0; j < done; ++j) {
        TakeChained(checks_, b.warnings, record, k0 != kBoxCorners, pts[j], x[k + j], y[k + j],
                    z != nullptr ? z + k + j : nullptr);
        ++b.points;
      }
      // The vertex a failure names: the failing one, else the last done.
      point = k0 == kBoxCorners ? -1 : k0 + k + static_cast<std::int64_t>(std::min(done, group - 1));
      if (done < group) std::rethrow_exception(failure);
    }
  };
  try {
    for (const RecordLayout& r : b.records) {
      if (workers.Stopping()) return;
      record = r.index;
      point = -1;
      const Extent e = TransformRecord(r, w.in, w.out, chain, w.scratch);
      b.extent.xy.Add(e.xy);
      b.extent.z.Add(e.z);
    }
    w.out.Flush();
  } catch (const StoppedBlock&) {
    // The job stopped; nobody waits for this block.
  } catch (...) {
    b.failure = std::current_exception();
    b.failRecord = record;
    b.failPoint = point;
  }
}

long ShapeRun::FinishBlock(const RecordBlock& b) {
  s_.warnings.Merge(b.warnings);
  if (b.failure) {
    // The message names the record and point as on one thread.
    curRecord_ = b.failRecord;
    curPoint_ = b.failPoint;
    std::rethrow_exception(b.failure);
  }
  fileExtent_.xy.Add(b.extent.xy);
  fileExtent_.z.Add(b.extent.z);
  if (!b.records.empty()) RecordProgress(b.records.back().index);
  if (b.damaged) std::rethrow_exception(b.damaged);
  return b.points;
}

void ShapeRun::WriteHeaderRanges() {
  Box box = fileExtent_.xy;
  if (box.empty) {
    // No record with a vertex: the box of the source header.
    curRecord_ = 0;
    curPoint_ = -1;
    box = CornerBox(reader_.shpHeader() + kHeaderBox, chain_);
  }
  unsigned char bytes[kBoxBytes];
  box.Store(bytes);
  shpOut_.WriteAt(kHeaderBox, bytes, sizeof bytes);
  shxOut_.WriteAt(kHeaderBox, bytes, sizeof bytes);
  if (!fileExtent_.z.empty) {
    fileExtent_.z.Store(bytes);
    shpOut_.WriteAt(kHeaderZRange, bytes, kRangeBytes);
    shxOut_.WriteAt(kHeaderZRange, bytes, kRangeBytes);
  }
}

void ShapeRun::WriteSidecars() {
  // The projection file: the output system, or none in translation mode.
  std::optional<OutputCrs> crs;
  try {
    crs = crsAhead_.valid() && crsRevision_ == s_.revision()
              ? crsAhead_.get()
              : DescribeOutputCrs(s_.settings, s_.OptionValues);
  } catch (const CrsError& e) {
    throw ShapeFailure(
        FileMessage(tPrj_.path, "kann nicht geschrieben werden: " + std::string(e.what())));
  }
  std::vector<std::string> stale;
  if (crs) {
    tPrj_.touched = true;
    BinFile prj;
    prj.SetPath(tPrj_.path);
    const int err = prj.OpenWrite();
    if (err != 0) {
      throw ShapeFailure(
          FileMessage(tPrj_.path, err == EISDIR ? std::string(kIsAFolder)
                                                : "kann nicht geschrieben werden: " +
                                                      ErrorText(err, tPrj_.path, IoOp::kOpen)));
    }
    prj.Truncate(0);
    prj.WriteAt(0, crs->wkt.data(), crs->wkt.size());
    prj.Close();
  } else if (tPrj_.existed) {
    stale.push_back(tPrj_.path);
  }

  // The code page of the copied table.
  const std::string srcCpg = srcStem_ + "cpg";
  std::error_code ec;
  if (fs::is_regular_file(srcCpg, ec)) {
    tCpg_.touched = true;
    CopyFile(srcCpg, tCpg_.path);
  } else if (tCpg_.existed) {
    stale.push_back(tCpg_.path);
  }

  for (const char* ext : kSpatialIndexes) stale.push_back(tgtStem_ + ext);
  for (const std::string& path : stale) {
    // A folder of such a name is no sidecar of this shapefile.
    const fs::file_status st = fs::symlink_status(path, ec);
    if (!fs::exists(st) || fs::is_directory(st)) continue;
    Delete(path);
    s_.AppendLog("veraltete Datei gelöscht: " + path + kCrLf);
  }
}

void ShapeRun::FinishTargets() {
  // The new files are exactly as long as their headers say.
  shpOut_.Truncate(reader_.shpLength());
  shxOut_.Truncate(reader_.shxLength());
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

void ShapeRun::Delete(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  if (!fs::exists(st)) return;
  if (fs::is_directory(st)) throw ShapeFailure(FileMessage(path, kIsAFolder));
  if (fs::is_regular_file(st)) {
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
  }
  int err = 0;
  if (iohook::ShouldFail(IoOp::kDelete)) {
    err = kHookDeleteError;
  } else if (!fs::remove(path, ec) && ec) {
    err = ec.value();
  }
  if (err != 0) {
    throw ShapeFailure(
        FileMessage(path, "kann nicht gelöscht werden: " + ErrorText(err, path, IoOp::kDelete)));
  }
}

void ShapeRun::DeleteTargets() {
  // Index, main file, attribute table, projection and code page file; only
  // what this run created or changed, never a folder. Each file loses its
  // read-only attribute first.
  std::string failures;
  for (const Target* t : {&tShx_, &tShp_, &tDbf_, &tPrj_, &tCpg_}) {
    if (t->path.empty() || !t->touched) continue;
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(t->path, ec))) continue;
    try {
      Delete(t->path);
    } catch (const ShapeFailure& e) {
      if (!failures.empty()) failures += kCrLf;
      failures += e.what();
    }
  }
  if (!failures.empty()) fe_.ShowMessage(failures, kProgramName, MsgIcon::kNone);
}

void ShapeRun::AbortQuietly() noexcept {
  // Leaving through an exception the run does not handle (a front end that
  // throws): close everything and remove the targets without messages.
  CloseAll();
  for (const Target* t : {&tShx_, &tShp_, &tDbf_, &tPrj_, &tCpg_}) {
    if (t->path.empty() || !t->touched) continue;
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(t->path, ec))) continue;
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
