#pragma once
// The ZIP component the backup run writes its archives through. One archive stream per run:
// the first Add (or Submit) opens it under a temporary name beside ZipFileName, every file
// becomes one entry, Commit finishes it and puts it in place of ZipFileName, Discard throws it
// away, so the previous archive survives every run that does not complete.
//
// Files are read, compressed and encrypted on worker threads (a large file in pieces), a fixed
// number of them in flight; the caller's thread takes the results in, in the order the files
// were given, writes them and delivers every callback. Two ways to feed it:
//
//   Synchronous, one call per batch:
//       zip.FSpecArgs = {path};  zip.Add();  if (zip.SuccessCnt == 1) ...
//   Pipelined, so that the next files are worked on while earlier ones are written (what the
//   backup run does):
//       zip.OnFileDone = [&](const QString& path, TZipFileOutcome o) { ... };
//       for (each file) { zip.Submit(path); if (the run must stop) break; }
//       zip.Drain();          // every submitted file has had its OnFileDone
//       if (!zip.BrokenReason().isEmpty()) -> Discard, begin again without that file
//       zip.Commit();
//   OnFileDone, OnProgress and OnMessage are called from inside Submit, Drain, Add and Commit,
//   in the caller's thread, once per file in submission order (NewItem, Progress..., then
//   OnFileDone). A file that was submitted is never silently lost: it ends as one of the
//   outcomes below. OnWaiting is called there too, every few dozen milliseconds while the
//   oldest file is still being worked on. The callbacks may call Cancel but must not Submit,
//   Drain or Commit.
//   When the archive cannot be written, Submit, Drain or Add raise once; every file in flight
//   ends as Dropped, nothing more goes in (BrokenReason stays empty) and Commit raises.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

#include "SafeFile.h"

class TWorkPool;
class TZipWriter;

// How one submitted file ended.
enum class TZipFileOutcome {
    Added,   // complete entry in the archive
    Skipped, // could not be opened or read, or no regular file; reported through OnMessage,
             // nothing of it is in the archive
    Broken,  // its entry was begun but the file could not be read to its end: the stream
             // cannot be committed any more (BrokenReason says why)
    Dropped, // not written: the operation was cancelled, or the stream was already broken or
             // could not be written
};

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

// What a message of the component reports. The window logs problems and leaves the notes that
// only accompany the progress out of its log.
enum class TZMMessageKind {
    Problem, // a file or the archive could not be handled as asked
    Item,    // a note on one file going in ("adding: ...")
    Summary, // the closing count of an operation ("Unzipped ...")
};

// Bytes per progress-bar unit, so the bar never has more than 1000 steps.
qint64 ProgressScaleFor(qint64 totalBytes);

class TZipComponent {
public:
    enum AddOption : unsigned {
        AddDirNames = 1,    // entry names carry the folders below the current folder
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
    // With a trailing separator: entry names are the path below this folder. Empty: below the
    // process's current folder.
    QString BaseFolder;
    // The new archive is no easier to read than the one it replaces. Where there is no target,
    // this file's permissions count.
    QString PermissionsFrom;
    // Files to add by the next Add (full paths); emptied by every Add that completes.
    QStringList FSpecArgs;
    // Suffixes (lower case, without dot) stored without compression.
    QStringList AddStoreSuffixes;
    // Files processed by the last operation.
    int SuccessCnt = 0;

    // Called synchronously from inside Add, Submit and Drain, in the caller's thread.
    std::function<void(const TZMProgressDetails&)> OnProgress;
    std::function<void(TZMMessageKind Kind, const QString& ErrMsg)> OnMessage;
    std::function<void(const QString& path, TZipFileOutcome outcome)> OnFileDone;
    // The caller waits for the workers, so that a window can process its messages meanwhile.
    std::function<void()> OnWaiting;
    // Called by Commit once the archive is complete and on disk under its temporary name,
    // just before it takes ZipFileName's name. Raising drops the archive and fails the Commit.
    std::function<void()> BeforeCommit;

    // Adds FSpecArgs to the archive stream, opening it first when needed. A file that cannot
    // be read is reported through OnMessage and not counted. Raises std::runtime_error when
    // the archive cannot be written.
    void Add();
    // Queues one file (full path), opening the stream first when needed. Returns at once while
    // fewer pieces than the bounds are under way, else takes finished files in first. Raises
    // like Add when the archive cannot be opened or written. size is the file's size where the
    // caller has just looked it up (it decides the pieces), else -1.
    void Submit(const QString& path, qint64 size = -1);
    // Takes in every submitted file.
    void Drain();
    // Finishes the stream, flushes it to disk and renames it to ZipFileName. Raises on failure
    // (the temporary file is removed then). Without an open stream nothing happens.
    void Commit();
    // Drops the open stream and its temporary file; ZipFileName is left as it is. Files still
    // in flight are forgotten without OnFileDone (Discard also runs from the destructor).
    void Discard();
    // Size of ZipFileName after Commit, or the bytes written so far while a stream is open.
    qint64 ZipFileSize() const;
    // Stops the operation under way: files not yet written end as Dropped (a file whose entry
    // is under way as Broken). Add and a new stream clear it, Submit does not.
    void Cancel();
    bool StreamOpen() const { return writer_ != nullptr; }
    // Why the open stream cannot be committed any more (an entry was begun but its file could
    // not be read to its end); empty while the stream is sound. Commit raises with it.
    QString BrokenReason() const { return brokenReason_; }

    // Whether the archive could not be written since the stream was opened.
    bool WriteFailed() const { return !writeError_.isEmpty(); }

    // Name of the temporary archive beside a target; never matches a generation name.
    static QString TempFileName(const QString& target);

    // Files up to this size are read whole before their entry is begun, so a read error never
    // leaves a partial entry; larger ones are streamed.
    qint64 WholeReadLimit = qint64(64) << 20;
    // Files larger than this are compressed in pieces of this size on several workers.
    qint64 PieceSize = qint64(1) << 20;
    // Worker threads (0: one per core) and pieces in flight (0: no count, only the bound of
    // 8 pieces' worth of input per worker); read when a stream is opened.
    int Threads = 0;
    int MaxInFlight = 0;
    // Workers of the next stream run at the lowest scheduling priority. They end with their
    // stream (Commit or Discard), so nothing needs to be raised again.
    bool LowPriority = false;
    // Test hook: called before each read of a file with the file offset of that read;
    // returning true makes that read fail with an I/O error. While it is set, every piece is
    // read and compressed in the caller's thread, in submission order, so the hook may act on
    // the caller's state (a cancel from it completes the files read so far).
    std::function<bool(const QString& path, qint64 offset)> ReadFault;

private:
    struct FileTask;
    struct PieceJob;
    void open();
    void submitPieces(const std::shared_ptr<FileTask>& f);
    void takeInOne(bool evenIfCancelled = false);
    void takeIn(FileTask& f, PieceJob& job);
    void finishFile(FileTask& f, TZipFileOutcome outcome);
    void readFailed(FileTask& f, const QString& why);
    void writeHeld(FileTask& f);
    void writeStreamed(FileTask& f, PieceJob& job);
    bool stopped();
    void dropPending();
    QString entryName(const QString& path);
    bool storedSuffix(const QString& path) const;
    void progress(TZMProgressKind kind, const QString& name, qint64 total, qint64 written);
    void message(const QString& text);

    std::unique_ptr<TWorkPool> pool_;
    std::unique_ptr<TZipWriter> writer_;
    std::deque<std::shared_ptr<PieceJob>> pending_; // in submission order
    int maxInFlight_ = 1;
    qint64 maxBytesInFlight_ = 1;
    qint64 bytesInFlight_ = 0;
    bool inlineWork_ = false;       // Add of a single file: small files are worked on in place
    SafeFile::TempFileBeside temp_; // the archive under way, under tempName_
    QString openTarget_;
    QString tempName_;
    bool cancelled_ = false;
    std::shared_ptr<std::atomic<bool>> stop_; // tells workers to skip dropped pieces
    bool broken_ = false; // an entry was cut off or a write failed: nothing more goes in
    QString writeError_;  // the archive could not be written since the last Commit or Discard
    QString brokenReason_;
    // Last folder whose canonical form was looked up, for entry names below the base folder.
    QString lastFolder_;
    QString lastFolderCanonical_;
    QString lastBase_;
    QString lastBaseCanonical_;
};
