#pragma once
// Generation names, ISO weeks and the scheduler's plain tests.
//
// The scheduler compares wall-clock values: a date and a time of day as the clock shows them,
// with no time zone. They are held as QDateTime in UTC only so that Qt does no zone arithmetic
// on them; this way a night with a clock change neither skips nor repeats a due time.
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>
#include <functional>
#include <stdexcept>

#include "lang.h"

// An error of the scheduler whose message the user sees.
class SchedulerError : public std::runtime_error {
public:
    explicit SchedulerError(const QString& message)
        : std::runtime_error(message.toUtf8().toStdString()) {}
};

// ---- dates and wall-clock values ----

int IsoDayOfWeek(const QDate& date); // Monday 1 .. Sunday 7
int IsoWeek(const QDate& date);      // 1 .. 53

// The wall-clock value of a moment as its local date and time of day show it.
QDateTime WallClock(const QDate& date, const QTime& time);
QDateTime WallClock(const QDateTime& local);
// The "zero" date and time (30.12.1899 00:00:00): an empty date reads as this.
QDateTime WallClockZero();
// Reads a date and time in the fixed formats (a date alone is midnight, a time alone lies on
// the zero date); raises SchedulerError when the text is no date and time.
QDateTime ParseWallClock(const QString& text);
// The fixed form that always holds both parts (19 characters), also at midnight.
QString FormatWallClock(const QDateTime& wall);

// ---- the blocking window ----

// Whether the window from Start to End covers the time of day t. Strict at both ends; an End
// earlier than Start makes a window over midnight; Start equal to End never blocks.
bool InBlockingWindow(const QTime& t, const QTime& Start, const QTime& End);

// ---- the due test ----

// Due from the first moment after Today + Time, unless Last lies on Today or later.
bool IsDue(const QDate& Today, const QDateTime& Now, const QTime& Time, const QDateTime& Last);
// A row's daily time; raises SchedulerError when it is no time of day.
QTime ParseActionTime(const QString& text);
// A row's last run; empty gives the zero date.
QDateTime ParseLastRun(const QString& text);

// ---- generations ----

// Only the exact text "0" keeps a row from the scheduler.
bool CountSkipsScheduler(const QString& count);
// The generation count as a whole number; raises SchedulerError when it is none.
int ParseCount(const QString& count);

// The target without its last four characters.
QString GenerationBase(const QString& target);
// Generation k of a target; "0" is the target itself.
QString GenerationName(const QString& target, const QString& k);
QString WeeklyCopyName(const QString& base, int week);
QString MonthlyCopyName(const QString& base, int month);

// Whether a file name in the target's folder is one of the target's own archive files: the
// target, its temporary archive, a generation, a weekly or monthly copy or such a copy's
// temporary file.
bool IsArchiveFileOf(const QString& targetFileName, const QString& name);

// Where the log line of a failed delete or rename goes (none: nowhere), and its language.
struct GenerationLog {
    std::function<void(const QString& line)> Line;
    TextLanguage Language;
};

// Deletes generation k if it exists.
void DeleteGeneration(const QString& base, const QString& k, const GenerationLog& log);
// Moves generation from of the target to number to (from "0" is the target). A missing source
// changes nothing, so no kept generation is lost for a name that has nothing to replace it.
// Returns false when the move failed; both files are then as they were.
bool ShiftGeneration(const QString& target, const QString& from, const QString& to,
                     const GenerationLog& log);
// The rotation before a scheduled run with g = count - 1: the surplus generations above g go
// (up to 100), then the target and the generations after it up to the first missing number
// (or up to g) move up by one, the target becoming 1. A rotation cut short by a crash leaves
// such a gap, so trying it again moves only what lies below the gap and loses nothing; without
// a target nothing moves.
// Stops at the first move that fails and returns false: moving the newer ones on would
// overwrite the generation that stayed.
bool RotateGenerations(const QString& target, int g, const GenerationLog& log);

// ---- weekly and monthly copies ----

bool WeeklyCopyWanted(const QString& hist);
bool MonthlyCopyWanted(const QString& hist);
// The week numbers whose copies go when the copy of this week is made.
QList<int> WeeklyCopiesToDelete(int week);
int MonthlyCopyToDelete(int month);
// Makes the copy of the target unless a file of that name exists (a copy left from the same
// week or month of an earlier year counts). The old copies go first; the copy is written under
// a temporary name and renamed, so a valid copy's name never holds half a file.
void MakePeriodCopy(const QString& target, const QString& copy, const QStringList& oldCopies);

// ---- the report throttle ----

// Whether more than 10 whole minutes lie between two moments, in either order.
bool TenMinutesPassed(const QDateTime& last, const QDateTime& Now);
// Whether a report may be made: more than 10 whole minutes between Now and the date and time
// at the start of the row's last-error text (empty: never reported). Raises SchedulerError
// when that start is no date and time.
bool ReportAllowed(const QString& lastError, const QDateTime& Now);
