#include "ProgramMain.h"

#include <QApplication>
#include <QLocale>
#include <QToolTip>
#include <QTranslator>
#include <cstdio>

#include "Allocator.h"
#include "Dialogs.h"
#include "InstanceGuard.h"
#include "SessionEnd.h"
#include "ZorvaneMain.h"

int ProgramMain(int argc, char** argv) {
    Allocator::KeepFreedMemory();
    // Dates, times and numbers use the program's fixed forms (TextFormats) everywhere; the C
    // locale keeps Qt's own defaults from following the user's regional settings.
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvane2"));
    // Message boxes and pickers too.
    QApplication::setWindowIcon(Tmain::AppIcon());
    QApplication::setQuitOnLastWindowClosed(false);
    // Our own texts are fixed German and English; only Qt's (the pickers) follow the desktop.
    const auto qtTexts = Dialogs::LoadPlatformTranslations(QLocale::system());
    QStringList args = QApplication::arguments();
    args.removeFirst();
    // A logoff before the window takes over the signal is remembered, not fatal: the default
    // action would end the process in the middle of its first save.
    bool endedEarly = false;
    SessionEnd::SetHandler([&endedEarly] { endedEarly = true; });
    // Two instances on one settings file would write one archive's temporary file together
    // and overwrite each other's statistics and history.
    const QString settings = Tmain::DataFolder() + Tmain::SettingsFileTitle();
    InstanceGuard guard(settings);
    switch (guard.Acquire()) {
    case InstanceGuard::Result::First:
        break;
    case InstanceGuard::Result::Other:
        if (guard.AskOtherToShow()) return 0;
        Dialogs::ShowMessage(QStringLiteral("Zorvane2 läuft bereits mit der Einstellungsdatei ") +
                             settings + QStringLiteral(" und antwortet nicht."));
        return 1;
    case InstanceGuard::Result::Unguarded:
        std::fprintf(stderr, "Zorvane2: %s kann nicht angelegt werden\n",
                     guard.LockFileName().toLocal8Bit().constData());
        break;
    }
    if (endedEarly) return 0;
    Tmain mainWindow(args);
    if (endedEarly && !mainWindow.Closing()) mainWindow.CommitDataRequest();
    guard.SetShowHandler([&mainWindow] { mainWindow.TrayDblClick(); });
    // A logoff that came during the start-up has closed the window already.
    if (mainWindow.Closing()) return 0;
    QPalette p = QToolTip::palette();
    p.setColor(QPalette::ToolTipBase, QColor(0, 255, 255));
    QToolTip::setPalette(p);
    mainWindow.show();
    return QApplication::exec();
}
