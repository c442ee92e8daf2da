#include "FileVersion.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <optional>

namespace {

// The magic followed by four numbers of 0 to 65535 joined by "." and a NUL; a bare copy of the
// magic (as in this reader's own program file) is followed by something else and is skipped.
std::optional<QString> versionAt(const QByteArray& data, qsizetype pos) {
    qsizetype end = data.indexOf('\0', pos);
    if (end < 0 || end - pos > 23) return std::nullopt;
    const QString text = QString::fromLatin1(data.mid(pos, end - pos));
    const QStringList parts = text.split(u'.');
    if (parts.size() != 4) return std::nullopt;
    QStringList out;
    for (const QString& part : parts) {
        if (part.isEmpty()) return std::nullopt;
        for (QChar c : part) {
            if (!c.isDigit()) return std::nullopt;
        }
        bool ok = false;
        const uint v = part.toUInt(&ok);
        if (!ok || v > 0xFFFF) return std::nullopt;
        out.append(QString::number(v));
    }
    return out.join(u'.');
}

} // namespace

namespace FileVersion {

QString GetFileVersionString(const QString& path) {
    const QString none = QStringLiteral("ohne");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return none;
    const QByteArray magic(ZV_FILE_VERSION_MAGIC);
    constexpr qsizetype Chunk = 1 << 20;
    const qsizetype keep = magic.size() + 24; // a marker may straddle two reads
    QByteArray window;
    for (;;) {
        const QByteArray more = file.read(Chunk);
        if (more.isEmpty()) break;
        window += more;
        for (qsizetype at = window.indexOf(magic); at >= 0; at = window.indexOf(magic, at + 1)) {
            const qsizetype start = at + magic.size();
            if (window.indexOf('\0', start) < 0 && !file.atEnd()) break; // read on first
            if (const auto v = versionAt(window, start)) return *v;
        }
        if (window.size() > keep) window.remove(0, window.size() - keep);
    }
    return none;
}

} // namespace FileVersion
