#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QLocale>

void PrepareTestEnvironment(const QString& home) {
    const QByteArray h = home.toUtf8();
    qputenv("HOME", h);
    qputenv("XDG_CONFIG_HOME", h + "/.config");
    qputenv("XDG_DATA_HOME", h + "/.local/share");
    qputenv("XDG_CACHE_HOME", h + "/.cache");
    qputenv("XDG_RUNTIME_DIR", h + "/run");
    QDir().mkpath(home + QStringLiteral("/run"));
    QFile::setPermissions(home + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("ZV_REGISTRY_DIR", h + "/registry");
    if (qEnvironmentVariableIsEmpty("LANG")) qputenv("LANG", "C.UTF-8");
    QLocale::setDefault(QLocale::c());
}
