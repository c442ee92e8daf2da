#include "Placeholders.h"

#include <QStringList>

#include "Registry.h"
#include "ShellFolders.h"

namespace {

constexpr const char* Names[Placeholder::Count] = {
    "<installdir>\\",       "<datadir>\\",           "<windir>\\",         "<windisk>\\",
    "<winsysdir>\\",        "<winsysdisk>\\",        "<tempdir>\\",        "<programmfilesdir>\\",
    "<commonfiles>\\",      "<alluserdata>\\",       "<alluserdesktop>\\", "<alluserdocdir>\\",
    "<alluserprogMenue>\\", "<alluserstartmenue>\\", "<allusersendto>\\",  "<alluserautostart>\\",
    "<allusertemplates>\\", "<userdata>\\",          "<userdesktop>\\",    "<userdocdir>\\",
    "<userprogMenue>\\",    "<userstartmenue>\\",    "<usersendto>\\",     "<userautostart>\\",
    "<usertemplates>\\",    "<fontdir>\\",
};

// The shell folders behind entries 9 to 16 and 17 to 24.
constexpr const char* CommonShellFolders[8] = {
    "common appdata",    "common desktop", "common documents", "common programs",
    "common start menu", "common sendto",  "common startup",   "common templates",
};
constexpr const char* UserShellFolders[8] = {
    "appdata", "desktop", "personal", "programs", "start menu", "sendto", "startup", "templates",
};

// Where this platform keeps what Windows keeps in its own, its system and its program folders.
const QString WindowsFolder = QStringLiteral("/usr/share/");
const QString SystemFolder = QStringLiteral("/usr/lib/");
const QString ProgramFilesFolder = QStringLiteral("/opt/");
const QString CommonFilesFolder = QStringLiteral("/usr/local/share/");
const QString RootFolder = QStringLiteral("/");

QString errorText(const QString& token, const QString& spec) {
    return QStringLiteral("Standardpfad: ") + token + QStringLiteral(" vorher ") + spec +
           QStringLiteral(" konnte nicht umgewandelt werden");
}

// The part after the placeholder must stay below its folder: no leading separator, no "..",
// nothing a file name cannot hold (a drive's colon included).
bool safeRelative(const QString& rest) {
    if (rest.startsWith(u'\\') || rest.startsWith(u'/')) return false;
    for (QChar c : rest) {
        if (c.unicode() < 0x20 || QStringLiteral("<>:\"|?*").contains(c)) return false;
    }
    const QStringList segments = QString(rest).replace(u'\\', u'/').split(u'/');
    return !segments.contains(QStringLiteral(".."));
}

} // namespace

void AddBackslash(QString& path) {
    if (!path.isEmpty() && !path.endsWith(u'/')) path += u'/';
}

PlaceholderTable::PlaceholderTable() {
    for (int i = 0; i < Placeholder::Count; ++i)
        entries_.at(size_t(i)).name = QString::fromLatin1(Names[i]);
}

void InitPlaceholders(PlaceholderTable& t) {
    using namespace Placeholder;
    t[WinDir].folder = WindowsFolder;
    t[WinDisk].folder = RootFolder;
    t[WinSysDir].folder = SystemFolder;
    t[WinSysDisk].folder = RootFolder;
    t[TempDir].folder = ShellFolders::Folder(QStringLiteral("temp"));

    // An administrator may name other places in the registry, as on Windows.
    const QString key = QStringLiteral("software\\microsoft\\windows\\currentversion");
    const auto value = [&](const char* name) {
        return Registry::ReadString(RegRoot::LocalMachine, key, QString::fromLatin1(name))
            .value_or(QString());
    };
    QString programs = value("ProgramFilesDir");
    if (programs.isEmpty()) programs = value("ProgramFilesPath");
    t[ProgramFilesDir].folder = programs.isEmpty() ? ProgramFilesFolder : programs;
    const QString common = value("CommonFilesDir");
    t[CommonFiles].folder = common.isEmpty() ? CommonFilesFolder : common;

    for (int i = 0; i < 8; ++i) {
        t[FirstAllUsers + i].folder =
            ShellFolders::Folder(QString::fromLatin1(CommonShellFolders[i]));
        t[FirstUser + i].folder = ShellFolders::Folder(QString::fromLatin1(UserShellFolders[i]));
    }
    for (int i = 0; i < 8; ++i) {
        if (t[FirstAllUsers + i].folder.isEmpty())
            t[FirstAllUsers + i].folder = t[FirstUser + i].folder;
    }
    for (int i = WinDir; i < FontDir; ++i)
        AddBackslash(t[i].folder);
    t[FontDir].folder = t[WinDir].folder + QStringLiteral("fonts/");
}

void DestinationDecoder::DecodeZiel(const QString& spec) {
    if (debugMode && trace) trace(QStringLiteral("DecodeZiel: ") + spec);
    if (spec.isEmpty()) {
        AppliesToSystem = true;
        DecodedPath = table_[Placeholder::DataDir].folder;
        // Without a data folder the file would land in whatever folder is current.
        if (DecodedPath.isEmpty())
            throw DestinationError(
                errorText(table_[Placeholder::DataDir].name, spec).toStdString());
        return;
    }
    QString path;
    if (spec.startsWith(u'<')) {
        path = spec;
    } else {
        const QString readError = QStringLiteral("Fehler beim lesen der Datei Eigenschaften");
        const qsizetype flag = qMax(0, systemIndex + 1);
        if (spec.size() < 20 || spec.size() <= flag)
            throw DestinationError(readError.toStdString());
        AppliesToSystem = spec[0] == u'a' || spec[flag] == u'X';
        if (!QStringLiteral("012").contains(spec[19]))
            throw DestinationError(readError.toStdString());
        path = spec.mid(20, 1000);
    }
    DecodedPath = resolve(path, spec);
}

QString DestinationDecoder::resolve(const QString& path, const QString& spec) {
    const qsizetype p = path.indexOf(u'<');
    const qsizetype q = path.indexOf(u'>');
    if (p < 0 && q < 0) {
        if (showMessage)
            showMessage(QStringLiteral("kann ") + spec + QStringLiteral(" nich entschlüsseln"));
        // Used unchanged, the path would put the file wherever the server says.
        throw DestinationError(errorText(path, spec).toStdString());
    }
    if (p != 0) throw DestinationError("Standardpfad enthält ungültigen Begin");
    if (q < 0) throw DestinationError("Standardpfad ohne Endzeichen");
    QString token = path.left(q + 2);
    const QString rest = path.mid(q + 2);
    for (int i = 0; i < Placeholder::Count; ++i) {
        if (table_[i].name == token) {
            token = table_[i].folder;
            break;
        }
    }
    if (token.isEmpty() || token.contains(u'<') || token.contains(u'>'))
        throw DestinationError(errorText(token, spec).toStdString());
    if (!safeRelative(rest)) throw DestinationError(errorText(path, spec).toStdString());
    return token + QString(rest).replace(u'\\', u'/');
}
