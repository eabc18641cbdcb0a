#include "ui/CacheSources.h"

#include <algorithm>
#include <exception>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "engine/Browsers.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace {

QString text(const fs::path& path) {
    return QString::fromStdString(pathToUtf8(path));
}

// A source that reads exactly `folder` with the row's own reader.
CacheSource folderSource(const BrowserRow& row, const QString& name, const QString& profile,
                         const fs::path& folder) {
    const std::string location = pathToUtf8(folder);
    return {name, profile, [&row, location] { return row.readerAt(platformServices(), location); },
            text(folder)};
}

// The row's cache as its reader finds it, when it opens.
void addWholeCache(const BrowserRow& row, const QString& name, std::vector<CacheSource>& sources) {
    std::unique_ptr<CacheReader> probe = row.reader(platformServices(), std::string());
    if (probe == nullptr || openCache(*probe)) {
        return;  // not found here: not offered
    }
    const fs::path folder = probe->root();
    probe->close();
    sources.push_back({name, QString(),
                       [&row] { return row.reader(platformServices(), std::string()); },
                       text(folder)});
}

}  // namespace

QString CacheSource::label() const {
    const QString named =
        profile.isEmpty() ? browser : browser + QStringLiteral(" \u2014 ") + profile;
    return store.isEmpty() ? named : named + QStringLiteral(" (") + store + QStringLiteral(")");
}

std::vector<CacheSource> findCacheSources(const Settings& settings, const LanguageTexts& texts) {
    std::vector<CacheSource> sources;
    std::vector<std::string> rowOf;  // the id of the row each source came from
    for (const BrowserRow& row : browserTable()) {
        const QString name = QString::fromStdString(texts.browserName(row));
        // A cache shared with a row offered before is offered once, under
        // both names.
        bool shared = false;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const auto& others = row.sharesCacheWith;
            if (std::find(others.begin(), others.end(), rowOf[i]) != others.end()) {
                sources[i].browser += QStringLiteral(", ") + name;
                shared = true;
            }
        }
        if (shared || !row.makeReader) {
            continue;
        }
        if (row.findProfiles) {
            const std::string remembered =
                row.hasCacheFolderOption ? settings.MozillaCachePath : "";
            for (const CacheProfile& profile : row.findProfiles(platformServices(), remembered)) {
                sources.push_back(
                    folderSource(row, name, QString::fromStdString(profile.name), profile.folder));
                if (profile.serviceWorkerCaches) {
                    sources.back().store =
                        QString::fromStdString(texts.byKey("BrowseServiceWorkerCaches"));
                }
            }
        } else {
            addWholeCache(row, name, sources);
        }
        rowOf.resize(sources.size(), row.id);
    }
    return sources;
}

}  // namespace harvix
