#include "TextFormats.h"

#include <QRegularExpression>

#include "Clock.h"

namespace TextFormats {

namespace {
QString two(int v) {
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

int expandYear(int y, int digits) {
    if (digits > 2) return y;
    // The hundred years that begin 20 years back from now.
    const int start = Clock::Today().year() - 20;
    int full = (start / 100) * 100 + y;
    if (full < start) full += 100;
    return full;
}
} // namespace

QString FormatDate(const QDate& d) {
    return two(d.day()) + u'.' + two(d.month()) + u'.' +
           QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0'));
}

QString FormatTime(const QTime& t) {
    return two(t.hour()) + u':' + two(t.minute()) + u':' + two(t.second());
}

QString FormatDateTime(const QDateTime& dt) {
    const QTime t = dt.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0 && t.msec() == 0)
        return FormatDate(dt.date());
    return FormatDate(dt.date()) + u' ' + FormatTime(t);
}

QString FormatDuration(qint64 ms) {
    if (ms < 0) ms = 0;
    const qint64 secs = ms / 1000;
    const qint64 h = secs / 3600;
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(two(int(secs / 60 % 60)))
        .arg(two(int(secs % 60)));
}

std::optional<QDate> ParseDate(const QString& s) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{1,2})\\.(\\d{1,2})\\.(\\d{1,4})\\s*$"));
    const auto m = re.match(s);
    if (!m.hasMatch()) return std::nullopt;
    const QString ys = m.captured(3);
    const QDate d(expandYear(ys.toInt(), int(ys.size())), m.captured(2).toInt(),
                  m.captured(1).toInt());
    if (!d.isValid()) return std::nullopt;
    return d;
}

std::optional<QTime> ParseTime(const QString& s) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*(\\d{1,2}):(\\d{1,2})(?::(\\d{1,2}))?\\s*$"));
    const auto m = re.match(s);
    if (!m.hasMatch()) return std::nullopt;
    const QTime t(m.captured(1).toInt(), m.captured(2).toInt(),
                  m.captured(3).isEmpty() ? 0 : m.captured(3).toInt());
    if (!t.isValid()) return std::nullopt;
    return t;
}

std::optional<QDateTime> ParseDateTime(const QString& s) {
    const QString t = s.trimmed();
    if (t.isEmpty()) return std::nullopt;
    const qsizetype blank = t.indexOf(u' ');
    if (blank < 0) {
        if (auto d = ParseDate(t)) return QDateTime(*d, QTime(0, 0));
        if (auto tm = ParseTime(t)) return QDateTime(QDate(1899, 12, 30), *tm);
        return std::nullopt;
    }
    auto d = ParseDate(t.left(blank));
    auto tm = ParseTime(t.mid(blank + 1));
    if (!d || !tm) return std::nullopt;
    return QDateTime(*d, *tm);
}

std::optional<double> ParseFloat(const QString& s) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*[+-]?(\\d+(,\\d*)?|,\\d+)([eE][+-]?\\d+)?\\s*$"));
    if (!re.match(s).hasMatch()) return std::nullopt;
    QString c = s.trimmed();
    c.replace(u',', u'.');
    bool ok = false;
    const double v = c.toDouble(&ok);
    if (!ok) return std::nullopt;
    return v;
}

std::optional<qint64> ParseInt(const QString& s) {
    static const QRegularExpression re(QStringLiteral("^\\s*[+-]?\\d+\\s*$"));
    if (!re.match(s).hasMatch()) return std::nullopt;
    bool ok = false;
    const qint64 v = s.trimmed().toLongLong(&ok);
    if (!ok) return std::nullopt;
    return v;
}

} // namespace TextFormats

QString FormatInt64(int Digits, qint64 Value) {
    // Work on the unsigned magnitude so the most negative value has no overflow.
    const bool negative = Value < 0;
    const quint64 mag = negative ? quint64(0) - quint64(Value) : quint64(Value);
    const QString digits = QString::number(mag);
    QString out;
    out.reserve(digits.size() + digits.size() / 3 + 2 + Digits);
    const qsizetype lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (i - lead) % 3 == 0) out += TextFormats::ThousandSeparator;
        out += digits[i];
    }
    if (negative) out.prepend(u'-');
    if (Digits > 0) out += TextFormats::DecimalSeparator + QString(Digits, u'0');
    return out;
}
