#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>

#include "Archives.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "WindowFixture.h"
#include "ZipComponent.h"

// Rows are written with designated initializers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

const QColor Red(255, 0, 0);
const QColor Green(0, 128, 0);
const QColor Black(0, 0, 0);

struct Row {
    QString verz, nach, time, count = "5", last, hist = "N-N", filter;
};

class SchedulerTest : public WindowTest {
protected:
    SchedulerTest() : WindowTest(QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0))) {}
    void SetUp() override {
        WindowTest::SetUp();
        Start();
        Find<QToolButton>(*w, "btnTimer")->setChecked(true);
        Find<QCheckBox>(*w, "cbSperr")->setChecked(false);
        w->SetGridRowCount(1);
        w->SetModified(false);
        source = dir.Write("src/a.txt", "some data");
        source.chop(6);
    }

    int add(const Row& r) {
        const int i = Grid(*w)->RowCount();
        w->SetActionField(colVerz, i, r.verz.isNull() ? source : r.verz);
        w->SetActionField(colNach, i, r.nach);
        w->SetActionField(colTime, i, r.time);
        w->SetActionField(colCount, i, r.count);
        w->SetActionField(colLast, i, r.last);
        w->SetActionField(colHist, i, r.hist);
        w->SetActionField(colFilter, i, r.filter);
        return i;
    }
    QString cell(int col, int row) const { return Grid(*w)->Cell(col, row); }
    void tickAt(const QTime& t) {
        Clock::SetFixed(QDateTime(day, t));
        w->Timer2Timer();
    }
    // Generations 1.. of base "out/Daten" with their contents, "-" for a missing one.
    QStringList generations(int upTo) const {
        QStringList l;
        for (int k = 1; k <= upTo; ++k) {
            const QString rel = QStringLiteral("out/Daten%1.Zip").arg(k);
            l << (dir.Exists(rel) ? QString::fromUtf8(dir.Read(rel)) : QStringLiteral("-"));
        }
        return l;
    }

    TestFolder& dir = t;
    std::unique_ptr<Tmain>& w = m;
    QString source;
    QDate day{2026, 12, 8};
};

TEST_F(SchedulerTest, BlockingWindowKeepsEveryRowOutWhileItIsOn) {
    // A row with a missing drive shows by its report whether the tick looked at it.
    const int r = add({.verz = "C:\\Daten", .nach = "Q:\\Backup\\Daten.Zip", .time = "00:00:01"});
    struct Case {
        QTime from, to, t;
        bool blocked;
    } cases[] = {
        // The rule itself is tested as a table with the blocking window's routine; here the
        // pickers' values reach it.
        {QTime(6, 0), QTime(23, 0), QTime(6, 0, 0), false},
        {QTime(6, 0), QTime(23, 0), QTime(6, 0, 1), true},
        {QTime(22, 0), QTime(6, 0), QTime(23, 30, 0), true},
        {QTime(22, 0), QTime(6, 0), QTime(12, 0, 0), false},
    };
    Find<QCheckBox>(*w, "cbSperr")->setChecked(true);
    for (const Case& c : cases) {
        Find<QTimeEdit>(*w, "sperrVon")->setTime(c.from);
        Find<QTimeEdit>(*w, "sperrBis")->setTime(c.to);
        w->SetActionField(colLE, r, "");
        tickAt(c.t);
        const std::string what = c.t.toString().toStdString();
        EXPECT_EQ(cell(colLE, r).isEmpty(), c.blocked) << what;
        EXPECT_EQ(w->State().LightColour, c.blocked ? Red : Green) << what;
        EXPECT_EQ(Find<QLabel>(*w, "sta")->toolTip(),
                  c.blocked ? "Sperrzeit aktiv" : "Warte auf Backupzeit")
            << what;
        EXPECT_FALSE(w->State().Busy);
    }
    Find<QCheckBox>(*w, "cbSperr")->setChecked(false);
    w->SetActionField(colLE, r, "");
    tickAt(QTime(12, 0, 0));
    EXPECT_FALSE(cell(colLE, r).isEmpty());
}

TEST_F(SchedulerTest, AutomaticModeOffBlinksAndABusyProgramIsLeftAlone) {
    const int r = add({.verz = "C:\\Daten", .nach = "Q:\\Backup\\Daten.Zip", .time = "02:00:00"});
    Find<QToolButton>(*w, "btnTimer")->setChecked(false);
    QList<QColor> colours;
    for (int k = 0; k < 4; ++k) {
        tickAt(QTime(10, 0, k));
        colours << w->State().LightColour;
    }
    EXPECT_EQ(colours, QList<QColor>({Red, Black, Red, Black}));
    EXPECT_EQ(Find<QLabel>(*w, "sta")->toolTip(), w->Language().Tx(txAutomatikNichtAktiv));
    EXPECT_TRUE(cell(colLE, r).isEmpty());

    // A tick while a manual run is under way leaves every row alone.
    Find<QToolButton>(*w, "btnTimer")->setChecked(true);
    const int manual = add({.nach = dir.Path("manuell.Zip")});
    w->Zip().ReadFault = [&](const QString&, qint64) {
        tickAt(QTime(10, 0, 5));
        return false;
    };
    Grid(*w)->SetFocusCell(0, manual);
    w->backupSelectedExecute(Tmain::RunKind::Selected);
    w->Zip().ReadFault = nullptr;
    EXPECT_FALSE(cell(colLast, manual).isEmpty());
    EXPECT_TRUE(cell(colLE, r).isEmpty());
    EXPECT_FALSE(w->State().Busy);
    tickAt(QTime(10, 0, 6));
    EXPECT_FALSE(cell(colLE, r).isEmpty());
}

TEST_F(SchedulerTest, MissingDriveIsReportedOnceInElevenMinutes) {
    const int r = add({.verz = "C:\\Daten", .nach = "Q:\\Backup\\Daten.Zip", .time = "02:00:00"});
    const int lines = w->LogLineCount();
    tickAt(QTime(10, 0, 0));
    EXPECT_EQ(cell(colLE, r), "08.12.2026 10:00:00: Laufwerk Q: nicht gefunden");
    EXPECT_EQ(w->State().LastBalloonTitle, "Fehler bei Backup von C:\\Daten:");
    EXPECT_EQ(w->State().LastBalloonText, "Laufwerk Q: nicht gefunden");
    const int balloons = w->State().BalloonsShown;
    for (QTime t : {QTime(10, 0, 1), QTime(10, 5, 0), QTime(10, 10, 59)}) {
        tickAt(t);
        EXPECT_EQ(cell(colLE, r), "08.12.2026 10:00:00: Laufwerk Q: nicht gefunden");
        EXPECT_EQ(w->State().BalloonsShown, balloons);
    }
    tickAt(QTime(10, 11, 0));
    EXPECT_EQ(cell(colLE, r), "08.12.2026 10:11:00: Laufwerk Q: nicht gefunden");
    EXPECT_EQ(w->State().LastBalloonTitle, "Fehler bei Backup von C:\\Daten:");
    // No log line, and the last-error column is no settings change.
    EXPECT_EQ(w->LogLineCount(), lines);
    EXPECT_FALSE(w->State().Modified);
}

TEST_F(SchedulerTest, ARelativeTargetHasAnEmptyDriveName) {
    const int r = add({.verz = "C:\\Daten", .nach = "Daten.Zip", .time = "02:00:00"});
    Find<QComboBox>(*w, "cbLang")->setCurrentIndex(1);
    tickAt(QTime(10, 0, 0));
    EXPECT_EQ(cell(colLE, r), "08.12.2026 10:00:00: Drive  not found");
    EXPECT_EQ(w->State().LastBalloonTitle, "error during backup C:\\Daten:");
}

TEST_F(SchedulerTest, AnUnreadableRowIsLoggedOnceThenOnlyAsOftenAsTheBalloonThrottleAllows) {
    add({.verz = "C:\\Daten", .nach = "E:\\B\\D.Zip", .time = "25:00:00"});
    const int zwei =
        add({.verz = "C:\\Zwei", .nach = "E:\\B\\Z.Zip", .time = "02:00:00", .last = "gestern"});
    const int lines = w->LogLineCount();
    // Ten minutes of ticks.
    for (int s = 0; s <= 10 * 60 + 59; s += 7)
        tickAt(QTime(10, 0, 0).addSecs(s));
    EXPECT_EQ(w->LogLines().mid(lines),
              QStringList({
                  "'25:00:00' is not a valid time, von C:\\Daten, nach E:\\B\\D.Zipsoll: "
                  "25:00:00, last:  , um 08.12.2026 10:00:00",
                  "'gestern' is not a valid date and time, von C:\\Zwei, nach "
                  "E:\\B\\Z.Zipsoll: 02:00:00, last: gestern , um 08.12.2026 10:00:00",
              }));
    // Another text of a row is logged at once.
    w->SetActionField(colLast, zwei, "vorgestern");
    tickAt(QTime(10, 10, 59));
    EXPECT_EQ(w->LogLineCount(), lines + 3);
    EXPECT_TRUE(w->LogLines().last().startsWith("'vorgestern' is not"));
    // After more than ten whole minutes the first row's line comes again.
    tickAt(QTime(10, 11, 0));
    EXPECT_EQ(w->LogLineCount(), lines + 4);
    EXPECT_TRUE(w->LogLines().last().endsWith("um 08.12.2026 10:11:00"));
}

TEST_F(SchedulerTest, CountZeroIsSkippedAndAnUnreadableCountIsReportedWithoutRotating) {
    dir.Write("out/Daten.Zip", "T");
    dir.Write("out/Daten1.Zip", "1");
    const QString target = dir.Path("out/Daten.Zip");
    const int zero = add({.nach = target, .time = "02:00:00", .count = "0"});
    tickAt(QTime(10, 0, 0));
    EXPECT_EQ(dir.Read("out/Daten.Zip"), "T");
    EXPECT_EQ(generations(2), QStringList({"1", "-"}));
    EXPECT_TRUE(cell(colLE, zero).isEmpty());
    EXPECT_TRUE(cell(colLast, zero).isEmpty());

    Find<QComboBox>(*w, "cbLang")->setCurrentIndex(1); // the title stays German
    for (const QString& count : {QStringLiteral("abc"), QString()}) {
        w->SetActionField(colCount, zero, count);
        w->SetActionField(colLE, zero, "");
        tickAt(QTime(10, 0, 1));
        EXPECT_EQ(cell(colLE, zero),
                  "08.12.2026 10:00:01: '" + count + "' is not a valid integer value");
        EXPECT_EQ(w->State().LastBalloonTitle, "Fehler bei Backup von " + source + ":");
        EXPECT_EQ(w->State().LastBalloonText, "'" + count + "' is not a valid integer value");
        EXPECT_EQ(dir.Read("out/Daten.Zip"), "T");
        EXPECT_EQ(generations(2), QStringList({"1", "-"}));
        EXPECT_TRUE(cell(colLast, zero).isEmpty());
    }
}

TEST_F(SchedulerTest, CountFiveRotatesBeforeTheRunAndDropsTheSurplus) {
    for (const char* n : {"", "1", "2", "3", "4", "5", "6", "7"})
        dir.Write(QStringLiteral("out/Daten%1.Zip").arg(n), n[0] ? n : "T");
    add({.nach = dir.Path("out/Daten.Zip"), .time = "02:00:00", .count = "5"});
    // A target written in small letters is rotated under its own name.
    dir.Write("low/d.zip", "T");
    dir.Write("low/d1.Zip", "1");
    add({.nach = dir.Path("low/d.zip"), .time = "02:00:00", .count = "5"});
    tickAt(QTime(10, 0, 0));
    EXPECT_EQ(generations(8), QStringList({"T", "1", "2", "3", "-", "-", "-", "-"}));
    EXPECT_EQ(dir.Files("low"), QStringList({"d.zip", "d1.Zip", "d2.Zip"}));
    EXPECT_EQ(dir.Read("low/d1.Zip"), "T");
    EXPECT_EQ(dir.Read("low/d2.Zip"), "1");
}

// An emptied source (or one whose every file the filter leaves out) writes nothing, so nothing
// may be rotated: every archive stays as it was, and the day's run is done.
TEST_F(SchedulerTest, ARunWithNothingToWriteRotatesNothing) {
    struct Case {
        const char* what;
        const char* file; // what the source holds, if anything
        QString filter;
    };
    const Case cases[] = {{"emptied source", nullptr, ""},
                          {"only filtered-out files", "src2/x.tmp", "Nicht:*.tmp"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* n : {"", "1", "2", "3", "4"})
            dir.Write(QStringLiteral("out/Daten%1.Zip").arg(n), n[0] ? n : "T");
        const QString src = dir.MakeDir("src2");
        if (c.file) dir.Write(c.file, "left out");
        w->SetGridRowCount(1);
        const int r = add({.verz = src,
                           .nach = dir.Path("out/Daten.Zip"),
                           .time = "02:00:00",
                           .count = "5",
                           .filter = c.filter});
        const int lines = w->LogLineCount();
        tickAt(QTime(10, 0, 0));
        EXPECT_EQ(dir.Read("out/Daten.Zip"), "T");
        EXPECT_EQ(generations(5), QStringList({"1", "2", "3", "4", "-"}));
        const QStringList log = w->LogLines().mid(lines);
        EXPECT_EQ(log.filter("Beginne Backup von ").size(), 1);
        EXPECT_EQ(log.filter(QStringLiteral("Keine Datei gefunden in ") + src +
                             QStringLiteral("/, ") + dir.Path("out/Daten.Zip") +
                             QStringLiteral(" bleibt unverändert"))
                      .size(),
                  1)
            << log.join(u'\n').toStdString();
        EXPECT_EQ(cell(colLast, r), "08.12.2026 10:00:00");
        EXPECT_EQ(cell(colDateien, r), "0");
        // Done for today.
        const qsizetype starts = w->LogLines().filter("Beginne Backup von ").size();
        tickAt(QTime(10, 0, 1));
        tickAt(QTime(23, 59, 59));
        EXPECT_EQ(w->LogLines().filter("Beginne Backup von ").size(), starts);
        EXPECT_EQ(generations(5), QStringList({"1", "2", "3", "4", "-"}));
        QDir(dir.Path("src2")).removeRecursively();
    }
}

TEST_F(SchedulerTest, AGenerationThatCannotMoveStopsTheRotationAndTheRun) {
    for (const char* n : {"", "2"})
        dir.Write(QStringLiteral("out/Daten%1.Zip").arg(n), n[0] ? n : "T");
    // A folder where generation 1 belongs: the target cannot move there.
    dir.Write("out/Daten1.Zip/inside", "x");
    const int r = add({.nach = dir.Path("out/Daten.Zip"), .time = "02:00:00", .count = "5"});
    tickAt(QTime(10, 0, 0));
    EXPECT_EQ(dir.Read("out/Daten.Zip"), "T");
    EXPECT_EQ(dir.Read("out/Daten2.Zip"), "2"); // older than the gap: stays
    EXPECT_TRUE(cell(colLast, r).isEmpty());
    EXPECT_TRUE(cell(colLE, r).contains("nicht umbenannt")) << cell(colLE, r).toStdString();
    const QStringList l = w->LogLines();
    EXPECT_EQ(l.filter(" bei Umbenennen " + dir.Path("out/Daten.Zip") + " nach ").size(), 1);
    // Not tried again at every tick.
    tickAt(QTime(10, 0, 1));
    EXPECT_EQ(w->LogLines().size(), l.size());
    // The next attempts, ten minutes apart, remove no kept archive.
    tickAt(QTime(10, 10, 1));
    tickAt(QTime(10, 20, 2));
    EXPECT_EQ(dir.Read("out/Daten.Zip"), "T");
    EXPECT_EQ(dir.Read("out/Daten2.Zip"), "2");
}

TEST_F(SchedulerTest, FailingScheduledRunsKeepEveryGenerationAndWaitTenMinutes) {
    for (const char* n : {"", "1", "2", "3", "4"})
        dir.Write(QStringLiteral("out/Daten%1.Zip").arg(n), n[0] ? n : "T");
    // A filter of no known kind makes every run fail before it touches the target.
    const int r = add(
        {.nach = dir.Path("out/Daten.Zip"), .time = "02:00:00", .count = "5", .filter = "nur:*"});
    // Each attempt begins with its start line.
    const auto attempts = [this] { return w->LogLines().filter("Beginne Backup von ").size(); };
    tickAt(QTime(10, 0, 0));
    // It fails before its scan, so nothing is rotated.
    const QStringList kept = {"1", "2", "3", "4", "-"};
    EXPECT_EQ(dir.Read("out/Daten.Zip"), "T");
    EXPECT_EQ(generations(5), kept);
    tickAt(QTime(10, 10, 0));
    tickAt(QTime(10, 20, 0));
    EXPECT_EQ(dir.Read("out/Daten.Zip"), "T");
    EXPECT_EQ(generations(5), kept);
    EXPECT_TRUE(cell(colLast, r).isEmpty());
    EXPECT_EQ(attempts(), 3);

    // No attempt within ten minutes of the last one.
    tickAt(QTime(10, 25, 0));
    tickAt(QTime(10, 29, 59));
    EXPECT_EQ(attempts(), 3);
    tickAt(QTime(10, 30, 0));
    EXPECT_EQ(attempts(), 4);
    EXPECT_EQ(dir.Read("out/Daten.Zip"), "T");
    EXPECT_EQ(generations(5), kept);

    // Mended, it runs once the wait is over; a completed run leaves no wait behind.
    w->SetActionField(colFilter, r, "");
    tickAt(QTime(10, 39, 59));
    EXPECT_TRUE(cell(colLast, r).isEmpty());
    tickAt(QTime(10, 40, 0));
    EXPECT_EQ(cell(colLast, r), "08.12.2026 10:40:00");
    w->SetActionField(colLast, r, "");
    tickAt(QTime(10, 40, 1));
    EXPECT_EQ(cell(colLast, r), "08.12.2026 10:40:01");
}

// The wait belongs to the action, not to its place: sorting moves it with its row.
TEST_F(SchedulerTest, ARetryWaitFollowsItsActionThroughASort) {
    const int failing = add({.nach = dir.Path("a.Zip"), .time = "02:00:00", .filter = "nur:*"});
    add({.nach = dir.Path("b.Zip"), .time = "02:00:00"});
    const auto attempts = [this] { return w->LogLines().filter("Beginne Backup von ").size(); };
    tickAt(QTime(10, 0, 0));
    EXPECT_EQ(attempts(), 2);
    Grid(*w)->HeaderClick(colNach); // descending: the failing action moves to the second row
    ASSERT_EQ(cell(colFilter, failing + 1), QStringLiteral("nur:*"));
    tickAt(QTime(10, 5, 0));
    EXPECT_EQ(attempts(), 2);
    tickAt(QTime(10, 10, 0));
    EXPECT_EQ(attempts(), 3);
}

// The rotation waits for the new archive to be complete: a run that fails or is aborted while
// it writes leaves the target and every generation as they were, byte for byte, and the
// attempt after it rotates once.
TEST_F(SchedulerTest, ARunThatStopsWhileWritingMovesNoArchive) {
    struct Case {
        const char* what;
        bool fullDisk; // writes fail beyond a file size limit
        std::function<bool(int read)> readFault;
    };
    const Case cases[] = {
        {"a disk that fills up", true, nullptr},
        {"an abort while files are added", false,
         [this](int read) {
             if (read == 2) w->btnAbortClick();
             return false;
         }},
        {"not one file readable", false, [](int) { return true; }},
    };
    dir.Write("src/b.txt", "more data");
    dir.Write("src/c.bin", Noise(400000, 7));
    // Real archives of their own content as the target and its two generations.
    const auto archive = [this](const QString& rel, const QByteArray& content) {
        dir.MakeDir("out");
        TZipComponent zip;
        zip.ZipFileName = dir.Path(rel);
        zip.FSpecArgs = {dir.Write("made/" + rel + ".txt", content)};
        zip.Add();
        zip.Commit();
        return dir.Read(rel);
    };
    ::signal(SIGXFSZ, SIG_IGN);
    int minute = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QStringList names = {"out/Daten.Zip", "out/Daten1.Zip", "out/Daten2.Zip"};
        QList<QByteArray> before;
        for (const QString& n : names)
            before << archive(n, n.toUtf8() + c.what);
        w->SetGridRowCount(1);
        const int r = add(
            {.nach = dir.Path("out/Daten.Zip"), .time = "02:00:00", .count = "3", .hist = "J-J"});
        auto reads = std::make_shared<int>(0);
        if (c.readFault)
            w->Zip().ReadFault = [reads, fault = c.readFault](const QString&, qint64) {
                return fault(++*reads);
            };
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        if (c.fullDisk) {
            rlimit small = saved;
            small.rlim_cur = 100000;
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        const int lines = w->LogLineCount();
        tickAt(QTime(10, minute, 0));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        w->Zip().ReadFault = nullptr;
        for (int k = 0; k < names.size(); ++k)
            EXPECT_EQ(dir.Read(names[k]), before[k]) << names[k].toStdString();
        EXPECT_FALSE(dir.Exists("out/Daten3.Zip"));
        EXPECT_EQ(dir.Files("out"), QStringList({"Daten.Zip", "Daten1.Zip", "Daten2.Zip"}));
        EXPECT_TRUE(cell(colLast, r).isEmpty());
        EXPECT_EQ(w->LogLines().mid(lines).filter("Beginne Backup von ").size(), 1);

        // No weekly or monthly copy of the previous archive stands for this week or month.
        // Once the fault is gone and the wait is over, one rotation makes room for the archive.
        tickAt(QTime(10, minute + 10, 0));
        EXPECT_EQ(cell(colLast, r), QStringLiteral("08.12.2026 10:%1:00").arg(minute + 10));
        EXPECT_EQ(ArchiveNames(dir.Path("out/Daten.Zip")),
                  QStringList({"a.txt", "b.txt", "c.bin"}));
        EXPECT_EQ(dir.Read("out/Daten1.Zip"), before[0]);
        EXPECT_EQ(dir.Read("out/Daten2.Zip"), before[1]);
        EXPECT_FALSE(dir.Exists("out/Daten3.Zip"));
        EXPECT_EQ(dir.Read("out/DatenKW50.Zip"), dir.Read("out/Daten.Zip"));
        EXPECT_EQ(dir.Read("out/DatenMon12.Zip"), dir.Read("out/Daten.Zip"));
        QDir(dir.Path("out")).removeRecursively();
        minute += 11;
    }
}

TEST_F(SchedulerTest, WeeklyAndMonthlyCopiesFollowHistAndTheTurnOfTheYear) {
    day = QDate(2027, 1, 5); // ISO week 1, January
    const char* hists[] = {"J-J", "J-N", "N-J", "N-N", "JJ", "", "j-j"};
    for (int h = 0; h < 7; ++h) {
        const QString folder = QStringLiteral("h%1/").arg(h);
        dir.Write(folder + "Daten.Zip", "T");
        for (const char* old : {"KW50", "KW51", "KW52", "KW53", "Mon11", "Mon12"})
            dir.Write(folder + "Daten" + old + ".Zip", "old");
        add({.nach = dir.Path(folder + "Daten.Zip"),
             .time = "02:00:00",
             .count = "1",
             .hist = hists[h]});
    }
    tickAt(QTime(10, 0, 0));
    const QStringList oldYear = {"DatenKW51.Zip", "DatenKW52.Zip", "DatenKW53.Zip"};
    const QStringList weekly = QStringList{"DatenKW1.Zip"} + oldYear;
    const QStringList monthly = {"DatenMon1.Zip", "DatenMon12.Zip"};
    const QStringList neither = {"DatenKW50.Zip", "DatenMon11.Zip", "DatenMon12.Zip"};
    const QStringList expected[] = {
        weekly + monthly,                                         // J-J
        weekly + QStringList{"DatenMon11.Zip", "DatenMon12.Zip"}, // J-N
        QStringList{"DatenKW50.Zip"} + oldYear + monthly,         // N-J
        oldYear + neither,                                        // N-N
        weekly + monthly,                                         // JJ
        weekly + monthly,                                         // empty
        oldYear + neither,                                        // j-j
    };
    for (int h = 0; h < 7; ++h) {
        QStringList files = dir.Files(QStringLiteral("h%1").arg(h));
        files.removeAll("Daten.Zip");
        QStringList want = expected[h];
        want.sort();
        EXPECT_EQ(files, want) << "Hist '" << hists[h] << "'";
    }
    EXPECT_EQ(dir.Read("h0/DatenKW52.Zip"), "old");
    EXPECT_NE(dir.Read("h0/DatenKW1.Zip"), "old");
}

TEST_F(SchedulerTest, BlockingWindowControlsMarkTheSettingsModified) {
    w->show();
    w->activateWindow();
    QTRY_VERIFY(w->isActiveWindow());
    w->SetModified(false);
    Find<QCheckBox>(*w, "cbSperr")->click();
    EXPECT_TRUE(w->State().Modified);
    w->SetModified(false);
    Find<QTimeEdit>(*w, "sperrBis")->setFocus();
    QTRY_VERIFY(Find<QTimeEdit>(*w, "sperrBis")->hasFocus());
    QTest::keyClick(Find<QTimeEdit>(*w, "sperrBis"),
                    Qt::Key_Down); // the loaded end, 23:00:00, cannot go up
    EXPECT_TRUE(w->State().Modified);
}

TEST_F(SchedulerTest, AnActionDueAMinuteAheadMakesItsArchiveAndRotatesTheEarlierOne) {
    dir.Write("out/Daten.Zip", "earlier");
    const int r = add({.nach = dir.Path("out/Daten.Zip"),
                       .time = "10:01:00",
                       .count = "3",
                       .last = "07.12.2026 10:01:05"});
    tickAt(QTime(10, 0, 30));
    tickAt(QTime(10, 1, 0));
    EXPECT_EQ(dir.Read("out/Daten.Zip"), "earlier");
    EXPECT_FALSE(dir.Exists("out/Daten1.Zip"));

    const int lines = w->LogLineCount();
    tickAt(QTime(10, 1, 1));
    EXPECT_EQ(dir.Read("out/Daten1.Zip"), "earlier");
    EXPECT_EQ(ArchiveNames(dir.Path("out/Daten.Zip")), QStringList({"a.txt"}));
    EXPECT_EQ(cell(colLast, r), "08.12.2026 10:01:01");
    EXPECT_TRUE(w->LogLines().mid(lines).contains("Beginne Backup von " + source + " nach " +
                                                  dir.Path("out/Daten.Zip") +
                                                  ", 08.12.2026 10:01:01, Automatisch"));
    EXPECT_FALSE(w->State().Busy);
    EXPECT_TRUE(Find<QTimer>(*w, "Timer2")->isActive());
    EXPECT_EQ(w->State().LightColour, Green);

    // Done for today: later ticks leave it alone.
    tickAt(QTime(10, 1, 2));
    tickAt(QTime(23, 59, 59));
    EXPECT_EQ(dir.Read("out/Daten1.Zip"), "earlier");
    EXPECT_FALSE(dir.Exists("out/Daten2.Zip"));
}

TEST_F(SchedulerTest, TwoDueRowsWithOneTargetRunOneAfterTheOther) {
    dir.Write("src2/b.txt", "other data");
    dir.Write("out/Daten.Zip", "old");
    const QString target = dir.Path("out/Daten.Zip");
    add({.nach = target, .time = "02:00:00", .count = "5"});
    add({.verz = dir.Path("src2"), .nach = target, .time = "02:00:00", .count = "5"});
    tickAt(QTime(10, 0, 0));
    EXPECT_EQ(ArchiveNames(target), QStringList({"b.txt"}));
    EXPECT_EQ(ArchiveNames(dir.Path("out/Daten1.Zip")), QStringList({"a.txt"}));
    EXPECT_EQ(dir.Read("out/Daten2.Zip"), "old");
    EXPECT_FALSE(dir.Exists("out/Daten3.Zip"));
}

TEST_F(SchedulerTest, ATickThatLoggedSomethingSavesTheHistory) {
    const QString hist = w->HistoryFileName();
    add({.verz = "C:\\Daten", .nach = "E:\\B\\D.Zip", .time = "12:00:00"});
    QFile::remove(hist);
    tickAt(QTime(10, 0, 0)); // nothing due, nothing logged
    EXPECT_FALSE(QFile::exists(hist));
    w->SetActionField(colTime, 1, "12:61:00");
    Find<QCheckBox>(*w, "cbSperr")->setChecked(true);
    Find<QTimeEdit>(*w, "sperrVon")->setTime(QTime(6, 0));
    Find<QTimeEdit>(*w, "sperrBis")->setTime(QTime(23, 0));
    tickAt(QTime(10, 0, 1)); // blocked
    EXPECT_FALSE(QFile::exists(hist));
    Find<QCheckBox>(*w, "cbSperr")->setChecked(false);
    tickAt(QTime(10, 0, 2));
    QFile f(hist);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(f.readAll()).contains("'12:61:00' is not a valid time"));
}

// Runs the night of a clock change tick by tick (every 30 seconds of real time) and returns the
// moments of the scheduled attempts of an action due at 02:30:00. An attempt shows as the
// rotation of the target to generation 1; where the run itself does not record its completion,
// the test does, as a completed run would.
QList<QDateTime> attemptsInTheNight(Tmain* w, TestFolder& dir, const QDate& night) {
    const int r = Grid(*w)->RowCount() - 1;
    QList<QDateTime> attempts;
    Clock::SetFixed(QDateTime(night, QTime(0, 0, 0)));
    const QDateTime end(night, QTime(6, 0, 0));
    while (Clock::Now() < end) {
        if (!dir.Exists("out/Daten.Zip")) dir.Write("out/Daten.Zip", "T");
        const QString lastBefore = Grid(*w)->Cell(colLast, r);
        w->Timer2Timer();
        if (dir.Exists("out/Daten1.Zip")) {
            attempts << Clock::Now();
            QFile::remove(dir.Path("out/Daten1.Zip"));
            if (Grid(*w)->Cell(colLast, r) == lastBefore)
                w->SetActionField(colLast, r, TextFormats::FormatDateTime(Clock::Now()));
        }
        Clock::Advance(30 * 1000);
    }
    return attempts;
}

TEST_F(SchedulerTest, TheNightsTheClocksChangeRunTheActionOnce) {
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const struct {
        QDate night;
        int hoursFromOneToFour;
        const char* last;
        QTime attempt;
    } nights[] = {
        {QDate(2026, 3, 29), 2, "28.03.2026 02:30:05",
         QTime(3, 0, 0)}, // the first tick after the gap
        {QDate(2026, 10, 25), 4, "24.10.2026 02:30:05", QTime(2, 30, 30)}, // the first pass
    };
    for (const auto& n : nights) {
        SCOPED_TRACE(n.night.toString(Qt::ISODate).toStdString());
        ASSERT_EQ(QDateTime(n.night, QTime(1, 0)).secsTo(QDateTime(n.night, QTime(4, 0))),
                  n.hoursFromOneToFour * 3600);
        w->SetGridRowCount(1);
        add({.nach = dir.Path("out/Daten.Zip"), .time = "02:30:00", .count = "2", .last = n.last});
        const QList<QDateTime> attempts = attemptsInTheNight(w.get(), dir, n.night);
        ASSERT_EQ(attempts.size(), 1);
        EXPECT_EQ(attempts[0].time(), n.attempt);
        EXPECT_EQ(attempts[0].offsetFromUtc(), 2 * 3600); // summer time
    }
}

} // namespace
