// The settings file and the action table's commands.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QTimeEdit>
#include <QToolButton>

#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>

#include "Dialogs.h"
#include "IniFile.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "ZorvaneMain.h"
#include "lang.h"

namespace {

const QString Opt = QStringLiteral("Opt");
const QString Global = QStringLiteral("Global");
const QString ActionsSection = QStringLiteral("Actions");

// Key words of the action keys by grid column; column 5 has no key.
const char* const ActionKeys[ActionColumnCount] = {
    "Verz",  "Nach", "Time",  "Count",  "Last", nullptr, "Dateien",
    "Bytes", "Arc",  "Dauer", "Filter", "Hist", "LE",    "p",
};
// Defaults on reading, by column.
const char* const ActionDefaults[ActionColumnCount] = {
    "", "", "02:00:00", "5", "", "", "", "", "", "", "", "J-J", "", "",
};
// Column widths before a layout was saved, by column.
const int DefaultWidths[ActionColumnCount] = {160, 100, 50, 30, 110, -1, 50,
                                              80,  70,  60, 60, 20,  50, 20};

QString key(int col, int n) {
    return QString::fromLatin1(ActionKeys[col]) + QString::number(n);
}

QString widthKey(int col) {
    return QStringLiteral("C") + QString::number(col);
}

// The settings file holds archive passwords in plain text: only its owner may read it.
IniFile settingsFile(const QString& path) {
    IniFile ini(path);
    ini.SetOwnerOnly(true);
    return ini;
}

QTime readTime(const IniFile& ini, const QString& section, const QString& name, QTime def) {
    const auto t = TextFormats::ParseTime(ini.ReadString(section, name, QString()));
    return t ? *t : def;
}

} // namespace

// The ini layer reads an unreadable file as empty and rewrites it with what it was given, so a
// file that is there but cannot be read must stop every load and save before it starts.
void Tmain::CheckSettingsReadable() const {
    const QString path = SettingsFileName();
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 &&
        (errno == ENOENT || errno == ENOTDIR))
        return; // not there yet: the first start creates it
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        file.readAll();
        if (file.error() == QFileDevice::NoError) return;
    }
    throw std::runtime_error(QStringLiteral("Die Einstellungsdatei %1 kann nicht gelesen werden "
                                            "(%2). Sie bleibt unverändert.")
                                 .arg(path, file.errorString())
                                 .toStdString());
}

void Tmain::ConnectGrid() {
    connect(sg, &QTableWidget::cellClicked, this, [this] { sgClick(sg); });
    sg->OnClickSort = [this](int col, int row, TSortOptions& o) { sgClickSort(col, row, o); };
    sg->OnBeginSort = [this](int col, TSortOptions& o) { sgBeginSort(col, o); };
    sg->OnDrawCell = [this](QPainter& p, int col, int row, const QRect& r) {
        sgDrawCell(p, col, row, r);
    };
}

void Tmain::LoadSettings() {
    try {
        CheckSettingsReadable();
    } catch (...) {
        SettingsRead = false;
        throw;
    }
    {
        const IniFile ini = settingsFile(SettingsFileName());
        int n = 1;
        cbLang->setCurrentIndex(ini.ReadInteger(Opt, QStringLiteral("lang"), 0));
        const int version = ini.ReadInteger(Global, QStringLiteral("iv"), 1);
        sperrVon->setTime(readTime(ini, Global, QStringLiteral("SperrVon"), QTime(6, 0)));
        sperrBis->setTime(readTime(ini, Global, QStringLiteral("SperrBis"), QTime(23, 0)));
        cbSperr->setChecked(ini.ReadBool(Global, QStringLiteral("Speerzeit"), true));
        // Old files kept the end of the blocking window at two in the morning.
        if (TextFormats::FormatTime(sperrBis->time()) == QStringLiteral("02:00:00") && version < 2)
            sperrBis->setTime(QTime(23, 0));

        QString verz = ini.ReadString(ActionsSection, key(colVerz, n), QString());
        while (!verz.isEmpty()) {
            if (sg->RowCount() < n + 1) sg->SetRowCount(n + 1);
            sg->SetCell(colVerz, n, verz);
            for (int c = colNach; c < ActionColumnCount; ++c) {
                if (c == colActionNumber)
                    sg->SetCell(c, n, QString::number(n));
                else
                    sg->SetCell(c, n,
                                ini.ReadString(ActionsSection, key(c, n),
                                               QString::fromLatin1(ActionDefaults[c])));
            }
            ++n;
            verz = ini.ReadString(ActionsSection, key(colVerz, n), QString());
        }
        if (n == 1) {
            // No action: one empty row, as at the first start.
            sg->SetRowCount(2);
            for (int c = 0; c < ActionColumnCount; ++c)
                sg->SetCell(c, 1, QString());
        } else {
            sg->SetRowCount(n);
        }
    }
    SettingsRead = true;

    saveIniExecute(saveIni);
    SetModified(false);
    const bool any = !sg->Cell(colVerz, 1).isEmpty();
    SetPackAllEnabled(any); // a run's lock stays
    btnTimer->setEnabled(any);
}

void Tmain::ReadLayout() {
    CheckSettingsReadable();
    const IniFile ini = settingsFile(SettingsFileName());
    cbLang->setCurrentIndex(ini.ReadInteger(Opt, QStringLiteral("lang"), 0));

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize area = screen ? screen->geometry().size() : QSize(width(), height());
    int left = ini.ReadInteger(Opt, QStringLiteral("Left"), area.width() / 2 - width() / 2);
    int top = ini.ReadInteger(Opt, QStringLiteral("Top"), area.height() / 2 - height() / 2);
    const int w = ini.ReadInteger(Opt, QStringLiteral("Width"), width());
    const int h = ini.ReadInteger(Opt, QStringLiteral("Height"), height());
    if (left < 0) left = 0;
    if (left > area.width() - 10) left = area.width() - 10;
    if (top < 0) top = 0;
    if (top > area.height() - 10) top = area.height() - 10;
    move(left, top);
    resize(w, h);

    for (int c = 0; c < ActionColumnCount; ++c) {
        if (c == colActionNumber) continue;
        sg->SetColWidth(c, ini.ReadInteger(Opt, widthKey(c), DefaultWidths[c]));
    }
}

void Tmain::saveIniExecute(QObject* Sender) {
    CheckSettingsReadable();
    IniFile ini = settingsFile(SettingsFileName());
    if (Sender == nullptr) {
        // The layout: language, window bounds and column widths only.
        ini.WriteInteger(Opt, QStringLiteral("lang"), cbLang->currentIndex());
        ini.WriteInteger(Opt, QStringLiteral("Left"), x());
        ini.WriteInteger(Opt, QStringLiteral("Top"), y());
        ini.WriteInteger(Opt, QStringLiteral("Width"), width());
        ini.WriteInteger(Opt, QStringLiteral("Height"), height());
        for (int c = 0; c < ActionColumnCount; ++c)
            if (c != colActionNumber) ini.WriteInteger(Opt, widthKey(c), sg->ColWidth(c));
    } else {
        // After a failed load the grid does not hold the file's actions; saving them would
        // replace the user's list.
        if (!SettingsRead)
            throw std::runtime_error(
                QStringLiteral("Die Einstellungen werden nicht gespeichert, weil die "
                               "Einstellungsdatei %1 nicht gelesen werden konnte.")
                    .arg(SettingsFileName())
                    .toStdString());
        ini.WriteString(Global, QStringLiteral("SperrVon"),
                        TextFormats::FormatTime(sperrVon->time()));
        ini.WriteString(Global, QStringLiteral("SperrBis"),
                        TextFormats::FormatTime(sperrBis->time()));
        ini.WriteBool(Global, QStringLiteral("Speerzeit"), cbSperr->isChecked());
        ini.WriteInteger(Global, QStringLiteral("IV"), 2);
        const int last = sg->RowCount() - 1;
        for (int i = 1; i <= last; ++i) {
            for (int c = 0; c < ActionColumnCount; ++c)
                if (c != colActionNumber)
                    ini.WriteString(ActionsSection, key(c, i), sg->Cell(c, i));
            sg->SetCell(colActionNumber, i, QString::number(i));
        }
        ini.WriteString(ActionsSection, key(colVerz, last + 1), QString());
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

bool Tmain::RunOrRestoreUnderWay() const {
    return RunActive || allActive_ || RestoreRunning || Busy;
}

void Tmain::ReloadIfPending() {
    if (!ReloadPending || RunOrRestoreUnderWay()) return;
    ReloadPending = false;
    try {
        LoadSettings();
        sgClick(nullptr);
    } catch (const std::exception& e) {
        Dialogs::ShowError(QString::fromUtf8(e.what()));
    }
}

void Tmain::sgClick(QObject* Sender) {
    Q_UNUSED(Sender);
    const int row = sg->Row();
    const bool qualifies = row > 0 && !sg->Cell(colVerz, row).isEmpty();
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
    if (Busy) {
        SortOptions.CanSort = false;
        return;
    }
    SortOptions.Ascending = Col == sg->SortColumn ? !sg->SortAscending : true;
    sg->SortAscending = SortOptions.Ascending;
    sg->horizontalHeader()->viewport()->update();
}

void Tmain::sgBeginSort(int Col, TSortOptions& SortOptions) {
    Q_UNUSED(Col);
    if (Busy) SortOptions.CanSort = false;
}

void Tmain::sgDrawCell(QPainter& Canvas, int ACol, int ARow, const QRect& Rect) {
    QFont font = sg->font();
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    Canvas.setFont(font);
    const QFontMetrics metrics(font);

    QString text = sg->Cell(ACol, ARow);
    if (ARow > 0 && ACol == colP && !text.isEmpty()) text = QStringLiteral("***");

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
