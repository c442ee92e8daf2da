#include "BatchFile.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "Cp1252.h"
#include "Registry.h"

QString BatchPathProblem(const QString& path) {
    for (QChar c : path) {
        if (c == u'\r' || c == u'\n') return QStringLiteral("enthält einen Zeilenumbruch");
        // "$" and "`" are harmless to the command interpreter, but here its lines may be run
        // by a POSIX shell, which would expand them.
        if (QStringLiteral("\"%^&|<>$`").contains(c))
            return QStringLiteral("enthält das Zeichen %1").arg(c);
        if (c.unicode() < 0x20) return QStringLiteral("enthält Steuerzeichen");
    }
    if (!Cp1252::CanEncode(path))
        return QStringLiteral("enthält Zeichen, die Windows-1252 nicht kennt");
    return {};
}

QString BatchFile::StagedPath(const QString& unpackDir, const QString& fileName) {
    QString candidate = unpackDir + fileName;
    for (int n = 2; stagedPaths_.contains(candidate); ++n)
        candidate = unpackDir + fileName + u'.' + QString::number(n);
    stagedPaths_.append(candidate);
    return candidate;
}

void BatchFile::AddReplacement(const QString& target, const QString& staged) {
    for (const QString& p : {target, staged})
        if (const QString why = BatchPathProblem(p); !why.isEmpty())
            throw std::runtime_error(QStringLiteral("%1 kann nicht in %2 stehen: der Pfad %3")
                                         .arg(p, QFileInfo(path_).fileName(), why)
                                         .toStdString());
    const QChar q = u'"';
    append({QStringLiteral("del ") + q + target + q,
            QStringLiteral("copy ") + q + staged + q + u' ' + q + target + q});
}

void BatchFile::Finish() {
    append({QStringLiteral("exit"), QString()});
}

void BatchFile::append(const QStringList& lines) {
    QFile f(path_);
    const auto mode = started_ ? QIODevice::WriteOnly | QIODevice::Append
                               : QIODevice::WriteOnly | QIODevice::Truncate;
    QByteArray bytes;
    for (const QString& l : lines)
        bytes += Cp1252::Encode(l) + "\r\n";
    if (!f.open(mode) || f.write(bytes) != bytes.size() || !f.flush())
        throw std::runtime_error(QStringLiteral("%1 kann nicht geschrieben werden: %2")
                                     .arg(path_, f.errorString())
                                     .toStdString());
    started_ = true;
}

QString RunOnceCommand(const QString& batchPath) {
    return QStringLiteral("cmd.exe < \"") + batchPath + QStringLiteral("\" /C");
}

bool RegisterRunOnce(const QString& batchPath) {
    if (!Registry::KeyExists(RegRoot::LocalMachine, RunOnceKey)) return false;
    Registry::WriteString(RegRoot::LocalMachine, RunOnceKey, RunOnceValue,
                          RunOnceCommand(batchPath));
    return true;
}
