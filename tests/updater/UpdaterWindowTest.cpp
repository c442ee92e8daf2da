// The updater window's workflow against a real server on loopback: the lists and their
// preselection, the transfer, the install with services and files in use, the self-update.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

#include "BatchFile.h"
#include "Beep.h"
#include "Clock.h"
#include "Dialogs.h"
#include "FakeServices.h"
#include "FileDelete.h"
#include "HinfWriter.h"
#include "IUpdateMain.h"
#include "Install.h"
#include "Reboot.h"
#include "Registry.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "TestFolder.h"
#include "TestHttpServer.h"
#include "TestRegistry.h"

namespace {

const QString All = "a" + QString(18, '-') + "0<installdir>\\";
const QString NotHere = QString(19, '-') + "0<installdir>\\";
const QString Offered = "02.03.2024 04:05:06";
const QString NoUpdates = "Es stehen keine Updates für dieses System bereit";

HinfFile row(const QString& name, const QString& archive, const QString& size = "1",
             const QString& destination = All, const QString& marker = {}) {
    return {name, destination, "", Offered, archive, size, marker, {}};
}

class UpdaterWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        prog = folder.MakeDir("prog") + "/";
        inst = folder.MakeDir("inst") + "/";
        ShellFolders::SetProgramFolder(prog);
        layRegistry(true);
        Dialogs::ResetTestState();
        Placeholders() = PlaceholderTable();
        Clock::SetFixed(QDateTime(QDate(2024, 5, 1), QTime(8, 0)));
        Services::SetManager(&services);
        FileDelete::SetInUseCheck([this](const QString& p) { return inUse.contains(p); });
        Reboot::SetHandler([this] { return ++reboots, true; });
        Beep::SetBeepHandler([this](unsigned) { ++beeps; });
        Shell::SetStartHandler([this](const QString& p, const QStringList& a, const QString& d) {
            started << p + "|" + a.join(',') + "|" + d;
            return true;
        });
        const QString ini = folder.Write("t.ini", ("[P]\nprog=" + inst + "\n").toUtf8());
        configText = "[iups]\nhost=" + server.Host() +
                     "\ndir=upd\nuserpop1=kunde\npwpop1=geheim\n" +
                     "[global]\nziel1=0\nziel2=" + ini + ";P;prog\nstart=tool\n";
        configPath = folder.Write("inst/iup.ini", configText.toUtf8());
        folder.Write("prog/tool", "#!/bin/sh\n");
        QFile::setPermissions(prog + "tool", QFile::ReadOwner | QFile::ExeOwner);
    }
    void TearDown() override {
        win.reset();
        Shell::SetStartHandler({});
        Beep::SetBeepHandler({});
        Reboot::SetHandler({});
        FileDelete::SetInUseCheck({});
        Services::SetManager(nullptr);
        Clock::UseSystem();
        ShellFolders::SetProgramFolder(QString());
    }
    void layRegistry(bool runOnceKey) {
        QFile f(Registry::RootFile(RegRoot::LocalMachine));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("[Software\\Microsoft\\Windows NT\\CurrentVersion]\nPlatformId=2\nMajorVersion=6\n"
                "MinorVersion=1\nProductType=1\n");
        if (runOnceKey) f.write("[Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce]\n");
    }
    void serve(const QList<HinfModule>& modules) {
        server.Serve("/upd/iup.hinf", HinfWriter::Info(modules).Compressed());
    }
    void archive(const QString& name, const QByteArray& content) {
        server.Serve("/upd/" + name, ZlibStream(content));
    }
    TiupMain& start(const QStringList& more = {}) {
        win = std::make_unique<TiupMain>(QStringList{configPath} + more);
        win->show();
        return *win;
    }
    void click() {
        EXPECT_TRUE(win->startBtn->isEnabled());
        win->startBtn->click();
    }
    QStringList asked(const QString& what = "message") const {
        QStringList out;
        for (const Dialogs::Asked& a : Dialogs::AskedLog())
            if (a.what == what) out << a.text;
        return out;
    }
    QStringList logLines(const QString& prefix) const {
        return win->done->toPlainText().split('\n').filter(QRegularExpression("^" + prefix));
    }
    QStringList fileRows(int module) const {
        QStringList out;
        const QTreeWidget* view = win->FileViews.at(module);
        for (int i = 0; i < view->topLevelItemCount(); ++i)
            out << view->topLevelItem(i)->text(0) +
                       (view->topLevelItem(i)->checkState(0) == Qt::Checked ? "+" : "");
        return out;
    }
    QString moduleRow(int module) const {
        const QTreeWidgetItem* r = win->lvMods->topLevelItem(module);
        return r->text(0) + (r->checkState(0) == Qt::Checked ? "+ " : " ") + r->text(4);
    }

    TestFolder folder;
    TestRegistry reg{folder.Path("reg")};
    TestHttpServer server{"kunde", "geheim"};
    FakeServices services;
    QSet<QString> inUse;
    QString prog, inst, configText, configPath;
    std::unique_ptr<TiupMain> win;
    int beeps = 0, reboots = 0;
    QStringList started;
};

} // namespace

TEST_F(UpdaterWindowTest, OneClickFetchesTransfersAndInstalls) {
    folder.Write("inst/current.txt", "same", QDateTime(QDate(2024, 4, 1), QTime(9, 0)));
    folder.Write("inst/old.txt", "old", QDateTime(QDate(2020, 1, 1), QTime(9, 0)));
    folder.Write("inst/iup.ini", configText.toUtf8(), QDateTime(QDate(2020, 1, 1), QTime(9, 0)));
    serve({{"Basis",
            "Beschreibung",
            "Historie",
            {row("a.txt", "shared.z", "1.000"), row("b.txt", "shared.z", "1.000"),
             row("old.txt", "shared.z", "1.000"), row("current.txt", "cur.z"),
             row("nt4.dll", "nt4.z", "5", NotHere), row("held.txt", "held.z", "3", All, "-")}},
           {"Konfig", "", "", {row("iup.ini", "ini.z", "")}}});
    archive("shared.z", QByteArray(3000, 's'));
    archive("ini.z", QString(configText).replace("start=tool", "start=neu").toUtf8());

    TiupMain& w = start({"auto"});
    w.FormActivate();
    EXPECT_EQ(beeps, 3);
    EXPECT_EQ(w.startBtn->text(), "Beenden");
    EXPECT_EQ(asked(),
              QStringList{"Das Update ist abgeschlossen,\r\nEs wurden 4 Dateien aktualisiert"});
    EXPECT_EQ(server.Paths(), QStringList({"/upd/iup.hinf", "/upd/shared.z", "/upd/ini.z"}));
    for (const QString name : {"a.txt", "b.txt", "old.txt"}) {
        EXPECT_EQ(folder.Read("inst/" + name), QByteArray(3000, 's'));
        EXPECT_EQ(QFileInfo(inst + name).lastModified(),
                  QDateTime(QDate(2024, 3, 2), QTime(4, 5, 6)));
    }
    EXPECT_EQ(folder.Read("inst/current.txt"), "same");
    EXPECT_FALSE(folder.Exists("inst/held.txt"));
    EXPECT_EQ(logLines("Hole /"),
              QStringList({"Hole " + inst + "a.txt", "Hole " + inst + "b.txt",
                           "Hole " + inst + "old.txt", "Hole " + inst + "iup.ini"}));
    EXPECT_EQ(logLines("Schreibe ").first(), "Schreibe " + inst + "a.txt 3 KB");
    EXPECT_FALSE(folder.Exists("prog/iupT/Update.bat"));
    EXPECT_EQ(w.Config.start, "neu"); // the configuration came with the update and was read again
    EXPECT_TRUE(folder.Exists("prog/t.iup"));

    // The lists as the parse left them: the row for another system is gone, sizes in KB.
    EXPECT_EQ(fileRows(0),
              QStringList({"a.txt+", "b.txt+", "old.txt+", "current.txt", "held.txt"}));
    EXPECT_EQ(moduleRow(0), "Basis+ 3.000 KB");
    EXPECT_EQ(moduleRow(1), "Konfig+ 1 KB");
    EXPECT_EQ(w.lgesamt->text(), "1.001 KB");
    EXPECT_EQ(w.Selection.ArchiveList().size(), 5);
}

TEST_F(UpdaterWindowTest, ListsFollowClicksKeysAndAllesNeu) {
    folder.Write("inst/a.txt", "a", QDateTime(QDate(2024, 4, 1), QTime(9, 0)));
    folder.Write("inst/b.txt", "b", QDateTime(QDate(2024, 4, 1), QTime(9, 0)));
    serve({{"Leer", "", "", {}},
           {"Fremd", "", "", {row("x.dll", "x.z", "1", NotHere)}},
           {"Aktuell", "Text", "Hist", {row("a.txt", "a.z", "2"), row("b.txt", "b.z", "4")}}});
    TiupMain& w = start();
    click();
    EXPECT_EQ(asked(), QStringList{NoUpdates});
    EXPECT_EQ(w.startBtn->text(), "Übertragen");
    EXPECT_EQ(logLines("3 Module").size(), 1);
    EXPECT_EQ(moduleRow(0), "Leer ");
    EXPECT_EQ(moduleRow(1), "Fremd 0 KB");
    EXPECT_EQ(fileRows(1), QStringList{});
    EXPECT_EQ(w.Selection.ArchiveCount("x.z"), 0);

    // A key on a file row of an unchecked module checks the module with it.
    QTreeWidget* view = w.FileViews[2];
    w.lvMods->setCurrentItem(w.lvMods->topLevelItem(2));
    EXPECT_EQ(w.mBemerkung->toPlainText(), "Text");
    view->setFocus();
    view->setCurrentItem(view->topLevelItem(1));
    QTest::keyClick(view, Qt::Key_Space);
    EXPECT_EQ(moduleRow(2), "Aktuell+ 4 KB");
    EXPECT_EQ(w.lgesamt->text(), "4 KB");
    w.cbAllesNeu->setChecked(true);
    EXPECT_EQ(fileRows(2), QStringList({"a.txt+", "b.txt+"}));
    EXPECT_EQ(w.lgesamt->text(), "6 KB");
    w.cbAllesNeu->setChecked(false); // back to the parse's choice: nothing
    EXPECT_EQ(moduleRow(2), "Aktuell 0 KB");
    EXPECT_EQ(w.lgesamt->text(), "0 KB");

    // With "-oa" every applicable file is chosen, except those the server holds back.
    win.reset();
    Dialogs::ResetTestState();
    serve({{"Aktuell", "", "", {row("a.txt", "a.z", "2"), row("b.txt", "b.z", "4", All, "-")}}});
    archive("a.z", "new");
    start({"-oa"});
    click();
    EXPECT_EQ(fileRows(0), QStringList({"a.txt+", "b.txt"}));
    EXPECT_EQ(folder.Read("inst/a.txt"), "new");
}

TEST_F(UpdaterWindowTest, FailedFetchesAndBadFilesKeepTheButtonAtStart) {
    TiupMain& w = start();
    server.FailNext(4);
    click();
    EXPECT_EQ(logLines("Hole Info"), QStringList({"Hole Info, Versuch 1", "Hole Info, Versuch 2",
                                                  "Hole Info, Versuch 3", "Hole Info, Versuch 4"}));
    EXPECT_EQ(asked("show"), QStringList{"Versionsstatus konnte nicht abgefragt werden.\r\nBitte "
                                         "prüfen Sie Ihre Internetverbindung."});
    const struct {
        QByteArray body;
        QString error;
    } bad[] = {
        {HinfWriter::Info({{"M", "", "", {row("a", "a.z")}}}).Compressed().chopped(6),
         "unvollständig"},
        {HinfWriter().Int(1).Str("").Str("").Str("").Str("M").Raw("\xff\xff\xff\x7f").Compressed(),
         "Bytes"},
        {HinfWriter::Info({{"M", "", "", {row("a", "a.z", "1x")}}}).Compressed(), "1x"},
        {HinfWriter::Info({{"M", "", "", {row("../a", "a.z")}}}).Compressed(), "../a"},
    };
    for (const auto& b : bad) {
        Dialogs::ResetTestState();
        server.Serve("/upd/iup.hinf", b.body);
        click();
        ASSERT_EQ(asked("error").size(), 1) << b.error.toStdString();
        EXPECT_TRUE(asked("error")[0].contains(b.error)) << asked("error")[0].toStdString();
    }
    EXPECT_EQ(w.startBtn->text(), "Start");
    EXPECT_EQ(beeps, 0);
    // A good file after a broken one: the lists show only its rows.
    EXPECT_EQ(w.lvMods->topLevelItemCount(), 1);
    serve({{"N", "", "", {}}, {"O", "", "", {}}});
    click();
    EXPECT_EQ(moduleRow(0) + "|" + moduleRow(1), "N |O ");
    EXPECT_EQ(w.FileViews.size(), 2);
}

TEST_F(UpdaterWindowTest, TransferAsksBeforeCancellingAndFetchesEachArchiveOnce) {
    folder.Write("inst/a.txt", "a", QDateTime(QDate(2024, 4, 1), QTime(9, 0)));
    serve({{"M", "", "", {row("a.txt", "a.z"), row("b.txt", "b.z")}}});
    archive("a.z", "new a");
    archive("b.z", "new b");
    TiupMain& w = start();
    folder.Write("prog/iupTemp/b.z", ZlibStream("left from before"));
    click(); // b.txt is missing: preselected, and the chain goes on
    EXPECT_EQ(w.startBtn->text(), "Beenden");
    EXPECT_EQ(folder.Read("inst/b.txt"), "left from before");
    EXPECT_EQ(server.Paths(), QStringList{"/upd/iup.hinf"});

    // Chosen by hand after the parse; the cancel button was pressed in between.
    win.reset();
    Dialogs::ResetTestState();
    start();
    click();
    win->cbAllesNeu->setChecked(true);
    win->SpeedButton3->click();
    Dialogs::SetNextAnswer(Dialogs::Yes);
    click();
    EXPECT_EQ(win->startBtn->text(), "Übertragen");
    Dialogs::SetNextAnswer(Dialogs::No);
    click();
    EXPECT_EQ(asked().count("Soll die Übertragung wirklich abgebrochen werden?"), 2);
    EXPECT_FALSE(win->CancelRequested);
    EXPECT_EQ(folder.Read("inst/a.txt"), "new a");
    EXPECT_EQ(win->startBtn->text(), "Beenden");
}

TEST_F(UpdaterWindowTest, FilesInUseWaitForTheNextLogon) {
    serve({{"M", "", "", {row("a.dll", "a.z"), row("b.dll", "b.z"), row("c.dll", "a.z")}}});
    archive("a.z", "new a");
    archive("b.z", "new b");
    struct Case {
        bool runOnceKey;
        int answer;
        QStringList messages;
        int reboots;
    };
    const QString warning = Install::RegistryWarning;
    const QString doneText = "Das Update ist abgeschlossen,\r\nEs wurden 3 Dateien aktualisiert";
    const Case cases[] = {
        {true, Dialogs::No, {Install::RebootQuestion}, 0},
        {true, Dialogs::Yes, {Install::RebootQuestion, doneText}, 1},
        {false, Dialogs::None, {warning, doneText}, 0},
    };
    Placeholders()[Placeholder::UserDesktop].folder = folder.Path("desk/");
    for (const Case& c : cases) {
        layRegistry(c.runOnceKey);
        for (const QString name : {"a.dll", "b.dll", "c.dll"})
            folder.Write("inst/" + name, "old", QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
        inUse = {inst + "a.dll", inst + "b.dll"};
        reboots = 0;
        win.reset();
        Dialogs::ResetTestState();
        Dialogs::SetNextAnswer(c.answer);
        TiupMain& w = start();
        click();
        EXPECT_EQ(asked(), c.messages);
        EXPECT_EQ(reboots, c.reboots);
        EXPECT_EQ(w.startBtn->text(), "Beenden");
        EXPECT_EQ(folder.Read("inst/c.dll"), "new a");
        EXPECT_EQ(folder.Read("inst/a.dll"), "old");
        const QString bat = prog + "iupT/Update.bat";
        EXPECT_EQ(folder.Read("prog/iupT/Update.bat"),
                  ("del \"" + inst + "a.dll\"\r\ncopy \"" + prog + "iupT/a.dll\" \"" + inst +
                   "a.dll\"\r\ndel \"" + inst + "b.dll\"\r\ncopy \"" + prog + "iupT/b.dll\" \"" +
                   inst + "b.dll\"\r\nexit\r\n\r\n")
                      .toLatin1());
        EXPECT_EQ(Registry::ReadString(RegRoot::LocalMachine, RunOnceKey, "iupdate").value_or(""),
                  c.runOnceKey ? RunOnceCommand(bat) : "");
        EXPECT_EQ(folder.Exists("desk/Update.bat"), !c.runOnceKey);
        if (c.reboots) QTRY_VERIFY(!w.isVisible());
    }
}

TEST_F(UpdaterWindowTest, InstallStopsAtAServiceThatHoldsItsFileOrAMissingFolder) {
    services.states["db"] = ServiceState::Running;
    folder.Write("inst/db.exe", "old");
    inUse.insert(inst + "db.exe");
    serve({{"M",
            "",
            "",
            {{"db.exe", All, "1.0.0.0", Offered, "db.z", "1", "", "db"},
             row("x.txt", "x.z", "1", All + "missing\\")}}});
    archive("db.z", "new");
    archive("x.z", "x");
    TiupMain& w = start();
    click();
    EXPECT_EQ(w.startBtn->text(), "Installieren");
    EXPECT_EQ(w.Panel3->text(), "Warte auf Service 9");
    EXPECT_TRUE(asked().isEmpty());
    EXPECT_EQ(folder.Read("inst/db.exe"), "old");

    inUse.clear();
    click();
    EXPECT_EQ(folder.Read("inst/db.exe"), "new");
    EXPECT_FALSE(services.calls.contains("start db")); // it was stopped when asked again
    ASSERT_EQ(asked("error").size(), 1);
    EXPECT_TRUE(asked("error")[0].contains(inst + "missing/x.txt"))
        << asked("error")[0].toStdString();
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
    EXPECT_EQ(fileRows(0), QStringList({"a.txt+", "b.txt+", "KelvoIUpdate.EXE+"}));
    EXPECT_EQ(w.lvMods->topLevelItemCount(), 1);
    EXPECT_EQ(folder.Read("inst/iupneu"), "new updater");
    EXPECT_EQ(started, QStringList{prog + "iren|" + configPath + "|" + prog});
    EXPECT_EQ(server.Paths(), QStringList({"/upd/iup.hinf", "/upd/iup.z"}));
    EXPECT_EQ(w.SystemIndex, 15);
    EXPECT_EQ(w.cbSystem->currentIndex(), 15);
    EXPECT_TRUE(w.SelfUpdating);
    EXPECT_EQ(w.startBtn->text(), "Start");
    QTRY_VERIFY(!w.isVisible());
    EXPECT_EQ(started.size(), 1); // the configured program is not started
}
