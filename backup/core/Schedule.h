#pragma once
// The scheduler's decision: which Backup action is due now and why the others are not. One
// plain routine over the actions' texts, the blocking window, the tick's clock and the state
// the scheduler keeps between ticks, so a change of when an action is due is made here alone.
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>

#include "ActionStore.h"

// What the decision reads of one action: its cell texts as the user typed them.
struct ScheduledAction {
    ActionKey Key = 0;
    QString Time;   // daily time, empty: never scheduled
    QString Last;   // last completed run, empty: never
    QString Count;  // generations
    QString Target; // the archive, whose drive must be present
};

// The moments of one tick.
struct TickClock {
    QDateTime Now;  // local date and time, fixed for the whole tick
    QDateTime Real; // the moment the retry wait is measured against
};

// What the scheduler remembers of each action between ticks.
class RetryState {
public:
    // A scheduled run that did not complete waits this long before its next attempt.
    static constexpr qint64 WaitMs = 10 * 60 * 1000;

    void SetWaiting(ActionKey key, bool wait, const QDateTime& at);
    bool Waiting(ActionKey key, const QDateTime& now) const;
    // Whether the row guard's line for an action is to be logged now: a new text at once, the
    // same text again only after more than ten whole minutes. Logging it counts as logged.
    bool GuardLineDue(ActionKey key, const QString& line, const QDateTime& now);
    // Forgets the actions not in the list (deleted rows).
    void KeepOnly(const QList<ScheduledAction>& actions);

private:
    struct Logged {
        QString Line;
        QDateTime At;
    };
    QHash<ActionKey, QDateTime> failed_;
    QHash<ActionKey, Logged> logged_;
};

// Why an action does not run now.
enum class NotRun {
    None,            // due: it runs
    NoTime,          // no daily time
    Unreadable,      // its time or last run is no date or time (Error says which)
    NotYet,          // its time of day has not passed today
    DoneToday,       // it completed a run since midnight (or its last run lies ahead)
    CountZero,       // generation count "0"
    DriveMissing,    // its target's drive (Drive) is not present
    WaitingForRetry, // its last scheduled run did not complete less than ten minutes ago
};

struct ActionVerdict {
    NotRun Reason = NotRun::None;
    QString Error; // Unreadable: the message
    QString Drive; // DriveMissing: the drive part of the target
};

struct ScheduleDecision {
    bool Blocked = false; // the blocking window covers the time of day: no action was examined
    qsizetype Due = -1;   // the index of the action to run now, or -1
    // One verdict per action examined, from the first one asked for up to the due one or to the
    // end; the actions after a due one are examined after its run.
    QList<ActionVerdict> Verdicts;
};

// Whether a drive (as the drive part of a path) is present.
using DrivePresent = std::function<bool(const QString& drive)>;

// Walks the actions from index from on in list order and stops at the first one due.
ScheduleDecision DueNow(const QList<ScheduledAction>& actions, const BlockingWindow& window,
                        const TickClock& clock, const RetryState& retry,
                        const DrivePresent& drivePresent, qsizetype from = 0);
