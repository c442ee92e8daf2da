#pragma once
// The updater replacing its own program: the new program is written as "iupneu" into the
// folder its row names, and a separate renamer in the updater's folder puts it in place once
// the updater has ended.
#include <QString>
#include <QStringList>
#include <functional>

class HttpClient;

namespace SelfUpdate {

// The row that stands for the updater itself, in any letter case.
bool IsUpdaterRow(const QString& fileName);

struct Job {
    QString archiveUrl;     // the archive's URL on the server
    QString downloadPath;   // where the archive is stored
    QString targetDir;      // the row's folder, ends in the path separator
    QString offeredDate;    // the row's date text
    QString exeDir;         // the updater's folder, ends in the path separator
    QString configPath;     // the configuration file the renamer is given
    qint64 declaredKB = -1; // the size the list gives, in KB; -1: none given
};

struct Callbacks {
    std::function<void(const QString&)> log;
    std::function<void(const QString&)> status; // the status line
    std::function<void(qint64 done, qint64 total)> progress;
    // Called between the stages, so the window can let pending events run.
    std::function<void()> keepResponsive;
};

struct RenamerCall {
    QString program;
    QStringList arguments;
    QString workDir;
};

// Fetches the archive afresh (one attempt), writes the new program and returns how to start
// the renamer. Errors of the download or the unpack raise; nothing is then started.
RenamerCall Run(HttpClient& http, const Job& job, const Callbacks& callbacks);

} // namespace SelfUpdate
