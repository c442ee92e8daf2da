#include "ProgramMain.h"

#include <QApplication>
#include <QLocale>
#include <QToolTip>
#include <QTranslator>

#include "Allocator.h"
#include "Dialogs.h"
#include "ZorvaneMain.h"

int ProgramMain(int argc, char** argv) {
    Allocator::KeepFreedMemory();
    // Dates, times and numbers use the program's fixed forms (TextFormats) everywhere; the C
    // locale keeps Qt's own defaults from following the user's regional settings.
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvane2"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Our own texts are fixed German and English; only Qt's (the pickers) follow the desktop.
    const auto qtTexts = Dialogs::LoadPlatformTranslations(QLocale::system());
    QStringList args = QApplication::arguments();
    args.removeFirst();
    Tmain mainWindow(args);
    QPalette p = QToolTip::palette();
    p.setColor(QPalette::ToolTipBase, QColor(0, 255, 255));
    QToolTip::setPalette(p);
    mainWindow.show();
    return QApplication::exec();
}
