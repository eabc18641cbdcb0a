#include "filter/TargetFolder.h"

#include <cerrno>
#include <climits>
#include <system_error>

#include "base/Text.h"
#include "filter/CombPass.h"
#include "filter/FileDigest.h"
#include "filter/FilterSet.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"

namespace harvix {

namespace {

// Longest file name the file systems take (bytes).
constexpr std::size_t kMaxNameBytes = 255;

// The form that identifies a folder however its text spells it: links, "."
// and ".." resolved, no trailing separator.
std::string folderKey(const fs::path& folder) {
    fs::path path = resolveFolder(folder.lexically_normal()).lexically_normal();
    if (!path.has_filename() && path.has_relative_path()) {
        path = path.parent_path();
    }
    return pathToUtf8(path);
}

int errorNumber(const std::error_code& ec) {
    return ec && (ec.category() == std::generic_category() ||
                  ec.category() == std::system_category())
               ? ec.value()
               : ENOTDIR;
}

}  // namespace

TargetFolder::TargetFolder(const fs::path& folder) : path_(folder), key_(folderKey(folder)) {}

std::optional<ErrorReport> TargetFolder::refusal(const std::string& folder,
                                                 const std::vector<fs::path>& caches,
                                                 IPlatform& platform) {
    if (!FilterSet::isValidTargetPath(folder, platform)) {
        // Decided here: no system call failed, the report has no system text.
        return ErrorReport(ErrorReport::FilterCache, ErrorReport::CreateFolder, folder);
    }
    // The caches are only ever read: no copy goes into any of them, however
    // the folder is spelt (links and ".." are resolved as far as it exists).
    const fs::path path = pathFromUtf8(folder);
    for (const fs::path& cache : caches) {
        if (!cache.empty() && isAtOrBelow(path, cache)) {
            return ErrorReport(ErrorReport::FilterCache, ErrorReport::TargetInCache, folder,
                               pathToUtf8(cache));
        }
    }
    return std::nullopt;
}

void TargetFolder::listFiles() {
    std::error_code ec;
    fs::directory_iterator it(path_, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code entryEc;
        if (it->is_directory(entryEc)) {
            continue;
        }
        KnownFile file;
        file.name = pathToUtf8(it->path().filename());
        const uintmax_t size = it->file_size(entryEc);
        file.size = entryEc ? 0 : static_cast<uint64_t>(size);
        addFile(std::move(file));
    }
}

int TargetFolder::make() {
    if (!made_) {
        std::error_code ec;
        fs::create_directories(path_, ec);
        std::error_code statEc;
        // Not there after all (a parent that is a file, no permission...):
        // a folder that takes no copies is reported, never passed as made.
        made_ = fs::is_directory(path_, statEc) ? 0 : errorNumber(ec ? ec : statEc);
    }
    return *made_;
}

bool TargetFolder::isNameTaken(std::string_view name) const {
    return lowerNames_.count(toLowerAscii(name)) != 0;
}

void TargetFolder::addFile(KnownFile file) {
    lowerNames_.insert(toLowerAscii(file.name));
    bySize_[file.size].push_back(files_.size());
    files_.push_back(std::move(file));
}

bool TargetFolder::holdsCopyOf(int fd, uint64_t size) {
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
        KnownFile& known = files_[index];
        const FileHandle file = FileHandle::openForReading(path_ / pathFromUtf8(known.name));
        if (!file || file.size() != size) {
            continue;  // gone, replaced or unreadable: not a copy
        }
        if (known.digestState == KnownFile::Digest::Unknown) {
            const std::optional<uint64_t> knownDigest = digestFile(file.fd(), size);
            known.digestState =
                knownDigest ? KnownFile::Digest::Known : KnownFile::Digest::Unreadable;
            known.digest = knownDigest.value_or(0);
        }
        if (known.digestState == KnownFile::Digest::Known && known.digest == *digest &&
            sameBytes(fd, file.fd(), size)) {
            return true;
        }
    }
    return false;
}

TargetFolder::Named TargetFolder::name(NewFile& file, const std::string& stem,
                                       const std::string& extension, uint64_t size) {
    for (;;) {
        if (counter_ == UINT32_MAX) {
            return {{}, "no free file name is left"};
        }
        const std::string name = stem + std::to_string(counter_) + "." + extension;
        if (name.size() > kMaxNameBytes) {
            return {{}, "the file name would pass 255 bytes"};
        }
        if (isNameTaken(name)) {
            ++counter_;
            continue;
        }
        if (file.linkAs(name)) {
            ++counter_;
            addFile(KnownFile{name, size});
            return {pathToUtf8(path_ / pathFromUtf8(name)), {}};
        }
        const int error = file.error();
        if (error == EEXIST) {
            // Taken since the folder was listed (the user, another comb):
            // never replaced; the next number is tried.
            lowerNames_.insert(toLowerAscii(name));
            ++counter_;
            continue;
        }
        return {{},
                copyFailureReason(ErrorReport(ErrorReport::FilterCache, ErrorReport::FileWrite,
                                              pathToUtf8(path_ / name), {}, error))};
    }
}

}  // namespace harvix
