#pragma once
// A string grid that sorts by header click. Row 0 is the header row, rows 1.. are data rows,
// as the program's code counts them; every cell is text.
#include <QList>
#include <QTableWidget>

class TSortGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TSortGrid(int colCount, QWidget* parent = nullptr);

    // Counts include the header row.
    int RowCount() const { return rowCount() + 1; }
    void SetRowCount(int n);
    int ColCount() const { return columnCount(); }

    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString& text);

    // The focused cell (row 0 never holds the focus; with no data row Row() is 0).
    int Row() const;
    int Col() const;
    void SetFocusCell(int col, int row);

    void DeleteRow(int row);
    // Width -1 hides a column, as the program's layout code expects.
    int ColWidth(int col) const;
    void SetColWidth(int col, int width);

    // Data rows (1-based) that are selected, ascending.
    QList<int> SelectedRows() const;

    int SortColumn = 1;
    bool SortAscending = true;
};
