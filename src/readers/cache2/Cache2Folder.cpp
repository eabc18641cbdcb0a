#include "readers/cache2/Cache2Folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "readers/cache2/Cache2Format.h"

namespace harvix::cache2 {

namespace {

// Most entries' metadata is well under this; one read then takes all of it.
constexpr std::size_t kFirstTailRead = 4096;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool readExactAt(int fd, uint64_t offset, unsigned char* buffer, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Opens `name` in the folder `dirFd`: a regular file only, never through a
// link, never waiting on a FIFO or device.
TailParse readTail(int dirFd, const char* name, std::vector<unsigned char>& buffer) {
    TailParse unreadable;
    const Descriptor file(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        return unreadable;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        return unreadable;
    }
    const auto fileSize = static_cast<uint64_t>(info.st_size);
    std::size_t tailSize =
        fileSize < kFirstTailRead ? static_cast<std::size_t>(fileSize) : kFirstTailRead;
    for (int round = 0; round < 2; ++round) {
        buffer.resize(tailSize);
        if (!readExactAt(file.get(), fileSize - tailSize, buffer.data(), tailSize)) {
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

TailParse readEntryFile(const fs::path& entriesFolder, const std::string& fileName) {
    const Descriptor dir(
        ::open(entriesFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (dir.get() < 0 || !isEntryFileName(fileName)) {
        return {};
    }
    std::vector<unsigned char> buffer;
    return readTail(dir.get(), fileName.c_str(), buffer);
}

bool listEntries(const fs::path& entriesFolder, const std::function<void(ListedEntry&&)>& listed,
                 ListingCounts& counts) {
    const int dirFd = ::open(entriesFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return false;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        const int error = errno;
        ::close(dirFd);
        errno = error;
        return false;
    }
    std::vector<unsigned char> buffer;
    buffer.reserve(kFirstTailRead);
    while (const dirent* item = ::readdir(dir)) {
        if (item->d_type != DT_REG && item->d_type != DT_UNKNOWN) {
            continue;  // folders, links, FIFOs: not entry files
        }
        if (!isEntryFileName(item->d_name)) {
            continue;
        }
        TailParse parsed = readTail(dirFd, item->d_name, buffer);
        if (parsed.status == TailStatus::UnknownVersion) {
            ++counts.leftOut[kReasonUnknownVersion];
            continue;
        }
        if (parsed.status != TailStatus::Parsed) {
            ++counts.unreadable;
            continue;
        }
        EntryRecord& record = parsed.record;
        if (std::optional<std::string> reason = reasonToLeaveOut(record)) {
            ++counts.leftOut[*reason];
            continue;
        }
        ListedEntry entry;
        entry.fileName = item->d_name;
        entry.url = std::move(record.url);
        entry.contentType = record.head.contentType();
        entry.bodyLength = record.bodyLength;
        entry.lastModified = record.lastModified;
        entry.encoding = record.head.contentEncoding();
        ++counts.listed;
        listed(std::move(entry));
    }
    ::closedir(dir);  // closes dirFd too
    return true;
}

}  // namespace harvix::cache2
