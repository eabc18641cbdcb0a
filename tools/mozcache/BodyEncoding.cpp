#include "BodyEncoding.h"

#include <brotli/encode.h>
#include <snappy.h>
#include <zlib.h>
#include <zstd.h>

#include "CacheWriter.h"

namespace harvix::mozcache {

namespace {

std::string deflateBody(const std::string& body, int windowBits) {
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw WriteError("zlib: cannot start deflate");
    }
    std::string out(deflateBound(&zs, static_cast<uLong>(body.size())) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    zs.avail_in = static_cast<uInt>(body.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    const std::size_t written = out.size() - zs.avail_out;
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) {
        throw WriteError("zlib: deflate failed");
    }
    out.resize(written);
    return out;
}

uint32_t crc32cRaw(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (const char ch : bytes) {
        crc ^= static_cast<unsigned char>(ch);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1) != 0 ? 0x82F63B78u : 0u);
        }
    }
    return crc;
}

std::string chunk(unsigned char type, const std::string& data) {
    std::string out(1, static_cast<char>(type));
    for (int i = 0; i < 3; ++i) {
        out += static_cast<char>((data.size() >> (8 * i)) & 0xFF);
    }
    return out + data;
}

// Snappy's framing format. Firefox's variant: every chunk compressed, the
// CRC-32C without its final inversion. The other: the inversion, a padding
// chunk, and a chunk stored as it is where compression does not pay.
std::string snappyFramed(const std::string& body, bool firefox) {
    std::string out = chunk(0xFF, "sNaPpY");
    if (!firefox) {
        out += chunk(0xFE, std::string(3, '\0'));
    }
    for (std::size_t at = 0; at < body.size(); at += 65536) {
        const std::string piece = body.substr(at, 65536);
        uint32_t crc = crc32cRaw(piece);
        crc = firefox ? crc : ~crc;
        crc = ((crc >> 15) | (crc << 17)) + 0xA282EAD8u;
        std::string checksum;
        for (int i = 0; i < 4; ++i) {
            checksum += static_cast<char>((crc >> (8 * i)) & 0xFF);
        }
        std::string compressed;
        snappy::Compress(piece.data(), piece.size(), &compressed);
        const bool plain = !firefox && compressed.size() >= piece.size();
        out += chunk(plain ? 0x01 : 0x00, checksum + (plain ? piece : compressed));
    }
    return out;
}

}  // namespace

std::string encodeBody(const std::string& coding, const std::string& body) {
    if (coding == "identity") {
        return body;
    }
    if (coding == "gzip") {
        return deflateBody(body, 15 + 16);
    }
    if (coding == "deflate") {
        return deflateBody(body, 15);
    }
    if (coding == "raw-deflate") {
        return deflateBody(body, -15);
    }
    if (coding == "br") {
        std::size_t size = BrotliEncoderMaxCompressedSize(body.size());
        std::string out(size == 0 ? body.size() + 1024 : size, '\0');
        if (BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW,
                                  BROTLI_MODE_GENERIC, body.size(),
                                  reinterpret_cast<const uint8_t*>(body.data()), &size,
                                  reinterpret_cast<uint8_t*>(out.data())) == BROTLI_FALSE) {
            throw WriteError("brotli: compression failed");
        }
        out.resize(size);
        return out;
    }
    if (coding == "zstd") {
        std::string out(ZSTD_compressBound(body.size()), '\0');
        const std::size_t size = ZSTD_compress(out.data(), out.size(), body.data(), body.size(), 3);
        if (ZSTD_isError(size) != 0) {
            throw WriteError("zstd: compression failed");
        }
        out.resize(size);
        return out;
    }
    if (coding == "snappy-framed" || coding == "snappy-framed-firefox") {
        return snappyFramed(body, coding == "snappy-framed-firefox");
    }
    throw WriteError("unknown content coding: " + coding);
}

std::string contentEncodingValue(const std::string& coding) {
    return coding == "raw-deflate" ? "deflate" : coding;
}

}  // namespace harvix::mozcache
