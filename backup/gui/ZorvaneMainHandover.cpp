// The hand-over to the updater: the program folder is recorded, the updater started, and the
// program ends with everything saved.
#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include "Clock.h"
#include "Dialogs.h"
#include "Handover.h"
#include "Shell.h"
#include "ZorvaneMain.h"
#include "lang.h"

void Tmain::btnIupdateClick(QObject* Sender) {
    Q_UNUSED(Sender);
    if (ending_ == Ending::HandingOver) return;
    if (Dialogs::MessageDlg(Tx(txInternetUpdate), Dialogs::Kind::Confirmation,
                            Dialogs::Ok | Dialogs::Cancel) != Dialogs::Ok)
        return;
    if (HandoverRefused()) return;
    // From here the program ends whatever fails; the pause below must not let a second click
    // start the updater again. A close begun meanwhile stays one.
    if (ending_ == Ending::None) ending_ = Ending::HandingOver;
    btnIupdate->setEnabled(false);
    if (RunOrRestoreUnderWay()) {
        // The click came from inside a run or restore (it pumps messages). It stops as by its
        // abort button, and the updater starts only once it has ended: the updater may replace
        // the program's files, and the old archive or files must be back in place first.
        Timer2->stop();
        if (btnAbort->isVisible()) btnAbort->click();
        QTimer::singleShot(0, this, [this] { FinishHandover(); });
        return;
    }
    FinishHandover();
}

bool Tmain::HandoverRefused() {
    const QString problem = Handover::ConfigProblem(Handover::UpdaterCommand(ProgDir));
    if (problem.isEmpty()) return false;
    // Nothing is recorded or started, and the program goes on.
    Dialogs::MessageDlg(problem, Dialogs::Kind::Warning, Dialogs::Ok);
    return true;
}

void Tmain::FinishHandover() {
    // An exit or logoff that came first has closed the program already.
    if (Closing()) return;
    if (RunOrRestoreUnderWay()) {
        // Still below on the stack; the timer fires from its message pumping too.
        QTimer::singleShot(20, this, [this] { FinishHandover(); });
        return;
    }
    // The configuration may have gone while a run was stopping.
    if (HandoverRefused()) {
        if (ending_ == Ending::HandingOver) ending_ = Ending::None;
        btnIupdate->setEnabled(true);
        if (!Closing()) Timer2->start();
        return;
    }
    Handover::RegisterProgramFolder(ProgDir, DebugMode,
                                    [this](const QString& line) { SetStatus(line); });
    if (DebugMode) {
        for (int i = 0; i <= 6; ++i) {
            setWindowTitle(QStringLiteral("Lesepause ") + QString::number(i));
            QCoreApplication::processEvents();
            Clock::Sleep(1000);
        }
    }
    const Handover::StartCommand updater = Handover::UpdaterCommand(ProgDir);
    Shell::Start(updater.program, updater.args, updater.workDir);
    SessionEnding = true;
    try {
        close();
    } catch (...) {
        QCoreApplication::quit();
    }
}
