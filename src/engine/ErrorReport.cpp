#include "engine/ErrorReport.h"

#include "app/LanguageTexts.h"
#include "platform/Notifier.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

const char* ModuleLabel(int32_t module) {
    switch (module) {
        case ErrorReport::FilterCache:
            return "FilterCache:";
        case ErrorReport::MozillaCache:
            return "MozillaCache:";
        case ErrorReport::IECache:
            return "IECache:";
        default:
            return "";
    }
}

}  // namespace

bool ErrorReport::showsBox(int32_t module, int32_t kind) {
    return (kind == FileOpen && module == MozillaCache) || kind == CreateFolder;
}

std::string ErrorReport::boxText(int32_t module, int32_t kind, const std::string& path,
                                 const std::string& systemText) {
    if (!showsBox(module, kind)) {
        return {};
    }
    const LanguageTexts& texts = theLanguage();
    std::string body;
    if (kind == CreateFolder) {
        body = texts.ErrorCreateFolder + ":\n" + path;
    } else {
        body = texts.ErrorMozillaCacheOpen;
    }
    if (!systemText.empty()) {
        body += "\nДоп. инфо: \n" + systemText;
    }
    return std::string(ModuleLabel(module)) + " \n" + body;
}

ErrorReport::ErrorReport(int32_t module, int32_t kind, const std::string& path,
                         const std::string& /*secondPath*/) {
    if (!showsBox(module, kind)) {
        return;
    }
    // Read first, so that the text belongs to the failed file operation.
    const std::string systemText = platformServices().lastSystemErrorText();
    notifier().show("Harvix", boxText(module, kind, path, systemText), MessageIcon::Error,
                    MessageButtons::Ok);
}

ErrorReport::ErrorReport(CopyStep, int32_t /*module*/, int32_t /*kind*/,
                         const std::string& /*path*/, const std::string& /*secondPath*/) {}

}  // namespace harvix
