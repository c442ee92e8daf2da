#pragma once
// Putting a finished temporary file in place so that after a crash or power cut its final name
// holds either the old content or the whole new one, never an empty or cut file.
#include <QByteArray>
#include <QString>

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

} // namespace SafeFile
