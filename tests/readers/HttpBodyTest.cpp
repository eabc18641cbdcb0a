// The response head as browsers store it, and the body decoder: every coding
// whole and in pieces, bodies cut short or damaged, the output bound.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "BodyEncoding.h"
#include "filter/FilterTestSupport.h"
#include "platform/FileRead.h"
#include "readers/BodyCopy.h"
#include "readers/http/BodyDecoder.h"
#include "readers/http/ResponseHead.h"

namespace {

namespace fs = std::filesystem;
using harvix::BodyDecoder;
using harvix::ContentEncoding;
using harvix::contentEncodingName;
using harvix::parseResponseHead;

TEST(ResponseHead, StatusHeadersAndLineEndsOfEitherBrowser) {
    for (const std::string& sep : {std::string("\r\n"), std::string("\n"), std::string(1, '\0')}) {
        const auto head = parseResponseHead(
            "HTTP/1.1 203 Non-Authoritative" + sep + "content-TYPE: text/css; charset=utf-8" + sep +
            "Content-Length:  42 " + sep + "X-Folded: a" + sep + "\tb" + sep + "no colon here" +
            sep + sep + "After: the end" + sep);
        EXPECT_EQ(head.status, 203);
        EXPECT_EQ(head.contentType(), "text/css; charset=utf-8");
        EXPECT_EQ(head.contentLength(), 42u);
        EXPECT_EQ(head.header("x-folded"), "a b");
        EXPECT_FALSE(head.header("After"));
        EXPECT_EQ(head.headers.size(), 3u);
    }
    EXPECT_EQ(parseResponseHead("HTTP/2 404\r\n").status, 404);
    EXPECT_EQ(parseResponseHead("HTTP/1.1 2000 x\r\n").status, 0);
    EXPECT_EQ(parseResponseHead("HTTP/1.1\r\n").status, 0);
    const auto noStatus = parseResponseHead("Content-Type: image/png\r\n");
    EXPECT_EQ(noStatus.status, 0);
    EXPECT_EQ(noStatus.contentType(), "image/png");
    EXPECT_EQ(parseResponseHead("").status, 0);
}

TEST(ResponseHead, ContentLengthAndEncodingEdges) {
    auto length = [](const std::string& value) {
        return parseResponseHead("HTTP/1.1 200 OK\r\nContent-Length: " + value + "\r\n")
            .contentLength();
    };
    EXPECT_EQ(length("0"), 0u);
    EXPECT_EQ(length("18446744073709551615"), UINT64_MAX);
    EXPECT_FALSE(length("18446744073709551616"));
    EXPECT_FALSE(length("-1"));
    EXPECT_FALSE(length("12, 12"));
    EXPECT_FALSE(length(""));

    auto coding = [](const std::string& lines) {
        return parseResponseHead("HTTP/1.1 200 OK\r\n" + lines).contentEncoding();
    };
    EXPECT_EQ(coding(""), ContentEncoding::Identity);
    EXPECT_EQ(coding("Content-Encoding: identity\r\n"), ContentEncoding::Identity);
    EXPECT_EQ(coding("Content-Encoding: GZIP\r\n"), ContentEncoding::Gzip);
    EXPECT_EQ(coding("Content-Encoding: x-gzip\r\n"), ContentEncoding::Gzip);
    EXPECT_EQ(coding("Content-Encoding: deflate\r\n"), ContentEncoding::Deflate);
    EXPECT_EQ(coding("Content-Encoding: br\r\n"), ContentEncoding::Brotli);
    EXPECT_EQ(coding("Content-Encoding: zstd\r\n"), ContentEncoding::Zstd);
    EXPECT_EQ(coding("Content-Encoding: identity, br\r\n"), ContentEncoding::Brotli);
    // Stacked codings in the order applied, over one line or several.
    EXPECT_EQ(contentEncodingName(coding("Content-Encoding: gzip, br\r\n")), "gzip, br");
    EXPECT_EQ(contentEncodingName(coding("Content-Encoding: br\r\nContent-Encoding: , gzip\r\n")),
              "br, gzip");
    // A coding no browser knows, anywhere in the list: the bytes pass as stored.
    EXPECT_EQ(coding("Content-Encoding: UTF-8\r\n"), ContentEncoding::Identity);
    EXPECT_EQ(coding("Content-Encoding: gzip, compress\r\n"), ContentEncoding::Identity);
    const std::string five = "Content-Encoding: gzip, br, gzip, zstd, deflate\r\n";
    EXPECT_EQ(coding(five).codings().size(), 5u);
    EXPECT_EQ(coding(five + "Content-Encoding: br\r\n"), ContentEncoding::Unsupported);
    EXPECT_EQ(coding(five + "Content-Encoding: br, foo\r\n"), ContentEncoding::Identity);
}

struct Decoded {
    bool fed = true;
    bool finished = false;
    std::string out;
};

Decoded Decode(ContentEncoding encoding, const std::string& stored, std::size_t piece,
               uint64_t limit = uint64_t{1} << 30) {
    BodyDecoder decoder(encoding, limit);
    Decoded result;
    const auto sink = [&](std::span<const unsigned char> bytes) {
        result.out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return true;
    };
    for (std::size_t at = 0; at < stored.size() && result.fed; at += piece) {
        const std::string part = stored.substr(at, piece);
        result.fed =
            decoder.feed({reinterpret_cast<const unsigned char*>(part.data()), part.size()}, sink);
    }
    result.finished = result.fed && decoder.finish();
    return result;
}

std::string SampleBody() {
    std::string body;
    uint32_t x = 12345;
    for (int i = 0; i < 300000; ++i) {  // compressible, but not trivially
        x = x * 1103515245u + 12345u;
        body.push_back(static_cast<char>('a' + (x >> 16) % 7));
    }
    return body;
}

// The sample body encoded once per coding for all the tests (brotli's best
// quality is slow).
const std::string& StoredSample(const std::string& coding) {
    static std::map<std::string, std::string> stored;
    auto [it, added] = stored.try_emplace(coding);
    if (added) {
        it->second = harvix::mozcache::encodeBody(coding, SampleBody());
    }
    return it->second;
}

struct Coding {
    const char* name;
    ContentEncoding encoding;
};
const Coding kCodings[] = {
    {"identity", ContentEncoding::Identity}, {"gzip", ContentEncoding::Gzip},
    {"deflate", ContentEncoding::Deflate},   {"raw-deflate", ContentEncoding::Deflate},
    {"br", ContentEncoding::Brotli},         {"zstd", ContentEncoding::Zstd}};

TEST(BodyDecoder, EveryCodingWholeAndByteByByte) {
    const std::string body = SampleBody();
    for (const Coding& coding : kCodings) {
        SCOPED_TRACE(coding.name);
        const std::string& stored = StoredSample(coding.name);
        for (const std::size_t piece : {stored.size(), std::size_t{1}, std::size_t{4093}}) {
            const Decoded decoded = Decode(coding.encoding, stored, piece);
            EXPECT_TRUE(decoded.finished);
            EXPECT_TRUE(decoded.out == body);
        }
        // An empty resource encodes to a short stream that decodes to nothing.
        const Decoded empty =
            Decode(coding.encoding, harvix::mozcache::encodeBody(coding.name, ""), 7);
        EXPECT_TRUE(empty.finished);
        EXPECT_TRUE(empty.out.empty());
    }
}

TEST(BodyDecoder, TrailingBytesAndAMissingGzipFooterPassButCutOrDamagedDataFails) {
    const std::string body = SampleBody();
    for (const Coding& coding : kCodings) {
        if (coding.encoding == ContentEncoding::Identity) {
            continue;
        }
        SCOPED_TRACE(coding.name);
        const std::string& stored = StoredSample(coding.name);
        // Bytes after the end of the stream are ignored, as browsers do.
        for (const std::string& tail : {std::string("\n"), std::string(5000, 'x')}) {
            const Decoded trailing = Decode(coding.encoding, stored + tail, 999);
            EXPECT_TRUE(trailing.finished);
            EXPECT_TRUE(trailing.out == body);
        }
        // An interrupted download: the coded data itself stops early.
        EXPECT_FALSE(Decode(coding.encoding, stored.substr(0, stored.size() / 2), 999).finished);
        // Damage in the middle (a few bytes overwritten).
        std::string damaged = stored;
        for (std::size_t i = damaged.size() / 3; i < damaged.size() / 3 + 8; ++i) {
            damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
        }
        const Decoded bad = Decode(coding.encoding, damaged, 999);
        EXPECT_FALSE(bad.finished && bad.out == body);
        // Plain text under a coding's name.
        EXPECT_FALSE(Decode(coding.encoding, "not compressed at all", 5).finished);
        EXPECT_FALSE(Decode(coding.encoding, "", 5).finished);
    }
    // gzip without its footer (CRC and length), or with a wrong one, decodes
    // whole; one byte of deflate data fewer does not. A second member is
    // bytes after the end.
    const std::string& gzip = StoredSample("gzip");
    for (const std::size_t cut : {std::size_t{8}, std::size_t{3}}) {
        const Decoded footless =
            Decode(ContentEncoding::Gzip, gzip.substr(0, gzip.size() - cut), 7);
        EXPECT_TRUE(footless.finished);
        EXPECT_TRUE(footless.out == body);
    }
    std::string wrongCrc = gzip;
    wrongCrc[wrongCrc.size() - 6] ^= 1;
    EXPECT_TRUE(Decode(ContentEncoding::Gzip, wrongCrc, 4096).finished);
    EXPECT_FALSE(Decode(ContentEncoding::Gzip, gzip.substr(0, gzip.size() - 9), 4096).finished);
    const Decoded members = Decode(ContentEncoding::Gzip,
                                   harvix::mozcache::encodeBody("gzip", "first ") +
                                       harvix::mozcache::encodeBody("gzip", "second"),
                                   3);
    EXPECT_TRUE(members.finished);
    EXPECT_EQ(members.out, "first ");
    // The header's optional parts (extra field, name, comment, header check)
    // are skipped wherever the pieces split them.
    std::string withParts = gzip.substr(0, 10) +
                            std::string(
                                "\x03\x00"
                                "abc",
                                5) +
                            "name.txt" + '\0' + "a comment" + '\0' + "HC" + gzip.substr(10);
    withParts[3] = 0x1E;
    for (const std::size_t piece : {std::size_t{1}, std::size_t{11}, withParts.size()}) {
        EXPECT_TRUE(Decode(ContentEncoding::Gzip, withParts, piece).out == body);
    }
    // A zlib stream that asks for a preset dictionary (FDICT) cannot be read.
    EXPECT_FALSE(Decode(ContentEncoding::Deflate, std::string("\x78\xbb\0\0\0\1", 6), 2).finished);
    EXPECT_FALSE(Decode(ContentEncoding::Unsupported, "abc", 3).finished);
}

// Snappy's framing, as Firefox's service-worker caches keep bodies: a stream
// of chunks with no end mark, each checked against its CRC-32C.
TEST(BodyDecoder, SnappyFramesWithEitherChecksumDamageAndUnknownChunksFail) {
    const std::string body = SampleBody();  // several 64 KiB chunks
    const ContentEncoding framed = ContentEncoding::SnappyFramed;
    for (const char* variant : {"snappy-framed", "snappy-framed-firefox"}) {
        SCOPED_TRACE(variant);
        const std::string stored = harvix::mozcache::encodeBody(variant, body);
        for (const std::size_t piece : {stored.size(), std::size_t{1}, std::size_t{4093}}) {
            const Decoded decoded = Decode(framed, stored, piece);
            EXPECT_TRUE(decoded.finished);
            EXPECT_TRUE(decoded.out == body);
        }
        // Cut inside a chunk; one byte of data or of a checksum changed.
        EXPECT_FALSE(Decode(framed, stored.substr(0, stored.size() - 5), 999).finished);
        for (const std::size_t at : {std::size_t{40}, stored.size() / 2}) {
            std::string damaged = stored;
            damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
            EXPECT_FALSE(Decode(framed, damaged, 999).finished);
        }
    }
    const std::string stored = harvix::mozcache::encodeBody("snappy-framed-firefox", "abc");
    const std::string id = stored.substr(0, 10);
    // A skippable chunk anywhere passes; a reserved one that is not, a
    // stream without its identifier, and a chunk longer than any may be fail.
    EXPECT_EQ(Decode(framed, id + std::string("\x80\x02\0\0xy", 6) + stored.substr(10), 1).out,
              "abc");
    EXPECT_FALSE(Decode(framed, id + std::string("\x02\x01\0\0x", 5), 4).finished);
    EXPECT_FALSE(Decode(framed, stored.substr(10), 4).finished);
    EXPECT_FALSE(Decode(framed, id + std::string("\x00\xff\xff\x01", 4), 4).finished);
    EXPECT_FALSE(Decode(framed, "", 4).finished);
    // An empty resource is the identifier alone.
    EXPECT_TRUE(Decode(framed, id, 3).finished);
    // Bounded like every other coding.
    const Decoded bounded =
        Decode(framed, harvix::mozcache::encodeBody("snappy-framed", body), 4096, 100000);
    EXPECT_FALSE(bounded.finished);
    EXPECT_LE(bounded.out.size(), 100000u);
}

TEST(BodyDecoder, StackedCodingsAreUndoneLastFirstEachStageBounded) {
    const std::string body = SampleBody().substr(0, 40000);
    ContentEncoding stacked;  // gzip applied first, then br, then zstd
    std::string stored = body;
    for (const auto& [name, coding] : {std::pair{"gzip", harvix::ContentCoding::Gzip},
                                       std::pair{"br", harvix::ContentCoding::Brotli},
                                       std::pair{"zstd", harvix::ContentCoding::Zstd}}) {
        stored = harvix::mozcache::encodeBody(name, stored);
        stacked.add(coding);
    }
    for (const std::size_t piece : {std::size_t{1}, std::size_t{4093}, stored.size()}) {
        const Decoded decoded = Decode(stacked, stored + "\n", piece);
        EXPECT_TRUE(decoded.finished);
        EXPECT_TRUE(decoded.out == body);
    }
    // In the wrong order, or with an inner stream cut short, it fails.
    ContentEncoding reversed;
    reversed.add(harvix::ContentCoding::Zstd);
    reversed.add(harvix::ContentCoding::Gzip);
    EXPECT_FALSE(Decode(reversed, stored, 4096).finished);
    ContentEncoding twice;
    twice.add(harvix::ContentCoding::Gzip);
    twice.add(harvix::ContentCoding::Gzip);
    const std::string& gzip = StoredSample("gzip");
    EXPECT_FALSE(
        Decode(twice, harvix::mozcache::encodeBody("gzip", gzip.substr(0, gzip.size() / 2)), 999)
            .finished);
    // Each stage is bounded: bytes that the next stage ignores (after the
    // end of its stream) may not expand without end either.
    const std::string padded = harvix::mozcache::encodeBody(
        "gzip", harvix::mozcache::encodeBody("gzip", "small") + std::string(8u << 20, '\0'));
    ASSERT_LT(padded.size(), 100000u);
    EXPECT_TRUE(Decode(twice, padded, 4096, 9u << 20).finished);
    const Decoded capped = Decode(twice, padded, 4096, 1u << 20);
    EXPECT_FALSE(capped.finished);
    EXPECT_EQ(capped.out, "small");
}

TEST(BodyDecoder, OutputStopsAtTheCallersLimitAndAtARefusingSink) {
    // 64 MiB of zeros stored in a few kilobytes: only the limit stops it.
    const std::string bomb = harvix::mozcache::encodeBody("gzip", std::string(64u << 20, '\0'));
    ASSERT_LT(bomb.size(), 200000u);
    for (const Coding& coding : kCodings) {
        SCOPED_TRACE(coding.name);
        const std::string stored =
            harvix::mozcache::encodeBody(coding.name, std::string(1000000, 'z'));
        const Decoded capped = Decode(coding.encoding, stored, 4096, 999999);
        EXPECT_FALSE(capped.finished);
        EXPECT_LE(capped.out.size(), 999999u);
        EXPECT_TRUE(Decode(coding.encoding, stored, 4096, 1000000).finished);
    }
    const Decoded capped = Decode(ContentEncoding::Gzip, bomb, bomb.size(), 1u << 20);
    EXPECT_FALSE(capped.finished);
    EXPECT_LE(capped.out.size(), 1u << 20);

    BodyDecoder decoder(ContentEncoding::Gzip, 1u << 30);
    const std::string& stored = StoredSample("gzip");
    int calls = 0;
    EXPECT_FALSE(
        decoder.feed({reinterpret_cast<const unsigned char*>(stored.data()), stored.size()},
                     [&](std::span<const unsigned char>) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(decoder.finish());
}

// What the comb needs of a copy: whether it is decoded, its size, and a bomb
// stopped at the bound with a reason that groups.
TEST(BodyCopy, DecodedCopiesTellTheirSizeAndStopAtTheBound) {
    EXPECT_EQ(harvix::maxDecodedSize(0), harvix::kDecodedSizeFloor);
    EXPECT_EQ(harvix::maxDecodedSize(67108), harvix::kDecodedSizeFloor);
    EXPECT_EQ(harvix::maxDecodedSize(67109), 67109000u);
    EXPECT_EQ(harvix::maxDecodedSize(UINT64_MAX / 999), UINT64_MAX);

    harvix::MemoryReader reader;
    const std::string script = SampleBody().substr(0, 60000);
    auto& gzip = reader.add(harvix::mozcache::encodeBody("gzip", script), 0);
    gzip.encoding = ContentEncoding::Gzip;
    ASSERT_LT(gzip.size, 40000u);
    auto& plain = reader.add("as stored", 0);
    auto& bomb = reader.add(
        harvix::mozcache::encodeBody("zstd", std::string(harvix::kDecodedSizeFloor + 1, '\0')), 0);
    bomb.encoding = ContentEncoding::Zstd;
    EXPECT_TRUE(harvix::copyIsDecoded(reader, gzip));
    EXPECT_FALSE(harvix::copyIsDecoded(reader, plain));

    harvix::TempDir dir;
    for (const auto* entry : {&gzip, &plain}) {
        harvix::NewFile out = harvix::NewFile::create(dir.path());
        const uint64_t size = harvix::copyBody(reader, *entry, out);
        EXPECT_EQ(size, entry == &gzip ? script.size() : entry->size);
        EXPECT_EQ(harvix::descriptorSize(out.fd()), size);
    }
    try {
        harvix::copyBodyToFile(reader, bomb, dir / "bomb");
        ADD_FAILURE() << "a bomb was copied";
    } catch (const harvix::ErrorReport& report) {
        EXPECT_EQ(harvix::copyFailureReason(report),
                  "the cached data decodes to more than 1000 times its size");
    }
    EXPECT_FALSE(fs::exists(dir / "bomb"));
}

}  // namespace
