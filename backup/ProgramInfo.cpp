#include "ProgramInfo.h"

#include <QCoreApplication>
#include <archive.h>
#include <zip.h>

#include "FileVersion.h"

#ifndef ZV_PROGRAM_VERSION
#error "the build passes the program version"
#endif

QString ProgramVersion() {
    // The program file's own marker is what the updater compares; a binary without one (a test
    // runner) reports the version it was built as.
    const QString marked =
        FileVersion::GetFileVersionString(QCoreApplication::applicationFilePath());
    return marked == QStringLiteral("ohne") ? QStringLiteral(ZV_PROGRAM_VERSION) : marked;
}

namespace ProgramInfo {

QString MakerCaption() {
    return QStringLiteral("example.com");
}

QString MakerHomePage() {
    return QStringLiteral("https://www.example.com/");
}

QString SupportMail() {
    return QStringLiteral("mailto:support@example.org");
}

QString SupportMailWithSubject() {
    return SupportMail() + QStringLiteral("?Subject=Support für KELVO-Zorvane2");
}

QString ZipLibrariesText() {
    // libarchive names itself in its version string ("libarchive 3.6.2").
    return QStringLiteral("Enthält/Uses %1 (Schreiben/writing) und/and libzip %2 (Lesen/reading)")
        .arg(QString::fromUtf8(archive_version_string()), QString::fromUtf8(zip_libzip_version()));
}

QString WriterLibraryPage() {
    return QStringLiteral("https://www.libarchive.org/");
}

QString ReaderLibraryPage() {
    return QStringLiteral("https://libzip.org/");
}

} // namespace ProgramInfo
