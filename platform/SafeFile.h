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

} // namespace SafeFile
