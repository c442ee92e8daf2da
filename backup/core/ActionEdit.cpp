#include "ActionEdit.h"

#include <QRegularExpression>
#include <algorithm>
#include <utility>

#include "Generations.h"
#include "TextFormats.h"

namespace ActionEdit {

QString TargetName(const QString& chosen) {
    const qsizetype nameStart = std::max(chosen.lastIndexOf(u'/'), chosen.lastIndexOf(u'\\')) + 1;
    const qsizetype dot = chosen.lastIndexOf(u'.');
    const QString stem = dot >= nameStart ? chosen.left(dot) : chosen;
    return stem + QStringLiteral(".Zip");
}

int FindNoCase(const QStringList& cells, const QString& value) {
    for (qsizetype i = 0; i < cells.size(); ++i)
        if (cells[i].compare(value, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

namespace {

// Whether the rotation or the weekly and monthly copies of a target write or delete the file
// name beside it. They reach generation 100 whatever the count (a higher count is rare), so a
// name such as "Daten2019.Zip" stays free beside "Daten.Zip".
bool touchedBy(const QString& targetName, const QString& name) {
    if (name == targetName) return true;
    const QString base = GenerationBase(targetName);
    if (!name.startsWith(base)) return false;
    static const QRegularExpression copy(
        QStringLiteral("^(?:([1-9][0-9]{0,2})|(?:KW|Mon)[1-9][0-9]?)\\.Zip$"));
    const QRegularExpressionMatch m = copy.match(QStringView(name).mid(base.size()));
    return m.hasMatch() && (m.captured(1).isEmpty() || m.captured(1).toInt() <= 100);
}

} // namespace

int FindArchiveClash(const QStringList& targets, const QString& target) {
    const auto split = [](const QString& path) {
        const qsizetype name = path.lastIndexOf(u'/') + 1;
        return std::pair{path.left(name), path.mid(name)};
    };
    const auto [folder, name] = split(target);
    for (qsizetype i = 0; i < targets.size(); ++i) {
        if (targets[i].isEmpty()) continue;
        const auto [otherFolder, other] = split(targets[i]);
        if (otherFolder == folder && (touchedBy(other, name) || touchedBy(name, other)))
            return int(i);
    }
    return -1;
}

bool CountKeyAccepted(QChar c) {
    return c == u'\b' || (c >= u'0' && c <= u'9');
}

QString CountPreset(const QString& cell) {
    const auto n = TextFormats::ParseInt(cell.trimmed());
    if (!n) return QStringLiteral("5");
    return QString::number(std::max<qint64>(*n, 0));
}

QString CountResult(const QString& editText) {
    // Blanks and control characters alike, as the settings file may hold either.
    qsizetype a = 0, b = editText.size();
    while (a < b && editText[a].unicode() <= 32)
        ++a;
    while (b > a && editText[b - 1].unicode() <= 32)
        --b;
    // "00" would read as a count of zero everywhere but in the scheduler, which stops only at
    // the text "0"; "007" is simply 7.
    while (b - a > 1 && editText[a] == u'0')
        ++a;
    const QString t = editText.mid(a, b - a);
    return t.isEmpty() ? QStringLiteral("0") : t;
}

QTime TimePreset(const QString& cell) {
    return TextFormats::ParseTime(cell).value_or(QTime(4, 0, 0));
}

HistFlags ReadHist(const QString& cell) {
    if (cell.size() != 3) return {};
    return {cell[0] == u'J', cell[2] == u'J'};
}

QString HistText(bool weekly, bool monthly) {
    return QString(weekly ? u'J' : u'N') + u'-' + (monthly ? u'J' : u'N');
}

FilterCell SplitFilterCell(const QString& cell) {
    if (cell.startsWith(QStringLiteral("Nicht:"))) return {false, cell.mid(6)};
    if (cell.startsWith(QStringLiteral("Nur:"))) return {true, cell.mid(4)};
    return {false, cell};
}

QString JoinFilterCell(bool include, const QString& patterns) {
    if (patterns.isEmpty()) return QString();
    return (include ? QStringLiteral("Nur:") : QStringLiteral("Nicht:")) + patterns;
}

QString SingleLine(const QString& text) {
    QString out = text;
    out.remove(u'\r');
    out.remove(u'\n');
    return out;
}

} // namespace ActionEdit
