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

// The reader for `kind` with `cacheLocation` (empty: the settings decide),
// or null after printing why on standard error.
std::unique_ptr<CacheReader> makeReaderOrSay(int32_t kind, const std::string& word,
                                             const std::string& cacheLocation);

// After a failed TryOpen: prints why on standard error where the error
// report did not (the URL cache's failures show no box).
void sayWhyNotOpened(CacheReader& reader, const std::string& command, const LanguageTexts& texts);

// A text fit for one tab-separated field: control characters (tabs and line
// ends included) become %XX.
std::string fieldText(const std::string& text);

}  // namespace harvix
