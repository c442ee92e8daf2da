#include "ZipComponent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "TempArchive.h"

namespace {
constexpr qint64 ChunkSize = qint64(1) << 20;

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Closes a file descriptor when the scope ends.
struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0) ::close(fd);
    }
};
} // namespace

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
    if (OnMessage) OnMessage(0, text);
}

void TZipComponent::fail(const QString& what) {
    QString text = what;
    if (arc_) {
        const char* s = archive_error_string(arc_);
        if (s) text += QStringLiteral(": ") + QString::fromUtf8(s);
        // The library's text is only "Write error"; the user needs the system's reason.
        if (const int err = archive_errno(arc_); err > 0)
            text += QStringLiteral(": ") + errnoText(err);
    }
    writeError_ = text;
    throw std::runtime_error(text.toStdString());
}

void TZipComponent::open() {
    Discard();
    tempName_ = TempFileName(ZipFileName);
    const QByteArray native = QFile::encodeName(tempName_);
    // A leftover of an interrupted run is simply overwritten.
    fd_ = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        const int err = errno;
        tempName_.clear();
        writeError_ = QStringLiteral("Kann ") + TempFileName(ZipFileName) +
                      QStringLiteral(" nicht anlegen: ") + errnoText(err);
        throw std::runtime_error(writeError_.toStdString());
    }
    if (!Password.isEmpty() && (AddOptions & AddEncrypt)) ::fchmod(fd_, 0600);
    arc_ = archive_write_new();
    openTarget_ = ZipFileName;
    written_ = 0;
    broken_ = false;
    brokenReason_.clear();
    if (archive_write_set_format_zip(arc_) != ARCHIVE_OK) fail(QStringLiteral("ZIP-Format"));
    // Names are stored as UTF-8 with the UTF-8 flag, whatever the process locale.
    archive_write_set_format_option(arc_, "zip", "hdrcharset", "UTF-8");
    if ((AddOptions & AddEncrypt) && !Password.isEmpty()) {
        if (archive_write_set_format_option(arc_, "zip", "encryption", "aes256") != ARCHIVE_OK)
            fail(QStringLiteral("AES-256-Verschlüsselung nicht verfügbar"));
        if (archive_write_set_passphrase(arc_, Password.toUtf8().constData()) != ARCHIVE_OK)
            fail(QStringLiteral("Passwort"));
    }
    archive_write_set_bytes_per_block(arc_, 64 * 1024);
    archive_write_set_bytes_in_last_block(arc_, 1);
    if (archive_write_open_fd(arc_, fd_) != ARCHIVE_OK)
        fail(QStringLiteral("Kann ") + tempName_ + QStringLiteral(" nicht schreiben"));
}

void TZipComponent::closeArchive(bool writeDirectory) {
    if (arc_) {
        if (writeDirectory) {
            const int r = archive_write_close(arc_);
            if (r != ARCHIVE_OK) {
                QString why =
                    QString::fromUtf8(archive_error_string(arc_) ? archive_error_string(arc_) : "");
                if (const int err = archive_errno(arc_); err > 0)
                    why += QStringLiteral(": ") + errnoText(err);
                archive_write_free(arc_);
                arc_ = nullptr;
                throw std::runtime_error((QStringLiteral("Kann ") + tempName_ +
                                          QStringLiteral(" nicht abschließen: ") + why)
                                             .toStdString());
            }
        }
        archive_write_free(arc_);
        arc_ = nullptr;
    }
}

void TZipComponent::Discard() {
    try {
        closeArchive(false);
    } catch (...) {
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempName_.isEmpty()) QFile::remove(tempName_);
    tempName_.clear();
    openTarget_.clear();
    written_ = 0;
    broken_ = false;
    brokenReason_.clear();
    writeError_.clear();
    buffer_ = QByteArray();
    malloc_trim(0);
}

void TZipComponent::Commit() {
    if (!writeError_.isEmpty()) {
        // An archive that lost entries to write errors must not replace the previous one.
        const QString why = writeError_;
        Discard();
        throw std::runtime_error(why.toStdString());
    }
    if (!arc_) return;
    try {
        if (broken_)
            throw std::runtime_error(brokenReason_.isEmpty() ? std::string("Archiv unvollständig")
                                                             : brokenReason_.toStdString());
        closeArchive(true);
        if (::fsync(fd_) != 0)
            throw std::runtime_error((QStringLiteral("Kann ") + tempName_ +
                                      QStringLiteral(" nicht schreiben: ") + errnoText(errno))
                                         .toStdString());
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            throw std::runtime_error((QStringLiteral("Kann ") + tempName_ +
                                      QStringLiteral(" nicht schreiben: ") + errnoText(errno))
                                         .toStdString());
        const QByteArray from = QFile::encodeName(tempName_);
        const QByteArray to = QFile::encodeName(openTarget_);
        if (::rename(from.constData(), to.constData()) != 0)
            throw std::runtime_error((QStringLiteral("Kann ") + tempName_ +
                                      QStringLiteral(" nicht umbenennen in ") + openTarget_ +
                                      QStringLiteral(": ") + errnoText(errno))
                                         .toStdString());
        // The rename itself must reach the disk too.
        const QByteArray dir = QFile::encodeName(QFileInfo(openTarget_).absolutePath());
        const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
        tempName_.clear();
        openTarget_.clear();
        buffer_ = QByteArray();
        malloc_trim(0);
    } catch (...) {
        Discard();
        throw;
    }
}

qint64 TZipComponent::ZipFileSize() const {
    if (arc_) return written_;
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
    if (!BaseFolder.isEmpty() && path.startsWith(BaseFolder)) return path.mid(BaseFolder.size());
    const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    if (folder != lastFolder_) {
        lastFolder_ = folder;
        lastFolderCanonical_ = QFileInfo(folder).canonicalFilePath();
        if (lastFolderCanonical_.isEmpty()) lastFolderCanonical_ = QDir::cleanPath(folder);
    }
    // Compare resolved forms, as links may lead to the current folder or the file's.
    const QString cwd = BaseFolder.isEmpty() ? QDir::currentPath() : BaseFolder;
    if (cwd != lastCwd_) {
        lastCwd_ = cwd;
        lastCwdCanonical_ = QDir(cwd).canonicalPath();
        if (!lastCwdCanonical_.endsWith(u'/')) lastCwdCanonical_ += u'/';
    }
    const QString full = lastFolderCanonical_ + u'/' + name;
    if (full.startsWith(lastCwdCanonical_)) return full.mid(lastCwdCanonical_.size());
    QString rel = full;
    while (rel.startsWith(u'/'))
        rel.remove(0, 1);
    return rel;
}

void TZipComponent::Add() {
    cancelled_ = false;
    SuccessCnt = 0;
    const QStringList files = FSpecArgs;
    for (const QString& path : files) {
        if (cancelled_) break;
        if (arc_ && broken_ && openTarget_ == ZipFileName) break; // nothing more goes in
        if (!arc_ || openTarget_ != ZipFileName) open();
        if (addOne(path)) ++SuccessCnt;
    }
    FSpecArgs.clear();
}

// Returns whether the file became a complete entry.
bool TZipComponent::addOne(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // Non-blocking, so a FIFO cannot hang the open; regular files ignore the flag.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        message(QStringLiteral("Kann ") + path + QStringLiteral(" nicht öffnen: ") +
                errnoText(errno));
        return false;
    }
    FdGuard guard{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        message(QStringLiteral("Überspringe ") + path + QStringLiteral(", keine reguläre Datei"));
        return false;
    }
    const qint64 size = st.st_size;
    progress(TZMProgressKind::NewItem, path, size, 0);

    // Reads up to n bytes at offset done; -1 with errno on failure.
    auto readSome = [&](char* into, qint64 n, qint64 done) -> qint64 {
        if (ReadFault && ReadFault(path, done)) {
            errno = EIO;
            return -1;
        }
        for (;;) {
            const ssize_t r = ::read(fd, into, size_t(n));
            if (r < 0 && errno == EINTR) continue;
            return r;
        }
    };

    const bool whole = size <= WholeReadLimit;
    qint64 have = 0;
    if (whole) {
        buffer_.resize(qsizetype(size));
        while (have < size) {
            const qint64 r = readSome(buffer_.data() + have, qMin(ChunkSize, size - have), have);
            if (r < 0) {
                message(QStringLiteral("Lesefehler in ") + path + QStringLiteral(": ") +
                        errnoText(errno));
                return false;
            }
            if (r == 0) break; // shrunk since the scan: take what is there
            have += r;
        }
    }
    const qint64 entrySize = whole ? have : size;

    archive_entry* e = archive_entry_new();
    struct EntryGuard {
        archive_entry* e;
        ~EntryGuard() { archive_entry_free(e); }
    } eg{e};
    archive_entry_set_pathname_utf8(e, entryName(path).toUtf8().constData());
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, st.st_mode & 07777);
    archive_entry_set_size(e, entrySize);
    archive_entry_set_mtime(e, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    if (storedSuffix(path))
        archive_write_zip_set_compression_store(arc_);
    else
        archive_write_zip_set_compression_deflate(arc_);
    if (archive_write_header(arc_, e) < ARCHIVE_WARN) {
        broken_ = true;
        fail(QStringLiteral("Kann ") + tempName_ + QStringLiteral(" nicht schreiben"));
    }
    auto put = [&](const char* data, qint64 n) {
        if (n == 0) return;
        if (archive_write_data(arc_, data, size_t(n)) != la_ssize_t(n)) {
            broken_ = true;
            fail(QStringLiteral("Kann ") + tempName_ + QStringLiteral(" nicht schreiben"));
        }
    };

    if (whole) {
        for (qint64 off = 0; off < have; off += ChunkSize) {
            const qint64 n = qMin(ChunkSize, have - off);
            put(buffer_.constData() + off, n);
            progress(TZMProgressKind::Progress, path, size, off + n);
        }
        if (have == 0) progress(TZMProgressKind::Progress, path, size, 0);
    } else {
        buffer_.resize(qsizetype(ChunkSize));
        while (have < size) {
            if (cancelled_) {
                // The entry stays cut off, so this stream can only be discarded.
                broken_ = true;
                return false;
            }
            const qint64 r = readSome(buffer_.data(), qMin(ChunkSize, size - have), have);
            if (r <= 0) {
                // The entry is already under way and cannot be taken back: padding it would
                // store content that is not the file's, which a restore would write over a
                // good copy. The stream can only be discarded now.
                const QString why = r < 0 ? errnoText(errno) : QStringLiteral("Datei verkürzt");
                message(QStringLiteral("Lesefehler in ") + path + QStringLiteral(": ") + why);
                broken_ = true;
                brokenReason_ =
                    QStringLiteral("Lesefehler in ") + path + QStringLiteral(": ") + why;
                return false;
            }
            put(buffer_.constData(), r);
            have += r;
            progress(TZMProgressKind::Progress, path, size, have);
        }
        if (size == 0) progress(TZMProgressKind::Progress, path, size, 0);
    }
    if (archive_write_finish_entry(arc_) < ARCHIVE_WARN) {
        broken_ = true;
        fail(QStringLiteral("Kann ") + tempName_ + QStringLiteral(" nicht schreiben"));
    }
    written_ = archive_filter_bytes(arc_, -1);
    if (buffer_.size() > ChunkSize) buffer_ = QByteArray(); // keep no large file in memory
    return true;
}
