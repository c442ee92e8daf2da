#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "Archives.h"
#include "Clock.h"
#include "Dialogs.h"
#include "Priority.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "TestFolder.h"
#include "TestRegistry.h"
#include "TextFormats.h"
#include "WindowFixture.h"
#include "ZipComponent.h"
#include "ZorvaneMain.h"
#include "lang.h"

namespace {

class BackupRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(prog.IsValid() && config.IsValid() && src.IsValid() && dst.IsValid());
        qputenv("XDG_CONFIG_HOME", config.Path().toUtf8());
        Clock::SetFixed(QDateTime(QDate(2026, 12, 7), QTime(2, 0, 1)));
        ShellFolders::SetProgramFolder(prog.Path());
        savedCwd = QDir::currentPath();
        NewWindow();
    }
    // A window with an empty log and no action rows yet.
    void NewWindow() {
        w = std::make_unique<Tmain>(QStringList{});
        Find<QPlainTextEdit>(*w, "Memo1")->clear();
        w->SetGridRowCount(1);
    }
    void TearDown() override {
        w.reset();
        ShellFolders::SetProgramFolder(QString());
        Clock::UseSystem();
        QDir::setCurrent(savedCwd);
    }

    // Adds an action row; returns its row number.
    int AddRow(const QString& source, const QString& target, const QString& filter = {},
               const QString& password = {}) {
        const int row = Grid(*w)->RowCount();
        w->SetGridRowCount(row + 1);
        w->SetActionField(colVerz, row, source);
        w->SetActionField(colNach, row, target);
        w->SetActionField(colTime, row, QStringLiteral("02:00:00"));
        w->SetActionField(colCount, row, QStringLiteral("3"));
        w->SetActionField(colActionNumber, row, QString::number(row));
        w->SetActionField(colFilter, row, filter);
        w->SetActionField(colP, row, password);
        return row;
    }
    // "Backup" on a row, as the user clicks it.
    void RunRow(int row) {
        Grid(*w)->SetFocusCell(0, row);
        Find<QAction>(*w, "backupSelected")->setEnabled(true);
        Find<QAction>(*w, "backupSelected")->trigger();
    }
    void RunAll() {
        Find<QAction>(*w, "backupSelected")->setEnabled(true);
        Find<QAction>(*w, "backupAll")->setEnabled(true);
        Find<QAction>(*w, "backupAll")->trigger();
    }
    QStringList Stats(int row) const {
        return {Grid(*w)->Cell(colLast, row), Grid(*w)->Cell(colDateien, row),
                Grid(*w)->Cell(colBytes, row), Grid(*w)->Cell(colArc, row),
                Grid(*w)->Cell(colDauer, row)};
    }
    QString Target() const { return dst.Path(QStringLiteral("Daten.Zip")); }
    // The log's last line of a run from the source to Target() that ended `how`.
    QString ClosingLine(const QString& how) const {
        return QStringLiteral("Backup von ") + src.Path() + QStringLiteral(" nach ") + Target() +
               u' ' + how + QStringLiteral(", 07.12.2026 02:00:01");
    }
    // Two rows over five files with an old archive in the first row's place; returns that row.
    int LayTwoRows() {
        for (int i = 0; i < 5; ++i)
            src.Write(QStringLiteral("f%1.txt").arg(i), PackableText(300));
        dst.Write(QStringLiteral("Daten.Zip"), "letzte gute Sicherung");
        const int row = AddRow(src.Path(), Target());
        AddRow(src.Path(), dst.Path(QStringLiteral("Zwei.Zip")));
        return row;
    }
    // The two rows run; while the first row adds its second file, `answer` is queued and
    // `interrupt` called. Returns that row.
    int RunTwoRowsInterruptedBy(int answer, std::function<void()> interrupt) {
        const int row = LayTwoRows();
        w->show();
        // The component keeps copies of the hook, so the count lives outside it.
        auto reads = std::make_shared<int>(0);
        w->Zip().ReadFault = [answer, interrupt, reads](const QString&, qint64) {
            if (++*reads == 2) {
                Dialogs::SetNextAnswer(answer);
                interrupt();
            }
            return false;
        };
        RunAll();
        return row;
    }

    TestFolder prog, config, src, dst;
    std::unique_ptr<Tmain> w;
    QString savedCwd;
};

TEST_F(BackupRun, CompletedRunWritesArchiveStatisticsAndLines) {
    WriteSampleTree(src);
    w->LogLine(QStringLiteral("alt"));
    const int row = AddRow(src.Path(), Target());
    RunRow(row);

    EXPECT_EQ(ArchiveNames(Target()).size(), 5);
    const qint64 arc = QFileInfo(Target()).size();
    const QStringList log = w->LogLines();
    ASSERT_EQ(log.size(), 5) << log.join(u'\n').toStdString();
    EXPECT_EQ(log[1], QString());
    EXPECT_EQ(log[2], QStringLiteral("Beginne Backup von ") + src.Path() +
                          QStringLiteral(" nach ") + Target() +
                          QStringLiteral(", 07.12.2026 02:00:01, Manuell, einzeln"));
    EXPECT_EQ(log[3], QStringLiteral("  - 5 Dateien  von 5 mit 3.006 Byte komprimiert zu ") +
                          FormatInt64(0, arc) + QStringLiteral(" Byte"));
    EXPECT_EQ(log[4], ClosingLine(QStringLiteral("abgeschlossen")));
    EXPECT_EQ(Stats(row), (QStringList{QStringLiteral("07.12.2026 02:00:01"), QStringLiteral("5"),
                                       QStringLiteral("3.006"), FormatInt64(0, arc),
                                       QStringLiteral("00:00:00")}));
    EXPECT_EQ(Find<QLabel>(*w, "Status")->text(), QStringLiteral("Bereit"));
    EXPECT_EQ(w->State().ProgressScale, 4);
    EXPECT_EQ(Find<QProgressBar>(*w, "pb")->maximum(), 751);
    EXPECT_EQ(Find<QProgressBar>(*w, "pb")->value(), 0);
    EXPECT_FALSE(w->State().Busy);
    EXPECT_TRUE(Find<QPushButton>(*w, "btnAbort")->isHidden());
    EXPECT_TRUE(Find<QTimer>(*w, "Timer2")->isActive());
    EXPECT_FALSE(Priority::IsIdle());
    // The history was saved with the run.
    EXPECT_TRUE(prog.Read(QStringLiteral("Zorvane.hist")).contains("abgeschlossen"));
}

TEST_F(BackupRun, RelativeFoldersAreTakenFromTheFolderTheProgramStartedIn) {
    src.Write(QStringLiteral("sub/a.txt"), PackableText(100));
    ASSERT_TRUE(QDir::setCurrent(src.Path()));
    NewWindow();
    ASSERT_TRUE(QDir::setCurrent(dst.Path()));
    const int row = AddRow(QStringLiteral("sub"), QStringLiteral("rel.Zip"));
    RunRow(row);
    EXPECT_EQ(Grid(*w)->Cell(colDateien, row), QStringLiteral("1"));
    EXPECT_EQ(ArchiveNames(src.Path(QStringLiteral("rel.Zip"))), QStringList{"a.txt"});
    EXPECT_EQ(QDir::currentPath(), dst.Path());
}

TEST_F(BackupRun, EnglishTexts) {
    Find<QComboBox>(*w, "cbLang")->setCurrentIndex(1);
    src.Write(QStringLiteral("a.txt"), PackableText(2000));
    src.Write(QStringLiteral("b/c.txt"), PackableText(20, 'x'));
    const int row = AddRow(src.Path() + u'/', Target(), QString(), QStringLiteral("pw äö"));
    RunRow(row);
    const QStringList log = w->LogLines();
    ASSERT_EQ(log.size(), 3) << log.join(u'\n').toStdString();
    EXPECT_EQ(log[0], QStringLiteral("Start Backup of ") + src.Path() + QStringLiteral("/ to ") +
                          Target() + QStringLiteral(", 07.12.2026 02:00:01, Manually, single"));
    EXPECT_TRUE(
        log[1].startsWith(QStringLiteral("  - 2 Files  of 2 with 2.020 Byte compressed to ")));
    EXPECT_TRUE(log[2].startsWith(QStringLiteral("Backup of ")));
    EXPECT_EQ(Find<QLabel>(*w, "Status")->text(), QStringLiteral("Ready"));
}

TEST_F(BackupRun, AbortKeepsOldArchiveAndStopsGesamtBackup) {
    const int row1 = LayTwoRows(), row2 = row1 + 1;
    bool commandsOffDuringRun = false;
    int reads = 0;
    // The user clicks "Abbrechen" while the third file is being added.
    w->Zip().ReadFault = [&](const QString&, qint64) {
        if (++reads == 3) {
            // A click on a row and both commands, while messages are processed, start nothing.
            w->sgClick(Grid(*w));
            w->backupSelectedExecute(Tmain::RunKind::Selected);
            w->backupAllExecute();
            commandsOffDuringRun = !Find<QAction>(*w, "backupSelected")->isEnabled() &&
                                   !Find<QAction>(*w, "backupAll")->isEnabled() &&
                                   !Find<QToolButton>(*w, "btnRestore")->isEnabled() &&
                                   !Find<QPushButton>(*w, "btnAbort")->isHidden();
            Find<QPushButton>(*w, "btnAbort")->click();
        }
        return false;
    };
    Find<QToolButton>(*w, "btnRestore")->setEnabled(true);
    RunAll();
    EXPECT_TRUE(commandsOffDuringRun);
    ExpectOnlyFile(dst, QStringLiteral("Daten.Zip"), QByteArray("letzte gute Sicherung"));
    const QStringList log = w->LogLines();
    EXPECT_EQ(log.filter(QStringLiteral("Beginne Backup von")).size(), 1);
    EXPECT_EQ(log.filter(QStringLiteral(", Manuell, alle")).size(), 1);
    EXPECT_EQ(log.filter(QStringLiteral("  - Aktion durch Benutzer abgebrochen")).size(), 1);
    EXPECT_EQ(log.last(), ClosingLine(QStringLiteral("abgebrochen")));
    EXPECT_EQ(Find<QLabel>(*w, "Status")->text(),
              QStringLiteral("Aktion durch Benutzer abgebrochen"));
    EXPECT_EQ(Stats(row1), QStringList(5, QString()));
    EXPECT_EQ(Stats(row2), QStringList(5, QString()));
    EXPECT_FALSE(w->State().Busy);
    // The commands come back as they were.
    EXPECT_TRUE(Find<QAction>(*w, "backupSelected")->isEnabled());
    EXPECT_TRUE(Find<QAction>(*w, "backupAll")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(*w, "btnRestore")->isEnabled());
}

TEST_F(BackupRun, AClickOnAbbrechenWaitingAmongTheWindowMessagesStopsTheRun) {
    for (int i = 0; i < 40; ++i)
        src.Write(QStringLiteral("f%1.txt").arg(i), PackableText(3000));
    dst.Write(QStringLiteral("Daten.Zip"), "letzte gute Sicherung");
    const int row = AddRow(src.Path(), Target());
    // Delivered when the run first processes messages, as the user's click would be.
    QTimer::singleShot(0, Find<QPushButton>(*w, "btnAbort"),
                       [this] { Find<QPushButton>(*w, "btnAbort")->click(); });
    RunRow(row);
    EXPECT_EQ(w->LogLines().last(), ClosingLine(QStringLiteral("abgebrochen")));
    ExpectOnlyFile(dst, QStringLiteral("Daten.Zip"), QByteArray("letzte gute Sicherung"));
}

TEST_F(BackupRun, GesamtBackupRunsEveryRowInGridOrder) {
    src.Write(QStringLiteral("a.txt"), "a");
    AddRow(src.Path(), dst.Path(QStringLiteral("Eins.Zip")));
    AddRow(src.Path(), dst.Path(QStringLiteral("Zwei.Zip")));
    w->SetActionField(colCount, 2, QStringLiteral("0"));
    w->btnAbortClick(); // an abort left over from earlier
    // A click on "Abbrechen" that arrives with the summary line, after the archive is in place,
    // does not turn the completed run into an aborted one.
    bool abortHidden = false;
    QObject::connect(Find<QPlainTextEdit>(*w, "Memo1"), &QPlainTextEdit::textChanged, w.get(), [&] {
        if (w->LogLines().last().contains(QStringLiteral("komprimiert zu")) &&
            Grid(*w)->Row() == 1) {
            abortHidden = Find<QPushButton>(*w, "btnAbort")->isHidden();
            w->btnAbortClick();
        }
    });
    RunAll();
    EXPECT_TRUE(abortHidden);
    EXPECT_EQ(dst.Files(), (QStringList{QStringLiteral("Eins.Zip"), QStringLiteral("Zwei.Zip")}));
    EXPECT_EQ(w->LogLines().filter(QStringLiteral("abgeschlossen")).size(), 2);
    EXPECT_FALSE(Grid(*w)->Cell(colLast, 1).isEmpty());
}

TEST_F(BackupRun, FailuresGiveTheirLineAndWriteNoStatistics) {
    dst.Write(QStringLiteral("Daten.Zip"), "alt");
    src.Write(QStringLiteral("a.txt"), "a");
    // An unknown filter kind fails before any file is touched.
    int row = AddRow(src.Path(), Target(), QStringLiteral("nur:*.txt"));
    Find<QLabel>(*w, "Status")->setText(QStringLiteral("vorher"));
    RunRow(row);
    EXPECT_EQ(w->LogLines().last(), QStringLiteral("!!! BO, Backup: nach ") + Target() +
                                        QStringLiteral(" :Filter nur:*.txt unbekannte Filterart"));
    EXPECT_EQ(Stats(row), QStringList(5, QString()));
    EXPECT_EQ(Find<QLabel>(*w, "Status")->text(), QStringLiteral("vorher"));
    EXPECT_FALSE(Priority::IsIdle());
    EXPECT_FALSE(w->State().Busy);

    // Not one file readable: the component's lines, the file in the failed line.
    w->SetActionField(colFilter, row, QString());
    w->Zip().ReadFault = [](const QString&, qint64) { return true; };
    RunRow(row);
    const QStringList log = w->LogLines();
    EXPECT_EQ(log.filter(QStringLiteral("Lesefehler in ")).size(), 1);
    EXPECT_EQ(log.filter(QStringLiteral("  - Fehler beim hinzufügen von ")).size(), 1);
    EXPECT_TRUE(log.last().startsWith(QStringLiteral("!!! BO, Backup:") +
                                      src.Path(QStringLiteral("a.txt")) + QStringLiteral(" nach ")))
        << log.last().toStdString();
    EXPECT_EQ(Stats(row), QStringList(5, QString()));
    EXPECT_EQ(dst.Read(QStringLiteral("Daten.Zip")), QByteArray("alt"));
}

TEST_F(BackupRun, SettingsReloadDuringARunWaitsForItsEnd) {
    src.Write(QStringLiteral("a.txt"), "a");
    const int row = AddRow(src.Path(), dst.Path(QStringLiteral("Eins.Zip")));
    w->saveIniExecute(Find<QAction>(*w, "saveIni"));
    // The grid differs from the file, as after a sort, until the reload.
    w->SetActionField(colNach, row, dst.Path(QStringLiteral("Zwei.Zip")));
    QString targetDuringRun;
    bool allOffDuringRun = false;
    w->Zip().ReadFault = [&](const QString&, qint64) {
        w->loadIniExecute(Find<QAction>(*w, "loadIni"));
        targetDuringRun = Grid(*w)->Cell(colNach, row);
        allOffDuringRun = !Find<QAction>(*w, "backupAll")->isEnabled();
        return false;
    };
    RunRow(row);
    EXPECT_EQ(targetDuringRun, dst.Path(QStringLiteral("Zwei.Zip")));
    EXPECT_TRUE(allOffDuringRun);
    EXPECT_EQ(dst.Files(), QStringList{QStringLiteral("Zwei.Zip")});
    // The reload came after the run.
    EXPECT_EQ(Grid(*w)->Cell(colNach, row), dst.Path(QStringLiteral("Eins.Zip")));
    EXPECT_FALSE(w->State().ReloadPending);
    EXPECT_TRUE(Find<QAction>(*w, "backupAll")->isEnabled());
}

TEST_F(BackupRun, EmptyFolderCompletesWithZeroAndKeepsTheArchive) {
    dst.Write(QStringLiteral("Daten.Zip"), "alt");
    src.MakeDir(QStringLiteral("leer"));
    const int row = AddRow(src.Path(QStringLiteral("leer")), Target());
    w->SetActionField(colDateien, row, QStringLiteral("99"));
    RunRow(row);
    EXPECT_EQ(Stats(row).mid(1, 3),
              (QStringList{QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")}));
    ExpectOnlyFile(dst, QStringLiteral("Daten.Zip"), QByteArray("alt"));
    const QStringList log = w->LogLines();
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[1], QStringLiteral("  - Keine Datei gefunden in ") +
                          src.Path(QStringLiteral("leer/, ")) + Target() +
                          QStringLiteral(" bleibt unverändert"));
    EXPECT_TRUE(log[2].contains(QStringLiteral("abgeschlossen")));
}

TEST_F(BackupRun, AConfirmedExitDuringARunAbortsItAndLeavesTheSchedulerOff) {
    // "Beenden" in the tray menu while the second file is added, answered Yes.
    const int row = RunTwoRowsInterruptedBy(Dialogs::Yes,
                                            [&] { Find<QAction>(*w, "ZorvaneClose")->trigger(); });
    EXPECT_TRUE(w->State().ExitConfirmed);
    EXPECT_FALSE(Find<QTimer>(*w, "Timer2")->isActive());
    ExpectOnlyFile(dst, QStringLiteral("Daten.Zip"), QByteArray("letzte gute Sicherung"));
    EXPECT_EQ(Stats(row), QStringList(5, QString()));
    const QStringList log = w->LogLines();
    EXPECT_EQ(log.filter(QStringLiteral("Beginne Backup von")).size(), 1);
    EXPECT_EQ(log.last(), ClosingLine(QStringLiteral("abgebrochen")));
    // The run's last lines reach the history.
    EXPECT_TRUE(prog.Read(QStringLiteral("Zorvane.hist")).contains("abgebrochen"));
    // A show from the tray during the close does not start the scheduler either.
    w->FormShow();
    EXPECT_FALSE(Find<QTimer>(*w, "Timer2")->isActive());
}

TEST_F(BackupRun, AnExitAfterARowsArchiveIsInPlaceRunsNoFurtherRow) {
    src.Write(QStringLiteral("a.txt"), PackableText(300));
    const int row = AddRow(src.Path(), Target());
    AddRow(src.Path(), dst.Path(QStringLiteral("Zwei.Zip")));
    w->show();
    // "Beenden" answered Yes while the first row's closing line pumps messages: its archive
    // is in place, so there is nothing left to abort.
    bool asked = false;
    QObject::connect(Find<QPlainTextEdit>(*w, "Memo1"), &QPlainTextEdit::textChanged, w.get(), [&] {
        if (asked || !w->LogLines().last().contains(QStringLiteral("komprimiert zu"))) return;
        asked = true;
        Dialogs::SetNextAnswer(Dialogs::Yes);
        Find<QAction>(*w, "ZorvaneClose")->trigger();
    });
    RunAll();
    EXPECT_TRUE(asked);
    EXPECT_EQ(dst.Files(), QStringList{QStringLiteral("Daten.Zip")});
    EXPECT_EQ(Stats(row)[1], QStringLiteral("1"));
    EXPECT_EQ(w->LogLines().filter(QStringLiteral("Beginne Backup von")).size(), 1);
}

TEST_F(BackupRun, AHandOverDuringARunStartsTheUpdaterOnlyOnceTheRunHasStopped) {
    TestRegistry registry{config.Path(QStringLiteral("reg"))};
    prog.Write(QStringLiteral("KelvoIUpdate"), "x");
    prog.Write(QStringLiteral("iup.ini"), "[iups]\r\n");
    NewWindow();
    QStringList filesAtStart;
    int linesAtStart = -1;
    Shell::SetStartHandler([&](const QString&, const QStringList&, const QString&) {
        filesAtStart = dst.Files();
        linesAtStart = w->LogLineCount();
        return true;
    });
    const int row =
        RunTwoRowsInterruptedBy(Dialogs::Ok, [&] { Find<QToolButton>(*w, "btnIupdate")->click(); });
    for (int i = 0; i < 200 && !w->Closing(); ++i)
        QTest::qWait(10);
    ASSERT_TRUE(w->Closing());
    Shell::SetStartHandler(nullptr);
    // Started after the run had put the old archive back in its place and said so.
    EXPECT_EQ(filesAtStart, QStringList{QStringLiteral("Daten.Zip")});
    const QStringList log = w->LogLines();
    ASSERT_GT(linesAtStart, 0);
    EXPECT_EQ(log[linesAtStart - 1], ClosingLine(QStringLiteral("abgebrochen")));
    EXPECT_TRUE(log.last().startsWith(QStringLiteral("  - Zorvane wird beendet")));
    EXPECT_EQ(log.filter(QStringLiteral("Beginne Backup von")).size(), 1);
    EXPECT_EQ(dst.Read(QStringLiteral("Daten.Zip")), QByteArray("letzte gute Sicherung"));
    EXPECT_EQ(Stats(row), QStringList(5, QString()));
    EXPECT_FALSE(Find<QTimer>(*w, "Timer2")->isActive());
}

TEST_F(BackupRun, ProgressScaleAndEmptyFiles) {
    src.Write(QStringLiteral("leer1"), QByteArray());
    src.Write(QStringLiteral("leer2"), QByteArray());
    const int row = AddRow(src.Path(), Target());
    RunRow(row);
    EXPECT_EQ(w->State().ProgressScale, 1);
    EXPECT_EQ(Find<QProgressBar>(*w, "pb")->maximum(), 0);
    EXPECT_EQ(Stats(row)[1], QStringLiteral("2"));

    // The bar follows the bytes across files and stands at its maximum after the last.
    src.Write(QStringLiteral("k.txt"), PackableText(2500000));
    src.Write(QStringLiteral("m.txt"), PackableText(2500000, 'm'));
    int top = 0;
    w->Zip().ReadFault = [&](const QString&, qint64) {
        top = qMax(top, Find<QProgressBar>(*w, "pb")->value());
        return false;
    };
    const auto c =
        QObject::connect(Find<QProgressBar>(*w, "pb"), &QProgressBar::valueChanged,
                         Find<QProgressBar>(*w, "pb"), [&](int v) { top = qMax(top, v); });
    RunRow(row);
    QObject::disconnect(c);
    EXPECT_EQ(w->State().ProgressScale, 5000);
    EXPECT_EQ(Find<QProgressBar>(*w, "pb")->maximum(), 1000);
    EXPECT_EQ(top, 1000);
}

TEST_F(BackupRun, DurationWrapsAtADay) {
    src.Write(QStringLiteral("a.txt"), "a");
    const int row = AddRow(src.Path(), Target());
    w->Zip().ReadFault = [](const QString&, qint64) {
        Clock::Advance(qint64(25) * 3600 * 1000 + 61000);
        return false;
    };
    RunRow(row);
    EXPECT_EQ(Stats(row)[4], QStringLiteral("01:01:01"));
    EXPECT_EQ(Stats(row)[0], QStringLiteral("08.12.2026 03:01:02"));
}

TEST_F(BackupRun, ScheduledRunLeavesBusySet) {
    src.Write(QStringLiteral("a.txt"), "a");
    const int row = AddRow(src.Path(), Target());
    Grid(*w)->SetFocusCell(0, row);
    w->backupSelectedExecute(Tmain::RunKind::Scheduled);
    EXPECT_TRUE(w->State().Busy);
    EXPECT_TRUE(w->LogLines()[0].endsWith(QStringLiteral(", Automatisch")));
    EXPECT_TRUE(QFile::exists(Target()));
}

TEST_F(BackupRun, AFailureEscapingARunLeavesTheWindowIdleForTheNextRun) {
    // Nothing of ours throws past the run's own handling, so a foreign type stands for it.
    struct Escaped {};
    const struct {
        const char* how;
        std::function<void()> start;
    } cases[] = {
        {"Backup", [this] { w->backupSelectedExecute(Tmain::RunKind::Selected); }},
        {"Gesamt Backup", [this] { w->backupAllExecute(); }},
        {"scheduler tick", [this] { w->Timer2Timer(); }},
    };
    src.Write(QStringLiteral("a.txt"), "a");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        NewWindow();
        const int row = AddRow(src.Path(), Target());
        Grid(*w)->SetFocusCell(0, row);
        Find<QCheckBox>(*w, "cbSperr")->setChecked(false); // due now for the tick
        w->Zip().ReadFault = [](const QString&, qint64) -> bool { throw Escaped{}; };
        EXPECT_THROW(c.start(), Escaped);
        EXPECT_EQ(w->State().Doing, Tmain::Activity::Idle);
        EXPECT_TRUE(Find<QPushButton>(*w, "btnAbort")->isHidden());
        EXPECT_TRUE(Find<QTimer>(*w, "Timer2")->isActive());

        w->Zip().ReadFault = nullptr;
        RunRow(row);
        EXPECT_FALSE(Stats(row)[0].isEmpty());
        EXPECT_TRUE(QFile::exists(Target()));
        QFile::remove(Target());
    }
}

TEST_F(BackupRun, ComponentEventsReachStatusBarAndLog) {
    TZMProgressDetails d;
    d.Kind = TZMProgressKind::NewItem;
    d.ItemName = QStringLiteral("/daten/a.txt");
    d.TotalSize = 1536;
    w->zipProgress(d);
    EXPECT_EQ(Find<QLabel>(*w, "Status")->text(), QStringLiteral("/daten/a.txt [1 Kb]"));
    d.TotalSize = 1023;
    w->zipProgress(d);
    EXPECT_EQ(Find<QLabel>(*w, "Status")->text(), QStringLiteral("/daten/a.txt [0 Kb]"));

    using K = TZMMessageKind;
    const std::pair<K, const char*> messages[] = {{K::Item, "  adding: a.txt"},
                                                  {K::Summary, "Unzipped 3 files"},
                                                  {K::Problem, " adding: b.txt"},
                                                  {K::Problem, "unzipped x"},
                                                  {K::Problem, "xx adding"}};
    for (const auto& [kind, m] : messages)
        w->zipMessage(kind, QString::fromLatin1(m));
    EXPECT_EQ(w->LogLines(),
              (QStringList{QStringLiteral(" adding: b.txt"), QStringLiteral("unzipped x"),
                           QStringLiteral("xx adding")}));
}

} // namespace
