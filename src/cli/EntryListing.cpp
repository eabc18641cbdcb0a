#include "cli/EntryListing.h"

#include <cstdio>
#include <ctime>

#include "base/ContentType.h"
#include "cli/ReaderArgs.h"

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
        out_ << "index,content_type,size,time,data_file,url\r\n";
    } else if (format_ == ListFormat::Json) {
        out_ << '[';
    }
}

void ListWriter::write(const CacheEntry& entry) {
    switch (format_) {
        case ListFormat::Tsv:
            out_ << entry.index << '\t' << entry.contentType << '\t' << entry.size << '\t'
                 << entry.time << '\t' << fieldText(entry.dataFile) << '\t' << fieldText(entry.url)
                 << '\n';
            break;
        case ListFormat::Csv:
            out_ << entry.index << ',' << entry.contentType << ',' << entry.size << ','
                 << entry.time << ',' << csvField(entry.dataFile) << ',' << csvField(entry.url)
                 << "\r\n";
            break;
        case ListFormat::Json:
            out_ << (first_ ? "\n" : ",\n") << "  {\"index\": " << entry.index
                 << ", \"contentType\": " << entry.contentType
                 << ", \"contentTypeName\": " << jsonString(contentTypeName(entry.contentType))
                 << ", \"contentTypeText\": " << jsonString(entry.contentTypeText)
                 << ", \"size\": " << entry.size << ", \"time\": " << entry.time
                 << ", \"timeIso\": " << jsonString(isoTime(entry.time))
                 << ", \"dataFile\": " << jsonString(entry.dataFile)
                 << ", \"url\": " << jsonString(entry.url) << '}';
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
