// The effect's own threads: one pool per process, for the hosts that ask
// for it. A host that does not ask gets no thread at all: nothing here
// starts one until an owner enlists.
//
// Owners are the effect's global records (one per global set-up that asked):
// the pool starts when the first enlists, grows to the largest count asked,
// waits idle between commands, and is joined when the last is dismissed.
#pragma once

#include <cstdint>

namespace pennaro::workers {

// Most threads one owner may ask for.
inline constexpr int32_t MAX_THREADS = 256;

// Records that `owner` asked for `threads` threads (clamped to
// 1..MAX_THREADS) and starts the pool's threads it lacks. One thread asks
// for none: the owner's commands then run on their own thread.
void enlist(const void *owner, int32_t threads);

// Forgets `owner`; the last owner's dismissal joins every thread.
void dismiss(const void *owner);

// The threads `owner` asked for; 0 when it never asked.
int32_t threadsFor(const void *owner);

// Threads the pool holds now (0 before any owner asked, and after the last
// was dismissed).
int32_t poolSize();

// A piece of work the pool's threads share: each calls work(context) once
// and returns when it has nothing more to do.
using Work = void (*)(void *context);

// Hands `work` to `threads` of the pool's threads (at most the pool's size)
// and returns at once; join() waits until every one of them has returned.
// False when the pool is busy with another command or too small: the caller
// then does the work its own way. Between a successful start() and its
// join() the caller must not start again.
class Crew {
public:
    Crew() = default;
    ~Crew() { join(); }
    Crew(const Crew &) = delete;
    Crew &operator=(const Crew &) = delete;

    bool start(int32_t threads, Work work, void *context);
    void join();

private:
    void *pool_ = nullptr;  // the pool running this crew's work
};

}  // namespace pennaro::workers
