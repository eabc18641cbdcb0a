#include "filter/SvgSize.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string>
#include <utility>

namespace harvix {

namespace {

bool isSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

bool isNameEnd(char ch) {
    return isSpace(ch) || ch == '=' || ch == '/' || ch == '>';
}

// A number as SVG writes one: sign, digits, fraction, exponent. Moves `at`
// past it; nothing when there is none.
std::optional<double> readNumber(std::string_view text, std::size_t& at) {
    const char* begin = text.data() + at;
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+') {
        ++begin;  // from_chars takes no plus sign
    }
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::general);
    if (error != std::errc() || !std::isfinite(value)) {
        return std::nullopt;
    }
    at = static_cast<std::size_t>(stop - text.data());
    return value;
}

// A length in pixels: a number, unitless or in px, with blanks around it.
// Nothing for any other unit (%, em, mm, ...), which says nothing in pixels.
std::optional<double> pixelLength(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && isSpace(text[at])) {
        ++at;
    }
    const std::optional<double> value = readNumber(text, at);
    if (!value) {
        return std::nullopt;
    }
    if (text.compare(at, 2, "px") == 0) {
        at += 2;
    }
    while (at < text.size() && isSpace(text[at])) {
        ++at;
    }
    return at == text.size() ? value : std::nullopt;
}

// The width and height of a viewBox "min-x min-y width height" (blanks or
// commas between); nothing unless both are positive.
std::optional<std::pair<double, double>> viewBoxSize(std::string_view text) {
    double numbers[4];
    std::size_t at = 0;
    for (double& number : numbers) {
        while (at < text.size() && (isSpace(text[at]) || text[at] == ',')) {
            ++at;
        }
        const std::optional<double> value = readNumber(text, at);
        if (!value) {
            return std::nullopt;
        }
        number = *value;
    }
    if (numbers[2] <= 0 || numbers[3] <= 0) {
        return std::nullopt;
    }
    return std::make_pair(numbers[2], numbers[3]);
}

// Skips what may stand before the root element: a byte-order mark, blanks,
// the XML declaration and other processing instructions, comments and the
// document type (with its internal subset). False when the text ends first.
bool skipProlog(std::string_view text, std::size_t& at) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        at = 3;
    }
    for (;;) {
        while (at < text.size() && isSpace(text[at])) {
            ++at;
        }
        std::size_t end = std::string_view::npos;
        if (text.compare(at, 2, "<?") == 0) {
            end = text.find("?>", at + 2);
            end = end == std::string_view::npos ? end : end + 2;
        } else if (text.compare(at, 4, "<!--") == 0) {
            end = text.find("-->", at + 4);
            end = end == std::string_view::npos ? end : end + 3;
        } else if (text.compare(at, 9, "<!DOCTYPE") == 0) {
            const std::size_t subset = text.find_first_of("[>", at);
            if (subset != std::string_view::npos && text[subset] == '[') {
                end = text.find("]", subset);
                end = end == std::string_view::npos ? end : text.find('>', end);
            } else {
                end = subset;
            }
            end = end == std::string_view::npos ? end : end + 1;
        } else {
            return at < text.size();
        }
        if (end == std::string_view::npos) {
            return false;
        }
        at = end;
    }
}

}  // namespace

std::optional<PictureSize> svgSize(std::string_view text) {
    std::size_t at = 0;
    if (!skipProlog(text, at) || text[at] != '<') {
        return std::nullopt;
    }
    std::size_t nameEnd = at + 1;
    while (nameEnd < text.size() && !isNameEnd(text[nameEnd])) {
        ++nameEnd;
    }
    std::string_view name = text.substr(at + 1, nameEnd - at - 1);
    if (const std::size_t colon = name.find(':'); colon != std::string_view::npos) {
        name.remove_prefix(colon + 1);
    }
    if (name != "svg" || nameEnd == text.size()) {
        return std::nullopt;
    }
    std::optional<std::string_view> width;
    std::optional<std::string_view> height;
    std::optional<std::string_view> viewBox;
    at = nameEnd;
    for (;;) {
        while (at < text.size() && isSpace(text[at])) {
            ++at;
        }
        if (at == text.size()) {
            return PictureSize{};  // the start tag does not end within the start read
        }
        if (text[at] == '>' || text[at] == '/') {
            break;
        }
        const std::size_t attributeStart = at;
        while (at < text.size() && !isNameEnd(text[at])) {
            ++at;
        }
        const std::string_view attribute = text.substr(attributeStart, at - attributeStart);
        while (at < text.size() && isSpace(text[at])) {
            ++at;
        }
        if (at + 1 >= text.size() || text[at] != '=') {
            return PictureSize{};
        }
        ++at;
        while (at < text.size() && isSpace(text[at])) {
            ++at;
        }
        if (at == text.size() || (text[at] != '"' && text[at] != '\'')) {
            return PictureSize{};
        }
        const std::size_t close = text.find(text[at], at + 1);
        if (close == std::string_view::npos) {
            return PictureSize{};
        }
        const std::string_view value = text.substr(at + 1, close - at - 1);
        at = close + 1;
        if (attribute == "width" && !width) {
            width = value;
        } else if (attribute == "height" && !height) {
            height = value;
        } else if (attribute == "viewBox" && !viewBox) {
            viewBox = value;
        }
    }
    // NaN stands for a length that says nothing in pixels.
    constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
    double w = width ? pixelLength(*width).value_or(kUnknown) : kUnknown;
    double h = height ? pixelLength(*height).value_or(kUnknown) : kUnknown;
    if (w <= 0 || h <= 0) {
        return PictureSize{};  // drawn as nothing
    }
    if (std::isnan(w) || std::isnan(h)) {
        if (const auto box = viewBox ? viewBoxSize(*viewBox) : std::nullopt) {
            if (!std::isnan(w)) {
                h = w * box->second / box->first;
            } else if (!std::isnan(h)) {
                w = h * box->first / box->second;
            } else {
                w = box->first;
                h = box->second;
            }
        }
    }
    if (std::isnan(w) || std::isnan(h)) {
        PictureSize unsized;
        unsized.kind = PictureSize::Kind::Unsized;
        return unsized;
    }
    // Less than a pixel still shows as one.
    const auto pixels = [](double value) {
        return value >= 2147483647.0 ? int64_t{INT32_MAX}
                                     : std::max<int64_t>(1, std::llround(value));
    };
    return PictureSize::ofSize(pixels(w), pixels(h));
}

}  // namespace harvix
