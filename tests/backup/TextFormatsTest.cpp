#include <QLocale>
#include <gtest/gtest.h>
#include <limits>

#include "Clock.h"
#include "TextFormats.h"
#include "lang.h"

using namespace TextFormats;

TEST(FormatInt64, GroupsThousandsWithDotsExactlyOverTheWholeRange) {
    EXPECT_EQ(FormatInt64(0, 0), "0");
    EXPECT_EQ(FormatInt64(0, 999), "999");
    EXPECT_EQ(FormatInt64(0, 1000), "1.000");
    EXPECT_EQ(FormatInt64(0, 1234567), "1.234.567");
    EXPECT_EQ(FormatInt64(0, -1234), "-1.234");
    EXPECT_EQ(FormatInt64(0, -999), "-999");
    EXPECT_EQ(FormatInt64(0, 100000), "100.000");
    // Beyond the 15 digits a double carries.
    EXPECT_EQ(FormatInt64(0, 1234567890123456789LL), "1.234.567.890.123.456.789");
    EXPECT_EQ(FormatInt64(0, std::numeric_limits<qint64>::max()), "9.223.372.036.854.775.807");
    EXPECT_EQ(FormatInt64(0, std::numeric_limits<qint64>::min()), "-9.223.372.036.854.775.808");
    EXPECT_EQ(FormatInt64(2, 1234), "1.234,00");
}

TEST(FixedFormats, DatesTimesAndDateTimesIgnoreTheUserLocale) {
    const QDateTime dt(QDate(2026, 12, 7), QTime(23, 15, 0));
    QString german, english;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    german = FormatDateTime(dt) + u'|' + FormatInt64(0, 1234567);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    english = FormatDateTime(dt) + u'|' + FormatInt64(0, 1234567);
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(german, "07.12.2026 23:15:00|1.234.567");
    EXPECT_EQ(english, german);
    EXPECT_EQ(FormatDate(QDate(2026, 1, 5)), "05.01.2026");
    EXPECT_EQ(FormatTime(QTime(6, 0, 0)), "06:00:00");
    // Midnight leaves the time out.
    EXPECT_EQ(FormatDateTime(QDateTime(QDate(2026, 12, 8), QTime(0, 0))), "08.12.2026");
    EXPECT_EQ(FormatDateTime(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1))), "08.12.2026 00:00:01");
    EXPECT_EQ(FormatDuration(3723000), "01:02:03");
    EXPECT_EQ(FormatDuration(100LL * 3600 * 1000), "100:00:00");
}

TEST(FixedFormats, ParsingReadsTheFixedFormsAndRejectsOthers) {
    EXPECT_EQ(ParseTime("06:00:00"), QTime(6, 0, 0));
    EXPECT_EQ(ParseTime("6:5"), QTime(6, 5, 0));
    EXPECT_FALSE(ParseTime("25:00:00"));
    EXPECT_FALSE(ParseTime("6 Uhr"));
    EXPECT_FALSE(ParseTime(""));
    EXPECT_EQ(ParseDate("29.02.2024"), QDate(2024, 2, 29));
    EXPECT_FALSE(ParseDate("29.02.2023"));
    EXPECT_FALSE(ParseDate("2024-02-29"));
    EXPECT_EQ(ParseDateTime("07.12.2026 23:15:00"), QDateTime(QDate(2026, 12, 7), QTime(23, 15)));
    EXPECT_EQ(ParseDateTime("07.12.2026"), QDateTime(QDate(2026, 12, 7), QTime(0, 0)));
    EXPECT_FALSE(ParseDateTime("07.12.2026 xx"));
    EXPECT_EQ(ParseFloat("1,5"), 1.5);
    EXPECT_EQ(ParseFloat("-12"), -12.0);
    EXPECT_FALSE(ParseFloat("1.234"));
    EXPECT_FALSE(ParseFloat("1.234,5"));
    EXPECT_FALSE(ParseFloat(""));
    EXPECT_EQ(ParseInt(" 42 "), 42);
    EXPECT_FALSE(ParseInt("4a"));
}

TEST(FixedFormats, TwoDigitYearsFallIntoTheHundredYearsBeginningTwentyYearsBack) {
    Clock::SetFixed(QDateTime(QDate(2026, 6, 1), QTime(12, 0)));
    EXPECT_EQ(ParseDate("01.01.06")->year(), 2006);
    EXPECT_EQ(ParseDate("01.01.05")->year(), 2105);
    EXPECT_EQ(ParseDate("01.01.99")->year(), 2099);
    EXPECT_EQ(ParseDate("01.01.2005")->year(), 2005);
    Clock::UseSystem();
}

TEST(TextTable, PairsFollowTheLanguageAndKeepTheirBlanks) {
    TextLanguage language;
    EXPECT_EQ(language.Tx(txGestartet), "Zorvane gestartet ");
    EXPECT_EQ(language.Tx(txUeberspringe), "!! Überspringe ");
    EXPECT_EQ(language.Tx(txUnbekannteFilterart), " unbekannte Filterart");
    EXPECT_EQ(language.DiscardChangesText(),
              "Sollen die geänderten Einstellungen verworfen werden?");
    language.Set(TextLanguage::English);
    EXPECT_EQ(language.Tx(txWirklichBeenden), "Realy close Zorvane2");
    EXPECT_EQ(language.Tx(txBackupLaeuft), "Backup running");
    EXPECT_EQ(language.DiscardChangesText(), "Discard settings changes?");
}
