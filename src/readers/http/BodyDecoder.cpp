#include "readers/http/BodyDecoder.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <vector>

#include "readers/http/DecodeStage.h"

namespace harvix {

namespace {

using decoding::Bytes;
using decoding::kOutChunk;
using decoding::Stage;

// The header of a gzip member (RFC 1952), read as it comes in and skipped:
// ten fixed bytes, then the optional extra field, name, comment and header
// check its flags announce. Like the browsers, only the magic and the
// method are checked.
class GzipHeader {
public:
    // Takes header bytes from the front of `in`; returns how many it took.
    std::size_t take(Bytes in) {
        std::size_t used = 0;
        while (used < in.size() && step_ != Step::Done && step_ != Step::Bad) {
            const unsigned char byte = in[used++];
            switch (step_) {
                case Step::Fixed:
                    if ((count_ == 0 && byte != 0x1F) || (count_ == 1 && byte != 0x8B) ||
                        (count_ == 2 && byte != Z_DEFLATED)) {
                        step_ = Step::Bad;
                        break;
                    }
                    if (count_ == 3) {
                        flags_ = byte;
                    }
                    if (++count_ == 10) {
                        next();
                    }
                    break;
                case Step::ExtraLength:
                    extraLeft_ |= static_cast<std::size_t>(byte) << (8 * count_);
                    if (++count_ == 2) {
                        next();
                    }
                    break;
                case Step::Extra:
                    if (--extraLeft_ == 0) {
                        next();
                    }
                    break;
                case Step::Name:
                case Step::Comment:
                    if (byte == 0) {
                        next();
                    }
                    break;
                case Step::HeaderCheck:
                    if (++count_ == 2) {
                        next();
                    }
                    break;
                case Step::Done:
                case Step::Bad:
                    break;
            }
        }
        return used;
    }
    bool done() const { return step_ == Step::Done; }
    bool bad() const { return step_ == Step::Bad; }

private:
    enum class Step { Fixed, ExtraLength, Extra, Name, Comment, HeaderCheck, Done, Bad };
    static constexpr unsigned kHeaderCheck = 0x02;
    static constexpr unsigned kExtra = 0x04;
    static constexpr unsigned kName = 0x08;
    static constexpr unsigned kComment = 0x10;

    // The next part the flags announce after the current one.
    void next() {
        count_ = 0;
        switch (step_) {
            case Step::Fixed:
                if ((flags_ & kExtra) != 0) {
                    step_ = Step::ExtraLength;
                    return;
                }
                [[fallthrough]];
            case Step::ExtraLength:
                if (step_ == Step::ExtraLength && extraLeft_ != 0) {
                    step_ = Step::Extra;
                    return;
                }
                [[fallthrough]];
            case Step::Extra:
                if ((flags_ & kName) != 0) {
                    step_ = Step::Name;
                    return;
                }
                [[fallthrough]];
            case Step::Name:
                if ((flags_ & kComment) != 0) {
                    step_ = Step::Comment;
                    return;
                }
                [[fallthrough]];
            case Step::Comment:
                if ((flags_ & kHeaderCheck) != 0) {
                    step_ = Step::HeaderCheck;
                    return;
                }
                [[fallthrough]];
            default:
                step_ = Step::Done;
        }
    }

    Step step_ = Step::Fixed;
    unsigned count_ = 0;
    unsigned flags_ = 0;
    std::size_t extraLeft_ = 0;
};

// gzip and deflate: the wrapper is read here and the deflate data inflated
// raw, so that neither the gzip footer nor the zlib checksum is needed. Under
// "deflate" a zlib stream is expected, but many servers send raw deflate
// data: the first two bytes tell which.
class InflateStage : public Stage {
public:
    explicit InflateStage(ContentCoding coding) : gzip_(coding == ContentCoding::Gzip) {}
    ~InflateStage() override {
        if (ready_) {
            inflateEnd(&zs_);
        }
    }
    InflateStage(const InflateStage&) = delete;
    InflateStage& operator=(const InflateStage&) = delete;

    bool feed(Bytes in, const BodyDecoder::Sink& out) override {
        if (ended_) {
            return true;
        }
        if (!ready_) {
            if (!readWrapper(in)) {
                return false;
            }
            if (!ready_) {
                return true;  // the wrapper goes on in the next bytes
            }
            if (rawDeflate_ && !inflateSome({zlibHead_.data(), zlibHead_.size()}, out)) {
                return false;  // the two bytes held were the start of raw deflate data
            }
        }
        return inflateSome(in, out);
    }

private:
    // Takes the wrapper from the front of `in`; ready_ once the deflate data
    // starts, false for a wrapper that is none.
    bool readWrapper(Bytes& in) {
        if (gzip_) {
            in = in.subspan(header_.take(in));
            if (header_.bad()) {
                return false;
            }
            if (!header_.done()) {
                return true;
            }
        } else {
            while (held_ < zlibHead_.size() && !in.empty()) {
                zlibHead_[held_++] = in.front();
                in = in.subspan(1);
            }
            if (held_ < zlibHead_.size()) {
                return true;
            }
            rawDeflate_ = !isZlibHeader(zlibHead_[0], zlibHead_[1]);
            if (!rawDeflate_ && (zlibHead_[1] & kPresetDictionary) != 0) {
                return false;  // a dictionary no browser has
            }
        }
        if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK) {
            return false;
        }
        ready_ = true;
        return true;
    }

    // CMF and FLG of a zlib stream (RFC 1950): method 8, a window of at most
    // 32 KiB, the two bytes as a big-endian number divisible by 31.
    static bool isZlibHeader(unsigned char cmf, unsigned char flg) {
        return (cmf & 0x0F) == Z_DEFLATED && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
    }

    bool inflateSome(Bytes in, const BodyDecoder::Sink& out) {
        while (!in.empty() && !ended_) {
            // avail_in is 32 bits wide: at most 1 GiB per round.
            const std::size_t piece = std::min<std::size_t>(in.size(), std::size_t{1} << 30);
            zs_.next_in = const_cast<unsigned char*>(in.data());
            zs_.avail_in = static_cast<uInt>(piece);
            do {
                zs_.next_out = buffer_.data();
                zs_.avail_out = static_cast<uInt>(buffer_.size());
                const int rc = inflate(&zs_, Z_NO_FLUSH);
                if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                    return false;
                }
                const std::size_t made = buffer_.size() - zs_.avail_out;
                if (made != 0 && !out({buffer_.data(), made})) {
                    return false;
                }
                if (rc == Z_STREAM_END) {
                    ended_ = true;  // what follows (a footer, more) is not read
                } else if (rc == Z_BUF_ERROR && made == 0) {
                    break;  // needs more input
                }
            } while (!ended_ && (zs_.avail_in != 0 || zs_.avail_out == 0));
            if (!ended_ && zs_.avail_in != 0) {
                return false;  // zlib made no progress on the bytes it had
            }
            in = in.subspan(piece);
        }
        return true;
    }

    static constexpr unsigned kPresetDictionary = 0x20;  // FDICT in FLG

    bool gzip_;
    bool ready_ = false;
    bool rawDeflate_ = false;
    GzipHeader header_;
    std::array<unsigned char, 2> zlibHead_{};
    std::size_t held_ = 0;
    z_stream zs_{};
};

class BrotliStage : public Stage {
public:
    BrotliStage() : brotli_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
    ~BrotliStage() override {
        if (brotli_ != nullptr) {
            BrotliDecoderDestroyInstance(brotli_);
        }
    }
    BrotliStage(const BrotliStage&) = delete;
    BrotliStage& operator=(const BrotliStage&) = delete;

    bool feed(Bytes in, const BodyDecoder::Sink& out) override {
        if (brotli_ == nullptr) {
            return false;
        }
        std::size_t availIn = in.size();
        const uint8_t* nextIn = in.data();
        while (!ended_) {
            std::size_t availOut = buffer_.size();
            uint8_t* nextOut = buffer_.data();
            const BrotliDecoderResult rc = BrotliDecoderDecompressStream(
                brotli_, &availIn, &nextIn, &availOut, &nextOut, nullptr);
            if (rc == BROTLI_DECODER_RESULT_ERROR) {
                return false;
            }
            const std::size_t made = buffer_.size() - availOut;
            if (made != 0 && !out({buffer_.data(), made})) {
                return false;
            }
            if (rc == BROTLI_DECODER_RESULT_SUCCESS) {
                ended_ = true;
            } else if (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) {
                break;
            }
            // NEEDS_MORE_OUTPUT: round again with an empty buffer.
        }
        return true;
    }

private:
    BrotliDecoderState* brotli_;
};

class ZstdStage : public Stage {
public:
    ZstdStage() : zstd_(ZSTD_createDStream()) {
        // Refuse frames that ask for a window over 128 MiB of memory.
        if (zstd_ != nullptr &&
            ZSTD_isError(ZSTD_DCtx_setParameter(zstd_, ZSTD_d_windowLogMax, 27)) != 0) {
            ZSTD_freeDStream(zstd_);
            zstd_ = nullptr;
        }
    }
    ~ZstdStage() override {
        if (zstd_ != nullptr) {
            ZSTD_freeDStream(zstd_);
        }
    }
    ZstdStage(const ZstdStage&) = delete;
    ZstdStage& operator=(const ZstdStage&) = delete;

    bool feed(Bytes in, const BodyDecoder::Sink& out) override {
        if (zstd_ == nullptr) {
            return false;
        }
        ZSTD_inBuffer input{in.data(), in.size(), 0};
        while (!ended_) {
            ZSTD_outBuffer output{buffer_.data(), buffer_.size(), 0};
            const std::size_t rc = ZSTD_decompressStream(zstd_, &output, &input);
            if (ZSTD_isError(rc) != 0) {
                return false;
            }
            if (output.pos != 0 && !out({buffer_.data(), output.pos})) {
                return false;
            }
            // 0: the frame is complete and flushed; what follows is ignored.
            ended_ = rc == 0;
            if (input.pos == input.size && output.pos < output.size) {
                break;
            }
        }
        return true;
    }

private:
    ZSTD_DStream* zstd_;
};

std::unique_ptr<Stage> makeStage(ContentCoding coding) {
    switch (coding) {
        case ContentCoding::Gzip:
        case ContentCoding::Deflate:
            return std::make_unique<InflateStage>(coding);
        case ContentCoding::Brotli:
            return std::make_unique<BrotliStage>();
        case ContentCoding::Zstd:
            return std::make_unique<ZstdStage>();
        case ContentCoding::SnappyFramed:
            return decoding::makeSnappyFramedStage();
    }
    return nullptr;
}

const char* codingName(ContentCoding coding) {
    switch (coding) {
        case ContentCoding::Gzip:
            return "gzip";
        case ContentCoding::Deflate:
            return "deflate";
        case ContentCoding::Brotli:
            return "br";
        case ContentCoding::Zstd:
            return "zstd";
        case ContentCoding::SnappyFramed:
            return "x-snappy-framed";
    }
    return "?";
}

}  // namespace

std::string contentEncodingName(const ContentEncoding& encoding) {
    if (!encoding.isSupported()) {
        return "unsupported";
    }
    if (encoding.isIdentity()) {
        return "identity";
    }
    std::string name;
    for (const ContentCoding coding : encoding.codings()) {
        name += name.empty() ? "" : ", ";
        name += codingName(coding);
    }
    return name;
}

struct BodyDecoder::State {
    // stages[0] undoes the coding applied last; each hands its output to the next.
    std::vector<std::unique_ptr<Stage>> stages;
    std::vector<uint64_t> made;  // bytes each stage has handed on
};

BodyDecoder::BodyDecoder(const ContentEncoding& encoding, uint64_t outputLimit)
    : limit_(outputLimit), state_(std::make_unique<State>()) {
    if (!encoding.isSupported()) {
        failed_ = true;
        return;
    }
    const std::span<const ContentCoding> codings = encoding.codings();
    for (auto it = codings.rbegin(); it != codings.rend(); ++it) {
        state_->stages.push_back(makeStage(*it));
    }
    state_->made.assign(state_->stages.size(), 0);
}

BodyDecoder::~BodyDecoder() = default;

// Hands `bytes` to stage `stage`, or past the last stage to the sink, each
// output counted against the limit.
bool BodyDecoder::forward(std::size_t stage, std::span<const unsigned char> bytes,
                          const Sink& sink) {
    State& st = *state_;
    if (stage == st.stages.size()) {
        produced_ += bytes.size();
        return sink(bytes);
    }
    return st.stages[stage]->feed(bytes, [&, stage](std::span<const unsigned char> out) {
        if (out.size() > limit_ - st.made[stage]) {
            limitReached_ = true;
            return false;
        }
        st.made[stage] += out.size();
        return forward(stage + 1, out, sink);
    });
}

bool BodyDecoder::feed(std::span<const unsigned char> in, const Sink& sink) {
    if (failed_) {
        return false;
    }
    if (state_->stages.empty() && in.size() > limit_ - produced_) {
        limitReached_ = true;  // the stored bytes themselves pass the limit
    } else if (in.empty() || forward(0, in, sink)) {
        return true;
    }
    failed_ = true;
    return false;
}

bool BodyDecoder::finish() {
    if (!failed_) {
        for (const auto& stage : state_->stages) {
            failed_ = failed_ || !stage->ended();
        }
    }
    return !failed_;
}

}  // namespace harvix
