#include "Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

namespace {
std::function<bool(const QString&)> openHandler;
std::function<bool(const QString&, const QStringList&, const QString&)> startHandler;

// "mailto:", "http:", ... but not a drive letter such as "C:".
bool hasScheme(const QString& target) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(target).hasMatch();
}
} // namespace

namespace Shell {

bool Open(const QString& target) {
    if (openHandler) return openHandler(target);
    if (target.isEmpty()) return false;
    const QUrl url = hasScheme(target)
                         ? QUrl(target, QUrl::TolerantMode)
                         : QUrl::fromUserInput(target, QDir::currentPath(), QUrl::AssumeLocalFile);
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool Start(const QString& program, const QStringList& args, const QString& workDir) {
    if (startHandler) return startHandler(program, args, workDir);
    return QProcess::startDetached(program, args, workDir);
}

void SetOpenHandler(std::function<bool(const QString&)> h) {
    openHandler = std::move(h);
}

void SetStartHandler(std::function<bool(const QString&, const QStringList&, const QString&)> h) {
    startHandler = std::move(h);
}

} // namespace Shell
