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
#include "Schedule.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "ZorvaneMain.h"
#include "lang.h"

namespace {

const QColor LightRed(255, 0, 0);
const QColor LightGreen(0, 128, 0);
const QColor LightBlack(0, 0, 0);

// The key of an action; one without gets the one after last.
ActionKey keyOf(BackupAction& a, ActionKey& last) {
    if (a.Key == 0) a.Key = ++last;
    return a.Key;
}

// The actions as the decision reads them, in the grid's present order.
QList<ScheduledAction> scheduledActions(QList<BackupAction>& list, ActionKey& lastKey) {
    QList<ScheduledAction> actions;
    actions.reserve(list.size());
    for (BackupAction& a : list)
        actions << ScheduledAction{keyOf(a, lastKey), a[colTime], a[colLast], a[colCount],
                                   a.Target()};
    return actions;
}

bool drivePresent(const QString& drive) {
    return Drive::DriveExists(drive);
}

} // namespace

ActionKey Tmain::RowKey(int row) {
    return row >= 1 && row <= actions_.size() ? keyOf(actions_[row - 1], lastActionKey_) : 0;
}

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
    if (AutoStart) HideAtAutoStart();
    SpinnerStep();
    if (!btnTimer->isChecked()) {
        SetStaColour(staColour == LightBlack ? LightRed : LightBlack);
        sta->setToolTip(Tx(txAutomatikNichtAktiv));
        return;
    }
    // Only from Idle. A restore pumps events while its dialog is open and while it extracts; a
    // run started inside it would take over the progress bar and the abort button. Sorting the
    // grid pumps no events and stays out while the tick is under way, so no tick finds a sort.
    ActivityScope tick(*this, Activity::Series, RunKind::Scheduled);
    if (!tick.Entered()) return;

    const int linesBefore = LogLineCount();
    const QDateTime present = Clock::Now();
    // Read once: the actions after a run are judged by the window the tick began with.
    const BlockingWindow window{sperrVon->time(), sperrBis->time(), cbSperr->isChecked()};
    const QList<ScheduledAction> actions = scheduledActions(actions_, lastActionKey_);
    retry_.KeepOnly(actions);
    const ScheduleDecision decision =
        DueNow(actions, window, {present, present}, retry_, drivePresent);
    if (decision.Blocked) {
        SetStaColour(LightRed);
        sta->setToolTip(Tx(txSperrzeitAktiv));
        return;
    }
    SetStaColour(LightGreen);
    sta->setToolTip(Tx(txWarteAufBackupzeit));
    RunDueRows(decision, window, present);

    SetStaColour(LightGreen);
    tick.Leave();
    if (LogLineCount() != linesBefore) SaveHistory();
    ReloadIfPending(); // a reload asked for during the tick's runs
}

void Tmain::HideAtAutoStart() {
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

void Tmain::RunDueRows(ScheduleDecision decision, const BlockingWindow& window,
                       const QDateTime& present) {
    const QDate today = present.date();
    const int week = IsoWeek(today);
    const int month = today.month();
    // The session ending (logoff, shutdown), the close or the hand-over stops the tick after the
    // row under way.
    qsizetype from = 0;
    while (!SessionEnding && !Leaving()) {
        for (qsizetype k = 0; k < decision.Verdicts.size(); ++k)
            ScheduleRow(int(from + k) + 1, decision.Verdicts[k], week, month);
        if (decision.Due < 0) break;
        // A run pumps events: the rows after it are read again.
        from = decision.Due + 1;
        const QList<ScheduledAction> actions = scheduledActions(actions_, lastActionKey_);
        // The clock for the retry waits moves on with the runs; the tick's own time stays.
        decision = DueNow(actions, window, {present, Clock::Now()}, retry_, drivePresent, from);
    }
}

// What a tick does with one row once the decision has judged it.
void Tmain::ScheduleRow(int row, const ActionVerdict& verdict, int week, int month) {
    try {
        switch (verdict.Reason) {
        case NotRun::Unreadable:
            throw SchedulerError(verdict.Error);
        case NotRun::DriveMissing: {
            const QString text = Tx(txLaufwerk) + u' ' + verdict.Drive + u' ' + Tx(txNichtGefunden);
            ReportRowError(row, Tx(txFehlerBeiBackup) + u' ' + ActionAt(row).Folder() + u':', text);
            return;
        }
        case NotRun::None:
            try {
                RunScheduledRow(row, week, month);
            } catch (const std::exception& e) {
                const QString message = QString::fromUtf8(e.what());
                ReportRowError(
                    row, QStringLiteral("Fehler bei Backup von ") + ActionAt(row).Folder() + u':',
                    message);
            }
            return;
        default:
            return;
        }
    } catch (const std::exception& e) {
        const QString line = QString::fromUtf8(e.what()) + QStringLiteral(", ") + Tx(txVon) + u' ' +
                             ActionAt(row).Folder() + QStringLiteral(", ") + Tx(txNach) + u' ' +
                             ActionAt(row).Target() + QStringLiteral("soll: ") +
                             ActionAt(row)[colTime] + QStringLiteral(", last: ") +
                             ActionAt(row)[colLast] + QStringLiteral(" , um ");
        // A row whose texts cannot be read logs its line once, then again only after the
        // throttle of the balloons, so it cannot push every other record out of the history.
        if (retry_.GuardLineDue(RowKey(row), line, Clock::Now()))
            LogLine(line + TextFormats::FormatDateTime(Clock::Now()));
    }
}

void Tmain::RunScheduledRow(int row, int week, int month) {
    int col = sg->Col();
    if (sg->ColWidth(col) < 0) col = colVerz;
    sg->SetFocusCell(col, row);
    const QString target = ActionAt(row).Target();
    const QString base = GenerationBase(target);
    const int g = ParseCount(ActionAt(row)[colCount]) - 1;

    // Only a new archive may replace the oldest kept generation: the rotation waits until the
    // archive is complete and runs just before it takes the target's name, so a run that fails
    // or is aborted while writing leaves the target and every generation as they were.
    bool rotationFailed = false;
    beforeCommit_ = [this, target, g, &rotationFailed] {
        if (RotateGenerations(target, g,
                              {[this](const QString& line) { LogLine(line); }, language_}))
            return;
        // The new archive would replace a generation that could not move on.
        rotationFailed = true;
        throw std::runtime_error("Ältere Sicherungen konnten nicht umbenannt werden");
    };

    const QString lastBefore = ActionAt(row)[colLast];
    backupSelectedExecute(RunKind::Scheduled);
    beforeCommit_ = nullptr;
    if (rotationFailed) {
        retry_.SetWaiting(RowKey(row), true, Clock::Now());
        throw std::runtime_error("Ältere Sicherungen konnten nicht umbenannt werden");
    }
    // A run writes Last only when it completes.
    const bool completed = ActionAt(row)[colLast] != lastBefore;
    retry_.SetWaiting(RowKey(row), !completed, Clock::Now());
    // A run that did not complete left the previous archive as the target; a copy of it
    // would stand for this week or month and keep the completed retry's archive out.
    if (!completed) return;

    const BackupAction done = ActionAt(row);
    if (done.MonthlyCopy())
        MakePeriodCopy(target, MonthlyCopyName(base, month),
                       {MonthlyCopyName(base, MonthlyCopyToDelete(month))});
    if (done.WeeklyCopy()) {
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
    if (!ReportAllowed(ActionAt(row).LastMessage(), now)) return;
    // Always with the time, also at midnight: the throttle reads back 19 characters.
    SetActionField(colLE, row, FormatWallClock(now) + QStringLiteral(": ") + text);
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
