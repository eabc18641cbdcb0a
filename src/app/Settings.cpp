#include "app/Settings.h"

#include <variant>

#include "app/LanguageTexts.h"
#include "base/Profile.h"
#include "base/Text.h"
#include "platform/Path.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

constexpr std::string_view kSection = "GENERAL";

using FieldRef = std::variant<bool Settings::*, int32_t Settings::*, std::string Settings::*>;

struct StoredKey {
    std::string_view key;
    FieldRef field;
};

// The stored keys besides the watch keys, in the order in which the file is
// read and written; the first browsers' watch keys come before them, the
// folder option after the row that has it.
const StoredKey kCacheFolderKey = {"MozillaCachePath", &Settings::MozillaCachePath};
const StoredKey kStoredKeys[] = {
    {"DefaultCombPath", &Settings::DefaultCombPath},
    {"DefaultFileNameDummy", &Settings::DefaultFileNameDummy},
    {"FiltersFileName", &Settings::FiltersFileName},
    {"ShowNotifyProgressBar", &Settings::ShowNotifyProgressBar},
    {"NotifyProgressBarOnCenter", &Settings::NotifyProgressBarOnCenter},
    {"NotifyProgressTransparency", &Settings::NotifyProgressTransparency},
    {"OneCopy", &Settings::OneCopy},
    {"SkipDuplicates", &Settings::SkipDuplicates},
    {"StartWithWindowsStartUp", &Settings::StartWithWindowsStartUp},
    {"Language", &Settings::Language},
    {"CacheWindowColumns", &Settings::CacheWindowColumns},
};

// Whether `row` is watched when the settings file holds no value for it, on
// this machine as it is now.
bool machineDefault(const BrowserRow& row) {
    switch (row.watchDefault) {
        case WatchDefault::On:
            return true;
        case WatchDefault::WhenPresent:
            return row.isPresent(platformServices());
        case WatchDefault::Off:
            break;
    }
    return false;
}

int32_t ClampToInt32(int64_t value) {
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

void Settings::computePaths() {
    IPlatform& platform = platformServices();
    exePath = platform.executablePath();
    exeDir = exePath.parent_path();
    dataDir = platform.dataFolder(exeDir);
    cfgPath = platform.settingsFolder(exeDir) / "Harvix.cfg";
    defaultFilterPath = dataDir / "Filters" / "Default.flt";
    userFiltersDir = platform.configFolder() / "Harvix" / "Filters";
    langsDir = dataDir / "Langs";
    Language = pathToUtf8(langsDir / "English.lng");
    helpPath = dataDir / "help" / "index.html";
}

bool Settings::isShippedFile(const fs::path& path) const {
    if (path.empty() || dataDir.empty()) {
        return false;
    }
    std::error_code ec;
    const fs::path file = fs::weakly_canonical(path, ec);
    const fs::path data = fs::weakly_canonical(dataDir, ec);
    if (file.empty() || data.empty()) {
        return false;
    }
    // Below the data folder: the relative path neither climbs out nor is empty.
    const fs::path relative = file.lexically_relative(data);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

void Settings::initSettings(LanguageTexts& texts) {
    computePaths();
    loadSettings();
    applyAutostart();
    saveSettings();
    loadLanguage(texts, *this);
}

void Settings::loadSettings() {
    const ProfileFile file = ProfileFile::load(cfgPath);
    const auto read = [&](const StoredKey& stored) {
        const std::string value = file.get(kSection, stored.key);
        if (value.empty()) {
            return;
        }
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    this->*member = value;
                } else if constexpr (std::is_same_v<T, bool>) {
                    this->*member = leadingInteger(value) != 0;
                } else {
                    this->*member = ClampToInt32(leadingInteger(value));
                }
            },
            stored.field);
    };
    read(kCacheFolderKey);
    for (const StoredKey& stored : kStoredKeys) {
        read(stored);
    }
    for (const BrowserRow& row : browserTable()) {
        const std::string value = file.get(kSection, row.watchSettingsKey);
        if (!value.empty()) {
            watch[row.watchSettingsKey] = leadingInteger(value) != 0;
        } else if (watch.count(row.watchSettingsKey) == 0) {
            // A browser the program added later is watched where it is
            // installed or has been used.
            watch[row.watchSettingsKey] = machineDefault(row);
        }
    }
}

bool Settings::saveSettings() {
    // The per-user folder (~/.config/Harvix) is made by the first save,
    // never by a reader of the settings (harvix-cli creates nothing there);
    // only that last folder, inside a configuration folder that exists.
    if (cfgPath.has_parent_path()) {
        std::error_code ec;
        fs::create_directory(cfgPath.parent_path(), ec);
    }
    ProfileFile file = ProfileFile::load(cfgPath);
    const auto write = [&](const StoredKey& stored) {
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    file.set(kSection, stored.key, this->*member);
                } else if constexpr (std::is_same_v<T, bool>) {
                    file.set(kSection, stored.key, this->*member ? "1" : "0");
                } else {
                    file.set(kSection, stored.key, std::to_string(this->*member));
                }
            },
            stored.field);
    };
    const auto writeWatch = [&](const BrowserRow& row) {
        // A default that follows the machine is stored only where the user
        // chose otherwise, so that it is asked again at the next start (a
        // browser installed since is then watched).
        if (row.watchDefault == WatchDefault::WhenPresent && watches(row) == machineDefault(row)) {
            file.removeKey(kSection, row.watchSettingsKey);
        } else {
            file.set(kSection, row.watchSettingsKey, watches(row) ? "1" : "0");
        }
    };
    for (const BrowserRow& row : browserTable()) {
        if (row.watchKeyFirst) {
            writeWatch(row);
            if (row.hasCacheFolderOption) {
                write(kCacheFolderKey);
            }
        }
    }
    for (const StoredKey& stored : kStoredKeys) {
        write(stored);
    }
    for (const BrowserRow& row : browserTable()) {
        if (!row.watchKeyFirst) {
            writeWatch(row);
        }
    }
    file.save(cfgPath);  // a settings file that cannot be written is not reported
    applyAutostart();
    return true;
}

void Settings::applyAutostart() const {
    platformServices().setAutostart(StartWithWindowsStartUp, exePath);
}

bool Settings::watches(const BrowserRow& row) const {
    const auto found = watch.find(row.watchSettingsKey);
    return found != watch.end() ? found->second : row.watchDefault == WatchDefault::On;
}

void Settings::setWatches(const BrowserRow& row, bool on) {
    watch[row.watchSettingsKey] = on;
}

std::vector<const BrowserRow*> Settings::watchedRows() const {
    std::vector<const BrowserRow*> rows;
    for (const BrowserRow& row : browserTable()) {
        if (watches(row)) {
            rows.push_back(&row);
        }
    }
    return rows;
}

int Settings::progressOpacity() const {
    return static_cast<int>(static_cast<uint32_t>(NotifyProgressTransparency) % 256u);
}

}  // namespace harvix
