// The filter set as a table: one row per filter item, eight columns (the
// check box of an enabled item, content type, minimum size, URL, minimum
// width and height, target folder, file-name stem). The model reads the set
// on the user-interface thread; the window tells it when the set changed.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include "filter/FilterSet.h"

namespace harvix {

struct LanguageTexts;

class FilterListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 8;
    enum Column : int {
        EnabledColumn = 0,
        ContentTypeColumn,
        MinSizeColumn,
        UrlColumn,
        MinWidthColumn,
        MinHeightColumn,
        FolderColumn,
        FileNameColumn,
    };

    explicit FilterListModel(FilterSet& set, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // The check box of the first column turns the item on or off.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The column headers in the user's language.
    void applyTexts(const LanguageTexts& texts);
    // The set changed as a whole (load, new, insert, delete, move).
    void reload();
    // One item changed in place.
    void rowChanged(int row);

signals:
    // The user turned an item on or off with its check box.
    void itemToggled(int row);

private:
    const FilterItem* item(int row) const;

    FilterSet& set_;
    QStringList headers_;
};

}  // namespace harvix
