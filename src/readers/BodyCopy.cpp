#include "readers/BodyCopy.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "base/ErrorReport.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"

namespace harvix {

namespace {

// Stored bytes are decoded in pieces of this size.
constexpr std::size_t kDecodeChunk = 256 * 1024;

[[noreturn]] void fail(ErrorReport::Kind kind, const fs::path& file, int error,
                       const fs::path& target = {}) {
    throw ErrorReport(ErrorReport::BodyCopy, kind, pathToUtf8(file), pathToUtf8(target), error);
}

uint32_t crcOf(const unsigned char* bytes, std::size_t n, uint32_t crc) {
    return static_cast<uint32_t>(::crc32(crc, bytes, static_cast<uInt>(n)));
}

// Bytes that do not match the CRC-32 the cache keeps for them are being
// written by the browser (or were left so): the copy fails as such.
void checkCrc(const BodySource& source, const BodyPiece& piece, uint32_t crc) {
    if (piece.crc32 && *piece.crc32 != crc) {
        fail(ErrorReport::FileRead, source.file, EBUSY);
    }
}

// The CRC-32 of the piece's bytes from `done` on, continuing `crc`.
uint32_t crcOfRest(const FileHandle& in, const BodySource& source, const BodyPiece& piece,
                   uint64_t done, uint32_t crc, std::vector<unsigned char>& buffer) {
    while (done < piece.length) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(piece.length - done, buffer.size()));
        if (const int error = in.readExactError(piece.offset + done, buffer.data(), want)) {
            fail(ErrorReport::FileRead, source.file, error);
        }
        crc = crcOf(buffer.data(), want, crc);
        done += want;
    }
    return crc;
}

// Decodes the stored pieces into `out` (Identity passes the bytes through,
// so that a body whose CRC-32 the cache keeps is checked on the way too);
// returns the size written.
uint64_t decodeRange(const FileHandle& in, const BodySource& source, NewFile& out) {
    BodyDecoder decoder(source.encoding, maxDecodedSize(source.length));
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min<uint64_t>(source.length, kDecodeChunk)));
    int writeError = 0;
    const BodyDecoder::Sink sink = [&](std::span<const unsigned char> bytes) {
        writeError = writeAllError(out.fd(), bytes.data(), bytes.size());
        return writeError == 0;
    };
    for (const BodyPiece& piece : storedPieces(source)) {
        uint32_t crc = 0;
        uint64_t done = 0;
        while (done < piece.length) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<uint64_t>(piece.length - done, buffer.size()));
            if (const int error = in.readExactError(piece.offset + done, buffer.data(), want)) {
                fail(ErrorReport::FileRead, source.file, error);
            }
            crc = crcOf(buffer.data(), want, crc);
            if (!decoder.feed({buffer.data(), want}, sink)) {
                if (writeError != 0) {
                    fail(ErrorReport::FileCopy, source.file, writeError, out.folder());
                }
                // Bytes being written do not decode either: that is the reason then.
                if (piece.crc32) {
                    checkCrc(source, piece, crcOfRest(in, source, piece, done + want, crc, buffer));
                }
                // Not valid for its coding, or past the output bound.
                fail(ErrorReport::Unsupported, source.file,
                     decoder.limitReached() ? EFBIG : EBADMSG);
            }
            done += want;
        }
        checkCrc(source, piece, crc);
    }
    if (!decoder.finish()) {
        fail(ErrorReport::Unsupported, source.file, EBADMSG);
    }
    return decoder.produced();
}

bool hasCrc(const BodySource& source) {
    return source.crc32 || std::any_of(source.pieces.begin(), source.pieces.end(),
                                       [](const BodyPiece& piece) { return piece.crc32; });
}

}  // namespace

std::shared_ptr<const FileHandle> openBody(const CacheReader& reader, const BodySource& source) {
    std::shared_ptr<const FileHandle> file = source.handle;
    uint64_t size = 0;
    if (file != nullptr && *file) {
        size = file->size();  // a file the reader holds open may have grown
    } else {
        auto opened = std::make_shared<FileHandle>(
            FileHandle::openBelow(source.root.empty() ? reader.root() : source.root, source.file));
        if (!*opened) {
            fail(ErrorReport::FileOpen, source.file, opened->error());
        }
        size = opened->sizeAtOpen();
        file = std::move(opened);
    }
    // The file must hold the whole range, every piece of it: a shorter file
    // (or an offset past its end) is a failed copy, never a shorter one.
    // Pieces that do not add up to the length are no body at all.
    uint64_t total = 0;
    for (const BodyPiece& piece : storedPieces(source)) {
        if (piece.offset > size || piece.length > size - piece.offset ||
            piece.length > UINT64_MAX - total) {
            fail(ErrorReport::FileRead, source.file, ENODATA);
        }
        total += piece.length;
    }
    if (total != source.length) {
        fail(ErrorReport::FileRead, source.file, EINVAL);
    }
    return file;
}

std::vector<BodyPiece> storedPieces(const BodySource& source) {
    if (!source.pieces.empty()) {
        return source.pieces;
    }
    return {BodyPiece{source.offset, source.length, source.crc32}};
}

uint64_t copyBody(const CacheReader& reader, const CacheEntry& entry, NewFile& out) {
    const BodySource source = reader.bodySource(entry);
    const std::shared_ptr<const FileHandle> file = openBody(reader, source);
    const FileHandle& in = *file;
    if (!source.encoding.isIdentity() || hasCrc(source)) {
        return decodeRange(in, source, out);
    }
    for (const BodyPiece& piece : storedPieces(source)) {
        if (const int error = copyRangeError(in, piece.offset, piece.length, out.fd())) {
            // The source was long enough a moment ago: a failure now is the
            // target's (full disk, read-only folder) unless it is a read error.
            fail(error == EIO ? ErrorReport::FileRead : ErrorReport::FileCopy, source.file, error,
                 out.folder());
        }
    }
    return source.length;
}

bool copyIsDecoded(const CacheReader& reader, const CacheEntry& entry) {
    try {
        return !reader.bodySource(entry).encoding.isIdentity();
    } catch (const ErrorReport&) {
        return false;
    }
}

void copyBodyToFile(const CacheReader& reader, const CacheEntry& entry, const fs::path& target) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    NewFile out = NewFile::create(folder);
    if (!out) {
        fail(ErrorReport::FileWrite, target, out.error());
    }
    copyBody(reader, entry, out);
    if (!out.linkAs(pathToUtf8(target.filename()))) {
        fail(ErrorReport::FileWrite, target, out.error());
    }
}

}  // namespace harvix
