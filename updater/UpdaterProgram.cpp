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
    return QApplication::exec();
}
