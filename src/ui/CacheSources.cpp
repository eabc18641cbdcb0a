#include "ui/CacheSources.h"

#include <algorithm>
#include <exception>

#include "app/Settings.h"
#include "engine/Browsers.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"
#include "readers/cache2/FirefoxDiscovery.h"
#include "readers/chromium/ChromiumCache.h"

namespace harvix {

namespace {

QString text(const fs::path& path) {
    return QString::fromStdString(pathToUtf8(path));
}

// A source that reads exactly `folder` with the row's own reader.
CacheSource folderSource(const BrowserRow& row, const QString& profile, const fs::path& folder) {
    const auto make = row.makeReaderAt ? row.makeReaderAt : row.makeReader;
    const std::string location = pathToUtf8(folder);
    return {QString::fromStdString(row.displayName), profile,
            [make, location] { return make(location); }, text(folder)};
}

// The name of the profile a remembered Firefox cache folder belongs to:
// the folder above cache2/ or Cache/, else the folder itself.
QString profileOfFolder(const fs::path& folder) {
    const std::string name = folder.filename().string();
    const bool cacheFolder = name == "cache2" || name == "Cache";
    return QString::fromStdString(
        (cacheFolder && folder.has_parent_path() ? folder.parent_path() : folder)
            .filename()
            .string());
}

void addFirefoxProfiles(const BrowserRow& row, const Settings& settings,
                        std::vector<CacheSource>& sources) {
    FirefoxPlaces places = firefoxPlacesFromEnvironment(platformServices().homeFolder());
    places.cacheHome = platformServices().localAppDataFolder();
    std::vector<fs::path> offered;
    for (const FirefoxProfileCache& profile : firefoxProfileCaches(places)) {
        sources.push_back(
            folderSource(row, QString::fromStdString(profile.name), profile.cache.folder));
        offered.push_back(profile.cache.folder);
    }
    if (settings.MozillaCachePath.empty()) {
        return;
    }
    const FirefoxCacheFolder remembered =
        classifyFirefoxFolder(pathFromUtf8(settings.MozillaCachePath));
    if (remembered.format != FirefoxCacheFormat::None &&
        std::find(offered.begin(), offered.end(), remembered.folder) == offered.end()) {
        sources.push_back(folderSource(row, profileOfFolder(remembered.folder), remembered.folder));
    }
}

// Every profile below the browser's cache roots; false for a row that is no
// member of the Chromium family.
bool addChromiumProfiles(const BrowserRow& row, std::vector<CacheSource>& sources) {
    const std::vector<fs::path> roots = chromium::browserCacheRoots(
        row.id, platformServices().localAppDataFolder(), platformServices().homeFolder());
    if (roots.empty()) {
        return false;
    }
    for (const fs::path& root : roots) {
        for (const chromium::CacheFolder& cache : chromium::findCacheFolders(root)) {
            const fs::path below = cache.folder.lexically_relative(cache.browserRoot);
            const QString profile = below.empty() || *below.begin() == ".."
                                        ? QString()
                                        : QString::fromStdString(below.begin()->string());
            sources.push_back(folderSource(row, profile, cache.folder));
        }
    }
    return true;
}

// The row's cache as its reader finds it, when it opens.
void addWholeCache(const BrowserRow& row, std::vector<CacheSource>& sources) {
    std::unique_ptr<CacheReader> probe = row.makeReader(std::string());
    if (probe == nullptr) {
        return;
    }
    try {
        probe->open();
    } catch (const std::exception&) {
        return;  // not found here: not offered
    }
    const fs::path folder = probe->root();
    probe->close();
    const auto make = row.makeReader;
    sources.push_back({QString::fromStdString(row.displayName), QString(),
                       [make] { return make(std::string()); }, text(folder)});
}

}  // namespace

QString CacheSource::label() const {
    return profile.isEmpty() ? browser : browser + QStringLiteral(" \u2014 ") + profile;
}

std::vector<CacheSource> findCacheSources(const Settings& settings) {
    std::vector<CacheSource> sources;
    std::vector<std::string> rowOf;  // the id of the row each source came from
    for (const BrowserRow& row : browserTable()) {
        // A cache shared with a row offered before is offered once, under
        // both names.
        bool shared = false;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const auto& others = row.sharesCacheWith;
            if (std::find(others.begin(), others.end(), rowOf[i]) != others.end()) {
                sources[i].browser +=
                    QStringLiteral(", ") + QString::fromStdString(row.displayName);
                shared = true;
            }
        }
        if (shared || !row.makeReader) {
            continue;
        }
        // The row whose cache folder the options name is Firefox's.
        if (row.hasCacheFolderOption) {
            addFirefoxProfiles(row, settings, sources);
        } else if (!addChromiumProfiles(row, sources)) {
            addWholeCache(row, sources);
        }
        rowOf.resize(sources.size(), row.id);
    }
    return sources;
}

}  // namespace harvix
