#include "IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

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

class IniFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("settings.ini"));
    IniFile ini{path};

    // What a failed write must have left: the old bytes and no stray temporary file.
    void expectUntouched(const QString& file, const QByteArray& old) {
        EXPECT_EQ(bytesOf(file), old);
        const QStringList left = QDir(QFileInfo(file).absolutePath()).entryList(QDir::Files);
        for (const QString& name : left)
            EXPECT_FALSE(name.contains(QStringLiteral(".tmp"))) << name.toStdString();
    }

    static QString errorText(const std::function<void()>& write) {
        try {
            write();
        } catch (const IniWriteError& e) {
            return QString::fromUtf8(e.what());
        }
        return QStringLiteral("<no error>");
    }
};

TEST_F(IniFileTest, NamesIgnoreCaseAndEveryWriteReachesTheFile) {
    ini.WriteString(QStringLiteral("IV"), QStringLiteral("Pfad"), QStringLiteral("/a"));
    EXPECT_EQ(bytesOf(path), QByteArray("[IV]\r\nPfad=/a\r\n"));

    ini.WriteString(QStringLiteral("iv"), QStringLiteral("PFAD"), QStringLiteral("/b"));
    EXPECT_EQ(bytesOf(path), QByteArray("[IV]\r\nPfad=/b\r\n"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("iV"), QStringLiteral("pfad"), {}), u"/b");

    ini.WriteInteger(QStringLiteral(" iv "), QStringLiteral("Zahl"), -7);
    ini.WriteBool(QStringLiteral("Neu"), QStringLiteral("An"), true);
    EXPECT_EQ(bytesOf(path), QByteArray("[IV]\r\nPfad=/b\r\nZahl=-7\r\n\r\n[Neu]\r\nAn=1\r\n"));
}

TEST_F(IniFileTest, UpdatesInPlaceAndAppendsToItsSection) {
    writeBytes(path, "; kept\n[A]\nx = 1\n\n[B]\ny=2\n");
    ini.WriteString(QStringLiteral("a"), QStringLiteral("X"), QStringLiteral("10"));
    ini.WriteString(QStringLiteral("A"), QStringLiteral("z"), QStringLiteral("3"));
    EXPECT_EQ(bytesOf(path), QByteArray("; kept\r\n[A]\r\nx=10\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"));
    EXPECT_EQ(ini.ReadSection(QStringLiteral("a")), (QStringList{u"x"_s, u"z"_s}));
    EXPECT_EQ(ini.ReadSections(), (QStringList{u"A"_s, u"B"_s}));
}

TEST_F(IniFileTest, ReadsFollowTheFileOnDisk) {
    EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), u"def"_s), u"def");
    EXPECT_FALSE(ini.SectionExists(QStringLiteral("S")));

    writeBytes(path, "[S]\r\nk=\r\nurl=http://x/?a=b \r\n;c=1\r\n");
    EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), u"def"_s), u"");
    EXPECT_TRUE(ini.ValueExists(QStringLiteral("s"), QStringLiteral("K")));
    EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("url"), {}), u"http://x/?a=b ");
    EXPECT_FALSE(ini.ValueExists(QStringLiteral("S"), QStringLiteral(";c")));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Other"), QStringLiteral("k"), u"def"_s), u"def");

    writeBytes(path, "[S]\nk=neu\n");
    EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}), u"neu");
}

TEST_F(IniFileTest, LongValuesAreCutTo2047Characters) {
    const QString longValue(3000, u'x');
    ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), longValue);
    EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}).size(), 2047);
    EXPECT_TRUE(bytesOf(path).contains(longValue.toUtf8())); // the file keeps it whole
}

TEST_F(IniFileTest, NumbersAndBooleans) {
    const struct {
        const char* text;
        int number;
        bool flag;
    } cases[] = {
        {"42", 42, true},     {"-3", -3, true},        {"+5", 5, true},   {" 8 ", 8, true},
        {"0", 0, false},      {"", 99, true},          {"abc", 99, true}, {"12abc", 99, true},
        {"0x10", 99, true},   {"99999999999", 99, true}, {"1.5", 99, true},
    };
    for (const auto& c : cases) {
        writeBytes(path, QByteArray("[S]\nk=") + c.text + "\n");
        EXPECT_EQ(ini.ReadInteger(QStringLiteral("S"), QStringLiteral("k"), 99), c.number)
            << c.text;
        EXPECT_EQ(ini.ReadBool(QStringLiteral("S"), QStringLiteral("k"), true), c.flag) << c.text;
    }
    EXPECT_FALSE(ini.ReadBool(QStringLiteral("S"), QStringLiteral("missing"), false));
}

TEST_F(IniFileTest, DeleteKeyAndEraseSection) {
    writeBytes(path, "[A]\nx=1\ny=2\n[B]\nz=3\n");
    ini.DeleteKey(QStringLiteral("a"), QStringLiteral("X"));
    EXPECT_EQ(bytesOf(path), QByteArray("[A]\r\ny=2\r\n[B]\r\nz=3\r\n"));
    ini.EraseSection(QStringLiteral("a"));
    EXPECT_EQ(bytesOf(path), QByteArray("[B]\r\nz=3\r\n"));
}

TEST_F(IniFileTest, ValueWithLineBreakStaysOnItsLine) {
    ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("a\r\n[X]\nb=c"));
    EXPECT_EQ(bytesOf(path), QByteArray("[S]\r\nk=a\r\n"));
}

TEST_F(IniFileTest, OwnerOnlyFileGetsMode0600AndOthersKeepTheirs) {
    writeBytes(path, "[S]\nk=1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("2"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    ini.SetOwnerOnly(true);
    ini.WriteString(QStringLiteral("S"), QStringLiteral("Passwort"), QStringLiteral("geheim"));
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniFileTest, Windows1252RoundTrip) {
    ini.SetEncoding(IniFile::Encoding::Latin1252);
    ini.WriteString(QStringLiteral("Datei"), QStringLiteral("Name"), u"ÄÖÜß€ „x“"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[Datei]\r\nName=\xC4\xD6\xDC\xDF\x80 \x84x\x93\r\n"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Datei"), QStringLiteral("Name"), {}),
              u"ÄÖÜß€ „x“"_s);

    ini.WriteString(QStringLiteral("Datei"), QStringLiteral("Name"), u"Ω"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[Datei]\r\nName=?\r\n"));

    IniFile utf8(path);
    utf8.WriteString(QStringLiteral("Datei"), QStringLiteral("Name"), u"€"_s);
    EXPECT_EQ(bytesOf(path), QByteArray("[Datei]\r\nName=\xE2\x82\xAC\r\n"));
}

TEST_F(IniFileTest, FailedWriteNamesTheFullPathAndKeepsTheOldFile) {
    // Root ignores permission bits, so these failures come from the file system's shape.
    writeBytes(dir.filePath(QStringLiteral("plain")), "not a folder");
    const QString underFile = dir.filePath(QStringLiteral("plain/x.ini"));
    IniFile inFile(underFile);
    EXPECT_EQ(errorText([&] { inFile.WriteString(u"S"_s, u"k"_s, u"v"_s); }),
              QStringLiteral("In %1 kann nicht geschrieben werden").arg(underFile));

    const QString folderTarget = dir.filePath(QStringLiteral("isdir.ini"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("isdir.ini")));
    IniFile onFolder(folderTarget);
    EXPECT_EQ(errorText([&] { onFolder.WriteString(u"S"_s, u"k"_s, u"v"_s); }),
              QStringLiteral("In %1 kann nicht geschrieben werden").arg(folderTarget));
    expectUntouched(folderTarget, {});

    const QString missingFolder = dir.filePath(QStringLiteral("nowhere/x.ini"));
    IniFile nowhere(missingFolder);
    EXPECT_NE(errorText([&] { nowhere.WriteBool(u"S"_s, u"k"_s, true); }), u"<no error>");
    EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("nowhere"))).exists());
}

TEST_F(IniFileTest, ReadOnlyFileIsNotReplaced) {
    const QByteArray old("[S]\r\nk=alt\r\n");
    writeBytes(path, old);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    EXPECT_EQ(errorText([&] { ini.WriteString(u"S"_s, u"k"_s, u"neu"_s); }),
              QStringLiteral("In %1 kann nicht geschrieben werden").arg(path));
    expectUntouched(path, old);
    EXPECT_THROW(ini.DeleteKey(u"S"_s, u"k"_s), IniWriteError);
    expectUntouched(path, old);
}

TEST_F(IniFileTest, ErrorTextUsesTheAbsolutePath) {
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString text = QString::fromUtf8(IniWriteError(QStringLiteral("rel/ä.ini")).what());
    QDir::setCurrent(before);
    EXPECT_EQ(text, QStringLiteral("In %1/rel/ä.ini kann nicht geschrieben werden")
                        .arg(QFileInfo(dir.path()).absoluteFilePath()));
}

} // namespace
