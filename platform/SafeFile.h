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

// Creates a new, empty file beside finalPath under a name of its own, open for writing, with
// the permissions of the file it is to replace (or those a new file gets). Returns the
// descriptor, or -1 with errno set; *tempPath receives the temporary file's name.
int CreateTempBeside(const QString& finalPath, QByteArray* tempPath);

// The same guarantee for many files in a row, without a flush per file. A file that takes a
// name nobody holds is renamed at once: a crash may leave it empty or cut, but never in place
// of anything. A file that replaces another waits beside it under its temporary name until a
// batch of such files is flushed together, then takes its name, so the old content stays
// until the whole new one is on disk. Finish flushes everything left, folders included.
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
