#include "SortGrid.h"

#include <QHeaderView>

TSortGrid::TSortGrid(int colCount, QWidget* parent) : QTableWidget(0, colCount, parent) {
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(15);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    for (int c = 0; c < colCount; ++c) {
        setHorizontalHeaderItem(c, new QTableWidgetItem());
        setColumnWidth(c, 150);
    }
    SetRowCount(2);
}

void TSortGrid::SetRowCount(int n) {
    const int data = n > 1 ? n - 1 : 0;
    const int old = rowCount();
    setRowCount(data);
    for (int r = old; r < data; ++r)
        for (int c = 0; c < columnCount(); ++c)
            setItem(r, c, new QTableWidgetItem());
}

QString TSortGrid::Cell(int col, int row) const {
    if (col < 0 || col >= columnCount()) return {};
    if (row == 0) {
        const QTableWidgetItem* h = horizontalHeaderItem(col);
        return h ? h->text() : QString();
    }
    const QTableWidgetItem* it = item(row - 1, col);
    return it ? it->text() : QString();
}

void TSortGrid::SetCell(int col, int row, const QString& text) {
    if (col < 0 || col >= columnCount() || row < 0) return;
    if (row == 0) {
        horizontalHeaderItem(col)->setText(text);
        return;
    }
    if (row > rowCount()) SetRowCount(row + 1);
    QTableWidgetItem* it = item(row - 1, col);
    if (!it) {
        it = new QTableWidgetItem();
        setItem(row - 1, col, it);
    }
    it->setText(text);
}

int TSortGrid::Row() const {
    return currentRow() < 0 ? (rowCount() > 0 ? 1 : 0) : currentRow() + 1;
}

int TSortGrid::Col() const {
    return currentColumn() < 0 ? 0 : currentColumn();
}

void TSortGrid::SetFocusCell(int col, int row) {
    if (row >= 1 && row <= rowCount()) setCurrentCell(row - 1, col);
}

void TSortGrid::DeleteRow(int row) {
    if (row >= 1 && row <= rowCount()) removeRow(row - 1);
}

int TSortGrid::ColWidth(int col) const {
    return isColumnHidden(col) ? -1 : columnWidth(col);
}

void TSortGrid::SetColWidth(int col, int width) {
    if (width < 0) {
        setColumnHidden(col, true);
        return;
    }
    setColumnHidden(col, false);
    setColumnWidth(col, width);
}

QList<int> TSortGrid::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        rows << i.row() + 1;
    std::sort(rows.begin(), rows.end());
    return rows;
}
