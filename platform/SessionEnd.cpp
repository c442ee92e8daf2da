#include "SessionEnd.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
std::function<void()>& handler() {
    static std::function<void()> h;
    return h;
}

void onSignal(int) {
    const int savedErrno = errno;
    const char c = 1;
    // Only async-signal-safe work here: the event loop picks the byte up. The write end does
    // not block, so a full buffer (signals already waiting) cannot stall the program.
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[0], &c, 1);
    errno = savedErrno;
}

void install() {
    if (pipeFds[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeFds) != 0) return;
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
    // Owned by the application, so it goes with it.
    auto* notifier =
        new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buf[16];
        [[maybe_unused]] const ssize_t n = ::read(pipeFds[1], buf, sizeof buf);
        if (handler()) handler()();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
}

} // namespace

namespace SessionEnd {

void SetHandler(std::function<void()> h) {
    install();
    handler() = std::move(h);
}

} // namespace SessionEnd
