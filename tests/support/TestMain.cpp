// Every test process gets its own home, config and registry folders, the offscreen platform
// and a dialog seam that never shows a window.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "Dialogs.h"
#include "TestEnvironment.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/zv-test-home-XXXXXX"));
    if (!home.isValid()) return 2;
    PrepareTestEnvironment(home.path());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Dialogs::SetTestMode(true);
    return RUN_ALL_TESTS();
}
