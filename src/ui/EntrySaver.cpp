#include "ui/EntrySaver.h"

#include <chrono>
#include <exception>

#include "app/ErrorText.h"
#include "filter/EntrySave.h"
#include "readers/CacheReader.h"

namespace harvix {

EntrySaver::EntrySaver(QObject* parent) : QObject(parent) {}

EntrySaver::~EntrySaver() {
    cancel();
    join();
}

void EntrySaver::join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void EntrySaver::cancel() {
    cancel_ = true;
}

bool EntrySaver::start(std::shared_ptr<const void> reading, const CacheReader& reader,
                       std::vector<const CacheEntry*> entries, const QString& folder,
                       const QString& stem, bool skipDuplicates, IPlatform& platform) {
    if (running_) {
        return false;
    }
    join();
    cancel_ = false;
    running_ = true;
    worker_ = std::thread([this, reading = std::move(reading), &reader,
                           entries = std::move(entries), folder = folder.toStdString(),
                           stem = stem.toStdString(), skipDuplicates, &platform] {
        int counts[4] = {0, 0, 0, 0};  // saved, duplicates, failed, cancelled
        QString error;
        auto last = std::chrono::steady_clock::time_point();
        const auto progress = [&](uint64_t done, uint64_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (done < total && now - last < std::chrono::milliseconds(kProgressPeriodMs)) {
                return;
            }
            last = now;
            QMetaObject::invokeMethod(
                this, [this, done, total] { emit progressed(done, total); }, Qt::QueuedConnection);
        };
        try {
            for (const EntrySaveResult& result : saveEntries(
                     reader, entries, folder, stem, skipDuplicates, platform, progress, &cancel_)) {
                switch (result.outcome) {
                    case EntrySaveResult::Outcome::Saved:
                        ++counts[0];
                        break;
                    case EntrySaveResult::Outcome::Duplicate:
                        ++counts[1];
                        break;
                    case EntrySaveResult::Outcome::Failed:
                        ++counts[result.reason == kSaveCancelled ? 3 : 2];
                        break;
                }
            }
        } catch (const ErrorReport& report) {
            error = QString::fromStdString(errorLine(report));
        } catch (const std::exception& e) {
            error = QString::fromStdString(e.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, counts0 = counts[0], counts1 = counts[1], counts2 = counts[2],
             counts3 = counts[3], error] {
                join();
                running_ = false;
                emit finished(counts0, counts1, counts2, counts3, error);
            },
            Qt::QueuedConnection);
    });
    return true;
}

}  // namespace harvix
