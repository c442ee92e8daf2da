#include "ZipReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zip.h>
#include <zlib.h>

#include "FileNames.h"
#include "SafeFile.h"

namespace {

QString zipErrorText(int code) {
    zip_error_t err;
    zip_error_init_with_code(&err, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&err));
    zip_error_fini(&err);
    return text;
}

QString zipErrorText(zip_error_t* err) {
    return QString::fromUtf8(zip_error_strerror(err));
}

// Removes the temporary file unless it was renamed into place.
struct TempFile {
    int dirFd = -1;
    QByteArray name;
    int fd = -1;
    bool kept = false;
    ~TempFile() {
        if (fd >= 0) ::close(fd);
        if (!kept && !name.isEmpty()) ::unlinkat(dirFd, name.constData(), 0);
    }
};

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The content of one entry. Entries without a checksum (WinZip AES, second kind) would fail
// the library's checksum comparison at their end: deflated ones are read in packed form
// (still decrypted and authenticated by the library) and inflated here; stored ones are read
// up to their declared size and no further, since the library checks their authentication
// code only together with the checksum.
class EntryStream {
public:
    enum class Mode { Plain, Inflate, StoredNoCrc };
    EntryStream(zip_file_t* zf, Mode mode, qint64 size) : zf_(zf), mode_(mode), left_(size) {
        if (mode_ == Mode::Inflate) {
            zs_ = {};
            inflateInit2(&zs_, -MAX_WBITS);
            in_.resize(64 * 1024);
        }
    }
    ~EntryStream() {
        if (mode_ == Mode::Inflate) inflateEnd(&zs_);
    }
    // Bytes read into out, 0 at the end, -1 on an error (then Error holds why).
    qint64 read(char* out, qint64 max) {
        if (mode_ == Mode::StoredNoCrc) {
            if (left_ <= 0) return 0;
            const qint64 n = fromFile(out, std::min(max, left_));
            if (n > 0) left_ -= n;
            return n;
        }
        if (mode_ == Mode::Plain) return fromFile(out, max);
        if (ended_) return drain();
        zs_.next_out = reinterpret_cast<Bytef*>(out);
        zs_.avail_out = uInt(max);
        while (zs_.avail_out == uInt(max)) {
            if (zs_.avail_in == 0) {
                const qint64 n = fromFile(in_.data(), in_.size());
                if (n < 0) return -1;
                if (n == 0) {
                    Error = QStringLiteral("Daten unvollständig");
                    return -1;
                }
                zs_.next_in = reinterpret_cast<Bytef*>(in_.data());
                zs_.avail_in = uInt(n);
            }
            const int rc = ::inflate(&zs_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                ended_ = true;
                break;
            }
            if (rc != Z_OK) {
                Error = QStringLiteral("Daten beschädigt");
                return -1;
            }
        }
        const qint64 produced = max - zs_.avail_out;
        return produced > 0 ? produced : drain();
    }
    QString Error;

private:
    qint64 fromFile(char* out, qint64 max) {
        const zip_int64_t n = zip_fread(zf_, out, zip_uint64_t(max));
        if (n < 0) Error = zipErrorText(zip_file_get_error(zf_));
        return n;
    }
    // Reads the packed data to its end, so the library checks the authentication code.
    qint64 drain() {
        for (;;) {
            const qint64 n = fromFile(in_.data(), in_.size());
            if (n <= 0) return n;
        }
    }

    zip_file_t* zf_;
    Mode mode_;
    qint64 left_;
    bool ended_ = false;
    z_stream zs_;
    QByteArray in_;
};

// WinZip AES: key length by method; the salt is half as long. Around the data lie the salt
// and a two-byte password check before, a ten-byte authentication code after.
int aesKeyLength(int encryptionMethod) {
    switch (encryptionMethod) {
    case ZIP_EM_AES_128:
        return 16;
    case ZIP_EM_AES_192:
        return 24;
    default:
        return 32;
    }
}
constexpr int AesCheckLength = 2;
constexpr int AesMacLength = 10;

// PBKDF2 with HMAC-SHA1 and 1000 rounds, as WinZip AES derives its keys.
QByteArray aesKeys(const QByteArray& password, const QByteArray& salt, int length) {
    QByteArray out;
    for (quint32 block = 1; out.size() < length; ++block) {
        QByteArray index(4, '\0');
        for (int i = 0; i < 4; ++i)
            index[i] = char(block >> (24 - 8 * i));
        QByteArray u =
            QMessageAuthenticationCode::hash(salt + index, password, QCryptographicHash::Sha1);
        QByteArray t = u;
        for (int round = 1; round < 1000; ++round) {
            u = QMessageAuthenticationCode::hash(u, password, QCryptographicHash::Sha1);
            for (qsizetype j = 0; j < t.size(); ++j)
                t[j] = char(t[j] ^ u[j]);
        }
        out += t;
    }
    return out.left(length);
}

// Reads exactly n bytes (fewer only at an error or the end).
QByteArray readExact(zip_file_t* zf, qint64 n) {
    QByteArray b(n, Qt::Uninitialized);
    qint64 got = 0;
    while (got < n) {
        const zip_int64_t r = zip_fread(zf, b.data() + got, zip_uint64_t(n - got));
        if (r <= 0) break;
        got += r;
    }
    b.truncate(got);
    return b;
}

// Whether the library reads an entry as listed, for all that the extraction goes by. Dates may
// differ in the hour that the clocks' change doubles or leaves out: the C library resolves it
// by what it converted last. The restored file gets the listed date.
bool sameRecord(const std::optional<ZipEntry>& library, const ZipEntry& listed) {
    if (!library) return false;
    ZipEntry e = *library;
    e.ModTime = listed.ModTime;
    e.UtcOffset = listed.UtcOffset;
    return e == listed;
}

bool isAes(int encryptionMethod) {
    return encryptionMethod == ZIP_EM_AES_128 || encryptionMethod == ZIP_EM_AES_192 ||
           encryptionMethod == ZIP_EM_AES_256;
}

// Deflated entries up to this size (packed and unpacked) are inflated in one piece.
constexpr qint64 WholeEntryLimit = 4 * 1024 * 1024;

// Entries are written to a hidden file of this name beside their target, then renamed.
constexpr char TempPrefix[] = ".zvrestore-";
constexpr int TempRandomLength = 6;
constexpr char TempAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool isOurTempName(const char* name) {
    const size_t prefix = sizeof(TempPrefix) - 1;
    if (std::strncmp(name, TempPrefix, prefix) != 0) return false;
    const char* rest = name + prefix;
    if (std::strlen(rest) != size_t(TempRandomLength)) return false;
    for (const char* c = rest; *c; ++c)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9')))
            return false;
    return true;
}

// Removes the temporary files that an extraction killed midway left anywhere below folder and
// returns how many. Links are not followed, so nothing outside the folder is touched.
int removeLeftovers(const QByteArray& folder) {
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return 0;
    int removed = 0;
    QList<QByteArray> subfolders;
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        const QByteArray path = folder + '/' + d->d_name;
        unsigned char type = d->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::lstat(path.constData(), &st) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR)
            subfolders.append(path);
        else if (type == DT_REG && isOurTempName(d->d_name) && ::unlink(path.constData()) == 0)
            ++removed;
    }
    ::closedir(dir);
    for (const QByteArray& sub : std::as_const(subfolders))
        removed += removeLeftovers(sub);
    return removed;
}

// The archive's file as the library reads it, through a window of its own: the library reads
// an entry's header and data in small pieces with a seek before each, so many small entries
// would cost several calls each; here they cost one read of the window now and then.
class ArchiveSource {
public:
    explicit ArchiveSource(int fd) : fd_(fd), window_(WindowSize, Qt::Uninitialized) {
        zip_error_init(&error_);
    }
    ~ArchiveSource() {
        ::close(fd_);
        zip_error_fini(&error_);
    }
    ArchiveSource(const ArchiveSource&) = delete;
    ArchiveSource& operator=(const ArchiveSource&) = delete;
    // The library's calls; the source frees itself when the library is done with it.
    static zip_int64_t Call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
        return static_cast<ArchiveSource*>(self)->call(data, length, cmd);
    }

private:
    static constexpr qint64 WindowSize = 256 * 1024;

    zip_int64_t call(void* data, zip_uint64_t length, zip_source_cmd_t cmd) {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            pos_ = 0;
            return readSize() ? 0 : -1;
        case ZIP_SOURCE_READ:
            return read(static_cast<char*>(data), qint64(std::min<zip_uint64_t>(length, 1 << 30)));
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            if (length < sizeof(zip_stat_t) || !readSize()) return -1;
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->size = zip_uint64_t(size_);
            st->valid |= ZIP_STAT_SIZE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error_, data, length);
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t at = zip_source_seek_compute_offset(
                zip_uint64_t(pos_), zip_uint64_t(size_), data, length, &error_);
            if (at < 0) return -1;
            pos_ = at;
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return pos_;
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_SEEKABLE;
        default:
            zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }
    // Once: the library asks for every entry it opens, and the archive is not written to
    // meanwhile (a file written over in place since is caught by the entries' comparison).
    bool readSize() {
        if (size_ >= 0) return true;
        struct stat st;
        if (::fstat(fd_, &st) != 0) {
            zip_error_set(&error_, ZIP_ER_READ, errno);
            return false;
        }
        size_ = st.st_size;
        return true;
    }
    // Fewer bytes than asked only at the end of the file.
    zip_int64_t read(char* out, qint64 length) {
        qint64 done = 0;
        while (done < length) {
            const qint64 at = pos_ - windowStart_;
            if (at >= 0 && at < windowLength_) {
                const qint64 n = std::min(length - done, windowLength_ - at);
                std::memcpy(out + done, window_.constData() + at, size_t(n));
                done += n;
                pos_ += n;
                continue;
            }
            // A large piece goes straight to the caller; a small one fills the window first.
            const bool direct = length - done >= WindowSize;
            char* to = direct ? out + done : window_.data();
            const qint64 want = direct ? length - done : WindowSize;
            ssize_t n;
            do
                n = ::pread(fd_, to, size_t(want), off_t(pos_));
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                zip_error_set(&error_, ZIP_ER_READ, errno);
                return -1;
            }
            if (n == 0) break;
            if (direct) {
                done += n;
                pos_ += n;
            } else {
                windowStart_ = pos_;
                windowLength_ = n;
            }
        }
        return done;
    }

    int fd_;
    QByteArray window_;
    qint64 windowStart_ = 0;
    qint64 windowLength_ = 0;
    qint64 pos_ = 0;
    qint64 size_ = -1;
    zip_error_t error_;
};

using Kind = TZipReaderMessageKind;

} // namespace

TZipReader::~TZipReader() {
    Close();
}

void TZipReader::message(Kind kind, const QString& text) {
    if (OnMessage) OnMessage(kind, text);
}

void TZipReader::Close() {
    if (za_) zip_discard(za_);
    za_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    entries_.clear();
    fileName_.clear();
}

bool TZipReader::Open(const QString& fileName) {
    Close();
    cancelled_ = false;
    fileName_ = fileName;
    fd_ = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    checkEntries_ = fd_ >= 0 && ZipDirectory::Read(fd_, entries_);
    if (checkEntries_) return true;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return listThroughLibrary();
}

// Archives the reading here is not sure of are listed as the library reads them, with its
// verdict on those it cannot read.
bool TZipReader::listThroughLibrary() {
    int code = 0;
    za_ = zip_open(QFile::encodeName(fileName_).constData(), ZIP_RDONLY, &code);
    if (!za_) {
        message(Kind::Unreadable, QStringLiteral("Archiv ") + fileName_ +
                                      QStringLiteral(" kann nicht gelesen werden: ") +
                                      zipErrorText(code));
        return false;
    }
    const zip_int64_t n = zip_get_num_entries(za_, 0);
    entries_.reserve(qsizetype(std::max<zip_int64_t>(n, 0)));
    for (zip_int64_t i = 0; i < n; ++i)
        if (std::optional<ZipEntry> e = ZipDirectory::LibraryEntry(za_, i))
            entries_.append(std::move(*e));
    return true;
}

// The library reads the directory again for an extraction of entries listed here, from the
// file opened for the listing. It must count as many entries; each one is compared before it
// is extracted.
bool TZipReader::openLibrary() {
    if (za_) return true;
    if (fd_ < 0) return false;
    const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    int code = ZIP_ER_OPEN;
    if (fd >= 0) {
        auto* own = new ArchiveSource(fd);
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* src = zip_source_function_create(&ArchiveSource::Call, own, &error);
        if (!src) delete own;
        if (src) za_ = zip_open_from_source(src, ZIP_RDONLY, &error);
        if (src && !za_) zip_source_free(src);
        if (!za_) code = zip_error_code_zip(&error);
        zip_error_fini(&error);
    }
    if (za_ && zip_get_num_entries(za_, 0) != zip_int64_t(entries_.size())) {
        zip_discard(za_);
        za_ = nullptr;
        code = ZIP_ER_INCONS;
    }
    if (!za_) {
        message(Kind::Unreadable, QStringLiteral("Archiv ") + fileName_ +
                                      QStringLiteral(" kann nicht gelesen werden: ") +
                                      zipErrorText(code));
        return false;
    }
    ::close(fd_);
    fd_ = -1;
    return true;
}

QStringList TZipReader::SafeSegments(const QString& storedName, bool backslashSeparates) {
    QString name = storedName;
    if (backslashSeparates) name.replace(u'\\', u'/');
    if (name.startsWith(u'/')) return {};
    if (name.size() >= 2 && name[1] == u':' && name[0].isLetter()) return {};
    QStringList out;
    for (const QString& seg : name.split(u'/', Qt::SkipEmptyParts)) {
        if (seg == u"..") return {};
        if (seg != u".") out.append(seg);
    }
    return out;
}

int TZipReader::Extract(const QString& BaseDir, const QStringList& Specs) {
    SuccessCnt = 0;
    if (!openLibrary()) return 0;
    QString base = BaseDir;
    while (base.size() > 1 && base.endsWith(u'/'))
        base.chop(1);
    if (!QDir().mkpath(base)) {
        message(Kind::Unwritable, QStringLiteral("Verzeichnis ") + base +
                                      QStringLiteral(" konnte nicht angelegt werden"));
        return 0;
    }
    baseFd_ = ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd_ < 0) {
        message(Kind::Unwritable, QStringLiteral("Verzeichnis ") + base +
                                      QStringLiteral(" kann nicht geöffnet werden: ") +
                                      errnoText());
        return 0;
    }
    // A replacement completes only after a batch of them is flushed; one that fails then is
    // not restored after all.
    commits_.OnLateFailure = [this](const QString& target, int error) {
        message(Kind::Unwritable, QStringLiteral("Fehler beim Schreiben von ") +
                                      LogFileName(target) + QStringLiteral(": ") +
                                      QString::fromLocal8Bit(std::strerror(error)));
        --SuccessCnt;
    };
    // One line however many: a killed restore of replacements leaves up to a batch of them.
    if (const int removed = removeLeftovers(QFile::encodeName(base)))
        message(Kind::Note,
                QStringLiteral("Reste einer abgebrochenen Wiederherstellung entfernt: ") +
                    QString::number(removed) + QStringLiteral(" Datei(en) in ") + base);
    const QSet<QString> wanted(Specs.begin(), Specs.end());
    QSet<QString> found;
    restored_.clear();
    qint64 written = 0;
    // The flushes may take long on a slow drive; the caller's window goes on meanwhile.
    commits_.WhileFlushing = [this, &written] {
        if (OnProgress) OnProgress({ProgressKind::Progress, QString(), 0, written});
    };
    std::optional<SafeFile::BackgroundFlush> flusher(std::in_place, baseFd_);
    for (const ZipEntry& e : std::as_const(entries_)) {
        if (cancelled_) break;
        if (!wanted.isEmpty()) {
            if (!wanted.contains(e.Name)) continue;
            found.insert(e.Name);
        }
        if (extractOne(e, base, written) && !e.IsDir) ++SuccessCnt;
    }
    flusher.reset();
    restored_.clear();
    closeFolder();
    // The buffers of whole entries go with the extraction; the next one grows its own.
    libdeflate_free_decompressor(inflater_);
    inflater_ = nullptr;
    packed_ = {};
    unpacked_ = {};
    ::close(baseFd_);
    baseFd_ = -1;
    // New files were not flushed one by one (until here a crash could have left them empty),
    // and the last replacements wait for this flush.
    if (!commits_.Finish())
        message(Kind::Unwritable, QStringLiteral("Fehler beim Schreiben in ") + base +
                                      QStringLiteral(": ") + errnoText());
    commits_.WhileFlushing = nullptr;
    if (!cancelled_)
        for (const QString& spec : Specs)
            if (!found.contains(spec))
                message(Kind::Skipped, QStringLiteral("Datei ") + LogFileName(spec) +
                                           QStringLiteral(" nicht im Archiv"));
    cancelled_ = false;
    return SuccessCnt;
}

// A stored WinZip AES entry without checksum: its password check and authentication code,
// tested against the raw data, since the library tests them only along with the checksum.
// Returns why the entry is bad, or "" when it is sound.
QString TZipReader::checkStoredAes(const ZipEntry& e, TZipReaderMessageKind& kind) {
    kind = Kind::Unreadable;
    zip_file_t* raw = zip_fopen_index(za_, zip_uint64_t(e.Index), ZIP_FL_ENCRYPTED);
    if (!raw) {
        const QString why = zipErrorText(zip_get_error(za_));
        zip_error_clear(za_);
        return why;
    }
    const int keyLength = aesKeyLength(e.Encryption);
    const int saltLength = keyLength / 2;
    const QByteArray head = readExact(raw, saltLength + AesCheckLength);
    QString why;
    if (head.size() != saltLength + AesCheckLength) {
        why = QStringLiteral("Daten unvollständig");
    } else {
        const QByteArray keys =
            aesKeys(Password.toUtf8(), head.left(saltLength), 2 * keyLength + AesCheckLength);
        if (keys.mid(2 * keyLength) != head.mid(saltLength)) {
            why = QStringLiteral("falsches Passwort");
            kind = Kind::Password;
        } else {
            QMessageAuthenticationCode mac(QCryptographicHash::Sha1,
                                           keys.mid(keyLength, keyLength));
            // Only the data's own bytes: reading past them would meet the checksum test.
            for (qint64 left = e.UnpackedSize; left > 0 && why.isEmpty();) {
                const QByteArray chunk = readExact(raw, std::min<qint64>(left, 64 * 1024));
                if (chunk.isEmpty()) why = QStringLiteral("Daten unvollständig");
                mac.addData(chunk);
                left -= chunk.size();
            }
            if (why.isEmpty() && readExact(raw, AesMacLength) != mac.result().left(AesMacLength))
                why = QStringLiteral("Authentifizierung fehlgeschlagen (falsches Passwort oder "
                                     "beschädigter Eintrag)");
        }
    }
    zip_fclose(raw);
    return why;
}

// The packed data of the entry open as zf (packed form) inflated into unpacked_, exactly as
// many bytes as the directory gives, with its checksum. Returns why not, or "" when sound.
QString TZipReader::readWhole(zip_file_t* zf, const ZipEntry& e, quint32 crc) {
    const bool stored = e.Method == ZIP_CM_STORE;
    if (stored && e.PackedSize != e.UnpackedSize)
        return e.PackedSize < e.UnpackedSize ? QStringLiteral("weniger Daten als angegeben")
                                             : QStringLiteral("mehr Daten als angegeben");
    if (!stored && packed_.size() < e.PackedSize) packed_.resize(e.PackedSize);
    if (unpacked_.size() < e.UnpackedSize) unpacked_.resize(e.UnpackedSize);
    // Stored bytes are the content itself.
    char* const to = stored ? unpacked_.data() : packed_.data();
    qint64 got = 0;
    while (got < e.PackedSize) {
        const zip_int64_t n = zip_fread(zf, to + got, zip_uint64_t(e.PackedSize - got));
        if (n < 0) return zipErrorText(zip_file_get_error(zf));
        if (n == 0) return QStringLiteral("Daten unvollständig");
        got += n;
    }
    if (stored) {
        if (libdeflate_crc32(0, unpacked_.constData(), size_t(e.UnpackedSize)) != crc)
            return zipErrorText(ZIP_ER_CRC);
        return {};
    }
    if (!inflater_) inflater_ = libdeflate_alloc_decompressor();
    if (!inflater_) return QString::fromLocal8Bit(std::strerror(ENOMEM));
    switch (libdeflate_deflate_decompress(inflater_, packed_.constData(), size_t(e.PackedSize),
                                          unpacked_.data(), size_t(e.UnpackedSize), nullptr)) {
    case LIBDEFLATE_SUCCESS:
        break;
    case LIBDEFLATE_SHORT_OUTPUT:
        return QStringLiteral("weniger Daten als angegeben");
    case LIBDEFLATE_INSUFFICIENT_SPACE:
        return QStringLiteral("mehr Daten als angegeben");
    default:
        return QStringLiteral("Daten beschädigt");
    }
    if (libdeflate_crc32(0, unpacked_.constData(), size_t(e.UnpackedSize)) != crc)
        return zipErrorText(ZIP_ER_CRC);
    return {};
}

void TZipReader::closeFolder() {
    if (folderFd_ >= 0 && folderFd_ != baseFd_) ::close(folderFd_);
    folderFd_ = -1;
    folderPath_.clear();
}

// Walks down from the target folder segment by segment, creating what is missing, and never
// through a link: an existing link or file on the way stops the entry, so nothing lands
// outside the target through a planted link. Entries of one folder follow each other, so the
// last folder stays open for the next.
int TZipReader::openFolder(const QStringList& segs, qsizetype count, const QString& base,
                           const QString& skip) {
    QString path = base;
    for (qsizetype i = 0; i < count; ++i)
        path += u'/' + segs[i];
    if (folderFd_ >= 0 && path == folderPath_) return folderFd_;
    closeFolder();
    int fd = baseFd_;
    QString cur = base;
    for (qsizetype i = 0; i < count; ++i) {
        cur += u'/' + segs[i];
        const QByteArray seg = EncodeFileName(segs[i]);
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(fd, seg.constData(), flags);
        if (next < 0 && errno == ENOENT &&
            (::mkdirat(fd, seg.constData(), 0777) == 0 || errno == EEXIST))
            next = ::openat(fd, seg.constData(), flags);
        if (next < 0) {
            const int error = errno;
            struct stat st;
            if (::fstatat(fd, seg.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                message(Kind::Skipped,
                        skip + QStringLiteral(": Verknüpfung im Zielpfad ") + LogFileName(cur));
            else if (error == ENOTDIR)
                message(Kind::Skipped, skip + QStringLiteral(": ") + LogFileName(cur) +
                                           QStringLiteral(" ist kein Verzeichnis"));
            else
                message(Kind::Unwritable, QStringLiteral("Verzeichnis ") + LogFileName(cur) +
                                              QStringLiteral(" konnte nicht angelegt werden: ") +
                                              QString::fromLocal8Bit(std::strerror(error)));
            if (fd != baseFd_) ::close(fd);
            return -1;
        }
        if (fd != baseFd_) ::close(fd);
        fd = next;
    }
    folderFd_ = fd;
    folderWatched_ = commits_.Watch(fd);
    folderPath_ = path;
    return fd;
}

bool TZipReader::extractOne(const ZipEntry& e, const QString& base, qint64& written) {
    const QString shown = LogFileName(e.Name);
    const QString skip = QStringLiteral("Überspringe ") + shown;
    if (checkEntries_ && !sameRecord(ZipDirectory::LibraryEntry(za_, e.Index), e)) {
        message(Kind::Unreadable, skip + QStringLiteral(": Eintrag im Archiv widersprüchlich"));
        return false;
    }
    const QStringList segs = SafeSegments(e.Name, e.BackslashSeparates);
    if (segs.isEmpty()) {
        message(Kind::Skipped, skip + QStringLiteral(": Pfad außerhalb des Zielverzeichnisses"));
        return false;
    }
    if (e.IsLink) {
        message(Kind::Skipped,
                skip + QStringLiteral(": symbolische Verknüpfung wird nicht angelegt"));
        return false;
    }
    if (OnProgress) OnProgress({ProgressKind::NewItem, e.Name, e.UnpackedSize, written});

    const qsizetype folders = e.IsDir ? segs.size() : segs.size() - 1;
    const int dirFd = openFolder(segs, folders, base, skip);
    if (dirFd < 0) return false;
    if (e.IsDir) return true;
    const QString target = folderPath_ + u'/' + segs.last();
    if (restored_.contains(target))
        message(Kind::Note,
                QStringLiteral("Datei ") + shown +
                    QStringLiteral(" steht mehrfach im Archiv: der spätere Eintrag wird über den "
                                   "früheren geschrieben"));

    const QByteArray pw = Password.toUtf8();
    EntryStream::Mode mode = EntryStream::Mode::Plain;
    if (e.NoCrc && e.Method == ZIP_CM_DEFLATE) mode = EntryStream::Mode::Inflate;
    if (e.NoCrc && e.Method == ZIP_CM_STORE) mode = EntryStream::Mode::StoredNoCrc;
    if (e.NoCrc && e.Method == -1) {
        message(Kind::Unreadable, QStringLiteral("Fehler beim Entpacken von ") + shown +
                                      QStringLiteral(": Größenangaben widersprüchlich"));
        return false;
    }
    // A small stored or deflated entry without password is read and unpacked here in one piece
    // and written in one call, checked against the directory's checksum: a stream per entry
    // costs more than its bytes when most entries are small.
    zip_stat_t st;
    zip_stat_init(&st);
    const bool whole = mode == EntryStream::Mode::Plain && !e.Encrypted &&
                       (e.Method == ZIP_CM_DEFLATE || e.Method == ZIP_CM_STORE) &&
                       e.UnpackedSize <= WholeEntryLimit && e.PackedSize <= WholeEntryLimit &&
                       zip_stat_index(za_, zip_uint64_t(e.Index), 0, &st) == 0 &&
                       (st.valid & ZIP_STAT_CRC) != 0;
    zip_file_t* zf = zip_fopen_index_encrypted(
        za_, zip_uint64_t(e.Index),
        mode == EntryStream::Mode::Inflate || whole ? ZIP_FL_COMPRESSED : 0,
        Password.isEmpty() ? nullptr : pw.constData());
    if (!zf) {
        const int code = zip_error_code_zip(zip_get_error(za_));
        if (code == ZIP_ER_NOPASSWD)
            message(Kind::Password,
                    QStringLiteral("Kein Passwort für verschlüsselte Datei ") + shown);
        else if (code == ZIP_ER_WRONGPASSWD)
            message(Kind::Password, QStringLiteral("Falsches Passwort für ") + shown);
        else
            message(Kind::Unreadable, QStringLiteral("Fehler beim Entpacken von ") + shown +
                                          QStringLiteral(": ") + zipErrorText(zip_get_error(za_)));
        zip_error_clear(za_);
        return false;
    }
    if (mode == EntryStream::Mode::StoredNoCrc) {
        Kind kind = Kind::Unreadable;
        const QString why = checkStoredAes(e, kind);
        if (!why.isEmpty()) {
            message(kind, QStringLiteral("Fehler beim Entpacken von ") + shown +
                              QStringLiteral(": ") + why);
            zip_fclose(zf);
            return false;
        }
    }

    // Created with the permissions the file had when it was backed up (a private file stays
    // private, a program stays executable), else with those a new file gets; the umask
    // applies either way, and nothing needs changing once the file is written.
    const mode_t createMode = e.Permissions != 0 ? mode_t(e.Permissions) : 0666;
    const QByteArray finalName = EncodeFileName(segs.last());
    // A small entry is unpacked and checked before its file is made, so a damaged one leaves
    // nothing behind and the file is written in one call.
    if (whole) {
        const QString why = readWhole(zf, e, st.crc);
        if (!why.isEmpty()) {
            zip_fclose(zf);
            message(Kind::Unreadable, QStringLiteral("Fehler beim Entpacken von ") + shown +
                                          QStringLiteral(": ") + why);
            return false;
        }
    }
    TempFile tmp;
    tmp.dirFd = dirFd;
    // A small entry whose name nobody holds is written in place: nothing is replaced, so
    // nothing needs to wait, and its one write leaves next to no moment in which a killed
    // restore would leave a cut file under that name. Any other entry is written beside its
    // name under a temporary one, so only complete files ever carry a restored name.
    if (whole)
        tmp.fd = ::openat(dirFd, finalName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          createMode);
    const bool inPlace = tmp.fd >= 0;
    if (inPlace) tmp.name = finalName;
    for (int attempt = 0; attempt < 100 && tmp.fd < 0; ++attempt) {
        QByteArray name(TempPrefix);
        for (int i = 0; i < TempRandomLength; ++i)
            name +=
                TempAlphabet[QRandomGenerator::global()->bounded(int(sizeof(TempAlphabet) - 1))];
        tmp.fd =
            ::openat(dirFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
        if (tmp.fd >= 0)
            tmp.name = name;
        else if (errno != EEXIST)
            break;
    }
    bool ok = tmp.fd >= 0;
    QString failure;
    Kind failureKind = Kind::Unwritable;
    if (!ok)
        failure = QStringLiteral("Fehler beim Schreiben in ") + LogFileName(folderPath_) +
                  QStringLiteral(": ") + errnoText();
    qint64 total = 0;
    const auto put = [&](const char* data, qint64 n) {
        for (qint64 off = 0; off < n;) {
            const ssize_t w = ::write(tmp.fd, data + off, size_t(n - off));
            if (w < 0) {
                if (errno == EINTR) continue;
                failure = QStringLiteral("Fehler beim Schreiben von ") + LogFileName(target) +
                          QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
            off += w;
        }
        total += n;
        written += n;
        if (OnProgress) OnProgress({ProgressKind::Progress, e.Name, e.UnpackedSize, written});
        return true;
    };
    if (ok && whole) ok = put(unpacked_.constData(), e.UnpackedSize);
    static constexpr qint64 ChunkSize = 64 * 1024;
    if (chunk_.size() != ChunkSize) chunk_ = QByteArray(ChunkSize, Qt::Uninitialized);
    char* const buf = chunk_.data();
    EntryStream in(zf, mode, e.UnpackedSize);
    while (ok && !whole) {
        const qint64 n = in.read(buf, ChunkSize);
        if (n < 0) {
            const QString why = in.Error;
            failure =
                QStringLiteral("Fehler beim Entpacken von ") + shown + QStringLiteral(": ") + why;
            failureKind = Kind::Unreadable;
            // The password check before the data has passed; with AES a failure now is as
            // likely a damaged entry.
            if (e.Encrypted)
                failure += isAes(e.Encryption)
                               ? QStringLiteral(" (falsches Passwort oder beschädigter Eintrag)")
                               : QStringLiteral(" (falsches Passwort?)");
            ok = false;
            break;
        }
        if (n == 0) break;
        if (total + n > e.UnpackedSize) {
            failure = QStringLiteral("Fehler beim Entpacken von ") + shown +
                      QStringLiteral(": mehr Daten als angegeben");
            failureKind = Kind::Unreadable;
            ok = false;
            break;
        }
        ok = put(buf, n);
    }
    zip_fclose(zf);
    if (ok && total != e.UnpackedSize) {
        failure = QStringLiteral("Fehler beim Entpacken von ") + shown +
                  QStringLiteral(": weniger Daten als angegeben");
        failureKind = Kind::Unreadable;
        ok = false;
    }
    if (ok) {
        if (e.ModTime >= 0) {
            struct timespec times[2];
            times[0].tv_sec = times[1].tv_sec = time_t(e.ModTime);
            times[0].tv_nsec = times[1].tv_nsec = 0;
            ::futimens(tmp.fd, times);
        }
        // A file replacing an existing one is on disk before it takes the name, so a crash
        // never leaves the old file empty or cut; the batch may complete that later.
        const bool committed = inPlace ? commits_.CommitNew(dirFd, tmp.fd, folderWatched_)
                                       : commits_.Commit(dirFd, tmp.fd, tmp.name.constData(),
                                                         finalName.constData(), target);
        tmp.fd = -1;
        if (!committed) {
            failure = QStringLiteral("Fehler beim Schreiben von ") + LogFileName(target) +
                      QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
            ok = false;
        } else {
            tmp.kept = true;
            restored_.insert(target);
        }
    }
    if (!ok) message(failureKind, failure);
    return ok;
}
