// Decodes a cached body that the server sent with a Content-Encoding, so that
// the file the user gets is the resource itself. Browsers store such bodies
// exactly as sent; the copy runs them through here.
//
// The decoder streams: the caller feeds the stored bytes in pieces of any size
// and receives the decoded bytes through a sink, so that neither side ever
// holds a whole body. The decoded output is bounded by a limit the caller
// gives: a small stored body that expands without end (a decompression bomb)
// fails once it passes the limit instead of filling the disk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace harvix {

enum class ContentEncoding { Identity, Gzip, Deflate, Brotli, Zstd, Unsupported };

// The coding's name as HTTP writes it ("gzip", "br", ...); "identity", "unsupported".
const char* contentEncodingName(ContentEncoding encoding);

class BodyDecoder {
public:
    // Receives decoded bytes; returns false to stop (feed then fails).
    using Sink = std::function<bool(std::span<const unsigned char>)>;

    // Without a limit from the caller the output stops at 4 GiB.
    static constexpr uint64_t kDefaultOutputLimit = uint64_t{4} << 30;

    explicit BodyDecoder(ContentEncoding encoding, uint64_t outputLimit = kDefaultOutputLimit);
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;

    // Decodes the next stored bytes and hands what they yield to `sink`.
    // False when the bytes are not valid for the coding, when the output would
    // pass the limit, when bytes follow the end of the coded stream, when the
    // sink refused, or after any earlier failure; the decoder then stays failed.
    bool feed(std::span<const unsigned char> in, const Sink& sink);
    // True when the stored bytes made one whole coded stream (a body cut short
    // fails here) and nothing failed before.
    bool finish();

    // Decoded bytes handed to the sink so far.
    uint64_t produced() const { return produced_; }
    bool failed() const { return failed_; }
    // True when the output was cut at the limit.
    bool limitReached() const { return limitReached_; }

private:
    struct State;
    bool deliver(std::span<const unsigned char> out, const Sink& sink);

    ContentEncoding encoding_;
    uint64_t limit_;
    uint64_t produced_ = 0;
    bool failed_ = false;
    bool limitReached_ = false;
    std::unique_ptr<State> state_;
};

}  // namespace harvix
