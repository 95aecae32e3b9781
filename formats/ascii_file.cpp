// The ASCII driver: one point per line, read and written line by line as
// the session's layout says (formats/ascii_layout.hpp); without a layout
// "first second [height]" separated by blanks, written as "first second
// height" CR LF; with one, each line keeps its own line end.
//
// An error stops the run with one message: the description, the line and
// its number, and what the target now holds. The target keeps the lines
// before the error; when a write fails, the lines of the block that did not
// reach the file are gone, and the message says how many lines remain.
// Lines are held up to kMaxLineBytes; a longer line is read past, and only
// fails when a field the driver needs does not end within that length.
//
// The source is read in blocks of whole lines (Session::blockBytes, at most
// kMostBlockBytes). On one thread each block is transformed on the calling
// thread, with the event pass after every point. On several, worker threads
// transform the blocks in any order while the calling thread reads, writes
// the finished blocks in source order and keeps the event pass going; a
// block that failed is written up to the line before its error, so the
// message is the one of the first bad line in the file and the target holds
// every line before it, as on one thread. The output is the same bytes with
// any number of threads.

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/block_workers.hpp"
#include "core/errors.hpp"
#include "core/fileio.hpp"
#include "core/frontend.hpp"
#include "formats/ascii_layout.hpp"
#include "formats/drivers.hpp"
#include "geodesy/plausibility.hpp"
#include "geodesy/worker_chain.hpp"

namespace pelmo {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// Byte order marks of UTF-16 text, which this driver does not read.
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";
constexpr std::string_view kLineEnd = "\r\n";
// A shapefile or its index starts with the file code 9994 (00 00 27 0A,
// big-endian); the 0A ends the first "line".
constexpr std::string_view kShapefileCode{"\0\0\x27", 3};
// Line ends as a block keeps them, by their code.
constexpr std::string_view kLineEnds[] = {"", "\n", "\r", "\r\n"};
// Longest wait of the calling thread for a block before its next event pass.
constexpr std::chrono::milliseconds kEventPassWait{5};
// Blocks in memory per worker thread: one being transformed, one waiting
// to be written or transformed.
constexpr std::size_t kBlocksPerThread = 2;
// Text of a block at most: the block's source and target text stay in a
// core's second-level cache while it is transformed and written.
constexpr std::size_t kMostBlockBytes = std::size_t{1} << 18;
// Whole lines go to the target in pieces of at least this many bytes: a
// failed write loses no more than one piece.
constexpr std::size_t kWriteBytes = std::size_t{1} << 16;
// A worker asks whether the job still runs every 256 lines.
constexpr std::size_t kStopCheckMask = 255;
// On one thread the front end hears of the bytes read every 1024 lines
// from the first on.
constexpr long kProgressLineMask = 1023;

namespace fs = std::filesystem;

}  // namespace

std::string LineErrorMessage(const std::exception& e, const TransformSettings& t, long lineNo,
                             std::string_view line) {
  constexpr std::size_t kShownBytes = 200;
  std::string msg = e.what();
  // A field that cannot be read: which column, and what it needs.
  if (const auto* field = dynamic_cast<const AsciiFieldError*>(&e)) {
    msg += "\r\n" + FieldErrorText(*field, t);
  }
  msg += "\r\nZeile ";
  msg += std::to_string(lineNo);
  msg += ": ";
  if (line.size() > kShownBytes) {
    std::size_t cut = kShownBytes;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    msg += PrintableText(line.substr(0, cut));
    msg += "...";
  } else {
    msg += PrintableText(line);
  }
  return msg;
}

namespace {

/// Lines and bytes handed to the target, and how many lines had reached the
/// file when its last write completed (the target is written in blocks, so
/// a failed write loses the lines of its block).
struct TargetProgress {
  bool opened = false;
  long lines = 0;
  std::uint64_t bytes = 0;
  long linesCommitted = 0;
  std::uint64_t committed = 0;

  /// `n` lines of `size` bytes go to the target; Written() follows.
  void Handed(long n, std::size_t size) {
    lines += n;
    bytes += size;
  }
  /// The target took what it was handed (whole lines), of which
  /// `fileCommitted` bytes have reached the file.
  void Written(std::uint64_t fileCommitted) {
    if (fileCommitted != committed) {
      committed = fileCommitted;
      linesCommitted = lines;
    }
  }
};

/// Closes the target after an error and returns the number of whole lines
/// it keeps. When a write failed, the lines of the lost block are gone, and
/// a piece of the block that may have reached the file is cut off so that
/// the target ends with a whole line.
long FinishAfterError(OutputFile& target, const TargetProgress& progress) {
  const bool standard = target.IsStandard();  // standard output cannot be cut back
  try {
    target.Close();
  } catch (const std::exception&) {
    // Reported by what remains in the file.
  }
  if (target.committed() == progress.bytes) return progress.lines;
  if (standard) return progress.linesCommitted;
  std::error_code ec;
  std::filesystem::resize_file(target.path(), progress.committed, ec);
  return progress.linesCommitted;
}

/// The sentence that tells what the target holds after an error.
std::string KeptLinesText(long kept) {
  if (kept == 0) return "Die Zieldatei ist leer.";
  if (kept == 1) return "Die Zieldatei enthält die Zeile 1.";
  return "Die Zieldatei enthält die Zeilen 1 bis " + std::to_string(kept) + ".";
}

/// The message of a failed line, with its number and text.
class LineFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// One line of a block: its text in the block, whether the reader cut it,
/// and its line end (an index into kLineEnds).
struct BlockLine {
  std::uint32_t begin = 0, size = 0;
  bool cut = false;
  std::uint8_t end = 0;
};

/// Whole lines of the source, as the calling thread read them, and what
/// became of them.
struct Block {
  long firstLine = 1;
  std::string text;
  std::vector<BlockLine> lines;
  std::uint64_t start = 0;       ///< source bytes read before the block
  std::uint64_t consumed = 0;    ///< source bytes read up to the end of the block
  std::uint64_t total = 0;       ///< size of the source, 0 when not known
  std::exception_ptr readError;  ///< the read after the last line failed

  std::string out;                  ///< the target text of the lines done
  std::vector<std::size_t> ends;    ///< where each line done ends in `out`
  long points = 0;                  ///< points transformed
  WarningTally warnings;
  std::string error;  ///< message of line firstLine + ends.size(), which failed
  /// The settings a worker transforms the block with.
  std::shared_ptr<const ChainSettings> settings;
};

/// What every line of a job is read with.
struct LineJob {
  AsciiLayout layout;  ///< the layout of the whole job, whatever is applied while it runs
  PlausibilityContext checks;
};

std::uint8_t LineEndCode(std::string_view end) {
  if (end.empty()) return 0;
  if (end == "\r\n") return 3;
  return end == "\r" ? 2 : 1;
}

/// The first CR or LF in [p, end), or end. Sixteen bytes at a time with
/// SSE2, else (and for the rest) eight: a byte below 14 (CR is 13, LF 10)
/// sets the top bit of its lane in (w - 0x0E0E...) & ~w; the lowest lane so
/// marked is such a byte (lanes above it may be marked by the borrow),
/// which is then looked at.
const char* FindLineEnd(const char* p, const char* end) {
#if defined(__SSE2__)
  // With SSE2 sixteen bytes at a time: a mask of the CRs and LFs.
  constexpr int kVector = 16;
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; end - p >= kVector; p += kVector) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
    if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kLanes = 0x0101010101010101ULL, kTop = 0x8080808080808080ULL;
    constexpr std::uint64_t kBelow = 14 * kLanes;
    constexpr int kLaneBits = 8;
    for (; end - p >= 8; p += 8) {
      std::uint64_t w = 0;
      std::memcpy(&w, p, sizeof w);
      for (std::uint64_t m = (w - kBelow) & ~w & kTop; m != 0; m &= m - 1) {
        const char* const q = p + std::countr_zero(m) / kLaneBits;
        if (*q == '\n' || *q == '\r') return q;
      }
    }
  }
  while (p != end && *p != '\n' && *p != '\r') ++p;
  return p;
}

/// Takes the whole lines at the start of `view` into `b` (their text
/// `size` bytes so far, without line ends) until it holds `bytes`; returns
/// the bytes taken, line ends included. A line is whole when its end lies
/// in `view` (a CR at its end may be the start of CR LF: not yet).
std::size_t TakeLines(std::string_view view, Block& b, std::size_t& size, std::size_t bytes,
                      long& lineNo) {
  const char* const start = view.data();
  const char* const end = start + view.size();
  const char* p = start;
  const auto base = static_cast<std::uint32_t>(b.text.size());
  while (size < bytes) {
    const char* const stop = FindLineEnd(p, end);
    if (stop == end || (*stop == '\r' && stop + 1 == end)) break;
    const bool crlf = *stop == '\r' && stop[1] == '\n';
    const auto length = static_cast<std::uint32_t>(stop - p);
    b.lines.push_back({base + static_cast<std::uint32_t>(p - start), length, false,
                       static_cast<std::uint8_t>(crlf ? 3 : *stop == '\r' ? 2 : 1)});
    ++lineNo;
    size += length;
    p = stop + (crlf ? 2 : 1);
  }
  b.text.append(start, static_cast<std::size_t>(p - start));
  return static_cast<std::size_t>(p - start);
}

/// Reads whole lines into `b` until it holds `bytes` of text (without line
/// ends) or the source ends (`ended`, also after a failed read, kept in the
/// block). The lines are split where the reader holds them; a line longer
/// than its buffer, and the last one, are read on their own. False when
/// nothing was left to read.
bool ReadBlock(InputFile& source, Block& b, long& lineNo, std::size_t bytes, bool& ended,
               std::string& line) {
  b.firstLine = lineNo + 1;
  b.text.clear();
  b.lines.clear();
  b.readError = nullptr;
  b.start = source.consumed();
  b.total = source.size();
  try {
    std::size_t size = 0;
    while (size < bytes) {
      const std::string_view view = source.Buffered();
      if (view.empty()) {
        ended = true;
        break;
      }
      const std::size_t taken = TakeLines(view, b, size, bytes, lineNo);
      source.Skip(taken);
      if (taken != 0 || source.ReadMore()) continue;
      bool cut = false;
      source.ReadLine(line, kMaxLineBytes, cut);
      ++lineNo;
      b.lines.push_back({static_cast<std::uint32_t>(b.text.size()),
                         static_cast<std::uint32_t>(line.size()), cut,
                         LineEndCode(source.lineEnd())});
      b.text += line;
      size += line.size();
    }
  } catch (const std::exception&) {
    b.readError = std::current_exception();
    ended = true;
  }
  b.consumed = source.consumed();
  return !b.lines.empty() || b.readError;
}

/// Reads line `lineNo`. Line 1 loses its byte order mark here (a layout
/// keeps it in the target, `out`).
AsciiPoint ReadGroupLine(const LineJob& job, std::string_view& line, long lineNo, bool cut,
                         std::string& out) {
  if (lineNo == 1) {
    if (line.starts_with(kUtf16LeBom) || line.starts_with(kUtf16BeBom)) {
      throw RunTimeError(errnum::kTypeMismatch,
                         "die Datei ist in UTF-16 geschrieben; gelesen werden ANSI- und "
                         "UTF-8-Textdateien");
    }
    if (line.starts_with(kUtf8Bom)) {
      line.remove_prefix(kUtf8Bom.size());
      if (job.layout.active) out += kUtf8Bom;
    }
  }
  return ReadAsciiLine(line, lineNo, cut, job.layout);
}

/// Transforms the lines of `b` with the session `s` until one fails (its
/// message kept in the block) or, on a worker, the job stops. The front end
/// of `s` hears how far the source has been read (a worker's does not
/// listen). The lines go in groups of kChainGroup: all of a group are read,
/// their points go through the chain together, then each is written; the
/// first line that fails, in reading or in the chain, ends the block after
/// the lines before it.
void TransformBlock(Session& s, const LineJob& job, Block& b, const BlockWorkers* workers) {
  b.out.clear();
  b.ends.clear();
  b.points = 0;
  b.warnings.Clear();
  b.error.clear();
  struct GroupLine {
    std::string_view text;
    AsciiPoint point;
    std::size_t chained;  // index in `points`, for a line that holds a point
  };
  std::array<GroupLine, kChainGroup> lines;
  std::array<ChainedPoint, kChainGroup> points;
  // The message of a line that failed, and what is left of the block then.
  const auto fail = [&](const std::exception_ptr& e, long lineNo, std::string_view line) {
    b.out.resize(b.ends.empty() ? 0 : b.ends.back());
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& error) {
      b.error = LineErrorMessage(error, s.settings, lineNo, line);
    }
  };
  for (std::size_t i = 0; i < b.lines.size();) {
    if (workers != nullptr && (i & kStopCheckMask) == 0 && workers->Stopping()) return;
    const std::size_t group = std::min(kChainGroup, b.lines.size() - i);
    std::size_t read = 0, chained = 0;
    std::exception_ptr failure;
    for (; read < group; ++read) {
      const BlockLine& l = b.lines[i + read];
      GroupLine& g = lines[read];
      g.text = std::string_view(b.text.data() + l.begin, l.size);
      try {
        g.point =
            ReadGroupLine(job, g.text, b.firstLine + static_cast<long>(i + read), l.cut, b.out);
      } catch (const std::exception&) {
        failure = std::current_exception();
        break;
      }
      if (!g.point.copy) {
        g.chained = chained;
        points[chained++] = {g.point.first, g.point.second, g.point.height, {}};
      }
    }
    std::exception_ptr chainFailure;
    const std::size_t done = TransformPoints(s, points.data(), chained, chainFailure);
    for (std::size_t k = 0; k < read; ++k) {
      const BlockLine& l = b.lines[i + k];
      const GroupLine& g = lines[k];
      const long lineNo = b.firstLine + static_cast<long>(i + k);
      if (!g.point.copy && g.chained >= done) {
        fail(chainFailure, lineNo, g.text);
        return;
      }
      try {
        const ChainedPoint& p = points[g.point.copy ? 0 : g.chained];
        const AsciiLineResult r =
            WriteAsciiLine(s, job.layout, job.checks, g.text, g.point, p.result, p.height,
                           job.layout.active ? kLineEnds[l.end] : kLineEnd, b.out);
        b.warnings.Add(r.warnings, lineNo);
        b.points += r.point ? 1 : 0;
      } catch (const std::exception&) {
        fail(std::current_exception(), lineNo, g.text);
        return;
      }
      b.ends.push_back(b.out.size());
      if ((lineNo & kProgressLineMask) == 1) {
        // The text of the block holds the line ends (of a line read past its
        // end, only the part kept: the position is then a little behind).
        s.frontEnd().ProgressBytes(b.start + l.begin + l.size + kLineEnds[l.end].size(), b.total);
      }
    }
    if (failure) {
      fail(failure, b.firstLine + static_cast<long>(i + read), lines[read].text);
      return;
    }
    i += read;
  }
}

/// Writes the lines done of `b`, then throws its line's error or its read
/// error, if any.
void WriteBlock(Session& s, const Block& b, OutputFile& target, TargetProgress& progress) {
  s.warnings.Merge(b.warnings);
  // Pieces of whole lines of at least kWriteBytes.
  const std::string_view out = b.out;
  auto done = b.ends.begin();
  std::size_t from = 0;
  while (done != b.ends.end()) {
    const auto to = std::min(std::lower_bound(done, b.ends.end(), from + kWriteBytes), b.ends.end() - 1);
    progress.Handed(static_cast<long>(to - done) + 1, *to - from);
    target.Write(out.substr(from, *to - from));
    progress.Written(target.committed());
    from = *to;
    done = to + 1;
  }
  if (!b.error.empty()) throw LineFailure(b.error);
  s.frontEnd().ProgressBytes(b.consumed, b.total);
  if (b.readError) std::rethrow_exception(b.readError);
}

/// Reads, transforms and writes every line of the source.
void TransformLines(Session& session, const LineJob& job, InputFile& source, OutputFile& target,
                    TargetProgress& progress) {
  const unsigned threads = JobThreadCount(session.threads);
  const std::size_t blockBytes = std::min(session.blockBytes, kMostBlockBytes);
  std::vector<Block> blocks(threads > 1 ? threads * kBlocksPerThread : 1);
  std::string line;
  long lineNo = 0;
  bool ended = false;
  if (!ReadBlock(source, blocks[0], lineNo, blockBytes, ended, line)) return;
  const Block& first = blocks[0];
  if (!first.lines.empty() &&
      std::string_view(first.text).substr(first.lines[0].begin, first.lines[0].size) ==
          kShapefileCode) {
    throw RunTimeError(errnum::kTypeMismatch,
                       "die Quelldatei " + session.settings.txtQuelldatei +
                           " ist binär und sieht wie eine Shapedatei aus; für Shapedateien "
                           "den Dateityp \"Shape\" wählen (pelmo-cli: --type shape)");
  }

  // One thread, or a source of one block: everything on the calling thread.
  if (threads <= 1 || ended) {
    for (bool more = true; more;
         more = !ended && ReadBlock(source, blocks[0], lineNo, blockBytes, ended, line)) {
      TransformBlock(session, job, blocks[0], nullptr);
      WriteBlock(session, blocks[0], target, progress);
    }
    return;
  }

  // Several threads: the workers' sessions, then the workers.
  std::vector<std::unique_ptr<WorkerSession>> sessions;
  for (unsigned w = 0; w < threads; ++w) sessions.push_back(std::make_unique<WorkerSession>(session));
  JobSettings settings(session);
  BlockWorkers workers(
      threads, blocks.size(),
      [&](unsigned w, std::size_t place) {
        WorkerSession& ws = *sessions[w];
        ws.Follow(*blocks[place].settings);
        TransformBlock(ws.session(), job, blocks[place], &workers);
      },
      [&](unsigned, std::size_t place) { blocks[place].settings = settings.Latest(); });
  FrontEnd& fe = session.frontEnd();
  std::size_t place = 0;
  workers.FreePlace(place);
  workers.Submit();
  for (;;) {
    while (!ended && workers.FreePlace(place) &&
           ReadBlock(source, blocks[place], lineNo, blockBytes, ended, line)) {
      workers.Submit();
    }
    if (workers.Empty()) break;
    long points = 0;
    if (workers.WaitOldest(kEventPassWait, place)) {
      // The event pass of the block's points comes before its lines are
      // written and before its error, as on one thread.
      points = blocks[place].points;
      if (points > 0) fe.ProcessEventsAfter(points);
      WriteBlock(session, blocks[place], target, progress);
      workers.Release();
    }
    if (points == 0) fe.ProcessEventsAfter(0);
    settings.Publish(session);
  }
}

}  // namespace

bool TransformAsciiFile(Session& session) {
  const TransformSettings& t = session.settings;
  const LineJob job{session.asciiLayout, MakePlausibilityContext(session)};
  FrontEnd& fe = session.frontEnd();
  InputFile source;
  OutputFile target;
  // What went into the target: lines and bytes handed to it, and the lines
  // that had reached the file at its last completed write.
  TargetProgress progress;
  try {
    // "-" is standard input or output (the batch tool in a pipe).
    if (t.txtQuelldatei == kStandardStreamName) {
      source.OpenStandardInput();
    } else {
      source.Open(t.txtQuelldatei);
    }
    std::error_code ec;
    if (t.txtZielDatei == kStandardStreamName) {
      target.OpenStandardOutput();
    } else if (fs::exists(t.txtZielDatei, ec) && !fs::is_directory(t.txtZielDatei, ec) &&
               !fe.ConfirmReplaceAsciiTarget(t.txtZielDatei)) {
      return false;
    } else {
      target.Open(t.txtZielDatei);
    }
    progress.opened = true;
    TransformLines(session, job, source, target, progress);
    source.Close();
    target.Close();
    return true;
  } catch (const std::exception& e) {
    source.Close();
    // A failed line's message names the line.
    std::string msg = e.what();
    if (progress.opened) {
      msg += kLineEnd;
      msg += KeptLinesText(FinishAfterError(target, progress));
    }
    session.frontEnd().ShowMessage(msg, kProgramName, MsgIcon::kNone);
    return false;
  }
}

}  // namespace pelmo
