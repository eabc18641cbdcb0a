#include "app/LanguageTexts.h"

#include <algorithm>

#include "app/Settings.h"
#include "base/Profile.h"
#include "base/Text.h"
#include "engine/Browsers.h"
#include "platform/Path.h"

namespace harvix {

const std::vector<LanguageTexts::Key>& LanguageTexts::Keys() {
    static const std::vector<Key> keys = {
#define HARVIX_KEY_ENTRY(key, text) {#key, &LanguageTexts::key},
        HARVIX_LANGUAGE_KEYS(HARVIX_KEY_ENTRY)
#undef HARVIX_KEY_ENTRY
    };
    return keys;
}

const std::string& LanguageTexts::byKey(std::string_view name) const {
    for (const Key& key : Keys()) {
        if (name == key.name) {
            return this->*key.text;
        }
    }
    static const std::string none;
    return none;
}

std::string LanguageTexts::browserName(const BrowserRow& row) const {
    const std::string& text = byKey(row.nameTextKey);
    return text.empty() ? row.displayName : text;
}

bool loadLanguage(LanguageTexts& texts, const Settings& settings) {
    const ProfileFile file = ProfileFile::load(pathFromUtf8(settings.Language));
    for (const LanguageTexts::Key& key : LanguageTexts::Keys()) {
        std::string value = file.get("GENERAL", key.name);
        if (!value.empty()) {
            texts.*key.text = std::move(value);
        }
    }
    return true;
}

std::string getLanguageName(const fs::path& languageFile) {
    return readProfileString(languageFile, "GENERAL", "Language");
}

LanguageList listLanguages(Settings& settings) {
    LanguageList list;
    std::error_code ec;
    for (fs::directory_iterator it(settings.langsDir, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path& found = it->path();
        if (!equalsNoCase(found.extension().string(), ".lng") || it->is_directory(ec)) {
            continue;
        }
        const fs::path full = settings.langsDir / found.filename();
        list.entries.emplace_back(getLanguageName(full), full);
    }
    // The folder lists its files in no useful order here; sorting by file
    // name keeps the list stable between runs.
    std::sort(list.entries.begin(), list.entries.end(), [](const auto& a, const auto& b) {
        return a.second.filename() < b.second.filename();
    });
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        if (pathToUtf8(list.entries[i].second) == settings.Language) {
            list.current = static_cast<int>(i);
            break;
        }
    }
    if (list.current < 0 && !list.entries.empty()) {
        list.current = 0;
        settings.Language = pathToUtf8(list.entries.front().second);
    }
    return list;
}

}  // namespace harvix
