// The updater window's workflow against a real server on loopback: the lists and their
// preselection, the transfer, the install with services and files in use, the self-update.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <sys/stat.h>

#include "BatchFile.h"
#include "Clock.h"
#include "FakeServices.h"
#include "FileDelete.h"
#include "HinfWriter.h"
#include "Http.h"
#include "IniFile.h"
#include "Install.h"
#include "Reboot.h"
#include "TestHttpServer.h"
#include "UpdaterWindowFixture.h"

namespace {

const QString All = "a" + QString(18, '-') + "0<installdir>\\";
const QString NotHere = QString(19, '-') + "0<installdir>\\";
const QDateTime Old(QDate(2020, 1, 1), QTime(9, 0)), Recent(QDate(2024, 4, 1), QTime(9, 0));

HinfFile row(const QString& name, const QString& archive, const QString& size = "1",
             const QString& destination = All, const QString& marker = {}) {
    return {name, destination, "", "02.03.2024 04:05:06", archive, size, marker, {}};
}

class UpdaterWindowTest : public UpdaterWindowFixture {
protected:
    void SetUp() override {
        UpdaterWindowFixture::SetUp();
        inst = folder.MakeDir("inst") + "/";
        layRegistry(true);
        Clock::SetFixed(QDateTime(QDate(2024, 5, 1), QTime(8, 0)));
        Services::SetManager(&services);
        FileDelete::SetInUseCheck([this](const QString& p) { return inUse.contains(p); });
        Reboot::SetHandler([this] { return ++reboots, true; });
        configText = "[iups]\nhost=" + server.Host() + "\ndir=upd\nuserpop1=kunde\npwpop1=pw\n" +
                     "[global]\nziel1=0\nziel2=" + TargetIni(inst) + ";P;prog\nstart=tool\n";
        configPath = folder.Write("inst/iup.ini", configText.toUtf8(), Old);
        AddTool();
    }
    void TearDown() override {
        UpdaterWindowFixture::TearDown();
        Reboot::SetHandler({});
        FileDelete::SetInUseCheck({});
        Services::SetManager(nullptr);
        Clock::UseSystem();
    }
    void layRegistry(bool runOnceKey) {
        LayWindows7();
        QFile f(Registry::RootFile(RegRoot::LocalMachine));
        if (runOnceKey && f.open(QIODevice::Append)) f.write(("[" + RunOnceKey + "]\n").toUtf8());
    }
    // Labelled as a stock web server labels such files, without any coding applied.
    void serve(const QList<HinfModule>& modules) {
        server.Serve("/upd/iup.hinf", HinfWriter::Info(modules).Compressed(),
                     {{"Content-Encoding", "x-gzip"}});
    }
    void archive(const QString& name, const QByteArray& content) {
        server.Serve("/upd/" + name, ZlibStream(content), {{"Content-Encoding", "x-compress"}});
    }
    TiupMain& start(const QStringList& more = {}) {
        win.reset();
        Dialogs::ResetTestState();
        return Open(QStringList{configPath} + more);
    }
    void click() {
        EXPECT_TRUE(win->startBtn->isEnabled());
        win->startBtn->click();
    }
    QStringList logLines(const QString& prefix) const {
        return win->done->toPlainText().split('\n').filter(QRegularExpression("^" + prefix));
    }
    // Each row's name, "+" when checked, and its size column when it has one.
    static QStringList rows(const QTreeWidget* list, int sizeColumn = 0) {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* r = list->topLevelItem(i);
            out << r->text(0) + (r->checkState(0) == Qt::Checked ? "+" : "") +
                       (sizeColumn ? " " + r->text(sizeColumn) : "");
        }
        return out;
    }

    TestHttpServer server{"kunde", "pw"};
    FakeServices services;
    QSet<QString> inUse;
    QString inst, configText, configPath;
    int reboots = 0;
};

} // namespace

TEST_F(UpdaterWindowTest, OneClickFetchesTransfersAndInstalls) {
    folder.Write("inst/current.txt", "same", Recent);
    folder.Write("inst/old.txt", "old", Old);
    serve({{"Basis",
            "",
            "",
            {row("a.txt", "shared.z", "1.000"), row("old.txt", "shared.z", "1.000"),
             row("current.txt", "cur.z"), row("nt4.dll", "nt4.z", "5", NotHere),
             row("held.txt", "held.z", "3", All, "-")}},
           {"Konfig", "", "", {row("iup.ini", "ini.z", "")}},
           {"Leer", "", "", {}},
           {"Fremd", "", "", {row("x.dll", "x.z", "1", NotHere)}}});
    archive("shared.z", QByteArray(3000, 's'));
    archive("ini.z", QString(configText).replace("start=tool", "start=neu").toUtf8());

    TiupMain& w = start({"auto"});
    w.FormActivate();
    EXPECT_EQ(beeps.size(), 3);
    EXPECT_EQ(w.startBtn->text(), "Beenden");
    EXPECT_EQ(Asked(), QStringList{Install::CompletionMessage(3)});
    EXPECT_EQ(server.Paths(), QStringList({"/upd/iup.hinf", "/upd/shared.z", "/upd/ini.z"}));
    EXPECT_EQ(folder.Read("inst/old.txt"), QByteArray(3000, 's'));
    EXPECT_EQ(QFileInfo(inst + "a.txt").lastModified(),
              QDateTime(QDate(2024, 3, 2), QTime(4, 5, 6)));
    EXPECT_EQ(folder.Read("inst/current.txt"), "same");
    EXPECT_EQ(logLines("Hole /"), QStringList({"Hole " + inst + "a.txt", "Hole " + inst + "old.txt",
                                               "Hole " + inst + "iup.ini"}));
    EXPECT_EQ(logLines("Schreibe ").first(), "Schreibe " + inst + "a.txt 3 KB");
    EXPECT_EQ(w.Config.start, "neu"); // the configuration came with the update and was read again
    EXPECT_FALSE(folder.Exists("prog/iupT/Update.bat"));
    // The lists as the parse left them: the row for another system is gone, sizes in KB.
    EXPECT_EQ(rows(w.FileViews[0]), QStringList({"a.txt+", "old.txt+", "current.txt", "held.txt"}));
    EXPECT_EQ(rows(w.lvMods, 4),
              QStringList({"Basis+ 2.000 KB", "Konfig+ 1 KB", "Leer ", "Fremd 0 KB"}));
    EXPECT_EQ(w.lgesamt->text(), "1.001 KB");
    EXPECT_EQ(w.Plan.ArchiveList().size(), 6);
}

// An installed updater cannot write its own folder: its working files go to the user's data
// folder, and the update runs as usual.
TEST_F(UpdaterWindowTest, AProgramFolderThatCannotBeWrittenMovesTheWorkingFiles) {
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", folder.Path("data").toUtf8());
    folder.Write("plain", "x");
    ShellFolders::SetProgramFolder(folder.Path("plain/installed"));
    folder.Write("data/KelvoIUpdate/iupTemp/old.zip", "x");
    serve({{"M", "", "", {row("a.txt", "a.z")}}});
    archive("a.z", "new a");
    TiupMain& w = start({"auto"});
    EXPECT_FALSE(folder.Exists("data/KelvoIUpdate/iupTemp/old.zip"));
    w.FormActivate();
    EXPECT_EQ(w.startBtn->text(), "Beenden");
    EXPECT_EQ(folder.Read("inst/a.txt"), "new a");
    const QString work = folder.Path("data/KelvoIUpdate/");
    EXPECT_EQ(w.DownloadDir, work + "iupTemp/");
    EXPECT_EQ(w.UnpackDir, work + "iupT/");
    EXPECT_EQ(folder.Read("data/KelvoIUpdate/t.iup"),
              HinfWriter::Info({{"M", "", "", {row("a.txt", "a.z")}}}).Compressed());
    win.reset();
    EXPECT_EQ(IniFile(work + "crupdate.ini").ReadString("g", "fp", ""), "80");
    qputenv("XDG_DATA_HOME", dataHome);
}

TEST_F(UpdaterWindowTest, FailedFetchesAndBadFilesKeepTheButtonAtStart) {
    TiupMain& w = start();
    server.FailNext(4);
    click();
    EXPECT_EQ(logLines("Hole Info"), QStringList({"Hole Info, Versuch 1", "Hole Info, Versuch 2",
                                                  "Hole Info, Versuch 3", "Hole Info, Versuch 4"}));
    EXPECT_EQ(Asked("show"), QStringList{"Versionsstatus konnte nicht abgefragt werden.\r\nBitte "
                                         "prüfen Sie Ihre Internetverbindung."});
    // A size that is no number ends the parse after its module's row was added.
    Dialogs::ResetTestState();
    serve({{"M", "", "", {row("a", "a.z", "1x")}}});
    click();
    ASSERT_EQ(Asked("error").size(), 1);
    EXPECT_TRUE(Asked("error")[0].contains("1x")) << Asked("error")[0].toStdString();
    EXPECT_EQ(w.startBtn->text(), "Start");
    EXPECT_EQ(beeps.size(), 0);
    // A good file after a broken one: the lists show only its rows.
    serve({{"N", "", "", {}}});
    Dialogs::ResetTestState();
    click();
    EXPECT_EQ(rows(w.lvMods, 4), QStringList{"N "});
    EXPECT_EQ(w.FileViews.size(), 1);
    EXPECT_EQ(Asked(), QStringList{"Es stehen keine Updates für dieses System bereit"});
    EXPECT_EQ(w.startBtn->text(), "Übertragen");
}

// A wrong password or a missing folder: the same message, and the log says which it was.
TEST_F(UpdaterWindowTest, AFailedFetchLogsWhatTheLastAttemptGot) {
    const struct {
        QString from, to, reason;
    } cases[] = {
        {"pwpop1=pw", "pwpop1=falsch", "401 Unauthorized"},
        {"dir=upd", "dir=fehlt", "404 Not Found"},
    };
    for (const auto& c : cases) {
        folder.Write("inst/iup.ini", QString(configText).replace(c.from, c.to).toUtf8());
        TiupMain& w = start();
        click();
        EXPECT_EQ(logLines("(Hole Info, Versuch 4|Keine)"),
                  QStringList({"Hole Info, Versuch 4", "Keine Infos erhalten: " + c.reason}));
        EXPECT_EQ(Asked("show"), QStringList{"Versionsstatus konnte nicht abgefragt werden.\r\n"
                                             "Bitte prüfen Sie Ihre Internetverbindung."});
        EXPECT_EQ(w.startBtn->text(), "Start");
    }
}

// A parse that fails in its second module leaves the first one as the selection counted it.
TEST_F(UpdaterWindowTest, AFailedParseShowsTheRowsAsTheSelectionHoldsThem) {
    serve({{"A", "", "", {row("a.txt", "a.z", "3")}},
           {"B", "", "", {row("b.txt", "b.z", "2"), row("c.txt", "c.z", "1x")}}});
    TiupMain& w = start();
    click();
    ASSERT_EQ(Asked("error").size(), 1);
    EXPECT_EQ(rows(w.lvMods, 4), QStringList({"A+ 3 KB", "B 2 KB"}));
    EXPECT_EQ(w.lgesamt->text(), "3 KB");
    ASSERT_EQ(w.FileViews.size(), 2);
    EXPECT_EQ(rows(w.FileViews[1]), QStringList{"b.txt+"}); // the broken row is gone
    EXPECT_EQ(w.Plan.Modules()[1].files.size(), 1);
    // Clicks go on from there.
    w.lvMods->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(w.lgesamt->text(), "0 KB");
    EXPECT_EQ(w.startBtn->text(), "Start");
}

TEST_F(UpdaterWindowTest, CancelIsAskedAndArchivesAreFetchedOnce) {
    folder.Write("inst/a.txt", "a", Recent);
    serve({{"M", "", "", {row("a.txt", "a.z"), row("b.txt", "b.z"), row("c.txt", "b.z")}}});
    archive("a.z", "new a");
    TiupMain& w = start({"-oa"});
    folder.Write("prog/iupTemp/b.z", ZlibStream("left from before"));
    QTimer::singleShot(0, w.SpeedButton3, &QPushButton::click); // pressed during the parse
    Dialogs::SetNextAnswer(Dialogs::Yes);
    click();
    EXPECT_EQ(rows(w.FileViews[0]), QStringList({"a.txt+", "b.txt+", "c.txt+"}));
    EXPECT_EQ(w.startBtn->text(), "Übertragen");
    EXPECT_EQ(server.Paths(), QStringList{"/upd/iup.hinf"});
    Dialogs::SetNextAnswer(Dialogs::No); // still requested: asked again
    click();
    EXPECT_EQ(Asked().count("Soll die Übertragung wirklich abgebrochen werden?"), 2);
    EXPECT_FALSE(w.CancelRequested);
    EXPECT_EQ(server.Paths(), QStringList({"/upd/iup.hinf", "/upd/a.z"}));
    EXPECT_EQ(folder.Read("inst/a.txt"), "new a");
    EXPECT_EQ(folder.Read("inst/c.txt"), "left from before");
    EXPECT_EQ(w.startBtn->text(), "Beenden");
    // "Alles Neu" off gives back what the parse would have chosen without it; a key on a row
    // counts like a click.
    w.cbAllesNeu->setChecked(false);
    EXPECT_EQ(rows(w.FileViews[0]), QStringList({"a.txt", "b.txt+", "c.txt+"}));
    EXPECT_EQ(w.lgesamt->text(), "1 KB");
    w.FileViews[0]->setCurrentItem(w.FileViews[0]->topLevelItem(0));
    QTest::keyClick(w.FileViews[0], Qt::Key_Space);
    EXPECT_EQ(rows(w.lvMods, 4), QStringList{"M+ 3 KB"});
    EXPECT_EQ(w.lgesamt->text(), "2 KB");
}

TEST_F(UpdaterWindowTest, FilesInUseWaitForTheNextLogon) {
    serve({{"M", "", "", {row("a.dll", "a.z"), row("b.dll", "b.z"), row("c.dll", "a.z")}}});
    archive("a.z", "new a");
    archive("b.z", "new b");
    const QString finished = Install::CompletionMessage(3);
    const struct {
        bool runOnceKey;
        int answer;
        QStringList messages;
    } cases[] = {
        {true, Dialogs::No, {Install::RebootQuestion}},
        {true, Dialogs::Yes, {Install::RebootQuestion, finished}},
        {false, Dialogs::Ok, {Install::RegistryWarning, finished}},
    };
    placeholders[Placeholder::UserDesktop].folder = folder.Path("desk/");
    for (const auto& c : cases) {
        layRegistry(c.runOnceKey);
        for (const QString name : {"a.dll", "b.dll", "c.dll"})
            folder.Write("inst/" + name, "old", Old);
        inUse = {inst + "a.dll", inst + "b.dll"};
        reboots = 0;
        TiupMain& w = start();
        Dialogs::SetNextAnswer(c.answer);
        click();
        EXPECT_EQ(Asked(), c.messages);
        EXPECT_EQ(reboots, int(c.answer == Dialogs::Yes));
        EXPECT_EQ(w.startBtn->text(), "Beenden");
        EXPECT_EQ(folder.Read("inst/c.dll"), "new a");
        EXPECT_EQ(folder.Read("inst/a.dll"), "old");
        const QString bat = QString::fromLatin1(folder.Read("prog/iupT/Update.bat"));
        EXPECT_EQ(bat.count("del \""), 2);
        EXPECT_TRUE(bat.contains("copy \"" + prog + "iupT/b.dll\" \"" + inst + "b.dll\"\r\n"));
        EXPECT_TRUE(bat.endsWith("\r\nexit\r\n\r\n"));
        EXPECT_EQ(Registry::ReadString(RegRoot::LocalMachine, RunOnceKey, "iupdate").value_or(""),
                  c.runOnceKey ? RunOnceCommand(prog + "iupT/Update.bat") : "");
        EXPECT_EQ(folder.Exists("desk/Update.bat"), !c.runOnceKey);
        if (reboots) QTRY_VERIFY(!w.isVisible());
    }
}

TEST_F(UpdaterWindowTest, InstallStopsAtAServiceHoldingItsFileOrAMissingFolder) {
    services.states["db"] = ServiceState::Running;
    folder.Write("inst/db.exe", "old", Old);
    inUse.insert(inst + "db.exe");
    HinfFile db = row("db.exe", "db.z");
    db.service = "db";
    serve({{"M", "", "", {db, row("x.txt", "x.z", "1", All + "missing\\")}}});
    archive("db.z", "new");
    archive("x.z", "x");
    TiupMain& w = start();
    click();
    EXPECT_EQ(w.startBtn->text(), "Installieren");
    EXPECT_EQ(w.Panel3->text(), "Warte auf Service 9");
    EXPECT_TRUE(Asked().isEmpty());
    EXPECT_EQ(folder.Read("inst/db.exe"), "old");

    inUse.clear();
    click();
    EXPECT_EQ(folder.Read("inst/db.exe"), "new");
    ASSERT_EQ(Asked("error").size(), 1); // the next file's folder does not exist
    EXPECT_EQ(w.startBtn->text(), "Installieren");
}

TEST_F(UpdaterWindowTest, SelfUpdateEndsTheParseAndHandsOverToTheRenamer) {
    serve({{"M",
            "",
            "",
            {row("a.txt", "a.z"), row("b.txt", "b.z"), row("KelvoIUpdate.EXE", "iup.z"),
             row("c.txt", "c.z")}},
           {"Later", "", "", {}}});
    archive("iup.z", "new updater");
    TiupMain& w = start();
    // Meanwhile a choice in the system list and a second click change nothing.
    QTimer::singleShot(0, [&] {
        w.cbSystem->activated(3);
        w.startBtn->click();
    });
    click();
    EXPECT_EQ(rows(w.FileViews[0]), QStringList({"a.txt+", "b.txt+", "KelvoIUpdate.EXE+"}));
    EXPECT_EQ(rows(w.lvMods, 4).size(), 1);
    EXPECT_EQ(folder.Read("inst/iupneu"), "new updater");
    EXPECT_EQ(started, QStringList{prog + "iren|" + configPath + "|" + prog});
    EXPECT_EQ(server.Paths(), QStringList({"/upd/iup.hinf", "/upd/iup.z"}));
    EXPECT_EQ(w.cbSystem->currentIndex(), 15);
    EXPECT_EQ(w.startBtn->text(), "Start");
    QTRY_VERIFY(!w.isVisible());
    EXPECT_EQ(started.size(), 1); // the configured program is not started
}

// Closing the window while a step runs ends the step at its next safe point; only then does the
// window close and start the configured program. No question, error or sound comes up.
TEST_F(UpdaterWindowTest, ClosingDuringAStepEndsItFirst) {
    for (const QString name : {"a.txt", "b.txt"})
        folder.Write("inst/" + name, "old", Old);
    serve({{"M", "", "", {row("a.txt", "a.z"), row("b.txt", "b.z")}}});
    archive("b.z", "new b");
    bool stepEnded = false;
    Shell::SetStartHandler([&](const QString& p, const QStringList&, const QString&) {
        started << p;
        stepEnded = win->startBtn->isEnabled();
        return true;
    });
    const auto closedAfterTheStep = [&](const char* step) {
        SCOPED_TRACE(step);
        EXPECT_FALSE(win->isVisible());
        EXPECT_TRUE(Dialogs::AskedLog().isEmpty());
        EXPECT_EQ(started, QStringList{prog + "tool"});
        EXPECT_TRUE(stepEnded);
        EXPECT_EQ(beeps.size(), 0);
        started.clear();
    };

    // While fetching: nothing is asked of the server.
    TiupMain* w = &start();
    QTimer::singleShot(0, w, &QWidget::close);
    click();
    EXPECT_TRUE(server.Paths().isEmpty());
    EXPECT_EQ(w->startBtn->text(), "Start");
    closedAfterTheStep("fetch");

    // While an archive comes in: its download ends, is not tried again and leaves nothing.
    server.Stall("/upd/a.z", "part of a");
    w = &start();
    QObject::connect(w->http, &HttpClient::Work, w, [w] {
        if (w->StartTag() == 2) w->close();
    });
    click();
    EXPECT_EQ(server.Paths(), QStringList({"/upd/iup.hinf", "/upd/a.z"}));
    EXPECT_TRUE(
        QDir(w->DownloadDir).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_EQ(w->startBtn->text(), "Übertragen");
    closedAfterTheStep("transfer");

    // While installing: the file at hand is completed, the next one is left.
    archive("a.z", "new a");
    w = &start();
    FileDelete::SetInUseCheck([&](const QString&) {
        QTimer::singleShot(0, w, &QWidget::close);
        return false;
    });
    click();
    EXPECT_EQ(folder.Read("inst/a.txt"), "new a");
    EXPECT_EQ(folder.Read("inst/b.txt"), "old");
    EXPECT_EQ(w->startBtn->text(), "Installieren");
    closedAfterTheStep("install");
}

// A restart after an install was killed between moving the old file aside and writing the new
// one: the old file is back before anything looks at it, the leftovers are gone. A pipe and a
// link to a device at targets count as missing instead of stopping the parse.
TEST_F(UpdaterWindowTest, ARestartRepairsAKilledInstallAndSpecialFilesCountAsMissing) {
    folder.Write("inst/prog.exe.iupalt", "old program", Recent);
    folder.Write("inst/.prog.exe.k3x9q.tmp", "half a new progr");
    folder.Write("inst/.prog.exe.notes.txt", "kept"); // not one of ours
    ASSERT_EQ(::mkfifo(QFile::encodeName(inst + "pipe.dll").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", inst + "zero.dll"));
    serve({{"M",
            "",
            "",
            {row("prog.exe", "prog.z"), row("pipe.dll", "pipe.z"), row("zero.dll", "zero.z")}}});
    archive("pipe.z", "pipe now a file");
    archive("zero.z", "zero now a file");

    TiupMain& w = start();
    EXPECT_EQ(folder.Read("inst/prog.exe"), "old program");
    EXPECT_EQ(logLines(inst + "prog.exe"), QStringList{inst + "prog.exe wiederhergestellt"});
    click();
    EXPECT_EQ(w.startBtn->text(), "Beenden");
    // The old program is the one the version check saw: recent enough, not offered again.
    EXPECT_EQ(rows(w.FileViews[0]), QStringList({"prog.exe", "pipe.dll+", "zero.dll+"}));
    EXPECT_EQ(logLines(".*keine gewöhnliche Datei").size(), 2);
    EXPECT_EQ(folder.Read("inst/pipe.dll"), "pipe now a file");
    EXPECT_EQ(folder.Read("inst/zero.dll"), "zero now a file");
    EXPECT_TRUE(QFileInfo("/dev/zero").isReadable());
    EXPECT_FALSE(folder.Exists("inst/prog.exe.iupalt"));
    EXPECT_FALSE(folder.Exists("inst/.prog.exe.k3x9q.tmp"));
    EXPECT_TRUE(folder.Exists("inst/.prog.exe.notes.txt"));
}
