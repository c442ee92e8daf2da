#include "WorkPool.h"

#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

TWorkPool::TWorkPool(int threads) {
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, 0);
    nice_ = errno == 0 ? current : 0;
    for (int i = 0; i < (threads < 1 ? 1 : threads); ++i)
        threads_.emplace_back([this] { loop(); });
}

TWorkPool::~TWorkPool() {
    {
        std::lock_guard lock(m_);
        stop_ = true;
        queue_.clear();
    }
    cv_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

int TWorkPool::CoreCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? int(n) : 1;
}

std::future<void> TWorkPool::Post(std::function<void()> work) {
    std::future<void> done = Stage(std::move(work));
    Flush();
    return done;
}

std::future<void> TWorkPool::Stage(std::function<void()> work) {
    std::packaged_task<void()> task(std::move(work));
    std::future<void> done = task.get_future();
    staged_.push_back(std::move(task));
    return done;
}

void TWorkPool::Flush() {
    if (staged_.empty()) return;
    const int count = int(staged_.size());
    int idle = 0;
    {
        std::lock_guard lock(m_);
        for (auto& task : staged_)
            queue_.push_back(std::move(task));
        idle = idle_;
    }
    staged_.clear();
    // A busy worker looks at the queue before it waits again.
    if (idle == 0) return;
    if (count >= idle) {
        cv_.notify_all();
        return;
    }
    for (int i = 0; i < count; ++i)
        cv_.notify_one();
}

void TWorkPool::loop() {
    const pid_t self = pid_t(::syscall(SYS_gettid));
    int applied = ::getpriority(PRIO_PROCESS, id_t(self));
    for (;;) {
        std::packaged_task<void()> task;
        {
            std::unique_lock lock(m_);
            ++idle_;
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            --idle_;
            if (stop_) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        const int wanted = nice_;
        if (wanted != applied) {
            // Raising the priority again may be refused; the worker then stays niced.
            ::setpriority(PRIO_PROCESS, id_t(self), wanted);
            applied = wanted;
        }
        task();
    }
}
