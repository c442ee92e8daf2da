// The typed fields of an action over the texts a user typed or an old settings file held.
#include "BackupAction.h"

#include <gtest/gtest.h>

namespace {

template <typename T> std::string shown(const std::optional<T>& v) {
    if (!v) return "none";
    if constexpr (std::is_same_v<T, QTime>)
        return v->toString(QStringLiteral("HH:mm:ss")).toStdString();
    else if constexpr (std::is_same_v<T, QDateTime>)
        return v->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    else
        return std::to_string(*v);
}

BackupAction with(int col, const char* text) {
    BackupAction a;
    a[col] = QString::fromUtf8(text);
    return a;
}

TEST(BackupActionFields, EachTextReadsAsTheRulesReadItAndStaysAsItWas) {
    struct Case {
        int col;
        const char* text;
        std::string typed; // what the field's accessor gives
    } cases[] = {
        {colTime, "", "none"},
        {colTime, "02:00:00", "02:00:00"},
        {colTime, "9:5", "09:05:00"},
        {colTime, " 23:59:59 ", "23:59:59"},
        {colTime, "24:00:00", "none"},
        {colTime, "kaputt", "none"},
        {colCount, "5", "5"},
        {colCount, "0", "0"},
        {colCount, "007", "7"},
        {colCount, "-3", "-3"},
        {colCount, "", "none"},
        {colCount, "2,5", "none"},
        {colCount, "99999999999", "none"},
        {colLast, "", "none"},
        {colLast, "08.12.2026 09:00:05", "2026-12-08 09:00:05"},
        {colLast, "08.12.2026", "2026-12-08 00:00:00"},
        {colLast, "31.02.2026", "none"},
        {colLast, "gestern", "none"},
        {colActionNumber, "12", "12"},
        {colActionNumber, "", "0"},
        {colActionNumber, "x", "0"},
        {colDateien, "120", "120"},
        {colDateien, "120-3", "120"},
        {colDateien, "1.234", "1234"},
        {colDateien, "1.234-1.005", "1234"},
        {colDateien, "1234-5", "none"},
        {colDateien, "12-", "none"},
        {colDateien, "", "none"},
        {colDateien, "viele", "none"},
        {colBytes, "0", "0"},
        {colBytes, "1.234.567", "1234567"},
        {colBytes, "1234", "none"}, // no groups: not the run's form
        {colBytes, "12.34", "none"},
        {colBytes, "", "none"},
        {colArc, "999.000", "999000"},
        {colDauer, "00:01:05", "65000"},
        {colDauer, "100:00:00", "360000000"},
        {colDauer, "00:60:00", "none"},
        {colDauer, "1:2", "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.col) + " '" + c.text + "'");
        const BackupAction a = with(c.col, c.text);
        std::string typed;
        switch (c.col) {
        case colTime:
            typed = shown(a.Time());
            break;
        case colCount:
            typed = shown(a.Count());
            break;
        case colLast:
            typed = shown(a.LastRun());
            break;
        case colActionNumber:
            typed = std::to_string(a.Number());
            break;
        case colDateien:
            typed = shown(a.Files());
            break;
        case colBytes:
            typed = shown(a.Bytes());
            break;
        case colArc:
            typed = shown(a.ArchiveSize());
            break;
        case colDauer:
            typed = shown(a.DurationMs());
            break;
        }
        EXPECT_EQ(typed, c.typed);
        // Reading a field never rewrites it: what was loaded is what is saved.
        EXPECT_EQ(a[c.col], QString::fromUtf8(c.text));
    }
}

TEST(BackupActionFields, OnlyTheExactZeroKeepsTheSchedulerAwayAndHistOfOtherLengthCopiesBoth) {
    struct Case {
        const char* count;
        bool skips;
    } counts[] = {{"0", true}, {"00", false}, {" 0", false}, {"", false}, {"1", false}};
    for (const Case& c : counts)
        EXPECT_EQ(with(colCount, c.count).CountSkipsScheduler(), c.skips) << c.count;
    struct Hist {
        const char* text;
        bool weekly, monthly;
    } hists[] = {{"J-J", true, true},   {"J-N", true, false},  {"N-J", false, true},
                 {"N-N", false, false}, {"j-j", false, false}, {"", true, true},
                 {"JJ", true, true},    {"N-NN", true, true}};
    for (const Hist& h : hists) {
        const BackupAction a = with(colHist, h.text);
        EXPECT_EQ(a.WeeklyCopy(), h.weekly) << h.text;
        EXPECT_EQ(a.MonthlyCopy(), h.monthly) << h.text;
    }
}

TEST(BackupActionFields, TheSettersWriteTheFixedFormsTheAccessorsReadBack) {
    BackupAction a;
    a.SetTime(QTime(4, 5, 6));
    a.SetCount(12);
    a.SetHist(false, true);
    a.SetRunResults(QDateTime(QDate(2026, 12, 9), QTime(0, 0)), QStringLiteral("7-1"), 1234567,
                    1000, 3723000);
    EXPECT_EQ(a[colTime], QStringLiteral("04:05:06"));
    EXPECT_EQ(a[colCount], QStringLiteral("12"));
    EXPECT_EQ(a[colHist], QStringLiteral("N-J"));
    EXPECT_EQ(a[colLast], QStringLiteral("09.12.2026")); // midnight: the date alone
    EXPECT_EQ(a[colBytes], QStringLiteral("1.234.567"));
    EXPECT_EQ(a[colDauer], QStringLiteral("01:02:03"));
    EXPECT_EQ(a.Time(), QTime(4, 5, 6));
    EXPECT_EQ(a.Count(), 12);
    EXPECT_EQ(a.LastRun(), QDateTime(QDate(2026, 12, 9), QTime(0, 0)));
    EXPECT_EQ(a.Files(), 7);
    EXPECT_EQ(a.Bytes(), 1234567);
    EXPECT_EQ(a.ArchiveSize(), 1000);
    EXPECT_EQ(a.DurationMs(), 3723000);
    EXPECT_FALSE(a.WeeklyCopy());
    EXPECT_TRUE(a.MonthlyCopy());
}

} // namespace
