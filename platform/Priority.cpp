#include "Priority.h"

#include <cerrno>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {
using Priority::IdleNice;
bool idle = false;
bool lowered = false;
pid_t loweredThread = 0;
int savedNice = 0;

int niceOf(pid_t thread) {
    errno = 0;
    const int n = ::getpriority(PRIO_PROCESS, id_t(thread));
    return errno == 0 ? n : 0;
}

// Tried once on a thread of its own, which inherits the caller's priority and ends with the
// answer: whether a thread lowered to the idle level may return to where it was.
bool CanReturn() {
    static const bool can = [] {
        bool ok = false;
        std::thread probe([&ok] {
            const pid_t self = ::gettid();
            const int before = niceOf(self);
            if (::setpriority(PRIO_PROCESS, id_t(self), IdleNice) != 0) return;
            ok = ::setpriority(PRIO_PROCESS, id_t(self), before) == 0;
        });
        probe.join();
        return ok;
    }();
    return can;
}
} // namespace

namespace Priority {

void SetIdle() {
    if (idle) return;
    idle = true;
    loweredThread = ::gettid();
    savedNice = niceOf(loweredThread);
    lowered = CanReturn() && ::setpriority(PRIO_PROCESS, id_t(loweredThread), IdleNice) == 0;
}

void SetNormal() {
    if (!idle) return;
    idle = false;
    if (lowered) ::setpriority(PRIO_PROCESS, id_t(loweredThread), savedNice);
    lowered = false;
}

bool IsIdle() {
    return idle;
}

} // namespace Priority
