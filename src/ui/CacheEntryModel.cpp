#include "ui/CacheEntryModel.h"

#include <QDateTime>
#include <QLocale>

#include "base/ContentType.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace {

// A time of the cache in local time; empty where the cache keeps none.
QString timeText(int64_t time, int64_t none) {
    return time == none ? QString()
                        : QDateTime::fromSecsSinceEpoch(time).toString(
                              QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

CacheEntryModel::CacheEntryModel(QObject* parent) : QAbstractTableModel(parent) {
    headers_ = {QStringLiteral("URL"),       QStringLiteral("Content Type"),
                QStringLiteral("Size"),      QStringLiteral("Decoded Size"),
                QStringLiteral("Time"),      QStringLiteral("Data File"),
                QStringLiteral("Status"),    QStringLiteral("Response Time"),
                QStringLiteral("Last Used"), QStringLiteral("Expires")};
}

QString CacheEntryModel::columnName(int column) {
    static const char* const kNames[ColumnCount] = {
        "Url",      "Type",   "Size",         "DecodedSize", "Time",
        "DataFile", "Status", "ResponseTime", "LastUsed",    "Expires"};
    return column >= 0 && column < ColumnCount ? QString::fromLatin1(kNames[column]) : QString();
}

void CacheEntryModel::setHeaders(const QStringList& titles) {
    if (titles.size() != ColumnCount) {
        return;
    }
    headers_ = titles;
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

void CacheEntryModel::appendEntries(const std::vector<const CacheEntry*>& entries,
                                    std::size_t firstPosition) {
    if (entries.empty()) {
        return;
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(entries.size()) - 1);
    rows_.reserve(rows_.size() + entries.size());
    std::size_t position = firstPosition;
    for (const CacheEntry* entry : entries) {
        Row row;
        row.url = QString::fromStdString(entry->url);
        row.typeCode = entry->contentType;
        row.typeText = entry->contentTypeText.empty()
                           ? QString::fromStdString(contentTypeName(entry->contentType))
                           : QString::fromStdString(entry->contentTypeText);
        row.size = static_cast<uint64_t>(entry->size);
        row.time = entry->time;
        row.dataFile = QString::fromStdString(entry->dataFile);
        row.position = position++;
        row.status = entry->status;
        row.responseTime = entry->responseTime;
        row.lastUsed = entry->lastUsed;
        row.expires = entry->expires;
        rows_.push_back(std::move(row));
    }
    endInsertRows();
}

void CacheEntryModel::clear() {
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    decodedSize_ = nullptr;
    endResetModel();
}

void CacheEntryModel::setDecodedSize(DecodedSize decodedSize) {
    decodedSize_ = std::move(decodedSize);
    if (!rows_.empty()) {
        emit dataChanged(index(0, DecodedSizeColumn),
                         index(static_cast<int>(rows_.size()) - 1, DecodedSizeColumn));
    }
}

int64_t CacheEntryModel::decodedSizeOf(const Row& row) const {
    if (row.decodedSize == kNotAsked) {
        if (!decodedSize_) {
            return -1;
        }
        const std::optional<uint64_t> size = decodedSize_(row.position);
        row.decodedSize = size ? static_cast<int64_t>(*size) : -1;
    }
    return row.decodedSize;
}

int CacheEntryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CacheEntryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CacheEntryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return {};
    }
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == EntryRole) {
        return QVariant::fromValue<qulonglong>(row.position);
    }
    if (role == TypeCodeRole) {
        return row.typeCode;
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
            case UrlColumn:
                return row.url;
            case TypeColumn:
                return row.typeText;
            case SizeColumn:
                return role == Qt::ToolTipRole ? QLocale().toString(qulonglong(row.size))
                                               : QLocale().formattedDataSize(qint64(row.size));
            case DecodedSizeColumn: {
                const int64_t size = decodedSizeOf(row);
                if (size < 0) {
                    return QString();
                }
                return role == Qt::ToolTipRole ? QLocale().toString(qlonglong(size))
                                               : QLocale().formattedDataSize(size);
            }
            case TimeColumn:
                return timeText(row.time, 0);
            case DataFileColumn:
                return row.dataFile;
            case StatusColumn:
                return row.status == 0 ? QString() : QString::number(row.status);
            case ResponseTimeColumn:
                return timeText(row.responseTime, CacheEntry::kNoTime);
            case LastUsedColumn:
                return timeText(row.lastUsed, CacheEntry::kNoTime);
            case ExpiresColumn:
                return timeText(row.expires, CacheEntry::kNoTime);
            default:
                return {};
        }
    }
    if (role == SortRole) {
        switch (index.column()) {
            case UrlColumn:
                return row.url;
            case TypeColumn:
                return row.typeText;
            case SizeColumn:
                return QVariant::fromValue<qulonglong>(row.size);
            case DecodedSizeColumn:
                return QVariant::fromValue<qlonglong>(decodedSizeOf(row));
            case TimeColumn:
                return QVariant::fromValue<qlonglong>(row.time);
            case DataFileColumn:
                return row.dataFile;
            case StatusColumn:
                return int(row.status);
            case ResponseTimeColumn:
                return QVariant::fromValue<qlonglong>(row.responseTime);
            case LastUsedColumn:
                return QVariant::fromValue<qlonglong>(row.lastUsed);
            case ExpiresColumn:
                return QVariant::fromValue<qlonglong>(row.expires);
            default:
                return {};
        }
    }
    if (role == Qt::TextAlignmentRole &&
        (index.column() == SizeColumn || index.column() == DecodedSizeColumn ||
         index.column() == StatusColumn)) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant CacheEntryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < headers_.size()) {
        return headers_[section];
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

CacheEntryFilter::CacheEntryFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(CacheEntryModel::SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setDynamicSortFilter(true);
}

void CacheEntryFilter::setUrlText(const QString& text) {
    if (text == urlText_) {
        return;
    }
    urlText_ = text;
    invalidateRowsFilter();
}

void CacheEntryFilter::setTypeCode(int32_t code) {
    if (code == typeCode_) {
        return;
    }
    typeCode_ = code;
    invalidateRowsFilter();
}

bool CacheEntryFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    const QAbstractItemModel* model = sourceModel();
    if (typeCode_ != 0) {
        // The filter item's type test. The column shows the Content-Type as
        // sent, or the short name, which holds no '/' and so leaves the
        // group to the code.
        const QModelIndex type = model->index(sourceRow, CacheEntryModel::TypeColumn, sourceParent);
        if (!contentTypeMatches(typeCode_, type.data(CacheEntryModel::TypeCodeRole).toInt(),
                                type.data(Qt::DisplayRole).toString().toStdString())) {
            return false;
        }
    }
    if (urlText_.isEmpty()) {
        return true;
    }
    return model->index(sourceRow, CacheEntryModel::UrlColumn, sourceParent)
        .data(Qt::DisplayRole)
        .toString()
        .contains(urlText_, Qt::CaseInsensitive);
}

}  // namespace harvix
