#include <gtest/gtest.h>

#include "Schedule.h"

// Cases are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

const QDate Today(2026, 12, 8);

// A drive named E: is present, every other one missing.
bool onlyE(const QString& drive) {
    return drive == QStringLiteral("E:");
}

const char* reasonName(NotRun r) {
    switch (r) {
    case NotRun::None:
        return "due";
    case NotRun::NoTime:
        return "no time";
    case NotRun::Unreadable:
        return "unreadable";
    case NotRun::NotYet:
        return "not yet";
    case NotRun::DoneToday:
        return "done today";
    case NotRun::CountZero:
        return "count 0";
    case NotRun::DriveMissing:
        return "drive missing";
    case NotRun::WaitingForRetry:
        return "waiting for retry";
    }
    return "?";
}

} // namespace

// The rules of the tick for one action. To change when an action is due, extend this table.
TEST(Schedule, WhenAnActionIsDueAndWhyNot) {
    const BlockingWindow off{QTime(6, 0), QTime(23, 0), false};
    const BlockingWindow day{QTime(6, 0), QTime(23, 0), true};
    const BlockingWindow night{QTime(22, 0), QTime(6, 0), true};
    struct Case {
        QTime now;
        QString time = "02:00:00", last, count = "5", target = "E:\\B\\D.Zip";
        BlockingWindow window = {QTime(6, 0), QTime(23, 0), false};
        int failedSecsAgo = -1; // the last scheduled run did not complete, or -1
        bool blocked = false;
        NotRun reason = NotRun::None;
        QString detail; // the error or the drive
    } cases[] = {
        // Due from the first moment after its time, on every day it has not run since midnight.
        {.now = QTime(10, 0, 0)}, // started long after its time
        {.now = QTime(2, 0, 0), .reason = NotRun::NotYet},
        {.now = QTime(2, 0, 1)},
        {.now = QTime(1, 59, 59), .last = "07.12.2026 02:00:01", .reason = NotRun::NotYet},
        {.now = QTime(2, 0, 1), .last = "07.12.2026 02:00:01"},
        {.now = QTime(2, 0, 1), .last = "07.12.2026 23:59:59"},
        {.now = QTime(10, 0, 0), .last = "08.12.2026 02:00:05", .reason = NotRun::DoneToday},
        {.now = QTime(10, 0, 0), .last = "08.12.2026", .reason = NotRun::DoneToday},
        // A run before its time, by hand, also counts for the day.
        {.now = QTime(10, 0, 0), .last = "08.12.2026 01:00:00", .reason = NotRun::DoneToday},
        {.now = QTime(10, 0, 0), .last = "09.12.2026 01:00:00", .reason = NotRun::DoneToday},
        {.now = QTime(10, 0, 0), .last = "02:00:00"}, // a time alone lies on day zero
        {.now = QTime(10, 0, 0), .time = "", .reason = NotRun::NoTime},
        {.now = QTime(10, 0, 0),
         .time = "25:00:00",
         .reason = NotRun::Unreadable,
         .detail = "'25:00:00' is not a valid time"},
        {.now = QTime(10, 0, 0),
         .last = "gestern",
         .reason = NotRun::Unreadable,
         .detail = "'gestern' is not a valid date and time"},
        // Only the exact text "0" keeps it out; any other count is the run's to read.
        {.now = QTime(10, 0, 0), .count = "0", .reason = NotRun::CountZero},
        {.now = QTime(10, 0, 0), .count = "0", .target = "Q:\\D.Zip", .reason = NotRun::CountZero},
        {.now = QTime(10, 0, 0), .count = "00"},
        {.now = QTime(10, 0, 0), .count = "abc"},
        {.now = QTime(10, 0, 0),
         .target = "Q:\\Backup\\D.Zip",
         .reason = NotRun::DriveMissing,
         .detail = "Q:"},
        {.now = QTime(10, 0, 0), .target = "D.Zip", .reason = NotRun::DriveMissing, .detail = ""},
        // An incomplete scheduled run waits ten minutes of real time.
        {.now = QTime(10, 0, 0), .failedSecsAgo = 599, .reason = NotRun::WaitingForRetry},
        {.now = QTime(10, 0, 0), .failedSecsAgo = 600},
        {.now = QTime(10, 0, 0),
         .target = "Q:\\D.Zip",
         .failedSecsAgo = 0,
         .reason = NotRun::DriveMissing,
         .detail = "Q:"},
        // The blocking window keeps every action out, strictly between its ends.
        {.now = QTime(5, 59, 59), .window = day},
        {.now = QTime(6, 0, 0), .window = day},
        {.now = QTime(6, 0, 1), .window = day, .blocked = true},
        {.now = QTime(10, 0, 0), .window = day, .blocked = true},
        {.now = QTime(22, 59, 59), .window = day, .blocked = true},
        {.now = QTime(23, 0, 0), .window = day},
        {.now = QTime(23, 0, 1), .window = day},
        {.now = QTime(23, 30, 0), .window = night, .blocked = true},
        {.now = QTime(5, 0, 0), .window = night, .blocked = true},
        {.now = QTime(0, 0, 0), .window = night, .blocked = true},
        {.now = QTime(12, 0, 0), .window = night},
        {.now = QTime(22, 0, 0), .window = night},
        {.now = QTime(6, 0, 0), .window = night},
        {.now = QTime(12, 0, 0), .window = {QTime(6, 0), QTime(6, 0), true}},
        {.now = QTime(6, 0, 0), .window = {QTime(6, 0), QTime(6, 0), true}},
        {.now = QTime(0, 0, 0),
         .window = {QTime(0, 0), QTime(0, 0), true},
         .reason = NotRun::NotYet},
        {.now = QTime(12, 0, 0), .window = off},
    };
    for (const Case& c : cases) {
        const QDateTime now(Today, c.now);
        const QList<ScheduledAction> actions = {{7, c.time, c.last, c.count, c.target}};
        RetryState retry;
        if (c.failedSecsAgo >= 0) retry.SetWaiting(7, true, now.addSecs(-c.failedSecsAgo));
        const ScheduleDecision d = DueNow(actions, c.window, {now, now}, retry, onlyE);
        SCOPED_TRACE(c.now.toString().toStdString() + " time " + c.time.toStdString() + " last " +
                     c.last.toStdString() + " count " + c.count.toStdString() + " target " +
                     c.target.toStdString());
        EXPECT_EQ(d.Blocked, c.blocked);
        if (c.blocked) {
            EXPECT_TRUE(d.Verdicts.isEmpty());
            EXPECT_EQ(d.Due, -1);
            continue;
        }
        ASSERT_EQ(d.Verdicts.size(), 1);
        EXPECT_STREQ(reasonName(d.Verdicts[0].Reason), reasonName(c.reason));
        EXPECT_EQ(d.Due, c.reason == NotRun::None ? 0 : -1);
        EXPECT_EQ(c.reason == NotRun::DriveMissing ? d.Verdicts[0].Drive : d.Verdicts[0].Error,
                  c.detail);
    }
}

// The actions are judged in list order up to the first one due; the tick asks again for the
// rest after its run. The state kept between ticks follows the action's key.
TEST(Schedule, StopsAtTheFirstDueActionAndKeepsStateByKey) {
    const QDateTime now(Today, QTime(10, 0, 0));
    const BlockingWindow off{QTime(6, 0), QTime(23, 0), false};
    QList<ScheduledAction> actions = {
        {1, "12:00:00", "", "5", "E:\\A.Zip"},
        {2, "02:00:00", "", "5", "E:\\B.Zip"},
        {3, "02:00:00", "", "5", "E:\\C.Zip"},
    };
    RetryState retry;
    ScheduleDecision d = DueNow(actions, off, {now, now}, retry, onlyE);
    EXPECT_EQ(d.Due, 1);
    EXPECT_EQ(d.Verdicts.size(), 2);
    d = DueNow(actions, off, {now, now}, retry, onlyE, 2);
    EXPECT_EQ(d.Due, 2);
    EXPECT_EQ(d.Verdicts.size(), 1);

    // A wait goes with its action when the rows are sorted, and with it when it is deleted.
    retry.SetWaiting(2, true, now);
    std::swap(actions[0], actions[1]);
    d = DueNow(actions, off, {now, now}, retry, onlyE);
    EXPECT_EQ(d.Due, 2);
    EXPECT_EQ(d.Verdicts[0].Reason, NotRun::WaitingForRetry);
    actions.removeFirst();
    retry.KeepOnly(actions);
    actions.prepend({2, "02:00:00", "", "5", "E:\\B.Zip"});
    EXPECT_EQ(DueNow(actions, off, {now, now}, retry, onlyE).Due, 0);
    // A completed run leaves no wait behind.
    retry.SetWaiting(3, true, now);
    retry.SetWaiting(3, false, now);
    EXPECT_EQ(DueNow(actions, off, {now, now}, retry, onlyE, 1).Due, 2);
}
