// Text helpers. Strings are UTF-8 everywhere in the program; 8-bit texts from
// browser caches and profile files written on Windows are widened here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace harvix {

// Widens 8-bit text from a browser cache as Windows-1252 into UTF-8. ASCII
// stays as it is; the five unassigned bytes map to U+FFFD.
std::string cp1252ToUtf8(std::string_view bytes);

// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates).
bool isValidUtf8(std::string_view bytes);

// Decodes UTF-16 (little- or big-endian, without its mark) into UTF-8; an
// unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);

// Decodes a whole text file: UTF-16 when it starts with a UTF-16 mark, UTF-8
// when valid (a UTF-8 mark is dropped), otherwise Windows-1252.
std::string decodeTextFile(std::string_view bytes);

// Appends the UTF-8 form of one code point.
void appendUtf8(std::string& out, char32_t cp);

// Cuts `text` after at most `maxChars` code points, never inside one.
std::string truncateUtf8(std::string_view text, std::size_t maxChars);

// ASCII lower-casing and case-insensitive comparison (section and key names,
// image names, content types).
constexpr char toLowerAscii(char ch) {
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}
std::string toLowerAscii(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view text, std::string_view prefix);

// Blanks removed from both ends (space, tab, CR, LF, VT, FF).
std::string_view trim(std::string_view text);

// The leading decimal integer of `text` after optional blanks and sign, like
// the C library's atoi but without overflow: out of range saturates; no
// digits give 0.
int64_t leadingInteger(std::string_view text);

// A byte count as people write it: a number, optionally with a decimal part
// ('.' or ','), then optionally a unit, blanks allowed around and between.
// The units follow the command-line tools' convention, letters in any case:
// b bytes; k, KiB 1024; kB 1000; M, MiB 1024^2; MB 1000^2; G, GiB 1024^3;
// GB 1000^3. Nothing for an empty text, a negative number, an unknown unit,
// trailing text or a result past INT64_MAX; a fraction of a byte is dropped.
std::optional<int64_t> parseByteSize(std::string_view text);

}  // namespace harvix
