// The comb threads' reports on their way to the user-interface thread. The
// coordinator tells its events to an object that lives for the rest of the
// process (events()); it hands each report to this object as a queued
// signal, which the main window takes on its own thread in the order the
// reports were sent, so a comb thread never waits for the window. A report
// that comes after the window has gone finds no receiver and returns at once.
//
// An error the user must see is shown as a message box while the comb
// thread waits, as the run waited for it before; its text is made from the
// language texts the window last handed over (setTexts), so the comb thread
// never reads the texts the window may be changing.
#pragma once

#include <QObject>
#include <QString>

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

signals:
    void runStateChanged(bool started);
    void progressed(int percent);
    // A Firefox run found its cache folder; the option read `startedWith`
    // when the run began.
    void cacheFolderFound(const QString& startedWith, const QString& found);

private:
    class Link;
    Link* link_;
};

}  // namespace harvix
