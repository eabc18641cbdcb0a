#include "readers/FirefoxCacheReader.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "engine/ErrorReport.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "readers/FirefoxCacheMetadata.h"

namespace harvix {

namespace {

constexpr const char* kCacheFileNames[4] = {"_CACHE_MAP_", "_CACHE_001_", "_CACHE_002_",
                                            "_CACHE_003_"};

uint32_t BigEndian32(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

// Opens an existing regular file for reading. Never blocks on a FIFO or a
// device that stands where a cache file should be. -1 (errno set) on failure.
int OpenRegularFile(const fs::path& path, uint64_t* size = nullptr) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    if (size != nullptr) {
        *size = static_cast<uint64_t>(info.st_size);
    }
    return fd;
}

// Reads up to `length` bytes at `offset`; returns how many were read (fewer
// at the end of the file or on a read error).
std::size_t ReadAt(int fd, uint64_t offset, std::size_t length, unsigned char* buffer) {
    std::size_t done = 0;
    while (done < length) {
        const uint64_t at = offset + done;
        if (at > static_cast<uint64_t>(INT64_MAX)) {
            break;
        }
        const ssize_t n = pread(fd, buffer + done, length - done, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the rest of `in` to `out`, by the kernel where it can
// (copy_file_range, then sendfile), else through a small buffer. Memory
// use does not grow with the size of the file.
bool CopyFileContents(int in, int out) {
    bool tryCopyRange = true;
    bool trySendfile = true;
    std::vector<unsigned char> buffer;
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    for (;;) {
        ssize_t n = 0;
        if (tryCopyRange) {
            n = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                          errno == EOPNOTSUPP || errno == EPERM)) {
                tryCopyRange = false;
                continue;
            }
        } else if (trySendfile) {
            n = sendfile(out, in, nullptr, kChunk);
            if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                trySendfile = false;
                continue;
            }
        } else {
            if (buffer.empty()) {
                buffer.resize(std::size_t{256} * 1024);
            }
            n = read(in, buffer.data(), buffer.size());
            if (n > 0 && !WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
                return false;
            }
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return true;
        }
    }
}

// A file being written beside its target. It only becomes the target when
// Commit succeeds; otherwise it is removed, so that a failed copy never
// leaves an empty or partial file under the target's name, and an existing
// target stays as it was.
class PendingFile {
public:
    explicit PendingFile(const fs::path& target) : target_(target) {
        static std::atomic<unsigned> counter{0};
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, ".hx-%ld-%u.tmp", static_cast<long>(getpid()),
                          counter.fetch_add(1));
            temp_ = folder / name;
            fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            if (fd_ < 0 && errno != EEXIST) {
                break;
            }
        }
    }
    ~PendingFile() {
        if (fd_ >= 0) {
            const int error = errno;
            ::close(fd_);
            unlink(temp_.c_str());
            errno = error;
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int fd() const { return fd_; }

    // Closes the file and puts it in the target's place; with
    // `failIfExists`, an existing target is not replaced.
    bool Commit(bool failIfExists) {
        const int fd = fd_;
        fd_ = -1;
        bool ok = close(fd) == 0;
        if (ok) {
            if (failIfExists) {
                ok = link(temp_.c_str(), target_.c_str()) == 0;
            } else {
                ok = rename(temp_.c_str(), target_.c_str()) == 0;
            }
        }
        if (!ok || failIfExists) {
            const int error = errno;
            unlink(temp_.c_str());
            errno = error;
        }
        return ok;
    }

private:
    fs::path target_;
    fs::path temp_;
    int fd_ = -1;
};

bool Exists(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

FirefoxCacheReader::FirefoxCacheReader() = default;

FirefoxCacheReader::~FirefoxCacheReader() {
    close();
}

void FirefoxCacheReader::close() {
    for (int& fd : files_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    fileSizes_ = {};
    opened = false;
}

void FirefoxCacheReader::open() {
    opened = false;
    if (cacheFolder.empty()) {
        cacheFolder = findCacheFolder();
    }
    const fs::path folder = pathFromUtf8(cacheFolder);
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const fs::path path = folder / kCacheFileNames[i];
        if (files_[i] >= 0) {
            ::close(files_[i]);
            files_[i] = -1;
        }
        if (cacheFolder.empty()) {
            // No folder: never look for cache files in the current folder.
            errno = ENOENT;
        } else {
            files_[i] = OpenRegularFile(path, &fileSizes_[i]);
        }
        if (files_[i] < 0) {
            throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileOpen, pathToUtf8(path));
        }
    }
    opened = true;
}

std::string FirefoxCacheReader::findCacheFolder() {
    const fs::path base = platformServices().localAppDataFolder();
    if (base.empty()) {
        return {};
    }
    const fs::path profiles = base / "mozilla" / "firefox";
    std::error_code ec;
    fs::directory_iterator it(profiles, ec);
    if (ec) {
        return {};
    }
    // The first profile folder in byte order of the names, so that the
    // choice does not depend on the order in which the system lists them.
    std::string first;
    bool found = false;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        std::error_code typeError;
        if (!it->is_directory(typeError)) {
            continue;
        }
        std::string name = it->path().filename().string();
        if (!found || name < first) {
            first = std::move(name);
            found = true;
        }
    }
    if (!found) {
        return {};
    }
    return pathToUtf8(profiles / first / "Cache");
}

std::vector<std::string> FirefoxCacheReader::separateFileNames(uint32_t hash, uint32_t generation,
                                                               char letter) {
    generation &= 0xFFu;
    char decimal[32];
    char hex[32];
    char nested[40];
    std::snprintf(decimal, sizeof decimal, "%08X%c%02u", hash, letter, generation);
    std::snprintf(hex, sizeof hex, "%08X%c%02X", hash, letter, generation);
    std::snprintf(nested, sizeof nested, "%X/%02X/%05X%c%02X", hash >> 28, (hash >> 20) & 0xFFu,
                  hash & 0xFFFFFu, letter, generation);
    std::vector<std::string> names{decimal};
    if (names.front() != hex) {
        names.emplace_back(hex);
    }
    names.emplace_back(nested);
    return names;
}

void FirefoxCacheReader::readEntries() {
    if (!opened) {
        return;
    }
    for (std::size_t i = 1; i < claimed_.size(); ++i) {
        claimed_[i].clear();
        claimed_[i].shrink_to_fit();
    }
    itemBuffer_.resize(kMaxItemSize);

    constexpr std::size_t kRecordsPerRead = 4096;
    std::vector<unsigned char> chunk(kRecordsPerRead * kMapRecordSize);
    uint64_t offset = kMapHeaderSize;
    bool readError = false;
    while (entries.size() < kMaxEntries) {
        std::size_t got = 0;
        for (;;) {
            const ssize_t n =
                pread(files_[0], chunk.data(), chunk.size(), static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            readError = n < 0;
            got = n > 0 ? static_cast<std::size_t>(n) : 0;
            break;
        }
        const std::size_t records = got / kMapRecordSize;
        if (records == 0) {
            break;  // end of the map; a trailing partial record is ignored
        }
        for (std::size_t r = 0; r < records && entries.size() < kMaxEntries; ++r) {
            readRecord(chunk.data() + r * kMapRecordSize);
        }
        offset += records * kMapRecordSize;
    }
    itemBuffer_.clear();
    itemBuffer_.shrink_to_fit();
    for (auto& claimed : claimed_) {
        claimed.clear();
        claimed.shrink_to_fit();
    }
    if (readError) {
        close();  // the map cannot be read on: keep what was read so far
    }
}

void FirefoxCacheReader::readRecord(const unsigned char* record) {
    const uint32_t hash = BigEndian32(record);
    const uint32_t dataLocation = BigEndian32(record + 8);
    const uint32_t metaLocation = BigEndian32(record + 12);
    if (hash == 0) {
        return;
    }
    auto entry = std::make_unique<FirefoxCacheEntry>();
    entry->hashNumber = hash;
    entry->dataLocation = dataLocation;
    entry->metaFileIndex = fileSelector(metaLocation);
    if (entry->metaFileIndex != 0) {
        const uint32_t selector = entry->metaFileIndex;
        const uint32_t blockSize = FirefoxCacheReader::blockSize(selector);
        const uint32_t blocks = extraBlocks(metaLocation) + 1;
        const uint32_t first = firstBlock(metaLocation);
        // Two records never share metadata blocks in a sound cache; a record
        // that would is skipped, so that a damaged map cannot multiply one
        // item into any number of entries.
        if (!claimBlocks(selector, first, blocks)) {
            return;
        }
        const uint64_t offset = kBlockFileHeaderSize + uint64_t{first} * blockSize;
        const std::size_t length = std::size_t{blocks} * blockSize;
        const std::size_t got = readItem(selector, offset, length, itemBuffer_.data());
        readCacheMetadata(itemBuffer_.data(), got, *entry);
        if (entry->url.empty() || entry->size == 0) {
            return;
        }
    }
    entry->dataFileIndex = fileSelector(dataLocation);
    if (entry->dataFileIndex != 0) {
        const uint32_t blockSize = FirefoxCacheReader::blockSize(entry->dataFileIndex);
        entry->dataFile = "_CACHE_00" + std::to_string(entry->dataFileIndex);
        entry->dataOffset = kBlockFileHeaderSize + uint64_t{firstBlock(dataLocation)} * blockSize;
        entry->dataLength = (extraBlocks(dataLocation) + 1) * blockSize;
    } else {
        entry->dataFile = separateFileNames(hash, generation(dataLocation), 'd').front();
    }
    entries.push_back(std::move(entry));
}

std::size_t FirefoxCacheReader::readItem(uint32_t selector, uint64_t offset, std::size_t length,
                                         unsigned char* buffer) {
    if (selector < 1 || selector > 3 || files_[selector] < 0) {
        return 0;
    }
    length = std::min(length, kMaxItemSize);
    return ReadAt(files_[selector], offset, length, buffer);
}

bool FirefoxCacheReader::claimBlocks(uint32_t selector, uint32_t firstBlock, uint32_t count) {
    std::vector<bool>& claimed = claimed_[selector];
    if (claimed.empty()) {
        // One flag per block that the file holds (at most 2^24 blocks).
        const uint64_t size = fileSizes_[selector];
        const uint64_t blockSize = FirefoxCacheReader::blockSize(selector);
        const uint64_t blocks = size > kBlockFileHeaderSize
                                    ? (size - kBlockFileHeaderSize + blockSize - 1) / blockSize
                                    : 0;
        claimed.assign(static_cast<std::size_t>(std::min<uint64_t>(blocks, uint64_t{1} << 24)) + 1,
                       false);
    }
    // The last flag stands for "past the end of the file", where nothing can
    // be read and so nothing can be multiplied.
    const std::size_t limit = claimed.size() - 1;
    const std::size_t begin = std::min<std::size_t>(firstBlock, limit);
    const std::size_t end = std::min<std::size_t>(std::size_t{firstBlock} + count, limit);
    for (std::size_t b = begin; b < end; ++b) {
        if (claimed[b]) {
            return false;
        }
    }
    for (std::size_t b = begin; b < end; ++b) {
        claimed[b] = true;
    }
    return true;
}

bool FirefoxCacheReader::copyEntryData(CacheEntry& entry, const fs::path& target,
                                       bool failIfExists) {
    auto* element = dynamic_cast<FirefoxCacheEntry*>(&entry);
    if (element == nullptr) {
        return false;
    }
    if (element->dataFileIndex == 0) {
        return copySeparateData(*element, target, failIfExists);
    }
    try {
        return copyBlockData(*element, target, failIfExists);
    } catch (const ErrorReport&) {
        return false;
    }
}

bool FirefoxCacheReader::copyBlockData(const FirefoxCacheEntry& entry, const fs::path& target,
                                       bool failIfExists) {
    const std::string source = pathToUtf8(pathFromUtf8(cacheFolder) / entry.dataFile);
    const std::string targetText = pathToUtf8(target);
    const uint32_t selector = entry.dataFileIndex;
    if (selector > 3 || files_[selector] < 0) {
        errno = EBADF;
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileRead, source);
    }
    std::vector<unsigned char> buffer(std::min<std::size_t>(entry.dataLength, kMaxItemSize));
    const std::size_t got = readItem(selector, entry.dataOffset, buffer.size(), buffer.data());
    if (got == 0) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileRead, source);
    }
    if (failIfExists && Exists(target)) {
        errno = EEXIST;
        throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::MozillaCache, ErrorReport::FileOpen,
                          targetText);
    }
    // The data's exact size, but never more than the bytes that were read.
    const std::size_t count =
        entry.size > 0 ? std::min(static_cast<std::size_t>(entry.size), got) : 0;
    if (count == 0) {
        errno = ENODATA;
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileWrite, targetText);
    }
    PendingFile pending(target);
    if (pending.fd() < 0) {
        throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::MozillaCache, ErrorReport::FileOpen,
                          targetText);
    }
    if (!WriteAll(pending.fd(), buffer.data(), count)) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileWrite, targetText);
    }
    if (!pending.Commit(failIfExists)) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileWrite, targetText);
    }
    return true;
}

bool FirefoxCacheReader::copySeparateData(const FirefoxCacheEntry& entry, const fs::path& target,
                                          bool failIfExists) {
    const fs::path folder = pathFromUtf8(cacheFolder);
    const std::string targetText = pathToUtf8(target);
    const fs::path flat = folder / entry.dataFile;
    // The name the entry reports first, then the names Firefox writes.
    int source = -1;
    if (!cacheFolder.empty()) {
        for (const std::string& name :
             separateFileNames(entry.hashNumber, generation(entry.dataLocation), 'd')) {
            source = OpenRegularFile(folder / name);
            if (source >= 0) {
                break;
            }
        }
    } else {
        errno = ENOENT;
    }
    if (source < 0) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileCopy, pathToUtf8(flat),
                          targetText);
    }
    struct SourceCloser {
        int fd;
        ~SourceCloser() { ::close(fd); }
    } closer{source};
    if (failIfExists && Exists(target)) {
        errno = EEXIST;
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileCopy, pathToUtf8(flat),
                          targetText);
    }
    PendingFile pending(target);
    if (pending.fd() < 0 || !CopyFileContents(source, pending.fd()) ||
        !pending.Commit(failIfExists)) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileCopy, pathToUtf8(flat),
                          targetText);
    }
    return true;
}

}  // namespace harvix
