#include "app/ErrorText.h"

namespace harvix {

namespace {

const char* moduleLabel(ErrorReport::Module module) {
    switch (module) {
        case ErrorReport::FilterCache:
            return "FilterCache:";
        case ErrorReport::MozillaCache:
            return "MozillaCache:";
        case ErrorReport::IECache:
            return "IECache:";
        case ErrorReport::ChromiumCache:
            return "ChromiumCache:";
        case ErrorReport::BodyCopy:
            return "BodyCopy:";
        case ErrorReport::CacheReader:
            return "CacheReader:";
    }
    return "";
}

// The extra information of a box: the system's text, or for a refusal the
// program decided itself, why.
std::string extraInformation(const ErrorReport& report) {
    switch (report.kind()) {
        case ErrorReport::TargetInCache:
            return "The folder lies inside the browser's cache (" + report.secondPath() +
                   "), which is only ever read.";
        case ErrorReport::BadFileName:
            return "The filename dummy \"" + report.secondPath() +
                   "\" holds a '/', which cannot stand in a file name.";
        default:
            return report.systemText();
    }
}

// What a cache that cannot be opened reads as: the text its browser names,
// else Firefox's.
std::string cacheOpenBody(const LanguageTexts& texts, const BrowserRow* browser) {
    return browser != nullptr && !browser->cacheOpenErrorKey.empty()
               ? texts.byKey(browser->cacheOpenErrorKey)
               : texts.ErrorMozillaCacheOpen;
}

}  // namespace

bool showsErrorBox(const ErrorReport& report) {
    switch (report.kind()) {
        case ErrorReport::CreateFolder:
        case ErrorReport::TargetInCache:
        case ErrorReport::BadFileName:
            return true;
        case ErrorReport::CacheOpen:
            return true;
        case ErrorReport::FileOpen:
            return report.module() == ErrorReport::MozillaCache;
        default:
            return false;
    }
}

std::string errorBoxText(const ErrorReport& report, const LanguageTexts& texts,
                         const BrowserRow* browser) {
    if (!showsErrorBox(report)) {
        return {};
    }
    std::string body;
    if (report.kind() == ErrorReport::CreateFolder || report.kind() == ErrorReport::TargetInCache ||
        report.kind() == ErrorReport::BadFileName) {
        body = texts.ErrorCreateFolder + ":\n" + report.path();
    } else {
        body = cacheOpenBody(texts, browser);
        if (!report.path().empty()) {
            body += "\n" + report.path();
        }
    }
    const std::string extra = extraInformation(report);
    if (!extra.empty()) {
        body += "\n" + texts.ErrorExtraInfo + ": \n" + extra;
    }
    return std::string(moduleLabel(report.module())) + " \n" + body;
}

std::string cacheOpenText(const ErrorReport& report, const LanguageTexts& texts,
                          const BrowserRow* browser) {
    std::string text = cacheOpenBody(texts, browser);
    if (!report.path().empty()) {
        text += "\n" + report.path();
    }
    const std::string system = report.systemText();
    if (!system.empty()) {
        text += " (" + system + ")";
    }
    return text;
}

std::string errorLine(const ErrorReport& report) {
    std::string line;
    switch (report.kind()) {
        case ErrorReport::CreateFolder:
            line = "cannot create the folder " + report.path();
            break;
        case ErrorReport::TargetInCache:
            line = "refused the folder " + report.path() + ": it lies inside the cache " +
                   report.secondPath() + ", which is only ever read";
            break;
        case ErrorReport::BadFileName:
            line = "the filename dummy \"" + report.secondPath() + "\" of the item for " +
                   report.path() + " holds a '/': its matches are not saved";
            break;
        case ErrorReport::CacheOpen:
        case ErrorReport::FileOpen:
            line = "cannot open " + report.path();
            break;
        case ErrorReport::FileRead:
            line = "cannot read " + report.path();
            break;
        case ErrorReport::FileWrite:
            line = "cannot write " + report.path();
            break;
        case ErrorReport::FileCopy:
            line = "cannot copy " + report.path();
            break;
        case ErrorReport::Unsupported:
            line = "cannot decode " + report.path();
            break;
    }
    const std::string system = report.systemText();
    if (!system.empty()) {
        line += " (" + system + ")";
    }
    return line;
}

}  // namespace harvix
