// Content types: the codes a filter file stores (ContentType=N) and a cache
// entry carries, with one table that gives each code its short name (the
// extension of saved files and the text of the type lists), the key words
// that turn a Content-Type text into the code, its place in the filter
// editor's list and the group it belongs to.
//
// The codes 0..18 are those of every filter file written so far; new codes
// are only ever added. An item of a group type (pictures, videos, sounds)
// takes every entry of that group; an entry never carries a group code.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

enum class ContentType : int32_t {
    All = 0,  // nothing recognised; as an item's type: any entry
    Jpg = 1,
    Gif = 2,
    Png = 3,
    Bmp = 4,
    Ico = 5,
    Flv = 6,
    Swf = 7,
    Html = 8,
    Xml = 9,
    Css = 10,
    Js = 11,
    Mp3 = 12,
    Wav = 13,
    Pdf = 14,
    Plain = 15,
    Zip = 16,
    Mpg = 17,
    Wmv = 18,
    Webp = 19,
    Avif = 20,
    Svg = 21,
    Mp4 = 22,
    Webm = 23,
    Json = 24,
    Woff2 = 25,
    // Groups.
    Pictures = 30,
    Videos = 31,
    Sounds = 32,
};

constexpr int32_t codeOf(ContentType type) {
    return static_cast<int32_t>(type);
}

// One row of the table.
struct ContentTypeInfo {
    ContentType type;
    std::string_view name;                       // short name, lower case
    std::span<const std::string_view> keyWords;  // lower case
    int32_t listPlace;                           // place in the filter editor's list, from 0
    ContentType group;                           // Pictures, Videos, Sounds, or All for none
};

// Every known type. The rows stand in key-word order: the first key word
// found in a Content-Type text decides, so a row's place settles mixed texts
// ("html" before "xml" for application/xhtml+xml, "svg" before "xml",
// "json" before "js", the video "mpg" key words before the audio "mpeg").
std::span<const ContentTypeInfo> contentTypes();

// The row of a code; null for a code no row has.
const ContentTypeInfo* contentTypeInfo(int32_t code);

// The code of a Content-Type text, letters compared without regard to case.
// The text is a header value ("image/png; charset=...") or a whole stored
// response head, in which case its Content-Type line counts when it has one.
// Key words are ASCII, so 8-bit and UTF-8 texts are searched alike. 0 when
// no key word is found.
int32_t contentTypeCode(std::string_view text);

// The short name of a code; "all" for a code no row has.
std::string contentTypeName(int32_t code);

// A type as the user names it: a short name (any case) or the number of a
// known code; nothing for anything else.
std::optional<int32_t> contentTypeFromName(std::string_view word);

bool isContentTypeGroup(int32_t code);

// The type test of a filter item: an item of type `wanted` takes an entry
// of content-type code `code` and Content-Type text `text` (empty when the
// reader keeps none). 0 takes every entry; a group takes an entry whose
// text's media type is image, video or audio, or, for any other text, whose
// code belongs to the group; any other code takes only entries of that code.
bool contentTypeMatches(int32_t wanted, int32_t code, std::string_view text);

// The codes in the order of the filter editor's list: the groups first.
std::vector<int32_t> contentTypeListOrder();

}  // namespace harvix
