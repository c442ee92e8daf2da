#include "BackupAction.h"

#include "ActionEdit.h"
#include "Generations.h"
#include "TextFormats.h"

namespace {
// A count as FormatInt64 writes it without decimals, and nothing else.
std::optional<qint64> groupedNumber(const QString& text) {
    QString digits = text;
    digits.remove(TextFormats::ThousandSeparator);
    const auto v = TextFormats::ParseInt(digits);
    if (!v || FormatInt64(0, *v) != text) return std::nullopt;
    return v;
}
} // namespace

std::optional<QTime> BackupAction::Time() const {
    return TextFormats::ParseTime(Cells[colTime]);
}

std::optional<int> BackupAction::Count() const {
    try {
        return ParseCount(Cells[colCount]);
    } catch (const SchedulerError&) {
        return std::nullopt;
    }
}

std::optional<QDateTime> BackupAction::LastRun() const {
    if (Cells[colLast].isEmpty()) return std::nullopt;
    return TextFormats::ParseDateTime(Cells[colLast]);
}

int BackupAction::Number() const {
    bool ok = false;
    const int n = Cells[colActionNumber].toInt(&ok);
    return ok && n > 0 ? n : 0;
}

bool BackupAction::WeeklyCopy() const {
    return WeeklyCopyWanted(Cells[colHist]);
}

bool BackupAction::MonthlyCopy() const {
    return MonthlyCopyWanted(Cells[colHist]);
}

std::optional<qint64> BackupAction::Files() const {
    const QString& text = Cells[colDateien];
    const qsizetype dash = text.indexOf(u'-');
    if (dash < 0) return groupedNumber(text);
    if (!groupedNumber(text.mid(dash + 1))) return std::nullopt;
    return groupedNumber(text.left(dash));
}

std::optional<qint64> BackupAction::Bytes() const {
    return groupedNumber(Cells[colBytes]);
}

std::optional<qint64> BackupAction::ArchiveSize() const {
    return groupedNumber(Cells[colArc]);
}

std::optional<qint64> BackupAction::DurationMs() const {
    const QStringList parts = Cells[colDauer].split(u':');
    if (parts.size() != 3) return std::nullopt;
    qint64 secs = 0;
    for (qsizetype i = 0; i < 3; ++i) {
        bool ok = false;
        const qint64 v = parts[i].toLongLong(&ok);
        if (!ok || v < 0 || parts[i].size() < 2 || (i > 0 && (v > 59 || parts[i].size() > 2)))
            return std::nullopt;
        secs = secs * 60 + v;
    }
    return secs * 1000;
}

void BackupAction::SetTime(const QTime& t) {
    Cells[colTime] = TextFormats::FormatTime(t);
}

void BackupAction::SetHist(bool weekly, bool monthly) {
    Cells[colHist] = ActionEdit::HistText(weekly, monthly);
}

void BackupAction::SetRunResults(const QDateTime& at, const QString& filesText, qint64 bytes,
                                 qint64 archiveSize, qint64 ms) {
    Cells[colLast] = TextFormats::FormatDateTime(at);
    Cells[colDateien] = filesText;
    Cells[colBytes] = FormatInt64(0, bytes);
    Cells[colArc] = FormatInt64(0, archiveSize);
    Cells[colDauer] = TextFormats::FormatDuration(ms);
}
