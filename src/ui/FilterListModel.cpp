#include "ui/FilterListModel.h"

#include "app/LanguageTexts.h"
#include "base/ContentType.h"
#include "ui/ProgramState.h"

namespace harvix {
namespace {

constexpr std::string LanguageTexts::*kHeaders[FilterListModel::kColumnCount] = {
    &LanguageTexts::FilterListEnabled,   &LanguageTexts::FilterListContentType,
    &LanguageTexts::FilterListMinSize,   &LanguageTexts::FilterListURL,
    &LanguageTexts::FilterListMinWidth,  &LanguageTexts::FilterListMinHeight,
    &LanguageTexts::FilterListDirectory, &LanguageTexts::FilterListFileNameDummy,
};

}  // namespace

FilterListModel::FilterListModel(FilterSet& set, QObject* parent)
    : QAbstractTableModel(parent), set_(set) {
    applyTexts(theLanguage());
}

const FilterItem* FilterListModel::item(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= set_.items.size()) {
        return nullptr;
    }
    return set_.items[static_cast<std::size_t>(row)].get();
}

int FilterListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(set_.items.size());
}

int FilterListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant FilterListModel::data(const QModelIndex& index, int role) const {
    const FilterItem* shown = item(index.row());
    if (shown == nullptr) {
        return {};
    }
    if (role == Qt::CheckStateRole && index.column() == EnabledColumn) {
        return shown->disabled ? Qt::Unchecked : Qt::Checked;
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
        case ContentTypeColumn:
            return QString::fromStdString(contentTypeName(shown->contentType));
        case MinSizeColumn:
            return QString::number(shown->minSize);
        case UrlColumn:
            return QString::fromStdString(shown->url);
        case MinWidthColumn:
            return QString::number(shown->minWidth);
        case MinHeightColumn:
            return QString::number(shown->minHeight);
        case FolderColumn:
            return QString::fromStdString(shown->directoryTemplate);
        case FileNameColumn:
            return QString::fromStdString(shown->stem);
        default:
            return QString();
    }
}

bool FilterListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != EnabledColumn ||
        item(index.row()) == nullptr) {
        return false;
    }
    const bool disabled = value.toInt() != Qt::Checked;
    auto& changed = *set_.items[static_cast<std::size_t>(index.row())];
    if (changed.disabled == disabled) {
        return true;
    }
    changed.disabled = disabled;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit itemToggled(index.row());
    return true;
}

Qt::ItemFlags FilterListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == EnabledColumn) {
        flags |= Qt::ItemIsUserCheckable;
    }
    return flags;
}

QVariant FilterListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return headers_[section];
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

void FilterListModel::applyTexts(const LanguageTexts& texts) {
    headers_.clear();
    for (const auto text : kHeaders) {
        headers_.append(QString::fromStdString(texts.*text));
    }
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

void FilterListModel::reload() {
    beginResetModel();
    endResetModel();
}

void FilterListModel::rowChanged(int row) {
    if (item(row) != nullptr) {
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
    }
}

}  // namespace harvix
