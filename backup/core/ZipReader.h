#pragma once
// Reading backup archives for restore: the central directory with sizes and dates, and the
// extraction of all or named entries below a target folder. Progress and messages are
// delivered synchronously from inside the calls, so they arrive in the caller's thread.
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

#include "SafeFile.h"

struct zip;

struct ZipEntry {
    QString Name; // stored name, as the archive holds it
    qint64 PackedSize = 0;
    qint64 UnpackedSize = 0;
    QDateTime DateTime;  // the entry's date in local time
    qint64 ModTime = -1; // the same in seconds since 1970 (UTC), -1 without one
    qint64 Index = 0;    // position in the archive's directory
    bool IsDir = false;
    bool IsLink = false;
    bool Encrypted = false;
    // WinZip AES entries of the second kind store no checksum; their authentication code
    // checks the content instead.
    bool NoCrc = false;
    // Permission bits of an entry made on a Unix system, 0 where the archive holds none.
    int Permissions = 0;
    // Made on a system whose folder separator is "\" (MS-DOS, Windows, or one not known):
    // there a "\" in the name separates folders; on Unix it is part of the file name.
    bool BackslashSeparates = true;
    int Method = 0;     // compression method
    int Encryption = 0; // encryption method
};

// What a message of the reader reports. Every one is worth the restore's log; the kind says
// what went wrong, or that the restore did something on its own.
enum class TZipReaderMessageKind {
    Unreadable, // the archive or an entry cannot be read as stored (damaged, cut short)
    Password,   // an entry's password is missing or wrong
    Skipped,    // an entry left out: unsafe name or path, a link, or not in the archive
    Unwritable, // a file or folder below the target could not be written
    Note,       // leftovers of an interrupted restore removed, a duplicate name written over
};

class TZipReader {
public:
    enum class ProgressKind { NewItem, Progress };
    struct ProgressDetails {
        ProgressKind Kind = ProgressKind::NewItem;
        QString ItemName;
        qint64 ItemSize = 0; // unpacked size of the item that begins
        qint64 Written = 0;  // bytes written so far in the whole extraction
    };

    TZipReader() = default;
    ~TZipReader();
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;

    // Opens the archive and reads its directory. A failure is reported through OnMessage and
    // leaves an empty entry list. The archive stays open, so what is extracted later is what
    // was listed, whatever happens to the file meanwhile.
    bool Open(const QString& fileName);
    void Close();
    QString ZipFileName() const { return fileName_; }
    int Count() const { return int(entries_.size()); }
    const ZipEntry& Entry(int i) const { return entries_[i]; }
    // The whole list, shared until either side changes.
    const QList<ZipEntry>& Entries() const { return entries_; }

    // Extracts the entries whose stored names are in Specs (every entry when it is empty) into
    // their stored folders below BaseDir, overwriting existing files. Returns the number of
    // files extracted, also kept in SuccessCnt. Temporary files that an earlier extraction
    // left below BaseDir when it was killed are removed first; the files are on disk when the
    // call returns.
    int Extract(const QString& BaseDir, const QStringList& Specs = {});
    // Stops an extraction under way before its next entry (or the next extraction, when
    // none is under way yet).
    void Cancel() { cancelled_ = true; }

    QString Password;
    int SuccessCnt = 0;
    std::function<void(const ProgressDetails&)> OnProgress;
    std::function<void(TZipReaderMessageKind Kind, const QString& ErrMsg)> OnMessage;

    // The folder segments of a stored name below the target folder ("\" counts as "/" where
    // it separates folders), or an empty list when the name is absolute, carries a drive
    // letter or climbs with "..".
    static QStringList SafeSegments(const QString& storedName, bool backslashSeparates = true);

private:
    QString storedName(quint64 index, bool madeOnUnix);
    bool extractOne(const ZipEntry& e, const QString& base, qint64& written);
    // Why a stored AES entry is bad ("" when it is sound), and what kind of trouble that is.
    QString checkStoredAes(const ZipEntry& e, TZipReaderMessageKind& kind);
    int openFolder(const QStringList& segs, qsizetype count, const QString& base,
                   const QString& skip);
    void closeFolder();
    void message(TZipReaderMessageKind kind, const QString& text);

    zip* za_ = nullptr;
    QString fileName_;
    QList<ZipEntry> entries_;
    bool cancelled_ = false;
    SafeFile::CommitBatch commits_;
    // During an extraction: the target folder, and the folder of the last entry.
    int baseFd_ = -1;
    int folderFd_ = -1;
    QString folderPath_;
    QSet<QString> restored_; // target paths written by the extraction under way
};
