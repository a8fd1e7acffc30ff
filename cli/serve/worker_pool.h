// The worker processes that render the server's frames.
//
// Renders run in worker processes, not threads: the effect keeps process-wide
// state (its wiggle noise table is rewritten by every render that wiggles)
// and the stand-in host's handle store is one per process, so two renders at
// once need two processes. Each worker keeps the sessions it loaded, so that
// scrubbing one drawing with one set of options does not load the effect
// again; the least recently used go first when their count or their images
// would take more than the worker's share of the memory budget. A worker
// keeps the drawings it was sent, by revision, so a drawing crosses to it
// once, and again only after an edit.
//
// A worker that dies is reaped and replaced at once by the pool's own
// thread; a worker whose server is gone exits (the kernel signals it when
// its parent dies, and its socket closes).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/serve/frame_request.h"

namespace pennaro_cli {

// What a frame request gets.
struct FrameReply {
    enum Status { Png, BadRequest, Failed, Busy, Superseded } status = Failed;
    std::string body;     // the PNG, or the message
    bool reused = false;  // the worker had the session already
};

// Who asks: renders waiting for a worker are counted per `client` (the
// page, or the connection) and bounded; a newer request with the same
// non-empty `view` (one picture of one page) replaces a waiting one.
struct RenderTicket {
    std::string client;
    std::string view;
};

class RenderPool {
public:
    // Renders a client may have waiting for a worker; more answer Busy.
    static constexpr size_t MAX_WAITING_PER_CLIENT = 4;

    RenderPool(int workers, ServeSettings settings, std::chrono::seconds renderLimit);
    ~RenderPool();
    RenderPool(const RenderPool &) = delete;
    RenderPool &operator=(const RenderPool &) = delete;

    // Renders on an idle worker, preferring one that rendered the same
    // session last; waits while all are busy. A worker that dies or takes
    // longer than the limit is replaced and the request answers Failed
    // (once retried when the worker was found gone before it started).
    FrameReply render(const FrameRequest &request, const RenderTicket &ticket);

    // Ends every wait and every render at once; the server is stopping.
    void shutdown();

    // For tests and the status line: sessions loaded and sessions found
    // kept, in all workers together; drawing bytes sent to workers;
    // workers replaced.
    struct Counters {
        uint64_t sessionsLoaded = 0, sessionsReused = 0, drawingBytesSent = 0, workersReplaced = 0;
    };
    Counters counters() const;
    std::vector<int> workerPids() const;

private:
    struct Worker;
    struct Waiter;
    Worker *acquire(const std::string &key, const RenderTicket &ticket, FrameReply &refusal);
    void release(Worker &worker, bool failed);
    void start(Worker &worker);
    void reap(Worker &worker);
    void watch();

    ServeSettings settings_;
    std::chrono::seconds renderLimit_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::list<Waiter *> waiting_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    Counters counters_;
    bool stopping_ = false;
    int wake_[2] = {-1, -1};  // wakes the watching thread
    std::thread watcher_;
};

// The body of `pennaro serve --worker FD`: answers requests on FD until it
// is closed. `sessionBudget` bounds what the kept sessions' images take,
// `layerBudget` the layer frames kept decoded for them.
int runServeWorker(int fd, uint64_t sessionBudget, uint64_t layerBudget);

}  // namespace pennaro_cli
