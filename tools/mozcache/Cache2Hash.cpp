// Firefox's CacheHash (Bob Jenkins' lookup2 hash), written here from its
// description rather than shared with the reader, so that a mistake in one
// shows against the other and against entries Firefox wrote.
#include <cstdint>
#include <string>

#include "Cache2Writer.h"

namespace harvix::mozcache {

namespace {

void hashMix(uint32_t& a, uint32_t& b, uint32_t& c) {
    a -= b;
    a -= c;
    a ^= (c >> 13);
    b -= c;
    b -= a;
    b ^= (a << 8);
    c -= a;
    c -= b;
    c ^= (b >> 13);
    a -= b;
    a -= c;
    a ^= (c >> 12);
    b -= c;
    b -= a;
    b ^= (a << 16);
    c -= a;
    c -= b;
    c ^= (b >> 5);
    a -= b;
    a -= c;
    a ^= (c >> 3);
    b -= c;
    b -= a;
    b ^= (a << 10);
    c -= a;
    c -= b;
    c ^= (b >> 15);
}

}  // namespace

uint32_t cache2Hash(const std::string& bytes) {
    uint32_t a = 0x9e3779b9u;
    uint32_t b = 0x9e3779b9u;
    uint32_t c = 0;
    const auto* k = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    const auto le32 = [](const unsigned char* p) {
        return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
               (uint32_t{p[3]} << 24);
    };
    while (left >= 12) {
        a += le32(k);
        b += le32(k + 4);
        c += le32(k + 8);
        hashMix(a, b, c);
        k += 12;
        left -= 12;
    }
    c += static_cast<uint32_t>(bytes.size());
    switch (left) {
        case 11:
            c += uint32_t{k[10]} << 24;
            [[fallthrough]];
        case 10:
            c += uint32_t{k[9]} << 16;
            [[fallthrough]];
        case 9:
            c += uint32_t{k[8]} << 8;
            [[fallthrough]];
        case 8:
            b += uint32_t{k[7]} << 24;
            [[fallthrough]];
        case 7:
            b += uint32_t{k[6]} << 16;
            [[fallthrough]];
        case 6:
            b += uint32_t{k[5]} << 8;
            [[fallthrough]];
        case 5:
            b += k[4];
            [[fallthrough]];
        case 4:
            a += uint32_t{k[3]} << 24;
            [[fallthrough]];
        case 3:
            a += uint32_t{k[2]} << 16;
            [[fallthrough]];
        case 2:
            a += uint32_t{k[1]} << 8;
            [[fallthrough]];
        case 1:
            a += k[0];
            break;
        default:
            break;
    }
    hashMix(a, b, c);
    return c;
}

}  // namespace harvix::mozcache
