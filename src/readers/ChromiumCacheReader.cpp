#include "readers/ChromiumCacheReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "engine/ErrorReport.h"
#include "filter/ContentType.h"
#include "platform/FileHandle.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "readers/http/BodyDecoder.h"

namespace harvix {

namespace {

// A copy being written: a hidden temporary name in the target's folder,
// given the target's name only when complete (never over another file when
// the caller asks so); removed when the copy fails.
class PendingCopy {
public:
    explicit PendingCopy(const fs::path& target) {
        static std::atomic<unsigned> counter{0};
        const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, ".hx-%ld-%u.tmp", static_cast<long>(getpid()),
                          counter.fetch_add(1));
            temp_ = folder / name;
            fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            if (fd_ < 0 && errno != EEXIST)
                break;
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
    bool write(const unsigned char* data, std::size_t length) {
        while (length > 0) {
            const ssize_t n = ::write(fd_, data, length);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            length -= static_cast<std::size_t>(n);
        }
        return true;
    }
    bool commit(const fs::path& target, bool failIfExists) {
        if (::close(fd_) != 0) {
            fd_ = -1;
            ::unlink(temp_.c_str());
            return false;
        }
        fd_ = -1;
        const bool named = failIfExists ? ::link(temp_.c_str(), target.c_str()) == 0
                                        : ::rename(temp_.c_str(), target.c_str()) == 0;
        const int error = errno;
        if (failIfExists || !named)
            ::unlink(temp_.c_str());
        errno = error;
        return named;
    }

private:
    fs::path temp_;
    int fd_ = -1;
};

// The most a decoded body may grow to: a bound on decompression bombs.
uint64_t decodedLimit(uint64_t stored) {
    constexpr uint64_t kFloor = uint64_t{64} << 20;
    constexpr uint64_t kCeiling = uint64_t{4} << 30;
    return std::min(kCeiling, std::max(kFloor, stored * 200));
}

}  // namespace

ChromiumCacheReader::ChromiumCacheReader(std::string browser, std::string given)
    : browser_(std::move(browser)), given_(std::move(given)) {}

void ChromiumCacheReader::open() {
    folders_.clear();
    failure_.clear();
    std::vector<fs::path> places;
    if (!given_.empty()) {
        places.push_back(pathFromUtf8(given_));
    } else {
        places = chromium::browserCacheRoots(browser_, platformServices().localAppDataFolder(),
                                             platformServices().homeFolder());
    }
    for (const fs::path& place : places) {
        for (chromium::CacheFolder& folder : chromium::findCacheFolders(place)) {
            folders_.push_back(std::move(folder));
        }
    }
    if (folders_.empty()) {
        const fs::path tried =
            places.empty() ? platformServices().localAppDataFolder() : places.front();
        failure_ = "no " + browser_ + " cache found in " + pathToUtf8(tried);
        errno = ENOENT;
        throw ErrorReport(ErrorReport::ChromiumCache, ErrorReport::FileOpen, pathToUtf8(tried));
    }
    cacheFolder = pathToUtf8(folders_.front().browserRoot);
}

void ChromiumCacheReader::close() {
    folders_.clear();
}

void ChromiumCacheReader::readEntries() {
    skipped_.clear();
    std::vector<chromium::CacheRecord> records;
    const chromium::SkipReport skip = [this](const std::string& reason) { ++skipped_[reason]; };
    for (const chromium::CacheFolder& folder : folders_) {
        records.clear();
        try {
            chromium::readCacheFolder(folder, records, skip);
        } catch (const std::runtime_error& error) {
            ++skipped_[std::string("unreadable cache folder (") + error.what() + ")"];
            continue;
        }
        for (chromium::CacheRecord& record : records) {
            // The entry's size field holds at most 2 GiB - 1; larger bodies are left out.
            if (record.size > 0x7fffffffu) {
                ++skipped_["body larger than 2 GiB"];
                continue;
            }
            auto element = std::make_unique<Element>();
            element->url = std::move(record.url);
            element->contentTypeText = std::move(record.contentTypeText);
            element->contentType = contentTypeFromText(element->contentTypeText);
            element->size = static_cast<int32_t>(record.size);
            element->time = record.time;
            element->dataFile = std::move(record.dataFile);
            element->bodyFile = std::move(record.bodyFile);
            element->bodyOffset = record.bodyOffset;
            element->bodyLength = record.size;
            element->encoding = record.encoding;
            entries.push_back(std::move(element));
        }
    }
}

bool ChromiumCacheReader::copyEntryData(CacheEntry& entry, const fs::path& target,
                                        bool failIfExists) {
    auto* element = dynamic_cast<Element*>(&entry);
    const std::string targetText = pathToUtf8(target);
    if (element == nullptr) {
        errno = EINVAL;
        throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                          ErrorReport::FileRead, entry.dataFile);
    }
    const std::string source = pathToUtf8(element->bodyFile);
    const FileHandle file = FileHandle::openForReading(element->bodyFile);
    if (!file) {
        errno = file.error();
        throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                          ErrorReport::FileOpen, source);
    }
    const uint64_t fileSize = file.size();
    if (element->bodyOffset > fileSize || element->bodyLength > fileSize - element->bodyOffset) {
        errno = ENODATA;
        throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                          ErrorReport::FileRead, source);
    }
    PendingCopy copy(target);
    if (copy.fd() < 0) {
        throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                          ErrorReport::FileOpen, targetText);
    }
    if (element->encoding == ContentEncoding::Identity) {
        if (!copyRange(file, element->bodyOffset, element->bodyLength, copy.fd())) {
            throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                              ErrorReport::FileCopy, source, targetText);
        }
    } else {
        BodyDecoder decoder(element->encoding, decodedLimit(element->bodyLength));
        const auto sink = [&copy](std::span<const unsigned char> bytes) {
            return copy.write(bytes.data(), bytes.size());
        };
        std::vector<unsigned char> buffer(
            static_cast<std::size_t>(std::min<uint64_t>(element->bodyLength, 256 * 1024)));
        uint64_t done = 0;
        while (done < element->bodyLength) {
            const std::size_t chunk = static_cast<std::size_t>(
                std::min<uint64_t>(buffer.size(), element->bodyLength - done));
            if (!file.readExactAt(element->bodyOffset + done, buffer.data(), chunk)) {
                throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                                  ErrorReport::FileRead, source);
            }
            if (!decoder.feed(std::span(buffer.data(), chunk), sink)) {
                errno = EILSEQ;
                throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                                  ErrorReport::FileWrite, targetText);
            }
            done += chunk;
        }
        if (!decoder.finish()) {
            errno = EILSEQ;
            throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                              ErrorReport::FileWrite, targetText);
        }
    }
    if (!copy.commit(target, failIfExists)) {
        throw ErrorReport(ErrorReport::CopyStep{}, ErrorReport::ChromiumCache,
                          ErrorReport::FileWrite, targetText);
    }
    return true;
}

}  // namespace harvix
