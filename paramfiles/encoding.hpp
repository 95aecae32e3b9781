// Text encodings of the parameter files. Files are written in UTF-8; files
// from older systems are in Windows-1252 and are converted on reading.
#pragma once

#include <string>
#include <string_view>

namespace pelmo {

/// The byte order mark some editors put at the start of a UTF-8 file.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

/// True when `text` is well-formed UTF-8: no stray continuation bytes, no
/// truncated sequences, no overlong forms, no surrogates (U+D800..U+DFFF),
/// nothing above U+10FFFF. Plain ASCII is valid UTF-8.
bool IsValidUtf8(std::string_view text) noexcept;

/// Converts Windows-1252 text to UTF-8. Bytes below 0x80 stay; 0xA0..0xFF
/// become U+00A0..U+00FF; 0x80..0x9F become the characters of the code page
/// (euro sign, typographic quotes, ...), and the five bytes the code page
/// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) the C1 control of the
/// same number, so that no byte is lost.
std::string Windows1252ToUtf8(std::string_view text);

/// Appends the UTF-8 form of the code point `cp` (at most U+10FFFF, no
/// surrogate) to `out`.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace pelmo
