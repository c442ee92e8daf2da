#pragma once
// The program's fixed text forms for dates, times and numbers. Every date, time and number the
// program writes or parses goes through here, so the user's regional settings never change a
// settings file, a grid cell or a log line.
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

namespace TextFormats {
inline constexpr QChar ThousandSeparator = u'.';
inline constexpr QChar DecimalSeparator = u',';
inline constexpr QChar ListSeparator = u';';

QString FormatDate(const QDate& d);          // dd.MM.yyyy
QString FormatTime(const QTime& t);          // hh:mm:ss
QString FormatDateTime(const QDateTime& dt); // date, blank, time; no time at exactly midnight
QString FormatDuration(qint64 ms);           // hh:nn:ss of an elapsed time

// Parsing accepts what the fixed formats produce and the usual short forms: one- or two-digit
// day, month, hour, minute and second, four- or two-digit years (a two-digit year lies in the
// hundred years beginning 20 years before the current one), seconds optional.
std::optional<QDate> ParseDate(const QString& s);
std::optional<QTime> ParseTime(const QString& s);
// A date alone (midnight), a time alone (on day 0, 30.12.1899, as the file formats know it)
// or a date, blanks and a time.
std::optional<QDateTime> ParseDateTime(const QString& s);
// A floating-point number with "," as decimal separator and no thousands separators.
std::optional<double> ParseFloat(const QString& s);
// Whole numbers in decimal, optional sign, no separators.
std::optional<qint64> ParseInt(const QString& s);
} // namespace TextFormats

// The count in decimal with "." between groups of three digits and, for Digits above 0, ","
// and that many decimals. Exact for every 64-bit value.
QString FormatInt64(int Digits, qint64 Value);
