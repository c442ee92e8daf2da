#pragma once
// Putting a finished temporary file in place so that after a crash or power cut its final name
// holds either the old content or the whole new one, never an empty or cut file.
#include <QByteArray>
#include <QList>
#include <QString>
#include <sys/types.h>

namespace SafeFile {

// Flushes the temporary file open as fd to disk, closes fd, renames the file over finalPath
// and flushes the folder so that the rename lasts as well. The two names lie in one folder.
// Returns false with errno set when a step fails; fd is closed in any case, and a temporary
// file that was not renamed is left for the caller to remove.
bool CommitTemp(int fd, const QByteArray& tempPath, const QByteArray& finalPath);

// The same for a temporary file that is already written and closed (a copy, for example).
bool CommitTemp(const QString& tempPath, const QString& finalPath);

// The same guarantee for many files in a row, without a flush per new file. A file that
// replaces another is flushed before its rename, as CommitTemp does, so the old content stays
// until the whole new one is on disk. A file that takes a name nobody holds is renamed at
// once: a crash may leave it empty or cut, but never in place of anything. Finish flushes the
// file systems that received files, folders included, in one go.
class CommitBatch {
public:
    CommitBatch() = default;
    ~CommitBatch();
    CommitBatch(const CommitBatch&) = delete;
    CommitBatch& operator=(const CommitBatch&) = delete;

    // Like CommitTemp, for two names in the folder open as dirFd.
    bool Commit(int dirFd, int fd, const char* tempName, const char* finalName);
    // Flushes what the commits since the last Finish left unflushed. Returns false with errno
    // set when a file system reported a write error.
    bool Finish();

private:
    struct Pending {
        dev_t device;
        int folderFd; // a folder on that file system
    };
    QList<Pending> pending_;
};

} // namespace SafeFile
