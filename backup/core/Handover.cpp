#include "Handover.h"

#include <QFile>
#include <QFileInfo>
#include <stdexcept>

#include "Registry.h"
#include "ShellFolders.h"

namespace Handover {

QString FolderKey() {
    return QStringLiteral("Software\\Zorvane2");
}

QString FolderValue() {
    return QStringLiteral("path");
}

namespace {

QString readFolder(RegRoot root) {
    return Registry::ReadString(root, FolderKey(), FolderValue()).value_or(QString());
}

// Reported in the registry's own words for a value that cannot be set.
void writeFolder(RegRoot root, const QString& progDir) {
    try {
        Registry::WriteString(root, FolderKey(), FolderValue(), progDir);
    } catch (const std::exception&) {
        throw std::runtime_error(QStringLiteral("Fehler beim Setzen der Daten für '%1'")
                                     .arg(FolderValue())
                                     .toStdString());
    }
}

} // namespace

void RegisterProgramFolder(const QString& progDir, bool debug,
                           const std::function<void(const QString&)>& status) {
    auto debugLine = [&](const char* text) {
        if (debug) status(QString::fromLatin1(text));
    };
    try {
        // Letter case counts: a folder written otherwise is rewritten.
        if (readFolder(RegRoot::LocalMachine) == progDir) {
            debugLine("Pfad gefunden v1");
            return;
        }
        bool written = true;
        try {
            writeFolder(RegRoot::LocalMachine, progDir);
        } catch (const std::exception& e) {
            // Only an administrator may write the machine's root here; the user's root is
            // where the updater's configuration then finds the folder.
            status(QString::fromUtf8(e.what()));
            written = false;
        }
        if (written && readFolder(RegRoot::LocalMachine) == progDir) {
            debugLine("Pfad gefunden v2");
            return;
        }
        debugLine("Pfad nicht gefunden v4");
        if (readFolder(RegRoot::CurrentUser) == progDir) return;
        debugLine("Pfad nicht gefunden v5, versuche schreiben 2");
        writeFolder(RegRoot::CurrentUser, progDir);
    } catch (const std::exception& e) {
        status(QString::fromUtf8(e.what()));
    }
}

StartCommand UpdaterCommand(const QString& progDir) {
    QString program = ShellFolders::FindProgramFile(progDir, QStringLiteral("kelvoiupdate.exe"));
    if (program.isEmpty()) program = QStringLiteral("KelvoIUpdate");
    // The path goes over as one argument whole, blanks included; there is no command line
    // here that quotes would have to hold together.
    return {progDir + program, {progDir + QStringLiteral("iup.ini")}, progDir};
}

QString ConfigProblem(const StartCommand& command) {
    const QString path = command.args.value(0);
    const QFileInfo info(path);
    const QString lead = QStringLiteral("Internet Update nicht möglich: ");
    if (!info.exists())
        return lead + info.fileName() + QStringLiteral(" nicht gefunden in ") + info.path() + u'/';
    QFile file(path);
    char byte;
    if (!file.open(QIODevice::ReadOnly) || file.read(&byte, 1) < 0)
        return lead + path + QStringLiteral(" kann nicht gelesen werden (") + file.errorString() +
               u')';
    return QString();
}

} // namespace Handover
