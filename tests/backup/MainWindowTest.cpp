// The main window's life cycle: start-up, hiding in the tray, the close question, the logoff
// query and the shared status routines.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

#include "Clock.h"
#include "Dialogs.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "TestFolder.h"
#include "ZorvaneMain.h"
#include "lang.h"

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.IsValid());
        folder.MakeDir("prog");
        folder.MakeDir("config");
        ShellFolders::SetProgramFolder(folder.Path("prog"));
        qputenv("XDG_CONFIG_HOME", folder.Path("config").toUtf8());
        Dialogs::ResetTestState();
        Clock::SetFixed(QDateTime(QDate(2026, 12, 7), QTime(23, 15, 0)));
        Language = 0;
    }
    void TearDown() override {
        win.reset();
        Clock::UseSystem();
        ShellFolders::SetProgramFolder(QString());
        Language = 0;
    }
    Tmain& start(QStringList args = {}) {
        win = std::make_unique<Tmain>(args);
        return *win;
    }
    static QStringList lines(Tmain& w) { return w.LogLines(); }

    TestFolder folder;
    std::unique_ptr<Tmain> win;
};

TEST_F(MainWindowTest, FirstStartWithoutFilesShowsTheStartLineAndDesignState) {
    Tmain& w = start();
    EXPECT_EQ(w.State().ProgDir, folder.Path("prog") + "/");
    EXPECT_EQ(w.State().DataDir, folder.Path("config") + "/");
    EXPECT_EQ(lines(w), QStringList{"  - Zorvane gestartet 07.12.2026 23:15:00"});
    EXPECT_EQ(w.size(), QSize(890, 460));
    EXPECT_EQ(w.windowTitle(), "   KELVO - Zorvane2 - 17.11.2012");
    EXPECT_EQ(w.cbLang->currentIndex(), 0);
    EXPECT_TRUE(w.btnTimer->isChecked());
    EXPECT_FALSE(w.State().AutoStart);
    w.show();
    w.FormActivate();
    EXPECT_FALSE(w.State().Modified);
    EXPECT_FALSE(w.btnLoadConf->isEnabled());
    EXPECT_FALSE(w.btnSaveConf->isEnabled());
    EXPECT_TRUE(w.Timer2->isActive());
    EXPECT_TRUE(w.tray->isVisible());
    EXPECT_FALSE(w.btnAbort->isVisible());
    EXPECT_EQ(w.Status->text(), "Zorvane gestartet 07.12.2026 23:15:00");
}

TEST_F(MainWindowTest, OnlyTheExactFirstArgumentAutoHidesAtTheFirstTick) {
    struct Case {
        QStringList args;
        bool hides;
    };
    const Case cases[] = {
        {{"auto"}, true}, {{"Auto"}, false}, {{"AUTO"}, false}, {{"x", "auto"}, false}, {{}, false},
    };
    for (const Case& c : cases) {
        Tmain& w = start(c.args);
        w.show();
        EXPECT_EQ(w.State().AutoStart, c.hides) << c.args.join(',').toStdString();
        w.Timer2Timer();
        EXPECT_EQ(w.isVisible(), !c.hides) << c.args.join(',').toStdString();
        EXPECT_FALSE(w.State().AutoStart);
        // The second tick does not hide a window the user brought back.
        w.TrayDblClick();
        w.Timer2Timer();
        EXPECT_TRUE(w.isVisible());
        win.reset();
    }
}

TEST_F(MainWindowTest, UpdaterButtonFollowsTheProgramFileInAnyLetterCase) {
    EXPECT_FALSE(start().btnIupdate->isEnabled());
    win.reset();
    folder.Write("prog/kelvoiupdate" + ShellFolders::ExecutableSuffix(), "x");
    EXPECT_TRUE(start().btnIupdate->isEnabled());
    win.reset();
    QFile::rename(folder.Path("prog/kelvoiupdate" + ShellFolders::ExecutableSuffix()),
                  folder.Path("prog/KelvoIUpdate" + ShellFolders::ExecutableSuffix()));
    EXPECT_TRUE(start().btnIupdate->isEnabled());
    win.reset();
    folder.Write("prog/KelvoIUpdate.old", "x");
    QFile::remove(folder.Path("prog/KelvoIUpdate" + ShellFolders::ExecutableSuffix()));
    EXPECT_FALSE(start().btnIupdate->isEnabled());
}

TEST_F(MainWindowTest, CloseBoxHidesInTheTrayAndKeepsRunning) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    EXPECT_FALSE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.Timer2->isActive());
    EXPECT_TRUE(Dialogs::AskedLog().isEmpty());
    EXPECT_FALSE(lines(w).last().contains("beendet"));
    w.TrayDblClick();
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, CloseBoxWithChangedSettingsAsksAndFollowsTheAnswer) {
    Tmain& w = start();
    w.show();
    w.FormActivate();

    // Cancel: nothing changes and the window stays.
    SetModified(true);
    Dialogs::SetNextAnswer(Dialogs::Cancel);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.State().Modified);
    ASSERT_EQ(Dialogs::AskedLog().size(), 1);
    EXPECT_EQ(Dialogs::AskedLog().first().text, DiscardChangesText());

    // Yes: the settings are reloaded without a second question, then the window hides.
    Dialogs::SetNextAnswer(Dialogs::Yes);
    EXPECT_FALSE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.State().Modified);
    EXPECT_FALSE(w.btnLoadConf->isEnabled());
    EXPECT_EQ(Dialogs::AskedLog().size(), 2);

    // No: everything is saved, then the window hides.
    w.TrayDblClick();
    SetModified(true);
    Dialogs::SetNextAnswer(Dialogs::No);
    EXPECT_FALSE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.State().Modified);
    EXPECT_EQ(Dialogs::PendingAnswers(), 0);
}

TEST_F(MainWindowTest, ExitCommandAnsweredNoDoesNothing) {
    Tmain& w = start();
    w.show();
    Dialogs::SetNextAnswer(Dialogs::No);
    w.btnClose->click();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.State().ExitConfirmed);
    ASSERT_EQ(Dialogs::AskedLog().size(), 1);
    EXPECT_EQ(Dialogs::AskedLog().first().text, "Soll Zorvane2 wirklich beendet werden?");
}

TEST_F(MainWindowTest, ConfirmedExitEndsEvenWhenTheDiscardQuestionIsCancelled) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    SetModified(true);
    Dialogs::SetNextAnswer(Dialogs::Yes);    // really end?
    Dialogs::SetNextAnswer(Dialogs::Cancel); // discard changes?
    Clock::SetFixed(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0)));
    w.ZorvaneCloseClick();
    EXPECT_TRUE(w.State().ExitConfirmed);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(Dialogs::AskedLog().size(), 2);
    EXPECT_EQ(lines(w).last(), "  - Zorvane wird beendet 08.12.2026");
    // The close went ahead: a further close request does not ask again.
    EXPECT_TRUE(w.close());
    EXPECT_EQ(Dialogs::AskedLog().size(), 2);
}

TEST_F(MainWindowTest, LogoffQuerySavesWithoutAQuestionAndAgrees) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    SetModified(true);
    Clock::SetFixed(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 0)));
    w.CommitDataRequest();
    EXPECT_TRUE(w.State().SessionEnding);
    EXPECT_TRUE(Dialogs::AskedLog().isEmpty());
    EXPECT_FALSE(w.State().Modified);
    EXPECT_FALSE(w.isVisible());
    const QStringList l = lines(w);
    ASSERT_GE(l.size(), 2);
    EXPECT_EQ(l[l.size() - 2], "Benutzer Abmeldung oder Windows Shutdown07.12.2026 23:59:00");
    EXPECT_EQ(l.last(), "  - Zorvane wird beendet 07.12.2026 23:59:00");
}

TEST_F(MainWindowTest, TerminationSignalEndsTheSessionLikeTheLogoffQuery) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    SetModified(true);
    ::raise(SIGTERM);
    QTRY_VERIFY(w.State().SessionEnding);
    EXPECT_TRUE(Dialogs::AskedLog().isEmpty());
    EXPECT_FALSE(w.State().Modified);
    EXPECT_TRUE(lines(w).last().startsWith("  - Zorvane wird beendet "));
}

TEST_F(MainWindowTest, SaveFailuresAtASessionEndGoToTheLogAndStandardErrorNotToABox) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    SetModified(true);
    // Regular files where the settings and program folders were: nobody can write below them.
    QString data = w.State().DataDir;
    data.chop(1);
    for (const QString& f : {data, folder.Path("prog")}) {
        ASSERT_TRUE(QDir(f).removeRecursively());
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    testing::internal::CaptureStderr();
    w.CommitDataRequest();
    const QString err = QString::fromLocal8Bit(testing::internal::GetCapturedStderr().c_str());
    EXPECT_TRUE(Dialogs::AskedLog().isEmpty());
    EXPECT_FALSE(w.isVisible());
    const QString settings = "In " + data + "/Zorvane2.ini kann nicht geschrieben werden";
    // The full save and the layout save.
    EXPECT_EQ(lines(w).filter(settings).size(), 2);
    EXPECT_EQ(lines(w).last(), "Kann History nicht speichern");
    EXPECT_EQ(err.count(settings), 2) << err.toStdString();
    EXPECT_TRUE(err.contains("Kann History nicht speichern")) << err.toStdString();
}

TEST_F(MainWindowTest, ShiftCtrlDTogglesDebugModeOtherKeysDoNot) {
    Tmain& w = start();
    w.show();
    QTest::keyClick(w.sg, Qt::Key_D, Qt::ControlModifier);
    EXPECT_FALSE(w.State().DebugMode);
    QTest::keyClick(w.sg, Qt::Key_D, Qt::ShiftModifier);
    EXPECT_FALSE(w.State().DebugMode);
    QTest::keyClick(w.sg, Qt::Key_D, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_TRUE(w.State().DebugMode);
    EXPECT_TRUE(w.cbDebug->isVisible());
    QTest::keyClick(w.Memo1, Qt::Key_D, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(w.State().DebugMode);
    EXPECT_FALSE(w.cbDebug->isVisible());
}

TEST_F(MainWindowTest, StatusLineLogsAndStepsTheSpinner) {
    Tmain& w = start();
    const int before = w.LogLineCount();
    const QString ready = "Bereit - 12 Dateien";
    const int tag = w.State().SpinnerPosition;
    SetStatus(ready);
    EXPECT_EQ(w.Status->text(), "Bereit");
    EXPECT_EQ(lines(w).last(), "  - " + ready);
    Language = 1;
    SetStatus(ready);
    EXPECT_EQ(w.Status->text(), ready);
    Language = 0;
    SetStatus("Noch nicht Bereit");
    EXPECT_EQ(w.Status->text(), "Noch nicht Bereit");
    SetStatus(" leise");
    EXPECT_EQ(w.Status->text(), " leise");
    EXPECT_EQ(w.LogLineCount(), before + 3);
    EXPECT_EQ(w.State().SpinnerPosition, (tag + 4) % 4);
    SetStatus(QString()); // must not fail

    // A full cycle from position 0.
    while (w.State().SpinnerPosition != 0)
        SetStatus(" x");
    QStringList captions;
    for (int i = 0; i < 4; ++i) {
        SetStatus(" x");
        captions << w.sta->text();
    }
    EXPECT_EQ(captions, (QStringList{"\\", "|", "/", "---"}));
    EXPECT_EQ(w.State().SpinnerPosition, 0);
}

TEST_F(MainWindowTest, SetModifiedDrivesTheLoadAndSaveButtons) {
    Tmain& w = start();
    SetModified(true);
    EXPECT_TRUE(w.btnLoadConf->isEnabled());
    EXPECT_TRUE(w.btnSaveConf->isEnabled());
    SetModified(false);
    EXPECT_FALSE(w.btnLoadConf->isEnabled());
    EXPECT_FALSE(w.btnSaveConf->isEnabled());
}

TEST_F(MainWindowTest, ActivationAppliesTheChosenLanguageAndCountsSettingsUnchanged) {
    Tmain& w = start();
    w.cbLang->setCurrentIndex(1);
    w.FormActivate();
    EXPECT_EQ(Language, 1);
    EXPECT_FALSE(w.State().Modified);
    // Texts produced from now on are English, earlier lines keep their language.
    SetStatus(Tx(txBereit));
    EXPECT_EQ(w.Status->text(), "Ready");
    EXPECT_TRUE(lines(w).first().contains("Zorvane gestartet"));
    // A later activation (the user coming back from another program) keeps unsaved changes.
    SetModified(true);
    w.FormActivate();
    EXPECT_TRUE(w.State().Modified);
}

} // namespace
