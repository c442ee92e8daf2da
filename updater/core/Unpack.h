#pragma once
// Turning one downloaded update archive (a single zlib stream) into the file it holds. The
// archive is read 64 KiB at a time and inflated 4096 bytes at a time, gathered into writes of
// 1 MiB, so neither is ever held whole; a thread of the unpacker's own writes them and sums
// their check value while the next ones are inflated. The file is written under a temporary
// name beside its destination and takes the destination's name only when the stream is
// complete and its check value matches: a cut, damaged or oversized archive leaves the old
// file as it was.
#include <QString>
#include <functional>

struct UnpackCallbacks {
    // "Entpacke " and the destination's file name, then "Bereit".
    std::function<void(const QString&)> status;
    // Archive bytes read so far and the archive's size; (0, 0) at the end.
    std::function<void(qint64 done, qint64 total)> progress;
};

// Files larger than this are refused; an archive announcing no size cannot fill the disk.
inline constexpr qint64 MaxUnpackedSize = qint64(2) * 1024 * 1024 * 1024;

// Inflates source into destination (an existing file is replaced) and returns the
// destination's size in bytes. Raises std::runtime_error naming the archive, or the
// destination when that cannot be written.
qint64 UnpackFile(const QString& source, const QString& destination,
                  const UnpackCallbacks& callbacks = {}, qint64 maxSize = MaxUnpackedSize);
