#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cerrno>
#include <cstdio>
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

CommitBatch::~CommitBatch() {
    for (const Pending& p : std::as_const(pending_))
        ::close(p.folderFd);
}

bool CommitBatch::Commit(int dirFd, int fd, const char* tempName, const char* finalName) {
    int error = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0) error = errno;
    if (error == 0 && ::renameat2(dirFd, tempName, dirFd, finalName, RENAME_NOREPLACE) == 0) {
        if (::close(fd) != 0) {
            // The data may not have reached the file; the name must not keep it.
            error = errno;
            ::unlinkat(dirFd, finalName, 0);
            errno = error;
            return false;
        }
    } else {
        // The name is taken (or the file system cannot tell): the new content goes to disk
        // before it replaces the old one.
        if (error == 0 && ::fsync(fd) != 0) error = errno;
        if (::close(fd) != 0 && error == 0) error = errno;
        if (error == 0 && ::renameat(dirFd, tempName, dirFd, finalName) != 0) error = errno;
        if (error != 0) {
            errno = error;
            return false;
        }
    }
    const bool known = std::any_of(pending_.begin(), pending_.end(),
                                   [&](const Pending& p) { return p.device == st.st_dev; });
    if (!known) {
        const int folderFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
        // Without a handle of its own the whole system is flushed at the end.
        pending_.append({st.st_dev, folderFd});
    }
    return true;
}

bool CommitBatch::Finish() {
    int error = 0;
    for (const Pending& p : std::as_const(pending_)) {
        if (p.folderFd < 0) {
            ::sync();
            continue;
        }
        if (::syncfs(p.folderFd) != 0 && error == 0) error = errno;
        ::close(p.folderFd);
    }
    pending_.clear();
    errno = error;
    return error == 0;
}

} // namespace SafeFile
