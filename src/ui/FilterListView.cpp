#include "ui/FilterListView.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

namespace harvix {

FilterListView::FilterListView(QWidget* parent) : QTableView(parent) {
    setObjectName(QStringLiteral("filterList"));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setToolTipDuration(10000);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Blue text, and a selection that stays visible without the focus.
    QPalette colours = palette();
    colours.setColor(QPalette::Active, QPalette::Text, QColor(0, 0, 255));
    colours.setColor(QPalette::Inactive, QPalette::Text, QColor(0, 0, 255));
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight).lighter(130));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colours);
}

void FilterListView::setColumnWidths(const std::vector<int>& widths) {
    columnWidths_ = widths;
    for (std::size_t column = 0; column < widths.size(); ++column) {
        setColumnWidth(static_cast<int>(column), widths[column]);
    }
    updateGeometry();
}

QSize FilterListView::sizeHint() const {
    int width = 0;
    for (const int column : columnWidths_) {
        width += column;
    }
    const int height = horizontalHeader()->sizeHint().height() +
                       kVisibleRows * verticalHeader()->defaultSectionSize();
    // The frame, and the grid line closing the last column.
    return {width + 2 * frameWidth() + 2, height + 2 * frameWidth()};
}

void FilterListView::setHint(const QString& hintHtml) {
    setToolTip(hintHtml);
}

bool FilterListView::isCutOff(const QModelIndex& index) const {
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty()) {
        return false;
    }
    // The item delegate leaves a focus-frame margin and one pixel on each side.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int room = visualRect(index).width() - 2 * margin;
    return fontMetrics().horizontalAdvance(text) > room;
}

QString FilterListView::toolTipAt(const QPoint& viewportPos) const {
    const QModelIndex index = indexAt(viewportPos);
    if (index.isValid() && isCutOff(index)) {
        return index.data(Qt::DisplayRole).toString();
    }
    return toolTip();
}

bool FilterListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, viewport(), QRect(), toolTipDuration());
        }
        return true;
    }
    return QTableView::viewportEvent(event);
}

}  // namespace harvix
