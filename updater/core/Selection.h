#pragma once
// What the user chose to update: the modules with their files, the check marks, the sizes, how
// many chosen files name each archive and the total that will be downloaded. The window's two
// lists show this state; their clicks, keys and the "Alles Neu" box change it only through
// here, so these rules always hold:
// - an archive's count is the number of checked files of counted modules that name it;
// - the download total holds each archive with a count above 0 once, with the size of the file
//   that brought it in (and takes off that same size when the archive leaves);
// - a module's size sum is the sum of its checked files' sizes.
#include <QList>
#include <QString>

struct SelectionFile {
    QString archive;
    qint64 size = 1; // KB
    bool checked = false;
    bool remembered = false;  // the check mark last counted
    bool preselected = false; // what the parse chose, leaving "Alles Neu" aside
};

struct SelectionArchive {
    QString name;
    int count = 0;      // checked files of counted modules naming it
    qint64 inTotal = 0; // the KB it adds to the download total while its count is above 0
};

struct SelectionModule {
    bool checked = false;
    bool remembered = false; // the check mark last counted into the archives
    qint64 sizeSum = 0;      // KB of its checked files
    bool hasFiles = false;   // the information file announced files for it
    QList<SelectionFile> files;
};

class UpdateSelection {
public:
    void Clear();

    // ---- filled by the parse ----
    int AddModule(bool hasFiles);
    // Archives are listed in order of first appearance, each once (names compared exactly).
    void AddArchive(const QString& name);
    // A file as the parse preselected it (checked), and as it would have without "Alles Neu".
    void AddFile(int module, const QString& archive, qint64 size, bool checked, bool preselected);
    // The module's files are read: it is chosen when its checked files have a size.
    void EndModule(int module);

    // ---- the user's changes: the new check mark, then what follows from it ----
    void SetModuleChecked(int module, bool checked);
    void SetFileChecked(int module, int file, bool checked);
    // On: every file chosen. Off: back to what the last parse chose without the box.
    void SetAllesNeu(bool on);

    const QList<SelectionModule>& Modules() const { return modules_; }
    const QList<SelectionArchive>& ArchiveList() const { return archives_; }
    int ArchiveCount(const QString& name) const;
    qint64 DownloadTotal() const { return total_; }
    // Raises std::runtime_error "Archiv NAME in FileList nicht gefunden" for an unknown archive.
    void RequireArchive(const QString& name) const;

    // The module's size column: its sum in KB, empty for a module without files.
    QString ModuleSizeText(int module) const;
    QString TotalText() const;

private:
    int archiveIndex(const QString& name) const;
    // The module's check mark became its counted state: its checked files are (un)counted.
    void moduleClick(int module);
    void count(const SelectionFile& file, bool adding);

    QList<SelectionModule> modules_;
    QList<SelectionArchive> archives_;
    qint64 total_ = 0;
};

// A number of KB as the window shows it: "." between groups of three digits, then " KB".
QString FormatKB(qint64 kb);
