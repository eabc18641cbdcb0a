// The tray program's settings record and language texts: one of each per
// process, owned by the front end. The main window loads them at start and
// writes the settings back at the end; the core only ever gets their values.
#pragma once

#include "app/LanguageTexts.h"
#include "app/Settings.h"

namespace harvix {

Settings& theSettings();
LanguageTexts& theLanguage();

}  // namespace harvix
