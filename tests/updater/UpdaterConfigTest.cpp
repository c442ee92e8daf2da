// Reading iup.ini and finding the install and data folders in another ini file or the registry.
#include <QFile>
#include <gtest/gtest.h>

#include "Placeholders.h"
#include "TestFolder.h"
#include "TestRegistry.h"
#include "UpdaterConfig.h"

namespace {

const QString Tail = "\nbitte wählen Sie das Installationsverzeichnis der Anwendung aus";
const QString IniHead = "Ini konnte nicht gelesen werden\n";

class UpdaterConfigTest : public ::testing::Test {
protected:
    QString install() const { return t[Placeholder::InstallDir].folder; }
    QString data() const { return t[Placeholder::DataDir].folder; }

    TestFolder folder;
    TestRegistry reg{folder.Path("reg")};
    PlaceholderTable t;
};

TEST_F(UpdaterConfigTest, ConfigurationIsReadInEitherEncoding) {
    const QString path = folder.Write(
        "iup.ini", "[IUPS]\r\nhost=www.example.de\r\ndir=/upd/\r\nuserpop1=M\xfc\x6cler\r\n"
                   "[global]\r\nziel1=3\r\nziel2=Software\\Zorvane2\\path\r\nstart=Zorvane2\r\n");
    const UpdaterConfig c = ReadUpdaterConfigFile(path);
    EXPECT_EQ(c.host, "www.example.de");
    EXPECT_EQ(c.dir, "/upd/");
    EXPECT_EQ(c.userpop1, "Müller"); // not UTF-8, so Windows-1252
    EXPECT_EQ(c.ziel1, 3);
    EXPECT_EQ(c.ziel2, "Software\\Zorvane2\\path");
    EXPECT_EQ(c.start, "Zorvane2");

    folder.Write("utf8.ini", "[iups]\nuserpop1=Müller\n");
    const UpdaterConfig u = ReadUpdaterConfigFile(folder.Path("utf8.ini"));
    EXPECT_EQ(u.userpop1, "Müller");
    EXPECT_EQ(u.ziel1, -1); // missing: the user is asked

    EXPECT_THROW(ReadUpdaterConfigFile(folder.Path("none.ini")), std::runtime_error);
}

TEST_F(UpdaterConfigTest, IniTargetFailuresNameTheirCause) {
    const QString prog = folder.MakeDir("prog");
    const QString ini = folder.Write(
        "t.ini", ("[Pfade]\nprog=" + prog + "\nleer=\nweg=" + folder.Path("weg") + "\n").toUtf8());
    struct Case {
        QString ziel2;
        QString detail;
    };
    const Case cases[] = {
        {ini, "Pfad oder Section konnte nicht ermittelt werden"},
        {ini + ";Pfade", "Pfad oder Section konnte nicht ermittelt werden"},
        {ini + ";Pfade;", "Eintrag konnte nicht ermittelt werden"},
        {folder.Path("none.ini") + ";Pfade;prog", "Datei nicht gefunden"},
        {ini + ";Pfade;leer", "Eintrag nicht gefunden"},
        {ini + ";Pfade;weg", "Eintrag nicht gefunden"}, // no such folder
    };
    for (const Case& c : cases)
        EXPECT_EQ(TargetFromIni(c.ziel2, t), IniHead + c.detail + Tail) << c.ziel2.toStdString();

    EXPECT_EQ(TargetFromIni(ini + ";pfade;PROG", t), "");
    EXPECT_EQ(install(), prog + "/");
    EXPECT_EQ(data(), prog + "/"); // no data key: the install folder

    folder.Write("d.ini", ("[P]\nprog=" + prog + "/\nprogdata=/daten\n").toUtf8());
    EXPECT_EQ(TargetFromIni(folder.Path("d.ini") + ";P;prog", t), "");
    EXPECT_EQ(install(), prog + "/");
    EXPECT_EQ(data(), "/daten/");
}

TEST_F(UpdaterConfigTest, RegistryTargetFallsBackToTheCurrentUser) {
    const QString key = "Software\\Zorvane2";
    TestRegistry::Lay(RegRoot::LocalMachine, key, {"path=/machine/prog", "dbpath=/machine/data"});
    EXPECT_EQ(TargetFromRegistry(3, key + "\\path", t), "");
    EXPECT_EQ(install(), "/machine/prog/");
    EXPECT_EQ(data(), "/machine/data/");

    // An ordinary user cannot open the machine's root with full access.
    TestRegistry::Lay(RegRoot::CurrentUser, key, {"path=/user/prog", "dbpath=/user/data"});
    QFile::setPermissions(Registry::RootFile(RegRoot::LocalMachine), QFile::ReadOwner);
    t[Placeholder::InstallDir].folder.clear();
    EXPECT_EQ(TargetFromRegistry(3, key + "\\path", t), "");
    EXPECT_EQ(install(), "/user/prog/");
    EXPECT_EQ(data(), "/user/data/");

    QFile::remove(Registry::RootFile(RegRoot::CurrentUser));
    t[Placeholder::InstallDir].folder.clear();
    EXPECT_EQ(TargetFromRegistry(3, key + "\\path", t), "Registry Pfad nicht vorhanden" + Tail);
}

TEST_F(UpdaterConfigTest, RegistryTargetSplitsAtTheLastInnerBackslash) {
    TestRegistry::Lay(RegRoot::ClassesRoot, "Software", {"Zorvane2\\=/a", "x=/b"});
    t[Placeholder::DataDir].folder = "/old/";
    EXPECT_EQ(TargetFromRegistry(1, "Software\\Zorvane2\\", t), "");
    EXPECT_EQ(install(), "/a/");
    EXPECT_EQ(data(), ""); // cleared, and no "db" value

    const QString noSplit = "Registrypfad oder Schlüßel konnte nicht extrahiert werden" + Tail;
    EXPECT_EQ(TargetFromRegistry(1, "Software", t), noSplit);
    EXPECT_EQ(TargetFromRegistry(1, "\\", t), noSplit);
    EXPECT_EQ(TargetFromRegistry(1, "", t), noSplit);
    t[Placeholder::InstallDir].folder.clear();
    EXPECT_EQ(TargetFromRegistry(1, "Software\\y", t), "Registry Eintrag nicht vorhanden" + Tail);
    EXPECT_EQ(TargetFromRegistry(5, "Software\\x", t), "Registry Eintrag nicht vorhanden" + Tail);
}

} // namespace
