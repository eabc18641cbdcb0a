#include "ui/WatchedBrowsers.h"

#include "app/Settings.h"
#include "engine/Browsers.h"

namespace harvix {

bool* watchFlag(Settings& settings, const std::string& key) {
    if (key == "Mozilla") {
        return &settings.Mozilla;
    }
    if (key == "IE") {
        return &settings.IE;
    }
    if (key == "Maxthon") {
        return &settings.Maxthon;
    }
    return nullptr;
}

std::vector<bool> watchedBrowsers(Settings& settings) {
    std::vector<bool> watched;
    for (const BrowserRow& row : browserTable()) {
        const bool* flag = watchFlag(settings, row.watchSettingsKey);
        watched.push_back(flag != nullptr && *flag);
    }
    return watched;
}

}  // namespace harvix
