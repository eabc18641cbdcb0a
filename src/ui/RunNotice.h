// What the tray tells at the end of a comb run: a notice made of what the
// run reported (files kept and into which folders, duplicates, pictures too
// small, failed copies by reason, a cache that cannot be opened, a cancel),
// in the words of the language file.
#pragma once

#include <QMetaType>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/ErrorReport.h"
#include "filter/CombPass.h"

namespace harvix {

struct LanguageTexts;

// One run as the coordinator reported it, gathered on the comb thread.
struct RunSummary {
    int kind = -1;  // the browser combed; -1 before the run knew it
    // The pass ran to its end (or to a cancel) and `result` is what it did.
    bool combed = false;
    CombResult result;
    // The folders kept into, in the order of their first kept file, and how
    // many files each got.
    std::vector<std::pair<std::string, uint64_t>> folders;
    // The cache could not be opened (told by nothing else).
    std::optional<ErrorReport> openFailure;

    // Counts a file the run kept.
    void addKept(const std::string& path);
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
// failure a message box has told already.
RunNotice runNotice(const RunSummary& run, const LanguageTexts& texts);

}  // namespace harvix

Q_DECLARE_METATYPE(harvix::RunSummary)
