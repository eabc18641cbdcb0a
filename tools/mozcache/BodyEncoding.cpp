#include "BodyEncoding.h"

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

#include "CacheWriter.h"

namespace harvix::mozcache {

namespace {

std::string Deflate(const std::string& body, int windowBits) {
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

}  // namespace

std::string EncodeBody(const std::string& coding, const std::string& body) {
    if (coding == "identity") {
        return body;
    }
    if (coding == "gzip") {
        return Deflate(body, 15 + 16);
    }
    if (coding == "deflate") {
        return Deflate(body, 15);
    }
    if (coding == "raw-deflate") {
        return Deflate(body, -15);
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
    throw WriteError("unknown content coding: " + coding);
}

std::string ContentEncodingValue(const std::string& coding) {
    return coding == "raw-deflate" ? "deflate" : coding;
}

}  // namespace harvix::mozcache
