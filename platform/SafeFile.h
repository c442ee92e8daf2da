#pragma once
// Putting a finished temporary file in place so that after a crash or power cut its final name
// holds either the old content or the whole new one, never an empty or cut file.
#include <QByteArray>
#include <QList>
#include <QString>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace SafeFile {

// Flushes the temporary file open as fd to disk, closes fd, renames the file over finalPath
// and flushes the folder so that the rename lasts as well. The two names lie in one folder.
// Returns false with errno set when a step fails; fd is closed in any case, and a temporary
// file that was not renamed is left for the caller to remove.
bool CommitTemp(int fd, const QByteArray& tempPath, const QByteArray& finalPath);

// The same for a temporary file that is already written and closed (a copy, for example).
bool CommitTemp(const QString& tempPath, const QString& finalPath);

// Owns an open file descriptor and closes it when it goes.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    // Gives the descriptor up without closing it.
    int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held, if any, and takes fd.
    void reset(int fd = -1) noexcept;

private:
    int fd_;
};

// Writes all n bytes, also when the system takes them in parts or a signal interrupts it.
// Returns false with errno set when a write fails; errno is 0 when the system took nothing
// without naming an error.
bool WriteAll(int fd, const void* data, size_t n);

// A new file beside a target that takes the target's name only when it is complete. Until then
// it lies under a name nobody else holds, and whatever way the owner leaves, a file that was not
// put in place is removed.
class TempFileBeside {
public:
    TempFileBeside() = default;
    ~TempFileBeside() { Discard(); }
    TempFileBeside(const TempFileBeside&) = delete;
    TempFileBeside& operator=(const TempFileBeside&) = delete;

    // Creates the file as ".NAME.<random>.tmp" beside target, with the permissions of the
    // file it is to replace (or those a new file gets). Returns false with errno set.
    bool CreateLikeTarget(const QString& target);
    // Creates the file under tempPath (in target's folder) with mode, failing when anything
    // already holds that name. Returns false with errno set.
    bool CreateAt(const QString& target, const QString& tempPath, mode_t mode);

    int fd() const { return fd_.get(); }
    const QByteArray& Path() const { return path_; }

    // Appends all n bytes, as WriteAll does, and starts writing them to disk once a few
    // megabytes have gathered, so that Commit's flush finds little left to wait for. Returns
    // false with errno set.
    bool Write(const void* data, size_t n);

    // Flushes the file to disk, closes it, renames it over the target and flushes the folder.
    // Returns false with errno set; the file is then removed.
    bool Commit();
    // Renames it over the target without flushing it first: for working files that nothing
    // needs after a crash. Running programs still see the name only with the whole content.
    // Returns false with errno set; the file is then removed.
    bool CommitUnflushed();
    // Closes and removes the file now, if it is still there.
    void Discard();

private:
    UniqueFd fd_;
    QByteArray path_;
    QByteArray target_;
    qint64 written_ = 0;     // by Write
    qint64 writtenBack_ = 0; // the part whose way to disk has been started
};

// The same guarantee for many files in a row, without a flush per file. A file that takes a
// name nobody holds is renamed at once (or written under that name, CommitNew): a crash may
// leave it empty or cut, but never in place of anything. A file that replaces another waits beside
// it under its temporary name until a batch of such files is flushed together, then takes its name,
// so the old content stays until the whole new one is on disk. Finish flushes everything left,
// folders included.
class CommitBatch {
public:
    CommitBatch() = default;
    ~CommitBatch();
    CommitBatch(const CommitBatch&) = delete;
    CommitBatch& operator=(const CommitBatch&) = delete;

    // Puts the finished temporary file open as fd in place of finalName, both names in the
    // folder open as dirFd, or schedules that; closes fd in any case. Returns false with errno
    // set when that failed at once; the temporary file is then left for the caller to remove.
    // A scheduled replacement that fails later is reported through OnLateFailure with label.
    bool Commit(int dirFd, int fd, const char* tempName, const char* finalName,
                const QString& label = {});
    // Makes Finish flush the file system the folder open as folderFd is on. False with errno
    // set when it cannot keep a handle there; files of that folder are then flushed one by one.
    bool Watch(int folderFd);
    // A file written under a name it took new (created exclusively) in the folder open as
    // dirFd (watched: what Watch returned for it): flushed with its file system at Finish, or
    // now, folder included, if that is not watched. Closes fd in any case; false with errno set
    // when the data may not have reached the file, which the caller then removes.
    bool CommitNew(int dirFd, int fd, bool watched);
    // Completes the scheduled replacements and flushes what the commits left unflushed.
    // Returns false with errno set when a file system reported a write error.
    bool Finish();

    // A scheduled replacement that failed (its temporary file is removed), with errno's value.
    std::function<void(const QString& label, int error)> OnLateFailure;
    // Called every 40 ms from the caller's thread while a flush runs (on a thread of its
    // own), so a window can stay responsive during a long one.
    std::function<void()> WhileFlushing;

private:
    struct Folder {
        dev_t device;
        ino_t inode;
        int fd;
    };
    struct Replacement {
        qsizetype folder; // in folders_
        QByteArray tempName, finalName;
        QString label;
    };
    int flushDevices();
    void replaceWaiting();

    QList<Folder> devices_; // one folder per file system that received files
    QList<Folder> folders_; // the folders of the waiting replacements
    QList<Replacement> waiting_;
    qint64 waitingBytes_ = 0;
};

// While it exists, a thread of its own flushes the file system of a folder every 100 ms, so
// that long work writing many files leaves little for its final flush: the disk writes while
// the work goes on. The thread touches nothing else.
class BackgroundFlush {
public:
    explicit BackgroundFlush(int folderFd);
    ~BackgroundFlush();
    BackgroundFlush(const BackgroundFlush&) = delete;
    BackgroundFlush& operator=(const BackgroundFlush&) = delete;

private:
    int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace SafeFile
