#include "ui/CacheSources.h"

#include <algorithm>
#include <exception>

#include "app/Settings.h"
#include "engine/Browsers.h"
#include "platform/Text.h"
#include "readers/CacheReader.h"

namespace harvix {

std::vector<CacheSource> findCacheSources(const Settings& settings) {
    std::vector<CacheSource> sources;
    std::vector<std::string> listed;  // ids of the rows already offered
    const std::vector<BrowserRow>& table = browserTable();
    for (std::size_t kind = 0; kind < table.size(); ++kind) {
        const BrowserRow& row = table[kind];
        // A cache shared with a row offered before is offered once, under
        // both names.
        bool shared = false;
        for (const std::string& other : row.sharesCacheWith) {
            const auto at = std::find(listed.begin(), listed.end(), other);
            if (at != listed.end()) {
                CacheSource& source = sources[static_cast<std::size_t>(at - listed.begin())];
                source.browser += QStringLiteral(", ") + QString::fromStdString(row.displayName);
                shared = true;
                break;
            }
        }
        if (shared || !row.makeReader) {
            continue;
        }
        const std::string location =
            row.hasCacheFolderOption ? settings.MozillaCachePath : std::string();
        std::unique_ptr<CacheReader> probe = row.makeReader(location);
        if (probe == nullptr) {
            continue;
        }
        try {
            probe->open();
        } catch (const std::exception&) {
            continue;  // not found here: not offered
        }
        const QString folder = QString::fromStdString(pathToUtf8(probe->root()));
        probe->close();
        const auto make = row.makeReader;
        sources.push_back({QString::fromStdString(row.displayName), folder,
                           [make, location] { return make(location); }});
        listed.push_back(row.id);
    }
    return sources;
}

}  // namespace harvix
