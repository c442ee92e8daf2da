#include "Versions.h"

#include <optional>
#include <tuple>

namespace {
std::optional<qint32> toInt(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok ? std::optional<qint32>(v) : std::nullopt;
}
} // namespace

VersionRecord ParseVersion(const QString& text) {
    VersionRecord r;
    if (text.isEmpty() || text == u"ohne" || !text.contains(u'.')) return r;
    QString rest = text;
    qint32* const fields[] = {&r.major, &r.minor, &r.release};
    for (qint32* field : fields) {
        const qsizetype dot = rest.indexOf(u'.');
        if (dot < 0) return r;
        const auto v = toInt(rest.left(dot));
        if (!v) return r;
        *field = *v;
        rest.remove(0, dot + 1);
    }
    if (const auto v = toInt(rest)) r.build = *v;
    return r;
}

bool VersionNotOlder(const VersionRecord& a, const VersionRecord& b) {
    return std::tie(a.major, a.minor, a.release, a.build) >=
           std::tie(b.major, b.minor, b.release, b.build);
}

bool IsUpToDate(const QString& localVersion, const QString& offeredVersion,
                const QDateTime& localDate, const QDateTime& offeredDate) {
    return VersionNotOlder(ParseVersion(localVersion), ParseVersion(offeredVersion)) &&
           localDate >= offeredDate;
}
