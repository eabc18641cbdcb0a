// The comb threads' reports on their way to the user-interface thread: the
// coordinator calls the two functions below on a comb thread, and they emit
// queued signals, which the main window takes on its own thread in the
// order they were sent. A comb thread never waits for the window.
//
// The coordinator's callbacks carry a context pointer; it points at a
// record that lives for the rest of the process, so that a report that
// comes after the window has gone finds no receiver and returns at once.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <mutex>

namespace harvix {

class CombReports : public QObject {
    Q_OBJECT

public:
    explicit CombReports(QObject* parent = nullptr);
    ~CombReports() override;
    CombReports(const CombReports&) = delete;
    CombReports& operator=(const CombReports&) = delete;

    // The context to hand the coordinator with the two callbacks.
    void* context() const { return link_; }

    // The coordinator's callbacks (any thread).
    static void onRunState(void* context, int32_t started);
    static void onProgress(void* context, int32_t percent);

signals:
    void runStateChanged(bool started);
    void progressed(int percent);

private:
    struct Link {
        std::mutex lock;
        CombReports* reports = nullptr;
    };
    static Link* makeLink();

    Link* link_;
};

}  // namespace harvix
