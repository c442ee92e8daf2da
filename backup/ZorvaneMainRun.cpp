// The backup run.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

#include "Clock.h"
#include "Priority.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "ZipComponent.h"
#include "ZorvaneMain.h"
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
// cannot be looked at, counts as a file, so its failed add shows in the files text. Raises when
// the folder cannot be listed.
std::vector<FolderEntry> ListFolder(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder);
    DIR* d = ::opendir(native.constData());
    if (!d) {
        const int err = errno;
        if (err == ENOENT)
            throw std::runtime_error(
                (QStringLiteral("Verzeichnis ") + folder + QStringLiteral(" existiert nicht"))
                    .toStdString());
        throw std::runtime_error((QStringLiteral("Verzeichnis ") + folder +
                                  QStringLiteral(" kann nicht gelesen werden: ") +
                                  QString::fromLocal8Bit(std::strerror(err)))
                                     .toStdString());
    }
    struct Closer {
        DIR* d;
        ~Closer() { ::closedir(d); }
    } closer{d};
    const int dfd = ::dirfd(d);
    std::vector<FolderEntry> out;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat st {};
        FolderEntry fe;
        fe.name = QFile::decodeName(e->d_name);
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

QString WithSeparator(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

} // namespace

void Tmain::RunCommandsEnabled(bool enable) {
    if (!enable) {
        if (runCommandsDisabled_++ == 0) {
            savedPackOne_ = backupSelected->isEnabled();
            savedPackAll_ = backupAll->isEnabled();
            savedRestore_ = btnRestore->isEnabled();
            backupSelected->setEnabled(false);
            backupAll->setEnabled(false);
            btnRestore->setEnabled(false);
        }
    } else if (runCommandsDisabled_ > 0 && --runCommandsDisabled_ == 0) {
        backupSelected->setEnabled(savedPackOne_);
        backupAll->setEnabled(savedPackAll_);
        btnRestore->setEnabled(savedRestore_);
    }
}

void Tmain::SetPackAllEnabled(bool enable) {
    if (RunCommandsLocked())
        savedPackAll_ = enable;
    else
        backupAll->setEnabled(enable);
}

void Tmain::backupSelectedExecute(QObject* Sender) {
    // Messages are processed during a run; nothing may start a second one inside it.
    if (RunActive) return;
    RunActive = true;
    RunCommitted = false;
    RunCommandsEnabled(false);
    btnAbort->setVisible(true);
    Busy = true;
    Timer2->stop();
    QString kind;
    if (!Sender)
        kind = QStringLiteral(", ") + Tx(txAutomatisch);
    else if (Sender == backupAll)
        kind = QStringLiteral(", ") + Tx(txManuellAlle);
    else
        kind = QStringLiteral(", ") + Tx(txManuellEinzeln);
    const int row = sg->Row();
    const QString verz = sg->Cell(colVerz, row);
    const QString nach = sg->Cell(colNach, row);
    try {
        SetStaColour(Qt::blue);
        sta->setToolTip(Tx(txBackupLaeuft));
        if (LogLineCount() > 0) LogLine(QString());
        LogLine(Tx(txBeginneBackup) + u' ' + verz + u' ' + Tx(txNach) + u' ' + nach +
                QStringLiteral(", ") + TextFormats::FormatDateTime(Clock::Now()) + kind);
        Priority::SetIdle();
        const QDateTime start = Clock::Now();
        CurrentFile.clear();
        BackupOne(verz, nach, sg->Cell(colFilter, row), sg->Cell(colP, row));
        Priority::SetNormal();
        QCoreApplication::processEvents();
        if (AbortRequested && !RunCommitted) {
            Status->setText(Tx(txAbgebrochenDurchBenutzer));
            LogLine(QStringLiteral("Backup ") + Tx(txVon) + u' ' + verz + u' ' + Tx(txNach) + u' ' +
                    nach + u' ' + Tx(txAbgebrochen) + QStringLiteral(", ") +
                    TextFormats::FormatDateTime(Clock::Now()));
        } else {
            Status->setText(Tx(txBereit));
            const QDateTime now = Clock::Now();
            // The duration shows the time of day it would be after that many hours from
            // midnight, so it wraps at 24 hours.
            const qint64 ms = start.msecsTo(now) % (qint64(24) * 3600 * 1000);
            sg->SetCell(colLast, row, TextFormats::FormatDateTime(now));
            sg->SetCell(colDateien, row, LastFilesText);
            sg->SetCell(colBytes, row, FormatInt64(0, TotalBytes));
            sg->SetCell(colArc, row, FormatInt64(0, FoundCount > 0 ? zip->ZipFileSize() : 0));
            sg->SetCell(colDauer, row, TextFormats::FormatDuration(ms));
            LogLine(QStringLiteral("Backup ") + Tx(txVon) + u' ' + verz + u' ' + Tx(txNach) + u' ' +
                    nach + u' ' + Tx(txAbgeschlossen) + QStringLiteral(", ") +
                    TextFormats::FormatDateTime(Clock::Now()));
        }
    } catch (const std::exception& e) {
        Priority::SetNormal();
        LogLine(QStringLiteral("!!! BO, Backup:") + CurrentFile + u' ' + Tx(txNach) + u' ' + nach +
                QStringLiteral(" :") + QString::fromUtf8(e.what()));
    }
    if (Sender) Busy = false;
    btnAbort->setVisible(false);
    SaveHistory();
    Timer2->start();
    RunCommandsEnabled(true);
    RunActive = false;
    RunCommitted = false;
    if (!allActive_) ReloadIfPending();
}

void Tmain::backupAllExecute(QObject* Sender) {
    if (RunActive || allActive_) return;
    allActive_ = true;
    RunCommandsEnabled(false);
    // An abort of an earlier run must not stop this one after its first row.
    AbortRequested = false;
    int i = 1;
    try {
        for (; i < sg->RowCount(); ++i) {
            Busy = false;
            sg->SetFocusCell(sg->Col(), i);
            backupSelectedExecute(Sender);
            if (AbortRequested) break;
        }
        Busy = false;
    } catch (const std::exception& e) {
        LogLine(QStringLiteral("!!! BA ") + QString::number(i) + QStringLiteral(": ") +
                QString::fromUtf8(e.what()));
        Busy = false;
    }
    RunCommandsEnabled(true);
    allActive_ = false;
    ReloadIfPending();
}

void Tmain::BackupOne(const QString& Source, const QString& Target, const QString& FilterText,
                      const QString& Password) {
    LoadFilter(FilterText, RunFilter);
    // An empty source would become the root folder, an empty target a file named after the
    // temporary suffix in whatever folder is current.
    if (Source.trimmed().isEmpty()) throw std::runtime_error("Kein Quellverzeichnis angegeben");
    if (Target.trimmed().isEmpty()) throw std::runtime_error("Keine Zieldatei angegeben");
    AbortRequested = false;
    DoneBytes = 0;
    TotalBytes = 0;
    RunCommitted = false;
    // Both absolute, as the current folder changes below.
    const QDir start(StartFolder);
    RunSource = WithSeparator(QDir::cleanPath(start.absoluteFilePath(Source)));
    const QString target = QDir::cleanPath(start.absoluteFilePath(Target));
    RunTarget = target;
    // A temporary archive left by an interrupted run of this action goes first.
    QFile::remove(TZipComponent::TempFileName(target));
    // Whatever happens below, an archive not committed never reaches the target.
    struct DiscardGuard {
        TZipComponent* z;
        ~DiscardGuard() { z->Discard(); }
    } discardGuard{zip.get()};
    zip->Discard();

    FoundCount = 0;
    AddedCount = 0;
    // A source folder that cannot be listed fails the run (ScanSource raises) instead of
    // replacing the archive with nothing.
    ScanSource(RunSource);
    if (FoundCount == 0) {
        // Completes with an empty result: the target no longer stands for this folder.
        QFile::remove(target);
        RunCommitted = true;
        LastFilesText = QStringLiteral("0");
        return;
    }
    ProgressScale = ProgressScaleFor(TotalBytes);
    pb->setMaximum(int(TotalBytes / ProgressScale));
    pb->setValue(0);

    zip->AddOptions = Password.isEmpty()
                          ? unsigned(TZipComponent::AddDirNames)
                          : unsigned(TZipComponent::AddDirNames | TZipComponent::AddEncrypt);
    zip->Password = Password;
    zip->ZipFileName = target;
    zip->OnProgress = [this](const TZMProgressDetails& d) { zipProgress(d); };
    zip->OnMessage = [this](int code, const QString& msg) { zipMessage(code, msg); };
    QDir::setCurrent(RunSource);

    // A file that breaks off after its entry began cannot be taken out of the stream: the
    // archive is begun again without it, so that file alone is missing. Each file can do this
    // once, so the attempts are bounded.
    RunSkipped.clear();
    for (;;) {
        AddedCount = 0;
        DoneBytes = 0;
        pb->setValue(0);
        try {
            AddTree(RunSource);
            break;
        } catch (const BrokenEntry& broken) {
            zip->Discard();
            RunSkipped << broken.path;
            SetStatus(Tx(txFehlerHinzufuegen) + broken.path);
        }
    }
    LastFilesText = FoundCount == AddedCount ? FormatInt64(0, FoundCount)
                                             : FormatInt64(0, FoundCount) + u'-' +
                                                   FormatInt64(0, FoundCount - AddedCount);
    if (AbortRequested) {
        QThread::msleep(100);
        QCoreApplication::processEvents();
        zip->Discard();
    } else if (AddedCount == 0) {
        // Files were found but not one could be added: an empty archive must not replace
        // the last good one.
        zip->Discard();
        pb->setValue(0);
        QString text = QStringLiteral("Keine der ") + FormatInt64(0, FoundCount) +
                       QStringLiteral(" gefundenen Dateien konnte gesichert werden");
        if (QFileInfo::exists(target))
            text += QStringLiteral(", ") + target + QStringLiteral(" bleibt unverändert");
        throw std::runtime_error(text.toStdString());
    } else {
        zip->Commit();
        // Done: a click on "Abbrechen" from here on must not undo the completed run.
        RunCommitted = true;
        btnAbort->setVisible(false);
    }
    pb->setValue(0);
    if (AbortRequested) {
        SetStatus(Tx(txAbgebrochenDurchBenutzer));
    } else {
        SetStatus(FormatInt64(0, AddedCount) + u' ' + Tx(txDateien) + QStringLiteral("  ") +
                  Tx(txVon) + u' ' + FormatInt64(0, FoundCount) + u' ' + Tx(txMit) + u' ' +
                  FormatInt64(0, TotalBytes) + QStringLiteral(" Byte ") + Tx(txKomprimiertZu) +
                  u' ' + FormatInt64(0, zip->ZipFileSize()) + QStringLiteral(" Byte"));
    }
}

void Tmain::ScanSource(const QString& Folder) {
    std::vector<FolderEntry> entries;
    try {
        entries = ListFolder(Folder);
    } catch (const std::exception&) {
        if (Folder == RunSource) throw;
        return; // reported by the add walk, which processes messages
    }
    for (const FolderEntry& e : entries) {
        if (AbortRequested) break;
        if (e.folder) {
            ScanSource(Folder + e.name + u'/');
        } else if (FilterAccepts(RunFilter, e.name)) {
            ++FoundCount;
            TotalBytes += e.size;
        }
    }
}

void Tmain::AddTree(const QString& Folder) {
    if (AbortRequested) return;
    std::vector<FolderEntry> entries;
    try {
        entries = ListFolder(Folder);
    } catch (const std::exception& e) {
        SetStatus(Tx(txUeberspringe) + Folder + Tx(txFehler) + QString::fromUtf8(e.what()));
        return;
    }
    for (const FolderEntry& e : entries) {
        if (AbortRequested) break;
        if (e.folder) {
            AddTree(Folder + e.name + u'/');
            continue;
        }
        if (!FilterAccepts(RunFilter, e.name)) continue;
        const QString path = Folder + e.name;
        if (RunSkipped.contains(path)) continue; // spoilt an earlier attempt of this run
        CurrentFile = path;
        try {
            zip->FSpecArgs = QStringList{path};
            try {
                zip->Add();
                if (zip->SuccessCnt == 1) {
                    DoneBytes += e.size;
                    ++AddedCount;
                } else {
                    SetStatus(Tx(txFehlerHinzufuegen) + path);
                }
            } catch (const std::exception&) {
                SetStatus(Tx(txFehlerSchreiben) + RunTarget + Tx(txFestplatteVoll));
            }
        } catch (const std::exception& ex) {
            SetStatus(Tx(txUeberspringe) + path + Tx(txFehler) + QString::fromUtf8(ex.what()));
        }
        // An entry that was begun but could not be read to its end spoils the stream.
        if (!AbortRequested && !zip->BrokenReason().isEmpty())
            throw BrokenEntry(path, zip->BrokenReason());
    }
}

void Tmain::btnAbortClick() {
    if (RunActive && RunCommitted) return;
    AbortRequested = true;
    zip->Cancel();
}

void Tmain::zipProgress(const TZMProgressDetails& Details) {
    switch (Details.Kind) {
    case TZMProgressKind::NewItem:
        Status->setText(Details.ItemName + QStringLiteral(" [") +
                        FormatInt64(0, Details.TotalSize / 1024) + QStringLiteral(" Kb]"));
        break;
    case TZMProgressKind::Progress: {
        const qint64 scale = ProgressScale < 1 ? 1 : ProgressScale;
        const qint64 pos = (Details.Written + DoneBytes) / scale;
        pb->setValue(int(std::clamp<qint64>(pos, 0, pb->maximum())));
        break;
    }
    case TZMProgressKind::Other:
        break;
    }
    QCoreApplication::processEvents();
}

void Tmain::zipMessage(int ErrCode, const QString& ErrMsg) {
    Q_UNUSED(ErrCode);
    if (ErrMsg.indexOf(QStringLiteral("adding")) == 2 ||
        ErrMsg.startsWith(QStringLiteral("Unzipped")))
        return;
    LogLine(ErrMsg);
    Memo1->moveCursor(QTextCursor::End);
    Memo1->ensureCursorVisible();
    QCoreApplication::processEvents();
}
