// The shapefile format: shape types, record layouts, the checked reading of
// headers, index and records, and the transformation of one record.
//
// Record layouts (byte positions from the record start, record header of 8
// bytes included; n points, p parts; [..] only where the type has it):
//   Point kinds       12 X, 20 Y, [28 Z], then [M]
//   MultiPoint kinds  12 box, 44 NumPoints, 48 points, [Z range, n Z],
//                     [M range, n M]
//   poly kinds        12 box, 44 NumParts, 48 NumPoints, 52 p part starts,
//                     points, [Z range, n Z], [M range, n M]
//   MultiPatch        as poly, with p part types after the part starts
// The Z values of the Z types are part of the record; the M block of the Z
// and M types is optional: it is there when the record has room for it.

#include "formats/shapefile_format.hpp"

#include <cmath>
#include <limits>

namespace pelmo::shapefile {

namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

}  // namespace

void CopyRange(BinFile& from, BinFile& to, std::int64_t pos, std::int64_t length,
               std::vector<unsigned char>& buf) {
  if (buf.size() < kCopyChunkBytes) buf.resize(kCopyChunkBytes);
  while (length > 0) {
    const auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(length, static_cast<std::int64_t>(kCopyChunkBytes)));
    from.ReadAt(pos, buf.data(), n);
    to.WriteAt(pos, buf.data(), n);
    pos += static_cast<std::int64_t>(n);
    length -= static_cast<std::int64_t>(n);
  }
}

// ---------------------------------------------------------------- shape types

const ShapeType* FindShapeType(int code) {
  for (const ShapeType& t : kShapeTypes) {
    if (t.code == code) return &t;
  }
  return nullptr;
}

std::string ShapeTypeText(int code) {
  const ShapeType* t = FindShapeType(code);
  return t == nullptr ? Num(code) : Num(code) + " (" + t->name + ")";
}

std::string SupportedShapeTypesText() {
  std::string text;
  for (const ShapeType& t : kShapeTypes) {
    if (!text.empty()) text += ", ";
    text += std::string(t.name) + " (" + Num(t.code) + ")";
  }
  return text;
}

// ---------------------------------------------------------------- records

std::string LayOutRecord(const ShapeType& t, const unsigned char* head, std::int64_t size,
                         RecordLayout& r) {
  const auto tooShort = [size](const char* what, std::int64_t need, bool atLeast) {
    return "der Record ist mit " + Num(size) + " Byte zu kurz für " + what + " (" +
           (atLeast ? "mindestens " : "") + Num(need) + " Byte)";
  };
  r.shape = &t;
  if (t.kind == ShapeKind::kPoint) {
    std::int64_t end = kRecPointX + kPointBytes;
    if (t.z) {
      r.zAt = end;
      end += kValueBytes;
    }
    if (size < end) return tooShort(t.z ? "einen Punkt mit Z-Wert" : "einen Punkt", end, false);
    r.numPoints = 1;
    r.pointsAt = kRecPointX;
    r.valuesEnd = end;
    if (t.m && size >= end + kValueBytes) r.mAt = end;
    return "";
  }
  if (t.kind == ShapeKind::kMultiPoint) {
    if (size < kRecMultiPoints) return tooShort("eine Punktgruppe", kRecMultiPoints, true);
    r.numPoints = LoadLE32(head + kRecMultiPointCount);
    if (r.numPoints < 0) return "negative Anzahl: NumPoints " + Num(r.numPoints);
    r.pointsAt = kRecMultiPoints;
  } else {
    if (size < kRecParts) {
      return tooShort(
          t.kind == ShapeKind::kMultiPatch ? "ein Multipatch" : "eine Linie oder Fläche", kRecParts,
          true);
    }
    r.numParts = LoadLE32(head + kRecNumParts);
    r.numPoints = LoadLE32(head + kRecNumPoints);
    if (r.numParts < 0 || r.numPoints < 0) {
      return "negative Anzahl: NumParts " + Num(r.numParts) + ", NumPoints " + Num(r.numPoints);
    }
    r.partsAt = kRecParts;
    std::int64_t at = kRecParts + kPartBytes * r.numParts;
    if (t.kind == ShapeKind::kMultiPatch) {
      r.partTypesAt = at;
      at += kPartBytes * r.numParts;
    }
    r.pointsAt = at;
  }
  std::int64_t end = r.pointsAt + kPointBytes * r.numPoints;
  if (t.z) {
    r.zRangeAt = end;
    r.zAt = end + kRangeBytes;
    end = r.zAt + kValueBytes * r.numPoints;
  }
  if (end > size) {
    const std::string counts =
        t.kind == ShapeKind::kMultiPoint
            ? "NumPoints " + Num(r.numPoints) + " passt"
            : "NumParts " + Num(r.numParts) + " und NumPoints " + Num(r.numPoints) + " passen";
    return counts + " nicht in den Record (" + Num(size) + " Byte)";
  }
  r.valuesEnd = end;
  if (t.m && size >= end + kRangeBytes + kValueBytes * r.numPoints) {
    r.mRangeAt = end;
    r.mAt = end + kRangeBytes;
  }
  return "";
}

// ---------------------------------------------------------------- reader

void ShapeReader::ReadHeaders() {
  unsigned char shxHeader[kHeaderBytes];
  struct Item {
    BinFile* file;
    unsigned char* header;
    std::int64_t* length;
  } items[] = {{&shp_, shpHeader_, &shpLength_}, {&shx_, shxHeader, &shxLength_}};
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
    throw ShapeFailure(
        FileMessage(shx_.path(), "ist beschädigt: die Dateilänge im Dateikopf (" + Num(shxLength_) +
                                     " Byte) ergibt keine ganze Zahl von Indexeinträgen"));
  }
  recordCount_ = (shxLength_ - kHeaderBytes) / kIndexEntryBytes;
  // The shape type is the low half of its field.
  shapeType_ = static_cast<std::int16_t>(shpHeader_[kHeaderShapeType] |
                                         (shpHeader_[kHeaderShapeType + 1] << 8));
  type_ = FindShapeType(shapeType_);
}

void ShapeReader::FailRecord(std::int64_t i, std::int64_t at, const std::string& what) const {
  throw ShapeFailure(FileMessage(
      shp_.path(), "ist beschädigt: Record " + Num(i) + " (Byte " + Num(at) + "): " + what));
}

RecordLayout ShapeReader::Record(std::int64_t i) {
  // Index entry: offset of the record in words.
  unsigned char entry[kIndexEntryBytes];
  shx_.ReadAt(kHeaderBytes + kIndexEntryBytes * (i - 1), entry, sizeof entry);
  const std::int64_t words = LoadBE32(entry);
  const std::int64_t R = 2 * words;
  const std::string& shp = shp_.path();
  const std::string& shx = shx_.path();
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
  unsigned char head[kRecLayoutHead];
  shp_.ReadAt(R, head, kRecordHeadBytes);
  const std::int64_t content = LoadBE32(head + kRecContentLength);
  const std::int64_t size = kRecordHeadBytes + 2 * content;
  if (content < 0 || R + size > shpLength_) {
    FailRecord(i, R,
               "der Record ist laut Recordkopf " + Num(size) +
                   " Byte lang und reicht über das Dateiende (" + Num(shpLength_) +
                   " Byte) hinaus");
  }
  if (size < kRecShapeType + 4) {
    FailRecord(i, R, "der Record ist mit " + Num(size) + " Byte zu kurz für einen Shapetyp");
  }
  const std::int64_t headBytes = std::min(size, kRecLayoutHead);
  shp_.ReadAt(R + kRecShapeType, head + kRecShapeType,
              static_cast<std::size_t>(headBytes - kRecShapeType));
  RecordLayout r;
  r.index = i;
  r.at = R;
  r.size = size;
  r.type = LoadLE32(head + kRecShapeType);
  if (r.type == kShapeNull) return r;  // nothing to transform
  // A record of another layout than the file's would be read in the wrong
  // places and come out half transformed; PolyLine and Polygon share theirs.
  const ShapeType* own = FindShapeType(r.type);
  if (own == nullptr || !SameLayout(*own, *type_)) {
    FailRecord(i, R,
               "der Record hat den Shapetyp " + Num(r.type) + ", die Datei den Shapetyp " +
                   Num(shapeType_));
  }
  const std::string what = LayOutRecord(*own, head, size, r);
  if (!what.empty()) FailRecord(i, R, what);

  // Part starts must name a point of the record (any order).
  if (buf_.size() < kCopyChunkBytes) buf_.resize(kCopyChunkBytes);
  const std::int64_t perChunk = static_cast<std::int64_t>(kCopyChunkBytes) / kPartBytes;
  for (std::int64_t p = 0; p < r.numParts; p += perChunk) {
    const std::int64_t n = std::min(perChunk, r.numParts - p);
    shp_.ReadAt(R + r.partsAt + kPartBytes * p, buf_.data(),
                static_cast<std::size_t>(kPartBytes * n));
    for (std::int64_t k = 0; k < n; ++k) {
      const std::int64_t start = LoadLE32(buf_.data() + kPartBytes * k);
      if (start < 0 || start >= std::max<std::int64_t>(r.numPoints, 1)) {
        FailRecord(i, R,
                   "Teil " + Num(p + k + 1) + " beginnt bei Punkt " + Num(start) +
                       ", der Record hat aber " + Num(r.numPoints) + " Punkte");
      }
    }
  }
  return r;
}

void ShapeReader::Parts(const RecordLayout& r, std::vector<PartInfo>& out) {
  out.assign(static_cast<std::size_t>(r.numParts), PartInfo{});
  unsigned char v[kPartBytes];
  for (std::int64_t p = 0; p < r.numParts; ++p) {
    shp_.ReadAt(r.at + r.partsAt + kPartBytes * p, v, sizeof v);
    out[static_cast<std::size_t>(p)].start = LoadLE32(v);
    if (r.partTypesAt != 0) {
      shp_.ReadAt(r.at + r.partTypesAt + kPartBytes * p, v, sizeof v);
      out[static_cast<std::size_t>(p)].type = LoadLE32(v);
    }
  }
}

void ShapeReader::Vertices(const RecordLayout& r, std::int64_t first, std::int64_t n,
                           std::vector<Vertex>& out) {
  n = std::max<std::int64_t>(0, std::min(n, r.numPoints - first));
  out.assign(static_cast<std::size_t>(n), Vertex{});
  if (n == 0) return;
  buf_.resize(static_cast<std::size_t>(kPointBytes * n));
  shp_.ReadAt(r.at + r.pointsAt + kPointBytes * first, buf_.data(), buf_.size());
  for (std::int64_t k = 0; k < n; ++k) {
    Vertex& v = out[static_cast<std::size_t>(k)];
    v.x = LoadLEDouble(buf_.data() + kPointBytes * k);
    v.y = LoadLEDouble(buf_.data() + kPointBytes * k + 8);
  }
  // Z, then M: a value per vertex, or none.
  const std::int64_t at[2] = {r.zAt, r.mAt};
  for (int which = 0; which < 2; ++which) {
    const bool present = at[which] != 0;
    if (present) {
      buf_.resize(static_cast<std::size_t>(kValueBytes * n));
      shp_.ReadAt(r.at + at[which] + kValueBytes * first, buf_.data(), buf_.size());
    }
    for (std::int64_t k = 0; k < n; ++k) {
      const double v = present ? LoadLEDouble(buf_.data() + kValueBytes * k) : kNoValue;
      (which == 0 ? out[static_cast<std::size_t>(k)].z : out[static_cast<std::size_t>(k)].m) = v;
    }
  }
}

// ---------------------------------------------------------------- transformation

Box CornerBox(const unsigned char* box, const ChainFn& chain) {
  double x[2] = {LoadLEDouble(box), LoadLEDouble(box + 16)};
  double y[2] = {LoadLEDouble(box + 8), LoadLEDouble(box + 24)};
  Box out;
  if (x[0] == 0 && y[0] == 0 && x[1] == 0 && y[1] == 0) {
    out.Add(0, 0);
    return out;
  }
  chain(kBoxCorners, 2, x, y, nullptr);
  out.Add(x[0], y[0]);
  out.Add(x[1], y[1]);
  return out;
}

Extent TransformRecord(const RecordLayout& r, BinFile& in, BinFile& out, const ChainFn& chain,
                       RecordScratch& s) {
  Extent ext;
  // Everything first; the coordinates, the box and the Z range are then
  // rewritten in place (within the write buffer for all but large records).
  CopyRange(in, out, r.at, r.size, s.xy);
  if (r.shape == nullptr) return ext;

  const bool hasZ = r.zAt != 0;
  const std::int64_t chunk = std::min(kVertexChunk, r.numPoints);
  s.xy.resize(static_cast<std::size_t>(
      std::max(kPointBytes * chunk, static_cast<std::int64_t>(kCopyChunkBytes))));
  s.x.resize(static_cast<std::size_t>(chunk));
  s.y.resize(static_cast<std::size_t>(chunk));
  s.h.resize(static_cast<std::size_t>(hasZ ? chunk : 0));
  if (hasZ) s.z.resize(static_cast<std::size_t>(kValueBytes * chunk));
  for (std::int64_t k0 = 0; k0 < r.numPoints; k0 += chunk) {
    const std::int64_t n = std::min(chunk, r.numPoints - k0);
    const std::int64_t xyAt = r.at + r.pointsAt + kPointBytes * k0;
    const std::int64_t zAt = r.at + r.zAt + kValueBytes * k0;
    const auto xyBytes = static_cast<std::size_t>(kPointBytes * n);
    const auto zBytes = static_cast<std::size_t>(kValueBytes * n);
    in.ReadAt(xyAt, s.xy.data(), xyBytes);
    for (std::int64_t k = 0; k < n; ++k) {
      s.x[static_cast<std::size_t>(k)] = LoadLEDouble(s.xy.data() + kPointBytes * k);
      s.y[static_cast<std::size_t>(k)] = LoadLEDouble(s.xy.data() + kPointBytes * k + 8);
    }
    if (hasZ) {
      in.ReadAt(zAt, s.z.data(), zBytes);
      for (std::int64_t k = 0; k < n; ++k) {
        s.h[static_cast<std::size_t>(k)] = LoadLEDouble(s.z.data() + kValueBytes * k);
      }
    }
    chain(k0, n, s.x.data(), s.y.data(), hasZ ? s.h.data() : nullptr);
    for (std::int64_t k = 0; k < n; ++k) {
      const auto u = static_cast<std::size_t>(k);
      StoreLEDouble(s.xy.data() + kPointBytes * k, s.x[u]);
      StoreLEDouble(s.xy.data() + kPointBytes * k + 8, s.y[u]);
      ext.xy.Add(s.x[u], s.y[u]);
      if (hasZ) {
        StoreLEDouble(s.z.data() + kValueBytes * k, s.h[u]);
        ext.z.Add(s.h[u]);
      }
    }
    out.WriteAt(xyAt, s.xy.data(), xyBytes);
    if (hasZ) out.WriteAt(zAt, s.z.data(), zBytes);
  }

  if (r.HasBox()) {
    Box box = ext.xy;
    if (box.empty) {
      unsigned char source[kBoxBytes];
      in.ReadAt(r.at + kRecBox, source, sizeof source);
      box = CornerBox(source, chain);
    }
    unsigned char bytes[kBoxBytes];
    box.Store(bytes);
    out.WriteAt(r.at + kRecBox, bytes, sizeof bytes);
  }
  if (r.zRangeAt != 0 && !ext.z.empty) {
    unsigned char bytes[kRangeBytes];
    ext.z.Store(bytes);
    out.WriteAt(r.at + r.zRangeAt, bytes, sizeof bytes);
  }
  return ext;
}

}  // namespace pelmo::shapefile
