#include "Install.h"

#include <QSet>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "BatchFile.h"
#include "Clock.h"
#include "FakeServices.h"
#include "FileDelete.h"
#include "HinfWriter.h"
#include "TestFolder.h"

namespace {

struct InstallFixture : ::testing::Test {
    TestFolder dir;
    FakeServices services;
    QSet<QString> inUse;
    QStringList log, status;
    BatchFile batch{dir.Path("iupT/Update.bat")};
    Install::Context ctx;

    void SetUp() override {
        Clock::SetFixed(QDateTime(QDate(2024, 5, 1), QTime(8, 0)));
        Services::SetManager(&services);
        FileDelete::SetInUseCheck([this](const QString& p) { return inUse.contains(p); });
        dir.MakeDir("iupT");
        dir.MakeDir("app");
        ctx.unpackDir = dir.Path("iupT/");
        ctx.batch = &batch;
        ctx.log = [this](const QString& l) { log << l; };
        ctx.status = [this](const QString& s) { status << s; };
    }
    void TearDown() override {
        FileDelete::SetInUseCheck({});
        Services::SetManager(nullptr);
        Clock::UseSystem();
    }
    Install::FileJob job(const QString& name, const QByteArray& content,
                         const QString& service = {}, const QString& folder = "app") {
        return {dir.Write("dl/" + name + ".z", ZlibStream(content)), dir.Path(folder + "/"), name,
                "02.03.2024 04:05:06", service};
    }
};

} // namespace

TEST_F(InstallFixture, ServiceStoppedAroundItsFileAndStartedAgain) {
    services.states["db"] = ServiceState::Running;
    services.pollsToSettle = 2;
    dir.Write("app/db.exe", "old");
    const auto r = Install::InstallFile(job("db.exe", "new", "db"), ctx);
    EXPECT_EQ(r.outcome, Install::Outcome::Replaced);
    EXPECT_EQ(r.bytes, 3);
    EXPECT_EQ(dir.Read("app/db.exe"), "new");
    EXPECT_EQ(dir.Files("app"), QStringList({"db.exe"}));
    EXPECT_EQ(services.calls, QStringList({"query db", "stop db", "query db", "query db",
                                           "query db", "start db", "query db", "query db"}));
    EXPECT_EQ(log, QStringList({"Warte auf Service Ende:db:1", "Warte auf Service Ende:db:2",
                                "Warte auf Service Start:db:1", "Warte auf Service Start:db:2"}));
    EXPECT_EQ(QFileInfo(dir.Path("app/db.exe")).lastModified(),
              QDateTime(QDate(2024, 3, 2), QTime(4, 5, 6)));
}

TEST_F(InstallFixture, ServiceSwitchEdgeCases) {
    // Not installed: reported before and after the file, since a start is attempted.
    Install::InstallFile(job("a.dll", "x", "nope"), ctx);
    EXPECT_EQ(
        log, QStringList({"!! Service nope nicht gefunden!!", "!! Service nope nicht gefunden!!"}));
    // Already stopped: no stop request, and not started afterwards.
    log.clear();
    services.states["idle"] = ServiceState::Stopped;
    Install::InstallFile(job("b.dll", "x", "idle"), ctx);
    EXPECT_EQ(services.calls, QStringList({"query idle"}));
    EXPECT_TRUE(log.isEmpty());
    // Unreachable manager: reported, and taken as running.
    services.available = false;
    log.clear();
    EXPECT_TRUE(Install::ServiceControl("idle", false, ctx.log));
    EXPECT_EQ(log, QStringList({"!! Service Manager konnte nicht erstellt werden!!"}));
}

TEST_F(InstallFixture, ServiceFileThatStaysInUseStopsTheInstall) {
    services.states["db"] = ServiceState::Running;
    dir.Write("app/db.exe", "old");
    inUse.insert(dir.Path("app/db.exe"));
    const QDateTime start = Clock::Now();
    const auto r = Install::InstallFile(job("db.exe", "new", "db"), ctx);
    EXPECT_EQ(r.outcome, Install::Outcome::ServiceStuck);
    QStringList counted;
    for (int n = 1; n <= 9; ++n)
        counted << "Warte auf Service " + QString::number(n);
    EXPECT_EQ(status, counted);
    // The stop and, with the old file still there, the start again take one poll each.
    EXPECT_EQ(start.msecsTo(Clock::Now()), 10 * 600 + 2 * 500);
    EXPECT_EQ(dir.Read("app/db.exe"), "old");
    EXPECT_EQ(services.calls.filter("start"), QStringList({"start db"}));
    EXPECT_EQ(services.states.value("db"), ServiceState::Running);
    EXPECT_EQ(log, QStringList({"Warte auf Service Ende:db:1", "Warte auf Service Start:db:1"}));
}

TEST_F(InstallFixture, FilesInUseWaitForTheBatchFile) {
    const QDateTime before(QDate(2020, 1, 1), QTime(9, 0));
    dir.Write("app/x.dll", "old a", before);
    dir.Write("lib/x.dll", "old b");
    inUse = {dir.Path("app/x.dll"), dir.Path("lib/x.dll")};
    EXPECT_EQ(Install::InstallFile(job("x.dll", "new a"), ctx).outcome, Install::Outcome::Staged);
    EXPECT_EQ(Install::InstallFile(job("x.dll", "new b", {}, "lib"), ctx).outcome,
              Install::Outcome::Staged);
    EXPECT_EQ(dir.Read("app/x.dll"), "old a");
    EXPECT_EQ(dir.Read("iupT/x.dll"), "new a");
    EXPECT_EQ(dir.Read("iupT/x.dll.2"), "new b");
    batch.Finish();
    const QString bat = QString::fromLatin1(dir.Read("iupT/Update.bat"));
    EXPECT_EQ(bat.count("del "), 2);
    EXPECT_TRUE(bat.contains("copy \"" + dir.Path("iupT/x.dll.2") + "\" \"" +
                             dir.Path("lib/x.dll") + "\"\r\n"));
    // The old file keeps its date, so it still looks older than the offered one.
    EXPECT_EQ(QFileInfo(dir.Path("app/x.dll")).lastModified(), before);

    // A path the batch file cannot hold: reported, nothing staged.
    dir.Write("a&b/y.dll", "old");
    inUse.insert(dir.Path("a&b/y.dll"));
    EXPECT_EQ(Install::InstallFile(job("y.dll", "new", {}, "a&b"), ctx).outcome,
              Install::Outcome::Skipped);
    EXPECT_TRUE(log.last().contains("a&b/y.dll")) << log.last().toStdString();
    EXPECT_FALSE(dir.Exists("iupT/y.dll"));
}

// A replaced program can still be run, with or without a service around it.
TEST_F(InstallFixture, ReplacedFilesKeepTheirPermissions) {
    services.states["db"] = ServiceState::Running;
    const auto perms =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup;
    for (const QString& service : {QString(), QStringLiteral("db")}) {
        dir.Write("app/tool", "old");
        QFile::setPermissions(dir.Path("app/tool"), perms);
        Install::InstallFile(job("tool", "new", service), ctx);
        EXPECT_EQ(dir.Read("app/tool"), "new");
        EXPECT_EQ(QFile::permissions(dir.Path("app/tool")) & 0x7077, perms);
    }
}

TEST_F(InstallFixture, BrokenArchivesKeepTheOldFile) {
    services.states["db"] = ServiceState::Running;
    for (const QString& service : {QString(), QStringLiteral("db")}) {
        dir.Write("app/p.dll", "old");
        Install::FileJob j = job("p.dll", QByteArray(50000, 'n'), service);
        dir.Write("dl/p.dll.z", ZlibStream(QByteArray(50000, 'n')).chopped(9));
        services.calls.clear();
        EXPECT_THROW(Install::InstallFile(j, ctx), std::runtime_error);
        EXPECT_EQ(dir.Read("app/p.dll"), "old");
        EXPECT_EQ(dir.Files("app"), QStringList({"p.dll"}));
        // The service runs again around the old file.
        EXPECT_EQ(services.states.value("db"), ServiceState::Running);
        EXPECT_EQ(services.calls.filter("start").size(), service.isEmpty() ? 0 : 1);
    }
    // An archive that inflates far beyond the size the list gives: refused, the old file kept.
    for (const QString& service : {QString(), QStringLiteral("db")}) {
        dir.Write("app/p.dll", "old");
        Install::FileJob j = job("p.dll", QByteArray(8 * 1024 * 1024, '\0'), service);
        j.declaredKB = 2;
        services.calls.clear();
        EXPECT_THROW(Install::InstallFile(j, ctx), std::runtime_error);
        EXPECT_EQ(dir.Read("app/p.dll"), "old");
        EXPECT_EQ(dir.Files("app"), QStringList({"p.dll"}));
        EXPECT_EQ(services.states.value("db"), ServiceState::Running);
        EXPECT_EQ(services.calls.filter("start").size(), service.isEmpty() ? 0 : 1);
        j.declaredKB = 1024; // a size near the real one lets it through
        EXPECT_EQ(Install::InstallFile(j, ctx).bytes, 8 * 1024 * 1024);
    }
    // A target folder that does not exist fails at that file.
    EXPECT_THROW(Install::InstallFile(job("q.dll", "x", {}, "missing/deeper"), ctx),
                 std::runtime_error);
    // A file named like a folder there leaves the folder where it is.
    dir.Write("app/data/keep.txt", "mine");
    for (const QString& service : {QString(), QStringLiteral("db")}) {
        EXPECT_THROW(Install::InstallFile(job("data", "x", service), ctx), std::runtime_error);
        EXPECT_EQ(dir.Read("app/data/keep.txt"), "mine");
    }
    // An unreadable offered date is only logged.
    Install::FileJob j = job("r.dll", "x");
    j.offeredDate = "gestern";
    Install::InstallFile(j, ctx);
    EXPECT_EQ(log.last(), "Konnte Zeit für " + dir.Path("app/r.dll") + " nicht setzen");
}

// The old file keeps its name until the new one replaces it: a kill at any moment leaves one of
// them there. What a kill left of an earlier install is put right first.
TEST_F(InstallFixture, TheTargetIsNeverMissing) {
    dir.Write("app/p.exe", "old");
    // While the archive is read (the last report, (0, 0), follows the rename).
    ctx.progress = [&](qint64, qint64 total) {
        if (total > 0) {
            EXPECT_EQ(dir.Read("app/p.exe"), "old");
        }
    };
    Install::InstallFile(job("p.exe", QByteArray(300000, 'n')), ctx);
    EXPECT_EQ(dir.Read("app/p.exe"), QByteArray(300000, 'n'));
    ctx.progress = {};

    const auto modeOf = [&](const QString& name) {
        struct stat st {};
        EXPECT_EQ(::lstat(QFile::encodeName(dir.Path(name)).constData(), &st), 0)
            << name.toStdString();
        return st.st_mode & 07777;
    };
    struct {
        QByteArray target; // empty: missing
        QByteArray expected;
        mode_t asideMode, expectedMode;
    } killed[] = {
        // after the move aside, before the new file took the name
        {{}, "old", 0755, 0755},
        // after the new file took the name, before the old was removed
        {"new", "new", 0640, 0640},
        // the same, before the new file had the old one's mode
        {"new", "new", 0755, 0755},
        {"new", "new", 04755, 0755},
    };
    for (const auto& k : killed) {
        QFile::remove(dir.Path("app/p.exe"));
        if (!k.target.isEmpty()) {
            dir.Write("app/p.exe", k.target);
            ::chmod(QFile::encodeName(dir.Path("app/p.exe")).constData(), 0600);
        }
        dir.Write("app/p.exe.iupalt", "old");
        ASSERT_EQ(::chmod(QFile::encodeName(dir.Path("app/p.exe.iupalt")).constData(), k.asideMode),
                  0);
        dir.Write("app/.p.exe.0zk4.tmp", "ne");
        Install::RecoverFolder(dir.Path("app/"), ctx.log);
        EXPECT_EQ(dir.Read("app/p.exe"), k.expected);
        EXPECT_EQ(dir.Files("app"), QStringList({"p.exe"}));
        EXPECT_EQ(modeOf("app/p.exe"), k.expectedMode) << std::oct << k.asideMode;
    }
    // A target that is a link: what it points to keeps its mode.
    QFile::remove(dir.Path("app/p.exe"));
    dir.Write("lib/other", "mine");
    ::chmod(QFile::encodeName(dir.Path("lib/other")).constData(), 0600);
    ASSERT_TRUE(QFile::link(dir.Path("lib/other"), dir.Path("app/p.exe")));
    dir.Write("app/p.exe.iupalt", "old");
    ::chmod(QFile::encodeName(dir.Path("app/p.exe.iupalt")).constData(), 0755);
    Install::RecoverFolder(dir.Path("app/"), ctx.log);
    EXPECT_EQ(modeOf("lib/other"), 0600u);
    EXPECT_FALSE(dir.Exists("app/p.exe.iupalt"));
}
