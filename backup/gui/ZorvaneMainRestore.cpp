// The restore command of the main window.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QToolButton>

#include "Dialogs.h"
#include "Drive.h"
#include "Shell.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "ZipComponent.h"
#include "ZorvaneMain.h"
#include "lang.h"
#include "uRestore.h"

#include <optional>

namespace {

void setGridColour(QWidget* grid, QPalette::ColorRole role) {
    QPalette p = grid->palette();
    p.setColor(QPalette::Base, QApplication::palette().color(role));
    grid->setPalette(p);
}

// The drive of an action's target, if it names one, is there; says so when it is not.
bool targetDrivePresent(const QString& target, const TextLanguage& language) {
    if (target.isEmpty()) return true;
    const QString drive = Drive::ExtractFileDrive(target);
    if (Drive::DriveExists(drive)) return true;
    Dialogs::MessageDlg(u' ' + language.Tx(txLaufwerk) + u' ' + drive + u' ' +
                            language.Tx(txNichtGefunden),
                        Dialogs::Kind::Information, Dialogs::Ok);
    return false;
}

// The reader reports as the backup run's component does, to the same bar and log. A restore of
// many small files would spend most of its time painting one status line per file, so the
// reports are passed on a few dozen times a second, each with the file and position of that
// moment; that also keeps the abort button answering.
std::function<void(const TZipReader::ProgressDetails&)> pacedProgress(Tmain& window) {
    return [&window, shown = QElapsedTimer(), item = std::optional<TZipReader::ProgressDetails>()](
               const TZipReader::ProgressDetails& d) mutable {
        if (d.Kind == TZipReader::ProgressKind::NewItem) item = d;
        if (shown.isValid() && shown.elapsed() < 40) return;
        shown.start();
        TZMProgressDetails z;
        if (item) {
            z.Kind = TZMProgressKind::NewItem;
            z.ItemName = item->ItemName;
            z.TotalSize = item->ItemSize;
            window.zipProgress(z);
            item.reset();
        }
        z.Kind = TZMProgressKind::Progress;
        z.Written = d.Written;
        window.zipProgress(z);
    };
}

} // namespace

void Tmain::btnRestoreClick() {
    if (!btnRestore->isEnabled()) return;
    // One run or restore at a time.
    if (activity_ != Activity::Idle) return;
    const int row = sg->Row();
    const QString target = ActionAt(row).Target();
    if (!targetDrivePresent(target, language_)) return;
    {
        ActivityScope restoring(*this, Activity::Restore);
        // No run may start from the tool bar while a restore is under way.
        RunCommandsEnabled(false);
        const auto done = qScopeGuard([this] {
            RunCommandsEnabled(true);
            TZipReader& reader = *fRestore->zip;
            reader.Close();
            reader.OnProgress = nullptr;
            reader.OnMessage = nullptr;
        });
        RestoreFrom(target, ActionAt(row).Password());
    }
    ReloadIfPending(); // a reload asked for meanwhile
}

void Tmain::RestoreFrom(const QString& archive, const QString& password) {
    DoneBytes = 0;
    ProgressScale = 1;
    TZipReader& reader = *fRestore->zip;
    reader.Password = password;
    // Also a listing that cannot read a generation reports through here.
    // Everything the reader reports is a problem with the archive or a file of it.
    reader.OnMessage = [this](TZipReaderMessageKind, const QString& text) {
        zipMessage(TZMMessageKind::Problem, text);
    };
    if (!fRestore->FormShow(archive)) return;
    if (Dialogs::Exec(*fRestore) != QDialog::Accepted) return;
    ExtractChosen();
}

void Tmain::ExtractChosen() {
    // A run that ended while the dialog was open left its own progress base.
    DoneBytes = 0;
    TotalBytes = fRestore->TotalBytes;
    ProgressScale = ProgressScaleFor(TotalBytes);
    pb->setRange(0, int(TotalBytes / ProgressScale));

    TZipReader& reader = *fRestore->zip;
    const auto abortConnection =
        connect(btnAbort, &QPushButton::clicked, this, [&reader] { reader.Cancel(); });
    btnAbort->setVisible(true);
    SetStaColour(Qt::yellow);
    sg->setEnabled(false);
    setGridColour(sg, QPalette::Button);
    QCoreApplication::processEvents();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto shownAgain = qScopeGuard([this, abortConnection] {
        QObject::disconnect(abortConnection);
        btnAbort->setVisible(false);
        QApplication::restoreOverrideCursor();
        sg->setEnabled(true);
        setGridColour(sg, QPalette::Base);
    });

    SetStatus(Tx(txEntpacke) + u' ' + fRestore->lDatei->text() + u' ' + Tx(txNach) + u' ' +
              fRestore->verzeichnis->text());
    reader.OnProgress = pacedProgress(*this);
    int count = 0;
    try {
        count = reader.Extract(fRestore->TargetDir, fRestore->FSpecArgs);
    } catch (...) {
        Dialogs::MessageDlg(
            QStringLiteral("Fehler beim entpacken: Fatal DLL Exception in mainunit"),
            Dialogs::Kind::Information, Dialogs::Ok);
        count = reader.SuccessCnt;
    }
    ReportRestored(count);
}

void Tmain::ReportRestored(int count) {
    SetStatus(QString::number(count) + QStringLiteral(" Dateie(n) entpackt"));
    pb->setValue(0);
    Status->setText(Tx(txBereit));
    // Without a file manager on the desktop nothing opens; the log tells where the files are.
    if (!Shell::Open(fRestore->TargetDir))
        LogLine(QStringLiteral("Verzeichnis ") + fRestore->TargetDir +
                QStringLiteral(" konnte nicht geöffnet werden (kein Programm zum Anzeigen von "
                               "Ordnern?)"));
}
