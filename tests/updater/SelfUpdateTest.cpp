#include "SelfUpdate.h"

#include <gtest/gtest.h>

#include "Clock.h"
#include "HinfWriter.h"
#include "Http.h"
#include "TestFolder.h"
#include "TestHttpServer.h"
#include "UpdateServer.h"

TEST(SelfUpdate, WritesTheNewProgramBesideTheOldAndNamesTheRenamer) {
    EXPECT_TRUE(SelfUpdate::IsUpdaterRow("KelvoIUpdate.EXE"));
    EXPECT_FALSE(SelfUpdate::IsUpdaterRow("kelvoiupdate"));

    Clock::SetFixed(QDateTime(QDate(2024, 5, 1), QTime(8, 0)));
    TestHttpServer server;
    server.Serve("/u/iup.z", ZlibStream("new updater"));
    TestFolder dir;
    // A cut archive from an earlier attempt is fetched afresh.
    dir.Write("exe/iupTemp/iup.z", "cut");
    dir.Write("exe/KelvoIUpdate", "old updater");
    HttpClient http;
    UpdateServer::PrepareRequest(http, "", "", false);
    QStringList log;
    const SelfUpdate::Job job{server.Url("/u/iup.z"), dir.Path("exe/iupTemp/iup.z"),
                              dir.Path("exe/"),       "24.12.2023 18:00:00",
                              dir.Path("exe/"),       "/etc/kelvo/iup.ini"};
    const auto call = SelfUpdate::Run(http, job, {[&](const QString& l) { log << l; }, {}, {}, {}});
    EXPECT_EQ(dir.Read("exe/iupneu"), "new updater");
    EXPECT_EQ(dir.Read("exe/KelvoIUpdate"), "old updater");
    EXPECT_TRUE(QFileInfo(dir.Path("exe/iupneu")).isExecutable()); // a program, like this one
    EXPECT_EQ(QFileInfo(dir.Path("exe/iupneu")).lastModified(),
              QDateTime(QDate(2023, 12, 24), QTime(18, 0)));
    EXPECT_EQ(log,
              QStringList({"!!! Ich muß mich selber Updaten, Moment bitte. !!!", "Entpacken..."}));
    EXPECT_EQ(call.program, dir.Path("exe/iren"));
    EXPECT_EQ(call.arguments, QStringList({"/etc/kelvo/iup.ini"}));
    EXPECT_EQ(call.workDir, dir.Path("exe/"));
    EXPECT_FALSE(http.IsConnected());
    // A renamer that lies there is found in any letter case, with or without ".exe".
    for (const QString name : {"IREN.EXE", "Iren"}) {
        const QString renamer = dir.Write("exe/" + name, "renamer");
        EXPECT_EQ(SelfUpdate::Run(http, job, {[](const QString&) {}, {}, {}, {}}).program, renamer);
        QFile::remove(renamer);
    }

    // One attempt only: a failing GET ends it, nothing is written.
    server.FailNext(1);
    QFile::remove(dir.Path("exe/iupneu"));
    EXPECT_THROW(SelfUpdate::Run(http, job, {[](const QString&) {}, {}, {}, {}}), HttpError);
    EXPECT_FALSE(dir.Exists("exe/iupneu"));
    Clock::UseSystem();
}
