// Reads a cache on a worker thread, as a comb run does (open, then the
// entries), and hands the entries to the user-interface thread in batches
// through queued calls, so that a window over a large cache never waits for
// the reading and shows the first rows while the rest arrive.
//
// The loader owns the reading: the reader and the entries it gave stay
// together, since only the reader knows where an entry's bytes lie.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace harvix {

class CacheReader;
struct CacheEntry;

class CacheLoader : public QObject {
    Q_OBJECT

public:
    using ReaderFactory = std::function<std::unique_ptr<CacheReader>()>;

    // Entries handed over per queued call.
    static constexpr std::size_t kBatchSize = 1000;

    explicit CacheLoader(QObject* parent = nullptr);
    // Cancels a reading in progress and waits for the worker thread.
    ~CacheLoader() override;

    // Drops the entries of an earlier reading and starts a new one with the
    // reader that `makeReader` builds (on the worker thread).
    void start(ReaderFactory makeReader);
    // Asks the worker to stop; entries already handed over stay. The reader
    // finishes its own step first, so `finished` may follow a moment later.
    void cancel();
    bool running() const { return running_; }

    // The reading (user-interface thread): the reader, null before a
    // reading, and the entries handed over so far, in reading order.
    const CacheReader* reader() const { return reader_.get(); }
    const std::vector<std::unique_ptr<CacheEntry>>& entries() const { return entries_; }
    const CacheEntry* entry(std::size_t position) const;

signals:
    // Entries [first, first + count) of entries() have arrived.
    void entriesAdded(std::size_t first, std::size_t count);
    // The reading ended; `error` is empty when the cache was read (even when
    // cancelled), else why it could not be opened or read.
    void finished(bool cancelled, const QString& error);

private:
    void join();
    void deliver(std::shared_ptr<std::vector<std::unique_ptr<CacheEntry>>> batch,
                 unsigned generation);
    void end(bool cancelled, const QString& error, unsigned generation);

    std::thread worker_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
    unsigned generation_ = 0;  // a reading's number: late calls of an earlier one are dropped
    std::shared_ptr<CacheReader> reader_;
    std::vector<std::unique_ptr<CacheEntry>> entries_;
};

}  // namespace harvix
