#include "cli/EntryListing.h"

#include <cstdio>
#include <ctime>

#include "base/ContentType.h"
#include "cli/ReaderArgs.h"
#include "readers/http/ResponseHead.h"

namespace harvix {

std::optional<ListFormat> listFormatFromWord(const std::string& word) {
    if (word == "tsv") {
        return ListFormat::Tsv;
    }
    if (word == "csv") {
        return ListFormat::Csv;
    }
    if (word == "json") {
        return ListFormat::Json;
    }
    return std::nullopt;
}

bool parseWholeSeconds(const std::string& text, int64_t& value) {
    std::size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size() || text.size() - i > 18) {
        return false;  // nothing, or beyond any time worth naming
    }
    int64_t number = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        number = number * 10 + (text[i] - '0');
    }
    value = text[0] == '-' ? -number : number;
    return true;
}

const char* const kSinceForms =
    "seconds since 1970, a duration (90s, 15m, 2h, 3d) or a date (2026-12-01, 2026-12-01T10:00)";

namespace {

// Reads `count` digits at `at` into `value`; false when any is no digit.
bool readDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::optional<int64_t> parseDuration(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    int64_t total = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        int64_t number = 0;
        std::size_t digits = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            number = number * 10 + (text[i] - '0');
            if (digits >= 9) {
                return std::nullopt;  // a billion units back is no time worth naming
            }
        }
        if (digits == 0 || i == text.size()) {
            return std::nullopt;
        }
        int64_t unit = 0;
        switch (text[i++]) {
            case 's':
                unit = 1;
                break;
            case 'm':
                unit = 60;
                break;
            case 'h':
                unit = 3600;
                break;
            case 'd':
                unit = 86400;
                break;
            case 'w':
                unit = 7 * 86400;
                break;
            default:
                return std::nullopt;
        }
        total += number * unit;
    }
    return total;
}

std::optional<int64_t> parseDate(std::string_view text) {
    std::tm parts{};
    int year = 0;
    int month = 0;
    int day = 0;
    if (text.size() < 10 || !readDigits(text, 0, 4, year) || text[4] != '-' ||
        !readDigits(text, 5, 2, month) || text[7] != '-' || !readDigits(text, 8, 2, day)) {
        return std::nullopt;
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::size_t i = 10;
    if (i < text.size() && (text[i] == 'T' || text[i] == ' ')) {
        if (!readDigits(text, i + 1, 2, hour) || i + 3 >= text.size() || text[i + 3] != ':' ||
            !readDigits(text, i + 4, 2, minute)) {
            return std::nullopt;
        }
        i += 6;
        if (i < text.size() && text[i] == ':') {
            if (!readDigits(text, i + 1, 2, second)) {
                return std::nullopt;
            }
            i += 3;
        }
    }
    const bool utc = i < text.size() && text[i] == 'Z';
    if (i + (utc ? 1 : 0) != text.size() || month < 1 || month > 12 || day < 1 || hour > 23 ||
        minute > 59 || second > 59 || year < 1970) {
        return std::nullopt;
    }
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    const std::time_t time = utc ? timegm(&parts) : std::mktime(&parts);
    // The calendar moves a day it lacks (02-30) into the next month.
    if (time == static_cast<std::time_t>(-1) || parts.tm_mday != day || parts.tm_mon != month - 1) {
        return std::nullopt;
    }
    return static_cast<int64_t>(time);
}

}  // namespace

std::optional<int64_t> parseSince(const std::string& text, int64_t now) {
    int64_t seconds = 0;
    if (parseWholeSeconds(text, seconds)) {
        return seconds;
    }
    if (const std::optional<int64_t> back = parseDuration(text)) {
        return now - *back;
    }
    return parseDate(text);
}

EntrySelection::EntrySelection() = default;

bool EntrySelection::setType(const std::string& name) {
    const std::optional<int32_t> code = contentTypeFromName(name);
    if (!code) {
        return false;
    }
    item_.contentType = *code;
    return true;
}

void EntrySelection::setUrl(const std::string& text) {
    item_.url = text;
    item_.parseUrl(set_);
}

bool EntrySelection::matches(const CacheEntry& entry) const {
    return (since_ == 0 || entry.time >= since_) && item_.matches(entry);
}

std::string isoTime(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (gmtime_r(&time, &parts) == nullptr) {
        return {};
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (const char ch : text) {
        if (ch == '"') {
            out += '"';
        }
        out += ch;
    }
    out += '"';
    return out;
}

namespace {

// Length of the valid UTF-8 sequence at `at`, 0 when there is none.
std::size_t utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    uint32_t min = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    uint32_t code = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto ch = static_cast<unsigned char>(text[i]);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
            ++i;
        } else if (ch < 0x20 || ch == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", ch);
            out += escaped;
            ++i;
        } else if (const std::size_t length = utf8Length(text, i); length > 0) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out += '"';
    return out;
}

ListWriter::ListWriter(std::ostream& out, ListFormat format) : out_(out), format_(format) {
    if (format_ == ListFormat::Csv) {
        out_ << "index,content_type,content_type_name,size,decoded_size,time,time_iso,data_file,"
                "url,status,content_type_text,response_time,last_used,expires\r\n";
    } else if (format_ == ListFormat::Json) {
        out_ << '[';
    }
}

namespace {

// A time the cache may not keep: its number, or `none`.
std::string timeOrNone(int64_t time, const char* none) {
    return time == CacheEntry::kNoTime ? std::string(none) : std::to_string(time);
}

// Every header line of a stored head as [name, value] pairs, as stored.
std::string jsonHeaders(std::string_view head) {
    std::string out = "[";
    for (const auto& [name, value] : parseResponseHead(head).headers) {
        out += (out.size() > 1 ? ", [" : "[") + jsonString(name) + ", " + jsonString(value) + "]";
    }
    return out + "]";
}

}  // namespace

void ListWriter::write(const CacheEntry& entry, std::optional<uint64_t> decodedSize,
                       std::string_view head) {
    switch (format_) {
        case ListFormat::Tsv:
            out_ << entry.index << '\t' << entry.contentType << '\t' << entry.size << '\t'
                 << entry.time << '\t' << fieldText(entry.dataFile) << '\t' << fieldText(entry.url)
                 << '\n';
            break;
        case ListFormat::Csv:
            out_ << entry.index << ',' << entry.contentType << ','
                 << csvField(contentTypeName(entry.contentType)) << ',' << entry.size << ','
                 << (decodedSize ? std::to_string(*decodedSize) : std::string()) << ','
                 << entry.time << ',' << isoTime(entry.time) << ',' << csvField(entry.dataFile)
                 << ',' << csvField(entry.url) << ','
                 << (entry.status != 0 ? std::to_string(entry.status) : std::string()) << ','
                 << csvField(entry.contentTypeText) << ',' << timeOrNone(entry.responseTime, "")
                 << ',' << timeOrNone(entry.lastUsed, "") << ',' << timeOrNone(entry.expires, "")
                 << "\r\n";
            break;
        case ListFormat::Json:
            out_ << (first_ ? "\n" : ",\n") << "  {\"index\": " << entry.index
                 << ", \"contentType\": " << entry.contentType
                 << ", \"contentTypeName\": " << jsonString(contentTypeName(entry.contentType))
                 << ", \"contentTypeText\": " << jsonString(entry.contentTypeText)
                 << ", \"size\": " << entry.size << ", \"decodedSize\": "
                 << (decodedSize ? std::to_string(*decodedSize) : std::string("null"))
                 << ", \"time\": " << entry.time
                 << ", \"timeIso\": " << jsonString(isoTime(entry.time))
                 << ", \"dataFile\": " << jsonString(entry.dataFile)
                 << ", \"url\": " << jsonString(entry.url) << ", \"status\": "
                 << (entry.status != 0 ? std::to_string(entry.status) : std::string("null"))
                 << ", \"responseTime\": " << timeOrNone(entry.responseTime, "null")
                 << ", \"lastUsed\": " << timeOrNone(entry.lastUsed, "null")
                 << ", \"expires\": " << timeOrNone(entry.expires, "null")
                 << ", \"headers\": " << jsonHeaders(head) << '}';
            break;
    }
    first_ = false;
}

void ListWriter::finish() {
    if (format_ == ListFormat::Json) {
        out_ << (first_ ? "]\n" : "\n]\n");
    }
}

}  // namespace harvix
