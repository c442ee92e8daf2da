// The scheduler tick and the blocking window's controls.
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QThread>
#include <QTimeEdit>
#include <QToolButton>
#include <stdexcept>

#include "Clock.h"
#include "Drive.h"
#include "Generations.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "ZorvaneMain.h"
#include "lang.h"

namespace {

const QColor LightRed(255, 0, 0);
const QColor LightGreen(0, 128, 0);
const QColor LightBlack(0, 0, 0);

// A scheduled run that did not complete waits this long before its next attempt.
constexpr qint64 RetryWaitMs = 10 * 60 * 1000;
// Where a row keeps the time of its last incomplete scheduled run: on the row's own item, so
// it follows the row through sorting and goes with it when the row is deleted.
constexpr int RetryRole = Qt::UserRole + 61;

QTableWidgetItem* retryItem(TSortGrid* sg, int row) {
    return sg->item(row - 1, colVerz);
}

bool retryWaiting(TSortGrid* sg, int row) {
    const QTableWidgetItem* it = retryItem(sg, row);
    if (!it) return false;
    const QDateTime failed = it->data(RetryRole).toDateTime();
    // Real elapsed time, so a clock change does not stretch or cut the wait.
    return failed.isValid() && std::llabs(failed.msecsTo(Clock::Now())) < RetryWaitMs;
}

void setRetryWait(TSortGrid* sg, int row, bool wait) {
    if (QTableWidgetItem* it = retryItem(sg, row))
        it->setData(RetryRole, wait ? QVariant(Clock::Now()) : QVariant());
}

// Where a row keeps the row-guard line it last logged (without its time) and when.
constexpr int GuardLineRole = Qt::UserRole + 62;

// A row whose texts cannot be read logs its line once, then again only after the throttle of
// the balloons, so it cannot push every other record out of the history.
bool guardLineDue(TSortGrid* sg, int row, const QString& line) {
    QTableWidgetItem* it = retryItem(sg, row);
    if (!it) return true;
    const QDateTime now = Clock::Now();
    const QVariantList last = it->data(GuardLineRole).toList();
    if (last.size() == 2 && last[0].toString() == line &&
        !TenMinutesPassed(last[1].toDateTime(), now))
        return false;
    it->setData(GuardLineRole, QVariantList{line, now});
    return true;
}

} // namespace

void Tmain::SetStaColour(const QColor& colour) {
    staColour = colour;
    const QString sheet =
        QStringLiteral("background: %1; color: white; font-weight: bold;").arg(colour.name());
    if (sta->styleSheet() != sheet) sta->setStyleSheet(sheet);
}

void Tmain::ShowBalloon(const QString& title, const QString& text) {
    LastBalloonTitle = title;
    LastBalloonText = text;
    ++balloonsShown_;
    tray->showMessage(title, text, QSystemTrayIcon::Warning, 30000);
}

void Tmain::Timer2Timer() {
    if (AutoStart) {
        AutoStart = false;
        QCoreApplication::processEvents();
        try {
            HideToTray();
        } catch (const std::exception&) {
            QThread::msleep(700);
            QCoreApplication::processEvents();
            QThread::msleep(700);
            QCoreApplication::processEvents();
            HideToTray();
        }
    }
    SpinnerStep();
    if (!btnTimer->isChecked()) {
        SetStaColour(staColour == LightBlack ? LightRed : LightBlack);
        sta->setToolTip(Tx(txAutomatikNichtAktiv));
        return;
    }
    // A restore pumps events while its dialog is open and while it extracts; a run started
    // inside it would take over the progress bar and the abort button.
    if (Busy || RestoreRunning) return;
    // Sorting the grid pumps no events and stays out while Busy is set, so no tick can find a
    // sort under way.
    Busy = true;
    struct ClearBusy {
        bool& busy;
        ~ClearBusy() { busy = false; }
    } clearBusy{Busy};

    const int linesBefore = LogLineCount();
    const QDateTime present = Clock::Now();
    const QDate today = present.date();
    const QDateTime now = WallClock(present);

    if (cbSperr->isChecked() && InBlockingWindow(now.time(), sperrVon->time(), sperrBis->time())) {
        SetStaColour(LightRed);
        sta->setToolTip(Tx(txSperrzeitAktiv));
        return;
    }
    SetStaColour(LightGreen);
    sta->setToolTip(Tx(txWarteAufBackupzeit));
    const int week = IsoWeek(today);
    const int month = today.month();

    // The session ending (logoff, shutdown), the close or the hand-over stops the tick after the
    // row under way.
    for (int i = 1; i < sg->RowCount() && !SessionEnding && !closing_ && !handingOver_; ++i) {
        try {
            ScheduleRow(i, today, now, week, month);
        } catch (const std::exception& e) {
            const QString line = QString::fromUtf8(e.what()) + QStringLiteral(", ") + Tx(txVon) +
                                 u' ' + sg->Cell(colVerz, i) + QStringLiteral(", ") + Tx(txNach) +
                                 u' ' + sg->Cell(colNach, i) + QStringLiteral("soll: ") +
                                 sg->Cell(colTime, i) + QStringLiteral(", last: ") +
                                 sg->Cell(colLast, i) + QStringLiteral(" , um ");
            if (guardLineDue(sg, i, line))
                LogLine(line + TextFormats::FormatDateTime(Clock::Now()));
        }
    }

    SetStaColour(LightGreen);
    Busy = false;
    if (LogLineCount() != linesBefore) SaveHistory();
    ReloadIfPending(); // a reload asked for during the tick's runs
}

void Tmain::ScheduleRow(int row, const QDate& today, const QDateTime& now, int week, int month) {
    const QString time = sg->Cell(colTime, row);
    if (time.isEmpty()) return;
    const QTime tm = ParseActionTime(time);
    const QDateTime last = ParseLastRun(sg->Cell(colLast, row));
    if (!IsDue(today, now, tm, last)) return;
    if (CountSkipsScheduler(sg->Cell(colCount, row))) return;

    const QString drive = Drive::ExtractFileDrive(sg->Cell(colNach, row));
    if (!Drive::DriveExists(drive)) {
        const QString text = Tx(txLaufwerk) + u' ' + drive + u' ' + Tx(txNichtGefunden);
        ReportRowError(row, Tx(txFehlerBeiBackup) + u' ' + sg->Cell(colVerz, row) + u':', text);
        return;
    }
    if (retryWaiting(sg, row)) return;

    try {
        RunScheduledRow(row, week, month);
    } catch (const std::exception& e) {
        const QString message = QString::fromUtf8(e.what());
        ReportRowError(
            row, QStringLiteral("Fehler bei Backup von ") + sg->Cell(colVerz, row) + u':', message);
    }
}

void Tmain::RunScheduledRow(int row, int week, int month) {
    int col = sg->Col();
    if (sg->ColWidth(col) < 0) col = colVerz;
    sg->SetFocusCell(col, row);
    const QString target = sg->Cell(colNach, row);
    const QString base = GenerationBase(target);
    const int g = ParseCount(sg->Cell(colCount, row)) - 1;

    // Only a new archive may replace the oldest kept generation: the rotation waits until the
    // archive is complete and runs just before it takes the target's name, so a run that fails
    // or is aborted while writing leaves the target and every generation as they were.
    bool rotationFailed = false;
    beforeCommit_ = [this, target, g, &rotationFailed] {
        if (RotateGenerations(target, g, [this](const QString& line) { LogLine(line); })) return;
        // The new archive would replace a generation that could not move on.
        rotationFailed = true;
        throw std::runtime_error("Ältere Sicherungen konnten nicht umbenannt werden");
    };

    const QString lastBefore = sg->Cell(colLast, row);
    backupSelectedExecute(RunKind::Scheduled);
    beforeCommit_ = nullptr;
    if (rotationFailed) {
        setRetryWait(sg, row, true);
        throw std::runtime_error("Ältere Sicherungen konnten nicht umbenannt werden");
    }
    // A run writes Last only when it completes.
    const bool completed = sg->Cell(colLast, row) != lastBefore;
    setRetryWait(sg, row, !completed);
    // A run that did not complete left the previous archive as the target; a copy of it
    // would stand for this week or month and keep the completed retry's archive out.
    if (!completed) return;

    const QString hist = sg->Cell(colHist, row);
    if (MonthlyCopyWanted(hist))
        MakePeriodCopy(target, MonthlyCopyName(base, month),
                       {MonthlyCopyName(base, MonthlyCopyToDelete(month))});
    if (WeeklyCopyWanted(hist)) {
        QStringList old;
        for (int k : WeeklyCopiesToDelete(week))
            old << WeeklyCopyName(base, k);
        MakePeriodCopy(target, WeeklyCopyName(base, week), old);
    }
}

// The report of a missing drive or a failed scheduling step: at most one per row in ten
// minutes, in the row's last-error column and as a balloon.
void Tmain::ReportRowError(int row, const QString& title, const QString& text) {
    const QDateTime now = WallClock(Clock::Now());
    if (!ReportAllowed(sg->Cell(colLE, row), now)) return;
    // Always with the time, also at midnight: the throttle reads back 19 characters.
    sg->SetCell(colLE, row, FormatWallClock(now) + QStringLiteral(": ") + text);
    ShowBalloon(title, text);
}

void Tmain::sperrVonChange() {
    SetModified(true);
}

void Tmain::sperrBisChange() {
    SetModified(true);
}

void Tmain::cbSperrClick() {
    SetModified(true);
}
