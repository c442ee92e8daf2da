#include "Unpack.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <unistd.h>
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

// Everything an unpack holds, released on every way out.
struct UnpackRun {
    const UnpackCallbacks& callbacks;
    z_stream z{};
    bool zOpen = false;
    int fd = -1;
    QByteArray tempPath;

    ~UnpackRun() {
        if (fd >= 0) ::close(fd);
        if (!tempPath.isEmpty()) ::unlink(tempPath.constData());
        if (zOpen) inflateEnd(&z);
        if (callbacks.progress) callbacks.progress(0, 0);
    }
};

void writeAll(int fd, const char* p, size_t n, const QString& destination) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            raise(QStringLiteral("%1 kann nicht geschrieben werden: %2")
                      .arg(destination, systemError(errno)));
        }
        p += w;
        n -= size_t(w);
    }
}

} // namespace

qint64 UnpackFile(const QString& source, const QString& destination,
                  const UnpackCallbacks& callbacks, qint64 maxSize) {
    const QString archive = QFileInfo(source).fileName();
    if (callbacks.status)
        callbacks.status(QStringLiteral("Entpacke ") + QFileInfo(destination).fileName());
    UnpackRun run{callbacks, {}, false, -1, {}};

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        raise(QStringLiteral("Archiv %1 kann nicht geöffnet werden: %2")
                  .arg(archive, in.errorString()));
    const qint64 total = in.size();
    if (callbacks.progress) callbacks.progress(0, total);

    if (inflateInit(&run.z) != Z_OK)
        raise(QStringLiteral("Archiv %1: zlib fehlt Speicher").arg(archive));
    run.zOpen = true;
    run.fd = SafeFile::CreateTempBeside(destination, &run.tempPath);
    if (run.fd < 0)
        raise(QStringLiteral("%1 kann nicht angelegt werden: %2")
                  .arg(destination, systemError(errno)));

    std::unique_ptr<char[]> input(new char[ReadBlock]);
    std::unique_ptr<char[]> output(new char[WriteBlock]);
    size_t gathered = 0;
    qint64 readSoFar = 0;
    qint64 written = 0;
    bool ended = false;
    while (!ended) {
        if (run.z.avail_in == 0) {
            const qint64 n = in.read(input.get(), ReadBlock);
            if (n < 0)
                raise(QStringLiteral("Archiv %1 kann nicht gelesen werden: %2")
                          .arg(archive, in.errorString()));
            if (n == 0) raise(QStringLiteral("Archiv %1 ist unvollständig.").arg(archive));
            readSoFar += n;
            if (callbacks.progress) callbacks.progress(readSoFar, total);
            run.z.next_in = reinterpret_cast<Bytef*>(input.get());
            run.z.avail_in = uInt(n);
        }
        do {
            if (gathered == WriteBlock) {
                writeAll(run.fd, output.get(), gathered, destination);
                gathered = 0;
            }
            run.z.next_out = reinterpret_cast<Bytef*>(output.get() + gathered);
            // A short block earlier leaves less than a whole one before the end of the buffer.
            const unsigned room = unsigned(std::min<size_t>(InflateBlock, WriteBlock - gathered));
            run.z.avail_out = room;
            const int rc = inflate(&run.z, Z_NO_FLUSH);
            if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_STREAM_ERROR ||
                rc == Z_MEM_ERROR)
                raise(QStringLiteral("Archiv %1 ist beschädigt (%2).")
                          .arg(archive, run.z.msg ? QString::fromLatin1(run.z.msg)
                                                  : QStringLiteral("error")));
            const unsigned produced = room - run.z.avail_out;
            written += produced;
            gathered += produced;
            if (written > maxSize)
                raise(QStringLiteral("Archiv %1 ergibt mehr als %2 Bytes.")
                          .arg(archive)
                          .arg(maxSize));
            if (rc == Z_STREAM_END) {
                ended = true;
                break;
            }
        } while (run.z.avail_out == 0);
    }
    writeAll(run.fd, output.get(), gathered, destination);
    char extra;
    if (run.z.avail_in > 0 || in.read(&extra, 1) > 0)
        raise(QStringLiteral("Archiv %1 hat Daten nach dem Ende des zlib-Stroms.").arg(archive));

    const int fd = run.fd;
    run.fd = -1;
    if (!SafeFile::CommitTemp(fd, run.tempPath, QFile::encodeName(destination)))
        raise(QStringLiteral("%1 kann nicht geschrieben werden: %2")
                  .arg(destination, systemError(errno)));
    run.tempPath.clear();
    if (callbacks.status) callbacks.status(QStringLiteral("Bereit"));
    return written;
}
