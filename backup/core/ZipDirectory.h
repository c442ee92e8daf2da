#pragma once
// The entries of an archive's central directory as the restore lists them, read either
// straight from the file or through the ZIP library. The library converts every entry's date
// through the C library's local time, which looks at the system's zone file again for each
// entry; for a long listing that is most of the time. Read here, the dates of one day take one
// look-up, and the library needs to read the directory only when something is extracted.
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

struct zip;

struct ZipEntry {
    QString Name; // stored name, as the archive holds it
    qint64 PackedSize = 0;
    qint64 UnpackedSize = 0;
    qint64 ModTime = -1; // the entry's date in seconds since 1970 (UTC), -1 without one
    qint64 Index = 0;    // position in the archive's directory
    int UtcOffset = 0;   // local time's offset from UTC at ModTime, in seconds
    int Method = 0;      // compression method
    int Encryption = 0;  // encryption method
    // Permission bits of an entry made on a Unix system, 0 where the archive holds none.
    int Permissions = 0;
    bool IsDir = false;
    bool IsLink = false;
    bool Encrypted = false;
    // WinZip AES entries of the second kind store no checksum; their authentication code
    // checks the content instead.
    bool NoCrc = false;
    // Made on a system whose folder separator is "\" (MS-DOS, Windows, or one not known):
    // there a "\" in the name separates folders; on Unix it is part of the file name.
    bool BackslashSeparates = true;

    // The entry's date in local time.
    QDateTime DateTime() const {
        return ModTime < 0 ? QDateTime()
                           : QDateTime::fromSecsSinceEpoch(ModTime, Qt::OffsetFromUTC, UtcOffset);
    }
    bool operator==(const ZipEntry&) const = default;
};

namespace ZipDirectory {

// Reads the directory of the archive open as fd into entries, in the archive's order. Returns
// false, with entries empty, for an archive this reading is not sure to read as the ZIP
// library does: not a ZIP archive, a damaged or contradictory directory (counts or sizes that
// do not add up, fields that run past their record), several end records, spanned archives,
// entries the library would refuse. The library's own reading decides for those.
bool Read(int fd, QList<ZipEntry>& entries);

// The ZIP library's reading of the entry at index of an archive it has open, as Read gives it;
// none when the library cannot give it.
std::optional<ZipEntry> LibraryEntry(zip* archive, qint64 index);

} // namespace ZipDirectory
