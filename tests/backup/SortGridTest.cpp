// The sortable grid and the action table's sorting, painting and per-row commands.
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QToolTip>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include "SortGrid.h"
#include "WindowFixture.h"
#include "ZipComponent.h"

namespace {

QStringList column(const TSortGrid& g, int col) {
    QStringList out;
    for (int r = 1; r < g.RowCount(); ++r)
        out << g.Cell(col, r);
    return out;
}

void fill(TSortGrid& g, int col, const QStringList& cells) {
    g.SetRowCount(int(cells.size()) + 1);
    for (int r = 0; r < cells.size(); ++r) {
        g.SetCell(col, r + 1, cells[r]);
        g.SetCell(0, r + 1, QString::number(r)); // where each row came from
    }
}

QPoint headerPoint(const TSortGrid& g, int col) {
    const QHeaderView* h = g.horizontalHeader();
    return {h->sectionViewportPosition(col) + h->sectionSize(col) / 2, h->height() / 2};
}

void clickHeader(TSortGrid& g, int col, Qt::KeyboardModifiers mods = {},
                 Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(g.horizontalHeader()->viewport(), button, mods, headerPoint(g, col));
}

// The whole column chooses the comparison: numeric, else date-time, else time, else text.
TEST(SortGridSort, EachKindOrdersAsItsValuesAndWholeRowsMove) {
    TSortGrid g(3);
    struct Case {
        QStringList cells;
        QStringList ascending;
    } cases[] = {
        {{"10", "9", "2,5", "-1"}, {"-1", "2,5", "9", "10"}},
        // Thousands separators, a dot as decimal point or an empty cell make a column text.
        {{"1.234", "999", "12"}, {"1.234", "12", "999"}},
        {{"2.5", "10"}, {"10", "2.5"}},
        {{"12", "", "3"}, {"", "12", "3"}},
        {{"07.12.2026", "", "01.01.2027"}, {"", "01.01.2027", "07.12.2026"}},
        {{"15.01.2026 08:00:00", "31.12.2025", "15.01.2026 07:59:59"},
         {"31.12.2025", "15.01.2026 07:59:59", "15.01.2026 08:00:00"}},
        {{"23:00:00", "9:30", "02:00:00"}, {"02:00:00", "9:30", "23:00:00"}},
        {{"b", "A", "c", "a"}, {"A", "a", "b", "c"}}, // equal texts keep their order
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cells.join(u'|').toStdString());
        fill(g, 2, c.cells);
        g.SortByColumn(2, true);
        EXPECT_EQ(column(g, 2), c.ascending);
        for (int r = 1; r < g.RowCount(); ++r)
            EXPECT_EQ(g.Cell(2, r), c.cells[g.Cell(0, r).toInt()]);
    }
    fill(g, 2, {"b", "A", "c"});
    g.SortByColumn(2, false);
    EXPECT_EQ(column(g, 2), QStringList({"c", "b", "A"}));
}

TEST(SortGridFill, AFillLeavesExactlyItsRowsAndTellsTheViewOnce) {
    TSortGrid g(3);
    fill(g, 1, {"alt", "alt", "alt", "alt"});
    QSignalSpy changes(g.model(), &QAbstractItemModel::dataChanged);
    g.FillRows(2, [](int col, int row) {
        return col == 2 ? QString() : QStringLiteral("%1/%2").arg(col).arg(row);
    });
    EXPECT_EQ(g.RowCount(), 3);
    EXPECT_EQ(column(g, 0), QStringList({"0/1", "0/2"}));
    EXPECT_EQ(column(g, 1), QStringList({"1/1", "1/2"}));
    EXPECT_EQ(column(g, 2), QStringList({"", ""}));
    EXPECT_EQ(changes.count(), 1);
    // The grid grows as needed, and every cell has its item to write into later.
    g.FillRows(5, [](int col, int row) { return QString::number(col * 10 + row); });
    EXPECT_EQ(column(g, 2), QStringList({"21", "22", "23", "24", "25"}));
    g.SetCell(1, 5, QStringLiteral("neu"));
    EXPECT_EQ(g.Cell(1, 5), "neu");
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_NE(g.item(r, c), nullptr);
    // No rows: one empty row, as the load leaves an empty file.
    g.FillRows(0, [](int, int) { return QStringLiteral("x"); });
    EXPECT_EQ(g.RowCount(), 2);
}

TEST(SortGridClicks, OnlyAPlainClickThatEndsNoDragSorts) {
    TSortGrid g(3);
    g.resize(500, 200);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    fill(g, 2, {"b", "c", "a"});
    g.SortColumn = 1;

    clickHeader(g, 2, Qt::ShiftModifier);
    clickHeader(g, 2, Qt::ControlModifier);
    EXPECT_EQ(column(g, 2), QStringList({"b", "c", "a"}));

    // A press on the edge between two columns starts a width drag, moved or not.
    QHeaderView* h = g.horizontalHeader();
    const QPoint edge(h->sectionViewportPosition(2), h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, edge);
    const int before = h->sectionSize(1);
    QTest::mousePress(h->viewport(), Qt::LeftButton, {}, edge);
    QTest::mouseMove(h->viewport(), edge + QPoint(40, 0));
    QTest::mouseRelease(h->viewport(), Qt::LeftButton, {}, edge + QPoint(40, 0));
    EXPECT_EQ(h->sectionSize(1), before + 40);
    EXPECT_EQ(column(g, 2), QStringList({"b", "c", "a"}));
    EXPECT_EQ(g.SortColumn, 1);

    // Any button sorts; a new column starts ascending, the same column turns round.
    clickHeader(g, 2, {}, Qt::RightButton);
    EXPECT_EQ(column(g, 2), QStringList({"a", "b", "c"}));
    EXPECT_EQ(g.SortColumn, 2);
    clickHeader(g, 2);
    EXPECT_EQ(column(g, 2), QStringList({"c", "b", "a"}));
    EXPECT_FALSE(g.SortAscending);
}

class ActionTableTest : public WindowTest {
protected:
    ActionTableTest() : WindowTest(QDateTime(QDate(2026, 12, 7), QTime(23, 15, 0))) {}
    TestFolder& tmp = t;
    std::unique_ptr<Tmain>& w = m;

    void SetUp() override {
        WindowTest::SetUp();
        tmp.Write(QStringLiteral("config/Zorvane2.ini"),
                  "[Actions]\r\nVerz1=/b\r\nNach1=/x/b.Zip\r\nBytes1=1.024\r\np1=geheim\r\n"
                  "Verz2=/a\r\nNach2=/x/c.Zip\r\nBytes2=999\r\np2=x\r\n"
                  "Verz3=/c\r\nNach3=/x/a.Zip\r\nBytes3=12\r\n");
        Start().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }

    QImage cellImage(int col, int row) {
        const QRect r = Grid(*w)->visualRect(Grid(*w)->model()->index(row - 1, col));
        return Grid(*w)->viewport()->grab(r).toImage();
    }
};

TEST_F(ActionTableTest, HeaderClicksFollowTheMarkerAndTurnItRound) {
    TSortGrid& g = *Grid(*w);
    EXPECT_EQ(g.SortColumn, colNach);
    EXPECT_TRUE(g.SortAscending);

    clickHeader(g, colNach); // the marker's column: the first click sorts descending
    EXPECT_EQ(column(g, colNach), QStringList({"/x/c.Zip", "/x/b.Zip", "/x/a.Zip"}));
    EXPECT_FALSE(g.SortAscending);
    clickHeader(g, colNach);
    EXPECT_EQ(column(g, colNach), QStringList({"/x/a.Zip", "/x/b.Zip", "/x/c.Zip"}));
    clickHeader(g, colBytes); // "1.024" is text: compared as text
    EXPECT_EQ(column(g, colBytes), QStringList({"1.024", "12", "999"}));
    EXPECT_EQ(g.SortColumn, colBytes);
    EXPECT_TRUE(g.SortAscending);
    EXPECT_FALSE(w->State().Modified);

    // While a run is under way a header click changes nothing.
    tmp.Write(QStringLiteral("src/a.txt"), "a");
    w->SetActionField(colVerz, 2, tmp.Path(QStringLiteral("src")));
    w->SetActionField(colNach, 2, tmp.Path(QStringLiteral("a.Zip")));
    w->Zip().ReadFault = [&](const QString&, qint64) {
        clickHeader(g, colVerz);
        clickHeader(g, colBytes);
        return false;
    };
    g.SetFocusCell(colVerz, 2);
    w->backupSelectedExecute(Tmain::RunKind::Selected);
    w->Zip().ReadFault = nullptr;
    EXPECT_EQ(column(g, colBytes), QStringList({"1.024", "1", "999"}));
    EXPECT_EQ(g.SortColumn, colBytes);
    EXPECT_TRUE(g.SortAscending);

    // One row: nothing moves and the marker stays on its column, only its direction changes.
    w->SetGridRowCount(2);
    clickHeader(g, colBytes);
    EXPECT_EQ(g.SortColumn, colBytes);
    EXPECT_FALSE(g.SortAscending);
    clickHeader(g, colVerz);
    EXPECT_EQ(g.SortColumn, colBytes);
    EXPECT_TRUE(g.SortAscending);
}

TEST_F(ActionTableTest, AClickOnARowEnablesItsCommands) {
    TSortGrid& g = *Grid(*w);
    const auto clickCell = [&](int col, int row) {
        const QRect r = g.visualRect(g.model()->index(row - 1, col));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, r.center());
    };
    w->SetActionField(colVerz, 2, QString());
    clickCell(colArc, 2);
    EXPECT_EQ(g.Row(), 2);
    EXPECT_FALSE(Find<QAction>(*w, "delAktion")->isEnabled());
    EXPECT_FALSE(Find<QToolButton>(*w, "btnPackOne")->isEnabled());
    EXPECT_FALSE(Find<QToolButton>(*w, "btnRestore")->isEnabled());
    clickCell(colArc, 3);
    EXPECT_TRUE(Find<QAction>(*w, "delAktion")->isEnabled());
    EXPECT_TRUE(Find<QAction>(*w, "backupSelected")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(*w, "btnPackOne")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(*w, "btnRestore")->isEnabled());
}

TEST_F(ActionTableTest, OnlyTheFocusedCellIsHighlightedAndPasswordsShowStars) {
    TSortGrid& g = *Grid(*w);
    g.SetFocusCell(colNach, 2);
    Find<QPlainTextEdit>(*w, "Memo1")->setFocus(); // the grid without the keyboard focus
    QApplication::processEvents();
    const QColor highlight = g.palette().color(QPalette::Active, QPalette::Highlight);
    const QColor base = g.palette().color(QPalette::Base);
    const auto background = [&](int col, int row) {
        const QImage img = cellImage(col, row);
        return QColor(img.pixel(img.width() - 2, img.height() - 2));
    };
    EXPECT_EQ(background(colNach, 2), highlight);
    EXPECT_EQ(background(colVerz, 2), base);
    EXPECT_EQ(background(colNach, 1), base);
    EXPECT_EQ(background(colNach, 3), base);

    // Passwords of any length look alike; an empty one shows nothing.
    g.SetColWidth(colP, 60);
    w->SetActionField(colP, 1, QStringLiteral("ein sehr langes Kennwort"));
    w->SetActionField(colP, 2, QStringLiteral("x"));
    w->SetActionField(colP, 3, QString());
    const QImage longPw = cellImage(colP, 1);
    EXPECT_EQ(longPw, cellImage(colP, 2));
    EXPECT_NE(longPw, cellImage(colP, 3));
    w->SetActionField(colP, 3, QStringLiteral("***"));
    EXPECT_EQ(longPw, cellImage(colP, 3));
}

TEST_F(ActionTableTest, CutCellsAndTitlesShowTheirWholeTextAsTip) {
    TSortGrid& g = *Grid(*w);
    const auto tipAt = [](QWidget* area, QPoint at) {
        QToolTip::hideText(); // after a short delay
        EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
        QHelpEvent e(QEvent::ToolTip, at, area->mapToGlobal(at));
        QApplication::sendEvent(area, &e);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    const auto cellTip = [&](int col, int row) {
        return tipAt(g.viewport(), g.visualRect(g.model()->index(row - 1, col)).center());
    };
    const QString path = QStringLiteral("/home/anna/Dokumente/Briefe/2026/Dezember");
    w->SetActionField(colVerz, 1, path);
    g.SetColWidth(colVerz, 40);
    EXPECT_EQ(cellTip(colVerz, 1), path);
    g.SetColWidth(colVerz, QFontMetrics(g.font()).horizontalAdvance(path) + 20);
    EXPECT_EQ(cellTip(colVerz, 1), QString());

    // A cut password shows its stars, never its text.
    w->SetActionField(colP, 1, QStringLiteral("ein sehr langes Kennwort"));
    g.SetColWidth(colP, 8);
    EXPECT_EQ(cellTip(colP, 1), QStringLiteral("***"));

    QHeaderView* h = g.horizontalHeader();
    g.SetColWidth(colLE, 12);
    const QPoint title(h->sectionViewportPosition(colLE) + 6, h->height() / 2);
    EXPECT_EQ(tipAt(h->viewport(), title), QStringLiteral("Meldungen"));
    QToolTip::hideText();
}

} // namespace
