#include "readers/http/BodyDecoder.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

namespace harvix {

namespace {

constexpr std::size_t kOutChunk = 64 * 1024;

// A zlib stream starts with CMF and FLG: method 8 in CMF's low nibble and the
// two bytes as a big-endian number divisible by 31. Anything else under
// "deflate" is a raw deflate stream, which many servers send instead.
bool looksLikeZlibHeader(unsigned char cmf, unsigned char flg) {
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

}  // namespace

const char* contentEncodingName(ContentEncoding encoding) {
    switch (encoding) {
        case ContentEncoding::Identity:
            return "identity";
        case ContentEncoding::Gzip:
            return "gzip";
        case ContentEncoding::Deflate:
            return "deflate";
        case ContentEncoding::Brotli:
            return "br";
        case ContentEncoding::Zstd:
            return "zstd";
        case ContentEncoding::Unsupported:
            break;
    }
    return "unsupported";
}

struct BodyDecoder::State {
    std::array<unsigned char, kOutChunk> out{};
    bool ended = false;  // the coded stream is complete

    // zlib (gzip, deflate)
    z_stream zs{};
    bool zlibReady = false;
    std::vector<unsigned char> pending;  // deflate: bytes held until the header is known

    // Brotli
    BrotliDecoderState* brotli = nullptr;

    // Zstandard
    ZSTD_DStream* zstd = nullptr;
    bool zstdInFrame = false;

    ~State() {
        if (zlibReady) {
            inflateEnd(&zs);
        }
        if (brotli != nullptr) {
            BrotliDecoderDestroyInstance(brotli);
        }
        if (zstd != nullptr) {
            ZSTD_freeDStream(zstd);
        }
    }
};

BodyDecoder::BodyDecoder(ContentEncoding encoding, uint64_t outputLimit)
    : encoding_(encoding), limit_(outputLimit), state_(std::make_unique<State>()) {
    switch (encoding_) {
        case ContentEncoding::Identity:
        case ContentEncoding::Deflate:  // set up once the first two bytes are known
            break;
        case ContentEncoding::Gzip:
            // 15 + 16: gzip wrapper only.
            if (inflateInit2(&state_->zs, 15 + 16) == Z_OK) {
                state_->zlibReady = true;
            } else {
                failed_ = true;
            }
            break;
        case ContentEncoding::Brotli:
            state_->brotli = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
            failed_ = state_->brotli == nullptr;
            break;
        case ContentEncoding::Zstd:
            state_->zstd = ZSTD_createDStream();
            failed_ = state_->zstd == nullptr;
            if (!failed_) {
                // Refuse frames that ask for a window over 128 MiB of memory.
                failed_ = ZSTD_isError(
                              ZSTD_DCtx_setParameter(state_->zstd, ZSTD_d_windowLogMax, 27)) != 0;
            }
            break;
        case ContentEncoding::Unsupported:
            failed_ = true;
            break;
    }
}

BodyDecoder::~BodyDecoder() = default;

bool BodyDecoder::deliver(std::span<const unsigned char> out, const Sink& sink) {
    if (out.empty()) {
        return true;
    }
    if (out.size() > limit_ - produced_) {
        failed_ = true;
        limitReached_ = true;
        return false;
    }
    produced_ += out.size();
    if (!sink(out)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool BodyDecoder::feed(std::span<const unsigned char> in, const Sink& sink) {
    if (failed_) {
        return false;
    }
    State& st = *state_;
    switch (encoding_) {
        case ContentEncoding::Identity:
            return deliver(in, sink);

        case ContentEncoding::Deflate:
            if (!st.zlibReady) {
                st.pending.insert(st.pending.end(), in.begin(), in.end());
                if (st.pending.size() < 2) {
                    return true;
                }
                const int bits = looksLikeZlibHeader(st.pending[0], st.pending[1]) ? 15 : -15;
                if (inflateInit2(&st.zs, bits) != Z_OK) {
                    failed_ = true;
                    return false;
                }
                st.zlibReady = true;
                std::vector<unsigned char> held;
                held.swap(st.pending);
                return feed(held, sink);
            }
            [[fallthrough]];
        case ContentEncoding::Gzip: {
            std::size_t done = 0;
            while (done < in.size()) {
                if (st.ended) {
                    // A gzip body may hold several members one after the
                    // other; anything else after the end is damage.
                    if (encoding_ != ContentEncoding::Gzip || in[done] != 0x1F ||
                        inflateReset(&st.zs) != Z_OK) {
                        failed_ = true;
                        return false;
                    }
                    st.ended = false;
                }
                // avail_in is 32 bits wide: feed at most 1 GiB per round.
                const std::size_t piece = std::min<std::size_t>(in.size() - done, 1u << 30);
                st.zs.next_in = const_cast<unsigned char*>(in.data() + done);
                st.zs.avail_in = static_cast<uInt>(piece);
                while (true) {
                    st.zs.next_out = st.out.data();
                    st.zs.avail_out = static_cast<uInt>(st.out.size());
                    const int rc = inflate(&st.zs, Z_NO_FLUSH);
                    const std::size_t made = st.out.size() - st.zs.avail_out;
                    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                        failed_ = true;
                        return false;
                    }
                    if (!deliver({st.out.data(), made}, sink)) {
                        return false;
                    }
                    if (rc == Z_STREAM_END) {
                        st.ended = true;
                        break;
                    }
                    if (st.zs.avail_in == 0 && made < st.out.size()) {
                        break;
                    }
                    if (rc == Z_BUF_ERROR && made == 0) {
                        break;  // needs more input
                    }
                }
                done += piece - st.zs.avail_in;
                if (!st.ended && st.zs.avail_in != 0) {
                    failed_ = true;  // zlib made no progress on the bytes it had
                    return false;
                }
            }
            return true;
        }

        case ContentEncoding::Brotli: {
            std::size_t availIn = in.size();
            const uint8_t* nextIn = in.data();
            while (true) {
                if (st.ended) {
                    if (availIn != 0) {
                        failed_ = true;
                        return false;
                    }
                    return true;
                }
                std::size_t availOut = st.out.size();
                uint8_t* nextOut = st.out.data();
                const BrotliDecoderResult rc = BrotliDecoderDecompressStream(
                    st.brotli, &availIn, &nextIn, &availOut, &nextOut, nullptr);
                if (!deliver({st.out.data(), st.out.size() - availOut}, sink)) {
                    return false;
                }
                if (rc == BROTLI_DECODER_RESULT_ERROR) {
                    failed_ = true;
                    return false;
                }
                if (rc == BROTLI_DECODER_RESULT_SUCCESS) {
                    st.ended = true;
                    continue;
                }
                if (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) {
                    return true;
                }
                // NEEDS_MORE_OUTPUT: go round with an empty buffer.
            }
        }

        case ContentEncoding::Zstd: {
            ZSTD_inBuffer input{in.data(), in.size(), 0};
            while (input.pos < input.size || st.zstdInFrame) {
                ZSTD_outBuffer output{st.out.data(), st.out.size(), 0};
                const std::size_t rc = ZSTD_decompressStream(st.zstd, &output, &input);
                if (ZSTD_isError(rc) != 0) {
                    failed_ = true;
                    return false;
                }
                if (!deliver({st.out.data(), output.pos}, sink)) {
                    return false;
                }
                // 0: a frame is complete; another may follow.
                st.zstdInFrame = rc != 0;
                st.ended = rc == 0;
                if (input.pos == input.size && output.pos < output.size) {
                    break;
                }
            }
            return true;
        }

        case ContentEncoding::Unsupported:
            break;
    }
    failed_ = true;
    return false;
}

bool BodyDecoder::finish() {
    if (failed_) {
        return false;
    }
    State& st = *state_;
    switch (encoding_) {
        case ContentEncoding::Identity:
            return true;
        case ContentEncoding::Deflate:
            if (!st.zlibReady) {
                // Fewer than two bytes: an empty body is no deflate stream.
                failed_ = true;
                return false;
            }
            break;
        default:
            break;
    }
    if (!st.ended) {
        failed_ = true;
        return false;
    }
    return true;
}

}  // namespace harvix
