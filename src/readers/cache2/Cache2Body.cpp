#include "readers/cache2/Cache2Body.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/FileHandle.h"
#include "readers/cache2/Cache2Folder.h"

namespace harvix::cache2 {

bool copyEntryBody(const fs::path& entriesFolder, const std::string& fileName, uint64_t length,
                   ContentEncoding encoding, int outFd, uint64_t decodedLimit) {
    if (!isEntryFileName(fileName)) {
        errno = EINVAL;
        return false;
    }
    if (encoding == ContentEncoding::Unsupported) {
        errno = ENOTSUP;
        return false;
    }
    const fs::path root = resolveFolder(entriesFolder);
    const FileHandle file = FileHandle::openBelow(root, root / fileName);
    if (!file) {
        errno = file.error();
        return false;
    }
    if (file.size() < length) {
        errno = ENODATA;  // the entry changed since it was listed
        return false;
    }
    if (encoding == ContentEncoding::Identity) {
        return copyRange(file, 0, length, outFd);
    }
    BodyDecoder decoder(encoding, decodedLimit);
    bool writeFailed = false;
    const auto sink = [&](std::span<const unsigned char> bytes) {
        if (!writeAll(outFd, bytes.data(), bytes.size())) {
            writeFailed = true;
            return false;
        }
        return true;
    };
    std::vector<unsigned char> buffer(256 * 1024);
    uint64_t done = 0;
    while (done < length) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), length - done));
        errno = 0;
        const std::size_t got = file.readAt(done, buffer.data(), want);
        if (got == 0) {
            if (errno == 0) {
                errno = ENODATA;  // cut short while we read
            }
            return false;
        }
        if (!decoder.feed({buffer.data(), got}, sink)) {
            if (!writeFailed) {
                errno = decoder.limitReached() ? EFBIG : EILSEQ;
            }
            return false;
        }
        done += got;
    }
    if (!decoder.finish()) {
        errno = EILSEQ;
        return false;
    }
    return true;
}

}  // namespace harvix::cache2
