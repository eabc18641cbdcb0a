#include "readers/cache2/Cache2Folder.h"

#include <cerrno>
#include <vector>

#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/cache2/Cache2Format.h"

namespace harvix::cache2 {

namespace {

// Most entries' metadata is well under this; one read then takes all of it.
constexpr std::size_t kFirstTailRead = 4096;

// Reads the tail of `name` in `folder`, below the resolved cache folder
// `root`: a regular file only, never through a link, never waiting on a FIFO
// or a device.
TailParse readTail(const fs::path& root, const fs::path& folder, const std::string& name,
                   std::vector<unsigned char>& buffer) {
    TailParse unreadable;
    unreadable.reason = kReasonUnreadableFile;
    const FileHandle file = FileHandle::openBelow(root, folder / name);
    if (!file) {
        if (file.error() == ELOOP || file.error() == EINVAL || file.error() == EISDIR) {
            unreadable.reason = kReasonNotRegularFile;
        }
        return unreadable;
    }
    const uint64_t fileSize = file.size();
    if (fileSize == 0) {
        unreadable.reason = kReasonBadOffset;  // not even an offset word
        return unreadable;
    }
    std::size_t tailSize =
        fileSize < kFirstTailRead ? static_cast<std::size_t>(fileSize) : kFirstTailRead;
    for (int round = 0; round < 2; ++round) {
        buffer.resize(tailSize);
        if (!file.readExactAt(fileSize - tailSize, buffer.data(), tailSize)) {
            return unreadable;
        }
        TailParse parsed = parseEntryTail(buffer, fileSize);
        if (parsed.status != TailStatus::NeedLongerTail) {
            return parsed;
        }
        // parseEntryTail bounds neededTail by the largest metadata it accepts.
        tailSize = static_cast<std::size_t>(parsed.neededTail);
    }
    return unreadable;
}

}  // namespace

fs::path entriesFolderOf(const fs::path& cache2Folder) {
    return cache2Folder / kEntriesFolder;
}

bool isEntryFileName(std::string_view name) {
    if (name.size() != kEntryNameLength) {
        return false;
    }
    for (const char ch : name) {
        const bool hex =
            (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
        if (!hex) {
            return false;
        }
    }
    return true;
}

TailParse readEntryFile(const fs::path& root, const fs::path& entriesFolder,
                        const std::string& fileName) {
    if (!isEntryFileName(fileName)) {
        TailParse none;
        none.reason = kReasonUnreadableFile;
        return none;
    }
    std::vector<unsigned char> buffer;
    return readTail(root, entriesFolder, fileName, buffer);
}

std::optional<ErrorReport> listEntries(const fs::path& root, const fs::path& entriesFolder,
                                       const std::function<void(ListedEntry&&)>& listed,
                                       ListingCounts& counts,
                                       const std::function<bool()>& keepGoing) {
    std::error_code ec;
    fs::directory_iterator it(entriesFolder, ec);
    if (ec) {
        return ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen,
                           pathToUtf8(entriesFolder), {}, ec.value());
    }
    std::vector<unsigned char> buffer;
    buffer.reserve(kFirstTailRead);
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;  // the folder changed under us: what was read stands
        }
        if (keepGoing && !keepGoing()) {
            break;
        }
        // Only names Firefox gives entry files count; its own files (index)
        // are passed over.
        const std::string name = it->path().filename().string();
        if (!isEntryFileName(name)) {
            continue;
        }
        // The type from the directory listing: links, folders and FIFOs are
        // not opened.
        std::error_code typeError;
        if (it->is_symlink(typeError) || !it->is_regular_file(typeError)) {
            ++counts.leftOut[kReasonNotRegularFile];
            continue;
        }
        TailParse parsed = readTail(root, entriesFolder, name, buffer);
        if (parsed.status == TailStatus::UnknownVersion) {
            ++counts.leftOut[kReasonUnknownVersion];
            continue;
        }
        if (parsed.status != TailStatus::Parsed) {
            ++counts.leftOut[parsed.reason != nullptr ? parsed.reason : kReasonUnreadableFile];
            continue;
        }
        EntryRecord& record = parsed.record;
        if (std::optional<std::string> reason = reasonToLeaveOut(record)) {
            ++counts.leftOut[*reason];
            continue;
        }
        ListedEntry entry;
        entry.fileName = name;
        entry.url = std::move(record.url);
        entry.contentType = record.head.contentType();
        entry.bodyLength = record.bodyLength;
        entry.lastModified = record.lastModified;
        entry.lastFetched = record.lastFetched;
        entry.expiration = record.expiration;
        entry.status = static_cast<uint16_t>(record.head.status);
        entry.encoding = record.head.contentEncoding();
        ++counts.listed;
        listed(std::move(entry));
    }
    return std::nullopt;
}

}  // namespace harvix::cache2
