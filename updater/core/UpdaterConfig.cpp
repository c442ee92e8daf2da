#include "UpdaterConfig.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <stdexcept>

#include "Registry.h"

namespace {

const QString Choose =
    QStringLiteral("bitte wählen Sie das Installationsverzeichnis der Anwendung aus");

// Cuts the text up to the next ";" off ziel2, or gives false when there is none.
bool TakeTargetField(QString& ziel2, QString& field) {
    const qsizetype semi = ziel2.indexOf(u';');
    if (semi < 0) return false;
    field = ziel2.left(semi);
    ziel2.remove(0, semi + 1);
    return true;
}

void readFolders(RegRoot root, const QString& key, const QString& name, PlaceholderTable& t) {
    t[Placeholder::InstallDir].folder = Registry::ReadString(root, key, name).value_or(QString());
    t[Placeholder::DataDir].folder =
        Registry::ReadString(root, key, QStringLiteral("db") + name).value_or(QString());
}

// Both folders end in the separator once the install folder is known.
void finishFolders(PlaceholderTable& t) {
    AddBackslash(t[Placeholder::InstallDir].folder);
    AddBackslash(t[Placeholder::DataDir].folder);
}

} // namespace

IniFile OpenForeignIni(const QString& path) {
    IniFile ini(path);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8.decode(file.readAll()); // decoding sets the error flag
        if (utf8.hasError()) ini.SetEncoding(IniFile::Encoding::Latin1252);
    }
    return ini;
}

UpdaterConfig ReadUpdaterConfigFile(const QString& path, PlaceholderTable placeholders) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error(QStringLiteral("Die Konfiguration %1 kann nicht gelesen werden")
                                     .arg(QFileInfo(path).absoluteFilePath())
                                     .toStdString());
    }
    file.close();
    const IniFile ini = OpenForeignIni(path);
    const QString iups = QStringLiteral("iups");
    const QString global = QStringLiteral("global");
    UpdaterConfig c;
    c.placeholders = std::move(placeholders);
    c.host = ini.ReadString(iups, QStringLiteral("host"), QString());
    c.host2 = ini.ReadString(iups, QStringLiteral("host2"), QString());
    c.userpop1 = ini.ReadString(iups, QStringLiteral("userpop1"), QString());
    c.userpop2 = ini.ReadString(iups, QStringLiteral("userpop2"), QString());
    c.pwpop1 = ini.ReadString(iups, QStringLiteral("pwpop1"), QString());
    c.pwpop2 = ini.ReadString(iups, QStringLiteral("pwpop2"), QString());
    c.dir = ini.ReadString(iups, QStringLiteral("dir"), QString());
    c.ziel2 = ini.ReadString(global, QStringLiteral("ziel2"), QString());
    c.ziel1 = ini.ReadInteger(global, QStringLiteral("ziel1"), -1);
    c.start = ini.ReadString(global, QStringLiteral("start"), QString());
    return c;
}

QString InstallDirQuestion(const QString& reason) {
    return reason + u'\n' + Choose;
}

QString IniTargetQuestion(const QString& detail) {
    return InstallDirQuestion(QStringLiteral("Ini konnte nicht gelesen werden\n") + detail);
}

QString TargetFromIni(const QString& ziel2, PlaceholderTable& t) {
    QString rest = ziel2;
    QString fileName, section;
    if (!TakeTargetField(rest, fileName) || !TakeTargetField(rest, section))
        return IniTargetQuestion(QStringLiteral("Pfad oder Section konnte nicht ermittelt werden"));
    const QString& key = rest;
    if (key.isEmpty())
        return IniTargetQuestion(QStringLiteral("Eintrag konnte nicht ermittelt werden"));
    if (!QFileInfo(fileName).isFile())
        return IniTargetQuestion(QStringLiteral("Datei nicht gefunden"));
    const IniFile ini = OpenForeignIni(fileName);
    QString& install = t[Placeholder::InstallDir].folder;
    install = ini.ReadString(section, key, QString());
    t[Placeholder::DataDir].folder = ini.ReadString(section, key + QStringLiteral("data"), install);
    if (install.isEmpty() || !QFileInfo(install).isDir())
        return IniTargetQuestion(QStringLiteral("Eintrag nicht gefunden"));
    finishFolders(t);
    return QString();
}

QString TargetFromRegistry(int ziel1, const QString& ziel2, PlaceholderTable& t) {
    // A trailing "\" belongs to the value name.
    const qsizetype split = ziel2.size() < 2 ? -1 : ziel2.lastIndexOf(u'\\', ziel2.size() - 2);
    if (split < 0) {
        return InstallDirQuestion(
            QStringLiteral("Registrypfad oder Schlüßel konnte nicht extrahiert werden"));
    }
    const QString key = ziel2.left(split);
    const QString name = ziel2.mid(split + 1, 1000);
    static constexpr RegRoot Roots[] = {RegRoot::ClassesRoot, RegRoot::CurrentUser,
                                        RegRoot::LocalMachine, RegRoot::Users,
                                        RegRoot::CurrentConfig};
    RegRoot root = Roots[qBound(1, ziel1, 5) - 1];
    t[Placeholder::DataDir].folder.clear();
    if (Registry::OpenKeyFullAccess(root, key)) readFolders(root, key, name, t);
    if (t[Placeholder::InstallDir].folder.isEmpty() && root == RegRoot::LocalMachine) {
        root = RegRoot::CurrentUser;
        if (!Registry::OpenKeyFullAccess(root, key))
            return InstallDirQuestion(QStringLiteral("Registry Pfad nicht vorhanden"));
        readFolders(root, key, name, t);
    }
    if (t[Placeholder::InstallDir].folder.isEmpty())
        return InstallDirQuestion(QStringLiteral("Registry Eintrag nicht vorhanden"));
    finishFolders(t);
    return QString();
}

UpdaterSettings ReadUpdaterSettings(const IniFile& ini) {
    const QString g = QStringLiteral("g");
    UpdaterSettings s;
    s.ufw = ini.ReadBool(g, QStringLiteral("ufw"), false);
    s.fh = ini.ReadString(g, QStringLiteral("fh"), QString());
    s.fu = ini.ReadString(g, QStringLiteral("fu"), QString());
    s.fp = ini.ReadString(g, QStringLiteral("fp"), QStringLiteral("80"));
    s.aut = ini.ReadString(g, QStringLiteral("aut"), QString());
    return s;
}

void WriteUpdaterSettings(IniFile& ini, const UpdaterSettings& s) {
    const QString g = QStringLiteral("g");
    ini.WriteBool(g, QStringLiteral("ufw"), s.ufw);
    ini.WriteString(g, QStringLiteral("fh"), s.fh);
    ini.WriteString(g, QStringLiteral("fu"), s.fu);
    ini.WriteString(g, QStringLiteral("fp"), s.fp);
    ini.WriteString(g, QStringLiteral("aut"), s.aut);
}
