#pragma once
// The ZIP component the backup run writes its archives through. One archive stream per run:
// the first Add opens it under a temporary name beside ZipFileName, every Add appends one entry
// per file, Commit finishes it and puts it in place of ZipFileName, Discard throws it away, so
// the previous archive survives every run that does not complete.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

struct archive;

// What a progress report is about.
enum class TZMProgressKind {
    NewItem,  // a file begins; TotalSize is its size
    Progress, // Written bytes of the item are done
    Other,
};

struct TZMProgressDetails {
    TZMProgressKind Kind = TZMProgressKind::Other;
    QString ItemName;
    qint64 TotalSize = 0; // announced for the operation under way
    qint64 Written = 0;   // bytes of the operation under way done so far
};

// Bytes per progress-bar unit, so the bar never has more than 1000 steps.
qint64 ProgressScaleFor(qint64 totalBytes);

class TZipComponent {
public:
    enum AddOption : unsigned {
        AddDirNames = 1,    // entry names carry the folders below BaseFolder
        AddEncrypt = 2,     // WinZip AES-256 for every entry, with Password
        AddHiddenFiles = 4, // hidden files are always added; kept for the design value
    };

    TZipComponent();
    ~TZipComponent();
    TZipComponent(const TZipComponent&) = delete;
    TZipComponent& operator=(const TZipComponent&) = delete;

    unsigned AddOptions = AddDirNames | AddHiddenFiles;
    QString Password;
    QString ZipFileName;
    // With AddDirNames, entry names are the paths below this folder (with trailing separator);
    // while it is empty, below the process's current folder.
    QString BaseFolder;
    // Files to add by the next Add (full paths); emptied by every Add that completes.
    QStringList FSpecArgs;
    // Suffixes (lower case, without dot) stored without compression.
    QStringList AddStoreSuffixes;
    // Files processed by the last operation.
    int SuccessCnt = 0;

    // Both are called synchronously from inside Add, in the caller's thread.
    std::function<void(const TZMProgressDetails&)> OnProgress;
    std::function<void(int ErrCode, const QString& ErrMsg)> OnMessage;

    // Adds FSpecArgs to the archive stream, opening it first when needed. A file that cannot
    // be read is reported through OnMessage and not counted. Raises std::runtime_error when
    // the archive cannot be written.
    void Add();
    // Finishes the stream, flushes it to disk and renames it to ZipFileName. Raises on failure
    // (the temporary file is removed then). Without an open stream nothing happens.
    void Commit();
    // Drops the open stream and its temporary file; ZipFileName is left as it is.
    void Discard();
    // Size of ZipFileName after Commit, or the bytes written so far while a stream is open.
    qint64 ZipFileSize() const;
    // Stops the operation under way.
    void Cancel() { cancelled_ = true; }
    bool StreamOpen() const { return arc_ != nullptr; }
    // Why the open stream cannot be committed any more (an entry was begun but its file could
    // not be read to its end); empty while the stream is sound. Commit raises with it.
    QString BrokenReason() const { return brokenReason_; }

    // Name of the temporary archive beside a target; never matches a generation name.
    static QString TempFileName(const QString& target);

    // Files up to this size are read whole before their entry is begun, so a read error never
    // leaves a partial entry; larger ones are streamed.
    qint64 WholeReadLimit = qint64(64) << 20;
    // Test hook: called before each read of a file with the bytes already read; returning
    // true makes that read fail with an I/O error.
    std::function<bool(const QString& path, qint64 offset)> ReadFault;

private:
    bool addOne(const QString& path);
    void open();
    void closeArchive(bool writeDirectory);
    [[noreturn]] void fail(const QString& what);
    QString entryName(const QString& path);
    bool storedSuffix(const QString& path) const;
    void progress(TZMProgressKind kind, const QString& name, qint64 total, qint64 written);
    void message(const QString& text);

    struct archive* arc_ = nullptr;
    int fd_ = -1;
    QString openTarget_;
    QString tempName_;
    qint64 written_ = 0;
    bool cancelled_ = false;
    bool broken_ = false; // an entry was cut off; the stream must not be committed
    QString writeError_;  // the archive could not be written since the last Commit or Discard
    QString brokenReason_;
    QByteArray buffer_;
    // Last folder whose canonical form was looked up, for entry names below the current folder.
    QString lastFolder_;
    QString lastFolderCanonical_;
    QString lastCwd_;
    QString lastCwdCanonical_;
};
