#include "readers/chromium/Protobuf.h"

#include "base/ByteOrder.h"

namespace harvix::chromium {

namespace {

// Field numbers are at most 2^29 - 1.
constexpr uint64_t kMaxFieldNumber = (uint64_t{1} << 29) - 1;

}  // namespace

bool ProtoReader::varint(uint64_t& out) {
    out = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
        if (pos_ >= bytes_.size()) {
            return false;
        }
        const unsigned char byte = bytes_[pos_++];
        if (shift == 63 && (byte & 0x7E) != 0) {
            return false;  // more than 64 bits
        }
        out |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

bool ProtoReader::next() {
    if (failed_ || pos_ >= bytes_.size()) {
        return false;
    }
    uint64_t key = 0;
    if (!varint(key) || (key >> 3) == 0 || (key >> 3) > kMaxFieldNumber) {
        failed_ = true;
        return false;
    }
    field_ = static_cast<uint32_t>(key >> 3);
    number_ = 0;
    value_ = {};
    switch (key & 7) {
        case 0:
            type_ = WireType::Varint;
            failed_ = !varint(number_);
            break;
        case 1:
            type_ = WireType::Fixed64;
            failed_ = bytes_.size() - pos_ < 8;
            if (!failed_) {
                number_ = loadLe64(bytes_.data() + pos_);
                pos_ += 8;
            }
            break;
        case 2: {
            type_ = WireType::Bytes;
            uint64_t length = 0;
            failed_ = !varint(length) || length > bytes_.size() - pos_;
            if (!failed_) {
                value_ = bytes_.subspan(pos_, static_cast<std::size_t>(length));
                pos_ += static_cast<std::size_t>(length);
            }
            break;
        }
        case 5:
            type_ = WireType::Fixed32;
            failed_ = bytes_.size() - pos_ < 4;
            if (!failed_) {
                number_ = loadLe32(bytes_.data() + pos_);
                pos_ += 4;
            }
            break;
        default:
            failed_ = true;  // groups (3, 4) and the unused 6 and 7
    }
    return !failed_;
}

}  // namespace harvix::chromium
