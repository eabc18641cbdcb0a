// The comb threads' reports on their way to the user-interface thread. The
// coordinator tells its events to an object that lives for the rest of the
// process (events()); it hands each report to this object as a queued
// signal, which the main window takes on its own thread in the order the
// reports were sent, so a comb thread never waits for the window. A report
// that comes after the window has gone finds no receiver and returns at once.
//
// Besides, each run's reports are gathered into a RunSummary, handed over
// once when the run ends, from which the tray makes its notice.
//
// An error the user must see is shown as a message box while the comb
// thread waits, as the run waited for it before; its text is made from the
// language texts the window last handed over (setTexts), so the comb thread
// never reads the texts the window may be changing.
#pragma once

#include <QObject>
#include <QString>

#include "ui/RunNotice.h"

namespace harvix {

class CoordinatorEvents;
struct LanguageTexts;

class CombReports : public QObject {
    Q_OBJECT

public:
    explicit CombReports(QObject* parent = nullptr);
    ~CombReports() override;
    CombReports(const CombReports&) = delete;
    CombReports& operator=(const CombReports&) = delete;

    // What the coordinator reports to; it outlives this object.
    CoordinatorEvents& events() const;
    // The texts of the boxes of later reports (user-interface thread).
    void setTexts(const LanguageTexts& texts);

    // Entry counts are handed on at most this often (and at the last entry).
    static constexpr int kCountPeriodMs = 50;

signals:
    void runStateChanged(bool started);
    // The run that started combs the cache of the browser named `browser`.
    void runBrowserKnown(const QString& browser);
    void progressed(int percent);
    // `done` of the `total` entries to comb are combed.
    void counted(qulonglong done, qulonglong total);
    // A run ended (before runStateChanged(false)); what it did.
    void runEnded(const harvix::RunSummary& summary);
    // A Firefox run found its cache folder; the option read `startedWith`
    // when the run began.
    void cacheFolderFound(const QString& startedWith, const QString& found);

private:
    class Link;
    Link* link_;
};

}  // namespace harvix
