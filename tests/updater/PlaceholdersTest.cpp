// The placeholder table of this machine and the decoding of destinations.
#include <QDir>
#include <gtest/gtest.h>

#include "Placeholders.h"
#include "Raised.h"

namespace {

const QString Read = "Fehler beim lesen der Datei Eigenschaften";

QString failed(const QString& token, const QString& spec) {
    return "Standardpfad: " + token + " vorher " + spec + " konnte nicht umgewandelt werden";
}

// 20 characters: "a" or not, a flag per system, the unread position, the mode digit.
QString flags(QChar first, int xAt, QChar mode, const QString& path) {
    QString s = first + QString(18, u'-') + mode;
    if (xAt >= 0) s[xAt + 1] = u'X';
    return s + path;
}

TEST(PlaceholdersTest, TableHoldsThisMachinesFolders) {
    PlaceholderTable t;
    InitPlaceholders(t);
    EXPECT_EQ(t[Placeholder::InstallDir].folder, "");
    EXPECT_EQ(t[Placeholder::WinDisk].folder, "/");
    EXPECT_EQ(t[Placeholder::FontDir].folder, t[Placeholder::WinDir].folder + "fonts/");
    EXPECT_EQ(t[Placeholder::TempDir].folder, QDir::tempPath() + "/");
    // No all-users desktop here: it is the user's desktop.
    EXPECT_EQ(t[10].name, "<alluserdesktop>\\");
    EXPECT_FALSE(t[Placeholder::UserDesktop].folder.isEmpty());
    EXPECT_EQ(t[10].folder, t[Placeholder::UserDesktop].folder);
    for (int i = Placeholder::WinDir; i < Placeholder::Count; ++i) {
        const QString& f = t[i].folder;
        EXPECT_TRUE(f.isEmpty() || f.endsWith('/')) << t[i].name.toStdString();
        EXPECT_TRUE(t[i].name.startsWith('<') && t[i].name.endsWith(">\\"));
    }
}

TEST(PlaceholdersTest, DestinationsDecodeOrFailWithTheirText) {
    PlaceholderTable t;
    InitPlaceholders(t);
    t[Placeholder::InstallDir].folder = "/inst/";
    const QString win = t[Placeholder::WinDir].folder;
    struct Case {
        QString spec;
        QString path;         // expected folder, when no error
        QString error;        // expected error text
        bool message = false; // the "cannot decode" message comes first
    };
    QList<Case> cases = {
        {"<windir>\\fonts\\", win + "fonts/", {}},
        {"<installdir>\\sub/dir\\", "/inst/sub/dir/", {}},
        {"<installdir>\\", "/inst/", {}},
        {"<WINDIR>\\fonts\\", {}, failed("<WINDIR>\\", "<WINDIR>\\fonts\\")},
        {"<windir>/fonts/", {}, failed("<windir>/", "<windir>/fonts/")},
        {"<windir>", {}, failed("<windir>", "<windir>")},
        {"<datadir>\\x\\", {}, failed("", "<datadir>\\x\\")},
        {"<windir\\fonts", {}, "Standardpfad ohne Endzeichen"},
        // without "<" first, a destination is of the flags form
        {flags('a', -1, '0', "x<windir>\\"), {}, "Standardpfad enthält ungültigen Begin"},
        {flags('a', -1, '0', "fonts>\\"), {}, "Standardpfad enthält ungültigen Begin"},
        {flags('a', -1, '0', "C:\\Windows\\"),
         {},
         failed("C:\\Windows\\", flags('a', -1, '0', "C:\\Windows\\")),
         true},
        // flags form
        {flags('a', -1, '0', "<installdir>\\"), "/inst/", {}},
        {flags('a', -1, '3', "<installdir>\\"), {}, Read},
        {flags('a', -1, '0', "").left(19), {}, Read},
        {flags('-', -1, '2', ""), {}, failed("", flags('-', -1, '2', "")), true},
    };
    // Nothing may leave the placeholder's folder.
    for (const QString spec :
         {"<installdir>\\..\\..\\x\\", "<installdir>\\/etc/", "<installdir>\\a\\..",
          "<installdir>\\c:x", "<installdir>\\a<windir>\\", "<installdir>\\a\tb"})
        cases.append({spec, {}, failed(spec, spec)});
    for (const Case& c : cases) {
        DestinationDecoder d(t);
        QStringList shown;
        d.showMessage = [&](const QString& text) { shown << text; };
        EXPECT_EQ(RaisedText<DestinationError>([&] { d.DecodeZiel(c.spec); }), c.error)
            << c.spec.toStdString();
        if (c.error.isEmpty()) {
            EXPECT_EQ(d.DecodedPath, c.path) << c.spec.toStdString();
        }
        EXPECT_EQ(shown,
                  c.message ? QStringList{"kann " + c.spec + " nich entschlüsseln"} : QStringList{})
            << c.spec.toStdString();
    }
}

TEST(PlaceholdersTest, WhetherAFileAppliesFollowsFlagsAndCarriesOver) {
    PlaceholderTable t;
    t[Placeholder::InstallDir].folder = "/inst/";
    DestinationDecoder d(t);
    QStringList trace;
    d.trace = [&](const QString& line) { trace << line; };
    d.systemIndex = 15;

    d.DecodeZiel("<installdir>\\"); // the first one starting with "<" does not apply
    EXPECT_FALSE(d.AppliesToSystem);
    d.DecodeZiel(flags('-', 15, '1', "<installdir>\\")); // the flag is character 17
    EXPECT_TRUE(d.AppliesToSystem);
    d.DecodeZiel("<installdir>\\x\\");
    EXPECT_TRUE(d.AppliesToSystem);
    d.DecodeZiel(flags('-', 14, '1', "<installdir>\\"));
    EXPECT_FALSE(d.AppliesToSystem);
    d.DecodeZiel("<installdir>\\x\\");
    EXPECT_FALSE(d.AppliesToSystem);
    d.DecodeZiel(flags('a', 14, '1', "<installdir>\\"));
    EXPECT_TRUE(d.AppliesToSystem);
    EXPECT_TRUE(trace.isEmpty());

    d.debugMode = true;
    t[Placeholder::DataDir].folder = "/daten/";
    d.AppliesToSystem = false;
    d.DecodeZiel(""); // empty: every system, the data folder
    EXPECT_TRUE(d.AppliesToSystem);
    EXPECT_EQ(d.DecodedPath, "/daten/");
    EXPECT_EQ(trace, QStringList{"DecodeZiel: "});

    t[Placeholder::DataDir].folder.clear();
    EXPECT_THROW(d.DecodeZiel(""), DestinationError);
}

} // namespace
