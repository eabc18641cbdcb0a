#include "cli/ReaderArgs.h"

#include <cstdio>
#include <iostream>

#include "readers/ChromiumCacheBrowser.h"
#include "readers/IECache.h"
#include "readers/ReaderFactory.h"

int32_t BrowserKindFromWord(const std::string& word) {
    if (word == "mozilla" || word == "firefox") {
        return 0;
    }
    if (word == "ie") {
        return 1;
    }
    if (word == "maxthon") {
        return 2;
    }
    static const char* const chromiumFamily[] = {"chromium", "chrome",  "edge",
                                                 "brave",    "vivaldi", "opera"};
    for (int32_t i = 0; i < 6; ++i) {
        if (word == chromiumFamily[i])
            return 3 + i;
    }
    return -1;
}

std::unique_ptr<CCacheBrowser> MakeReaderOrSay(int32_t kind, const std::string& word,
                                               const std::string& cacheLocation) {
    std::unique_ptr<CCacheBrowser> reader = MakeReader(kind, cacheLocation);
    if (reader == nullptr) {
        std::cerr << "harvix-cli: the cache reader for '" << word
                  << "' is not available in this build\n";
    }
    return reader;
}

void SaySkipped(CCacheBrowser& reader, const std::string& command) {
    if (auto* chromium = dynamic_cast<ChromiumCacheBrowser*>(&reader)) {
        for (const auto& [reason, count] : chromium->Skipped()) {
            std::cerr << "harvix-cli " << command << ": left out " << count << " "
                      << (count == 1 ? "entry" : "entries") << ": " << reason << "\n";
        }
    }
}

void SayWhyNotOpened(CCacheBrowser& reader, const std::string& command) {
    if (auto* chromium = dynamic_cast<ChromiumCacheBrowser*>(&reader)) {
        std::cerr << "harvix-cli " << command << ": " << chromium->FailureText() << "\n";
    }
    if (auto* urlCache = dynamic_cast<CIECache*>(&reader)) {
        std::cerr << "harvix-cli " << command
                  << ": cannot open the URL cache: " << urlCache->Service().FailureText() << "\n";
    }
}

std::string FieldText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        } else {
            out.push_back(ch);
        }
    }
    return out;
}
