#include "SafeFile.h"

#include <QFile>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
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

// A new name is taken at once; a replacement waits beside the old file until the batch is
// flushed, and one that cannot complete then is reported and leaves the old state.
TEST(SafeFile, BatchTakesNewNamesAtOnceAndReplacesAfterItsFlush) {
    TestFolder dir;
    dir.Write("alt.txt", "old");
    dir.Write("bleibt.txt", "old");
    const int folder = ::open(QFile::encodeName(dir.Path()).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    QStringList late;
    {
        SafeFile::CommitBatch batch;
        batch.OnLateFailure = [&](const QString& label, int error) {
            late << label + u' ' + QString::number(error);
        };
        ASSERT_TRUE(batch.Commit(folder, openTemp(dir.Path("t1"), "new"), "t1", "neu.txt"));
        EXPECT_EQ(dir.Read("neu.txt"), "new");
        ASSERT_TRUE(batch.Commit(folder, openTemp(dir.Path("t2"), "newer"), "t2", "alt.txt", "A"));
        ASSERT_TRUE(
            batch.Commit(folder, openTemp(dir.Path("t3"), "lost"), "t3", "bleibt.txt", "B"));
        EXPECT_EQ(dir.Read("alt.txt"), "old");
        EXPECT_EQ(dir.Read("t2"), "newer");
        // The name turns into a folder with contents before the batch completes.
        ASSERT_TRUE(QFile::remove(dir.Path("bleibt.txt")));
        dir.Write("bleibt.txt/inhalt", "x");
        EXPECT_TRUE(batch.Finish());
    }
    ::close(folder);
    EXPECT_EQ(dir.Read("alt.txt"), "newer");
    EXPECT_EQ(late, QStringList({QStringLiteral("B ") + QString::number(EISDIR)}));
    EXPECT_EQ(dir.Files(), QStringList({"alt.txt", "bleibt.txt/inhalt", "neu.txt"}));
}

// Owner-only from creation whatever the umask, never on a name held already, and gone unless
// it took the target's name (a failed rename included).
TEST(SafeFile, TempFileIsOwnerOnlyExclusiveAndLeavesNothingBehind) {
    TestFolder dir;
    dir.Write("a.zip.part", "someone's");
    dir.Write("b/inside", "x");
    const mode_t mask = ::umask(0);
    SafeFile::TempFileBeside temp;
    EXPECT_FALSE(temp.CreateAt(dir.Path("a.zip"), dir.Path("a.zip.part"), 0600));
    EXPECT_EQ(errno, EEXIST);
    ASSERT_TRUE(temp.CreateAt(dir.Path("b"), dir.Path("b.part"), 0600));
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::fstat(temp.fd(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_FALSE(temp.Commit());
    EXPECT_EQ(errno, EISDIR);
    {
        SafeFile::TempFileBeside dropped;
        ASSERT_TRUE(dropped.CreateLikeTarget(dir.Path("c.txt")));
    }
    EXPECT_EQ(dir.Files(), QStringList({"a.zip.part", "b/inside"}));
    EXPECT_EQ(dir.Read("a.zip.part"), "someone's");
}

// A reader that signals the writer after every small read makes the pipe take the data in
// parts and interrupts writes that took nothing yet.
TEST(SafeFile, WriteAllGetsEverythingThroughShortAndInterruptedWrites) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    struct sigaction wake {
    }, old{};
    wake.sa_handler = [](int) {};
    ::sigaction(SIGUSR1, &wake, &old); // without SA_RESTART
    QByteArray data(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 / 5);
    const pthread_t writer = ::pthread_self();
    QByteArray got;
    std::thread reader([&] {
        char buf[1000];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0; ::pthread_kill(writer, SIGUSR1))
            got.append(buf, n);
    });
    EXPECT_TRUE(SafeFile::WriteAll(fds[1], data.constData(), size_t(data.size())));
    ::close(fds[1]);
    reader.join();
    ::sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(got, data);
    EXPECT_FALSE(SafeFile::WriteAll(fds[0], "x", 1)); // the read end
    EXPECT_EQ(errno, EBADF);
    ::close(fds[0]);
}
