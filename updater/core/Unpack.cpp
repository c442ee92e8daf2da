#include "Unpack.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>
#include <zlib.h>

#include "SafeFile.h"

namespace {

constexpr qint64 ReadBlock = 65536;
constexpr unsigned InflateBlock = 4096;
// Inflated blocks are gathered into writes of this size: one system call per 4096 bytes cost
// more than the inflating.
constexpr size_t WriteBlock = 1024 * 1024;
// Gathered blocks in flight between the inflating and the writing thread.
constexpr int WriteBuffers = 4;

[[noreturn]] void raise(const QString& text) {
    throw std::runtime_error(text.toStdString());
}

QString systemError(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}

// Writes the gathered blocks on a thread of its own, in the order they are handed over, and sums
// their check value: copying them into the file system and the summing cost about as much as
// inflating them, and now run beside it. The thread touches only the file and the buffers.
class BlockWriter {
public:
    explicit BlockWriter(SafeFile::TempFileBeside& file) : file_(file) {
        for (int i = 0; i < WriteBuffers; ++i) {
            buffers_.emplace_back(new char[WriteBlock]);
            free_.push_back(buffers_.back().get());
        }
        thread_ = std::thread([this] { run(); });
    }
    // Whatever is still queued is dropped: the file is given up then.
    ~BlockWriter() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    // A buffer of WriteBlock bytes to fill; waits while all are queued.
    char* Free() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty(); });
        char* b = free_.front();
        free_.pop_front();
        return b;
    }
    // Queues the first n bytes of a buffer from Free(). Returns the errno of a write that
    // failed so far, else 0.
    int Hand(char* buffer, size_t n) {
        {
            const std::lock_guard lock(mutex_);
            queued_.push_back({buffer, n});
        }
        changed_.notify_all();
        const std::lock_guard lock(mutex_);
        return error_;
    }
    // Waits until everything queued is written; the errno of the first failed write, else 0.
    int Finish() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return queued_.empty() && !writing_; });
        return error_;
    }
    // The zlib check value (Adler-32) of everything written; after Finish.
    uLong Check() const { return check_; }

private:
    struct Block {
        char* data;
        size_t size;
    };
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || !queued_.empty(); });
            if (stop_) return;
            const Block b = queued_.front();
            queued_.pop_front();
            writing_ = true;
            const bool skip = error_ != 0;
            lock.unlock();
            check_ = adler32_z(check_, reinterpret_cast<const Bytef*>(b.data), b.size);
            const bool ok = skip || file_.Write(b.data, b.size);
            const int e = ok ? 0 : (errno != 0 ? errno : EIO);
            lock.lock();
            writing_ = false;
            if (!ok) error_ = e;
            free_.push_back(b.data);
            changed_.notify_all();
        }
    }

    SafeFile::TempFileBeside& file_;
    std::vector<std::unique_ptr<char[]>> buffers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<char*> free_;
    std::deque<Block> queued_;
    bool writing_ = false;
    bool stop_ = false;
    int error_ = 0;
    uLong check_ = adler32(0, nullptr, 0); // by the thread; read after Finish
    std::thread thread_;
};

// Shifts the last bytes of data (n of them) into the four bytes of last.
void keepLast(unsigned char (&last)[4], const unsigned char* data, qint64 n) {
    for (qint64 i = std::max<qint64>(0, n - 4); i < n; ++i) {
        std::memmove(last, last + 1, 3);
        last[3] = data[i];
    }
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
    // The check value is summed by the writer over the blocks it writes, off this thread, and
    // compared with the stream's trailer below; zlib still reads the header and the trailer.
    inflateValidate(&z, 0);
    SafeFile::TempFileBeside temp;
    if (!temp.CreateLikeTarget(destination))
        raise(QStringLiteral("%1 kann nicht angelegt werden: %2")
                  .arg(destination, systemError(errno)));

    std::unique_ptr<char[]> input(new char[ReadBlock]);
    BlockWriter writer(temp); // after temp: it stops before the file is given up
    const auto written = [&](int error) {
        if (error != 0)
            raise(QStringLiteral("%1 kann nicht geschrieben werden: %2")
                      .arg(destination, systemError(error)));
    };
    char* output = writer.Free();
    size_t gathered = 0;
    // The last bytes read before the current block: the trailer may begin there.
    unsigned char before[4] = {};
    qint64 blockSize = 0;
    qint64 readSoFar = 0;
    qint64 unpacked = 0;
    bool streamEnded = false;
    while (!streamEnded) {
        if (z.avail_in == 0) {
            // Before the next read takes the buffer.
            keepLast(before, reinterpret_cast<const unsigned char*>(input.get()), blockSize);
            const qint64 n = in.read(input.get(), ReadBlock);
            if (n < 0)
                raise(QStringLiteral("Archiv %1 kann nicht gelesen werden: %2")
                          .arg(archive, in.errorString()));
            if (n == 0) raise(QStringLiteral("Archiv %1 ist unvollständig.").arg(archive));
            blockSize = n;
            readSoFar += n;
            if (callbacks.progress) callbacks.progress(readSoFar, total);
            z.next_in = reinterpret_cast<Bytef*>(input.get());
            z.avail_in = uInt(n);
        }
        do {
            if (gathered == WriteBlock) {
                written(writer.Hand(output, gathered));
                output = writer.Free();
                gathered = 0;
            }
            z.next_out = reinterpret_cast<Bytef*>(output + gathered);
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
            unpacked += produced;
            gathered += produced;
            if (unpacked > maxSize)
                raise(QStringLiteral("Archiv %1 ergibt mehr als %2 Bytes.")
                          .arg(archive)
                          .arg(maxSize));
            if (rc == Z_STREAM_END) {
                streamEnded = true;
                break;
            }
        } while (z.avail_out == 0);
    }
    written(writer.Hand(output, gathered));
    written(writer.Finish());
    // zlib has taken the trailer, the check value's four bytes, right before next_in.
    keepLast(before, reinterpret_cast<const unsigned char*>(input.get()),
             z.next_in - reinterpret_cast<Bytef*>(input.get()));
    if (((uLong(before[0]) << 24) | (uLong(before[1]) << 16) | (uLong(before[2]) << 8) |
         uLong(before[3])) != writer.Check())
        raise(QStringLiteral("Archiv %1 ist beschädigt (incorrect data check).").arg(archive));
    char extra;
    if (z.avail_in > 0 || in.read(&extra, 1) > 0)
        raise(QStringLiteral("Archiv %1 hat Daten nach dem Ende des zlib-Stroms.").arg(archive));

    if (!temp.Commit())
        raise(QStringLiteral("%1 kann nicht geschrieben werden: %2")
                  .arg(destination, systemError(errno)));
    if (callbacks.status) callbacks.status(QStringLiteral("Bereit"));
    return unpacked;
}
