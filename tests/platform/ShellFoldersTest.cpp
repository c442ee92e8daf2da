#include "ShellFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(ShellFoldersTest, ProgramFolderAndShellFolders) {
    EXPECT_EQ(ShellFolders::ProgramFolder(), QCoreApplication::applicationDirPath() + u'/');
    ShellFolders::SetProgramFolder(u"/opt/zv"_s);
    EXPECT_EQ(ShellFolders::ProgramFolder(), u"/opt/zv/");
    ShellFolders::SetProgramFolder(QString());
    EXPECT_EQ(ShellFolders::ProgramFolder(), QCoreApplication::applicationDirPath() + u'/');

    EXPECT_EQ(ShellFolders::Folder(u"AppData"_s),
              QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    EXPECT_EQ(ShellFolders::Folder(u"fonts"_s), QString());
    EXPECT_FALSE(ShellFolders::Folder(u"personal"_s).endsWith(u'/'));
}

TEST(ShellFoldersTest, FileExistsNoCaseSeesOnlyFiles) {
    QTemporaryDir dir;
    QFile file(dir.filePath(u"Zorvane2.INI"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"Sub"_s));
    EXPECT_TRUE(ShellFolders::FileExistsNoCase(dir.path(), u"zorvane2.ini"_s));
    EXPECT_FALSE(ShellFolders::FileExistsNoCase(dir.path(), u"zorvane2.in"_s));
    EXPECT_FALSE(ShellFolders::FileExistsNoCase(dir.path(), u"sub"_s));
    EXPECT_FALSE(ShellFolders::FileExistsNoCase(dir.filePath(u"none"_s), u"x"_s));
}

} // namespace
