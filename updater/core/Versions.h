#pragma once
// Version numbers of files as the update server offers them and as this machine has them.
#include <QDateTime>
#include <QString>
#include <QtGlobal>

struct VersionRecord {
    qint32 major = 0;
    qint32 minor = 0;
    qint32 release = 0;
    qint32 build = -1;
    bool operator==(const VersionRecord&) const = default;
};

// "1.2.3.4" -> (1, 2, 3, 4). Reading stops at the first part that is no number or has no "."
// after it (the build needs none); that part and all later ones keep their defaults.
VersionRecord ParseVersion(const QString& text);
// a is not older than b: fields compared in order, the first difference decides.
bool VersionNotOlder(const VersionRecord& a, const VersionRecord& b);
// The local file is up to date when its version and its date are both no older.
bool IsUpToDate(const QString& localVersion, const QString& offeredVersion,
                const QDateTime& localDate, const QDateTime& offeredDate);
