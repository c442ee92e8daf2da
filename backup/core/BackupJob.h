#pragma once
// One backup run of one action, without a window: the walk over the source folder, the archive
// written through the ZIP component, the abort, and the outcome. The window starts it, passes
// its events on to the status line, the progress bar and the log, and writes the outcome into
// the action's row.
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

#include "Filter.h"

class TZipComponent;
class TextLanguage;
struct TZMProgressDetails;
enum class TZipFileOutcome;
enum class TZMMessageKind;

struct BackupOutcome {
    enum class Result { Completed, Aborted, Failed };
    Result State = Result::Failed;
    qint64 Found = 0;       // files that pass the filter
    qint64 Added = 0;       // files that went into the archive
    qint64 Bytes = 0;       // their sizes as the scan found them
    qint64 ArchiveSize = 0; // the archive's size after a completed run; 0 when nothing was found
    QString FilesText;      // "found", or "found-missing" when not every file went in
    QString Error;          // a failed run: why
    QString CurrentFile;    // a failed run: the file being added when it failed, if any
    QString FailureLine;    // a failed run: its log line
};

// The progress bar's position for done bytes at this many bytes per step, kept in 0..maximum.
int ProgressBarPosition(qint64 doneBytes, qint64 scale, int maximum);

class BackupJob {
public:
    // The job's texts follow the language as it is at the moment each is produced.
    BackupJob(TZipComponent& zip, const TextLanguage& language);
    ~BackupJob();
    BackupJob(const BackupJob&) = delete;
    BackupJob& operator=(const BackupJob&) = delete;

    // The action's cells as given; relative folders are taken from StartFolder.
    QString Source;
    QString Target;
    QString FilterText;
    QString Password;
    QString StartFolder;

    // Everything below is called synchronously, in the thread that runs the job.
    // A status line of the run (without the log prefix).
    std::function<void(const QString& text)> OnStatus;
    // The component's progress; doneBytes are the bytes of the files added before this one.
    // The bar is set back with a Progress event of nothing written and nothing done; while the
    // run waits for the archive's workers, and after each folder the scan has listed, it
    // reports events of the kind Other.
    std::function<void(const TZMProgressDetails& details, qint64 doneBytes)> OnProgress;
    // The component's messages.
    std::function<void(TZMMessageKind kind, const QString& text)> OnMessage;
    // Called once the new archive is complete in its temporary file, just before it replaces
    // the target; a scheduled run moves the older archives on here, so a run that writes no
    // archive, fails or is aborted leaves them alone. Raising fails the run and drops the new
    // archive.
    std::function<void()> BeforeCommit;
    // The run counts as completed from here on (the archive is in place, or nothing was found
    // and the old archive stays); an abort is ignored after it.
    std::function<void()> OnCommitted;

    // The steps of a run, in this order; each raises std::runtime_error with the text the
    // user sees, and Fail records such an error as the outcome.
    void Prepare();    // the filter, the two folders, a leftover temporary archive
    void ScanSource(); // counts the files and bytes to add
    void AddTree();    // writes the archive (nothing when the scan found nothing)
    void Finish();     // puts the archive in place or drops it; the closing status line
    void Fail(const QString& error);
    // All steps, with a failure caught into the outcome.
    BackupOutcome Run();

    // Stops the run at the next file or chunk, unless it already counts as completed.
    void RequestAbort();
    bool AbortRequested() const { return abort_; }
    bool Committed() const { return committed_; }

    qint64 FoundCount() const { return found_; }
    qint64 TotalBytes() const { return totalBytes_; }
    const BackupOutcome& Outcome() const { return outcome_; }

private:
    void scan(const QString& folder);
    void addTree(const QString& folder);
    void addFile(const QString& path, qint64 size);
    // The action's own archive files (target, temporary archive, generations, copies) are
    // never packed into the archive, also when the target lies below the source.
    bool ownArchive(const QString& folder, const QString& name);
    bool passes(const QString& folder, const QString& name);
    void fileDone(const QString& path, TZipFileOutcome outcome);
    void takeInRest();
    void restartIfBroken();
    void status(const QString& text);
    void barToZero();
    void committed();
    QString filesText() const;

    TZipComponent& zip_;
    const TextLanguage& language_;
    FileFilter filter_;
    QString source_;             // absolute, with trailing separator
    QString target_;             // absolute
    QString ownFolder_;          // the target's folder, with trailing separator
    QString ownFolderCanonical_; // its resolved form, looked up when first needed
    QString ownName_;            // the target's file name
    QString currentFile_;
    QStringList skipped_; // files that broke off mid-entry; left out of this run
    // Files handed to the archive whose outcome is still to come, in their order, with the
    // sizes the walk found.
    struct Submitted {
        QString path;
        qint64 size;
    };
    std::deque<Submitted> inFlight_;
    QString brokenFile_; // broke off mid-entry in this attempt
    QString underWay_;   // the file whose entry was begun last
    qint64 found_ = 0;
    qint64 added_ = 0;
    qint64 totalBytes_ = 0;
    qint64 doneBytes_ = 0;
    bool abort_ = false;
    bool committed_ = false;
    BackupOutcome outcome_;
};
