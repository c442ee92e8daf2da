#include "TempArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Suffix = QStringLiteral(".part");

// The process id inside a temporary name; 0 for the name without one (written by earlier
// versions), -1 when the name is no temporary archive of the target.
qint64 WriterOf(const QString& targetFileName, const QString& name) {
    if (!name.startsWith(targetFileName) || !name.endsWith(Suffix)) return -1;
    const QString middle =
        name.mid(targetFileName.size(), name.size() - targetFileName.size() - Suffix.size());
    if (middle.isEmpty()) return 0;
    if (!middle.startsWith(u'.') || middle.size() < 2) return -1;
    bool ok = false;
    const qint64 pid = middle.mid(1).toLongLong(&ok);
    return ok && pid > 0 && middle.mid(1) == QString::number(pid) ? pid : -1;
}

bool ProcessRuns(qint64 pid) {
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

QString TempArchiveName(const QString& target) {
    return target + u'.' + QString::number(::getpid()) + Suffix;
}

bool IsTempArchiveName(const QString& targetFileName, const QString& name) {
    return !targetFileName.isEmpty() && WriterOf(targetFileName, name) >= 0;
}

void RemoveStaleTempArchives(const QString& target) {
    const QFileInfo fi(target);
    const QString targetName = fi.fileName();
    if (targetName.isEmpty()) return;
    const QDir folder = fi.absoluteDir();
    // No name filter: a target's name may hold the filter's own wildcard characters.
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const qint64 pid = WriterOf(targetName, name);
        if (pid < 0) continue;
        if (pid == 0 || pid == ::getpid() || !ProcessRuns(pid))
            QFile::remove(folder.filePath(name));
    }
}

mode_t ProcessUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (!line.startsWith("Umask:")) continue;
            bool ok = false;
            const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
            if (ok) return mode_t(mask & 0777);
        }
    }
    // Without /proc: set and put back, which a second thread creating a file meanwhile could
    // notice; a lock keeps at least our own callers apart.
    static QMutex lock;
    const QMutexLocker guard(&lock);
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}
