// What "list" and "comb" share: the browser words, the --cache option and
// making the reader for a kind as a comb run does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/LanguageTexts.h"
#include "engine/Browsers.h"
#include "readers/CacheReader.h"

namespace harvix {

// The reader of `browser`'s cache: of exactly `namedFolder` (--cache) when
// one is named, else as a comb run makes it from the remembered cache folder
// of the settings (for a browser with that option); null after printing why
// on standard error.
std::unique_ptr<CacheReader> makeReaderOrSay(const BrowserRow& browser,
                                             const std::string& namedFolder,
                                             const std::string& rememberedFolder,
                                             IPlatform& platform);

// Opens the cache; when it cannot be opened, prints why on standard error
// and returns false.
bool openOrSay(CacheReader& reader, const BrowserRow& browser, const std::string& command,
               const LanguageTexts& texts);
// Prints on standard error why `browser`'s cache could not be opened.
void sayWhyNotOpened(const CacheReader& reader, const ErrorReport& report,
                     const BrowserRow& browser, const std::string& command,
                     const LanguageTexts& texts);

// On standard error, one line per reason entries were left out
// ("harvix-cli list: 3 left out: redirect").
void sayWhatWasLeftOut(const SkipCounts& skipped, const std::string& command);

// A text fit for one tab-separated field: control characters (tabs and line
// ends included) become %XX.
std::string fieldText(const std::string& text);

}  // namespace harvix
