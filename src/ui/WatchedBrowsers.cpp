#include "ui/WatchedBrowsers.h"

#include "app/Settings.h"
#include "engine/Browsers.h"

#include <utility>

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
    const std::pair<const char*, bool Settings::*> family[] = {
        {"UseChromium", &Settings::UseChromium}, {"UseChrome", &Settings::UseChrome},
        {"UseEdge", &Settings::UseEdge},         {"UseBrave", &Settings::UseBrave},
        {"UseVivaldi", &Settings::UseVivaldi},   {"UseOpera", &Settings::UseOpera}};
    for (const auto& [name, flag] : family) {
        if (key == name) {
            return &(settings.*flag);
        }
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
