#include "Generations.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "SafeFile.h"
#include "TempArchive.h"
#include "TextFormats.h"
#include "lang.h"

namespace {

bool fileExists(const QString& path) {
    const QFileInfo fi(path);
    return fi.exists() && !fi.isDir();
}

// Replaces the destination in one step where the file system allows it.
bool renameOver(const QString& from, const QString& to, std::error_code& ec) {
    std::filesystem::rename(std::filesystem::path(QFile::encodeName(from).toStdString()),
                            std::filesystem::path(QFile::encodeName(to).toStdString()), ec);
    return !ec;
}

} // namespace

// ---------------------------------------------------------------- dates

int IsoDayOfWeek(const QDate& date) {
    return date.dayOfWeek();
}

int IsoWeek(const QDate& date) {
    const int d = IsoDayOfWeek(date);
    // The week belongs to the year of its Thursday.
    const int year = date.addDays(4 - d).year();
    const qint64 days = QDate(year, 1, 1).daysTo(date.addDays(8 - d));
    // days is a whole number and 7 is odd, so there is never a tie to round.
    return int((days * 2 + 7) / 14);
}

QDateTime WallClock(const QDate& date, const QTime& time) {
    return QDateTime(date, time, Qt::UTC);
}

QDateTime WallClock(const QDateTime& local) {
    return WallClock(local.date(), local.time());
}

QDateTime WallClockZero() {
    return WallClock(QDate(1899, 12, 30), QTime(0, 0));
}

QDateTime ParseWallClock(const QString& text) {
    // Date and time are read apart: as one local value a time in a clock change's gap would
    // not survive.
    const QString t = text.trimmed();
    const qsizetype blank = t.indexOf(u' ');
    if (!t.isEmpty() && blank < 0) {
        if (auto d = TextFormats::ParseDate(t)) return WallClock(*d, QTime(0, 0));
        if (auto tm = TextFormats::ParseTime(t)) return WallClock(QDate(1899, 12, 30), *tm);
    } else if (blank > 0) {
        auto d = TextFormats::ParseDate(t.left(blank));
        auto tm = TextFormats::ParseTime(t.mid(blank + 1));
        if (d && tm) return WallClock(*d, *tm);
    }
    throw SchedulerError(u'\'' + text + QStringLiteral("' is not a valid date and time"));
}

QString FormatWallClock(const QDateTime& wall) {
    return TextFormats::FormatDate(wall.date()) + u' ' + TextFormats::FormatTime(wall.time());
}

// ---------------------------------------------------------------- blocking window and due test

bool InBlockingWindow(const QTime& t, const QTime& Start, const QTime& End) {
    if (Start > End) return t > Start || t < End;
    return t > Start && t < End;
}

bool IsDue(const QDate& Today, const QDateTime& Now, const QTime& Time, const QDateTime& Last) {
    return WallClock(Today, Time) < Now && Last < WallClock(Today, QTime(0, 0));
}

QTime ParseActionTime(const QString& text) {
    if (auto t = TextFormats::ParseTime(text)) return *t;
    throw SchedulerError(u'\'' + text + QStringLiteral("' is not a valid time"));
}

QDateTime ParseLastRun(const QString& text) {
    if (text.isEmpty()) return WallClockZero();
    return ParseWallClock(text);
}

// ---------------------------------------------------------------- generations

bool CountSkipsScheduler(const QString& count) {
    return count == QStringLiteral("0");
}

int ParseCount(const QString& count) {
    const auto n = TextFormats::ParseInt(count);
    if (!n || *n < std::numeric_limits<int>::min() || *n > std::numeric_limits<int>::max())
        throw SchedulerError(u'\'' + count + QStringLiteral("' is not a valid integer value"));
    return int(*n);
}

QString GenerationBase(const QString& target) {
    QString base = target;
    base.chop(4); // a target of four characters or fewer has an empty base
    return base;
}

QString GenerationName(const QString& target, const QString& k) {
    // The newest archive is the target as written, whatever the case of its suffix.
    if (k == QStringLiteral("0")) return target;
    return GenerationBase(target) + k + QStringLiteral(".Zip");
}

QString WeeklyCopyName(const QString& base, int week) {
    return base + QStringLiteral("KW") + QString::number(week) + QStringLiteral(".Zip");
}

QString MonthlyCopyName(const QString& base, int month) {
    return base + QStringLiteral("Mon") + QString::number(month) + QStringLiteral(".Zip");
}

void DeleteGeneration(const QString& base, const QString& k, const GenerationLog& log) {
    const QString name = base + k + QStringLiteral(".Zip");
    QFile file(name);
    if (fileExists(name) && !file.remove() && log.Line)
        log.Line(file.errorString() + u' ' + log.Language.Tx(txBeiLoeschversuch) + u' ' + name);
}

bool ShiftGeneration(const QString& target, const QString& from, const QString& to,
                     const GenerationLog& log) {
    const QString source = GenerationName(target, from);
    const QString dest = GenerationName(target, to);
    if (!fileExists(source)) return true;
    // The rename replaces the destination in one step, so a failed move leaves both files.
    std::error_code ec;
    if (renameOver(source, dest, ec)) return true;
    if (log.Line)
        log.Line(QString::fromLocal8Bit(ec.message()) + u' ' + log.Language.Tx(txBeiUmbenennen) +
                 u' ' + source + u' ' + log.Language.Tx(txNach) + u' ' + dest);
    return false;
}

bool RotateGenerations(const QString& target, int g, const GenerationLog& log) {
    const QString base = GenerationBase(target);
    // Generation g (from 1 on) is replaced by the move onto it, so it is not deleted first: a
    // rotation tried again after one that stopped halfway removes nothing that had moved up.
    if (g <= 100)
        for (int k = 100; k >= g; --k)
            if (k < 1 || k > g) DeleteGeneration(base, QString::number(k), log);
    // The moves end at the first free number: what lies above it is older than the gap and
    // stays where it is.
    int top = 0;
    if (g >= 1 && fileExists(target)) {
        top = 1;
        while (top < g && fileExists(GenerationName(target, QString::number(top))))
            ++top;
    }
    // Newest last: a generation that could not move must not be replaced by the next one.
    for (int k = top; k >= 1; --k)
        if (!ShiftGeneration(target, QString::number(k - 1), QString::number(k), log)) return false;
    return true;
}

bool IsArchiveFileOf(const QString& targetFileName, const QString& name) {
    if (targetFileName.isEmpty()) return false;
    if (name == targetFileName || IsTempArchiveName(targetFileName, name)) return true;
    const QString base = GenerationBase(targetFileName);
    if (!name.startsWith(base)) return false;
    // Numbers as the rotation and the copies write them; a copy is written under ".tmp" first.
    static const QRegularExpression numbered(
        QStringLiteral("^([1-9][0-9]*\\.Zip|(KW|Mon)[1-9][0-9]?\\.Zip(\\.tmp)?)$"));
    return numbered.match(QStringView(name).mid(base.size())).hasMatch();
}

// ---------------------------------------------------------------- weekly and monthly copies

bool WeeklyCopyWanted(const QString& hist) {
    return hist.size() != 3 || hist[0] == u'J';
}

bool MonthlyCopyWanted(const QString& hist) {
    return hist.size() != 3 || hist[2] == u'J';
}

QList<int> WeeklyCopiesToDelete(int week) {
    // At the turn of the year the weeks 51 to 53 of the old year stay through week 1.
    if (week == 1) return {50};
    if (week == 2) return {51, 52, 53, 54, 55, 56, 57, 58};
    return {week - 2};
}

int MonthlyCopyToDelete(int month) {
    if (month == 1) return 11;
    if (month == 2) return 12;
    return month - 2;
}

void MakePeriodCopy(const QString& target, const QString& copy, const QStringList& oldCopies) {
    if (fileExists(copy)) return;
    for (const QString& old : oldCopies)
        if (fileExists(old)) QFile::remove(old);
    if (!fileExists(target)) return;
    const QString temp = copy + QStringLiteral(".tmp");
    if (QFileInfo::exists(temp)) QFile::remove(temp);
    if (!QFile::copy(target, temp) || !SafeFile::CommitTemp(temp, copy)) QFile::remove(temp);
}

// ---------------------------------------------------------------- report throttle

bool ReportAllowed(const QString& lastError, const QDateTime& Now) {
    const QDateTime last =
        lastError.isEmpty() ? WallClockZero() : ParseWallClock(lastError.left(19));
    return TenMinutesPassed(last, Now);
}

bool TenMinutesPassed(const QDateTime& last, const QDateTime& Now) {
    const qint64 minutes = std::llabs(last.msecsTo(Now)) / 60000;
    return minutes > 10;
}
