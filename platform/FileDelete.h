#pragma once
// Deleting or moving away a file that a program may still be using. Windows refuses both for a
// file that is open or running; this platform allows them, so here they fail only when the
// file system refuses. Tests install a check that declares files to be in use.
#include <QString>
#include <functional>

namespace FileDelete {
// False when the file is in use or cannot be deleted; a missing file is deleted already.
bool Delete(const QString& path);
// Renames path to newPath (same folder); false when the file is in use or the rename fails.
bool MoveAside(const QString& path, const QString& newPath);
// Whether a new file could take path's name now, without touching the old one: false when it
// is in use or its folder refuses new names.
bool CanReplace(const QString& path);
// While set, a path for which the check returns true counts as in use.
void SetInUseCheck(std::function<bool(const QString& path)> check);
} // namespace FileDelete
