// The backup run.
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <stdexcept>
#include <utility>

#include "Clock.h"
#include "FileNames.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "ZipComponent.h"
#include "ZorvaneMain.h"
#include "lang.h"

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

void Tmain::backupSelectedExecute(RunKind kind) {
    {
        // Messages are processed during a run; nothing may start a second one inside it.
        ActivityScope run(*this, Activity::Run, kind);
        if (!run.Entered()) return;
        RunCommandsEnabled(false);
        btnAbort->setVisible(true);
        Timer2->stop();
        // However the run ends, the commands, the abort button and the scheduler come back.
        const auto restore = qScopeGuard([this] {
            btnAbort->setVisible(false);
            // Once the close or the hand-over has begun, no scheduled run may follow this one.
            if (!Leaving()) Timer2->start();
            RunCommandsEnabled(true);
        });
        RunFocusedAction(kind);
        btnAbort->setVisible(false);
        SaveHistory();
    }
    ReloadIfPending();
}

void Tmain::RunFocusedAction(RunKind kind) {
    const QString kindText = QStringLiteral(", ") + Tx(kind == RunKind::Scheduled ? txAutomatisch
                                                       : kind == RunKind::All     ? txManuellAlle
                                                                              : txManuellEinzeln);
    const int row = sg->Row();
    const BackupAction action = ActionAt(row);
    const QString& verz = action.Folder();
    const QString& nach = action.Target();
    try {
        SetStaColour(Qt::blue);
        sta->setToolTip(Tx(txBackupLaeuft));
        if (LogLineCount() > 0) LogLine(QString());
        LogLine(Tx(txBeginneBackup) + u' ' + verz + u' ' + Tx(txNach) + u' ' + nach +
                QStringLiteral(", ") + TextFormats::FormatDateTime(Clock::Now()) + kindText);
        const QDateTime start = Clock::Now();
        const BackupOutcome outcome = BackupOne(verz, nach, action.Filter(), action.Password());
        if (outcome.State == BackupOutcome::Result::Failed) {
            LogLine(outcome.FailureLine);
        } else {
            QCoreApplication::processEvents();
            if (outcome.State == BackupOutcome::Result::Aborted) {
                Status->setText(Tx(txAbgebrochenDurchBenutzer));
                LogLine(QStringLiteral("Backup ") + Tx(txVon) + u' ' + verz + u' ' + Tx(txNach) +
                        u' ' + nach + u' ' + Tx(txAbgebrochen) + QStringLiteral(", ") +
                        TextFormats::FormatDateTime(Clock::Now()));
            } else {
                Status->setText(Tx(txBereit));
                WriteRunResults(row, outcome, start);
                LogLine(QStringLiteral("Backup ") + Tx(txVon) + u' ' + verz + u' ' + Tx(txNach) +
                        u' ' + nach + u' ' + Tx(txAbgeschlossen) + QStringLiteral(", ") +
                        TextFormats::FormatDateTime(Clock::Now()));
            }
        }
    } catch (const std::exception& e) {
        LogLine(QStringLiteral("!!! BO, Backup: ") + Tx(txNach) + u' ' + nach +
                QStringLiteral(" :") + QString::fromUtf8(e.what()));
    }
}

void Tmain::WriteRunResults(int row, const BackupOutcome& outcome, const QDateTime& start) {
    const QDateTime now = Clock::Now();
    // The duration shows the time of day it would be after that many hours from midnight, so
    // it wraps at 24 hours.
    const qint64 ms = start.msecsTo(now) % (qint64(24) * 3600 * 1000);
    BackupAction done = ActionAt(row);
    done.SetRunResults(now, outcome.FilesText, outcome.Bytes, outcome.ArchiveSize, ms);
    SetAction(row, done);
}

void Tmain::backupAllExecute() {
    {
        ActivityScope all(*this, Activity::Series, RunKind::All);
        if (!all.Entered()) return;
        RunCommandsEnabled(false);
        const auto restore = qScopeGuard([this] { RunCommandsEnabled(true); });
        // An abort of an earlier run must not stop this one after its first row.
        AbortRequested = false;
        int i = 1;
        try {
            for (; i <= actions_.size(); ++i) {
                sg->SetFocusCell(sg->Col(), i);
                backupSelectedExecute(RunKind::All);
                // An exit, logoff or hand-over that came after the row's archive was in place
                // found no run to abort; the rows after it must not run inside the close either.
                if (AbortRequested || SessionEnding || Leaving()) break;
            }
        } catch (const std::exception& e) {
            LogLine(QStringLiteral("!!! BA ") + QString::number(i) + QStringLiteral(": ") +
                    QString::fromUtf8(e.what()));
        }
    }
    ReloadIfPending();
}

BackupOutcome Tmain::BackupOne(const QString& Source, const QString& Target,
                               const QString& FilterText, const QString& Password) {
    BackupJob job(*zip, language_);
    job.Source = Source;
    job.Target = Target;
    job.FilterText = FilterText;
    job.Password = Password;
    job.StartFolder = StartFolder;
    job.OnStatus = [this](const QString& text) { SetStatus(text); };
    job.OnProgress = [this](const TZMProgressDetails& d, qint64 done) { runProgress(d, done); };
    job.OnMessage = [this](TZMMessageKind kind, const QString& text) { zipMessage(kind, text); };
    job.BeforeCommit = std::exchange(beforeCommit_, nullptr);
    job.OnCommitted = [this] {
        EnterCommitted();
        btnAbort->setVisible(false);
    };
    runJob_ = &job;
    struct Done {
        BackupJob*& job;
        ~Done() { job = nullptr; }
    } done{runJob_};
    try {
        job.Prepare();
        AbortRequested = false;
        DoneBytes = 0;
        TotalBytes = 0;
        ScanSource(job);
        AddTree(job);
        job.Finish();
    } catch (const std::exception& e) {
        job.Fail(QString::fromUtf8(e.what()));
    }
    TotalBytes = job.Outcome().Bytes;
    return job.Outcome();
}

void Tmain::ScanSource(BackupJob& job) {
    job.ScanSource();
    TotalBytes = job.TotalBytes();
    if (job.FoundCount() == 0) return;
    ProgressScale = ProgressScaleFor(TotalBytes);
    pb->setMaximum(int(TotalBytes / ProgressScale));
    pb->setValue(0);
}

void Tmain::AddTree(BackupJob& job) {
    job.AddTree();
    showRunProgress();
}

void Tmain::runProgress(const TZMProgressDetails& d, qint64 done) {
    DoneBytes = done;
    if (d.Kind == TZMProgressKind::NewItem) {
        runItem_ = d.ItemName;
        runItemSize_ = d.TotalSize;
    }
    if (d.Kind == TZMProgressKind::Progress) runBarBytes_ = d.Written + done;
    if (!zipPacer_.Due()) return;
    showRunProgress();
    zipPacer_.Now();
}

void Tmain::showRunProgress() {
    if (runItemSize_ >= 0) {
        TZMProgressDetails item;
        item.Kind = TZMProgressKind::NewItem;
        item.ItemName = runItem_;
        item.TotalSize = runItemSize_;
        showProgress(item, DoneBytes);
    }
    runItemSize_ = -1;
    if (runBarBytes_ >= 0)
        pb->setValue(ProgressBarPosition(runBarBytes_, ProgressScale, pb->maximum()));
    runBarBytes_ = -1;
}

void Tmain::btnAbortClick() {
    if (activity_ == Activity::Committed) return;
    AbortRequested = true;
    if (runJob_)
        runJob_->RequestAbort();
    else
        zip->Cancel();
}

void Tmain::zipProgress(const TZMProgressDetails& Details) {
    showProgress(Details, DoneBytes);
    zipPacer_.Pace();
}

void Tmain::showProgress(const TZMProgressDetails& Details, qint64 done) {
    switch (Details.Kind) {
    case TZMProgressKind::NewItem:
        Status->setText(ShownFileName(Details.ItemName) + QStringLiteral(" [") +
                        FormatInt64(0, Details.TotalSize / 1024) + QStringLiteral(" Kb]"));
        break;
    case TZMProgressKind::Progress:
        pb->setValue(ProgressBarPosition(Details.Written + done, ProgressScale, pb->maximum()));
        break;
    case TZMProgressKind::Other:
        break;
    }
}

void Tmain::zipMessage(TZMMessageKind Kind, const QString& ErrMsg) {
    if (Kind != TZMMessageKind::Problem) return;
    LogLine(ErrMsg);
    Memo1->moveCursor(QTextCursor::End);
    Memo1->ensureCursorVisible();
    zipPacer_.Pace();
}
