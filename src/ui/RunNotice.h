// What the tray tells at the end of a comb run: a notice made of what the
// run reported (files kept and into which folders, duplicates, pictures too
// small, failed copies by reason, a cache that cannot be opened, a cancel),
// in the words of the language file.
#pragma once

#include <QMetaType>
#include <QString>
#include <string>

#include "engine/CombOnce.h"

namespace harvix {

struct BrowserRow;
struct LanguageTexts;

// One run as the coordinator reported it, gathered on the comb thread.
struct RunSummary {
    const BrowserRow* browser = nullptr;  // the browser combed
    // The run reached its end (or a cancel) and `run` is what it did: why
    // the cache could not be opened, or the pass's result with the folders
    // kept into.
    bool finished = false;
    CombRun run;
    // Why the run ended early on a fault, when it did (it did not finish).
    std::string failure;
};

struct RunNotice {
    QString title;
    QString text;
    // Opened by a click on the notice: the first folder kept into; empty
    // when the run kept nothing.
    QString folder;
    bool warning = false;  // something failed

    bool isEmpty() const { return title.isEmpty(); }
    // The notice as one line (standard error, the session's journal).
    QString line() const;
};

// The notice of a run; an empty one for a run that found nothing to do
// (nothing kept, dropped or failed, and not cancelled), and for one whose
// failure a message box has told already (a cache that cannot be opened, a
// target folder refused).
RunNotice runNotice(const RunSummary& run, const LanguageTexts& texts);

}  // namespace harvix

Q_DECLARE_METATYPE(harvix::RunSummary)
