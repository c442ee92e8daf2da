#include "Drive.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace {

bool isSeparator(QChar c) {
    return c == u'\\' || c == u'/';
}

// How many leading path segments name a media mount folder under this prefix.
struct MediaRoot {
    QStringList prefix;
    qsizetype segments; // including the prefix
};

const MediaRoot MediaRoots[] = {
    {{QStringLiteral("media")}, 3},                        // /media/USER/LABEL
    {{QStringLiteral("run"), QStringLiteral("media")}, 4}, // /run/media/USER/LABEL
    {{QStringLiteral("mnt")}, 2},                          // /mnt/NAME
};

// The media root a clean absolute path lies in (or is), else "".
QString mediaFolder(const QString& cleanAbsolute) {
    const QStringList segments = cleanAbsolute.split(u'/', Qt::SkipEmptyParts);
    for (const MediaRoot& root : MediaRoots) {
        if (segments.size() >= root.segments && segments.mid(0, root.prefix.size()) == root.prefix)
            return u'/' + segments.mid(0, root.segments).join(u'/');
    }
    return QString();
}

} // namespace

namespace Drive {

QString ExtractFileDrive(const QString& path) {
    if (path.size() >= 2 && path[1] == u':' && path[0].isLetter()) return path.left(2);
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // "\\server\share": up to (not including) the separator after the share name.
        int separators = 0;
        qsizetype i = 2;
        for (; i < path.size(); ++i) {
            if (isSeparator(path[i]) && ++separators == 2) break;
        }
        return path.left(i);
    }
    if (!path.startsWith(u'/')) return QString();
    const QString media = mediaFolder(QDir::cleanPath(path));
    return media.isEmpty() ? QStringLiteral("/") : media;
}

bool DriveExists(const QString& drive) {
    if (drive.isEmpty()) return false;
    if (drive == u"/") return true;
    const QString clean = QDir::cleanPath(drive);
    if (clean.startsWith(u'/') && mediaFolder(clean) == clean) {
        // A media folder left behind after unmounting is no drive.
        return QFileInfo(clean).isDir() && QStorageInfo(clean).rootPath() == clean;
    }
    return QDir(drive).exists();
}

} // namespace Drive
