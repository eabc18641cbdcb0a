// A bounded reader of protocol-buffer messages (the wire format only): the
// fields of one message in order, each a number, a varint or a run of bytes.
// Chromium keeps the service-worker cache's index and each entry's metadata
// so. Nested messages are read with a second reader over the field's bytes.
// Nothing here allocates; nothing is read past the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace harvix::chromium {

class ProtoReader {
public:
    enum class WireType : uint8_t { Varint = 0, Fixed64 = 1, Bytes = 2, Fixed32 = 5 };

    explicit ProtoReader(std::span<const unsigned char> bytes) : bytes_(bytes) {}

    // Steps to the next field. False at the end of the bytes, and for bytes
    // that are no message (a cut field, an unknown or group wire type, a
    // varint over ten bytes, field number 0); failed() tells which.
    bool next();
    bool failed() const { return failed_; }

    uint32_t field() const { return field_; }
    WireType type() const { return type_; }
    // The value of a varint or fixed field (a fixed32 widened).
    uint64_t number() const { return number_; }
    // The bytes of a length-delimited field (a string, bytes, a message).
    std::span<const unsigned char> bytes() const { return value_; }
    std::string_view text() const {
        return {reinterpret_cast<const char*>(value_.data()), value_.size()};
    }

private:
    bool varint(uint64_t& out);

    std::span<const unsigned char> bytes_;
    std::size_t pos_ = 0;
    bool failed_ = false;
    uint32_t field_ = 0;
    WireType type_ = WireType::Varint;
    uint64_t number_ = 0;
    std::span<const unsigned char> value_;
};

}  // namespace harvix::chromium
