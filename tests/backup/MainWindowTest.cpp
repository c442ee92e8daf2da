// The main window's life cycle: start-up, hiding in the tray (or, without a tray host, in the
// task bar), the close question, the logoff query, the shared status routines and the log.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>

#include "DesignScale.h"
#include "IniFile.h"
#include "Shell.h"
#include "SortGrid.h"
#include "TestRegistry.h"
#include "Tray.h"
#include "WindowFixture.h"
#include "fCount.h"
#include "fTime.h"
#include "filterform.h"
#include "fzPw.h"
#include "histform.h"
#include "uRestore.h"

namespace {

class MainWindowTest : public WindowTest {
protected:
    MainWindowTest() : WindowTest(QDateTime(QDate(2026, 12, 7), QTime(23, 15, 0))) {}
    void SetUp() override {
        WindowTest::SetUp();
        Tray::SetAvailable(true); // the offscreen platform has none; the tests below say so
    }
    void TearDown() override {
        win.reset();
        Tray::SetAvailable(std::nullopt);
        if (appFont) QApplication::setFont(*appFont);
        WindowTest::TearDown();
    }
    Tmain& start(const QStringList& args = {}) { return Start(args); }
    static QStringList lines(Tmain& w) { return w.LogLines(); }
    // One tick of the scheduler's timer, as its time-out delivers it.
    static void tick(Tmain& w) { QMetaObject::invokeMethod(Find<QTimer>(w, "Timer2"), "timeout"); }

    TestFolder& folder = t;
    std::unique_ptr<Tmain>& win = m;
    std::optional<QFont> appFont; // restored after a test that widens it
};

TEST_F(MainWindowTest, FirstStartWithoutFilesShowsTheStartLineAndDesignState) {
    Tmain& w = start();
    EXPECT_EQ(w.State().ProgDir, folder.Path("prog") + "/");
    EXPECT_EQ(w.State().DataDir, folder.Path("config") + "/");
    EXPECT_EQ(lines(w), QStringList{"  - Zorvane gestartet 07.12.2026 23:15:00"});
    EXPECT_EQ(w.size(), QSize(DesignScale::Px(890), DesignScale::Px(460)));
    EXPECT_EQ(w.windowTitle(), "   KELVO - Zorvane2 - 17.11.2012");
    EXPECT_EQ(Find<QComboBox>(w, "cbLang")->currentIndex(), 0);
    EXPECT_TRUE(Find<QToolButton>(w, "btnTimer")->isChecked());
    EXPECT_FALSE(w.State().AutoStart);
    w.show();
    w.FormActivate();
    EXPECT_FALSE(w.State().Modified);
    EXPECT_FALSE(Find<QToolButton>(w, "btnLoadConf")->isEnabled());
    EXPECT_FALSE(Find<QToolButton>(w, "btnSaveConf")->isEnabled());
    EXPECT_TRUE(Find<QTimer>(w, "Timer2")->isActive());
    EXPECT_TRUE(Find<QSystemTrayIcon>(w, "tray")->isVisible());
    EXPECT_FALSE(Find<QPushButton>(w, "btnAbort")->isVisible());
    EXPECT_EQ(Find<QLabel>(w, "Status")->text(), "Zorvane gestartet 07.12.2026 23:15:00");
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
        tick(w);
        EXPECT_EQ(w.isVisible(), !c.hides) << c.args.join(',').toStdString();
        EXPECT_FALSE(w.State().AutoStart);
        // The second tick does not hide a window the user brought back.
        Q_EMIT Find<QSystemTrayIcon>(w, "tray")->activated(QSystemTrayIcon::DoubleClick);
        tick(w);
        EXPECT_TRUE(w.isVisible());
        win.reset();
    }
}

TEST_F(MainWindowTest, UpdaterButtonFollowsTheProgramFileInAnyLetterCase) {
    const QString exe = ShellFolders::ExecutableSuffix();
    const struct {
        QString file; // the updater file beside the program, if any
        bool enabled;
    } cases[] = {
        {{}, false},
        {"kelvoiupdate" + exe, true},
        {"KelvoIUpdate" + exe, true},
        {"KELVOIUPDATE.Exe", true}, // a program file copied from Windows
        {"KelvoIUpdate.old", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        ASSERT_TRUE(QDir(folder.Path("prog")).removeRecursively());
        folder.MakeDir("prog");
        if (!c.file.isEmpty()) folder.Write("prog/" + c.file, "x");
        EXPECT_EQ(Find<QToolButton>(start(), "btnIupdate")->isEnabled(), c.enabled);
        win.reset();
    }
}

TEST_F(MainWindowTest, CloseBoxHidesInTheTrayAndKeepsRunning) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    EXPECT_FALSE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(Find<QTimer>(w, "Timer2")->isActive());
    EXPECT_TRUE(Dialogs::AskedLog().isEmpty());
    EXPECT_FALSE(lines(w).last().contains("beendet"));
    // A single click leaves the menu to the context click; a double click brings the window.
    Q_EMIT Find<QSystemTrayIcon>(w, "tray")->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(Find<QMenu>(w, "PopupMenu1")->isVisible());
    EXPECT_FALSE(w.isVisible());
    Q_EMIT Find<QSystemTrayIcon>(w, "tray")->activated(QSystemTrayIcon::DoubleClick);
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
    EXPECT_TRUE(Find<QTimer>(w, "Timer2")->isActive());
    Q_EMIT Find<QSystemTrayIcon>(w, "tray")->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());

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
    w.SetModified(true);
    Dialogs::SetNextAnswer(Dialogs::Cancel);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.State().Modified);
    ASSERT_EQ(Dialogs::AskedLog().size(), 1);
    EXPECT_EQ(Dialogs::AskedLog().first().text, w.Language().DiscardChangesText());

    // Yes: the settings are reloaded without a second question, then the window hides.
    Dialogs::SetNextAnswer(Dialogs::Yes);
    EXPECT_FALSE(w.close());
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.State().Modified);
    EXPECT_FALSE(Find<QToolButton>(w, "btnLoadConf")->isEnabled());
    EXPECT_EQ(Dialogs::AskedLog().size(), 2);

    // No: everything is saved, then the window hides.
    Q_EMIT Find<QSystemTrayIcon>(w, "tray")->activated(QSystemTrayIcon::DoubleClick);
    w.SetModified(true);
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
    Find<QToolButton>(w, "btnClose")->click();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.State().ExitConfirmed);
    ASSERT_EQ(Dialogs::AskedLog().size(), 1);
    EXPECT_EQ(Dialogs::AskedLog().first().text, "Soll Zorvane2 wirklich beendet werden?");
}

TEST_F(MainWindowTest, ConfirmedExitEndsEvenWhenTheDiscardQuestionIsCancelled) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    w.SetModified(true);
    Dialogs::SetNextAnswer(Dialogs::Yes);    // really end?
    Dialogs::SetNextAnswer(Dialogs::Cancel); // discard changes?
    Clock::SetFixed(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0)));
    Find<QAction>(w, "ZorvaneClose")->trigger();
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
    w.SetModified(true);
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
    w.SetModified(true);
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
    w.SetModified(true);
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
    QTest::keyClick(Grid(w), Qt::Key_D, Qt::ControlModifier);
    EXPECT_FALSE(w.State().DebugMode);
    QTest::keyClick(Grid(w), Qt::Key_D, Qt::ShiftModifier);
    EXPECT_FALSE(w.State().DebugMode);
    QTest::keyClick(Grid(w), Qt::Key_D, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_TRUE(w.State().DebugMode);
    EXPECT_TRUE(Find<QCheckBox>(w, "cbDebug")->isVisible());
    QTest::keyClick(Find<QPlainTextEdit>(w, "Memo1"), Qt::Key_D,
                    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(w.State().DebugMode);
    EXPECT_FALSE(Find<QCheckBox>(w, "cbDebug")->isVisible());
}

TEST_F(MainWindowTest, StatusLineLogsAndStepsTheSpinner) {
    Tmain& w = start();
    const int before = w.LogLineCount();
    const QString ready = "Bereit - 12 Dateien";
    const int tag = w.State().SpinnerPosition;
    w.SetStatus(ready);
    EXPECT_EQ(Find<QLabel>(w, "Status")->text(), "Bereit");
    EXPECT_EQ(lines(w).last(), "  - " + ready);
    Find<QComboBox>(w, "cbLang")->setCurrentIndex(1);
    w.SetStatus(ready);
    EXPECT_EQ(Find<QLabel>(w, "Status")->text(), ready);
    Find<QComboBox>(w, "cbLang")->setCurrentIndex(0);
    w.SetStatus("Noch nicht Bereit");
    EXPECT_EQ(Find<QLabel>(w, "Status")->text(), "Noch nicht Bereit");
    w.SetStatus(" leise");
    EXPECT_EQ(Find<QLabel>(w, "Status")->text(), " leise");
    EXPECT_EQ(w.LogLineCount(), before + 3);
    EXPECT_EQ(w.State().SpinnerPosition, (tag + 4) % 4);
    w.SetStatus(QString()); // must not fail

    // A full cycle from position 0.
    while (w.State().SpinnerPosition != 0)
        w.SetStatus(" x");
    QStringList captions;
    for (int i = 0; i < 4; ++i) {
        w.SetStatus(" x");
        captions << Find<QLabel>(w, "sta")->text();
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
    const QFontMetrics fm(Grid(w)->font());
    for (const Case& c : cases) {
        int designed = 4;
        for (QChar ch : c.sample)
            designed += QStringLiteral(".:,-/* ").contains(ch) ? 3 : 6;
        ASSERT_LE(designed, c.design) << c.sample.toStdString();
        EXPECT_GE(Grid(w)->ColWidth(c.col), fm.horizontalAdvance(c.sample) + 4)
            << c.sample.toStdString();
        // Titles wider than their designed column ("Meldungen") widen it.
        EXPECT_GE(Grid(w)->ColWidth(c.col), fm.horizontalAdvance(Grid(w)->Cell(c.col, 0)) + 6)
            << c.col;
    }
    // Columns left alone keep their stored widths; a resized one is stored in design units.
    Grid(w)->SetColWidth(colVerz, DesignScale::Px(200));
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
    QScrollBar* across = Find<QPlainTextEdit>(w, "Memo1")->horizontalScrollBar();
    QScrollBar* down = Find<QPlainTextEdit>(w, "Memo1")->verticalScrollBar();
    const QString longLine = "Fehler beim Schreiben in " + QString(400, u'x');
    for (int i = 0; i < 30; ++i)
        w.LogLine(i % 7 ? QString("Zeile %1").arg(i) : longLine);
    w.SetStatus(longLine);
    QCoreApplication::processEvents();
    ASSERT_GT(across->maximum(), 0);
    // A view scrolled to the right comes back for the next line.
    across->setValue(across->maximum());
    w.LogLine("kurz");
    EXPECT_EQ(across->value(), 0);
    EXPECT_EQ(down->value(), down->maximum());
    // The history save leaves the caret at the start of the last line: at the end of a long
    // one it would pull the view to the right.
    w.SetStatus(longLine);
    w.SaveHistory();
    const QTextCursor caret = Find<QPlainTextEdit>(w, "Memo1")->textCursor();
    EXPECT_EQ(caret.blockNumber(), Find<QPlainTextEdit>(w, "Memo1")->document()->blockCount() - 1);
    EXPECT_EQ(caret.positionInBlock(), 0);
    EXPECT_EQ(across->value(), 0);
}

TEST_F(MainWindowTest, SetModifiedDrivesTheLoadAndSaveButtons) {
    Tmain& w = start();
    w.SetModified(true);
    EXPECT_TRUE(Find<QToolButton>(w, "btnLoadConf")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(w, "btnSaveConf")->isEnabled());
    w.SetModified(false);
    EXPECT_FALSE(Find<QToolButton>(w, "btnLoadConf")->isEnabled());
    EXPECT_FALSE(Find<QToolButton>(w, "btnSaveConf")->isEnabled());
}

TEST_F(MainWindowTest, ActivationAppliesTheChosenLanguageAndCountsSettingsUnchanged) {
    Tmain& w = start();
    Find<QComboBox>(w, "cbLang")->setCurrentIndex(1);
    w.FormActivate();
    EXPECT_EQ(w.Language().Current(), TextLanguage::English);
    EXPECT_FALSE(w.State().Modified);
    // Texts produced from now on are English, earlier lines keep their language.
    w.SetStatus(w.Language().Tx(txBereit));
    EXPECT_EQ(Find<QLabel>(w, "Status")->text(), "Ready");
    EXPECT_TRUE(lines(w).first().contains("Zorvane gestartet"));
    // A later activation (the user coming back from another program) keeps unsaved changes.
    w.SetModified(true);
    w.FormActivate();
    EXPECT_TRUE(w.State().Modified);
}

// The texts that follow the language: widget, property, German, English.
struct Listed {
    QWidget* widget;
    const char* property;
    const char *german, *english;
};

std::vector<Listed> listedTexts(Tmain& w) {
    const char* de = "Die Sperrzeit wird nur Relevant, wenn das Programm\n"
                     "zur eingestellten Backupzeit nicht lief, ausserhalb der\n"
                     "Sperrzeit werden die Backups dann sofort nachgeholt,\n"
                     "innerhalb der Sperrzeit geschieht nichts.";
    const char* en = "If the program doesen't run at the\nTime for a Backup, it try's to do the \n"
                     "Backup when starting but not within\nthe blocking Time.";
    auto* f = w.filterWin;
    auto* r = w.findChild<TfRestore*>("fRestore");
    // clang-format off
    return {
        {Find<QWidget>(w, "Panel2"), "toolTip", de, en}, {Find<QCheckBox>(w, "cbSperr"), "toolTip", de, en},
        {Find<QTimeEdit>(w, "sperrVon"), "toolTip", de, en}, {Find<QTimeEdit>(w, "sperrBis"), "toolTip", de, en},
        {Find<QToolButton>(w, "btnLoadConf"), "toolTip", "Einstellungen Laden", "Load settings"},
        {Find<QToolButton>(w, "btnSaveConf"), "toolTip", "Einstellungen Speichern", "Save settings"},
        {Find<QToolButton>(w, "btnNew"), "toolTip", "Neue Backupaktion einfügen", "New Backup action"},
        {Find<QToolButton>(w, "btnDel"), "toolTip", "Ausgewählte Backupaktion löschen", "Delete selected Backup action"},
        {Find<QToolButton>(w, "btnPackOne"), "toolTip", "Backupaktion für ausgewählten Eintrag jetzt ausführen", "Do selected Backup"},
        {Find<QToolButton>(w, "btnPackAll"), "toolTip", "Backupaktion für alle Einträge jetzt ausführen", "Do all Backups"},
        {Find<QToolButton>(w, "btnRestore"), "toolTip", "Sicherungen anzeigen", "Show Backups for this entry"},
        {Find<QToolButton>(w, "btnTimer"), "toolTip", "Automatik Ein / Ausschalten", "Swith automatic On / Off"},
        {Find<QCheckBox>(w, "cbSperr"), "text", "Sperrzeit", "blocking Time"},
        {Find<QToolButton>(w, "btnIupdate"), "toolTip", "Internetupdate Starten", "Start Internet update"},
        {Find<QToolButton>(w, "btnClose"), "toolTip", "Programm beenden", "End Programm"},
        {Find<QPushButton>(w, "btnAbort"), "text", "Abbrechen", "Abort"},
        {w.countWin, "windowTitle", "Anzahl Sicherungen", "Backup Count"},
        {f, "windowTitle", "Filter für Sicherung", "Filter for Backup"},
        {f->Memo1, "plainText",
         "Achtung, dieser Filter arbeitet Linux like, der Punkt hat keine Sonderfunktion:\n"
         "*.* erfasst nur Dateien, die einen Punkt enthalten.\nPrüfen Sie unten das Resultat!",
         "Attention, this is a Linux like Filter, the dot has no extra condition:\n"
         "*.* shows only Files with a dot in the filename .\nProof the Result below!"},
        {f->cbCount, "title", "Anzahl Test Dateien", "Count of Testfiles"},
        {f->Label2, "text", "Beispiel: *.doc;*.exe;*.xls oder für nicht Sicherung: *.tmp;*.exe",
         "Example: *.doc;*.exe;*.xls or for don't Backup: *.tmp;*.exe"},
        {f->nur, "text", "Nur Dateien nach diesem Filter Sichern", "Only Files matching this Filter"},
        {f->nicht, "text", "Dateien nach diesem Filter auslassen", "Drop Files matching this Filter"},
        {f->Treffer, "text", "Treffer", "Matches"}, {f->Label3, "text", "Ausgelassen", "doesen't Match"},
        {f->lP, "text", "Zähle", "Counting"}, {f->lN, "text", "Zähle", "Counting"},
        {w.TimeWin, "windowTitle", "Uhrzeit für Sicherung", "Time for Backup"},
        {w.fPw, "windowTitle", "Kennwort für das Archiv", "Password for the archive"},
        {w.fPw->Memo1, "plainText",
         "ACHTUNG:\nVerschlüsselte Zip Archive sind ziemlich sicher!\n"
         "Wenn sie ein Kennwort setzen und\nes vergessen ist das Archiv verloren.",
         "Danger:\nZip Archives with Password are realy Secure!\n"
         "If you set a Password an forget it\nthe Archive is lost."},
        {w.fPw->cbShowPw, "text", "Kennwort anzeigen", "show Password"},
        {w.fPw->Label1, "text", "Kennwort", "Password"},
        {w.fHist->ws, "text", "Wochensicherung behalten", "save weekly backups"},
        {w.fHist->ms, "text", "Monatssicherung behalten", "save monthly backup"},
        {r->GroupBox1, "title", "Wiederherzustellende Sicherung auswählen", "select Backup for Recovery"},
        {r->Label2, "text", "Datei:", "File:"}, {r->Label1, "text", "Wiederherstellen nach", "Restore to"},
        {r->allFiles, "text", "Alle", "All"}, {r->RadioButton2, "text", "Ausgewählte", "only Selected"},
    };
    // clang-format on
}

// Every text property of every widget of the window and its dialogs.
std::map<std::pair<QWidget*, QByteArray>, QString> allTexts(Tmain& w) {
    std::map<std::pair<QWidget*, QByteArray>, QString> texts;
    QList<QWidget*> widgets = w.findChildren<QWidget*>();
    for (QWidget* x : widgets << &w)
        for (const char* p : {"text", "toolTip", "windowTitle", "title", "plainText"})
            if (x->property(p).isValid()) texts[{x, p}] = x->property(p).toString();
    return texts;
}

// The grid's titles and the filter lists' third title in one text.
QString titles(Tmain& w) {
    QStringList t;
    for (int c = 0; c < ActionColumnCount; ++c)
        t << Grid(w)->Cell(c, 0);
    return t.join('|') + '|' + w.filterWin->lvP->headerItem()->text(2) + '|' +
           w.filterWin->lvN->headerItem()->text(2);
}

TEST_F(MainWindowTest, EnglishThenGermanRewritesEveryListedTextAndNothingElse) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    const auto listed = listedTexts(w);
    auto expectTexts = [&](bool english) {
        for (const Listed& l : listed)
            EXPECT_EQ(l.widget->property(l.property).toString(),
                      QString::fromUtf8(english ? l.english : l.german))
                << l.widget->objectName().toStdString() << ' ' << l.property;
    };
    const QString column5 = Grid(w)->Cell(colActionNumber, 0);
    expectTexts(false); // the texts the window starts with
    EXPECT_EQ(titles(w), "Verzeichnis|Nach|Zeit|Anz.|letzte Sicherung|" + column5 +
                             "|Dateien|Bytes|Archiv|Dauer|Filter|Hist|Meldungen|Pw|Ordner|Ordner");
    const auto german = allTexts(w);

    QTest::keyClick(Find<QComboBox>(w, "cbLang"), Qt::Key_Down);
    EXPECT_EQ(w.Language().Current(), TextLanguage::English);
    EXPECT_TRUE(Find<QToolButton>(w, "btnSaveConf")->isEnabled());
    w.SetModified(false); // buttons bound to actions keep their hints when the action changes
    expectTexts(true);
    EXPECT_EQ(titles(w), "Directory|To File|Time|quant.|last Backup|" + column5 +
                             "|Files|Bytes|Archiv|period|Filter|Hist|Message|Pw|Folder|Folder");
    auto english = allTexts(w);
    for (const Listed& l : listed)
        english.erase({l.widget, l.property});
    for (const auto& [key, text] : english)
        EXPECT_EQ(text, german.at(key))
            << key.first->objectName().toStdString() << ' ' << key.second.toStdString();

    QTest::keyClick(Find<QComboBox>(w, "cbLang"), Qt::Key_Up);
    EXPECT_EQ(w.Language().Current(), TextLanguage::German);
    EXPECT_TRUE(w.State().Modified);
    EXPECT_EQ(allTexts(w), german);
    EXPECT_TRUE(titles(w).startsWith("Verzeichnis|"));
    // Hints stay up for 15 seconds, in the dialogs as well.
    EXPECT_EQ(Find<QToolButton>(w, "btnNew")->toolTipDuration(), 15000);
    EXPECT_EQ(w.fPw->cbShowPw->toolTipDuration(), 15000);
}

TEST_F(MainWindowTest, SettingsLoadedAgainBringBackTheStoredLanguage) {
    Tmain& w = start();
    Find<QComboBox>(w, "cbLang")->setCurrentIndex(1);
    Q_EMIT Find<QComboBox>(w, "cbLang")->activated(1);
    EXPECT_EQ(Find<QPushButton>(w, "btnAbort")->text(), "Abort");
    Dialogs::SetNextAnswer(Dialogs::Yes); // the English choice is thrown away
    Find<QAction>(w, "loadIni")->trigger();
    EXPECT_EQ(Find<QComboBox>(w, "cbLang")->currentIndex(), 0);
    EXPECT_EQ(w.Language().Current(), TextLanguage::German);
    EXPECT_EQ(Find<QPushButton>(w, "btnAbort")->text(), "Abbrechen");
}

TEST_F(MainWindowTest, AStoredLanguageIndexThatNamesNoEntryGivesEnglish) {
    folder.Write("config/Zorvane2.ini", "[Opt]\r\nlang=7\r\n");
    Tmain& w = start();
    // Already before the window is first activated, as in a start into the tray.
    EXPECT_EQ(w.Language().Current(), TextLanguage::English);
    EXPECT_EQ(Find<QPushButton>(w, "btnAbort")->text(), "Abort");
    w.FormActivate();
    EXPECT_EQ(Find<QComboBox>(w, "cbLang")->currentIndex(), -1);
    EXPECT_EQ(w.Language().Current(), TextLanguage::English);
    EXPECT_EQ(Find<QPushButton>(w, "btnAbort")->text(), "Abort");
    EXPECT_FALSE(w.State().Modified);
}

TEST_F(MainWindowTest, F1OpensTheHelpFileOfTheLanguageFromAnyWindow) {
    Tmain& w = start();
    w.FormActivate();
    QTest::keyClick(Grid(w), Qt::Key_F1);
    QTest::keyClick(Find<QComboBox>(w, "cbLang"), Qt::Key_Down);
    QTest::keyClick(w.fPw->ePw, Qt::Key_F1);
    const QString prog = folder.Path("prog") + "/";
    EXPECT_EQ(opened, QStringList({prog + "ZORVANE2.HLP", prog + "ZORVANE2e.HLP"}));
}

TEST_F(MainWindowTest, LogMemoIsPaintedInTheButtonFaceColour) {
    Tmain& w = start();
    w.show();
    const QImage shot = Find<QPlainTextEdit>(w, "Memo1")->viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.width() - 3, shot.height() - 3),
              Find<QPlainTextEdit>(w, "Memo1")->palette().color(QPalette::Button));
}

class HandOverTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        folder.Write("prog/KelvoIUpdate", "x");
        folder.Write("prog/iup.ini", "[iups]\r\nhost=update.example.de\r\n");
        // Nothing is reported about a start that failed, so the recorder lets every start fail.
        Shell::SetStartHandler([this](const QString& p, const QStringList& a, const QString& d) {
            started << QStringList{p, d, a.join(u'|')};
            startedAt = Clock::Now();
            return false;
        });
    }
    void TearDown() override {
        Shell::SetStartHandler(nullptr);
        MainWindowTest::TearDown();
    }

    TestRegistry registry{folder.Path("reg")};
    QList<QStringList> started; // program, working folder, arguments
    QDateTime startedAt;
};

TEST_F(HandOverTest, StartsTheUpdaterWithOneArgumentAndEndsWithEverythingSavedUnasked) {
    Tmain& w = start({"auto"});
    w.show();
    w.FormActivate();
    Dialogs::SetNextAnswer(Dialogs::Cancel);
    Find<QToolButton>(w, "btnIupdate")->click();
    EXPECT_TRUE(started.isEmpty());
    EXPECT_TRUE(w.isVisible());

    Find<QCheckBox>(w, "cbSperr")->click(); // an unsaved change
    Dialogs::SetNextAnswer(Dialogs::Ok);
    Find<QToolButton>(w, "btnIupdate")->click();
    const QString prog = folder.Path("prog") + "/";
    EXPECT_EQ(started, (QList<QStringList>{{prog + "KelvoIUpdate", prog, prog + "iup.ini"}}));
    // Nothing was asked about the changed settings; they were saved.
    EXPECT_EQ(Dialogs::AskedLog().size(), 2);
    EXPECT_EQ(Dialogs::AskedLog().last().text, "Programm beenden und Internet Update starten?");
    EXPECT_FALSE(w.State().Modified);
    const QByteArray saved =
        Find<QCheckBox>(w, "cbSperr")->isChecked() ? "Speerzeit=1" : "Speerzeit=0";
    EXPECT_TRUE(folder.Read("config/Zorvane2.ini").contains(saved));
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(lines(w).last().startsWith("  - Zorvane wird beendet "));
}

TEST_F(HandOverTest, InDebugModeReportsTheRegistrationAndCountsSevenSecondsInTheCaption) {
    Tmain& w = start();
    w.show();
    w.FormActivate();
    QTest::keyClick(Grid(w), Qt::Key_D, Qt::ShiftModifier | Qt::ControlModifier);
    QSignalSpy titles(&w, &QWidget::windowTitleChanged);
    const QDateTime before = Clock::Now();
    Dialogs::SetNextAnswer(Dialogs::Ok);
    Find<QToolButton>(w, "btnIupdate")->click();
    QStringList captions;
    for (const QList<QVariant>& t : titles)
        captions << t.first().toString();
    EXPECT_EQ(captions, QStringList({"Lesepause 0", "Lesepause 1", "Lesepause 2", "Lesepause 3",
                                     "Lesepause 4", "Lesepause 5", "Lesepause 6"}));
    EXPECT_EQ(startedAt, before.addSecs(7));
    EXPECT_TRUE(lines(w).contains("  - Pfad gefunden v2"));
    EXPECT_FALSE(w.isVisible());
}

// The updater cannot start without its configuration: the program says what is missing and
// where, and goes on as before.
TEST_F(HandOverTest, WithoutAReadableIupIniNothingIsHandedOverAndTheProgramGoesOn) {
    const QString prog = folder.Path("prog") + "/";
    const struct {
        const char* what;
        std::function<void()> lay;
        QString message;
    } cases[] = {
        {"missing", [] {}, "Internet Update nicht möglich: iup.ini nicht gefunden in " + prog},
        {"a link to nowhere",
         [&] { QFile::link(folder.Path("anderswo/iup.ini"), prog + "iup.ini"); },
         "Internet Update nicht möglich: iup.ini nicht gefunden in " + prog},
        {"a folder", [&] { folder.MakeDir("prog/iup.ini"); },
         "Internet Update nicht möglich: " + prog + "iup.ini kann nicht gelesen werden ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(prog + "iup.ini");
        c.lay();
        Dialogs::ResetTestState();
        Tmain& w = start();
        w.show();
        w.FormActivate();
        Find<QCheckBox>(w, "cbSperr")->click(); // an unsaved change
        Dialogs::SetNextAnswer(Dialogs::Ok);
        Find<QToolButton>(w, "btnIupdate")->click();
        ASSERT_EQ(Asked().size(), 2);
        EXPECT_TRUE(Asked()[1].startsWith(c.message)) << Asked()[1].toStdString();
        EXPECT_TRUE(started.isEmpty());
        EXPECT_FALSE(QFile::exists(Registry::RootFile(RegRoot::LocalMachine)));
        EXPECT_FALSE(QFile::exists(Registry::RootFile(RegRoot::CurrentUser)));
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.Closing());
        EXPECT_TRUE(w.State().Modified);
        EXPECT_TRUE(Find<QTimer>(w, "Timer2")->isActive());
        EXPECT_TRUE(Find<QToolButton>(w, "btnIupdate")->isEnabled()); // the user may try again
        win.reset();
        QDir(prog + "iup.ini").removeRecursively();
    }
}

TEST_F(MainWindowTest, WindowsAndTrayShowTheProgramsOwnIcon) {
    // Qt draws the icon through its SVG plugin; without it the icon would be empty.
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("svg"));
    const QImage own = QIcon(":/icons/zorvane2.svg").pixmap(32, 32).toImage();
    ASSERT_FALSE(own.isNull());
    Tmain& w = start();
    EXPECT_EQ(w.windowIcon().pixmap(32, 32).toImage(), own);
    EXPECT_EQ(w.fPw->windowIcon().pixmap(32, 32).toImage(), own); // the dialogs take it over
    EXPECT_EQ(Find<QSystemTrayIcon>(w, "tray")->icon().pixmap(32, 32).toImage(), own);
}

} // namespace
