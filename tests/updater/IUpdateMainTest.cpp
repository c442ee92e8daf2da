// The updater window: start-up, command line, the install-folder question, the workflow
// button, the debug key, closing and clean-up.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

#include "DesignScale.h"
#include "IniFile.h"
#include "UpdaterWindowFixture.h"
#include "WindowFit.h"

namespace {

const QString Tail = "\nbitte wählen Sie das Installationsverzeichnis der Anwendung aus";

class IUpdateMainTest : public UpdaterWindowFixture {
protected:
    void SetUp() override {
        UpdaterWindowFixture::SetUp();
        target = folder.MakeDir("target");
    }
    // An iup.ini beside the program that finds the install folder in an ini file.
    // "%1" in the global section stands for that ini file.
    QString config(QString global = "ziel1=0\nziel2=%1;P;prog\n") {
        global.replace("%1", TargetIni(target));
        return folder.Write("prog/iup.ini", ("[iups]\nhost=h\n[global]\n" + global).toUtf8());
    }

    QString target;
};

TEST_F(IUpdateMainTest, WithoutConfigurationItTellsAndClosesWithEmptiedFolders) {
    folder.Write("prog/iupTemp/a.zip", "x");
    folder.Write("prog/iupT/in-use.exe", "x");
    folder.Write("prog/iupT/.hidden", "x");
    folder.MakeDir("prog/iupT/sub");
    TiupMain& w = Open();
    EXPECT_EQ(Asked("show"), QStringList{"Dieses Programm wird von der Hauptanwendung gestartet"});
    QTRY_VERIFY(!w.isVisible());
    EXPECT_EQ(folder.Files("prog/iupTemp"), QStringList{});
    EXPECT_EQ(QDir(prog + "iupT").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"sub"});
    EXPECT_EQ(w.windowTitle(), "Kelvo Internet Update");
    EXPECT_EQ(w.size(), QSize(DesignScale::Px(716), DesignScale::Px(557)));

    folder.Write("prog/iupTemp/late.zip", "x"); // downloads are deleted again at exit
    win.reset();
    EXPECT_FALSE(folder.Exists("prog/iupTemp/late.zip"));
    const IniFile settings(prog + "crupdate.ini");
    EXPECT_EQ(settings.ReadSection("g"), (QStringList{"ufw", "fh", "fu", "fp", "aut"}));
    EXPECT_EQ(settings.ReadString("g", "fp", ""), "80");
    EXPECT_EQ(settings.ReadString("g", "ufw", ""), "0");
    EXPECT_TRUE(started.isEmpty());
}

TEST_F(IUpdateMainTest, CommandLineWordsCountOnlyInTheirExactCase) {
    const QString ini = config();
    struct Case {
        QStringList args;
        bool allesNeu, autoRun;
    };
    const Case cases[] = {
        {{}, false, false},
        {{ini, "auto"}, false, true},
        {{ini, "AUTO"}, false, false},
        {{ini, "-oa"}, true, false},
        {{ini, "-OA"}, false, false},
        {{'"' + ini + '"', "auto"}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        Dialogs::ResetTestState();
        TiupMain& w = Open(c.args);
        EXPECT_EQ(w.ConfigPath, ini);
        EXPECT_EQ(w.cbAllesNeu->isChecked(), c.allesNeu);
        EXPECT_EQ(w.AutoRun, c.autoRun);
        EXPECT_EQ(Dialogs::AskedLog().size(), 0);
        EXPECT_EQ(w.SystemIndex, 15);
        EXPECT_EQ(w.cbSystem->currentText(), "Windows 7");
        EXPECT_TRUE(w.startBtn->isEnabled());
        EXPECT_EQ(w.Config.placeholders[Placeholder::InstallDir].folder, target + "/");
    }
}

TEST_F(IUpdateMainTest, UnrecognisedSystemWaitsForAChoice) {
    QFile::remove(Registry::RootFile(RegRoot::LocalMachine));
    TiupMain& w = Open({config(), "auto"});
    EXPECT_EQ(Asked("message"), QStringList{"Windows Version nicht erkannt,\nbitte suchen Sie die "
                                            "richtige Version\naus der Liste aus"});
    EXPECT_EQ(w.SystemIndex, -1);
    EXPECT_FALSE(w.AutoRun);
    EXPECT_FALSE(w.startBtn->isEnabled());
    w.cbSystem->activated(8);
    EXPECT_EQ(w.SystemIndex, 8);
    EXPECT_TRUE(w.startBtn->isEnabled());
}

TEST_F(IUpdateMainTest, EndingAtTheInstallFolderQuestionStopsEverything) {
    AddTool();
    Dialogs::SetNextAnswer(Dialogs::Abort);
    TiupMain& w = Open({config("start=tool\n"), "auto"});
    EXPECT_EQ(Asked("message"), QStringList{"Programm Pfad konnte nicht ermittelt werden" + Tail});
    EXPECT_TRUE(w.EndRequested);
    EXPECT_FALSE(w.AutoRun);
    EXPECT_EQ(w.SystemIndex, -1); // step 7 never ran
    QTRY_VERIFY(!w.isVisible());
    EXPECT_TRUE(started.isEmpty());
}

TEST_F(IUpdateMainTest, InstallFolderChosenByHand) {
    Dialogs::SetNextAnswer(Dialogs::Ok);
    TiupMain& w = Open({config("ziel1=3\nziel2=Software\\Zorvane2\\path\n")});
    EXPECT_EQ(Asked("message"), QStringList{"Registry Pfad nicht vorhanden" + Tail});
    EXPECT_EQ(Asked("folder"), QStringList{"Programmverzeichnis"});
    EXPECT_TRUE(w.EndRequested); // nobody chose a folder

    w.EndRequested = false;
    w.DebugMode = true;
    Dialogs::SetNextAnswer(Dialogs::Ok);
    Dialogs::SetNextDirectory(target);
    w.AskInstallDir("Frage");
    EXPECT_FALSE(w.EndRequested);
    EXPECT_EQ(w.Config.placeholders[Placeholder::InstallDir].folder, target + "/");
    EXPECT_EQ(w.mHist->toPlainText(), "Pfad geändert zu " + target + "/");
}

TEST_F(IUpdateMainTest, ClosingStartsTheConfiguredProgramWhenItIsThere) {
    AddTool();
    const QString ini = config("ziel1=0\nziel2=%1;P;prog\nstart=tool\n");
    Open({ini}).close();
    EXPECT_EQ(started, QStringList{prog + "tool||" + prog});

    started.clear();
    QFile::remove(prog + "tool");
    Open({ini}).close();
    EXPECT_TRUE(started.isEmpty());
}

TEST_F(IUpdateMainTest, FirewallSettingsFillThePanelAndAreWrittenBack) {
    folder.Write("prog/crupdate.ini", "[g]\nufw=0\nfu=admin\nfp=8080\n");
    TiupMain& w = Open({config()});
    EXPECT_TRUE(Asked("show").isEmpty()); // a stored user with the option off ends nothing
    EXPECT_EQ(w.SystemIndex, 15);
    EXPECT_FALSE(w.pUseFW->isEnabled());
    EXPECT_EQ(w.edFuser->text(), "admin");
    EXPECT_EQ(w.edFPort->text(), "8080");

    w.cbUseFW->setChecked(true);
    EXPECT_TRUE(w.pUseFW->isEnabled());
    w.edFHost->setText("proxy");
    win.reset();
    const IniFile settings(prog + "crupdate.ini");
    EXPECT_EQ(settings.ReadString("g", "ufw", ""), "1");
    EXPECT_EQ(settings.ReadString("g", "fh", ""), "proxy");
    EXPECT_EQ(settings.ReadString("g", "fu", ""), "admin");
}

TEST_F(IUpdateMainTest, StartUpFailureNamesItsStep) {
    folder.Write("prog/iupTemp", "a file in the way");
    TiupMain& w = Open({config()});
    EXPECT_EQ(Asked("show"), QStringList{"Fehler 2 in Show:\r\nDer Ordner " + prog +
                                         "iupTemp/ kann nicht angelegt werden"});
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.SystemIndex, -1);
    win.reset();
    EXPECT_TRUE(folder.Exists("prog/iupTemp")); // nothing deleted
    EXPECT_TRUE(folder.Exists("prog/crupdate.ini"));
}

TEST_F(IUpdateMainTest, DebugKeyTogglesOncePerPress) {
    TiupMain& w = Open({config()});
    QTest::keyClick(w.lvPanel, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w.DebugMode);
    EXPECT_TRUE(w.cbDebug->isVisibleTo(&w));
    w.DecodeZiel("<installdir>\\");
    EXPECT_EQ(w.done->toPlainText(), "DecodeZiel: <installdir>\\");
    QTest::keyClick(&w, Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(w.DebugMode);
    QTest::keyClick(&w, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_FALSE(w.DebugMode);
    EXPECT_FALSE(w.cbDebug->isVisibleTo(&w));
}

TEST_F(IUpdateMainTest, WorkflowButtonStaysWhereAFailedStepLeftIt) {
    TiupMain& w = Open({config(), "auto"});
    w.FormActivate(); // the automatic run clicks once
    w.FormActivate();
    EXPECT_EQ(Asked("error").size(), 1);
    EXPECT_TRUE(beeps.isEmpty());
    EXPECT_TRUE(w.startBtn->isEnabled());
    EXPECT_TRUE(w.SpeedButton3->isEnabled());
    EXPECT_EQ(w.StartTag(), 1);
    EXPECT_EQ(w.startBtn->text(), "Start");

    w.SetStartState(4);
    EXPECT_EQ(w.startBtn->text(), "Beenden");
    w.startBtn->click();
    EXPECT_FALSE(w.isVisible());
}

TEST_F(IUpdateMainTest, WindowShowsItsIconMaskAndDesignedSizeColumn) {
    TiupMain& w = Open({config()});
    const QImage icon = w.windowIcon().pixmap(32).toImage();
    ASSERT_FALSE(icon.isNull()) << "the program's icon did not load";
    EXPECT_GT(qAlpha(icon.pixel(16, 16)), 0);
    w.edFPW->setText("geheim");
    EXPECT_EQ(w.edFPW->displayText(), "******");
    EXPECT_EQ(w.lvMods->header()->sectionSize(4), DesignScale::Px(90));
}

// At a large font the window and its dialogs stay reachable: shrunk to the room there is and
// moved inside it, frame and title bar included.
TEST_F(IUpdateMainTest, WindowStaysWithinTheScreenAtALargeFont) {
    const QFont usual = QApplication::font();
    QFont large = usual;
    large.setPointSizeF(usual.pointSizeF() * 2);
    QApplication::setFont(large);
    TiupMain& w = Open({config()});
    const QRect screen = w.screen()->availableGeometry();
    // Moved off the screen while hidden: shown again inside it.
    w.hide();
    w.move(screen.right() - 50, screen.top() - 200);
    w.show();
    EXPECT_TRUE(screen.contains(w.frameGeometry()));
    const QRect small(40, 30, 640, 480);
    EXPECT_TRUE(small.contains(WindowFit::FittedFrame(w.frameGeometry(), small)));
    QApplication::setFont(usual);
}

} // namespace
