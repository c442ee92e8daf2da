#pragma once
// Reading backup archives for restore: the central directory with sizes and dates, and the
// extraction of all or named entries below a target folder. Progress and messages are
// delivered synchronously from inside the calls, so they arrive in the caller's thread.
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

#include "SafeFile.h"
#include "ZipDirectory.h"

struct zip;
struct zip_file;
struct libdeflate_decompressor;

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
    // was listed, whatever happens to the file meanwhile. The directory is read here; the ZIP
    // library reads it again only for an extraction, and an entry whose record the library
    // reads otherwise than the listing is not extracted.
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
    bool listThroughLibrary();
    bool openLibrary();
    bool extractOne(const ZipEntry& e, const QString& base, qint64& written);
    // Why a stored AES entry is bad ("" when it is sound), and what kind of trouble that is.
    QString checkStoredAes(const ZipEntry& e, TZipReaderMessageKind& kind);
    QString readWhole(zip_file* zf, const ZipEntry& e, quint32 crc);
    int openFolder(const QStringList& segs, qsizetype count, const QString& base,
                   const QString& skip);
    void closeFolder();
    void message(TZipReaderMessageKind kind, const QString& text);

    zip* za_ = nullptr;
    // The archive's file while only the listing here has read it (the library not yet).
    int fd_ = -1;
    // Listed here: each entry is compared with the library's reading before it is extracted.
    bool checkEntries_ = false;
    QString fileName_;
    QList<ZipEntry> entries_;
    bool cancelled_ = false;
    SafeFile::CommitBatch commits_;
    // During an extraction: the target folder, and the folder of the last entry.
    int baseFd_ = -1;
    int folderFd_ = -1;
    bool folderWatched_ = false; // the commits flush its file system at their end
    QString folderPath_;
    QByteArray chunk_; // an entry's data on its way to the file
    // A whole entry's packed and unpacked bytes, and the inflater for them.
    QByteArray packed_, unpacked_;
    libdeflate_decompressor* inflater_ = nullptr;
    QSet<QString> restored_; // target paths written by the extraction under way
};
