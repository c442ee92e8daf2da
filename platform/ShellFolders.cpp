#include "ShellFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
QString programFolderOverride;

QString withoutTrailingSeparator(QString path) {
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

QString standard(QStandardPaths::StandardLocation location) {
    return withoutTrailingSeparator(QStandardPaths::writableLocation(location));
}
} // namespace

namespace ShellFolders {

QString ProgramFolder() {
    if (!programFolderOverride.isEmpty()) return programFolderOverride;
    return IncludeTrailingPathDelimiter(QCoreApplication::applicationDirPath());
}

void SetProgramFolder(const QString& folder) {
    programFolderOverride = folder.isEmpty() ? QString() : IncludeTrailingPathDelimiter(folder);
}

QString Folder(const QString& name) {
    const QString n = name.trimmed().toLower();
    if (n == u"appdata") return standard(QStandardPaths::GenericConfigLocation);
    if (n == u"local appdata") return standard(QStandardPaths::GenericDataLocation);
    if (n == u"desktop") return standard(QStandardPaths::DesktopLocation);
    if (n == u"personal") return standard(QStandardPaths::DocumentsLocation);
    if (n == u"common appdata") return QStringLiteral("/var/lib");
    if (n == u"programs" || n == u"start menu")
        return standard(QStandardPaths::ApplicationsLocation);
    if (n == u"startup")
        return standard(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
    if (n == u"templates")
        return withoutTrailingSeparator(QDir::homePath()) + QStringLiteral("/Templates");
    if (n == u"common programs" || n == u"common start menu")
        return QStringLiteral("/usr/share/applications");
    if (n == u"common startup") return QStringLiteral("/etc/xdg/autostart");
    if (n == u"temp") return withoutTrailingSeparator(QDir::tempPath());
    return QString();
}

QString WritableProgramFolder(const QString& programName) {
    const QString own = ProgramFolder();
    if (CanCreateFiles(own)) return own;
    const QString data = standard(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) return own;
    const QString redirected = data + u'/' + programName;
    // Nowhere to go: the program's own folder, so its write errors name the usual place.
    if (!QDir().mkpath(redirected) || !CanCreateFiles(redirected)) return own;
    return IncludeTrailingPathDelimiter(redirected);
}

bool CanCreateFiles(const QString& folder) {
    QTemporaryFile probe(IncludeTrailingPathDelimiter(folder) +
                         QStringLiteral(".write-test-XXXXXX"));
    return probe.open();
}

bool FileExistsNoCase(const QString& folder, const QString& name) {
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
    return files.contains(name, Qt::CaseInsensitive);
}

QString FindProgramFile(const QString& folder, const QString& name) {
    QString base = name;
    if (base.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) base.chop(4);
    QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    files.removeIf([&](const QString& f) {
        return f.compare(base, Qt::CaseInsensitive) != 0 &&
               f.compare(base + QStringLiteral(".exe"), Qt::CaseInsensitive) != 0;
    });
    if (files.isEmpty()) return QString();
    // Where several spellings lie side by side, the one written as given wins.
    for (const QString& f : files)
        if (f == name || f == base) return f;
    return files.first();
}

// As on Windows, an empty path becomes the bare separator.
QString IncludeTrailingPathDelimiter(const QString& path) {
    return path.endsWith(u'/') ? path : path + u'/';
}

QString ExecutableSuffix() {
    return QString();
}

} // namespace ShellFolders
