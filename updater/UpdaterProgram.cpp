#include "UpdaterProgram.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include "Dialogs.h"
#include "IUpdateMain.h"
#include "Placeholders.h"

int UpdaterProgram(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KelvoIUpdate"));
    InitPlaceholders(Placeholders());
    const auto qtTexts = Dialogs::LoadPlatformTranslations(QLocale::system());
    TiupMain iupMain(QApplication::arguments().mid(1));
    iupMain.show();
    return QApplication::exec();
}
