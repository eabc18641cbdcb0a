#include "ui/CacheLoader.h"

#include <exception>
#include <utility>

#include "app/ErrorText.h"
#include "readers/CacheReader.h"

namespace harvix {

CacheLoader::CacheLoader(QObject* parent) : QObject(parent) {}

CacheLoader::~CacheLoader() {
    cancel();
    join();
}

void CacheLoader::join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CacheLoader::cancel() {
    cancel_ = true;
}

const CacheEntry* CacheLoader::entry(std::size_t position) const {
    return position < entries_.size() ? entries_[position] : nullptr;
}

std::shared_ptr<const void> CacheLoader::holdReading() const {
    return std::make_shared<std::pair<std::shared_ptr<CacheReader>, std::shared_ptr<EntryStore>>>(
        reader_, store_);
}

void CacheLoader::start(ReaderFactory makeReader) {
    cancel();
    join();
    cancel_ = false;
    ++generation_;
    entries_.clear();
    reader_.reset();
    store_ = std::make_shared<EntryStore>();
    running_ = true;
    const unsigned generation = generation_;
    worker_ =
        std::thread([this, makeReader = std::move(makeReader), store = store_, generation,
                     noReader = noReaderText_] { read(makeReader, *store, generation, noReader); });
}

// The worker: opens the cache and reads it, handing the entries over as the
// reader appends them (numbered in reading order), until the end or a cancel.
void CacheLoader::read(const ReaderFactory& makeReader, EntryStore& store, unsigned generation,
                       const QString& noReader) {
    std::shared_ptr<CacheReader> reader;
    QString error;
    std::size_t handed = 0;
    auto lastHanded = std::chrono::steady_clock::now();
    const auto handOver = [&](const EntryStore& read) {
        if (read.size() == handed) {
            return;
        }
        std::vector<const CacheEntry*> batch;
        batch.reserve(read.size() - handed);
        for (; handed < read.size(); ++handed) {
            read[handed]->index = static_cast<uint32_t>(handed);
            batch.push_back(read[handed].get());
        }
        lastHanded = std::chrono::steady_clock::now();
        QMetaObject::invokeMethod(
            this, [this, batch = std::move(batch), generation] { deliver(batch, generation); },
            Qt::QueuedConnection);
    };
    try {
        reader = makeReader();
        if (reader == nullptr) {
            error = noReader;
        } else {
            reader->open();
            reader->setReadingWatch([&](const EntryStore& read) {
                if (read.size() - handed >= kBatchSize ||
                    std::chrono::steady_clock::now() - lastHanded >= kBatchInterval) {
                    handOver(read);
                }
                return !cancel_;
            });
            SkipCounts skipped;
            reader->readEntries(store, skipped);
            reader->setReadingWatch({});
            handOver(store);
        }
    } catch (const ErrorReport& report) {
        error = QString::fromStdString(errorLine(report));
    } catch (const std::exception& e) {
        error = QString::fromStdString(e.what());
    }
    if (reader != nullptr) {
        reader->setReadingWatch({});
        if (!error.isEmpty()) {
            reader->close();
            reader.reset();
        }
    }
    QMetaObject::invokeMethod(
        this, [this, reader, error, generation] { end(reader, error, generation); },
        Qt::QueuedConnection);
}

void CacheLoader::deliver(const std::vector<const CacheEntry*>& batch, unsigned generation) {
    // After a cancel no more rows arrive, even those already on their way.
    if (generation != generation_ || batch.empty() || cancel_) {
        return;
    }
    const std::size_t first = entries_.size();
    entries_.insert(entries_.end(), batch.begin(), batch.end());
    emit entriesAdded(first, batch.size());
}

void CacheLoader::end(std::shared_ptr<CacheReader> reader, const QString& error,
                      unsigned generation) {
    if (generation != generation_) {
        return;
    }
    join();
    reader_ = std::move(reader);
    running_ = false;
    emit finished(cancel_ && error.isEmpty(), error);
}

}  // namespace harvix
