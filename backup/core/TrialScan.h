#pragma once
// The filter dialog's trial scan: a bounded walk through an action's source folder, and the
// split of the files it found by a filter, with their counts and megabyte sums.
#include <QList>
#include <QString>
#include <functional>

#include "Filter.h"

// One file found by a trial scan.
struct TrialFile {
    QString Name;   // bare name, as the filter sees it
    QString MbText; // size in megabytes with one decimal ("0,0", "1.234,5")
    QString Folder; // relative to the scanned folder, with a trailing separator; "" at its top
    QString Path;   // full path
};

// Size in bytes as tenths of a megabyte, rounded to the nearest tenth.
qint64 MegabyteTenths(qint64 bytes);
// Tenths of a megabyte in the fixed number format with one decimal ("1.234,5").
QString FormatTenths(qint64 tenths);
// A megabyte text as shown back in tenths: thousands separators dropped, "," as decimal
// separator. Unreadable text counts as 0.
qint64 ParseTenths(const QString& mbText);
// The summary under a result list, for example "1.234 Dateien, 56,7 MB".
QString TrialSummary(qint64 count, qint64 tenths);

// Walks a folder depth first and counts every directory entry it visits until Limit entries
// are counted; from then on every level stops. Each folder's "." and ".." count as well, as a
// listing on other systems returns them, so a folder of 600 files yields 498 under the limit
// 500. Folders are entered at once; links to folders, sockets, pipes and devices count but are
// neither entered nor listed, as the backup run leaves them out. A folder that cannot be
// listed adds nothing.
class TrialScan {
public:
    int Limit = 500;
    int Count = 0; // entries visited by the present scan

    // Called once for every folder before its entries are visited; returning false stops the
    // scan (the dialog lets window messages run here and stops when a newer scan began).
    std::function<bool()> OnFolder;
    std::function<void(const TrialFile&)> OnFile;

    // Scans root (with or without a trailing separator). Returns false when OnFolder stopped it.
    bool Run(const QString& root);

private:
    bool scanFolder(const QString& folder);
    QString root_;
    bool stopped_ = false;
};

// The files of a trial scan split by a filter, as the two result lists show them.
struct TrialSplit {
    QList<int> Kept, LeftOut; // indexes into the scanned files, in order
    qint64 KeptTenths = 0, LeftOutTenths = 0;
};
// The sums add the one-decimal values shown per file, so a list adds up as the user reads it.
TrialSplit SplitTrial(const FileFilter& filter, const QList<TrialFile>& files);
