#include "Registry.h"

#include "IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Key paths compare without regard to case and separators; one spelling is stored.
QString normalKey(const QString& key) {
    QString k = key.toLower();
    k.replace(u'/', u'\\');
    const QStringList pieces = k.split(u'\\', Qt::SkipEmptyParts);
    return pieces.join(u'\\');
}

// The unnamed (default) value of a key; an ini key cannot be empty.
QString valueName(const QString& name) {
    return name.isEmpty() ? QStringLiteral("@") : name;
}

IniFile store(RegRoot root) {
    return IniFile(Registry::RootFile(root));
}

} // namespace

namespace Registry {

QString RootFile(RegRoot root) {
    QString fileName;
    switch (root) {
    case RegRoot::CurrentUser:
        fileName = QStringLiteral("current-user.ini");
        break;
    case RegRoot::LocalMachine:
        fileName = QStringLiteral("local-machine.ini");
        break;
    case RegRoot::ClassesRoot:
        fileName = QStringLiteral("classes-root.ini");
        break;
    case RegRoot::Users:
        fileName = QStringLiteral("users.ini");
        break;
    case RegRoot::CurrentConfig:
        fileName = QStringLiteral("current-config.ini");
        break;
    }
    const QString overridden = qEnvironmentVariable("ZV_REGISTRY_DIR");
    if (!overridden.isEmpty()) return QDir(overridden).filePath(fileName);
    if (root == RegRoot::CurrentUser) {
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/zorvane-registry/") + fileName;
    }
    return QStringLiteral("/etc/zorvane-registry/") + fileName;
}

std::optional<QString> ReadString(RegRoot root, const QString& key, const QString& name) {
    IniFile ini = store(root);
    ini.BeginUpdate(); // both questions below from one reading of the file
    const QString section = normalKey(key);
    // A sentinel cannot tell a missing value from a stored one, so ask first.
    if (!ini.ValueExists(section, valueName(name))) return std::nullopt;
    return ini.ReadString(section, valueName(name), QString());
}

void WriteString(RegRoot root, const QString& key, const QString& name, const QString& value) {
    IniFile ini = store(root);
    const QString folder = QFileInfo(ini.FileName()).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw std::runtime_error(
            QStringLiteral("Der Ordner %1 kann nicht angelegt werden").arg(folder).toStdString());
    }
    ini.WriteString(normalKey(key), valueName(name), value);
}

// A key exists when it or one of its subkeys has a section, even one emptied of its values.
bool KeyExists(RegRoot root, const QString& key) {
    const QString wanted = normalKey(key);
    if (wanted.isEmpty()) return true; // the root itself
    const QStringList sections = store(root).ReadSections();
    for (const QString& section : sections) {
        const QString s = normalKey(section);
        if (s == wanted || s.startsWith(wanted + u'\\')) return true;
    }
    return false;
}

bool OpenKeyFullAccess(RegRoot root, const QString& key) {
    if (!KeyExists(root, key)) return false;
    const QByteArray path = QFile::encodeName(RootFile(root));
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) return false;
    // A file without write bits counts as unwritable even for root, as the ini writer does.
    if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return false;
    return ::access(path.constData(), W_OK) == 0;
}

bool DeleteValue(RegRoot root, const QString& key, const QString& name) {
    IniFile ini = store(root);
    ini.BeginUpdate();
    const QString section = normalKey(key);
    if (!ini.ValueExists(section, valueName(name))) return false;
    ini.DeleteKey(section, valueName(name));
    ini.Commit();
    return true;
}

} // namespace Registry
