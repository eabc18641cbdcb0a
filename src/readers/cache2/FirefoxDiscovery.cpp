#include "readers/cache2/FirefoxDiscovery.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>

#include "base/ErrorReport.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/cache2/Cache2Folder.h"
#include "readers/cache2/Cache2Format.h"

namespace harvix {

namespace {

constexpr std::size_t kMaxProfilesIniSize = 1 << 20;

bool isFolder(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool isFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Sections of an ini text in file order, each with its keys.
struct IniSection {
    std::string name;
    std::map<std::string, std::string> values;
};

std::vector<IniSection> parseIni(std::string_view text) {
    std::vector<IniSection> sections;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            sections.push_back({std::string(line.substr(1, line.size() - 2)), {}});
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || sections.empty()) {
            continue;
        }
        sections.back().values.emplace(std::string(trimmed(line.substr(0, equals))),
                                       std::string(trimmed(line.substr(equals + 1))));
    }
    return sections;
}

std::optional<std::string> valueOf(const IniSection& section, const std::string& key) {
    const auto it = section.values.find(key);
    if (it == section.values.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<std::string> readSmallFile(const fs::path& path) {
    if (!isFile(path)) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(kMaxProfilesIniSize, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// The local folder of a profile named in the profiles.ini of `iniFolder`.
fs::path localFolderOf(const FirefoxProfile& profile, const fs::path& cacheBase) {
    return profile.relative ? cacheBase / profile.path : profile.path;
}

void addUnique(std::vector<fs::path>& folders, const fs::path& folder) {
    if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end()) {
        folders.push_back(folder);
    }
}

// Profile folders below `base` in byte order of their names.
std::vector<fs::path> profileFoldersBelow(const fs::path& base) {
    std::vector<fs::path> folders;
    if (base.is_relative()) {
        return folders;  // never the current folder
    }
    std::error_code ec;
    fs::directory_iterator it(base, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            folders.push_back(it->path());
        }
    }
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().native() < b.filename().native();
    });
    return folders;
}

}  // namespace

namespace {

// A folder holding at least one entry file (a regular file named by 40
// hexadecimal digits): a copied entries folder under another name.
bool holdsEntryFiles(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (cache2::isEntryFileName(it->path().filename().string()) &&
            it->symlink_status(typeError).type() == fs::file_type::regular) {
            return true;
        }
    }
    return false;
}

FirefoxCacheFolder cache2At(const fs::path& folder, const fs::path& entries, const fs::path& base) {
    return {FirefoxCacheFormat::Cache2, folder, entries, base};
}

FirefoxCacheFolder oldCacheAt(const fs::path& folder, const fs::path& base) {
    return {FirefoxCacheFormat::OldCache, folder, {}, base};
}

}  // namespace

FirefoxCacheFolder classifyFirefoxFolder(const fs::path& given) {
    using namespace cache2;
    if (given.empty()) {
        return {};
    }
    // "…/cache2/" and "…/cache2/." name cache2.
    fs::path folder = given;
    while (folder.has_parent_path() && (folder.filename().empty() || folder.filename() == ".")) {
        folder = folder.parent_path();
    }
    const fs::path parent = folder.parent_path();
    // cache2/entries itself: the whole cache2 folder is the cache.
    if (folder.filename() == kEntriesFolder && parent.filename() == kCache2Folder &&
        isFolder(folder)) {
        return cache2At(parent, folder, parent);
    }
    if (folder.filename() == kCache2Folder && isFolder(folder / kEntriesFolder)) {
        return cache2At(folder, folder / kEntriesFolder, folder);
    }
    if (isFile(folder / "_CACHE_MAP_")) {
        return oldCacheAt(folder, folder);
    }
    if (isFolder(folder / kCache2Folder / kEntriesFolder)) {
        return cache2At(folder / kCache2Folder, folder / kCache2Folder / kEntriesFolder, folder);
    }
    if (isFile(folder / "Cache" / "_CACHE_MAP_")) {
        return oldCacheAt(folder / "Cache", folder);
    }
    // A folder named otherwise that holds entries/ directly (a copied cache2).
    if (isFolder(folder / kEntriesFolder)) {
        return cache2At(folder, folder / kEntriesFolder, folder);
    }
    // An entries folder elsewhere, or a folder of entry files: the entry
    // files are the whole cache.
    if (isFolder(folder) && (folder.filename() == kEntriesFolder || holdsEntryFiles(folder))) {
        return cache2At(folder, folder, folder);
    }
    // A remembered old Cache folder of a profile that Firefox has since moved
    // to cache2: the profile's cache2 beside it.
    if (folder.filename() == "Cache" && isFolder(parent / kCache2Folder / kEntriesFolder)) {
        return cache2At(parent / kCache2Folder, parent / kCache2Folder / kEntriesFolder, parent);
    }
    return {FirefoxCacheFormat::None, folder, {}, folder};
}

fs::path resolveCacheFolder(const fs::path& base, const fs::path& below, const fs::path& folder) {
    const auto refuse = [&](const fs::path& failed, int error) {
        return ErrorReport(ErrorReport::MozillaCache, ErrorReport::CacheOpen, pathToUtf8(folder),
                           pathToUtf8(failed), error);
    };
    // The error of a folder that is not there as one.
    const auto failure = [](const fs::file_status& status, const std::error_code& ec) {
        if (status.type() == fs::file_type::not_found) {
            return ENOENT;
        }
        return ec ? ec.value() : ENOTDIR;
    };
    std::error_code ec;
    const fs::file_status baseStatus = fs::status(base, ec);
    if (!fs::is_directory(baseStatus)) {
        throw refuse(base, failure(baseStatus, ec));
    }
    fs::path resolved = resolveFolder(base);
    fs::path shown = base;
    for (const fs::path& part : below.lexically_relative(base)) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            throw refuse(shown / part, EXDEV);  // never built so by the classification
        }
        resolved /= part;
        shown /= part;
        const fs::file_status status = fs::symlink_status(resolved, ec);
        if (status.type() == fs::file_type::symlink) {
            throw refuse(shown, ELOOP);
        }
        if (!fs::is_directory(status)) {
            throw refuse(shown, failure(status, ec));
        }
    }
    return resolved;
}

namespace {

// A [ProfileN] section and whether it says Default=1.
struct ProfileSection {
    FirefoxProfile profile;
    bool markedDefault = false;
};

// The [ProfileN] sections with a path, in the order of their numbers, as
// Firefox reads them.
std::vector<ProfileSection> profileSections(const std::vector<IniSection>& sections) {
    std::vector<std::pair<long, ProfileSection>> numbered;
    for (const IniSection& section : sections) {
        if (section.name.rfind("Profile", 0) != 0) {
            continue;
        }
        const std::string number = section.name.substr(7);
        if (number.empty() || number.size() > 6 ||
            !std::all_of(number.begin(), number.end(),
                         [](char ch) { return ch >= '0' && ch <= '9'; })) {
            continue;
        }
        const std::optional<std::string> path = valueOf(section, "Path");
        if (!path || path->empty()) {
            continue;
        }
        ProfileSection entry;
        entry.profile.name = valueOf(section, "Name").value_or("");
        entry.profile.path = fs::path(*path);
        entry.profile.relative = valueOf(section, "IsRelative").value_or("1") != "0" &&
                                 !entry.profile.path.is_absolute();
        entry.markedDefault = valueOf(section, "Default").value_or("") == "1";
        numbered.emplace_back(std::stol(number), std::move(entry));
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ProfileSection> profiles;
    for (auto& [number, entry] : numbered) {
        profiles.push_back(std::move(entry));
    }
    return profiles;
}

// An install's profiles.ini: its profiles, with the one in use even if only [Install...] names it.
struct InstallProfiles {
    std::optional<FirefoxProfile> used;
    std::vector<FirefoxProfile> profiles;
};

std::optional<InstallProfiles> installProfiles(const FirefoxInstall& install) {
    const std::optional<std::string> ini = readSmallFile(install.iniFolder / "profiles.ini");
    if (!ini) {
        return std::nullopt;
    }
    InstallProfiles listed{defaultProfileOf(*ini), profilesOf(*ini)};
    const std::optional<FirefoxProfile>& used = listed.used;
    std::vector<FirefoxProfile>& profiles = listed.profiles;
    if (used && std::none_of(profiles.begin(), profiles.end(),
                             [&](const auto& profile) { return profile.path == used->path; })) {
        profiles.insert(profiles.begin(), *used);
    }
    return listed;
}

}  // namespace

std::optional<FirefoxProfile> defaultProfileOf(std::string_view profilesIni) {
    const std::vector<IniSection> sections = parseIni(profilesIni);
    std::optional<std::string> installDefault;
    for (const IniSection& section : sections) {
        if (section.name.rfind("Install", 0) == 0 && !installDefault) {
            installDefault = valueOf(section, "Default");
        }
    }
    const std::vector<ProfileSection> profiles = profileSections(sections);
    if (installDefault && !installDefault->empty()) {
        for (const ProfileSection& entry : profiles) {
            if (entry.profile.path == fs::path(*installDefault)) {
                return entry.profile;
            }
        }
        FirefoxProfile named;
        named.path = fs::path(*installDefault);
        named.relative = !named.path.is_absolute();
        return named;
    }
    for (const ProfileSection& entry : profiles) {
        if (entry.markedDefault) {
            return entry.profile;
        }
    }
    if (!profiles.empty()) {
        return profiles.front().profile;
    }
    return std::nullopt;
}

std::vector<fs::path> firefoxLocalFolders(const FirefoxPlaces& places) {
    const std::vector<FirefoxInstall> installs = firefoxInstalls(places);
    std::vector<fs::path> folders;
    for (const FirefoxInstall& install : installs) {
        if (install.cacheBase.empty() || install.cacheBase.is_relative() ||
            install.iniFolder.is_relative()) {
            continue;
        }
        const std::optional<std::string> ini = readSmallFile(install.iniFolder / "profiles.ini");
        if (!ini) {
            continue;
        }
        if (const std::optional<FirefoxProfile> profile = defaultProfileOf(*ini)) {
            addUnique(folders, localFolderOf(*profile, install.cacheBase));
            if (profile->relative) {
                // A relative profile whose cache lies in the profile folder
                // itself (older versions, profiles copied by hand).
                addUnique(folders, install.iniFolder / profile->path);
            }
        }
    }
    if (!folders.empty()) {
        return folders;
    }
    // No profiles.ini names a profile: every profile folder below the cache
    // bases, in byte order of the names.
    for (const FirefoxInstall& install : installs) {
        for (const fs::path& folder : profileFoldersBelow(install.cacheBase)) {
            addUnique(folders, folder);
        }
    }
    return folders;
}

FirefoxCacheFolder findFirefoxCache(const FirefoxPlaces& places) {
    const std::vector<fs::path> folders = firefoxLocalFolders(places);
    for (const fs::path& folder : folders) {
        FirefoxCacheFolder found = classifyFirefoxFolder(folder);
        if (found.format != FirefoxCacheFormat::None) {
            return found;
        }
    }
    FirefoxCacheFolder none;
    if (!folders.empty()) {
        none.folder = folders.front();
        none.base = folders.front();
    }
    return none;
}

// ---- Every profile (the cache window offers each) ----

std::vector<FirefoxInstall> firefoxInstalls(const FirefoxPlaces& places) {
    std::vector<FirefoxInstall> installs;
    if (!places.configHome.empty() || !places.cacheHome.empty()) {
        // Without a configuration folder only the profile folders below the
        // cache base are looked at.
        installs.push_back(
            {places.configHome.empty() ? fs::path() : places.configHome / "mozilla" / "firefox",
             places.cacheHome.empty() ? fs::path() : places.cacheHome / "mozilla" / "firefox"});
    }
    if (!places.home.empty()) {
        installs.push_back(
            {places.home / ".mozilla" / "firefox", places.cacheHome / "mozilla" / "firefox"});
        const fs::path snap = places.home / "snap" / "firefox" / "common";
        installs.push_back(
            {snap / ".mozilla" / "firefox", snap / ".cache" / "mozilla" / "firefox"});
        const fs::path flatpak = places.home / ".var" / "app" / "org.mozilla.firefox";
        installs.push_back(
            {flatpak / ".mozilla" / "firefox", flatpak / "cache" / "mozilla" / "firefox"});
        installs.push_back({flatpak / "config" / "mozilla" / "firefox",
                            flatpak / "cache" / "mozilla" / "firefox"});
    }
    return installs;
}

std::vector<FirefoxProfile> profilesOf(std::string_view profilesIni) {
    std::vector<FirefoxProfile> profiles;
    for (ProfileSection& entry : profileSections(parseIni(profilesIni))) {
        profiles.push_back(std::move(entry.profile));
    }
    return profiles;
}

std::vector<FirefoxProfileCache> firefoxProfileCaches(const FirefoxPlaces& places) {
    std::vector<FirefoxProfileCache> inUse;
    std::vector<FirefoxProfileCache> others;
    std::vector<fs::path> seen;  // cache folders already offered
    // The cache of a profile: in the local folder, else (a relative profile
    // of an older version, or copied by hand) in the profile folder itself.
    const auto add = [&](const std::string& name, const std::vector<fs::path>& candidates,
                         std::vector<FirefoxProfileCache>& into) {
        for (const fs::path& candidate : candidates) {
            const FirefoxCacheFolder cache = classifyFirefoxFolder(candidate);
            if (cache.format == FirefoxCacheFormat::None) {
                continue;
            }
            try {
                resolveCacheFolder(cache.base, cache.entries.empty() ? cache.folder : cache.entries,
                                   cache.folder);
            } catch (const ErrorReport&) {
                return;  // reached through a link inside the profile
            }
            if (std::find(seen.begin(), seen.end(), cache.folder) == seen.end()) {
                seen.push_back(cache.folder);
                into.push_back({name.empty() ? candidate.filename().string() : name, cache});
            }
            return;
        }
    };
    const std::vector<FirefoxInstall> installs = firefoxInstalls(places);
    bool anyIni = false;
    for (const FirefoxInstall& install : installs) {
        if (install.cacheBase.empty() || install.cacheBase.is_relative() ||
            install.iniFolder.is_relative()) {
            continue;
        }
        const std::optional<InstallProfiles> listed = installProfiles(install);
        if (!listed) {
            continue;
        }
        const auto& [used, profiles] = *listed;
        anyIni = anyIni || !profiles.empty();
        for (const FirefoxProfile& profile : profiles) {
            std::vector<fs::path> candidates = {localFolderOf(profile, install.cacheBase)};
            if (profile.relative) {
                candidates.push_back(install.iniFolder / profile.path);
            }
            add(profile.name, candidates, used && used->path == profile.path ? inUse : others);
        }
    }
    if (!anyIni) {
        for (const FirefoxInstall& install : installs) {
            for (const fs::path& folder : profileFoldersBelow(install.cacheBase)) {
                add({}, {folder}, others);
            }
        }
    }
    inUse.insert(inUse.end(), std::make_move_iterator(others.begin()),
                 std::make_move_iterator(others.end()));
    return inUse;
}

std::vector<FirefoxProfileFolder> firefoxProfileFolders(const FirefoxPlaces& places) {
    std::vector<FirefoxProfileFolder> inUse;
    std::vector<FirefoxProfileFolder> others;
    for (const FirefoxInstall& install : firefoxInstalls(places)) {
        if (install.iniFolder.empty() || install.iniFolder.is_relative()) {
            continue;
        }
        const std::optional<InstallProfiles> listed = installProfiles(install);
        if (!listed) {
            continue;
        }
        const auto& [used, profiles] = *listed;
        for (const FirefoxProfile& profile : profiles) {
            const fs::path folder =
                profile.relative ? install.iniFolder / profile.path : profile.path;
            (used && used->path == profile.path ? inUse : others)
                .push_back(
                    {profile.name.empty() ? pathToUtf8(folder.filename()) : profile.name, folder});
        }
    }
    inUse.insert(inUse.end(), std::make_move_iterator(others.begin()),
                 std::make_move_iterator(others.end()));
    return inUse;
}

}  // namespace harvix
