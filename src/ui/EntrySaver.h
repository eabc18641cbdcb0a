// Saves chosen entries of the cache window's reading on a worker thread,
// with the comb's own save step (filter/EntrySave.h), or writes them into a
// web archive (filter/WarcExport.h), so that the window never waits for a
// large copy. It tells how far it has come a few times a
// second, and Cancel stops it before its next entry; what was saved stays.
//
// The saver holds the reading (reader and entries) it saves from until it
// has ended, so a new reading may start meanwhile.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace harvix {

class CacheReader;
class IPlatform;
struct CacheEntry;

class EntrySaver : public QObject {
    Q_OBJECT

public:
    // Counts are handed over at most this often (and at the last entry).
    static constexpr int kProgressPeriodMs = 50;

    explicit EntrySaver(QObject* parent = nullptr);
    // Cancels a save in progress and waits for the worker thread.
    ~EntrySaver() override;

    // Starts saving `entries` (of `reader`'s reading, kept alive by
    // `reading`) into `folder` on `platform`, which outlives the save;
    // false, doing nothing, while a save runs.
    bool start(std::shared_ptr<const void> reading, const CacheReader& reader,
               std::vector<const CacheEntry*> entries, const QString& folder, const QString& stem,
               bool skipDuplicates, IPlatform& platform);
    // Writes `entries` into the new web archive `file` (absolute) on a
    // worker; `description` names the cache for the archive's first record.
    // The archive is named only when complete; there is no cancel. False,
    // doing nothing, while a save or an export runs.
    bool startExport(std::shared_ptr<const void> reading, const CacheReader& reader,
                     std::vector<const CacheEntry*> entries, const QString& file,
                     const QString& description, int64_t now);
    void cancel();
    bool running() const { return running_; }

signals:
    // `done` of `total` entries are through.
    void progressed(qulonglong done, qulonglong total);
    // The save ended: new files, entries already in the folder, entries
    // that failed, entries a cancel left; `error` (the folder cannot be
    // made or lies in the cache, or the stem cannot stand in a name: nothing
    // was saved) is empty otherwise.
    void finished(int saved, int duplicates, int failed, int cancelled, const QString& error);
    // An export ended: the archive written, its response records, the
    // entries left out (no stored head, another status) and those whose
    // bytes could not be read; `error` says why no archive was written.
    void exported(const QString& path, qulonglong records, qulonglong leftOut, qulonglong failed,
                  const QString& error);

private:
    void join();

    std::thread worker_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
};

}  // namespace harvix
