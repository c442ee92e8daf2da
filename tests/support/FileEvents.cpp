#include "FileEvents.h"

#include <QFile>
#include <QFileInfo>
#include <sys/inotify.h>
#include <unistd.h>

ReplacementCounter::ReplacementCounter(const QString& file) : name_(QFileInfo(file).fileName()) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    if (fd_ >= 0) ::inotify_add_watch(fd_, folder.constData(), IN_MOVED_TO);
}

ReplacementCounter::~ReplacementCounter() {
    if (fd_ >= 0) ::close(fd_);
}

int ReplacementCounter::Take() {
    int count = 0;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + off);
            if (e->len > 0 && QFile::decodeName(e->name) == name_) ++count;
            off += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
    return count;
}
