#include "SortGrid.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <numeric>
#include <vector>

#include "DesignScale.h"
#include "TextFormats.h"

namespace {

// Room the painting leaves beside a cell's text.
constexpr int TextMargins = 8;
constexpr int SortMarkerRoom = 12;

class CutCellTips : public QObject {
public:
    explicit CutCellTips(QTableView* view) : QObject(view), view_(view) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::ToolTip) return false;
        const auto* help = static_cast<QHelpEvent*>(e);
        QString text;
        int room = 0;
        QFont font;
        QHeaderView* header = view_->horizontalHeader();
        if (watched == view_->viewport()) {
            const QModelIndex index = view_->indexAt(help->pos());
            if (!index.isValid()) return hide();
            const auto* grid = qobject_cast<const TSortGrid*>(view_);
            text = grid && grid->OnCellText ? grid->OnCellText(index.column(), index.row() + 1)
                                            : index.data().toString();
            room = view_->columnWidth(index.column());
            font = view_->font();
        } else if (watched == header->viewport()) {
            const int col = header->logicalIndexAt(help->pos());
            if (col < 0) return hide();
            text = view_->model()->headerData(col, Qt::Horizontal).toString();
            room = header->sectionSize(col);
            // The sort marker takes the title's right end.
            const auto* grid = qobject_cast<const TSortGrid*>(view_);
            if (grid && col == grid->SortColumn) room -= SortMarkerRoom;
            font = header->font();
        } else {
            return false;
        }
        if (QFontMetrics(font).horizontalAdvance(text) + TextMargins <= room) return hide();
        QToolTip::showText(help->globalPos(), text, static_cast<QWidget*>(watched));
        return true;
    }

private:
    static bool hide() {
        QToolTip::hideText();
        return true;
    }
    QTableView* view_;
};

} // namespace

void ShowCutCellTips(QTableView* view) {
    auto* tips = new CutCellTips(view);
    view->viewport()->installEventFilter(tips);
    view->horizontalHeader()->viewport()->installEventFilter(tips);
}

TSortHeader::TSortHeader(QWidget* grid, const int& sortColumn, const bool& sortAscending,
                         std::function<void(int col)> onClick)
    : QHeaderView(Qt::Horizontal, grid), sortColumn_(sortColumn), sortAscending_(sortAscending),
      onClick_(std::move(onClick)) {
    // Clicks are ours: a clickable section would also select the column below it.
    setSectionsClickable(false);
    setHighlightSections(false);
    connect(this, &QHeaderView::sectionResized, this, [this] { resized_ = true; });
}

void TSortHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) return;
    QHeaderView::paintSection(painter, rect, logicalIndex);
    if (logicalIndex == sortColumn_) {
        painter->save();
        TSortGrid::DrawSortMarker(*painter, rect, sortAscending_,
                                  palette().color(QPalette::Button));
        painter->restore();
    }
}

void TSortHeader::mousePressEvent(QMouseEvent* e) {
    const int x = e->position().toPoint().x();
    const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this);
    // A left press on a section edge starts a width drag, even if the mouse never moves.
    onHandle_ =
        e->button() == Qt::LeftButton && logicalIndexAt(x - grip) != logicalIndexAt(x + grip);
    resized_ = false;
    QHeaderView::mousePressEvent(e);
}

void TSortHeader::mouseReleaseEvent(QMouseEvent* e) {
    const bool dragEnded = onHandle_ || resized_;
    onHandle_ = resized_ = false;
    QHeaderView::mouseReleaseEvent(e);
    const int col = logicalIndexAt(e->position().toPoint());
    if (dragEnded || col < 0 || e->modifiers() != Qt::NoModifier) return;
    onClick_(col);
}

// The sort grid's title row also paints through the owner's hook when it has one.
class TSortGrid::Header : public TSortHeader {
public:
    explicit Header(TSortGrid* grid)
        : TSortHeader(grid, grid->SortColumn, grid->SortAscending,
                      [grid](int col) { grid->HeaderClick(col); }),
          grid_(grid) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        if (!rect.isValid()) return;
        if (!grid_->OnDrawCell) return TSortHeader::paintSection(painter, rect, logicalIndex);
        painter->save();
        painter->setClipRect(rect);
        grid_->OnDrawCell(*painter, logicalIndex, 0, rect);
        painter->restore();
    }

private:
    TSortGrid* grid_;
};

// Data cells: painted completely by the owner's hook when it has one.
class TSortGrid::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(TSortGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (!grid_->OnDrawCell) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        painter->save();
        painter->setClipRect(option.rect);
        grid_->OnDrawCell(*painter, index.column(), index.row() + 1, option.rect);
        painter->restore();
    }

private:
    TSortGrid* grid_;
};

TSortGrid::TSortGrid(int colCount, QWidget* parent) : QTableWidget(0, colCount, parent) {
    setHorizontalHeader(new Header(this));
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(DesignScale::Px(15));
    horizontalHeader()->setMinimumSectionSize(0);
    setItemDelegate(new Delegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
    setSortingEnabled(false);
    for (int c = 0; c < colCount; ++c) {
        setHorizontalHeaderItem(c, new QTableWidgetItem());
        setColumnWidth(c, DesignScale::Px(150));
    }
    SetRowCount(2);
    ShowCutCellTips(this);
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

void TSortGrid::FillRows(int rows, const std::function<QString(int col, int row)>& text) {
    rows = qMax(rows, 1);
    setRowCount(rows);
    const int cols = columnCount();
    // Each cell would tell the view of its change on its own; with many rows that costs more
    // than making the items, so the view hears of all of them at once.
    QAbstractItemModel* m = model();
    const bool wasBlocked = m->blockSignals(true);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            QString t = text(c, r + 1);
            if (QTableWidgetItem* it = item(r, c))
                it->setText(t);
            else
                setItem(r, c, t.isEmpty() ? new QTableWidgetItem() : new QTableWidgetItem(t));
        }
    m->blockSignals(wasBlocked);
    Q_EMIT m->dataChanged(m->index(0, 0), m->index(rows - 1, cols - 1));
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

TSortGrid::SortKind TSortGrid::ColumnKind(const QStringList& cells) {
    const auto all = [&](auto converts) {
        return std::all_of(cells.begin(), cells.end(), converts);
    };
    if (all([](const QString& s) { return TextFormats::ParseFloat(s).has_value(); }))
        return SortKind::Numeric;
    if (all([](const QString& s) { return TextFormats::ParseDateTime(s).has_value(); }))
        return SortKind::DateTime;
    if (all([](const QString& s) { return TextFormats::ParseTime(s).has_value(); }))
        return SortKind::Time;
    return SortKind::Text;
}

void TSortGrid::SortByColumn(int col, bool ascending) {
    const int rows = rowCount();
    const int cols = columnCount();
    if (col < 0 || col >= cols || rows < 2) return;

    QStringList cells;
    for (int r = 0; r < rows; ++r)
        cells << Cell(col, r + 1);
    const SortKind kind = ColumnKind(cells);

    // Each row's sort key, converted once.
    std::vector<double> number(rows);
    std::vector<QDateTime> stamp(rows);
    std::vector<QTime> time(rows);
    for (int r = 0; r < rows; ++r) {
        switch (kind) {
        case SortKind::Numeric:
            number[r] = *TextFormats::ParseFloat(cells[r]);
            break;
        case SortKind::DateTime:
            stamp[r] = *TextFormats::ParseDateTime(cells[r]);
            break;
        case SortKind::Time:
            time[r] = *TextFormats::ParseTime(cells[r]);
            break;
        case SortKind::Text:
            break;
        }
    }
    const auto less = [&](int a, int b) {
        switch (kind) {
        case SortKind::Numeric:
            return number[a] < number[b];
        case SortKind::DateTime:
            return stamp[a] < stamp[b];
        case SortKind::Time:
            return time[a] < time[b];
        case SortKind::Text:
            break;
        }
        return cells[a].compare(cells[b], Qt::CaseInsensitive) < 0;
    };
    std::vector<int> order(rows);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return ascending ? less(a, b) : less(b, a); });

    // Whole rows move, items and all.
    std::vector<std::vector<QTableWidgetItem*>> taken(rows, std::vector<QTableWidgetItem*>(cols));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            taken[r][c] = takeItem(r, c);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            setItem(r, c, taken[order[r]][c]);
    if (OnRowsSorted) OnRowsSorted(order);
}

void TSortGrid::HeaderClick(int col) {
    if (col < 0 || col >= columnCount()) return;
    TSortOptions options;
    options.Ascending = col == SortColumn ? !SortAscending : true;
    if (OnClickSort) OnClickSort(col, 0, options);
    if (!options.CanSort) return;
    SortAscending = options.Ascending;
    if (rowCount() >= 2) {
        if (OnBeginSort) OnBeginSort(col, options);
        if (options.CanSort) {
            SortByColumn(col, options.Ascending);
            SortColumn = col;
        }
    }
    horizontalHeader()->viewport()->update();
}

void TSortGrid::DrawSortMarker(QPainter& painter, const QRect& cell, bool ascending,
                               const QColor& fill) {
    // Right and bottom edges as the cell's outer bounds.
    const int r = cell.left() + cell.width();
    const int t = cell.top();
    const int b = cell.top() + cell.height();
    QPolygon marker;
    if (ascending)
        marker << QPoint(r - 7, t + 3) << QPoint(r - 10, b - 4) << QPoint(r - 4, b - 4);
    else
        marker << QPoint(r - 10, t + 3) << QPoint(r - 7, b - 4) << QPoint(r - 4, t + 3);
    painter.setPen(Qt::black);
    painter.setBrush(fill);
    painter.drawPolygon(marker);
}
