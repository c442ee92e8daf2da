#include "Priority.h"

#include <cerrno>
#include <sys/resource.h>

namespace {
constexpr int IdleNice = 19;
bool idle = false;
int savedNice = 0;
} // namespace

namespace Priority {

void SetIdle() {
    if (!idle) {
        errno = 0;
        const int current = ::getpriority(PRIO_PROCESS, 0);
        savedNice = errno == 0 ? current : 0;
    }
    idle = true;
    ::setpriority(PRIO_PROCESS, 0, IdleNice);
}

// Raising the priority again needs a privilege ordinary users lack; then the process simply
// stays niced, which costs only speed.
void SetNormal() {
    if (!idle) return;
    idle = false;
    ::setpriority(PRIO_PROCESS, 0, savedNice);
}

bool IsIdle() {
    return idle;
}

} // namespace Priority
