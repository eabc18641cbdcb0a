#include "readers/chromium/ResponseInfo.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "base/Text.h"

namespace harvix::chromium {

namespace {

// Pickle fields in order; every field starts on a 4-byte boundary of the payload.
bool readInt64(ByteCursor& in, int64_t& out) {
    uint64_t value = 0;
    if (!in.le64(value)) {
        return false;
    }
    out = static_cast<int64_t>(value);
    return true;
}

bool readString(ByteCursor& in, std::string_view& out) {
    uint32_t length = 0;
    std::span<const unsigned char> bytes;
    if (!in.le32(length) || length > 0x7fffffffu || !in.bytes(length, bytes)) {
        return false;
    }
    out = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // The padding to the next boundary may be cut at the payload's end.
    const std::size_t padding = (4 - length % 4) % 4;
    in.skip(std::min(padding, in.remaining()));
    return true;
}

// Drops one "<digits>/" from the front of `key`; false when it does not start so.
bool dropNumberPrefix(std::string_view& key) {
    std::size_t digits = 0;
    while (digits < key.size() && key[digits] >= '0' && key[digits] <= '9') {
        ++digits;
    }
    if (digits == 0 || digits >= key.size() || key[digits] != '/') {
        return false;
    }
    key.remove_prefix(digits + 1);
    return true;
}

}  // namespace

std::optional<ResponseInfo> parseResponseInfo(std::span<const unsigned char> stream0) {
    ByteCursor header(stream0);
    uint32_t payloadSize = 0;
    std::span<const unsigned char> payload;
    if (!header.le32(payloadSize) || !header.bytes(payloadSize, payload)) {
        return std::nullopt;
    }
    ByteCursor in(payload);
    ResponseInfo info;
    if (!in.le32(info.flags)) {
        return std::nullopt;
    }
    if ((info.flags & kResponseInfoHasExtraFlags) != 0 && !in.le32(info.extraFlags)) {
        return std::nullopt;
    }
    const uint32_t version = info.flags & kResponseInfoVersionMask;
    if (version < kResponseInfoMinVersion || version > kResponseInfoMaxVersion) {
        return std::nullopt;
    }
    if (!readInt64(in, info.requestTime) || !readInt64(in, info.responseTime)) {
        return std::nullopt;
    }
    if ((info.extraFlags & kExtraHasOriginalResponseTime) != 0) {
        int64_t original = 0;
        if (!readInt64(in, original)) {
            return std::nullopt;
        }
    }
    if (!readString(in, info.rawHeaders)) {
        return std::nullopt;
    }
    return info;
}

int64_t unixTimeFromChromium(int64_t microsecondsSince1601) {
    if (microsecondsSince1601 <= kEpochDeltaMicroseconds) {
        return 0;
    }
    return (microsecondsSince1601 - kEpochDeltaMicroseconds) / 1000000;
}

std::string urlFromKey(std::string_view key) {
    // "<credential flag>/<upload id>/" (or an older "<upload id>/"), then the
    // isolation part when the split cache is on, ending at the last blank.
    if (dropNumberPrefix(key)) {
        dropNumberPrefix(key);
    }
    const std::size_t blank = key.find_last_of(' ');
    const std::string_view url = blank == std::string_view::npos ? key : key.substr(blank + 1);
    if (!startsWithNoCase(url, "http://") && !startsWithNoCase(url, "https://")) {
        return {};
    }
    return std::string(url);
}

}  // namespace harvix::chromium
