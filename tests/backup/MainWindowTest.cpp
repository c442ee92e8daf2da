// The main window's life cycle: start-up, hiding in the tray (or, without a tray host, in the
// task bar), the close question, the logoff query, the shared status routines and the log.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include "Clock.h"
#include "DesignScale.h"
#include "Dialogs.h"
#include "IniFile.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "TestFolder.h"
#include "Tray.h"
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
        Tray::SetAvailable(true); // the offscreen platform has none; the tests below say so
    }
    void TearDown() override {
        win.reset();
        Tray::SetAvailable(std::nullopt);
        if (appFont) QApplication::setFont(*appFont);
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
    std::optional<QFont> appFont; // restored after a test that widens it
};

TEST_F(MainWindowTest, FirstStartWithoutFilesShowsTheStartLineAndDesignState) {
    Tmain& w = start();
    EXPECT_EQ(w.State().ProgDir, folder.Path("prog") + "/");
    EXPECT_EQ(w.State().DataDir, folder.Path("config") + "/");
    EXPECT_EQ(lines(w), QStringList{"  - Zorvane gestartet 07.12.2026 23:15:00"});
    EXPECT_EQ(w.size(), QSize(DesignScale::Px(890), DesignScale::Px(460)));
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
    // A single click leaves the menu to the context click; a double click brings the window.
    Q_EMIT w.tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(w.PopupMenu1->isVisible());
    EXPECT_FALSE(w.isVisible());
    Q_EMIT w.tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(w.isVisible());
}

TEST_F(MainWindowTest, WithoutATrayHostTheWindowGoesToTheTaskBarInsteadOfVanishing) {
    Tray::SetAvailable(std::nullopt);
    ASSERT_FALSE(Tray::Available());
    auto minimisedNotHidden = [](Tmain& w) { return w.isVisible() && w.isMinimized(); };

    Tmain& w = start();
    w.show();
    w.FormActivate();
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(minimisedNotHidden(w));
    EXPECT_TRUE(w.Timer2->isActive());
    Q_EMIT w.tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());

    // Changed settings kept: saved, then minimised all the same.
    SetModified(true);
    Dialogs::SetNextAnswer(Dialogs::No);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(minimisedNotHidden(w));
    EXPECT_FALSE(w.State().Modified);
    w.TrayDblClick();

    // The user minimising the window: it stays in the task bar.
    w.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(minimisedNotHidden(w));
    win.reset();

    Tmain& automatic = start({"auto"});
    automatic.show();
    automatic.Timer2Timer();
    EXPECT_TRUE(minimisedNotHidden(automatic));
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

// A cell text that fitted its column at the designed font (about 6 pixels a character, 3 for
// punctuation and blanks, and the 4 pixels the painting leaves) fits at a wider font too.
TEST_F(MainWindowTest, DesignedColumnWidthsGrowWithTheFontAndAreStoredInDesignUnits) {
    struct Case {
        int col;
        int design; // the default width
        QString sample;
    };
    const Case cases[] = {
        {colVerz, 160, "/home/anna/Dokumente/Briefe"},
        {colNach, 100, "/mnt/b/Briefe.Zip"},
        {colTime, 50, "02:00:00"},
        {colCount, 30, "25"},
        {colLast, 110, "08.12.2026 23:15:00"},
        {colDateien, 50, "123.456"},
        {colBytes, 80, "1.126.451.052"},
        {colArc, 70, "126.451.052"},
        {colDauer, 60, "00:12:34"},
        {colFilter, 60, "Nur:*.doc"},
        {colHist, 20, "J-J"},
        {colLE, 50, "Fehler"},
        {colP, 20, "***"},
    };
    appFont = QApplication::font();
    QFont wide = *appFont;
    wide.setPointSizeF(appFont->pointSizeF() * 1.6);
    QApplication::setFont(wide);
    Tmain& w = start();
    const QFontMetrics fm(w.sg->font());
    for (const Case& c : cases) {
        int designed = 4;
        for (QChar ch : c.sample)
            designed += QStringLiteral(".:,-/* ").contains(ch) ? 3 : 6;
        ASSERT_LE(designed, c.design) << c.sample.toStdString();
        EXPECT_GE(w.sg->ColWidth(c.col), fm.horizontalAdvance(c.sample) + 4)
            << c.sample.toStdString();
        // Titles wider than their designed column ("Meldungen") widen it.
        EXPECT_GE(w.sg->ColWidth(c.col), fm.horizontalAdvance(w.sg->Cell(c.col, 0)) + 6) << c.col;
    }
    // Columns left alone keep their stored widths; a resized one is stored in design units.
    w.sg->SetColWidth(colVerz, DesignScale::Px(200));
    w.saveIniExecute(nullptr);
    const IniFile ini(w.SettingsFileName());
    for (const Case& c : cases)
        EXPECT_EQ(ini.ReadInteger("Opt", "C" + QString::number(c.col), 0),
                  c.col == colVerz ? 200 : c.design)
            << c.col;
}

TEST_F(MainWindowTest, LongLogLinesLeaveTheViewAtTheLeftEdgeAndAtTheEnd) {
    Tmain& w = start();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QScrollBar* across = w.Memo1->horizontalScrollBar();
    QScrollBar* down = w.Memo1->verticalScrollBar();
    const QString longLine = "Fehler beim Schreiben in " + QString(400, u'x');
    for (int i = 0; i < 30; ++i)
        w.LogLine(i % 7 ? QString("Zeile %1").arg(i) : longLine);
    SetStatus(longLine);
    QCoreApplication::processEvents();
    ASSERT_GT(across->maximum(), 0);
    EXPECT_EQ(across->value(), 0);
    EXPECT_EQ(down->value(), down->maximum());
    // A view scrolled to the right comes back for the next line.
    across->setValue(across->maximum());
    w.LogLine("kurz");
    EXPECT_EQ(across->value(), 0);
    EXPECT_EQ(down->value(), down->maximum());
    // The history save leaves the caret at the start of the last line: at the end of a long
    // one it would pull the view to the right.
    SetStatus(longLine);
    w.SaveHistory();
    const QTextCursor caret = w.Memo1->textCursor();
    EXPECT_EQ(caret.blockNumber(), w.Memo1->document()->blockCount() - 1);
    EXPECT_EQ(caret.positionInBlock(), 0);
    EXPECT_EQ(across->value(), 0);
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
