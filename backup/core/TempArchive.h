#pragma once
// The name an archive is written under until it is complete. It carries the writing process's
// id, so two processes never write the same file, and it ends in ".part", so it never matches
// a generation or a weekly or monthly copy of any target.
#include <QString>
#include <sys/types.h>

// The temporary archive of this process beside a target.
QString TempArchiveName(const QString& target);
// Whether a file name in the target's folder is a temporary archive of that target, of this
// process or of another one.
bool IsTempArchiveName(const QString& targetFileName, const QString& name);
// Removes the temporary archives of a target that no running process writes any more: this
// process's own (no run of it is under way when a run begins) and those of ended processes.
void RemoveStaleTempArchives(const QString& target);
// The process's file creation mask, read without changing it: the temporary archive is
// created owner-only and takes the mode a new file would have got only when it is complete.
mode_t ProcessUmask();
