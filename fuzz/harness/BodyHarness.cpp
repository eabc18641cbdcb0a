// The body decoder under fuzzing: the stored bytes of a body under a chain of
// codings, fed whole and in pieces, and the same bytes encoded with that
// chain as a server would and decoded back.
#include <string>
#include <vector>

#include "BodyEncoding.h"
#include "FuzzHarness.h"
#include "HarnessSupport.h"
#include "SeedCorpus.h"
#include "readers/http/BodyDecoder.h"

namespace harvix::fuzzing {

namespace {

// Bodies decode at most this much here, so that a bomb stays quick.
constexpr uint64_t kLimit = uint64_t{1} << 20;

const char* encoderName(ContentCoding coding) {
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
            return "snappy-framed";
    }
    return "identity";
}

struct Decoded {
    bool finished = false;
    std::string out;
};

Decoded decode(const ContentEncoding& encoding, std::string_view stored, std::size_t piece) {
    BodyDecoder decoder(encoding, kLimit);
    Decoded result;
    const BodyDecoder::Sink sink = [&](std::span<const unsigned char> bytes) {
        result.out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return true;
    };
    bool fed = true;
    for (std::size_t at = 0; at < stored.size() && fed; at += piece) {
        const std::string_view part = stored.substr(at, piece);
        fed =
            decoder.feed({reinterpret_cast<const unsigned char*>(part.data()), part.size()}, sink);
    }
    result.finished = fed && decoder.finish();
    check(decoder.produced() == result.out.size(), "produced() differs from what the sink got");
    check(result.out.size() <= kLimit, "decoded past the limit");
    check(!result.finished || !decoder.limitReached(), "finished after the limit was reached");
    return result;
}

// The input: one byte whose low three bits count the codings (six or more
// make the encoding unsupported) and whose high five bits choose the piece
// size, one byte per coding, then the stored bytes.
struct Input {
    ContentEncoding encoding;
    std::vector<ContentCoding> codings;
    std::size_t piece = 1;
    std::string_view stored;
};

std::string packBody(const std::vector<ContentCoding>& codings, uint8_t pieceChoice,
                     std::string_view stored) {
    std::string packed(1,
                       static_cast<char>((codings.size() & 7u) | (std::size_t{pieceChoice} << 3)));
    for (const ContentCoding coding : codings) {
        packed += static_cast<char>(coding);
    }
    packed += stored;
    return packed;
}

}  // namespace

void runBodyDecoder(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    Input input;
    const std::size_t count = data[0] & 7u;
    if (size < 1 + count) {
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto coding = static_cast<ContentCoding>(data[1 + i] % 5);
        input.codings.push_back(coding);
        input.encoding.add(coding);
    }
    input.piece = 1 + static_cast<std::size_t>(data[0] >> 3) * 97;
    input.stored =
        std::string_view(reinterpret_cast<const char*>(data) + 1 + count, size - 1 - count);

    // Where the pieces fall never changes the outcome.
    const Decoded whole =
        decode(input.encoding, input.stored, std::max<std::size_t>(input.stored.size(), 1));
    const Decoded pieces = decode(input.encoding, input.stored, input.piece);
    check(whole.finished == pieces.finished, "the outcome depends on the pieces");
    check(!whole.finished || whole.out == pieces.out, "the output depends on the pieces");
    check(input.encoding.isSupported() || !whole.finished, "an unsupported encoding decoded");
    if (input.encoding.isIdentity()) {
        check(whole.finished && whole.out == input.stored, "identity changed the bytes");
    }

    // The stored bytes taken as a resource: encoded with the chain as a
    // server would, with a byte after the end, they decode back.
    if (count >= 1 && count <= 3 && input.stored.size() <= 4096) {
        std::string encoded(input.stored);
        for (const ContentCoding coding : input.codings) {
            encoded = mozcache::encodeBody(encoderName(coding), encoded);
        }
        const Decoded back = decode(input.encoding, encoded + "\n", input.piece);
        check(back.finished && back.out == input.stored, "an encoded body does not decode back");
    }
}

std::vector<std::pair<std::string, std::string>> bodyDecoderSeeds() {
    using C = ContentCoding;
    const std::string text =
        "<html><head><title>A page</title></head><body>" + std::string(300, 'a') + "</body></html>";
    std::vector<std::pair<std::string, std::string>> seeds;
    const std::vector<std::pair<std::string, std::vector<C>>> chains = {
        {"identity", {}},
        {"gzip", {C::Gzip}},
        {"deflate", {C::Deflate}},
        {"br", {C::Brotli}},
        {"zstd", {C::Zstd}},
        {"gzip-br", {C::Gzip, C::Brotli}},
        {"br-zstd-gzip", {C::Brotli, C::Zstd, C::Gzip}}};
    for (const auto& [name, codings] : chains) {
        std::string stored = text;
        for (const ContentCoding coding : codings) {
            stored = mozcache::encodeBody(encoderName(coding), stored);
        }
        seeds.emplace_back(name, packBody(codings, 3, stored));
    }
    seeds.emplace_back("raw-deflate",
                       packBody({C::Deflate}, 0, mozcache::encodeBody("raw-deflate", text)));
    seeds.emplace_back(
        "zeros", packBody({C::Zstd}, 1, mozcache::encodeBody("zstd", std::string(1u << 21, '\0'))));
    return seeds;
}

}  // namespace harvix::fuzzing
