#include "UpdaterProgram.h"

#include <QApplication>

#include "IUpdateMain.h"
#include "Placeholders.h"

int UpdaterProgram(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KelvoIUpdate"));
    InitPlaceholders(Placeholders());
    TiupMain iupMain(QApplication::arguments().mid(1));
    iupMain.show();
    // A program started from another one gets the focus, also where no window manager hands
    // it over; the automatic run waits for the first activation.
    iupMain.activateWindow();
    return QApplication::exec();
}
