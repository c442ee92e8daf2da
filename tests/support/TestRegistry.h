#pragma once
// Points the registry stand-in into a folder of the test for its lifetime and writes root
// files directly (the way an administrator would lay them out).
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include "Registry.h"

class TestRegistry {
public:
    explicit TestRegistry(const QString& folder) : old_(qgetenv(Var)) {
        QDir().mkpath(folder);
        qputenv(Var, QFile::encodeName(folder));
    }
    ~TestRegistry() { old_.isNull() ? qunsetenv(Var) : qputenv(Var, old_); }
    TestRegistry(const TestRegistry&) = delete;
    TestRegistry& operator=(const TestRegistry&) = delete;

    // Writes "name=value" lines under one key of a root, replacing the root file.
    static void Lay(RegRoot root, const QString& key, const QStringList& values) {
        QFile f(Registry::RootFile(root));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        f.write(('[' + key + "]\n" + values.join('\n') + '\n').toUtf8());
    }

private:
    static constexpr const char* Var = "ZV_REGISTRY_DIR";
    QByteArray old_;
};
