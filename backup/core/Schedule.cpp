#include "Schedule.h"

#include <cstdlib>
#include <stdexcept>

#include "Drive.h"
#include "Generations.h"

void RetryState::SetWaiting(ActionKey key, bool wait, const QDateTime& at) {
    if (wait)
        failed_.insert(key, at);
    else
        failed_.remove(key);
}

bool RetryState::Waiting(ActionKey key, const QDateTime& now) const {
    const auto it = failed_.constFind(key);
    // Real elapsed time, so a clock change does not stretch or cut the wait.
    return it != failed_.constEnd() && std::llabs(it->msecsTo(now)) < WaitMs;
}

bool RetryState::GuardLineDue(ActionKey key, const QString& line, const QDateTime& now) {
    const auto it = logged_.constFind(key);
    if (it != logged_.constEnd() && it->Line == line && !TenMinutesPassed(it->At, now))
        return false;
    logged_.insert(key, {line, now});
    return true;
}

void RetryState::KeepOnly(const QList<ScheduledAction>& actions) {
    QSet<ActionKey> keys;
    for (const ScheduledAction& a : actions)
        keys.insert(a.Key);
    const auto gone = [&keys](ActionKey k) { return !keys.contains(k); };
    failed_.removeIf([&](const auto& it) { return gone(it.key()); });
    logged_.removeIf([&](const auto& it) { return gone(it.key()); });
}

namespace {

ActionVerdict Judge(const ScheduledAction& a, const QDate& today, const QDateTime& now,
                    const TickClock& clock, const RetryState& retry,
                    const DrivePresent& drivePresent) {
    if (a.Time.isEmpty()) return {NotRun::NoTime, {}, {}};
    QTime time;
    QDateTime last;
    try {
        time = ParseActionTime(a.Time);
        last = ParseLastRun(a.Last);
    } catch (const std::exception& e) {
        return {NotRun::Unreadable, QString::fromUtf8(e.what()), {}};
    }
    if (!IsDue(today, now, time, last))
        return {last < WallClock(today, QTime(0, 0)) ? NotRun::NotYet : NotRun::DoneToday, {}, {}};
    if (CountSkipsScheduler(a.Count)) return {NotRun::CountZero, {}, {}};
    const QString drive = Drive::ExtractFileDrive(a.Target);
    if (!drivePresent(drive)) return {NotRun::DriveMissing, {}, drive};
    if (retry.Waiting(a.Key, clock.Real)) return {NotRun::WaitingForRetry, {}, {}};
    return {};
}

} // namespace

ScheduleDecision DueNow(const QList<ScheduledAction>& actions, const BlockingWindow& window,
                        const TickClock& clock, const RetryState& retry,
                        const DrivePresent& drivePresent, qsizetype from) {
    ScheduleDecision d;
    const QDate today = clock.Now.date();
    const QDateTime now = WallClock(clock.Now);
    if (window.On && InBlockingWindow(now.time(), window.From, window.To)) {
        d.Blocked = true;
        return d;
    }
    for (qsizetype i = qMax<qsizetype>(from, 0); i < actions.size(); ++i) {
        d.Verdicts << Judge(actions[i], today, now, clock, retry, drivePresent);
        if (d.Verdicts.last().Reason == NotRun::None) {
            d.Due = i;
            break;
        }
    }
    return d;
}
