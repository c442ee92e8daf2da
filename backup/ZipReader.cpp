#include "ZipReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

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

mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
}

// Removes the temporary file unless it was renamed into place.
struct TempFile {
    QByteArray path;
    int fd = -1;
    bool kept = false;
    ~TempFile() {
        if (fd >= 0) ::close(fd);
        if (!kept && !path.isEmpty()) ::unlink(path.constData());
    }
};

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
qint64 aesOverhead(int encryptionMethod) {
    return aesKeyLength(encryptionMethod) / 2 + AesCheckLength + AesMacLength;
}

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

} // namespace

TZipReader::~TZipReader() {
    Close();
}

void TZipReader::message(const QString& text, int code) {
    if (OnMessage) OnMessage(code, text);
}

void TZipReader::Close() {
    if (za_) zip_discard(za_);
    za_ = nullptr;
    entries_.clear();
    fileName_.clear();
}

bool TZipReader::Open(const QString& fileName) {
    Close();
    cancelled_ = false;
    fileName_ = fileName;
    int code = 0;
    za_ = zip_open(QFile::encodeName(fileName).constData(), ZIP_RDONLY, &code);
    if (!za_) {
        message(QStringLiteral("Archiv ") + fileName +
                    QStringLiteral(" kann nicht gelesen werden: ") + zipErrorText(code),
                code);
        return false;
    }
    const zip_int64_t n = zip_get_num_entries(za_, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za_, zip_uint64_t(i), 0, &st) != 0) continue;
        ZipEntry e;
        e.Index = i;
        const char* raw = zip_get_name(za_, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        e.Name = QString::fromUtf8(raw ? raw : st.name);
        if (st.valid & ZIP_STAT_COMP_SIZE) e.PackedSize = qint64(st.comp_size);
        if (st.valid & ZIP_STAT_SIZE) e.UnpackedSize = qint64(st.size);
        if (st.valid & ZIP_STAT_MTIME) e.DateTime = QDateTime::fromSecsSinceEpoch(st.mtime);
        e.Encrypted =
            (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        if (st.valid & ZIP_STAT_COMP_METHOD) e.Method = st.comp_method;
        if (e.Encrypted) e.Encryption = st.encryption_method;
        const bool aes = e.Encrypted && (st.encryption_method == ZIP_EM_AES_128 ||
                                         st.encryption_method == ZIP_EM_AES_192 ||
                                         st.encryption_method == ZIP_EM_AES_256);
        e.NoCrc = aes && (st.valid & ZIP_STAT_CRC) && st.crc == 0;
        // A stored entry of that kind is only as long as its packed form says.
        if (e.NoCrc && e.Method == ZIP_CM_STORE &&
            e.PackedSize - aesOverhead(st.encryption_method) != e.UnpackedSize)
            e.Method = -1;
        e.IsDir = e.Name.endsWith(u'/') || e.Name.endsWith(u'\\');
        zip_uint8_t opsys = 0;
        zip_uint32_t attr = 0;
        if (zip_file_get_external_attributes(za_, zip_uint64_t(i), 0, &opsys, &attr) == 0 &&
            opsys == ZIP_OPSYS_UNIX) {
            const mode_t mode = mode_t(attr >> 16);
            e.IsLink = (mode & S_IFMT) == S_IFLNK;
            if ((mode & S_IFMT) == S_IFDIR) e.IsDir = true;
        }
        entries_.append(e);
    }
    return true;
}

QStringList TZipReader::SafeSegments(const QString& storedName) {
    QString name = storedName;
    name.replace(u'\\', u'/');
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
    if (!za_) return 0;
    QString base = BaseDir;
    while (base.size() > 1 && base.endsWith(u'/'))
        base.chop(1);
    if (!QDir().mkpath(base)) {
        message(QStringLiteral("Verzeichnis ") + base +
                QStringLiteral(" konnte nicht angelegt werden"));
        return 0;
    }
    const QSet<QString> wanted(Specs.begin(), Specs.end());
    QSet<QString> found;
    qint64 written = 0;
    for (const ZipEntry& e : std::as_const(entries_)) {
        if (cancelled_) break;
        if (!wanted.isEmpty()) {
            if (!wanted.contains(e.Name)) continue;
            found.insert(e.Name);
        }
        if (extractOne(e, base, written) && !e.IsDir) ++SuccessCnt;
    }
    if (!cancelled_)
        for (const QString& spec : Specs)
            if (!found.contains(spec))
                message(QStringLiteral("Datei ") + spec + QStringLiteral(" nicht im Archiv"));
    cancelled_ = false;
    return SuccessCnt;
}

// A stored WinZip AES entry without checksum: its password check and authentication code,
// tested against the raw data, since the library tests them only along with the checksum.
// Returns why the entry is bad, or "" when it is sound.
QString TZipReader::checkStoredAes(const ZipEntry& e) {
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
                why = QStringLiteral("Authentifizierung fehlgeschlagen");
        }
    }
    zip_fclose(raw);
    return why;
}

bool TZipReader::extractOne(const ZipEntry& e, const QString& base, qint64& written) {
    const QString skip = QStringLiteral("Überspringe ") + e.Name;
    const QStringList segs = SafeSegments(e.Name);
    if (segs.isEmpty()) {
        message(skip + QStringLiteral(": Pfad außerhalb des Zielverzeichnisses"));
        return false;
    }
    if (e.IsLink) {
        message(skip + QStringLiteral(": symbolische Verknüpfung wird nicht angelegt"));
        return false;
    }
    if (OnProgress) OnProgress({ProgressKind::NewItem, e.Name, e.UnpackedSize, written});

    // Walk down folder by folder, creating what is missing; an existing link or file on the
    // way stops the entry, so nothing lands outside the target through a planted link.
    const qsizetype folders = e.IsDir ? segs.size() : segs.size() - 1;
    QString cur = base;
    for (qsizetype i = 0; i < folders; ++i) {
        cur += u'/' + segs[i];
        const QByteArray p = QFile::encodeName(cur);
        struct stat st;
        if (::lstat(p.constData(), &st) != 0) {
            if (errno != ENOENT || (::mkdir(p.constData(), 0777) != 0 && errno != EEXIST) ||
                ::lstat(p.constData(), &st) != 0) {
                message(QStringLiteral("Verzeichnis ") + cur +
                        QStringLiteral(" konnte nicht angelegt werden: ") +
                        QString::fromLocal8Bit(std::strerror(errno)));
                return false;
            }
        }
        if (S_ISLNK(st.st_mode)) {
            message(skip + QStringLiteral(": Verknüpfung im Zielpfad ") + cur);
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            message(skip + QStringLiteral(": ") + cur + QStringLiteral(" ist kein Verzeichnis"));
            return false;
        }
    }
    if (e.IsDir) return true;
    const QString target = cur + u'/' + segs.last();

    const QByteArray pw = Password.toUtf8();
    EntryStream::Mode mode = EntryStream::Mode::Plain;
    if (e.NoCrc && e.Method == ZIP_CM_DEFLATE) mode = EntryStream::Mode::Inflate;
    if (e.NoCrc && e.Method == ZIP_CM_STORE) mode = EntryStream::Mode::StoredNoCrc;
    if (e.NoCrc && e.Method == -1) {
        message(QStringLiteral("Fehler beim Entpacken von ") + e.Name +
                QStringLiteral(": Größenangaben widersprüchlich"));
        return false;
    }
    zip_file_t* zf = zip_fopen_index_encrypted(
        za_, zip_uint64_t(e.Index), mode == EntryStream::Mode::Inflate ? ZIP_FL_COMPRESSED : 0,
        Password.isEmpty() ? nullptr : pw.constData());
    if (!zf) {
        const int code = zip_error_code_zip(zip_get_error(za_));
        if (code == ZIP_ER_NOPASSWD)
            message(QStringLiteral("Kein Passwort für verschlüsselte Datei ") + e.Name, code);
        else if (code == ZIP_ER_WRONGPASSWD)
            message(QStringLiteral("Falsches Passwort für ") + e.Name, code);
        else
            message(QStringLiteral("Fehler beim Entpacken von ") + e.Name + QStringLiteral(": ") +
                        zipErrorText(zip_get_error(za_)),
                    code);
        zip_error_clear(za_);
        return false;
    }
    if (mode == EntryStream::Mode::StoredNoCrc) {
        const QString why = checkStoredAes(e);
        if (!why.isEmpty()) {
            message(QStringLiteral("Fehler beim Entpacken von ") + e.Name + QStringLiteral(": ") +
                    why);
            zip_fclose(zf);
            return false;
        }
    }

    TempFile tmp;
    tmp.path = QFile::encodeName(cur + QStringLiteral("/.zvrestore-XXXXXX"));
    tmp.fd = ::mkstemp(tmp.path.data());
    bool ok = tmp.fd >= 0;
    QString failure;
    if (!ok) {
        failure = QStringLiteral("Fehler beim Schreiben in ") + cur + QStringLiteral(": ") +
                  QString::fromLocal8Bit(std::strerror(errno));
        tmp.path.clear();
    }
    qint64 total = 0;
    static constexpr qint64 ChunkSize = 64 * 1024;
    QByteArray buf(ChunkSize, Qt::Uninitialized);
    EntryStream in(zf, mode, e.UnpackedSize);
    while (ok) {
        const qint64 n = in.read(buf.data(), buf.size());
        if (n < 0) {
            const QString why = in.Error;
            failure =
                QStringLiteral("Fehler beim Entpacken von ") + e.Name + QStringLiteral(": ") + why;
            if (e.Encrypted) failure += QStringLiteral(" (falsches Passwort?)");
            ok = false;
            break;
        }
        if (n == 0) break;
        if (total + n > e.UnpackedSize) {
            failure = QStringLiteral("Fehler beim Entpacken von ") + e.Name +
                      QStringLiteral(": mehr Daten als angegeben");
            ok = false;
            break;
        }
        for (qint64 off = 0; off < n;) {
            const ssize_t w = ::write(tmp.fd, buf.constData() + off, size_t(n - off));
            if (w < 0) {
                if (errno == EINTR) continue;
                failure = QStringLiteral("Fehler beim Schreiben von ") + target +
                          QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
                ok = false;
                break;
            }
            off += w;
        }
        total += n;
        written += n;
        if (ok && OnProgress) OnProgress({ProgressKind::Progress, e.Name, e.UnpackedSize, written});
    }
    zip_fclose(zf);
    if (ok && total != e.UnpackedSize) {
        failure = QStringLiteral("Fehler beim Entpacken von ") + e.Name +
                  QStringLiteral(": weniger Daten als angegeben");
        ok = false;
    }
    if (ok) {
        ::fchmod(tmp.fd, 0666 & ~processUmask());
        if (e.DateTime.isValid()) {
            struct timespec times[2];
            times[0].tv_sec = times[1].tv_sec = time_t(e.DateTime.toSecsSinceEpoch());
            times[0].tv_nsec = times[1].tv_nsec = 0;
            ::futimens(tmp.fd, times);
        }
        // On disk before it takes the entry's name, so a crash leaves no empty file there.
        const bool committed = SafeFile::CommitTemp(tmp.fd, tmp.path, QFile::encodeName(target));
        tmp.fd = -1;
        if (!committed) {
            failure = QStringLiteral("Fehler beim Schreiben von ") + target + QStringLiteral(": ") +
                      QString::fromLocal8Bit(std::strerror(errno));
            ok = false;
        } else {
            tmp.kept = true;
        }
    }
    if (!ok) message(failure);
    return ok;
}
