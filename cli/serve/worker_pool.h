// Frames for the web server: a frame request's query turned into render's
// own command line and resolved by render's own code, and the worker
// processes that render them.
//
// Renders run in worker processes, not threads: the effect keeps process-wide
// state (its wiggle noise table is rewritten by every render that wiggles)
// and the stand-in host's handle store is one per process, so two renders at
// once need two processes. Each worker keeps the sessions it loaded, so that
// scrubbing one drawing with one set of options does not load the effect
// again; the least recently used go first when their count or their images
// would take more than the worker's share of the memory budget.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cli/render/command_line.h"

namespace pennaro_cli {

// A drawing the server was started with, as it is now (edits from the page
// replace the block and count up the revision).
struct ServedDrawing {
    std::string name;  // the file name it was read from
    RenderDrawing drawing;
    uint64_t revision = 0;
};

// Frames wider or taller than this, or with more pixels than
// SERVE_MAX_PIXELS, are refused: one request must not take the machine.
inline constexpr int32_t SERVE_MAX_EXTENT = 16384;
inline constexpr int64_t SERVE_MAX_PIXELS = int64_t(8192) * 8192;

// The query of a frame request, in order. `drawing`, `frame` and `png`
// (compact, the default: render's very file; or fast) are taken out; `pref.<key>` values become the preferences; every other name is a
// render long option without its dashes.
using Query = std::vector<std::pair<std::string, std::string>>;

struct FrameRequest {
    size_t drawing = 0;
    std::vector<std::string> args;  // render's command line, without DRAWING
    std::string prefsText;          // JSON, empty when no pref.<key> was given
    std::string sessionKey;         // what a kept session is found by: all but the frame
    PngEncoding encoding = PngEncoding::Compact;  // png=fast: the same pixels, sooner
};

// Refuses (UsageError, with the message render would print) what render
// would refuse, and what a request may not choose: files (--layer,
// --params, --prefs), outputs and how the run is split.
FrameRequest parseFrameRequest(const Query &query, size_t drawingCount);

// The job render would run for the request, with the drawing given. The
// server's own --plugin and --layer apply. Throws UsageError / ToolError.
struct ServeSettings {
    std::string plugin;
    std::string layer;
    int threads = 1;  // per worker: the cores divided among the workers
};
RenderJob resolveFrameRequest(const FrameRequest &request, const ServedDrawing &drawing,
                              const ServeSettings &settings);

// What a worker answers.
struct FrameReply {
    enum Status : uint32_t { Png = 0, BadRequest = 1, Failed = 2 } status = Failed;
    std::string body;  // the PNG, or the message
    bool reused = false;  // the worker had the session already
};

// The pool of worker processes, each started as `pennaro serve --worker`
// from this very executable.
class RenderPool {
public:
    RenderPool(int workers, ServeSettings settings, std::chrono::seconds renderLimit);
    ~RenderPool();
    RenderPool(const RenderPool &) = delete;
    RenderPool &operator=(const RenderPool &) = delete;

    // Renders on an idle worker, preferring one that rendered the same
    // session last; waits while all are busy. A worker that dies or takes
    // longer than the limit is replaced and the request answers Failed.
    FrameReply render(const FrameRequest &request, const ServedDrawing &drawing, int32_t frame);

    // For tests and the status line: how many sessions were loaded, in all
    // workers together, and how many renders found theirs kept.
    uint64_t sessionsLoaded() const;
    uint64_t sessionsReused() const;

private:
    struct Worker;
    Worker &acquire(const std::string &key);
    void release(Worker &worker);
    void start(Worker &worker);
    void stop(Worker &worker);

    ServeSettings settings_;
    std::chrono::seconds renderLimit_;
    std::vector<std::unique_ptr<Worker>> workers_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    uint64_t loaded_ = 0, reused_ = 0;
};

// The body of `pennaro serve --worker FD`: answers requests on FD until it
// is closed. `sessionBudget` bounds what the kept sessions' images take.
int runServeWorker(int fd, const ServeSettings &settings, uint64_t sessionBudget);

}  // namespace pennaro_cli
