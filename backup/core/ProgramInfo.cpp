#include "ProgramInfo.h"

#include <QCoreApplication>
#include <nettle/version.h>
#include <zip.h>
#include <zlib.h>

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
    // The archives are written by our own writer on zlib (deflate) and Nettle (encryption).
    return QStringLiteral("Enthält/Uses zlib %1 und/and Nettle %2.%3 (Schreiben/writing), libzip "
                          "%4 (Lesen/reading)")
        .arg(QString::fromLatin1(zlibVersion()))
        .arg(nettle_version_major())
        .arg(nettle_version_minor())
        .arg(QString::fromUtf8(zip_libzip_version()));
}

QString WriterLibraryPage() {
    return QStringLiteral("https://zlib.net/");
}

QString ReaderLibraryPage() {
    return QStringLiteral("https://libzip.org/");
}

} // namespace ProgramInfo
