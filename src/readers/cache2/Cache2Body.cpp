#include "readers/cache2/Cache2Body.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/FileHandle.h"
#include "readers/cache2/Cache2Folder.h"

namespace harvix::cache2 {

int copyEntryBody(const fs::path& entriesFolder, const std::string& fileName, uint64_t length,
                  ContentEncoding encoding, int outFd, uint64_t decodedLimit) {
    if (!isEntryFileName(fileName)) {
        return EINVAL;
    }
    if (encoding == ContentEncoding::Unsupported) {
        return ENOTSUP;
    }
    const fs::path root = resolveFolder(entriesFolder);
    const FileHandle file = FileHandle::openBelow(root, root / fileName);
    if (!file) {
        return file.error();
    }
    if (file.size() < length) {
        return ENODATA;  // the entry changed since it was listed
    }
    if (encoding == ContentEncoding::Identity) {
        return copyRangeError(file, 0, length, outFd);
    }
    BodyDecoder decoder(encoding, decodedLimit);
    int writeError = 0;
    const auto sink = [&](std::span<const unsigned char> bytes) {
        writeError = writeAllError(outFd, bytes.data(), bytes.size());
        return writeError == 0;
    };
    std::vector<unsigned char> buffer(256 * 1024);
    uint64_t done = 0;
    while (done < length) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), length - done));
        int readError = 0;
        const std::size_t got = file.readAt(done, buffer.data(), want, readError);
        if (got == 0) {
            return readError != 0 ? readError : ENODATA;  // cut short while we read
        }
        if (!decoder.feed({buffer.data(), got}, sink)) {
            if (writeError != 0) {
                return writeError;
            }
            return decoder.limitReached() ? EFBIG : EILSEQ;
        }
        done += got;
    }
    return decoder.finish() ? 0 : EILSEQ;
}

}  // namespace harvix::cache2
