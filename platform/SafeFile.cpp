#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <future>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SafeFile {

namespace {

// A new, empty file beside finalPath under a name of its own, open for writing, with the
// permissions of the file it is to replace (or those a new file gets); -1 with errno set.
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

} // namespace

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

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool WriteAll(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = 0;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

namespace {

// Large enough that the disk gets long runs, small enough that it starts early.
constexpr qint64 WriteBehindBytes = 8 * 1024 * 1024;

} // namespace

bool TempFileBeside::Write(const void* data, size_t n) {
    if (!WriteAll(fd_.get(), data, n)) return false;
    written_ += qint64(n);
    if (written_ - writtenBack_ >= WriteBehindBytes) {
        // Only a start: the write-out runs while the caller goes on, and the flush of Commit
        // still waits for all of it. A failure here is the flush's to report.
        ::sync_file_range(fd_.get(), writtenBack_, written_ - writtenBack_, SYNC_FILE_RANGE_WRITE);
        writtenBack_ = written_;
    }
    return true;
}

bool TempFileBeside::CreateLikeTarget(const QString& target) {
    Discard();
    const int fd = CreateTempBeside(target, &path_);
    if (fd < 0) return false;
    fd_.reset(fd);
    target_ = QFile::encodeName(target);
    return true;
}

bool TempFileBeside::CreateAt(const QString& target, const QString& tempPath, mode_t mode) {
    Discard();
    const QByteArray name = QFile::encodeName(tempPath);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    fd_.reset(fd);
    path_ = name;
    target_ = QFile::encodeName(target);
    return true;
}

bool TempFileBeside::Commit() {
    if (CommitTemp(fd_.release(), path_, target_)) {
        path_.clear();
        return true;
    }
    const int error = errno;
    Discard();
    errno = error;
    return false;
}

bool TempFileBeside::CommitUnflushed() {
    const int fd = fd_.release();
    int error = ::close(fd) != 0 ? errno : 0;
    if (error == 0 && ::rename(path_.constData(), target_.constData()) != 0) error = errno;
    if (error == 0) {
        path_.clear();
        return true;
    }
    Discard();
    errno = error;
    return false;
}

void TempFileBeside::Discard() {
    fd_.reset();
    written_ = writtenBack_ = 0;
    if (!path_.isEmpty()) ::unlink(path_.constData());
    path_.clear();
}

namespace {

// A batch of replacements is flushed at this many files or bytes, so few files wait and few
// folders stay open.
constexpr qsizetype MaxWaiting = 1000;
constexpr qsizetype MaxWaitingFolders = 100;
constexpr qint64 MaxWaitingBytes = 256 * 1024 * 1024;

} // namespace

CommitBatch::~CommitBatch() {
    Finish();
}

bool CommitBatch::Commit(int dirFd, int fd, const char* tempName, const char* finalName,
                         const QString& label) {
    struct stat file, folder;
    if (::fstat(fd, &file) != 0 || ::fstat(dirFd, &folder) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    const auto known = [](const QList<Folder>& list, const struct stat& st) {
        for (qsizetype i = list.size() - 1; i >= 0; --i)
            if (list[i].device == st.st_dev && list[i].inode == st.st_ino) return i;
        return qsizetype(-1);
    };
    const auto keep = [&](QList<Folder>& list) {
        const int copy = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return qsizetype(-1);
        list.append({folder.st_dev, folder.st_ino, copy});
        return list.size() - 1;
    };
    if (std::none_of(devices_.begin(), devices_.end(),
                     [&](const Folder& f) { return f.device == folder.st_dev; }) &&
        keep(devices_) < 0) {
        // Without a handle on that file system it cannot be flushed later: now, then.
        int error = ::fsync(fd) != 0 ? errno : 0;
        if (::close(fd) != 0 && error == 0) error = errno;
        if (error == 0 && ::renameat(dirFd, tempName, dirFd, finalName) != 0) error = errno;
        if (error == 0) ::fsync(dirFd);
        errno = error;
        return error == 0;
    }
    if (::renameat2(dirFd, tempName, dirFd, finalName, RENAME_NOREPLACE) == 0) {
        if (::close(fd) != 0) {
            // The data may not have reached the file; the name must not keep it.
            const int error = errno;
            ::unlinkat(dirFd, finalName, 0);
            errno = error;
            return false;
        }
        return true;
    }
    const int error = errno;
    if (error != EEXIST && error != EINVAL) {
        ::close(fd);
        errno = error;
        return false;
    }
    // The name is taken (or the file system cannot tell): the file waits for its flush.
    if (::close(fd) != 0) return false;
    qsizetype at = known(folders_, folder);
    if (at < 0) at = keep(folders_);
    if (at < 0) return false;
    waiting_.append({at, tempName, finalName, label});
    waitingBytes_ += file.st_size;
    if (waiting_.size() >= MaxWaiting || folders_.size() >= MaxWaitingFolders ||
        waitingBytes_ >= MaxWaitingBytes)
        replaceWaiting();
    return true;
}

bool CommitBatch::Watch(int folderFd) {
    struct stat folder;
    if (::fstat(folderFd, &folder) != 0) return false;
    for (const Folder& f : std::as_const(devices_))
        if (f.device == folder.st_dev) return true;
    const int copy = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    devices_.append({folder.st_dev, folder.st_ino, copy});
    return true;
}

bool CommitBatch::CommitNew(int dirFd, int fd, bool watched) {
    int error = !watched && ::fsync(fd) != 0 ? errno : 0;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && !watched) ::fsync(dirFd);
    errno = error;
    return error == 0;
}

int CommitBatch::flushDevices() {
    const auto flush = [this] {
        int error = 0;
        for (const Folder& f : std::as_const(devices_))
            if (::syncfs(f.fd) != 0 && error == 0) error = errno;
        return error;
    };
    if (!WhileFlushing || devices_.isEmpty()) return flush();
    std::future<int> done = std::async(std::launch::async, flush);
    while (done.wait_for(std::chrono::milliseconds(40)) != std::future_status::ready)
        WhileFlushing();
    return done.get();
}

void CommitBatch::replaceWaiting() {
    if (waiting_.isEmpty()) return;
    const int flushError = flushDevices();
    for (const Replacement& r : std::as_const(waiting_)) {
        const int dirFd = folders_[r.folder].fd;
        int error = flushError;
        if (error == 0 &&
            ::renameat(dirFd, r.tempName.constData(), dirFd, r.finalName.constData()) != 0)
            error = errno;
        if (error != 0) {
            ::unlinkat(dirFd, r.tempName.constData(), 0);
            if (OnLateFailure) OnLateFailure(r.label, error);
        }
    }
    for (const Folder& f : std::as_const(folders_))
        ::close(f.fd);
    folders_.clear();
    waiting_.clear();
    waitingBytes_ = 0;
}

bool CommitBatch::Finish() {
    replaceWaiting();
    const int error = flushDevices();
    for (const Folder& f : std::as_const(devices_))
        ::close(f.fd);
    devices_.clear();
    errno = error;
    return error == 0;
}

// The folder is opened anew rather than duplicated: a file system's write error is reported
// once to each open handle, and this thread, which does not look at it, must not take it from
// the handles whose final flush has to see it.
BackgroundFlush::BackgroundFlush(int folderFd)
    : fd_(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    thread_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; })) {
            lock.unlock();
            ::syncfs(fd_);
            lock.lock();
        }
    });
}

BackgroundFlush::~BackgroundFlush() {
    if (fd_ < 0) return;
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    ::close(fd_);
}

} // namespace SafeFile
