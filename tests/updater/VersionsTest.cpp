// Version texts, the up-to-date rule and the version our program files carry.
#include <QDateTime>
#include <gtest/gtest.h>

#include "FileVersion.h"
#include "TestFolder.h"
#include "Versions.h"

namespace {

TEST(VersionsTest, ParseStopsAtTheFirstPartThatIsNoNumberOrLacksItsDot) {
    struct Case {
        const char* text;
        VersionRecord want;
    };
    const Case cases[] = {
        {"1.2.3.4", {1, 2, 3, 4}},  {"1.2.3", {1, 2, 0, -1}},
        {"1.2", {1, 0, 0, -1}},     {"1.2.3.4.5", {1, 2, 3, -1}},
        {"ohne", {0, 0, 0, -1}},    {"", {0, 0, 0, -1}},
        {"7", {0, 0, 0, -1}},       {"1.x.3.4", {1, 0, 0, -1}},
        {"a.2.3.4", {0, 0, 0, -1}}, {"10.-2.3.40", {10, -2, 3, 40}},
        {"1.2.3.", {1, 2, 3, -1}},
    };
    for (const Case& c : cases) {
        const VersionRecord got = ParseVersion(c.text);
        EXPECT_EQ(got, c.want) << c.text << " gave " << got.major << "." << got.minor << "."
                               << got.release << "." << got.build;
    }
}

TEST(VersionsTest, UpToDateNeedsTheVersionAndTheDateNoOlder) {
    const QDateTime day(QDate(2012, 11, 17), QTime(10, 0));
    const QDateTime later = day.addSecs(1);
    EXPECT_TRUE(IsUpToDate("1.2.3.4", "1.2.3.4", day, day));
    EXPECT_TRUE(IsUpToDate("1.2.3.5", "1.2.3.4", later, day));
    EXPECT_FALSE(IsUpToDate("1.3.0.0", "1.2.3.4", day, later)); // newer, but older date
    EXPECT_FALSE(IsUpToDate("1.2.3.3", "1.2.3.4", later, day));
    EXPECT_FALSE(IsUpToDate("ohne", "0.0.0.0", day, day));            // build -1 is older than 0
    EXPECT_FALSE(IsUpToDate("1.2.3.4", "1.2.3.4", QDateTime(), day)); // no local file
    EXPECT_TRUE(VersionNotOlder(ParseVersion("2.0"), ParseVersion("1.9.9.9")));
}

TEST(VersionsTest, OnlyOurProgramFilesHaveAVersion) {
    EXPECT_EQ(FileVersion::GetFileVersionString(KELVO_EXE), "1.3.0.0");

    TestFolder folder;
    const QByteArray magic = ZV_FILE_VERSION_MAGIC;
    EXPECT_EQ(FileVersion::GetFileVersionString(folder.Path("missing")), "ohne");
    EXPECT_EQ(FileVersion::GetFileVersionString(folder.MakeDir("dir")), "ohne");
    EXPECT_EQ(FileVersion::GetFileVersionString(folder.Write("text.txt", "1.2.3.4")), "ohne");
    // A bare or damaged marker is skipped; a later good one counts, wherever a read ends.
    const QByteArray padding(1 << 20, 'x');
    const QString marked =
        folder.Write("marked", magic + '\0' + magic + "1.2.3" + '\0' + magic + "1.2.3.70000" +
                                   '\0' + padding.left((1 << 20) - 30) + magic + "02.1.0.9" + '\0');
    EXPECT_EQ(FileVersion::GetFileVersionString(marked), "2.1.0.9");
}

} // namespace
