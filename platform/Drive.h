#pragma once
// The "drive" of a path. Windows-style paths keep their meaning ("X:" and "\\server\share");
// for a POSIX path it is the mount folder of removable or network media (/media/USER/LABEL,
// /run/media/USER/LABEL, /mnt/NAME), else "/". A relative path has no drive ("").
#include <QString>

namespace Drive {
QString ExtractFileDrive(const QString& path);
// Whether the drive is there: the folder exists (and, for media folders, is mounted).
bool DriveExists(const QString& drive);
} // namespace Drive
