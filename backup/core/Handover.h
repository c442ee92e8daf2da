#pragma once
// Handing over to the updater: the program folder is recorded where the updater's
// configuration can find the installation, and the updater's command is put together.
#include <QString>
#include <QStringList>
#include <functional>

namespace Handover {

// The registry key and value holding the program folder.
QString FolderKey();
QString FolderValue();

// Records progDir as value "path" under the local machine's key, read back; where it does not
// hold there (also when this user may not write that root), under the current user's key. A
// failed write ends the registration with its message as a status line. With debug on, the
// steps taken are reported as status lines as well.
void RegisterProgramFolder(const QString& progDir, bool debug,
                           const std::function<void(const QString&)>& status);

struct StartCommand {
    QString program;
    QStringList args;
    QString workDir;
};
// The updater from the program folder with the path of its configuration there as its only
// argument, started in the program folder.
StartCommand UpdaterCommand(const QString& progDir);

// Why the updater cannot be handed the configuration it is started with (the file is missing
// or cannot be read), as the message the user sees; empty when it can be read. The updater
// ends at once without it, and the program must not end for nothing.
QString ConfigProblem(const StartCommand& command);

} // namespace Handover
