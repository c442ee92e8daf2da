#pragma once
// One Backup action as the program holds it. Its fields are kept as the texts the user typed
// or the settings file held, so a load and a save give the same bytes; the typed accessors read
// them by the same rules the scheduler, the run and the editors apply.
#include <QDateTime>
#include <QString>
#include <QTime>
#include <array>
#include <optional>

// The fields of an action, in the order of the grid's columns.
enum ActionColumn : int {
    colVerz = 0,
    colNach = 1,
    colTime = 2,
    colCount = 3,
    colLast = 4,
    colActionNumber = 5,
    colDateien = 6,
    colBytes = 7,
    colArc = 8,
    colDauer = 9,
    colFilter = 10,
    colHist = 11,
    colLE = 12,
    colP = 13,
    ActionColumnCount = 14,
};

// Names one action for the scheduler's state kept between ticks. It stays with the action when
// the rows are sorted and is never given again, so a deleted row's state cannot pass to a new
// one. It lives as long as the program runs and is not stored.
using ActionKey = quint64;

struct BackupAction {
    std::array<QString, ActionColumnCount> Cells;
    ActionKey Key = 0; // none given yet
    QString& operator[](int col) { return Cells[size_t(col)]; }
    const QString& operator[](int col) const { return Cells[size_t(col)]; }

    const QString& Folder() const { return Cells[colVerz]; }
    const QString& Target() const { return Cells[colNach]; }
    const QString& Filter() const { return Cells[colFilter]; }
    const QString& Password() const { return Cells[colP]; }
    const QString& LastMessage() const { return Cells[colLE]; }

    // The daily time; none when the field is empty or no time of day.
    std::optional<QTime> Time() const;
    // The generation count; none when it is no whole number.
    std::optional<int> Count() const;
    // Only the exact text "0" keeps the action from the scheduler.
    bool CountSkipsScheduler() const { return Cells[colCount] == QStringLiteral("0"); }
    // The last completed run; none when it never ran or the text is no date and time.
    std::optional<QDateTime> LastRun() const;
    // The number the action was last saved under; 0 when it has none yet.
    int Number() const;
    // Whether a completed scheduled run makes the weekly and monthly copies: a Hist text of
    // other than three characters makes both.
    bool WeeklyCopy() const;
    bool MonthlyCopy() const;

    // The run statistics; each none when its text is no number in the form the run writes.
    // "found", or the found part of "found-missing"; both grouped as Bytes
    std::optional<qint64> Files() const;
    std::optional<qint64> Bytes() const;       // "1.234.567"
    std::optional<qint64> ArchiveSize() const; // as Bytes
    std::optional<qint64> DurationMs() const;  // "hh:mm:ss", hours beyond 24 allowed

    // The typed setters write the fixed text forms.
    void SetTime(const QTime& t);
    void SetCount(int n) { Cells[colCount] = QString::number(n); }
    void SetHist(bool weekly, bool monthly);
    // A completed run: its time, its files text and its numbers.
    void SetRunResults(const QDateTime& at, const QString& filesText, qint64 bytes,
                       qint64 archiveSize, qint64 ms);
};
// Its strings move with their bytes, so a list of many actions grows without copying them.
Q_DECLARE_TYPEINFO(BackupAction, Q_RELOCATABLE_TYPE);
