// Backs up a folder through the archive component in its pipelined mode (what the run does
// once it feeds files with Submit) and prints wall time and peak memory.
// Usage: zv_zipbench SOURCE TARGET.Zip [PASSWORD] [THREADS] [IN_FLIGHT]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>
#include <sys/resource.h>

#include "ZipComponent.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: zv_zipbench SOURCE TARGET.Zip [PASSWORD] [THREADS] [IN_FLIGHT]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("ZV_NO_NICE")) setpriority(PRIO_PROCESS, 0, 19); // as the run
    const QString source = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + u'/';
    TZipComponent zip;
    zip.ZipFileName = QString::fromLocal8Bit(argv[2]);
    zip.BaseFolder = source;
    zip.AddOptions = TZipComponent::AddDirNames;
    if (argc > 3 && argv[3][0] != '\0') {
        zip.Password = QString::fromLocal8Bit(argv[3]);
        zip.AddOptions |= TZipComponent::AddEncrypt;
    }
    if (argc > 4) zip.Threads = std::atoi(argv[4]);
    if (argc > 5) zip.MaxInFlight = std::atoi(argv[5]);
    qint64 added = 0, reports = 0;
    zip.OnProgress = [&](const TZMProgressDetails&) { ++reports; };
    zip.OnMessage = [](TZMMessageKind, const QString& m) {
        std::fprintf(stderr, "%s\n", qPrintable(m));
    };
    zip.OnFileDone = [&](const QString&, TZipFileOutcome o) {
        if (o == TZipFileOutcome::Added) ++added;
    };
    QElapsedTimer t;
    t.start();
    // Depth first in the order the file system lists the entries, as the run walks.
    std::function<void(const QString&)> walk = [&](const QString& folder) {
        const QDir dir(folder);
        const auto filters = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        for (const QFileInfo& fi : dir.entryInfoList(filters, QDir::Unsorted)) {
            if (fi.isDir())
                walk(fi.absoluteFilePath() + u'/');
            else
                zip.Submit(fi.absoluteFilePath());
        }
    };
    walk(source);
    zip.Drain();
    zip.Commit();
    const qint64 ms = t.elapsed();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("zv_zipbench: %lld files, %lld ms, peak RSS %ld KiB, archive %lld bytes\n",
                static_cast<long long>(added), static_cast<long long>(ms), ru.ru_maxrss,
                static_cast<long long>(zip.ZipFileSize()));
    return 0;
}
