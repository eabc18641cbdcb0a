// The entries of one cache reading as a table: URL, content type, size, time
// and data file, and the status and times the cache keeps (shown on demand),
// one row per entry. Rows are appended in batches while the
// reading is still delivering them, so the view shows the first rows at once.
// The filter proxy beside it narrows the rows by a URL substring and a
// content-type code for the cache window's search field and type filter.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace harvix {

struct CacheEntry;

class CacheEntryModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        UrlColumn,
        TypeColumn,
        SizeColumn,
        DecodedSizeColumn,
        TimeColumn,
        DataFileColumn,
        StatusColumn,
        ResponseTimeColumn,
        LastUsedColumn,
        ExpiresColumn,
        ColumnCount
    };
    // The value a column sorts by: numbers for sizes and times (-1 for a
    // decoded size not known), the code for the type column's name.
    static constexpr int SortRole = Qt::UserRole;
    // The row's position in the reading (the entries handed to appendEntries).
    static constexpr int EntryRole = Qt::UserRole + 1;
    // The content-type code of the row.
    static constexpr int TypeCodeRole = Qt::UserRole + 2;

    explicit CacheEntryModel(QObject* parent = nullptr);

    // The name a column is stored under in the settings ("DecodedSize");
    // empty for a column outside the table.
    static QString columnName(int column);

    // Column titles, in column order.
    void setHeaders(const QStringList& titles);

    // Appends one row per entry; the model keeps what it shows, not the
    // entries. `firstPosition` is the position of entries[0] in the reading.
    void appendEntries(const std::vector<const CacheEntry*>& entries, std::size_t firstPosition);
    void clear();
    // The size of the entry at `position` once saved: its stored size, or
    // none where the body is stored encoded (known only by decoding it).
    // Set when the reading has ended (the reader answers only then) and
    // asked for the rows shown or sorted, once each; until then the column
    // is empty. clear() drops it.
    using DecodedSize = std::function<std::optional<uint64_t>(std::size_t position)>;
    void setDecodedSize(DecodedSize decodedSize);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        QString url;
        QString typeText;  // the Content-Type as sent; the short name when there is none
        int32_t typeCode = 0;
        uint64_t size = 0;
        int64_t time = 0;
        QString dataFile;
        std::size_t position = 0;
        int64_t responseTime = 0;  // CacheEntry::kNoTime where the cache keeps none
        int64_t lastUsed = 0;
        int64_t expires = 0;
        uint16_t status = 0;
        // kNotAsked until decodedSize_ told it; -1 where it is not known.
        mutable int64_t decodedSize = kNotAsked;
    };
    static constexpr int64_t kNotAsked = -2;
    // The row's decoded size, -1 where it is not known (yet).
    int64_t decodedSizeOf(const Row& row) const;

    std::vector<Row> rows_;
    DecodedSize decodedSize_;
    QStringList headers_;
};

// Keeps the rows whose URL holds the search text (letters compared without
// regard to case) and whose content type a filter item of the chosen type
// takes (0: any; a group: each entry of the group).
class CacheEntryFilter : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit CacheEntryFilter(QObject* parent = nullptr);

    void setUrlText(const QString& text);
    void setTypeCode(int32_t code);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString urlText_;
    int32_t typeCode_ = 0;
};

}  // namespace harvix
