#include "Priority.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Also run by hand as an ordinary user: the thread must end where it began, lowered or not.
TEST(PriorityTest, IdleDuringTheWorkAndNothingSticksAfterIt) {
    const int before = ::getpriority(PRIO_PROCESS, 0);
    Priority::SetIdle();
    EXPECT_TRUE(Priority::IsIdle());
    if (::geteuid() == 0) {
        EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), 19);
    }
    Priority::SetIdle(); // a second call must not forget the priority to return to
    Priority::SetNormal();
    EXPECT_FALSE(Priority::IsIdle());
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), before);
}

} // namespace
