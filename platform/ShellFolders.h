#pragma once
// The folders the programs ask Windows for: their own folder and the user's shell folders.
#include <QString>

namespace ShellFolders {
// The folder of the running program file, with a trailing separator. Tests point it elsewhere.
QString ProgramFolder();
void SetProgramFolder(const QString& folder); // empty: back to the real one
// A shell folder by its Windows name ("appdata", "local appdata", "desktop", "personal",
// "common appdata", "startup", "templates", ...), without a trailing separator; empty when this
// platform has no such folder ("sendto", "common desktop", ...).
QString Folder(const QString& name);
// Where a program keeps the files it writes beside itself: its own folder when files can be
// created there, else (an installed, write-protected program) the folder named after the
// program in the user's data folder, created when missing. With a trailing separator.
QString WritableProgramFolder(const QString& programName);
// True when a new file can be created in the folder.
bool CanCreateFiles(const QString& folder);
// True when a file of this name lies in the folder, its name compared without regard to case.
bool FileExistsNoCase(const QString& folder, const QString& name);
// The name a program file has in the folder, for a name given the Windows way ("x.exe"): found
// without regard to case, with or without the ".exe". Empty when there is none.
QString FindProgramFile(const QString& folder, const QString& name);
// Appends the platform separator unless the path already ends in one.
QString IncludeTrailingPathDelimiter(const QString& path);
// The platform's suffix of program files ("" here, ".exe" on Windows).
QString ExecutableSuffix();
} // namespace ShellFolders
