#include "engine/ProcessMatch.h"

#include <string_view>

#include "base/Text.h"

namespace harvix {

namespace {

// The file name of a Unix or a Windows path (Wine shows Windows programs'
// argv[0] as "C:\\...\\iexplore.exe").
std::string_view fileNameOf(std::string_view path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// Whether `name` is the image name `shown`: the same in any case, or, when
// the kernel cut the image name at its 15 bytes, the start of it.
bool sameImageName(std::string_view shown, std::string_view name) {
    if (equalsNoCase(shown, name)) {
        return true;
    }
    return shown.size() == 15 && name.size() > 15 && equalsNoCase(shown, name.substr(0, 15));
}

bool carriesMarker(const ProcessInfo& process, const std::string& marker) {
    if (marker.find('/') == std::string::npos) {
        return !process.packageId.empty() && equalsNoCase(process.packageId, marker);
    }
    return process.executable.starts_with(marker) || process.argv0.starts_with(marker);
}

bool carriesAny(const ProcessInfo& process, const std::vector<std::string>& markers) {
    for (const std::string& marker : markers) {
        if (carriesMarker(process, marker)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ProcessMatch ProcessMatch::byNames(const std::vector<std::string>& names) {
    ProcessMatch match;
    match.names = names;
    return match;
}

bool ProcessMatch::matches(const ProcessInfo& process) const {
    if (carriesAny(process, claims)) {
        return true;
    }
    if (carriesAny(process, excludes)) {
        return false;
    }
    // A process that rewrote its command line into one line (Chromium's
    // helpers do) keeps its program before the first option.
    const std::string_view argv0 =
        std::string_view(process.argv0).substr(0, process.argv0.find(" -"));
    const std::string_view executable = fileNameOf(process.executable);
    const std::string_view argvName = fileNameOf(argv0);
    // Whole names only: "firefoxx" or "my-firefox" is not "firefox".
    for (const std::string& name : names) {
        if (sameImageName(process.imageName, name) ||
            (!executable.empty() && equalsNoCase(executable, name)) ||
            (!argvName.empty() && equalsNoCase(argvName, name))) {
            return true;
        }
    }
    return false;
}

}  // namespace harvix
