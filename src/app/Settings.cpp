#include "app/Settings.h"

#include <variant>

#include "app/LanguageTexts.h"
#include "app/Profile.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace {

constexpr std::string_view kSection = "GENERAL";

using FieldRef = std::variant<bool Settings::*, int32_t Settings::*, std::string Settings::*>;

struct StoredKey {
    std::string_view key;
    FieldRef field;
};

// The stored keys, in the order in which the file is read and written.
const StoredKey kStoredKeys[] = {
    {"Mozilla", &Settings::Mozilla},
    {"MozillaCachePath", &Settings::MozillaCachePath},
    {"IE", &Settings::IE},
    {"Maxthon", &Settings::Maxthon},
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
};

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

Settings& TheSettings() {
    static Settings instance;
    return instance;
}

void Settings::ComputePaths() {
    IPlatform& platform = Platform();
    exePath = platform.ExecutablePath();
    exeDir = exePath.parent_path();
    dataDir = platform.DataFolder(exeDir);
    cfgPath = platform.SettingsFolder(exeDir) / "Harvix.cfg";
    defaultFilterPath = dataDir / "Filters" / "Default.flt";
    langsDir = dataDir / "Langs";
    Language = PathToUtf8(langsDir / "English.lng");
    helpPath = dataDir / "help" / "index.html";
}

void Settings::InitSettings() {
    ComputePaths();
    LoadSettings();
    ApplyAutostart();
    SaveSettings();
    LoadLanguage(TheLanguage(), *this);
}

void Settings::LoadSettings() {
    const ProfileFile file = ProfileFile::Load(cfgPath);
    for (const StoredKey& stored : kStoredKeys) {
        const std::string value = file.Get(kSection, stored.key);
        if (value.empty()) {
            continue;
        }
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    this->*member = value;
                } else if constexpr (std::is_same_v<T, bool>) {
                    this->*member = LeadingInteger(value) != 0;
                } else {
                    this->*member = ClampToInt32(LeadingInteger(value));
                }
            },
            stored.field);
    }
}

bool Settings::SaveSettings() {
    ProfileFile file = ProfileFile::Load(cfgPath);
    for (const StoredKey& stored : kStoredKeys) {
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    file.Set(kSection, stored.key, this->*member);
                } else if constexpr (std::is_same_v<T, bool>) {
                    file.Set(kSection, stored.key, this->*member ? "1" : "0");
                } else {
                    file.Set(kSection, stored.key, std::to_string(this->*member));
                }
            },
            stored.field);
    }
    file.Save(cfgPath);  // a settings file that cannot be written is not reported
    ApplyAutostart();
    return true;
}

void Settings::ApplyAutostart() const {
    Platform().SetAutostart(StartWithWindowsStartUp, exePath);
}

int Settings::ProgressOpacity() const {
    return static_cast<int>(static_cast<uint32_t>(NotifyProgressTransparency) % 256u);
}
