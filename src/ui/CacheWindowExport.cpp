// The cache window's export of the selected rows as a web archive, made on
// the saver's worker thread while the window stays usable.
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"
#include "ui/CacheLoader.h"
#include "ui/CacheWindow.h"
#include "ui/EntrySaver.h"

namespace harvix {

void CacheWindow::exportSelected() {
    QString file =
        QFileDialog::getSaveFileName(this, export_->text().remove(QStringLiteral("...")), QString(),
                                     QStringLiteral("WARC (*.warc.gz *.warc)"));
    if (file.isEmpty()) {
        return;
    }
    if (!file.endsWith(QStringLiteral(".warc")) && !file.endsWith(QStringLiteral(".warc.gz"))) {
        file += QStringLiteral(".warc.gz");
    }
    exportSelectedTo(file);
}

bool CacheWindow::exportSelectedTo(const QString& file) {
    const CacheReader* reader = loader_->reader();
    std::vector<const CacheEntry*> chosen = selectedEntries();
    if (reader == nullptr || chosen.empty() || saver_->running()) {
        return false;
    }
    const QString description =
        QStringLiteral("the %1 cache").arg(source_) +
        (reader->root().empty()
             ? QString()
             : QStringLiteral(" in ") + QString::fromStdString(pathToUtf8(reader->root())));
    const auto count = static_cast<qulonglong>(chosen.size());
    if (!saver_->startExport(loader_->holdReading(), *reader, std::move(chosen), file, description,
                             platformServices().currentTime())) {
        return false;
    }
    read_->setEnabled(false);
    progress_->setRange(0, 0);
    progress_->show();
    status_->setText(exportingText_.arg(count));
    updateButtons();
    return true;
}

void CacheWindow::onExported(const QString& path, qulonglong records, qulonglong leftOut,
                             qulonglong failed, const QString& error) {
    progress_->hide();
    read_->setEnabled(true);
    updateButtons();
    if (!error.isEmpty()) {
        status_->setText(error);
    } else {
        QString text = exportedText_.arg(records).arg(path);
        if (leftOut > 0) {
            text += QStringLiteral(", ") + exportLeftOutText_.arg(leftOut);
        }
        if (failed > 0) {
            text += QStringLiteral(", ") + failedText_.arg(failed);
        }
        status_->setText(text);
    }
    emit exportFinished(error.isEmpty() ? path : QString(), records);
}

}  // namespace harvix
