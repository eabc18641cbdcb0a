// Reads a cache on a worker thread, as a comb run does (open, then the
// entries), and hands the entries to the user-interface thread while the
// reader reads them, in batches through queued calls, so that a window over
// a large cache never waits for the reading and shows the first rows while
// the rest arrive. Cancel stops the reader itself (CacheReader's reading
// watch), not only the handing over.
//
// The loader owns the reading: the reader and the entries it gave stay
// together, since only the reader knows where an entry's bytes lie. The
// reader reaches the user-interface thread when its reading has ended, so
// that nothing asks it for an entry's bytes while it reads.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
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

    // Entries handed over per queued call, at most; a slow reading hands
    // over what it has after kBatchInterval.
    static constexpr std::size_t kBatchSize = 1000;
    static constexpr std::chrono::milliseconds kBatchInterval{100};

    explicit CacheLoader(QObject* parent = nullptr);
    // Cancels a reading in progress and waits for the worker thread.
    ~CacheLoader() override;

    // Drops the entries of an earlier reading and starts a new one with the
    // reader that `makeReader` builds (on the worker thread).
    void start(ReaderFactory makeReader);
    // Asks the worker to stop; entries already handed over stay. The reader
    // stops before its next record, so `finished` follows a moment later.
    void cancel();
    bool running() const { return running_; }

    // The reading (user-interface thread): the reader, null until a
    // reading has ended, and the entries handed over so far, in reading
    // order (entries()[i]->index == i).
    const CacheReader* reader() const { return reader_.get(); }
    const std::vector<const CacheEntry*>& entries() const { return entries_; }
    const CacheEntry* entry(std::size_t position) const;
    // Keeps the reading (reader and entries) alive while the value is
    // held, also when a new reading starts (a save of its entries).
    std::shared_ptr<const void> holdReading() const;

    // The reason told when the source makes no reader.
    void setNoReaderText(const QString& text) { noReaderText_ = text; }

signals:
    // Entries [first, first + count) of entries() have arrived.
    void entriesAdded(std::size_t first, std::size_t count);
    // The reading ended; `error` is empty when the cache was read (even when
    // cancelled), else why it could not be opened or read.
    void finished(bool cancelled, const QString& error);

private:
    void join();
    using EntryStore = std::vector<std::unique_ptr<CacheEntry>>;

    void read(const ReaderFactory& makeReader, EntryStore& store, unsigned generation,
              const QString& noReader);
    void deliver(const std::vector<const CacheEntry*>& batch, unsigned generation);
    void end(std::shared_ptr<CacheReader> reader, const QString& error, unsigned generation);

    std::thread worker_;
    std::atomic<bool> cancel_{false};
    bool running_ = false;
    unsigned generation_ = 0;  // a reading's number: late calls of an earlier one are dropped
    std::shared_ptr<CacheReader> reader_;
    // The entries of the reading, owned here and filled by the worker: the
    // user-interface thread touches only the entries handed over to it
    // (entries_), never the vector, until the worker has ended.
    std::shared_ptr<EntryStore> store_;
    std::vector<const CacheEntry*> entries_;
    QString noReaderText_ = QStringLiteral("No reader for this cache.");
};

}  // namespace harvix
