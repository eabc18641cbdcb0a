#include "engine/Error.h"

#include "app/LanguageTexts.h"
#include "platform/Notifier.h"
#include "platform/Platform.h"

namespace {

const char* ModuleLabel(int32_t module) {
    switch (module) {
        case CError::FilterCache:
            return "FilterCache:";
        case CError::MozillaCache:
            return "MozillaCache:";
        case CError::IECache:
            return "IECache:";
        case CError::ChromiumCache:
            return "ChromiumCache:";
        default:
            return "";
    }
}

}  // namespace

bool CError::ShowsBox(int32_t module, int32_t kind) {
    return (kind == FileOpen && module == MozillaCache) || kind == CreateFolder;
}

std::string CError::BoxText(int32_t module, int32_t kind, const std::string& path,
                            const std::string& systemText) {
    if (!ShowsBox(module, kind)) {
        return {};
    }
    const LanguageTexts& texts = TheLanguage();
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

CError::CError(int32_t module, int32_t kind, const std::string& path,
               const std::string& /*secondPath*/) {
    if (!ShowsBox(module, kind)) {
        return;
    }
    // Read first, so that the text belongs to the failed file operation.
    const std::string systemText = Platform().LastSystemErrorText();
    Notifier().Show("Harvix", BoxText(module, kind, path, systemText), MessageIcon::Error,
                    MessageButtons::Ok);
}

CError::CError(CopyStep, int32_t /*module*/, int32_t /*kind*/, const std::string& /*path*/,
               const std::string& /*secondPath*/) {}
