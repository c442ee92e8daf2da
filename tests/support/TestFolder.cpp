#include "TestFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

TestFolder::TestFolder() : dir_(QDir::tempPath() + QStringLiteral("/zv-test-XXXXXX")) {}

QString TestFolder::Path(const QString& rel) const {
    return rel.isEmpty() ? dir_.path() : dir_.path() + u'/' + rel;
}

QString TestFolder::Write(const QString& rel, const QByteArray& content,
                          const QDateTime& modified) {
    const QString p = Path(rel);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        f.write(content);
        // Flushed first: a later flush would stamp the file with the present time again.
        f.flush();
        if (modified.isValid()) f.setFileTime(modified, QFileDevice::FileModificationTime);
        f.close();
    }
    return p;
}

QString TestFolder::MakeDir(const QString& rel) {
    QDir().mkpath(Path(rel));
    return Path(rel);
}

QByteArray TestFolder::Read(const QString& rel) const {
    QFile f(Path(rel));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TestFolder::Exists(const QString& rel) const {
    return QFileInfo::exists(Path(rel));
}

QStringList TestFolder::Files(const QString& rel) const {
    QStringList out;
    const QString base = Path(rel);
    QDirIterator it(base, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(base).relativeFilePath(it.next());
    out.sort();
    return out;
}

int RunCommand(const QString& command, QString* out) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    if (!p.waitForFinished(600000)) return -1;
    if (out) *out = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

qint64 EndedProcessId() {
    QProcess p;
    p.start(QStringLiteral("/bin/true"), {});
    p.waitForStarted();
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}
