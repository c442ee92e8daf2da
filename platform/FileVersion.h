#pragma once
// File version numbers. Our executables carry their four-part version as a marker in the
// program file (ZV_FILE_VERSION_MARKER, placed by the build's zv_file_version); this reads it
// back. Any other file has no version.
#include <QString>

#define ZV_FILE_VERSION_MAGIC "\x7fZV-FILE-VERSION:"
#define ZV_FILE_VERSION_MARKER(version)                                                            \
    extern "C" [[gnu::used]] const char zvFileVersionMarker[] = ZV_FILE_VERSION_MAGIC version;

namespace FileVersion {
// "major.minor.release.build", or "ohne" when the file has no marker or cannot be read.
QString GetFileVersionString(const QString& path);
} // namespace FileVersion
