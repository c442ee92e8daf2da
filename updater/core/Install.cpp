#include "Install.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "BatchFile.h"
#include "Clock.h"
#include "FileDelete.h"
#include "InfoFile.h"
#include "SafeFile.h"
#include "Service.h"
#include "Unpack.h"

namespace {

constexpr int ServicePolls = 10;
constexpr qint64 ServicePollMs = 500;
constexpr int MoveAttempts = 10;
constexpr qint64 MoveRetryMs = 600;

// Where earlier versions of this program kept the old file while the new one was written.
QString asideName(const QString& target) {
    return target + QStringLiteral(".iupalt");
}

bool presentAt(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

// Earlier versions gave the new file the old one's mode only after it took the target's name, so
// a kill in between left a program that cannot run. Only the permission bits are carried over,
// never set-id ones, and only between regular files: a link is not followed.
void copyModeOfAside(const QByteArray& path, const QByteArray& aside) {
    struct stat old {};
    if (::lstat(aside.constData(), &old) != 0 || !S_ISREG(old.st_mode)) return;
    const SafeFile::UniqueFd fd(
        ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat now {};
    if (fd.get() < 0 || ::fstat(fd.get(), &now) != 0 || !S_ISREG(now.st_mode)) return;
    if ((now.st_mode & 07777) != (old.st_mode & 0777)) ::fchmod(fd.get(), old.st_mode & 0777);
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
    const UnpackCallbacks callbacks{context.status, context.progress};
    FileResult result;
    // The new file takes the target's name in one rename, which would not replace a folder.
    if (QFileInfo(target).isDir())
        throw std::runtime_error(
            QStringLiteral("%1 ist ein Ordner und wird nicht ersetzt").arg(target).toStdString());
    RecoverTarget(target, context.log);

    // The old file stays in place until the new one is complete and on disk: the unpacker
    // writes it beside the target and renames it over in one step.
    bool wasRunning = false;
    // The old file is still in place when the install fails or gives up, so a service that ran
    // before must not stay down; on success it starts before the date is set.
    auto startAgain = qScopeGuard([&] {
        if (wasRunning) ServiceControl(job.service, true, context.log);
    });
    bool inUse = false;
    if (!job.service.isEmpty()) {
        wasRunning = ServiceControl(job.service, false, context.log);
        for (int failures = 0; QFileInfo::exists(target);) {
            Clock::Sleep(MoveRetryMs);
            if (FileDelete::CanReplace(target)) break;
            if (++failures == MoveAttempts) {
                result.outcome = Outcome::ServiceStuck;
                return result;
            }
            if (context.status)
                context.status(QStringLiteral("Warte auf Service ") + QString::number(failures));
            if (context.keepResponsive) context.keepResponsive();
        }
    } else {
        inUse = QFileInfo::exists(target) && !FileDelete::CanReplace(target);
    }
    if (inUse) {
        // The new content waits for the next logon.
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
        result.bytes = UnpackFile(job.archivePath, staged, callbacks, UnpackLimit(job.declaredKB));
        context.batch->AddReplacement(target, staged);
        result.outcome = Outcome::Staged;
    } else {
        result.bytes = UnpackFile(job.archivePath, target, callbacks, UnpackLimit(job.declaredKB));
    }

    startAgain.dismiss();
    if (wasRunning) ServiceControl(job.service, true, context.log);
    // A file in use still holds its old content: stamped with the offered date it would look up
    // to date to the next run, which would then not offer it again.
    if (result.outcome != Outcome::Staged) SetOfferedDate(target, job.offeredDate, context.log);
    return result;
}

void RecoverTarget(const QString& target, const LogLine& log) {
    const QByteArray path = QFile::encodeName(target);
    const QByteArray aside = QFile::encodeName(asideName(target));
    if (presentAt(aside)) {
        // Only a complete new file ever took the target's name, so with both present the old
        // one is surplus; with the target missing it is the only copy left.
        if (presentAt(path)) {
            copyModeOfAside(path, aside);
            ::unlink(aside.constData());
        } else if (std::rename(aside.constData(), path.constData()) == 0) {
            if (log) log(target + QStringLiteral(" wiederhergestellt"));
        }
    }
    // What an unpack cut short left beside the target: "." name "." token ".tmp".
    const QFileInfo info(target);
    const QString prefix = u'.' + info.fileName() + u'.';
    const QString suffix = QStringLiteral(".tmp");
    QString literal;
    for (QChar c : info.fileName())
        literal += QStringLiteral("[*?").contains(c) ? u'[' + QString(c) + u']' : QString(c);
    QDir folder(info.absolutePath());
    for (const QString& name :
         folder.entryList({u'.' + literal + QStringLiteral(".*.tmp")},
                          QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks)) {
        if (!name.startsWith(prefix) || !name.endsWith(suffix)) continue;
        const QStringView token =
            QStringView(name).mid(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (!token.isEmpty() && std::all_of(token.begin(), token.end(), [](QChar c) {
                return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z');
            }))
            folder.remove(name);
    }
}

void RecoverFolder(const QString& folder, const LogLine& log) {
    if (folder.isEmpty()) return;
    const QDir dir(folder);
    for (const QString& name :
         dir.entryList({QStringLiteral("*.iupalt")}, QDir::Files | QDir::Hidden | QDir::System))
        RecoverTarget(dir.filePath(name.chopped(7)), log);
}

bool IsRegularFile(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
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

qint64 UnpackLimit(qint64 declaredKB) {
    if (declaredKB < 0) return MaxUnpackedSize;
    return std::min(MaxUnpackedSize, declaredKB * 1024 * DeclaredSizeFactor + DeclaredSizeSlack);
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
