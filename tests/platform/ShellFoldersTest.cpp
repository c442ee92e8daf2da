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

TEST(ShellFoldersTest, WritableProgramFolderFallsBackToTheUsersDataFolder) {
    QTemporaryDir dir;
    const QString root = dir.path() + u'/';
    QFile plain(root + u"plain"_s);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    struct Case {
        QString program, data, expected;
    };
    const Case cases[] = {
        {root, root + u"data"_s, root},
        {root + u"plain/bin"_s, root + u"data"_s, root + u"data/Prog/"_s},
        {root + u"plain/bin"_s, root + u"plain/data"_s, root + u"plain/bin/"_s},
    };
    for (const Case& c : cases) {
        ShellFolders::SetProgramFolder(c.program);
        qputenv("XDG_DATA_HOME", c.data.toUtf8());
        EXPECT_EQ(ShellFolders::WritableProgramFolder(u"Prog"_s), c.expected);
    }
    EXPECT_TRUE(QDir(root + u"data/Prog"_s).exists());
    EXPECT_EQ(QDir(root).entryList(QDir::Files | QDir::Hidden), QStringList{u"plain"_s});
    ShellFolders::SetProgramFolder(QString());
    qputenv("XDG_DATA_HOME", dataHome);
}

} // namespace
