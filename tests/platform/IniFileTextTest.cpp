// A file of valid UTF-8 is read where its lines lie in the bytes; a file with one line that is
// not is decoded line by line. Both must read and write the same.
#include "IniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
