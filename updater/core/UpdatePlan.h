#pragma once
// The plan of an update: the modules and files the information file offers for this system,
// each file with its folder here, what lies there now, whether it was preselected and whether
// it is checked, and the archives the checked files need. BuildPlan makes it from the
// information file and the local files; the window's lists show it and hand every click back
// to it; the transfer and the install walk it. These rules always hold:
// - an archive's count is the number of checked files of counted modules that name it;
// - the download total holds each archive with a count above 0 once, with the size of the file
//   that brought it in (and takes off that same size when the archive leaves);
// - a module's size sum is the sum of its checked files' sizes.
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>

class DestinationDecoder;
class InfoFileReader;

struct PlanFile {
    // ---- as the information file gives it ----
    QString name;
    QString version;
    QString date; // the offered date as text
    QString archive;
    QString sizeText; // KB as text, may be empty
    QString marker;   // "-" keeps the file from being preselected
    QString service;  // empty: none
    // ---- here ----
    QString folder;      // the destination decoded; ends in the separator
    bool exists = false; // a regular file lies at the target
    QString versionHere = QStringLiteral("ohne");
    QDateTime dateHere; // invalid when missing
    // ---- the choice ----
    qint64 size = 1; // KB
    bool checked = false;
    bool remembered = false;  // the check mark last counted
    bool preselected = false; // what the parse chose, leaving "Alles Neu" aside

    QString Target() const { return folder + name; }
    // The size the list gives, in KB; -1 when it gives none.
    qint64 DeclaredKB() const { return sizeText.isEmpty() ? -1 : size; }
};

struct PlanArchive {
    QString name;
    int count = 0;      // checked files of counted modules naming it
    qint64 inTotal = 0; // the KB it adds to the download total while its count is above 0
};

struct PlanModule {
    QString name, text, description, history;
    bool checked = false;
    bool remembered = false; // the check mark last counted into the archives
    qint64 sizeSum = 0;      // KB of its checked files
    bool hasFiles = false;   // the information file announced files for it
    QList<PlanFile> files;
};

struct FileChoice {
    bool preselected = false; // missing or older here, and not held back by its marker
    bool checked = false;     // preselected, or any file meant for here with "Alles Neu"
};

// The preselection of one file. A file not meant for this system is never chosen. Raises
// InfoFileError when the offered date of a file present here cannot be read.
FileChoice ChooseFile(const PlanFile& file, bool appliesHere, bool allesNeu);

class UpdatePlan {
public:
    void Clear();

    // ---- filled by BuildPlan ----
    int AddModule(PlanModule module);
    // Archives are listed in order of first appearance, each once (names compared exactly).
    void AddArchive(const QString& name);
    // A file as the parse chose it; its check mark counts as already reported.
    void AddFile(int module, PlanFile file);
    // The module's files are read: it is chosen when its checked files have a size.
    void EndModule(int module);

    // ---- the user's changes: the new check mark, then what follows from it ----
    void SetModuleChecked(int module, bool checked);
    void SetFileChecked(int module, int file, bool checked);
    // On: every file chosen. Off: back to what the last parse chose without the box.
    void SetAllesNeu(bool on);

    const QList<PlanModule>& Modules() const { return modules_; }
    const QList<PlanArchive>& ArchiveList() const { return archives_; }
    int ArchiveCount(const QString& name) const;
    qint64 DownloadTotal() const { return total_; }
    int CheckedFileCount() const;
    // Raises std::runtime_error "Archiv NAME in FileList nicht gefunden" for an unknown archive.
    void RequireArchive(const QString& name) const;

    // Calls enter for each checked module and visit for each of its checked files, in list
    // order. The marks are read as the walk goes, since visit may let the user change them.
    // False when visit stopped the walk.
    bool ForCheckedFiles(const std::function<void(int module)>& enter,
                         const std::function<bool(int module, int file)>& visit) const;

    // The module's size column: its sum in KB, empty for a module without files.
    QString ModuleSizeText(int module) const;
    QString TotalText() const;

    // Where BuildPlan stopped for the updater's own file: module and file, or -1.
    int selfUpdateModule = -1;
    int selfUpdateFile = -1;

private:
    int archiveIndex(const QString& name) const;
    // The module's check mark became its counted state: its checked files are (un)counted.
    void moduleClick(int module);
    void count(const PlanFile& file, bool adding);

    QList<PlanModule> modules_;
    QList<PlanArchive> archives_;
    qint64 total_ = 0;
};

struct PlanSources {
    DestinationDecoder* ziel = nullptr; // set up for this system
    bool allesNeu = false;
    std::function<void(const QString&)> log;
    // After each module and file taken into the plan, so it can be shown as it is read.
    std::function<void()> added;
};

// Reads every module and file from the reader into the cleared plan: files not meant for this
// system are left out (their archives are still listed), a target an interrupted install left
// aside is repaired first, and each file is chosen by ChooseFile. Stops after the updater's own
// file when it is checked (selfUpdateModule/-File). On an error the plan keeps what was read
// before the failing file, and the error is raised.
void BuildPlan(UpdatePlan& plan, InfoFileReader& reader, const PlanSources& sources);

// A number of KB as the window shows it: "." between groups of three digits, then " KB".
QString FormatKB(qint64 kb);
