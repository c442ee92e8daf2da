#include "FileDelete.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {
std::function<bool(const QString&)> inUse;
}

namespace FileDelete {

bool Delete(const QString& path) {
    if (inUse && inUse(path)) return false;
    return QFile::remove(path) || !QFile::exists(path);
}

bool MoveAside(const QString& path, const QString& newPath) {
    if (inUse && inUse(path)) return false;
    return std::rename(QFile::encodeName(path).constData(),
                       QFile::encodeName(newPath).constData()) == 0;
}

bool CanReplace(const QString& path) {
    if (inUse && inUse(path)) return false;
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::access(folder.constData(), W_OK | X_OK) == 0;
}

void SetInUseCheck(std::function<bool(const QString&)> check) {
    inUse = std::move(check);
}

} // namespace FileDelete
