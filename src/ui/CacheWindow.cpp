#include "ui/CacheWindow.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>

#include "app/LanguageTexts.h"
#include "base/ContentType.h"
#include "base/Text.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/BodyCopy.h"
#include "readers/CacheReader.h"
#include "ui/CacheEntryModel.h"
#include "ui/CacheLoader.h"
#include "ui/EntryPreview.h"
#include "ui/EntrySaver.h"

namespace harvix {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CacheWindow::CacheWindow(std::vector<CacheSource> sources, const LanguageTexts& texts, QString stem,
                         bool skipDuplicates, QWidget* parent)
    : QWidget(parent, Qt::Window), sources_(std::move(sources)), skipDuplicates_(skipDuplicates) {
    model_ = new CacheEntryModel(this);
    filter_ = new CacheEntryFilter(this);
    filter_->setSourceModel(model_);
    loader_ = new CacheLoader(this);
    saver_ = new EntrySaver(this);

    // Which cache: browser, profile, read again, progress and cancel.
    browser_ = new QComboBox(this);
    profile_ = new QComboBox(this);
    profile_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    profile_->setMinimumContentsLength(16);
    read_ = new QPushButton(this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setMaximumWidth(120);
    progress_->hide();
    cancel_ = new QPushButton(this);
    cancel_->hide();
    browserLabel_ = new QLabel(this);
    profileLabel_ = new QLabel(this);
    auto* top = new QHBoxLayout;
    top->addWidget(browserLabel_);
    top->addWidget(browser_);
    top->addWidget(profileLabel_);
    top->addWidget(profile_, 1);
    top->addWidget(read_);
    top->addWidget(progress_);
    top->addWidget(cancel_);

    // Search by URL and type.
    search_ = new QLineEdit(this);
    search_->setClearButtonEnabled(true);
    type_ = new QComboBox(this);
    for (const int32_t code : contentTypeListOrder()) {
        type_->addItem(q(contentTypeName(code)), code);
    }
    type_->setCurrentIndex(type_->findData(codeOf(ContentType::All)));
    typeLabel_ = new QLabel(this);
    auto* find = new QHBoxLayout;
    find->addWidget(search_, 1);
    find->addWidget(typeLabel_);
    find->addWidget(type_);

    // The table and the preview.
    table_ = new QTableView(this);
    table_->setModel(filter_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(-1, Qt::AscendingOrder);  // reading order until a column is picked
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(CacheEntryModel::UrlColumn, 320);
    table_->setColumnWidth(CacheEntryModel::TypeColumn, 130);
    table_->setColumnWidth(CacheEntryModel::SizeColumn, 80);
    table_->setColumnWidth(CacheEntryModel::TimeColumn, 140);
    // The decoded size, the status and the cache's own times are there for
    // whoever asks for them: the header's menu shows them.
    for (const int column : {CacheEntryModel::DecodedSizeColumn, CacheEntryModel::StatusColumn,
                             CacheEntryModel::ResponseTimeColumn, CacheEntryModel::LastUsedColumn,
                             CacheEntryModel::ExpiresColumn}) {
        table_->setColumnWidth(column, column == CacheEntryModel::StatusColumn        ? 60
                                       : column == CacheEntryModel::DecodedSizeColumn ? 80
                                                                                      : 140);
        table_->setColumnHidden(column, true);
    }
    table_->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    preview_ = new EntryPreview(this);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(table_);
    split->addWidget(preview_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    // Saving.
    stem_ = new QLineEdit(stem, this);
    stem_->setMaximumWidth(160);
    save_ = new QPushButton(this);
    makeItem_ = new QPushButton(this);
    export_ = new QPushButton(this);
    status_ = new QLabel(this);
    fileNameLabel_ = new QLabel(this);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    bottom->addWidget(fileNameLabel_);
    bottom->addWidget(stem_);
    bottom->addWidget(save_);
    bottom->addWidget(export_);
    bottom->addWidget(makeItem_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(find);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);
    resize(1000, 600);
    applyTexts(texts);

    QStringList browsers;
    for (const CacheSource& source : sources_) {
        if (!browsers.contains(source.browser)) {
            browsers.append(source.browser);
        }
    }
    browser_->addItems(browsers);
    fillProfiles();
    if (sources_.empty()) {
        status_->setText(noCacheText_);
    }

    connect(browser_, &QComboBox::currentIndexChanged, this, [this] { fillProfiles(); });
    connect(profile_, &QComboBox::currentIndexChanged, this, [this] { showPickedFolder(); });
    connect(read_, &QPushButton::clicked, this, [this] { readPicked(); });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (saver_->running()) {
            saver_->cancel();
        } else {
            loader_->cancel();
        }
    });
    connect(loader_, &CacheLoader::entriesAdded, this, &CacheWindow::onEntriesAdded);
    connect(loader_, &CacheLoader::finished, this, &CacheWindow::onFinished);
    connect(saver_, &EntrySaver::progressed, this, &CacheWindow::onSaveProgress);
    connect(saver_, &EntrySaver::finished, this, &CacheWindow::onSaveFinished);
    connect(search_, &QLineEdit::textChanged, filter_, &CacheEntryFilter::setUrlText);
    connect(type_, &QComboBox::currentIndexChanged, this,
            [this] { filter_->setTypeCode(type_->currentData().toInt()); });
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { onCurrentChanged(); });
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { updateButtons(); });
    connect(save_, &QPushButton::clicked, this, [this] { saveSelected(); });
    connect(makeItem_, &QPushButton::clicked, this, [this] { makeFilterItem(); });
    connect(export_, &QPushButton::clicked, this, [this] { exportSelected(); });
    connect(saver_, &EntrySaver::exported, this, &CacheWindow::onExported);
    connect(table_->horizontalHeader(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) {
                columnMenu()->popup(table_->horizontalHeader()->mapToGlobal(at));
            });
    updateButtons();
}

void CacheWindow::applyTexts(const LanguageTexts& texts) {
    title_ = q(texts.BrowseCache);
    setWindowTitle(source_.isEmpty() ? title_ : title_ + QStringLiteral(" — ") + source_);
    savedText_ = q(texts.BrowseSaved);
    duplicateText_ = q(texts.BrowseDuplicates);
    failedText_ = q(texts.BrowseFailed);
    entriesText_ = q(texts.BrowseEntries);
    readingText_ = q(texts.BrowseReading);
    cancelledText_ = q(texts.BrowseCancelled);
    noCacheText_ = q(texts.BrowseNoCache);
    savingText_ = q(texts.BrowseSaving);
    saveCancelledText_ = q(texts.BrowseSaveCancelled);
    model_->setHeaders({q(texts.FilterListURL), q(texts.FilterListContentType), q(texts.BrowseSize),
                        q(texts.BrowseDecodedSize), q(texts.BrowseTime), q(texts.BrowseDataFile),
                        q(texts.BrowseStatus), q(texts.BrowseResponseTime), q(texts.BrowseLastUsed),
                        q(texts.BrowseExpires)});
    export_->setText(q(texts.BrowseExportWarc));
    exportingText_ = q(texts.BrowseExporting);
    exportedText_ = q(texts.BrowseExported);
    exportLeftOutText_ = q(texts.BrowseExportLeftOut);
    loader_->setNoReaderText(q(texts.BrowseNoReader));
    read_->setText(q(texts.BrowseRead));
    cancel_->setText(q(texts.Cancel));
    browserLabel_->setText(q(texts.BrowseBrowser));
    profileLabel_->setText(q(texts.BrowseProfile));
    search_->setPlaceholderText(q(texts.BrowseSearch));
    typeLabel_->setText(q(texts.BrowseType));
    preview_->setTexts(q(texts.BrowseTooLarge), q(texts.BrowseUnreadable));
    save_->setText(q(texts.BrowseSaveSelected));
    makeItem_->setText(q(texts.BrowseMakeFilterItem));
    fileNameLabel_->setText(q(texts.BrowseFileName));
}

CacheWindow::~CacheWindow() = default;

void CacheWindow::fillProfiles() {
    profile_->clear();
    const QString browser = browser_->currentText();
    for (std::size_t i = 0; i < sources_.size(); ++i) {
        const CacheSource& source = sources_[i];
        if (source.browser == browser) {
            // A source without a profile name shows the folder it reads.
            profile_->addItem(source.profile.isEmpty() ? source.folder : source.profile,
                              static_cast<int>(i));
            profile_->setItemData(profile_->count() - 1, source.folder, Qt::ToolTipRole);
        }
    }
    profile_->setEnabled(profile_->count() > 1);
    showPickedFolder();
}

void CacheWindow::showPickedFolder() {
    profile_->setToolTip(profile_->currentData(Qt::ToolTipRole).toString());
}

void CacheWindow::readPicked() {
    if (profile_->currentIndex() >= 0) {
        readSource(profile_->currentData().toInt());
    }
}

void CacheWindow::readSource(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= sources_.size()) {
        return;
    }
    if (saver_->running()) {
        return;  // the save goes on from the reading it started with
    }
    const CacheSource& source = sources_[static_cast<std::size_t>(index)];
    source_ = source.label();
    setWindowTitle(title_ + QStringLiteral(" — ") + source_);
    preview_->clear();
    model_->clear();
    status_->setText(readingText_);
    progress_->setRange(0, 0);
    progress_->show();
    cancel_->show();
    read_->setEnabled(false);
    loader_->start(source.makeReader);
    updateButtons();
}

void CacheWindow::onEntriesAdded(std::size_t first, std::size_t count) {
    std::vector<const CacheEntry*> batch;
    batch.reserve(count);
    for (std::size_t i = first; i < first + count; ++i) {
        batch.push_back(loader_->entry(i));
    }
    model_->appendEntries(batch, first);
    status_->setText(readingText_ + QLatin1Char(' ') + entriesText_.arg(model_->rowCount()));
}

void CacheWindow::onFinished(bool cancelled, const QString& error) {
    progress_->hide();
    cancel_->hide();
    read_->setEnabled(true);
    QString text = entriesText_.arg(model_->rowCount());
    if (!error.isEmpty()) {
        text = error;
    } else if (cancelled) {
        text += QStringLiteral(" \u2014 ") + cancelledText_;
    }
    status_->setText(text);
    // The reader answers now: whether a body is stored encoded (its decoded
    // size then known only by decoding it).
    if (loader_->reader() != nullptr) {
        model_->setDecodedSize([this](std::size_t position) -> std::optional<uint64_t> {
            const CacheReader* reader = loader_->reader();
            const CacheEntry* entry = loader_->entry(position);
            if (reader == nullptr || entry == nullptr || copyIsDecoded(*reader, *entry)) {
                return std::nullopt;
            }
            return static_cast<uint64_t>(entry->size);
        });
    }
    updateButtons();
    onCurrentChanged();  // the reader is there now: the current row's preview
}

const CacheEntry* CacheWindow::entryAt(int proxyRow) const {
    const QModelIndex index = filter_->index(proxyRow, 0);
    if (!index.isValid()) {
        return nullptr;
    }
    return loader_->entry(index.data(CacheEntryModel::EntryRole).toULongLong());
}

void CacheWindow::onCurrentChanged() {
    const QModelIndex current = table_->selectionModel()->currentIndex();
    preview_->showEntry(loader_->reader(), current.isValid() ? entryAt(current.row()) : nullptr);
}

std::vector<const CacheEntry*> CacheWindow::selectedEntries() const {
    QModelIndexList rows = table_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<const CacheEntry*> entries;
    for (const QModelIndex& row : rows) {
        if (const CacheEntry* entry = entryAt(row.row())) {
            entries.push_back(entry);
        }
    }
    return entries;
}

void CacheWindow::updateButtons() {
    // Saving needs the reader, which the window gets when the reading ends;
    // a filter item needs only the row.
    const bool any = table_->selectionModel()->hasSelection();
    save_->setEnabled(any && loader_->reader() != nullptr && !saver_->running());
    export_->setEnabled(save_->isEnabled());
    makeItem_->setEnabled(any);
}

QString CacheWindow::statusText() const {
    return status_->text();
}

void CacheWindow::saveSelected() {
    const QString folder =
        QFileDialog::getExistingDirectory(this, save_->text().remove(QStringLiteral("...")));
    if (!folder.isEmpty()) {
        saveSelectedTo(folder);
    }
}

bool CacheWindow::saveSelectedTo(const QString& folder) {
    const CacheReader* reader = loader_->reader();
    std::vector<const CacheEntry*> chosen = selectedEntries();
    if (reader == nullptr || chosen.empty() || saver_->running()) {
        return false;
    }
    const auto total = static_cast<qulonglong>(chosen.size());
    if (!saver_->start(loader_->holdReading(), *reader, std::move(chosen), folder, stem_->text(),
                       skipDuplicates_, platformServices())) {
        return false;
    }
    saveFolder_ = folder;
    read_->setEnabled(false);
    progress_->show();
    cancel_->show();
    onSaveProgress(0, total);
    updateButtons();
    return true;
}

void CacheWindow::onSaveProgress(qulonglong done, qulonglong total) {
    // The bar counts in entries; a count past int's range is scaled down.
    const qulonglong scale = total > 1000000 ? total / 1000000 + 1 : 1;
    progress_->setRange(0, static_cast<int>(total / scale));
    progress_->setValue(static_cast<int>(done / scale));
    status_->setText(savingText_.arg(done).arg(total));
}

void CacheWindow::onSaveFinished(int saved, int duplicates, int failed, int cancelled,
                                 const QString& error) {
    progress_->hide();
    cancel_->hide();
    read_->setEnabled(true);
    updateButtons();
    if (!error.isEmpty()) {
        // The folder cannot be made, lies in the cache, or the stem cannot
        // stand in a file name: nothing was saved.
        status_->setText(error);
    } else {
        QString text = savedText_.arg(saved).arg(saveFolder_);
        if (duplicates > 0) {
            text += QStringLiteral(", ") + duplicateText_.arg(duplicates);
        }
        if (failed > 0) {
            text += QStringLiteral(", ") + failedText_.arg(failed);
        }
        if (cancelled > 0) {
            text += QStringLiteral(" \u2014 ") + saveCancelledText_;
        }
        status_->setText(text);
    }
    emit saveFinished(saved);
}

void CacheWindow::makeFilterItem() {
    const QModelIndex current = table_->selectionModel()->currentIndex();
    const CacheEntry* entry = current.isValid() ? entryAt(current.row()) : nullptr;
    if (entry == nullptr) {
        return;
    }
    emit filterItemRequested(QUrl(q(entry->url)).host(), entry->contentType);
}

QMenu* CacheWindow::columnMenu() {
    // Made anew each time, so that it has the titles of the language in use.
    delete columnMenu_;
    columnMenu_ = new QMenu(this);
    for (int column = CacheEntryModel::TypeColumn; column < CacheEntryModel::ColumnCount;
         ++column) {
        QAction* action = columnMenu_->addAction(
            model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        action->setCheckable(true);
        action->setChecked(!table_->isColumnHidden(column));
        connect(action, &QAction::toggled, this, [this, column](bool shown) {
            table_->setColumnHidden(column, !shown);
            emit columnsChanged();
        });
    }
    return columnMenu_;
}

QString CacheWindow::shownColumns() const {
    QStringList names;
    for (int column = 0; column < CacheEntryModel::ColumnCount; ++column) {
        if (column == CacheEntryModel::UrlColumn || !table_->isColumnHidden(column)) {
            names.append(CacheEntryModel::columnName(column));
        }
    }
    return names.join(QLatin1Char(','));
}

void CacheWindow::showColumns(const QString& names) {
    if (names.trimmed().isEmpty()) {
        return;
    }
    const QStringList shown = names.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int column = CacheEntryModel::TypeColumn; column < CacheEntryModel::ColumnCount;
         ++column) {
        table_->setColumnHidden(column, !shown.contains(CacheEntryModel::columnName(column)));
    }
}

}  // namespace harvix
