#include "formats/ascii_layout.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/numtext.hpp"
#include "formats/drivers.hpp"
#include "geodesy/point_chain.hpp"

namespace pelmo {

namespace {

struct ColumnWord {
  const char* word;
  AsciiColumn column;
};
constexpr ColumnWord kColumnWords[] = {{"id", AsciiColumn::kId},
                                       {"first", AsciiColumn::kFirst},
                                       {"second", AsciiColumn::kSecond},
                                       {"height", AsciiColumn::kHeight},
                                       {"skip", AsciiColumn::kSkip}};

struct SeparatorWord {
  const char* word;
  AsciiSeparator separator;
  char character;
};
constexpr SeparatorWord kSeparatorWords[] = {{"blank", AsciiSeparator::kBlank, ' '},
                                             {"tab", AsciiSeparator::kTab, '\t'},
                                             {"comma", AsciiSeparator::kComma, ','},
                                             {"semicolon", AsciiSeparator::kSemicolon, ';'}};

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

/// Length of the well-formed UTF-8 sequence at the start of `s` (1 to 4),
/// or 0 when it does not start with one (RFC 3629: no overlong forms, no
/// surrogates, nothing above U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto c = static_cast<unsigned char>(s[0]);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  const auto c1 = static_cast<unsigned char>(s[1]);
  if (c1 < lo || c1 > hi) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
  }
  return n;
}

/// A field of a layout line: where its text lies and whether it was quoted.
struct RawField {
  std::size_t begin, end;
  bool quoted;
};

/// Splits a layout line into fields. Blank: runs of characters other than
/// blanks. Tab, comma, semicolon: the text between two separators; a field
/// starting with a double quote runs to its closing quote ("" inside stands
/// for one quote), so that it may hold the separator.
void SplitLayoutLine(std::string_view line, AsciiSeparator separator,
                     std::vector<RawField>& fields) {
  fields.clear();
  const std::size_t n = line.size();
  std::size_t i = 0;
  if (separator == AsciiSeparator::kBlank) {
    for (;;) {
      while (i < n && line[i] == ' ') ++i;
      if (i == n) return;
      const std::size_t start = i;
      while (i < n && line[i] != ' ') ++i;
      fields.push_back({start, i, false});
    }
  }
  char sep = ' ';
  for (const SeparatorWord& w : kSeparatorWords) {
    if (w.separator == separator) sep = w.character;
  }
  for (;;) {
    const std::size_t start = i;
    std::size_t j = i;
    while (j < n && line[j] == ' ') ++j;
    if (j < n && line[j] == '"') {
      std::size_t k = j + 1;
      while (k < n && !(line[k] == '"' && (k + 1 == n || line[k + 1] != '"'))) {
        k += line[k] == '"' ? 2 : 1;
      }
      fields.push_back({j + 1, std::min(k, n), true});
      i = std::min(k + 1, n);
      while (i < n && line[i] != sep) ++i;
    } else {
      while (i < n && line[i] != sep) ++i;
      fields.push_back({start, i, false});
    }
    if (i == n) return;
    ++i;
  }
}

FieldSpan Trimmed(std::string_view line, std::size_t begin, std::size_t end) {
  while (begin < end && IsBlankOrTab(line[begin])) ++begin;
  while (end > begin && IsBlankOrTab(line[end - 1])) --end;
  return {begin, end - begin};
}

/// Converts a coordinate field; throws the field error of its column.
double ReadField(std::string_view text, std::size_t column, AsciiColumn role) {
  double v = 0;
  const int err = TryParseNumber(text, v);
  if (err != 0) {
    throw AsciiFieldError(err,
                          err == errnum::kOverflow ? AsciiFieldError::Problem::kTooLarge
                                                   : AsciiFieldError::Problem::kNotANumber,
                          column, role, std::string(text));
  }
  return v;
}

AsciiFieldError Missing(std::size_t column, AsciiColumn role) {
  return AsciiFieldError(errnum::kOutOfRange, AsciiFieldError::Problem::kMissing, column, role, {});
}

/// The error for a line longer than the reader keeps.
RunTimeError LineTooLong() {
  return RunTimeError(errnum::kOutOfStringSpace,
                      "die Zeile ist länger als " + std::to_string(kMaxLineBytes) + " Zeichen");
}

/// The common classic line, read in one pass: two or three fields that
/// ParseSimpleNumber takes whole, further fields ignored. False for any
/// other line, which ReadClassicLine reads field by field.
bool ReadPlainClassicLine(std::string_view line, AsciiPoint& p) {
  double values[3];
  PlainField fields[3];
  const int count = ParsePlainFields(line, 3, values, fields);
  if (count < 2) return false;
  p.first = values[0], p.second = values[1];
  p.span[0] = {fields[0].begin, fields[0].size};
  p.span[1] = {fields[1].begin, fields[1].size};
  p.hasHeight = count == 3;
  if (p.hasHeight) {
    p.height = values[2];
    p.span[2] = {fields[2].begin, fields[2].size};
  }
  return true;
}

/// The classic reading: the first three blank-separated fields.
AsciiPoint ReadClassicLine(std::string_view line, bool cut) {
  AsciiPoint p;
  if (!cut && ReadPlainClassicLine(line, p)) return p;
  p = AsciiPoint();
  std::array<FieldSpan, 3> fields{};
  int count = 0;
  for (std::size_t i = 0, n = line.size(); count < 3;) {
    while (i < n && line[i] == ' ') ++i;
    if (i == n) break;
    const std::size_t start = i;
    while (i < n && line[i] != ' ') ++i;
    fields[static_cast<std::size_t>(count++)] = {start, i - start};
  }
  // Of a line longer than what is kept, only fields that end inside the
  // kept part can be read; a field that may go on beyond it, or one that
  // may lie there, makes the line too long.
  const auto complete = [&](int k) {
    const FieldSpan& f = fields[static_cast<std::size_t>(k)];
    return !cut || (k < count && f.begin + f.size < line.size());
  };
  constexpr AsciiColumn kRoles[] = {AsciiColumn::kFirst, AsciiColumn::kSecond,
                                    AsciiColumn::kHeight};
  // Field 0 is converted before field 1 is looked for: a line without
  // blanks (tab-separated values, a word) is a conversion error, an empty
  // line or a single number a missing field.
  double* values[] = {&p.first, &p.second, &p.height};
  for (int k = 0; k < 3; ++k) {
    if (!complete(k)) throw LineTooLong();
    const auto column = static_cast<std::size_t>(k) + 1;
    if (k >= count) {
      if (k < 2) throw Missing(column, kRoles[k]);
      break;
    }
    const FieldSpan& f = fields[static_cast<std::size_t>(k)];
    *values[k] = ReadField(line.substr(f.begin, f.size), column, kRoles[k]);
    p.span[k] = f;
  }
  p.hasHeight = count >= 3;
  return p;
}

AsciiPoint ReadLayoutLine(std::string_view line, long lineNo, bool cut, const AsciiLayout& layout) {
  AsciiPoint p;
  // A line cut short cannot be copied or rewritten whole.
  if (cut) throw LineTooLong();
  const std::size_t firstChar = line.find_first_not_of(" \t");
  if (lineNo <= layout.headerLines || firstChar == std::string_view::npos ||
      line[firstChar] == '#') {
    p.copy = true;
    return p;
  }
  thread_local std::vector<RawField> fields;
  SplitLayoutLine(line, layout.separator, fields);
  const bool comma = layout.separator == AsciiSeparator::kComma;
  if (comma && fields.size() > layout.columns.size()) {
    throw AsciiFieldError(errnum::kTypeMismatch, AsciiFieldError::Problem::kTooManyFields,
                          layout.columns.size() + 1, AsciiColumn::kSkip, {});
  }
  for (std::size_t i = 0; i < layout.columns.size(); ++i) {
    const AsciiColumn role = layout.columns[i];
    int slot = -1;
    if (role == AsciiColumn::kFirst) slot = 0;
    if (role == AsciiColumn::kSecond) slot = 1;
    if (role == AsciiColumn::kHeight) slot = 2;
    if (slot < 0) continue;
    const FieldSpan f = i < fields.size() ? Trimmed(line, fields[i].begin, fields[i].end) : FieldSpan{};
    if (f.size == 0) {
      // A missing or empty height counts as 0 and stays as it is.
      if (slot == 2) continue;
      throw Missing(i + 1, role);
    }
    const std::string_view text = line.substr(f.begin, f.size);
    if (comma && fields[i].quoted && text.find(',') != std::string_view::npos) {
      throw AsciiFieldError(errnum::kTypeMismatch, AsciiFieldError::Problem::kDecimalComma, i + 1,
                            role, std::string(text));
    }
    const double v = ReadField(text, i + 1, role);
    if (slot == 0) p.first = v;
    if (slot == 1) p.second = v;
    if (slot == 2) {
      p.height = v;
      p.hasHeight = true;
    }
    p.span[slot] = f;
    if (p.decimalSign == 0) {
      const std::size_t d = text.find_first_of(".,");
      if (d != std::string_view::npos) p.decimalSign = text[d];
    }
  }
  return p;
}

/// Name of a coordinate column for the input projection of `t`.
std::string ColumnName(AsciiColumn role, const TransformSettings& t) {
  if (role == AsciiColumn::kHeight) return "Höhe";
  const bool first = role == AsciiColumn::kFirst;
  if (t.optTranslation) return first ? "erster Wert" : "zweiter Wert";
  if (t.optInBL) return first ? "Länge" : "Breite";
  if (t.optInKrovak) return first ? "erster Krovak-Wert" : "zweiter Krovak-Wert";
  return first ? "Ostwert" : "Nordwert";
}

}  // namespace

/// `text` as it can be shown in a message: control characters other than
/// the tab, bytes that are not UTF-8 (binary data, other encodings) and
/// the invisible byte order mark become U+FFFD.
std::string PrintableText(std::string_view text) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  constexpr unsigned char kFirstPrintable = 0x20, kDelete = 0x7F;
  std::string out;
  while (!text.empty()) {
    const std::size_t n = Utf8SequenceLength(text);
    const auto c = static_cast<unsigned char>(text[0]);
    if (n == 0 || (n == 1 && ((c < kFirstPrintable && c != '\t') || c == kDelete))) {
      out += kReplacement;
      text.remove_prefix(1);
    } else if (text.substr(0, n) == kUtf8Bom) {
      out += kReplacement;
      text.remove_prefix(n);
    } else {
      out.append(text.substr(0, n));
      text.remove_prefix(n);
    }
  }
  return out;
}

// ---------------------------------------------------------------- layout words

bool ParseAsciiColumns(std::string_view text, std::vector<AsciiColumn>& columns,
                       std::string& error) {
  std::vector<AsciiColumn> list;
  int counts[5] = {};
  while (true) {
    const std::size_t comma = text.find(',');
    std::string_view word = text.substr(0, comma);
    while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
    while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
    const ColumnWord* found = nullptr;
    for (const ColumnWord& w : kColumnWords) {
      if (word == w.word) found = &w;
    }
    if (found == nullptr) {
      error = "unbekannte Spalte \"" + std::string(word) +
              "\" (erlaubt: id, first, second, height, skip)";
      return false;
    }
    list.push_back(found->column);
    ++counts[static_cast<int>(found->column)];
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (counts[static_cast<int>(AsciiColumn::kFirst)] != 1 ||
      counts[static_cast<int>(AsciiColumn::kSecond)] != 1 ||
      counts[static_cast<int>(AsciiColumn::kHeight)] > 1) {
    error = "die Spaltenliste braucht genau einmal first und second und höchstens einmal height";
    return false;
  }
  columns = std::move(list);
  return true;
}

std::string AsciiColumnsText(const std::vector<AsciiColumn>& columns) {
  std::string text;
  for (AsciiColumn c : columns) {
    if (!text.empty()) text += ',';
    for (const ColumnWord& w : kColumnWords) {
      if (w.column == c) text += w.word;
    }
  }
  return text;
}

bool ParseAsciiSeparator(std::string_view text, AsciiSeparator& separator) {
  for (const SeparatorWord& w : kSeparatorWords) {
    if (text == w.word) {
      separator = w.separator;
      return true;
    }
  }
  return false;
}

const char* AsciiSeparatorName(AsciiSeparator separator) {
  for (const SeparatorWord& w : kSeparatorWords) {
    if (w.separator == separator) return w.word;
  }
  return "blank";
}

// ---------------------------------------------------------------- reading a line

AsciiPoint ReadAsciiLine(std::string_view line, long lineNo, bool cut, const AsciiLayout& layout) {
  return layout.active ? ReadLayoutLine(line, lineNo, cut, layout) : ReadClassicLine(line, cut);
}

std::string FieldErrorText(const AsciiFieldError& e, const TransformSettings& t) {
  using Problem = AsciiFieldError::Problem;
  std::string text = "Spalte " + std::to_string(e.column());
  if (e.problem() == Problem::kTooManyFields) {
    return text + ": die Zeile hat mehr Spalten als die Spaltenliste nennt; mit Komma als "
                  "Trennzeichen muss das Dezimalzeichen ein Punkt sein, und weitere Spalten "
                  "werden mit skip genannt";
  }
  text += " (" + ColumnName(e.role(), t) + ")";
  if (e.problem() == Problem::kMissing) return text + " fehlt";
  constexpr std::size_t kShown = 60;
  std::string field = PrintableText(std::string_view(e.field()).substr(0, kShown));
  if (e.field().size() > kShown) field += "...";
  text += ": \"" + field + "\"";
  switch (e.problem()) {
    case Problem::kTooLarge: return text + " ist zu groß für eine Zahl";
    case Problem::kDecimalComma:
      return text + " enthält ein Komma; mit Komma als Trennzeichen muss das Dezimalzeichen ein "
                    "Punkt sein";
    default: return text + " ist keine Zahl";
  }
}

// ---------------------------------------------------------------- one line

AsciiLineResult WriteAsciiLine(Session& session, const AsciiLayout& layout,
                               const PlausibilityContext& ctx, std::string_view line,
                               const AsciiPoint& p, const PointResult& r, double height,
                               std::string_view lineEnd, std::string& out) {
  AsciiLineResult result;
  if (p.copy) {
    out.append(line);
    out.append(lineEnd);
    return result;
  }
  result.point = true;
  result.warnings = CheckPoint(ctx, p.first, r);
  if (!layout.active) {
    const char sign = session.decimalSign();
    // Room for three numbers and a blank after each, the last blank taken
    // by a line end of up to two bytes.
    char text[3 * kNumberTextMax];
    char* end = WriteNumber(text, r[0], sign);
    *end++ = ' ';
    end = WriteNumber(end, r[1], sign);
    *end++ = ' ';
    end = WriteNumber(end, height, sign);
    if (lineEnd.size() <= 2) {
      std::memcpy(end, lineEnd.data(), lineEnd.size());
      out.append(text, static_cast<std::size_t>(end - text) + lineEnd.size());
    } else {
      out.append(text, static_cast<std::size_t>(end - text));
      out.append(lineEnd);
    }
    return result;
  }
  char sign = layout.decimalSign != 0 ? layout.decimalSign : p.decimalSign;
  if (sign == 0) sign = layout.separator == AsciiSeparator::kComma ? '.' : session.decimalSign();
  struct Replacement {
    FieldSpan span;
    double value;
  };
  std::array<Replacement, 3> reps{{{p.span[0], r[0]}, {p.span[1], r[1]}, {p.span[2], height}}};
  // The height changes in translation mode only.
  const std::size_t n = p.hasHeight && session.settings.optTranslation ? 3 : 2;
  std::sort(reps.begin(), reps.begin() + static_cast<std::ptrdiff_t>(n),
            [](const Replacement& a, const Replacement& b) { return a.span.begin < b.span.begin; });
  std::size_t pos = 0;
  for (std::size_t i = 0; i < n; ++i) {
    out.append(line.substr(pos, reps[i].span.begin - pos));
    AppendNumber(out, reps[i].value, sign);
    pos = reps[i].span.begin + reps[i].span.size;
  }
  out.append(line.substr(pos));
  out.append(lineEnd);
  return result;
}

}  // namespace pelmo
