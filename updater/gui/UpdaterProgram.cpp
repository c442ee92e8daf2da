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
    PlaceholderTable placeholders;
    InitPlaceholders(placeholders);
    const auto qtTexts = Dialogs::LoadPlatformTranslations(QLocale::system());
    TiupMain iupMain(QApplication::arguments().mid(1), std::move(placeholders));
    iupMain.show();
    // A program started from another one gets the focus, also where no window manager hands
    // it over; the automatic run waits for the first activation.
    iupMain.activateWindow();
    return QApplication::exec();
}
