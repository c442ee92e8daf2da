#include "BatchFile.h"

#include <gtest/gtest.h>

#include "Registry.h"
#include "TestFolder.h"

TEST(BatchFile, WritesCp1252LinesWithCrLf) {
    TestFolder dir;
    dir.Write("iupT/Update.bat", "left from an earlier run\r\n");
    BatchFile batch(dir.Path("iupT/Update.bat"));
    const QString unpack = dir.Path("iupT/");
    const QString s1 = batch.StagedPath(unpack, "prog.dll");
    const QString s2 = batch.StagedPath(unpack, "prog.dll");
    EXPECT_EQ(s1, unpack + "prog.dll");
    EXPECT_EQ(s2, unpack + "prog.dll.2");
    EXPECT_FALSE(batch.Started());
    batch.AddReplacement("/opt/Größe/prog.dll", s1);
    batch.AddReplacement("/opt/b/prog.dll", s2);
    batch.Finish();
    // Each replacement deletes the old file and copies the staged one in its place.
    const auto replace = [](const QByteArray& target, const QString& staged) {
        return "del \"" + target + "\"\r\ncopy \"" + staged.toUtf8() + "\" \"" + target + "\"\r\n";
    };
    const QByteArray umlauts = "/opt/Gr\xf6\xdf\x65/prog.dll"; // in Windows-1252
    EXPECT_EQ(dir.Read("iupT/Update.bat"),
              replace(umlauts, s1) + replace("/opt/b/prog.dll", s2) + "exit\r\n\r\n");
}

TEST(BatchFile, PathsTheInterpreterWouldMisreadAreNeverWritten) {
    TestFolder dir;
    BatchFile batch(dir.Path("Update.bat"));
    const QString bad[] = {"/a\"b/x",          "/100%/x",   "/a^b/x",  "/a&b/x",  "/a|b/x",
                           "/a<b/x",           "/a>b/x",    "/a\nb/x", "/a\rb/x", "/\u4e2d/x",
                           "/s$(touch X).txt", "/a`id`b/x", "/$HOME/x"};
    for (const QString& p : bad) {
        EXPECT_FALSE(BatchPathProblem(p).isEmpty()) << p.toStdString();
        EXPECT_THROW(batch.AddReplacement(p, dir.Path("x")), std::runtime_error);
        EXPECT_THROW(batch.AddReplacement(dir.Path("x"), p), std::runtime_error);
    }
    EXPECT_FALSE(dir.Exists("Update.bat"));
    EXPECT_EQ(BatchPathProblem("/home/ä b/(1) x.dll"), "");
}

TEST(BatchFile, RunOnceValueOnlyUnderAnExistingKey) {
    EXPECT_FALSE(RegisterRunOnce("/opt/k/iupT/Update.bat"));
    EXPECT_FALSE(Registry::KeyExists(RegRoot::LocalMachine, RunOnceKey));
    Registry::WriteString(RegRoot::LocalMachine, RunOnceKey, "other", "x");
    EXPECT_TRUE(RegisterRunOnce("/opt/k/iupT/Update.bat"));
    EXPECT_EQ(Registry::ReadString(RegRoot::LocalMachine, RunOnceKey, "iupdate"),
              "cmd.exe < \"/opt/k/iupT/Update.bat\" /C");
    Registry::DeleteValue(RegRoot::LocalMachine, RunOnceKey, "iupdate");
    Registry::DeleteValue(RegRoot::LocalMachine, RunOnceKey, "other");
}
