#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

int CreateTempBeside(const QString& finalPath, QByteArray* tempPath) {
    const QFileInfo fi(finalPath);
    const QByteArray stem = QFile::encodeName(fi.absolutePath() + QStringLiteral("/.") +
                                              fi.fileName() + QStringLiteral("."));
    struct stat old {};
    const bool replaces = ::stat(QFile::encodeName(finalPath).constData(), &old) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name =
            stem + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
        // The mode is filtered by the umask, as for any new file.
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return -1;
        }
        if (replaces && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
        *tempPath = name;
        return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace SafeFile
