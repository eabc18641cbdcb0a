// The values a comb run starts from and reports with, apart from the pass
// itself: the filter snapshot taken at its start, and the reasons its
// failed copies are counted under.
#include <cerrno>

#include "filter/CombPass.h"
#include "platform/Path.h"
#include "readers/BodyCopy.h"

namespace harvix {

// ---- The snapshot ----

FilterSnapshot FilterSnapshot::take(const FilterSet& set, const fs::path& home, std::time_t now) {
    std::vector<FilterItem> items;
    items.reserve(set.items.size());
    for (const auto& item : set.items) {
        items.push_back(*item);
    }
    return take(items, set.listSeparator, home, now);
}

FilterSnapshot FilterSnapshot::take(const std::vector<FilterItem>& items, char listSeparator,
                                    const fs::path& home, std::time_t now) {
    FilterSnapshot snapshot;
    snapshot.takenAt = now;
    snapshot.items.reserve(items.size());
    for (const FilterItem& item : items) {
        FilterItem copy = item;
        copy.parseUrl(listSeparator);
        copy.directory = copy.directoryTemplate;
        FilterSet::expandDateTime(copy.directory, now, home);
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
            if (report.systemError() == EBUSY) {
                return "the cached data is still being written (its checksum does not match)";
            }
            reason = report.systemError() == ENODATA ? "the cached data is shorter than its record"
                                                     : "the cached data cannot be read";
            break;
        case ErrorReport::Unsupported:
            if (report.systemError() == EFBIG) {
                return "the cached data decodes to more than " + std::to_string(kDecodedSizeRatio) +
                       " times its size";
            }
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

}  // namespace harvix
