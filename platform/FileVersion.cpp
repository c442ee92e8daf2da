#include "FileVersion.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // Only a regular file is read, and opening never waits: a pipe would block here and a
    // device could be read for ever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return none;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return none;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return none;
    }
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
