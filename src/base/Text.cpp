#include "base/Text.h"

#include <array>
#include <limits>

#include "base/ByteOrder.h"

namespace harvix {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

// Windows-1252 for 0x80..0x9F; 0 marks the unassigned bytes.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Length of the well-formed UTF-8 sequence at `pos`, or 0.
std::size_t utf8SequenceLength(std::string_view s, std::size_t pos, char32_t* cp) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    std::size_t len = 0;
    char32_t value = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        value = b0 & 0x1Fu;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        value = b0 & 0x0Fu;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        value = b0 & 0x07u;
        min = 0x10000;
    } else {
        return 0;
    }
    if (pos + len > s.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (b & 0x3Fu);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *cp = value;
    return len;
}

}  // namespace

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out.push_back(ch);
        } else if (b < 0xA0) {
            const char16_t mapped = kCp1252High[b - 0x80u];
            appendUtf8(out, mapped != 0 ? mapped : 0xFFFD);
        } else {
            appendUtf8(out, b);
        }
    }
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    char32_t cp = 0;
    while (pos < bytes.size()) {
        const std::size_t len = utf8SequenceLength(bytes, pos, &cp);
        if (len == 0) {
            return false;
        }
        pos += len;
    }
    return true;
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    auto unit = [&](std::size_t i) -> char16_t {
        const auto* at = reinterpret_cast<const unsigned char*>(bytes.data() + 2 * i);
        return static_cast<char16_t>(bigEndian ? loadBe16(at) : loadLe16(at));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char16_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out,
                           0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{low} - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, u);  // lone surrogates become U+FFFD there
    }
    return out;
}

std::string decodeTextFile(std::string_view bytes) {
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFF && b1 == 0xFE) {
            return utf16ToUtf8(bytes.substr(2), false);
        }
        if (b0 == 0xFE && b1 == 0xFF) {
            return utf16ToUtf8(bytes.substr(2), true);
        }
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    if (isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return cp1252ToUtf8(bytes);
}

std::string truncateUtf8(std::string_view text, std::size_t maxChars) {
    std::size_t pos = 0;
    std::size_t count = 0;
    while (pos < text.size() && count < maxChars) {
        char32_t cp = 0;
        const std::size_t len = utf8SequenceLength(text, pos, &cp);
        pos += len == 0 ? 1 : len;
        ++count;
    }
    return std::string(text.substr(0, pos));
}

std::string toLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& ch : out) {
        ch = toLowerAscii(ch);
    }
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (toLowerAscii(a[i]) != toLowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

int64_t leadingInteger(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        const int digit = text[pos] - '0';
        if (value > (kMax - digit) / 10) {
            return negative ? std::numeric_limits<int64_t>::min() : kMax;
        }
        value = value * 10 + digit;
        ++pos;
    }
    return negative ? -value : value;
}

std::optional<int64_t> parseByteSize(std::string_view text) {
    text = trim(text);
    std::size_t pos = 0;
    // The whole part and up to nine digits of a fraction, as a count of
    // billionths, so that "1.5M" is exact.
    constexpr int64_t kFractionScale = 1000000000;
    int64_t whole = 0;
    int64_t fraction = 0;
    bool digits = false;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        if (whole > (std::numeric_limits<int64_t>::max() - 9) / 10) {
            return std::nullopt;
        }
        whole = whole * 10 + (text[pos] - '0');
        digits = true;
        ++pos;
    }
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        int64_t scale = kFractionScale / 10;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            fraction += (text[pos] - '0') * scale;
            scale /= 10;
            digits = true;
            ++pos;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    const std::string unit = std::string(trim(text.substr(pos)));
    int64_t multiplier = 0;
    if (unit.empty() || unit == "b" || unit == "B") {
        multiplier = 1;
    } else {
        const std::string lower = toLowerAscii(unit);
        const char prefix = lower[0];
        const int power = prefix == 'k' ? 1 : prefix == 'm' ? 2 : prefix == 'g' ? 3 : 0;
        const std::string rest = lower.substr(1);
        if (power == 0 || (rest != "" && rest != "b" && rest != "ib")) {
            return std::nullopt;
        }
        // "KB" and "kB" are thousands, as is any spelling of MB and GB;
        // "K", "KiB" and the bare letters are powers of 1024.
        const int64_t base = rest == "b" ? 1000 : 1024;
        multiplier = 1;
        for (int i = 0; i < power; ++i) {
            multiplier *= base;
        }
    }
    if (whole > std::numeric_limits<int64_t>::max() / multiplier) {
        return std::nullopt;
    }
    // multiplier <= 2^30 and fraction < 10^9: the product fits.
    const int64_t fractionBytes = fraction / 1000 * multiplier / (kFractionScale / 1000);
    const int64_t bytes = whole * multiplier;
    if (bytes > std::numeric_limits<int64_t>::max() - fractionBytes) {
        return std::nullopt;
    }
    return bytes + fractionBytes;
}

}  // namespace harvix
