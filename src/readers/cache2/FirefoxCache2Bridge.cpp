#include "readers/cache2/FirefoxCache2Bridge.h"

#if !__has_include("readers/BodyCopy.h")

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "engine/ErrorReport.h"
#include "filter/ContentType.h"
#include "platform/Text.h"
#include "readers/cache2/Cache2Body.h"

namespace harvix {

namespace {

std::string lowerAscii(std::string text) {
    for (char& ch : text) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
    }
    return text;
}

// A new file beside the target, given the target's name only when complete.
class PendingCopy {
public:
    explicit PendingCopy(const fs::path& target) : target_(target) {
        static std::atomic<unsigned> counter{0};
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, ".hx-%ld-%u.tmp", static_cast<long>(getpid()),
                          counter.fetch_add(1));
            temp_ = folder / name;
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            if (fd_ < 0 && errno != EEXIST) {
                break;
            }
        }
    }
    ~PendingCopy() {
        if (fd_ >= 0) {
            const int error = errno;
            ::close(fd_);
            ::unlink(temp_.c_str());
            errno = error;
        }
    }
    PendingCopy(const PendingCopy&) = delete;
    PendingCopy& operator=(const PendingCopy&) = delete;

    int fd() const { return fd_; }

    // Names the file; with `failIfExists` an existing target is kept and
    // the copy fails with EEXIST.
    bool commit(bool failIfExists) {
        const int fd = fd_;
        fd_ = -1;
        bool ok = ::close(fd) == 0;
        if (ok) {
            ok = failIfExists ? ::link(temp_.c_str(), target_.c_str()) == 0
                              : ::rename(temp_.c_str(), target_.c_str()) == 0;
        }
        const int error = errno;
        ::unlink(temp_.c_str());
        errno = error;
        return ok;
    }

private:
    fs::path target_;
    fs::path temp_;
    int fd_ = -1;
};

}  // namespace

FirefoxCache2Bridge::FirefoxCache2Bridge(const fs::path& folder) : folder_(folder) {
    cacheFolder = pathToUtf8(folder);
}

void FirefoxCache2Bridge::open() {
    // The folder this reader reads, also after a caller cleared it (the
    // options dialog's Find Cache shows it).
    cacheFolder = pathToUtf8(folder_);
    const fs::path entriesFolder = cache2::entriesFolderOf(folder_);
    std::error_code ec;
    if (folder_.empty() || !fs::is_directory(entriesFolder, ec)) {
        errno = ENOENT;
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileOpen,
                          pathToUtf8(entriesFolder));
    }
}

void FirefoxCache2Bridge::readEntries() {
    counts_ = {};
    const fs::path entriesFolder = cache2::entriesFolderOf(folder_);
    const bool ok = cache2::listEntries(
        entriesFolder,
        [&](cache2::ListedEntry&& listed) {
            auto entry = std::make_unique<Entry>();
            entry->url = cp1252ToUtf8(listed.url);
            entry->contentTypeText = cp1252ToUtf8(listed.contentType);
            entry->contentType = contentTypeFromText(lowerAscii(listed.contentType));
            entry->bodyLength = listed.bodyLength;
            entry->size = static_cast<int32_t>(std::min<uint64_t>(listed.bodyLength, INT32_MAX));
            entry->time = listed.lastModified;
            entry->dataFile = listed.fileName;
            entry->encoding = listed.encoding;
            entries.push_back(std::move(entry));
        },
        counts_);
    if (!ok) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileRead,
                          pathToUtf8(entriesFolder));
    }
}

bool FirefoxCache2Bridge::copyEntryData(CacheEntry& element, const fs::path& target,
                                        bool failIfExists) {
    auto* entry = dynamic_cast<Entry*>(&element);
    const fs::path entriesFolder = cache2::entriesFolderOf(folder_);
    const std::string source = pathToUtf8(entriesFolder / element.dataFile);
    const std::string targetText = pathToUtf8(target);
    if (entry == nullptr) {
        errno = EINVAL;
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileCopy, source, targetText);
    }
    std::error_code ec;
    if (failIfExists && fs::exists(fs::symlink_status(target, ec))) {
        errno = EEXIST;
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileCopy, source, targetText);
    }
    PendingCopy pending(target);
    if (pending.fd() < 0) {
        throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::MozillaCache, ErrorReport::FileOpen,
                          targetText);
    }
    if (!cache2::copyEntryBody(entriesFolder, entry->dataFile, entry->bodyLength, entry->encoding,
                               pending.fd())) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileCopy, source, targetText);
    }
    if (!pending.commit(failIfExists)) {
        throw ErrorReport(ErrorReport::MozillaCache, ErrorReport::FileCopy, source, targetText);
    }
    return true;
}

}  // namespace harvix

#endif
