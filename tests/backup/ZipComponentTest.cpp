#include "ZipComponent.h"
#include "ZipReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <stdexcept>

#include "Archives.h"
#include "TestFolder.h"

namespace {

class ZipComponent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(src.IsValid() && out.IsValid());
        // Entry names are taken below the source folder, whatever the current folder is.
        zip.BaseFolder = src.Path() + u'/';
        zip.ZipFileName = out.Path(QStringLiteral("Daten.Zip"));
        zip.OnMessage = [this](TZMMessageKind, const QString& m) { messages << m; };
    }

    // Adds every file below the source folder, one Add per file; returns the failed ones.
    QStringList AddAll() {
        QStringList failed;
        for (const QString& rel : src.Files()) {
            zip.FSpecArgs = QStringList{src.Path(rel)};
            zip.Add();
            EXPECT_TRUE(zip.FSpecArgs.isEmpty());
            if (zip.SuccessCnt != 1) failed << rel;
        }
        return failed;
    }
    // Extracts the archive with 7z into a fresh folder and compares it with the source.
    void ExpectRoundTrip(const QStringList& except = {}, const QString& password = {}) {
        ExpectArchiveHolds(zip.ZipFileName, src, except, password, true);
    }
    QString Listing() {
        QString log;
        RunCommand(QStringLiteral("7z l -slt ") + Quoted(zip.ZipFileName), &log);
        return log;
    }

    TestFolder src, out;
    TZipComponent zip;
    QStringList messages;
    const QDateTime when{QDate(2024, 3, 17), QTime(14, 25, 36)};
};

TEST_F(ZipComponent, WritesEveryFileWithItsFolderNameAndDate) {
    src.Write(QStringLiteral("a.txt"), PackableText(5000), when);
    src.Write(QStringLiteral("Unter Ordner/Grüße äöü ß.txt"), PackableText(300), when.addDays(-40));
    src.Write(QStringLiteral("Unter Ordner/tief/leer.doc"), QByteArray(), when);
    src.Write(QStringLiteral(".versteckt"), "hidden", when);
    src.Write(QStringLiteral("bild.JPG"), Noise(4000, 1), when);
    src.Write(QStringLiteral("musik.mp3"), Noise(3000, 2), when);
    EXPECT_TRUE(AddAll().isEmpty());
    // Nothing reaches the target before the archive is complete.
    EXPECT_FALSE(QFile::exists(zip.ZipFileName));
    EXPECT_TRUE(QFile::exists(TZipComponent::TempFileName(zip.ZipFileName)));
    zip.Commit();
    EXPECT_FALSE(QFile::exists(TZipComponent::TempFileName(zip.ZipFileName)));
    EXPECT_EQ(zip.ZipFileSize(), QFileInfo(zip.ZipFileName).size());
    ExpectRoundTrip();
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();

    // Listed suffixes are stored whatever their case, the rest deflated.
    const QString l = Listing();
    auto methodOf = [&](const QString& name) {
        const qsizetype at = l.indexOf(QStringLiteral("Path = ") + name + u'\n');
        const qsizetype m = l.indexOf(QStringLiteral("Method = "), at);
        return l.mid(m + 9, l.indexOf(u'\n', m) - m - 9);
    };
    EXPECT_EQ(methodOf(QStringLiteral("bild.JPG")), QStringLiteral("Store"));
    EXPECT_EQ(methodOf(QStringLiteral("musik.mp3")), QStringLiteral("Store"));
    EXPECT_EQ(methodOf(QStringLiteral("a.txt")), QStringLiteral("Deflate"));
    EXPECT_TRUE(l.contains(QStringLiteral("Path = Unter Ordner/Grüße äöü ß.txt")));
}

TEST_F(ZipComponent, PasswordEncryptsEveryEntryWithAes256) {
    src.Write(QStringLiteral("a.txt"), PackableText(2000), when);
    src.Write(QStringLiteral("b.zip"), Noise(500, 3), when);
    src.Write(QStringLiteral("leer"), QByteArray(), when);
    zip.AddOptions = TZipComponent::AddDirNames | TZipComponent::AddEncrypt;
    zip.Password = QStringLiteral("Geheim ä1");
    EXPECT_TRUE(AddAll().isEmpty());
    zip.Commit();
    ExpectRoundTrip({}, zip.Password);
    EXPECT_NE(RunCommand(QStringLiteral("7z t -pfalsch ") + Quoted(zip.ZipFileName)), 0);
    const QString l = Listing();
    // Every entry with content is encrypted; the writer leaves empty ones plain, which
    // discloses nothing the names do not.
    EXPECT_EQ(l.count(QStringLiteral("Encrypted = +")), 2) << l.toStdString();
    EXPECT_TRUE(l.contains(QStringLiteral("AES-256"))) << l.toStdString();
}

TEST_F(ZipComponent, WithoutDirNamesOnlyTheBareNameIsStored) {
    src.Write(QStringLiteral("sub/x.txt"), "x", when);
    zip.AddOptions = 0;
    AddAll();
    zip.Commit();
    EXPECT_TRUE(Listing().contains(QStringLiteral("Path = x.txt\n")));
}

TEST_F(ZipComponent, DiscardLeavesThePreviousArchiveUntouched) {
    QFile::remove(zip.ZipFileName);
    out.Write(QStringLiteral("Daten.Zip"), "altes Archiv");
    src.Write(QStringLiteral("a.txt"), PackableText(100), when);
    AddAll();
    zip.Discard();
    EXPECT_EQ(out.Read(QStringLiteral("Daten.Zip")), QByteArray("altes Archiv"));
    EXPECT_EQ(out.Files(), QStringList{QStringLiteral("Daten.Zip")});
    // A new stream overwrites a leftover temporary file of an interrupted run.
    out.Write(QFileInfo(TZipComponent::TempFileName(zip.ZipFileName)).fileName(), "Rest");
    // The new archive is as private as the one it replaces.
    const auto ownerOnly =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    QFile::setPermissions(zip.ZipFileName, ownerOnly);
    AddAll();
    zip.Commit();
    ExpectRoundTrip();
    EXPECT_EQ(out.Files(), QStringList{QStringLiteral("Daten.Zip")});
    EXPECT_EQ(QFile::permissions(zip.ZipFileName), ownerOnly);

    // A link left under the temporary name is replaced, not written through.
    out.Write(QStringLiteral("fremd.txt"), "fremd");
    QFile::remove(TZipComponent::TempFileName(zip.ZipFileName));
    ASSERT_TRUE(QFile::link(out.Path(QStringLiteral("fremd.txt")),
                            TZipComponent::TempFileName(zip.ZipFileName)));
    AddAll();
    zip.Commit();
    ExpectRoundTrip();
    EXPECT_EQ(out.Read(QStringLiteral("fremd.txt")), QByteArray("fremd"));
}

TEST_F(ZipComponent, UnreadableFileIsLeftOutAndSpoilsNothing) {
    src.Write(QStringLiteral("a.txt"), PackableText(3000), when);
    src.Write(QStringLiteral("b.txt"), PackableText(7000), when);
    src.Write(QStringLiteral("c.txt"), PackableText(2000), when);
    zip.ReadFault = [](const QString& path, qint64 offset) {
        return path.endsWith(QStringLiteral("b.txt")) && offset >= 0;
    };
    // A file that vanished between scan and add.
    zip.FSpecArgs = QStringList{src.Path(QStringLiteral("weg.txt"))};
    zip.Add();
    EXPECT_EQ(zip.SuccessCnt, 0);
    EXPECT_EQ(AddAll(), QStringList{QStringLiteral("b.txt")});
    zip.Commit();
    ExpectRoundTrip({QStringLiteral("b.txt")});
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("weg.txt")));
    EXPECT_TRUE(messages[1].startsWith(QStringLiteral("Lesefehler in ") + src.Path("b.txt")));
}

TEST_F(ZipComponent, StreamedFileFailingMidwayMakesTheStreamUnusable) {
    zip.WholeReadLimit = 1000; // stream everything larger, in 1 MiB pieces
    out.Write(QStringLiteral("Daten.Zip"), "alt");
    src.Write(QStringLiteral("a.txt"), PackableText(3000), when);
    src.Write(QStringLiteral("gross.bin"), Noise(3 << 20, 4), when);
    src.Write(QStringLiteral("z.txt"), PackableText(1500), when);
    zip.ReadFault = [](const QString& path, qint64 offset) {
        return path.endsWith(QStringLiteral("gross.bin")) && offset >= (1 << 20);
    };
    // Nothing goes in after the cut-off entry, and nothing is padded.
    EXPECT_EQ(AddAll(), (QStringList{QStringLiteral("gross.bin"), QStringLiteral("z.txt")}));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Lesefehler in ") + src.Path("gross.bin")));
    EXPECT_TRUE(zip.BrokenReason().contains(src.Path("gross.bin")));
    try {
        zip.Commit();
        ADD_FAILURE() << "Commit of a cut-off entry";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("gross.bin")));
    }
    ExpectOnlyFile(out, QStringLiteral("Daten.Zip"), QByteArray("alt"));
    // A file that turns out shorter than its size breaks the stream alike.
    zip.FSpecArgs = QStringList{src.Path(QStringLiteral("gross.bin"))};
    zip.ReadFault = [](const QString& path, qint64 offset) {
        if (offset >= (1 << 20)) QFile::resize(path, offset);
        return false;
    };
    zip.Add();
    EXPECT_EQ(zip.SuccessCnt, 0);
    // Whether the shrink shows as a short read or as a changed piece depends on which worker
    // reads first; either way the stream is broken and names the file.
    const QString reason = zip.BrokenReason();
    EXPECT_TRUE(reason.endsWith(QStringLiteral("Datei verkürzt")) ||
                reason.endsWith(QStringLiteral("Datei während des Lesens geändert")))
        << reason.toStdString();
    EXPECT_TRUE(reason.contains(src.Path("gross.bin")));
    zip.Discard();
    EXPECT_EQ(out.Files(), QStringList{QStringLiteral("Daten.Zip")});
}

TEST_F(ZipComponent, AFileReadWholeThatShrinksWhileReadGoesInAsReadStoredOrDeflated) {
    zip.PieceSize = 4096; // read whole, in three pieces
    src.Write(QStringLiteral("bild.jpg"), Noise(3 * 4096, 7), when);
    src.Write(QStringLiteral("text.txt"), PackableText(3 * 4096), when);
    zip.ReadFault = [](const QString& path, qint64 offset) {
        if (offset == 4096 && QFileInfo(path).size() == 3 * 4096) QFile::resize(path, 4096 + 100);
        return false;
    };
    EXPECT_EQ(AddAll(), QStringList());
    zip.Commit();
    // Both entries hold the files as they are now (the shrink gave them a new date).
    ExpectArchiveHolds(zip.ZipFileName, src);
}

TEST_F(ZipComponent, StreamedFilesRoundTripAndReportProgress) {
    zip.WholeReadLimit = 1000;
    src.Write(QStringLiteral("gross.txt"), PackableText((2 << 20) + 123), when);
    src.Write(QStringLiteral("gross.avi"), Noise((1 << 20) + 7, 5), when);
    QList<TZMProgressDetails> reports;
    zip.OnProgress = [&](const TZMProgressDetails& d) { reports << d; };
    EXPECT_TRUE(AddAll().isEmpty());
    zip.Commit();
    ExpectRoundTrip();
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_EQ(reports.first().Kind, TZMProgressKind::NewItem);
    EXPECT_EQ(reports.first().TotalSize, (1 << 20) + 7);
    const auto last = reports.last();
    EXPECT_EQ(last.Kind, TZMProgressKind::Progress);
    EXPECT_EQ(last.Written, (2 << 20) + 123);
}

TEST_F(ZipComponent, CancelStopsAStreamedFileAndTheStreamCannotBeCommitted) {
    zip.WholeReadLimit = 1000;
    out.Write(QStringLiteral("Daten.Zip"), "alt");
    src.Write(QStringLiteral("gross.bin"), Noise(3 << 20, 6), when);
    int reports = 0;
    zip.OnProgress = [&](const TZMProgressDetails& d) {
        if (d.Kind == TZMProgressKind::Progress && ++reports == 1) zip.Cancel();
    };
    EXPECT_EQ(AddAll(), QStringList{QStringLiteral("gross.bin")});
    EXPECT_EQ(reports, 1);
    EXPECT_THROW(zip.Commit(), std::runtime_error);
    ExpectOnlyFile(out, QStringLiteral("Daten.Zip"), QByteArray("alt"));
}

TEST_F(ZipComponent, CannotWriteRaisesAndLeavesNothing) {
    out.Write(QStringLiteral("datei"), "kein Ordner");
    zip.ZipFileName = out.Path(QStringLiteral("datei/Daten.Zip"));
    src.Write(QStringLiteral("a.txt"), "a");
    zip.FSpecArgs = QStringList{src.Path(QStringLiteral("a.txt"))};
    EXPECT_THROW(zip.Add(), std::runtime_error);
    // The failed add keeps the archive from being committed.
    EXPECT_THROW(zip.Commit(), std::runtime_error);
    EXPECT_NO_THROW(zip.Commit());
    EXPECT_EQ(out.Files(), QStringList{QStringLiteral("datei")});
}

TEST_F(ZipComponent, MoreThan65535EntriesUseZip64) {
    const int n = 65600;
    QDir().mkpath(src.Path(QStringLiteral("v")));
    for (int i = 0; i < n; ++i) {
        QFile f(src.Path(QStringLiteral("v/%1").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    for (int i = 0; i < n; ++i) {
        zip.FSpecArgs = QStringList{src.Path(QStringLiteral("v/%1").arg(i))};
        zip.Add();
        ASSERT_EQ(zip.SuccessCnt, 1);
    }
    zip.Commit();
    QString log;
    ASSERT_EQ(RunCommand(QStringLiteral("unzip -t ") + Quoted(zip.ZipFileName), &log), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("No errors detected"))) << log.right(300).toStdString();
    ASSERT_EQ(RunCommand(QStringLiteral("7z t ") + Quoted(zip.ZipFileName), &log), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("Files: %1").arg(n))) << log.right(300).toStdString();
    ASSERT_EQ(RunCommand(QStringLiteral("bsdtar -tf ") + Quoted(zip.ZipFileName) +
                             QStringLiteral(" | wc -l"),
                         &log),
              0);
    EXPECT_EQ(log.trimmed().toInt(), n);
    TZipReader reader;
    ASSERT_TRUE(reader.Open(zip.ZipFileName));
    EXPECT_EQ(reader.Count(), n);
}

} // namespace
