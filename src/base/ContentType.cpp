#include "base/ContentType.h"
#include "base/Text.h"

#include <algorithm>
#include <array>

namespace harvix {

namespace {

constexpr std::array<std::string_view, 0> kNone{};
constexpr std::array<std::string_view, 2> kJpg{"jpeg", "jpg"};
constexpr std::array<std::string_view, 1> kGif{"gif"};
constexpr std::array<std::string_view, 1> kPng{"png"};
constexpr std::array<std::string_view, 1> kBmp{"bmp"};
constexpr std::array<std::string_view, 2> kIco{"icon", "ico"};
constexpr std::array<std::string_view, 1> kFlv{"flv"};
constexpr std::array<std::string_view, 2> kSwf{"shockwave-flash", "swf"};
constexpr std::array<std::string_view, 1> kHtml{"html"};
constexpr std::array<std::string_view, 1> kSvg{"svg"};
constexpr std::array<std::string_view, 1> kXml{"xml"};
constexpr std::array<std::string_view, 1> kCss{"css"};
constexpr std::array<std::string_view, 1> kJson{"json"};
constexpr std::array<std::string_view, 2> kJs{"javascript", "js"};
constexpr std::array<std::string_view, 2> kMpg{"mpg", "video/mpeg"};
constexpr std::array<std::string_view, 2> kMp3{"audio/mpeg", "mp3"};
constexpr std::array<std::string_view, 1> kWav{"wav"};
constexpr std::array<std::string_view, 1> kPdf{"pdf"};
constexpr std::array<std::string_view, 1> kPlain{"plain"};
constexpr std::array<std::string_view, 1> kZip{"zip"};
constexpr std::array<std::string_view, 1> kWmv{"wmv"};
constexpr std::array<std::string_view, 1> kWebp{"webp"};
constexpr std::array<std::string_view, 1> kAvif{"avif"};
constexpr std::array<std::string_view, 1> kMp4{"mp4"};
constexpr std::array<std::string_view, 1> kWebm{"webm"};
constexpr std::array<std::string_view, 1> kWoff{"woff"};  // font/woff2 and font/woff

using T = ContentType;

// Key-word order (see the header). The list places put the groups first,
// then pictures, video, sound, documents and the rest.
constexpr std::array<ContentTypeInfo, 29> kTable{{
    {T::Jpg, "jpg", kJpg, 4, T::Pictures},
    {T::Gif, "gif", kGif, 5, T::Pictures},
    {T::Png, "png", kPng, 6, T::Pictures},
    {T::Bmp, "bmp", kBmp, 7, T::Pictures},
    {T::Ico, "ico", kIco, 8, T::Pictures},
    {T::Flv, "flv", kFlv, 12, T::Videos},
    {T::Swf, "swf", kSwf, 17, T::All},
    {T::Html, "html", kHtml, 22, T::All},
    {T::Svg, "svg", kSvg, 11, T::Pictures},
    {T::Xml, "xml", kXml, 23, T::All},
    {T::Css, "css", kCss, 24, T::All},
    {T::Json, "json", kJson, 26, T::All},
    {T::Js, "js", kJs, 25, T::All},
    {T::Mpg, "mpg", kMpg, 13, T::Videos},
    {T::Mp3, "mp3", kMp3, 18, T::Sounds},
    {T::Wav, "wav", kWav, 19, T::Sounds},
    {T::Pdf, "pdf", kPdf, 20, T::All},
    {T::Plain, "plain", kPlain, 21, T::All},
    {T::Zip, "zip", kZip, 27, T::All},
    {T::Wmv, "wmv", kWmv, 14, T::Videos},
    {T::Webp, "webp", kWebp, 9, T::Pictures},
    {T::Avif, "avif", kAvif, 10, T::Pictures},
    {T::Mp4, "mp4", kMp4, 15, T::Videos},
    {T::Webm, "webm", kWebm, 16, T::Videos},
    {T::Woff2, "woff2", kWoff, 28, T::All},
    {T::All, "all", kNone, 3, T::All},
    {T::Pictures, "pictures", kNone, 0, T::All},
    {T::Videos, "videos", kNone, 1, T::All},
    {T::Sounds, "sounds", kNone, 2, T::All},
}};

// Every row has a place of its own in the editor's list.
constexpr bool listPlacesAreDistinct() {
    std::array<bool, kTable.size()> taken{};
    for (const ContentTypeInfo& row : kTable) {
        if (row.listPlace < 0 || static_cast<std::size_t>(row.listPlace) >= kTable.size() ||
            taken[static_cast<std::size_t>(row.listPlace)]) {
            return false;
        }
        taken[static_cast<std::size_t>(row.listPlace)] = true;
    }
    return true;
}
static_assert(listPlacesAreDistinct());

// Whether `text` holds `lowerWord` (lower case), letters compared without
// regard to case.
bool holdsNoCase(std::string_view text, std::string_view lowerWord) {
    return std::search(text.begin(), text.end(), lowerWord.begin(), lowerWord.end(),
                       [](char a, char b) { return toLowerAscii(a) == b; }) != text.end();
}

// The value of the Content-Type line of a response head, or the whole text
// when it holds no such line (a header value as such).
std::string_view contentTypeValue(std::string_view text) {
    constexpr std::string_view kName = "content-type:";
    std::size_t line = 0;
    while (line < text.size()) {
        std::size_t end = text.find('\n', line);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view current = text.substr(line, end - line);
        if (startsWithNoCase(current, kName)) {
            std::string_view value = current.substr(kName.size());
            if (!value.empty() && value.back() == '\r') {
                value.remove_suffix(1);
            }
            return value;
        }
        line = end + 1;
    }
    return text;
}

// The media type of a Content-Type text ("image" of "image/png"), lower
// case; empty when the text holds no '/'.
std::string mediaType(std::string_view text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    std::string_view type = text.substr(0, slash);
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) {
        type.remove_prefix(1);
    }
    std::string lower;
    for (const char ch : type) {
        lower += toLowerAscii(ch);
    }
    return lower;
}

}  // namespace

std::span<const ContentTypeInfo> contentTypes() {
    return kTable;
}

const ContentTypeInfo* contentTypeInfo(int32_t code) {
    for (const ContentTypeInfo& row : kTable) {
        if (codeOf(row.type) == code) {
            return &row;
        }
    }
    return nullptr;
}

int32_t contentTypeCode(std::string_view text) {
    const std::string_view value = contentTypeValue(text);
    for (const ContentTypeInfo& row : kTable) {
        for (const std::string_view word : row.keyWords) {
            if (holdsNoCase(value, word)) {
                return codeOf(row.type);
            }
        }
    }
    return codeOf(ContentType::All);
}

std::string contentTypeName(int32_t code) {
    const ContentTypeInfo* row = contentTypeInfo(code);
    return std::string(row != nullptr ? row->name : "all");
}

std::optional<int32_t> contentTypeFromName(std::string_view word) {
    for (const ContentTypeInfo& row : kTable) {
        if (word.size() == row.name.size() && holdsNoCase(word, row.name)) {
            return codeOf(row.type);
        }
    }
    if (word.empty() || word.size() > 3 ||
        !std::all_of(word.begin(), word.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) {
        return std::nullopt;
    }
    int32_t code = 0;
    for (const char ch : word) {
        code = code * 10 + (ch - '0');
    }
    if (contentTypeInfo(code) == nullptr) {
        return std::nullopt;
    }
    return code;
}

bool isContentTypeGroup(int32_t code) {
    return code == codeOf(ContentType::Pictures) || code == codeOf(ContentType::Videos) ||
           code == codeOf(ContentType::Sounds);
}

bool contentTypeMatches(int32_t wanted, int32_t code, std::string_view text) {
    if (wanted == codeOf(ContentType::All)) {
        return true;
    }
    if (!isContentTypeGroup(wanted)) {
        return wanted == code;
    }
    // The media type says it first: audio/mp4 is a sound, image/tiff a
    // picture though no code names it.
    const std::string media = mediaType(text);
    if (media == "image") {
        return wanted == codeOf(ContentType::Pictures);
    }
    if (media == "video") {
        return wanted == codeOf(ContentType::Videos);
    }
    if (media == "audio") {
        return wanted == codeOf(ContentType::Sounds);
    }
    const ContentTypeInfo* row = contentTypeInfo(code);
    return row != nullptr && codeOf(row->group) == wanted;
}

std::vector<int32_t> contentTypeListOrder() {
    std::vector<int32_t> order(kTable.size());
    for (const ContentTypeInfo& row : kTable) {
        order[static_cast<std::size_t>(row.listPlace)] = codeOf(row.type);
    }
    return order;
}

}  // namespace harvix
