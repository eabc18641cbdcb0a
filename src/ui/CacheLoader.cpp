#include "ui/CacheLoader.h"

#include <exception>

#include "app/ErrorText.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace {

// Opens the cache and reads every entry the reader accepts, numbered in
// reading order. Throws what the reader throws.
std::vector<std::unique_ptr<CacheEntry>> readCache(CacheReader& reader) {
    reader.open();
    std::vector<std::unique_ptr<CacheEntry>> entries;
    SkipCounts skipped;
    reader.readEntries(entries, skipped);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i]->index = static_cast<uint32_t>(i);
    }
    return entries;
}

}  // namespace

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
    return position < entries_.size() ? entries_[position].get() : nullptr;
}

void CacheLoader::start(ReaderFactory makeReader) {
    cancel();
    join();
    cancel_ = false;
    ++generation_;
    entries_.clear();
    reader_.reset();
    running_ = true;
    const unsigned generation = generation_;
    worker_ = std::thread([this, makeReader = std::move(makeReader), generation] {
        std::shared_ptr<CacheReader> reader;
        std::vector<std::unique_ptr<CacheEntry>> all;
        QString error;
        try {
            reader = makeReader();
            if (reader == nullptr) {
                error = tr("No reader for this cache.");
            } else {
                all = readCache(*reader);
            }
        } catch (const ErrorReport& report) {
            error = QString::fromStdString(errorLine(report));
        } catch (const std::exception& e) {
            error = QString::fromStdString(e.what());
        }
        if (!error.isEmpty()) {
            if (reader != nullptr) {
                reader->close();
            }
            QMetaObject::invokeMethod(
                this, [this, error, generation] { end(false, error, generation); },
                Qt::QueuedConnection);
            return;
        }
        // The reader goes to the user-interface thread before any entry, so
        // that a row shown can already be previewed and saved.
        QMetaObject::invokeMethod(
            this,
            [this, reader, generation] {
                if (generation == generation_) {
                    reader_ = reader;
                }
            },
            Qt::QueuedConnection);
        std::size_t next = 0;
        while (next < all.size() && !cancel_) {
            const std::size_t count = std::min(kBatchSize, all.size() - next);
            auto batch = std::make_shared<std::vector<std::unique_ptr<CacheEntry>>>();
            batch->reserve(count);
            for (std::size_t i = 0; i < count; ++i) {
                batch->push_back(std::move(all[next + i]));
            }
            next += count;
            QMetaObject::invokeMethod(
                this, [this, batch, generation] { deliver(batch, generation); },
                Qt::QueuedConnection);
        }
        const bool cancelled = next < all.size();
        QMetaObject::invokeMethod(
            this, [this, cancelled, generation] { end(cancelled, {}, generation); },
            Qt::QueuedConnection);
    });
}

void CacheLoader::deliver(std::shared_ptr<std::vector<std::unique_ptr<CacheEntry>>> batch,
                          unsigned generation) {
    // After a cancel no more rows arrive, even those already on their way.
    if (generation != generation_ || batch->empty() || cancel_) {
        return;
    }
    const std::size_t first = entries_.size();
    for (auto& entry : *batch) {
        entries_.push_back(std::move(entry));
    }
    emit entriesAdded(first, batch->size());
}

void CacheLoader::end(bool cancelled, const QString& error, unsigned generation) {
    if (generation != generation_) {
        return;
    }
    join();
    running_ = false;
    emit finished(cancelled || (cancel_ && error.isEmpty()), error);
}

}  // namespace harvix
