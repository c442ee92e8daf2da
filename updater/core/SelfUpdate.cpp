#include "SelfUpdate.h"

#include <QCoreApplication>
#include <QFile>

#include "Clock.h"
#include "Http.h"
#include "Install.h"
#include "ShellFolders.h"
#include "Unpack.h"
#include "UpdateServer.h"

namespace SelfUpdate {

bool IsUpdaterRow(const QString& fileName) {
    return fileName.toLower() == QStringLiteral("kelvoiupdate.exe");
}

RenamerCall Run(HttpClient& http, const Job& job, const Callbacks& callbacks) {
    const auto respond = [&] {
        if (callbacks.keepResponsive) callbacks.keepResponsive();
    };
    const QString notice = QStringLiteral("!!! Ich muß mich selber Updaten, Moment bitte. !!!");
    callbacks.log(notice);
    if (callbacks.status) callbacks.status(notice);
    respond();

    // An archive left by an earlier attempt of this run may be cut: it is fetched again.
    QFile::remove(job.downloadPath);
    http.SetTrafficLog(false);
    try {
        http.GetToFile(job.archiveUrl, job.downloadPath, UpdateServer::MaxArchiveSize);
    } catch (...) {
        http.SetTrafficLog(true);
        throw;
    }
    http.SetTrafficLog(true);
    http.Disconnect();

    callbacks.log(QStringLiteral("Entpacken..."));
    respond();
    const QString newProgram = job.targetDir + QStringLiteral("iupneu");
    UnpackFile(job.downloadPath, newProgram, {callbacks.status, callbacks.progress},
               Install::UnpackLimit(job.declaredKB));
    // It takes the running program's place, so it gets that program's permissions.
    QFile::setPermissions(newProgram, QFile::permissions(QCoreApplication::applicationFilePath()));
    Clock::Sleep(100);
    respond();
    Install::SetOfferedDate(newProgram, job.offeredDate, [&](const QString&) {
        callbacks.log(QStringLiteral("Konnte Zeit nicht setzen"));
    });
    // Found as the hand-over finds the updater: in any letter case, with or without ".exe".
    QString renamer = ShellFolders::FindProgramFile(job.exeDir, QStringLiteral("iren.exe"));
    if (renamer.isEmpty()) renamer = QStringLiteral("iren");
    return {job.exeDir + renamer, {job.configPath}, job.exeDir};
}

} // namespace SelfUpdate
