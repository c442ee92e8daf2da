#include "UpdatePlan.h"

#include <QMap>
#include <gtest/gtest.h>

#include "HinfWriter.h"
#include "InfoFile.h"
#include "Placeholders.h"
#include "TestFolder.h"

namespace {

// Recounts everything from the check marks and compares with what the selection kept.
void expectConsistent(const UpdatePlan& s) {
    QMap<QString, int> counts;
    for (const PlanModule& m : s.Modules()) {
        qint64 sum = 0;
        for (const PlanFile& f : m.files) {
            EXPECT_EQ(f.checked, f.remembered);
            if (f.checked) sum += f.size;
            if (f.checked && m.remembered) ++counts[f.archive];
        }
        EXPECT_EQ(m.sizeSum, sum);
        EXPECT_EQ(m.checked, m.remembered);
    }
    qint64 total = 0;
    for (const PlanArchive& a : s.ArchiveList()) {
        EXPECT_EQ(a.count, counts.value(a.name)) << a.name.toStdString();
        if (a.count > 0) total += a.inTotal;
    }
    EXPECT_EQ(s.DownloadTotal(), total);
}

PlanModule module(bool hasFiles) {
    PlanModule m;
    m.hasFiles = hasFiles;
    return m;
}

PlanFile file(const QString& archive, qint64 size, bool chosen) {
    PlanFile f;
    f.archive = archive;
    f.size = size;
    f.checked = f.preselected = chosen;
    return f;
}

// Module 0: a.z (10 KB) twice with different sizes, b.z; module 1: a.z again and c.z, nothing
// preselected; module 2 has no files.
UpdatePlan sample() {
    UpdatePlan s;
    s.AddModule(module(true));
    s.AddFile(0, file("a.z", 10, true));
    s.AddFile(0, file("a.z", 12, true));
    s.AddFile(0, file("b.z", 5, false));
    s.EndModule(0);
    s.AddModule(module(true));
    s.AddFile(1, file("a.z", 10, false));
    s.AddFile(1, file("c.z", 7, false));
    s.EndModule(1);
    s.AddModule(module(false));
    s.AddArchive("only-listed.z");
    s.EndModule(2);
    return s;
}

} // namespace

TEST(UpdatePlan, ClicksKeepCountsSizesAndTotalRight) {
    UpdatePlan s = sample();
    EXPECT_TRUE(s.Modules()[0].checked);
    EXPECT_EQ(s.DownloadTotal(), 10); // a.z once
    // A file checked in an unchecked module checks it and counts each checked file once.
    s.SetFileChecked(1, 1, true);
    s.SetFileChecked(1, 0, true); // a.z is in already
    EXPECT_TRUE(s.Modules()[1].checked);
    EXPECT_EQ(s.DownloadTotal(), 17);
    EXPECT_EQ(s.ArchiveCount("a.z"), 3);
    expectConsistent(s);
    // An unchecked module keeps its files' marks and sum but leaves the total.
    s.SetModuleChecked(1, false);
    EXPECT_TRUE(s.Modules()[1].files[0].checked);
    EXPECT_EQ(s.Modules()[1].sizeSum, 17);
    EXPECT_EQ(s.DownloadTotal(), 10);
    s.SetModuleChecked(1, true);
    s.SetModuleChecked(1, true); // a second report of the same click changes nothing
    expectConsistent(s);
    // Files sharing an archive with different sizes: what came in goes out again.
    s.SetModuleChecked(1, false);
    s.SetFileChecked(0, 0, false);
    s.SetFileChecked(0, 1, false); // the module's last file takes the module with it
    EXPECT_FALSE(s.Modules()[0].checked);
    EXPECT_EQ(s.DownloadTotal(), 0);
    expectConsistent(s);
    EXPECT_EQ(s.ModuleSizeText(0), "0 KB");
    EXPECT_EQ(s.ModuleSizeText(2), "");
    EXPECT_THROW(s.RequireArchive("x.z"), std::runtime_error);
}

TEST(UpdatePlan, AllesNeuOffRestoresWhatTheParseChose) {
    UpdatePlan s = sample();
    s.SetFileChecked(0, 0, false);
    s.SetAllesNeu(true);
    EXPECT_TRUE(s.Modules()[1].checked);
    EXPECT_FALSE(s.Modules()[2].checked);
    EXPECT_EQ(s.DownloadTotal(), 22);
    expectConsistent(s);
    s.SetAllesNeu(false);
    EXPECT_TRUE(s.Modules()[0].files[0].checked); // the user's change before is gone
    EXPECT_FALSE(s.Modules()[1].checked);
    EXPECT_EQ(s.DownloadTotal(), 10);
    expectConsistent(s);
}

// Which files the parse checks: the one rule, as a table.
TEST(UpdatePlan, PreselectionChoosesMissingAndOlderFilesMeantForHere) {
    const QDateTime day(QDate(2024, 3, 2), QTime(4, 5, 6));
    const struct {
        bool applies, exists;
        QString versionHere, dateOffered, marker;
        bool allesNeu, preselected, checked;
    } cases[] = {
        {true, false, "ohne", "02.03.2024 04:05:06", "", false, true, true},   // missing
        {true, true, "ohne", "03.03.2024", "", false, true, true},             // older here
        {true, true, "ohne", "02.03.2024 04:05:06", "", false, false, false},  // up to date
        {true, true, "ohne", "02.03.2024 04:05:06", "", true, false, true},    // "Alles Neu"
        {true, false, "ohne", "02.03.2024", "-", true, false, false},          // held back
        {false, false, "ohne", "02.03.2024", "", true, false, false},          // not for here
        {false, true, "ohne", "kein Datum", "", false, false, false},          // not looked at
        {true, true, "1.0.0.0", "02.03.2024 04:05:06", "", false, true, true}, // newer offered
    };
    for (const auto& c : cases) {
        PlanFile f;
        f.exists = c.exists;
        f.versionHere = c.versionHere;
        f.version = c.versionHere == "ohne" ? "" : "1.0.0.1";
        f.dateHere = c.exists ? day : QDateTime();
        f.date = c.dateOffered;
        f.marker = c.marker;
        const FileChoice got = ChooseFile(f, c.applies, c.allesNeu);
        EXPECT_EQ(got.preselected, c.preselected) << c.dateOffered.toStdString();
        EXPECT_EQ(got.checked, c.checked) << c.dateOffered.toStdString();
    }
    PlanFile bad;
    bad.exists = true;
    bad.date = "kein Datum";
    EXPECT_THROW(ChooseFile(bad, true, false), InfoFileError);
}

// The plan from an information file and the files here: folders decoded, files for another
// system left out with their archives still listed, and the walk ending at the updater itself.
TEST(UpdatePlan, BuiltFromTheInfoFileAndTheLocalFiles) {
    TestFolder folder;
    const QString inst = folder.MakeDir("inst") + "/";
    folder.Write("inst/cur.txt", "x", QDateTime(QDate(2024, 4, 1), QTime(9, 0)));
    PlaceholderTable table;
    table[Placeholder::InstallDir].folder = inst;
    DestinationDecoder ziel(table);
    ziel.systemIndex = 15;
    const QString all = "a" + QString(18, '-') + "0<installdir>\\";
    const QString notHere = QString(19, '-') + "0<installdir>\\";
    const auto row = [](const QString& name, const QString& archive, const QString& to) {
        return HinfFile{name, to, "", "02.03.2024 04:05:06", archive, "2", "", ""};
    };
    InfoFileReader reader(HinfWriter::Info({{"M",
                                             "",
                                             "",
                                             {row("a.txt", "a.z", all), row("cur.txt", "a.z", all),
                                              row("nt.dll", "nt.z", notHere)}},
                                            {"S", "", "", {row("KelvoIUpdate.exe", "i.z", all)}},
                                            {"Later", "", "", {}}})
                              .Compressed());
    UpdatePlan plan;
    // Each module and file is there to be shown as soon as it is read.
    QStringList seen;
    BuildPlan(plan, reader,
              {&ziel, false, [](const QString&) {},
               [&] {
                   const PlanModule& last = plan.Modules().back();
                   seen << last.name + ":" + QString::number(last.files.size());
               }});
    EXPECT_EQ(seen, QStringList({"M:0", "M:1", "M:2", "S:0", "S:1"}));
    ASSERT_EQ(plan.Modules().size(), 2);
    const PlanModule& m = plan.Modules()[0];
    ASSERT_EQ(m.files.size(), 2);
    EXPECT_EQ(m.files[0].Target(), inst + "a.txt");
    EXPECT_TRUE(m.files[0].checked);
    EXPECT_TRUE(m.files[1].exists);
    EXPECT_FALSE(m.files[1].checked);
    EXPECT_TRUE(m.checked);
    EXPECT_EQ(plan.ArchiveList().size(), 3);
    EXPECT_EQ(plan.DownloadTotal(), 2);
    EXPECT_EQ(plan.selfUpdateModule, 1);
    EXPECT_EQ(plan.selfUpdateFile, 0);
    EXPECT_EQ(plan.CheckedFileCount(), 2);
}
