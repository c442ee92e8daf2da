#pragma once
// The pieces of a ZIP archive writer that take prepared entries: the framing (local headers,
// data descriptors, Zip64 records, central directory), raw deflate of one piece of a file and
// WinZip AES-256 encryption. Compressing and encrypting are pure work that may run on any
// thread; the framing writes to one file in the order its calls come.
#include <QByteArray>
#include <QtGlobal>
#include <memory>
#include <stdexcept>
#include <vector>

// A write to the archive file failed; what() is the system's error text.
struct TZipWriteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Bytes that WinZip AES adds to an entry: salt, password verifier and authentication code.
constexpr qint64 AesOverhead = 16 + 2 + 10;
// Bytes of input that prime the compressor of a piece that does not begin its file.
constexpr int DeflateWindow = 32 * 1024;
// libdeflate's level for files in one piece: as small as zlib's level 6 or smaller on text,
// documents and noise, in half its time.
constexpr int WholeFileLevel = 6;
// libdeflate's level for the pieces of large files: as small as zlib's level 6 was with primed
// pieces (a little larger on logs, smaller on documents), in two thirds of its time.
constexpr int PieceLevel = 7;

// Raw deflate of one piece, through libdeflate: a file in one piece at WholeFileLevel, the
// pieces of a split file at PieceLevel, each on its own; every piece but the file's last ends
// on a non-final block and a byte boundary, so the pieces of one file joined in order form one
// deflate stream.
class TDeflater {
public:
    TDeflater();
    ~TDeflater();
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;
    // Appends the compressed form of data to out.
    void Piece(const QByteArray& dictionary, const char* data, qint64 size, bool last,
               QByteArray& out);

private:
    void reopen(QByteArray& out, qsizetype start);
    struct Stream;
    std::unique_ptr<Stream> s_;
};

// PBKDF2 with HMAC-SHA1: length bytes derived from password and salt.
QByteArray Pbkdf2Sha1(const QByteArray& password, const QByteArray& salt, int iterations,
                      int length);
// The same derivation one block after another without the processor's hash instructions, the
// way taken where they are missing; and whether Pbkdf2Sha1 uses them on this machine.
QByteArray Pbkdf2Sha1Portable(const QByteArray& password, const QByteArray& salt, int iterations,
                              int length);
bool Pbkdf2Sha1Accelerated();

// WinZip AES-256 (AE-1, checksum kept) for one entry: a fresh salt, keys derived from the
// password (PBKDF2-HMAC-SHA1, 1000 rounds), counter mode and an HMAC-SHA1 code over the
// encrypted bytes. The key derivation is the expensive part.
class TAesEncryptor {
public:
    explicit TAesEncryptor(const QByteArray& password);
    ~TAesEncryptor();
    TAesEncryptor(const TAesEncryptor&) = delete;
    TAesEncryptor& operator=(const TAesEncryptor&) = delete;
    // Salt and password verifier, written before the encrypted bytes.
    QByteArray Header() const;
    // Encrypts in place, continuing where the last call stopped.
    void Encrypt(char* data, qint64 size);
    // The authentication code, written after the encrypted bytes.
    QByteArray Trailer();

private:
    struct State;
    std::unique_ptr<State> s_;
};

// One entry as the framing writes it.
struct TZipEntryHeader {
    QByteArray Name;        // "/" separated, as stored
    qint64 ModTime = 0;     // seconds since the epoch
    quint32 Mode = 0100644; // file type and permissions
    bool Deflated = true;
    bool Encrypted = false; // WinZip AES-256
    qint64 Size = 0;        // uncompressed size, known before the data is written
};

class TZipWriter {
public:
    // Writes to fd, which stays open and owned by the caller. With ownThread the file is
    // written by a thread of its own, which also starts the data's way to disk as it goes, so
    // the caller only frames entries and a flush after Finish finds little left. A write that
    // failed there raises from the next call that hands bytes over, and from Finish at the
    // latest.
    explicit TZipWriter(int fd, bool ownThread = false);
    ~TZipWriter();
    TZipWriter(const TZipWriter&) = delete;
    TZipWriter& operator=(const TZipWriter&) = delete;

    // Each call raises TZipWriteError when the file cannot be written.
    void BeginEntry(const TZipEntryHeader& header);
    void Write(const char* data, qint64 size);
    // Large data goes to the own thread as a shared copy of the array, not of its bytes.
    void Write(const QByteArray& data);
    // crc of the uncompressed content; packed counts every byte written since BeginEntry.
    void EndEntry(quint32 crc, qint64 packed, qint64 unpacked);
    // Writes the central directory and end records, flushes the buffer and waits until the
    // own thread has written everything.
    void Finish();
    // Bytes written so far (including those still buffered).
    qint64 Offset() const { return offset_; }
    int EntryCount() const { return int(entries_.size()); }

private:
    struct Record {
        QByteArray name;
        QByteArray extra; // local extra fields without Zip64
        quint32 dosTime;
        quint16 flags, method, version;
        quint32 crc;
        qint64 packed, unpacked, offset;
        quint32 mode;
        bool zip64; // sizes in the local Zip64 field and the long data descriptor
    };
    struct Behind;
    void put(const char* data, qint64 size);
    void flush();

    int fd_;
    std::unique_ptr<Behind> behind_;
    qint64 offset_ = 0;
    QByteArray buffer_;
    std::vector<Record> entries_;
    bool inEntry_ = false;
};
