// One stage of BodyDecoder's chain: a coding undone. Kept apart so that each
// coding's stage can live in a file of its own; only the decoder uses it.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>

#include "readers/http/BodyDecoder.h"

namespace harvix::decoding {

inline constexpr std::size_t kOutChunk = 64 * 1024;

using Bytes = std::span<const unsigned char>;

// Takes coded bytes, hands decoded ones on. Once its stream has ended it
// takes further bytes and ignores them, as browsers do.
class Stage {
public:
    virtual ~Stage() = default;
    // False when the bytes are not valid for the coding or `out` refused.
    virtual bool feed(Bytes in, const BodyDecoder::Sink& out) = 0;
    // The coded stream is complete.
    bool ended() const { return ended_; }

protected:
    std::array<unsigned char, kOutChunk> buffer_{};
    bool ended_ = false;
};

// Snappy's framing format (SnappyFramingFormat.h).
std::unique_ptr<Stage> makeSnappyFramedStage();

}  // namespace harvix::decoding
