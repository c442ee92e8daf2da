// The settings file and the action table's commands.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QTimeEdit>
#include <QToolButton>

#include <stdexcept>

#include "ActionStore.h"
#include "DesignScale.h"
#include "Dialogs.h"
#include "SortGrid.h"
#include "ZorvaneMain.h"
#include "lang.h"

namespace {
// What a cell of the action grid shows: its text, a password as stars.
QString shownCellText(const TSortGrid& grid, int col, int row) {
    QString text = grid.Cell(col, row);
    if (row > 0 && col == colP && !text.isEmpty()) text = QStringLiteral("***");
    return text;
}
} // namespace

void Tmain::ConnectGrid() {
    connect(sg, &QTableWidget::cellClicked, this, [this] { sgClick(sg); });
    sg->OnClickSort = [this](int col, int row, TSortOptions& o) { sgClickSort(col, row, o); };
    sg->OnBeginSort = [this](int col, TSortOptions& o) { sgBeginSort(col, o); };
    sg->OnDrawCell = [this](QPainter& p, int col, int row, const QRect& r) {
        sgDrawCell(p, col, row, r);
    };
    sg->OnCellText = [this](int col, int row) { return shownCellText(*sg, col, row); };
    // The actions follow their rows.
    sg->OnRowsSorted = [this](const std::vector<int>& order) {
        Q_ASSERT(order.size() == size_t(actions_.size()));
        if (order.size() != size_t(actions_.size())) return;
        QList<BackupAction> sorted;
        sorted.reserve(actions_.size());
        for (int from : order)
            sorted.append(std::move(actions_[from]));
        actions_ = std::move(sorted);
    };
}

void Tmain::SetGridActions(QList<BackupAction> actions) {
    // No action: one empty row, as at the first start.
    if (actions.isEmpty()) actions.resize(1);
    // A reload leaves the scheduler's keys with the rows, so a retry wait outlasts it.
    for (qsizetype i = 0; i < qMin(actions.size(), actions_.size()); ++i)
        actions[i].Key = actions_[i].Key;
    actions_ = std::move(actions);
    sg->FillRows(int(actions_.size()), [&](int col, int row) { return actions_[row - 1][col]; });
}

const BackupAction& Tmain::ActionAt(int row) const {
    static const BackupAction none;
    return row >= 1 && row <= actions_.size() ? actions_[row - 1] : none;
}

void Tmain::SetActionField(int col, int row, const QString& text) {
    if (row < 1 || col < 0 || col >= ActionColumnCount) return;
    if (row > actions_.size()) SetGridRowCount(row + 1);
    actions_[row - 1][col] = text;
    sg->SetCell(col, row, text);
}

void Tmain::SetAction(int row, const BackupAction& action) {
    for (int c = 0; c < ActionColumnCount; ++c)
        if (ActionAt(row)[c] != action[c] || row > actions_.size())
            SetActionField(c, row, action[c]);
}

void Tmain::SetGridRowCount(int rows) {
    sg->SetRowCount(rows);
    actions_.resize(sg->RowCount() - 1);
}

void Tmain::RemoveActionRow(int row) {
    if (row < 1 || row > actions_.size()) return;
    sg->DeleteRow(row);
    actions_.removeAt(row - 1);
}

void Tmain::LoadSettings() {
    StoredSettings stored;
    {
        ActionStore store(SettingsFileName());
        try {
            store.Open();
        } catch (...) {
            SettingsRead = false;
            throw;
        }
        stored = store.ReadSettings();
    }
    cbLang->setCurrentIndex(stored.Lang);
    sperrVon->setTime(stored.Blocking.From);
    sperrBis->setTime(stored.Blocking.To);
    cbSperr->setChecked(stored.Blocking.On);
    SetGridActions(std::move(stored.Actions));
    SettingsRead = true;

    saveIniExecute(saveIni);
    SetModified(false);
    const bool any = !ActionAt(1).Folder().isEmpty();
    SetPackAllEnabled(any); // a run's lock stays
    btnTimer->setEnabled(any);
}

void Tmain::ReadLayout() {
    ActionStore store(SettingsFileName());
    store.Open();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize area = screen ? screen->geometry().size() : size();
    const WindowLayout layout = store.ReadLayout(area, size());
    cbLang->setCurrentIndex(layout.Lang);
    move(layout.Left, layout.Top);
    resize(layout.Width, layout.Height);
    for (int c = 0; c < ActionColumnCount; ++c)
        if (c != colActionNumber) sg->SetColWidth(c, DesignScale::Px(layout.ColWidths[size_t(c)]));
    FitColumnsToTitles();
    readWidths_ = layout.ColWidths;
    for (int c = 0; c < ActionColumnCount; ++c)
        shownWidths_[size_t(c)] = sg->ColWidth(c);
}

void Tmain::FitColumnsToTitles() {
    // The painting leaves 2 pixels before a title and 4 after it.
    const QFontMetrics fm(sg->font());
    for (int c = 0; c < ActionColumnCount; ++c) {
        const int width = sg->ColWidth(c);
        const int needed = fm.horizontalAdvance(sg->Cell(c, 0)) + 6;
        if (width >= 0 && width < needed) sg->SetColWidth(c, needed);
    }
}

void Tmain::saveIniExecute(QObject* Sender) {
    ActionStore store(SettingsFileName());
    store.Open();
    if (Sender == nullptr) {
        // The layout: language, window bounds and column widths (in design units) only.
        WindowLayout layout;
        layout.Lang = cbLang->currentIndex();
        layout.Left = x();
        layout.Top = y();
        layout.Width = width();
        layout.Height = height();
        for (int c = 0; c < ActionColumnCount; ++c) {
            const int shown = sg->ColWidth(c);
            layout.ColWidths[size_t(c)] = shown == shownWidths_[size_t(c)]
                                              ? readWidths_[size_t(c)]
                                              : DesignScale::ToDesign(shown);
        }
        store.PutLayout(layout);
        store.Commit();
    } else {
        // After a failed load the grid does not hold the file's actions; saving them would
        // replace the user's list.
        if (!SettingsRead)
            throw std::runtime_error(
                QStringLiteral("Die Einstellungen werden nicht gespeichert, weil die "
                               "Einstellungsdatei %1 nicht gelesen werden konnte.")
                    .arg(SettingsFileName())
                    .toStdString());
        QList<BackupAction> actions = actions_;
        store.PutFull({sperrVon->time(), sperrBis->time(), cbSperr->isChecked()}, actions);
        store.Commit();
        // The rows now carry the numbers they were saved under.
        for (int i = 1; i <= actions.size(); ++i)
            SetActionField(colActionNumber, i, actions[i - 1][colActionNumber]);
    }
    SetModified(false);
    sgClick(nullptr);
}

void Tmain::loadIniExecute(QObject* Sender) {
    Q_UNUSED(Sender);
    if (Modified && Dialogs::MessageDlg(DiscardChangesText(), Dialogs::Kind::Confirmation,
                                        Dialogs::Yes | Dialogs::No) == Dialogs::No)
        return;
    if (RunOrRestoreUnderWay()) {
        ReloadPending = true;
        return;
    }
    ReloadPending = false;
    LoadSettings();
    sgClick(nullptr);
}

void Tmain::ReloadIfPending() {
    if (!ReloadPending || RunOrRestoreUnderWay()) return;
    ReloadPending = false;
    Guarded([this] {
        LoadSettings();
        sgClick(nullptr);
    });
}

void Tmain::sgClick(QObject* Sender) {
    Q_UNUSED(Sender);
    const int row = sg->Row();
    const bool qualifies = !ActionAt(row).Folder().isEmpty();
    delAktion->setEnabled(qualifies);
    if (RunCommandsLocked()) { // a run or restore is under way: applied when it ends
        RememberRowCommands(qualifies);
        return;
    }
    backupSelected->setEnabled(qualifies);
    btnPackOne->setEnabled(qualifies);
    btnRestore->setEnabled(qualifies);
}

void Tmain::sgClickSort(int Col, int Row, TSortOptions& SortOptions) {
    Q_UNUSED(Row);
    // A run writes its results into a row by number: while it is under way the click is
    // dropped rather than waited out, since the run is suspended beneath this handler.
    if (RunsUnderWay()) {
        SortOptions.CanSort = false;
        return;
    }
    SortOptions.Ascending = Col == sg->SortColumn ? !sg->SortAscending : true;
    sg->SortAscending = SortOptions.Ascending;
    sg->horizontalHeader()->viewport()->update();
}

void Tmain::sgBeginSort(int Col, TSortOptions& SortOptions) {
    Q_UNUSED(Col);
    if (RunsUnderWay()) SortOptions.CanSort = false;
}

void Tmain::sgDrawCell(QPainter& Canvas, int ACol, int ARow, const QRect& Rect) {
    QFont font = sg->font();
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    Canvas.setFont(font);
    const QFontMetrics metrics(font);

    const QString text = shownCellText(*sg, ACol, ARow);

    // Outer right and bottom edges of the cell.
    const int right = Rect.left() + Rect.width();
    const int bottom = Rect.top() + Rect.height();
    int x = Rect.left() + 2;
    if (ACol >= colTime && ACol <= colDauer) {
        const int room = ARow == 0 && ACol == sg->SortColumn ? 14 : 4;
        x = right - room - metrics.horizontalAdvance(text);
        if (x < Rect.left()) x = Rect.left();
    }

    const QPalette& pal = sg->palette();
    QColor background = pal.color(QPalette::Base);
    QColor ink = Qt::black;
    if (ARow == 0) {
        background = pal.color(QPalette::Button);
    } else if (ARow == sg->Row() && ACol == sg->Col()) {
        // The focused cell stays marked when the grid loses the keyboard focus.
        background = pal.color(QPalette::Active, QPalette::Highlight);
        ink = Qt::white;
    }
    Canvas.fillRect(Rect, background);
    Canvas.setPen(ink);
    Canvas.drawText(QRect(x, Rect.top() + 2, right - x, bottom - Rect.top() - 2),
                    Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    if (ARow == 0 && ACol == sg->SortColumn)
        TSortGrid::DrawSortMarker(Canvas, Rect, sg->SortAscending, background);
}
