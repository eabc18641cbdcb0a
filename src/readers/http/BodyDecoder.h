// Decodes a cached body that the server sent with a Content-Encoding, so that
// the file the user gets is the resource itself. Browsers store such bodies
// exactly as sent; the copy runs them through here.
//
// The decoder streams: the caller feeds the stored bytes in pieces of any size
// and receives the decoded bytes through a sink, so that neither side ever
// holds a whole body. The decoded output is bounded by a limit the caller
// gives: a small stored body that expands without end (a decompression bomb)
// fails once it passes the limit instead of filling the disk.
//
// It decodes as the browsers do: a gzip footer is not checked (a body without
// it decodes), bytes after the end of the coded stream are ignored, and
// stacked codings are undone one after the other, the last applied first. A
// stream cut short before its coded data ends still fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace harvix {

// One content coding the decoder undoes. SnappyFramed is no HTTP coding but
// the framing a store of the browser's own keeps bodies in (Firefox's
// service-worker caches); no response head names it.
enum class ContentCoding : uint8_t { Gzip, Deflate, Brotli, Zstd, SnappyFramed };

// The codings a body was sent with, in the order the server applied them
// (the order of its Content-Encoding header). Identity holds none: the stored
// bytes are the resource. Unsupported: more codings stacked than a decoder
// chains (kMaxCodings); such a body cannot be decoded.
class ContentEncoding {
public:
    // As many stacked codings as Firefox and common HTTP clients undo; real
    // servers send one, rarely two.
    static constexpr std::size_t kMaxCodings = 5;

    static const ContentEncoding Identity;
    static const ContentEncoding Gzip;
    static const ContentEncoding Deflate;
    static const ContentEncoding Brotli;
    static const ContentEncoding Zstd;
    static const ContentEncoding SnappyFramed;
    static const ContentEncoding Unsupported;

    constexpr ContentEncoding() = default;

    // Appends a coding applied after those held; one past kMaxCodings makes
    // the encoding Unsupported.
    constexpr void add(ContentCoding coding) {
        if (unsupported_) {
            return;
        }
        if (count_ == kMaxCodings) {
            *this = ContentEncoding(UnsupportedTag{});
            return;
        }
        codings_[count_++] = coding;
    }

    // In the order applied: the last one is undone first.
    std::span<const ContentCoding> codings() const { return {codings_.data(), count_}; }
    constexpr bool isIdentity() const { return count_ == 0 && !unsupported_; }
    constexpr bool isSupported() const { return !unsupported_; }

    friend constexpr bool operator==(const ContentEncoding&, const ContentEncoding&) = default;

private:
    struct UnsupportedTag {};
    constexpr explicit ContentEncoding(UnsupportedTag) : unsupported_(true) {}
    constexpr explicit ContentEncoding(ContentCoding only) : codings_{only}, count_(1) {}

    std::array<ContentCoding, kMaxCodings> codings_{};
    uint8_t count_ = 0;
    bool unsupported_ = false;
};

inline constexpr ContentEncoding ContentEncoding::Identity{};
inline constexpr ContentEncoding ContentEncoding::Gzip{ContentCoding::Gzip};
inline constexpr ContentEncoding ContentEncoding::Deflate{ContentCoding::Deflate};
inline constexpr ContentEncoding ContentEncoding::Brotli{ContentCoding::Brotli};
inline constexpr ContentEncoding ContentEncoding::Zstd{ContentCoding::Zstd};
inline constexpr ContentEncoding ContentEncoding::SnappyFramed{ContentCoding::SnappyFramed};
inline constexpr ContentEncoding ContentEncoding::Unsupported{UnsupportedTag{}};

// The codings as HTTP writes them, in header order ("gzip", "gzip, br");
// "identity" for none, "unsupported".
std::string contentEncodingName(const ContentEncoding& encoding);

class BodyDecoder {
public:
    // Receives decoded bytes; returns false to stop (feed then fails).
    using Sink = std::function<bool(std::span<const unsigned char>)>;

    // Every stage of the chain stops at `outputLimit` bytes, the last one
    // (what the sink receives) included.
    BodyDecoder(const ContentEncoding& encoding, uint64_t outputLimit);
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;

    // Decodes the next stored bytes and hands what they yield to `sink`.
    // False when the bytes are not valid for the coding, when an output
    // would pass the limit, when the sink refused, or after any earlier
    // failure; the decoder then stays failed. Bytes after the end of a coded
    // stream are taken and ignored.
    bool feed(std::span<const unsigned char> in, const Sink& sink);
    // True when every coded stream reached its end (a body cut short fails
    // here) and nothing failed before.
    bool finish();

    // Decoded bytes handed to the sink so far.
    uint64_t produced() const { return produced_; }
    bool failed() const { return failed_; }
    // True when an output was cut at the limit.
    bool limitReached() const { return limitReached_; }

private:
    struct State;
    bool forward(std::size_t stage, std::span<const unsigned char> bytes, const Sink& sink);

    uint64_t limit_;
    uint64_t produced_ = 0;
    bool failed_ = false;
    bool limitReached_ = false;
    std::unique_ptr<State> state_;
};

}  // namespace harvix
