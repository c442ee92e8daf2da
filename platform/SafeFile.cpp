#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace SafeFile {

bool CommitTemp(int fd, const QByteArray& tempPath, const QByteArray& finalPath) {
    int error = 0;
    if (::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(tempPath.constData(), finalPath.constData()) != 0) error = errno;
    if (error != 0) {
        errno = error;
        return false;
    }
    // The folder holds the rename; its flush failing leaves a complete file either way.
    const QByteArray folder =
        QFile::encodeName(QFileInfo(QFile::decodeName(finalPath)).absolutePath());
    if (const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool CommitTemp(const QString& tempPath, const QString& finalPath) {
    const QByteArray temp = QFile::encodeName(tempPath);
    const int fd = ::open(temp.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    return CommitTemp(fd, temp, QFile::encodeName(finalPath));
}

} // namespace SafeFile
