#include "TrialScan.h"

#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>

#include "ShellFolders.h"
#include "TextFormats.h"

qint64 MegabyteTenths(qint64 bytes) {
    constexpr qint64 Mb = 1024 * 1024;
    if (bytes <= 0) return 0;
    // Split before multiplying so the largest sizes cannot overflow.
    return bytes / Mb * 10 + (bytes % Mb * 10 + Mb / 2) / Mb;
}

QString FormatTenths(qint64 tenths) {
    const bool negative = tenths < 0;
    const quint64 mag = negative ? quint64(0) - quint64(tenths) : quint64(tenths);
    QString out = FormatInt64(0, qint64(mag / 10)) + TextFormats::DecimalSeparator +
                  QString::number(mag % 10);
    if (negative) out.prepend(u'-');
    return out;
}

qint64 ParseTenths(const QString& mbText) {
    QString t = mbText;
    t.remove(TextFormats::ThousandSeparator);
    const auto v = TextFormats::ParseFloat(t);
    return v ? qint64(*v * 10 + (*v < 0 ? -0.5 : 0.5)) : 0;
}

QString TrialSummary(qint64 count, qint64 tenths) {
    return FormatInt64(0, count) + QStringLiteral(" Dateien, ") + FormatTenths(tenths) +
           QStringLiteral(" MB");
}

bool TrialScan::Run(const QString& root) {
    Count = 0;
    stopped_ = false;
    root_ = ShellFolders::IncludeTrailingPathDelimiter(root);
    scanFolder(root_);
    return !stopped_;
}

bool TrialScan::scanFolder(const QString& folder) {
    if (OnFolder && !OnFolder()) {
        stopped_ = true;
        return false;
    }
    if (!QFileInfo(folder).isDir()) return true;
    // "." and ".." come first in the listings this limit was made for.
    Count = std::min(Limit, Count + 2);
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (Count < Limit && it.hasNext()) {
        it.next();
        ++Count;
        const QFileInfo fi = it.fileInfo();
        if (fi.isSymLink() && fi.exists() && !fi.isFile()) continue; // link to a folder, ...
        if (fi.isDir()) {
            if (!scanFolder(folder + fi.fileName() + u'/')) return false;
            continue;
        }
        if (fi.exists() && !fi.isFile()) continue; // socket, pipe or device
        if (OnFile) {
            TrialFile f;
            f.Name = fi.fileName();
            f.MbText = FormatTenths(MegabyteTenths(fi.size()));
            f.Folder = folder.mid(root_.size());
            f.Path = folder + f.Name;
            OnFile(f);
        }
    }
    return true;
}

TrialSplit SplitTrial(const FileFilter& filter, const QList<TrialFile>& files) {
    TrialSplit out;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const qint64 tenths = ParseTenths(files[i].MbText);
        if (FilterAccepts(filter, files[i].Name)) {
            out.Kept.append(int(i));
            out.KeptTenths += tenths;
        } else {
            out.LeftOut.append(int(i));
            out.LeftOutTenths += tenths;
        }
    }
    return out;
}
