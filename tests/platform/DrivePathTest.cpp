#include "Drive.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(DrivePathTest, ExtractFileDrive) {
    const std::pair<QString, QString> cases[] = {
        {u"C:\\x\\y.zip"_s, u"C:"_s},
        {u"\\\\server\\share\\x\\y"_s, u"\\\\server\\share"_s},
        {u"//server/share/x"_s, u"//server/share"_s},
        {u"\\\\server"_s, u"\\\\server"_s},
        {u"backup\\x.zip"_s, QString()},
        {u"1:x"_s, QString()},
        {QString(), QString()},
        {u"/home/u/x.zip"_s, u"/"_s},
        {u"/media/u/STICK/Sicherung/x.zip"_s, u"/media/u/STICK"_s},
        {u"/media/u/STICK"_s, u"/media/u/STICK"_s},
        {u"/media/u"_s, u"/"_s},
        {u"/run/media/u/Platte/a"_s, u"/run/media/u/Platte"_s},
        {u"/mnt/nas/backup"_s, u"/mnt/nas"_s},
        {u"/mnt"_s, u"/"_s},
        {u"/media/u/../v/STICK/x"_s, u"/media/v/STICK"_s},
        {u"/mediathek/u/x/y"_s, u"/"_s},
    };
    for (const auto& [path, drive] : cases)
        EXPECT_EQ(Drive::ExtractFileDrive(path), drive) << path.toStdString();
}

TEST(DrivePathTest, DriveExists) {
    EXPECT_FALSE(Drive::DriveExists(QString()));
    EXPECT_TRUE(Drive::DriveExists(u"/"_s));
    QTemporaryDir dir;
    EXPECT_TRUE(Drive::DriveExists(dir.path()));
    EXPECT_FALSE(Drive::DriveExists(dir.filePath(u"gone"_s)));
    EXPECT_FALSE(Drive::DriveExists(u"/mnt/zv-not-there"_s));
}

} // namespace
