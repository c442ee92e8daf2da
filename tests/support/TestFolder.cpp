#include "TestFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace {
void collectBytes(const QByteArray& folder, const QByteArray& prefix,
                  QMap<QByteArray, QByteArray>& out) {
    DIR* d = ::opendir(folder.constData());
    while (const dirent* e = d ? ::readdir(d) : nullptr) {
        const QByteArray name(e->d_name), path = folder + '/' + name;
        if (name == "." || name == "..") continue;
        if (e->d_type == DT_DIR) {
            collectBytes(path, prefix + name + '/', out);
            continue;
        }
        std::ifstream in(path.constData(), std::ios::binary);
        out.insert(prefix + name,
                   QByteArray::fromStdString({std::istreambuf_iterator<char>(in), {}}));
    }
    if (d) ::closedir(d);
}
} // namespace

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

bool TestFolder::WriteBytes(const QByteArray& rel, const QByteArray& content) {
    QByteArray path = QFile::encodeName(Path());
    const QList<QByteArray> parts = rel.split('/');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i)
        ::mkdir((path += '/' + parts[i]).constData(), 0777);
    std::ofstream f((path + '/' + parts.last()).constData(), std::ios::binary);
    f.write(content.constData(), content.size());
    f.close();
    return !f.fail();
}

QMap<QByteArray, QByteArray> TestFolder::FileBytes(const QString& rel) const {
    QMap<QByteArray, QByteArray> out;
    collectBytes(QFile::encodeName(Path(rel)), {}, out);
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
