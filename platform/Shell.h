#pragma once
// Shell services: open a file, folder, web page or mail link with its program, and start a
// program. Tests install a recorder so nothing is really opened or started.
#include <QString>
#include <QStringList>
#include <functional>

namespace Shell {
// Opens a path or URL with its associated program. Returns false when that failed.
bool Open(const QString& target);
// Starts a program detached, with arguments and working folder. Returns false on failure.
bool Start(const QString& program, const QStringList& args, const QString& workDir);

// Test hooks: while set, Open and Start call these instead and return their result.
void SetOpenHandler(std::function<bool(const QString&)> h);
void SetStartHandler(
    std::function<bool(const QString&, const QStringList&, const QString&)> h);
} // namespace Shell
