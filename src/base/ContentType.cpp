#include "base/ContentType.h"

#include <array>

namespace harvix {

namespace {

struct KeyWord {
    std::string_view word;
    int32_t code;
};

// Tested in this order; the first key word found decides. The order settles
// mixed texts: "html" before "xml" (application/xhtml+xml is html), the
// video "mpg" key words before the audio "mpeg" ones.
constexpr std::array<KeyWord, 24> kKeyWords{{
    {"jpeg", 1},   {"jpg", 1},         {"gif", 2},
    {"png", 3},    {"bmp", 4},         {"icon", 5},
    {"ico", 5},    {"flv", 6},         {"shockwave-flash", 7},
    {"swf", 7},    {"html", 8},        {"xml", 9},
    {"css", 10},   {"javascript", 11}, {"js", 11},
    {"mpg", 17},   {"video/mpeg", 17}, {"audio/mpeg", 12},
    {"mp3", 12},   {"wav", 13},        {"pdf", 14},
    {"plain", 15}, {"zip", 16},        {"wmv", 18},
}};

constexpr std::array<std::string_view, kContentTypeCount> kNames{
    "all", "jpg", "gif", "png", "bmp", "ico",   "flv", "swf", "html", "xml",
    "css", "js",  "mp3", "wav", "pdf", "plain", "zip", "mpg", "wmv"};

}  // namespace

int32_t contentTypeFromText(std::string_view text) {
    for (const KeyWord& key : kKeyWords) {
        if (!key.word.empty() && text.find(key.word) != std::string_view::npos) {
            return key.code;
        }
    }
    return 0;
}

int32_t contentTypeFromWideText(std::string_view utf8) {
    // Every key word is ASCII, and in UTF-8 an ASCII byte never occurs inside
    // the encoding of another character, so a byte search finds exactly the
    // code-unit matches of the wide text.
    return contentTypeFromText(utf8);
}

int32_t contentTypeFromText(std::u16string_view text) {
    // Characters outside ASCII can be part of no key word; they become a byte
    // that no key word holds.
    std::string narrow;
    narrow.reserve(text.size());
    for (const char16_t ch : text) {
        narrow.push_back(ch < 0x80 ? static_cast<char>(ch) : '\x80');
    }
    return contentTypeFromText(std::string_view(narrow));
}

std::string contentTypeName(int32_t code) {
    if (code < 1 || code >= kContentTypeCount) {
        return std::string(kNames[0]);
    }
    return std::string(kNames[static_cast<std::size_t>(code)]);
}

}  // namespace harvix
