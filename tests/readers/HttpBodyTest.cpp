// The response head as browsers store it, and the body decoder: every coding
// whole and in pieces, bodies cut short or damaged, the output bound.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BodyEncoding.h"
#include "readers/http/BodyDecoder.h"
#include "readers/http/ResponseHead.h"

namespace {

using harvix::BodyDecoder;
using harvix::ContentEncoding;
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
    EXPECT_EQ(coding("Content-Encoding: compress\r\n"), ContentEncoding::Unsupported);
    EXPECT_EQ(coding("Content-Encoding: gzip, br\r\n"), ContentEncoding::Unsupported);
    EXPECT_EQ(coding("Content-Encoding: gzip\r\nContent-Encoding: gzip\r\n"),
              ContentEncoding::Unsupported);
    EXPECT_EQ(coding("Content-Encoding: identity, br\r\n"), ContentEncoding::Brotli);
}

struct Decoded {
    bool fed = true;
    bool finished = false;
    std::string out;
};

Decoded Decode(ContentEncoding encoding, const std::string& stored, std::size_t piece,
               uint64_t limit = BodyDecoder::kDefaultOutputLimit) {
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
        const std::string stored = harvix::mozcache::EncodeBody(coding.name, body);
        for (const std::size_t piece : {stored.size(), std::size_t{1}, std::size_t{4093}}) {
            const Decoded decoded = Decode(coding.encoding, stored, piece);
            EXPECT_TRUE(decoded.finished);
            EXPECT_TRUE(decoded.out == body);
        }
        // An empty resource encodes to a short stream that decodes to nothing.
        const Decoded empty = Decode(coding.encoding, harvix::mozcache::EncodeBody(coding.name, ""), 7);
        EXPECT_TRUE(empty.finished);
        EXPECT_TRUE(empty.out.empty());
    }
}

TEST(BodyDecoder, CutShortDamagedTrailingOrUnsupportedFails) {
    const std::string body = SampleBody();
    for (const Coding& coding : kCodings) {
        if (coding.encoding == ContentEncoding::Identity) {
            continue;
        }
        SCOPED_TRACE(coding.name);
        const std::string stored = harvix::mozcache::EncodeBody(coding.name, body);
        // An interrupted download: the stored stream stops early.
        EXPECT_FALSE(Decode(coding.encoding, stored.substr(0, stored.size() / 2), 999).finished);
        EXPECT_FALSE(Decode(coding.encoding, stored.substr(0, stored.size() - 1), 999).finished);
        // Bytes after the end of the stream.
        EXPECT_FALSE(Decode(coding.encoding, stored + "garbage", 999).finished);
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
    // A gzip body of two members is one resource.
    const std::string twoMembers =
        harvix::mozcache::EncodeBody("gzip", "first ") + harvix::mozcache::EncodeBody("gzip", "second");
    const Decoded joined = Decode(ContentEncoding::Gzip, twoMembers, 3);
    EXPECT_TRUE(joined.finished);
    EXPECT_EQ(joined.out, "first second");
    EXPECT_FALSE(Decode(ContentEncoding::Unsupported, "abc", 3).finished);
}

TEST(BodyDecoder, OutputStopsAtTheCallersLimitAndAtARefusingSink) {
    // 64 MiB of zeros stored in a few kilobytes: only the limit stops it.
    const std::string bomb = harvix::mozcache::EncodeBody("gzip", std::string(64u << 20, '\0'));
    ASSERT_LT(bomb.size(), 200000u);
    for (const Coding& coding : kCodings) {
        SCOPED_TRACE(coding.name);
        const std::string stored = harvix::mozcache::EncodeBody(coding.name, std::string(1000000, 'z'));
        const Decoded capped = Decode(coding.encoding, stored, 4096, 999999);
        EXPECT_FALSE(capped.finished);
        EXPECT_LE(capped.out.size(), 999999u);
        EXPECT_TRUE(Decode(coding.encoding, stored, 4096, 1000000).finished);
    }
    const Decoded capped = Decode(ContentEncoding::Gzip, bomb, bomb.size(), 1u << 20);
    EXPECT_FALSE(capped.finished);
    EXPECT_LE(capped.out.size(), 1u << 20);

    BodyDecoder decoder(ContentEncoding::Gzip);
    const std::string stored = harvix::mozcache::EncodeBody("gzip", SampleBody());
    int calls = 0;
    EXPECT_FALSE(
        decoder.feed({reinterpret_cast<const unsigned char*>(stored.data()), stored.size()},
                     [&](std::span<const unsigned char>) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(decoder.finish());
}

}  // namespace
