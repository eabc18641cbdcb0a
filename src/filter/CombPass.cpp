// The comb pass: preparing the target folders, visiting the entries,
// matching them and saving the matches under free names, with the picture
// test and the duplicate test made on the copy before it has a name.
#include "filter/CombPass.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "base/ContentType.h"
#include "base/Text.h"
#include "filter/ImageSize.h"
#include "platform/FileHandle.h"
#include "platform/FileRead.h"
#include "platform/NewFile.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/BodyCopy.h"

namespace harvix {

namespace {

// Files are compared and digested in pieces of this size, never whole.
constexpr std::size_t kChunkBytes = 64 * 1024;

// Longest file name the file systems take (bytes).
constexpr std::size_t kMaxNameBytes = 255;

// Reads an open file from its start in pieces of at most kChunkBytes.
class ChunkReader {
public:
    ChunkReader(int fd, uint64_t bytes)
        : fd_(fd),
          capacity_(static_cast<std::size_t>(std::min<uint64_t>(bytes, kChunkBytes))),
          buffer_(std::make_unique_for_overwrite<unsigned char[]>(capacity_)) {}

    const unsigned char* data() const { return buffer_.get(); }

    // Fills the buffer with the next `want` bytes (want <= the capacity);
    // false when the file ends first or cannot be read.
    bool next(std::size_t want) {
        if (readFromDescriptor(fd_, offset_, buffer_.get(), want) != want) {
            return false;
        }
        offset_ += want;
        return true;
    }

private:
    int fd_;
    uint64_t offset_ = 0;
    std::size_t capacity_;
    std::unique_ptr<unsigned char[]> buffer_;
};

uint64_t load64(const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

uint64_t mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

// A fast 64-bit digest of the first `n` bytes of an open file (four
// independent lanes over 32-byte blocks); nothing when the file cannot be
// read or is shorter. Equal digests only say that a byte comparison is
// worth making.
std::optional<uint64_t> digestFile(int fd, uint64_t n) {
    ChunkReader file(fd, n);
    constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ull;
    uint64_t lanes[4] = {n, n ^ 0x243F6A8885A308D3ull, n ^ 0x13198A2E03707344ull,
                         n ^ 0xA4093822299F31D0ull};
    uint64_t tail = 0xCBF29CE484222325ull;
    uint64_t left = n;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, kChunkBytes));
        if (!file.next(want)) {
            return std::nullopt;
        }
        const unsigned char* data = file.data();
        std::size_t i = 0;
        for (; i + 32 <= want; i += 32) {
            for (std::size_t lane = 0; lane < 4; ++lane) {
                uint64_t h = (lanes[lane] ^ load64(data + i + 8 * lane)) * kPrime;
                lanes[lane] = h ^ (h >> 29);
            }
        }
        for (; i < want; ++i) {
            tail = (tail ^ data[i]) * 0x100000001B3ull;
        }
        left -= want;
    }
    return mix(lanes[0] ^ mix(lanes[1] ^ mix(lanes[2] ^ mix(lanes[3] ^ tail))));
}

// True when the first `n` bytes of both open files agree (n > 0).
bool sameBytes(int a, int b, uint64_t n) {
    ChunkReader fileA(a, n);
    ChunkReader fileB(b, n);
    uint64_t left = n;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, kChunkBytes));
        if (!fileA.next(want) || !fileB.next(want) ||
            std::memcmp(fileA.data(), fileB.data(), want) != 0) {
            return false;
        }
        left -= want;
    }
    return true;
}

// A file known to be in a target folder.
struct FolderFile {
    std::string name;   // as it stands on disk
    uint64_t size = 0;  // its full size in bytes
    enum class Digest : uint8_t { Unknown, Known, Unreadable };
    Digest digestState = Digest::Unknown;
    uint64_t digest = 0;
};

// One record per distinct target folder of a run.
class TargetFolder {
public:
    fs::path path;         // the folder, as the first item naming it spells it
    std::string key;       // its resolved form, which identifies it
    uint32_t counter = 0;  // the next number to try in file names

    bool isNameTaken(std::string_view name) const {
        return lowerNames_.count(toLowerAscii(name)) != 0;
    }
    void addFile(FolderFile file) {
        lowerNames_.insert(toLowerAscii(file.name));
        bySize_[file.size].push_back(files_.size());
        files_.push_back(std::move(file));
    }
    void learnName(const std::string& name) { lowerNames_.insert(toLowerAscii(name)); }

    // True when a known file of the same full size holds the same bytes as
    // the open file `fd` of `size` bytes.
    bool holdsCopyOf(int fd, uint64_t size) {
        if (size == 0) {
            return false;  // no bytes to compare
        }
        const auto sameSize = bySize_.find(size);
        if (sameSize == bySize_.end()) {
            return false;
        }
        const std::optional<uint64_t> digest = digestFile(fd, size);
        if (!digest) {
            return false;
        }
        for (const std::size_t index : sameSize->second) {
            FolderFile& known = files_[index];
            const FileHandle file = FileHandle::openForReading(path / pathFromUtf8(known.name));
            if (!file || file.size() != size) {
                continue;  // gone, replaced or unreadable: not a copy
            }
            if (known.digestState == FolderFile::Digest::Unknown) {
                const std::optional<uint64_t> knownDigest = digestFile(file.fd(), size);
                known.digestState =
                    knownDigest ? FolderFile::Digest::Known : FolderFile::Digest::Unreadable;
                known.digest = knownDigest.value_or(0);
            }
            if (known.digestState == FolderFile::Digest::Known && known.digest == *digest &&
                sameBytes(fd, file.fd(), size)) {
                return true;
            }
        }
        return false;
    }

    // Learns the files (not folders) the folder holds.
    void listFiles() {
        std::error_code ec;
        fs::directory_iterator it(path, ec);
        for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            std::error_code entryEc;
            if (it->is_directory(entryEc)) {
                continue;
            }
            FolderFile file;
            file.name = pathToUtf8(it->path().filename());
            const uintmax_t size = it->file_size(entryEc);
            file.size = entryEc ? 0 : static_cast<uint64_t>(size);
            addFile(std::move(file));
        }
    }

private:
    std::vector<FolderFile> files_;
    std::unordered_set<std::string> lowerNames_;
    std::unordered_map<uint64_t, std::vector<std::size_t>> bySize_;
};

// The form that identifies a folder however its text spells it: links, "."
// and ".." resolved, no trailing separator.
std::string folderKey(const fs::path& folder) {
    fs::path path = resolveFolder(folder.lexically_normal()).lexically_normal();
    if (!path.has_filename() && path.has_relative_path()) {
        path = path.parent_path();
    }
    return pathToUtf8(path);
}

}  // namespace

// ---- The snapshot ----

FilterSnapshot FilterSnapshot::take(const FilterSet& set, std::time_t now) {
    std::vector<FilterItem> items;
    items.reserve(set.items.size());
    for (const auto& item : set.items) {
        items.push_back(*item);
    }
    return take(items, set.listSeparator, now);
}

FilterSnapshot FilterSnapshot::take(const std::vector<FilterItem>& items, char listSeparator,
                                    std::time_t now) {
    FilterSnapshot snapshot;
    snapshot.takenAt = now;
    snapshot.items.reserve(items.size());
    for (const FilterItem& item : items) {
        FilterItem copy = item;
        copy.parseUrl(listSeparator);
        copy.directory = copy.directoryTemplate;
        FilterSet::expandDateTime(copy.directory, now);
        // Normalised before it is made: "a/b/../../kept" makes no "a/b".
        if (!copy.directory.empty()) {
            copy.directory = pathToUtf8(pathFromUtf8(copy.directory).lexically_normal());
        }
        snapshot.items.push_back(std::move(copy));
    }
    return snapshot;
}

// ---- Failure reasons ----

std::string copyFailureReason(const ErrorReport& report) {
    std::string reason;
    switch (report.kind()) {
        case ErrorReport::FileOpen:
            reason = "the cached file cannot be opened safely";
            break;
        case ErrorReport::FileRead:
            reason = report.systemError() == ENODATA ? "the cached data is shorter than its record"
                                                     : "the cached data cannot be read";
            break;
        case ErrorReport::Unsupported:
            reason = "the cached data cannot be decoded";
            break;
        case ErrorReport::CreateFolder:
            reason = "no file can be created in the target folder";
            break;
        case ErrorReport::FileWrite:
        case ErrorReport::FileCopy:
            reason = "the copy cannot be written";
            break;
        default:
            reason = "the copy failed";
            break;
    }
    const std::string system = report.systemError() == ENODATA ? "" : report.systemText();
    if (!system.empty()) {
        reason += " (" + system + ")";
    }
    return reason;
}

// ---- The pass ----

class CombPass {
public:
    CombPass(CacheReader& reader, const FilterSnapshot& snapshot, const CombOptions& options,
             CombObserver& observer)
        : reader_(reader), snapshot_(snapshot), options_(options), observer_(observer) {}

    CombResult run(const std::atomic<bool>* stop) {
        // Stopped before the first entry (a reading cut short by a cancel):
        // no folder is made either.
        if (stop != nullptr && *stop) {
            result_.stopped = true;
            return result_;
        }
        if (!prepareFolders()) {
            result_.foldersReady = false;
            return result_;
        }
        uint64_t count = 0;
        for (const auto& entry : reader_.entries) {
            if (inTime(*entry)) {
                ++count;
            }
        }
        entriesToComb_ = count;
        // The entries in the reader's order, by position: a reader's `index`
        // fields are not trusted to lead through the list.
        for (const auto& entry : reader_.entries) {
            if (stop != nullptr && *stop) {
                result_.stopped = true;
                break;
            }
            if (inTime(*entry)) {
                combEntry(*entry);
            }
        }
        return result_;
    }

private:
    bool inTime(const CacheEntry& entry) const {
        return options_.sinceTime == 0 || entry.time >= options_.sinceTime;
    }

    // Makes every item's folder and learns its files; false (reported) when
    // one cannot be made or lies in the cache.
    bool prepareFolders() {
        const std::vector<fs::path> caches = reader_.cacheFolders();
        folderOf_.assign(snapshot_.items.size(), -1);
        for (std::size_t i = 0; i < snapshot_.items.size(); ++i) {
            const FilterItem& item = snapshot_.items[i];
            const fs::path folder = pathFromUtf8(item.directory);
            if (!FilterSet::createFolderPath(item.directory)) {
                const int error = errno;
                observer_.error(ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                                            item.directory, {}, error));
                return false;
            }
            // The caches are only ever read: no copy goes into any of them.
            for (const fs::path& cache : caches) {
                if (isAtOrBelow(folder, cache)) {
                    observer_.error(ErrorReport(ErrorReport::FilterCache,
                                                ErrorReport::TargetInCache, item.directory,
                                                pathToUtf8(cache)));
                    return false;
                }
            }
            const std::string key = folderKey(folder);
            std::size_t index = 0;
            while (index < folders_.size() && folders_[index]->key != key) {
                ++index;
            }
            if (index == folders_.size()) {
                auto target = std::make_unique<TargetFolder>();
                target->path = folder;
                target->key = key;
                target->listFiles();
                folders_.push_back(std::move(target));
            }
            folderOf_[i] = static_cast<int>(index);
            // A stem that cannot stand in a file name is told once per run;
            // its item keeps nothing.
            if (!item.disabled && (item.fileNameDummy.find('/') != std::string::npos ||
                                   item.fileNameDummy.find('\0') != std::string::npos)) {
                observer_.error(ErrorReport(ErrorReport::FilterCache, ErrorReport::BadFileName,
                                            item.directory, item.fileNameDummy));
                folderOf_[i] = -1;
            }
        }
        return true;
    }

    void combEntry(const CacheEntry& entry) {
        reportProgress();
        ++result_.entriesCombed;
        for (std::size_t i = 0; i < snapshot_.items.size(); ++i) {
            const FilterItem& item = snapshot_.items[i];
            if (!item.disabled && item.matches(entry) && saveEntry(i, entry) && options_.oneCopy) {
                break;
            }
        }
        observer_.entryCombed(result_.entriesCombed, entriesToComb_);
    }

    void reportProgress() {
        if (entriesToComb_ == 0) {
            return;
        }
        // The share of the entries to comb that is done, rounded up, so that
        // the first report comes as soon as one percent is reached and with a
        // since-time the reports still climb evenly to the end.
        const uint64_t done = result_.entriesCombed;
        uint64_t percent = (100u * done + entriesToComb_ - 1) / entriesToComb_;
        percent = std::min<uint64_t>(percent, 100);
        if (static_cast<int32_t>(percent) == lastPercent_) {
            return;
        }
        lastPercent_ = static_cast<int32_t>(percent);
        observer_.progress(lastPercent_);
    }

    void fail(const CacheEntry& entry, const std::string& reason) {
        ++result_.failed;
        CombResult::Failures& failures = result_.failures[reason];
        ++failures.count;
        if (failures.firstUrls.size() < CombResult::kUrlsPerReason &&
            std::find(failures.firstUrls.begin(), failures.firstUrls.end(), entry.url) ==
                failures.firstUrls.end()) {
            failures.firstUrls.push_back(entry.url);
        }
        observer_.copyFailed(entry, reason);
    }

    // Copies `entry` for item `itemIndex`; true when its folder now holds a
    // copy (made now, or found as a duplicate).
    bool saveEntry(std::size_t itemIndex, const CacheEntry& entry) {
        if (folderOf_[itemIndex] < 0) {
            return false;  // a stem that cannot stand in a name (reported once)
        }
        const FilterItem& item = snapshot_.items[itemIndex];
        TargetFolder& folder = *folders_[static_cast<std::size_t>(folderOf_[itemIndex])];

        NewFile file = NewFile::create(folder.path);
        if (!file) {
            fail(entry,
                 copyFailureReason(ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder,
                                               pathToUtf8(folder.path), {}, file.error())));
            return false;
        }
        try {
            copyBody(reader_, entry, file);
        } catch (const ErrorReport& report) {
            fail(entry, copyFailureReason(report));
            return false;  // the new file is discarded with `file`
        }

        // The picture test on the copy before it has a name: a file the
        // probe cannot measure (no picture, or a format it does not know)
        // cannot show that it has the size, so it goes like one too small.
        if (item.minWidth != 0 && item.minHeight != 0) {
            int32_t width = 0;
            int32_t height = 0;
            const fs::path open = "/proc/self/fd/" + std::to_string(file.fd());
            const bool measured = getImageSize(open, width, height);
            if (!measured || height < item.minHeight || width < item.minWidth) {
                ++result_.tooSmall;
                return false;
            }
        }

        const uint64_t size = descriptorSize(file.fd());
        if (options_.skipDuplicates && folder.holdsCopyOf(file.fd(), size)) {
            ++result_.duplicates;
            return true;
        }

        const std::string extension = contentTypeName(entry.contentType);
        for (;;) {
            if (folder.counter == UINT32_MAX) {
                fail(entry, "no free file name is left");
                return false;
            }
            const std::string name =
                item.fileNameDummy + std::to_string(folder.counter) + "." + extension;
            if (name.size() > kMaxNameBytes) {
                fail(entry, "the file name would pass 255 bytes");
                return false;
            }
            if (folder.isNameTaken(name)) {
                ++folder.counter;
                continue;
            }
            if (file.linkAs(name)) {
                ++folder.counter;
                folder.addFile(FolderFile{name, size});
                ++result_.kept;
                observer_.keptFile(pathToUtf8(folder.path / pathFromUtf8(name)));
                return true;
            }
            if (errno == EEXIST) {
                // Taken since the folder was listed (the user, another comb):
                // never replaced; the next number is tried.
                folder.learnName(name);
                ++folder.counter;
                continue;
            }
            fail(entry,
                 copyFailureReason(ErrorReport(ErrorReport::FilterCache, ErrorReport::FileWrite,
                                               pathToUtf8(folder.path / name), {}, errno)));
            return false;
        }
    }

    CacheReader& reader_;
    const FilterSnapshot& snapshot_;
    const CombOptions& options_;
    CombObserver& observer_;
    CombResult result_;
    std::vector<std::unique_ptr<TargetFolder>> folders_;
    std::vector<int> folderOf_;  // per item: index into folders_, -1 when it keeps nothing
    uint64_t entriesToComb_ = 0;
    int32_t lastPercent_ = 0;
};

CombResult runComb(CacheReader& reader, const FilterSnapshot& snapshot, const CombOptions& options,
                   CombObserver& observer, const std::atomic<bool>* stop) {
    CombPass pass(reader, snapshot, options, observer);
    return pass.run(stop);
}

}  // namespace harvix
