// The filter list: a table view with a check box per row, single row
// selection, blue text, and a selection that stays visible without the
// focus. Its tooltip is the filter set's hint over the whole list; over a
// cell whose text is cut off, the cell's whole text.
#pragma once

#include <QString>
#include <QTableView>
#include <vector>

namespace harvix {

class FilterListView : public QTableView {
    Q_OBJECT

public:
    explicit FilterListView(QWidget* parent = nullptr);

    // The columns' widths in pixels; the last column also takes what room
    // is left. The list asks for room for all columns and twenty rows.
    void setColumnWidths(const std::vector<int>& widths);
    QSize sizeHint() const override;

    // The hint as it shows (rich text), or empty for no tooltip.
    void setHint(const QString& hintHtml);
    // What the tooltip shows for a point of the viewport.
    QString toolTipAt(const QPoint& viewportPos) const;
    // True when the cell's text does not fit its width.
    bool isCutOff(const QModelIndex& index) const;

protected:
    bool viewportEvent(QEvent* event) override;

private:
    static constexpr int kVisibleRows = 20;
    std::vector<int> columnWidths_;
};

}  // namespace harvix
