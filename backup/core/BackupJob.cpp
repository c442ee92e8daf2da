#include "BackupJob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

#include "FileNames.h"
#include "Generations.h"
#include "ShellFolders.h"
#include "TempArchive.h"
#include "TextFormats.h"
#include "ZipComponent.h"
#include "lang.h"

namespace {

struct FolderEntry {
    QString name;
    bool folder = false;
    qint64 size = 0;
};

// The entries of one folder in the order the file system returns them, without "." and "..".
// Links to folders are left out, so a link loop cannot recurse forever; sockets, pipes and
// devices are left out too, as they hold no file content. A dangling link, or an entry that
// cannot be looked at, counts as a file, so its failed add shows in the files text. Names keep
// their bytes, also where they are not UTF-8. Raises when the folder cannot be listed.
std::vector<FolderEntry> ListFolder(const QString& folder) {
    const QByteArray native = EncodeFileName(folder);
    DIR* d = ::opendir(native.constData());
    if (!d) {
        const int err = errno;
        if (err == ENOENT)
            throw std::runtime_error((QStringLiteral("Verzeichnis ") + LogFileName(folder) +
                                      QStringLiteral(" existiert nicht"))
                                         .toStdString());
        throw std::runtime_error((QStringLiteral("Verzeichnis ") + LogFileName(folder) +
                                  QStringLiteral(" kann nicht gelesen werden: ") +
                                  QString::fromLocal8Bit(std::strerror(err)))
                                     .toStdString());
    }
    const auto closer = qScopeGuard([d] { ::closedir(d); });
    const int dfd = ::dirfd(d);
    std::vector<FolderEntry> out;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat st {};
        FolderEntry fe;
        fe.name = DecodeFileName(QByteArray(e->d_name));
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Gone meanwhile or not to be looked at: counted as a file, so its failed add
            // gives its line and shows in the files text.
            out.push_back(fe);
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            struct stat target {};
            if (::fstatat(dfd, e->d_name, &target, 0) != 0) {
                out.push_back(fe); // dangling
                continue;
            }
            if (!S_ISREG(target.st_mode)) continue;
            st = target;
        }
        if (S_ISDIR(st.st_mode)) {
            fe.folder = true;
        } else if (S_ISREG(st.st_mode)) {
            fe.size = st.st_size;
        } else {
            continue;
        }
        out.push_back(std::move(fe));
    }
    return out;
}

// A file whose entry was begun but could not be read to its end: the stream is spoilt.
struct BrokenEntry : std::runtime_error {
    BrokenEntry(QString file, const QString& why)
        : std::runtime_error(why.toStdString()), path(std::move(file)) {}
    QString path;
};

[[noreturn]] void Raise(const QString& text) {
    throw std::runtime_error(text.toStdString());
}

} // namespace

int ProgressBarPosition(qint64 doneBytes, qint64 scale, int maximum) {
    const qint64 pos = doneBytes / (scale < 1 ? 1 : scale);
    return int(std::clamp<qint64>(pos, 0, std::max(maximum, 0)));
}

BackupJob::BackupJob(TZipComponent& zip, const TextLanguage& language)
    : zip_(zip), language_(language) {}

BackupJob::~BackupJob() {
    // Whatever happened, an archive not committed never reaches the target, and the component
    // keeps no call into this job.
    zip_.Discard();
    zip_.OnProgress = nullptr;
    zip_.OnMessage = nullptr;
    zip_.OnFileDone = nullptr;
    zip_.OnWaiting = nullptr;
    zip_.BeforeCommit = nullptr;
}

void BackupJob::status(const QString& text) {
    if (OnStatus) OnStatus(text);
}

void BackupJob::barToZero() {
    if (!OnProgress) return;
    TZMProgressDetails d;
    d.Kind = TZMProgressKind::Progress;
    OnProgress(d, 0);
}

void BackupJob::committed() {
    committed_ = true;
    if (OnCommitted) OnCommitted();
}

QString BackupJob::filesText() const {
    return found_ == added_ ? FormatInt64(0, found_)
                            : FormatInt64(0, found_) + u'-' + FormatInt64(0, found_ - added_);
}

void BackupJob::RequestAbort() {
    if (committed_) return;
    abort_ = true;
    zip_.Cancel();
}

void BackupJob::Prepare() {
    outcome_ = BackupOutcome();
    currentFile_.clear();
    LoadFilter(FilterText, filter_, language_);
    // An empty source would become the root folder, an empty target a file named after the
    // temporary suffix in the start folder.
    if (Source.trimmed().isEmpty()) Raise(QStringLiteral("Kein Quellverzeichnis angegeben"));
    if (Target.trimmed().isEmpty()) Raise(QStringLiteral("Keine Zieldatei angegeben"));
    abort_ = false;
    committed_ = false;
    found_ = added_ = totalBytes_ = doneBytes_ = 0;
    const QDir start(StartFolder.isEmpty() ? QDir::currentPath() : StartFolder);
    source_ =
        ShellFolders::IncludeTrailingPathDelimiter(QDir::cleanPath(start.absoluteFilePath(Source)));
    target_ = QDir::cleanPath(start.absoluteFilePath(Target));
    const QFileInfo targetInfo(target_);
    ownFolder_ = ShellFolders::IncludeTrailingPathDelimiter(targetInfo.absolutePath());
    ownFolderCanonical_.clear();
    ownName_ = targetInfo.fileName();
    // The folder may be the mount point of a drive that is not there: it is never created,
    // and the run fails before it looks at a single file.
    if (!QFileInfo(targetInfo.absolutePath()).isDir())
        Raise(QStringLiteral("Zielordner ") + targetInfo.absolutePath() +
              QStringLiteral(" existiert nicht"));
    // Temporary archives left by interrupted runs of this action go first.
    RemoveStaleTempArchives(target_);
    zip_.Discard();
}

bool BackupJob::ownArchive(const QString& folder, const QString& name) {
    if (!IsArchiveFileOf(ownName_, name)) return false;
    if (folder == ownFolder_) return true;
    // The source may reach the target's folder through a link.
    if (ownFolderCanonical_.isEmpty())
        ownFolderCanonical_ =
            ShellFolders::IncludeTrailingPathDelimiter(CanonicalFilePath(ownFolder_));
    const QString canonical = CanonicalFilePath(folder);
    return !canonical.isEmpty() &&
           ShellFolders::IncludeTrailingPathDelimiter(canonical) == ownFolderCanonical_;
}

// The filter sees a name as the lists show it.
bool BackupJob::passes(const QString& folder, const QString& name) {
    return FilterAccepts(filter_, ShownFileName(name)) && !ownArchive(folder, name);
}

void BackupJob::ScanSource() {
    found_ = 0;
    totalBytes_ = 0;
    // A source folder that cannot be listed fails the run instead of replacing the archive
    // with nothing.
    scan(source_);
    // Completes with an empty result; the old archive stays, as an empty folder is more
    // often a drive not mounted than files deleted on purpose.
    if (found_ == 0 && !abort_) committed();
}

void BackupJob::scan(const QString& folder) {
    std::vector<FolderEntry> entries;
    try {
        entries = ListFolder(folder);
    } catch (const std::exception&) {
        if (folder == source_) throw;
        return; // reported by the add walk, which processes messages
    }
    // A large or slow tree takes long to list: the window stays responsive and its abort
    // button works meanwhile.
    if (OnProgress) OnProgress(TZMProgressDetails(), 0);
    for (const FolderEntry& e : entries) {
        if (abort_) break;
        if (e.folder) {
            scan(folder + e.name + u'/');
        } else if (passes(folder, e.name)) {
            ++found_;
            totalBytes_ += e.size;
        }
    }
}

void BackupJob::AddTree() {
    if (found_ == 0 || abort_) return;
    zip_.AddOptions = Password.isEmpty()
                          ? unsigned(TZipComponent::AddDirNames)
                          : unsigned(TZipComponent::AddDirNames | TZipComponent::AddEncrypt);
    zip_.Password = Password;
    zip_.ZipFileName = target_;
    // Without a target the newest older archive tells who may read the new one.
    zip_.PermissionsFrom = GenerationName(target_, QStringLiteral("1"));
    zip_.BaseFolder = source_;
    zip_.OnProgress = [this](const TZMProgressDetails& d) {
        if (d.Kind == TZMProgressKind::NewItem) underWay_ = d.ItemName;
        if (OnProgress) OnProgress(d, doneBytes_);
    };
    zip_.OnMessage = [this](TZMMessageKind kind, const QString& text) {
        if (OnMessage) OnMessage(kind, text);
    };
    zip_.OnFileDone = [this](const QString& path, TZipFileOutcome o) { fileDone(path, o); };
    zip_.OnWaiting = [this] {
        if (OnProgress) OnProgress(TZMProgressDetails(), doneBytes_);
    };
    // The archive work runs on the component's workers; they end with the run.
    zip_.LowPriority = true;
    // A file that breaks off after its entry began cannot be taken out of the stream: the
    // archive is begun again without it, so that file alone is missing. Each file can do this
    // once, so the attempts are bounded.
    skipped_.clear();
    for (;;) {
        added_ = 0;
        doneBytes_ = 0;
        inFlight_.clear();
        brokenFile_.clear();
        underWay_.clear();
        barToZero();
        try {
            addTree(source_);
            takeInRest();
            break;
        } catch (const BrokenEntry& broken) {
            zip_.Discard();
            skipped_ << broken.path;
            status(language_.Tx(txFehlerHinzufuegen) + LogFileName(broken.path));
        }
    }
}

void BackupJob::addTree(const QString& folder) {
    if (abort_) return;
    std::vector<FolderEntry> entries;
    try {
        entries = ListFolder(folder);
    } catch (const std::exception& e) {
        status(language_.Tx(txUeberspringe) + LogFileName(folder) + language_.Tx(txFehler) +
               QString::fromUtf8(e.what()));
        return;
    }
    for (const FolderEntry& e : entries) {
        if (abort_) break;
        if (e.folder) {
            addTree(folder + e.name + u'/');
            continue;
        }
        if (!passes(folder, e.name)) continue;
        const QString path = folder + e.name;
        if (skipped_.contains(path)) continue; // spoilt an earlier attempt of this run
        addFile(path, e.size);
    }
}

// The one place a file goes into the archive. It is handed to the component, which works on
// the next files meanwhile; its outcome comes back through fileDone, in the order given.
void BackupJob::addFile(const QString& path, qint64 size) {
    currentFile_ = path;
    inFlight_.push_back({path, size});
    try {
        zip_.Submit(path, size);
    } catch (const std::exception& ex) {
        // The archive cannot be written (a full disk, a lost drive): every further file would
        // fail the same way, so the run ends here with the system's reason. The file being
        // added is not to blame, so the failed line names the target only.
        currentFile_.clear();
        Raise(QString::fromUtf8(ex.what()));
    }
    restartIfBroken();
}

// Takes in every file still in flight once the walk is done.
void BackupJob::takeInRest() {
    try {
        zip_.Drain();
    } catch (const std::exception& ex) {
        currentFile_.clear();
        Raise(QString::fromUtf8(ex.what()));
    }
    restartIfBroken();
}

// An entry that was begun but could not be read to its end spoils the stream.
void BackupJob::restartIfBroken() {
    if (!abort_ && !brokenFile_.isEmpty()) throw BrokenEntry(brokenFile_, zip_.BrokenReason());
}

void BackupJob::fileDone(const QString& path, TZipFileOutcome outcome) {
    qint64 size = 0;
    if (!inFlight_.empty() && inFlight_.front().path == path) {
        size = inFlight_.front().size;
        inFlight_.pop_front();
    }
    switch (outcome) {
    case TZipFileOutcome::Added:
        doneBytes_ += size;
        ++added_;
        return;
    case TZipFileOutcome::Broken:
        if (!abort_ && brokenFile_.isEmpty() && !zip_.BrokenReason().isEmpty()) brokenFile_ = path;
        status(language_.Tx(txFehlerHinzufuegen) + LogFileName(path));
        return;
    case TZipFileOutcome::Skipped:
        status(language_.Tx(txFehlerHinzufuegen) + LogFileName(path));
        return;
    case TZipFileOutcome::Dropped:
        break;
    }
    // Dropped. After an abort only the file under way is named; the ones behind it were never
    // begun. Behind a file that broke off the archive begins again, so they need no line.
    if (abort_) {
        if (path == underWay_) status(language_.Tx(txFehlerHinzufuegen) + LogFileName(path));
        return;
    }
    // Behind a write error the run fails with one line naming the target and the reason.
    if (!brokenFile_.isEmpty() || zip_.WriteFailed()) return;
    status(language_.Tx(txFehlerHinzufuegen) + LogFileName(path));
}

void BackupJob::Finish() {
    outcome_.Found = found_;
    outcome_.Added = added_;
    outcome_.Bytes = totalBytes_;
    outcome_.FilesText = filesText();
    if (found_ == 0 && !abort_) {
        outcome_.State = BackupOutcome::Result::Completed;
        status(QStringLiteral("Keine Datei gefunden in ") + source_ + QStringLiteral(", ") +
               (QFileInfo::exists(target_) ? target_ + QStringLiteral(" bleibt unverändert")
                                           : QStringLiteral("kein Archiv geschrieben")));
        return;
    }
    if (abort_) {
        QThread::msleep(100);
        if (OnProgress) OnProgress(TZMProgressDetails(), doneBytes_); // lets the window breathe
        zip_.Discard();
    } else if (added_ == 0) {
        // Files were found but not one could be added: an empty archive must not replace
        // the last good one.
        zip_.Discard();
        barToZero();
        QString text = QStringLiteral("Keine der ") + FormatInt64(0, found_) +
                       QStringLiteral(" gefundenen Dateien konnte gesichert werden");
        if (QFileInfo::exists(target_))
            text += QStringLiteral(", ") + target_ + QStringLiteral(" bleibt unverändert");
        Raise(text);
    } else {
        // Every file is in: a failure from here on is the archive's, not a file's.
        currentFile_.clear();
        zip_.BeforeCommit = BeforeCommit;
        zip_.Commit();
        // Done: an abort from here on must not undo the completed run.
        committed();
    }
    barToZero();
    outcome_.ArchiveSize = zip_.ZipFileSize();
    if (abort_) {
        outcome_.State = BackupOutcome::Result::Aborted;
        status(language_.Tx(txAbgebrochenDurchBenutzer));
    } else {
        outcome_.State = BackupOutcome::Result::Completed;
        status(FormatInt64(0, added_) + u' ' + language_.Tx(txDateien) + QStringLiteral("  ") +
               language_.Tx(txVon) + u' ' + FormatInt64(0, found_) + u' ' + language_.Tx(txMit) +
               u' ' + FormatInt64(0, totalBytes_) + QStringLiteral(" Byte ") +
               language_.Tx(txKomprimiertZu) + u' ' + FormatInt64(0, outcome_.ArchiveSize) +
               QStringLiteral(" Byte"));
    }
}

void BackupJob::Fail(const QString& error) {
    zip_.Discard();
    outcome_.State = BackupOutcome::Result::Failed;
    outcome_.Found = found_;
    outcome_.Added = added_;
    outcome_.Bytes = totalBytes_;
    outcome_.Error = error;
    outcome_.CurrentFile = currentFile_;
    outcome_.FailureLine = QStringLiteral("!!! BO, Backup:") + LogFileName(currentFile_) + u' ' +
                           language_.Tx(txNach) + u' ' + Target + QStringLiteral(" :") + error;
}

BackupOutcome BackupJob::Run() {
    try {
        Prepare();
        ScanSource();
        AddTree();
        Finish();
    } catch (const std::exception& e) {
        Fail(QString::fromUtf8(e.what()));
    }
    return outcome_;
}
