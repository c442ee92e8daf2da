// The restore's archive reader against archives written by other tools, good and hostile.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtEndian>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include "Archives.h"
#include "TestFolder.h"
#include "ZipDirectory.h"
#include "ZipReader.h"
#include "ZipWriter.h"

namespace {

QByteArray randomBytes(int n, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        b[i] = char(gen.bounded(256));
    return b;
}

QStringList filesBelow(const QString& root) {
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    return out;
}

// A reader that keeps its messages and their kinds.
struct Reader {
    TZipReader r;
    QStringList messages;
    QList<TZipReaderMessageKind> kinds;
    Reader() {
        r.OnMessage = [this](TZipReaderMessageKind k, const QString& m) {
            messages << m;
            kinds << k;
        };
    }
    std::string all() const { return messages.join(u'\n').toStdString(); }
    bool said(const QString& part) const {
        return std::any_of(messages.begin(), messages.end(),
                           [&](const QString& m) { return m.contains(part); });
    }
};

// Every path below a folder, folders included, with each file's contents.
QMap<QString, QByteArray> snapshot(const QString& root) {
    QMap<QString, QByteArray> out;
    QDir dir(root);
    const auto infos = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& fi : infos) {
        if (fi.isSymLink()) {
            out.insert(fi.fileName(), "link:" + fi.symLinkTarget().toUtf8());
        } else if (fi.isDir()) {
            out.insert(fi.fileName() + u'/', {});
            const auto sub = snapshot(fi.filePath());
            for (auto it = sub.begin(); it != sub.end(); ++it)
                out.insert(fi.fileName() + u'/' + it.key(), it.value());
        } else {
            QFile f(fi.filePath());
            out.insert(fi.fileName(), f.open(QIODevice::ReadOnly) ? f.readAll() : "?");
        }
    }
    return out;
}

// A source tree with sub-folders, an empty file and dates on even seconds.
struct Source {
    TestFolder t;
    QDateTime when = QDateTime(QDate(2012, 11, 17), QTime(14, 3, 22));
    QMap<QString, QByteArray> files;
    Source() {
        files.insert(QStringLiteral("a.txt"), QByteArray(5000, 'a'));
        files.insert(QStringLiteral("sub/b.bin"), randomBytes(70000, 1));
        files.insert(QStringLiteral("sub/deeper/c.txt"), "c");
        files.insert(QStringLiteral("empty.dat"), QByteArray());
        for (auto it = files.begin(); it != files.end(); ++it) {
            // Dated after writing: a date set before the file is flushed would not hold.
            QFile f(t.Write(QStringLiteral("src/") + it.key(), it.value()));
            f.open(QIODevice::ReadWrite);
            f.setFileTime(when, QFileDevice::FileModificationTime);
        }
    }
    QString Zip(const QString& name, const QString& options = {}) {
        const QString archive = t.Path(name);
        QString out;
        const int rc =
            RunCommand(QStringLiteral("cd %1 && zip -q -r %2 %3 .")
                           .arg(Quoted(t.Path(QStringLiteral("src"))), options, Quoted(archive)),
                       &out);
        EXPECT_EQ(rc, 0) << out.toStdString();
        return archive;
    }
};

void expectRestored(const Source& s, const QString& dest) {
    for (auto it = s.files.begin(); it != s.files.end(); ++it) {
        QFile f(dest + u'/' + it.key());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << it.key().toStdString();
        EXPECT_EQ(f.readAll(), it.value()) << it.key().toStdString();
        EXPECT_EQ(QFileInfo(f).lastModified(), s.when) << it.key().toStdString();
    }
}

// Writes an archive with python's zipfile; entries are (name, data[, external attr[, host[,
// extra field[, date and time]]]]), made on Unix unless a host is given (0: MS-DOS).
QString pythonZip(const TestFolder& t, const QString& name, const QString& entries) {
    const QString script = t.Path(QStringLiteral("make.py"));
    QFile f(script);
    f.open(QIODevice::WriteOnly);
    // u(b'...') gives a name by its bytes, stored as they are and without the UTF-8 flag.
    f.write(QStringLiteral("import zipfile, sys\n"
                           "u = lambda b: b.decode('utf-8', 'surrogateescape')\n"
                           "def names(i):\n"
                           "    try: return i.filename.encode('ascii'), i.flag_bits\n"
                           "    except UnicodeEncodeError: pass\n"
                           "    try: return i.filename.encode('utf-8'), i.flag_bits | 0x800\n"
                           "    except UnicodeEncodeError: pass\n"
                           "    return i.filename.encode('utf-8', 'surrogateescape'), i.flag_bits\n"
                           "zipfile.ZipInfo._encodeFilenameFlags = names\n"
                           "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                           "for e in %1:\n"
                           "    i = zipfile.ZipInfo(e[0], (2012, 11, 17, 14, 3, 22))\n"
                           "    if len(e) > 2:\n"
                           "        i.create_system = 3\n"
                           "        i.external_attr = e[2] << 16\n"
                           "    if len(e) > 3: i.create_system = e[3]\n"
                           "    if len(e) > 4: i.extra = e[4]\n"
                           "    if len(e) > 5: i.date_time = e[5]\n"
                           "    i.compress_type = e[6] if len(e) > 6 else zipfile.ZIP_DEFLATED\n"
                           "    z.writestr(i, e[1])\n"
                           "z.close()\n")
                .arg(entries)
                .toUtf8());
    f.close();
    const QString archive = t.Path(name);
    QString out;
    EXPECT_EQ(
        RunCommand(QStringLiteral("python3 %1 %2").arg(Quoted(script), Quoted(archive)), &out), 0)
        << out.toStdString();
    return archive;
}

// Writes the entries with pythonZip and opens the archive.
bool openPython(Reader& rd, const TestFolder& t, const QString& entries,
                const QString& name = QStringLiteral("d.zip")) {
    return rd.r.Open(pythonZip(t, name, entries));
}

} // namespace

TEST(ZipReader, ListsEntriesWithSizesDatesAndFolders) {
    Source s;
    Reader rd;
    ASSERT_TRUE(rd.r.Open(s.Zip(QStringLiteral("d.zip"))));
    QMap<QString, ZipEntry> byName;
    for (int i = 0; i < rd.r.Count(); ++i)
        byName.insert(rd.r.Entry(i).Name, rd.r.Entry(i));
    for (auto it = s.files.begin(); it != s.files.end(); ++it) {
        ASSERT_TRUE(byName.contains(it.key())) << it.key().toStdString();
        const ZipEntry& e = byName[it.key()];
        EXPECT_EQ(e.UnpackedSize, it.value().size());
        EXPECT_EQ(e.DateTime(), s.when);
        EXPECT_FALSE(e.IsDir);
        EXPECT_FALSE(e.Encrypted);
    }
    EXPECT_LT(byName[QStringLiteral("a.txt")].PackedSize, 5000);
    EXPECT_TRUE(byName[QStringLiteral("sub/")].IsDir);
}

TEST(ZipReader, ExtractsAllOrNamedEntriesIntoTheirFoldersAndOverwrites) {
    Source s;
    const QString archive = s.Zip(QStringLiteral("d.zip"));
    Reader rd;
    ASSERT_TRUE(rd.r.Open(archive));
    const QString all = s.t.Path(QStringLiteral("all"));
    // Folders count as created, not as extracted files.
    EXPECT_EQ(rd.r.Extract(all), 4);
    expectRestored(s, all);
    EXPECT_TRUE(rd.messages.isEmpty()) << rd.all();

    const QString some = s.t.Path(QStringLiteral("some"));
    s.t.Write(QStringLiteral("some/sub/deeper/c.txt"), "old and longer");
    EXPECT_EQ(rd.r.Extract(some, {QStringLiteral("sub/deeper/c.txt"), QStringLiteral("empty.dat")}),
              2);
    EXPECT_EQ(s.t.Files(QStringLiteral("some")),
              QStringList({QStringLiteral("empty.dat"), QStringLiteral("sub/deeper/c.txt")}));
    EXPECT_EQ(s.t.Read(QStringLiteral("some/sub/deeper/c.txt")), "c");

    EXPECT_EQ(rd.r.Extract(some, {QStringLiteral("nicht/da.txt")}), 0);
    EXPECT_TRUE(rd.said(QStringLiteral("nicht/da.txt")));
}

TEST(ZipReader, TraditionalAndAesPasswords) {
    Source s;
    const QString trad = s.Zip(QStringLiteral("trad.zip"), QStringLiteral("-P geheim"));
    const QString aes = s.t.Path(QStringLiteral("aes.zip"));
    QString out;
    ASSERT_EQ(RunCommand(QStringLiteral("cd %1 && 7z a -tzip -mem=AES256 -pgeheim %2 . >/dev/null")
                             .arg(Quoted(s.t.Path(QStringLiteral("src"))), Quoted(aes)),
                         &out),
              0)
        << out.toStdString();
    for (const QString& archive : {trad, aes}) {
        SCOPED_TRACE(archive.toStdString());
        Reader rd;
        ASSERT_TRUE(rd.r.Open(archive));
        EXPECT_TRUE(rd.r.Entry(0).Encrypted || rd.r.Entry(0).IsDir);

        rd.r.Password = QStringLiteral("geheim");
        const QString good = archive + QStringLiteral(".good");
        EXPECT_EQ(rd.r.Extract(good), 4) << rd.all();
        expectRestored(s, good);

        // Without or with a wrong password nothing is written and the log says why.
        rd.r.Password.clear();
        const QString none = archive + QStringLiteral(".none");
        EXPECT_EQ(rd.r.Extract(none), 0);
        EXPECT_TRUE(rd.said(QStringLiteral("Kein Passwort für verschlüsselte Datei sub/b.bin")))
            << rd.all();
        rd.r.Password = QStringLiteral("falsch");
        const QString wrong = archive + QStringLiteral(".wrong");
        // A wrong traditional password may pass its one-byte check; the checksum then fails
        // (and an empty file, which has nothing to check, comes out right).
        EXPECT_LE(rd.r.Extract(wrong), 1);
        EXPECT_TRUE(rd.said(QStringLiteral("Falsches Passwort für sub/b.bin")) ||
                    (rd.said(QStringLiteral("sub/b.bin: ")) &&
                     rd.said(QStringLiteral("(falsches Passwort?)"))))
            << rd.all();
        // A flipped byte in an entry's data is caught (checksum or authentication code).
        const QString damaged = QFileInfo(archive).baseName() + QStringLiteral(".damaged");
        QByteArray bytes = s.t.Read(QFileInfo(archive).fileName());
        const qsizetype at = bytes.indexOf("sub/b.bin") + 9 + 40000;
        ASSERT_GT(bytes.size(), at);
        bytes[at] = char(bytes[at] ^ 0x01);
        Reader broken;
        ASSERT_TRUE(broken.r.Open(s.t.Write(damaged + QStringLiteral(".zip"), bytes)));
        broken.r.Password = QStringLiteral("geheim");
        EXPECT_EQ(broken.r.Extract(s.t.Path(damaged)), 3);
        EXPECT_FALSE(s.t.Exists(damaged + QStringLiteral("/sub/b.bin")));
        EXPECT_TRUE(broken.said(QStringLiteral("Fehler beim Entpacken von sub/b.bin")))
            << broken.all();
        // Past the password check, a failing AES entry is as likely damaged.
        EXPECT_TRUE(broken.said(
            archive == aes ? QStringLiteral("(falsches Passwort oder beschädigter Eintrag)")
                           : QStringLiteral("(falsches Passwort?)")))
            << broken.all();
        EXPECT_TRUE(filesBelow(none).isEmpty());
        const QStringList wrongFiles = filesBelow(wrong);
        EXPECT_TRUE(wrongFiles.isEmpty() ||
                    wrongFiles == QStringList({wrong + QStringLiteral("/empty.dat")}));
    }
}

TEST(ZipReader, HostileNamesWriteNothingOutsideTheTarget) {
    TestFolder t;
    t.Write(QStringLiteral("outside/keep.txt"), "keep");
    Reader rd;
    ASSERT_TRUE(openPython(
        rd, t,
        QStringLiteral("[('../evil', b'x'), ('..\\\\evil2', b'x', 0, 0), ('/etc/x', b'x'), "
                       "('C:\\\\x', b'x'), ('c:/y', b'x'), ('a/../../evil3', b'x'), "
                       "('good/./ok.txt', b'ok'), ('dir\\\\win.txt', b'win', 0, 0), "
                       // Made on Unix, a backslash is part of the file's name.
                       "('back\\\\slash.txt', b'unix', 0o100644), "
                       "('back/slash.txt', b'folder'), ('..\\\\x', b'dots', 0o100644)]")));
    const QString target = t.MakeDir(QStringLiteral("outside/target"));
    const auto before = snapshot(t.Path());
    EXPECT_EQ(rd.r.Extract(target), 5);

    auto after = snapshot(t.Path());
    EXPECT_EQ(after.take(QStringLiteral("outside/target/good/")), QByteArray());
    EXPECT_EQ(after.take(QStringLiteral("outside/target/good/ok.txt")), "ok");
    EXPECT_EQ(after.take(QStringLiteral("outside/target/dir/")), QByteArray());
    EXPECT_EQ(after.take(QStringLiteral("outside/target/dir/win.txt")), "win");
    EXPECT_EQ(after.take(QStringLiteral("outside/target/back\\slash.txt")), "unix");
    EXPECT_EQ(after.take(QStringLiteral("outside/target/back/")), QByteArray());
    EXPECT_EQ(after.take(QStringLiteral("outside/target/back/slash.txt")), "folder");
    EXPECT_EQ(after.take(QStringLiteral("outside/target/..\\x")), "dots");
    EXPECT_EQ(after, before);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/etc/x")));
    for (const char* name : {"../evil", "..\\evil2", "/etc/x", "C:\\x", "c:/y", "a/../../evil3"})
        EXPECT_TRUE(rd.said(QStringLiteral("Überspringe ") + QString::fromUtf8(name) +
                            QStringLiteral(": Pfad außerhalb")))
            << name;
}

// Names that are not UTF-8 keep every protection of the restore, and a name this file system
// cannot hold is named, escaped, in its line.
TEST(ZipReader, RawNamesKeepTheProtectionsAndAreNamedEscaped) {
    TestFolder t;
    Reader rd;
    ASSERT_TRUE(
        openPython(rd, t,
                   QStringLiteral("[(u(b'../\\xff'), b'x'), (u(b'\\xff/../../evil'), b'x'), "
                                  "(u(b'\\xfelink'), b'/etc', 0o120777), "
                                  "(u(b'\\xff\\xfedir/' + b'\\xff' * 300), b'long'), "
                                  "(u(b'\\xff\\xfedir/ok'), b'ok')]")));
    const QString target = t.MakeDir(QStringLiteral("target"));
    EXPECT_EQ(rd.r.Extract(target), 1);
    EXPECT_EQ(t.FileBytes(QStringLiteral("target")).keys(), QList<QByteArray>{"\xFF\xFE"
                                                                              "dir/ok"});
    EXPECT_FALSE(t.Exists(QStringLiteral("evil")));
    for (const char* line :
         {"Überspringe ../\\xFF: Pfad außerhalb", "Überspringe \\xFF/../../evil: Pfad außerhalb",
          "Überspringe \\xFElink: symbolische Verknüpfung"})
        EXPECT_TRUE(rd.said(QString::fromUtf8(line))) << line;
    EXPECT_TRUE(rd.said(QStringLiteral("Fehler beim Schreiben von ") + target +
                        QStringLiteral("/\\xFF\\xFEdir/") + QStringLiteral("\\xFF").repeated(300) +
                        QStringLiteral(": ") +
                        QString::fromLocal8Bit(std::strerror(ENAMETOOLONG))));
}

TEST(ZipReader, FilesGetThePermissionsTheyWereBackedUpWith) {
    TestFolder t;
    // Replacing a file takes the archive's permissions, not the old file's.
    t.Write(QStringLiteral("target/geheim.key"), "alt");
    QFile::setPermissions(t.Path(QStringLiteral("target/geheim.key")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    Reader rd;
    ASSERT_TRUE(openPython(
        rd, t,
        QStringLiteral("[(u(b'geheim.key'), b'k', 0o100600), (u(b'bin/start'), b'#!', 0o100755), "
                       "(u(b'nurlesen'), b'r', 0o444)]")));
    EXPECT_EQ(rd.r.Extract(t.Path(QStringLiteral("target"))), 3);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const auto mode = [&](const char* name) {
        struct stat st {};
        ::stat(
            QFile::encodeName(t.Path(QStringLiteral("target/") + QLatin1String(name))).constData(),
            &st);
        return int(st.st_mode & 0777);
    };
    EXPECT_EQ(mode("geheim.key"), 0600 & ~mask);
    EXPECT_EQ(mode("bin/start"), 0755 & ~mask);
    EXPECT_EQ(mode("nurlesen"), 0444 & ~mask);
    EXPECT_EQ(t.Read(QStringLiteral("target/geheim.key")), "k");
}

TEST(ZipReader, NoLinksCreatedNorFollowed) {
    TestFolder t;
    Reader rd;
    ASSERT_TRUE(
        openPython(rd, t,
                   QStringLiteral("[('link', b'/etc', 0o120777), ('link/passwd', b'x'), "
                                  "('planted/f.txt', b'x'), ('plain.txt', b'p', 0o100644)]")));
    const QString target = t.MakeDir(QStringLiteral("target"));
    const QString outside = t.MakeDir(QStringLiteral("outside"));
    ASSERT_TRUE(QFile::link(outside, target + QStringLiteral("/planted")));
    const QString victim = t.Write(QStringLiteral("victim.txt"), "unchanged");
    ASSERT_TRUE(QFile::link(victim, target + QStringLiteral("/plain.txt")));
    EXPECT_TRUE(rd.r.Entry(0).IsLink);
    EXPECT_EQ(rd.r.Extract(target), 2); // plain.txt and link/passwd as a real folder
    EXPECT_FALSE(QFileInfo(target + QStringLiteral("/link")).isSymLink());
    EXPECT_EQ(t.Read(QStringLiteral("target/link/passwd")), "x");
    // A link where a file is restored is replaced, not written through.
    EXPECT_EQ(t.Read(QStringLiteral("target/plain.txt")), "p");
    EXPECT_FALSE(QFileInfo(target + QStringLiteral("/plain.txt")).isSymLink());
    EXPECT_EQ(t.Read(QStringLiteral("victim.txt")), "unchanged");
    EXPECT_TRUE(QDir(outside).isEmpty());
    EXPECT_TRUE(rd.said(QStringLiteral("Überspringe link: symbolische Verknüpfung")));
    EXPECT_TRUE(rd.said(QStringLiteral("Überspringe planted/f.txt: Verknüpfung im Zielpfad")));
}

TEST(ZipReader, DamagedOrOversizedEntryLeavesTheOldFile) {
    TestFolder t;
    const QByteArray data = randomBytes(20000, 7);
    QString archive =
        pythonZip(t, QStringLiteral("d.zip"),
                  QStringLiteral("[('first.txt', b'1'), ('data.bin', open(%1,'rb').read()), "
                                 "('big.txt', b'A' * 100000)]")
                      .arg(Quoted(t.Write(QStringLiteral("data.in"), data))));
    // Flip one byte in the middle of data.bin's compressed bytes; declare big.txt as 10 bytes.
    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray zip = f.readAll();
    const qsizetype local = zip.indexOf("data.bin");
    ASSERT_GT(local, 0);
    zip[local + 8 + 10000] = char(zip[local + 8 + 10000] ^ 0x55);
    // Unpacked size field of big.txt's local (30-byte) and central (46-byte) headers.
    const auto declareTen = [&](const char* signature, qsizetype headerSize, qsizetype field) {
        for (qsizetype at = zip.indexOf(signature); at >= 0; at = zip.indexOf(signature, at + 4)) {
            if (zip.mid(at + headerSize, 7) != "big.txt") continue;
            zip.replace(at + field, 4, QByteArray("\x0a\0\0\0", 4));
        }
    };
    declareTen("PK\x03\x04", 30, 22);
    declareTen("PK\x01\x02", 46, 24);
    f.seek(0);
    f.write(zip);
    f.close();

    t.Write(QStringLiteral("target/data.bin"), "old data");
    Reader rd;
    ASSERT_TRUE(rd.r.Open(archive));
    EXPECT_EQ(rd.r.Extract(t.Path(QStringLiteral("target"))), 1);
    EXPECT_EQ(t.Files(QStringLiteral("target")),
              QStringList({QStringLiteral("data.bin"), QStringLiteral("first.txt")}));
    EXPECT_EQ(t.Read(QStringLiteral("target/data.bin")), "old data");
    EXPECT_TRUE(rd.said(QStringLiteral("Fehler beim Entpacken von data.bin")));
    EXPECT_TRUE(
        rd.said(QStringLiteral("Fehler beim Entpacken von big.txt: mehr Daten als angegeben")))
        << rd.all();
}

// An entry that fails its checks on the way to a name nobody held leaves no file there, nor
// anything else; entries above the size unpacked in one piece go through the stream.
TEST(ZipReader, ADamagedEntryForANewNameLeavesNothing) {
    struct Damage {
        const char* what;
        qsizetype field; // in the local (30-byte) header, or -1 for a byte of the data
        quint32 value;
        const char* said;
    };
    const Damage damages[] = {
        {"checksum", 14, 0x12345678, "CRC"},
        {"size too large", 22, 6000, "weniger Daten als angegeben"},
        {"size too small", 22, 10, "mehr Daten als angegeben"},
        {"data", -1, 0, "Fehler beim Entpacken von a.txt"},
    };
    TestFolder t;
    const QByteArray data = randomBytes(5000, 3);
    // Deflated and stored entries are both read whole before their file is made.
    for (const char* method : {"", ", 0o100644, 3, b'', (2012, 11, 17, 14, 3, 22), 0"}) {
        const QString sound = pythonZip(
            t, QStringLiteral("d.zip"),
            QStringLiteral(
                "[('a.txt', open(%1,'rb').read()%2), ('big.bin', bytes(range(256)) * 20000)]")
                .arg(Quoted(t.Write(QStringLiteral("a.in"), data)), QString::fromLatin1(method)));
        QFile f(sound);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray zip = f.readAll();
        f.close();
        for (const Damage& d : damages) {
            SCOPED_TRACE(std::string(d.what) + (*method ? " (stored)" : " (deflated)"));
            QByteArray bad = zip;
            if (d.field < 0) {
                bad[30 + 5 + 100] = char(bad[30 + 5 + 100] ^ 0x55);
            } else {
                // The same field in the central header, 2 bytes further on.
                const qsizetype central = bad.indexOf("PK\x01\x02");
                for (qsizetype at : {d.field, central + d.field + 2})
                    for (int i = 0; i < 4; ++i)
                        bad[at + i] = char(d.value >> (8 * i));
            }
            const QString archive = t.Write(QStringLiteral("bad.zip"), bad);
            const QString dest =
                t.Path(QStringLiteral("ziel-%1-%2").arg(d.field).arg(*method ? 's' : 'd'));
            Reader rd;
            ASSERT_TRUE(rd.r.Open(archive));
            EXPECT_EQ(rd.r.Extract(dest), 1) << rd.all();
            EXPECT_EQ(t.Files(QStringLiteral("ziel-%1-%2").arg(d.field).arg(*method ? 's' : 'd')),
                      QStringList({QStringLiteral("big.bin")}));
            EXPECT_EQ(QFileInfo(dest + QStringLiteral("/big.bin")).size(), 256 * 20000);
            EXPECT_TRUE(rd.said(QString::fromLatin1(d.said))) << rd.all();
        }
    }
}

TEST(ZipReader, EmptyUnreadableAndAborted) {
    TestFolder t;
    Reader rd;
    EXPECT_TRUE(openPython(rd, t, QStringLiteral("[]"), QStringLiteral("empty.zip")));
    EXPECT_EQ(rd.r.Count(), 0);
    EXPECT_EQ(rd.r.Extract(t.Path(QStringLiteral("e"))), 0);

    EXPECT_FALSE(rd.r.Open(t.Write(QStringLiteral("junk.zip"), "no archive at all")));
    EXPECT_EQ(rd.r.Count(), 0);
    EXPECT_TRUE(rd.said(QStringLiteral("junk.zip kann nicht gelesen werden")));
    EXPECT_EQ(rd.r.Extract(t.Path(QStringLiteral("j"))), 0);

    // An abort during the first file lets it finish and stops before the second.
    ASSERT_TRUE(openPython(rd, t,
                           QStringLiteral("[('1', b'a' * 200000), ('2', b'b'), ('3', b'c')]"),
                           QStringLiteral("three.zip")));
    QList<TZipReader::ProgressDetails> reports;
    rd.r.OnProgress = [&](const TZipReader::ProgressDetails& d) {
        reports << d;
        rd.r.Cancel();
    };
    EXPECT_EQ(rd.r.Extract(t.Path(QStringLiteral("a"))), 1);
    EXPECT_EQ(t.Files(QStringLiteral("a")), QStringList({QStringLiteral("1")}));
    ASSERT_GE(reports.size(), 2);
    EXPECT_EQ(reports.first().Kind, TZipReader::ProgressKind::NewItem);
    EXPECT_EQ(reports.first().ItemSize, 200000);
    EXPECT_EQ(reports.last().Written, 200000);
}

// What a killed extraction left behind goes at the next one into that folder, and only that:
// names of another pattern, folders and links stay, and nothing is removed through a link.
TEST(ZipReader, LeftoversOfAKilledExtractionAreRemoved) {
    TestFolder t;
    const QString archive =
        pythonZip(t, QStringLiteral("d.zip"), QStringLiteral("[('sub/neu.txt', b'neu')]"));
    const QStringList ours = {QStringLiteral("ziel/.zvrestore-Ab12Cd"),
                              QStringLiteral("ziel/fremd/tief/.zvrestore-zzzzzz")};
    const QStringList others = {
        QStringLiteral("ziel/.zvrestore-Ab12C"),   QStringLiteral("ziel/.zvrestore-Ab12Cde"),
        QStringLiteral("ziel/.zvrestore-Ab-2Cd"),  QStringLiteral("ziel/zvrestore-Ab12Cd"),
        QStringLiteral("ziel/sub/.zvrestore.txt"), QStringLiteral("draussen/.zvrestore-Ab12Cd")};
    for (const QString& f : ours + others)
        t.Write(f, "x");
    t.MakeDir(QStringLiteral("ziel/.zvrestore-Ordner"));
    ASSERT_TRUE(
        QFile::link(t.Path(QStringLiteral("draussen")), t.Path(QStringLiteral("ziel/link"))));
    ASSERT_TRUE(QFile::link(t.Path(QStringLiteral("draussen/.zvrestore-Ab12Cd")),
                            t.Path(QStringLiteral("ziel/.zvrestore-LinkAb"))));

    Reader rd;
    ASSERT_TRUE(rd.r.Open(archive));
    EXPECT_EQ(rd.r.Extract(t.Path(QStringLiteral("ziel"))), 1);
    for (const QString& f : ours)
        EXPECT_FALSE(t.Exists(f)) << f.toStdString();
    EXPECT_EQ(rd.messages,
              QStringList({QStringLiteral("Reste einer abgebrochenen Wiederherstellung entfernt: 2 "
                                          "Datei(en) in ") +
                           t.Path(QStringLiteral("ziel"))}));
    for (const QString& f : others)
        EXPECT_TRUE(t.Exists(f)) << f.toStdString();
    EXPECT_TRUE(QFileInfo(t.Path(QStringLiteral("ziel/.zvrestore-Ordner"))).isDir());
    EXPECT_TRUE(QFileInfo(t.Path(QStringLiteral("ziel/.zvrestore-LinkAb"))).isSymLink());
    EXPECT_EQ(t.Read(QStringLiteral("ziel/sub/neu.txt")), "neu");
}

// Two entries that land on one file: the later one wins, and the log says so.
TEST(ZipReader, EntriesOfTheSameNameAreLogged) {
    TestFolder t;
    Reader rd;
    ASSERT_TRUE(openPython(rd, t,
                           QStringLiteral("[('a.txt', b'erste'), ('b/c.txt', b'eins'), "
                                          "('a.txt', b'zweite'), ('b\\\\c.txt', b'zwei', 0, 0), "
                                          "('./b/d.txt', b'd')]")));
    EXPECT_EQ(rd.r.Extract(t.Path(QStringLiteral("ziel"))), 5);
    EXPECT_EQ(t.Read(QStringLiteral("ziel/a.txt")), "zweite");
    EXPECT_EQ(t.Read(QStringLiteral("ziel/b/c.txt")), "zwei");
    EXPECT_EQ(rd.messages,
              QStringList({QStringLiteral("Datei a.txt steht mehrfach im Archiv: der spätere "
                                          "Eintrag wird über den früheren geschrieben"),
                           QStringLiteral("Datei b\\c.txt steht mehrfach im Archiv: der spätere "
                                          "Eintrag wird über den früheren geschrieben")}));
}

// Each message says what kind of trouble it reports; the restore's log takes all of them.
TEST(ZipReader, EveryMessageSaysItsKind) {
    using K = TZipReaderMessageKind;
    TestFolder t;
    Source s;
    const QString locked = s.Zip(QStringLiteral("locked.zip"), QStringLiteral("-P geheim"));
    t.Write(QStringLiteral("b/block"), "a file where a folder belongs");
    t.Write(QStringLiteral("rest/.zvrestore-Ab12Cd"), "x");
    const auto extract = [&](Reader& rd, const QString& entries, const QString& into,
                             const QStringList& specs = {}) {
        ASSERT_TRUE(openPython(rd, t, entries));
        rd.r.Extract(t.Path(into), specs);
    };
    const struct {
        const char* says;
        K kind;
        std::function<void(Reader&)> act;
    } cases[] = {
        {"kann nicht gelesen werden", K::Unreadable,
         [&](Reader& rd) { rd.r.Open(t.Write(QStringLiteral("junk.zip"), "no archive")); }},
        {"Kein Passwort", K::Password,
         [&](Reader& rd) {
             ASSERT_TRUE(rd.r.Open(locked));
             rd.r.Extract(t.Path(QStringLiteral("p")));
         }},
        {"Pfad außerhalb", K::Skipped,
         [&](Reader& rd) { extract(rd, QStringLiteral("[('../evil', b'x')]"), "s"); }},
        {"nicht im Archiv", K::Skipped,
         [&](Reader& rd) {
             extract(rd, QStringLiteral("[('a.txt', b'a')]"), "n", {QStringLiteral("fehlt.txt")});
         }},
        {"ist kein Verzeichnis", K::Skipped,
         [&](Reader& rd) { extract(rd, QStringLiteral("[('block/a.txt', b'a')]"), "b"); }},
        {"konnte nicht angelegt werden", K::Unwritable,
         [&](Reader& rd) { extract(rd, QStringLiteral("[('a.txt', b'a')]"), "b/block/ziel"); }},
        {"mehrfach im Archiv", K::Note,
         [&](Reader& rd) {
             extract(rd, QStringLiteral("[('a.txt', b'1'), ('a.txt', b'2')]"), "m");
         }},
        {"Reste einer abgebrochenen", K::Note,
         [&](Reader& rd) { extract(rd, QStringLiteral("[('a.txt', b'a')]"), "rest"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        Reader rd;
        c.act(rd);
        ASSERT_EQ(rd.kinds.size(), rd.messages.size());
        int seen = 0;
        for (qsizetype i = 0; i < rd.messages.size(); ++i)
            if (rd.messages[i].contains(QString::fromUtf8(c.says))) {
                ++seen;
                EXPECT_EQ(rd.kinds[i], c.kind) << rd.messages[i].toStdString();
            }
        EXPECT_GT(seen, 0) << rd.all();
    }
}

// Dates are converted with one look-up for each day without a change of the clocks: every
// entry's date is the instant and the wall time local time gives, before and after the clocks
// change (the doubled autumn hour included), with the days visited out of order.
TEST(ZipReader, DatesAreTheLocalTimesOnBothSidesOfAChangeOfTheClocks) {
    const QByteArray oldTz = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    TestFolder t;
    const QString archive = t.Path(QStringLiteral("tz.zip"));
    const char* const times = "[(2013, 3, 31, 1, 59, 58), (2012, 7, 1, 12, 0, 0),"
                              " (2013, 3, 31, 3, 0, 0), (2013, 10, 27, 2, 30, 0),"
                              " (2013, 10, 27, 1, 59, 58), (2013, 10, 27, 3, 0, 0),"
                              " (1980, 1, 1, 0, 0, 0), (2012, 11, 17, 14, 3, 22),"
                              " (2013, 3, 31, 1, 0, 0), (2107, 12, 31, 23, 59, 58)]";
    QString out;
    ASSERT_EQ(RunCommand(QStringLiteral("python3 -c \"import zipfile\n"
                                        "z = zipfile.ZipFile('%1', 'w')\n"
                                        "for i, d in enumerate(%2):\n"
                                        "    z.writestr(zipfile.ZipInfo('f' + str(i), d), b'x')\n"
                                        "z.close()\"")
                             .arg(archive, QString::fromLatin1(times)),
                         &out),
              0)
        << out.toStdString();
    Reader rd;
    ASSERT_TRUE(rd.r.Open(archive));
    ASSERT_EQ(rd.r.Count(), 10);
    const QList<QDateTime> written{
        {QDate(2013, 3, 31), QTime(1, 59, 58)},  {QDate(2012, 7, 1), QTime(12, 0)},
        {QDate(2013, 3, 31), QTime(3, 0)},       {QDate(2013, 10, 27), QTime(2, 30)},
        {QDate(2013, 10, 27), QTime(1, 59, 58)}, {QDate(2013, 10, 27), QTime(3, 0)},
        {QDate(1980, 1, 1), QTime(0, 0)},        {QDate(2012, 11, 17), QTime(14, 3, 22)},
        {QDate(2013, 3, 31), QTime(1, 0)},       {QDate(2107, 12, 31), QTime(23, 59, 58)}};
    for (int i = 0; i < rd.r.Count(); ++i) {
        const ZipEntry& e = rd.r.Entry(i);
        ASSERT_GE(e.ModTime, 0) << i;
        const QDateTime local = QDateTime::fromSecsSinceEpoch(e.ModTime);
        EXPECT_EQ(e.DateTime(), local) << i;
        EXPECT_EQ(e.DateTime().date(), local.date()) << i;
        EXPECT_EQ(e.DateTime().time(), local.time()) << i;
        // The hour of October that comes twice may stand for either instant; its wall time
        // is the written one all the same.
        EXPECT_EQ(e.DateTime().date(), written[i].date()) << i;
        EXPECT_EQ(e.DateTime().time(), written[i].time()) << i;
    }
    if (hadTz)
        qputenv("TZ", oldTz);
    else
        qunsetenv("TZ");
    tzset();
}

// Many entries are unpacked at once: whatever goes wrong among them is logged in the archive's
// order, a file placed by an earlier entry stops a later one that needs a folder of that name,
// and a second extraction replaces every file, each time without leftovers.
TEST(ZipReader, ManyEntriesAtOnceKeepTheArchivesOrder) {
    TestFolder t;
    const QString archive =
        pythonZip(t, QStringLiteral("many.zip"),
                  QStringLiteral("[('a', b'file a')] + [('d%d/f%03d.txt' % (i % 5, i), "
                                 "__import__('random').Random(i).randbytes(20000) if i == 60 else "
                                 "b'%d ' % i * (i * 7)) for i in range(120)] + "
                                 "[('a/b.txt', b'under a file'), ('../out.txt', b'x'), "
                                 "('d1/f001.txt', b'again')]"));
    QFile f(archive);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray zip = f.readAll();
    const qsizetype local = zip.indexOf("d0/f060.txt");
    ASSERT_GT(local, 0);
    zip[local + 11 + 10000] = char(zip[local + 11 + 10000] ^ 0x55);
    f.seek(0);
    f.write(zip);
    f.close();

    const QString target = t.Path(QStringLiteral("ziel"));
    for (int round = 0; round < 2; ++round) {
        Reader rd;
        ASSERT_TRUE(rd.r.Open(archive));
        EXPECT_EQ(rd.r.Extract(target), 121);
        ASSERT_EQ(rd.messages.size(), 4) << rd.all();
        EXPECT_TRUE(rd.messages[0].startsWith(QStringLiteral("Fehler beim Entpacken von d0/f060")))
            << rd.all();
        EXPECT_TRUE(rd.messages[1].startsWith(QStringLiteral("Überspringe a/b.txt: ")));
        EXPECT_TRUE(rd.messages[1].endsWith(QStringLiteral(" ist kein Verzeichnis")));
        EXPECT_EQ(rd.messages[2],
                  QStringLiteral("Überspringe ../out.txt: Pfad außerhalb des Zielverzeichnisses"));
        EXPECT_TRUE(rd.messages[3].startsWith(QStringLiteral("Datei d1/f001.txt steht mehrfach")));
        EXPECT_EQ(t.Read(QStringLiteral("ziel/a")), "file a");
        EXPECT_EQ(t.Read(QStringLiteral("ziel/d1/f001.txt")), "again");
        for (int i = 2; i < 120; ++i) {
            const QString name =
                QStringLiteral("ziel/d%1/f%2.txt").arg(i % 5).arg(i, 3, 10, QChar(u'0'));
            if (i == 60) {
                EXPECT_FALSE(t.Exists(name));
                continue;
            }
            EXPECT_EQ(t.Read(name), QByteArray::number(i).append(' ').repeated(i * 7)) << i;
            EXPECT_EQ(QFileInfo(t.Path(name)).lastModified(),
                      QDateTime(QDate(2012, 11, 17), QTime(14, 3, 22)));
        }
        EXPECT_EQ(filesBelow(target).size(), 120) << filesBelow(target).join(u'\n').toStdString();
        EXPECT_FALSE(t.Exists(QStringLiteral("out.txt")));
    }
}

// An abort among many entries under way: the entries before it and the one being reported are
// restored, nothing after them, and the files already unpacked for later entries are removed.
TEST(ZipReader, AnAbortAmongManyEntriesLeavesNothingOfTheLaterOnes) {
    TestFolder t;
    Reader rd;
    ASSERT_TRUE(
        openPython(rd, t, QStringLiteral("[('f%03d' % i, b'x' * (i * 100)) for i in range(300)]")));
    QStringList begun;
    qint64 lastWritten = 0;
    bool ascending = true;
    rd.r.OnProgress = [&](const TZipReader::ProgressDetails& d) {
        ascending = ascending && d.Written >= lastWritten;
        lastWritten = d.Written;
        if (d.Kind != TZipReader::ProgressKind::NewItem) return;
        begun << d.ItemName;
        if (d.ItemName == u"f050") rd.r.Cancel();
    };
    EXPECT_EQ(rd.r.Extract(t.Path(QStringLiteral("a"))), 51);
    QStringList expected;
    for (int i = 0; i <= 50; ++i)
        expected << QStringLiteral("f%1").arg(i, 3, 10, QChar(u'0'));
    EXPECT_EQ(begun, expected);
    EXPECT_EQ(t.Files(QStringLiteral("a")), expected);
    EXPECT_EQ(filesBelow(t.Path(QStringLiteral("a"))).size(), 51);
    EXPECT_TRUE(ascending);
    EXPECT_EQ(lastWritten, 100 * 50 * 51 / 2);
    EXPECT_TRUE(rd.messages.isEmpty()) << rd.all();
}

namespace {

// The archive as the ZIP library reads it, entry by entry; false when it refuses it.
bool libraryListing(const QString& archive, QList<ZipEntry>& out) {
    int code = 0;
    zip_t* za = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &code);
    if (!za) return false;
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i)
        if (const std::optional<ZipEntry> e = ZipDirectory::LibraryEntry(za, i)) out << *e;
    zip_discard(za);
    return true;
}

std::string firstDifference(const QList<ZipEntry>& a, const QList<ZipEntry>& b) {
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i)
        if (!(a[i] == b[i]))
            return "entry " + std::to_string(i) + " " + a[i].Name.toStdString() + " / " +
                   b[i].Name.toStdString();
    return "counts " + std::to_string(a.size()) + " / " + std::to_string(b.size());
}

// Our writer's archive of empty entries; past 65,535 of them it has Zip64 end records.
QString ownArchive(const TestFolder& t, int count) {
    QFile f(t.Path(QStringLiteral("own.zip")));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    TZipWriter w(f.handle());
    for (int i = 0; i < count; ++i) {
        TZipEntryHeader h;
        h.Name = "f" + QByteArray::number(i);
        h.ModTime = 1354000000 + i;
        h.Deflated = false;
        w.BeginEntry(h);
        w.EndEntry(0, 0, 0);
    }
    w.Finish();
    return f.fileName();
}

// Names with odd bytes: a NUL, code page 437 from MS-DOS, the same bytes from Unix, a control
// character, a Unicode name field made from the stored name and one made from another.
QString oddNames(TestFolder& t) {
    const QString archive = pythonZip(
        t, QStringLiteral("names.zip"),
        QStringLiteral("(lambda up: [('nulXx.txt', b'1'), (u(b'\\x81ber.txt'), b'2', 0, 0), "
                       "(u(b'\\x81ber.txt'), b'3', 0o100644), ('a\\x01b', b'4', 0, 0), "
                       "(u(b'alt\\x84.txt'), b'5', 0, 0, up(b'alt\\x84.txt', 'neu-ä.txt')), "
                       "(u(b'alt\\x84.txt'), b'6', 0, 0, up(b'anders', 'falsch.txt')), "
                       "('dir\\\\win.txt', b'7', 0, 0)])(lambda raw, name: "
                       "__import__('struct').pack('<HHBI', 0x7075, 5 + len(name.encode()), 1, "
                       "__import__('zlib').crc32(raw)) + name.encode())"));
    QByteArray bytes = t.Read(QStringLiteral("names.zip"));
    bytes.replace("nulXx", QByteArray("nul\0x", 5));
    return t.Write(QStringLiteral("names.zip"), bytes);
}

// DOS dates with fields out of their range, which the C library carries over, and the hours
// that the change of the clocks leaves out and doubles.
const char* const EdgeDates =
    "[(2012, 0, 15, 10, 0, 0), (2012, 3, 0, 10, 0, 0), (2001, 2, 30, 12, 0, 0),"
    " (2012, 13, 1, 0, 0, 0), (2012, 6, 30, 24, 0, 0), (2012, 6, 1, 23, 60, 0),"
    " (2012, 12, 31, 23, 59, 62), (1980, 0, 0, 0, 0, 0), (2107, 15, 31, 31, 63, 62),"
    " (2013, 3, 31, 2, 30, 0), (2013, 10, 27, 2, 30, 0)]";

QString edgeDates(const TestFolder& t) {
    return pythonZip(t, QStringLiteral("dates.zip"),
                     QStringLiteral("[('d%d' % i, b'', 0o100644, 3, b'', d) for i, d in "
                                    "enumerate(%1)]")
                         .arg(QLatin1String(EdgeDates)));
}

void put32(QByteArray& b, qsizetype at, quint32 v) {
    qToLittleEndian(v, b.data() + at);
}
quint32 get32(const QByteArray& b, qsizetype at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}
qsizetype endRecord(const QByteArray& b) {
    return b.lastIndexOf("PK\x05\x06");
}

// Also names that are not UTF-8, which Qt's removal cannot handle.
void removeTree(const QString& path) {
    RunCommand(QStringLiteral("rm -rf ") + Quoted(path));
}

// Sets the TZ variable for a scope.
struct Zone {
    QByteArray old = qgetenv("TZ");
    bool had = qEnvironmentVariableIsSet("TZ");
    explicit Zone(const char* zone) {
        qputenv("TZ", zone);
        tzset();
    }
    ~Zone() {
        if (had)
            qputenv("TZ", old);
        else
            qunsetenv("TZ");
        tzset();
    }
};

} // namespace

// Real archives as their tools write them, and with end records that lie: where the directory
// is read straight from the file, it gives every entry exactly as the ZIP library reads it;
// anything it is not sure of is left to the library, which lists or refuses it as before.
TEST(ZipReader, TheDirectoryIsReadAsTheLibraryReadsIt) {
    const Zone zone("Europe/Berlin");
    Source s;
    const auto patched = [&](const QString& archive, const std::function<void(QByteArray&)>& f) {
        QByteArray b = s.t.Read(QFileInfo(archive).fileName());
        f(b);
        return s.t.Write(QStringLiteral("patched.zip"), b);
    };
    const auto count = [](QByteArray& b, int by) {
        const qsizetype end = endRecord(b);
        put32(b, end + 8, get32(b, end + 8) + quint32(by) * 0x10001);
    };
    const QString many = ownArchive(s.t, 65537);
    struct Row {
        const char* what;
        std::function<QString()> make;
        bool readHere, readable;
    };
    const Row rows[] = {
        {"zip with Zip64 entries and end records", [&] { return s.Zip("fz.zip", "-fz"); }, true,
         true},
        {"7z with AES",
         [&] {
             const QString a = s.t.Path(QStringLiteral("aes.zip"));
             ExpectCommandPasses(QStringLiteral("cd %1 && 7z a -tzip -mem=AES256 -pgeheim %2 .")
                                     .arg(Quoted(s.t.Path(QStringLiteral("src"))), Quoted(a)));
             return a;
         },
         true, true},
        {"our writer, 65,537 entries", [&] { return many; }, true, true},
        {"names with odd bytes", [&] { return oddNames(s.t); }, true, true},
        {"DOS dates at the edges", [&] { return edgeDates(s.t); }, true, true},
        {"end record counts one more",
         [&] { return patched(s.Zip("d.zip"), [&](QByteArray& b) { count(b, 1); }); }, false,
         false},
        {"end record counts one fewer",
         [&] { return patched(s.Zip("d.zip"), [&](QByteArray& b) { count(b, -1); }); }, false,
         false},
        {"directory one byte longer than its records",
         [&] {
             return patched(s.Zip("d.zip"), [](QByteArray& b) {
                 put32(b, endRecord(b) + 12, get32(b, endRecord(b) + 12) + 1);
             });
         },
         false, false},
        {"directory a record shorter",
         [&] {
             return patched(s.Zip("d.zip"), [](QByteArray& b) {
                 put32(b, endRecord(b) + 12, get32(b, endRecord(b) + 12) - 46);
             });
         },
         false, false},
        {"Zip64 end record counts one more",
         [&] {
             return patched(s.Zip("fz.zip", "-fz"), [](QByteArray& b) {
                 const qsizetype z64 = b.lastIndexOf("PK\x06\x06");
                 put32(b, z64 + 24, get32(b, z64 + 24) + 1);
                 put32(b, z64 + 32, get32(b, z64 + 32) + 1);
             });
         },
         false, false},
        {"65,537 entries counted modulo 65,536, no Zip64 records",
         [&] {
             return patched(many, [](QByteArray& b) {
                 const qsizetype z64 = b.lastIndexOf("PK\x06\x06");
                 QByteArray end = b.mid(endRecord(b));
                 put32(end, 8, 65537 % 65536 * 0x10001);
                 put32(end, 12, get32(b, z64 + 40));
                 put32(end, 16, get32(b, z64 + 48));
                 b = b.left(z64) + end;
             });
         },
         false, true},
        {"a Zip64 field longer than the values it stands for",
         [&] {
             return patched(
                 pythonZip(s.t, QStringLiteral("z64.zip"),
                           QStringLiteral("[('z', b'abc', 0o100644, 3, "
                                          "__import__('struct').pack('<HHQQ', 1, 16, 3, 3))]")),
                 [](QByteArray& b) { put32(b, b.indexOf("PK\x01\x02") + 24, 0xFFFFFFFF); });
         },
         false, false},
        {"an end record in the archive's comment",
         [&] {
             return patched(s.Zip("d.zip"), [](QByteArray& b) {
                 b[endRecord(b) + 20] = 22;
                 b += QByteArray("PK\x05\x06") + QByteArray(18, '\0');
             });
         },
         false, true},
        {"bytes after the end record",
         [&] { return patched(s.Zip("d.zip"), [](QByteArray& b) { b += "xx"; }); }, false, true},
        {"a name flagged as UTF-8 that is none",
         [&] {
             return patched(pythonZip(s.t, QStringLiteral("flag.zip"),
                                      QStringLiteral("[(u(b'bad\\xff'), b'x')]")),
                            [](QByteArray& b) { b[b.indexOf("PK\x01\x02") + 9] = '\x08'; });
         },
         false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QString archive = row.make();
        const int fd = ::open(QFile::encodeName(archive).constData(), O_RDONLY);
        QList<ZipEntry> direct, library;
        EXPECT_EQ(ZipDirectory::Read(fd, direct), row.readHere);
        ::close(fd);
        ASSERT_EQ(libraryListing(archive, library), row.readable);
        if (row.readHere) {
            EXPECT_TRUE(direct == library) << firstDifference(direct, library);
        }
        Reader rd;
        ASSERT_EQ(rd.r.Open(archive), row.readable) << rd.all();
        EXPECT_TRUE(rd.r.Entries() == library) << firstDifference(rd.r.Entries(), library);
        if (row.readable && library.size() < 100) {
            rd.r.Extract(s.t.Path(QStringLiteral("out")));
            EXPECT_FALSE(rd.said(QStringLiteral("widersprüchlich"))) << rd.all();
            removeTree(s.t.Path(QStringLiteral("out")));
        }
    }
}

TEST(ZipReader, OddNamesAndDatesAreListedAsTheLibraryGivesThem) {
    const Zone zone("Europe/Berlin");
    TestFolder t;
    Reader names;
    ASSERT_TRUE(names.r.Open(oddNames(t)));
    QStringList listed;
    for (const ZipEntry& e : names.r.Entries())
        listed << e.Name;
    EXPECT_EQ(listed,
              QStringList({u"nul x.txt"_qs, u"über.txt"_qs, QChar(0xDC81) + u"ber.txt"_qs,
                           u"a\u0001b"_qs, u"neu-ä.txt"_qs, u"altä.txt"_qs, u"dir\\win.txt"_qs}));
    EXPECT_EQ(names.r.Extract(t.Path(QStringLiteral("ziel"))), 7) << names.all();
    EXPECT_EQ(t.Read(QStringLiteral("ziel/dir/win.txt")), "7");
    removeTree(t.Path(QStringLiteral("ziel")));

    Reader dates;
    ASSERT_TRUE(dates.r.Open(edgeDates(t)));
    const QList<QDateTime> shown{
        {QDate(2011, 12, 15), QTime(10, 0)}, {QDate(2012, 2, 29), QTime(10, 0)},
        {QDate(2001, 3, 2), QTime(12, 0)},   {QDate(2013, 1, 1), QTime(0, 0)},
        {QDate(2012, 7, 1), QTime(0, 0)},    {QDate(2012, 6, 2), QTime(0, 0)},
        {QDate(2013, 1, 1), QTime(0, 0, 2)}, {QDate(1979, 11, 30), QTime(0, 0)},
        {QDate(2108, 4, 1), QTime(8, 4, 2)}};
    ASSERT_EQ(dates.r.Count(), shown.size() + 2);
    for (int i = 0; i < dates.r.Count(); ++i) {
        const ZipEntry& e = dates.r.Entry(i);
        const QDateTime local = QDateTime::fromSecsSinceEpoch(e.ModTime);
        EXPECT_EQ(e.DateTime(), local) << i;
        EXPECT_EQ(e.DateTime().time(), local.time()) << i;
        if (i < shown.size()) {
            EXPECT_EQ(local, shown[i]) << i;
        }
    }
    // 02:30 of the spring change does not exist: the C library takes it for one side's time;
    // that of the autumn change exists twice and stays 02:30 either way.
    const QTime spring = dates.r.Entry(shown.size()).DateTime().time();
    EXPECT_TRUE(spring == QTime(1, 30) || spring == QTime(3, 30))
        << spring.toString().toStdString();
    EXPECT_EQ(dates.r.Entry(shown.size() + 1).DateTime().time(), QTime(2, 30));
}

// The library reads the directory again only for the extraction: an archive written over in
// place since the listing restores none of the entries it no longer holds as listed.
TEST(ZipReader, AnArchiveWrittenOverSinceTheListingRestoresOnlyWhatItStillHolds) {
    TestFolder t;
    const auto archive = [&](const QString& name, const QString& entries) {
        return t.Read(QFileInfo(pythonZip(t, name, entries)).fileName());
    };
    const QByteArray first = archive(QStringLiteral("first.zip"),
                                     QStringLiteral("[('a.txt', b'eins'), ('b', b'zwei')]"));
    const QByteArray changed = archive(QStringLiteral("changed.zip"),
                                       QStringLiteral("[('a.txt', b'andere'), ('b', b'zwei')]"));
    const QByteArray longer =
        archive(QStringLiteral("longer.zip"),
                QStringLiteral("[('a.txt', b'eins'), ('b', b'zwei'), ('c', b'')]"));
    for (const QByteArray& now : {changed, longer}) {
        const QString path = t.Write(QStringLiteral("d.zip"), first);
        Reader rd;
        ASSERT_TRUE(rd.r.Open(path));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(now);
        f.close();
        const QString target = t.Path(now == changed ? u"ziel1"_qs : u"ziel2"_qs);
        if (now == changed) {
            EXPECT_EQ(rd.r.Extract(target), 1);
            EXPECT_EQ(t.Files(QStringLiteral("ziel1")), QStringList{u"b"_qs});
            EXPECT_EQ(rd.messages,
                      QStringList{u"Überspringe a.txt: Eintrag im Archiv widersprüchlich"_qs});
            EXPECT_EQ(rd.kinds, QList<TZipReaderMessageKind>{TZipReaderMessageKind::Unreadable});
        } else {
            EXPECT_EQ(rd.r.Extract(target), 0);
            EXPECT_FALSE(QFileInfo::exists(target));
            EXPECT_TRUE(rd.said(QStringLiteral("d.zip kann nicht gelesen werden"))) << rd.all();
        }
    }
}
