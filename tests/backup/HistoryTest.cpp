#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

#include "Clock.h"
#include "FileEvents.h"
#include "IniFile.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "TestFolder.h"
#include "WindowFixture.h"
#include "ZorvaneMain.h"

namespace {

const QString FailureLine = QStringLiteral("Kann History nicht speichern");

class History : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(prog.IsValid() && config.IsValid() && data.IsValid());
        qputenv("XDG_CONFIG_HOME", config.Path().toUtf8());
        qputenv("XDG_DATA_HOME", data.Path().toUtf8());
        Clock::SetFixed(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0)));
    }
    void TearDown() override {
        w.reset();
        ShellFolders::SetProgramFolder(QString());
        Clock::UseSystem();
        qputenv("XDG_DATA_HOME", dataHome);
        if (!protectedFolder.isEmpty())
            QFile::setPermissions(protectedFolder,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void Start(const QString& programFolder) {
        ShellFolders::SetProgramFolder(programFolder);
        w = std::make_unique<Tmain>(QStringList{});
    }
    void Start() { Start(prog.Path()); }

    void SetLog(int lines) {
        Find<QPlainTextEdit>(*w, "Memo1")->clear();
        for (int i = 1; i <= lines; ++i)
            w->LogLine(QStringLiteral("Zeile %1").arg(i));
    }
    static QByteArray Lines(int from, int to) {
        QByteArray b;
        for (int i = from; i <= to; ++i)
            b += "Zeile " + QByteArray::number(i) + "\r\n";
        return b;
    }
    QByteArray HistoryBytes() const { return prog.Read(QStringLiteral("Zorvane.hist")); }
    QString SettingsPath() const { return config.Path(QStringLiteral("Zorvane2.ini")); }

    // One action row with its number and the five statistics columns.
    void AddRow(const QString& number, const QString& tag) {
        const int row = Grid(*w)->RowCount();
        w->SetGridRowCount(row + 1);
        w->SetActionField(colVerz, row, QStringLiteral("/src/") + tag);
        w->SetActionField(colActionNumber, row, number);
        w->SetActionField(colLast, row, QStringLiteral("08.12.2026 09:00:0") + tag);
        w->SetActionField(colDateien, row, QStringLiteral("1.23") + tag);
        w->SetActionField(colBytes, row, QStringLiteral("45.67") + tag);
        w->SetActionField(colArc, row, QStringLiteral("8.90") + tag);
        w->SetActionField(colDauer, row, QStringLiteral("00:00:1") + tag);
    }
    void ClearRows() { w->SetGridRowCount(1); }
    QStringList Stats(int k) const {
        IniFile ini(SettingsPath());
        QStringList out;
        for (const char* key : {"Last", "Dateien", "Bytes", "Arc", "Dauer"})
            out << ini.ReadString(QStringLiteral("Actions"),
                                  QString::fromLatin1(key) + QString::number(k),
                                  QStringLiteral("<none>"));
        return out;
    }
    static QStringList Expected(const QString& tag) {
        return {QStringLiteral("08.12.2026 09:00:0") + tag, QStringLiteral("1.23") + tag,
                QStringLiteral("45.67") + tag, QStringLiteral("8.90") + tag,
                QStringLiteral("00:00:1") + tag};
    }

    TestFolder prog;
    TestFolder config;
    TestFolder data; // the user's data folder
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    QString protectedFolder;
    std::unique_ptr<Tmain> w;
};

} // namespace

TEST_F(History, StartUpWritesTheStartLine) {
    Start();
    const QByteArray bytes = HistoryBytes();
    EXPECT_TRUE(bytes.contains("  - Zorvane gestartet 08.12.2026 10:00:00\r\n")) << bytes.data();
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    // A program folder that can be written keeps the file beside the program only.
    EXPECT_FALSE(data.Exists(QStringLiteral("Zorvane2")));
}

TEST_F(History, KeepsTheNewestHundredLinesInMemoAndFile) {
    Start();
    SetLog(100);
    w->SaveHistory();
    EXPECT_EQ(w->LogLineCount(), 100);
    EXPECT_EQ(HistoryBytes(), Lines(1, 100));

    SetLog(101);
    w->SaveHistory();
    EXPECT_EQ(w->LogLines().first(), "Zeile 2");
    EXPECT_EQ(w->LogLineCount(), 100);
    EXPECT_EQ(HistoryBytes(), Lines(2, 101));

    // Lines added on top of a saved log.
    for (int i = 102; i <= 351; ++i)
        w->LogLine(QStringLiteral("Zeile %1").arg(i));
    w->SaveHistory();
    EXPECT_EQ(w->LogLineCount(), 100);
    EXPECT_EQ(w->LogLines().first(), "Zeile 252");
    EXPECT_EQ(w->LogLines().last(), "Zeile 351");
    EXPECT_EQ(HistoryBytes(), Lines(252, 351));
    // The read-only log keeps no undo record of its lines, or a long-running program grows.
    EXPECT_EQ(Find<QPlainTextEdit>(*w, "Memo1")->document()->availableUndoSteps(), 0);
    // The end of the log is in view: caret on the last line, nothing selected.
    const QTextCursor caret = Find<QPlainTextEdit>(*w, "Memo1")->textCursor();
    EXPECT_EQ(caret.blockNumber(), Find<QPlainTextEdit>(*w, "Memo1")->document()->blockCount() - 1);
    EXPECT_FALSE(caret.hasSelection());
}

TEST_F(History, EmptyLogGivesAnEmptyFileAndTextIsUtf8WithCrLf) {
    Start();
    Find<QPlainTextEdit>(*w, "Memo1")->clear();
    w->SaveHistory();
    EXPECT_TRUE(prog.Exists(QStringLiteral("Zorvane.hist")));
    EXPECT_EQ(HistoryBytes(), QByteArray());

    w->LogLine(QStringLiteral("Größe: 12 Dateien"));
    w->LogLine(QString());
    w->LogLine(QStringLiteral("  - Bereit"));
    w->SaveHistory();
    EXPECT_EQ(HistoryBytes(), QByteArray("Gr\xc3\xb6\xc3\x9f"
                                         "e: 12 Dateien\r\n\r\n  - Bereit\r\n"));
    // Nothing is left beside the file.
    EXPECT_EQ(prog.Files(), QStringList{QStringLiteral("Zorvane.hist")});
}

TEST_F(History, UnwritableHistoryAddsTheFailureLineEachTimeAndWritesNoStatistics) {
    Start();
    AddRow(QStringLiteral("1"), QStringLiteral("1"));
    w->SaveHistory();
    ASSERT_EQ(Stats(1), Expected(QStringLiteral("1")));

    // A folder where the file should be: no user, root included, can replace it.
    QFile::remove(prog.Path(QStringLiteral("Zorvane.hist")));
    prog.MakeDir(QStringLiteral("Zorvane.hist"));
    ClearRows();
    AddRow(QStringLiteral("1"), QStringLiteral("2"));
    SetLog(100);
    const QString status = Find<QLabel>(*w, "Status")->text();

    w->SaveHistory();
    QStringList lines = w->LogLines();
    EXPECT_EQ(lines.size(), 101); // the failure line comes after the trimming
    EXPECT_EQ(lines.last(), FailureLine);
    w->SaveHistory();
    lines = w->LogLines();
    EXPECT_EQ(lines.size(), 101);
    EXPECT_EQ(lines.count(FailureLine), 2);
    EXPECT_EQ(lines.first(), "Zeile 2");
    EXPECT_EQ(Find<QLabel>(*w, "Status")->text(), status);
    EXPECT_EQ(Stats(1), Expected(QStringLiteral("1")));
}

// An installed program cannot write its own folder: the history goes to the user's data folder
// and is read back from there at the next start.
TEST_F(History, AProgramFolderThatCannotBeWrittenKeepsTheHistoryInTheUsersDataFolder) {
    prog.Write(QStringLiteral("plain"), "x");
    QStringList folders{prog.Path(QStringLiteral("plain/sub"))};
    if (::geteuid() != 0) { // permissions do not stop root
        protectedFolder = prog.MakeDir(QStringLiteral("installed"));
        ASSERT_TRUE(QFile::setPermissions(protectedFolder, QFile::ReadOwner | QFile::ExeOwner));
        folders << protectedFolder;
    }
    const QString kept = QStringLiteral("Zorvane2/Zorvane.hist");
    for (const QString& folder : folders) {
        QFile::remove(data.Path(kept));
        Start(folder);
        EXPECT_EQ(w->LogLines().count(FailureLine), 0) << folder.toStdString();
        EXPECT_TRUE(data.Read(kept).startsWith("  - Zorvane gestartet 08.12.2026 10:00:00\r\n"));
        w.reset();
        Clock::SetFixed(QDateTime(QDate(2026, 12, 8), QTime(11, 0, 0)));
        Start(folder);
        EXPECT_EQ(w->LogLines().size(), 2);
        EXPECT_EQ(w->LogLines().first(), "  - Zorvane gestartet 08.12.2026 10:00:00");
        w.reset();
        Clock::SetFixed(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0)));
    }
    EXPECT_FALSE(prog.Exists(QStringLiteral("Zorvane.hist")));
}

TEST_F(History, NoFolderThatCanHoldTheFileFailsFromStartUp) {
    prog.Write(QStringLiteral("plain"), "x");
    qputenv("XDG_DATA_HOME", prog.Path(QStringLiteral("plain/data")).toUtf8());
    Start(prog.Path(QStringLiteral("plain/sub")));
    EXPECT_EQ(w->LogLines().last(), FailureLine);
    w->SaveHistory();
    EXPECT_EQ(w->LogLines().count(FailureLine), 2);
}

TEST_F(History, StatisticsGoUnderTheActionNumberInOneCommit) {
    Start();
    ClearRows();
    // Display order after a sort: row 1 holds action 3.
    AddRow(QStringLiteral("3"), QStringLiteral("a"));
    AddRow(QString(), QStringLiteral("b")); // new, never saved
    AddRow(QStringLiteral("1"), QStringLiteral("d"));
    Find<QPlainTextEdit>(*w, "Memo1")->clear();
    ReplacementCounter commits(SettingsPath());
    w->SaveHistory();
    EXPECT_EQ(commits.Take(), 1);
    EXPECT_EQ(Stats(3), Expected(QStringLiteral("a")));
    EXPECT_EQ(Stats(1), Expected(QStringLiteral("d")));
    EXPECT_EQ(Stats(2), QStringList(5, QStringLiteral("<none>")));
    EXPECT_EQ(w->LogLineCount(), 0);
}

TEST_F(History, AWindows1252HistoryIsShownAndSavedAsUtf8) {
    prog.Write(QStringLiteral("Zorvane.hist"), "  - Gr\xF6\xDF"
                                               "e 12 \x80\r\n");
    Start();
    EXPECT_EQ(w->LogLines().first(), QStringLiteral("  - Größe 12 €"));
    EXPECT_TRUE(HistoryBytes().startsWith("  - Gr\xC3\xB6\xC3\x9F"
                                          "e 12 \xE2\x82\xAC\r\n"));
}

// A huge line is cut where it is read, with a mark, so it costs little at this start and is
// saved cut; its neighbours stay whole.
TEST_F(History, AHugeLineIsCutWithAMarkWhenItIsRead) {
    const QByteArray huge(3 * 1024 * 1024, 'x');
    prog.Write(QStringLiteral("Zorvane.hist"), "vorher\r\n" + huge + "\r\nnachher\r\n");
    Start();
    const QStringList lines = w->LogLines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "vorher");
    EXPECT_EQ(lines[1].size(), 64 * 1024);
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("x [... gekürzt]")));
    EXPECT_EQ(lines[2], "nachher");
    const QByteArray saved = HistoryBytes();
    EXPECT_LT(saved.size(), 70 * 1024);
    EXPECT_TRUE(saved.startsWith("vorher\r\nxxx"));
    EXPECT_TRUE(saved.contains(" [... gek\xC3\xBCrzt]\r\nnachher\r\n"));
}

TEST_F(History, UnwritableSettingsFileIsSilent) {
    Start();
    QFile::remove(SettingsPath());
    config.MakeDir(QStringLiteral("Zorvane2.ini"));
    ClearRows();
    AddRow(QStringLiteral("1"), QStringLiteral("1"));
    AddRow(QStringLiteral("2"), QStringLiteral("2"));
    SetLog(3);
    w->SaveHistory();
    EXPECT_EQ(w->LogLines().count(FailureLine), 0);
    EXPECT_EQ(HistoryBytes(), Lines(1, 3));
}

TEST_F(History, SettingsFileThatCannotBeReadIsNotRewrittenWithStatistics) {
    // A settings file that turned unreadable after the start: writing the statistics keys
    // through it would replace every action with just those keys.
    Start();
    ClearRows();
    AddRow(QStringLiteral("1"), QStringLiteral("1"));
    QFile::remove(SettingsPath());
    ASSERT_EQ(::symlink("Zorvane2.ini", QFile::encodeName(SettingsPath()).constData()), 0);
    SetLog(2);
    w->SaveHistory();
    EXPECT_EQ(HistoryBytes(), Lines(1, 2));
    EXPECT_EQ(QFileInfo(SettingsPath()).symLinkTarget(), SettingsPath());
}

TEST_F(History, AHistoryFileThatCannotBeReadIsSaidOnceAndKept) {
    const QString file = prog.Path(QStringLiteral("Zorvane.hist"));
    ASSERT_EQ(::symlink("Zorvane.hist", QFile::encodeName(file).constData()), 0);
    Start();
    const QStringList lines = w->LogLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("History ") + file +
                                    QStringLiteral(" kann nicht gelesen werden (")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("), sie bleibt unverändert")));
    SetLog(3);
    w->SaveHistory();
    EXPECT_EQ(w->LogLines().count(FailureLine), 0);
    EXPECT_EQ(QFileInfo(file).symLinkTarget(), file);
}

TEST_F(History, AStartStoppedByAnUnreadableSettingsFileLeavesTheHistoryAlone) {
    prog.Write(QStringLiteral("Zorvane.hist"), Lines(1, 5));
    ASSERT_EQ(::symlink("Zorvane2.ini", QFile::encodeName(SettingsPath()).constData()), 0);
    Start();
    SetLog(2);
    w->SaveHistory();
    w.reset();
    EXPECT_EQ(HistoryBytes(), Lines(1, 5));
}

TEST_F(History, FilterOKReadsTheDialogsPatterns) {
    Start();
    w->FilterList = SplitFilterPatterns(QStringLiteral("*.DOC;~*"));
    w->FilterInclude = true;
    EXPECT_TRUE(w->FilterOK(QStringLiteral("Bericht.Doc")));
    EXPECT_FALSE(w->FilterOK(QStringLiteral("Bericht.xls")));
    w->FilterInclude = false;
    EXPECT_FALSE(w->FilterOK(QStringLiteral("~$Bericht.xls")));
    EXPECT_TRUE(w->FilterOK(QStringLiteral("Bericht.xls")));
    w->FilterList.clear();
    EXPECT_TRUE(w->FilterOK(QStringLiteral("~$Bericht.xls")));
}
