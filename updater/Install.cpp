#include "Install.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>

#include "BatchFile.h"
#include "Clock.h"
#include "FileDelete.h"
#include "InfoFile.h"
#include "Service.h"
#include "Unpack.h"

namespace {

constexpr int ServicePolls = 10;
constexpr qint64 ServicePollMs = 500;
constexpr int MoveAttempts = 10;
constexpr qint64 MoveRetryMs = 600;

QString asideName(const QString& target) {
    return target + QStringLiteral(".iupalt");
}

// Inflates into a target that was moved aside; puts the old file back when that fails. The new
// file keeps the old one's permissions, so a program stays a program.
qint64 unpackOverAside(const Install::FileJob& job, const QString& target, const QString& aside,
                       const UnpackCallbacks& callbacks) {
    const QByteArray oldName = QFile::encodeName(aside);
    const QByteArray newName = QFile::encodeName(target);
    qint64 bytes = 0;
    try {
        bytes = UnpackFile(job.archivePath, target, callbacks);
    } catch (...) {
        std::rename(oldName.constData(), newName.constData());
        throw;
    }
    struct stat old {};
    if (::stat(oldName.constData(), &old) == 0) ::chmod(newName.constData(), old.st_mode & 07777);
    QFile::remove(aside);
    return bytes;
}

} // namespace

namespace Install {

bool ServiceControl(const QString& name, bool wantRunning, const LogLine& log) {
    ServiceManager& manager = Services::Manager();
    if (!manager.Available()) {
        log(QStringLiteral("!! Service Manager konnte nicht erstellt werden!!"));
        return true;
    }
    if (!manager.Exists(name)) {
        log(QStringLiteral("!! Service ") + name + QStringLiteral(" nicht gefunden!!"));
        return true;
    }
    bool running = true;
    try {
        running = manager.Query(name) == ServiceState::Running;
    } catch (const std::exception&) {
        log(QStringLiteral("!! Service ") + name + QStringLiteral(" nicht gefunden!!"));
        return true;
    }
    if (running == wantRunning) return running;
    try {
        if (wantRunning) {
            try {
                manager.Start(name);
            } catch (const std::exception&) {
                // The polls below show whether it started.
            }
        } else {
            manager.Stop(name);
        }
        const ServiceState goal = wantRunning ? ServiceState::Running : ServiceState::Stopped;
        const QString label = wantRunning ? QStringLiteral("Warte auf Service Start:")
                                          : QStringLiteral("Warte auf Service Ende:");
        for (int poll = 1; poll <= ServicePolls; ++poll) {
            log(label + name + u':' + QString::number(poll));
            Clock::Sleep(ServicePollMs);
            if (manager.Query(name) == goal) break;
        }
    } catch (const std::exception& e) {
        log((wantRunning ? QStringLiteral("!! Fehler beim Starten von Service ")
                         : QStringLiteral("!! Fehler beim Anhalten von Service ")) +
            name + u':' + QString::fromStdString(e.what()));
    }
    return running;
}

FileResult InstallFile(const FileJob& job, Context& context) {
    const QString target = job.targetDir + job.fileName;
    const QString aside = asideName(target);
    const UnpackCallbacks callbacks{context.status, context.progress};
    FileResult result;
    // Moving it aside would move a whole folder out of the way of one file.
    if (QFileInfo(target).isDir())
        throw std::runtime_error(
            QStringLiteral("%1 ist ein Ordner und wird nicht ersetzt").arg(target).toStdString());

    bool wasRunning = false;
    bool movedAside = false;
    if (!job.service.isEmpty()) {
        wasRunning = ServiceControl(job.service, false, context.log);
        for (int failures = 0; QFileInfo::exists(target);) {
            Clock::Sleep(MoveRetryMs);
            if (FileDelete::MoveAside(target, aside)) {
                movedAside = true;
                break;
            }
            if (++failures == MoveAttempts) {
                result.outcome = Outcome::ServiceStuck;
                return result;
            }
            if (context.status)
                context.status(QStringLiteral("Warte auf Service ") + QString::number(failures));
            QCoreApplication::processEvents();
        }
    } else if (QFileInfo::exists(target)) {
        movedAside = FileDelete::MoveAside(target, aside);
        if (!movedAside) {
            // In use: the new content waits for the next logon.
            const QString staged = context.batch->StagedPath(context.unpackDir, job.fileName);
            QString why = BatchPathProblem(target);
            if (why.isEmpty()) why = BatchPathProblem(staged);
            if (!why.isEmpty()) {
                context.log(QStringLiteral("!! %1 ist in Gebrauch und kann nicht über Update.bat "
                                           "ersetzt werden: der Pfad %2!!")
                                .arg(target, why));
                result.outcome = Outcome::Skipped;
                return result;
            }
            result.bytes = UnpackFile(job.archivePath, staged, callbacks);
            context.batch->AddReplacement(target, staged);
            result.outcome = Outcome::Staged;
        }
    }
    if (result.outcome == Outcome::Replaced)
        result.bytes = movedAside ? unpackOverAside(job, target, aside, callbacks)
                                  : UnpackFile(job.archivePath, target, callbacks);

    if (wasRunning) ServiceControl(job.service, true, context.log);
    // A file in use still holds its old content: stamped with the offered date it would look up
    // to date to the next run, which would then not offer it again.
    if (result.outcome != Outcome::Staged) SetOfferedDate(target, job.offeredDate, context.log);
    return result;
}

void SetOfferedDate(const QString& path, const QString& dateText, const LogLine& log) {
    const std::optional<QDateTime> when = ParseInfoDate(dateText);
    if (!when) {
        log(QStringLiteral("Konnte Zeit für ") + path + QStringLiteral(" nicht setzen"));
        return;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite)) return;
    f.setFileTime(*when, QFileDevice::FileModificationTime);
}

qint64 KiloBytes(qint64 bytes) {
    return bytes <= 0 ? 0 : (bytes + 1023) / 1024;
}

QString CompletionMessage(int files) {
    if (files == 1)
        return QStringLiteral("Das Update ist abgeschlossen,\r\nEs wurde 1 Datei aktualisiert");
    return QStringLiteral("Das Update ist abgeschlossen,\r\nEs wurden %1 Dateien aktualisiert")
        .arg(files);
}

} // namespace Install
