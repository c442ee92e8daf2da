#include <QFile>
#include <ctime>
#include <gtest/gtest.h>

#include "Generations.h"
#include "TestFolder.h"

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s) {
    return WallClock(QDate(y, mo, d), QTime(h, mi, s));
}

// Lays out the named files of base "Daten" with their own names as contents.
void layOut(TestFolder& dir, const QStringList& names) {
    for (const QString& n : names)
        dir.Write(QStringLiteral("Daten") + n + ".Zip", n.toUtf8());
}

} // namespace

TEST(IsoWeek, MatchesIso8601OverDecadesAndAtTheTurnsOfTheYear) {
    for (QDate d(1995, 1, 1); d < QDate(2045, 1, 1); d = d.addDays(1)) {
        ASSERT_EQ(IsoWeek(d), d.weekNumber()) << d.toString(Qt::ISODate).toStdString();
        ASSERT_EQ(IsoDayOfWeek(d), d.dayOfWeek());
    }
    EXPECT_EQ(IsoWeek(QDate(2021, 1, 1)), 53); // a Friday: the old year's last week
    EXPECT_EQ(IsoWeek(QDate(2024, 12, 30)), 1);
    EXPECT_EQ(IsoWeek(QDate(2027, 1, 4)), 1);
    EXPECT_EQ(IsoDayOfWeek(QDate(2026, 12, 6)), 7); // Sunday
}

TEST(CountAndHist, OnlyTheExactTextsCount) {
    EXPECT_TRUE(CountSkipsScheduler("0"));
    EXPECT_FALSE(CountSkipsScheduler("00"));
    EXPECT_FALSE(CountSkipsScheduler(" 0"));
    EXPECT_FALSE(CountSkipsScheduler(""));
    EXPECT_EQ(ParseCount("00"), 0);
    EXPECT_EQ(ParseCount("1"), 1);
    EXPECT_EQ(ParseCount("8"), 8);
    EXPECT_THROW(ParseCount("abc"), SchedulerError);
    EXPECT_THROW(ParseCount(""), SchedulerError);
    EXPECT_THROW(ParseCount("99999999999"), SchedulerError);
    try {
        ParseCount("abc");
    } catch (const SchedulerError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }

    struct Case {
        const char* hist;
        bool weekly, monthly;
    } cases[] = {
        {"J-J", true, true}, {"J-N", true, false}, {"N-J", false, true},  {"N-N", false, false},
        {"JJ", true, true},  {"", true, true},     {"j-j", false, false}, {"JJJJ", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WeeklyCopyWanted(c.hist), c.weekly) << c.hist;
        EXPECT_EQ(MonthlyCopyWanted(c.hist), c.monthly) << c.hist;
    }
}

TEST(GenerationNames, InsertNumbersAndPeriodsBeforeTheSuffix) {
    const QString b = GenerationBase("E:\\Backup\\Daten.Zip");
    EXPECT_EQ(b, "E:\\Backup\\Daten");
    EXPECT_EQ(GenerationName("E:\\Backup\\Daten.zip", "0"), "E:\\Backup\\Daten.zip");
    EXPECT_EQ(GenerationName("E:\\Backup\\Daten.zip", "1"), "E:\\Backup\\Daten1.Zip");
    EXPECT_EQ(WeeklyCopyName(b, 7), "E:\\Backup\\DatenKW7.Zip");
    EXPECT_EQ(MonthlyCopyName(b, 2), "E:\\Backup\\DatenMon2.Zip");
    EXPECT_EQ(GenerationBase("abc"), "");
}

// The highest generation kept is the count less one; the rotation moves the target to 1.
TEST(Rotation, CountsKeepTheirGenerationsAndGapsLoseNothing) {
    struct Case {
        QStringList laidOut;
        int highest;
        QStringList files;
        QMap<QString, QByteArray> contents;
    } cases[] = {
        // Count 5: the target's place and four generations; the run writes the new target.
        {{"", "1", "2", "3", "4", "5", "6", "7"},
         5 - 1,
         {"Daten1.Zip", "Daten2.Zip", "Daten3.Zip", "Daten4.Zip"},
         {{"Daten1.Zip", ""}, {"Daten2.Zip", "1"}, {"Daten4.Zip", "3"}}},
        // A lowered count: 5 to 7 and 100 go; 101 lies beyond what the rotation looks at.
        {{"", "1", "2", "3", "4", "5", "6", "7", "100", "101"},
         4,
         {"Daten1.Zip", "Daten101.Zip", "Daten2.Zip", "Daten3.Zip", "Daten4.Zip"},
         {}},
        {{"", "0", "1", "2"}, 0, {"Daten.Zip"}, {}},               // Count "1"
        {{"", "-1", "1"}, -1, {"Daten.Zip"}, {{"Daten.Zip", ""}}}, // Count "00"
        // No deletions above 100: only what lies below the gap at 2 moves up.
        {{"", "1", "3", "150"},
         149,
         {"Daten1.Zip", "Daten150.Zip", "Daten2.Zip", "Daten3.Zip"},
         {{"Daten2.Zip", "1"}, {"Daten3.Zip", "3"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.laidOut.join(u',').toStdString());
        TestFolder dir;
        layOut(dir, c.laidOut);
        RotateGenerations(dir.Path("Daten.Zip"), c.highest, {});
        EXPECT_EQ(dir.Files(), c.files);
        for (auto it = c.contents.begin(); it != c.contents.end(); ++it)
            EXPECT_EQ(dir.Read(it.key()), it.value()) << it.key().toStdString();
    }

    // A missing source leaves its destination in place.
    TestFolder gap;
    layOut(gap, {"2", "3"});
    ShiftGeneration(gap.Path("Daten.Zip"), "1", "2", {});
    ShiftGeneration(gap.Path("Daten.Zip"), "0", "1", {});
    EXPECT_EQ(gap.Files(), QStringList({"Daten2.Zip", "Daten3.Zip"}));
    ShiftGeneration(gap.Path("Daten.Zip"), "2", "3", {});
    EXPECT_EQ(gap.Files(), QStringList({"Daten3.Zip"}));
    EXPECT_EQ(gap.Read("Daten3.Zip"), "2");
}

TEST(Rotation, ACrashAfterAnyRenameAndARetryKeepEveryArchive) {
    // Count 5 with the target and four generations: the renames oldest first, as the rotation
    // makes them; a crash after the n-th leaves the first n done.
    const QStringList from = {"3", "2", "1", ""};
    for (int done = 0; done <= from.size(); ++done) {
        SCOPED_TRACE(done);
        TestFolder dir;
        layOut(dir, {"", "1", "2", "3", "4"});
        for (int i = 0; i < done; ++i) {
            const QString to = QString::number(from[i].isEmpty() ? 1 : from[i].toInt() + 1);
            QFile::remove(dir.Path("Daten" + to + ".Zip"));
            ASSERT_TRUE(QFile::rename(dir.Path("Daten" + from[i] + ".Zip"),
                                      dir.Path("Daten" + to + ".Zip")));
        }
        // The restart tries the rotation again, twice even, before a run writes the target.
        EXPECT_TRUE(RotateGenerations(dir.Path("Daten.Zip"), 4, {}));
        EXPECT_TRUE(RotateGenerations(dir.Path("Daten.Zip"), 4, {}));
        EXPECT_EQ(dir.Files(),
                  QStringList({"Daten1.Zip", "Daten2.Zip", "Daten3.Zip", "Daten4.Zip"}));
        for (int k = 1; k <= 4; ++k)
            EXPECT_EQ(dir.Read(QStringLiteral("Daten%1.Zip").arg(k)), from[4 - k].toUtf8()) << k;
    }
}

TEST(PeriodCopies, WeekOneKeepsTheOldYearsLastWeeksAndWeekTwoClearsThem) {
    EXPECT_EQ(WeeklyCopiesToDelete(1), QList<int>({50}));
    EXPECT_EQ(WeeklyCopiesToDelete(2), QList<int>({51, 52, 53, 54, 55, 56, 57, 58}));
    EXPECT_EQ(WeeklyCopiesToDelete(10), QList<int>({8}));
    EXPECT_EQ(MonthlyCopyToDelete(1), 11);
    EXPECT_EQ(MonthlyCopyToDelete(2), 12);
    EXPECT_EQ(MonthlyCopyToDelete(7), 5);

    TestFolder dir;
    layOut(dir, {"", "KW50", "KW51", "KW52", "KW53"});
    const QString b = dir.Path("Daten");
    auto names = [&](int week) {
        QStringList l;
        for (int k : WeeklyCopiesToDelete(week))
            l << WeeklyCopyName(b, k);
        return l;
    };
    MakePeriodCopy(b + ".Zip", WeeklyCopyName(b, 1), names(1));
    EXPECT_EQ(dir.Files(), QStringList({"Daten.Zip", "DatenKW1.Zip", "DatenKW51.Zip",
                                        "DatenKW52.Zip", "DatenKW53.Zip"}));
    EXPECT_EQ(dir.Read("DatenKW1.Zip"), "");
    MakePeriodCopy(b + ".Zip", WeeklyCopyName(b, 2), names(2));
    EXPECT_EQ(dir.Files(), QStringList({"Daten.Zip", "DatenKW1.Zip", "DatenKW2.Zip"}));
}

TEST(PeriodCopies, AnExistingCopyCountsAndNoTargetMakesNoCopy) {
    TestFolder dir;
    const QString b = dir.Path("Daten");
    dir.Write("Daten.Zip", "new");
    dir.Write("DatenMon3.Zip", "last year");
    dir.Write("DatenMon1.Zip", "two back");
    MakePeriodCopy(b + ".Zip", MonthlyCopyName(b, 3), {MonthlyCopyName(b, 1)});
    EXPECT_EQ(dir.Read("DatenMon3.Zip"), "last year");
    EXPECT_TRUE(dir.Exists("DatenMon1.Zip"));

    // A half copy left by a crash under the temporary name is replaced, never kept.
    dir.Write("DatenMon4.Zip.tmp", "half");
    MakePeriodCopy(b + ".Zip", MonthlyCopyName(b, 4), {MonthlyCopyName(b, 2)});
    EXPECT_EQ(dir.Read("DatenMon4.Zip"), "new");
    EXPECT_FALSE(dir.Exists("DatenMon4.Zip.tmp"));

    QFile::remove(b + ".Zip");
    MakePeriodCopy(b + ".Zip", MonthlyCopyName(b, 5), {MonthlyCopyName(b, 3)});
    EXPECT_FALSE(dir.Exists("DatenMon5.Zip"));
    EXPECT_FALSE(dir.Exists("DatenMon3.Zip"));
}

TEST(ReportThrottle, ReportsAgainOnlyAfterMoreThanTenWholeMinutes) {
    const QString le = "08.12.2026 10:00:00: Laufwerk E: nicht gefunden";
    struct Case {
        QDateTime now;
        bool allowed;
    } cases[] = {
        {at(2026, 12, 8, 10, 0, 0), false}, {at(2026, 12, 8, 10, 10, 59), false},
        {at(2026, 12, 8, 10, 11, 0), true}, {at(2026, 12, 8, 9, 50, 0), false},
        {at(2026, 12, 8, 9, 49, 0), true}, // the clock set back: without sign
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReportAllowed(le, c.now), c.allowed) << c.now.toString().toStdString();
    EXPECT_TRUE(ReportAllowed("", at(2026, 12, 8, 10, 0, 0)));
    EXPECT_THROW(ReportAllowed("Laufwerk E: nicht gefunden", at(2026, 12, 8, 10, 0, 0)),
                 SchedulerError);
    // What the scheduler writes reads back, also at midnight.
    EXPECT_EQ(FormatWallClock(at(2026, 12, 8, 0, 0, 0)), "08.12.2026 00:00:00");
    EXPECT_FALSE(
        ReportAllowed(FormatWallClock(at(2026, 12, 8, 0, 0, 0)) + ": x", at(2026, 12, 8, 0, 5, 0)));
}

TEST(WallClock, ATimeInTheSpringGapReadsAsWritten) {
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const QDateTime gap = ParseWallClock("29.03.2026 02:30:00");
    EXPECT_EQ(gap.date(), QDate(2026, 3, 29));
    EXPECT_EQ(gap.time(), QTime(2, 30, 0));
    const QDateTime local(QDate(2026, 10, 25), QTime(2, 30, 0));
    EXPECT_EQ(WallClock(local).time(), QTime(2, 30, 0));
}
