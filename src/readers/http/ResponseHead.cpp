#include "readers/http/ResponseHead.h"
#include "base/Text.h"

#include <cstddef>

namespace harvix {

namespace {

bool isBlank(char ch) {
    return ch == ' ' || ch == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (isBlank(text.front()) || text.front() == '\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (isBlank(text.back()) || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool isDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

// "HTTP/1.1 200 OK", "HTTP/2 404": the three-digit code after the version.
std::optional<int> statusOf(std::string_view line) {
    if (line.size() < 5 || !equalsNoCase(line.substr(0, 5), "HTTP/")) {
        return std::nullopt;
    }
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) {
        return 0;
    }
    std::string_view rest = line.substr(blank + 1);
    while (!rest.empty() && rest.front() == ' ') {
        rest.remove_prefix(1);
    }
    if (rest.size() < 3 || !isDigit(rest[0]) || !isDigit(rest[1]) || !isDigit(rest[2]) ||
        (rest.size() > 3 && isDigit(rest[3]))) {
        return 0;
    }
    return (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
}

}  // namespace

std::optional<std::string> ResponseHead::header(std::string_view name) const {
    for (const auto& [headerName, value] : headers) {
        if (equalsNoCase(headerName, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::string ResponseHead::contentType() const {
    return header("Content-Type").value_or("");
}

namespace {

// A plain decimal number that fits 64 bits; nothing otherwise.
std::optional<uint64_t> decimal(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    uint64_t number = 0;
    for (const char ch : text) {
        if (!isDigit(ch)) {
            return std::nullopt;
        }
        const auto digit = static_cast<uint64_t>(ch - '0');
        if (number > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        number = number * 10 + digit;
    }
    return number;
}

}  // namespace

std::optional<uint64_t> ResponseHead::contentLength() const {
    const std::optional<std::string> value = header("Content-Length");
    return value ? decimal(*value) : std::nullopt;
}

std::optional<ContentRange> ResponseHead::contentRange() const {
    const std::optional<std::string> value = header("Content-Range");
    if (!value) {
        return std::nullopt;
    }
    // "bytes FIRST-LAST/TOTAL", TOTAL "*" when the server does not know it.
    std::string_view text = trim(*value);
    if (text.size() < 6 || !equalsNoCase(text.substr(0, 6), "bytes ")) {
        return std::nullopt;
    }
    text = trim(text.substr(6));
    const std::size_t dash = text.find('-');
    const std::size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
        return std::nullopt;
    }
    const std::optional<uint64_t> first = decimal(trim(text.substr(0, dash)));
    const std::optional<uint64_t> last = decimal(trim(text.substr(dash + 1, slash - dash - 1)));
    const std::string_view total = trim(text.substr(slash + 1));
    if (!first || !last || *last < *first) {
        return std::nullopt;
    }
    ContentRange range{*first, *last, std::nullopt};
    if (total != "*") {
        range.total = decimal(total);
        if (!range.total || *range.total <= *last) {
            return std::nullopt;
        }
    }
    return range;
}

std::optional<uint64_t> ResponseHead::wholeSize() const {
    if (status != 206) {
        return std::nullopt;
    }
    const std::optional<ContentRange> range = contentRange();
    return range ? range->total : std::nullopt;
}

ContentEncoding ResponseHead::contentEncoding() const {
    // Every Content-Encoding line counts: two lines stack two codings just as
    // "gzip, br" does in one.
    ContentEncoding found;
    for (const auto& [name, value] : headers) {
        if (!equalsNoCase(name, "Content-Encoding")) {
            continue;
        }
        std::string_view rest = value;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view coding = trimmed(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
            if (coding.empty() || equalsNoCase(coding, "identity")) {
                continue;
            }
            if (equalsNoCase(coding, "gzip") || equalsNoCase(coding, "x-gzip")) {
                found.add(ContentCoding::Gzip);
            } else if (equalsNoCase(coding, "deflate")) {
                found.add(ContentCoding::Deflate);
            } else if (equalsNoCase(coding, "br")) {
                found.add(ContentCoding::Brotli);
            } else if (equalsNoCase(coding, "zstd")) {
                found.add(ContentCoding::Zstd);
            } else {
                // A coding no browser knows ("UTF-8" from a misconfigured
                // server, "compress"): they show the bytes as sent.
                return ContentEncoding::Identity;
            }
        }
    }
    return found;
}

ResponseHead parseResponseHead(std::string_view raw) {
    ResponseHead head;
    bool first = true;
    // Lines end in a newline, or in a NUL where the cache keeps the head as
    // NUL-separated lines. The next NUL is searched for again only once a
    // line has passed it, so every byte is looked at about twice.
    std::size_t nul = raw.find('\0');
    while (!raw.empty()) {
        const std::size_t newline = raw.substr(0, nul).find('\n');
        const std::size_t end = newline != std::string_view::npos ? newline : nul;
        std::string_view line = raw.substr(0, end);
        if (end == std::string_view::npos) {
            raw = {};
        } else {
            raw.remove_prefix(end + 1);
            nul = end == nul ? raw.find('\0') : nul == std::string_view::npos ? nul : nul - end - 1;
        }
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            if (first) {
                continue;  // leading blank lines before the status line
            }
            break;
        }
        if (first) {
            first = false;
            if (const std::optional<int> status = statusOf(line)) {
                head.status = *status;
                continue;
            }
        }
        if (isBlank(line.front())) {
            if (!head.headers.empty()) {
                std::string& value = head.headers.back().second;
                const std::string_view more = trimmed(line);
                if (!more.empty()) {
                    value += value.empty() ? "" : " ";
                    value += more;
                }
            }
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = trimmed(line.substr(0, colon));
        if (name.empty()) {
            continue;
        }
        head.headers.emplace_back(std::string(name), std::string(trimmed(line.substr(colon + 1))));
    }
    return head;
}

}  // namespace harvix
