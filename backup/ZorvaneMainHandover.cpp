// The hand-over to the updater: the program folder is recorded, the updater started, and the
// program ends with everything saved.
#include <QCoreApplication>
#include <QToolButton>

#include "Clock.h"
#include "Dialogs.h"
#include "Handover.h"
#include "Shell.h"
#include "ZorvaneMain.h"
#include "lang.h"

void Tmain::btnIupdateClick(QObject* Sender) {
    Q_UNUSED(Sender);
    if (handingOver_) return;
    if (Dialogs::MessageDlg(Tx(txInternetUpdate), Dialogs::Kind::Confirmation,
                            Dialogs::Ok | Dialogs::Cancel) != Dialogs::Ok)
        return;
    // From here the program ends whatever fails; the pause below must not let a second click
    // start the updater again.
    handingOver_ = true;
    btnIupdate->setEnabled(false);
    Handover::RegisterProgramFolder(ProgDir, DebugMode,
                                    [](const QString& line) { SetStatus(line); });
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
