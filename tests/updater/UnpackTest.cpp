#include "Unpack.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include "HinfWriter.h"
#include "Raised.h"
#include "TestFolder.h"

namespace {

QByteArray randomBytes(qsizetype n) {
    QByteArray b(n, '\0');
    QRandomGenerator rng(42);
    for (char& c : b)
        c = char(rng.bounded(256));
    return b;
}

} // namespace

TEST(Unpack, InflatesInBlocksAndReportsProgress) {
    TestFolder dir;
    const QByteArray content = randomBytes(300000); // hardly compressible: several input blocks
    const QString archive = dir.Write("dl/a.z", ZlibStream(content));
    dir.Write("app/prog.dll", "old");
    QStringList status;
    QList<qint64> done;
    qint64 total = -1;
    const UnpackCallbacks cb{[&](const QString& s) { status << s; },
                             [&](qint64 d, qint64 t) {
                                 done << d;
                                 if (t) total = t;
                             }};
    EXPECT_EQ(UnpackFile(archive, dir.Path("app/prog.dll"), cb), content.size());
    EXPECT_EQ(dir.Read("app/prog.dll"), content);
    EXPECT_EQ(dir.Files("app"), QStringList({"prog.dll"}));
    EXPECT_EQ(status, QStringList({"Entpacke prog.dll", "Bereit"}));
    EXPECT_EQ(total, QFileInfo(archive).size());
    ASSERT_GE(done.size(), 4);
    EXPECT_EQ(done[done.size() - 2], total);
    EXPECT_EQ(done.last(), 0);
    EXPECT_EQ(UnpackFile(dir.Write("dl/e.z", ZlibStream({})), dir.Path("app/empty")), 0);
}

TEST(Unpack, BadArchivesLeaveTheOldFileUntouched) {
    const QByteArray content = randomBytes(200000);
    const QByteArray stream = ZlibStream(content);
    QByteArray badCheck = stream;
    badCheck[badCheck.size() - 1] = char(badCheck.back() ^ 0x55);
    struct Case {
        QByteArray archive;
        QString says;
        qint64 cap = MaxUnpackedSize;
    } cases[] = {
        {stream.left(stream.size() / 2), "unvollständig"},
        {stream.chopped(1), "unvollständig"},
        {QByteArray(), "unvollständig"},
        {stream + "tail", "nach dem Ende"},
        {badCheck, "beschädigt"},
        {QByteArray("PK\x03\x04 not zlib"), "beschädigt"},
        {stream, "mehr als 1000 Bytes", 1000},
    };
    for (const Case& c : cases) {
        TestFolder dir;
        const QString archive = dir.Write("dl/prog.z", c.archive);
        dir.Write("app/prog.dll", "old");
        const QString e =
            RaisedText([&] { UnpackFile(archive, dir.Path("app/prog.dll"), {}, c.cap); });
        EXPECT_FALSE(e.isNull()) << "accepted: " << c.says.toStdString();
        EXPECT_TRUE(e.startsWith("Archiv prog.z")) << e.toStdString();
        EXPECT_TRUE(e.contains(c.says)) << e.toStdString();
        EXPECT_EQ(dir.Read("app/prog.dll"), "old");
        EXPECT_EQ(dir.Files("app"), QStringList({"prog.dll"})); // no temporary file left
    }
    TestFolder dir;
    const QString archive = dir.Write("a.z", stream);
    EXPECT_THROW(UnpackFile(dir.Path("missing.z"), dir.Path("x")), std::runtime_error);
    const QString e = RaisedText([&] { UnpackFile(archive, dir.Path("no/such/folder/x.dll")); });
    EXPECT_TRUE(e.contains("no/such/folder/x.dll")) << e.toStdString();
}

// The check value at the end of the stream may lie in one read of the archive or span two.
TEST(Unpack, TheCheckValueIsFoundWhereverTheReadsSplitIt) {
    // Archives ending 0 to 4 bytes past the first 64 KiB read: random content is stored as
    // it is, so the stream grows with the content byte for byte.
    QMap<qsizetype, QByteArray> byTail;
    for (qsizetype n = 65400; byTail.size() < 5 && n < 65700; ++n) {
        const QByteArray content = randomBytes(n);
        const qsizetype tail = ZlibStream(content).size() - 65536;
        if (tail >= 0 && tail <= 4 && !byTail.contains(tail)) byTail[tail] = content;
    }
    ASSERT_EQ(byTail.size(), 5);
    for (const QByteArray& content : std::as_const(byTail)) {
        TestFolder dir;
        const QByteArray stream = ZlibStream(content);
        EXPECT_EQ(UnpackFile(dir.Write("good.z", stream), dir.Path("good")), content.size());
        EXPECT_EQ(dir.Read("good"), content);
        for (qsizetype at : {stream.size() - 4, stream.size() - 1}) {
            QByteArray bad = stream;
            bad[at] = char(bad[at] ^ 0x01);
            const QString e =
                RaisedText([&] { UnpackFile(dir.Write("bad.z", bad), dir.Path("bad")); });
            EXPECT_TRUE(e.contains("beschädigt")) << stream.size() << ' ' << at;
            EXPECT_FALSE(dir.Exists("bad"));
        }
        // Data after the stream fills the second read: the trailer is still found, and the
        // archive is refused for what follows it.
        const QString e = RaisedText([&] {
            UnpackFile(dir.Write("long.z", stream + QByteArray(65536, 'x')), dir.Path("long"));
        });
        EXPECT_TRUE(e.contains("Daten nach dem Ende")) << stream.size() << ' ' << e.toStdString();
    }
}
