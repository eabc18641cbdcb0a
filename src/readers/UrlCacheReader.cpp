#include "readers/UrlCacheReader.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <vector>

#include "engine/ErrorReport.h"
#include "filter/ContentType.h"
#include "platform/Text.h"
#include "readers/MsiecfUrlCache.h"

namespace harvix {

namespace {

// Windows file time of 1970-01-01 00:00 UTC.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;

// Copies the rest of `in` into `out`: in the kernel where the file systems
// allow it, else through a small buffer. False with errno set on failure.
bool CopyContent(int in, int out) {
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    for (;;) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
            errno != EPERM) {
            return false;
        }
        break;  // not between these file systems: fall back
    }
    // Both calls leave the file offsets after what they copied, so the
    // fallbacks go on from there.
    for (;;) {
        const ssize_t n = sendfile(out, in, nullptr, kChunk);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return false;
        }
        break;
    }
    std::vector<char> buffer(std::size_t{128} * 1024);
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(n)) {
            const ssize_t w = write(out, buffer.data() + done, static_cast<std::size_t>(n) - done);
            if (w < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            done += static_cast<std::size_t>(w);
        }
    }
}

// A fresh file beside `target`, created exclusively with the usual
// permissions; -1 with errno set when none can be made.
int CreateSiblingTemp(const fs::path& target, std::string& tempPath) {
    static std::atomic<uint64_t> counter{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 32; ++attempt) {
        const auto ticks =
            static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%lx.%llx.part", static_cast<long>(getpid()),
                      static_cast<unsigned long long>(ticks ^ (++counter << 40)));
        tempPath = (folder / ("." + target.filename().string() + suffix)).string();
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Copies the whole regular file `source` to `target` through a temporary
// file in the target's folder that is renamed into place, so that a failure
// never leaves a partial target. With `failIfExists`, an existing target is
// left alone and the copy fails. False with errno set on failure.
bool CopyWholeFile(const fs::path& source, const fs::path& target, bool failIfExists) {
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    struct stat st {};
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        errno = EINVAL;
        return false;
    }
    struct stat existing {};
    if (failIfExists && lstat(target.c_str(), &existing) == 0) {
        close(in);
        errno = EEXIST;
        return false;
    }
    std::string temp;
    const int out = CreateSiblingTemp(target, temp);
    if (out < 0) {
        const int saved = errno;
        close(in);
        errno = saved;
        return false;
    }
    bool ok = CopyContent(in, out);
    int saved = errno;
    close(in);
    if (close(out) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok) {
        if (failIfExists) {
            // link() refuses an existing name, so a target that appeared in
            // the meantime is still left alone.
            ok = link(temp.c_str(), target.c_str()) == 0;
        } else {
            ok = rename(temp.c_str(), target.c_str()) == 0;
        }
        saved = errno;
    }
    unlink(temp.c_str());  // after a rename this finds nothing
    errno = saved;
    return ok;
}

}  // namespace

UrlCacheReader::UrlCacheReader() : UrlCacheReader(std::make_unique<MsiecfUrlCache>()) {}

UrlCacheReader::UrlCacheReader(std::unique_ptr<UrlCacheService> service)
    : service_(std::move(service)) {}

UrlCacheReader::~UrlCacheReader() {
    close();
}

void UrlCacheReader::close() {
    service_->close();
}

void UrlCacheReader::open() {
    if (!service_->open()) {
        throw ErrorReport(ErrorReport::IECache, ErrorReport::FileOpen, service_->failureText());
    }
}

int64_t UrlCacheReader::entryTime(uint64_t lastSyncTime) {
    if (lastSyncTime < kUnixEpochFileTime) {
        return 0;
    }
    return static_cast<int64_t>((lastSyncTime - kUnixEpochFileTime) / 10000000u);
}

void UrlCacheReader::readEntries() {
    UrlCacheEntryInfo info;
    const std::unique_ptr<UrlCacheEnumeration> enumeration = service_->findFirst(info);
    if (!enumeration) {
        return;
    }
    do {
        if ((info.cacheEntryType & (kCookieCacheEntry | kUrlHistoryCacheEntry)) != 0 ||
            !info.hasHeaderInfo || info.sourceUrl.empty() || info.localFileName.empty()) {
            continue;
        }
        auto entry = std::make_unique<CacheEntry>();
        entry->url = info.sourceUrl;
        entry->dataFile = info.localFileName;
        entry->size = static_cast<int32_t>(info.sizeLow);
        // The whole header text as stored, not lower-cased: a key word in
        // any header line counts.
        entry->contentType = contentTypeFromWideText(info.headerInfo);
        entry->time = entryTime(info.lastSyncTime);
        entries.push_back(std::move(entry));
    } while (enumeration->next(info));
}

bool UrlCacheReader::copyEntryData(CacheEntry& entry, const fs::path& target, bool failIfExists) {
    if (!CopyWholeFile(pathFromUtf8(entry.dataFile), target, failIfExists)) {
        throw ErrorReport(ErrorReport::IECache, ErrorReport::FileCopy, entry.dataFile,
                          pathToUtf8(target));
    }
    return true;
}

}  // namespace harvix
