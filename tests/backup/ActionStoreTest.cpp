// The settings file's model without a window: what a load reads, what a save writes.
#include "ActionStore.h"

#include <QFile>
#include <QPoint>
#include <QScopeGuard>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileEvents.h"
#include "TestFolder.h"

namespace {

class ActionStoreTest : public ::testing::Test {
protected:
    TestFolder dir;
    QString path = dir.Path(QStringLiteral("Zorvane2.ini"));

    void write(const QByteArray& bytes) { dir.Write(QStringLiteral("Zorvane2.ini"), bytes); }
    QByteArray bytes() const { return dir.Read(QStringLiteral("Zorvane2.ini")); }
    StoredSettings load() const {
        ActionStore store(path);
        store.Open();
        return store.ReadSettings();
    }
    void saveFull(const BlockingWindow& b, QList<BackupAction>& actions) {
        ActionStore store(path);
        store.Open();
        store.PutFull(b, actions);
        store.Commit();
    }
    static BackupAction action(const QString& verz, const QString& number = {}) {
        BackupAction a;
        a[colVerz] = verz;
        a[colNach] = verz + QStringLiteral(".Zip");
        a[colActionNumber] = number;
        return a;
    }
    static QStringList column(const QList<BackupAction>& actions, int col) {
        QStringList out;
        for (const BackupAction& a : actions)
            out << a[col];
        return out;
    }
};

TEST_F(ActionStoreTest, AMissingFileGivesTheDefaultsAndItsFirstSaveTheKnownFile) {
    const StoredSettings s = load();
    EXPECT_EQ(s.Lang, 0);
    EXPECT_EQ(s.Blocking.From, QTime(6, 0));
    EXPECT_EQ(s.Blocking.To, QTime(23, 0));
    EXPECT_TRUE(s.Blocking.On);
    EXPECT_TRUE(s.Actions.isEmpty());

    QList<BackupAction> one{BackupAction()}; // the grid's one empty row
    saveFull(s.Blocking, one);
    EXPECT_EQ(bytes(), QByteArray("[Global]\r\nSperrVon=06:00:00\r\nSperrBis=23:00:00\r\n"
                                  "Speerzeit=1\r\nIV=2\r\n\r\n[Actions]\r\n"
                                  "Verz1=\r\nNach1=\r\nTime1=\r\nCount1=\r\nLast1=\r\n"
                                  "Dateien1=\r\nBytes1=\r\nArc1=\r\nDauer1=\r\nFilter1=\r\n"
                                  "Hist1=\r\nLE1=\r\np1=\r\nVerz2=\r\n"));
    EXPECT_EQ(one[0][colActionNumber], u"1");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(ActionStoreTest, OnlyAVersionOneFileHasItsBlockingEndConverted) {
    struct Case {
        const char* global;
        QTime to;
    } cases[] = {
        {"SperrBis=02:00:00\r\n", QTime(23, 0)},
        {"SperrBis=02:00:00\r\nIV=1\r\n", QTime(23, 0)},
        {"SperrBis=02:00:00\r\nIV=2\r\n", QTime(2, 0)},
        // The key is one name in any mix of letter case.
        {"SperrBis=02:00:00\r\niv=2\r\n", QTime(2, 0)},
        {"sperrbis=02:00:00\r\niV=2\r\n", QTime(2, 0)},
        {"SperrBis=02:30:00\r\n", QTime(2, 30)},
        {"SperrBis=kaputt\r\n", QTime(23, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.global);
        write(QByteArray("[Global]\r\n") + c.global);
        EXPECT_EQ(load().Blocking.To, c.to);
    }
    // A short time and a switched-off blocking window read as meant.
    write("[Global]\r\nSperrVon=7:5\r\nSpeerzeit=0\r\n[Opt]\r\nlang=1\r\n");
    const StoredSettings s = load();
    EXPECT_EQ(s.Blocking.From, QTime(7, 5));
    EXPECT_FALSE(s.Blocking.On);
    EXPECT_EQ(s.Lang, 1);
}

TEST_F(ActionStoreTest, AGapEndsTheListAndTheSaveKeepsTheKeysBehindIt) {
    write("[Actions]\r\nVerz1=/a\r\nTime1=\r\nVerz2=/b\r\nLast2=07.12.2026 02:00:00\r\n"
          "Verz4=/d\r\nNach4=/d.Zip\r\n");
    StoredSettings s = load();
    ASSERT_EQ(s.Actions.size(), 2);
    EXPECT_EQ(column(s.Actions, colVerz), QStringList({"/a", "/b"}));
    // Present but empty stays empty; absent takes the default.
    EXPECT_EQ(column(s.Actions, colTime), QStringList({"", "02:00:00"}));
    EXPECT_EQ(column(s.Actions, colCount), QStringList({"5", "5"}));
    EXPECT_EQ(column(s.Actions, colHist), QStringList({"J-J", "J-J"}));
    EXPECT_EQ(column(s.Actions, colLast), QStringList({"", "07.12.2026 02:00:00"}));
    EXPECT_EQ(column(s.Actions, colActionNumber), QStringList({"1", "2"}));

    saveFull(s.Blocking, s.Actions);
    const IniFile ini(path);
    const auto read = [&](const char* key) {
        return ini.ReadString(QStringLiteral("Actions"), QString::fromLatin1(key),
                              QStringLiteral("<absent>"));
    };
    EXPECT_EQ(read("Verz3"), QString());
    EXPECT_EQ(read("Time1"), QString());
    EXPECT_EQ(read("Time2"), u"02:00:00");
    EXPECT_EQ(read("Verz4"), u"/d");
    EXPECT_EQ(read("Nach4"), u"/d.Zip");
    EXPECT_EQ(ini.ReadString(QStringLiteral("Global"), QStringLiteral("IV"), {}), u"2");
}

// The list is read in one pass over the file's keys; it must be what reading each action's keys
// by name gives, whatever order and spelling the file has.
TEST_F(ActionStoreTest, TheActionsAreThoseTheirKeysNameInAnyOrderAndSpelling) {
    QByteArray farAhead = "[Actions]\r\nVerz1=/1\r\nVerz100=/100\r\n";
    for (int n = 2; n < 100; ++n)
        farAhead += "Verz" + QByteArray::number(n) + "=/" + QByteArray::number(n) + "\r\n";
    farAhead += "Nach100=/100.Zip\r\n";
    const struct {
        const char* name;
        QByteArray file;
        QStringList verz;
        QStringList nach;
    } cases[] = {
        {"reverse order",
         "[Actions]\r\nNach3=/c.Zip\r\nVerz3=/c\r\nVerz2=/b\r\nVerz1=/a\r\n",
         {"/a", "/b", "/c"},
         {"", "", "/c.Zip"}},
        {"a stray number far beyond",
         "[Actions]\r\nVerz1=/a\r\nVerz900=/x\r\nVerz2=/b\r\n",
         {"/a", "/b"},
         {"", ""}},
        {"twins in any case: the first wins",
         "[Actions]\r\nverz1=/a\r\nVERZ1=/z\r\nVerz2=/b\r\nNach2=/b.Zip\r\nnach2=/y\r\n",
         {"/a", "/b"},
         {"", "/b.Zip"}},
        {"other keys and numbers with leading zeros are no action's",
         "[Actions]\r\nVerz1=/a\r\nVerz02=/x\r\nVerzX=/y\r\nVerz=/z\r\nNach01=/w\r\n",
         {"/a"},
         {""}},
        {"a section in two pieces",
         "[Actions]\r\nVerz1=/a\r\n[Opt]\r\nlang=1\r\n[actions]\r\n"
         "Verz1=/z\r\nVerz2=/b\r\n",
         {"/a", "/b"},
         {"", ""}},
        {"numbers far ahead that the rest catches up with", farAhead, {}, {}},
        {"an empty folder ends the list",
         "[Actions]\r\nVerz1=/a\r\nVerz2=\r\nVerz3=/c\r\n",
         {"/a"},
         {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(c.file);
        const StoredSettings s = load();
        if (c.verz.isEmpty()) {
            ASSERT_EQ(s.Actions.size(), 100);
            EXPECT_EQ(s.Actions[99][colVerz], u"/100");
            EXPECT_EQ(s.Actions[99][colNach], u"/100.Zip");
            EXPECT_EQ(s.Actions[50][colVerz], u"/51");
            continue;
        }
        EXPECT_EQ(column(s.Actions, colVerz), c.verz);
        EXPECT_EQ(column(s.Actions, colNach), c.nach);
        QStringList numbers;
        for (int n = 1; n <= c.verz.size(); ++n)
            numbers << QString::number(n);
        EXPECT_EQ(column(s.Actions, colActionNumber), numbers);
        EXPECT_EQ(column(s.Actions, colCount), QStringList(c.verz.size(), QStringLiteral("5")));
    }
}

// A large section is read on several threads, each taking a stretch of its lines; the list
// must be the one a single pass reads, whatever falls on either side of the split points.
TEST_F(ActionStoreTest, TheActionsReadOnSeveralThreadsAreThoseOfOnePass) {
    const auto keys = [](int from, int to, const QByteArray& extra = {}) {
        QByteArray b;
        for (int n = from; n <= to; ++n) {
            const QByteArray k = QByteArray::number(n);
            b += "Verz" + k + "=/v" + k + "\r\nNach" + k + "=/n" + k + ".Zip\r\nTime" + k + "=0" +
                 QByteArray::number(n % 10) + ":00:00\r\nCount" + k + "=5\r\nLast" + k +
                 "=\r\nFilter" + k + "=*.tmp\r\nHist" + k + "=J-N\r\n" + extra;
        }
        return b;
    };
    QByteArray onlyFolders = "[Actions]\r\n";
    for (int n = 1; n <= 200; ++n)
        onlyFolders += "verz" + QByteArray::number(n) + "=/" + QByteArray::number(n) + "\r\n";
    const struct {
        const char* name;
        QByteArray file;
    } cases[] = {
        {"twins throughout, the later ones in other spellings",
         "[Actions]\r\n" + keys(1, 60) + keys(1, 60).toUpper() + "VERZ61=\r\n"},
        {"odd keys, comments and blank lines between the actions",
         "[Actions]\r\n" + keys(1, 50, "; note\r\n\r\nVerz0=/x\r\nNach07=/y\r\nVerzX=/z\r\n")},
        {"a gap in the numbering, keys beyond it and a stray number",
         "[Actions]\r\n" + keys(1, 30) + keys(32, 70) + "Verz900=/stray\r\n"},
        {"actions in reverse order, keys of each spread apart",
         "[Actions]\r\n" + keys(41, 80) + keys(1, 40) + "Dauer3=1\r\nLE77=x\r\n"},
        {"fewer keys than the program writes: actions beyond the room made", onlyFolders},
        {"a section in two pieces",
         "[Actions]\r\n" + keys(1, 40) + "[Opt]\r\nlang=1\r\n[actions]\r\n" + keys(20, 60)},
    };
    const qsizetype single = IniFile::ParsePartBytes;
    const auto restore = qScopeGuard([&] { IniFile::ParsePartBytes = single; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<QList<BackupAction>> expected;
        for (const qsizetype part :
             {qsizetype(1) << 40, qsizetype(1), qsizetype(64), qsizetype(300), qsizetype(2000)}) {
            SCOPED_TRACE(part);
            IniFile::ParsePartBytes = part;
            write(c.file);
            const StoredSettings s = load();
            if (!expected) {
                ASSERT_GT(s.Actions.size(), 20);
                expected = s.Actions;
                continue;
            }
            ASSERT_EQ(s.Actions.size(), expected->size());
            for (int col = 0; col < ActionColumnCount; ++col)
                EXPECT_EQ(column(s.Actions, col), column(*expected, col)) << col;
        }
    }
}

// Keys numbered a little ahead of each other, each within reach of the last: a start-up reads
// the two actions and takes no more memory than a file of this size needs.
TEST_F(ActionStoreTest, KeysNumberedInStepsFarBeyondTheActionsTakeNoRoom) {
    QByteArray file = "[Actions]\r\nVerz1=/a\r\nVerz2=/b\r\n";
    for (int i = 1; i <= 10000; ++i)
        file += "Nach" + QByteArray::number(64 * i) + "=x\r\n";
    write(file);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const StoredSettings s = load();
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(column(s.Actions, colVerz),
              QStringList({QStringLiteral("/a"), QStringLiteral("/b")}));
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024); // kilobytes
}

TEST_F(ActionStoreTest, AFullSaveIsOneReplacementInTheGivenOrderNumberedFromOne) {
    write("[Actions]\r\nVerz1=/c\r\nVerz2=/a\r\nVerz3=/b\r\n");
    QList<BackupAction> actions{action(QStringLiteral("/a"), QStringLiteral("2")),
                                action(QStringLiteral("/b"), QStringLiteral("3")),
                                action(QStringLiteral("/c"), QStringLiteral("1")),
                                action(QStringLiteral("/neu"))};
    ReplacementCounter commits(path);
    saveFull(BlockingWindow(), actions);
    EXPECT_EQ(commits.Take(), 1);
    EXPECT_EQ(column(actions, colActionNumber), QStringList({"1", "2", "3", "4"}));
    const StoredSettings s = load();
    EXPECT_EQ(column(s.Actions, colVerz), QStringList({"/a", "/b", "/c", "/neu"}));
    EXPECT_EQ(column(s.Actions, colNach), QStringList({"/a.Zip", "/b.Zip", "/c.Zip", "/neu.Zip"}));
}

TEST_F(ActionStoreTest, ASaveBackOfWhatTheFileHoldsReplacesNothing) {
    QList<BackupAction> actions = {action(QStringLiteral("/a")), action(QStringLiteral("/b"))};
    saveFull(BlockingWindow(), actions);
    const QByteArray saved = bytes();
    ReplacementCounter commits(path);
    StoredSettings s = load();
    saveFull(s.Blocking, s.Actions);
    {
        ActionStore store(path);
        store.Open();
        store.PutStatistics(s.Actions);
        store.Commit();
    }
    EXPECT_EQ(commits.Take(), 0);
    EXPECT_EQ(bytes(), saved);
    // A changed statistic is written.
    s.Actions[1][colDauer] = QStringLiteral("00:00:07");
    {
        ActionStore store(path);
        store.Open();
        store.PutStatistics(s.Actions);
        store.Commit();
    }
    EXPECT_EQ(commits.Take(), 1);
    EXPECT_EQ(load().Actions[1][colDauer], "00:00:07");
}

// Texts the typed fields cannot read stay as the file held them through a load and a save.
TEST_F(ActionStoreTest, UnreadableFieldsComeBackAsTheFileHeldThem) {
    QList<BackupAction> odd = {action(QStringLiteral("/a"))};
    odd[0][colTime] = QStringLiteral("kaputt");
    odd[0][colCount] = QStringLiteral(" 0");
    odd[0][colLast] = QStringLiteral("31.02.2026");
    odd[0][colHist] = QStringLiteral("JJ");
    odd[0][colBytes] = QStringLiteral("12.34");
    saveFull(BlockingWindow(), odd);
    const QByteArray saved = bytes();
    StoredSettings s = load();
    ASSERT_EQ(s.Actions.size(), 1);
    const BackupAction& a = s.Actions[0];
    EXPECT_FALSE(a.Time() || a.LastRun() || a.Bytes());
    EXPECT_EQ(a.Count(), 0);
    EXPECT_FALSE(a.CountSkipsScheduler());
    EXPECT_TRUE(a.WeeklyCopy() && a.MonthlyCopy());
    saveFull(s.Blocking, s.Actions);
    EXPECT_EQ(bytes(), saved);
}

// The values read lie side by side in shared blocks: a value changed afterwards, in place or
// grown, also once every other value of its block is gone, changes no other.
TEST_F(ActionStoreTest, AValueReadChangesAloneAlsoWhenItOutlivesTheOthers) {
    write("[Actions]\r\nVerz1=/a\r\nNach1=/a.Zip\r\nVerz2=/b\r\nNach2=/b.Zip\r\n");
    StoredSettings s = load();
    ASSERT_EQ(s.Actions.size(), 2);
    s.Actions[0][colVerz] += QStringLiteral("/mehr");
    s.Actions[0][colNach][0] = u'X';
    EXPECT_EQ(column(s.Actions, colVerz), QStringList({"/a/mehr", "/b"}));
    EXPECT_EQ(column(s.Actions, colNach), QStringList({"Xa.Zip", "/b.Zip"}));
    EXPECT_EQ(column(s.Actions, colActionNumber), QStringList({"1", "2"}));
    QString kept = s.Actions[1][colVerz];
    QString alone = s.Actions[1][colNach];
    s = StoredSettings();
    kept += QStringLiteral("/und/noch/viel/tiefer");
    EXPECT_EQ(alone, QStringLiteral("/b.Zip"));
    // Now the only string left of its block.
    alone.prepend(QStringLiteral("vorn")).append(QStringLiteral("hinten"));
    alone[0] = u'V';
    EXPECT_EQ(alone, QStringLiteral("Vorn/b.Ziphinten"));
    EXPECT_EQ(kept, QStringLiteral("/b/und/noch/viel/tiefer"));
}

TEST_F(ActionStoreTest, StatisticsGoUnderTheActionNumberNotThePosition) {
    write("[Actions]\r\nVerz1=/a\r\nVerz3=/c\r\n");
    QList<BackupAction> rows{action(QStringLiteral("/c"), QStringLiteral("3")),
                             action(QStringLiteral("/neu")), // never saved: no number yet
                             action(QStringLiteral("/x"), QStringLiteral("x7")),
                             action(QStringLiteral("/a"), QStringLiteral("1"))};
    const int stats[] = {colLast, colDateien, colBytes, colArc, colDauer};
    for (BackupAction& a : rows)
        for (int c : stats)
            a[c] = a[colVerz] + QString::number(c);
    ReplacementCounter commits(path);
    ActionStore store(path);
    store.Open();
    store.PutStatistics(rows);
    store.Commit();
    EXPECT_EQ(commits.Take(), 1);
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadSection(QStringLiteral("Actions")),
              QStringList({"Verz1", "Verz3", "Last3", "Dateien3", "Bytes3", "Arc3", "Dauer3",
                           "Last1", "Dateien1", "Bytes1", "Arc1", "Dauer1"}));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Actions"), QStringLiteral("Dauer3"), {}), u"/c9");
    EXPECT_EQ(ini.ReadString(QStringLiteral("Actions"), QStringLiteral("Last1"), {}), u"/a4");
}

TEST_F(ActionStoreTest, TheLayoutHasItsDefaultsAndStaysOnTheScreen) {
    const QSize screen(1000, 800), window(890, 460);
    struct Case {
        const char* opt;
        QPoint pos;
        QSize size;
    } cases[] = {
        {"", QPoint(55, 170), QSize(890, 460)},
        {"Left=-50\r\nTop=900\r\nWidth=5000\r\nHeight=300\r\n", QPoint(0, 790), QSize(5000, 300)},
        {"Left=1001\r\nTop=-1\r\n", QPoint(990, 0), window},
        {"Left=990\r\nTop=790\r\n", QPoint(990, 790), window},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opt);
        write(QByteArray("[Opt]\r\n") + c.opt);
        ActionStore store(path);
        store.Open();
        const WindowLayout l = store.ReadLayout(screen, window);
        EXPECT_EQ(QPoint(l.Left, l.Top), c.pos);
        EXPECT_EQ(QSize(l.Width, l.Height), c.size);
    }
    write("[Opt]\r\nC0=222\r\nC3=-1\r\nC5=77\r\nC13=0\r\n");
    ActionStore store(path);
    store.Open();
    EXPECT_EQ(store.ReadLayout(screen, window).ColWidths,
              (std::array<int, ActionColumnCount>{222, 100, 50, -1, 110, -1, 50, 80, 70, 60, 60, 20,
                                                  50, 0}));
}

TEST_F(ActionStoreTest, AFileThatCannotBeReadStopsTheLoadAndIsNotWritten) {
    ASSERT_EQ(::symlink("Zorvane2.ini", QFile::encodeName(path).constData()), 0);
    ActionStore store(path);
    try {
        store.Open();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(
            QStringLiteral("Die Einstellungsdatei %1 kann nicht gelesen werden (").arg(path)));
        EXPECT_TRUE(
            QString::fromUtf8(e.what()).endsWith(QStringLiteral("Sie bleibt unverändert.")));
    }
    QList<BackupAction> none;
    EXPECT_THROW(store.PutFull(BlockingWindow(), none), IniWriteError);
    EXPECT_EQ(QFile::symLinkTarget(path), path);
}

TEST_F(ActionStoreTest, AWindows1252FileKeepsItsPathsAndPasswords) {
    write("[Actions]\r\nVerz1=C:\\Eigene Dateien\\M\xFCller\r\nNach1=E:\\Sicherung \x80.Zip\r\n"
          "p1=Stra\xDF"
          "e\r\n");
    StoredSettings s = load();
    ASSERT_EQ(s.Actions.size(), 1);
    EXPECT_EQ(s.Actions[0][colVerz], u"C:\\Eigene Dateien\\Müller");
    EXPECT_EQ(s.Actions[0][colNach], u"E:\\Sicherung €.Zip");
    EXPECT_EQ(s.Actions[0][colP], u"Straße");
    saveFull(s.Blocking, s.Actions);
    EXPECT_TRUE(bytes().contains("Verz1=C:\\Eigene Dateien\\M\xC3\xBCller\r\n"));
    EXPECT_TRUE(bytes().contains("p1=Stra\xC3\x9F"
                                 "e\r\n"));
    EXPECT_EQ(load().Actions[0][colP], u"Straße");
}

} // namespace
