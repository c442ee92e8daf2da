#pragma once
// A string grid that sorts by header click. Row 0 is the header row, rows 1.. are data rows,
// as the program's code counts them; every cell is text.
#include <QHeaderView>
#include <QList>
#include <QStringList>
#include <QTableWidget>
#include <functional>
#include <vector>

class QPainter;
class QTableView;

// A cell or title wider than its column gets its whole text as its tooltip.
void ShowCutCellTips(QTableView* view);

// A title row that draws the sort marker of its grid and turns a plain click into a sort. Width
// drags stay with QHeaderView; a release that ends one sorts nothing.
class TSortHeader : public QHeaderView {
public:
    // The grid owns the header, so the state it points to outlives it.
    TSortHeader(QWidget* grid, const int& sortColumn, const bool& sortAscending,
                std::function<void(int col)> onClick);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    const int& sortColumn_;
    const bool& sortAscending_;
    std::function<void(int)> onClick_;
    bool onHandle_ = false;
    bool resized_ = false;
};

// What a sort is about to do; the owner's hooks may change it.
struct TSortOptions {
    bool Ascending = true;
    // False: leave the rows (and, from the click hook, the marker) as they are.
    bool CanSort = true;
};

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
    // Makes the grid hold exactly `rows` data rows (at least one), cell (col, row) with
    // text(col, row), rows counted from 1; for a whole table at once, as a load fills it.
    void FillRows(int rows, const std::function<QString(int col, int row)>& text);

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

    // How a column compares, chosen from all of its data cells.
    enum class SortKind { Numeric, DateTime, Time, Text };
    static SortKind ColumnKind(const QStringList& cells);
    // Reorders the data rows by one column (whole rows move; the focused cell keeps its row
    // and column numbers). Equal cells keep their order.
    void SortByColumn(int col, bool ascending);

    // A header cell was clicked: runs the hooks, sets the direction and sorts when at least
    // two data rows exist. The header calls this for a plain click that ends no width drag.
    void HeaderClick(int col);

    // Called before anything changes; may set the direction or cancel.
    std::function<void(int col, int row, TSortOptions& options)> OnClickSort;
    // Called right before the rows are reordered; may cancel.
    std::function<void(int col, TSortOptions& options)> OnBeginSort;
    // Called after a sort moved the rows: order[r] is the row (from 0) that now stands at r.
    std::function<void(const std::vector<int>& order)> OnRowsSorted;
    // Paints one cell completely (row 0: the header); without it the grid paints as usual.
    std::function<void(QPainter& painter, int col, int row, const QRect& rect)> OnDrawCell;
    // The text a cell shows when the painting hook shows other than its content (a password
    // as stars); the tip of a cut cell shows this text.
    std::function<QString(int col, int row)> OnCellText;

    // The sort marker as the grid draws it: a triangle pointing up (ascending) or down at the
    // right end of the header cell.
    static void DrawSortMarker(QPainter& painter, const QRect& cell, bool ascending,
                               const QColor& fill);

private:
    class Header;
    class Delegate;
};
