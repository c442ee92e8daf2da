#include "IniFile.h"

#include "FileEvents.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

unsigned modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

class IniFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(u"settings.ini"_s);
    IniFile ini{path};

    // What a failed write must have left: the old bytes and no stray temporary file.
    void expectUntouched(const QString& file, const QByteArray& old) {
        EXPECT_EQ(bytesOf(file), old);
        const QStringList left = QDir(QFileInfo(file).absolutePath()).entryList(QDir::Files);
        for (const QString& name : left)
            EXPECT_FALSE(name.contains(u".tmp"_s)) << name.toStdString();
    }

    static QString errorText(const std::function<void()>& write) {
        try {
            write();
        } catch (const IniWriteError& e) {
            return QString::fromUtf8(e.what());
        }
        return u"<no error>"_s;
    }
};

TEST_F(IniFileTest, NamesIgnoreCaseAndEveryWriteReachesTheFile) {
    ini.WriteString(u"IV"_s, u"Pfad"_s, u"/a"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[IV]\r\nPfad=/a\r\n"));

    ini.WriteString(u"iv"_s, u"PFAD"_s, u"/b"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[IV]\r\nPfad=/b\r\n"));
    EXPECT_EQ(ini.ReadString(u"iV"_s, u"pfad"_s, {}), u"/b");
}

TEST_F(IniFileTest, UpdatesInPlaceAndAppendsToItsSection) {
    writeBytes(path, "; kept\n[A]\nx = 1\n\n[Leer]\n[B]\ny=2\n");
    ini.WriteString(u"a"_s, u"X"_s, u"10"_s);
    ini.WriteString(u"A"_s, u"z"_s, u"3"_s);
    ini.WriteInteger(u" leer "_s, u"k"_s, -4);
    ini.WriteBool(u"Neu"_s, u"An"_s, true);
    EXPECT_EQ(bytesOf(path), QByteArray("; kept\r\n[A]\r\nx=10\r\nz=3\r\n\r\n[Leer]\r\nk=-4\r\n"
                                        "[B]\r\ny=2\r\n\r\n[Neu]\r\nAn=1\r\n"));
    EXPECT_EQ(ini.ReadSection(u"a"_s), (QStringList{u"x"_s, u"z"_s}));
    EXPECT_EQ(ini.ReadSections(), (QStringList{u"A"_s, u"Leer"_s, u"B"_s, u"Neu"_s}));
}

TEST_F(IniFileTest, ReadsFollowTheFileOnDisk) {
    EXPECT_EQ(ini.ReadString(u"S"_s, u"k"_s, u"def"_s), u"def");
    EXPECT_FALSE(ini.SectionExists(u"S"_s));

    writeBytes(path, "[S]\r\nk=\r\nurl=http://x/?a=b \r\n;c=1\r\n");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"k"_s, u"def"_s), u"");
    EXPECT_TRUE(ini.ValueExists(u"s"_s, u"K"_s));
    EXPECT_EQ(ini.ReadString(u"S"_s, u"url"_s, {}), u"http://x/?a=b ");
    EXPECT_FALSE(ini.ValueExists(u"S"_s, u";c"_s));
    EXPECT_EQ(ini.ReadString(u"Other"_s, u"k"_s, u"def"_s), u"def");

    writeBytes(path, "[S]\nk=neu\n");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"k"_s, {}), u"neu");
}

TEST_F(IniFileTest, LongValuesAreCutTo2047Characters) {
    const QString longValue(3000, u'x');
    ini.WriteString(u"S"_s, u"k"_s, longValue);
    EXPECT_EQ(ini.ReadString(u"S"_s, u"k"_s, {}).size(), 2047);
    EXPECT_TRUE(bytesOf(path).contains(longValue.toUtf8())); // the file keeps it whole
}

TEST_F(IniFileTest, NumbersAndBooleans) {
    // text, ReadInteger with default 99, ReadBool with default true
    const std::tuple<const char*, int, bool> cases[] = {
        {"42", 42, true},   {"-3", -3, true},  {"+5", 5, true},           {" 8 ", 8, true},
        {"0", 0, false},    {"", 99, true},    {"abc", 99, true},         {"12abc", 99, true},
        {"0x10", 99, true}, {"1.5", 99, true}, {"99999999999", 99, true},
    };
    for (const auto& [text, number, flag] : cases) {
        writeBytes(path, QByteArray("[S]\nk=") + text + "\n");
        EXPECT_EQ(ini.ReadInteger(u"S"_s, u"k"_s, 99), number) << text;
        EXPECT_EQ(ini.ReadBool(u"S"_s, u"k"_s, true), flag) << text;
    }
    EXPECT_FALSE(ini.ReadBool(u"S"_s, u"missing"_s, false));
}

TEST_F(IniFileTest, DeleteEraseAndLineBreaks) {
    writeBytes(path, "[A]\nx=1\ny=2\n[B]\nz=3\n");
    ini.DeleteKey(u"a"_s, u"X"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[A]\r\ny=2\r\n[B]\r\nz=3\r\n"));
    ini.EraseSection(u"a"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[B]\r\nz=3\r\n"));
    // A line break in a value would open a new line in the file.
    ini.WriteString(u"B"_s, u"z"_s, u"a\r\n[X]\nb=c"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[B]\r\nz=a\r\n"));
}

TEST_F(IniFileTest, OwnerOnlyFileGetsMode0600AndOthersKeepTheirs) {
    writeBytes(path, "[S]\nk=1\n");
    ::chmod(QFile::encodeName(path).constData(), 0640);
    ini.WriteString(u"S"_s, u"k"_s, u"2"_s);
    EXPECT_EQ(modeOf(path), 0640u);

    ini.SetOwnerOnly(true);
    ini.WriteString(u"S"_s, u"Passwort"_s, u"geheim"_s);
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST_F(IniFileTest, Windows1252RoundTrip) {
    // Every character the code page has above Latin-1's range, in byte order.
    const QString text = u"ÄÖÜß€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ"_s;
    QByteArray bytes("\xC4\xD6\xDC\xDF");
    for (int b = 0x80; b < 0xA0; ++b) {
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) bytes.append(char(b));
    }
    ini.SetEncoding(IniFile::Encoding::Latin1252);
    ini.WriteString(u"Datei"_s, u"Name"_s, text);
    EXPECT_EQ(bytesOf(path), "[Datei]\r\nName=" + bytes + "\r\n");
    EXPECT_EQ(ini.ReadString(u"Datei"_s, u"Name"_s, {}), text);

    ini.WriteString(u"Datei"_s, u"Name"_s, u"Ω"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[Datei]\r\nName=?\r\n"));

    IniFile utf8(path);
    utf8.WriteString(u"Datei"_s, u"Name"_s, u"€"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[Datei]\r\nName=\xE2\x82\xAC\r\n"));
}

TEST_F(IniFileTest, FailedWriteNamesTheFullPathAndKeepsTheOldFile) {
    // Root ignores permission bits, so these failures come from the file system's shape.
    writeBytes(dir.filePath(u"plain"_s), "not a folder");
    const QString underFile = dir.filePath(u"plain/x.ini"_s);
    IniFile inFile(underFile);
    EXPECT_EQ(errorText([&] { inFile.WriteString(u"S"_s, u"k"_s, u"v"_s); }),
              u"In %1 kann nicht geschrieben werden"_s.arg(underFile));

    const QString folderTarget = dir.filePath(u"isdir.ini"_s);
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"isdir.ini"_s));
    IniFile onFolder(folderTarget);
    EXPECT_EQ(errorText([&] { onFolder.WriteString(u"S"_s, u"k"_s, u"v"_s); }),
              u"In %1 kann nicht geschrieben werden"_s.arg(folderTarget));
    expectUntouched(folderTarget, {});

    // A relative name is reported with its full path; missing folders are not created.
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    IniFile nowhere(u"nowhere/x.ini"_s);
    EXPECT_EQ(errorText([&] { nowhere.WriteBool(u"S"_s, u"k"_s, true); }),
              u"In %1 kann nicht geschrieben werden"_s.arg(dir.filePath(u"nowhere/x.ini"_s)));
    EXPECT_FALSE(QDir(dir.filePath(u"nowhere"_s)).exists());
    QDir::setCurrent(QDir::tempPath());
}

TEST_F(IniFileTest, ReadOnlyFileIsNotReplaced) {
    const QByteArray old("[S]\r\nk=alt\r\n");
    writeBytes(path, old);
    ::chmod(QFile::encodeName(path).constData(), 0444);
    EXPECT_EQ(errorText([&] { ini.WriteString(u"S"_s, u"k"_s, u"neu"_s); }),
              u"In %1 kann nicht geschrieben werden"_s.arg(path));
    expectUntouched(path, old);
    EXPECT_THROW(ini.DeleteKey(u"S"_s, u"k"_s), IniWriteError);
    expectUntouched(path, old);
}

TEST_F(IniFileTest, AHeldFileIsReadOnceAndReplacedOnceWithWhatSingleWritesGive) {
    const QByteArray old("; Kommentar\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    writeBytes(path, old);
    IniFile single(dir.filePath(u"single.ini"_s));
    writeBytes(single.FileName(), old);
    const auto apply = [](IniFile& f) {
        f.WriteString(u"a"_s, u"X"_s, u"10"_s);
        f.WriteString(u"A"_s, u"neu"_s, u"n"_s);
        f.WriteInteger(u"C"_s, u"z"_s, 3);
        f.DeleteKey(u"B"_s, u"y"_s);
        f.WriteBool(u"B"_s, u"w"_s, false);
    };
    apply(single);

    ReplacementCounter commits(path);
    ini.BeginUpdate();
    apply(ini);
    // The writes are held: the file is as it was, and reads see the held copy.
    EXPECT_EQ(bytesOf(path), old);
    EXPECT_EQ(ini.ReadString(u"A"_s, u"x"_s, {}), u"10"_s);
    EXPECT_FALSE(ini.ValueExists(u"B"_s, u"y"_s));
    ini.Commit();
    EXPECT_FALSE(ini.Holding());
    EXPECT_EQ(commits.Take(), 1);
    EXPECT_EQ(bytesOf(path), bytesOf(single.FileName()));

    // Without a write nothing is replaced; a rollback drops what was written.
    ini.BeginUpdate();
    ini.ReadString(u"A"_s, u"x"_s, {});
    ini.Commit();
    ini.BeginUpdate();
    ini.WriteString(u"A"_s, u"x"_s, u"verworfen"_s);
    ini.Rollback();
    EXPECT_EQ(commits.Take(), 0);
    EXPECT_EQ(ini.ReadString(u"A"_s, u"x"_s, {}), u"10"_s);
}

TEST_F(IniFileTest, AFileThatExistsButCannotBeReadIsNeverReplaced) {
    // A link to itself cannot be opened, whoever runs the test; a link to nowhere is there too.
    for (const char* target : {"settings.ini", "fehlt/nirgends.ini"}) {
        SCOPED_TRACE(target);
        QFile::remove(path);
        ASSERT_EQ(::symlink(target, QFile::encodeName(path).constData()), 0);
        EXPECT_FALSE(ini.ReadProblem().isEmpty());
        EXPECT_EQ(ini.ReadString(u"S"_s, u"k"_s, u"vorgabe"_s), u"vorgabe"_s);
        EXPECT_THROW(ini.WriteString(u"S"_s, u"k"_s, u"v"_s), IniWriteError);
        ini.BeginUpdate();
        ini.WriteString(u"S"_s, u"k"_s, u"v"_s);
        EXPECT_THROW(ini.Commit(), IniWriteError);
        EXPECT_FALSE(ini.Holding());
        EXPECT_EQ(QFile::symLinkTarget(path), dir.filePath(QString::fromLatin1(target)));
        expectUntouched(dir.filePath(u"unused"_s), {});
    }
    // A missing file is no problem: it is created.
    QFile::remove(path);
    EXPECT_TRUE(ini.ReadProblem().isEmpty());
    ini.WriteString(u"S"_s, u"k"_s, u"v"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[S]\r\nk=v\r\n"));
}

TEST_F(IniFileTest, AFileThatIsNotUtf8IsReadAsWindows1252AndWrittenBackAsUtf8) {
    // As a Windows editor saves it: umlauts, the euro sign and a password with "ß".
    writeBytes(path, "[Actions]\r\nVerz1=C:\\Daten\\M\xFCller\r\np1=gro\xDF\x80\r\n");
    EXPECT_EQ(ini.ReadString(u"Actions"_s, u"Verz1"_s, {}), u"C:\\Daten\\Müller"_s);
    EXPECT_EQ(ini.ReadString(u"Actions"_s, u"p1"_s, {}), u"groß€"_s);
    ini.WriteString(u"Actions"_s, u"Nach1"_s, u"D:\\Sicherung.Zip"_s);
    EXPECT_EQ(bytesOf(path),
              QByteArray("[Actions]\r\nVerz1=C:\\Daten\\M\xC3\xBCller\r\n"
                         "p1=gro\xC3\x9F\xE2\x82\xAC\r\nNach1=D:\\Sicherung.Zip\r\n"));
    // Valid UTF-8 stays UTF-8, also with a byte order mark in front.
    writeBytes(path, "\xEF\xBB\xBF[S]\r\nk=M\xC3\xBCller\r\n");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"k"_s, {}), u"Müller"_s);
    // A hand edit mixing both: each line keeps its own text.
    writeBytes(path, "[S]\r\na=B\xC3\xBC"
                     "cher\r\nb=M\xFC"
                     "ller\r\n");
    ini.WriteString(u"S"_s, u"c"_s, u"x"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[S]\r\na=B\xC3\xBC"
                                        "cher\r\nb=M\xC3\xBC"
                                        "ller\r\nc=x\r\n"));
    EXPECT_EQ(ini.ReadString(u"S"_s, u"a"_s, {}), u"Bücher"_s);
    EXPECT_EQ(ini.ReadString(u"S"_s, u"b"_s, {}), u"Müller"_s);
    // A UTF-8 line with letters Windows-1252 does not have stays UTF-8 beside such a line.
    writeBytes(path, "[S]\r\na=/home/u/\xC5\x81\xC3\xB3"
                     "d\xC5\xBA\r\nb=M\xFC"
                     "ller\r\n");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"a"_s, {}), u"/home/u/Łódź"_s);
    ini.WriteString(u"S"_s, u"c"_s, u"x"_s);
    EXPECT_EQ(ini.ReadString(u"S"_s, u"a"_s, {}), u"/home/u/Łódź"_s);
    EXPECT_EQ(ini.ReadString(u"S"_s, u"b"_s, {}), u"Müller"_s);
}

TEST_F(IniFileTest, AnOwnerOnlyFilesTemporaryCopyIsOwnerOnlyFromItsCreation) {
    const mode_t oldMask = ::umask(0);
    QList<unsigned> modes;
    IniFile::TempCreatedHook = [&](const QString& temp) { modes << modeOf(temp); };
    ini.SetOwnerOnly(true);
    ini.WriteString(u"S"_s, u"Passwort"_s, u"geheim"_s);
    IniFile other(dir.filePath(u"other.ini"_s));
    other.WriteString(u"S"_s, u"k"_s, u"v"_s);
    IniFile::TempCreatedHook = nullptr;
    ::umask(oldMask);
    EXPECT_EQ(modes, (QList<unsigned>{0600u, 0666u}));
    EXPECT_EQ(modeOf(path), 0600u);
}

} // namespace

TEST_F(IniFileTest, AFileWrittenOverBySomeoneElseIsReadAnewEvenAtTheSameSize) {
    ini.WriteString(u"S"_s, u"k"_s, u"aaa"_s);
    EXPECT_EQ(ini.ReadString(u"S"_s, u"k"_s, {}), u"aaa");
    // Same size, same inode, quite possibly the same time stamp as the write just made.
    writeBytes(path, "[S]\r\nk=bbb\r\n");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"k"_s, {}), u"bbb");
    IniFile other(path);
    other.WriteString(u"S"_s, u"k"_s, u"ccc"_s);
    EXPECT_EQ(ini.ReadString(u"s"_s, u"K"_s, {}), u"ccc");
}

TEST_F(IniFileTest, ManyKeysAreFoundByAnyCaseAndTheFirstOfTwinsWins) {
    QByteArray text = "[Ünter]\r\nÄrger=1\r\nÄRGER=2\r\n";
    for (int n = 0; n < 5000; ++n)
        text += "Key" + QByteArray::number(n) + "=v" + QByteArray::number(n) + "\r\n";
    // A twin far from its first line, as a hand edit adds one at the end.
    const QByteArray lateTwin = "KEY17=late\r\n";
    writeBytes(path, text + lateTwin);
    EXPECT_EQ(ini.ReadString(u"üNTER"_s, u"äRGER"_s, {}), u"1");
    EXPECT_EQ(ini.ReadString(u"ünter"_s, u"key17"_s, {}), u"v17");
    QStringList names;
    ini.ForEachKey(u"ÜNTER"_s, [&](QStringView name, QStringView value) {
        names << name.toString();
        if (name == u"Key17") {
            EXPECT_EQ(value, u"v17");
        }
    });
    ASSERT_EQ(names.size(), 5001);
    EXPECT_EQ(names.first(), u"Ärger");
    EXPECT_EQ(names.last(), u"Key4999");
    writeBytes(path, text);
    ini.BeginUpdate();
    for (int n = 0; n < 5000; ++n)
        ini.WriteString(u"ünter"_s, u"KEY"_s + QString::number(n), u"v"_s + QString::number(n));
    for (int n = 0; n < 5000; n += 997)
        EXPECT_EQ(ini.ReadString(u"Ünter"_s, u"key"_s + QString::number(n), {}),
                  u"v"_s + QString::number(n));
    ini.DeleteKey(u"Ünter"_s, u"ärger"_s);
    ini.WriteString(u"Ünter"_s, u"Key4999"_s, u"neu"_s);
    ini.Commit();
    text.replace("\xC3\x84rger=1\r\n\xC3\x84RGER=2\r\n", "");
    text.replace("Key4999=v4999", "Key4999=neu");
    EXPECT_EQ(bytesOf(path), text);
    EXPECT_FALSE(ini.ValueExists(u"Ünter"_s, u"Ärger"_s));
    EXPECT_EQ(ini.ReadString(u"ÜNTER"_s, u"key4999"_s, {}), u"neu");
}

TEST_F(IniFileTest, AHeldSaveThatChangesNothingLeavesTheFileWhereItHoldsTheSameBytes) {
    const QByteArray old("[S]\r\na=1\r\nb=2\r\n");
    writeBytes(path, old);
    const QDateTime longAgo(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    QFile(path).setFileTime(longAgo, QFileDevice::FileModificationTime);
    ReplacementCounter commits(path);
    ini.BeginUpdate();
    ini.WriteString(u"S"_s, u"a"_s, u"1"_s);
    ini.WriteString(u"s"_s, u"B"_s, u"2"_s);
    ini.Commit();
    EXPECT_EQ(commits.Take(), 0);
    expectUntouched(path, old);
    // It still says it was saved just now.
    EXPECT_GT(QFileInfo(path).lastModified(), longAgo);

    // Bytes a write would change (line ends, a missing last line end) are written.
    for (const QByteArray& loose :
         {QByteArray("[S]\na=1\nb=2\n"), QByteArray("[S]\r\na=1\r\nb=2")}) {
        writeBytes(path, loose);
        ini.BeginUpdate();
        ini.WriteString(u"S"_s, u"a"_s, u"1"_s);
        ini.Commit();
        EXPECT_EQ(commits.Take(), 1);
        EXPECT_EQ(bytesOf(path), old);
    }

    // So is a file changed by someone else since it was read.
    ini.BeginUpdate();
    ini.WriteString(u"S"_s, u"a"_s, u"1"_s);
    writeBytes(path, "[S]\r\na=1\r\nb=3\r\n");
    ini.Commit();
    EXPECT_EQ(commits.Take(), 1);
    EXPECT_EQ(bytesOf(path), old);

    // An owner-only file that is not yet owner-only gets its mode by the write.
    ::chmod(QFile::encodeName(path).constData(), 0644);
    ini.SetOwnerOnly(true);
    ini.BeginUpdate();
    ini.WriteString(u"S"_s, u"a"_s, u"1"_s);
    ini.Commit();
    EXPECT_EQ(commits.Take(), 1);
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST_F(IniFileTest, AHeldSaveThatChangesNothingStillFailsWhereAWriteWould) {
    const QByteArray old("[S]\r\nk=alt\r\n");
    writeBytes(path, old);
    ::chmod(QFile::encodeName(path).constData(), 0444);
    ini.BeginUpdate();
    ini.WriteString(u"S"_s, u"k"_s, u"alt"_s);
    EXPECT_EQ(errorText([&] { ini.Commit(); }), u"In %1 kann nicht geschrieben werden"_s.arg(path));
    EXPECT_FALSE(ini.Holding());
    expectUntouched(path, old);

    // A folder that takes no temporary copy (a regular file in a read-only folder; root
    // could still write it, as before).
    ::chmod(QFile::encodeName(path).constData(), 0644);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0555);
    const bool rootWrites = ::geteuid() == 0;
    ini.BeginUpdate();
    ini.WriteString(u"S"_s, u"k"_s, u"alt"_s);
    if (rootWrites)
        EXPECT_NO_THROW(ini.Commit());
    else
        EXPECT_THROW(ini.Commit(), IniWriteError);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    expectUntouched(path, old);
}

TEST_F(IniFileTest, AHeldCopyReadInFileOrderStillFindsTheFirstOfTwinsAndEachPiece) {
    writeBytes(path, "[S]\r\na=1\r\nb=2\r\nA=3\r\nc=4\r\n[T]\r\nt=1\r\n[s]\r\nd=5\r\nc=6\r\n");
    ini.BeginUpdate();
    EXPECT_EQ(ini.ReadString(u"S"_s, u"a"_s, {}), u"1");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"b"_s, {}), u"2");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"a"_s, {}), u"1");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"c"_s, {}), u"4");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"d"_s, {}), u"5");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"c"_s, {}), u"4");
    // A rewritten line and one added after it are found the same way.
    ini.WriteString(u"S"_s, u"b"_s, u"neu"_s);
    ini.WriteString(u"S"_s, u"e"_s, u"7"_s);
    EXPECT_EQ(ini.ReadString(u"S"_s, u"a"_s, {}), u"1");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"b"_s, {}), u"neu");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"e"_s, {}), u"7");
    ini.DeleteKey(u"S"_s, u"a"_s);
    EXPECT_EQ(ini.ReadString(u"S"_s, u"b"_s, {}), u"neu");
    EXPECT_EQ(ini.ReadString(u"S"_s, u"a"_s, u"-"_s), u"-");
    ini.Commit();
    EXPECT_EQ(bytesOf(path),
              QByteArray("[S]\r\nb=neu\r\nc=4\r\ne=7\r\n[T]\r\nt=1\r\n[s]\r\nd=5\r\nc=6\r\n"));
}

// A pass over a section sees what single reads see: each name once, at its first line, in file
// order across the section's pieces, its value cut as a read cuts it.
TEST_F(IniFileTest, APassOverASectionGivesEachKeyAsAReadWould) {
    const QByteArray longValue(3000, 'x');
    const struct {
        const char* name;
        QByteArray file;
        bool cp1252;
        QString section;
        QStringList expected; // name=value
    } cases[] = {
        {"twins and pieces",
         "[S]\r\na=1\r\nb=2\r\nA=3\r\n[T]\r\nt=1\r\n[s]\r\nd=5\r\nB=6\r\n",
         false,
         u"s"_s,
         {u"a=1"_s, u"b=2"_s, u"d=5"_s}},
        {"blank, comment and other lines",
         "x\r\n[S]\r\n;c=1\r\n\r\n  k  =  v \r\nno key\r\n=5\r\n",
         false,
         u"S"_s,
         {u"k=  v "_s}},
        {"UTF-8 names and values",
         "[S]\r\nÄrger=Größe\r\närger=2\r\n",
         false,
         u"S"_s,
         {u"Ärger=Größe"_s}},
        {"a line of Windows-1252 among UTF-8",
         "[S]\r\nName=B\xFC"
         "cher\r\nZ=Bücher\r\n",
         false,
         u"S"_s,
         {u"Name=Bücher"_s, u"Z=Bücher"_s}},
        {"a Windows-1252 file",
         "[S]\r\nName=B\xFC"
         "cher\r\n",
         true,
         u"S"_s,
         {u"Name=Bücher"_s}},
        {"a long value",
         "[S]\r\nlong=" + longValue + "\r\n",
         false,
         u"S"_s,
         {u"long="_s + QString(2047, u'x')}},
        {"no such section", "[S]\r\na=1\r\n", false, u"U"_s, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(path, c.file);
        IniFile file(path);
        if (c.cp1252) file.SetEncoding(IniFile::Encoding::Latin1252);
        QStringList seen;
        file.ForEachKey(c.section, [&](QStringView name, QStringView value) {
            seen << name.toString() + u'=' + value.toString();
        });
        EXPECT_EQ(seen, c.expected);
        for (const QString& kv : c.expected) {
            const qsizetype eq = kv.indexOf(u'=');
            EXPECT_EQ(file.ReadString(c.section, kv.left(eq), u"-"_s), kv.mid(eq + 1));
        }
    }
}

namespace {

// Everything a reader sees of a file, then what a held save writes: one that changes nothing
// (left out only where the file holds exactly what it would write), then one that changes the
// first key of each section and adds one.
QString seenIn(const QString& path) {
    IniFile ini(path);
    QString seen;
    const QStringList sections = ini.ReadSections();
    for (const QString& s : sections) {
        seen += u'[' + s + u"]\n"_s;
        for (const QString& key : ini.ReadSection(s))
            seen += key + u'=' + ini.ReadString(s, key, u"-"_s) + u'\n';
        ini.ForEachKey(s, [&](QStringView k, QStringView v) {
            seen += u'<' + k.toString() + u'|' + v.toString() + u">\n"_s;
        });
    }
    ini.BeginUpdate();
    for (const QString& s : sections)
        for (const QString& key : ini.ReadSection(s))
            ini.WriteString(s, key, ini.ReadString(s, key, {}));
    ini.Commit();
    seen += QString::fromUtf8(bytesOf(path).toBase64()) + u'\n';
    ini.BeginUpdate();
    for (const QString& s : sections) {
        const QStringList keys = ini.ReadSection(s);
        if (!keys.isEmpty()) ini.WriteString(s, keys.first(), u"changed"_s);
        ini.WriteString(s, u"added"_s, u"1"_s);
    }
    ini.Commit();
    return seen + QString::fromUtf8(bytesOf(path).toBase64());
}

} // namespace

// A file split between threads at any line reads and saves as one parsed on one thread:
// sections in pieces, twins, odd lines and line ends on either side of the split points.
TEST_F(IniFileTest, AFileParsedOnSeveralThreadsReadsAndSavesAsOnOne) {
    QByteArray manyKeys = "[Big]\r\n";
    for (int i = 0; i < 300; ++i)
        manyKeys += "k" + QByteArray::number(i) + "=" + QByteArray::number(i * 7) + "\r\n";
    manyKeys += "K7=twin\r\n[big]\r\nk3=later piece\r\nnew=1\r\n";
    const struct {
        const char* name;
        QByteArray file;
    } cases[] = {
        {"keys before the first section, pieces, twins, comments",
         "k0=v\r\n[A]\r\nx=1\r\nX=2\r\n;c=3\r\n\r\n[B]\r\ny=1\r\n[a]\r\nx=9\r\nz=8\r\n"
         "no equals\r\n[C\r\n w = spaced \r\n=5\r\n[D] tail\r\nd=1\r\n"},
        {"LF line ends among CR LF, no final line end", "[S]\nk=1\r\nk2=2\nk=3\r\n[T]\r\nt=1"},
        {"CR LF throughout, as saved", "[S]\r\nk=1\r\nk2=2\r\n[T]\r\nt=1\r\nu=2\r\n"},
        {"no section at all",
         "a=1\r\nb=2\r\nA=3\r\nc=4\r\nB=5\r\nd=6\r\ne=7\r\nf=8\r\ng=9\r\nC=10\r\n"},
        {"sections only, blank lines", "\r\n\r\n[x]\r\n[y]\r\n\r\n[x]\r\n\r\n\r\n[z]\r\n"},
        {"names outside ASCII and a line of Windows-1252",
         "[\xC3\x9C"
         "ber]\r\nschl\xC3\xBCssel=wert\r\nSCHL\xC3\x9CSSEL=zwei\r\n\xE9t\xE9=1252\r\n"
         "[\xDC"
         "ber]\r\nk=v\r\n[\xC3\xBC"
         "ber]\r\n\xE2\x84\xAA=kelvin\r\nk=v2\r\n"},
        {"a large section with a twin and a later piece", manyKeys},
    };
    const qsizetype single = IniFile::ParsePartBytes;
    const auto restore = qScopeGuard([&] { IniFile::ParsePartBytes = single; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString expected;
        for (const qsizetype part : {qsizetype(1) << 40, qsizetype(1), qsizetype(5), qsizetype(13),
                                     qsizetype(40), c.file.size() / 2}) {
            SCOPED_TRACE(part);
            IniFile::ParsePartBytes = part;
            // A file of its own each time, so no parse kept from another is taken.
            const QString file = dir.filePath(QString::number(part) + u".ini"_s);
            writeBytes(file, c.file);
            const QString seen = seenIn(file);
            if (expected.isEmpty())
                expected = seen;
            else
                EXPECT_EQ(seen, expected);
            QFile::remove(file);
        }
    }
}

// A batch of writes on a held file, its unchanged keys found first on several threads, leaves
// the file as the same writes one by one: names twice in the batch, twins and spaced names in
// the file, keys not there yet, a value with a line break, a section in pieces.
TEST_F(IniFileTest, ABatchOfWritesOnSeveralThreadsSavesAsSingleWrites) {
    QByteArray big = "[S]\r\n";
    QList<std::pair<QString, QString>> same;
    for (int i = 0; i < 200; ++i) {
        big += "k" + QByteArray::number(i) + "=" + QByteArray::number(i) + "\r\n";
        same.append({u"k"_s + QString::number(i), QString::number(i)});
    }
    big += "K5=twin\r\n k7 =spaced\r\n\r\n";
    QList<std::pair<QString, QString>> twice = same;
    twice.append({u"K3"_s, u"changed"_s});
    twice.append({u"k3"_s, u"3"_s}); // back to what the file held
    twice.append({u"k9"_s, u"changed"_s});
    twice.append({u"k200"_s, u"new"_s});
    twice.append({u"K200"_s, u"new"_s});
    twice.append({u"k10"_s, u"two\nlines"_s});
    const struct {
        const char* name;
        QByteArray file;
        QList<std::pair<QString, QString>> writes;
    } cases[] = {
        {"nothing changed", big, same},
        {"names twice, new keys, a line break", big, twice},
        {"the section in two pieces", big + "[T]\r\n[s]\r\nk3=later\r\nk300=x\r\n", twice},
        {"no such section yet", "[T]\r\nt=1\r\n", twice},
    };
    const qsizetype single = IniFile::ParsePartBytes;
    const auto restore = qScopeGuard([&] { IniFile::ParsePartBytes = single; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IniFile::ParsePartBytes = qsizetype(1) << 40;
        writeBytes(path, c.file);
        ini.BeginUpdate();
        for (const auto& [k, v] : c.writes)
            ini.WriteString(u"S"_s, k, v);
        ini.Commit();
        const QByteArray expected = bytesOf(path);
        for (const qsizetype part : {qsizetype(1), qsizetype(100), qsizetype(1000)}) {
            SCOPED_TRACE(part);
            IniFile::ParsePartBytes = part;
            writeBytes(path, c.file);
            ini.BeginUpdate();
            ini.WriteStrings(u"S"_s, c.writes.size(), [&](qsizetype i, IniFile::KeyRoom&) {
                return std::pair{QStringView(c.writes[i].first), QStringView(c.writes[i].second)};
            });
            ini.Commit();
            EXPECT_EQ(bytesOf(path), expected);
        }
    }
}

// A file of valid UTF-8 is read where its lines lie in the bytes; a file with one line that is
// not is decoded line by line. Both must read and write the same.
namespace {

// Names and values with letters outside ASCII, white space outside ASCII around names (no-break
// space, ideographic space), a byte order mark starting a value, a character beyond the BMP.
const QByteArray Content = "[\xC3\x84rger]\r\n"
                           "\xC2\xA0N\xC3\xA4he\xE3\x80\x80=n\xC3\xA4h\r\n"
                           "bom=\xEF\xBB\xBFx\r\n"
                           "\xE2\x84\xAA"
                           "elvin=K\r\n"
                           "k=second\r\n"
                           "emoji= \xF0\x9F\x98\x80 \r\n"
                           "n= 42 \r\n"
                           "[Plain]\r\n"
                           "a=1\r\n";

struct Reads {
    QString naehe, bom, kelvin, emoji, plain;
    int n;
    QStringList keys, sections;
};

Reads readAll(const IniFile& ini) {
    const QString s = u"äRGER"_s;
    return {ini.ReadString(s, u"NÄHE"_s, u"-"_s),
            ini.ReadString(s, u"BOM"_s, u"-"_s),
            ini.ReadString(s, u"K"_s, u"-"_s),
            ini.ReadString(s, u"Emoji"_s, u"-"_s),
            ini.ReadString(u"plain"_s, u"A"_s, u"-"_s),
            ini.ReadInteger(s, u"n"_s, -1),
            ini.ReadSection(s),
            ini.ReadSections()};
}

class IniFileTextTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString utf8Path = dir.filePath(u"utf8.ini"_s);
    QString mixedPath = dir.filePath(u"mixed.ini"_s);
};

TEST_F(IniFileTextTest, ValidUtf8ReadsAsTheDecodedText) {
    writeBytes(utf8Path, Content);
    writeBytes(mixedPath, Content + "; M\xFC"
                                    "ll\r\n");
    const Reads a = readAll(IniFile(utf8Path));
    const Reads b = readAll(IniFile(mixedPath));
    EXPECT_EQ(a.naehe, u"näh"_s);
    EXPECT_EQ(a.bom, u"\uFEFFx"_s);
    EXPECT_EQ(a.kelvin, u"second"_s); // the Kelvin sign is a name of its own
    EXPECT_EQ(a.emoji, u" \U0001F600 "_s);
    EXPECT_EQ(a.n, 42);
    EXPECT_EQ(a.keys,
              (QStringList{u"Nähe"_s, u"bom"_s, u"\u212Aelvin"_s, u"k"_s, u"emoji"_s, u"n"_s}));
    EXPECT_EQ(a.sections, (QStringList{u"Ärger"_s, u"Plain"_s}));
    EXPECT_EQ(a.naehe, b.naehe);
    EXPECT_EQ(a.bom, b.bom);
    EXPECT_EQ(a.kelvin, b.kelvin);
    EXPECT_EQ(a.emoji, b.emoji);
    EXPECT_EQ(a.plain, b.plain);
    EXPECT_EQ(a.n, b.n);
    EXPECT_EQ(a.keys, b.keys);
    EXPECT_EQ(a.sections, b.sections);
}

TEST_F(IniFileTextTest, LongValuesAreCutAtTheSameCharacter) {
    // 2046 letters and a character of two UTF-16 units: the cut drops the whole character.
    const QByteArray head = "[S]\r\nk=" + QByteArray(2046, 'a');
    writeBytes(utf8Path, head + "\xF0\x9F\x98\x80z\r\n");
    writeBytes(mixedPath, head + "\xF0\x9F\x98\x80z\r\n;\xFF\r\n");
    const QString a = IniFile(utf8Path).ReadString(u"S"_s, u"k"_s, {});
    EXPECT_EQ(a, QString(2046, u'a'));
    EXPECT_EQ(IniFile(mixedPath).ReadString(u"S"_s, u"k"_s, {}), a);
    // Within the limit in characters but not in bytes: read whole.
    writeBytes(utf8Path,
               "[S]\r\nk=" + QByteArray(2000, 'a') + QByteArray("\xC3\xA4").repeated(40) + "\r\n");
    EXPECT_EQ(IniFile(utf8Path).ReadString(u"S"_s, u"k"_s, {}).size(), 2040);
}

TEST_F(IniFileTextTest, WritesKeepTheOtherLinesBytes) {
    writeBytes(utf8Path, Content);
    IniFile ini(utf8Path);
    // The same value again changes nothing, also where it is not ASCII.
    ini.WriteString(u"ärger"_s, u"\u212Aelvin"_s, u"K"_s);
    ini.WriteString(u"ärger"_s, u"Emoji"_s, u" \U0001F600 "_s);
    EXPECT_EQ(bytesOf(utf8Path), Content);
    ini.BeginUpdate();
    ini.WriteString(u"ärger"_s, u"bom"_s, u"\uFEFFx"_s);
    // Held and in file order: names told apart only outside ASCII.
    ini.WriteString(u"ärger"_s, u"\u212Aelvin"_s, u"K"_s);
    ini.WriteString(u"ärger"_s, u"K"_s, u"second"_s);
    ini.WriteString(u"ärger"_s, u"EMOJI"_s, u" \U0001F600 "_s);
    ini.WriteString(u"Plain"_s, u"a"_s, u"1"_s);
    ini.Commit();
    EXPECT_EQ(bytesOf(utf8Path), Content);
    // A changed value: only its line differs, and the name keeps its spelling.
    ini.WriteString(u"ärger"_s, u"NÄHE"_s, u"fern €"_s);
    QByteArray expected = Content;
    expected.replace("\xC2\xA0N\xC3\xA4he\xE3\x80\x80=n\xC3\xA4h", "N\xC3\xA4he=fern \xE2\x82\xAC");
    EXPECT_EQ(bytesOf(utf8Path), expected);
    EXPECT_EQ(ini.ReadString(u"ärger"_s, u"nähe"_s, {}), u"fern €"_s);
    // A new key and a new section are appended as before.
    ini.WriteString(u"Plain"_s, u"b"_s, u"2"_s);
    ini.WriteString(u"Neu"_s, u"c"_s, u"3"_s);
    EXPECT_EQ(bytesOf(utf8Path), expected + "b=2\r\n\r\n[Neu]\r\nc=3\r\n");
}

} // namespace
