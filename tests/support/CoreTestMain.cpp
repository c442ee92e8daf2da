// The main of the tests of the plain routines: no window system, only QtCore, and private
// home, config and registry folders.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "TestEnvironment.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/zv-test-home-XXXXXX"));
    if (!home.isValid()) return 2;
    PrepareTestEnvironment(home.path());
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
