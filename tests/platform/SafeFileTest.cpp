#include "SafeFile.h"

#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "TestFolder.h"

namespace {

int openTemp(const QString& path, const QByteArray& content) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(::write(fd, content.constData(), size_t(content.size())), content.size());
    return fd;
}

} // namespace

TEST(SafeFile, CommitReplacesTheFinalNameOrLeavesItAlone) {
    TestFolder dir;
    dir.Write("data.zip", "old");
    int fd = openTemp(dir.Path("data.zip.tmp"), "new content");
    ASSERT_TRUE(SafeFile::CommitTemp(fd, QFile::encodeName(dir.Path("data.zip.tmp")),
                                     QFile::encodeName(dir.Path("data.zip"))));
    EXPECT_EQ(dir.Files(), QStringList({"data.zip"}));
    EXPECT_EQ(dir.Read("data.zip"), "new content");
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1); // closed

    // A final name below a file cannot be taken: the temporary file stays for the caller.
    dir.Write("copy.tmp", "copied");
    EXPECT_FALSE(SafeFile::CommitTemp(dir.Path("copy.tmp"), dir.Path("data.zip/x")));
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(dir.Read("copy.tmp"), "copied");
    EXPECT_EQ(dir.Read("data.zip"), "new content");
    EXPECT_TRUE(SafeFile::CommitTemp(dir.Path("copy.tmp"), dir.Path("copy.zip")));
    EXPECT_EQ(dir.Files(), QStringList({"copy.zip", "data.zip"}));
}
