#pragma once
// Installing one downloaded file: its service stopped around it, the old file kept in place
// until the complete new one replaces it in one rename, a file in use left to the batch file
// for the next logon, the offered date set. The window walks its checked rows and calls InstallFile
// for each.
#include <QString>
#include <functional>

class BatchFile;

namespace Install {

using LogLine = std::function<void(const QString&)>;

// Brings the named service into the running (true) or stopped (false) state and returns
// whether it was running when first asked, also true when the manager or the service cannot be
// reached. Reports through log and raises nothing.
bool ServiceControl(const QString& name, bool wantRunning, const LogLine& log);

struct FileJob {
    QString archivePath; // the downloaded archive
    QString targetDir;   // ends in the path separator
    QString fileName;
    QString offeredDate;    // the information file's date text
    QString service;        // empty: none
    qint64 declaredKB = -1; // the size the list gives, in KB; -1: none given
};

// How far a file may outgrow the size the list gives it: this many times, plus the slack.
inline constexpr qint64 DeclaredSizeFactor = 32;
inline constexpr qint64 DeclaredSizeSlack = 1024 * 1024;

struct Context {
    QString unpackDir; // where files in use wait; ends in the path separator
    BatchFile* batch = nullptr;
    LogLine log;
    std::function<void(const QString&)> status; // the status line
    std::function<void(qint64 done, qint64 total)> progress;
    // Called while waiting for a service, so the window can let pending events run.
    std::function<void()> keepResponsive;
};

enum class Outcome {
    Replaced,     // the target holds the new content
    Staged,       // in use: the new content waits in the unpack folder, the batch file has it
    Skipped,      // in use, but its path cannot go into the batch file; reported
    ServiceStuck, // the service's file could not be moved away; the install has to stop
};

struct FileResult {
    Outcome outcome = Outcome::Replaced;
    qint64 bytes = 0; // the new content's size
};

// Installs one file. Errors of the archive or the target raise std::runtime_error; the old
// file then stays where it was. A service that was running is started again whatever the
// outcome, also after ServiceStuck.
FileResult InstallFile(const FileJob& job, Context& context);

// Puts back an old file that an interrupted install of an earlier version left as
// "<name>.iupalt" while the target is missing (removes it when the target is there, giving a
// regular target the old file's permission bits first), and
// removes temporary files an interrupted unpack left beside the target. Logs what it restored.
void RecoverTarget(const QString& target, const LogLine& log);
// The same for every "*.iupalt" in the folder.
void RecoverFolder(const QString& folder, const LogLine& log);
// A regular file, or a link to one; false for anything else (pipes, devices, folders) and for
// nothing at all.
bool IsRegularFile(const QString& path);

// Sets the file's last-write date from the offered date text. Logs "Konnte Zeit für ... nicht
// setzen" for a date that cannot be read; a file that cannot be opened keeps its date quietly.
void SetOfferedDate(const QString& path, const QString& dateText, const LogLine& log);

// The most bytes a file of the given size (KB; -1: none given) may unpack to: a generous
// multiple of that size, so a small archive cannot fill the disk, and never beyond the cap.
qint64 UnpackLimit(qint64 declaredKB);

// Bytes as whole KB, rounded up.
qint64 KiloBytes(qint64 bytes);

QString CompletionMessage(int files);

inline const QString RebootQuestion = QStringLiteral(
    "Das Update kann nur nach einem Neustart beendet werden.\r\nSoll der Rechner jetzt neu "
    "gestartet werden?");
inline const QString RebootFailed = QStringLiteral(
    "Windows konnte nicht automatisch beendet werden, bitte starten Sie \r\nden Rechner neu.");
inline const QString RegistryWarning = QStringLiteral(
    "Das Update konnte nicht vollständig ausgeführt werden, ein Resgistry \r\nEintrag für das "
    "beenden der Installation konnte leider nicht gestzt \r\nwerden, nach einem Neustart muß "
    "die Datei Update.bat auf dem Desktop\r\ndurch Doppelklick ausgeführt werden, danach kann "
    "sie gelöscht werden");

} // namespace Install
