#include "ZipComponent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "FileNames.h"
#include "Priority.h"
#include "SafeFile.h"
#include "ShellFolders.h"
#include "WorkPool.h"
#include "ZipWriter.h"

#include "TempArchive.h"

namespace {
constexpr qint64 ChunkSize = qint64(1) << 20;
// What a job in flight holds beyond its input: names, buffers, the task's state.
constexpr qint64 JobOverhead = 2048;
// Small files handed to the workers together, so the caller takes the pool's lock and wakes
// workers once per batch and not once per file.
constexpr int PostBatch = 8;
// How long the caller waits for a worker before it lets its window process messages.
constexpr std::chrono::milliseconds WaitTick{25};

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}
} // namespace

// One file on its way into the archive; only the caller's thread touches it.
struct TZipComponent::FileTask {
    QString path;
    qint64 size = 0;   // as found when it was submitted; decides the pieces
    int pieces = 1;    // pieces submitted for it so far
    bool more = false; // further pieces are still to be submitted
    bool held = false; // several pieces, written together once all are read
    bool deflate = true;
    bool encrypt = false;
    bool done = false;  // outcome reported; pieces still in flight are ignored
    bool begun = false; // its local header is written
    struct stat st {};
    qint64 raw = 0;
    qint64 packed = 0;
    quint32 crc = 0;
    QByteArray tail; // the input's last bytes so far, which prime the next piece
    std::unique_ptr<TAesEncryptor> crypt;
    std::vector<QByteArray> heldPieces; // compressed, not yet encrypted
};

// One piece of work for a worker. The worker reads the input half and fills the output half;
// file and done belong to the caller's thread.
struct TZipComponent::PieceJob {
    // input
    QByteArray native;
    QString path;
    qint64 start = 0;
    qint64 length = -1; // -1: the whole file, as large as it is when opened
    bool last = true;
    bool deflate = true;
    QByteArray password; // derive keys (and, for a whole file, encrypt) when not empty
    std::function<bool(const QString&, qint64)> readFault;
    std::shared_ptr<std::atomic<bool>> stop;
    // output
    int openErrno = 0;
    bool notRegular = false;
    int readErrno = 0;
    std::string workError;
    bool shortRead = false;
    struct stat st {};
    QByteArray dictionary, tail, data;
    qint64 raw = 0;
    quint32 crc = 0;
    bool encrypted = false; // data carries salt, verifier and code already
    std::unique_ptr<TAesEncryptor> crypt;
    // caller's side
    std::shared_ptr<FileTask> file;
    std::future<void> done;
    qint64 weight = 0; // input bytes it holds while in flight

    void Work();
    qint64 readAt(int fd, char* into, qint64 n, qint64 offset);
};

// Reads n bytes at offset in chunks; returns the bytes read (fewer at the end of the file) or
// -1 with readErrno set.
qint64 TZipComponent::PieceJob::readAt(int fd, char* into, qint64 n, qint64 offset) {
    qint64 have = 0;
    while (have < n) {
        if (readFault && readFault(path, offset + have)) {
            readErrno = EIO;
            return -1;
        }
        const ssize_t r =
            ::pread(fd, into + have, size_t(qMin(ChunkSize, n - have)), off_t(offset + have));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            readErrno = errno;
            return -1;
        }
        if (r == 0) break;
        have += r;
    }
    return have;
}

void TZipComponent::PieceJob::Work() {
    if (stop->load()) return;
    // Non-blocking, so a FIFO cannot hang the open; regular files ignore the flag.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        openErrno = errno;
        return;
    }
    const SafeFile::UniqueFd guard(fd);
    if (start == 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        notRegular = true;
        return;
    }
    try {
        const qint64 want = length < 0 ? qint64(st.st_size) : length;
        if (start > 0) {
            const qint64 from = qMax<qint64>(0, start - DeflateWindow);
            dictionary.resize(qsizetype(start - from));
            const qint64 r = readAt(fd, dictionary.data(), start - from, from);
            if (r < 0) return;
            dictionary.truncate(qsizetype(r));
        }
        QByteArray input(qsizetype(want), Qt::Uninitialized);
        raw = readAt(fd, input.data(), want, start);
        if (raw < 0) return;
        input.truncate(qsizetype(raw));
        shortRead = raw < want;
        crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(input.constData()), uInt(raw)));
        // Only a piece of a split file primes the next one.
        if (length >= 0)
            tail = raw >= DeflateWindow ? input.right(DeflateWindow)
                                        : (dictionary + input).right(DeflateWindow);
        if (deflate) {
            static thread_local TDeflater deflater;
            deflater.Piece(dictionary, input.constData(), raw, last, data);
            // The output was sized for the worst case; a file waiting for its turn holds
            // only what it packed to.
            if (data.capacity() - data.size() > 4096) data.squeeze();
        } else {
            data = std::move(input);
        }
        if (!password.isEmpty() && (length >= 0 || raw > 0)) {
            crypt = std::make_unique<TAesEncryptor>(password);
            if (length < 0 && raw > 0) {
                // A whole file is encrypted here; the pieces of a large one in order later.
                crypt->Encrypt(data.data(), data.size());
                data = crypt->Header() + data + crypt->Trailer();
                encrypted = true;
                crypt.reset();
            }
        }
    } catch (const std::exception& e) {
        workError = e.what();
    }
}

TZipComponent::TZipComponent()
    : AddStoreSuffixes{QStringLiteral("gif"),  QStringLiteral("png"), QStringLiteral("z"),
                       QStringLiteral("zip"),  QStringLiteral("zoo"), QStringLiteral("arc"),
                       QStringLiteral("lzh"),  QStringLiteral("arj"), QStringLiteral("taz"),
                       QStringLiteral("tgz"),  QStringLiteral("lha"), QStringLiteral("rar"),
                       QStringLiteral("ace"),  QStringLiteral("cab"), QStringLiteral("gz"),
                       QStringLiteral("gzip"), QStringLiteral("jar"), QStringLiteral("jpg"),
                       QStringLiteral("jpeg"), QStringLiteral("7z"),  QStringLiteral("mp3"),
                       QStringLiteral("wmv"),  QStringLiteral("wma"), QStringLiteral("dvr"),
                       QStringLiteral("avi")} {}

TZipComponent::~TZipComponent() {
    Discard();
}

qint64 ProgressScaleFor(qint64 totalBytes) {
    if (totalBytes <= 1000) return 1;
    return (totalBytes + 999) / 1000;
}

QString TZipComponent::TempFileName(const QString& target) {
    return TempArchiveName(target);
}

void TZipComponent::progress(TZMProgressKind kind, const QString& name, qint64 total,
                             qint64 written) {
    if (!OnProgress) return;
    TZMProgressDetails d;
    d.Kind = kind;
    d.ItemName = name;
    d.TotalSize = total;
    d.Written = written;
    OnProgress(d);
}

void TZipComponent::message(const QString& text) {
    if (OnMessage) OnMessage(TZMMessageKind::Problem, text);
}

void TZipComponent::open() {
    Discard();
    tempName_ = TempFileName(ZipFileName);
    const QByteArray native = QFile::encodeName(tempName_);
    // A leftover of an interrupted run is replaced by a new file: writing into it would reach
    // whatever a link under that name leads to, and keep the leftover's permissions.
    ::unlink(native.constData());
    // Owner-only from its creation: until the commit gives it its final mode, nobody else may
    // open it (a reader who opened it earlier would keep reading whatever follows).
    if (!temp_.CreateAt(ZipFileName, tempName_, 0600)) {
        const int err = errno;
        tempName_.clear();
        writeError_ = QStringLiteral("Kann ") + TempFileName(ZipFileName) +
                      QStringLiteral(" nicht anlegen: ") + errnoText(err);
        throw std::runtime_error(writeError_.toStdString());
    }
    const int threads = Threads > 0 ? Threads : TWorkPool::CoreCount();
    pool_ = std::make_unique<TWorkPool>(threads);
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, 0);
    if (errno != 0) nice = 0;
    // Lowered workers need no way back: the pool ends with this stream.
    if (LowPriority) nice = qMax(nice, Priority::IdleNice);
    pool_->SetNice(nice);
    // Many small files in flight keep every worker busy even when one of them is slowed down
    // (the oldest file is the one waited for, and entries go out in order). Only the bytes
    // bound the queue: a count of files held the workers up behind one slow file while the
    // memory was far from its bound.
    maxInFlight_ = MaxInFlight > 0 ? MaxInFlight : std::numeric_limits<int>::max();
    maxBytesInFlight_ = qMax(8 * threads, 16) * qMax<qint64>(PieceSize, 4096);
    // The archive is written on a thread of its own, so this thread only frames the entries;
    // with the read hook everything stays in this thread and in order, as the hook expects.
    writer_ = std::make_unique<TZipWriter>(temp_.fd(), !ReadFault);
    openTarget_ = ZipFileName;
    broken_ = false;
    brokenReason_.clear();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    cancelled_ = false; // a new stream begins uncancelled
    SuccessCnt = 0;
}

void TZipComponent::Cancel() {
    cancelled_ = true;
    if (stop_) stop_->store(true);
}

void TZipComponent::Discard() {
    if (stop_) stop_->store(true);
    for (const auto& job : pending_)
        job->file.reset();
    pending_.clear();
    bytesInFlight_ = 0;
    pool_.reset();
    writer_.reset();
    temp_.Discard();
    tempName_.clear();
    openTarget_.clear();
    broken_ = false;
    brokenReason_.clear();
    writeError_.clear();
}

void TZipComponent::Commit() {
    if (writer_) Drain();
    if (!writeError_.isEmpty()) {
        // An archive that lost entries to write errors must not replace the previous one.
        const QString why = writeError_;
        Discard();
        throw std::runtime_error(why.toStdString());
    }
    if (!writer_) return;
    try {
        if (broken_)
            throw std::runtime_error(brokenReason_.isEmpty() ? std::string("Archiv unvollständig")
                                                             : brokenReason_.toStdString());
        try {
            writer_->Finish();
        } catch (const TZipWriteError& e) {
            throw std::runtime_error((QStringLiteral("Kann ") + tempName_ +
                                      QStringLiteral(" nicht schreiben: ") +
                                      QString::fromLocal8Bit(e.what()))
                                         .toStdString());
        }
        writer_.reset();
        // An encrypted archive stays owner-only in any case.
        struct stat old {};
        const auto regular = [&old](const QString& path) {
            return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &old) == 0 &&
                   S_ISREG(old.st_mode);
        };
        // A new archive gets the mode any new file gets.
        mode_t mode = 0666 & ~ProcessUmask();
        if (regular(openTarget_) || regular(PermissionsFrom)) mode = old.st_mode & 0777;
        if (!Password.isEmpty() && (AddOptions & AddEncrypt)) mode &= 0700;
        ::fchmod(temp_.fd(), mode);
        if (BeforeCommit) {
            // On disk before anything else moves for it: a write error that shows only at the
            // flush must leave the older archives where they are.
            if (::fsync(temp_.fd()) != 0)
                throw std::runtime_error((QStringLiteral("Kann ") + tempName_ +
                                          QStringLiteral(" nicht schreiben: ") + errnoText(errno))
                                             .toStdString());
            BeforeCommit();
        }
        if (!temp_.Commit())
            throw std::runtime_error((QStringLiteral("Kann ") + tempName_ +
                                      QStringLiteral(" nicht abschließen als ") + openTarget_ +
                                      QStringLiteral(": ") + errnoText(errno))
                                         .toStdString());
        tempName_.clear();
        openTarget_.clear();
        pool_.reset();
    } catch (...) {
        Discard();
        throw;
    }
}

qint64 TZipComponent::ZipFileSize() const {
    if (writer_) return writer_->Offset();
    return QFileInfo(ZipFileName).size();
}

bool TZipComponent::storedSuffix(const QString& path) const {
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < slash) return false;
    return AddStoreSuffixes.contains(path.mid(dot + 1).toLower());
}

QString TZipComponent::entryName(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    if (!(AddOptions & AddDirNames)) return name;
    const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    if (folder != lastFolder_) {
        lastFolder_ = folder;
        lastFolderCanonical_ = CanonicalFilePath(folder);
        if (lastFolderCanonical_.isEmpty()) lastFolderCanonical_ = QDir::cleanPath(folder);
    }
    // Compare resolved forms, as links may lead to the base folder or the file's.
    const QString base = BaseFolder.isEmpty() ? QDir::currentPath() : BaseFolder;
    if (base != lastBase_) {
        lastBase_ = base;
        lastBaseCanonical_ = CanonicalFilePath(base);
        if (lastBaseCanonical_.isEmpty()) lastBaseCanonical_ = QDir::cleanPath(base);
        lastBaseCanonical_ = ShellFolders::IncludeTrailingPathDelimiter(lastBaseCanonical_);
    }
    const QString full = lastFolderCanonical_ + u'/' + name;
    if (full.startsWith(lastBaseCanonical_)) return full.mid(lastBaseCanonical_.size());
    QString rel = full;
    while (rel.startsWith(u'/'))
        rel.remove(0, 1);
    return rel;
}

void TZipComponent::Add() {
    if (cancelled_) dropPending();
    cancelled_ = false;
    if (stop_ && stop_->load() && pending_.empty())
        stop_ = std::make_shared<std::atomic<bool>>(false);
    SuccessCnt = 0;
    const QStringList files = FSpecArgs;
    inlineWork_ = files.size() == 1;
    try {
        for (const QString& path : files) {
            if (cancelled_) break;
            Submit(path);
        }
        Drain();
    } catch (...) {
        inlineWork_ = false;
        throw;
    }
    inlineWork_ = false;
    FSpecArgs.clear();
}

void TZipComponent::Submit(const QString& path, qint64 size) {
    if (!writer_ || openTarget_ != ZipFileName) open();
    auto f = std::make_shared<FileTask>();
    f->path = path;
    // A broken stream takes nothing more until it is discarded or the target changes.
    if (stopped()) {
        finishFile(*f, TZipFileOutcome::Dropped);
        return;
    }
    const QByteArray native = EncodeFileName(path);
    struct stat st {};
    if (size >= 0)
        f->size = size;
    else if (::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode))
        f->size = st.st_size;
    const qint64 piece = qMax<qint64>(PieceSize, 4096);
    const qint64 count = f->size > piece ? (f->size + piece - 1) / piece : 1;
    f->held = count > 1 && f->size <= WholeReadLimit;
    f->deflate = !storedSuffix(path);
    f->encrypt = !Password.isEmpty() && (AddOptions & AddEncrypt);
    const QByteArray password = f->encrypt ? Password.toUtf8() : QByteArray();
    f->pieces = 0;
    f->more = true;
    for (qint64 k = 0; k < count; ++k) {
        try {
            while (!pending_.empty() &&
                   (int(pending_.size()) >= maxInFlight_ || bytesInFlight_ >= maxBytesInFlight_))
                takeInOne();
        } catch (...) {
            if (!f->done) finishFile(*f, TZipFileOutcome::Dropped);
            throw;
        }
        if (f->done || stopped()) break;
        auto job = std::make_shared<PieceJob>();
        job->native = native;
        job->path = path;
        if (count > 1) {
            job->start = k * piece;
            job->length = k + 1 < count ? piece : f->size - job->start;
        }
        job->last = k + 1 == count;
        job->deflate = f->deflate;
        if (k == 0) job->password = password;
        job->readFault = ReadFault;
        job->stop = stop_;
        job->file = f;
        // Every job also costs its bookkeeping and output buffer, so that even empty files
        // are bounded by the bytes.
        job->weight = (count > 1 ? job->length : qMin(f->size, piece)) + JobOverhead;
        // One small file that is waited for at once: handing it to a worker only adds the
        // switch between the threads. With the read hook every piece is read here.
        if (ReadFault || (count == 1 && pending_.empty() && inlineWork_)) {
            job->Work();
            std::promise<void> ready;
            ready.set_value();
            job->done = ready.get_future();
            if (cancelled_ && !broken_) {
                // Cancelled while this file was read (through the read hook): as between two
                // files, what was read up to here is still completed; a file whose further
                // pieces were not read cannot be.
                pending_.push_back(job);
                bytesInFlight_ += job->weight;
                while (!pending_.empty())
                    takeInOne(true);
                if (!f->done) {
                    if (f->begun) broken_ = true;
                    finishFile(*f, f->begun ? TZipFileOutcome::Broken : TZipFileOutcome::Dropped);
                }
                f->more = false;
                break;
            }
        } else {
            // The task holds its job weakly: a dropped job is simply not done. Small files go
            // to the workers in batches (see takeInOne), a piece of a large one at once.
            job->done = pool_->Stage([weak = std::weak_ptr<PieceJob>(job)] {
                if (const auto j = weak.lock()) j->Work();
            });
            if (pool_->Staged() >= PostBatch || count > 1) pool_->Flush();
        }
        pending_.push_back(job);
        bytesInFlight_ += job->weight;
        ++f->pieces;
        f->more = !job->last;
    }
    if (f->more && !f->done) {
        // Cut short by a cancel or a broken stream.
        f->more = false;
        if (f->pieces == 0)
            finishFile(*f, TZipFileOutcome::Dropped);
        else
            dropPending();
    }
}

void TZipComponent::Drain() {
    while (!pending_.empty())
        takeInOne();
}

bool TZipComponent::stopped() {
    if (!cancelled_ && !broken_) return false;
    dropPending();
    return true;
}

void TZipComponent::dropPending() {
    if (stop_) stop_->store(true);
    std::deque<std::shared_ptr<PieceJob>> jobs;
    jobs.swap(pending_);
    bytesInFlight_ = 0;
    for (const auto& job : jobs) {
        const std::shared_ptr<FileTask> f = std::move(job->file);
        if (!f || f->done) continue;
        if (f->begun) {
            // Its entry is cut off, so this stream can only be discarded.
            broken_ = true;
            finishFile(*f, TZipFileOutcome::Broken);
        } else {
            finishFile(*f, TZipFileOutcome::Dropped);
        }
    }
}

void TZipComponent::finishFile(FileTask& f, TZipFileOutcome outcome) {
    f.done = true;
    f.heldPieces.clear();
    f.crypt.reset();
    if (outcome == TZipFileOutcome::Added) ++SuccessCnt;
    if (OnFileDone) OnFileDone(f.path, outcome);
}

void TZipComponent::takeInOne(bool evenIfCancelled) {
    if (!evenIfCancelled && stopped()) return;
    const std::shared_ptr<PieceJob> job = pending_.front();
    // Whatever is waited for must have reached the workers.
    if (pool_) pool_->Flush();
    if (OnWaiting) {
        // The job stays queued meanwhile, so a cancel from the callback drops it too.
        while (job->done.wait_for(WaitTick) == std::future_status::timeout) {
            OnWaiting();
            if (!evenIfCancelled && stopped()) return;
        }
    }
    pending_.pop_front();
    bytesInFlight_ -= job->weight;
    job->done.wait();
    const std::shared_ptr<FileTask> f = std::move(job->file);
    if (f->done) return;
    try {
        takeIn(*f, *job);
    } catch (const TZipWriteError& e) {
        writeError_ = QStringLiteral("Kann ") + tempName_ + QStringLiteral(" nicht schreiben: ") +
                      QString::fromLocal8Bit(e.what());
        broken_ = true; // without a reason: no file is to blame
        finishFile(*f, TZipFileOutcome::Dropped);
        dropPending();
        throw std::runtime_error(writeError_.toStdString());
    }
}

void TZipComponent::readFailed(FileTask& f, const QString& why) {
    const QString text =
        QStringLiteral("Lesefehler in ") + LogFileName(f.path) + QStringLiteral(": ") + why;
    message(text);
    if (f.begun) {
        // The entry is already under way and cannot be taken back: padding it would store
        // content that is not the file's, which a restore would write over a good copy.
        broken_ = true;
        brokenReason_ = text;
        finishFile(f, TZipFileOutcome::Broken);
    } else {
        finishFile(f, TZipFileOutcome::Skipped);
    }
}

void TZipComponent::takeIn(FileTask& f, PieceJob& job) {
    const bool first = job.start == 0;
    if (first) {
        if (job.openErrno != 0) {
            message(QStringLiteral("Kann ") + LogFileName(f.path) +
                    QStringLiteral(" nicht öffnen: ") + errnoText(job.openErrno));
            finishFile(f, TZipFileOutcome::Skipped);
            return;
        }
        if (job.notRegular) {
            message(QStringLiteral("Überspringe ") + LogFileName(f.path) +
                    QStringLiteral(", keine reguläre Datei"));
            finishFile(f, TZipFileOutcome::Skipped);
            return;
        }
        f.st = job.st;
        f.crypt = std::move(job.crypt);
        progress(TZMProgressKind::NewItem, f.path, f.st.st_size, 0);
    }
    if (!job.workError.empty()) return readFailed(f, QString::fromStdString(job.workError));
    if (job.openErrno != 0) return readFailed(f, errnoText(job.openErrno));
    if (job.readErrno != 0) return readFailed(f, errnoText(job.readErrno));
    // A piece is primed with what its reader found before it; if that is not what the piece
    // before it read, the file changed under us and the joined stream would not decompress.
    if (!first && job.dictionary != f.tail)
        return readFailed(f, QStringLiteral("Datei während des Lesens geändert"));
    if (job.length < 0) {
        // The whole file in one piece, ready to write.
        const bool encrypted = job.encrypted;
        TZipEntryHeader h;
        h.Name = EncodeFileName(entryName(f.path));
        h.ModTime = f.st.st_mtim.tv_sec;
        h.Mode = S_IFREG | (f.st.st_mode & 07777);
        h.Deflated = f.deflate;
        h.Encrypted = encrypted;
        h.Size = job.raw;
        writer_->BeginEntry(h);
        writer_->Write(job.data);
        writer_->EndEntry(job.crc, job.data.size(), job.raw);
        progress(TZMProgressKind::Progress, f.path, f.st.st_size, job.raw);
        finishFile(f, TZipFileOutcome::Added);
        return;
    }
    f.crc = first ? job.crc : quint32(crc32_combine(f.crc, job.crc, job.raw));
    f.raw += job.raw;
    f.tail = std::move(job.tail);
    const bool end = job.last || job.shortRead;
    if (f.held) {
        job.tail.clear();
        job.dictionary.clear();
        if (end && !job.last && f.deflate) {
            // The file is shorter than it was: the entry holds what was there, its deflate
            // stream closed by an empty final block. A stored entry holds the bytes alone.
            job.data.append("\x03\x00", 2);
        }
        progress(TZMProgressKind::Progress, f.path, f.st.st_size, f.raw);
        f.heldPieces.push_back(std::move(job.data));
        if (end) writeHeld(f);
        return;
    }
    if (job.shortRead) return readFailed(f, QStringLiteral("Datei verkürzt"));
    writeStreamed(f, job);
}

void TZipComponent::writeHeld(FileTask& f) {
    TZipEntryHeader h;
    h.Name = EncodeFileName(entryName(f.path));
    h.ModTime = f.st.st_mtim.tv_sec;
    h.Mode = S_IFREG | (f.st.st_mode & 07777);
    h.Deflated = f.deflate;
    h.Encrypted = f.crypt && f.raw > 0;
    h.Size = f.raw;
    writer_->BeginEntry(h);
    qint64 packed = 0;
    if (h.Encrypted) {
        const QByteArray head = f.crypt->Header();
        writer_->Write(head);
        packed += head.size();
    }
    for (QByteArray& d : f.heldPieces) {
        if (h.Encrypted) f.crypt->Encrypt(d.data(), d.size());
        writer_->Write(d);
        packed += d.size();
        d = QByteArray();
    }
    if (h.Encrypted) {
        const QByteArray code = f.crypt->Trailer();
        writer_->Write(code);
        packed += code.size();
    }
    writer_->EndEntry(f.crc, packed, f.raw);
    finishFile(f, TZipFileOutcome::Added);
}

void TZipComponent::writeStreamed(FileTask& f, PieceJob& job) {
    if (!f.begun) {
        TZipEntryHeader h;
        h.Name = EncodeFileName(entryName(f.path));
        h.ModTime = f.st.st_mtim.tv_sec;
        h.Mode = S_IFREG | (f.st.st_mode & 07777);
        h.Deflated = f.deflate;
        h.Encrypted = f.crypt != nullptr;
        h.Size = f.size;
        writer_->BeginEntry(h);
        f.begun = true;
        if (f.crypt) {
            const QByteArray head = f.crypt->Header();
            writer_->Write(head);
            f.packed += head.size();
        }
    }
    if (f.crypt) f.crypt->Encrypt(job.data.data(), job.data.size());
    writer_->Write(job.data);
    f.packed += job.data.size();
    job.data = QByteArray();
    progress(TZMProgressKind::Progress, f.path, f.st.st_size, f.raw);
    if (!job.last) return;
    if (f.crypt) {
        const QByteArray code = f.crypt->Trailer();
        writer_->Write(code);
        f.packed += code.size();
    }
    writer_->EndEntry(f.crc, f.packed, f.raw);
    f.begun = false;
    finishFile(f, TZipFileOutcome::Added);
}
