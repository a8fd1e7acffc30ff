// The pool: threads that sleep on one condition variable until a command
// hands them work, run it, and sleep again. One command at a time owns the
// pool; another command arriving meanwhile (a host rendering on several
// threads of its own) is told so and paints on its own thread.
#include "render/workers.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace pennaro::workers {
namespace {

class Pool {
public:
    void enlist(const void *owner, int32_t threads) {
        std::lock_guard<std::mutex> guard(mutex_);
        owners_[owner] = std::clamp(threads, 1, MAX_THREADS);
        int32_t wanted = 0;
        for (const auto &[key, count] : owners_) wanted = std::max(wanted, count);
        // One thread asked for is the command's own: no pool thread.
        if (wanted < 2) return;
        while (static_cast<int32_t>(threads_.size()) < wanted) {
            const int32_t index = static_cast<int32_t>(threads_.size());
            // The thread starts from the current generation: work handed out
            // before it first takes the lock is still its to run.
            threads_.emplace_back([this, index, seen = generation_] { loop(index, seen); });
        }
    }

    void dismiss(const void *owner) {
        std::vector<std::thread> ending;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            owners_.erase(owner);
            if (!owners_.empty() || threads_.empty()) return;
            // No command can be running once the last owner is gone, but a
            // crew left running would be waited for.
            idle_.wait(lock, [this] { return !busy_; });
            stopping_ = true;
            ending.swap(threads_);
        }
        wake_.notify_all();
        for (std::thread &t : ending) t.join();
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = false;
    }

    int32_t threadsFor(const void *owner) {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = owners_.find(owner);
        return it == owners_.end() ? 0 : it->second;
    }

    int32_t size() {
        std::lock_guard<std::mutex> guard(mutex_);
        return static_cast<int32_t>(threads_.size());
    }

    bool start(int32_t threads, Work work, void *context) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (busy_ || stopping_ || threads < 1 || threads > static_cast<int32_t>(threads_.size())) return false;
            busy_ = true;
            work_ = work;
            context_ = context;
            crew_ = threads;
            running_ = threads;
            ++generation_;
        }
        wake_.notify_all();
        return true;
    }

    void join() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return running_ == 0; });
        busy_ = false;
        work_ = nullptr;
        context_ = nullptr;
        idle_.notify_all();
    }

private:
    void loop(int32_t index, uint64_t seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            if (index >= crew_) continue;
            const Work work = work_;
            void *context = context_;
            lock.unlock();
            work(context);
            lock.lock();
            if (--running_ == 0) idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;  // the pool's threads: work or stop
    std::condition_variable idle_;  // the command: its crew is done
    std::map<const void *, int32_t> owners_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
    bool busy_ = false;
    Work work_ = nullptr;
    void *context_ = nullptr;
    int32_t crew_ = 0;
    int32_t running_ = 0;
    uint64_t generation_ = 0;

public:
    size_t ownerCount() {
        std::lock_guard<std::mutex> guard(mutex_);
        return owners_.size();
    }

};

// The pool exists only while some owner is enlisted: a host that never asks
// makes none, and the last dismissal deletes it once its threads are
// joined, so a library loaded and unloaded many times leaves nothing behind.
// A host that unloads without global set-down leaves it to the process.
std::mutex registry;
Pool *instance = nullptr;

}  // namespace

void enlist(const void *owner, int32_t threads) {
    std::lock_guard<std::mutex> guard(registry);
    if (!instance) instance = new Pool;
    instance->enlist(owner, threads);
}

void dismiss(const void *owner) {
    std::lock_guard<std::mutex> guard(registry);
    if (!instance) return;
    instance->dismiss(owner);
    if (instance->ownerCount() == 0) {
        delete instance;
        instance = nullptr;
    }
}

int32_t threadsFor(const void *owner) {
    std::lock_guard<std::mutex> guard(registry);
    return instance ? instance->threadsFor(owner) : 0;
}

int32_t poolSize() {
    std::lock_guard<std::mutex> guard(registry);
    return instance ? instance->size() : 0;
}

bool Crew::start(int32_t threads, Work work, void *context) {
    if (pool_) return false;
    std::lock_guard<std::mutex> guard(registry);
    if (instance && instance->start(threads, work, context)) pool_ = instance;
    return pool_ != nullptr;
}

void Crew::join() {
    if (!pool_) return;
    // The pool outlives the crew: the last owner's dismissal waits for it.
    static_cast<Pool *>(pool_)->join();
    pool_ = nullptr;
}

}  // namespace pennaro::workers
