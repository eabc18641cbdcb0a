#include "ui/ProgramState.h"

namespace harvix {

Settings& theSettings() {
    static Settings settings;
    return settings;
}

LanguageTexts& theLanguage() {
    static LanguageTexts texts;
    return texts;
}

}  // namespace harvix
