// A backup run without a window: what goes into the archive, what the run reports, and what
// it leaves in place when it cannot complete.
#include "BackupJob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "Archives.h"
#include "TestFolder.h"
#include "TextFormats.h"
#include "ZipComponent.h"
#include "ZipReader.h"
#include "lang.h"

namespace {

using Result = BackupOutcome::Result;

// The files below folder in the order the file system lists them, folders entered where they
// come: the order a run walks them in.
QStringList WalkOrder(const QString& folder, const QString& prefix = {}) {
    QStringList out;
    DIR* d = ::opendir(QFile::encodeName(folder).constData());
    if (!d) return out;
    while (dirent* e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == u"." || name == u"..") continue;
        if (QFileInfo(folder + u'/' + name).isDir())
            out += WalkOrder(folder + u'/' + name, prefix + name + u'/');
        else
            out << prefix + name;
    }
    ::closedir(d);
    return out;
}

unsigned FileMode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// The nice values of this process's threads.
QList<int> ThreadNiceValues() {
    QList<int> values;
    for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
        QFile f(QStringLiteral("/proc/self/task/") + tid + QStringLiteral("/stat"));
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QByteArray stat = f.readAll();
        // After the name in parentheses: state, then fields 4 to 19; nice is the 19th.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 16) values << fields[16].toInt();
    }
    return values;
}

class BackupJobTest : public ::testing::Test {
protected:
    // Runs the action; during the run `job` is the job under way.
    BackupOutcome Run(const QString& source, const QString& target, const QString& filter = {},
                      const QString& password = {}) {
        BackupJob j(zip, language);
        j.Source = source;
        j.Target = target;
        j.FilterText = filter;
        j.Password = password;
        j.StartFolder = start;
        j.OnStatus = [this](const QString& t) { lines << QStringLiteral("  - ") + t; };
        j.OnMessage = [this](TZMMessageKind, const QString& t) { lines << t; };
        j.OnProgress = [this](const TZMProgressDetails& d, qint64 done) {
            if (d.Kind == TZMProgressKind::Progress) farthest = qMax(farthest, done + d.Written);
            if (d.Kind == TZMProgressKind::NewItem && atFirstFile) std::exchange(atFirstFile, {})();
        };
        job = &j;
        const BackupOutcome out = j.Run();
        job = nullptr;
        return out;
    }
    QString Target() const { return dst.Path(QStringLiteral("Daten.Zip")); }
    std::string Lines() const { return lines.join(u'\n').toStdString(); }

    TestFolder src, dst;
    TZipComponent zip;
    TextLanguage language; // the job's texts follow it
    QString start = QDir::currentPath();
    BackupJob* job = nullptr;
    QStringList lines;
    qint64 farthest = 0;
    std::function<void()> atFirstFile; // called once, when the first entry begins
};

TEST_F(BackupJobTest, ACompletedRunHoldsEveryFileBelowTheSource) {
    WriteSampleTree(src);
    const QString cwd = QDir::currentPath();
    const BackupOutcome out = Run(src.Path(), Target());

    ExpectArchiveHolds(Target(), src);
    EXPECT_FALSE(QFile::exists(TZipComponent::TempFileName(Target())));
    EXPECT_EQ(out.State, Result::Completed);
    EXPECT_EQ(out.Found, 5);
    EXPECT_EQ(out.Added, 5);
    EXPECT_EQ(out.Bytes, 3006);
    EXPECT_EQ(out.FilesText, u"5");
    EXPECT_EQ(out.ArchiveSize, QFileInfo(Target()).size());
    EXPECT_EQ(lines, QStringList{QStringLiteral("  - 5 Dateien  von 5 mit 3.006 Byte komprimiert "
                                                "zu ") +
                                 FormatInt64(0, out.ArchiveSize) + QStringLiteral(" Byte")});
    EXPECT_EQ(farthest, 3006);
    // The run leaves the process where it was.
    EXPECT_EQ(QDir::currentPath(), cwd);
}

// Names from old media or other systems need not be UTF-8: they go in with their bytes, also
// inside such a folder, and come back with the same bytes.
TEST_F(BackupJobTest, NamesThatAreNotUtf8AreKeptByteForByte) {
    const QMap<QByteArray, QByteArray> files{{"\xFF\xFE", PackableText(300)},
                                             {"\xFF\xFE"
                                              "dir/inner.txt",
                                              "inner"},
                                             {"caf\xE9/\xE2\x82.txt", "cut sequence"},
                                             {"ok.txt", "ok"},
                                             {"back\\slash.txt", "one file"}};
    for (auto it = files.begin(); it != files.end(); ++it)
        ASSERT_TRUE(src.WriteBytes(it.key(), it.value()));
    EXPECT_EQ(Run(src.Path(), Target()).FilesText, u"5");
    EXPECT_EQ(RunCommand(QStringLiteral("7z t ") + Quoted(Target())), 0);
    TZipReader reader;
    ASSERT_TRUE(reader.Open(Target()));
    TestFolder restored;
    EXPECT_EQ(reader.Extract(restored.Path()), 5);
    EXPECT_EQ(restored.FileBytes(), files);
}

// A line must name such a file so that it cannot be taken for another: its bytes escaped, and
// a backslash that would read as an escape doubled.
TEST_F(BackupJobTest, AFileThatCannotBeAddedIsNamedEscaped) {
    src.Write(QStringLiteral("a.txt"), "a");
    ASSERT_EQ(::symlink("nowhere", (QFile::encodeName(src.Path()) + "/\xFF\\x41").constData()), 0);
    const BackupOutcome out = Run(src.Path(), Target());
    EXPECT_EQ(out.FilesText, u"2-1");
    const QString shown = src.Path() + QStringLiteral("/\\xFF\\\\x41");
    EXPECT_TRUE(lines.contains(QStringLiteral("Kann ") + shown + QStringLiteral(" nicht öffnen: ") +
                               QString::fromLocal8Bit(std::strerror(ENOENT))))
        << Lines();
    EXPECT_TRUE(lines.contains(QStringLiteral("  - Fehler beim hinzufügen von ") + shown));
}

TEST_F(BackupJobTest, RelativeFoldersAreTakenFromTheStartFolderAtEveryRun) {
    src.Write(QStringLiteral("sub/a.txt"), PackableText(100));
    start = src.Path();
    for (int run = 0; run < 2; ++run)
        EXPECT_EQ(Run(QStringLiteral("sub"), QStringLiteral("rel.Zip")).FilesText, u"1");
    EXPECT_EQ(src.Files(), (QStringList{QStringLiteral("rel.Zip"), QStringLiteral("sub/a.txt")}));
    EXPECT_EQ(ArchiveNames(src.Path(QStringLiteral("rel.Zip"))), QStringList{"a.txt"});
}

TEST_F(BackupJobTest, APasswordEncryptsAndTextsFollowTheLanguage) {
    language.Set(TextLanguage::English);
    src.Write(QStringLiteral("a.txt"), PackableText(2000));
    src.Write(QStringLiteral("b/c.txt"), PackableText(20, 'x'));
    Run(src.Path() + u'/', Target(), QString(), QStringLiteral("pw äö"));
    ExpectArchiveHolds(Target(), src, {}, QStringLiteral("pw äö"));
    EXPECT_NE(RunCommand(QStringLiteral("7z t -pfalsch ") + Quoted(Target())), 0);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(
        lines[0].startsWith(QStringLiteral("  - 2 Files  of 2 with 2.020 Byte compressed to ")))
        << lines[0].toStdString();
}

TEST_F(BackupJobTest, TheFilterDecidesAndLinkedFoldersAreNotFollowed) {
    src.Write(QStringLiteral("a.txt"), "a");
    src.Write(QStringLiteral("B.TMP"), "b");
    src.Write(QStringLiteral("sub.bak/c.bak"), "c");
    src.Write(QStringLiteral("sub.bak/d.doc"), "d");
    ASSERT_TRUE(QFile::link(src.Path(QStringLiteral("sub.bak")),
                            src.Path(QStringLiteral("sub.bak/schleife"))));
    ASSERT_TRUE(QFile::link(src.Path(QStringLiteral("a.txt")), src.Path(QStringLiteral("y.txt"))));
    const BackupOutcome out = Run(src.Path(), Target(), QStringLiteral("Nicht:*.TMP; *.bak"));
    EXPECT_EQ(out.FilesText, u"3");
    EXPECT_EQ(ArchiveNames(Target()), (QStringList{"a.txt", "sub.bak/d.doc", "y.txt"}));
}

TEST_F(BackupJobTest, UnreadableFilesAreMissingAndNotOneReadableKeepsTheOldArchive) {
    for (int i = 0; i < 10; ++i)
        src.Write(QStringLiteral("f%1.txt").arg(i), PackableText(100 + i));
    zip.ReadFault = [](const QString& path, qint64) {
        return path.endsWith(QStringLiteral("f3.txt")) || path.endsWith(QStringLiteral("f7.txt"));
    };
    BackupOutcome out = Run(src.Path(), Target());
    ExpectArchiveHolds(Target(), src, {QStringLiteral("f3.txt"), QStringLiteral("f7.txt")});
    EXPECT_EQ(out.State, Result::Completed);
    EXPECT_EQ(out.FilesText, u"10-2");
    EXPECT_EQ(lines.count(QStringLiteral("  - Fehler beim hinzufügen von ") +
                          src.Path(QStringLiteral("f3.txt"))),
              1);
    EXPECT_EQ(lines.filter(QStringLiteral("  - Fehler beim hinzufügen von ")).size(), 2);
    // The component says why, without a prefix.
    EXPECT_EQ(lines.filter(QStringLiteral("Lesefehler in ")).size(), 2);
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("  - 8 Dateien  von 10 mit 1.045 Byte")));

    const QByteArray good = dst.Read(QStringLiteral("Daten.Zip"));
    lines.clear();
    zip.ReadFault = [](const QString&, qint64) { return true; };
    out = Run(src.Path(), Target());
    EXPECT_EQ(out.State, Result::Failed);
    ExpectOnlyFile(dst, QStringLiteral("Daten.Zip"), good);
    EXPECT_EQ(lines.filter(QStringLiteral("  - Fehler beim hinzufügen von ")).size(), 10);
    EXPECT_EQ(out.FailureLine, QStringLiteral("!!! BO, Backup:") + out.CurrentFile +
                                   QStringLiteral(" nach ") + Target() +
                                   QStringLiteral(" :Keine der 10 gefundenen Dateien konnte "
                                                  "gesichert werden, ") +
                                   Target() + QStringLiteral(" bleibt unverändert"));
    EXPECT_TRUE(out.CurrentFile.startsWith(src.Path() + QStringLiteral("/f")));
}

TEST_F(BackupJobTest, AnAbortKeepsTheOldArchiveAndAnAbortAfterTheCommitIsIgnored) {
    for (int i = 0; i < 5; ++i)
        src.Write(QStringLiteral("f%1.txt").arg(i), PackableText(300));
    dst.Write(QStringLiteral("Daten.Zip"), "letzte gute Sicherung");
    int reads = 0;
    zip.ReadFault = [&](const QString&, qint64) {
        if (++reads == 3) job->RequestAbort();
        return false;
    };
    BackupOutcome out = Run(src.Path(), Target());
    EXPECT_EQ(out.State, Result::Aborted);
    EXPECT_EQ(out.FilesText, u"5-2");
    ExpectOnlyFile(dst, QStringLiteral("Daten.Zip"), QByteArray("letzte gute Sicherung"));
    EXPECT_EQ(lines.last(), u"  - Aktion durch Benutzer abgebrochen");

    zip.ReadFault = nullptr;
    BackupJob j(zip, language);
    j.Source = src.Path();
    j.Target = Target();
    j.OnCommitted = [&] { j.RequestAbort(); };
    out = j.Run();
    EXPECT_EQ(out.State, Result::Completed);
    EXPECT_FALSE(j.AbortRequested());
    ExpectArchiveHolds(Target(), src);

    // The scan gives the window its turns too; an abort there is no run that found nothing.
    const QByteArray archive = dst.Read(QStringLiteral("Daten.Zip"));
    BackupJob scanning(zip, language);
    scanning.Source = src.Path();
    scanning.Target = Target();
    QStringList said;
    scanning.OnStatus = [&](const QString& t) { said << t; };
    scanning.OnProgress = [&](const TZMProgressDetails& d, qint64) {
        if (d.Kind == TZMProgressKind::Other) scanning.RequestAbort();
    };
    out = scanning.Run();
    EXPECT_EQ(out.State, Result::Aborted);
    EXPECT_EQ(dst.Read(QStringLiteral("Daten.Zip")), archive);
    EXPECT_EQ(said, QStringList{QStringLiteral("Aktion durch Benutzer abgebrochen")});
}

TEST_F(BackupJobTest, FailuresNameTheirReasonAndKeepTheOldArchive) {
    dst.Write(QStringLiteral("Daten.Zip"), "alt");
    src.Write(QStringLiteral("a.txt"), "a");
    struct Case {
        QString source, target, filter, line;
    } cases[] = {
        {src.Path(), Target(), QStringLiteral("nur:*.txt"),
         QStringLiteral("!!! BO, Backup: nach ") + Target() +
             QStringLiteral(" :Filter nur:*.txt unbekannte Filterart")},
        {QString(), Target(), QString(),
         QStringLiteral("!!! BO, Backup: nach ") + Target() +
             QStringLiteral(" :Kein Quellverzeichnis angegeben")},
        {src.Path(), QString(), QString(),
         QStringLiteral("!!! BO, Backup: nach  :Keine Zieldatei angegeben")},
        {src.Path(QStringLiteral("fehlt")), Target(), QString(),
         QStringLiteral("!!! BO, Backup: nach ") + Target() + QStringLiteral(" :Verzeichnis ") +
             src.Path(QStringLiteral("fehlt/")) + QStringLiteral(" existiert nicht")},
        {src.Path(QStringLiteral("a.txt")), Target(), QString(),
         QStringLiteral("!!! BO, Backup: nach ") + Target() + QStringLiteral(" :Verzeichnis ") +
             src.Path(QStringLiteral("a.txt/")) + QStringLiteral(" kann nicht gelesen werden: ") +
             QString::fromLocal8Bit(std::strerror(ENOTDIR))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const BackupOutcome out = Run(c.source, c.target, c.filter);
        EXPECT_EQ(out.State, Result::Failed);
        EXPECT_EQ(out.FailureLine, c.line);
        ExpectOnlyFile(dst, QStringLiteral("Daten.Zip"), QByteArray("alt"));
    }
    EXPECT_TRUE(lines.isEmpty()) << Lines();
}

TEST_F(BackupJobTest, AFileBreakingOffMidEntryRestartsTheArchiveWithoutIt) {
    src.Write(QStringLiteral("a.txt"), "a");
    src.Write(QStringLiteral("b.txt"), PackableText(500));
    src.Write(QStringLiteral("c.txt"), PackableText(300));
    zip.WholeReadLimit = 10; // streamed
    zip.ReadFault = [](const QString& path, qint64) { return path.endsWith("b.txt"); };
    const BackupOutcome out = Run(src.Path(), Target());
    EXPECT_EQ(out.State, Result::Completed);
    EXPECT_EQ(out.FilesText, u"3-1");
    EXPECT_TRUE(lines.contains(QStringLiteral("  - Fehler beim hinzufügen von ") +
                               src.Path(QStringLiteral("b.txt"))))
        << Lines();
    ExpectArchiveHolds(Target(), src, {QStringLiteral("b.txt")});
    EXPECT_EQ(dst.Files(), QStringList{QStringLiteral("Daten.Zip")});
}

TEST_F(BackupJobTest, AWriteErrorEndsTheWalkWithOneLineAndKeepsTheOldArchive) {
    dst.Write(QStringLiteral("Daten.Zip"), "alt");
    dst.Write(QStringLiteral("keinOrdner"), "x");
    // Stored entries: the archive library keeps its compressor's memory when a write fails
    // inside a deflated entry, which the leak check would report.
    for (int i = 0; i < 8; ++i)
        src.Write(QStringLiteral("f%1.jpg").arg(i), Noise(100000, i));
    QStringList opened;
    zip.ReadFault = [&](const QString& path, qint64 offset) {
        if (offset == 0) opened << path;
        return false;
    };
    // The folder of a drive that is not mounted, and a file where the folder should be: the
    // run stops before the first file and creates no folder.
    for (const QString& folder : {dst.Path(QStringLiteral("fehlt")), dst.Path("keinOrdner")}) {
        const QString target = folder + QStringLiteral("/Daten.Zip");
        const BackupOutcome out = Run(src.Path(), target);
        EXPECT_EQ(out.State, Result::Failed);
        EXPECT_EQ(out.FailureLine, QStringLiteral("!!! BO, Backup: nach ") + target +
                                       QStringLiteral(" :Zielordner ") + folder +
                                       QStringLiteral(" existiert nicht"));
    }
    EXPECT_TRUE(opened.isEmpty());

    // A disk that fills up: the file size limit makes the writes fail as a full disk does.
    // One file in flight, so what the walk read ahead of the failing entry stays countable.
    // With the read hook the archive is written in the run's thread; without it, on the
    // archive's own thread, where the error reaches the run a few files later.
    zip.MaxInFlight = 1;
    ::signal(SIGXFSZ, SIG_IGN);
    for (const bool hook : {true, false}) {
        SCOPED_TRACE(hook ? "written in the run's thread" : "written on the archive's thread");
        lines.clear();
        if (!hook) zip.ReadFault = nullptr;
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 150000;
        ::setrlimit(RLIMIT_FSIZE, &small);
        const BackupOutcome out = Run(src.Path(), Target());
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(out.State, Result::Failed);
        EXPECT_TRUE(out.FailureLine.startsWith(QStringLiteral("!!! BO, Backup: nach ") + Target() +
                                               QStringLiteral(" :")));
        EXPECT_TRUE(out.FailureLine.endsWith(QString::fromLocal8Bit(std::strerror(EFBIG))))
            << out.FailureLine.toStdString();
        if (hook) {
            EXPECT_LT(opened.size(), 4); // the walk stopped at the error
        }
        EXPECT_TRUE(lines.isEmpty()) << Lines();
        EXPECT_EQ(dst.Files(),
                  (QStringList{QStringLiteral("Daten.Zip"), QStringLiteral("keinOrdner")}));
        EXPECT_EQ(dst.Read(QStringLiteral("Daten.Zip")), QByteArray("alt"));
    }
}

// Where the target is gone but its archive lies as generation 1, the new one takes its mode.
TEST_F(BackupJobTest, TheNewArchiveIsAsPrivateAsThePreviousOneMovedOn) {
    const auto ownerOnly =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    src.Write(QStringLiteral("a.txt"), PackableText(300));
    ASSERT_EQ(Run(src.Path(), Target()).State, Result::Completed);
    QFile::setPermissions(Target(), ownerOnly);
    ASSERT_TRUE(QFile::rename(Target(), dst.Path(QStringLiteral("Daten1.Zip"))));
    ASSERT_EQ(Run(src.Path(), Target()).State, Result::Completed);
    EXPECT_EQ(QFile::permissions(Target()), ownerOnly);
}

// The temporary archive is owner-only while it is written; the archive takes its final mode
// at the rename: the previous archive's, or that of any new file.
TEST_F(BackupJobTest, TheTemporaryArchiveIsOwnerOnlyUntilItIsInPlace) {
    struct Case {
        const char* what;
        int previous; // mode of the archive replaced; -1: none
        bool password;
        unsigned final;
    };
    const Case cases[] = {{"new archive", -1, false, 0644},
                          {"new encrypted archive", -1, true, 0600},
                          {"owner-only archive", 0600, false, 0600},
                          {"group-readable archive", 0640, false, 0640},
                          {"readable archive, now encrypted", 0644, true, 0600}};
    const mode_t oldMask = ::umask(022);
    src.Write(QStringLiteral("geheim.txt"), PackableText(300));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(Target());
        if (c.previous >= 0) {
            dst.Write(QStringLiteral("Daten.Zip"), "alt");
            ::chmod(QFile::encodeName(Target()).constData(), mode_t(c.previous));
        }
        unsigned during = 0;
        atFirstFile = [&] { during = FileMode(TZipComponent::TempFileName(Target())); };
        ASSERT_EQ(
            Run(src.Path(), Target(), {}, c.password ? QStringLiteral("pw") : QString()).State,
            Result::Completed);
        EXPECT_EQ(during, 0600u);
        EXPECT_EQ(FileMode(Target()), c.final);
    }
    ::umask(oldMask);
}

TEST_F(BackupJobTest, AnEmptyFolderCompletesWithZeroAndKeepsTheArchive) {
    dst.Write(QStringLiteral("Daten.Zip"), "alt");
    // Temporary archives of ended runs go; one of a process that still runs stays.
    dst.Write(QStringLiteral("Daten.Zip.part"), "Rest einer älteren Version");
    dst.Write(QStringLiteral("Daten.Zip.%1.part").arg(EndedProcessId()), "Rest eines Absturzes");
    dst.Write(QStringLiteral("Daten.Zip.1.part"), "läuft noch");
    src.MakeDir(QStringLiteral("leer"));
    const BackupOutcome out = Run(src.Path(QStringLiteral("leer")), Target());
    EXPECT_EQ(out.State, Result::Completed);
    EXPECT_EQ(out.FilesText, u"0");
    EXPECT_EQ(out.Bytes, 0);
    EXPECT_EQ(out.ArchiveSize, 0);
    EXPECT_EQ(dst.Files(),
              (QStringList{QStringLiteral("Daten.Zip"), QStringLiteral("Daten.Zip.1.part")}));
    EXPECT_EQ(dst.Read(QStringLiteral("Daten.Zip")), QByteArray("alt"));
    EXPECT_EQ(lines, QStringList{QStringLiteral("  - Keine Datei gefunden in ") +
                                 src.Path(QStringLiteral("leer/, ")) + Target() +
                                 QStringLiteral(" bleibt unverändert")});
}

TEST_F(BackupJobTest, TheActionsOwnArchivesBelowTheSourceAreLeftOut) {
    src.Write(QStringLiteral("brief.txt"), "b");
    src.Write(QStringLiteral("Daten.txt"), "t");
    for (const char* user : {"Daten01.Zip", "Daten1.zip", "DatenKW.Zip", "Daten.Zip.x.part"})
        src.Write(QString::fromLatin1(user), "u");
    src.Write(QStringLiteral("sub/Daten1.Zip"), "another folder's");
    for (const char* own : {"Daten1.Zip", "Daten12.Zip", "DatenKW7.Zip", "DatenMon2.Zip",
                            "DatenMon2.Zip.tmp", "Daten.Zip.1.part"})
        src.Write(QString::fromLatin1(own), "own");
    const QString link = dst.Path(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(src.Path(), link));
    const QStringList kept = {"Daten.Zip.x.part", "Daten.txt", "Daten01.Zip",   "Daten1.zip",
                              "DatenKW.Zip",      "brief.txt", "sub/Daten1.Zip"};
    // Run twice, so the first archive lies in the source; also through a link to the source.
    for (const QString& source : {src.Path(), src.Path(), link}) {
        const BackupOutcome out = Run(source, src.Path(QStringLiteral("Daten.Zip")));
        EXPECT_EQ(out.FilesText, u"7");
        EXPECT_EQ(ArchiveNames(src.Path(QStringLiteral("Daten.Zip"))), kept);
    }
}

// Also: the archive's worker runs at the lowest priority, the caller does not, and no lowered
// thread outlives the run.
TEST_F(BackupJobTest, OnOneLoweredWorkerEntriesKeepTheWalkOrderAndOutcomesTheirFiles) {
    const int own = ::getpriority(PRIO_PROCESS, 0);
    QList<int> during;
    atFirstFile = [&] { during = ThreadNiceValues() << ::getpriority(PRIO_PROCESS, 0); };
    for (int i = 0; i < 30; ++i)
        src.Write(QStringLiteral("d%1/f%2.txt").arg(i % 4).arg(i),
                  PackableText(200 + i * 50, char('a' + i % 20)));
    src.Write(QStringLiteral("d1/gross.log"), PackableText(300 * 1024, 'g')); // several pieces
    ASSERT_TRUE(QFile::link(src.Path(QStringLiteral("weg")), src.Path(QStringLiteral("d2/link"))));
    zip.Threads = 1;
    zip.MaxInFlight = 3; // the bound is reached again and again
    zip.PieceSize = 64 * 1024;
    const BackupOutcome out = Run(src.Path(), Target());

    if (own < 19) {
        ASSERT_FALSE(during.isEmpty());
        EXPECT_EQ(during.takeLast(), own);
        EXPECT_TRUE(during.contains(19)) << "no lowered worker";
        EXPECT_FALSE(ThreadNiceValues().contains(19)) << "a lowered thread outlived the run";
    }
    EXPECT_EQ(out.State, Result::Completed);
    EXPECT_EQ(out.FilesText, u"32-1");
    EXPECT_EQ(lines.filter(QStringLiteral("  - Fehler beim hinzufügen von ")),
              QStringList{QStringLiteral("  - Fehler beim hinzufügen von ") +
                          src.Path(QStringLiteral("d2/link"))});
    EXPECT_EQ(farthest, out.Bytes);
    ExpectArchiveHolds(Target(), src, {QStringLiteral("d2/link")});
    QStringList expected = WalkOrder(src.Path());
    expected.removeAll(QStringLiteral("d2/link"));
    TZipReader reader;
    ASSERT_TRUE(reader.Open(Target()));
    QStringList names;
    for (int i = 0; i < reader.Count(); ++i)
        names << reader.Entry(i).Name;
    EXPECT_EQ(names, expected);
}

TEST(ProgressBar, ScaleKeepsTheBarBelowAThousandStepsAndThePositionInRange) {
    struct Case {
        qint64 total, scale;
    } scales[] = {{0, 1},    {999, 1},        {1000, 1},      {1001, 2},
                  {3006, 4}, {5000000, 5000}, {2500000, 2500}};
    for (const Case& c : scales)
        EXPECT_EQ(ProgressScaleFor(c.total), c.scale) << c.total;
    EXPECT_EQ(ProgressBarPosition((qint64(3) << 30) + (qint64(1) << 30), 5000000, 1000), 858);
    EXPECT_EQ(ProgressBarPosition(qint64(1) << 40, 5000000, 1000), 1000);
    EXPECT_EQ(ProgressBarPosition(-5, 1, 1000), 0);
    EXPECT_EQ(ProgressBarPosition(7, 0, 1000), 7);
}

} // namespace
