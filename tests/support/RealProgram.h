#pragma once
// The real backup program for tests that start it: a copy in a folder of its own (it keeps its
// history beside itself) and an environment of private home, settings, data, runtime and
// registry folders on the offscreen platform.
#include <QFile>
#include <QProcessEnvironment>
#include <QString>

#include "TestFolder.h"

struct RealProgram {
    QString exe;
    QProcessEnvironment env;
    // False when the program could not be copied.
    bool Lay(TestFolder& dir) {
        exe = dir.Path(QStringLiteral("prog/Zorvane2"));
        dir.MakeDir(QStringLiteral("prog"));
        if (!QFile::copy(QStringLiteral(ZORVANE_EXE), exe)) return false;
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.MakeDir(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.MakeDir(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.MakeDir(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.MakeDir(QStringLiteral("run")));
        QFile::setPermissions(dir.Path(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("ZV_REGISTRY_DIR"), dir.Path(QStringLiteral("registry")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return true;
    }
};
