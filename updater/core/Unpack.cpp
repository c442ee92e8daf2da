#include "Unpack.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <zlib.h>

#include "SafeFile.h"

namespace {

constexpr qint64 ReadBlock = 65536;
constexpr unsigned InflateBlock = 4096;
// Inflated blocks are gathered into writes of this size: one system call per 4096 bytes cost
// more than the inflating.
constexpr size_t WriteBlock = 1024 * 1024;

[[noreturn]] void raise(const QString& text) {
    throw std::runtime_error(text.toStdString());
}

QString systemError(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

void writeAll(int fd, const char* p, size_t n, const QString& destination) {
    if (!SafeFile::WriteAll(fd, p, n))
        raise(QStringLiteral("%1 kann nicht geschrieben werden: %2")
                  .arg(destination, systemError(errno != 0 ? errno : EIO)));
}

} // namespace

qint64 UnpackFile(const QString& source, const QString& destination,
                  const UnpackCallbacks& callbacks, qint64 maxSize) {
    const QString archive = QFileInfo(source).fileName();
    if (callbacks.status)
        callbacks.status(QStringLiteral("Entpacke ") + QFileInfo(destination).fileName());
    const auto progressEnds = qScopeGuard([&callbacks] {
        if (callbacks.progress) callbacks.progress(0, 0);
    });

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        raise(QStringLiteral("Archiv %1 kann nicht geöffnet werden: %2")
                  .arg(archive, in.errorString()));
    const qint64 total = in.size();
    if (callbacks.progress) callbacks.progress(0, total);

    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        raise(QStringLiteral("Archiv %1: zlib fehlt Speicher").arg(archive));
    const auto zEnd = qScopeGuard([&z] { inflateEnd(&z); });
    SafeFile::TempFileBeside temp;
    if (!temp.CreateLikeTarget(destination))
        raise(QStringLiteral("%1 kann nicht angelegt werden: %2")
                  .arg(destination, systemError(errno)));

    std::unique_ptr<char[]> input(new char[ReadBlock]);
    std::unique_ptr<char[]> output(new char[WriteBlock]);
    size_t gathered = 0;
    qint64 readSoFar = 0;
    qint64 written = 0;
    bool streamEnded = false;
    while (!streamEnded) {
        if (z.avail_in == 0) {
            const qint64 n = in.read(input.get(), ReadBlock);
            if (n < 0)
                raise(QStringLiteral("Archiv %1 kann nicht gelesen werden: %2")
                          .arg(archive, in.errorString()));
            if (n == 0) raise(QStringLiteral("Archiv %1 ist unvollständig.").arg(archive));
            readSoFar += n;
            if (callbacks.progress) callbacks.progress(readSoFar, total);
            z.next_in = reinterpret_cast<Bytef*>(input.get());
            z.avail_in = uInt(n);
        }
        do {
            if (gathered == WriteBlock) {
                writeAll(temp.fd(), output.get(), gathered, destination);
                gathered = 0;
            }
            z.next_out = reinterpret_cast<Bytef*>(output.get() + gathered);
            // A short block earlier leaves less than a whole one before the end of the buffer.
            const unsigned room = unsigned(std::min<size_t>(InflateBlock, WriteBlock - gathered));
            z.avail_out = room;
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_STREAM_ERROR ||
                rc == Z_MEM_ERROR)
                raise(QStringLiteral("Archiv %1 ist beschädigt (%2).")
                          .arg(archive,
                               z.msg ? QString::fromLatin1(z.msg) : QStringLiteral("error")));
            const unsigned produced = room - z.avail_out;
            written += produced;
            gathered += produced;
            if (written > maxSize)
                raise(QStringLiteral("Archiv %1 ergibt mehr als %2 Bytes.")
                          .arg(archive)
                          .arg(maxSize));
            if (rc == Z_STREAM_END) {
                streamEnded = true;
                break;
            }
        } while (z.avail_out == 0);
    }
    writeAll(temp.fd(), output.get(), gathered, destination);
    char extra;
    if (z.avail_in > 0 || in.read(&extra, 1) > 0)
        raise(QStringLiteral("Archiv %1 hat Daten nach dem Ende des zlib-Stroms.").arg(archive));

    if (!temp.Commit())
        raise(QStringLiteral("%1 kann nicht geschrieben werden: %2")
                  .arg(destination, systemError(errno)));
    if (callbacks.status) callbacks.status(QStringLiteral("Bereit"));
    return written;
}
