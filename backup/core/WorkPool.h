#pragma once
// A fixed set of worker threads for pure work (compressing, key derivation): the caller posts
// tasks and waits on their futures in its own order. Tasks must not touch callbacks, windows or
// anything else of the caller's thread.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

class TWorkPool {
public:
    explicit TWorkPool(int threads);
    // Tasks not yet begun are dropped; running ones are waited for.
    ~TWorkPool();
    TWorkPool(const TWorkPool&) = delete;
    TWorkPool& operator=(const TWorkPool&) = delete;

    // Hands the task, and any kept back, to the workers; like Stage, for the owning thread.
    std::future<void> Post(std::function<void()> work);
    // Keeps a task back until the next Flush or Post, which hand all kept tasks to the workers
    // under one lock and with one wake-up: a caller with many small tasks then meets the
    // workers at the lock once per batch instead of once per task. Only the thread that owns
    // the pool may keep tasks back.
    std::future<void> Stage(std::function<void()> work);
    void Flush();
    int Staged() const { return int(staged_.size()); }
    int Threads() const { return int(threads_.size()); }
    // Workers take on this scheduling priority (nice value) before their next task, so the
    // caller's idle priority during a run reaches them too.
    void SetNice(int nice) { nice_ = nice; }

    // Cores this process may run on.
    static int CoreCount();

private:
    void loop();

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::packaged_task<void()>> queue_;
    std::vector<std::packaged_task<void()>> staged_; // the owner's thread only
    int idle_ = 0; // workers waiting for a task; only they need waking
    bool stop_ = false;
    std::atomic<int> nice_{0};
    std::vector<std::thread> threads_;
};
