// The archive writer behind TZipComponent: large files in pieces, the pipelined mode, names,
// checked against 7z, unzip, bsdtar and our own reader.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include "Archives.h"
#include "TestFolder.h"
#include "ZipComponent.h"
#include "ZipReader.h"
#include "ZipWriter.h"

namespace {

const char* OutcomeName(TZipFileOutcome o) {
    switch (o) {
    case TZipFileOutcome::Added:
        return "Added";
    case TZipFileOutcome::Skipped:
        return "Skipped";
    case TZipFileOutcome::Broken:
        return "Broken";
    case TZipFileOutcome::Dropped:
        return "Dropped";
    }
    return "?";
}

class ZipWriter : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(src.IsValid() && out.IsValid());
        zip.ZipFileName = out.Path(QStringLiteral("Daten.Zip"));
        zip.BaseFolder = src.Path() + u'/';
        zip.OnMessage = [this](TZMMessageKind, const QString& m) { messages << m; };
        zip.OnFileDone = [this](const QString& path, TZipFileOutcome o) {
            outcomes << QFileInfo(path).fileName() + u'=' + QString::fromLatin1(OutcomeName(o));
        };
    }
    void SubmitAll() {
        for (const QString& rel : src.Files())
            zip.Submit(src.Path(rel));
        zip.Drain();
    }
    // Every peer and our own reader accept the archive and give back the source's files, which
    // are the expected ones.
    void ExpectPeersAgree(const QStringList& expected, const QString& password = {}) {
        ASSERT_EQ(src.Files(), expected);
        ExpectArchiveHolds(zip.ZipFileName, src, {}, password);
        if (password.isEmpty()) {
            TestFolder b;
            QString log;
            ASSERT_EQ(RunCommand(QStringLiteral("bsdtar -xf ") + Quoted(zip.ZipFileName) +
                                     QStringLiteral(" -C ") + Quoted(b.Path()),
                                 &log),
                      0)
                << log.toStdString();
            EXPECT_EQ(b.Files(), expected);
            for (const QString& rel : expected)
                EXPECT_EQ(b.Read(rel), src.Read(rel)) << "bsdtar " << rel.toStdString();
        }
        TZipReader reader;
        reader.Password = password;
        reader.OnMessage = [](TZipReaderMessageKind, const QString& m) {
            ADD_FAILURE() << m.toStdString();
        };
        ASSERT_TRUE(reader.Open(zip.ZipFileName));
        TestFolder x;
        EXPECT_EQ(reader.Extract(x.Path()), expected.size());
        EXPECT_EQ(x.Files(), expected);
        for (const QString& rel : expected)
            EXPECT_EQ(x.Read(rel), src.Read(rel)) << "reader " << rel.toStdString();
    }

    TestFolder src, out;
    TZipComponent zip;
    QStringList messages, outcomes;
};

// Sizes around the piece boundaries, held (read whole first) and streamed, stored and deflated,
// with and without a password, on one worker and on several.
TEST_F(ZipWriter, LargeFilesInPiecesRoundTrip) {
    const int piece = 64 * 1024;
    src.Write(QStringLiteral("klein.txt"), PackableText(1000));
    src.Write(QStringLiteral("leer.txt"), QByteArray());
    src.Write(QStringLiteral("genau.txt"), PackableText(3 * piece, 1));
    src.Write(QStringLiteral("eins mehr.txt"), PackableText(piece + 1, 2));
    src.Write(QStringLiteral("a/gross.log"), PackableText(10 * piece + 77, 3));
    src.Write(QStringLiteral("a/gespeichert.zip"), Noise(4 * piece + 5, 4));
    src.Write(QStringLiteral("a/rauschen.bin"), Noise(5 * piece - 3, 5));
    src.Write(QStringLiteral("a/ein Stück.bin"), Noise(piece, 7)); // one piece, does not pack
    src.Write(QStringLiteral("a/strom.log"),
              PackableText(7 * piece + 9, 6)); // above WholeReadLimit
    const QStringList all = src.Files();
    struct Case {
        int threads;
        const char* password;
    } cases[] = {{1, ""}, {4, ""}, {1, "Geheim ä1"}, {4, "Geheim ä1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.threads << " threads, password '" << c.password << "'");
        zip.Threads = c.threads;
        zip.PieceSize = piece;
        zip.WholeReadLimit = 6 * piece;
        zip.Password = QString::fromUtf8(c.password);
        zip.AddOptions = TZipComponent::AddDirNames |
                         (zip.Password.isEmpty() ? 0u : unsigned(TZipComponent::AddEncrypt));
        outcomes.clear();
        SubmitAll();
        EXPECT_EQ(outcomes.filter(QStringLiteral("=Added")).size(), all.size())
            << outcomes.join(u' ').toStdString();
        zip.Commit();
        ExpectPeersAgree(all, zip.Password);
        EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
    }
}

// Packed size of the archive's one entry.
qint64 PackedSizeOf(const QString& archive) {
    TZipReader reader;
    if (!reader.Open(archive) || reader.Count() != 1) return -1;
    return reader.Entry(0).PackedSize;
}

// zlib's level 6 over the bytes in one stream, as the archives were packed before.
qint64 ZlibOneStream(const QByteArray& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int r = deflate(&z, Z_FINISH);
    const qint64 n = r == Z_STREAM_END ? qint64(z.total_out) : -1;
    deflateEnd(&z);
    return n;
}

// zlib's raw inflate of a whole stream; empty when it is not one complete stream.
QByteArray InflateRaw(const QByteArray& packed, qsizetype size) {
    z_stream z{};
    inflateInit2(&z, -15);
    QByteArray out(size + 1, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    z.avail_in = uInt(packed.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int r = inflate(&z, Z_FINISH);
    const bool whole = r == Z_STREAM_END && z.avail_in == 0;
    out.truncate(qsizetype(z.total_out));
    inflateEnd(&z);
    return whole ? out : QByteArray();
}

// On its own thread the writer puts the same bytes in the file, in the order of the calls:
// small writes gathered, large arrays handed over shared, raw data copied. A write that fails
// there raises at the latest from Finish.
TEST(ZipWriterThread, SameBytesAndFailuresRaise) {
    TestFolder out;
    const QByteArray big = Noise(600000, 3), mid = Noise(40000, 4);
    const auto write = [&](TZipWriter& w) {
        for (int i = 0; i < 40; ++i) {
            TZipEntryHeader h;
            h.Name = "e" + QByteArray::number(i);
            h.Deflated = false;
            w.BeginEntry(h);
            const QByteArray data = i % 4 == 0   ? big.left(20000 + i * 9000)
                                    : i % 4 == 1 ? QByteArray::fromRawData(mid.constData(), 30000)
                                    : i % 4 == 2 ? PackableText(100 + i)
                                                 : QByteArray();
            w.Write(data);
            if (i % 5 == 0) w.Write(big.constData() + i, 300000);
            w.EndEntry(0, data.size() + (i % 5 == 0 ? 300000 : 0), 0);
        }
        w.Finish();
    };
    QByteArray bytes[2];
    for (const bool own : {false, true}) {
        QFile f(out.Path(own ? "own.zip" : "caller.zip"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        TZipWriter w(f.handle(), own);
        write(w);
        f.close();
        bytes[own] = out.Read(own ? "own.zip" : "caller.zip");
    }
    EXPECT_GT(bytes[0].size(), 4000000);
    EXPECT_TRUE(bytes[0] == bytes[1]);

    out.Write(QStringLiteral("nur.zip"), "");
    QFile f(out.Path("nur.zip"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    TZipWriter w(f.handle(), true);
    EXPECT_THROW(write(w), TZipWriteError);
}

// Pieces joined in order are one stream, wherever in its last byte a piece's data ends:
// tiny pieces (fixed codes), text, noise (stored blocks), runs of one byte.
TEST(Deflater, PiecesJoinIntoOneStream) {
    QByteArray mixed = PackableText(40000, 1) + Noise(30000, 2) + QByteArray(20000, 'a');
    struct Case {
        const char* what;
        QByteArray data;
        qsizetype piece;
    } cases[] = {
        {"bytes", PackableText(300, 3), 1},
        {"short", PackableText(5000, 4), 37},
        {"text", PackableText(200000, 5), 4093},
        {"noise", Noise(100000, 6), 9999},
        {"mixed", mixed, 3001},
        {"mixed large", mixed, 65536},
    };
    for (const Case& c : cases) {
        TDeflater d;
        QByteArray packed;
        for (qsizetype at = 0; at < c.data.size(); at += c.piece) {
            const qsizetype n = qMin(c.piece, c.data.size() - at);
            const QByteArray before = c.data.mid(qMax<qsizetype>(0, at - DeflateWindow),
                                                 qMin<qsizetype>(at, DeflateWindow));
            d.Piece(before, c.data.constData() + at, n, at + n == c.data.size(), packed);
        }
        EXPECT_EQ(InflateRaw(packed, c.data.size()), c.data) << c.what;
    }
}

TEST_F(ZipWriter, PiecesCostNoRatio) {
    // Pieces primed with the bytes before them pack nearly as well as one stream, and a file
    // in one piece packs no worse than zlib's level 6 did, text and noise alike.
    const QByteArray samples[] = {PackableText(4 << 20, 9), Noise(1 << 20, 3)};
    for (const QByteArray& data : samples) {
        src.Write(QStringLiteral("gross.log"), data);
        const qint64 zlib = ZlibOneStream(data);
        zip.PieceSize = 256 * 1024;
        SubmitAll();
        zip.Commit();
        const qint64 pieces = PackedSizeOf(zip.ZipFileName);
        ExpectArchiveHolds(zip.ZipFileName, src);
        zip.PieceSize = 64 << 20;
        SubmitAll();
        zip.Commit();
        const qint64 whole = PackedSizeOf(zip.ZipFileName);
        ExpectArchiveHolds(zip.ZipFileName, src);
        EXPECT_LT(pieces, zlib * 1.01) << pieces << " / " << zlib;
        EXPECT_GT(whole, 0);
        EXPECT_LE(whole, zlib) << whole << " / " << zlib;
    }
}

TEST_F(ZipWriter, EverySubmittedFileGetsOneOutcomeInOrder) {
    src.Write(QStringLiteral("1.txt"), PackableText(500));
    src.Write(QStringLiteral("2.txt"), PackableText(300 * 1024, 1));
    src.Write(QStringLiteral("3.txt"), PackableText(200));
    src.Write(QStringLiteral("4.txt"), PackableText(100));
    ASSERT_EQ(::mkfifo(QFile::encodeName(src.Path(QStringLiteral("fifo"))).constData(), 0600), 0);
    zip.PieceSize = 64 * 1024;
    zip.WholeReadLimit = 128 * 1024; // 2.txt is streamed
    zip.ReadFault = [](const QString& path, qint64 offset) {
        return path.endsWith(QStringLiteral("2.txt")) && offset >= 128 * 1024;
    };
    for (const char* name : {"1.txt", "weg.txt", "fifo", "2.txt", "3.txt", "4.txt"})
        zip.Submit(src.Path(QString::fromLatin1(name)));
    zip.Drain();
    EXPECT_EQ(outcomes, (QStringList{"1.txt=Added", "weg.txt=Skipped", "fifo=Skipped",
                                     "2.txt=Broken", "3.txt=Dropped", "4.txt=Dropped"}));
    ASSERT_EQ(messages.size(), 3) << messages.join(u'\n').toStdString();
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Kann ") + src.Path("weg.txt")));
    EXPECT_TRUE(messages[1].contains(QStringLiteral("keine reguläre Datei")));
    EXPECT_TRUE(messages[2].startsWith(QStringLiteral("Lesefehler in ") + src.Path("2.txt")));
    EXPECT_EQ(zip.BrokenReason(), messages[2]);
    // Nothing more goes in, and the stream cannot be committed.
    zip.Submit(src.Path(QStringLiteral("1.txt")));
    EXPECT_EQ(outcomes.last(), QStringLiteral("1.txt=Dropped"));
    EXPECT_THROW(zip.Commit(), std::runtime_error);
    EXPECT_EQ(out.Files(), QStringList{});

    // Without the file that broke off, the next stream is sound.
    zip.ReadFault = nullptr;
    outcomes.clear();
    for (const char* name : {"1.txt", "3.txt", "4.txt"})
        zip.Submit(src.Path(QString::fromLatin1(name)));
    zip.Commit(); // takes in what is still in flight
    EXPECT_EQ(outcomes, (QStringList{"1.txt=Added", "3.txt=Added", "4.txt=Added"}));
    ExpectCommandPasses(QStringLiteral("unzip -t ") + Quoted(zip.ZipFileName));
}

TEST_F(ZipWriter, CancelDropsWhatIsInFlight) {
    for (int i = 0; i < 20; ++i)
        src.Write(QStringLiteral("f%1.txt").arg(i, 2, 10, QChar(u'0')), PackableText(20000, i));
    zip.Threads = 2;
    zip.MaxInFlight = 4;
    int added = 0;
    zip.OnFileDone = [&](const QString&, TZipFileOutcome o) {
        outcomes << QString::fromLatin1(OutcomeName(o));
        if (o == TZipFileOutcome::Added && ++added == 3) zip.Cancel();
    };
    SubmitAll();
    EXPECT_EQ(outcomes.size(), 20);
    EXPECT_EQ(outcomes.count(QStringLiteral("Added")), 3);
    EXPECT_EQ(outcomes.count(QStringLiteral("Dropped")), 17);
    // What was written before the cancel is a sound archive.
    zip.Commit();
    ExpectCommandPasses(QStringLiteral("unzip -t ") + Quoted(zip.ZipFileName));
}

TEST_F(ZipWriter, ACallerWaitingForAWorkerHearsFromItAndCanCancel) {
    src.Write(QStringLiteral("gross.bin"), Noise(16 << 20, 7)); // one piece, long to deflate
    src.Write(QStringLiteral("z.txt"), PackableText(100));
    zip.PieceSize = 32 << 20;
    int waits = 0;
    zip.OnWaiting = [&] {
        if (++waits == 1) zip.Cancel();
    };
    SubmitAll();
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(outcomes, (QStringList{"gross.bin=Dropped", "z.txt=Dropped"}));
}

TEST_F(ZipWriter, FileChangingWhileReadIsNeverStoredWrong) {
    const int piece = 64 * 1024;
    src.Write(QStringLiteral("a.txt"), PackableText(100));
    src.Write(QStringLiteral("b.log"), PackableText(4 * piece, 1));
    src.Write(QStringLiteral("c.log"), PackableText(4 * piece, 2));
    src.Write(QStringLiteral("d.txt"), PackableText(100, 3));
    zip.Threads = 1; // pieces are read in order
    zip.PieceSize = piece;
    const QString b = src.Path(QStringLiteral("b.log")), c = src.Path(QStringLiteral("c.log"));
    zip.ReadFault = [&](const QString& path, qint64 offset) {
        // b.log changes after its first piece was read; c.log shrinks to 2.5 pieces.
        if (path == b && offset == piece - DeflateWindow) {
            QFile f(b);
            if (f.open(QIODevice::ReadWrite)) {
                f.seek(piece - 10);
                f.write("GEÄNDERT");
            }
        }
        if (path == c && offset == 2 * piece) QFile::resize(c, 2 * piece + piece / 2);
        return false;
    };
    SubmitAll();
    EXPECT_EQ(outcomes,
              (QStringList{"a.txt=Added", "b.log=Skipped", "c.log=Added", "d.txt=Added"}));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Lesefehler in ") + b));
    zip.Commit();
    QFile::remove(b);
    ExpectPeersAgree(src.Files());
}

TEST_F(ZipWriter, NamesBelowTheBaseFolderAndTheirFlag) {
    src.Write(QStringLiteral("Ordner/Grüße.txt"), "x");
    src.Write(QStringLiteral("plain.txt"), "y");
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(out.Path()); // the current folder does not matter with a base folder
    SubmitAll();
    zip.Commit();
    QDir::setCurrent(cwd);
    QString log;
    RunCommand(QStringLiteral("7z l -slt ") + Quoted(zip.ZipFileName), &log);
    EXPECT_TRUE(log.contains(QStringLiteral("Path = Ordner/Grüße.txt\n"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Path = plain.txt\n")));

    // Names are bytes: the UTF-8 flag is set only for valid UTF-8 beyond ASCII.
    const QString arc = out.Path(QStringLiteral("roh.zip"));
    QFile f(arc);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    {
        TZipWriter w(f.handle());
        for (const QByteArray& name : {QByteArray("ascii"), QByteArray("gr\xc3\xbc\xc3\x9f"),
                                       QByteArray("gr\xfc\xdf"), QByteArray("\xc0\xaf")}) {
            TZipEntryHeader h;
            h.Name = name;
            h.Deflated = false;
            w.BeginEntry(h);
            w.EndEntry(0, 0, 0);
        }
        w.Finish();
    }
    f.close();
    const QByteArray bytes = out.Read(QStringLiteral("roh.zip"));
    QList<bool> utf8;
    for (qsizetype at = 0; (at = bytes.indexOf("PK\x03\x04", at)) >= 0; at += 4)
        utf8 << ((uchar(bytes[at + 7]) & 0x08) != 0);
    EXPECT_EQ(utf8, (QList<bool>{false, true, false, false}));
    ExpectCommandPasses(QStringLiteral("7z t ") + Quoted(arc));
}

// The key derivation against published vectors and an independent implementation, including
// passwords of a block and longer (hashed into the key first) and outputs of several blocks.
TEST(KeyDerivation, MatchesPbkdf2HmacSha1) {
    QByteArray salt16;
    for (int i = 0; i < 16; ++i)
        salt16 += char(i);
    struct Case {
        QByteArray password, salt;
        int iterations, length;
        const char* hex;
    } cases[] = {
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {QByteArray("pass\0word", 9), QByteArray("sa\0lt", 5), 4096, 16,
         "56fa6aa75548099dcc37d7f03425e0c3"},
        {QByteArray(64, 'x'), "salt", 2, 20, "5f4769cde8d0d3ad6c08682be28b5877e86bc32e"},
        {"Ein sehr langes Passwort, das l\xc3\xa4nger ist als ein Block von 64 Bytes!", salt16,
         1000, 66,
         "7b00b8b297350dab3a1f29c24686d430703568288e691efb204b0fac23342ce6ba16eb8d3c34d2908094335b"
         "ad971760ad64cdaad94528a27772529895aa4f980b1e"},
    };
    // Both ways: the one this machine takes and the one without hash instructions.
    for (const Case& c : cases) {
        EXPECT_EQ(Pbkdf2Sha1(c.password, c.salt, c.iterations, c.length).toHex(), QByteArray(c.hex))
            << c.password.toStdString();
        EXPECT_EQ(Pbkdf2Sha1Portable(c.password, c.salt, c.iterations, c.length).toHex(),
                  QByteArray(c.hex))
            << c.password.toStdString();
    }
    if (!Pbkdf2Sha1Accelerated()) std::puts("no SHA instructions here: one way tested twice");
}

} // namespace
