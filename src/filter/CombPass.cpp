// The comb pass: preparing the target folders, visiting the entries,
// matching them and saving the matches under free names, with the picture
// test and the duplicate test.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "app/Settings.h"
#include "engine/ErrorReport.h"
#include "filter/ContentType.h"
#include "filter/FilterSet.h"
#include "filter/ImageSize.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace harvix {

namespace {

// Files are compared and digested in pieces of this size, never whole.
constexpr std::size_t kChunkBytes = 64 * 1024;

// Longest file name the file systems take (bytes).
constexpr std::size_t kMaxNameBytes = 255;

// Reads a file from its start in pieces of at most kChunkBytes, straight
// into a buffer of its own (no stream buffering, nothing zero-filled).
class ChunkReader {
public:
    ChunkReader(const fs::path& path, uint64_t bytes)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)),
          capacity_(static_cast<std::size_t>(std::min<uint64_t>(bytes, kChunkBytes))),
          buffer_(std::make_unique_for_overwrite<unsigned char[]>(capacity_)) {}
    ~ChunkReader() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    const unsigned char* Data() const { return buffer_.get(); }

    // Fills the buffer with the next `want` bytes (want <= the capacity);
    // false when the file ends first or cannot be read.
    bool next(std::size_t want) {
        std::size_t got = 0;
        while (got < want) {
            const ssize_t n = ::read(fd_, buffer_.get() + got, want - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_;
    std::size_t capacity_;
    std::unique_ptr<unsigned char[]> buffer_;
};

uint64_t Load64(const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

uint64_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

// A fast 64-bit digest of the first `n` bytes of a file (four independent
// lanes over 32-byte blocks); nothing when the file cannot be read or is
// shorter. Equal digests only say that a byte comparison is worth making.
std::optional<uint64_t> DigestFile(const fs::path& path, uint64_t n) {
    ChunkReader file(path, n);
    if (!file.IsOpen()) {
        return std::nullopt;
    }
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
        const unsigned char* data = file.Data();
        std::size_t i = 0;
        for (; i + 32 <= want; i += 32) {
            for (std::size_t lane = 0; lane < 4; ++lane) {
                uint64_t h = (lanes[lane] ^ Load64(data + i + 8 * lane)) * kPrime;
                lanes[lane] = h ^ (h >> 29);
            }
        }
        for (; i < want; ++i) {
            tail = (tail ^ data[i]) * 0x100000001B3ull;
        }
        left -= want;
    }
    return Mix(lanes[0] ^ Mix(lanes[1] ^ Mix(lanes[2] ^ Mix(lanes[3] ^ tail))));
}

// Fills the digest of a known file once; later calls use the stored one.
void EnsureDigest(FolderFile& file, const fs::path& folder) {
    using Digest = FolderFile::Digest;
    if (file.digestState != Digest::Unknown) {
        return;
    }
    if (file.size <= 0) {
        file.digestState = Digest::Unreadable;
        return;
    }
    const std::optional<uint64_t> digest =
        DigestFile(folder / pathFromUtf8(file.onDisk()), static_cast<uint64_t>(file.size));
    file.digestState = digest ? Digest::Known : Digest::Unreadable;
    file.digest = digest.value_or(0);
}

// The form that identifies a folder however its text spells it: links, "."
// and ".." resolved, no trailing separator.
std::string FolderKey(const std::string& folder) {
    fs::path path = pathFromUtf8(folder).lexically_normal();
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(path, ec);
    if (!ec) {
        path = resolved.lexically_normal();
    }
    if (!path.has_filename() && path.has_relative_path()) {
        path = path.parent_path();
    }
    return pathToUtf8(path);
}

// Stores an error code of the file-system library as the thread's last
// system error, so that an error report can name it.
void SetLastError(const std::error_code& ec) {
    if (ec &&
        (ec.category() == std::generic_category() || ec.category() == std::system_category())) {
        errno = ec.value();
    }
}

}  // namespace

// ---- Target folders ----

bool TargetFolder::isNameTaken(std::string_view name) const {
    return lowerNames_.count(toLowerAscii(name)) != 0;
}

void TargetFolder::addFile(FolderFile file) {
    lowerNames_.insert(toLowerAscii(file.name));
    bySize_[file.size].push_back(files.size());
    files.push_back(std::move(file));
}

bool TargetFolder::isDuplicate(FolderFile& file) {
    // An entry of size 0 (or a negative size) is never a duplicate: there
    // are no bytes to compare.
    if (file.size <= 0) {
        return false;
    }
    const auto sameSize = bySize_.find(file.size);
    if (sameSize == bySize_.end()) {
        return false;
    }
    const fs::path folder = pathFromUtf8(path);
    EnsureDigest(file, folder);
    if (file.digestState != FolderFile::Digest::Known) {
        return false;
    }
    const fs::path newPath = folder / pathFromUtf8(file.onDisk());
    for (const std::size_t index : sameSize->second) {
        FolderFile& known = files[index];
        EnsureDigest(known, folder);
        if (known.digestState == FolderFile::Digest::Known && known.digest == file.digest &&
            FilterSet::filesAreEqual(file.size, newPath, folder / pathFromUtf8(known.onDisk()))) {
            return true;
        }
    }
    return false;
}

bool FilterSet::filesAreEqual(int32_t n, const fs::path& a, const fs::path& b) {
    if (n <= 0) {
        return false;
    }
    const uint64_t bytes = static_cast<uint64_t>(n);
    try {
        ChunkReader fileA(a, bytes);
        if (!fileA.IsOpen()) {
            throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileOpen, pathToUtf8(a));
        }
        ChunkReader fileB(b, bytes);
        if (!fileB.IsOpen()) {
            throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileOpen, pathToUtf8(b));
        }
        uint64_t left = bytes;
        while (left > 0) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<uint64_t>(left, kChunkBytes));
            if (!fileA.next(want)) {
                throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileRead, pathToUtf8(a));
            }
            if (!fileB.next(want)) {
                throw ErrorReport(ErrorReport::FilterCache, ErrorReport::FileRead, pathToUtf8(b));
            }
            if (std::memcmp(fileA.Data(), fileB.Data(), want) != 0) {
                return false;
            }
            left -= want;
        }
        return true;
    } catch (const ErrorReport&) {
        return false;  // unreadable counts as different
    }
}

bool FilterSet::isValidTargetPath(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    const fs::path folder = pathFromUtf8(expandHomeFolder(path)).lexically_normal();
    if (!folder.is_absolute() || folder.relative_path().empty()) {
        return false;  // relative, or the bare root
    }
    return platformServices().isLocalFixedFolder(folder);
}

bool FilterSet::createFolderPath(std::string path) {
    if (!isValidTargetPath(path)) {
        return false;
    }
    const fs::path folder = pathFromUtf8(expandHomeFolder(path));
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::error_code statEc;
    if (!fs::is_directory(folder, statEc)) {
        // Not there after all (a parent that is a file, no permission...):
        // a folder that takes no copies is reported, not passed as made.
        SetLastError(ec ? ec : statEc);
        if (!ec && !statEc) {
            errno = ENOTDIR;
        }
        return false;
    }
    return true;
}

void FilterSet::listFolderFiles(const std::string& path, std::vector<FolderFile>& files) {
    files.clear();
    std::error_code ec;
    fs::directory_iterator it(pathFromUtf8(path), ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code entryEc;
        if (it->is_directory(entryEc)) {
            continue;
        }
        FolderFile file;
        const std::string onDisk = pathToUtf8(it->path().filename());
        file.name = toLowerAscii(onDisk);
        if (file.name != onDisk) {
            file.diskName = onDisk;
        }
        const uintmax_t size = it->file_size(entryEc);
        file.size = entryEc ? 0 : static_cast<int32_t>(static_cast<uint32_t>(size & 0xFFFFFFFFu));
        files.push_back(std::move(file));
    }
}

void FilterSet::prepareTargetFolders() {
    for (const auto& item : items) {
        item->directory = item->directoryTemplate;
        expandDateTime(item->directory);
    }
    targetFolders.clear();
    for (const auto& item : items) {
        // Making an existing folder again changes nothing; it lets every
        // item's text pass the same test, and the key below see the folder
        // as it really is.
        if (!createFolderPath(item->directory)) {
            throw ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder, item->directory);
        }
        const std::string key = FolderKey(item->directory);
        std::size_t index = 0;
        while (index < targetFolders.size() && targetFolders[index]->key != key) {
            ++index;
        }
        if (index == targetFolders.size()) {
            auto folder = std::make_unique<TargetFolder>();
            folder->path = item->directory;
            folder->key = key;
            std::vector<FolderFile> found;
            listFolderFiles(item->directory, found);
            for (FolderFile& file : found) {
                folder->addFile(std::move(file));
            }
            targetFolders.push_back(std::move(folder));
        }
        item->targetFolder = static_cast<int32_t>(index);
    }
}

// ---- The pass ----

bool FilterSet::comb(CacheReader* combReader) {
    const Settings& settings = theSettings();
    oneCopy = settings.OneCopy;
    skipDuplicates = settings.SkipDuplicates;
    reader = combReader;
    entriesToComb = 0;
    lastPercent = 0;
    combedSoFar_ = 0;

    prepareTargetFolders();
    if (reader == nullptr) {
        return true;
    }

    uint32_t count = 0;
    for (const auto& entry : reader->entries) {
        if (sinceTime == 0 || entry->time >= sinceTime) {
            ++count;
        }
    }
    entriesToComb = static_cast<int32_t>(std::min<uint32_t>(count, INT32_MAX));

    // The entries in the reader's order, by position: a reader's `index`
    // fields are not trusted to lead through the list.
    for (const auto& entry : reader->entries) {
        if (stopRequest != nullptr && *stopRequest) {
            break;
        }
        if (sinceTime == 0 || entry->time >= sinceTime) {
            combEntry(*entry);
        }
    }
    return true;
}

void FilterSet::combEntry(CacheEntry& entry) {
    reportProgress(combedSoFar_);
    ++combedSoFar_;
    for (const auto& item : items) {
        if (!item->disabled && item->matches(entry) && saveEntry(*item, entry) && oneCopy) {
            break;
        }
    }
}

void FilterSet::reportProgress(uint32_t done) {
    if (progressCallback == nullptr || progressContext == 0 || entriesToComb <= 0) {
        return;
    }
    // The share of the entries to comb that is done, rounded up, so that
    // the first report comes as soon as one percent is reached and with a
    // since-time the reports still climb evenly to the end.
    const uint64_t total = static_cast<uint32_t>(entriesToComb);
    uint64_t percent = (100u * static_cast<uint64_t>(done) + total - 1) / total;
    if (percent > 100) {
        percent = 100;
    }
    if (static_cast<int32_t>(percent) == lastPercent) {
        return;
    }
    lastPercent = static_cast<int32_t>(percent);
    progressCallback(progressContext, lastPercent);
}

bool FilterSet::saveEntry(FilterItem& item, CacheEntry& entry) {
    if (reader == nullptr || item.targetFolder < 0 ||
        static_cast<std::size_t>(item.targetFolder) >= targetFolders.size()) {
        return false;
    }
    TargetFolder& folder = *targetFolders[static_cast<std::size_t>(item.targetFolder)];
    const fs::path directory = pathFromUtf8(item.directory);

    // A stem holding a separator would put the copy outside the folder.
    if (item.fileNameDummy.find_first_of("/\\") != std::string::npos ||
        item.fileNameDummy.find('\0') != std::string::npos) {
        return false;
    }
    const std::string extension = contentTypeName(entry.contentType);
    std::string name;
    fs::path target;
    for (;;) {
        if (folder.counter == INT32_MAX) {
            return false;  // numbers used up
        }
        name = item.fileNameDummy + std::to_string(folder.counter) + "." + extension;
        ++folder.counter;
        if (name.size() > kMaxNameBytes) {
            return false;  // a stem this long makes no valid file name
        }
        if (folder.isNameTaken(name)) {
            continue;
        }
        // A file that appeared after the folder was listed is not the
        // program's to overwrite: learn it and take the next number.
        target = directory / pathFromUtf8(name);
        std::error_code ec;
        const fs::file_type type = fs::symlink_status(target, ec).type();
        if (type != fs::file_type::not_found && type != fs::file_type::none) {
            FolderFile found;
            found.name = name;
            const uintmax_t size = fs::file_size(target, ec);
            found.size = ec ? 0 : static_cast<int32_t>(static_cast<uint32_t>(size & 0xFFFFFFFFu));
            folder.addFile(std::move(found));
            continue;
        }
        break;
    }

    if (!reader->copyEntry(target, entry)) {
        return false;  // the number stays used
    }

    std::error_code ec;
    if (item.minWidth != 0 && item.minHeight != 0) {
        int32_t width = 0;
        int32_t height = 0;
        // The item asks for pictures of at least this size. A written file
        // that the probe cannot measure (no picture, or a format it does not
        // know) cannot show that it has the size, so it goes like a picture
        // that is too small.
        const bool measured = getImageSize(target, width, height);
        if (!measured || height < item.minHeight || width < item.minWidth) {
            if (fs::remove(target, ec)) {
                --folder.counter;
            } else {
                FolderFile kept;
                kept.name = name;
                kept.size = entry.size;
                folder.addFile(std::move(kept));  // still there: never overwrite it
                reportKeptFile(target);
            }
            return false;
        }
    }

    FolderFile saved;
    saved.name = name;
    saved.size = entry.size;
    if (skipDuplicates && folder.isDuplicate(saved)) {
        if (fs::remove(target, ec)) {
            --folder.counter;
        } else {
            folder.addFile(std::move(saved));
            reportKeptFile(target);
        }
        return true;
    }
    folder.addFile(std::move(saved));
    reportKeptFile(target);
    return true;
}

void FilterSet::reportKeptFile(const fs::path& path) const {
    if (keptFileCallback != nullptr) {
        keptFileCallback(keptFileContext, pathToUtf8(path));
    }
}

}  // namespace harvix
