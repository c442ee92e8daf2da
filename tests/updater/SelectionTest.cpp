#include "Selection.h"

#include <QMap>
#include <gtest/gtest.h>

namespace {

// Recounts everything from the check marks and compares with what the selection kept.
void expectConsistent(const UpdateSelection& s) {
    QMap<QString, int> counts;
    for (const SelectionModule& m : s.Modules()) {
        qint64 sum = 0;
        for (const SelectionFile& f : m.files) {
            EXPECT_EQ(f.checked, f.remembered);
            if (f.checked) sum += f.size;
            if (f.checked && m.remembered) ++counts[f.archive];
        }
        EXPECT_EQ(m.sizeSum, sum);
        EXPECT_EQ(m.checked, m.remembered);
    }
    qint64 total = 0;
    for (const SelectionArchive& a : s.ArchiveList()) {
        EXPECT_EQ(a.count, counts.value(a.name)) << a.name.toStdString();
        if (a.count > 0) total += a.inTotal;
    }
    EXPECT_EQ(s.DownloadTotal(), total);
}

// Module 0: a.z (10 KB) twice with different sizes, b.z; module 1: a.z again and c.z, nothing
// preselected; module 2 has no files.
UpdateSelection sample() {
    UpdateSelection s;
    s.AddModule(true);
    s.AddFile(0, "a.z", 10, true, true);
    s.AddFile(0, "a.z", 12, true, true);
    s.AddFile(0, "b.z", 5, false, false);
    s.EndModule(0);
    s.AddModule(true);
    s.AddFile(1, "a.z", 10, false, false);
    s.AddFile(1, "c.z", 7, false, false);
    s.EndModule(1);
    s.AddModule(false);
    s.AddArchive("only-listed.z");
    s.EndModule(2);
    return s;
}

} // namespace

TEST(Selection, ClicksKeepCountsSizesAndTotalRight) {
    UpdateSelection s = sample();
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

TEST(Selection, AllesNeuOffRestoresWhatTheParseChose) {
    UpdateSelection s = sample();
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
