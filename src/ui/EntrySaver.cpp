#include "ui/EntrySaver.h"

#include <chrono>
#include <exception>

#include "app/ErrorText.h"
#include "filter/EntrySave.h"
#include "filter/WarcExport.h"
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

bool EntrySaver::startExport(std::shared_ptr<const void> reading, const CacheReader& reader,
                             std::vector<const CacheEntry*> entries, const QString& file,
                             const QString& description, int64_t now) {
    if (running_) {
        return false;
    }
    join();
    cancel_ = false;
    running_ = true;
    worker_ =
        std::thread([this, reading = std::move(reading), &reader, entries = std::move(entries),
                     file = file.toStdString(), description = description.toStdString(), now] {
            WarcOptions options;
            options.gzip = !isPlainWarcName(file);
            options.software = std::string("harvix ") + HARVIX_VERSION;
            options.description = description;
            options.now = static_cast<std::time_t>(now);
            WarcExportResult result;
            QString error;
            try {
                result = exportWarc(reader, entries, file, options);
            } catch (const ErrorReport& report) {
                error = QString::fromStdString(errorLine(report));
            } catch (const std::exception& e) {
                error = QString::fromStdString(e.what());
            }
            qulonglong leftOut = 0;
            qulonglong failed = 0;
            for (const auto& [reason, count] : result.leftOut) {
                leftOut += count;
            }
            for (const auto& [reason, count] : result.failed) {
                failed += count;
            }
            QMetaObject::invokeMethod(
                this,
                [this, path = QString::fromStdString(result.path), records = result.records,
                 leftOut, failed, error] {
                    join();
                    running_ = false;
                    emit exported(path, records, leftOut, failed, error);
                },
                Qt::QueuedConnection);
        });
    return true;
}

}  // namespace harvix
