// The editing rules that need no window: target names, the cell texts the dialogs read and
// write, and the filter dialog's trial scan with its sums.
#include <QFile>
#include <gtest/gtest.h>

#include "ActionEdit.h"
#include "ProgramInfo.h"
#include "TestFolder.h"
#include "TrialScan.h"

using namespace ActionEdit;

TEST(ActionEdit, TargetNameReplacesTheExtensionOfTheNamePartOnly) {
    const struct {
        const char* chosen;
        const char* target;
    } cases[] = {
        {"/m/data.old", "/m/data.Zip"},
        {"/m/backup.zip", "/m/backup.Zip"},
        {"/m/backup", "/m/backup.Zip"},
        {"/m/my.dir/backup", "/m/my.dir/backup.Zip"},
        {"c:\\my.dir\\backup", "c:\\my.dir\\backup.Zip"},
        {"/m/a.tar.gz", "/m/a.tar.Zip"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TargetName(c.chosen), c.target) << c.chosen;
}

TEST(ActionEdit, TargetsWhoseArchivesWouldOverlapClash) {
    const struct {
        const char* other;
        const char* target;
        bool clash;
    } cases[] = {
        {"/d/Daten.Zip", "/d/Daten2.Zip", true},   // a generation of the other
        {"/d/Daten2.Zip", "/d/Daten.Zip", true},   // the other is one of its generations
        {"/d/Daten.Zip", "/d/DatenKW7.Zip", true}, // a weekly copy
        {"/d/Daten.Zip", "/e/Daten2.Zip", false},  // another folder
        {"/d/Daten.Zip", "/d/Daten02.Zip", false},
        {"/d/Daten.Zip", "/d/Daten2019.Zip", false}, // beyond any rotation
        {"/d/Daten.Zip", "/d/Daten100.Zip", true},
        {"/d/Daten.Zip", "/d/DatenNeu.Zip", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindArchiveClash({"/x/y.Zip", c.other}, c.target), c.clash ? 1 : -1)
            << c.other << " " << c.target;
}

TEST(ActionEdit, CellTextsReadAndWrittenByTheSmallDialogs) {
    EXPECT_EQ(FindNoCase({"/a", "/Home/Me"}, "/home/me"), 1);
    EXPECT_EQ(FindNoCase({"/a"}, "/b"), -1);

    for (QChar c : QStringLiteral("0123456789\b"))
        EXPECT_TRUE(CountKeyAccepted(c)) << int(c.unicode());
    for (QChar c : QStringLiteral("a -+,.\t"))
        EXPECT_FALSE(CountKeyAccepted(c)) << int(c.unicode());
    // A count above the up-down's range stays as it is, so confirming it keeps it.
    const struct {
        const char* cell;
        const char* preset;
    } presets[] = {{"7", "7"}, {"30", "30"}, {"-3", "0"}, {"", "5"}, {"zwei", "5"}};
    for (const auto& p : presets)
        EXPECT_EQ(CountPreset(p.cell), p.preset) << p.cell;
    EXPECT_EQ(CountResult(""), "0");
    EXPECT_EQ(CountResult(" \t12\r\n"), "12");
    EXPECT_EQ(CountResult("000"), "0");
    EXPECT_EQ(CountResult("007"), "7");
    EXPECT_EQ(CountResult("30"), "30");

    EXPECT_EQ(TimePreset("22:15:05"), QTime(22, 15, 5));
    EXPECT_EQ(TimePreset("spät"), QTime(4, 0, 0));

    const struct {
        const char* cell;
        bool weekly, monthly;
    } hists[] = {{"J-J", true, true},  {"N-J", false, true},    {"J-N", true, false},
                 {"JJ", false, false}, {"J-J-J", false, false}, {"", false, false}};
    for (const auto& h : hists) {
        EXPECT_EQ(ReadHist(h.cell).weekly, h.weekly) << h.cell;
        EXPECT_EQ(ReadHist(h.cell).monthly, h.monthly) << h.cell;
    }
    EXPECT_EQ(HistText(false, false), "N-N");
    EXPECT_EQ(HistText(true, false), "J-N");
}

TEST(ActionEdit, FilterCellSplitsIntoModeAndPatternsAndJoinsBack) {
    const struct {
        const char* cell;
        bool include;
        const char* patterns;
    } cases[] = {
        {"Nur:*.doc", true, "*.doc"},
        {"Nicht:*.tmp;*.bak", false, "*.tmp;*.bak"},
        {"*.tmp", false, "*.tmp"}, // no prefix: leave-out, the whole text
        {"", false, ""},
        {"nur:*.doc", false, "nur:*.doc"},
    };
    for (const auto& c : cases) {
        const FilterCell f = SplitFilterCell(c.cell);
        EXPECT_EQ(f.include, c.include) << c.cell;
        EXPECT_EQ(f.patterns, c.patterns) << c.cell;
    }
    EXPECT_EQ(JoinFilterCell(false, "*.tmp"), "Nicht:*.tmp");
    EXPECT_EQ(JoinFilterCell(true, "*.doc"), "Nur:*.doc");
    EXPECT_EQ(JoinFilterCell(true, ""), "");
    EXPECT_EQ(JoinFilterCell(false, ""), "");
}

TEST(TrialScan, MegabytesShownWithOneDecimalAndSummedAsShown) {
    const struct {
        qint64 bytes;
        const char* text;
    } sizes[] = {{0, "0,0"},
                 {10 * 1024, "0,0"},
                 {52429, "0,1"}, // 0.05 MB rounds up
                 {3 * 1024 * 1024 / 2, "1,5"},
                 {qint64(1234) * 1024 * 1024 + 512 * 1024, "1.234,5"},
                 {std::numeric_limits<qint64>::max(), "8.796.093.022.208,0"}};
    for (const auto& s : sizes)
        EXPECT_EQ(FormatTenths(MegabyteTenths(s.bytes)), s.text) << s.bytes;
    EXPECT_EQ(ParseTenths("1.234,5"), 12345);

    // 1000 files of 10 KB: every one shows 0,0, and so does their sum.
    QList<TrialFile> files;
    for (int i = 0; i < 1000; ++i)
        files.append(
            {QStringLiteral("f%1.tmp").arg(i), FormatTenths(MegabyteTenths(10240)), {}, {}});
    files.append({QStringLiteral("a.doc"), QStringLiteral("1.000,7"), {}, {}});
    files.append({QStringLiteral("b.doc"), QStringLiteral("0,4"), {}, {}});
    FileFilter f{SplitFilterPatterns("*.tmp"), false};
    const TrialSplit split = SplitTrial(f, files);
    EXPECT_EQ(TrialSummary(split.Kept.size(), split.KeptTenths), "2 Dateien, 1.001,1 MB");
    EXPECT_EQ(TrialSummary(split.LeftOut.size(), split.LeftOutTenths), "1.000 Dateien, 0,0 MB");
    EXPECT_EQ(split.Kept, (QList<int>{1000, 1001}));
    // No pattern keeps everything, whichever mode.
    for (bool include : {false, true})
        EXPECT_EQ(SplitTrial(FileFilter{{}, include}, files).Kept.size(), 1002);
}

TEST(TrialScan, CountsEveryEntryDotsIncludedAndStopsAtEveryLevel) {
    TestFolder t;
    for (int i = 0; i < 600; ++i)
        t.Write(QStringLiteral("flat/f%1.txt").arg(i), "x");
    const auto scan = [](const QString& root, int limit) {
        TrialScan s;
        s.Limit = limit;
        QList<TrialFile> found;
        s.OnFile = [&](const TrialFile& f) { found.append(f); };
        s.Run(root);
        return std::pair{found, s.Count};
    };
    EXPECT_EQ(scan(t.Path("flat"), 500).first.size(), 498);
    EXPECT_EQ(scan(t.Path("flat"), 500).second, 500);
    EXPECT_EQ(scan(t.Path("flat") + u'/', 2000).first.size(), 600);
    EXPECT_EQ(scan(t.Path("flat"), 2000).second, 602);

    // Depth first: a/ counts as an entry, its own dots too; the limit ends the top level as well.
    t.Write("tree/a/deeper/x.doc", QByteArray(2 * 1024 * 1024, 'x'));
    t.Write("tree/a/y.doc", "y");
    t.Write("tree/z.doc", "z");
    ASSERT_TRUE(QFile::link(t.Path("tree/a"), t.Path("tree/link")));
    const auto [all, count] = scan(t.Path("tree"), 100);
    QStringList seen;
    for (const TrialFile& f : all)
        seen << f.Folder + f.Name + u' ' + f.MbText;
    seen.sort();
    EXPECT_EQ(seen, (QStringList{"a/deeper/x.doc 2,0", "a/y.doc 0,0", "z.doc 0,0"}));
    EXPECT_EQ(count, 2 + 3 + 2 + 2 + 2 + 1); // tree, a, deeper with their dots; the link counts
    EXPECT_EQ(all.first().Path.left(t.Path("tree").size()), t.Path("tree"));
    EXPECT_LE(scan(t.Path("tree"), 5).first.size(), 1);

    EXPECT_TRUE(scan(t.Path("missing"), 500).first.isEmpty());
}

TEST(ProgramInfo, VersionAndSupportSubject) {
    EXPECT_EQ(ProgramVersion(), "2.1.0.9");
    EXPECT_EQ(ProgramInfo::SupportMailWithSubject(),
              "mailto:support@example.org?Subject=Support für KELVO-Zorvane2");
    EXPECT_TRUE(ProgramInfo::ZipLibrariesText().contains("zlib 1."));
}
