#include "readers/chromium/ResponseInfo.h"

#include <cstring>

namespace harvix::chromium {

namespace {

// Reads pickle fields in order; every field starts on a 4-byte boundary.
class PickleReader {
public:
    explicit PickleReader(std::span<const unsigned char> payload) : data_(payload) {}

    bool u32(uint32_t& out) {
        if (!fits(4))
            return false;
        const unsigned char* p = data_.data() + pos_;
        out = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
        pos_ += 4;
        return true;
    }
    bool i64(int64_t& out) {
        uint32_t low = 0, high = 0;
        if (!fits(8) || !u32(low) || !u32(high))
            return false;
        out = static_cast<int64_t>(uint64_t{high} << 32 | low);
        return true;
    }
    bool string(std::string& out) {
        uint32_t length = 0;
        if (!u32(length))
            return false;
        if (length > 0x7fffffffu || length > data_.size() - pos_)
            return false;
        out.assign(reinterpret_cast<const char*>(data_.data() + pos_), length);
        const std::size_t padded = (std::size_t{length} + 3) & ~std::size_t{3};
        pos_ = padded <= data_.size() - pos_ ? pos_ + padded : data_.size();
        return true;
    }

private:
    bool fits(std::size_t n) const { return n <= data_.size() - pos_; }
    std::span<const unsigned char> data_;
    std::size_t pos_ = 0;
};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

}  // namespace

std::optional<ResponseInfo> parseResponseInfo(std::span<const unsigned char> stream0) {
    if (stream0.size() < 4)
        return std::nullopt;
    const uint32_t payloadSize = uint32_t{stream0[0]} | uint32_t{stream0[1]} << 8 |
                                 uint32_t{stream0[2]} << 16 | uint32_t{stream0[3]} << 24;
    if (payloadSize > stream0.size() - 4)
        return std::nullopt;
    PickleReader in(stream0.subspan(4, payloadSize));

    ResponseInfo info;
    if (!in.u32(info.flags))
        return std::nullopt;
    if ((info.flags & kResponseInfoHasExtraFlags) != 0 && !in.u32(info.extraFlags)) {
        return std::nullopt;
    }
    const uint32_t version = info.flags & kResponseInfoVersionMask;
    if (version < kResponseInfoMinVersion || version > kResponseInfoMaxVersion)
        return std::nullopt;
    if (!in.i64(info.requestTime) || !in.i64(info.responseTime))
        return std::nullopt;
    if ((info.extraFlags & kExtraHasOriginalResponseTime) != 0) {
        int64_t original = 0;
        if (!in.i64(original))
            return std::nullopt;
    }
    if (!in.string(info.rawHeaders))
        return std::nullopt;
    return info;
}

int64_t unixTimeFromChromium(int64_t microsecondsSince1601) {
    if (microsecondsSince1601 <= kEpochDeltaMicroseconds)
        return 0;
    return (microsecondsSince1601 - kEpochDeltaMicroseconds) / 1000000;
}

std::string urlFromKey(std::string_view key) {
    const std::size_t blank = key.find_last_of(' ');
    std::string_view url = blank == std::string_view::npos ? key : key.substr(blank + 1);
    if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://"))
        return {};
    return std::string(url);
}

}  // namespace harvix::chromium
